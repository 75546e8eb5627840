"""Port 7000: one socket for every clock, answering from the address each datagram was sent to."""

import collections
import ipaddress
import random
import socket
import struct
import time

from .clock import ANNOUNCE, MODIFY_CODES, SEARCH
from .frame import FLAGS_REPLY, FrameError, build_frame, crc16_modbus, crc_trailer, parse_frame, peek_code

IP_PKTINFO = 8  # Linux, <linux/in.h>; the socket module of Python 3.11 does not name it
SO_SNDBUFFORCE, SO_RCVBUFFORCE = 32, 33  # Linux, <asm-generic/socket.h>; not named there either
PKTINFO = struct.Struct("i4s4s")
RECEIVE_SIZE = 65535
OVERSIZE = 300
STRAY_PAYLOAD = bytes((0x0D, 0x00))
LIMITED_BROADCAST = "255.255.255.255"
# A broadcast to a thousand clocks, or a thousand modifies at once, must not overflow the queue.
RECEIVE_BUFFER = 8 << 20


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
        set_buffer_sizes(self.sock, RECEIVE_BUFFER)
        self.sock.bind((bind_address, port))
        self.port = self.sock.getsockname()[1]
        self.queues = RequestQueues(self)
        # Clocks with an answer waiting for the state file; their later answers queue behind it.
        self.held = set()
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
        self.sim.recorder.flush()

    def forget_pending(self) -> None:
        """Requests still waiting for their clock's latency are never answered (the clocks were reset)."""
        self.queues.clear()

    def handle(self, clock, data: bytes, source: tuple, broadcast: bool) -> str:
        """Decides at once whether the clock answers; the answer itself may come later."""
        if clock.take_drop():
            self.sim.state_changed(clock)
            return "dropped: fault dropFirst"
        try:
            frame = parse_frame(data)
            if clock.faults["silent"] and frame.code != SEARCH:
                return "dropped: fault silent"
            clock.check(frame)
        except FrameError as error:
            return f"dropped: {error}"
        send_delay = clock.faults["delayMs"] / 1000.0 + (self.sim.spread_delay(clock) if broadcast else 0.0)
        delay = self.queues.add(clock, frame, source, send_delay) + send_delay
        if delay > 0:
            return f"answered after {delay * 1000:.0f} ms"
        return "answered"

    def process(self, clock, frame, source: tuple, send_delay: float) -> None:
        """The clock takes the request now; a change it made is in the state file before the answer leaves."""
        try:
            payload = clock.answer(frame)
        except FrameError as error:
            # Only a change at run time (model, address) between arrival and now gets here.
            self.sim.log(f"{clock.ip} dropped a request it had taken: {error}")
            return
        if frame.code in MODIFY_CODES or frame.code == ANNOUNCE:
            self.sim.state_changed(clock)
        elif clock not in self.held:
            self.send_later(clock, payload, source, send_delay)
            return
        self.held.add(clock)

        def release():
            self.held.discard(clock)
            self.send_later(clock, payload, source, send_delay)

        self.sim.when_saved(release)

    def send_later(self, clock, payload: bytes, source: tuple, delay: float) -> None:
        if delay > 0:
            self.sim.loop.call_later(delay, lambda: self.send_answer(clock, payload, source))
        else:
            self.send_answer(clock, payload, source)

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


class RequestQueues:
    """Each clock takes its requests one after another, each once its latency has passed.

    A clock busy with a modify (writing its flash) answers a query sent after
    it only afterwards, with what the modify wrote; the other clocks do not wait.
    """

    def __init__(self, service: LinkService):
        self.service = service
        self.pending = {}

    def clear(self) -> None:
        self.pending = {}

    def add(self, clock, frame, source: tuple, send_delay: float) -> float:
        """Seconds until the clock takes the request (0: taken now)."""
        now = time.monotonic()
        due = now + clock.latency(frame)
        queue = self.pending.get(clock)
        if queue:
            due = max(due, queue[-1][0])
        elif due <= now:
            self.service.process(clock, frame, source, send_delay)
            return 0.0
        else:
            queue = self.pending[clock] = collections.deque()
        queue.append((due, frame, source, send_delay))
        if len(queue) == 1:
            self.service.sim.loop.call_at(due, lambda: self.take_next(clock, queue))
        return due - now

    def take_next(self, clock, queue) -> None:
        if self.pending.get(clock) is not queue:
            return
        _, frame, source, send_delay = queue.popleft()
        if queue:
            self.service.sim.loop.call_at(queue[0][0], lambda: self.take_next(clock, queue))
        else:
            del self.pending[clock]
        self.service.process(clock, frame, source, send_delay)


def set_buffer_sizes(sock, size: int) -> None:
    """As large as allowed: root may go past the system's limit, others get what it permits."""
    for option, forced in ((socket.SO_RCVBUF, SO_RCVBUFFORCE), (socket.SO_SNDBUF, SO_SNDBUFFORCE)):
        try:
            sock.setsockopt(socket.SOL_SOCKET, forced, size)
        except OSError:
            try:
                sock.setsockopt(socket.SOL_SOCKET, option, size)
            except OSError:
                pass


def spread_for(address: str, spread_ms: float) -> float:
    """A fixed offset per clock, as real clocks never answer a broadcast all at once."""
    if spread_ms <= 0:
        return 0.0
    return random.Random(int(ipaddress.IPv4Address(address))).uniform(0, spread_ms) / 1000.0
