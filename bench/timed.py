#!/usr/bin/env python3
"""Runs a command and prints how long it took, its exit status and its peak
resident memory, as one line: "SECONDS STATUS MAXRSS_KB".

  timed.py OUT ERR -- CMD...   (standard output to OUT, standard error to ERR)
"""

import resource
import subprocess
import sys
import time


def main() -> int:
    out, err, dashes, *command = sys.argv[1:]
    assert dashes == "--" and command, __doc__
    start = time.monotonic()
    with open(out, "wb") as stdout, open(err, "wb") as stderr:
        status = subprocess.call(command, stdout=stdout, stderr=stderr, stdin=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print(f"{elapsed:.2f} {status} {peak}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
