"""What the simulator saw and what its clocks hold, as files a test reads."""

import json
import os
import tempfile
import time


class Recorder:
    """One JSON object per line for every datagram and connection received."""

    def __init__(self, path: str | None):
        self.file = open(path, "a", encoding="utf-8") if path else None

    def write(self, entry: dict) -> None:
        if self.file is None:
            return
        self.file.write(json.dumps({"t": round(time.time(), 6), **entry}) + "\n")
        self.file.flush()

    def close(self) -> None:
        if self.file is not None:
            self.file.close()
            self.file = None


def write_json_atomically(path: str, content: dict, readable: bool = True) -> None:
    """A reader never sees half a file: the new content is renamed over the old.

    Indenting costs most of the time of a write, so large states are written compact.
    """
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".state-", dir=folder)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            json.dump(content, out, indent=1 if readable else None)
            out.write("\n")
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
