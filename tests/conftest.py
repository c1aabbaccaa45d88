"""Shared fixtures: an independent route checker, instance documents and the examples.

The checker reads only the instance document and the reported routes and
recomputes everything itself, so it does not share code or assumptions with
the solver beyond the instance format.
"""
from __future__ import annotations

import json
import math
import random
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.json"))
NO_CONNECTION = 9999.0
COST_TOLERANCE = 1e-6


def _as_id(value) -> int:
    """Node and agent ids as the reader stores them: unsigned 64-bit, truncated."""
    if isinstance(value, float):
        return int(value) if value > 0 else 0
    return int(value) % 2**64


def _as_int32(value) -> int:
    return int(value)


def _lists_by_node(doc: dict, kind: str) -> dict[int, dict]:
    """Constraint items of one kind keyed by node id (later items win)."""
    by_node = {}
    for constraint in doc.get("constraints", []):
        if constraint.get("kind") == kind:
            for item in constraint.get("items", []):
                by_node[_as_id(item["node"])] = item
    return by_node


def check_routes(doc: dict, routes: list[dict]) -> list[str]:
    """Returns every violation of `routes` (the result's "routes") against `doc`.

    Checks agent order, start and end nodes, that every node that is nobody's
    start or end is served exactly once, allowed agent types, existing arcs,
    the cost recomputed from the agent type's matrix (waiting for time
    windows; with open routes the arc into the agent's own start or end is
    free), window ends and route-length limits. A route without inner nodes
    may report cost 0 (a route the solver dissolved).
    """
    errors = []
    nodes, agents = doc["nodes"], doc["agents"]
    options = doc.get("options", {})
    return_to_end = options.get("return_to_end", True)
    position = {_as_id(node["id"]): i for i, node in enumerate(nodes)}
    allowed = {position[n]: set(item["types"]) for n, item in _lists_by_node(doc, "assignment").items()}
    windows = {position[n]: (item["start"], item["end"]) for n, item in _lists_by_node(doc, "timewindow").items()}
    starts = [position[_as_id(a["start_node"])] for a in agents]
    ends = [position[_as_id(a["end_node"])] for a in agents]
    depots = set(starts) | set(ends)

    if [r["agent_id"] for r in routes] != [_as_id(a["id"]) for a in agents]:
        return [f"agent order {[r['agent_id'] for r in routes]} differs from the document"]

    served = []
    for k, (agent, route) in enumerate(zip(agents, routes)):
        path, name = route["path"], f"agent {route['agent_id']}"
        matrix = doc["costs"][agent["type"]]
        if not path:
            errors.append(f"{name}: empty route")
            continue
        if path[0] != starts[k]:
            errors.append(f"{name}: starts at {path[0]}, not at {starts[k]}")
        closing = {ends[k]} if return_to_end else {starts[k], ends[k]}
        if len(path) < 2 or path[-1] not in closing:
            errors.append(f"{name}: ends at {path[-1]}, expected one of {sorted(closing)}")
        inner = path[1:-1]
        served += inner
        for node in path:
            if agent["type"] not in allowed.get(node, {agent["type"]}):
                errors.append(f"{name}: type {agent['type']} may not visit {node}")
        for node in inner:
            if node in depots:
                errors.append(f"{name}: visits start or end node {node} on the way")

        cost = 0.0
        limit = _as_int32(agent.get("max_length", 0))
        for previous, node in zip(path, path[1:]):
            free = node == previous or (not return_to_end and node in (starts[k], ends[k]))
            if not free:
                arc = matrix[previous][node]
                if arc >= NO_CONNECTION:
                    errors.append(f"{name}: no connection {previous} -> {node}")
                cost += arc
            if node in windows:
                start, end = windows[node]
                if cost > end + COST_TOLERANCE:
                    errors.append(f"{name}: reaches {node} at {cost}, after its window closes at {end}")
                cost = max(cost, start)
            if limit > 0 and cost > limit + COST_TOLERANCE:
                errors.append(f"{name}: length {cost} exceeds its limit {limit}")
        dissolved = not inner and route["cost"] == 0.0
        if not dissolved and not math.isclose(cost, route["cost"], rel_tol=0, abs_tol=COST_TOLERANCE):
            errors.append(f"{name}: reported cost {route['cost']}, recomputed {cost}")

    targets = [i for i in range(len(nodes)) if i not in depots]
    if sorted(served) != targets:
        errors.append(f"targets served {sorted(served)}, expected each of {targets} once")
    return errors


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
    solution comes within milliseconds, but the search runs for seconds."""
    rng = random.Random(7)
    points = [(0.0, 0.0)] + [(rng.uniform(-50, 50), rng.uniform(-50, 50)) for _ in range(16)]
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(3)],
        "costs": {"truck": [[round(math.dist(p, q), 1) for q in points] for p in points]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in range(17)]}],
        "options": {"objective": "min_max", "time_limit": time_limit},
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
