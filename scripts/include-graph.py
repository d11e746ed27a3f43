#!/usr/bin/env python3
"""Prints the include graph of the library and the host layer: which folder includes which (with the
number of #include lines), and every cycle between units (a unit is a .cpp with the .h of the same
name). Exits 1 when there is a cycle or an include between folders that the layering does not
allow; --dot prints the folder graph for Graphviz instead."""
import os
import re
import sys
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TREES = ["src", "platform"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)

# The folders each library folder may include besides itself and include/: the layers below it and
# what its Parts need of others. The store adds entries with the import scanner's answer and asks the
# drive classification where a path lies; references asks the drive classification too, and the
# reference query asks the map search by name which copy of a file is found first; everything may use
# support/.
ALLOWED = {
    "src/support": set(),
    "src/store": {"src/support", "src/references", "src/scan"},
    "src/references": {"src/support", "src/store", "src/scan", "src/maintenance"},
    "src/mapfile": {"src/support", "src/store", "src/scan"},
    "src/scan": {"src/support", "src/store", "src/references", "src/mapfile"},
    "src/maintenance": {"src/support", "src/store", "src/references", "src/scan"},
    "src/exports": {"src/support", "src/store", "src/references", "src/scan", "src/mapfile", "src/maintenance"},
    "platform": set(),
}
# Of another folder a folder may reach only these units (the drive classification is asked by
# several Parts, and the maintenance exports may share the directory walker's; nothing else of scan/
# is; of maintenance/ only the search by name is asked by another folder).
# The state table lists every global of the library and includes nothing of it but the public
# records and support/limits.h, so any folder may read it.
STATE_TABLE = "src/store/module_state.h"
NARROW = {("src/store", "src/scan"): {"drive_class"}, ("src/references", "src/scan"): {"drive_class"},
          ("src/mapfile", "src/scan"): {"drive_class"}, ("src/store", "src/references"): {"import_scanner"},
          ("src/references", "src/maintenance"): {"search_for_file"},
          ("src/maintenance", "src/scan"): {"drive_class", "directory_walker"}}


def sources():
    for tree in TREES:
        for folder, _, files in os.walk(os.path.join(ROOT, tree)):
            for name in sorted(files):
                if name.endswith((".cpp", ".h", ".c")):
                    yield os.path.relpath(os.path.join(folder, name), ROOT)


def resolve(including, target):
    folder = os.path.dirname(including)
    for base in (folder, "src", "include", "platform"):
        path = os.path.normpath(os.path.join(base, target))
        if os.path.exists(os.path.join(ROOT, path)):
            return path
    return None


def unit(path):
    return os.path.splitext(path)[0]


def main():
    edges = defaultdict(int)
    unit_edges = defaultdict(set)
    bad = []
    for path in sources():
        text = open(os.path.join(ROOT, path), encoding="latin-1").read()
        for target in INCLUDE.findall(text):
            resolved = resolve(path, target)
            if resolved is None or resolved.startswith("include/"):
                continue
            a, b = os.path.dirname(path), os.path.dirname(resolved)
            if unit(path) != unit(resolved):
                unit_edges[unit(path)].add(unit(resolved))
            if a == b:
                continue
            edges[(a, b)] += 1
            allowed = b in ALLOWED.get(a, set()) or resolved == STATE_TABLE
            narrow = NARROW.get((a, b))
            if allowed and narrow is not None and os.path.basename(unit(resolved)) not in narrow:
                allowed = False
            if not allowed:
                bad.append(f"{path} includes {resolved}")

    if "--dot" in sys.argv:
        print("digraph includes {")
        for (a, b), n in sorted(edges.items()):
            print(f'  "{a}" -> "{b}" [label="{n}"];')
        print("}")
        return 0

    print("Folder includes (including folder -> included folder: #include lines):")
    for (a, b), n in sorted(edges.items()):
        print(f"  {a:16} -> {b:16} {n:3}")

    # Cycles between units: strongly connected components of more than one unit (Tarjan).
    index, low, stack, on, sccs, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(unit_edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            scc = []
            while True:
                w = stack.pop()
                on.discard(w)
                scc.append(w)
                if w == v:
                    break
            if len(scc) > 1:
                sccs.append(sorted(scc))

    sys.setrecursionlimit(10000)
    for v in sorted(set(unit_edges) | {w for ws in unit_edges.values() for w in ws}):
        if v not in index:
            visit(v)
    print("Unit cycles:", "none" if not sccs else "")
    for scc in sccs:
        print("  " + " <-> ".join(scc))
    print("Includes the layering does not allow:", "none" if not bad else "")
    for line in bad:
        print("  " + line)
    return 1 if sccs or bad else 0


if __name__ == "__main__":
    sys.exit(main())
