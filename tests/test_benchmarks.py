"""The benchmark's feasibility checker, instance builder, peer model and command."""
import importlib.util
import json
import subprocess
import sys
from pathlib import Path

import pytest

from benchmarks.check import check_solution
from benchmarks.make_instances import build_document, choose_scale, reference_routes
from benchmarks.suites import FULL, QUICK, InstanceRecipe

ROOT = Path(__file__).resolve().parent.parent
HAVE_ORTOOLS = importlib.util.find_spec("ortools") is not None
COORDS = [(0, 0), (3, 4), (6, 8), (-3, 4), (-6, 0), (0, -5), (4, -3), (8, 0), (-2, -7), (5, 5)]


def tiny_doc(**overrides):
    """Depot 0 and targets 1..3 on a line, two agents of types a and b."""
    doc = {
        "nodes": [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(4)],
        "agents": [
            {"id": 0, "type": "a", "start_node": 0, "end_node": 0},
            {"id": 1, "type": "b", "start_node": 0, "end_node": 0},
        ],
        "costs": {
            "a": [[abs(i - j) * 1.0 for j in range(4)] for i in range(4)],
            "b": [[abs(i - j) * 0.5 for j in range(4)] for i in range(4)],
        },
        "constraints": [],
        "options": {"objective": "min_max"},
    }
    doc.update(overrides)
    return doc


class TestChecker:
    def test_feasible_routes_costs_and_objectives(self):
        check = check_solution(tiny_doc(), [[0, 1, 2, 0], [0, 3, 0]], [4.0, 3.0])
        assert check.feasible, check.errors
        assert check.route_costs == [4.0, 3.0]
        assert check.objective == 4.0
        doc = tiny_doc(options={"objective": "min_sum"})
        assert check_solution(doc, [[0, 1, 2, 0], [0, 3, 0]]).objective == 7.0

    def test_idle_agents_cost_nothing(self):
        for idle in ([0], [0, 0], []):
            check = check_solution(tiny_doc(), [[0, 1, 2, 3, 0], idle], [6.0, 0.0])
            assert check.feasible, (idle, check.errors)
            assert check.route_costs[1] == 0.0

    @pytest.mark.parametrize("routes, fragment", [
        ([[1, 2, 0], [0, 3, 0]], "starts at 1"),
        ([[0, 1, 2], [0, 3, 0]], "ends at 2"),
        ([[0, 1, 0], [0, 3, 0]], "not served"),
        ([[0, 1, 2, 3, 0], [0, 3, 0]], "more than once"),
        ([[0, 1, 0, 2, 0], [0, 3, 0]], "depot 0 inside"),
        ([[0, 1, 2, 0]], "1 routes for 2 agents"),
        ([[0, 1, 2, 7, 0], [0, 3, 0]], "does not exist"),
    ])
    def test_structural_faults_are_flagged(self, routes, fragment):
        check = check_solution(tiny_doc(), routes)
        assert not check.feasible
        assert any(fragment in e for e in check.errors), check.errors

    def test_assignment_and_missing_connection(self):
        doc = tiny_doc(constraints=[{"kind": "assignment", "items": [{"node": 3, "types": ["a"]}]}])
        check = check_solution(doc, [[0, 1, 2, 0], [0, 3, 0]])
        assert any("may not serve node 3" in e for e in check.errors)
        doc = tiny_doc()
        doc["costs"]["b"][0][3] = 9999.0
        check = check_solution(doc, [[0, 1, 2, 0], [0, 3, 0]])
        assert any("no connection from 0 to 3" in e for e in check.errors)

    def test_waiting_counts_towards_cost_and_length_limit(self):
        windows = [{"kind": "timewindow", "items": [{"node": 1, "start": 5.0, "end": 9.0}]}]
        doc = tiny_doc(constraints=windows)
        check = check_solution(doc, [[0, 1, 2, 0], [0, 3, 0]], [8.0, 3.0])
        assert check.feasible, check.errors
        assert check.route_costs[0] == 8.0  # wait at 1 until 5, then 1 + 2 back
        doc["agents"][0]["max_length"] = 7
        check = check_solution(doc, [[0, 1, 2, 0], [0, 3, 0]])
        assert any("exceeds its limit 7" in e for e in check.errors)

    def test_window_end_and_cost_mismatch(self):
        windows = [{"kind": "timewindow", "items": [{"node": 2, "start": 0.0, "end": 1.5}]}]
        check = check_solution(tiny_doc(constraints=windows), [[0, 1, 2, 0], [0, 3, 0]])
        assert any("after its window end 1.5" in e for e in check.errors)
        check = check_solution(tiny_doc(), [[0, 1, 2, 0], [0, 3, 0]], [4.0, 2.9])
        assert any("reported cost 2.9" in e for e in check.errors)


class TestInstanceBuilder:
    def test_scale_stays_below_no_connection(self):
        assert choose_scale(9998.9) == 1.0
        assert choose_scale(17422.8) == 0.5
        assert choose_scale(30000.0) == 0.2
        assert choose_scale(99990.0) == 0.05

    def test_plain_document(self):
        doc = build_document(InstanceRecipe("tiny", "plain", "min_sum", 3), COORDS)
        assert [n["type"] for n in doc["nodes"]].count("DEPOT") == 1 and doc["nodes"][0]["type"] == "DEPOT"
        assert all(a["start_node"] == a["end_node"] == 0 for a in doc["agents"]) and len(doc["agents"]) == 3
        assert doc["costs"]["truck"][0][1] == 5.0 and doc["options"]["objective"] == "min_sum"

    def test_time_windows_keep_the_reference_solution_feasible(self):
        recipe = InstanceRecipe("tiny", "tw", "min_max", 3)
        doc = build_document(recipe, COORDS)
        assert doc["constraints"][0]["items"]
        routes = reference_routes(COORDS, doc["costs"]["truck"], 3)
        check = check_solution(doc, routes)
        assert check.feasible, check.errors

    def test_heterogeneous_types(self):
        doc = build_document(InstanceRecipe("tiny", "het", "min_max", 1, 1), COORDS)
        truck, drone = doc["costs"]["truck"], doc["costs"]["drone"]
        assert drone[2][7] == pytest.approx(truck[2][7] / 2)
        items = {it["node"]: it["types"] for it in doc["constraints"][0]["items"]}
        assert items[0] == ["truck", "drone"]
        drone_nodes = sorted(i for i, t in items.items() if "drone" in t and i)
        assert drone_nodes == sorted(range(1, 10), key=lambda i: truck[0][i])[:4]
        assert doc["agents"][1]["max_length"] > 0

    def test_suites(self):
        names = [s.name for s in FULL]
        assert len(names) == len(set(names)) and {s.name for s in QUICK} <= set(names)
        assert len(QUICK) >= 4


@pytest.mark.skipif(not HAVE_ORTOOLS, reason="ortools not installed")
def test_peer_solutions_pass_the_checker():
    from benchmarks import peer_ortools

    for recipe in (InstanceRecipe("tiny", "het", "min_max", 1, 1), InstanceRecipe("tiny", "tw", "min_sum", 2)):
        doc = build_document(recipe, COORDS)
        assert peer_ortools.unsupported_reason(doc) is None
        result = peer_ortools.solve(doc, 0.3)
        assert result["status"] == "success"
        check = check_solution(doc, result["routes"])
        assert check.feasible, (recipe.name, check.errors)
    doc = build_document(InstanceRecipe("tiny", "plain", "min_max", 2), COORDS)
    doc["options"]["return_to_end"] = False
    assert peer_ortools.unsupported_reason(doc) == "open routes not modelled"


@pytest.mark.skipif(importlib.util.find_spec("_kvr_core") is None, reason="_kvr_core not built")
def test_benchmark_command_writes_its_outputs(tmp_path):
    doc = build_document(InstanceRecipe("tiny", "plain", "min_max", 2), COORDS[:8])
    doc["name"] = "tiny-m2"
    instance = tmp_path / "tiny.json"
    instance.write_text(json.dumps(doc))
    out = tmp_path / "out"
    cmd = [sys.executable, "-m", "benchmarks.run", "--instance-file", str(instance), "--budget", "0.5",
           "--out", str(out)]
    if not HAVE_ORTOOLS:
        cmd.append("--no-peer")
    have_plots = importlib.util.find_spec("matplotlib") is not None
    if not have_plots:
        cmd.append("--no-plots")
    proc = subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert "tiny-m2" in proc.stdout
    results = json.loads((out / "results.json").read_text())
    [row] = results["instances"]
    assert row["instance"] == "tiny-m2"
    assert row["ours"]["status"] == "ok", row["ours"]
    assert row["ortools"]["status"] == ("ok" if HAVE_ORTOOLS else "n/a"), row["ortools"]
    assert "tiny-m2" in (out / "table.md").read_text()
    if have_plots:
        assert (out / "anytime.png").stat().st_size > 0 and (out / "gaps.png").stat().st_size > 0
