"""One small solve through the _kvr_core module, to be run under valgrind.

Solves a small instance (examples/single_depot.json, or a built-in one when
the examples are missing) once from its text and once from its file, then
takes one error path, so that memcheck sees the search, the post-optimisers,
the result dictionary and an exception crossing into Python:

    PYTHONMALLOC=malloc valgrind --error-exitcode=1 --errors-for-leak-kinds=none \\
        python scripts/valgrind_smoke.py
"""
from __future__ import annotations

import json
import sys
from pathlib import Path

import _kvr_core

ROOT = Path(__file__).resolve().parent.parent
EXAMPLE = ROOT / "examples" / "single_depot.json"
TIME_LIMIT = 2.0  # processor seconds; valgrind slows the search down many times

BUILT_IN = {
    "nodes": [{"id": i, "x": i, "y": 0, "z": 0} for i in range(5)],
    "agents": [{"id": 1, "type": "truck", "start_node": 0, "end_node": 0},
               {"id": 2, "type": "truck", "start_node": 0, "end_node": 0}],
    "costs": {"truck": [[abs(r - c) + 0.5 * (r != c) for c in range(5)] for r in range(5)]},
    "constraints": [{"kind": "timewindow", "items": [{"node": 3, "start": 2, "end": 40}]}],
    "options": {"objective": "min_max"},
}


def main() -> int:
    text = EXAMPLE.read_text(encoding="utf-8") if EXAMPLE.exists() else json.dumps(BUILT_IN)
    result = _kvr_core.solve_json_str(text, TIME_LIMIT)
    print(f"text: {result['status']}, max cost {result['statistics']['max_cost']:.3f}, "
          f"{len(result['anytime'])} anytime points")
    if EXAMPLE.exists():
        result = _kvr_core.solve_json_file(str(EXAMPLE), TIME_LIMIT)
        print(f"file: {result['status']}, max cost {result['statistics']['max_cost']:.3f}")
    try:
        _kvr_core.solve_json_str('{"nodes": [], "agents": [{"id": 1}]}')
    except RuntimeError as error:
        print(f"error path: {error}")
    return 0 if result["status"] in ("success", "failed") else 1


if __name__ == "__main__":
    sys.exit(main())
