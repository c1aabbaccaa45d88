"""Shared fixtures: the independent route checker, instance documents and the examples.

The checker (kvr_mtsp.checker) reads only the instance document and the
reported routes and recomputes everything itself, so it does not share code
or assumptions with the solver beyond the instance format.
"""
from __future__ import annotations

import json
import math
import random
from pathlib import Path

import pytest

from kvr_mtsp.checker import check_routes

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.json"))


def grid_doc(n_targets: int = 6, agent_ids=(1, 2), node_ids=None, objective="min_max", time_limit=5.0):
    """Depot plus targets on a circle, agents of one type "truck", Euclidean costs."""
    points = [(0.0, 0.0)] + [
        (round(10 * math.cos(2 * math.pi * i / n_targets), 3), round(10 * math.sin(2 * math.pi * i / n_targets), 3))
        for i in range(n_targets)
    ]
    ids = list(node_ids) if node_ids is not None else list(range(len(points)))
    doc = {
        "nodes": [
            {"id": ids[i], "x": x, "y": y, "z": 0, **({"type": "DEPOT"} if i == 0 else {})}
            for i, (x, y) in enumerate(points)
        ],
        "agents": [{"id": a, "type": "truck", "start_node": ids[0], "end_node": ids[0]} for a in agent_ids],
        "costs": {"truck": [[round(math.dist(p, q), 3) for q in points] for p in points]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in ids]}],
    }
    if objective is not None or time_limit is not None:
        doc["options"] = {}
        if objective is not None:
            doc["options"]["objective"] = objective
        if time_limit is not None:
            doc["options"]["time_limit"] = time_limit
    return doc


def long_search_doc(time_limit: float = 30.0) -> dict:
    """Sixteen scattered targets and three agents under min_max: the first
    solution comes within milliseconds, but the search runs until its time
    limit. The engine would otherwise end after the package's default run
    without improvement, which a faster engine reaches within a second or
    two: too soon for the tests that stop a running solve."""
    rng = random.Random(7)
    points = [(0.0, 0.0)] + [(rng.uniform(-50, 50), rng.uniform(-50, 50)) for _ in range(16)]
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(3)],
        "costs": {"truck": [[round(math.dist(p, q), 1) for q in points] for p in points]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in range(17)]}],
        "options": {"objective": "min_max", "time_limit": time_limit, "max_no_improvement": 1_000_000_000},
    }


@pytest.fixture
def long_doc():
    return long_search_doc()


@pytest.fixture
def checker():
    return check_routes


@pytest.fixture
def make_doc():
    return grid_doc


@pytest.fixture
def examples_dir() -> Path:
    return ROOT / "examples"


@pytest.fixture(params=EXAMPLES, ids=[p.stem for p in EXAMPLES])
def example_path(request) -> Path:
    return request.param


def load(path: Path) -> dict:
    return json.loads(path.read_text(encoding="utf-8"))


@pytest.fixture
def load_doc():
    return load
