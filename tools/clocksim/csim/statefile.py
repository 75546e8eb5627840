"""The state file: every clock's state, written so that a test which has an answer can read what it changed.

A site of a thousand clocks has a state file of megabytes. Each clock's part
is serialised again only when that clock changed, the changes of one loop
round go into one write, and the write runs on a thread of its own: while the
file is written the clocks keep receiving and answering, and the answers that
wait for the write leave as soon as it is done.
"""

import json
import queue
import socket
import threading

from .loop import guarded
from .record import write_atomically

# Up to this many clocks the file is indented for people to read; beyond, it is compact.
READABLE_CLOCKS = 20


def serialised_clock(state: dict, readable: bool) -> bytes:
    """One clock as it appears in the file's list, indented to its place when readable."""
    if readable:
        return ("  " + json.dumps(state, indent=1).replace("\n", "\n  ")).encode("utf-8")
    return json.dumps(state, separators=(",", ":")).encode("utf-8")


def file_chunks(header: dict, clocks: list, readable: bool) -> list:
    """The whole file: the header's fields, then "clocks" holding the serialised clocks in order."""
    if readable:
        opening = json.dumps(header, indent=1)[:-2] + ',\n "clocks": [\n'
        separator, closing = b",\n", b"\n ]\n}\n"
    else:
        opening = json.dumps(header, separators=(",", ":"))[:-1] + ',"clocks":['
        separator, closing = b",", b"]}\n"
    chunks = [opening.encode("utf-8")]
    for position, clock in enumerate(clocks):
        if position:
            chunks.append(separator)
        chunks.append(clock)
    chunks.append(closing)
    return chunks


class StateFile:
    """Owns the file for one simulator; every method is called from the loop's thread."""

    def __init__(self, sim, path: str | None):
        self.sim, self.path = sim, path
        self.serialised = {}
        self.changed = set()
        self.waiting = []
        self.writer = Writer(sim.loop, self.written, sim.log) if path else None
        # Callbacks of the write in flight; they run when the loop hears it is done.
        self.in_flight = None

    def close(self) -> None:
        if self.writer is not None:
            self.writer.close()

    def clock_changed(self, clock) -> None:
        self.changed.add(clock)

    def all_changed(self) -> None:
        self.serialised = {}
        self.changed.update(self.sim.clocks)

    def when_saved(self, callback) -> None:
        self.waiting.append(callback)

    def end_round(self) -> None:
        """Starts a write of this round's changes, or hands waiting callbacks to the write that holds their change."""
        if self.in_flight is not None:
            if not self.changed:
                # Everything they wait for went into the write in flight.
                self.in_flight.extend(self.waiting)
                self.waiting = []
            return
        if self.changed and self.writer is not None:
            self.in_flight, self.waiting = self.waiting, []
            self.writer.submit(self.path, self.prepare())
            return
        self.changed = set()
        self.run(self.take_waiting())

    def save_now(self) -> None:
        """Writes every change so far before returning (control commands, start, exit)."""
        if self.writer is None:
            self.changed = set()
            return
        self.writer.wait_idle()
        write_atomically(self.path, self.prepare())

    def written(self) -> None:
        callbacks, self.in_flight = self.in_flight or [], None
        self.run(callbacks)

    def take_waiting(self) -> list:
        waiting, self.waiting = self.waiting, []
        return waiting

    @staticmethod
    def run(callbacks: list) -> None:
        for callback in callbacks:
            guarded(callback)

    def prepare(self) -> list:
        """The file's content with the changes so far; only the clocks that changed are serialised again."""
        changed, self.changed = self.changed, set()
        clocks = self.sim.clocks
        readable = len(clocks) <= READABLE_CLOCKS
        for clock in clocks:
            if clock in changed or clock not in self.serialised:
                self.serialised[clock] = serialised_clock(clock.state(), readable)
        return file_chunks(self.sim.state_header(), [self.serialised[clock] for clock in clocks], readable)


class Writer:
    """One write at a time on a thread; the loop hears of each finished write through a socket pair."""

    def __init__(self, loop, on_written, log):
        self.loop, self.on_written, self.log = loop, on_written, log
        self.jobs = queue.SimpleQueue()
        self.idle = threading.Event()
        self.idle.set()
        self.failure = None
        self.wake_reader, self.wake_writer = socket.socketpair()
        self.wake_reader.setblocking(False)
        loop.add_reader(self.wake_reader, self.on_wake)
        self.thread = threading.Thread(target=self.run, name="state-writer", daemon=True)
        self.thread.start()

    def submit(self, path: str, chunks: list) -> None:
        self.idle.clear()
        self.jobs.put((path, chunks))

    def wait_idle(self) -> None:
        self.idle.wait()

    def run(self) -> None:
        while True:
            job = self.jobs.get()
            if job is None:
                return
            path, chunks = job
            try:
                write_atomically(path, chunks)
            except OSError as error:
                self.failure = f"state file not written: {error}"
            self.idle.set()
            try:
                self.wake_writer.send(b"w")
            except OSError:
                pass

    def on_wake(self, sock) -> None:
        try:
            while sock.recv(64):
                pass
        except BlockingIOError:
            pass
        if self.failure:
            self.log(self.failure)
            self.failure = None
        # Answers waiting for a write that failed still go: a clock that stops answering would hide the fault.
        self.on_written()

    def close(self) -> None:
        self.wait_idle()
        self.jobs.put(None)
        self.thread.join(timeout=5)
        self.loop.remove_reader(self.wake_reader)
        self.wake_reader.close()
        self.wake_writer.close()
