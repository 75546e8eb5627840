"""The clock's TFTP server (RFC 1350) on port 69 of each clock address."""

import functools
import hashlib
import json
import os
import socket
import struct

from .loop import Deadline

RRQ, WRQ, DATA, ACK, ERROR, OACK = 1, 2, 3, 4, 5, 6
BLOCK_SIZE = 512
LOG_PREFIX = "/usr/tftpfile/"
RETRANSMIT_SECONDS = 1.0
RETRANSMITS = 5
# The tool's upload retries each packet for 10 s; a write idle for longer is abandoned.
WRITE_IDLE_SECONDS = 12.0
# Kept open after the last block, to acknowledge it again if the tool did not get the acknowledgement.
LINGER_SECONDS = 3.0
RECEIVE_SIZE = 65535
# Uploaded data reaches the disk in pieces of this size, not a write per block.
UPLOAD_BUFFER = 256 * 1024
HEADER = struct.Struct(">HH")

ERR_NOT_DEFINED, ERR_NOT_FOUND, ERR_ACCESS, ERR_ILLEGAL, ERR_UNKNOWN_TID = 0, 1, 2, 4, 5


class TftpError(ValueError):
    pass


def opcode_of(packet: bytes) -> int | None:
    return struct.unpack(">H", packet[:2])[0] if len(packet) >= 2 else None


def parse_request(packet: bytes) -> dict:
    """RRQ/WRQ: file name, mode and option pairs, each ending with a zero byte."""
    if len(packet) < 4 or packet[-1] != 0:
        raise TftpError("request does not end with a zero byte")
    fields = packet[2:-1].split(b"\0")
    if len(fields) < 2 or len(fields) % 2 != 0:
        raise TftpError("request fields are not name, mode and option pairs")
    options = {fields[i].decode("latin-1").lower(): fields[i + 1].decode("latin-1")
               for i in range(2, len(fields), 2)}
    return {"opcode": opcode_of(packet), "name": fields[0].decode("latin-1"),
            "mode": fields[1].decode("latin-1").lower(), "options": options}


def ack_packet(block: int) -> bytes:
    return struct.pack(">HH", ACK, block & 0xFFFF)


def data_packet(block: int, data: bytes) -> bytes:
    return struct.pack(">HH", DATA, block & 0xFFFF) + data


def error_packet(code: int, message: str) -> bytes:
    return struct.pack(">HH", ERROR, code) + message.encode("ascii") + b"\0"


def oack_packet(options: dict) -> bytes:
    return struct.pack(">H", OACK) + b"".join(
        key.encode("ascii") + b"\0" + value.encode("ascii") + b"\0" for key, value in options.items())


def block_of(packet: bytes) -> int | None:
    return struct.unpack(">H", packet[2:4])[0] if len(packet) >= 4 else None


@functools.lru_cache(maxsize=1024)
def record_head(source: tuple, port: int, clock_ip: str) -> str:
    return json.dumps({"proto": "tftp", "src": source[0], "sport": source[1], "dst": clock_ip, "dport": port,
                       "clock": clock_ip})[1:-1]


@functools.lru_cache(maxsize=1024)
def json_text(text: str) -> str:
    return json.dumps(text)


def packet_fields(packet: bytes) -> str:
    """The record's "len", "opcode", "block" and "hex" of a TFTP packet, as JSON members."""
    if len(packet) >= 4:
        opcode, block = HEADER.unpack_from(packet)
        if opcode == DATA:
            return f'"len": {len(packet)}, "opcode": 3, "block": {block}, "hex": "{packet[:4].hex()}"'
        shown_block = block if opcode == ACK else "null"
    else:
        opcode, shown_block = (opcode_of(packet) if len(packet) >= 2 else "null"), "null"
    return f'"len": {len(packet)}, "opcode": {opcode}, "block": {shown_block}, "hex": "{packet.hex()}"'


def safe_upload_name(name: str) -> str:
    """The tool's name is kept as one file name inside the clock's folder, never a path."""
    cleaned = name.replace("/", "_").replace("\\", "_").replace("\0", "_")
    return cleaned if cleaned not in ("", ".", "..") else "_"


def log_file_path(log_dir: str, requested: str) -> str | None:
    """The file a read request names, or None when it is not a file inside the log folder."""
    if not requested.startswith(LOG_PREFIX):
        return None
    root = os.path.realpath(log_dir)
    path = os.path.realpath(os.path.join(root, requested[len(LOG_PREFIX):]))
    if os.path.commonpath([root, path]) != root or not os.path.isfile(path):
        return None
    return path


class TftpService:
    """Listens on one clock's address; every transfer gets a socket of its own."""

    def __init__(self, sim, clock, port: int, root: str):
        self.sim, self.clock = sim, clock
        self.upload_dir = os.path.join(root, clock.ip, "upload")
        self.log_dir = os.path.join(root, clock.ip, "log")
        os.makedirs(self.upload_dir, exist_ok=True)
        os.makedirs(self.log_dir, exist_ok=True)
        self.sessions = set()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((clock.ip, port))
        self.port = self.sock.getsockname()[1]
        sim.loop.add_reader(self.sock, self.on_request)

    def write_logs(self) -> None:
        for name, content in self.clock.logs.items():
            path = os.path.join(self.log_dir, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(content)

    def close(self) -> None:
        for session in list(self.sessions):
            session.close()
        self.sim.loop.remove_reader(self.sock)
        self.sock.close()

    def record(self, packet: bytes, source: tuple, port: int, result: str) -> None:
        """One line per packet, put together by hand: an upload to a site records tens of thousands a second.

        A data packet's "hex" is its header only; its bytes would fill the
        record with hundreds of megabytes nobody reads.
        """
        self.sim.recorder.write_members(
            f'{record_head(source, port, self.clock.ip)}, {packet_fields(packet)}, "result": {json_text(result)}')

    def on_request(self, sock) -> None:
        try:
            packet, source = sock.recvfrom(RECEIVE_SIZE)
        except OSError:
            return
        self.record(packet, source, self.port, self.start_transfer(packet, source))

    def start_transfer(self, packet: bytes, source: tuple) -> str:
        if self.clock.faults["tftpSilent"]:
            return "ignored: fault tftpSilent"
        try:
            request = parse_request(packet) if opcode_of(packet) in (RRQ, WRQ) else None
        except TftpError as error:
            self.reply_once(error_packet(ERR_ILLEGAL, "Illegal TFTP operation"), source)
            return f"refused: {error}"
        if request is None:
            self.reply_once(error_packet(ERR_ILLEGAL, "Illegal TFTP operation"), source)
            return "refused: not a read or write request"
        if request["mode"] != "octet":
            self.reply_once(error_packet(ERR_ILLEGAL, "Only octet mode"), source)
            return f"refused: mode {request['mode']}"
        if request["opcode"] == WRQ:
            self.sessions.add(WriteSession(self, request, source))
            return "write started"
        path = log_file_path(self.log_dir, request["name"])
        if path is None:
            self.reply_once(error_packet(ERR_NOT_FOUND, "File not found"), source)
            return "refused: file not found"
        self.sessions.add(ReadSession(self, request, path, source))
        return "read started"

    def reply_once(self, packet: bytes, destination: tuple) -> None:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as other:
            other.bind((self.clock.ip, 0))
            other.sendto(packet, destination)

    def finished(self, session) -> None:
        self.sessions.discard(session)


class Session:
    """One transfer: its own port on the clock's address, talking to one peer port."""

    def __init__(self, service: TftpService, peer: tuple):
        self.service, self.peer = service, peer
        self.sim, self.clock = service.sim, service.clock
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((self.clock.ip, 0))
        self.port = self.sock.getsockname()[1]
        self.record_head = record_head(peer, self.port, self.clock.ip)
        self.deadline = Deadline(self.sim.loop)
        self.closed = False
        self.sim.loop.add_reader(self.sock, self.on_readable)

    def send(self, packet: bytes) -> None:
        try:
            self.sock.sendto(packet, self.peer)
        except OSError as error:
            self.sim.log(f"TFTP send to {self.peer} failed: {error}")

    def restart_timer(self, seconds: float, callback) -> None:
        self.deadline.set(seconds, callback)

    def after_state_saved(self, callback) -> None:
        """callback once the state file shows this transfer's change, unless the transfer ended meanwhile."""
        self.sim.state_changed(self.clock)
        self.sim.when_saved(lambda: None if self.closed else callback())

    def on_readable(self, sock) -> None:
        try:
            packet, source = sock.recvfrom(RECEIVE_SIZE)
        except OSError:
            return
        if source != self.peer:
            self.service.record(packet, source, self.port, "refused: unknown transfer ID")
            self.service.reply_once(error_packet(ERR_UNKNOWN_TID, "Unknown transfer ID"), source)
            return
        if self.clock.faults["tftpSilent"]:
            self.service.record(packet, source, self.port, "ignored: fault tftpSilent")
            return
        result = self.on_packet(packet)
        self.sim.recorder.write_members(f'{self.record_head}, {packet_fields(packet)}, "result": {json_text(result)}')

    def close(self) -> None:
        self.closed = True
        self.deadline.cancel()
        self.sim.loop.remove_reader(self.sock)
        self.sock.close()
        self.service.finished(self)


class WriteSession(Session):
    """Firmware from the tool: a plain ACK of block 0, then one ACK per data block."""

    def __init__(self, service: TftpService, request: dict, peer: tuple):
        super().__init__(service, peer)
        self.expected = 1
        self.received = 0
        self.digest = hashlib.sha256()
        self.done = False
        self.entry = {"name": request["name"], "nameHex": request["name"].encode("latin-1").hex(),
                      "options": request["options"],
                      "tsize": request["options"].get("tsize"), "bytes": 0, "blocks": 0, "complete": False}
        self.path = os.path.join(service.upload_dir, safe_upload_name(request["name"]))
        self.entry["path"] = self.path
        self.out = open(self.path + ".part", "wb", buffering=UPLOAD_BUFFER)
        self.clock.uploads.append(self.entry)
        self.restart_timer(WRITE_IDLE_SECONDS, self.abandon)
        self.after_state_saved(lambda: self.send(ack_packet(0)))

    def on_packet(self, packet: bytes) -> str:
        if len(packet) < 4:
            return "ignored: not a data packet"
        opcode, block = HEADER.unpack_from(packet)
        if opcode != DATA:
            return "ignored: not a data packet"
        data = packet[4:]
        if self.done or block == (self.expected - 1) & 0xFFFF:
            self.send(ack_packet(block))
            return "acknowledged again: duplicate block"
        if block != self.expected & 0xFFFF:
            return f"ignored: block {block}, expected {self.expected & 0xFFFF}"
        if len(data) > BLOCK_SIZE:
            self.send(error_packet(ERR_ILLEGAL, "Block larger than 512 bytes"))
            self.abandon()
            return "refused: block larger than 512 bytes"
        if block == self.clock.ack_earlier_block():
            self.clock.spend_ack_earlier()
            self.sim.state_changed(self.clock)
            self.send(ack_packet(block - 1))
            return f"fault tftpAckEarlier: acknowledged {block - 1}, block not kept"
        self.store(data)
        if len(data) < BLOCK_SIZE:
            # The state file shows the stored file before the tool hears that it is done.
            self.finish()
            self.after_state_saved(lambda: self.send(ack_packet(block)))
            return "acknowledged: last block"
        self.send(ack_packet(block))
        self.restart_timer(WRITE_IDLE_SECONDS, self.abandon)
        return "acknowledged"

    def store(self, data: bytes) -> None:
        self.out.write(data)
        self.digest.update(data)
        self.received += len(data)
        self.expected += 1

    def finish(self) -> None:
        self.out.close()
        os.replace(self.path + ".part", self.path)
        self.done = True
        self.entry.update(bytes=self.received, blocks=self.expected - 1, complete=True,
                          sha256=self.digest.hexdigest(),
                          tsizeMatches=self.entry["tsize"] == str(self.received))
        self.restart_timer(LINGER_SECONDS, self.close)

    def abandon(self) -> None:
        if not self.out.closed:
            self.out.close()
        self.entry.update(bytes=self.received, blocks=self.expected - 1, complete=False)
        self.sim.state_changed(self.clock)
        self.close()


class ReadSession(Session):
    """A log file to the tool, 512 bytes a block, each block waiting for its ACK."""

    def __init__(self, service: TftpService, request: dict, path: str, peer: tuple):
        super().__init__(service, peer)
        with open(path, "rb") as source:
            self.content = source.read()
        self.block = 0
        self.tries = 0
        self.entry = {"path": request["name"], "file": path, "bytes": len(self.content), "complete": False}
        self.clock.downloads.append(self.entry)
        if self.clock.faults["tftpOack"]:
            self.packet = oack_packet({"tsize": str(len(self.content))})
        else:
            self.block = 1
            self.packet = self.current_data()
        self.after_state_saved(self.transmit)

    def current_data(self) -> bytes:
        start = (self.block - 1) * BLOCK_SIZE
        return data_packet(self.block, self.content[start:start + BLOCK_SIZE])

    def is_last_block(self) -> bool:
        return self.block >= 1 and len(self.packet) - 4 < BLOCK_SIZE

    def transmit(self) -> None:
        self.send(self.packet)
        self.restart_timer(RETRANSMIT_SECONDS, self.retransmit)

    def retransmit(self) -> None:
        self.tries += 1
        if self.tries > RETRANSMITS:
            self.sim.state_changed(self.clock)
            self.close()
            return
        self.transmit()

    def on_packet(self, packet: bytes) -> str:
        if opcode_of(packet) != ACK or len(packet) < 4:
            return "ignored: not an acknowledgement"
        if block_of(packet) != self.block & 0xFFFF:
            return f"ignored: acknowledgement of {block_of(packet)}, waiting for {self.block & 0xFFFF}"
        if self.is_last_block():
            self.entry["complete"] = True
            self.sim.state_changed(self.clock)
            self.close()
            return "acknowledged: transfer complete"
        self.block += 1
        self.tries = 0
        self.packet = self.current_data()
        self.transmit()
        return f"sent block {self.block}"
