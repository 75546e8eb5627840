"""Clocks that take their time, each on its own, and a state file that keeps up with a site."""

import json
import socket
import time
import unittest

from simclient import LinkClient, RunningSim, reply_payload
from csim.frame import build_frame, build_query, build_search_request

SLOW, FAST = "127.0.0.5", "127.0.0.6"
ANSWER_MS, MODIFY_MS = 150, 250


def basic_modify(ip: str, brightness: int) -> bytes:
    """A basic settings block keeping the clock's address, with the given brightness."""
    return build_frame(bytes((0x06, 0x40, 0x80 | brightness << 3)) + socket.inet_aton(ip) + bytes(20))


class Latencies(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = RunningSim({"prefix": 8, "clocks": [
            {"ip": SLOW, "answerLatencyMs": ANSWER_MS, "modifyLatencyMs": MODIFY_MS},
            {"ip": FAST},
        ]})

    @classmethod
    def tearDownClass(cls):
        status = cls.sim.stop()
        errors = cls.sim.errors()
        cls.sim.remove()
        if status != 0 or "Traceback" in errors:
            raise AssertionError(f"simulator ended with {status}: {errors}")

    def setUp(self):
        self.sim.control(cmd="reset")
        self.sim.clear_records()
        self.client = LinkClient(self.sim.port)

    def tearDown(self):
        self.client.close()

    def timed_answers(self, count: int) -> list:
        """(seconds since now, source address, payload) of the next count answers."""
        started, answers = time.monotonic(), []
        while len(answers) < count:
            received = self.client.receive(2.0)
            self.assertIsNotNone(received, f"only {len(answers)} of {count} answers came")
            answers.append((time.monotonic() - started, received[1][0], reply_payload(received[0])))
        return answers

    def test_each_answer_waits_for_its_latency(self):
        cases = [("search", build_search_request(), ANSWER_MS),
                 ("query", build_query(0x02), ANSWER_MS),
                 ("modify", basic_modify(SLOW, 5), ANSWER_MS + MODIFY_MS)]
        for name, frame, milliseconds in cases:
            with self.subTest(name):
                self.client.send(frame, SLOW)
                [(seconds, _, payload)] = self.timed_answers(1)
                self.assertEqual(payload[0], frame[4])
                self.assertGreaterEqual(seconds, milliseconds / 1000 - 0.01)
                self.assertLess(seconds, milliseconds / 1000 + 0.3)
                result = self.sim.records()[-1]["results"][SLOW]
                self.assertRegex(result, r"^answered after \d+ ms$")

    def test_a_waiting_clock_holds_up_no_other(self):
        self.client.send(basic_modify(SLOW, 5), SLOW)
        self.client.send(build_query(0x02), FAST)
        (fast_seconds, first, _), (slow_seconds, second, _) = self.timed_answers(2)
        self.assertEqual((first, second), (FAST, SLOW))
        self.assertLess(fast_seconds, 0.1)
        self.assertGreaterEqual(slow_seconds, (ANSWER_MS + MODIFY_MS) / 1000 - 0.01)

    def test_requests_to_one_clock_are_answered_in_order_and_see_what_came_before(self):
        self.client.send(basic_modify(SLOW, 7), SLOW)
        self.client.send(build_query(0x02), SLOW)
        self.client.send(build_search_request(), SLOW)
        answers = self.timed_answers(3)
        self.assertEqual([payload[:2] for _, _, payload in answers][:1], [b"\x06\x01"])
        self.assertEqual([payload[0] for _, _, payload in answers], [0x06, 0x02, 0x01])
        self.assertEqual(answers[1][2][2] >> 3 & 7, 7, "the query was answered before the modify was applied")

    def test_silent_clock_with_latency_still_answers_only_the_search(self):
        self.sim.control(cmd="faults", clock=SLOW, set={"silent": True})
        self.client.send(build_query(0x02), SLOW)
        self.client.send(build_search_request(), SLOW)
        [(_, _, payload)] = self.timed_answers(1)
        self.assertEqual(payload[0], 0x01)
        self.assertIsNone(self.client.receive(0.3))


class StateFile(unittest.TestCase):
    """Once a clock's answer to a modify is out, the state file shows the modify."""

    def check_site(self, count: int, modify_ms: int, read_each: bool = True) -> float:
        """Every clock gets a modify at once; each answer is checked against the file as it comes
        (read_each), or the file once after the last answer.

        Returns the seconds from the first modify to the last answer.
        """
        addresses = [f"127.2.{index // 250}.{index % 250 + 1}" for index in range(count)]
        sim = RunningSim({"prefix": 8, "defaults": {"modifyLatencyMs": modify_ms},
                          "clocks": [{"ip": ip} for ip in addresses]})
        client = LinkClient(sim.port)
        client.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        try:
            frames = {ip: basic_modify(ip, 5) for ip in addresses}
            started = time.monotonic()
            for ip in addresses:
                client.send(frames[ip], ip)
            answered = []
            for _ in addresses:
                received = client.receive(5.0)
                self.assertIsNotNone(received, "a clock did not answer its modify")
                answered.append(received[1][0])
                if read_each:
                    self.assert_state_shows(sim, frames, answered[-1:])
            elapsed = time.monotonic() - started
            self.assert_state_shows(sim, frames, answered)
            return elapsed
        finally:
            client.close()
            sim.stop()
            errors = sim.errors()
            sim.remove()
            self.assertNotIn("Traceback", errors)

    def assert_state_shows(self, sim, frames: dict, addresses: list) -> None:
        with open(sim.state_path, encoding="utf-8") as source:
            clocks = {clock["ip"]: clock for clock in json.load(source)["clocks"]}
        for ip in addresses:
            self.assertEqual((clocks[ip]["modifyCount"], clocks[ip]["lastWrite"].get("06")),
                             ({"06": 1}, frames[ip][4:-2].hex()), f"state of {ip} behind its answer")

    def test_answer_sent_means_the_file_shows_it(self):
        for count, modify_ms in ((3, 0), (40, 0), (40, 30)):
            with self.subTest(clocks=count, modify_ms=modify_ms):
                self.check_site(count, modify_ms)

    def test_clocks_applying_modifies_together_share_the_writes(self):
        # One write per modify took seconds for this many clocks.
        elapsed = self.check_site(300, 100, read_each=False)
        self.assertLess(elapsed, 1.5)


if __name__ == "__main__":
    unittest.main()
