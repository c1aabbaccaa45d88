"""Benchmark: how fast and how cheaply an instance with too many nodes is refused.

Usage: python -m benchmarks.oversize [--nodes N ...] [--full-matrix]

For each node count a document with that many nodes and one agent is written
to a temporary file, and a child process hands it to `solve_json_file` (a
fresh process per document, so that its peak memory is its own). Printed per
document: its size, the outcome (the error type and message, or the result
status), the wall-clock seconds of the call and the growth of the process's
peak resident memory during the call. Without --full-matrix the documents
carry no cost matrix; with it they carry a complete N x N matrix (large: the
document of 5000 nodes is about 100 MB of text).
"""
from __future__ import annotations

import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

DEFAULT_NODES = [256, 257, 5000, 50000]

CHILD = r"""
import json, resource, sys, time
import _kvr_core
path = sys.argv[1]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
try:
    result = _kvr_core.solve_json_file(path, 0.1)
    outcome = "returns status " + result["status"]
except Exception as error:
    outcome = f"{type(error).__name__}: {error}"
seconds = time.perf_counter() - start
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"outcome": outcome, "seconds": seconds, "peak_kib": after - before}))
"""


def write_document(path: Path, n: int, full_matrix: bool) -> int:
    """Writes the document row by row; returns its size in bytes."""
    with path.open("w", encoding="utf-8") as out:
        out.write('{"nodes": [')
        out.write(", ".join(f'{{"id": {i}, "x": {i}, "y": 0, "z": 0}}' for i in range(n)))
        out.write('], "agents": [{"id": 1, "type": "truck", "start_node": 0, "end_node": 0}]')
        if full_matrix:
            out.write(', "costs": {"truck": [')
            for r in range(n):
                if r:
                    out.write(", ")
                out.write(json.dumps([float(abs(r - c)) for c in range(n)]))
            out.write("]}")
        out.write("}")
    return path.stat().st_size


def measure(n: int, full_matrix: bool) -> dict:
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / f"oversize-{n}.json"
        size = write_document(path, n, full_matrix)
        child = subprocess.run([sys.executable, "-c", CHILD, str(path)], capture_output=True, text=True, check=True)
    figures = json.loads(child.stdout.strip().splitlines()[-1])
    figures.update(nodes=n, document_mb=size / 1e6)
    return figures


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, nargs="+", default=DEFAULT_NODES)
    parser.add_argument("--full-matrix", action="store_true", help="add a complete N x N cost matrix")
    args = parser.parse_args()
    print(f"{'nodes':>7} {'document MB':>12} {'seconds':>9} {'peak +MB':>9}  outcome")
    for n in args.nodes:
        f = measure(n, args.full_matrix)
        print(f"{f['nodes']:>7} {f['document_mb']:>12.2f} {f['seconds']:>9.4f} {f['peak_kib'] / 1024:>9.1f}  {f['outcome']}")


if __name__ == "__main__":
    main()
