"""Few agents, long routes: the installed module's objective at fixed CPU budgets and its children per CPU second.

Usage: python -m benchmarks.long_routes [--budgets S ...] [--instances NAME ...]
            [--iterations N] [--label TEXT] [--out PATH]

Instances are the benchmark documents of benchmarks/instances (NAME as there),
the large min-max suite's documents (written into benchmarks/generated/ on
first use), or a plain TSPLIB-derived document with its agents changed: NAME@M solves
NAME with M identical agents (for example ch150-m3-minmax@2). Each solve runs
alone in a fresh child process (benchmarks.worker) with "improve" on and seed
0; every solution is checked by kvr_mtsp.checker. Per instance it prints the
longest route (min-max) or the total (min-sum) at every budget, and the
engine's children per CPU second as benchmarks.engine_throughput measures it:
(N - 1) / (CPU s with N children - CPU s with 1). The rows are appended as
JSON lines to --out, labelled, so that two modules (before and after a
change, installed in turn) can be compared afterwards with --compare.
"""
from __future__ import annotations

import argparse
import copy
import json
import subprocess
import sys
import tempfile
from pathlib import Path

from kvr_mtsp.checker import check_solution

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
LONG = ("ch150-m3-minmax@2", "ch150-m3-minmax", "kroA200-m5-minmax@3", "kroA200-m5-minmax",
        "pr226-m5-minmax@3", "pr226-m5-minmax")


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python -m benchmarks.long_routes", description=__doc__.splitlines()[0])
    p.add_argument("--budgets", nargs="+", type=float, default=[10.0, 30.0], help="CPU seconds per solve")
    p.add_argument("--instances", nargs="+", default=list(LONG), metavar="NAME")
    p.add_argument("--iterations", type=int, default=0,
                   help="children of the throughput solves (0: no throughput figure)")
    p.add_argument("--label", default="installed", help="name of the module in the rows")
    p.add_argument("--out", type=Path, default=ROOT / "build" / "long_routes.jsonl")
    p.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"),
                   help="print the rows of two labels of --out side by side and stop")
    return p.parse_args(argv)


def document(name: str) -> dict:
    base, _, agents = name.partition("@")
    path = HERE / "instances" / f"{base}.json"
    if not path.exists():
        # A document of the large min-max suite, written on first use.
        from benchmarks import make_suites
        from benchmarks.suites import SUITES

        recipes = [r for r in SUITES["large-minmax"] if r.name == base]
        if not recipes:
            raise SystemExit(f"unknown instance: {base}")
        path = make_suites.ensure(recipes, verbose=False)[0]
    doc = json.loads(path.read_text())
    if agents:
        template = doc["agents"][0]
        doc["agents"] = [dict(copy.deepcopy(template), id=k) for k in range(int(agents))]
        doc["name"] = name
    return doc


def solve(doc: dict, budget: float, work: Path, **options) -> dict:
    doc = copy.deepcopy(doc)
    doc["options"] = dict(doc.get("options", {}), improve=True, seed=0, **options)
    path = work / "doc.json"
    out = work / "out.json"
    path.write_text(json.dumps(doc))
    subprocess.run([sys.executable, "-m", "benchmarks.worker", "kvr-file", str(path), repr(budget), str(out)],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    record = json.loads(out.read_text())
    result = record["result"]
    routes = [r["path"] for r in result["routes"]]
    check = check_solution(doc, routes, [r["cost"] for r in result["routes"]])
    if not check.feasible:
        raise SystemExit(f"{doc.get('name')}: the checker rejects the solution: {check.errors[:3]}")
    return {"value": check.objective, "cpu": record["cpu_time"]}


def compare(rows: list[dict], before: str, after: str) -> None:
    keyed = {(r["label"], r["instance"], r["budget"]): r for r in rows}
    print(f"{'instance':<26} {'budget':>6} {before:>12} {after:>12} {'change %':>9}")
    for (label, instance, budget), row in keyed.items():
        if label != before or (after, instance, budget) not in keyed:
            continue
        other = keyed[(after, instance, budget)]
        if budget == "children/s":
            change = 100.0 * (other["value"] / row["value"] - 1.0)
        else:
            change = 100.0 * (other["value"] - row["value"]) / row["value"]
        print(f"{instance:<26} {budget:>6} {row['value']:>12.2f} {other['value']:>12.2f} {change:>+9.2f}")


def main(argv=None) -> int:
    args = parse_args(argv)
    if args.compare:
        compare([json.loads(line) for line in args.out.read_text().splitlines() if line], *args.compare)
        return 0
    args.out.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp, open(args.out, "a", encoding="utf-8") as out:
        work = Path(tmp)
        for name in args.instances:
            doc = document(name)
            rows = []
            for budget in args.budgets:
                rows.append({"budget": budget, **solve(doc, budget, work)})
            if args.iterations > 1:
                one = solve(doc, 600.0, work, max_iterations=1)["cpu"]
                many = solve(doc, 600.0, work, max_iterations=args.iterations)["cpu"]
                rows.append({"budget": "children/s", "value": (args.iterations - 1) / max(many - one, 1e-9),
                             "cpu": many})
            for row in rows:
                out.write(json.dumps({"label": args.label, "instance": name, **row}) + "\n")
                out.flush()
                print(f"{args.label:<10} {name:<26} {row['budget']!s:>10} {row['value']:>12.2f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
