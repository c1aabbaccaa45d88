"""A search that runs out of labels has found the optimum, and "failed" only
when there is no solution: small documents where waiting, missing arcs, open
routes or asymmetric costs once misled the focal search (module defaults,
improvement engine off), each checked against the brute force."""
from __future__ import annotations

import json

import pytest

import _kvr_core as core
from kvr_mtsp.checker import check_result, parse_json, read_instance
from brute_force import brute_force


def nodes(n: int) -> list[dict]:
    return [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(n)]


def solve_exactly(doc: dict) -> tuple[dict, float | None]:
    """The module's result, checked as a solution, and the brute-force optimum."""
    text = json.dumps(doc)
    result = core.solve_json_str(text, 10.0)
    instance = read_instance(parse_json(text))
    assert check_result(instance, result) == []
    assert not result["timeout"]
    return result, brute_force(instance).value


def objective(result: dict, doc: dict) -> float:
    key = "max_cost" if doc.get("options", {}).get("objective") == "min_max" else "sum_cost"
    return result["statistics"][key]


def waiting_before_a_missing_arc(window_start: float) -> dict:
    # Node 2 has no arc back to the depot; its window opens late.
    return {
        "nodes": nodes(3),
        "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0}],
        "costs": {"truck": [[0, 30, 17], [30, 0, 41], [9999, 41, 0]]},
        "constraints": [{"kind": "timewindow", "items": [{"node": 2, "start": window_start, "end": 108}]}],
    }


@pytest.mark.parametrize("window_start, optimum", [(77, 148), (50, 121)])
def test_waiting_where_the_other_order_has_no_arc_back(window_start, optimum):
    # Reaching node 1 first gets to node 2 no later, so the ordering test
    # rejected 0 -> 2; but 1 -> 2 leaves no way home: "failed".
    result, best = solve_exactly(waiting_before_a_missing_arc(window_start))
    assert result["status"] == "success"
    assert result["routes"][0]["path"] == [0, 2, 1, 0]
    assert objective(result, {}) == best == optimum


def test_open_routes_close_at_each_others_depots():
    # Each agent's start is the other's end: neither could close its route.
    doc = {
        "nodes": nodes(2),
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 1},
                   {"id": 1, "type": "t", "start_node": 1, "end_node": 0}],
        "costs": {"t": [[0, 10], [10, 0]]},
        "options": {"return_to_end": False},
    }
    result, best = solve_exactly(doc)
    assert result["status"] == "success"
    assert best == result["statistics"]["sum_cost"] == 0


def test_an_open_route_closes_at_its_start_when_its_end_node_has_closed():
    # The end node's window is over by the time the target is served; the
    # route may still end, for free, at its start.
    doc = {
        "nodes": nodes(3),
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 1}],
        "costs": {"t": [[0, 1, 10], [1, 0, 10], [10, 10, 0]]},
        "constraints": [{"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 5}]}],
        "options": {"return_to_end": False},
    }
    result, best = solve_exactly(doc)
    assert result["status"] == "success"
    assert result["routes"][0]["path"] == [0, 2, 0]
    assert result["routes"][0]["cost"] == best == 10


ASYMMETRIC_ROWS = [
    [0, 31.1, 18.44, 10.76, 25.01, 8.1, 29.3],
    [30.1, 0, 26.39, 28.46, 11.51, 29.85, 24.22],
    [19.44, 24.39, 0, 16.82, 30.58, 21.55, 12.02],
    [10.76, 28.46, 16.82, 0, 60, 3.91, 24.62],
    [28.01, 8.51, 26.58, 28.72, 0, 27.95, 29.62],
    [60, 33.85, 20.55, 5.91, 29.95, 0, 29.19],
    [30.3, 25.22, 9.02, 21.62, 30.62, 29.19, 0],
]


def test_asymmetric_costs_that_break_the_triangle_inequality():
    # 3 -> 4 costs 60 but 3 -> 5 -> 4 only 33.86: a label that had visited 5
    # dominated one that had not, which needed 5 as a detour (105.81 found).
    doc = {
        "nodes": nodes(7),
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}],
        "costs": {"t": ASYMMETRIC_ROWS},
    }
    result, best = solve_exactly(doc)
    assert objective(result, doc) == pytest.approx(best, rel=1e-9)
    assert best == pytest.approx(104.98, abs=1e-9)


def test_open_route_estimate_leaves_out_the_free_last_leg():
    # Euclidean costs, one open route: the forest attached the depot as if
    # the way back were paid, pruned the best order and ended at 85.704.
    points = [(18, -2), (-5, -11), (-13, -16), (8, 1), (15, -18), (12, -12), (-9, 8)]
    doc = {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0}],
        "costs": {"truck": [[round(((p[0] - q[0]) ** 2 + (p[1] - q[1]) ** 2) ** 0.5, 3) for q in points]
                            for p in points]},
        "options": {"objective": "min_max", "return_to_end": False},
    }
    result, best = solve_exactly(doc)
    assert objective(result, doc) == pytest.approx(best, rel=1e-9)
    assert best == pytest.approx(83.823, abs=1e-9)


def test_windows_on_asymmetric_costs_with_two_depots():
    # Found 124.25 against 109.97 before waiting and asymmetric costs were
    # kept apart from the ordering test and the dominance.
    doc = {
        "nodes": nodes(5),
        "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0, "max_length": 81},
                   {"id": 1, "type": "truck", "start_node": 1, "end_node": 1}],
        "costs": {"truck": [[0.0, 4.91, 13.79, 32.18, 22.94], [29.66, 0.0, 7.23, 29.33, 33.81],
                            [25.09, 15.52, 0.0, 31.12, 18.52], [30.92, 34.65, 22.08, 0.0, 1.95],
                            [30.32, 19.87, 11.07, 30.31, 0.0]]},
        "constraints": [{"kind": "timewindow", "items": [{"node": 2, "start": 2, "end": 52},
                                                         {"node": 3, "start": 0, "end": 46},
                                                         {"node": 4, "start": 27, "end": 30}]}],
        "options": {"objective": "min_sum"},
    }
    result, best = solve_exactly(doc)
    assert objective(result, doc) == pytest.approx(best, rel=1e-9)
    assert best == pytest.approx(109.97, abs=1e-9)


def test_the_ordering_test_never_puts_the_agents_own_end_node_first():
    # Agent 0 runs from node 0 to node 1; target 3 opens at 3 only. Going
    # to the end node first "reached" 3 no later, so 0 -> 3 was rejected and
    # the other agent waited at 3 instead (4.414 found).
    doc = {
        "nodes": nodes(4),
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 1},
                   {"id": 1, "type": "t", "start_node": 2, "end_node": 2}],
        "costs": {"t": [[0, 1.414, 1, 1], [1.414, 0, 1, 1], [1, 1, 0, 0], [1, 1, 0, 0]]},
        "constraints": [{"kind": "timewindow", "items": [{"node": 3, "start": 3, "end": 3}]}],
    }
    result, best = solve_exactly(doc)
    assert [route["path"] for route in result["routes"]] == [[0, 3, 1], [2, 2]]
    assert result["statistics"]["sum_cost"] == best == 4
