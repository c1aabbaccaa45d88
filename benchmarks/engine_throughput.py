"""Improvement-engine throughput: children per CPU second, a baseline commit against the work tree.

Usage: python -m benchmarks.engine_throughput [--ref REF] [--after-ref REF | --installed]
            [--iterations N] [--repeat N] [--instances NAME ...]

Solves each benchmark instance with "improve" on, seed 0 and a fixed
"max_iterations", once with 1 iteration and once with N (default 2000), with
the "before" and the "after" module alternately, each solve alone in a fresh
child process, and prints per instance and module the CPU seconds of both
solves and the engine's children per CPU second:
(N - 1) / (CPU s of N - CPU s of 1), which leaves out the reading, the focal
search to its first solution, the engine's set-up and the first population.
With --repeat R every solve is repeated R times and the median CPU time kept.
Identical results of both modules make both breed the same children.
"""
from __future__ import annotations

import argparse
import json
import statistics
import sys
from pathlib import Path

from benchmarks import baseline
from benchmarks.throughput import instance_path

INSTANCES = ("eil76-m5-minmax", "berlin52-tw-m3-minmax", "eil51-het-t2d2-minmax")
DEFAULT_ITERATIONS = 2000
TIME_LIMIT = 600.0  # far above the solves: they end by their iteration count


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python -m benchmarks.engine_throughput",
                                description=__doc__.splitlines()[0])
    baseline.add_module_arguments(p)
    p.add_argument("--iterations", type=int, default=DEFAULT_ITERATIONS, help="engine children per long solve")
    p.add_argument("--repeat", type=int, default=1, help="solves per instance, module and length (median kept)")
    p.add_argument("--instances", nargs="+", metavar="NAME", default=list(INSTANCES))
    p.add_argument("--work", type=Path, default=baseline.BUILD / "engine-throughput",
                   help="directory for the child runs")
    return p.parse_args(argv)


def document(name: str, iterations: int) -> str:
    doc = json.loads(instance_path(name).read_text(encoding="utf-8"))
    doc["options"] = dict(doc.get("options", {}), improve=True, seed=0, max_iterations=iterations,
                          time_limit=TIME_LIMIT)
    return json.dumps(doc)


def main(argv=None) -> int:
    args = parse_args(argv)
    args.work = args.work.resolve()  # the children run inside it
    try:
        modules = baseline.modules_from_args(args)
    except baseline.BuildError as error:
        print(error, file=sys.stderr)
        return 2
    print(f"before: {baseline.describe(modules['before'])} (ref {args.ref})")
    print(f"after:  {baseline.describe(modules['after'])} ({baseline.after_label(args)})")
    print(f"{'instance':<24} {'module':<8} {'CPU s (1)':>10} {'CPU s (N)':>10} {'children/CPU s':>15}")
    for name in args.instances:
        cpu: dict[tuple[str, int], list[float]] = {}
        for r in range(args.repeat):
            order = ("before", "after") if r % 2 == 0 else ("after", "before")
            for module in order:
                for n in (1, args.iterations):
                    task = [{"key": name, "text": document(name, n), "time_limit": TIME_LIMIT}]
                    run = f"{name}-{module}-{n}-{r}"
                    record = baseline.run_tasks(modules[module], task, args.work, run)[name]
                    if "cpu_time" not in record:
                        print(f"{name}: {module} failed: {record.get('crash') or record.get('error')}")
                        return 1
                    cpu.setdefault((module, n), []).append(record["cpu_time"])
        rates = {}
        for module in ("before", "after"):
            short = statistics.median(cpu[(module, 1)])
            long = statistics.median(cpu[(module, args.iterations)])
            rates[module] = (args.iterations - 1) / (long - short) if long > short else None
            rate = f"{rates[module]:,.0f}" if rates[module] else "-"
            print(f"{name:<24} {module:<8} {short:>10.2f} {long:>10.2f} {rate:>15}")
        if rates["before"] and rates["after"]:
            print(f"{'':<24} {'after/before':<8} {'':>10} {'':>10} {rates['after'] / rates['before']:>14.3f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
