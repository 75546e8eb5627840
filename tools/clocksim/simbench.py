#!/usr/bin/env python3
"""How fast the simulator serves a site, measured on loopback (no root needed).

  simbench.py modify [--count 1000] [--modify-latency-ms 80] [--over 1.0]
      every clock gets one modify, the modifies spread evenly over --over
      seconds; prints how long after its modify latency each answer came
  simbench.py tftp [--count 100] [--size 1048576] [--parallel 8]
      a firmware file uploaded to every clock, --parallel transfers at once,
      lock-step with 512-byte blocks; prints the time taken and blocks per second

The clocks live at 127.1.0.1 onwards, the simulator on free ports.
"""

import argparse
import hashlib
import os
import select
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "tests"))

from csim import payloads as pl  # noqa: E402
from csim.frame import build_frame  # noqa: E402
from simclient import RunningSim, TftpClient  # noqa: E402

RETRY_SECONDS = 1.0


def clock_addresses(count: int) -> list:
    return [f"127.1.{index // 250}.{index % 250 + 1}" for index in range(count)]


def cpu_seconds(pid: int) -> float:
    """User and system time of a process so far."""
    with open(f"/proc/{pid}/stat", encoding="ascii") as source:
        fields = source.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percentiles(values: list) -> str:
    ordered = sorted(values)
    pick = lambda share: ordered[min(len(ordered) - 1, int(len(ordered) * share))]  # noqa: E731
    return (f"min {ordered[0]:.1f}, median {pick(0.5):.1f}, 90% {pick(0.9):.1f}, "
            f"99% {pick(0.99):.1f}, max {ordered[-1]:.1f}")


def basic_block(ip: str) -> bytes:
    """Brightness 5, the clock's own address kept."""
    return pl.encode_basic({
        "zoneNegative": False, "zoneHours": 1, "zoneMinuteCode": 0, "hour24": True, "dynamicIp": False,
        "brightness": 5, "ipAddress": ip, "subnetMask": "255.0.0.0", "gateway": "0.0.0.0", "dnsServer": "0.0.0.0",
        "dstStartMonth": 0, "dstStartWeek": 0, "dstStartWeekday": 0, "dstStartHour": 0, "dstEndMonth": 0,
        "dstEndWeek": 0, "dstEndWeekday": 0, "dstEndHour": 0, "energyFrom": 0, "energyTo": 0, "energyClose": False,
    })


def bench_modify(options) -> int:
    addresses = clock_addresses(options.count)
    config = {"prefix": 8, "defaults": {"modifyLatencyMs": options.modify_latency_ms},
              "clocks": [{"ip": ip} for ip in addresses]}
    sim = RunningSim(config)
    try:
        frames = [build_frame(b"\x06" + basic_block(ip)) for ip in addresses]
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
            sock.bind(("127.0.0.1", 0))
            sock.setblocking(False)
            sent, answered = {}, {}
            started, cpu_before = time.monotonic(), cpu_seconds(sim.process.pid)
            deadline = started + options.over + 10
            next_index = 0
            while len(answered) < len(addresses) and time.monotonic() < deadline:
                now = time.monotonic()
                while next_index < len(addresses) and now - started >= next_index * options.over / len(addresses):
                    # Taken before sending: a client held up after sending would make the clock look early.
                    sent[addresses[next_index]] = time.monotonic()
                    sock.sendto(frames[next_index], (addresses[next_index], sim.port))
                    next_index += 1
                readable, _, _ = select.select([sock], [], [], 0.0002)
                while readable:
                    try:
                        _, source = sock.recvfrom(600)
                    except BlockingIOError:
                        break
                    answered.setdefault(source[0], time.monotonic())
        cpu = cpu_seconds(sim.process.pid) - cpu_before
        beyond = [(answered[ip] - sent[ip]) * 1000 - options.modify_latency_ms for ip in answered]
        state = sim.state()
        applied = sum(1 for clock in state["clocks"] if clock["modifyCount"].get("06") == 1)
        print(f"modify: {len(answered)} of {len(addresses)} clocks answered, modifies sent over "
              f"{options.over:g} s, modifyLatencyMs {options.modify_latency_ms}; ms after the latency: "
              f"{percentiles(beyond) if beyond else '-'}; last answer {max(answered.values()) - started:.2f} s "
              f"after the first modify; the simulator busy {cpu:.2f} s of it; state file shows {applied} applied")
        return 0 if len(answered) == len(addresses) == applied else 1
    finally:
        sim.stop()
        sim.remove()


class Upload:
    """One lock-step upload, driven by the caller's select loop."""

    def __init__(self, ip: str, port: int, content: bytes):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.setblocking(False)
        self.content, self.server, self.peer = content, (ip, port), None
        self.blocks = len(content) // 512 + 1
        self.block, self.done = 0, False
        self.packet = TftpClient.write_request("fw.tar", len(content))
        self.transmit()

    def transmit(self) -> None:
        self.sock.sendto(self.packet, self.peer or self.server)
        self.sent_at = time.monotonic()

    def on_readable(self) -> None:
        try:
            packet, source = self.sock.recvfrom(600)
        except BlockingIOError:
            return
        opcode, number = struct.unpack(">HH", packet[:4])
        if opcode != 4:
            raise RuntimeError(f"{self.server[0]} answered {packet.hex()}")
        if number != self.block:
            return
        self.peer = source
        if self.block == self.blocks:
            self.done = True
            self.sock.close()
            return
        self.block += 1
        self.packet = TftpClient.data(self.block, self.content[(self.block - 1) * 512:self.block * 512])
        self.transmit()


def bench_tftp(options) -> int:
    addresses = clock_addresses(options.count)
    sim = RunningSim({"prefix": 8, "defaults": {"firmwareMajor": 4}, "clocks": [{"ip": ip} for ip in addresses]})
    try:
        content = os.urandom(options.size)
        waiting, running = list(addresses), {}
        started, cpu_before, own_before = time.monotonic(), cpu_seconds(sim.process.pid), cpu_seconds(os.getpid())
        while waiting or running:
            while waiting and len(running) < options.parallel:
                upload = Upload(waiting.pop(0), sim.tftp_port, content)
                running[upload.sock] = upload
            readable, _, _ = select.select(list(running), [], [], 0.1)
            for sock in readable:
                upload = running[sock]
                upload.on_readable()
                if upload.done:
                    del running[sock]
            now = time.monotonic()
            for upload in running.values():
                if now - upload.sent_at > RETRY_SECONDS:
                    upload.transmit()
        elapsed = time.monotonic() - started
        cpu = cpu_seconds(sim.process.pid) - cpu_before
        own = cpu_seconds(os.getpid()) - own_before
        blocks = (options.size // 512 + 1) * len(addresses)
        digest = hashlib.sha256(content).hexdigest()
        stored = sum(1 for ip in addresses
                     if file_digest(os.path.join(sim.tftp_root, ip, "upload", "fw.tar")) == digest)
        print(f"tftp: {options.size} bytes to {len(addresses)} clocks, {options.parallel} at once: "
              f"{elapsed:.2f} s, {blocks / elapsed:.0f} blocks/s; the simulator busy {cpu:.2f} s of it "
              f"({blocks / cpu:.0f} blocks per CPU second), the clients {own:.2f} s; "
              f"{stored} files stored byte-exact")
        return 0 if stored == len(addresses) else 1
    finally:
        sim.stop()
        sim.remove()


def file_digest(path: str) -> str | None:
    try:
        with open(path, "rb") as source:
            return hashlib.sha256(source.read()).hexdigest()
    except OSError:
        return None


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    modify = commands.add_parser("modify")
    modify.add_argument("--count", type=int, default=1000)
    modify.add_argument("--modify-latency-ms", type=int, default=80)
    modify.add_argument("--over", type=float, default=1.0, help="seconds over which the modifies are sent")
    tftp = commands.add_parser("tftp")
    tftp.add_argument("--count", type=int, default=100)
    tftp.add_argument("--size", type=int, default=1 << 20)
    tftp.add_argument("--parallel", type=int, default=8)
    options = parser.parse_args(argv)
    return bench_modify(options) if options.command == "modify" else bench_tftp(options)


if __name__ == "__main__":
    sys.exit(main())
