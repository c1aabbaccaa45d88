"""Benchmark: our solver, with and without its improvement engine, against OR-Tools, PyVRP and LKH-3.

Usage: python -m benchmarks.run [--quick | --large | --suite NAME] [--budget S] [--instances NAME ...]
                                [--instance-file PATH ...] [--seed N] [--threads N] [--lkh PATH] [--no-peer]
                                [--no-ortools] [--no-pyvrp] [--no-plots] [--out DIR]

Up to five solvers per instance, each with the same CPU budget on one thread:
"focal" (our focal search alone, "improve" false), "engine" (the same with
"improve" true and the given seed), OR-Tools, PyVRP (min-sum only) and, when
its executable is given with --lkh, LKH-3 (one agent type only). Each
solve runs in a child process (one at a time); every solution is checked by
kvr_mtsp.checker before any figure of it is reported. With --threads N
(default 1) above 1, "engine" runs N threads with the budget as its
wall-clock limit (and N times the budget as its processor-time limit);
the table's "threads" column says which.
Writes results.json, table.md and the plots to the output directory
(default benchmarks/results/<mode>-<timestamp>/) and prints the table.
"""
from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import subprocess
import sys
from pathlib import Path

from benchmarks import peer_ortools, report
from kvr_mtsp.checker import check_solution, objective_kind
from benchmarks.suites import DEFAULT_BUDGET, FULL, LARGE, QUICK, SUITES

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
MIN_RATE_WINDOW = 0.05  # CPU seconds; shorter windows give no throughput figure
FOCAL_NODE_LIMIT = 256  # the focal search alone refuses larger instances


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python -m benchmarks.run", description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="a few instances with a shorter budget")
    p.add_argument("--large", action="store_true",
                   help="the generated instances of 500 to 2,000 nodes (budget 20 or 60 s each)")
    p.add_argument("--suite", choices=sorted(SUITES),
                   help="a suite built from TSPLIB coordinates into benchmarks/generated/: large-minmax "
                        "(150 to 1,173 nodes, 30 s), capacity or pairs (10 s); the focal column is left out")
    p.add_argument("--large-suite", action="store_const", const="large-minmax", dest="suite",
                   help="the same as --suite large-minmax")
    p.add_argument("--budget", type=float, help="CPU seconds per solve (default 10, quick: 5)")
    p.add_argument("--instances", nargs="+", metavar="NAME", help="suite instances to run")
    p.add_argument("--instance-file", nargs="+", type=Path, default=[], metavar="PATH",
                   help="extra instance documents to run")
    p.add_argument("--seed", type=int, default=0, help="seed of our improvement engine (default 0)")
    p.add_argument("--threads", type=int, default=1,
                   help="threads of our engine; above 1 the budget is wall-clock seconds (default 1)")
    p.add_argument("--lkh", metavar="PATH", help="the LKH-3 executable (without it: no LKH-3 column)")
    p.add_argument("--no-peer", action="store_true", help="skip every peer")
    p.add_argument("--no-ortools", action="store_true", help="skip OR-Tools")
    p.add_argument("--no-pyvrp", action="store_true", help="skip PyVRP")
    p.add_argument("--no-plots", action="store_true", help="skip the plots")
    p.add_argument("--out", type=Path, help="output directory")
    return p.parse_args(argv)


def named(suite, names):
    """The recipes of `suite` with these names, in the order given."""
    known = {r.name: r for r in suite}
    unknown = [n for n in names if n not in known]
    if unknown:
        raise SystemExit(f"unknown instances: {', '.join(unknown)}")
    return [known[n] for n in names]


def large_instance_paths(args) -> list[Path]:
    from benchmarks import generate

    return generate.ensure(named(LARGE, args.instances) if args.instances else LARGE)


def instance_paths(args) -> list[Path]:
    if args.large:
        return large_instance_paths(args)
    if args.suite:
        from benchmarks import make_suites  # needs vrplib

        suite = SUITES[args.suite]
        return make_suites.ensure(named(suite, args.instances) if args.instances else suite)
    recipes = QUICK if args.quick else FULL
    if args.instances:
        recipes = named(FULL, args.instances)
    elif args.instance_file:
        recipes = []
    paths = [HERE / "instances" / f"{s.name}.json" for s in recipes]
    missing = [p.stem for p in paths if not p.exists()]
    if missing:
        from benchmarks import make_instances  # needs vrplib

        make_instances.main(["--only", *missing])
    return paths + [p.resolve() for p in args.instance_file]


def run_child(engine: str, path: Path, budget: float, work: Path, seed: int = 0,
              threads: int = 1, extra: tuple[str, ...] = ()) -> tuple[dict | None, str | None]:
    """Runs one solve in a fresh interpreter (`threads`: the engine's;
    `extra`: further worker arguments after them); returns (record, error)."""
    stem = path.name.split(".")[0]
    out = work / f"{stem}.{engine}.json"
    log = work / f"{stem}.{engine}.log"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [str(ROOT), os.environ.get("PYTHONPATH")])))
    cmd = [sys.executable, "-m", "benchmarks.worker", engine, str(path), repr(budget), str(out), str(seed),
           str(threads), *extra]
    try:
        with open(log, "w") as log_file:
            proc = subprocess.run(cmd, cwd=work, env=env, stdout=log_file, stderr=subprocess.STDOUT,
                                  timeout=40 * budget + 300)
    except subprocess.TimeoutExpired:
        return None, "killed after time-out"
    if proc.returncode != 0 or not out.exists():
        tail = log.read_text(errors="replace").strip().splitlines()[-1:] or [""]
        return None, f"exit status {proc.returncode} {tail[0][:120]}".strip()
    return json.loads(out.read_text()), None


def _mb(kb):
    return None if kb is None else kb / 1024.0


def _gap(value, reference):
    return None if value is None or not reference else 100.0 * (value - reference["value"]) / reference["value"]


def _checked(doc: dict, routes, reported, scale: float, side: dict) -> None:
    """Fills side["objective"] from the checker, or flags the solution."""
    check = check_solution(doc, routes, reported)
    if not check.feasible:
        side.update(status="infeasible", errors=check.errors)
        return
    side.update(status="ok", objective=check.objective / scale, max_cost=check.max_cost / scale,
                sum_cost=check.sum_cost / scale)


def evaluate_ours(doc: dict, record: dict | None, error: str | None) -> dict:
    side: dict = {"objective": None}
    if record is None:
        return dict(side, status="error", errors=[error])
    scale, kind = doc.get("scale", 1.0), objective_kind(doc)
    res, stats = record["result"], record["result"]["statistics"]
    key = "max_cost" if kind == "min_max" else "sum_cost"
    side.update(
        timeout=res["timeout"], cpu_time=record["cpu_time"], wall_time=record["wall_time"],
        solve_time=stats["solve_time"], n_generated=stats["n_generated"], n_expanded=stats["n_expanded"],
        last_update_time=stats["last_update_time"], peak_rss_mb=_mb(record["peak_rss_kb"]),
        rss_before_mb=_mb(record.get("rss_before_kb")),
        anytime=[[a["time"], a[key] / scale] for a in res["anytime"]],
        first_solution_s=res["anytime"][0]["time"] if res["anytime"] else None,
        last_improvement_s=res["anytime"][-1]["time"] if res["anytime"] else None,
    )
    # n_generated restarts from 0 at every solution, so it measures the labels
    # generated after the last solution: divide by the CPU time spent after it.
    window = record["cpu_time"] - stats["last_update_time"]
    side["labels_per_cpu_s"] = stats["n_generated"] / window if window >= MIN_RATE_WINDOW else None
    if res["status"] != "success":
        side["status"] = "no solution"
        return side
    _checked(doc, [r["path"] for r in res["routes"]], [r["cost"] for r in res["routes"]], scale, side)
    return side


def evaluate_peer(doc: dict, record: dict | None, error: str | None) -> dict:
    side: dict = {"objective": None}
    if record is None:
        return dict(side, status="error", errors=[error])
    if "unsupported" in record:
        return dict(side, status="n/a", reason=record["unsupported"])
    scale, kind = doc.get("scale", 1.0), objective_kind(doc)
    res = record["result"]
    key = "max_cost" if kind == "min_max" else "sum_cost"
    side.update(cpu_time=record["cpu_time"], wall_time=record["wall_time"], peak_rss_mb=_mb(record["peak_rss_kb"]),
                rss_before_mb=_mb(record.get("rss_before_kb")), integer_scale=res["integer_scale"],
                anytime=[[a["time"], a[key] / scale] for a in res["anytime"]],
                first_solution_s=res["anytime"][0]["time"] if res["anytime"] else None,
                last_improvement_s=res["anytime"][-1]["time"] if res["anytime"] else None)
    if res["status"] != "success":
        side["status"] = "no solution"
        return side
    _checked(doc, res["routes"], None, scale, side)
    return side


# Our two configurations and the peers: row key, worker engine, display name.
SOLVERS = (
    ("focal", "kvr-focal", "focal"),
    ("engine", "kvr-engine", "engine"),
    ("ortools", "ortools", "OR-Tools"),
    ("pyvrp", "pyvrp", "PyVRP"),
    ("lkh", "lkh", "LKH-3"),
)
OURS = ("focal", "engine")


def peer_available(module: str) -> str | None:
    try:
        __import__(module)
    except ImportError:
        return f"{module} not installed"
    return None


def skipped_peers(args) -> dict[str, str]:
    """Peer row key -> why it does not run (absent: it runs). Without --lkh
    the LKH-3 column is left out altogether (see bench_instance)."""
    skip = {}
    if args.lkh and args.no_peer:
        skip["lkh"] = "skipped"
    elif args.lkh and not os.access(args.lkh, os.X_OK):
        raise SystemExit(f"--lkh {args.lkh}: not an executable file")
    for key, module, flag in (("ortools", "ortools", args.no_ortools), ("pyvrp", "pyvrp", args.no_pyvrp)):
        reason = "skipped" if args.no_peer or flag else peer_available(module)
        if reason:
            skip[key] = reason
    return skip


def prepared_engine_document(doc: dict, path: Path, work: Path, seed: int, threads: int = 1,
                             budget: float | None = None) -> Path:
    """A copy of a large document with "improve" and "seed" set, which the
    worker hands to the module as a file (no Python copy in its memory)."""
    prepared = work / f"{path.stem}.engine-input.json"
    options = dict(doc.get("options", {}), improve=True, seed=seed)
    if threads > 1:
        options.update(threads=threads, wall_time_limit=budget)
    prepared.write_text(json.dumps(dict(doc, options=options), separators=(",", ":")))
    return prepared


def focal_refusal(doc: dict) -> str | None:
    """Why the focal search alone refuses this document, or None."""
    if len(doc["nodes"]) > FOCAL_NODE_LIMIT:
        return f"more than {FOCAL_NODE_LIMIT} nodes: refused without the engine"
    if peer_ortools.demand_items(doc) is not None or peer_ortools.precedence_pairs(doc):
        return "enforced loads or pairs: refused without the engine"
    return None


def bench_instance(path: Path, budget: float | None, work: Path, skip: dict[str, str], seed: int = 0,
                   lkh: str | None = None, focal: bool = True, threads: int = 1) -> dict:
    """One instance with every solver; budget None: the document's own time
    limit; lkh None: no LKH-3 entry in the row."""
    doc = json.loads(path.read_text())
    if budget is None:
        budget = float(doc.get("options", {}).get("time_limit", DEFAULT_BUDGET["full"]))
    large = len(doc["nodes"]) > FOCAL_NODE_LIMIT
    meta = doc.get("benchmark", {})
    row = {
        "instance": doc.get("name", path.stem), "file": str(path), "n": len(doc["nodes"]), "m": len(doc["agents"]),
        "objective": objective_kind(doc), "scale": doc.get("scale", 1.0), "reference": meta.get("reference"),
        "notes": meta.get("notes", []), "budget_cpu_s": budget, "threads": threads,
    }
    for key, engine, _ in SOLVERS:
        if key == "lkh" and lkh is None:
            continue
        if key in skip:
            row[key] = {"objective": None, "status": "n/a", "reason": skip[key]}
            continue
        if key == "focal" and not focal:
            row[key] = {"objective": None, "status": "n/a", "reason": "not run in this suite"}
            continue
        if key == "focal" and focal_refusal(doc):
            row[key] = {"objective": None, "status": "n/a", "reason": focal_refusal(doc)}
            continue
        evaluate = evaluate_ours if key in OURS else evaluate_peer
        source = path
        if large and key == "engine":
            engine, source = "kvr-file", prepared_engine_document(doc, path, work, seed, threads, budget)
        extra = (str(Path(lkh).resolve()),) if key == "lkh" else ()
        row[key] = evaluate(doc, *run_child(engine, source, budget, work, seed,
                                            threads if key == "engine" else 1, extra))
        row[key]["gap_pct"] = _gap(row[key]["objective"], row["reference"])
    engine, peer = row["engine"]["objective"], row["ortools"]["objective"]
    row["ratio"] = engine / peer if engine is not None and peer else None
    return row


def mean_gaps(rows: list[dict]) -> dict:
    """Per solver: the mean gap to the best-known value over the min-max
    instances that have one, and on how many of them it was taken."""
    out = {}
    for key, _, _ in SOLVERS:
        if not any(key in r for r in rows):
            continue
        gaps = [r[key]["gap_pct"] for r in rows if r["objective"] == "min_max" and r.get("reference")
                and r["reference"]["kind"] == "BKS" and r.get(key, {}).get("gap_pct") is not None]
        with_bks = sum(1 for r in rows if r["objective"] == "min_max" and r.get("reference")
                       and r["reference"]["kind"] == "BKS")
        out[key] = {"mean_gap_pct": sum(gaps) / len(gaps) if gaps else None, "instances": len(gaps),
                    "of": with_bks}
    return out


def _commit() -> str | None:
    try:
        proc = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=ROOT, capture_output=True, text=True)
    except OSError:
        return None
    return proc.stdout.strip() or None


def _progress(items):
    try:
        from tqdm import tqdm
    except ImportError:
        return items
    return tqdm(items, desc="instances", unit="inst", file=sys.stderr)


def _load() -> list[float] | None:
    try:
        return [round(x, 2) for x in os.getloadavg()]
    except OSError:
        return None


def _peer_versions(skip: dict[str, str], lkh: str | None) -> dict:
    from importlib import metadata

    from benchmarks import peer_lkh

    versions = {"lkh": peer_lkh.version(lkh) if lkh and "lkh" not in skip else None}
    for key, dist in (("ortools", "ortools"), ("pyvrp", "pyvrp")):
        try:
            versions[key] = None if key in skip else metadata.version(dist)
        except metadata.PackageNotFoundError:
            versions[key] = None
    return versions


def main(argv=None) -> int:
    args = parse_args(argv)
    mode = "large" if args.large else args.suite or ("quick" if args.quick else "full")
    # The large suite's documents carry their own budgets (20 or 60 CPU s).
    budget = args.budget if args.budget is not None else DEFAULT_BUDGET.get(mode)
    paths = instance_paths(args)
    stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
    out = (args.out or HERE / "results" / f"{mode}-{stamp}").resolve()
    work = out / "runs"
    work.mkdir(parents=True, exist_ok=True)
    skip = skipped_peers(args)
    load_before = _load()

    rows = []
    iterator = _progress(paths)
    for path in iterator:
        if hasattr(iterator, "set_postfix_str"):
            iterator.set_postfix_str(path.stem)
        rows.append(bench_instance(path, budget, work, skip, args.seed, args.lkh, focal=not args.suite,
                                   threads=args.threads))

    summary = {
        "mode": mode, "budget_cpu_s": budget, "date": datetime.datetime.now().isoformat(timespec="seconds"),
        "nproc": os.cpu_count(), "machine": platform.machine(), "python": platform.python_version(),
        "commit": _commit(), "engine_seed": args.seed, "engine_threads": args.threads,
        "load_average": {"before": load_before, "after": _load()},
        "peers": _peer_versions(skip, args.lkh),
        "mean_gap_minmax_bks": mean_gaps(rows),
        "definitions": {
            "objective": "checker-recomputed objective in the instance's original units (divided by its scale)",
            "gap_pct": "100 * (objective - reference) / reference; reference BKS (best known) or UB (upper bound)",
            "last_improvement_s": "CPU seconds from the start of the search to the last improving solution",
            "first_solution_s": "CPU seconds from the start of the search to the first solution",
            "labels_per_cpu_s": "labels generated after the last solution per CPU second spent after it",
            "peak_rss_mb": "peak resident set size of the solving child process (interpreter included)",
            "ratio": "objective of ours with the engine / OR-Tools objective (below 1: ours is better)",
            "focal": "our solver with \"improve\" false: focal search and post-optimisers",
            "engine": "our solver with \"improve\" true: the improvement engine gets the rest of the budget",
            "mean_gap_minmax_bks": "mean gap % to the best-known value over the min-max instances with one",
        },
        "instances": rows,
    }
    (out / "results.json").write_text(json.dumps(summary, indent=1) + "\n")
    (out / "table.md").write_text(report.markdown_table(rows) + "\n" + report.mean_gap_lines(summary["mean_gap_minmax_bks"]))
    written = []
    if not args.no_plots:
        try:
            written = report.plot(rows, out)
        except ImportError:
            print("matplotlib not installed: no plots", file=sys.stderr)
    budget_text = f"{budget:g} s" if budget is not None else "per instance (20 or 60 s)"
    print(f"\n{mode} mode, CPU budget {budget_text} per solve, {os.cpu_count()} cores\n")
    print(report.text_table(rows))
    print(report.mean_gap_lines(summary["mean_gap_minmax_bks"]))
    not_posed: dict[tuple[str, str], int] = {}
    for row in rows:
        for key, _, name in SOLVERS:
            side = row.get(key, {})
            if side.get("errors"):
                print(f"{row['instance']} {name}: {side['status']}: {'; '.join(side['errors'])}")
            elif side.get("reason") not in (None, "skipped"):
                not_posed[name, side["reason"]] = not_posed.get((name, side["reason"]), 0) + 1
    for (name, reason), count in not_posed.items():
        print(f"{name} n/a on {count} instance(s): {reason}")
    print(f"\nwrote {out / 'results.json'}, {out / 'table.md'}" + "".join(f", {p.name}" for p in written))
    return 0


if __name__ == "__main__":
    sys.exit(main())
