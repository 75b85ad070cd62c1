#!/usr/bin/env python3
"""The Printer Application's files include one another without a cycle.

A header and its source file are one unit (printer-app/raster_job.h and
printer-app/raster_job.cpp are printer-app/raster_job); a unit depends on
every unit whose header one of its files includes. The units under
printer-app/ must form no cycle, so that each can be read, built and tested
with only what it stands on."""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"(printer-app/[^"]+)\.h"', re.M)


def units(root):
    graph = {}
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        unit = str(path.relative_to(root.parent).with_suffix(""))
        edges = graph.setdefault(unit, set())
        for target in INCLUDE.findall(path.read_text()):
            if target != unit:
                edges.add(target)
    return graph


def cycle(graph):
    """One cycle as a list of units, or None."""
    state = {}  # unit -> 1 while on the path, 2 when done
    path = []

    def visit(unit):
        state[unit] = 1
        path.append(unit)
        for target in sorted(graph.get(unit, ())):
            if state.get(target) == 1:
                return path[path.index(target):] + [target]
            if target not in state:
                found = visit(target)
                if found:
                    return found
        path.pop()
        state[unit] = 2
        return None

    for unit in sorted(graph):
        if unit not in state:
            found = visit(unit)
            if found:
                return found
    return None


def main():
    root = pathlib.Path(sys.argv[1]) / "printer-app"
    graph = units(root)
    if not graph:
        print(f"no sources under {root}", file=sys.stderr)
        return 1
    found = cycle(graph)
    if found:
        print("include cycle: " + " -> ".join(found), file=sys.stderr)
        return 1
    print(f"{len(graph)} units, no include cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
