"""Clock frames on UDP port 7000: magic, flags, length, payload, CRC trailer."""

from dataclasses import dataclass

MAGIC = b"QK"
FLAGS_REQUEST = 0x80
FLAGS_SEARCH = 0xC0
# The tool never reads the flags of a clock's frame, so the clock leaves them clear.
FLAGS_REPLY = 0x00
HEADER_SIZE = 4
TRAILER_SIZE = 2
MIN_FRAME_SIZE = HEADER_SIZE + 1 + TRAILER_SIZE
MAX_PAYLOAD = 255


def _crc_table() -> tuple:
    table = []
    for value in range(256):
        for _ in range(8):
            value = (value >> 1) ^ 0xA001 if value & 1 else value >> 1
        table.append(value)
    return tuple(table)


# A byte at a time: a site of a thousand clocks answers a broadcast with a thousand frames.
CRC_TABLE = _crc_table()


def crc16_modbus(data: bytes) -> int:
    crc = 0xFFFF
    table = CRC_TABLE
    for byte in data:
        crc = (crc >> 8) ^ table[(crc ^ byte) & 0xFF]
    return crc


def crc_trailer(crc: int, high_first: bool = False) -> bytes:
    low, high = crc & 0xFF, crc >> 8
    return bytes((high, low)) if high_first else bytes((low, high))


def wrong_trailer(crc: int) -> bytes:
    """Two bytes that match the CRC in neither byte order."""
    candidate = crc
    while True:
        candidate = (candidate + 0x0101) & 0xFFFF
        trailer = crc_trailer(candidate)
        if trailer not in (crc_trailer(crc), crc_trailer(crc, high_first=True)):
            return trailer


def build_frame(payload: bytes, flags: int = FLAGS_REQUEST, crc_order: str = "low-first") -> bytes:
    """crc_order is "low-first", "high-first" or "bad"."""
    if not 1 <= len(payload) <= MAX_PAYLOAD:
        raise ValueError(f"payload of {len(payload)} bytes does not fit a frame")
    body = MAGIC + bytes((flags, len(payload))) + payload
    crc = crc16_modbus(body)
    if crc_order == "bad":
        return body + wrong_trailer(crc)
    return body + crc_trailer(crc, high_first=crc_order == "high-first")


def build_query(code: int) -> bytes:
    return build_frame(bytes((code,)))


def build_search_request() -> bytes:
    return build_frame(bytes((0x01,)) + bytes(20), flags=FLAGS_SEARCH)


@dataclass
class Frame:
    flags: int
    payload: bytes
    crc_order: str

    @property
    def code(self) -> int:
        return self.payload[0]


class FrameError(ValueError):
    """A datagram that a clock drops; the text says why."""


def trailer_order(datagram: bytes) -> str | None:
    crc = crc16_modbus(datagram[:-TRAILER_SIZE])
    trailer = datagram[-TRAILER_SIZE:]
    if trailer == crc_trailer(crc):
        return "low-first"
    if trailer == crc_trailer(crc, high_first=True):
        return "high-first"
    return None


def parse_frame(datagram: bytes) -> Frame:
    """Accepts only what a well-behaved tool sends; anything else raises FrameError."""
    if len(datagram) < MIN_FRAME_SIZE:
        raise FrameError(f"datagram of {len(datagram)} bytes is shorter than a frame")
    order = trailer_order(datagram)
    if order is None:
        raise FrameError("bad checksum")
    if datagram[:2] != MAGIC:
        raise FrameError(f"bad magic {datagram[:2].hex()}")
    length = datagram[3]
    if length + HEADER_SIZE + TRAILER_SIZE != len(datagram):
        raise FrameError(f"length byte {length} does not match a datagram of {len(datagram)} bytes")
    flags = datagram[2]
    payload = datagram[HEADER_SIZE:HEADER_SIZE + length]
    expected_flags = FLAGS_SEARCH if payload[0] == 0x01 else FLAGS_REQUEST
    if flags != expected_flags:
        raise FrameError(f"flags 0x{flags:02X}, expected 0x{expected_flags:02X}")
    return Frame(flags, payload, order)


def peek_code(datagram: bytes) -> int | None:
    return datagram[HEADER_SIZE] if len(datagram) > HEADER_SIZE else None
