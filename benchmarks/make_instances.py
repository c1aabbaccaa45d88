"""Builds the benchmark's JSON instance documents from TSPLIB files.

Usage: python -m benchmarks.make_instances [--out DIR] [--only NAME ...]

Every instance has one depot (the first TSPLIB node) that every agent starts
and ends at, unrounded Euclidean costs, and the objective named in its suite
entry (benchmarks/suites.py). Costs of 9999.0 or more mean "no connection" to
the solver, so an instance whose distances reach that is scaled by the largest
of 0.5, 0.2, 0.1, 0.05, ... that brings them below; the factor is stored in the
document's top-level "scale" key (which the solver ignores) and objectives are
divided by it when reported. (`kvr-mtsp convert` raises "missing_cost" instead;
the benchmark keeps its scaled costs so that recorded figures stay comparable.)
The file reading and the distances are the package's converter's
(kvr_mtsp.convert).
"""
from __future__ import annotations

import argparse
import json
import math
import sys
from pathlib import Path

from benchmarks.suites import FULL, InstanceRecipe
from kvr_mtsp.convert import NO_CONNECTION, euclidean_matrix, load_coordinates

HERE = Path(__file__).resolve().parent
DATA_DIR = HERE / "data"
INSTANCE_DIR = HERE / "instances"
DRONE_COST_FACTOR = 0.5
TW_HALF_WIDTH = 0.2  # window half-width as a fraction of the reference makespan


def choose_scale(max_cost: float) -> float:
    """1.0 if every cost is below the no-connection value, else the largest
    factor of the form {5, 2, 1} x 10^-k that brings the largest cost below it."""
    if max_cost < NO_CONNECTION:
        return 1.0
    k = 1
    while True:
        for mantissa in (5.0, 2.0, 1.0):
            scale = mantissa / 10.0**k
            if max_cost * scale < NO_CONNECTION:
                return scale
        k += 1


def route_cost(dist: list[list[float]], route: list[int]) -> float:
    return sum(dist[a][b] for a, b in zip(route, route[1:]))


def _two_opt(dist: list[list[float]], route: list[int]) -> list[int]:
    improved = True
    while improved:
        improved = False
        for i in range(1, len(route) - 2):
            for j in range(i + 1, len(route) - 1):
                a, b, c, d = route[i - 1], route[i], route[j], route[j + 1]
                if dist[a][c] + dist[b][d] < dist[a][b] + dist[c][d] - 1e-12:
                    route[i : j + 1] = reversed(route[i : j + 1])
                    improved = True
    return route


def reference_routes(coords: list[tuple[float, float]], dist: list[list[float]], m: int) -> list[list[int]]:
    """A simple feasible solution: targets split into m angular sectors around
    the depot (node 0), each toured by nearest neighbour and 2-opt."""
    dx, dy = coords[0]
    targets = sorted(range(1, len(coords)), key=lambda i: math.atan2(coords[i][1] - dy, coords[i][0] - dx))
    routes = []
    for k in range(m):
        group = targets[k * len(targets) // m : (k + 1) * len(targets) // m]
        route, left = [0], set(group)
        while left:
            nxt = min(left, key=lambda j: (dist[route[-1]][j], j))
            route.append(nxt)
            left.remove(nxt)
        routes.append(_two_opt(dist, route + [0]))
    return routes


def time_windows(coords, dist, m: int) -> tuple[list[dict], float]:
    """Windows on every second target of a reference solution, centred on its
    arrival times; the reference solution keeps them, so the instance is
    feasible. Returns the window items and the reference makespan."""
    routes = reference_routes(coords, dist, m)
    makespan = max(route_cost(dist, r) for r in routes)
    half = TW_HALF_WIDTH * makespan
    items = []
    for route in routes:
        t = 0.0
        for pos, (a, b) in enumerate(zip(route, route[1:])):
            t += dist[a][b]
            if b != 0 and pos % 2 == 0:
                start = math.floor(max(0.0, t - half) * 10) / 10
                end = math.ceil((t + half) * 10) / 10
                items.append({"node": b, "start": start, "end": end})
    items.sort(key=lambda it: it["node"])
    return items, makespan


def reference_value(recipe: InstanceRecipe, bks: dict) -> dict | None:
    if recipe.variant != "plain":
        return None
    key, kind = ("min_max", "BKS") if recipe.objective == "min_max" else ("min_sum_upper", "UB")
    value = bks.get(key, {}).get(recipe.tsplib, {}).get(str(recipe.m))
    return None if value is None else {"value": value, "kind": kind}


def build_document(recipe: InstanceRecipe, coords: list[tuple[float, float]], bks: dict | None = None,
                   matrix: list[list[float]] | None = None) -> dict:
    """The JSON instance document of one suite entry over the given coordinates
    (with `matrix`: those costs instead of the unrounded Euclidean ones)."""
    unscaled = matrix if matrix is not None else euclidean_matrix(coords)
    scale = choose_scale(max(max(row) for row in unscaled))
    dist = [[c * scale for c in row] for row in unscaled] if scale != 1.0 else unscaled
    nodes = [
        {"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
        for i, (x, y) in enumerate(coords)
    ]
    agents = [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(recipe.trucks)]
    costs = {"truck": dist}
    constraints: list[dict] = []
    notes = []
    if recipe.variant == "het":
        by_depot = sorted(range(1, len(coords)), key=lambda i: (dist[0][i], i))
        near = set(by_depot[: len(by_depot) // 2])
        drone_dist = [[c * DRONE_COST_FACTOR for c in row] for row in dist]
        limit = math.ceil(3 * max(drone_dist[0][i] + drone_dist[i][0] for i in near))
        agents += [
            {"id": recipe.trucks + k, "type": "drone", "start_node": 0, "end_node": 0, "max_length": limit}
            for k in range(recipe.drones)
        ]
        costs["drone"] = drone_dist
        items = [
            {"node": i, "types": ["truck", "drone"] if i == 0 or i in near else ["truck"]}
            for i in range(len(coords))
        ]
        constraints.append({"kind": "assignment", "items": items})
        notes.append(
            f"drones travel at {DRONE_COST_FACTOR} x the truck cost, may serve only the "
            f"{len(near)} targets nearest to the depot, route length <= {limit}"
        )
    elif recipe.variant == "tw":
        items, makespan = time_windows(coords, dist, recipe.m)
        constraints.append({"kind": "timewindow", "items": items})
        notes.append(
            f"time windows on {len(items)} targets, half-width {TW_HALF_WIDTH} x the "
            f"makespan {makespan:.2f} of a sweep construction that keeps them"
        )
    if scale != 1.0:
        notes.append(f"costs scaled by {scale} to stay below {NO_CONNECTION}")
    return {
        "name": recipe.name,
        "scale": scale,
        "benchmark": {
            "tsplib": recipe.tsplib,
            "variant": recipe.variant,
            "m": recipe.m,
            "objective": recipe.objective,
            "reference": reference_value(recipe, bks or {}),
            "notes": notes,
        },
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {"return_to_end": True, "objective": recipe.objective, "time_limit": 10.0},
    }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=INSTANCE_DIR)
    parser.add_argument("--data", type=Path, default=DATA_DIR)
    parser.add_argument("--only", nargs="*", help="instance names to build (default: all)")
    args = parser.parse_args(argv)
    bks = json.loads((args.data / "mtsplib-bks.json").read_text())
    args.out.mkdir(parents=True, exist_ok=True)
    coords_cache: dict[str, list[tuple[float, float]]] = {}
    for recipe in FULL:
        if args.only and recipe.name not in args.only:
            continue
        if recipe.tsplib not in coords_cache:
            _, coords_cache[recipe.tsplib] = load_coordinates(str(args.data / "tsplib" / f"{recipe.tsplib}.tsp"))
        doc = build_document(recipe, coords_cache[recipe.tsplib], bks)
        path = args.out / f"{recipe.name}.json"
        path.write_text(json.dumps(doc, separators=(",", ":")) + "\n")
        extra = "; ".join(doc["benchmark"]["notes"])
        print(f"{path.name}: n={len(doc['nodes'])} m={recipe.m} {recipe.objective}" + (f" ({extra})" if extra else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
