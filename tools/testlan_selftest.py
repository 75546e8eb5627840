#!/usr/bin/env python3
"""End-to-end check of testlan.sh: two clocks on a LAN of namespaces, a LAN in scale mode, a routed site.

Needs root and network namespaces; without them it prints why and exits 77,
which CTest reports as skipped. Run inside the tool's namespace with --search,
--probe, --tftp or --sweep, it is also the small client that the checks use there.
"""

import ipaddress
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

TOOLS = os.path.dirname(os.path.abspath(__file__))
TESTLAN = os.path.join(TOOLS, "testlan.sh")
sys.path.insert(0, os.path.join(TOOLS, "clocksim"))
sys.path.insert(0, os.path.join(TOOLS, "clocksim", "tests"))

from csim.frame import build_search_request  # noqa: E402
from scaleconfig import scale_config  # noqa: E402
from simclient import TftpClient, reply_payload  # noqa: E402

SKIP = 77
BROADCAST, TOOL_IP = "10.213.255.255", "10.213.0.1"
OLD_IP, NEW_IP, MOVED_IP = "10.213.0.10", "10.213.0.11", "10.213.0.99"
LOG = "first line\nsecond line\n"
CONFIG = {"clocks": [
    {"name": "c1", "ip": OLD_IP, "serial": "OLD0001", "firmwareMajor": 1},
    {"name": "c2", "ip": NEW_IP, "serial": "NEW0002", "firmwareMajor": 4, "logs": {"log.txt": LOG}},
]}
SCALE_COUNT = 50
ROUTER_IP = "10.213.0.254"
ROUTED_SUBNET = "10.220.0.0/16"
ROUTED_COUNT = 250
# A tool looking for clocks behind a router sends to every address of their subnet.
SWEEP_PER_SECOND = 10000


# --- the client side, run inside the tool's namespace ---------------------------------

def search(address: str) -> list:
    """Sends one search request from port 7000 and lists who answered, as the tool would."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        sock.bind(("0.0.0.0", 7000))
        sock.sendto(build_search_request(), (address, 7000))
        sock.settimeout(1.0)
        answers = []
        try:
            while True:
                datagram, source = sock.recvfrom(512)
                if source[0] != TOOL_IP:
                    serial = reply_payload(datagram)[1:21].rstrip(b"\0").decode()
                    answers.append([source[0], source[1], serial])
        except socket.timeout:
            return answers


def probe(address: str) -> str:
    try:
        socket.create_connection((address, 22), timeout=0.5).close()
        return "accepted"
    except ConnectionRefusedError:
        return "refused"
    except OSError as error:
        return f"error: {error}"


def tftp(address: str) -> dict:
    client = TftpClient(address, 69, local=TOOL_IP)
    try:
        transfer, _ = client.upload("fw.tar", b"\x42" * 1000)
        log, _ = client.download("/usr/tftpfile/log.txt")
        return {"transferPort": transfer[1], "log": log.decode()}
    finally:
        client.close()


def sweep(cidr: str) -> list:
    """A search to every address of the network at SWEEP_PER_SECOND; the addresses that answered."""
    network = ipaddress.IPv4Network(cidr)
    request = build_search_request()
    answered = set()
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        sock.bind(("0.0.0.0", 7000))
        sock.setblocking(False)

        def drain():
            while True:
                try:
                    _, source = sock.recvfrom(512)
                except BlockingIOError:
                    return
                except OSError:
                    continue
                answered.add(source[0])

        started = time.monotonic()
        for sent, address in enumerate(network.hosts()):
            while sent > (time.monotonic() - started) * SWEEP_PER_SECOND:
                drain()
                time.sleep(0.001)
            try:
                sock.sendto(request, (str(address), 7000))
            except OSError:
                pass
        # Late answers: the router resolves a clock's address before forwarding to it.
        quiet_until = time.monotonic() + 2.0
        while time.monotonic() < quiet_until:
            drain()
            time.sleep(0.01)
    return sorted(answered)


CLIENT_MODES = {"--search": search, "--probe": probe, "--tftp": tftp, "--sweep": sweep}


# --- the checks, run by root on the host --------------------------------------------------

def testlan(prefix: str, *args, check: bool = True, env: dict | None = None) -> subprocess.CompletedProcess:
    result = subprocess.run([TESTLAN, "--prefix", prefix, *args], capture_output=True, text=True, timeout=180,
                            env=env)
    if check and result.returncode != 0:
        raise AssertionError(f"testlan.sh {' '.join(args)}: status {result.returncode}\n{result.stderr}")
    return result


def in_tool_namespace(prefix: str, mode: str, argument: str):
    result = testlan(prefix, "exec", sys.executable, os.path.abspath(__file__), mode, argument)
    return json.loads(result.stdout)


def namespaces_of(prefix: str) -> list:
    listing = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True, check=True).stdout
    return [line.split()[0] for line in listing.splitlines() if line.startswith(f"{prefix}-")]


class LanCase(unittest.TestCase):
    prefix = ""
    mode = ()

    @classmethod
    def config(cls) -> dict:
        return CONFIG

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="testlan-selftest-")
        os.environ["TESTLAN_RUN"] = os.path.join(cls.folder.name, "run")
        config_path = os.path.join(cls.folder.name, "clocks.json")
        with open(config_path, "w", encoding="utf-8") as out:
            json.dump(cls.config(), out)
        try:
            testlan(cls.prefix, "up", *cls.mode, config_path)
        except BaseException:
            testlan(cls.prefix, "down", check=False)
            raise

    @classmethod
    def tearDownClass(cls):
        testlan(cls.prefix, "down")
        leftovers = namespaces_of(cls.prefix)
        cls.folder.cleanup()
        del os.environ["TESTLAN_RUN"]
        if leftovers:
            raise AssertionError(f"namespaces left after down: {leftovers}")


class TwoClocks(LanCase):
    prefix = f"st{os.getpid() % 100000}"

    def clock_mac(self, name: str) -> str:
        return testlan(self.prefix, "clock-exec", name, "cat", "/sys/class/net/eth0/address").stdout.strip()

    def test_broadcast_search_is_answered_by_both_clocks_and_arp_learns_their_macs(self):
        answers = in_tool_namespace(self.prefix, "--search", BROADCAST)
        self.assertEqual(sorted(answers), [[OLD_IP, 7000, "OLD0001"], [NEW_IP, 7000, "NEW0002"]])
        neighbours = json.loads(testlan(self.prefix, "exec", "ip", "-j", "neigh", "show", "dev", "eth0").stdout)
        learnt = {entry["dst"]: entry.get("lladdr") for entry in neighbours}
        self.assertEqual(learnt.get(OLD_IP), self.clock_mac("c1"))
        self.assertEqual(learnt.get(NEW_IP), self.clock_mac("c2"))

    def test_port_22_tells_the_models_apart(self):
        self.assertEqual(in_tool_namespace(self.prefix, "--probe", NEW_IP), "accepted")
        self.assertEqual(in_tool_namespace(self.prefix, "--probe", OLD_IP), "refused")

    def test_tftp_on_port_69(self):
        result = in_tool_namespace(self.prefix, "--tftp", NEW_IP)
        self.assertNotEqual(result["transferPort"], 69)
        self.assertEqual(result["log"], LOG)

    def test_the_lan_has_no_way_out(self):
        routes = testlan(self.prefix, "exec", "ip", "-4", "route", "show", "table", "all").stdout
        self.assertNotIn("default", routes)
        links = testlan(self.prefix, "exec", "ip", "-br", "link").stdout.splitlines()
        self.assertEqual(sorted(line.split()[0].split("@")[0] for line in links), ["eth0", "lo"])

    def test_z_readdress(self):
        testlan(self.prefix, "readdress", "c1", MOVED_IP)
        self.assertEqual(in_tool_namespace(self.prefix, "--search", MOVED_IP), [[MOVED_IP, 7000, "OLD0001"]])
        self.assertEqual(in_tool_namespace(self.prefix, "--search", OLD_IP), [])

    def test_records_show_what_the_tool_sent(self):
        in_tool_namespace(self.prefix, "--search", NEW_IP)
        info = testlan(self.prefix, "info").stdout
        record_path = next(line for line in info.splitlines() if line.startswith("clock c2")).split(
            "record=")[1].split()[0]
        with open(record_path, encoding="utf-8") as source:
            last = [json.loads(line) for line in source if '"proto": "clock"' in line][-1]
        self.assertEqual((last["src"], last["sport"], last["dst"], last["hex"]),
                         (TOOL_IP, 7000, NEW_IP, build_search_request().hex()))


class ScaleMode(LanCase):
    prefix = f"sc{os.getpid() % 100000}"
    mode = ("--scale",)

    @classmethod
    def config(cls) -> dict:
        return {"clocks": [{"name": f"s{index}", "ip": f"10.213.1.{index}", "serial": f"SCALE{index:03d}"}
                           for index in range(1, SCALE_COUNT + 1)]}

    def test_every_address_answers_a_broadcast_from_itself(self):
        answers = in_tool_namespace(self.prefix, "--search", BROADCAST)
        self.assertEqual(sorted((ip, serial) for ip, _, serial in answers),
                         sorted((f"10.213.1.{index}", f"SCALE{index:03d}") for index in range(1, SCALE_COUNT + 1)))


class RoutedSite(LanCase):
    prefix = f"rt{os.getpid() % 100000}"
    mode = ("--scale", "--routed")

    @classmethod
    def config(cls) -> dict:
        return scale_config(ROUTED_COUNT, spread_over=ROUTED_SUBNET)

    def test_unicast_search_crosses_the_router(self):
        clock = self.config()["clocks"][-1]
        self.assertEqual(in_tool_namespace(self.prefix, "--search", clock["ip"]),
                         [[clock["ip"], 7000, clock["serial"]]])

    def test_a_broadcast_stays_on_the_lan(self):
        self.assertEqual(in_tool_namespace(self.prefix, "--search", BROADCAST), [])

    def test_sweep_of_the_whole_subnet_finds_every_clock(self):
        answered = in_tool_namespace(self.prefix, "--sweep", ROUTED_SUBNET)
        self.assertEqual(answered, sorted(clock["ip"] for clock in self.config()["clocks"]))

    def test_the_tool_reaches_only_the_clocks_subnet_through_the_router(self):
        routes = testlan(self.prefix, "exec", "ip", "-4", "route", "show", "table", "all").stdout
        self.assertNotIn("default", routes)
        self.assertIn(f"{ROUTED_SUBNET} via {ROUTER_IP} dev eth0", routes)
        info = testlan(self.prefix, "info").stdout
        self.assertIn(f"TESTLAN_ROUTER_NS={self.prefix}-rt", info)
        self.assertIn("TESTLAN_CLOCK_GATEWAY=10.220.255.254", info)


class WithLan(unittest.TestCase):
    def test_status_of_the_command_and_nothing_left_behind(self):
        routed = scale_config(3, spread_over="10.222.0.0/24")
        cases = [("one namespace per clock", CONFIG, [], "10.213.0.1/16"),
                 ("routed site", routed, ["--scale", "--routed"], f"10.222.0.0/24 via {ROUTER_IP}")]
        for name, config, mode, shown in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                prefix = f"wl{os.getpid() % 100000}"
                config_path = os.path.join(folder, "clocks.json")
                with open(config_path, "w", encoding="utf-8") as out:
                    json.dump(config, out)
                result = testlan(prefix, "with-lan", *mode, config_path, "--", "sh", "-c",
                                 "ip -br addr show eth0; ip route; exit 3",
                                 check=False, env=dict(os.environ, TESTLAN_RUN=os.path.join(folder, "run")))
                self.assertEqual(result.returncode, 3, result.stderr)
                self.assertIn(shown, result.stdout)
                self.assertEqual(namespaces_of(prefix), [])

    def test_routed_site_on_the_lans_subnet_is_refused(self):
        prefix = f"rf{os.getpid() % 100000}"
        with tempfile.TemporaryDirectory() as folder:
            config_path = os.path.join(folder, "clocks.json")
            with open(config_path, "w", encoding="utf-8") as out:
                json.dump(scale_config(3, spread_over="10.213.8.0/24"), out)
            result = testlan(prefix, "up", "--scale", "--routed", config_path, check=False,
                             env=dict(os.environ, TESTLAN_RUN=os.path.join(folder, "run")))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("overlaps the tool's LAN 10.213.0.0/16", result.stderr)
        self.assertEqual(namespaces_of(prefix), [])


def skip_reason() -> str | None:
    if os.geteuid() != 0:
        return "needs root to build the test LAN"
    try:
        result = subprocess.run([TESTLAN, "--prefix", f"ck{os.getpid() % 100000}", "check"],
                                capture_output=True, text=True, timeout=60)
    except OSError as error:
        return f"cannot run testlan.sh: {error}"
    if result.returncode == SKIP:
        return result.stderr.strip()
    return None


def main() -> int:
    if len(sys.argv) == 3 and sys.argv[1] in CLIENT_MODES:
        print(json.dumps(CLIENT_MODES[sys.argv[1]](sys.argv[2])))
        return 0
    reason = skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        return SKIP
    started = time.monotonic()
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    outcome = unittest.TextTestRunner(verbosity=2).run(suite)
    print(f"test LAN self-test took {time.monotonic() - started:.1f} s")
    return 0 if outcome.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
