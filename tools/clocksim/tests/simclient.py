"""A running simulator on loopback and tiny clients of its three protocols, for the self-tests."""

import json
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

TOOLS_CLOCKSIM = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, TOOLS_CLOCKSIM)

from csim.frame import crc16_modbus  # noqa: E402

CLOCKSIM = os.path.join(TOOLS_CLOCKSIM, "clocksim.py")
CLOCKSIMCTL = os.path.join(TOOLS_CLOCKSIM, "clocksimctl.py")
READY_TIMEOUT = 10.0


def free_port(kind=socket.SOCK_DGRAM) -> int:
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def reply_payload(datagram: bytes) -> bytes:
    """Checks a clock's frame the strict way (low byte first) and returns its payload."""
    assert len(datagram) >= 7, f"frame of {len(datagram)} bytes"
    assert datagram[:2] == b"QK", datagram.hex()
    assert datagram[3] + 6 == len(datagram), f"length byte {datagram[3]} in {len(datagram)} bytes"
    crc = crc16_modbus(datagram[:-2])
    assert datagram[-2:] == bytes((crc & 0xFF, crc >> 8)), f"checksum of {datagram.hex()}"
    return datagram[4:-2]


class RunningSim:
    def __init__(self, config: dict, folder: str | None = None):
        self.folder = folder or tempfile.mkdtemp(prefix="clocksim-test-")
        self.config_path = os.path.join(self.folder, "clocks.json")
        self.write_config(config)
        self.port, self.tftp_port, self.probe_port = free_port(), free_port(), free_port(socket.SOCK_STREAM)
        self.record_path = os.path.join(self.folder, "record.jsonl")
        self.state_path = os.path.join(self.folder, "state.json")
        self.control_path = os.path.join(self.folder, "control.sock")
        self.tftp_root = os.path.join(self.folder, "tftp")
        self.stderr_path = os.path.join(self.folder, "stderr.txt")
        with open(self.stderr_path, "w", encoding="utf-8") as stderr:
            self.process = subprocess.Popen(
                [sys.executable, CLOCKSIM, "--config", self.config_path, "--port", str(self.port),
                 "--tftp-port", str(self.tftp_port), "--probe-port", str(self.probe_port),
                 "--record", self.record_path, "--state", self.state_path, "--tftp-root", self.tftp_root,
                 "--control", self.control_path],
                stdout=subprocess.PIPE, stderr=stderr, text=True)
        self.wait_ready()

    def write_config(self, config: dict) -> None:
        with open(self.config_path, "w", encoding="utf-8") as out:
            json.dump(config, out)

    def wait_ready(self) -> None:
        deadline = time.monotonic() + READY_TIMEOUT
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if readable:
                line = self.process.stdout.readline()
                if line.strip() == "clocksim ready":
                    return
                if not line:
                    break
        self.process.kill()
        raise RuntimeError(f"simulator did not start: {self.errors()}")

    def errors(self) -> str:
        with open(self.stderr_path, encoding="utf-8") as source:
            return source.read()

    def control(self, **request) -> dict:
        from csim.control import send_request
        reply = send_request(self.control_path, request)
        assert reply.get("ok"), reply
        return reply

    def ctl(self, *args) -> subprocess.CompletedProcess:
        return subprocess.run([sys.executable, CLOCKSIMCTL, "--socket", self.control_path, *args],
                              capture_output=True, text=True, timeout=10)

    def state(self) -> dict:
        with open(self.state_path, encoding="utf-8") as source:
            return json.load(source)

    def clock_state(self, ip: str) -> dict:
        return next(clock for clock in self.state()["clocks"] if clock["ip"] == ip)

    def wait_for_state(self, ip: str, predicate, timeout: float = 3.0) -> dict:
        """The clock's state once predicate holds for it; the last state seen otherwise."""
        deadline = time.monotonic() + timeout
        while True:
            clock = self.clock_state(ip)
            if predicate(clock) or time.monotonic() > deadline:
                return clock
            time.sleep(0.05)

    def records(self) -> list:
        if not os.path.exists(self.record_path):
            return []
        with open(self.record_path, encoding="utf-8") as source:
            return [json.loads(line) for line in source]

    def clear_records(self) -> None:
        open(self.record_path, "w", encoding="utf-8").close()

    def stop(self) -> int:
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        return self.process.returncode

    def remove(self) -> None:
        shutil.rmtree(self.folder, ignore_errors=True)


class LinkClient:
    """The tool's side of port 7000, on loopback."""

    def __init__(self, port: int):
        self.port = port
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.sock.bind(("127.0.0.1", 0))

    def close(self) -> None:
        self.sock.close()

    def send(self, datagram: bytes, ip: str) -> None:
        self.sock.sendto(datagram, (ip, self.port))

    def receive(self, timeout: float = 1.0) -> tuple | None:
        self.sock.settimeout(timeout)
        try:
            return self.sock.recvfrom(65535)
        except socket.timeout:
            return None

    def receive_all(self, quiet: float = 0.3) -> list:
        datagrams = []
        while (datagram := self.receive(quiet)) is not None:
            datagrams.append(datagram)
        return datagrams

    def exchange(self, datagram: bytes, ip: str, timeout: float = 1.0) -> bytes | None:
        """The payload of the answer, or None when the clock stays silent."""
        self.send(datagram, ip)
        answer = self.receive(timeout)
        if answer is None:
            return None
        assert answer[1] == (ip, self.port), f"answer from {answer[1]}"
        return reply_payload(answer[0])


class TftpClient:
    """Just enough of a TFTP client to drive the clock's server."""

    def __init__(self, ip: str, port: int, local: str = "127.0.0.1"):
        self.server = (ip, port)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((local, 0))

    def close(self) -> None:
        self.sock.close()

    def send(self, packet: bytes, destination: tuple) -> None:
        self.sock.sendto(packet, destination)

    def receive(self, timeout: float = 2.0) -> tuple | None:
        self.sock.settimeout(timeout)
        try:
            return self.sock.recvfrom(65535)
        except socket.timeout:
            return None

    @staticmethod
    def write_request(name: str, size: int) -> bytes:
        fields = [name.encode(), b"octet", b"blksize", b"512", b"tsize", str(size).encode()]
        return b"\x00\x02" + b"".join(field + b"\x00" for field in fields)

    @staticmethod
    def read_request(path: str) -> bytes:
        return b"\x00\x01" + path.encode() + b"\0octet\0"

    @staticmethod
    def data(block: int, payload: bytes) -> bytes:
        return struct.pack(">HH", 3, block) + payload

    @staticmethod
    def ack(block: int) -> bytes:
        return struct.pack(">HH", 4, block)

    def upload(self, name: str, content: bytes) -> tuple:
        """Lock-step upload; returns the transfer port and the acknowledged block numbers."""
        self.send(self.write_request(name, len(content)), self.server)
        answer, transfer = self.receive()
        acknowledged = [struct.unpack(">HH", answer[:4])]
        block = 1
        while True:
            chunk = content[(block - 1) * 512:block * 512]
            self.send(self.data(block, chunk), transfer)
            answer, _ = self.receive()
            opcode, number = struct.unpack(">HH", answer[:4])
            acknowledged.append((opcode, number))
            if opcode != 4:
                raise AssertionError(f"answer {answer.hex()} to block {block}")
            if number != block:
                block = number + 1
                continue
            if len(chunk) < 512:
                return transfer, acknowledged
            block += 1

    def download(self, path: str) -> tuple:
        """Returns the content and every packet received."""
        self.send(self.read_request(path), self.server)
        content, packets = b"", []
        while (received := self.receive()) is not None:
            packet, transfer = received
            packets.append(packet)
            opcode = struct.unpack(">H", packet[:2])[0]
            if opcode == 6:
                self.send(self.ack(0), transfer)
            elif opcode == 3:
                content += packet[4:]
                self.send(self.ack(struct.unpack(">H", packet[2:4])[0]), transfer)
                if len(packet) < 516:
                    return content, packets
            else:
                return content, packets
        return content, packets
