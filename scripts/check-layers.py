#!/usr/bin/env python3
"""Checks that the folders under src/ stay layers.

Every `#include "folder/..."` of a source file, and every custom widget's
`<header>folder/...</header>` of a Designer form, may name only its own folder
or one the table below lets it use, and the Qt-free folders include no Qt
header. Prints each breach as FILE:LINE and exits 1 when there is one.
"""
import pathlib
import re
import sys

# What each folder may include besides itself, lowest layer first.
CORE = ["platform", "clocks", "link", "tftp", "settings", "site"]
MAY_USE = {
    "platform": [],
    "clocks": ["platform"],
    "link": ["clocks", "platform"],
    "tftp": ["platform"],
    "settings": ["link", "tftp", "clocks", "platform"],
    "site": ["settings", "link", "tftp", "clocks", "platform"],
    "cli": CORE,
    "widgets": CORE,
    "pages": CORE + ["widgets"],
    "bells": CORE + ["widgets"],
    "maint": CORE + ["widgets"],
    "siteview": CORE + ["widgets"],
    "app": CORE + ["widgets", "pages", "bells", "maint", "siteview"],
}
QT_FREE = set(CORE + ["cli"])

PROJECT_INCLUDE = re.compile(r'^\s*(?:#\s*include\s+"|<header>)([A-Za-z0-9_]+)/')
QT_INCLUDE = re.compile(r'^\s*#\s*include\s+<(Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*)>')


def breaches(src: pathlib.Path):
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".ui"}:
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in MAY_USE:
            yield f"{path}: folder {folder!r} has no place in the layer table"
            continue
        allowed = set(MAY_USE[folder]) | {folder}
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            used = PROJECT_INCLUDE.match(line)
            if used and used.group(1) not in allowed:
                yield f"{path}:{number}: {folder}/ includes {used.group(1)}/, a layer it may not use"
            if folder in QT_FREE and QT_INCLUDE.match(line):
                yield f"{path}:{number}: {folder}/ is Qt-free but includes {line.strip()}"


def main() -> int:
    root = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent
    found = list(breaches(root / "src"))
    for breach in found:
        print(breach)
    if found:
        print(f"{len(found)} include(s) cross the layers")
        return 1
    print("every #include keeps to the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
