"""Port 7000: one socket for every clock, answering from the address each datagram was sent to."""

import ipaddress
import random
import socket
import struct

from .frame import FLAGS_REPLY, FrameError, build_frame, crc16_modbus, crc_trailer, parse_frame, peek_code

IP_PKTINFO = 8  # Linux, <linux/in.h>; the socket module of Python 3.11 does not name it
PKTINFO = struct.Struct("i4s4s")
RECEIVE_SIZE = 65535
OVERSIZE = 300
STRAY_PAYLOAD = bytes((0x0D, 0x00))
LIMITED_BROADCAST = "255.255.255.255"


def source_pktinfo(address: str) -> list:
    return [(socket.IPPROTO_IP, IP_PKTINFO, PKTINFO.pack(0, socket.inet_aton(address), bytes(4)))]


def destination_of(ancillary: list) -> str | None:
    for level, kind, data in ancillary:
        if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(data) >= PKTINFO.size:
            _, _, header_destination = PKTINFO.unpack(data[:PKTINFO.size])
            return socket.inet_ntoa(header_destination)
    return None


def oversize_datagram(frame: bytes) -> bytes:
    """The answer padded to 300 bytes with a valid checksum, so only its size is wrong."""
    body = frame[:-2].ljust(OVERSIZE - 2, b"\0")
    return body + crc_trailer(crc16_modbus(body))


def reply_frame(payload: bytes, faults: dict) -> bytes:
    keep = int(faults["truncatePayload"])
    if 0 < keep < len(payload):
        payload = payload[:keep]
    order = "bad" if faults["badCrc"] else "high-first" if faults["crcHighFirst"] else "low-first"
    return build_frame(payload, flags=FLAGS_REPLY, crc_order=order)


class LinkService:
    def __init__(self, sim, bind_address: str, port: int):
        self.sim = sim
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        self.sock.bind((bind_address, port))
        self.port = self.sock.getsockname()[1]
        sim.loop.add_reader(self.sock, self.on_readable)

    def close(self) -> None:
        self.sim.loop.remove_reader(self.sock)
        self.sock.close()

    def on_readable(self, sock) -> None:
        try:
            data, ancillary, _, source = sock.recvmsg(RECEIVE_SIZE, socket.CMSG_SPACE(PKTINFO.size))
        except OSError:
            return
        destination = destination_of(ancillary) or "0.0.0.0"
        clocks, broadcast = self.sim.clocks_for(destination)
        results = {}
        if clocks and not self.sim.source_allowed(source[0]):
            results = {clock.ip: "ignored: source not allowed" for clock in clocks}
        else:
            for clock in clocks:
                results[clock.ip] = self.handle(clock, data, source, broadcast)
        self.sim.recorder.write({
            "proto": "clock", "src": source[0], "sport": source[1], "dst": destination, "dport": self.port,
            "clock": None if broadcast else (clocks[0].ip if clocks else None), "broadcast": broadcast,
            "clocks": [clock.ip for clock in clocks], "len": len(data), "code": peek_code(data),
            "hex": data.hex(), "results": results,
        })

    def handle(self, clock, data: bytes, source: tuple, broadcast: bool) -> str:
        if clock.take_drop():
            return "dropped: fault dropFirst"
        try:
            frame = parse_frame(data)
            payload = clock.answer(frame)
        except FrameError as error:
            return f"dropped: {error}"
        self.sim.after_request(clock, frame)
        delay = clock.faults["delayMs"] / 1000.0 + (self.sim.spread_delay(clock) if broadcast else 0.0)
        if delay > 0:
            self.sim.loop.call_later(delay, lambda: self.send_answer(clock, payload, source))
            return f"answered after {delay * 1000:.0f} ms"
        self.send_answer(clock, payload, source)
        return "answered"

    def send_answer(self, clock, payload: bytes, destination: tuple) -> None:
        frame = reply_frame(payload, clock.faults)
        stray = clock.faults["strayBefore"]
        if stray:
            self.send_stray(clock, bytes.fromhex(stray) if isinstance(stray, str) else
                            build_frame(STRAY_PAYLOAD, flags=FLAGS_REPLY), destination)
        if clock.faults["oversizeBefore"]:
            self.send_from(clock.ip, oversize_datagram(frame), destination)
        self.send_from(clock.ip, frame, destination)

    def send_from(self, address: str, datagram: bytes, destination: tuple) -> None:
        try:
            self.sock.sendmsg([datagram], source_pktinfo(address), 0, destination)
        except OSError as error:
            self.sim.log(f"send from {address} to {destination} failed: {error}")

    def send_stray(self, clock, datagram: bytes, destination: tuple) -> None:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as other:
            try:
                other.bind((clock.ip, 0))
                other.sendto(datagram, destination)
            except OSError as error:
                self.sim.log(f"stray datagram from {clock.ip} failed: {error}")

    def send_unsolicited(self, clock, payload: bytes, destination: tuple) -> None:
        self.send_from(clock.ip, reply_frame(payload, clock.faults), destination)


def spread_for(address: str, spread_ms: float) -> float:
    """A fixed offset per clock, as real clocks never answer a broadcast all at once."""
    if spread_ms <= 0:
        return 0.0
    return random.Random(int(ipaddress.IPv4Address(address))).uniform(0, spread_ms) / 1000.0
