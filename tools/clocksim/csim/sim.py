"""The simulator: the clocks of one config behind one port-7000 socket, their TFTP and probe ports."""

import ipaddress
import json
import os
import sys
import tempfile
import time

from . import link
from .clock import SETTING_KEYS, Clock, ConfigError
from .control import ControlError, ControlServer
from .loop import Loop
from .probe import ProbeListener
from .record import Recorder
from .statefile import StateFile
from .tftp import TftpService

TOP_KEYS = {"prefix", "broadcastSpreadMs", "defaults", "clocks"}
UNSOLICITED_RESULT_CODES = (0x0F, 0x11)
STATUS_REPORT = 0x0E


def merged_with_defaults(defaults: dict, entry: dict) -> dict:
    """Objects are merged one level deep, so defaults may give some fields of a block."""
    merged = dict(defaults)
    for key, value in entry.items():
        if isinstance(value, dict) and isinstance(merged.get(key), dict):
            merged[key] = {**merged[key], **value}
        else:
            merged[key] = value
    return merged


def load_config(path: str) -> tuple[dict, list]:
    with open(path, encoding="utf-8") as source:
        config = json.load(source)
    if not isinstance(config, dict) or not isinstance(config.get("clocks"), list) or not config["clocks"]:
        raise ConfigError("the config is an object with a non-empty list \"clocks\"")
    unknown = set(config) - TOP_KEYS
    if unknown:
        raise ConfigError(f"unknown top-level keys {sorted(unknown)}")
    defaults = config.get("defaults", {})
    return config, [merged_with_defaults(defaults, entry) for entry in config["clocks"]]


def build_clocks(config: dict, entries: list) -> list:
    clocks = [Clock(entry, position, int(config.get("prefix", 24))) for position, entry in enumerate(entries)]
    addresses = [clock.ip for clock in clocks]
    duplicates = {address for address in addresses if addresses.count(address) > 1}
    if duplicates:
        raise ConfigError(f"several clocks at {sorted(duplicates)}")
    return clocks


def default_allowed(clocks: list) -> list:
    """Clocks that live on loopback answer nobody else."""
    if all(ipaddress.IPv4Address(clock.ip).is_loopback for clock in clocks):
        return [ipaddress.IPv4Network("127.0.0.0/8")]
    return []


class Simulator:
    def __init__(self, options):
        self.options = options
        self.config, entries = load_config(options.config)
        self.clocks = build_clocks(self.config, entries)
        self.spread_ms = float(self.config.get("broadcastSpreadMs", 0))
        self.allowed = ([ipaddress.IPv4Network(cidr) for cidr in options.allow_from]
                        if options.allow_from else default_allowed(self.clocks))
        self.tftp_root = options.tftp_root or tempfile.mkdtemp(prefix="clocksim-tftp-")
        self.loop = Loop()
        self.recorder = Recorder(options.record)
        self.services = {}
        self.link = None
        self.control_server = None
        self.by_address, self.by_broadcast = {}, {}
        self.index_clocks()
        self.state_file = StateFile(self, options.state)
        self.loop.at_round_end(self.end_round)

    # --- life ------------------------------------------------------------------

    def open(self) -> None:
        self.link = link.LinkService(self, self.options.bind, self.options.port)
        for clock in self.clocks:
            self.open_clock_services(clock)
        if self.options.control:
            self.control_server = ControlServer(self, self.options.control)
        self.save_state()

    def close(self) -> None:
        for clock in self.clocks:
            self.close_clock_services(clock)
        if self.link is not None:
            self.link.close()
        if self.control_server is not None:
            self.control_server.close()
        self.state_changed()
        self.save_state()
        self.state_file.close()
        self.recorder.close()

    def open_clock_services(self, clock) -> None:
        tftp = TftpService(self, clock, self.options.tftp_port, self.tftp_root)
        tftp.write_logs()
        probe = ProbeListener(self, clock, self.options.probe_port) if clock.new_platform else None
        self.services[clock.ip] = (tftp, probe)

    def close_clock_services(self, clock) -> None:
        for service in self.services.pop(clock.ip, ()):
            if service is not None:
                service.close()

    def log(self, message: str) -> None:
        print(f"clocksim: {message}", file=sys.stderr, flush=True)

    # --- questions the services ask -------------------------------------------

    def index_clocks(self) -> None:
        """Looked up per datagram, which a sweep of a site sends thousands a second."""
        self.by_address = {clock.ip: clock for clock in self.clocks}
        self.by_broadcast = {}
        for clock in self.clocks:
            self.by_broadcast.setdefault(clock.broadcast, []).append(clock)

    def clocks_for(self, destination: str) -> tuple[list, bool]:
        """The clocks a datagram is for, and whether it came as a broadcast."""
        clock = self.by_address.get(destination)
        if clock is not None:
            return [clock], False
        if destination == link.LIMITED_BROADCAST:
            return list(self.clocks), True
        reached = self.by_broadcast.get(destination, [])
        return list(reached), bool(reached)

    def source_allowed(self, address: str) -> bool:
        return not self.allowed or any(ipaddress.IPv4Address(address) in net for net in self.allowed)

    def spread_delay(self, clock) -> float:
        return link.spread_for(clock.ip, self.spread_ms)

    # --- observable state ------------------------------------------------------

    def state(self) -> dict:
        return {**self.state_header(), "clocks": [clock.state() for clock in self.clocks]}

    def state_header(self) -> dict:
        return {"pid": os.getpid(), "updated": round(time.time(), 6), "port": self.options.port,
                "tftpPort": self.options.tftp_port, "probePort": self.options.probe_port,
                "tftpRoot": os.path.abspath(self.tftp_root)}

    def state_changed(self, clock=None) -> None:
        """The clock's state (every clock's without one) goes into the next write of the state file."""
        if clock is None:
            self.state_file.all_changed()
        else:
            self.state_file.clock_changed(clock)

    def when_saved(self, callback) -> None:
        """callback runs once the state file shows every change made so far.

        The changes of one loop round go into one write, and what waited for
        them follows as soon as it is done: a thousand clocks applying a modify
        within a few milliseconds cost one write, not a thousand.
        """
        self.state_file.when_saved(callback)

    def end_round(self) -> None:
        self.recorder.flush()
        self.state_file.end_round()

    def save_state(self) -> None:
        """Writes the state file before returning, with every change so far."""
        self.state_file.save_now()

    # --- changes at run time ------------------------------------------------

    def select_clocks(self, selector) -> list:
        if selector in (None, "*"):
            return list(self.clocks)
        chosen = [clock for clock in self.clocks
                  if selector in (clock.ip, clock.name, clock.identity["serial"])]
        if not chosen:
            raise ControlError(f"no clock {selector!r}")
        return chosen

    def reload_faults(self) -> None:
        """SIGHUP: the fault switches of the config file apply again; settings stay as the clocks hold them."""
        try:
            config, entries = load_config(self.options.config)
            fresh = build_clocks(config, entries)
        except (OSError, ValueError) as error:
            self.log(f"config not reloaded: {error}")
            return
        for clock, new in zip(self.clocks, fresh):
            clock.clear_faults()
            clock.set_faults(new.faults)
        self.log("fault switches reloaded")
        self.state_changed()
        self.save_state()

    def reset(self) -> None:
        """Every clock back to the config file: settings, faults and address."""
        config, entries = load_config(self.options.config)
        fresh = build_clocks(config, entries)
        for clock in self.clocks:
            self.close_clock_services(clock)
        if self.link is not None:
            self.link.forget_pending()
        self.config, self.clocks = config, fresh
        self.index_clocks()
        self.state_changed()
        for clock in self.clocks:
            self.open_clock_services(clock)

    def readdress(self, clock, address: str) -> None:
        old = clock.ip
        if any(other.ip == address for other in self.clocks if other is not clock):
            raise ControlError(f"another clock is at {address}")
        self.close_clock_services(clock)
        try:
            clock.set_address(address)
            if clock.basic[2:6] == ipaddress.IPv4Address(old).packed:
                clock.basic = clock.basic[:2] + ipaddress.IPv4Address(clock.ip).packed + clock.basic[6:]
        finally:
            self.index_clocks()
            self.open_clock_services(clock)

    def reapply(self, clock, fields: dict) -> None:
        self.close_clock_services(clock)
        try:
            clock.apply_settings(fields, SETTING_KEYS)
        finally:
            self.open_clock_services(clock)

    def send_unsolicited(self, clock, request: dict) -> None:
        host, _, port = str(request["to"]).partition(":")
        destination = (str(ipaddress.IPv4Address(host)), int(port or self.link.port))
        code = int(str(request["code"]), 0)
        if "hex" in request:
            payload = bytes.fromhex(request["hex"])
        elif code == STATUS_REPORT:
            payload = clock.status_report(request.get("values"), int(request.get("last", 0)))
        elif code in UNSOLICITED_RESULT_CODES:
            payload = bytes((code, int(request.get("result", 1))))
        else:
            raise ControlError("give hex for codes other than 0x0E, 0x0F and 0x11")
        self.link.send_unsolicited(clock, payload, destination)

    def control(self, request: dict) -> dict:
        command = request.get("cmd")
        # What came before the request is in the record by the time it is answered.
        self.recorder.flush()
        if command == "ping":
            return {"ok": True}
        if command == "state":
            return {"ok": True, "state": self.state()}
        if command == "reset":
            self.reset()
        elif command == "reload":
            self.reload_faults()
        elif command in ("faults", "clear-faults", "set", "readdress", "send"):
            for clock in self.select_clocks(request.get("clock")):
                self.state_changed(clock)
                self.control_clock(command, clock, request)
        else:
            raise ControlError(f"unknown command {command!r}")
        self.save_state()
        return {"ok": True}

    def control_clock(self, command: str, clock, request: dict) -> None:
        if command == "faults":
            clock.set_faults(request.get("set", {}))
        elif command == "clear-faults":
            clock.clear_faults()
        elif command == "set":
            self.reapply(clock, request.get("fields", {}))
        elif command == "readdress":
            self.readdress(clock, request["ip"])
        elif command == "send":
            self.send_unsolicited(clock, request)
