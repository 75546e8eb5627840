#!/usr/bin/env python3
"""Splits a simulator config into the test LAN's simulators, one per clock namespace.

  lanplan.py CONFIG RUNDIR [--scale]

Writes RUNDIR/SIM.json for each simulator and prints one line per clock,
"NAME IP MAC SIM", for testlan.sh. In scale mode every clock goes to the one
simulator "scale", whose namespace holds all their addresses on one interface.
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
SCALE_SIM = "scale"
SCALE_MAC = "02:13:ff:00:00:01"
NAME_PATTERN = re.compile(r"^[A-Za-z0-9_]{1,24}$")


class PlanError(ValueError):
    pass


def clock_mac(address: ipaddress.IPv4Address) -> str:
    """Locally administered and fixed per address, so a test knows each clock's MAC beforehand."""
    return "02:13:" + ":".join(f"{byte:02x}" for byte in address.packed)


def checked_address(text: str, taken: set) -> ipaddress.IPv4Address:
    address = ipaddress.IPv4Address(text)
    if address not in SUBNET or address in (TOOL_IP, SUBNET.network_address, SUBNET.broadcast_address):
        raise PlanError(f"{address} is not a clock address of {SUBNET} (the tool has {TOOL_IP})")
    if address in taken:
        raise PlanError(f"two clocks at {address}")
    taken.add(address)
    return address


def planned_clocks(entries: list, scale: bool) -> list:
    taken, names, planned = set(), set(), []
    for position, entry in enumerate(entries):
        name = str(entry.get("name", f"c{position + 1}"))
        if not NAME_PATTERN.match(name) or name in names or name == SCALE_SIM:
            raise PlanError(f"clock name {name!r}: letters, digits and _, unique, not {SCALE_SIM!r}")
        names.add(name)
        address = checked_address(str(entry.get("ip", "")), taken)
        mac = SCALE_MAC if scale else str(entry.get("mac", clock_mac(address)))
        planned.append(dict(entry, name=name, ip=str(address), mac=mac, prefix=SUBNET.prefixlen))
    return planned


def write_sim_config(run_dir: str, sim: str, config: dict, clocks: list) -> None:
    sim_config = {"prefix": SUBNET.prefixlen, "clocks": clocks}
    if "broadcastSpreadMs" in config:
        sim_config["broadcastSpreadMs"] = config["broadcastSpreadMs"]
    with open(os.path.join(run_dir, f"{sim}.json"), "w", encoding="utf-8") as out:
        json.dump(sim_config, out, indent=1)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("config")
    parser.add_argument("run_dir")
    parser.add_argument("--scale", action="store_true")
    options = parser.parse_args(argv)
    try:
        config, entries = load_config(options.config)
        clocks = planned_clocks(entries, options.scale)
    except (OSError, ValueError) as error:
        print(f"lanplan: {options.config}: {error}", file=sys.stderr)
        return 2
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
