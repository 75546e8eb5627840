#!/usr/bin/env python3
"""Splits a simulator config into the test LAN's simulators, one per clock namespace.

  lanplan.py CONFIG RUNDIR [--scale [--routed]]

Writes RUNDIR/SIM.json for each simulator and prints one line per clock,
"NAME IP MAC SIM", for testlan.sh. In scale mode every clock goes to the one
simulator "scale", whose namespace holds all their addresses on one interface.

A routed site has its clocks on a subnet of their own, given by the config's
addresses and "prefix", behind a router whose leg on that subnet takes its
last host address. The subnet must stay clear of the LAN's 10.213.0.0/16 and
of the router's address. RUNDIR/site.txt then tells testlan.sh the subnet,
its prefix length and the router's address there, one "KEY VALUE" a line.
"""

import argparse
import ipaddress
import json
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from csim.sim import load_config  # noqa: E402

SUBNET = ipaddress.IPv4Network("10.213.0.0/16")
TOOL_IP = ipaddress.IPv4Address("10.213.0.1")
DEFAULT_PREFIX = 24
SCALE_SIM = "scale"
SCALE_MAC = "02:13:ff:00:00:01"
NAME_PATTERN = re.compile(r"^[A-Za-z0-9_]{1,24}$")


class PlanError(ValueError):
    pass


def clock_mac(address: ipaddress.IPv4Address) -> str:
    """Locally administered and fixed per address, so a test knows each clock's MAC beforehand."""
    return "02:13:" + ":".join(f"{byte:02x}" for byte in address.packed)


class Site:
    """Where the clocks live: the LAN's own subnet, or a subnet of their own behind a router."""

    def __init__(self, subnet: ipaddress.IPv4Network, router: ipaddress.IPv4Address | None = None):
        self.subnet, self.router = subnet, router

    @classmethod
    def lan(cls) -> "Site":
        return cls(SUBNET)

    @classmethod
    def routed(cls, config: dict, entries: list) -> "Site":
        """The subnet of the config's first clock; the router takes its last host address."""
        prefix = config.get("prefix", DEFAULT_PREFIX)
        try:
            subnet = ipaddress.IPv4Interface(f"{entries[0].get('ip', '')}/{int(prefix)}").network
        except (TypeError, ValueError) as error:
            raise PlanError(f"first clock and prefix {prefix!r} give no subnet: {error}") from error
        if subnet.prefixlen > 30:
            raise PlanError(f"prefix {subnet.prefixlen}: a routed site needs room for clocks and a router (up to /30)")
        if subnet.overlaps(SUBNET):
            raise PlanError(f"the clocks' subnet {subnet} overlaps the tool's LAN {SUBNET}: "
                            "a routed site needs addresses of its own")
        if not subnet.is_private or subnet.is_loopback or subnet.is_link_local:
            raise PlanError(f"the clocks' subnet {subnet} must be a private network "
                            "(it stays inside the test LAN but must not shadow real addresses)")
        return cls(subnet, subnet.broadcast_address - 1)

    def check(self, address: ipaddress.IPv4Address) -> None:
        subnet = self.subnet
        if self.router is None:
            if address not in subnet or address in (TOOL_IP, subnet.network_address, subnet.broadcast_address):
                raise PlanError(f"{address} is not a clock address of {subnet} (the tool has {TOOL_IP})")
            return
        if address not in subnet or address in (subnet.network_address, subnet.broadcast_address):
            raise PlanError(f"{address} is not a clock address of the routed site {subnet} "
                            "(all clocks share the subnet of the first clock and the config's prefix)")
        if address == self.router:
            raise PlanError(f"{address} is the router's address on {subnet}, the subnet's last host")

    def describe(self) -> str:
        return f"subnet {self.subnet}\nprefix {self.subnet.prefixlen}\nrouter {self.router}\n"


def checked_address(text: str, taken: set, site: Site) -> ipaddress.IPv4Address:
    address = ipaddress.IPv4Address(text)
    site.check(address)
    if address in taken:
        raise PlanError(f"two clocks at {address}")
    taken.add(address)
    return address


def with_gateway(entry: dict, router: ipaddress.IPv4Address) -> dict:
    """A clock behind a router is set up to use it, unless the config says otherwise."""
    basic = entry.get("basic", {})
    if not isinstance(basic, dict) or "hex" in basic or "gateway" in basic:
        return entry
    return dict(entry, basic={**basic, "gateway": str(router)})


def planned_clocks(entries: list, scale: bool, site: Site | None = None) -> list:
    site = site or Site.lan()
    taken, names, planned = set(), set(), []
    for position, entry in enumerate(entries):
        name = str(entry.get("name", f"c{position + 1}"))
        if not NAME_PATTERN.match(name) or name in names or name == SCALE_SIM:
            raise PlanError(f"clock name {name!r}: letters, digits and _, unique, not {SCALE_SIM!r}")
        names.add(name)
        address = checked_address(str(entry.get("ip", "")), taken, site)
        mac = SCALE_MAC if scale else str(entry.get("mac", clock_mac(address)))
        if site.router is not None:
            entry = with_gateway(entry, site.router)
        planned.append(dict(entry, name=name, ip=str(address), mac=mac, prefix=site.subnet.prefixlen))
    return planned


def write_sim_config(run_dir: str, sim: str, config: dict, clocks: list) -> None:
    sim_config = {"prefix": clocks[0]["prefix"], "clocks": clocks}
    if "broadcastSpreadMs" in config:
        sim_config["broadcastSpreadMs"] = config["broadcastSpreadMs"]
    with open(os.path.join(run_dir, f"{sim}.json"), "w", encoding="utf-8") as out:
        json.dump(sim_config, out, indent=1)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("config")
    parser.add_argument("run_dir")
    parser.add_argument("--scale", action="store_true")
    parser.add_argument("--routed", action="store_true", help="the clocks on a subnet of their own behind a router")
    options = parser.parse_args(argv)
    if options.routed and not options.scale:
        print("lanplan: --routed needs --scale (all clocks in one namespace behind the router)", file=sys.stderr)
        return 2
    try:
        config, entries = load_config(options.config)
        site = Site.routed(config, entries) if options.routed else Site.lan()
        clocks = planned_clocks(entries, options.scale, site)
    except (OSError, ValueError) as error:
        print(f"lanplan: {options.config}: {error}", file=sys.stderr)
        return 2
    if options.routed:
        with open(os.path.join(options.run_dir, "site.txt"), "w", encoding="utf-8") as out:
            out.write(site.describe())
    if options.scale:
        write_sim_config(options.run_dir, SCALE_SIM, config, clocks)
    for clock in clocks:
        sim = SCALE_SIM if options.scale else clock["name"]
        if not options.scale:
            write_sim_config(options.run_dir, sim, config, [clock])
        print(clock["name"], clock["ip"], clock["mac"], sim)
    return 0


if __name__ == "__main__":
    sys.exit(main())
