"""Runs one solve in its own process and writes what it measured as JSON.

Usage: python -m benchmarks.worker {kvr-focal,kvr-engine,kvr-file,ortools,pyvrp,lkh} INSTANCE BUDGET OUT [SEED [THREADS [LKH]]]

kvr-focal: our solver with "improve" false (the focal search and its
post-optimisers alone); kvr-engine: "improve" true with the given "seed"
(default 0), so the improvement engine gets what the focal search's first
solution leaves of the budget. Both override only those options of the
document. kvr-file: our solver on the document as it is, read by the module
from the file (the large suite writes one with "improve" and "seed" set).
THREADS (default 1) above 1 runs kvr-engine with that many "threads" and
BUDGET as its "wall_time_limit", its processor-time limit THREADS * BUDGET
(kvr-file: the document sets them, BUDGET * THREADS is its time limit).
lkh: the LKH-3 executable given as LKH, run in a directory beside OUT; its
processor time and peak memory are those of LKH-3's own process.

A process of its own per solve gives each run a clean peak resident set size
(ru_maxrss) and survives a solver that ends the process.
"""
from __future__ import annotations

import importlib
import json
import resource
import sys
import time


def _rss_kb() -> int | None:
    try:
        import psutil
    except ImportError:
        return None
    return psutil.Process().memory_info().rss // 1024


def _measured(solve) -> dict:
    """Runs `solve()` and records its processor and wall time and the
    resident size just before it."""
    rss_before = _rss_kb()
    cpu0, wall0 = time.process_time(), time.perf_counter()
    result = solve()
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0
    return {"result": result, "cpu_time": cpu, "wall_time": wall, "rss_before_kb": rss_before}


def run_kvr(text: str, budget: float, improve: bool, seed: int, threads: int = 1) -> dict:
    import _kvr_core

    doc = json.loads(text)
    options = doc.setdefault("options", {})
    options["improve"] = improve
    if improve:
        options["seed"] = seed
    if improve and threads > 1:
        options.update(threads=threads, wall_time_limit=budget)
    text = json.dumps(doc)
    return _measured(lambda: dict(_kvr_core.solve_json_str(text, budget * threads if improve else budget)))


def _run_peer(peer, library: str, text: str, solve) -> dict:
    """A peer's solve of the document, or why the peer cannot pose it. The
    peer's `library` is loaded before measuring."""
    doc = json.loads(text)
    reason = peer.unsupported_reason(doc)
    if reason is not None:
        return {"unsupported": reason}
    importlib.import_module(library)
    return _measured(lambda: solve(doc))


def run_kvr_file(path: str, budget: float) -> dict:
    """Our solver on a document that already sets its options: read by the
    module alone, so the peak resident size is the solver's, not that of a
    Python copy of a large document."""
    import _kvr_core

    return _measured(lambda: dict(_kvr_core.solve_json_file(path, budget)))


def run_ortools(text: str, budget: float, seed: int) -> dict:
    from benchmarks import peer_ortools

    return _run_peer(peer_ortools, "ortools.constraint_solver.pywrapcp", text,
                     lambda doc: peer_ortools.solve(doc, budget))


def run_pyvrp(text: str, budget: float, seed: int) -> dict:
    from benchmarks import peer_pyvrp

    return _run_peer(peer_pyvrp, "pyvrp", text, lambda doc: peer_pyvrp.solve(doc, budget, seed))


def run_lkh(text: str, budget: float, seed: int, lkh: str, work: str) -> dict:
    from pathlib import Path

    from benchmarks import peer_lkh

    doc = json.loads(text)
    reason = peer_lkh.unsupported_reason(doc)
    if reason is not None:
        return {"unsupported": reason}
    return peer_lkh.solve(doc, budget, seed, lkh, Path(work))


RUNS = {
    "kvr-focal": lambda text, budget, seed: run_kvr(text, budget, False, seed),
    "kvr-engine": lambda text, budget, seed, threads=1: run_kvr(text, budget, True, seed, threads),
    "ortools": run_ortools,
    "pyvrp": run_pyvrp,
}


def main(argv: list[str]) -> int:
    engine, instance, budget, out = argv[0], argv[1], float(argv[2]), argv[3]
    seed = int(argv[4]) if len(argv) > 4 else 0
    threads = int(argv[5]) if len(argv) > 5 else 1
    if engine == "kvr-file":
        record = run_kvr_file(instance, budget * threads)
    elif engine == "lkh":
        with open(instance, encoding="utf-8") as f:
            record = run_lkh(f.read(), budget, seed, argv[6], out + ".lkh")
    else:
        with open(instance, encoding="utf-8") as f:
            text = f.read()
        record = RUNS[engine](text, budget, seed, threads) if engine == "kvr-engine" else RUNS[engine](text, budget, seed)
    # LKH-3's figures are those of its own process, not of this interpreter.
    record["peak_rss_kb"] = record.pop("child_peak_rss_kb", None) or resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    with open(out, "w", encoding="utf-8") as f:
        json.dump(record, f)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
