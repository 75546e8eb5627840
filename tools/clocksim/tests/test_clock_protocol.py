"""The simulator on loopback, driven the way the tool drives a clock on port 7000."""

import json
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from simclient import CLOCKSIM, LinkClient, RunningSim, reply_payload
from csim import payloads as pl
from csim.frame import build_frame, build_query, build_search_request, crc16_modbus

OLD, NEW, BROADCAST = "127.0.0.2", "127.0.0.3", "127.255.255.255"
NEW_SERIAL = "ABCDEFGHIJ0123456789"

CONFIG = {
    "prefix": 8,
    "clocks": [
        {"name": "old", "ip": OLD, "serial": "A1B2C3", "firmwareMajor": 1, "firmwareMinor": 5,
         "searchWord": 0x01020304, "lastSyncTime": 1700000000, "syncServerIp": "10.0.0.9", "radio": 0x85,
         "display": {"tempUnit": 1, "tempNegative": True, "tempWhole": 5, "tempTenths": 3,
                     "humidityWhole": 45, "humidityTenths": 6},
         "text": {"lead": 12, "text": "OLD TEXT"},
         "bells": [{"hour": 7, "minute": 30, "enabled": True, "days": ["Mon", "Tue", "Wed", "Thu", "Fri"],
                    "duration": 5}]},
        {"name": "new", "ip": NEW, "serial": NEW_SERIAL, "firmwareMajor": 4, "firmwareMinor": 2,
         "ntp": {"mode": 1, "names": ["pool.ntp.org", "time.example.net"]},
         "system": {"status1": 0x81, "status2": 0x02, "uptimeDays": 300}},
    ],
}


def h(text: str) -> bytes:
    return bytes.fromhex(text.replace(" ", ""))


class SimulatorCase(unittest.TestCase):
    """One simulator for the class; every test starts from the config's clocks."""

    @classmethod
    def setUpClass(cls):
        cls.sim = RunningSim(CONFIG)

    @classmethod
    def tearDownClass(cls):
        status = cls.sim.stop()
        errors = cls.sim.errors()
        if status != 0 or "Traceback" in errors:
            raise AssertionError(f"simulator ended with {status}: {errors}")
        cls.sim.remove()

    def setUp(self):
        self.sim.control(cmd="reset")
        self.sim.clear_records()
        self.client = LinkClient(self.sim.port)

    def tearDown(self):
        self.client.close()

    def query(self, ip: str, code: int) -> bytes | None:
        return self.client.exchange(build_query(code), ip)


class Discovery(SimulatorCase):
    def test_search_reply_carries_the_identity(self):
        payload = self.client.exchange(build_search_request(), OLD)
        self.assertEqual(len(payload), 37)
        self.assertEqual(payload[0], 0x01)
        self.assertEqual(payload[1:21], b"A1B2C3".ljust(20, b"\0"))
        self.assertEqual(tuple(payload[21:23]), (1, 5))
        self.assertEqual(struct.unpack(">II", payload[23:31]), (0x01020304, 1700000000))
        self.assertEqual(payload[31:35], socket.inet_aton("10.0.0.9"))
        self.assertEqual(payload[36], 0x85)

    def test_serial_of_twenty_characters_fills_the_field(self):
        self.assertEqual(self.client.exchange(build_search_request(), NEW)[1:21], NEW_SERIAL.encode())

    def test_broadcast_is_answered_by_every_clock_from_its_own_address(self):
        self.client.send(build_search_request(), BROADCAST)
        answers = self.client.receive_all()
        self.assertEqual(sorted(source for _, source in answers), [(OLD, self.sim.port), (NEW, self.sim.port)])
        for datagram, _ in answers:
            self.assertEqual(reply_payload(datagram)[0], 0x01)

    def test_unicast_to_another_address_is_not_answered(self):
        self.assertIsNone(self.client.exchange(build_search_request(), "127.0.0.77", timeout=0.3))


class Queries(SimulatorCase):
    def test_each_query_gets_its_reply(self):
        cases = [
            (OLD, 0x02, 27), (OLD, 0x03, 22), (OLD, 0x04, 181), (OLD, 0x05, 14), (OLD, 0x0A, 3 + 32),
            (NEW, 0x03, 62), (NEW, 0x0A, 3 + 64), (NEW, 0x10, 5),
        ]
        for ip, code, length in cases:
            with self.subTest(ip=ip, code=code):
                payload = self.query(ip, code)
                self.assertEqual((payload[0], len(payload)), (code, length))

    def test_replies_carry_the_configured_settings(self):
        basic = self.query(OLD, 0x02)
        self.assertEqual((basic[1], basic[2]), (0x40, 0x90))
        self.assertEqual(basic[3:7], socket.inet_aton(OLD))
        self.assertEqual(self.query(OLD, 0x04)[1:7], h("00 07 1E 00 BE 05"))
        self.assertEqual(self.query(OLD, 0x05)[7:12], h("01 85 30 5A 60"))
        self.assertEqual(self.query(OLD, 0x0A)[1:11], b"\x0c\x00OLD TEXT")
        ntp = self.query(NEW, 0x03)
        self.assertEqual((ntp[1], ntp[2:14], ntp[32:48]), (1, b"pool.ntp.org", b"time.example.net"))
        self.assertEqual(self.query(NEW, 0x10), h("10 81 02 01 2C"))

    def test_old_model_ignores_the_system_query(self):
        self.assertIsNone(self.client.exchange(build_query(0x10), OLD, timeout=0.3))
        self.assertIn("old model", self.sim.records()[-1]["results"][OLD])


# Modify frames with what the clock must hold afterwards: (ip, frame, query code, payload data expected).
MODIFIES = [
    ("basic, worked example", OLD,
     h("51 4B 80 1B 06 40 D0 00 00 00 00 FF FF FF 00 C0 A8 01 01 C0 A8 01 01 00 00 00 00 00 00 00 00 4D 00"),
     0x02, h("40 D0 00 00 00 00 FF FF FF 00 C0 A8 01 01 C0 A8 01 01 00 00 00 00 00 00 00 00")),
    ("NTP addresses, worked example", OLD,
     h("51 4B 80 16 07 00 0A 00 00 01 0A 00 00 02" + " 00" * 12 + " 27 5C"),
     0x03, h("00 0A 00 00 01 0A 00 00 02" + " 00" * 12)),
    ("NTP names", NEW, build_frame(b"\x07\x01" + pl.encode_ntp_names(["a.example", "b.example"])),
     0x03, b"\x01" + pl.encode_ntp_names(["a.example", "b.example"])),
    ("bells", OLD, build_frame(b"\x08" + pl.encode_bells([{}, {"hour": 12, "duration": 3, "enabled": True}])),
     0x04, pl.encode_bells([{}, {"hour": 12, "duration": 3, "enabled": True}])),
    ("display, worked example", OLD, h("51 4B 80 0E 09 08 1E 00 01 00 00 01 85 00 00 00 53 30 C4 56"),
     0x05, h("08 1E 00 01 00 00 01 85 30 5A 60 53 30")),
    ("short text, worked example", OLD, h("51 4B 80 24 0B 00 83 48 45 4C 4C 4F" + " 00" * 28 + " 41 7D"),
     0x0A, b"\x0c\x83" + b"HELLO".ljust(32, b"\0")),
    ("long text", NEW, build_frame(b"\x0B\x00\x00" + b"LONG".ljust(64, b"\0") + b"\0"),
     0x0A, b"\x00\x00" + b"LONG".ljust(64, b"\0")),
    ("short text to a clock of 64 bytes", NEW, build_frame(b"\x0B\x00\x82" + b"SHORT".ljust(32, b"\0") + b"\0"),
     0x0A, b"\x00\x82" + b"SHORT".ljust(64, b"\0")),
]


class Modifies(SimulatorCase):
    def test_each_modify_is_applied_and_read_back(self):
        for name, ip, frame, query_code, expected in MODIFIES:
            with self.subTest(name):
                self.sim.control(cmd="reset")
                self.assertEqual(self.client.exchange(frame, ip), bytes((frame[4], 1)))
                self.assertEqual(self.query(ip, query_code)[1:], expected)
                self.assertEqual(self.sim.clock_state(ip)["lastWrite"][f"{frame[4]:02X}"], frame[4:-2].hex())

    def test_state_file_holds_decoded_fields(self):
        self.client.exchange(MODIFIES[0][2], OLD)
        self.client.exchange(MODIFIES[4][2], OLD)
        state = self.sim.clock_state(OLD)
        self.assertEqual((state["basic"]["zoneHours"], state["basic"]["dynamicIp"], state["basic"]["subnetMask"]),
                         (8, True, "255.255.255.0"))
        self.assertEqual((state["display"]["countdownStart"], state["display"]["timeDisplay"],
                          state["display"]["humitureDisplay"]), ([8, 30, 0], 5, 3))
        self.assertEqual(state["radio"], 0x85)
        self.assertEqual(state["bells"]["entries"][0]["days"], ["Mon", "Tue", "Wed", "Thu", "Fri"])

    def test_display_write_sets_the_radio_of_the_search_reply(self):
        frame = build_frame(h("09 00 00 00 00 00 00 00 07 00 00 00 10 00"))
        self.client.exchange(frame, OLD)
        self.assertEqual(self.client.exchange(build_search_request(), OLD)[36], 0x07)

    def test_clock_without_sensor_keeps_unit_zero(self):
        self.client.exchange(build_frame(h("09 00 00 00 00 00 00 01 00 00 00 00 10 00")), NEW)
        self.assertEqual(self.query(NEW, 0x05)[7], 0)

    def test_announcement_is_answered(self):
        self.assertEqual(self.client.exchange(h("51 4B 80 02 0C 01 E5 54"), NEW), b"\x0c\x01")
        self.assertEqual(self.sim.clock_state(NEW)["announcements"], 1)

    def test_refuse_answers_zero_and_keeps_the_settings(self):
        self.sim.control(cmd="faults", clock="old", set={"refuse": True})
        before = self.query(OLD, 0x02)
        self.assertEqual(self.client.exchange(MODIFIES[0][2], OLD), b"\x06\x00")
        self.assertEqual(self.query(OLD, 0x02), before)

    def test_malformed_modifies_are_dropped(self):
        cases = [
            ("basic one byte short", build_frame(b"\x06" + bytes(25))),
            ("NTP names form with address length", build_frame(b"\x07\x01" + bytes(20))),
            ("text of 40 bytes", build_frame(b"\x0B\x00\x00" + bytes(41))),
            ("announcement without its byte", build_frame(b"\x0C")),
        ]
        for name, frame in cases:
            with self.subTest(name):
                self.assertIsNone(self.client.exchange(frame, OLD, timeout=0.3))
                self.assertTrue(self.sim.records()[-1]["results"][OLD].startswith("dropped:"))


class Faults(SimulatorCase):
    def set_faults(self, **switches):
        self.sim.control(cmd="faults", clock=OLD, set=switches)

    def test_drop_first_datagrams(self):
        self.set_faults(dropFirst=2)
        answers = [self.client.exchange(build_query(0x02), OLD, timeout=0.3) for _ in range(3)]
        self.assertEqual([answer is None for answer in answers], [True, True, False])

    def test_silent_clock_is_found_but_answers_nothing_else(self):
        self.set_faults(silent=True)
        self.assertEqual(self.client.exchange(build_search_request(), OLD)[0], 0x01)
        for name, frame in (("query", build_query(0x02)), ("modify", MODIFIES[0][2]),
                            ("announcement", h("51 4B 80 02 0C 01 E5 54"))):
            with self.subTest(name):
                self.assertIsNone(self.client.exchange(frame, OLD, timeout=0.3))
                self.assertEqual(self.sim.records()[-1]["results"][OLD], "dropped: fault silent")
        state = self.sim.clock_state(OLD)
        self.assertEqual((state["modifyCount"], state["announcements"]), ({}, 0))

    def test_late_answer(self):
        self.set_faults(delayMs=400)
        started = time.monotonic()
        self.assertIsNotNone(self.client.exchange(build_query(0x02), OLD, timeout=2.0))
        self.assertGreaterEqual(time.monotonic() - started, 0.4)

    def test_checksum_trailers(self):
        for switch, order in (("crcHighFirst", "high"), ("badCrc", "neither")):
            with self.subTest(switch):
                self.sim.control(cmd="clear-faults")
                self.set_faults(**{switch: True})
                self.client.send(build_query(0x02), OLD)
                datagram, _ = self.client.receive()
                crc = crc16_modbus(datagram[:-2])
                low_first, high_first = bytes((crc & 0xFF, crc >> 8)), bytes((crc >> 8, crc & 0xFF))
                found = {low_first: "low", high_first: "high"}.get(datagram[-2:], "neither")
                self.assertEqual(found, order)

    def test_stray_and_oversize_datagrams_come_first(self):
        self.set_faults(strayBefore=True, oversizeBefore=True)
        self.client.send(build_query(0x02), OLD)
        received = self.client.receive_all()
        self.assertEqual(len(received), 3)
        (stray, stray_source), (oversize, oversize_source), (answer, answer_source) = received
        self.assertEqual(stray_source[0], OLD)
        self.assertNotEqual(stray_source[1], self.sim.port)
        self.assertEqual(reply_payload(stray)[0], 0x0D)
        self.assertEqual((len(oversize), oversize_source), (300, (OLD, self.sim.port)))
        self.assertEqual((reply_payload(answer)[0], answer_source), (0x02, (OLD, self.sim.port)))

    def test_stray_with_given_bytes(self):
        self.set_faults(strayBefore="deadbeef")
        self.client.send(build_query(0x02), OLD)
        self.assertEqual(self.client.receive_all()[0][0], b"\xde\xad\xbe\xef")

    def test_truncated_answer_is_a_valid_short_frame(self):
        self.set_faults(truncatePayload=10)
        payload = self.query(OLD, 0x04)
        self.assertEqual((payload[0], len(payload)), (0x04, 10))

    def test_cli_changes_switches_and_refuses_bad_ones(self):
        result = self.sim.ctl("--clock", "A1B2C3", "faults", "dropFirst=1", "refuse=true")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.sim.clock_state(OLD)["faults"]["refuse"], True)
        self.assertIsNone(self.client.exchange(build_query(0x02), OLD, timeout=0.3))
        cases = [("unknown switch", "nope=1"), ("not a number", "delayMs=soon"), ("not a flag", "refuse=2")]
        for name, argument in cases:
            with self.subTest(name):
                result = self.sim.ctl("faults", argument)
                self.assertEqual(result.returncode, 1)
                self.assertTrue(result.stderr)


class RunTimeChanges(SimulatorCase):
    def test_unsolicited_frames(self):
        destination = "127.0.0.1:%d" % self.client.sock.getsockname()[1]
        self.sim.control(cmd="send", clock=NEW, code="0x0E", to=destination, values=[1, 2, 3, 4], last=5)
        self.sim.control(cmd="send", clock=NEW, code="0x11", to=destination, result=0)
        report, result = [reply_payload(datagram) for datagram, _ in self.client.receive_all()]
        self.assertEqual(report, b"\x0e" + struct.pack(">IIII", 1, 2, 3, 4) + b"\x05")
        self.assertEqual(result, b"\x11\x00")

    def test_set_changes_the_identity(self):
        self.sim.control(cmd="set", clock=OLD, fields={"serial": "CHANGED", "lastSyncTime": 5})
        payload = self.client.exchange(build_search_request(), OLD)
        self.assertEqual((payload[1:8], payload[27:31]), (b"CHANGED", b"\0\0\0\x05"))

    def test_readdress_moves_every_service(self):
        self.sim.control(cmd="readdress", clock="old", ip="127.0.0.9")
        self.assertIsNone(self.client.exchange(build_query(0x02), OLD, timeout=0.3))
        basic = self.client.exchange(build_query(0x02), "127.0.0.9")
        self.assertEqual(basic[3:7], socket.inet_aton("127.0.0.9"))
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as tftp:
            tftp.settimeout(1)
            tftp.sendto(b"\x00\x01/usr/tftpfile/none\x00octet\x00", ("127.0.0.9", self.sim.tftp_port))
            self.assertEqual(tftp.recvfrom(100)[0][:4], b"\x00\x05\x00\x01")

    def test_sighup_applies_the_fault_switches_of_the_config(self):
        changed = json.loads(json.dumps(CONFIG))
        changed["clocks"][0]["faults"] = {"refuse": True}
        self.sim.write_config(changed)
        try:
            self.sim.process.send_signal(signal.SIGHUP)
            deadline = time.monotonic() + 3
            while not self.sim.clock_state(OLD)["faults"]["refuse"] and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(self.client.exchange(MODIFIES[0][2], OLD), b"\x06\x00")
        finally:
            self.sim.write_config(CONFIG)


    def test_set_refuses_what_it_cannot_change(self):
        from csim.control import send_request
        for fields in ({"ip": "127.0.0.8"}, {"faults": {"refuse": True}}, {"colour": "red"}, {"serial": "X" * 21}):
            with self.subTest(fields):
                reply = send_request(self.sim.control_path, {"cmd": "set", "clock": OLD, "fields": fields})
                self.assertFalse(reply["ok"])
        self.assertEqual(self.sim.clock_state(OLD)["serial"], "A1B2C3")


class Records(SimulatorCase):
    def test_each_datagram_is_recorded(self):
        self.client.exchange(build_query(0x05), OLD)
        self.client.send(build_search_request(), BROADCAST)
        self.client.receive_all()
        self.client.send(build_query(0x05)[:-1] + b"\x00", OLD)
        time.sleep(0.2)
        query, search, damaged = self.sim.records()
        client_port = self.client.sock.getsockname()[1]
        self.assertEqual({key: query[key] for key in ("proto", "src", "sport", "dst", "dport", "clock", "code", "hex")},
                         {"proto": "clock", "src": "127.0.0.1", "sport": client_port, "dst": OLD,
                          "dport": self.sim.port, "clock": OLD, "code": 5, "hex": build_query(0x05).hex()})
        self.assertEqual((search["broadcast"], search["clock"], search["clocks"]), (True, None, [OLD, NEW]))
        self.assertEqual(damaged["results"], {OLD: "dropped: bad checksum"})

    def test_probe_port_accepts_for_the_newer_model_only(self):
        with socket.create_connection((NEW, self.sim.probe_port), timeout=1):
            pass
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection((OLD, self.sim.probe_port), timeout=1).close()
        time.sleep(0.2)
        connection = self.sim.records()[-1]
        self.assertEqual((connection["proto"], connection["clock"], connection["dport"]),
                         ("tcp", NEW, self.sim.probe_port))


class Lifecycle(unittest.TestCase):
    def test_terminates_cleanly_and_leaves_the_state(self):
        sim = RunningSim(CONFIG)
        self.assertEqual(sim.stop(), 0)
        self.assertEqual(len(sim.state()["clocks"]), 2)
        self.assertFalse(os.path.exists(sim.control_path))
        sim.remove()

    def test_defaults_apply_to_every_clock_and_clocks_override_them(self):
        config = {"prefix": 8, "defaults": {"firmwareMajor": 3, "basic": {"zoneHours": 5, "hour24": False}},
                  "clocks": [{"ip": OLD, "basic": {"zoneHours": 2}}, {"ip": NEW}]}
        sim = RunningSim(config)
        try:
            old, new = sim.state()["clocks"]
            self.assertEqual((old["firmwareMajor"], old["basic"]["zoneHours"], old["basic"]["hour24"]), (3, 2, False))
            self.assertEqual((new["firmwareMajor"], new["basic"]["zoneHours"], new["text"]["width"]), (3, 5, 64))
        finally:
            sim.stop()
            sim.remove()

    def test_bad_configs_are_refused_with_a_reason(self):
        cases = [
            ("no clocks", {"clocks": []}),
            ("unknown key", {"clocks": [{"ip": OLD, "colour": "red"}]}),
            ("serial too long", {"clocks": [{"ip": OLD, "serial": "X" * 21}]}),
            ("same address twice", {"clocks": [{"ip": OLD}, {"ip": OLD}]}),
            ("bad fault value", {"clocks": [{"ip": OLD, "faults": {"delayMs": -1}}]}),
            ("silent not a flag", {"clocks": [{"ip": OLD, "faults": {"silent": 1}}]}),
            ("negative latency", {"clocks": [{"ip": OLD, "answerLatencyMs": -5}]}),
            ("latency as text", {"defaults": {"modifyLatencyMs": "80"}, "clocks": [{"ip": OLD}]}),
        ]
        for name, config in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "c.json")
                with open(path, "w", encoding="utf-8") as out:
                    json.dump(config, out)
                result = subprocess.run([sys.executable, CLOCKSIM, "--config", path, "--port", "0"],
                                        capture_output=True, text=True, timeout=10)
                self.assertEqual(result.returncode, 2)
                self.assertIn("bad config", result.stderr)


if __name__ == "__main__":
    unittest.main()
