"""Frames and payload layouts against the worked examples of the clock protocol."""

import unittest

import simclient  # noqa: F401  (puts csim on the path)
from csim import payloads as pl
from csim.frame import FrameError, build_frame, build_query, build_search_request, crc16_modbus, parse_frame
from csim.tftp import parse_request

WEEKDAYS = ["Mon", "Tue", "Wed", "Thu", "Fri"]


def basic_example() -> dict:
    return {
        "zoneNegative": False, "zoneHours": 8, "zoneMinuteCode": 0, "hour24": True, "dynamicIp": True,
        "brightness": 2, "ipAddress": "0.0.0.0", "subnetMask": "255.255.255.0", "gateway": "192.168.1.1",
        "dnsServer": "192.168.1.1", "dstStartMonth": 0, "dstStartWeek": 0, "dstStartWeekday": 0,
        "dstStartHour": 0, "dstEndMonth": 0, "dstEndWeek": 0, "dstEndWeekday": 0, "dstEndHour": 0,
        "energyFrom": 0, "energyTo": 0, "energyClose": False,
    }


def h(text: str) -> bytes:
    return bytes.fromhex(text.replace(" ", ""))


# The examples as the tool's documentation gives them, byte for byte.
WORKED_FRAMES = [
    ("query 0x02", lambda: build_query(0x02), "51 4B 80 01 02 4F 91"),
    ("search request", build_search_request, "51 4B C0 15 01" + " 00" * 20 + " D9 2E"),
    ("modify 0x06", lambda: build_frame(b"\x06" + pl.encode_basic(basic_example())),
     "51 4B 80 1B 06 40 D0 00 00 00 00 FF FF FF 00 C0 A8 01 01 C0 A8 01 01"
     " 00 00 00 00 00 00 00 00 4D 00"),
    ("modify 0x07 addresses", lambda: build_frame(
        b"\x07\x00" + pl.encode_ntp_addresses(["10.0.0.1", "10.0.0.2"])),
     "51 4B 80 16 07 00 0A 00 00 01 0A 00 00 02" + " 00" * 12 + " 27 5C"),
    ("modify 0x09 display", lambda: build_frame(h("09 08 1E 00 01 00 00 01 85 00 00 00 53 30")),
     "51 4B 80 0E 09 08 1E 00 01 00 00 01 85 00 00 00 53 30 C4 56"),
    ("modify 0x0B short text", lambda: build_frame(b"\x0B\x00\x83" + pl.fixed_text("HELLO", 32) + b"\0"),
     "51 4B 80 24 0B 00 83 48 45 4C 4C 4F" + " 00" * 28 + " 41 7D"),
    ("announcement 0x0C", lambda: build_frame(b"\x0C\x01"), "51 4B 80 02 0C 01 E5 54"),
]


class WorkedFrames(unittest.TestCase):
    def test_crc_check_value(self):
        self.assertEqual(crc16_modbus(b"123456789"), 0x4B37)

    def test_frames_match_the_examples_and_are_accepted(self):
        for name, build, expected in WORKED_FRAMES:
            with self.subTest(name):
                frame = build()
                self.assertEqual(frame.hex(" ").upper(), h(expected).hex(" ").upper())
                self.assertEqual(parse_frame(frame).payload, frame[4:-2])

    def test_trailer_in_either_byte_order_is_accepted(self):
        swapped = h("51 4B 80 01 02 91 4F")
        self.assertEqual(parse_frame(swapped).crc_order, "high-first")


class PayloadExamples(unittest.TestCase):
    def test_zone_byte(self):
        cases = [("UTC +5:45", False, 5, 2, 0x2C), ("UTC -9:30", True, 9, 1, 0xCA),
                 ("UTC -12", True, 12, 0, 0xE0), ("UTC +8", False, 8, 0, 0x40)]
        for name, negative, hours, minutes, expected in cases:
            with self.subTest(name):
                fields = dict(basic_example(), zoneNegative=negative, zoneHours=hours, zoneMinuteCode=minutes)
                raw = pl.encode_basic(fields)
                self.assertEqual(raw[0], expected)
                self.assertEqual(pl.decode_basic(raw), fields)

    def test_bell_entries(self):
        bell_one = pl.encode_bell({"hour": 7, "minute": 30, "enabled": True, "days": WEEKDAYS, "duration": 5}, 0)
        self.assertEqual(bell_one, h("00 07 1E 00 BE 05"))
        empty = pl.encode_bells([])
        self.assertEqual(len(empty), 180)
        self.assertEqual(empty[:6], bytes(6))
        self.assertEqual(empty[-6:], h("1D 00 00 00 00 00"))
        decoded = pl.decode_bells(bell_one + empty[6:])[0]
        self.assertEqual((decoded["enabled"], decoded["days"], decoded["flags"]), (True, WEEKDAYS, 0xBE))

    def test_display_reply_readings(self):
        raw = bytes(6) + h("01 85 30 5A 60") + bytes(2)
        decoded = pl.decode_display(raw)
        self.assertEqual((decoded["tempNegative"], decoded["tempWhole"], decoded["tempTenths"]), (True, 5, 3))
        self.assertEqual((decoded["humidityWhole"], decoded["humidityTenths"]), (45, 6))
        self.assertEqual(pl.encode_display(decoded), raw)

    def test_tftp_requests(self):
        write = h("00 02 66 77 2E 74 61 72 00 6F 63 74 65 74 00 62 6C 6B 73 69 7A 65 00 35 31 32 00"
                  " 74 73 69 7A 65 00 31 35 33 36 00")
        self.assertEqual(parse_request(write), {"opcode": 2, "name": "fw.tar", "mode": "octet",
                                                "options": {"blksize": "512", "tsize": "1536"}})
        read = b"\x00\x01/usr/tftpfile/log.txt\x00octet\x00"
        self.assertEqual(len(read), 30)
        self.assertEqual(parse_request(read)["name"], "/usr/tftpfile/log.txt")


def with_crc(body: bytes) -> bytes:
    crc = crc16_modbus(body)
    return body + bytes((crc & 0xFF, crc >> 8))


class FramesDropped(unittest.TestCase):
    def test_malformed_frames_raise(self):
        good = build_query(0x02)
        cases = [
            ("shorter than a frame", good[:6]),
            ("bad checksum", good[:-1] + bytes((good[-1] ^ 1,))),
            ("bad magic", with_crc(b"QX\x80\x01\x02")),
            ("length byte disagrees with the size", with_crc(b"QK\x80\x02\x02")),
            ("search with request flags", with_crc(b"QK\x80\x15\x01" + bytes(20))),
            ("query with search flags", with_crc(b"QK\xC0\x01\x02")),
        ]
        for name, datagram in cases:
            with self.subTest(name), self.assertRaises(FrameError):
                parse_frame(datagram)


if __name__ == "__main__":
    unittest.main()
