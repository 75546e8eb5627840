"""A single-threaded event loop: readable sockets and timers.

One thread keeps every clock's answers in the order the datagrams came, and
lets a delayed answer wait without holding up the other clocks. Work that is
cheaper done once for many events (writing the state file) runs at the end of
each round, after every ready socket and due timer of that round.
"""

import heapq
import itertools
import selectors
import sys
import time
import traceback


def guarded(callback, *args) -> None:
    """One clock's bad moment is printed; the other clocks go on answering."""
    try:
        callback(*args)
    except Exception:  # noqa: BLE001
        traceback.print_exc(file=sys.stderr)


class Timer:
    __slots__ = ("when", "callback", "cancelled")

    def __init__(self, when: float, callback):
        self.when, self.callback, self.cancelled = when, callback, False

    def cancel(self) -> None:
        self.cancelled = True


class Deadline:
    """A timer pushed back on every packet of a transfer without a heap entry per push.

    The one timer in the heap fires at the earliest deadline set since it was
    armed; finding the deadline moved later, it arms itself again.
    """

    __slots__ = ("loop", "when", "callback", "timer")

    def __init__(self, loop: "Loop"):
        self.loop, self.when, self.callback, self.timer = loop, 0.0, None, None

    def set(self, delay: float, callback) -> None:
        self.when, self.callback = time.monotonic() + max(0.0, delay), callback
        if self.timer is None or self.timer.when > self.when:
            self.cancel_timer()
            self.timer = self.loop.call_at(self.when, self.fire)

    def fire(self) -> None:
        self.timer = None
        if self.when > time.monotonic():
            self.timer = self.loop.call_at(self.when, self.fire)
        elif self.callback is not None:
            callback, self.callback = self.callback, None
            callback()

    def cancel_timer(self) -> None:
        if self.timer is not None:
            self.timer.cancel()
            self.timer = None

    def cancel(self) -> None:
        self.cancel_timer()
        self.callback = None


class Loop:
    def __init__(self):
        self.selector = selectors.DefaultSelector()
        self.timers = []
        self.sequence = itertools.count()
        self.round_end = []
        # fd -> selector key, to tell cheaply whether an earlier callback of a round closed a socket.
        self.readers = {}
        self.running = False

    def add_reader(self, sock, callback) -> None:
        key = self.selector.register(sock, selectors.EVENT_READ, callback)
        self.readers[key.fd] = key

    def remove_reader(self, sock) -> None:
        try:
            key = self.selector.unregister(sock)
        except (KeyError, ValueError):
            return
        self.readers.pop(key.fd, None)

    def call_later(self, delay: float, callback) -> Timer:
        return self.call_at(time.monotonic() + max(0.0, delay), callback)

    def call_at(self, when: float, callback) -> Timer:
        """Timers due at the same moment run in the order they were set."""
        timer = Timer(when, callback)
        heapq.heappush(self.timers, (timer.when, next(self.sequence), timer))
        return timer

    def at_round_end(self, callback) -> None:
        """callback runs after each round's sockets and timers, for as long as the loop runs."""
        self.round_end.append(callback)

    def next_timeout(self) -> float | None:
        while self.timers and self.timers[0][2].cancelled:
            heapq.heappop(self.timers)
        if not self.timers:
            return None
        return max(0.0, self.timers[0][0] - time.monotonic())

    def run_due_timers(self) -> None:
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            _, _, timer = heapq.heappop(self.timers)
            if not timer.cancelled:
                guarded(timer.callback)

    def run_once(self) -> None:
        for key, _ in self.selector.select(self.next_timeout()):
            # An earlier callback of this round may have closed this socket.
            if self.readers.get(key.fd) is key:
                guarded(key.data, key.fileobj)
        self.run_due_timers()
        self.end_round()

    def end_round(self) -> None:
        for callback in self.round_end:
            guarded(callback)

    def run(self, should_stop) -> None:
        self.running = True
        while self.running and not should_stop():
            self.run_once()

    def stop(self) -> None:
        self.running = False
