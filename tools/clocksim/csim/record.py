"""What the simulator saw and what its clocks hold, as files a test reads."""

import ctypes
import json
import os
import tempfile
import time

# os.writev takes at most this many buffers per call on Linux.
IOV_MAX = 1024


class Recorder:
    """One JSON object per line for every datagram and connection received.

    Lines are buffered and written out by flush(): on port 7000 after each
    datagram, for TFTP once per loop round, so a transfer does not cost a
    write to the file per block.
    """

    def __init__(self, path: str | None):
        self.file = open(path, "a", encoding="utf-8") if path else None

    def write(self, entry: dict) -> None:
        if self.file is None:
            return
        self.file.write(json.dumps({"t": round(time.time(), 6), **entry}) + "\n")

    def write_members(self, members: str) -> None:
        """A line whose members after "t" come already as JSON text."""
        if self.file is not None:
            self.file.write(f'{{"t": {time.time():.6f}, {members}}}\n')

    def flush(self) -> None:
        if self.file is not None:
            self.file.flush()

    def close(self) -> None:
        if self.file is not None:
            self.file.close()
            self.file = None


def write_all(handle: int, chunks: list) -> None:
    """The chunks one after another, without joining them first (a site's state is megabytes)."""
    chunks = [memoryview(chunk) for chunk in chunks if chunk]
    first = 0
    while first < len(chunks):
        written = os.writev(handle, chunks[first:first + IOV_MAX])
        while first < len(chunks) and written >= len(chunks[first]):
            written -= len(chunks[first])
            first += 1
        if written:
            chunks[first] = chunks[first][written:]


AT_FDCWD = -100
RENAME_EXCHANGE = 2


def _renameat2():
    try:
        function = ctypes.CDLL(None, use_errno=True).renameat2
    except (AttributeError, OSError):
        return None
    function.argtypes = (ctypes.c_int, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_uint)
    return function


RENAMEAT2 = _renameat2()


def exchange(first: str, second: str) -> bool:
    """Swaps two names in one step; False where the system or file system cannot.

    Renaming over a file makes ext4 allocate the new file's blocks at once,
    milliseconds for a site's state; swapping the names does not, and the old
    content is then removed under the temporary name.
    """
    if RENAMEAT2 is None:
        return False
    return RENAMEAT2(AT_FDCWD, os.fsencode(first), AT_FDCWD, os.fsencode(second), RENAME_EXCHANGE) == 0


def write_atomically(path: str, chunks: list) -> None:
    """A reader never sees half a file: the new content takes the old one's name in one step."""
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".state-", dir=folder)
    try:
        try:
            write_all(handle, chunks)
        finally:
            os.close(handle)
        if not exchange(temporary, path):
            os.replace(temporary, path)
            return
    except BaseException:
        os.unlink(temporary)
        raise
    os.unlink(temporary)
