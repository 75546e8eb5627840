"""A single-threaded event loop: readable sockets and timers.

One thread keeps every clock's answers in the order the datagrams came, and
lets a delayed answer wait without holding up the other clocks.
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


class Loop:
    def __init__(self):
        self.selector = selectors.DefaultSelector()
        self.timers = []
        self.sequence = itertools.count()
        self.running = False

    def add_reader(self, sock, callback) -> None:
        self.selector.register(sock, selectors.EVENT_READ, callback)

    def remove_reader(self, sock) -> None:
        try:
            self.selector.unregister(sock)
        except (KeyError, ValueError):
            pass

    def call_later(self, delay: float, callback) -> Timer:
        timer = Timer(time.monotonic() + max(0.0, delay), callback)
        heapq.heappush(self.timers, (timer.when, next(self.sequence), timer))
        return timer

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
            if self.selector.get_map().get(key.fd) is key:
                guarded(key.data, key.fileobj)
        self.run_due_timers()

    def run(self, should_stop) -> None:
        self.running = True
        while self.running and not should_stop():
            self.run_once()

    def stop(self) -> None:
        self.running = False
