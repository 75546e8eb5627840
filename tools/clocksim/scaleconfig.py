#!/usr/bin/env python3
"""Prints a config of many clocks, for the test LAN's scale mode.

  scaleconfig.py --count 1000 [--first-ip 10.213.1.1 | --spread-over CIDR] [--prefix N]
                 [--firmware-major 4] [--spread-ms 0] [--answer-latency-ms MS] [--modify-latency-ms MS]
                 [--silent-share F] [--drop-first-share F] [--seed N]

Clocks sit at consecutive addresses from --first-ip, or evenly spread over
the network --spread-over (never its network or broadcast address, nor its
first or last host: the usual addresses of the tool and of a router). The
shares pick round(F * count) clocks by a seeded draw, the same clocks for the
same seed: --silent-share gets the fault "silent", --drop-first-share
"dropFirst": 1, never both on one clock.
"""

import argparse
import ipaddress
import json
import random
import sys


class ScaleError(ValueError):
    pass


def consecutive_addresses(count: int, first_ip: str) -> list:
    first = ipaddress.IPv4Address(first_ip)
    if int(first) + count - 1 > int(ipaddress.IPv4Address("255.255.255.255")):
        raise ScaleError(f"{count} addresses from {first} run past 255.255.255.255")
    return [str(first + index) for index in range(count)]


def spread_addresses(count: int, cidr: str) -> list:
    """count addresses at even steps over the network's hosts, leaving out its first and last host."""
    network = ipaddress.IPv4Network(cidr, strict=True)
    first = int(network.network_address) + 2
    room = network.num_addresses - 4
    if count > room:
        raise ScaleError(f"{network} has room for {max(room, 0)} clocks (its first and last host are kept free)")
    return [str(ipaddress.IPv4Address(first + index * room // count)) for index in range(count)]


def fault_shares(count: int, silent_share: float, drop_first_share: float, seed: int) -> dict:
    """Position of each chosen clock -> its faults."""
    for name, share in (("--silent-share", silent_share), ("--drop-first-share", drop_first_share)):
        if not 0 <= share <= 1:
            raise ScaleError(f"{name} {share}: a share from 0 to 1")
    silent, dropping = round(silent_share * count), round(drop_first_share * count)
    if silent + dropping > count:
        raise ScaleError(f"{silent} silent and {dropping} dropping clocks do not fit {count} clocks")
    chosen = random.Random(seed).sample(range(count), silent + dropping)
    faults = {position: {"silent": True} for position in chosen[:silent]}
    faults.update({position: {"dropFirst": 1} for position in chosen[silent:]})
    return faults


def whole_if_whole(value: float):
    return int(value) if float(value).is_integer() else value


def scale_config(count: int, first_ip: str = "10.213.1.1", firmware_major: int = 4, spread_ms: float = 0.0, *,
                 spread_over: str | None = None, prefix: int | None = None, answer_latency_ms: float | None = None,
                 modify_latency_ms: float | None = None, silent_share: float = 0.0, drop_first_share: float = 0.0,
                 seed: int = 1) -> dict:
    if count < 1:
        raise ScaleError("--count: at least one clock")
    addresses = spread_addresses(count, spread_over) if spread_over else consecutive_addresses(count, first_ip)
    if prefix is None and spread_over:
        prefix = ipaddress.IPv4Network(spread_over).prefixlen
    faults = fault_shares(count, silent_share, drop_first_share, seed)
    clocks = []
    for index, address in enumerate(addresses):
        clock = {"name": f"s{index + 1}", "ip": address, "serial": f"SCALE{index + 1:05d}",
                 "firmwareMajor": firmware_major}
        if index in faults:
            clock["faults"] = faults[index]
        clocks.append(clock)
    config = {"clocks": clocks}
    if prefix is not None:
        if not 0 < prefix <= 30:
            raise ScaleError(f"--prefix {prefix}: 1 to 30")
        config["prefix"] = prefix
    if spread_ms > 0:
        config["broadcastSpreadMs"] = spread_ms
    defaults = {key: whole_if_whole(value) for key, value in (("answerLatencyMs", answer_latency_ms),
                                                              ("modifyLatencyMs", modify_latency_ms))
                if value is not None}
    if defaults:
        config["defaults"] = defaults
    return config


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, required=True)
    place = parser.add_mutually_exclusive_group()
    place.add_argument("--first-ip", default="10.213.1.1", help="first of consecutive addresses (10.213.1.1)")
    place.add_argument("--spread-over", metavar="CIDR", help="spread the clocks evenly over this network")
    parser.add_argument("--prefix", type=int, help="the config's prefix (default: that of --spread-over, else none)")
    parser.add_argument("--firmware-major", type=int, default=4)
    parser.add_argument("--spread-ms", type=float, default=0.0, help="spread of the answers to a broadcast")
    parser.add_argument("--answer-latency-ms", type=float, help="answerLatencyMs of every clock")
    parser.add_argument("--modify-latency-ms", type=float, help="modifyLatencyMs of every clock")
    parser.add_argument("--silent-share", type=float, default=0.0, help="share of clocks with the fault silent")
    parser.add_argument("--drop-first-share", type=float, default=0.0, help="share of clocks with dropFirst 1")
    parser.add_argument("--seed", type=int, default=1, help="seed of the draw of the faulty clocks (1)")
    options = parser.parse_args(argv)
    try:
        config = scale_config(options.count, options.first_ip, options.firmware_major, options.spread_ms,
                              spread_over=options.spread_over, prefix=options.prefix,
                              answer_latency_ms=options.answer_latency_ms,
                              modify_latency_ms=options.modify_latency_ms, silent_share=options.silent_share,
                              drop_first_share=options.drop_first_share, seed=options.seed)
    except ValueError as error:
        print(f"scaleconfig: {error}", file=sys.stderr)
        return 2
    json.dump(config, sys.stdout, indent=1)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
