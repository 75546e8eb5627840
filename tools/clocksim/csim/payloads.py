"""Byte layouts of the clock's settings blocks, both ways: fields to bytes and back.

Every block is kept as the data bytes that follow the command code in the
clock's reply; these functions turn readable fields into those bytes and back.
"""

import ipaddress
import struct

TEXT_CODEC = "cp1252"
SERIAL_WIDTH = 20
NTP_NAME_WIDTH = 30
NTP_SLOTS = 5
BELL_COUNT = 30
BELL_SIZE = 6
BELLS_SIZE = BELL_COUNT * BELL_SIZE
BASIC_SIZE = 26
DISPLAY_SIZE = 13
DAY_NAMES = ("Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat")


class PayloadError(ValueError):
    pass


# --- small conversions -------------------------------------------------------

def ip_bytes(text: str) -> bytes:
    try:
        return ipaddress.IPv4Address(text).packed
    except ValueError as error:
        raise PayloadError(f"not an IPv4 address: {text!r}") from error


def ip_text(raw: bytes) -> str:
    return str(ipaddress.IPv4Address(raw))


def fixed_text(text: str, width: int) -> bytes:
    """Single-byte text cut at the field width and zero-padded."""
    raw = text.encode(TEXT_CODEC, errors="replace")[:width]
    return raw.ljust(width, b"\0")


def text_until_zero(raw: bytes) -> str:
    return raw.split(b"\0", 1)[0].decode(TEXT_CODEC, errors="replace")


def fixed_hex(text: str, width: int, what: str) -> bytes:
    try:
        raw = bytes.fromhex(text)
    except ValueError as error:
        raise PayloadError(f"{what}: not hex") from error
    if len(raw) != width:
        raise PayloadError(f"{what}: {len(raw)} bytes, expected {width}")
    return raw


def flag(value) -> int:
    return 1 if value else 0


def byte_field(fields: dict, name: str, bits: int = 8) -> int:
    value = int(fields[name])
    if not 0 <= value < (1 << bits):
        raise PayloadError(f"{name} = {value} does not fit {bits} bits")
    return value


# --- search reply ------------------------------------------------------------

def encode_search_reply(identity: dict) -> bytes:
    serial = identity["serial"].encode("ascii")
    if len(serial) > SERIAL_WIDTH:
        raise PayloadError(f"serial {identity['serial']!r} is longer than {SERIAL_WIDTH} characters")
    return (bytes((0x01,)) + serial.ljust(SERIAL_WIDTH, b"\0")
            + bytes((byte_field(identity, "firmwareMajor"), byte_field(identity, "firmwareMinor")))
            + struct.pack(">II", byte_field(identity, "searchWord", 32), byte_field(identity, "lastSyncTime", 32))
            + ip_bytes(identity["syncServerIp"])
            + bytes((byte_field(identity, "reserved35"), byte_field(identity, "radio"))))


# --- basic settings (query 0x02, modify 0x06) --------------------------------

def encode_basic(fields: dict) -> bytes:
    p1 = (flag(fields["zoneNegative"]) << 7 | byte_field(fields, "zoneHours", 4) << 3
          | byte_field(fields, "zoneMinuteCode", 2) << 1)
    p2 = flag(fields["hour24"]) << 7 | flag(fields["dynamicIp"]) << 6 | byte_field(fields, "brightness", 3) << 3
    addresses = b"".join(ip_bytes(fields[name]) for name in ("ipAddress", "subnetMask", "gateway", "dnsServer"))
    dst = bytes((
        byte_field(fields, "dstStartMonth"),
        byte_field(fields, "dstStartWeek", 4) << 4 | byte_field(fields, "dstStartWeekday", 4),
        byte_field(fields, "dstStartHour"),
        byte_field(fields, "dstEndMonth"),
        byte_field(fields, "dstEndWeek", 4) << 4 | byte_field(fields, "dstEndWeekday", 4),
        byte_field(fields, "dstEndHour"),
    ))
    energy = bytes((byte_field(fields, "energyFrom"),
                    byte_field(fields, "energyTo", 5) << 3 | flag(fields["energyClose"]) << 2))
    return bytes((p1, p2)) + addresses + dst + energy


def decode_basic(raw: bytes) -> dict:
    return {
        "zoneNegative": bool(raw[0] & 0x80),
        "zoneHours": raw[0] >> 3 & 0x0F,
        "zoneMinuteCode": raw[0] >> 1 & 0x03,
        "hour24": bool(raw[1] & 0x80),
        "dynamicIp": bool(raw[1] & 0x40),
        "brightness": raw[1] >> 3 & 0x07,
        "ipAddress": ip_text(raw[2:6]),
        "subnetMask": ip_text(raw[6:10]),
        "gateway": ip_text(raw[10:14]),
        "dnsServer": ip_text(raw[14:18]),
        "dstStartMonth": raw[18],
        "dstStartWeek": raw[19] >> 4,
        "dstStartWeekday": raw[19] & 0x0F,
        "dstStartHour": raw[20],
        "dstEndMonth": raw[21],
        "dstEndWeek": raw[22] >> 4,
        "dstEndWeekday": raw[22] & 0x0F,
        "dstEndHour": raw[23],
        "energyFrom": raw[24],
        "energyTo": raw[25] >> 3,
        "energyClose": bool(raw[25] & 0x04),
    }


# --- NTP servers (query 0x03, modify 0x07) ------------------------------------

def encode_ntp_addresses(servers: list) -> bytes:
    padded = list(servers)[:NTP_SLOTS] + ["0.0.0.0"] * (NTP_SLOTS - len(servers))
    return b"".join(ip_bytes(server) for server in padded)


def encode_ntp_names(names: list) -> bytes:
    padded = list(names)[:2] + [""] * (2 - len(names))
    return b"".join(fixed_text(name, NTP_NAME_WIDTH) for name in padded)


def ntp_reply_data(mode: int, addresses: bytes, names: bytes) -> bytes:
    """The clock reports the form it keeps: 20 address bytes, or two 30-byte names."""
    return bytes((mode,)) + (addresses if mode == 0 else names)


def decode_ntp(mode: int, addresses: bytes, names: bytes) -> dict:
    return {
        "mode": mode,
        "servers": [ip_text(addresses[4 * i:4 * i + 4]) for i in range(NTP_SLOTS)],
        "names": [text_until_zero(names[:NTP_NAME_WIDTH]), text_until_zero(names[NTP_NAME_WIDTH:])],
        "namesHex": [names[:NTP_NAME_WIDTH].hex(), names[NTP_NAME_WIDTH:].hex()],
    }


# --- display settings (query 0x05, modify 0x09) -------------------------------

def encode_display(fields: dict) -> bytes:
    start = [int(v) for v in fields["countdownStart"]]
    duration = [int(v) for v in fields["countdownDuration"]]
    if len(start) != 3 or len(duration) != 3 or not all(0 <= v <= 255 for v in start + duration):
        raise PayloadError("countdownStart and countdownDuration are [hours, minutes, seconds]")
    return bytes(start + duration + [
        byte_field(fields, "tempUnit"),
        flag(fields["tempNegative"]) << 7 | byte_field(fields, "tempWhole", 7),
        byte_field(fields, "tempTenths", 4) << 4,
        byte_field(fields, "humidityWhole", 7) << 1,
        byte_field(fields, "humidityTenths", 4) << 4,
        byte_field(fields, "timeDisplay", 4) << 4 | byte_field(fields, "keptNibble", 4),
        byte_field(fields, "humitureDisplay", 4) << 4,
    ])


def decode_display(raw: bytes) -> dict:
    return {
        "countdownStart": list(raw[0:3]),
        "countdownDuration": list(raw[3:6]),
        "tempUnit": raw[6],
        "tempNegative": bool(raw[7] & 0x80),
        "tempWhole": raw[7] & 0x7F,
        "tempTenths": raw[8] >> 4,
        "humidityWhole": raw[9] >> 1,
        "humidityTenths": raw[10] >> 4,
        "timeDisplay": raw[11] >> 4,
        "keptNibble": raw[11] & 0x0F,
        "humitureDisplay": raw[12] >> 4,
    }


def apply_display_write(current: bytes, request: bytes) -> tuple[bytes, int]:
    """Applies the data bytes of a 0x09 request; returns the new block and the radio byte.

    The readings are the sensor's and stay; a clock without a sensor (unit 0)
    keeps unit 0 whatever is written, and only the units 1 and 2 are taken.
    """
    updated = bytearray(current)
    updated[0:6] = request[0:6]
    unit = request[6]
    if current[6] != 0 and unit in (1, 2):
        updated[6] = unit
    updated[11] = request[11]
    updated[12] = request[12]
    return bytes(updated), request[7]


# --- display text (query 0x0A, modify 0x0B) -----------------------------------

def text_mode_byte(fields: dict) -> int:
    if "modeByte" in fields:
        return byte_field(fields, "modeByte")
    return flag(fields["alternate"]) << 7 | byte_field(fields, "alternateSeconds", 7)


def decode_text(lead: int, mode: int, text: bytes) -> dict:
    return {
        "lead": lead,
        "modeByte": mode,
        "alternate": bool(mode & 0x80),
        "alternateSeconds": mode & 0x7F,
        "width": len(text),
        "text": text_until_zero(text),
        "textHex": text.hex(),
    }


# --- bell schedule (query 0x04, modify 0x08) ----------------------------------

def day_mask(days) -> int:
    if isinstance(days, int):
        return days & 0x7F
    mask = 0
    for name in days:
        if name not in DAY_NAMES:
            raise PayloadError(f"unknown day {name!r}; use {', '.join(DAY_NAMES)}")
        mask |= 1 << DAY_NAMES.index(name)
    return mask


def encode_bell(entry: dict, position: int) -> bytes:
    if "flags" in entry:
        flags = byte_field(entry, "flags")
    else:
        flags = flag(entry.get("enabled", False)) << 7 | day_mask(entry.get("days", []))
    return bytes((int(entry.get("index", position)) & 0xFF, int(entry.get("hour", 0)) & 0xFF,
                  int(entry.get("minute", 0)) & 0xFF, int(entry.get("second", 0)) & 0xFF,
                  flags, int(entry.get("duration", 0)) & 0xFF))


def encode_bells(entries: list) -> bytes:
    if len(entries) > BELL_COUNT:
        raise PayloadError(f"{len(entries)} bells given, a clock keeps {BELL_COUNT}")
    padded = list(entries) + [{}] * (BELL_COUNT - len(entries))
    return b"".join(encode_bell(entry, position) for position, entry in enumerate(padded))


def decode_bells(raw: bytes) -> list:
    entries = []
    for position in range(BELL_COUNT):
        index, hour, minute, second, flags, duration = raw[position * BELL_SIZE:(position + 1) * BELL_SIZE]
        entries.append({
            "bell": position + 1, "index": index, "hour": hour, "minute": minute, "second": second,
            "flags": flags, "enabled": bool(flags & 0x80),
            "days": [name for bit, name in enumerate(DAY_NAMES) if flags & (1 << bit)],
            "duration": duration,
        })
    return entries


# --- system information (query 0x10) -----------------------------------------

def encode_system(fields: dict) -> bytes:
    return bytes((byte_field(fields, "status1"), byte_field(fields, "status2"))) + struct.pack(
        ">H", byte_field(fields, "uptimeDays", 16))


# --- status report (unsolicited 0x0E) ----------------------------------------

def encode_status_report(values: list, last: int) -> bytes:
    if len(values) != 4:
        raise PayloadError("a status report carries four 32-bit values and one byte")
    return bytes((0x0E,)) + struct.pack(">IIII", *values) + bytes((last & 0xFF,))
