"""Soak run: a long solve must stay inside its memory budget and still return
a valid solution.

Usage: python -m benchmarks.soak [--quick] [--instance NAME] [--time-limit S]
            [--memory-limit-mb MB] [--module-dir DIR] [--json OUT]

Solves one benchmark instance (default rat99-m7-minmax) in a child process
with a long processor-time limit (default 600 s) and the module's default
memory budget, or with --quick a 60 s limit and a 100 MB budget. Prints the
budget, the child's peak resident memory (ru_maxrss, the interpreter and the
instance included), the labels stored, whether the search stopped at its
budget, its status and time-out flag, and what the independent checker says
of the result. Exits with status 1 when the peak passes the budget plus the
interpreter's own share, or the result does not pass the checker.
"""
from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import textwrap
from pathlib import Path

from kvr_mtsp.checker import check_result
from benchmarks.throughput import instance_path

QUICK = {"time_limit": 60.0, "memory_limit_mb": 100.0}
FULL = {"time_limit": 600.0, "memory_limit_mb": None}  # None: the module's default
# What the child holds besides the search: the interpreter, the module, the
# instance and its tables; the budget covers only the search's stores.
BASE_ALLOWANCE_MB = 150.0

CHILD = textwrap.dedent(
    """
    import json, resource, sys
    import _kvr_core
    doc = json.loads(open(sys.argv[1]).read())
    doc.pop("benchmark", None)
    options = doc.setdefault("options", {})
    options["time_limit"] = float(sys.argv[2])
    if sys.argv[3] != "default":
        options["memory_limit_mb"] = float(sys.argv[3])
    budget = options.get("memory_limit_mb", _kvr_core.Options().memory_limit_mb)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    result = _kvr_core.solve_json_str(json.dumps(doc))
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"result": result, "budget_mb": budget, "rss_before_mb": before / 1024,
                      "peak_mb": peak / 1024}))
    """
)


def run(name: str, time_limit: float, memory_limit_mb: float | None, module_dir: str | None) -> dict:
    path = instance_path(name)
    env = os.environ.copy()
    if module_dir:
        env["PYTHONPATH"] = module_dir + os.pathsep + env.get("PYTHONPATH", "")
    budget = "default" if memory_limit_mb is None else str(memory_limit_mb)
    child = subprocess.run(
        [sys.executable, "-c", CHILD, str(path), str(time_limit), budget],
        capture_output=True, text=True, env=env, check=False,
    )
    if child.returncode != 0:
        raise RuntimeError(f"the child failed ({child.returncode}): {child.stderr[-2000:]}")
    record = json.loads(child.stdout.splitlines()[-1])
    record["memory_line"] = next((l for l in child.stderr.splitlines() if l.startswith("[memory]")), None)
    record["problems"] = check_result(json.loads(path.read_text()), record["result"])
    return record


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="60 s and a 100 MB budget")
    parser.add_argument("--instance", default="rat99-m7-minmax")
    parser.add_argument("--time-limit", type=float)
    parser.add_argument("--memory-limit-mb", type=float)
    parser.add_argument("--module-dir", help="directory of the _kvr_core module to use (default: installed)")
    parser.add_argument("--json", type=Path, help="also write the figures here")
    args = parser.parse_args(argv)
    settings = dict(QUICK if args.quick else FULL)
    if args.time_limit is not None:
        settings["time_limit"] = args.time_limit
    if args.memory_limit_mb is not None:
        settings["memory_limit_mb"] = args.memory_limit_mb

    budget = settings["memory_limit_mb"]
    budget_text = "the module's default" if budget is None else f"{budget:g} MB"
    print(f"{args.instance}: {settings['time_limit']:g} CPU s, budget {budget_text}", flush=True)
    record = run(args.instance, settings["time_limit"], settings["memory_limit_mb"], args.module_dir)
    result = record["result"]
    stats = result["statistics"]
    growth = record["peak_mb"] - record["rss_before_mb"]
    within = record["peak_mb"] <= record["budget_mb"] + BASE_ALLOWANCE_MB
    print(f"  budget            {record['budget_mb']:10.1f} MB (the search's stores)")
    print(f"  peak RSS          {record['peak_mb']:10.1f} MB (growth during the solve {growth:.1f} MB)")
    print(f"  within budget     {'yes' if within else 'NO'} (peak <= budget + {BASE_ALLOWANCE_MB:g} MB for the interpreter and the instance)")
    print(f"  stopped at budget {'yes: ' + record['memory_line'] if record['memory_line'] else 'no'}")
    print(f"  status            {result['status']}, timeout {result['timeout']}, longest {stats['max_cost']:.1f}, total {stats['sum_cost']:.1f}")
    print(f"  checker           {'passes' if not record['problems'] else '; '.join(record['problems'][:5])}")
    if args.json:
        args.json.write_text(json.dumps({k: v for k, v in record.items() if k != "result"} | {"settings": settings,
                                         "status": result["status"], "timeout": result["timeout"]}, indent=2))
    return 0 if within and not record["problems"] else 1


if __name__ == "__main__":
    sys.exit(main())
