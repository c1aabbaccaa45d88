"""Threads: what the released interpreter lock and the engine's islands give.

Usage: python -m benchmarks.threads [--instance NAME] [--iterations N] [--threads N ...]

Prints, each measured in this process on one instance:
1. the share of its ticks a Python thread ticking every 10 ms keeps while a
   solve runs in the main thread (ticks / (wall seconds / 0.01)), and the
   same share with no solve running (what the machine's load leaves it);
2. the wall time of two solves run at once in two Python threads over the
   wall time of one solve alone;
3. for each "threads" count, the engine's children per wall second:
   a solve ending by its "max_iterations" (each island breeds that many)
   minus a solve of 1 iteration, so that the reading, the focal search and
   the engine's set-up are left out: threads * (N - 1) / (wall s of N - wall s of 1),
   and the same per processor second of the process (what a loaded machine
   changes least), with the objective each reached; the 1-iteration solve's
   own wall time is the serial part (reading, focal search, set-up).
Figures, not tests: a loaded machine lowers them (the load average is printed).
"""
from __future__ import annotations

import argparse
import json
import os
import threading
import time

import _kvr_core as core

from benchmarks.throughput import instance_path
from kvr_mtsp.cores import available_cores

TICK = 0.01
LIMIT = 600.0  # far above the solves: they end by their iteration count


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python -m benchmarks.threads", description=__doc__.splitlines()[0])
    p.add_argument("--instance", default="kroA100-m3-minmax", help="benchmark instance (default kroA100-m3-minmax)")
    p.add_argument("--iterations", type=int, default=600, help="engine iterations per island (default 600)")
    p.add_argument("--threads", type=int, nargs="+", default=None,
                   help="thread counts to measure (default 1, 2 and the cores available)")
    return p.parse_args(argv)


def document(path, iterations: int, threads: int) -> str:
    doc = json.loads(path.read_text())
    doc.setdefault("options", {}).update(
        improve=True, seed=0, max_iterations=iterations, threads=threads, time_limit=LIMIT * max(1, threads))
    return json.dumps(doc)


def quiet(record) -> None:
    """Drops the solver's console lines (the suite's instances warn about
    every node without an assignment constraint)."""


def solve(text: str) -> dict:
    problem = core.read_document(text, on_console=quiet)
    return core.solve_problem(problem, -1, consume_costs=True, on_console=quiet)


def solve_wall(text: str) -> tuple[float, dict]:
    start = time.perf_counter()
    result = solve(text)
    return time.perf_counter() - start, result


def solve_clocks(text: str) -> tuple[float, float, dict]:
    """Wall and processor seconds of a solve of `text`, and its result."""
    cpu = time.process_time()
    wall, result = solve_wall(text)
    return wall, time.process_time() - cpu, result


def ticking_share(text: str | None) -> float:
    """The share of its ticks the ticking thread keeps during a solve of
    `text`, or during 3 s of nothing (None): what the machine's load leaves."""
    ticks = 0
    done = threading.Event()

    def tick():
        nonlocal ticks
        while not done.is_set():
            time.sleep(TICK)
            ticks += 1

    ticker = threading.Thread(target=tick)
    start = time.perf_counter()
    ticker.start()
    if text is None:
        time.sleep(3.0)
    else:
        solve(text)
    done.set()
    ticker.join()
    return ticks / ((time.perf_counter() - start) / TICK)


def two_at_once(text: str) -> tuple[float, float]:
    alone, _ = solve_wall(text)
    start = time.perf_counter()
    workers = [threading.Thread(target=solve, args=(text,)) for _ in range(2)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    return alone, time.perf_counter() - start


def main(argv=None) -> int:
    args = parse_args(argv)
    path = instance_path(args.instance)
    cores = available_cores()
    counts = args.threads or sorted({1, 2, cores})
    print(f"{args.instance}, {cores} cores available, load average {os.getloadavg()[0]:.2f} before")

    one = document(path, args.iterations, 1)
    print(f"ticking thread keeps {100 * ticking_share(one):.1f} % of its ticks during a solve "
          f"({100 * ticking_share(None):.1f} % with no solve)")
    alone, both = two_at_once(one)
    print(f"one solve {alone:.2f} s wall; two at once in two threads {both:.2f} s wall: "
          f"ratio {both / alone:.2f}")

    for threads in counts:
        short, short_cpu, _ = solve_clocks(document(path, 1, threads))
        long, long_cpu, result = solve_clocks(document(path, args.iterations, threads))
        children = threads * (args.iterations - 1)
        rate = children / max(long - short, 1e-9)
        cpu_rate = children / max(long_cpu - short_cpu, 1e-9)
        print(f"threads {threads}: {rate:.1f} children per wall second, {cpu_rate:.1f} per processor second "
              f"({long:.2f} s wall, {long_cpu:.2f} s processor for {args.iterations} iterations per island; "
              f"serial part {short:.2f} s wall), "
              f"longest route {result['statistics']['max_cost']:.2f}, total {result['statistics']['sum_cost']:.2f}")
    print(f"load average after: {os.getloadavg()[0]:.2f}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
