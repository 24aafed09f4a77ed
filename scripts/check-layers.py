#!/usr/bin/env python3
"""Fails when a source folder includes a folder above it, or folders form a cycle.

The folders of src/ are layers, lowest first; each may include only itself and
the folders listed before it. Run from anywhere: check-layers.py [SRC_DIR]
"""

import pathlib
import re
import sys

LAYERS = ["base", "platform", "json", "protocol", "io", "project", "loop", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.MULTILINE)


def folder_of(path, src):
    return path.relative_to(src).parts[0]


def find_cycle(graph):
    """One cycle of the folder graph as a list of folders, or None."""
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                return trail[trail.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, trail + [nxt])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def main():
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "src")
    rank = {name: i for i, name in enumerate(LAYERS)}
    problems = []
    graph = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".hpp", ".cpp") or len(path.relative_to(src).parts) < 2:
            continue
        here = folder_of(path, src)
        if here not in rank:
            problems.append(f"{path.relative_to(src.parent)}: folder '{here}' is not a known layer")
            continue
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if target == here:
                continue
            graph.setdefault(here, set()).add(target)
            if target not in rank:
                problems.append(f"{path.relative_to(src.parent)}: includes unknown folder '{target}'")
            elif rank[target] > rank[here]:
                problems.append(f"{path.relative_to(src.parent)}: '{here}' includes '{target}', a layer above it")
    cycle = find_cycle(graph)
    if cycle:
        problems.append("folders form a cycle: " + " -> ".join(cycle))
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"layers ok: {' < '.join(LAYERS)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
