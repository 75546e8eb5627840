"""The clock's TFTP server: firmware uploads and log downloads as the tool runs them."""

import hashlib
import os
import struct
import time
import unittest

from simclient import RunningSim, TftpClient

CLOCK = "127.0.0.4"
LOG = b"first line\nsecond line\n"
CONFIG = {"prefix": 8, "clocks": [{"ip": CLOCK, "serial": "TFTP01", "firmwareMajor": 4,
                                   "logs": {"log.txt": LOG.decode(), "sub/a.txt": "in a folder",
                                            "exact.bin": {"hex": "ab" * 1024}}}]}


def opcode_and_number(packet: bytes) -> tuple:
    return struct.unpack(">HH", packet[:4])


class TftpCase(unittest.TestCase):
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
        self.client = TftpClient(CLOCK, self.sim.tftp_port)

    def tearDown(self):
        self.client.close()

    def uploaded(self, name: str) -> bytes:
        with open(os.path.join(self.sim.tftp_root, CLOCK, "upload", name), "rb") as source:
            return source.read()


class Upload(TftpCase):
    def test_write_request_gets_a_plain_ack_from_a_new_port(self):
        self.client.send(self.client.write_request("fw.tar", 1536), self.client.server)
        answer, source = self.client.receive()
        self.assertEqual(answer, b"\x00\x04\x00\x00")
        self.assertEqual(source[0], CLOCK)
        self.assertNotEqual(source[1], self.sim.tftp_port)

    def test_files_are_stored_whole(self):
        cases = [("empty.bin", b""), ("short.bin", bytes(range(256)) * 3 + b"x" * 232),
                 ("two-blocks.tar", b"\x5a" * 1024)]
        for name, content in cases:
            with self.subTest(name):
                _, acknowledged = self.client.upload(name, content)
                blocks = len(content) // 512 + 1
                self.assertEqual(acknowledged, [(4, block) for block in range(blocks + 1)])
                self.assertEqual(self.uploaded(name), content)
                entry = self.sim.clock_state(CLOCK)["uploads"][-1]
                self.assertEqual((entry["name"], entry["complete"], entry["tsizeMatches"], entry["sha256"]),
                                 (name, True, True, hashlib.sha256(content).hexdigest()))

    def test_each_data_block_is_recorded_by_its_header(self):
        self.sim.clear_records()
        self.client.upload("fw.tar", b"\x11" * 1100)
        data = [(line["block"], line["len"], line["hex"], line["result"]) for line in self.sim.records()
                if line["proto"] == "tftp" and line["opcode"] == 3]
        self.assertEqual(data, [(1, 516, "00030001", "acknowledged"), (2, 516, "00030002", "acknowledged"),
                                (3, 80, "00030003", "acknowledged: last block")])

    def test_name_with_separators_stays_inside_the_clock_folder(self):
        self.client.upload("../../evil", b"x")
        self.assertEqual(self.uploaded(".._.._evil"), b"x")

    def test_ack_of_an_earlier_block_once(self):
        self.sim.control(cmd="faults", set={"tftpAckEarlier": 3})
        content = os.urandom(2000)
        _, acknowledged = self.client.upload("fw.bin", content)
        self.assertEqual([number for _, number in acknowledged], [0, 1, 2, 2, 3, 4])
        self.assertEqual(self.uploaded("fw.bin"), content)

    def test_duplicate_block_is_acknowledged_again_and_kept_once(self):
        self.client.send(self.client.write_request("dup.bin", 600), self.client.server)
        _, transfer = self.client.receive()
        for _ in range(2):
            self.client.send(self.client.data(1, b"a" * 512), transfer)
            self.assertEqual(self.client.receive()[0], b"\x00\x04\x00\x01")
        self.client.send(self.client.data(2, b"b" * 88), transfer)
        self.assertEqual(self.client.receive()[0], b"\x00\x04\x00\x02")
        self.assertEqual(self.uploaded("dup.bin"), b"a" * 512 + b"b" * 88)

    def test_silent_clock(self):
        self.sim.control(cmd="faults", set={"tftpSilent": True})
        self.client.send(self.client.write_request("fw.tar", 10), self.client.server)
        self.assertIsNone(self.client.receive(1.2))


class Download(TftpCase):
    def test_logs_are_served(self):
        cases = [("/usr/tftpfile/log.txt", LOG, 1), ("/usr/tftpfile/sub/a.txt", b"in a folder", 1),
                 ("/usr/tftpfile/exact.bin", b"\xab" * 1024, 3)]
        for path, content, packets in cases:
            with self.subTest(path):
                received, replies = self.client.download(path)
                self.assertEqual(received, content)
                self.assertEqual([opcode_and_number(packet) for packet in replies],
                                 [(3, block) for block in range(1, packets + 1)])
                state = self.sim.wait_for_state(
                    CLOCK, lambda clock: clock["downloads"] and clock["downloads"][-1]["complete"])
                self.assertTrue(state["downloads"][-1]["complete"])

    def test_files_that_are_not_logs_get_an_error(self):
        for path in ("/usr/tftpfile/missing.txt", "/etc/passwd", "/usr/tftpfile/../../upload/x",
                     "/usr/tftpfile/sub"):
            with self.subTest(path):
                _, replies = self.client.download(path)
                self.assertEqual(opcode_and_number(replies[0]), (5, 1))

    def test_option_acknowledgement_first(self):
        self.sim.control(cmd="faults", set={"tftpOack": True})
        received, replies = self.client.download("/usr/tftpfile/log.txt")
        self.assertEqual(replies[0], b"\x00\x06tsize\x00%d\x00" % len(LOG))
        self.assertEqual(opcode_and_number(replies[1]), (3, 1))
        self.assertEqual(received, LOG)

    def test_block_is_sent_again_after_a_second_without_ack(self):
        self.client.send(self.client.read_request("/usr/tftpfile/log.txt"), self.client.server)
        first, transfer = self.client.receive()
        started = time.monotonic()
        again, _ = self.client.receive(3)
        self.assertEqual(again, first)
        self.assertGreaterEqual(time.monotonic() - started, 0.8)
        self.client.send(self.client.ack(1), transfer)

    def test_packet_from_another_port_gets_unknown_transfer_id(self):
        self.client.send(self.client.read_request("/usr/tftpfile/log.txt"), self.client.server)
        _, transfer = self.client.receive()
        stranger = TftpClient(CLOCK, self.sim.tftp_port)
        try:
            stranger.send(stranger.ack(1), transfer)
            self.assertEqual(opcode_and_number(stranger.receive()[0]), (5, 5))
        finally:
            stranger.close()
        self.client.send(self.client.ack(1), transfer)


if __name__ == "__main__":
    unittest.main()
