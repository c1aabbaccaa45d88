"""Seeded generator of large benchmark instances (random uniform and clustered points).

Usage: python -m benchmarks.generate [--out DIR] [--only NAME ...]

Points lie in the square [0, 1000]^2: "rand" instances uniformly, "clus"
instances around a few centres (normal spread, clipped to the square). The
first point is the depot where every agent starts and ends. Costs are the
Euclidean distances rounded to two decimals (at most 1,415, below the
no-connection value 9999), one full matrix per agent type, so a 2,000-node
document with two types holds eight million costs. The variants are those of
the TSPLIB suite (benchmarks/make_instances.py): "plain" (m identical
salesmen) and "het" (trucks at full cost, drones at half the cost that may
only serve the half of the targets nearest to the depot, within a
route-length limit). The same name and seed give the same document.
"""
from __future__ import annotations

import argparse
import json
import math
import random
import sys
from pathlib import Path

from benchmarks.make_instances import build_document
from benchmarks.suites import LARGE, GeneratedRecipe

HERE = Path(__file__).resolve().parent
GENERATED_DIR = HERE / "generated"  # git-ignored: the documents are tens of megabytes
SIDE = 1000.0
CLUSTER_SPREAD = 40.0  # standard deviation of a point around its centre


def points(kind: str, n: int, seed: int) -> list[tuple[float, float]]:
    """n points of the given kind ("rand" or "clus"), the same for the same seed."""
    rng = random.Random(f"{kind}-{n}-{seed}")
    if kind == "rand":
        return [(rng.uniform(0, SIDE), rng.uniform(0, SIDE)) for _ in range(n)]
    if kind != "clus":
        raise ValueError(f"unknown point kind {kind!r}")
    centres = [(rng.uniform(0, SIDE), rng.uniform(0, SIDE)) for _ in range(max(3, n // 100))]
    out = [(SIDE / 2, SIDE / 2)]  # depot in the middle, the clusters around it
    while len(out) < n:
        cx, cy = centres[rng.randrange(len(centres))]
        x, y = rng.gauss(cx, CLUSTER_SPREAD), rng.gauss(cy, CLUSTER_SPREAD)
        out.append((min(max(x, 0.0), SIDE), min(max(y, 0.0), SIDE)))
    return out


def rounded_matrix(coords: list[tuple[float, float]]) -> list[list[float]]:
    return [[round(math.hypot(ax - bx, ay - by), 2) for bx, by in coords] for ax, ay in coords]


def generate(recipe: GeneratedRecipe) -> dict:
    """The instance document of one generated suite entry."""
    coords = points(recipe.kind, recipe.n, recipe.seed)
    doc = build_document(recipe.as_instance_recipe(), coords, matrix=rounded_matrix(coords))
    doc["benchmark"]["generator"] = {"kind": recipe.kind, "n": recipe.n, "seed": recipe.seed}
    doc["options"]["time_limit"] = recipe.budget
    return doc


def path_of(recipe: GeneratedRecipe, out: Path = GENERATED_DIR) -> Path:
    return out / f"{recipe.name}.json"


def ensure(recipes: list[GeneratedRecipe], out: Path = GENERATED_DIR, verbose: bool = True) -> list[Path]:
    """Writes the documents that do not exist yet; returns every path."""
    out.mkdir(parents=True, exist_ok=True)
    paths = []
    for recipe in recipes:
        path = path_of(recipe, out)
        if not path.exists():
            doc = generate(recipe)
            tmp = path.with_suffix(".tmp")
            tmp.write_text(json.dumps(doc, separators=(",", ":")) + "\n")
            tmp.replace(path)
            if verbose:
                print(f"{path.name}: n={recipe.n} m={recipe.m} {recipe.objective}", file=sys.stderr)
        paths.append(path)
    return paths


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=GENERATED_DIR)
    parser.add_argument("--only", nargs="*", help="instance names to build (default: all)")
    args = parser.parse_args(argv)
    recipes = [r for r in LARGE if not args.only or r.name in args.only]
    ensure(recipes, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
