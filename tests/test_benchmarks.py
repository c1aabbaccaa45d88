"""The benchmark's instance builder, peer model and command."""
import importlib.util
import json
import subprocess
import sys
from pathlib import Path

import pytest

from kvr_mtsp.checker import check_solution
from benchmarks.make_instances import build_document, choose_scale, reference_routes
from benchmarks.suites import FULL, QUICK, InstanceRecipe

ROOT = Path(__file__).resolve().parent.parent
HAVE_ORTOOLS = importlib.util.find_spec("ortools") is not None
HAVE_PYVRP = importlib.util.find_spec("pyvrp") is not None
COORDS = [(0, 0), (3, 4), (6, 8), (-3, 4), (-6, 0), (0, -5), (4, -3), (8, 0), (-2, -7), (5, 5)]


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


@pytest.mark.skipif(not HAVE_PYVRP, reason="pyvrp not installed")
def test_pyvrp_peer_solutions_pass_the_checker():
    from benchmarks import peer_pyvrp

    for recipe in (InstanceRecipe("tiny", "plain", "min_sum", 3), InstanceRecipe("tiny", "tw", "min_sum", 2),
                   InstanceRecipe("tiny", "het", "min_sum", 1, 1)):
        doc = build_document(recipe, COORDS)
        assert peer_pyvrp.unsupported_reason(doc) is None, recipe.name
        result = peer_pyvrp.solve(doc, 0.3)
        assert result["status"] == "success", recipe.name
        assert len(result["routes"]) == len(doc["agents"])
        check = check_solution(doc, result["routes"])
        assert check.feasible, (recipe.name, check.errors)
        # Its integer costs are rounded up, so its own figure is never below the real one.
        assert result["anytime"] and result["anytime"][-1]["sum_cost"] >= check.sum_cost - 1e-9


@pytest.mark.skipif(not HAVE_PYVRP, reason="pyvrp not installed")
def test_pyvrp_peer_keeps_drones_off_the_nodes_they_may_not_serve():
    from benchmarks import peer_pyvrp

    doc = build_document(InstanceRecipe("tiny", "het", "min_sum", 1, 1), COORDS)
    # Drones at a tenth of the cost would take every node if nothing kept them off.
    doc["costs"]["drone"] = [[c / 10 for c in row] for row in doc["costs"]["truck"]]
    doc["agents"][1].pop("max_length", None)
    drone_nodes = {it["node"] for it in doc["constraints"][0]["items"] if "drone" in it["types"]}
    result = peer_pyvrp.solve(doc, 0.3)
    assert result["status"] == "success"
    assert set(result["routes"][1]) <= drone_nodes and len(result["routes"][1]) > 2
    assert check_solution(doc, result["routes"]).feasible


def test_pyvrp_peer_refuses_what_it_cannot_pose():
    from benchmarks import peer_pyvrp

    doc = build_document(InstanceRecipe("tiny", "plain", "min_max", 2), COORDS)
    assert peer_pyvrp.unsupported_reason(doc).startswith("min-max objective")
    doc["options"]["objective"] = "min_sum"
    assert peer_pyvrp.unsupported_reason(doc) is None
    doc["options"]["return_to_end"] = False
    assert peer_pyvrp.unsupported_reason(doc) == "open routes not modelled"


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
        cmd.append("--no-ortools")
    if not HAVE_PYVRP:
        cmd.append("--no-pyvrp")
    have_plots = importlib.util.find_spec("matplotlib") is not None
    if not have_plots:
        cmd.append("--no-plots")
    proc = subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert "tiny-m2" in proc.stdout
    results = json.loads((out / "results.json").read_text())
    [row] = results["instances"]
    assert row["instance"] == "tiny-m2"
    for key in ("focal", "engine"):
        assert row[key]["status"] == "ok", row[key]
        assert row[key]["anytime"] and row[key]["objective"] is not None
    # The engine starts from the focal search's first solution and never returns worse.
    assert row["engine"]["objective"] <= row["focal"]["anytime"][0][1] + 1e-6
    assert row["ortools"]["status"] == ("ok" if HAVE_ORTOOLS else "n/a"), row["ortools"]
    assert row["pyvrp"]["status"] == "n/a", row["pyvrp"]  # min-max: not posed
    assert "min-max" in row["pyvrp"]["reason"] or not HAVE_PYVRP
    assert "mean gap to best-known" in proc.stdout
    assert results["mean_gap_minmax_bks"]["engine"]["of"] == 0  # no reference value
    assert "tiny-m2" in (out / "table.md").read_text()
    if have_plots:
        assert (out / "anytime.png").stat().st_size > 0 and (out / "gaps.png").stat().st_size > 0


class TestBaselineComparison:
    """The comparison machinery of benchmarks.compare_baseline, without
    building the baseline module."""

    RESULT = {
        "status": "success",
        "timeout": False,
        "routes": [{"agent_id": 1, "path": [0, 2, 1, 0], "cost": 7.5}, {"agent_id": 2, "path": [0, 3, 0], "cost": 4.0}],
        "statistics": {"solve_time": 0.0123, "max_cost": 7.5, "sum_cost": 11.5, "n_generated": 41, "n_expanded": 17,
                       "last_update_time": 0.0021},
        "anytime": [{"time": 0.001, "max_cost": 9.0, "sum_cost": 12.0}, {"time": 0.0021, "max_cost": 7.5, "sum_cost": 11.5}],
    }
    TIMES = {("statistics", "solve_time"), ("statistics", "last_update_time"), ("anytime", 0, "time"),
             ("anytime", 1, "time")}

    @staticmethod
    def leaves(value, prefix=()):
        if isinstance(value, dict):
            for key, item in value.items():
                yield from TestBaselineComparison.leaves(item, prefix + (key,))
        elif isinstance(value, list):
            for i, item in enumerate(value):
                yield from TestBaselineComparison.leaves(item, prefix + (i,))
        else:
            yield prefix

    @staticmethod
    def changed(doc, path):
        import copy

        doc = copy.deepcopy(doc)
        target = doc
        for step in path[:-1]:
            target = target[step]
        old = target[path[-1]]
        target[path[-1]] = (not old) if isinstance(old, bool) else (old + "x" if isinstance(old, str) else old + 1)
        return doc

    def test_normaliser_drops_the_time_values_and_nothing_else(self):
        from benchmarks.compare_baseline import canonical, normalise

        reference = canonical(normalise(self.RESULT))
        paths = list(self.leaves(self.RESULT))
        assert self.TIMES <= set(paths)
        for path in paths:
            same = canonical(normalise(self.changed(self.RESULT, path))) == reference
            assert same == (path in self.TIMES), path
        assert canonical(normalise(dict(self.RESULT, extra=[1]))) != reference
        assert self.RESULT["anytime"][0]["time"] == 0.001  # the input is left as it was

    def test_complete_runs_must_agree_apart_from_times(self):
        from benchmarks.compare_baseline import compare_complete

        record = {"result": self.RESULT, "console": {"stdout": "", "stderr": "w = 1\n"}}
        retimed = {"result": self.changed(self.RESULT, ("statistics", "solve_time")), "console": record["console"]}
        assert compare_complete("doc", record, retimed).verdict == "identical"
        outcome = compare_complete("doc", record, {"result": self.changed(self.RESULT, ("routes", 1, "path", 1))})
        assert outcome.verdict == "different"
        assert [where for where, _, _ in outcome.detail] == [".result.routes[1].path[1]", ".console"]
        errors = [{"error": "IndexError: unordered_map::at: key not found"}, {"error": "ValueError: other"}]
        assert compare_complete("doc", errors[0], dict(errors[0])).verdict == "identical"
        assert compare_complete("doc", errors[0], errors[1]).verdict == "different"
        assert compare_complete("doc", record, {"crash": "process ended with exit status -11"}).verdict == "different"

    def test_time_limited_runs_follow_the_prefix_rule(self):
        import copy

        from benchmarks.compare_baseline import compare_prefix

        cut = copy.deepcopy(self.RESULT)
        cut["anytime"], cut["timeout"] = cut["anytime"][:1], True
        longer = copy.deepcopy(self.RESULT)
        longer["timeout"] = True
        longer["anytime"].append({"time": 3.0, "max_cost": 7.0, "sum_cost": 11.0})
        assert compare_prefix("i", {"result": cut}, {"result": longer}).verdict == "prefix"
        assert compare_prefix("i", {"result": longer}, {"result": cut}).verdict == "prefix"
        # A search that ended by itself found all its solutions.
        assert compare_prefix("i", {"result": self.RESULT}, {"result": longer}).verdict == "different"
        other = copy.deepcopy(longer)
        other["anytime"][1]["sum_cost"] = 11.25
        outcome = compare_prefix("i", {"result": longer}, {"result": other})
        assert outcome.verdict == "different" and outcome.detail[0][0] == ".anytime[1].sum_cost"

    def test_generator_is_deterministic_and_varied(self):
        from benchmarks.compare_baseline import random_document, random_documents

        docs = random_documents(5, 200)
        assert docs == random_documents(5, 200) and random_document(5, 17) == docs[17]
        assert docs != random_documents(6, 200)
        for doc in docs:
            assert 5 <= len(doc["nodes"]) <= 12 and 1 <= len(doc["agents"]) <= 3
            assert {a["type"] for a in doc["agents"]} == set(doc["costs"]), doc["name"]
        kinds = {c["kind"] for doc in docs for c in doc["constraints"]}
        assert kinds == {"assignment", "timewindow"}
        assert {doc["options"]["objective"] for doc in docs} == {"min_max", "min_sum"}
        assert {doc["options"]["return_to_end"] for doc in docs} == {True, False}
        assert any("max_length" in a for doc in docs for a in doc["agents"])
        assert any(a["start_node"] != a["end_node"] for doc in docs for a in doc["agents"])
        assert any(len(doc["costs"]) == 2 for doc in docs)

    @pytest.mark.skipif(importlib.util.find_spec("_kvr_core") is None, reason="_kvr_core not built")
    def test_generated_documents_solve_in_a_worker(self, tmp_path):
        from benchmarks.baseline import run_tasks
        from benchmarks.compare_baseline import random_documents

        docs = random_documents(3, 40)
        tasks = [{"key": d["name"], "text": json.dumps(d), "time_limit": 20.0, "console": True} for d in docs]
        tasks.append({"key": "broken", "text": "{", "time_limit": 1.0})
        records = run_tasks(None, tasks, tmp_path, "smoke")
        assert records.pop("broken")["error"].startswith("RuntimeError")
        assert list(records) == [d["name"] for d in docs]
        results = [r["result"] for r in records.values()]
        assert not any(r["timeout"] for r in results)
        assert sum(r["status"] == "success" for r in results) >= len(docs) // 2
        assert all(len(r["routes"]) == len(d["agents"]) for r, d in zip(results, docs))
        assert all(set(r["console"]) == {"stdout", "stderr"} for r in records.values())


def test_long_routes_changes_the_agents_and_compares_labels(tmp_path, capsys):
    from benchmarks import long_routes

    doc = long_routes.document("eil51-m3-minmax@2")
    base = long_routes.document("eil51-m3-minmax")
    assert [a["id"] for a in doc["agents"]] == [0, 1]
    assert all({k: v for k, v in a.items() if k != "id"} ==
               {k: v for k, v in base["agents"][0].items() if k != "id"} for a in doc["agents"])
    assert doc["nodes"] == base["nodes"] and doc["costs"] == base["costs"]
    rows = [{"label": "b", "instance": "x", "budget": 10.0, "value": 200.0},
            {"label": "a", "instance": "x", "budget": 10.0, "value": 198.0},
            {"label": "b", "instance": "x", "budget": "children/s", "value": 10.0},
            {"label": "a", "instance": "x", "budget": "children/s", "value": 12.0},
            {"label": "b", "instance": "y", "budget": 10.0, "value": 5.0}]
    out = tmp_path / "rows.jsonl"
    out.write_text("".join(json.dumps(r) + "\n" for r in rows))
    assert long_routes.main(["--compare", "b", "a", "--out", str(out)]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 3  # the header and the two rows both labels have; y has no "a" row
    assert lines[1].split()[-1] == "-1.00" and lines[2].split()[-1] == "+20.00"
