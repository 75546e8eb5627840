#!/usr/bin/env python3
"""Simulated wall clocks: the clock protocol on UDP port 7000, TFTP on port 69, TCP port 22.

Runs until SIGTERM or SIGINT; SIGHUP applies the fault switches of the config file again.
"""

import argparse
import os
import resource
import signal
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from csim.clock import ConfigError  # noqa: E402
from csim.sim import Simulator  # noqa: E402

READY_LINE = "clocksim ready"


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--config", required=True, help="JSON file listing the clocks")
    parser.add_argument("--port", type=int, default=7000, help="clock protocol port (7000)")
    parser.add_argument("--tftp-port", type=int, default=69, help="TFTP port of every clock address (69)")
    parser.add_argument("--probe-port", type=int, default=22, help="TCP port of the newer clocks (22)")
    parser.add_argument("--bind", default="0.0.0.0", help="address of the clock protocol socket (0.0.0.0)")
    parser.add_argument("--allow-from", action="append", default=[], metavar="CIDR",
                        help="answer only these sources (default: any, or 127.0.0.0/8 for loopback clocks)")
    parser.add_argument("--record", help="JSON lines file of every datagram and connection received")
    parser.add_argument("--state", help="JSON file rewritten with every clock's state after each change")
    parser.add_argument("--tftp-root", help="folder of the clocks' uploaded files and logs")
    parser.add_argument("--control", help="Unix socket path for run-time control (see clocksimctl.py)")
    parser.add_argument("--ready-file", help="file created once every socket is bound")
    return parser.parse_args(argv)


def raise_file_limit() -> None:
    """A thousand clocks need two sockets each."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft != hard:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


class Signals:
    """Signal handlers only set flags; a wake-up socket makes the loop look at them."""

    def __init__(self, loop):
        self.stop = False
        self.reload = False
        self.reader, writer = socket.socketpair()
        self.reader.setblocking(False)
        writer.setblocking(False)
        self.writer = writer
        signal.set_wakeup_fd(writer.fileno())
        signal.signal(signal.SIGTERM, self.on_stop)
        signal.signal(signal.SIGINT, self.on_stop)
        signal.signal(signal.SIGHUP, self.on_reload)
        loop.add_reader(self.reader, self.drain)

    def on_stop(self, *_):
        self.stop = True

    def on_reload(self, *_):
        self.reload = True

    @staticmethod
    def drain(sock):
        try:
            while sock.recv(64):
                pass
        except BlockingIOError:
            pass


def announce_ready(ready_file: str | None) -> None:
    print(READY_LINE, flush=True)
    if ready_file:
        with open(ready_file, "w", encoding="utf-8") as out:
            out.write(f"{os.getpid()}\n")


def run(simulator: Simulator, signals: Signals) -> None:
    def should_stop() -> bool:
        if signals.reload:
            signals.reload = False
            simulator.reload_faults()
        return signals.stop

    simulator.loop.run(should_stop)


def main(argv=None) -> int:
    options = parse_arguments(argv)
    raise_file_limit()
    try:
        simulator = Simulator(options)
    except (OSError, ValueError, ConfigError) as error:
        print(f"clocksim: bad config {options.config}: {error}", file=sys.stderr)
        return 2
    # Handlers first: a script may send SIGTERM as soon as it reads the ready line.
    signals = Signals(simulator.loop)
    try:
        simulator.open()
    except OSError as error:
        print(f"clocksim: cannot open the clocks' sockets: {error}", file=sys.stderr)
        simulator.close()
        return 1
    announce_ready(options.ready_file)
    try:
        run(simulator, signals)
    finally:
        simulator.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
