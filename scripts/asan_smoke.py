"""Short solves through the _kvr_core module, meant for a sanitizer-instrumented build.

Solves every example instance (examples/*.json) with a short time limit, then
a few documents that take the error paths and the edge cases of the reader
and the solver construction. Checks only the outcome class; the sanitizers do
the real checking and abort the process on the first fault.

Run against the instrumented module (see scripts/test):
    LD_PRELOAD=$(gcc -print-file-name=libasan.so) ASAN_OPTIONS=detect_leaks=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    PYTHONPATH=build/asan-python python scripts/asan_smoke.py
"""
from __future__ import annotations

import json
import sys
import tempfile
from pathlib import Path

import _kvr_core

ROOT = Path(__file__).resolve().parent.parent
TIME_LIMIT = 0.3  # processor seconds per search


def small(**changes) -> dict:
    """A four-node instance with two agent types, a window and a route limit."""
    doc = {
        "nodes": [{"id": 10 * i, "x": i, "y": -i, "z": 0, **({"type": "DEPOT"} if i == 0 else {})} for i in range(4)],
        "agents": [
            {"id": 1, "type": "truck", "start_node": 0, "end_node": 0, "max_length": 60},
            {"id": 2, "type": "drone", "start_node": 0, "end_node": 30},
        ],
        "costs": {
            "truck": [[0, 4.5, 7, 9999.0], [4.5, 0, 3, 6], [7, 3, 0, 2.5], [8, 6, 2.5, 0]],
            "drone": [[0, 2], [2, 0, 1.5, 4, 99], [3, 1.5, 0, 1]],  # short and ragged rows
        },
        "constraints": [
            {"kind": "assignment", "items": [{"node": 20, "types": ["drone", "boat"]}]},
            {"kind": "timewindow", "items": [{"node": 10, "start": 5, "end": 50}, {"node": 99, "start": 0, "end": 1}]},
        ],
        "options": {"return_to_end": True, "objective": "min_max"},
    }
    doc.update(changes)
    return doc


# (name, document text, outcome: "result" or the expected exception class)
CASES = [
    ("small instance", json.dumps(small()), "result"),
    ("open routes, min-sum", json.dumps(small(options={"return_to_end": False, "objective": "min_sum"})), "result"),
    ("duplicate node and agent ids", json.dumps(small(
        nodes=small()["nodes"] + [{"id": 20, "x": 9, "y": 9, "z": 9}],
        agents=small()["agents"] + [{"id": 1, "type": "drone", "start_node": 10, "end_node": 10}])), ValueError),
    ("negative cost", json.dumps(small(costs={"truck": [[0, -1]]})), ValueError),
    ("raised missing_cost", json.dumps(small(options={"missing_cost": 1e5})), "result"),
    ("no agents", json.dumps(small(agents=[], costs={})), "result"),
    ("no nodes", json.dumps({"nodes": [], "agents": []}), "result"),
    ("one node, two idle agents", json.dumps({
        "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}],
        "agents": [{"id": 1, "type": "t", "start_node": 0, "end_node": 0},
                   {"id": 2, "type": "t", "start_node": 0, "end_node": 0}]}), "result"),
    ("negative search time limit", json.dumps(small(options={"time_limit": -1})), "result"),
    ("window closing before it opens", json.dumps(small(constraints=[
        {"kind": "timewindow", "items": [{"node": 20, "start": 30, "end": 1}]}])), "result"),
    ("empty text", "", RuntimeError),
    ("truncated text", json.dumps(small())[:-7], RuntimeError),
    ("multi-byte character at a parse error", '{"nodes": [é]}', RuntimeError),
    ("wrong JSON type", json.dumps(small(nodes={"id": 1})), RuntimeError),
    ("missing key", json.dumps({"nodes": []}), RuntimeError),
    ("unknown start node", json.dumps(small(agents=[{"id": 1, "type": "truck", "start_node": 5, "end_node": 0}])),
     IndexError),
    ("cost matrix of an unknown type", json.dumps(small(costs={"boat": [[0]]})), IndexError),
    ("more nodes than a search supports", json.dumps(small(
        nodes=[{"id": i, "x": 0, "y": 0, "z": 0} for i in range(300)])), ValueError),
]


def run(name: str, call, outcome) -> bool:
    try:
        result = call()
    except Exception as error:  # the outcome is compared below
        ok = outcome != "result" and isinstance(error, outcome)
        print(f"{'ok  ' if ok else 'FAIL'} {name}: {type(error).__name__}: {str(error)[:90]}")
        return ok
    ok = outcome == "result" and result["status"] in ("success", "failed")
    costs = [round(r["cost"], 3) for r in result["routes"]]
    print(f"{'ok  ' if ok else 'FAIL'} {name}: {result['status']}, route costs {costs}")
    return ok


def main() -> int:
    examples = sorted((ROOT / "examples").glob("*.json"))
    if not examples:
        print("no example instances under examples/", file=sys.stderr)
        return 1
    passed = True
    for path in examples:
        passed &= run(f"example {path.name}", lambda p=path: _kvr_core.solve_json_file(str(p), TIME_LIMIT), "result")
    for name, text, outcome in CASES:
        passed &= run(name, lambda t=text: _kvr_core.solve_json_str(t, TIME_LIMIT), outcome)
    with tempfile.TemporaryDirectory() as tmp:
        broken = Path(tmp) / "broken.json"
        broken.write_bytes(b"\xef\xbb\xbf{\"nodes\": [\xc3\x28]}")
        passed &= run("file with invalid UTF-8", lambda: _kvr_core.solve_json_file(str(broken), TIME_LIMIT), RuntimeError)
        passed &= run("missing file", lambda: _kvr_core.solve_json_file(str(Path(tmp) / "none.json")), RuntimeError)
    print("all cases passed" if passed else "some cases FAILED")
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
