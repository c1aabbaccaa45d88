"""The improvement engine ("improve" option): every result passes the
independent checker on random instances of every constraint kind, runs
repeat with a fixed seed and iteration limit, "improve" off leaves results
as they are, and the engine never hands back worse than it started from."""
from __future__ import annotations

import json
import math
import random

import pytest

import _kvr_core as core
from kvr_mtsp.checker import check_result

MISSING = 9999.0
KINDS = ["types", "limits", "windows", "open", "depots", "missing", "idle"]


def random_doc(seed: int, kinds: set[str], objective: str, n_targets: int = 10) -> dict:
    """Targets in a square, agents of one or two types; `kinds` switches on
    assignment constraints with two types, route-length limits, time windows,
    open routes, one start and end node per agent, missing arcs, more agents
    than targets need."""
    rng = random.Random(seed)
    n_agents = 5 if "idle" in kinds else 3
    depots = 2 * n_agents if "depots" in kinds else 1
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(depots + n_targets)]
    n = len(points)
    types = ["car", "bike"] if "types" in kinds else ["car"]
    costs = {}
    for index, name in enumerate(types):
        speed = 1.0 + 0.5 * index
        matrix = [[0.0 if i == j else round(math.dist(p, q) / speed, 2) for j, q in enumerate(points)]
                  for i, p in enumerate(points)]
        if "missing" in kinds:
            for i in range(depots, n):
                for j in range(depots, n):
                    if i != j and rng.random() < 0.15:
                        matrix[i][j] = MISSING
        costs[name] = matrix
    agents = []
    for k in range(n_agents):
        start = 2 * k if "depots" in kinds else 0
        end = start + (1 if "depots" in kinds and k % 2 else 0)
        agent = {"id": 100 + k, "type": types[k % len(types)], "start_node": start, "end_node": end}
        if "limits" in kinds:
            agent["max_length"] = rng.randint(250, 450)
        agents.append(agent)
    items = []
    for node in range(n):
        allowed = list(types)
        if "types" in kinds and node >= depots and rng.random() < 0.4:
            allowed = [rng.choice(types)]
        items.append({"node": node, "types": allowed})
    constraints = [{"kind": "assignment", "items": items}]
    if "windows" in kinds:
        windows = []
        for node in range(depots, n):
            if rng.random() < 0.5:
                opening = rng.uniform(0, 150)
                windows.append({"node": node, "start": round(opening, 1), "end": round(opening + rng.uniform(60, 250), 1)})
        constraints.append({"kind": "timewindow", "items": windows})
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {"objective": objective, "time_limit": 2.0, "return_to_end": "open" not in kinds},
    }


def with_engine(doc: dict, **options) -> dict:
    doc = json.loads(json.dumps(doc))
    doc["options"].update({"improve": True, "seed": 1, "max_iterations": 40, **options})
    return doc


def solve(doc: dict) -> dict:
    return core.solve_json_str(json.dumps(doc))


def value(result: dict, objective: str) -> float:
    return result["statistics"]["max_cost" if objective == "min_max" else "sum_cost"]


def solution_part(result: dict) -> tuple:
    """Everything of a result that does not measure time."""
    stats = {k: v for k, v in result["statistics"].items() if k not in ("solve_time", "last_update_time")}
    return result["status"], result["timeout"], result["routes"], stats, [
        (p["max_cost"], p["sum_cost"]) for p in result["anytime"]]


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
@pytest.mark.parametrize("kind", KINDS + ["all"])
def test_engine_results_pass_the_checker(kind, objective):
    kinds = set(KINDS) if kind == "all" else {kind}
    solved = 0
    for seed in range(4):
        doc = with_engine(random_doc(seed, kinds, objective))
        result = solve(doc)
        assert check_result(doc, result) == [], (kind, seed)
        if result["status"] == "success":
            solved += 1
            # The last improving solution is the one returned, and none came out better.
            assert result["anytime"], (kind, seed)
            assert math.isclose(value(result, objective), min(
                p["max_cost" if objective == "min_max" else "sum_cost"] for p in result["anytime"]), rel_tol=1e-9)
    assert solved >= 2, kind


def test_engine_solves_what_the_focal_search_cannot_in_its_share():
    # Windows and a long search: the focal search's tenth of a second may end
    # without a solution; the engine's own constructions still give one.
    doc = random_doc(3, {"windows", "types"}, "min_max", n_targets=40)
    doc["options"]["time_limit"] = 1.0
    result = solve(with_engine(doc, max_iterations=0))
    assert check_result(doc, result) == []
    assert result["status"] == "success"


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
def test_same_seed_and_iterations_give_the_same_result(objective):
    doc = with_engine(random_doc(11, {"types", "windows", "limits"}, objective, n_targets=25), seed=7, max_iterations=60)
    first, second = solve(doc), solve(doc)
    assert first["status"] == "success"
    assert solution_part(first) == solution_part(second)
    assert first["timeout"] is False


def test_long_routes_and_large_instances_repeat_under_seed_and_iterations():
    """Three agents on 500 targets: the edge-assembly crossover and the
    subproblems of neighbouring routes both run; a fixed seed and iteration
    count still give the same, valid result."""
    doc = with_engine(random_doc(5, set(), "min_max", n_targets=500), seed=3, max_iterations=10)
    doc["options"]["time_limit"] = 3600.0
    first, second = solve(doc), solve(doc)
    assert first["status"] == "success" and first["timeout"] is False
    assert solution_part(first) == solution_part(second)
    served = sorted(node for route in first["routes"] for node in route["path"][1:-1])
    assert served == list(range(1, 501))


def test_improve_off_gives_the_focal_search_result():
    doc = random_doc(5, {"types", "limits"}, "min_max")
    # The counters are equal only for a search that ends before its limit
    # (this one runs out of labels after about 2.5 processor seconds).
    doc["options"]["time_limit"] = 20.0
    plain = solve(doc)
    assert not plain["timeout"]
    off = json.loads(json.dumps(doc))
    off["options"].update({"improve": False, "seed": 9, "max_iterations": 3})
    assert solution_part(solve(off)) == solution_part(plain)
    assert list(plain["statistics"]) == list(solve(with_engine(doc))["statistics"])


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
def test_engine_is_never_worse_than_the_focal_solution_it_starts_from(objective):
    for seed in range(5):
        doc = random_doc(20 + seed, {"types"}, objective, n_targets=14)
        result = solve(with_engine(doc, max_iterations=30))
        assert result["status"] == "success"
        # The first anytime entries are the focal search's solution before and
        # after post-optimisation; the result is at most the best of them.
        focal_first = solve(doc)["anytime"][:2]
        best_focal = min(p["max_cost" if objective == "min_max" else "sum_cost"] for p in focal_first)
        assert value(result, objective) <= best_focal + 1e-9


def test_engine_beats_the_focal_search_on_a_min_max_instance():
    doc = random_doc(2, set(), "min_max", n_targets=40)
    doc["options"]["time_limit"] = 1.0
    focal = solve(doc)
    improved = solve(with_engine(doc, max_iterations=200))
    assert check_result(doc, improved) == []
    assert value(improved, "min_max") < value(focal, "min_max")


def test_options_record_carries_the_engine_options():
    options = core.Options()
    assert (options.improve, options.seed, options.max_iterations) == (False, 0, 0)
    options.improve, options.seed, options.max_iterations = True, 3, 10
    assert (options.improve, options.seed, options.max_iterations) == (True, 3, 10)


def tight_doc(seed: int, n_targets: int = 30, n_agents: int = 3) -> dict:
    """Windows of 20 to 40 time units and route-length limits just above a
    hidden plan's route durations: the plan is feasible, little else is."""
    rng = random.Random(seed)
    points = [(50.0, 50.0)] + [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n_targets)]
    matrix = [[0.0 if i == j else round(math.dist(p, q), 2) for j, q in enumerate(points)] for i, p in enumerate(points)]
    targets = list(range(1, len(points)))
    rng.shuffle(targets)
    windows, limits = [], []
    for k in range(n_agents):
        clock, last = 0.0, 0
        for node in targets[k::n_agents]:
            clock += matrix[last][node]
            opening = max(0.0, clock - rng.uniform(0, 20))
            windows.append({"node": node, "start": round(opening, 1), "end": round(opening + rng.uniform(20, 40), 1)})
            clock, last = max(clock, opening), node
        limits.append(round(clock + matrix[last][0] + 40, 1))
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "car", "start_node": 0, "end_node": 0, "max_length": limits[k]} for k in range(n_agents)],
        "costs": {"car": matrix},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["car"]} for i in range(len(points))]},
                        {"kind": "timewindow", "items": windows}],
        "options": {"objective": "min_max", "time_limit": 3.0},
    }


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_tight_windows_and_limits_are_solved_feasibly(seed):
    # Searching through infeasible solutions must still hand out only
    # feasible ones, and must find one where the hidden plan shows there is.
    doc = tight_doc(seed)
    result = solve(with_engine(doc, max_iterations=400))
    assert check_result(doc, result) == []
    assert result["status"] == "success"
    again = solve(with_engine(doc, max_iterations=400))
    assert solution_part(again) == solution_part(result)


def test_engine_under_a_tiny_memory_budget_stops_cleanly(capfd):
    doc = random_doc(3, {"windows", "types"}, "min_max", n_targets=60)
    for budget in (2.0, 2.5, 3.0):
        capfd.readouterr()
        result = solve(with_engine(doc, max_iterations=50, memory_limit_mb=budget))
        err = capfd.readouterr().err
        assert result["timeout"] is True, budget
        assert check_result(doc, result) == [], budget
        assert len([line for line in err.splitlines() if line.startswith("[memory]")]) == 1, budget
    # Too small for the tables and the engine's smallest population: refused before either is built.
    with pytest.raises(ValueError, match=r'needs about [\d.]+ MB .*"memory_limit_mb"'):
        solve(with_engine(doc, memory_limit_mb=0.01))


def test_a_budget_the_search_fits_but_the_engine_does_not(capfd):
    # 200 targets: the tables (about 5 MB) and the focal search fit while
    # the engine's solutions do not fit in what they leave. Smaller budgets
    # are refused before the solve.
    doc = with_engine(random_doc(1, set(), "min_max", n_targets=200), max_iterations=5)
    engine_lines = 0
    for tenths in range(50, 150):
        doc["options"]["memory_limit_mb"] = tenths / 10
        capfd.readouterr()
        try:
            result = solve(doc)
        except ValueError as error:
            assert "memory_limit_mb" in str(error)
            continue
        lines = [line for line in capfd.readouterr().err.splitlines() if line.startswith("[memory]")]
        assert len(lines) <= 1
        if lines:
            assert result["timeout"] is True
        if lines and "before the improvement engine could start" in lines[0]:
            engine_lines += 1
            found = result["status"] == "success"
            assert lines[0].endswith("with the best solution found" if found else "without a solution")
            break
    assert engine_lines >= 1
