"""Builds the documents of the named suites from TSPLIB coordinates.

Usage: python -m benchmarks.make_suites [--out DIR] [--suite NAME ...] [--only NAME ...]

- "large-minmax": the TSPLIB min-max instances of 150 to 1,173 nodes (the
  documents of benchmarks.make_instances, with a 30 CPU s time limit);
- "capacity": capacitated instances (demands and capacities, option
  "enforce_capacity"), one or two agent types;
- "pairs": capacitated instances with precedence pairs ("same", plain or
  "diff"; option "enforce_precedence").

The capacitated documents take the first `customers` + 1 points of a TSPLIB
file, put the chosen depot first (the point nearest to the middle of their
bounding box, or to its lower left corner) and keep unrounded Euclidean
costs. Demands are drawn by a `random.Random` seeded with the instance's
name, so a name gives the same document on every machine:

- "uniform": whole numbers 1 to 10;
- "few-large": one customer in ten 20 to 40, the others 1 to 5;
- "many-small": 1 to 3.

The capacity is the total demand over the number of routes that serve
CUSTOMERS_PER_ROUTE customers on average (at least the largest demand), and
the fleet has FLEET_SLACK more agents than those routes, so every instance
has room to spare. "hetfleet": half the agents (rounded up) are trucks with
1.5 x that capacity on the Euclidean costs, the others vans with 0.7 x it
on VAN_COST_FACTOR x those costs. Pairs join disjoint customers (no cycles):
"pd" pairs up half of them at random, "prec" and "diff" a fifth. The
documents set "improve" (the engine alone honours capacities and pairs).
Written to benchmarks/generated/ (git-ignored); benchmarks.run writes the
missing ones itself.
"""
from __future__ import annotations

import argparse
import json
import math
import random
import sys
from pathlib import Path

from benchmarks.make_instances import DATA_DIR, build_document, choose_scale
from benchmarks.suites import DEFAULT_BUDGET, SUITES, InstanceRecipe, RoutingRecipe
from kvr_mtsp.convert import NO_CONNECTION, euclidean_matrix, load_coordinates

HERE = Path(__file__).resolve().parent
GENERATED_DIR = HERE / "generated"
CUSTOMERS_PER_ROUTE = 15
FLEET_SLACK = 0.2  # agents beyond the routes the capacity needs, as a share of them (at least 2)
VAN_COST_FACTOR = 0.8
PAIR_SHARE = {"pd": 0.5, "prec": 0.2, "diff": 0.2}  # customers that belong to a pair


def demands(profile: str, count: int, rng: random.Random) -> list[int]:
    if profile == "uniform":
        return [rng.randint(1, 10) for _ in range(count)]
    if profile == "few-large":
        return [rng.randint(20, 40) if rng.random() < 0.1 else rng.randint(1, 5) for _ in range(count)]
    if profile == "many-small":
        return [rng.randint(1, 3) for _ in range(count)]
    raise ValueError(f"unknown demand profile {profile!r}")


def depot_index(coords: list[tuple[float, float]], where: str) -> int:
    xs, ys = [x for x, _ in coords], [y for _, y in coords]
    if where == "central":
        target = ((min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2)
    elif where == "corner":
        target = (min(xs), min(ys))
    else:
        raise ValueError(f"unknown depot placement {where!r}")
    return min(range(len(coords)), key=lambda i: (math.dist(coords[i], target), i))


def fleet(total: int, largest: int, customers: int) -> tuple[int, int]:
    """(capacity, agents): the capacity that `customers / CUSTOMERS_PER_ROUTE`
    routes need, and that many agents plus the slack."""
    routes = max(1, math.ceil(customers / CUSTOMERS_PER_ROUTE))
    capacity = max(largest, math.ceil(total / routes))
    return capacity, routes + max(2, math.ceil(FLEET_SLACK * routes))


def pairs(variant: str, customers: int, rng: random.Random) -> list[dict]:
    """Precedence items over disjoint customers (positions 1..customers)."""
    if variant not in PAIR_SHARE:
        return []
    chosen = rng.sample(range(1, customers + 1), 2 * int(PAIR_SHARE[variant] * customers / 2))
    items = []
    for before, after in zip(chosen[::2], chosen[1::2]):
        item = {"before": before, "after": after}
        if variant != "prec":
            item["type"] = "same" if variant == "pd" else "diff"
        items.append(item)
    return items


def routing_document(recipe: RoutingRecipe, coords: list[tuple[float, float]]) -> dict:
    """The document of one capacitated or precedence suite entry."""
    if len(coords) < recipe.customers + 1:
        raise ValueError(f"{recipe.tsplib} has {len(coords)} points, fewer than {recipe.customers} customers and a depot")
    points = coords[: recipe.customers + 1]
    d = depot_index(points, recipe.depot)
    points = [points[d]] + points[:d] + points[d + 1:]
    rng = random.Random(recipe.name + f"-{recipe.seed}")
    load = [0] + demands(recipe.profile, recipe.customers, rng)
    capacity, m = fleet(sum(load), max(load), recipe.customers)

    unscaled = euclidean_matrix(points)
    scale = choose_scale(max(max(row) for row in unscaled))
    dist = [[c * scale for c in row] for row in unscaled] if scale != 1.0 else unscaled
    notes = [f"{recipe.profile} demands, total {sum(load)}, depot {recipe.depot} (TSPLIB node {d + 1})"]
    if recipe.variant == "hetfleet":
        trucks = math.ceil(m / 2)
        agents = [{"id": k, "type": "truck", "start_node": 0, "end_node": 0, "capacity": math.ceil(1.5 * capacity)}
                  for k in range(trucks)]
        agents += [{"id": k, "type": "van", "start_node": 0, "end_node": 0, "capacity": math.floor(0.7 * capacity)}
                   for k in range(trucks, m)]
        costs = {"truck": dist, "van": [[c * VAN_COST_FACTOR for c in row] for row in dist]}
        notes.append(f"{trucks} trucks of capacity {agents[0]['capacity']}, {m - trucks} vans of capacity "
                     f"{agents[-1]['capacity']} at {VAN_COST_FACTOR} x the cost")
    else:
        agents = [{"id": k, "type": "truck", "start_node": 0, "end_node": 0, "capacity": capacity} for k in range(m)]
        costs = {"truck": dist}
        notes.append(f"{m} trucks of capacity {capacity}")
    precedence = pairs(recipe.variant, recipe.customers, rng)
    constraints = [{"kind": "sequence", "precedence": precedence}] if precedence else []
    if precedence:
        notes.append(f"{len(precedence)} {recipe.variant} pairs")
    if scale != 1.0:
        notes.append(f"costs scaled by {scale} to stay below {NO_CONNECTION}")
    options = {"return_to_end": True, "objective": recipe.objective, "improve": True, "enforce_capacity": True,
               "time_limit": DEFAULT_BUDGET["pairs" if precedence else "capacity"]}
    if precedence:
        options["enforce_precedence"] = True
    return {
        "name": recipe.name,
        "scale": scale,
        "benchmark": {"tsplib": recipe.tsplib, "variant": recipe.variant, "m": m, "objective": recipe.objective,
                      "customers": recipe.customers, "profile": recipe.profile, "depot": recipe.depot,
                      "reference": None, "notes": notes},
        "nodes": [{"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET", "demand": load[i]}
                  for i, (x, y) in enumerate(points)],
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": options,
    }


def document(recipe, coords: list[tuple[float, float]], bks: dict | None = None) -> dict:
    if isinstance(recipe, RoutingRecipe):
        return routing_document(recipe, coords)
    doc = build_document(recipe, coords, bks)
    doc["options"]["time_limit"] = DEFAULT_BUDGET["large-minmax"]
    return doc


def ensure(recipes: list[InstanceRecipe | RoutingRecipe], out: Path = GENERATED_DIR, data: Path = DATA_DIR,
           verbose: bool = True) -> list[Path]:
    """Writes the documents that do not exist yet; returns every path."""
    out.mkdir(parents=True, exist_ok=True)
    bks = json.loads((data / "mtsplib-bks.json").read_text())
    coords: dict[str, list[tuple[float, float]]] = {}
    paths = []
    for recipe in recipes:
        path = out / f"{recipe.name}.json"
        if not path.exists():
            if recipe.tsplib not in coords:
                _, coords[recipe.tsplib] = load_coordinates(str(data / "tsplib" / f"{recipe.tsplib}.tsp"))
            doc = document(recipe, coords[recipe.tsplib], bks)
            tmp = path.with_suffix(".tmp")
            tmp.write_text(json.dumps(doc, separators=(",", ":")) + "\n")
            tmp.replace(path)
            if verbose:
                print(f"{path.name}: n={len(doc['nodes'])} m={len(doc['agents'])}", file=sys.stderr)
        paths.append(path)
    return paths


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=GENERATED_DIR)
    parser.add_argument("--suite", nargs="*", choices=sorted(SUITES), help="suites to build (default: all)")
    parser.add_argument("--only", nargs="*", help="instance names to build (default: all)")
    args = parser.parse_args(argv)
    recipes = [r for name in (args.suite or SUITES) for r in SUITES[name] if not args.only or r.name in args.only]
    ensure(recipes, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
