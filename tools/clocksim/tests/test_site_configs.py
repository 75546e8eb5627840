"""Configs of whole sites: what scaleconfig.py prints and how lanplan.py places a routed site."""

import contextlib
import io
import ipaddress
import json
import os
import tempfile
import unittest

import simclient  # noqa: F401  (puts csim and the scripts on the path)
import lanplan
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


class RoutedPlan(unittest.TestCase):
    def plan(self, config: dict, *options) -> tuple:
        """lanplan's status, its standard error and the files it wrote."""
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "site.json")
            with open(path, "w", encoding="utf-8") as out:
                json.dump(config, out)
            errors, printed = io.StringIO(), io.StringIO()
            with contextlib.redirect_stderr(errors), contextlib.redirect_stdout(printed):
                status = lanplan.main([path, folder, *options])
            written = {}
            for name in ("site.txt", "scale.json"):
                if os.path.exists(os.path.join(folder, name)):
                    with open(os.path.join(folder, name), encoding="utf-8") as source:
                        written[name] = source.read()
        return status, errors.getvalue(), written

    def test_site_behind_a_router(self):
        status, errors, written = self.plan(scale_config(1000, spread_over="10.220.0.0/16"), "--scale", "--routed")
        self.assertEqual(status, 0, errors)
        self.assertEqual(written["site.txt"], "subnet 10.220.0.0/16\nprefix 16\nrouter 10.220.255.254\n")
        clocks = json.loads(written["scale.json"])["clocks"]
        self.assertEqual({(clock["prefix"], clock["basic"]["gateway"]) for clock in clocks}, {(16, "10.220.255.254")})

    def test_sites_the_router_cannot_serve_are_refused(self):
        def clocks(*addresses, prefix=24):
            return {"prefix": prefix, "clocks": [{"ip": address} for address in addresses]}

        cases = [
            ("on the LAN's subnet", clocks("10.213.5.1", "10.213.5.2"), "overlaps the tool's LAN"),
            ("a subnet holding the LAN", clocks("10.0.0.5", prefix=8), "overlaps the tool's LAN"),
            ("on the router's address", clocks("10.9.0.5", "10.9.0.254"), "router's address"),
            ("outside the first clock's subnet", clocks("10.9.0.5", "10.9.1.5"), "not a clock address"),
            ("on the subnet's broadcast address", clocks("10.9.0.5", "10.9.0.255"), "not a clock address"),
            ("no room for a router", clocks("10.9.0.5", prefix=31), "up to /30"),
            ("public addresses", clocks("8.8.8.8"), "private network"),
        ]
        for name, config, reason in cases:
            with self.subTest(name):
                status, errors, written = self.plan(config, "--scale", "--routed")
                self.assertEqual(status, 2)
                self.assertIn(reason, errors)
                self.assertNotIn("site.txt", written)

    def test_routed_needs_scale(self):
        status, errors, _ = self.plan({"prefix": 24, "clocks": [{"ip": "10.9.0.5"}]}, "--routed")
        self.assertEqual(status, 2)
        self.assertIn("--routed needs --scale", errors)


if __name__ == "__main__":
    unittest.main()
