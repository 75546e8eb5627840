#!/usr/bin/env python3
"""Prints a config of many clocks at consecutive addresses, for the test LAN's scale mode.

  scaleconfig.py --count 1000 [--first-ip 10.213.1.1] [--firmware-major 4] [--spread-ms 0]
"""

import argparse
import ipaddress
import json
import sys


def scale_config(count: int, first_ip: str, firmware_major: int, spread_ms: float) -> dict:
    first = ipaddress.IPv4Address(first_ip)
    clocks = [{"name": f"s{index + 1}", "ip": str(first + index), "serial": f"SCALE{index + 1:05d}",
               "firmwareMajor": firmware_major} for index in range(count)]
    config = {"clocks": clocks}
    if spread_ms > 0:
        config["broadcastSpreadMs"] = spread_ms
    return config


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, required=True)
    parser.add_argument("--first-ip", default="10.213.1.1")
    parser.add_argument("--firmware-major", type=int, default=4)
    parser.add_argument("--spread-ms", type=float, default=0.0, help="spread of the answers to a broadcast")
    options = parser.parse_args(argv)
    json.dump(scale_config(options.count, options.first_ip, options.firmware_major, options.spread_ms),
              sys.stdout, indent=1)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
