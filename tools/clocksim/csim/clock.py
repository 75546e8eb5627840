"""One simulated clock: its identity, settings blocks, fault switches and answers."""

import functools
import ipaddress

from . import payloads as pl
from .frame import Frame, FrameError

QUERY_CODES = (0x02, 0x03, 0x04, 0x05, 0x0A, 0x10)
MODIFY_CODES = (0x06, 0x07, 0x08, 0x09, 0x0B)
SEARCH, ANNOUNCE = 0x01, 0x0C
SYSTEM_INFO = 0x10

IDENTITY_DEFAULTS = {
    "serial": None, "firmwareMajor": 2, "firmwareMinor": 0, "newPlatform": None,
    "searchWord": 0, "lastSyncTime": 0, "syncServerIp": "0.0.0.0", "reserved35": 0, "radio": 0,
}

# How long a clock takes, as a real one does: every answer leaves answerLatencyMs
# after its request; a modify is applied modifyLatencyMs after it arrived (the
# clock writing its flash) and answered answerLatencyMs after that.
TIMING_DEFAULTS = {"answerLatencyMs": 0, "modifyLatencyMs": 0}
MAX_LATENCY_MS = 3_600_000

FAULT_DEFAULTS = {
    "silent": False,          # the search request is answered, nothing else on port 7000
    "refuse": False,          # modifies answered with result 0 and not applied
    "dropFirst": 0,           # the next K datagrams on port 7000 go unanswered
    "delayMs": 0,             # every answer leaves this late
    "crcHighFirst": False,    # checksum trailer high byte first
    "badCrc": False,          # checksum trailer that matches in neither order
    "strayBefore": False,     # true (a 0x0D frame) or hex bytes, sent from another port first
    "oversizeBefore": False,  # a 300-byte datagram first, from the same port
    "truncatePayload": 0,     # answers cut to this many payload bytes (0: whole)
    "tftpAckEarlier": 0,      # data block answered once with the ack of the block before it (true: 2)
    "tftpSilent": False,      # TFTP requests and data go unanswered
    "tftpOack": False,        # a read request is answered first with an option acknowledgement
}

SETTING_KEYS = (set(IDENTITY_DEFAULTS) | set(TIMING_DEFAULTS)
                | {"basic", "ntp", "display", "text", "bells", "system", "logs"})
CLOCK_KEYS = SETTING_KEYS | {"name", "ip", "prefix", "mac", "faults"}

DEFAULT_PREFIX = 24
SHORT_TEXT, LONG_TEXT = 32, 64
MAX_TEXT = 255 - 3


class ConfigError(ValueError):
    pass


def merged_block(current: dict, given: dict, what: str) -> dict:
    if not isinstance(given, dict):
        raise ConfigError(f"{what} must be an object")
    unknown = set(given) - set(current) - {"hex"}
    if unknown:
        raise ConfigError(f"{what}: unknown fields {sorted(unknown)}")
    return {**current, **given}


def checked_fault(name: str, value):
    default = FAULT_DEFAULTS[name]
    if name == "strayBefore" and isinstance(value, str):
        try:
            bytes.fromhex(value)
        except ValueError as error:
            raise ConfigError("strayBefore: true, false or hex bytes") from error
        return value
    if name == "tftpAckEarlier" and isinstance(value, bool):
        return value
    if isinstance(default, bool):
        if not isinstance(value, bool):
            raise ConfigError(f"{name}: true or false, not {value!r}")
        return value
    if isinstance(value, bool) or not isinstance(value, int) or value < 0:
        raise ConfigError(f"{name}: a whole number of at least 0, not {value!r}")
    return value


def checked_faults(given: dict) -> dict:
    if not isinstance(given, dict):
        raise ConfigError("faults must be an object")
    unknown = set(given) - set(FAULT_DEFAULTS)
    if unknown:
        raise ConfigError(f"unknown fault switches {sorted(unknown)}; known: {sorted(FAULT_DEFAULTS)}")
    return {name: checked_fault(name, value) for name, value in given.items()}


class Clock:
    def __init__(self, entry: dict, position: int, default_prefix: int = DEFAULT_PREFIX):
        unknown = set(entry) - CLOCK_KEYS
        if unknown:
            raise ConfigError(f"clock {position + 1}: unknown keys {sorted(unknown)}")
        if "ip" not in entry:
            raise ConfigError(f"clock {position + 1}: no ip")
        self.name = str(entry.get("name", f"c{position + 1}"))
        self.prefix = int(entry.get("prefix", default_prefix))
        self.mac = entry.get("mac")
        self.set_address(entry["ip"])
        self.identity = dict(IDENTITY_DEFAULTS, serial=f"SIM{position + 1:04d}")
        self.apply_identity(entry)
        self.timing = dict(TIMING_DEFAULTS)
        self.basic = pl.encode_basic(self.default_basic())
        self.ntp_mode = 0
        self.ntp_addresses = pl.encode_ntp_addresses([])
        self.ntp_names = pl.encode_ntp_names([])
        self.display = bytes(pl.DISPLAY_SIZE)
        self.text_lead, self.text_mode = 0, 0
        self.text = bytes(LONG_TEXT if self.identity["firmwareMajor"] >= 2 else SHORT_TEXT)
        self.bells = pl.encode_bells([])
        self.system = {"status1": 0, "status2": 0, "uptimeDays": 0}
        self.logs = {}
        self.faults = dict(FAULT_DEFAULTS)
        self.drops_left = 0
        self.ack_earlier_armed = False
        self.modify_count, self.last_write = {}, {}
        self.last_text_form = None
        self.announcements = 0
        self.uploads, self.downloads = [], []
        self.apply_settings(entry)
        self.set_faults(entry.get("faults", {}))

    # --- configuration -----------------------------------------------------

    def set_address(self, ip: str) -> None:
        try:
            interface = ipaddress.IPv4Interface(f"{ip}/{self.prefix}")
        except ValueError as error:
            raise ConfigError(f"clock {self.name}: bad address {ip!r}/{self.prefix}") from error
        self.ip = str(interface.ip)
        self.broadcast = str(interface.network.broadcast_address)
        self.netmask = str(interface.netmask)

    def default_basic(self) -> dict:
        return {
            "zoneNegative": False, "zoneHours": 8, "zoneMinuteCode": 0, "hour24": True, "dynamicIp": False,
            "brightness": 2, "ipAddress": self.ip, "subnetMask": self.netmask, "gateway": "0.0.0.0",
            "dnsServer": "0.0.0.0", "dstStartMonth": 0, "dstStartWeek": 0, "dstStartWeekday": 0,
            "dstStartHour": 0, "dstEndMonth": 0, "dstEndWeek": 0, "dstEndWeekday": 0, "dstEndHour": 0,
            "energyFrom": 0, "energyTo": 0, "energyClose": False,
        }

    def apply_identity(self, entry: dict) -> None:
        updated = dict(self.identity)
        updated.update({key: entry[key] for key in IDENTITY_DEFAULTS if key in entry})
        try:
            pl.encode_search_reply(updated)
        except (pl.PayloadError, KeyError, TypeError, ValueError, UnicodeEncodeError) as error:
            raise ConfigError(f"clock {self.name}: {error}") from error
        self.identity = updated

    def apply_settings(self, entry: dict, keys: set = CLOCK_KEYS) -> None:
        """Takes the settings blocks of a config entry; fields not given keep their values."""
        unknown = set(entry) - keys
        if unknown:
            raise ConfigError(f"clock {self.name}: cannot set {sorted(unknown)} here")
        self.apply_identity(entry)
        self.apply_timing(entry)
        try:
            if "basic" in entry:
                self.basic = self.block_bytes(entry["basic"], pl.decode_basic(self.basic), pl.encode_basic,
                                              pl.BASIC_SIZE, "basic")
            if "ntp" in entry:
                self.apply_ntp(entry["ntp"])
            if "display" in entry:
                self.display = self.block_bytes(entry["display"], pl.decode_display(self.display),
                                                pl.encode_display, pl.DISPLAY_SIZE, "display")
            if "text" in entry:
                self.apply_text(entry["text"])
            if "bells" in entry:
                self.apply_bells(entry["bells"])
            if "system" in entry:
                fields = merged_block(self.system, entry["system"], "system")
                pl.encode_system(fields)
                self.system = fields
            if "logs" in entry:
                self.logs.update(self.log_contents(entry["logs"]))
        except (pl.PayloadError, KeyError, TypeError, ValueError) as error:
            raise ConfigError(f"clock {self.name}: {error}") from error

    def apply_timing(self, entry: dict) -> None:
        updated = dict(self.timing)
        for key in TIMING_DEFAULTS:
            if key in entry:
                value = entry[key]
                if isinstance(value, bool) or not isinstance(value, (int, float)) or not 0 <= value < MAX_LATENCY_MS:
                    raise ConfigError(f"clock {self.name}: {key} is milliseconds from 0 to an hour, not {value!r}")
                updated[key] = value
        self.timing = updated

    @staticmethod
    def block_bytes(given: dict, current: dict, encode, size: int, what: str) -> bytes:
        fields = merged_block(current, given, what)
        if "hex" in given:
            return pl.fixed_hex(given["hex"], size, what)
        return encode(fields)

    def apply_ntp(self, given: dict) -> None:
        fields = merged_block(pl.decode_ntp(self.ntp_mode, self.ntp_addresses, self.ntp_names), given, "ntp")
        if "hex" in given:
            raise ConfigError("ntp: give mode, servers and names, not hex")
        self.ntp_mode = pl.byte_field(fields, "mode")
        self.ntp_addresses = pl.encode_ntp_addresses(fields["servers"])
        if "namesHex" in given:
            if len(given["namesHex"]) != 2:
                raise ConfigError("ntp namesHex: the two names of 30 bytes each")
            self.ntp_names = b"".join(pl.fixed_hex(raw, pl.NTP_NAME_WIDTH, "ntp namesHex") for raw in given["namesHex"])
        else:
            self.ntp_names = pl.encode_ntp_names(fields["names"])

    def apply_text(self, given: dict) -> None:
        fields = merged_block(pl.decode_text(self.text_lead, self.text_mode, self.text), given, "text")
        width = int(fields["width"])
        # Wider than 64 only to test how the tool copes; a frame holds at most 255 payload bytes.
        if width < 1 or width > MAX_TEXT:
            raise ConfigError(f"text width {width}: 1 to {MAX_TEXT}")
        self.text_lead = pl.byte_field(fields, "lead")
        self.text_mode = pl.text_mode_byte(given if "modeByte" in given else
                                           {k: fields[k] for k in ("alternate", "alternateSeconds")})
        if "textHex" in given:
            raw = bytes.fromhex(given["textHex"])
        elif "text" in given:
            raw = fields["text"].encode(pl.TEXT_CODEC, errors="replace")
        else:
            raw = self.text
        self.text = raw[:width].ljust(width, b"\0")

    def apply_bells(self, given) -> None:
        if isinstance(given, list):
            self.bells = pl.encode_bells(given)
        elif isinstance(given, dict) and set(given) <= {"hex", "entries"}:
            self.bells = (pl.fixed_hex(given["hex"], pl.BELLS_SIZE, "bells") if "hex" in given
                          else pl.encode_bells(given.get("entries", [])))
        else:
            raise ConfigError("bells: a list of entries, or {\"hex\": ...}, or {\"entries\": [...]}")

    @staticmethod
    def log_contents(given: dict) -> dict:
        contents = {}
        for name, value in given.items():
            if isinstance(value, dict) and set(value) == {"hex"}:
                contents[name] = bytes.fromhex(value["hex"])
            elif isinstance(value, str):
                contents[name] = value.encode("utf-8")
            else:
                raise ConfigError(f"logs.{name}: text, or {{\"hex\": ...}}")
        return contents

    def set_faults(self, given: dict) -> None:
        """Switches given are changed, the others keep their setting."""
        self.faults.update(checked_faults(given))
        if "dropFirst" in given:
            self.drops_left = int(given["dropFirst"])
        if "tftpAckEarlier" in given:
            self.ack_earlier_armed = bool(given["tftpAckEarlier"])

    def clear_faults(self) -> None:
        self.faults = dict(FAULT_DEFAULTS)
        self.drops_left = 0
        self.ack_earlier_armed = False

    # --- properties the services read --------------------------------------

    @property
    def new_platform(self) -> bool:
        flag_given = self.identity["newPlatform"]
        return bool(flag_given) if flag_given is not None else self.identity["firmwareMajor"] >= 4

    def latency(self, frame: Frame) -> float:
        """Seconds from a request's arrival to its answer, without the fault delayMs."""
        milliseconds = self.timing["answerLatencyMs"]
        if frame.code in MODIFY_CODES:
            milliseconds += self.timing["modifyLatencyMs"]
        return milliseconds / 1000.0

    def take_drop(self) -> bool:
        if self.drops_left > 0:
            self.drops_left -= 1
            return True
        return False

    def ack_earlier_block(self) -> int:
        """The data block to be answered with the ack before it, or 0 when the switch is spent."""
        if not self.ack_earlier_armed:
            return 0
        setting = self.faults["tftpAckEarlier"]
        return 2 if setting is True else int(setting)

    def spend_ack_earlier(self) -> None:
        self.ack_earlier_armed = False

    # --- answers on port 7000 ------------------------------------------------

    def check(self, frame: Frame) -> None:
        """Raises FrameError, saying why, for a frame this clock stays silent on; changes nothing.

        A clock that takes its time decides at once whether it will answer, so
        the record can say so when the datagram comes.
        """
        code, payload = frame.code, frame.payload
        if code == SEARCH:
            expect_length(payload, (21,), "search request")
            if any(payload[1:]):
                raise FrameError("search request bytes 1-20 are not all zero")
        elif code in QUERY_CODES:
            expect_length(payload, (1,), "query")
            if code == SYSTEM_INFO and not self.new_platform:
                raise FrameError("system information query to a clock of the old model")
        elif code in MODIFY_CODES:
            check_modify_shape(payload)
        elif code == ANNOUNCE:
            expect_length(payload, (2,), "announcement")
            if payload[1] != 0x01:
                raise FrameError(f"announcement byte 0x{payload[1]:02X}, expected 0x01")
        else:
            raise FrameError(f"code 0x{code:02X} is not a request a clock answers")

    def answer(self, frame: Frame) -> bytes:
        """The reply payload for a received frame; FrameError means silence, and says why."""
        self.check(frame)
        code = frame.code
        if code == SEARCH:
            return pl.encode_search_reply(self.identity)
        if code in QUERY_CODES:
            return self.answer_query(code)
        if code in MODIFY_CODES:
            return self.answer_modify(frame.payload)
        self.announcements += 1
        return bytes((ANNOUNCE, 1))

    def answer_query(self, code: int) -> bytes:
        if code == 0x02:
            return bytes((code,)) + self.basic
        if code == 0x03:
            return bytes((code,)) + pl.ntp_reply_data(self.ntp_mode, self.ntp_addresses, self.ntp_names)
        if code == 0x04:
            return bytes((code,)) + self.bells
        if code == 0x05:
            return bytes((code,)) + self.display
        if code == 0x0A:
            return bytes((code, self.text_lead, self.text_mode)) + self.text
        return bytes((SYSTEM_INFO,)) + pl.encode_system(self.system)

    def answer_modify(self, payload: bytes) -> bytes:
        code = payload[0]
        key = f"{code:02X}"
        self.last_write[key] = payload.hex()
        if self.faults["refuse"]:
            return bytes((code, 0))
        self.apply_modify(payload)
        self.modify_count[key] = self.modify_count.get(key, 0) + 1
        return bytes((code, 1))

    def apply_modify(self, payload: bytes) -> None:
        code, data = payload[0], payload[1:]
        if code == 0x06:
            self.basic = data
        elif code == 0x07:
            self.apply_ntp_write(data)
        elif code == 0x08:
            self.bells = data
        elif code == 0x09:
            self.display, self.identity["radio"] = pl.apply_display_write(self.display, data)
        elif code == 0x0B:
            self.apply_text_write(data)

    def apply_ntp_write(self, data: bytes) -> None:
        self.ntp_mode = data[0]
        if data[0] == 0:
            self.ntp_addresses = data[1:21]
        else:
            self.ntp_names = data[1:61]

    def apply_text_write(self, data: bytes) -> None:
        """Either form is taken; the text is cut or padded to this clock's own field."""
        text_width = len(data) - 3
        self.last_text_form = "long" if text_width == LONG_TEXT else "short"
        self.text_mode = data[1]
        self.text = data[2:2 + text_width].ljust(len(self.text), b"\0")[:len(self.text)]

    def status_report(self, values: list | None, last: int) -> bytes:
        return pl.encode_status_report(values or [0, 0, 0, 0], last)

    # --- observable state ------------------------------------------------------

    def state(self) -> dict:
        return {
            "name": self.name, "ip": self.ip, "prefix": self.prefix, "mac": self.mac,
            **self.identity, "newPlatform": self.new_platform, **self.timing,
            "basic": basic_state(self.basic),
            "ntp": ntp_state(self.ntp_mode, self.ntp_addresses, self.ntp_names),
            "display": display_state(self.display),
            "text": {**text_state(self.text_lead, self.text_mode, self.text), "lastForm": self.last_text_form},
            "bells": bells_state(self.bells),
            "system": dict(self.system),
            "faults": dict(self.faults), "dropsLeft": self.drops_left, "tftpAckEarlierArmed": self.ack_earlier_armed,
            "modifyCount": dict(self.modify_count), "lastWrite": dict(self.last_write),
            "announcements": self.announcements,
            "uploads": list(self.uploads), "downloads": list(self.downloads),
        }


# The decoded blocks of the state, remembered by their bytes: the clocks of a site mostly hold the
# same settings, and each modify makes the state file show that clock again. Shared between
# clocks and only ever serialised, never changed.
STATE_CACHE = 4096


@functools.lru_cache(maxsize=STATE_CACHE)
def basic_state(raw: bytes) -> dict:
    return {**pl.decode_basic(raw), "hex": raw.hex()}


@functools.lru_cache(maxsize=STATE_CACHE)
def ntp_state(mode: int, addresses: bytes, names: bytes) -> dict:
    return {**pl.decode_ntp(mode, addresses, names), "replyHex": pl.ntp_reply_data(mode, addresses, names).hex()}


@functools.lru_cache(maxsize=STATE_CACHE)
def display_state(raw: bytes) -> dict:
    return {**pl.decode_display(raw), "hex": raw.hex()}


@functools.lru_cache(maxsize=STATE_CACHE)
def text_state(lead: int, mode: int, text: bytes) -> dict:
    return pl.decode_text(lead, mode, text)


@functools.lru_cache(maxsize=STATE_CACHE)
def bells_state(raw: bytes) -> dict:
    return {"hex": raw.hex(), "entries": pl.decode_bells(raw)}


def expect_length(payload: bytes, lengths: tuple, what: str) -> None:
    if len(payload) not in lengths:
        raise FrameError(f"{what} 0x{payload[0]:02X} with {len(payload)} payload bytes, expected "
                         + " or ".join(str(n) for n in lengths))


def check_modify_shape(payload: bytes) -> None:
    code = payload[0]
    if code == 0x06:
        expect_length(payload, (27,), "modify")
    elif code == 0x07:
        expect_length(payload, (22, 62), "modify")
        form_length = 22 if payload[1] == 0 else 62
        if len(payload) != form_length:
            raise FrameError(f"NTP modify form byte {payload[1]} with {len(payload)} payload bytes")
    elif code == 0x08:
        expect_length(payload, (181,), "modify")
    elif code == 0x09:
        expect_length(payload, (14,), "modify")
    elif code == 0x0B:
        expect_length(payload, (36, 68), "modify")
