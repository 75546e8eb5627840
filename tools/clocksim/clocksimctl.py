#!/usr/bin/env python3
"""Changes running simulated clocks through their control socket.

  clocksimctl.py --socket S [--clock C] faults KEY=VALUE...   set fault switches (VALUE read as JSON)
  clocksimctl.py --socket S [--clock C] clear-faults          every switch back to off
  clocksimctl.py --socket S [--clock C] set KEY=VALUE...      settings or identity, as in the config
  clocksimctl.py --socket S  --clock C  readdress NEWIP       the clock answers from another address
  clocksimctl.py --socket S [--clock C] send CODE IP[:PORT] [KEY=VALUE...]  unsolicited 0x0E, 0x0F or 0x11
  clocksimctl.py --socket S reset | reload | state | ping

C is a clock's address, name or serial; without it every clock of that simulator is meant.
"""

import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from csim.control import send_request  # noqa: E402


def parse_value(text: str):
    try:
        return json.loads(text)
    except ValueError:
        return text


def key_values(pairs: list) -> dict:
    values = {}
    for pair in pairs:
        key, equals, value = pair.partition("=")
        if not equals:
            raise SystemExit(f"clocksimctl: {pair!r} is not KEY=VALUE")
        values[key] = parse_value(value)
    return values


def build_request(options) -> dict:
    request = {"cmd": options.command, "clock": options.clock}
    args = options.args
    if options.command == "faults":
        request["set"] = key_values(args)
    elif options.command == "set":
        request["fields"] = key_values(args)
    elif options.command == "readdress":
        if len(args) != 1:
            raise SystemExit("clocksimctl: readdress NEWIP")
        request["ip"] = args[0]
    elif options.command == "send":
        if len(args) < 2:
            raise SystemExit("clocksimctl: send CODE TO [KEY=VALUE...]")
        request.update(code=args[0], to=args[1], **key_values(args[2:]))
    elif args:
        raise SystemExit(f"clocksimctl: {options.command} takes no arguments")
    return request


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--socket", required=True, help="the simulator's --control path")
    parser.add_argument("--clock", help="address, name or serial of one clock")
    parser.add_argument("command", choices=["faults", "clear-faults", "set", "readdress", "send",
                                            "reset", "reload", "state", "ping"])
    parser.add_argument("args", nargs="*")
    options = parser.parse_args(argv)
    try:
        reply = send_request(options.socket, build_request(options))
    except OSError as error:
        print(f"clocksimctl: {options.socket}: {error}", file=sys.stderr)
        return 1
    if not reply.get("ok"):
        print(f"clocksimctl: {reply.get('error')}", file=sys.stderr)
        return 1
    if "state" in reply:
        print(json.dumps(reply["state"], indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
