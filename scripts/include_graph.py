"""Folder-level include graph of src/, and a check that every include points down.

Each source folder has a layer; a file may include files of its own folder
and of folders on lower layers only. Prints the graph (one line per folder
with the folders it includes and how often) and every include that runs back
up or sideways, and exits with status 1 when there is one.

    python scripts/include_graph.py [SRC_DIR]
"""
from __future__ import annotations

import re
import sys
from collections import Counter, defaultdict
from pathlib import Path

# Lowest first. Folders on one layer must not include each other.
LAYERS: dict[str, int] = {
    "common": 0,  # plain records and the console sink
    "model": 1,  # the problem model and the instance reader
    "graph": 1,  # the planner graph
    "tables": 2,  # the instance tables derived once per solve
    "routes": 3,  # the route-cost core: agents, segments, the walk of a route, penalised costs
    "plugins": 4,  # heuristic, objectives, expansion, focal order, checkers
    "postopt": 5,  # post-optimisers
    "wiring": 6,  # choosing and connecting the plugins
    "engine": 7,  # the improvement engine: hybrid genetic search on complete solutions
    "search": 8,  # the Solver and its label store, lists and frontiers
    "python": 9,  # the extension module
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.MULTILINE)


def folder_includes(src: Path) -> dict[tuple[str, str], list[str]]:
    """(including folder, included folder) -> files holding such an include."""
    edges: dict[tuple[str, str], list[str]] = defaultdict(list)
    for path in sorted(src.glob("*/*")):
        if path.suffix not in (".h", ".cpp", ".hpp"):
            continue
        here = path.parent.name
        for there in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            if there != here:
                edges[(here, there)].append(path.relative_to(src).as_posix())
    return edges


def violations(edges: dict[tuple[str, str], list[str]]) -> list[str]:
    """Every include that runs up, sideways, or to or from a folder without a layer."""
    found = []
    for (here, there), files in sorted(edges.items()):
        if here not in LAYERS or there not in LAYERS:
            unknown = here if here not in LAYERS else there
            found.append(f"{here} -> {there}: folder {unknown!r} has no layer ({', '.join(files)})")
        elif LAYERS[there] >= LAYERS[here]:
            kind = "up" if LAYERS[there] > LAYERS[here] else "sideways"
            found.append(f"{here} -> {there} runs {kind} ({', '.join(files)})")
    return found


def main(argv: list[str]) -> int:
    src = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent / "src"
    edges = folder_includes(src)
    outgoing: dict[str, Counter] = defaultdict(Counter)
    for (here, there), files in edges.items():
        outgoing[here][there] += len(files)
    for folder in sorted({p.name for p in src.iterdir() if p.is_dir()}, key=lambda f: (LAYERS.get(f, 99), f)):
        targets = ", ".join(f"{t} ({n})" for t, n in sorted(outgoing[folder].items(), key=lambda kv: LAYERS.get(kv[0], 99)))
        print(f"[{LAYERS.get(folder, '?')}] {folder} -> {targets or '-'}")
    found = violations(edges)
    for line in found:
        print(f"layering fault: {line}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
