"""Configs of whole sites: what scaleconfig.py prints."""

import contextlib
import io
import ipaddress
import unittest

import simclient  # noqa: F401  (puts csim and the scripts on the path)
import scaleconfig
from scaleconfig import scale_config


class ScaleConfig(unittest.TestCase):
    def test_without_options_the_clocks_are_consecutive_as_before(self):
        self.assertEqual(scale_config(2), {"clocks": [
            {"name": "s1", "ip": "10.213.1.1", "serial": "SCALE00001", "firmwareMajor": 4},
            {"name": "s2", "ip": "10.213.1.2", "serial": "SCALE00002", "firmwareMajor": 4},
        ]})

    def test_latencies_and_prefix_go_to_the_top(self):
        config = scale_config(3, prefix=20, answer_latency_ms=2.5, modify_latency_ms=80)
        self.assertEqual((config["prefix"], config["defaults"]), (20, {"answerLatencyMs": 2.5, "modifyLatencyMs": 80}))

    def test_fault_shares_are_disjoint_rounded_and_seeded(self):
        cases = [(1000, 0.05, 0.1), (250, 0.5, 0.5), (7, 0.25, 0.0), (3, 0.0, 1.0)]
        for count, silent_share, drop_share in cases:
            with self.subTest(count=count, silent=silent_share, drop=drop_share):
                def faulty(seed: int) -> tuple:
                    clocks = scale_config(count, silent_share=silent_share, drop_first_share=drop_share,
                                          seed=seed)["clocks"]
                    silent = {c["ip"] for c in clocks if c.get("faults") == {"silent": True}}
                    dropping = {c["ip"] for c in clocks if c.get("faults") == {"dropFirst": 1}}
                    others = [c for c in clocks if "faults" in c and c["ip"] not in silent | dropping]
                    self.assertEqual(others, [])
                    return silent, dropping

                silent, dropping = faulty(1)
                self.assertEqual((len(silent), len(dropping)), (round(silent_share * count), round(drop_share * count)))
                self.assertEqual(silent & dropping, set())
                self.assertEqual(faulty(1), (silent, dropping))
        self.assertNotEqual(scale_config(1000, silent_share=0.1)["clocks"],
                            scale_config(1000, silent_share=0.1, seed=2)["clocks"])

    def test_spread_covers_the_network_evenly_and_keeps_its_edges_free(self):
        cases = [(1000, "10.220.0.0/16"), (250, "10.221.0.0/22"), (252, "192.168.7.0/24"), (1, "10.9.0.0/29")]
        for count, cidr in cases:
            with self.subTest(cidr=cidr, count=count):
                config = scale_config(count, spread_over=cidr)
                network = ipaddress.IPv4Network(cidr)
                addresses = [int(ipaddress.IPv4Address(clock["ip"])) for clock in config["clocks"]]
                self.assertEqual(config["prefix"], network.prefixlen)
                self.assertEqual(addresses, sorted(set(addresses)))
                self.assertGreaterEqual(addresses[0], int(network.network_address) + 2)
                self.assertLessEqual(addresses[-1], int(network.broadcast_address) - 2)
                gaps = {b - a for a, b in zip(addresses, addresses[1:])}
                self.assertLessEqual(max(gaps, default=0) - min(gaps, default=0), 1)
                # The clocks span the network, not just its start.
                self.assertGreater(addresses[-1] - addresses[0], (network.num_addresses - 4) * (count - 1) / count - 2)

    def test_impossible_requests_are_refused(self):
        cases = [("more clocks than the network holds", dict(count=253, spread_over="10.0.0.0/24")),
                 ("share above one", dict(count=10, silent_share=1.5)),
                 ("shares together above all clocks", dict(count=10, silent_share=0.6, drop_first_share=0.5)),
                 ("network given with host bits", dict(count=10, spread_over="10.0.0.1/24"))]
        for name, arguments in cases:
            with self.subTest(name), self.assertRaises(ValueError):
                scale_config(**arguments)
        with contextlib.redirect_stderr(io.StringIO()) as errors:
            self.assertEqual(scaleconfig.main(["--count", "300", "--spread-over", "10.0.0.0/24"]), 2)
        self.assertIn("room for 252 clocks", errors.getvalue())


if __name__ == "__main__":
    unittest.main()
