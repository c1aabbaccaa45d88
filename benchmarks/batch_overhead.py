"""What batch solving on Dask costs and gains: the same instances solved one
after the other in this process and with `kvr_mtsp.solve_many` on a local
cluster, and the per-instance figures the batch reports.

    python -m benchmarks.batch_overhead [--instances K] [--workers N] [--budget S]

Each instance is a suite-like random document (30 targets, 3 agents) solved
with the improvement engine for `--budget` processor seconds. Printed: the
cluster's start-up time; the wall time of the sequential run and of the
batch (with the speed-up, bounded by the workers and by the cores the
machine really has free); the batch's overhead per instance, from a second
batch of tiny instances whose solves take milliseconds; the processor time
and peak memory the batch reports per instance. Wall times depend on the
load of the machine: the load average is printed with them.
"""
from __future__ import annotations

import argparse
import math
import os
import random
import statistics
import time

import kvr_mtsp
from kvr_mtsp.batch import local_cluster


def document(seed: int, n_targets: int, budget: float) -> dict:
    rng = random.Random(seed)
    points = [(0.0, 0.0)] + [(rng.uniform(-50, 50), rng.uniform(-50, 50)) for _ in range(n_targets)]
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(3)],
        "costs": {"truck": [[round(math.dist(p, q), 1) for q in points] for p in points]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in range(len(points))]}],
        "options": {"objective": "min_max", "time_limit": budget},
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--instances", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--budget", type=float, default=2.0, help="processor seconds per solve")
    args = parser.parse_args()
    from dask.distributed import Client

    docs = [document(seed, 30, args.budget) for seed in range(args.instances)]
    tiny = [document(seed, 4, args.budget) for seed in range(args.instances)]
    print(f"load average before: {os.getloadavg()[0]:.2f}; {os.cpu_count()} cores; {args.workers} workers")

    started = time.perf_counter()
    for doc in docs:
        kvr_mtsp.solve(doc)
    sequential = time.perf_counter() - started

    started = time.perf_counter()
    cluster = local_cluster(args.workers, dashboard_address=None)
    client = Client(cluster)
    client.run(lambda: None)
    start_up = time.perf_counter() - started
    try:
        started = time.perf_counter()
        outcomes = kvr_mtsp.solve_many(docs, client=client)
        batch = time.perf_counter() - started
        started = time.perf_counter()
        tiny_outcomes = kvr_mtsp.solve_many(tiny, client=client, improve=False)
        tiny_batch = time.perf_counter() - started
    finally:
        client.close()
        cluster.close()

    assert all(outcome.ok for outcome in outcomes + tiny_outcomes)
    print(f"cluster start-up: {start_up:.2f} s wall")
    print(f"{args.instances} instances of {args.budget:g} CPU s: sequential {sequential:.2f} s wall, "
          f"batch {batch:.2f} s wall (speed-up {sequential / batch:.2f} with {args.workers} workers)")
    print(f"overhead per instance (tiny solves, {args.workers} workers): "
          f"{tiny_batch / args.instances * args.workers * 1000:.0f} ms wall of a worker")
    cpu = [outcome.cpu_time for outcome in outcomes]
    peak = [outcome.peak_memory_mb for outcome in outcomes]
    before = [outcome.measurements["rss_before_mb"] for outcome in outcomes]
    print(f"reported per instance: CPU time median {statistics.median(cpu):.3f} s (max {max(cpu):.3f}); "
          f"peak memory median {statistics.median(peak):.1f} MB (max {max(peak):.1f}), "
          f"of which {statistics.median(before):.1f} MB before the solve")
    print(f"load average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
