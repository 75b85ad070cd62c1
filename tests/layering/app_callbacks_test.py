#!/usr/bin/env python3
"""The Printer Application's PAPPL callbacks are called by PAPPL alone.

Each callback is named only by the unit that defines it and the unit that
hands it to PAPPL; the app's own code drives what lies behind it (the
document path drives RasterJob, not PAPPL's raster callbacks).
Usage: app_callbacks_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

# Callback: the units that may name it (defined in, registered by).
CALLBACKS = {
    "rasterStartJob": {"raster_job", "drivers"},
    "rasterStartPage": {"raster_job", "drivers"},
    "rasterWriteLine": {"raster_job", "drivers"},
    "rasterEndPage": {"raster_job", "drivers"},
    "rasterEndJob": {"raster_job", "drivers"},
    "printRawFile": {"raw_job", "drivers"},
    "testPageCallback": {"test_page", "drivers"},
    "printerStatusCallback": {"printer_state", "drivers"},
    "renderDocument": {"documents", "system"},
    "printRasterFile": {"documents", "system"},
}


def main():
    root = pathlib.Path(sys.argv[1]) / "printer-app"
    named = {name: set() for name in CALLBACKS}
    for path in sorted(root.glob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        text = path.read_text()
        for name in CALLBACKS:
            if re.search(r"\b" + name + r"\b", text):
                named[name].add(path.stem)
    failed = False
    for name, allowed in CALLBACKS.items():
        if not named[name] >= allowed:
            print(f"{name}: not found in {sorted(allowed - named[name])}", file=sys.stderr)
            failed = True
        if named[name] - allowed:
            print(f"{name}: named in {sorted(named[name] - allowed)}", file=sys.stderr)
            failed = True
    if not failed:
        print(f"{len(CALLBACKS)} callbacks, each named only where defined and registered")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
