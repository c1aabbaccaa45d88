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
    # Without --lkh the LKH-3 column is left out altogether.
    assert "lkh" not in row and "LKH-3" not in proc.stdout and "lkh" not in results["mean_gap_minmax_bks"]
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


def _lkh_doc(objective="min_max", m=2):
    doc = build_document(InstanceRecipe("tiny", "plain", objective, m), COORDS)
    doc["name"] = f"tiny-{objective}"
    return doc


# What LKH-3 writes to its MTSP_SOLUTION_FILE for the 10-node instance with
# two salesmen (one of them idle in the second case), node numbers from 1.
CANNED_SOLUTION = """tiny, Cost: 21000_43000
The tours traveled by the 2 salesmen are:
1 2 3 10 8 7 1 (#5)  Cost: 21000
1 6 9 5 4 1 (#4)  Cost: 22000
"""
CANNED_IDLE = """tiny, Cost: 0_40000
The tours traveled by the 2 salesmen are:
1 1 (#0)  Cost: 0
1 2 3 10 8 7 6 9 5 4 1 (#9)  Cost: 40000
"""
CANNED_LOG = """PARAMETER_FILE = lkh.par
Lower bound = 41234.0, Gap = 3.1%, Ascent time = 0.30 sec.
Preprocessing time = 0.50 sec.
* 1: Cost = 30500_61000, Time = 0.01 sec.
  2: Cost = 30500_61000, Time = 0.02 sec.
* 3: Cost = 28250_60000, Time = 1.25 sec.
*** Time limit exceeded* 4: Cost = 28000_59000, Time = 2.50 sec.
*** Time limit exceeded ***
Run 1: Cost = 28250_60000, Time = 3.00 sec.
"""


class TestLkhPeer:
    def test_problem_file_holds_the_real_costs_times_1000(self):
        from benchmarks import peer_lkh

        doc = _lkh_doc()
        text = peer_lkh.problem_text(doc, "tiny")
        lines = text.splitlines()
        assert "TYPE : TSP" in lines and "DIMENSION : 10" in lines and lines[-1] == "EOF"
        rows = [list(map(int, line.split())) for line in lines[lines.index("EDGE_WEIGHT_SECTION") + 1:-1]]
        assert len(rows) == 10 and all(len(r) == 10 for r in rows)
        truck = doc["costs"]["truck"]
        assert rows[0][1] == 5000 and rows[3][8] == round(truck[3][8] * 1000)
        # An asymmetric matrix is posed as an ATSP, row by row.
        doc["costs"]["truck"][1][2] += 0.5
        text = peer_lkh.problem_text(doc, "tiny")
        assert "TYPE : ATSP" in text.splitlines()
        rows = [list(map(int, line.split())) for line in text.splitlines()[6:-1]]
        assert rows[1][2] == round((truck[1][2]) * 1000) and rows[2][1] != rows[1][2]

    def test_parameter_file(self, tmp_path):
        from benchmarks import peer_lkh

        for objective, name in (("min_max", "MINMAX"), ("min_sum", "MINSUM")):
            doc = _lkh_doc(objective, 3)
            text = peer_lkh.parameter_text(doc, tmp_path / "p", tmp_path / "s", 7.5, 4)
            lines = text.splitlines()
            assert lines[0] == "SPECIAL"
            params = dict(line.split(" = ", 1) for line in lines[1:])
            assert params["MTSP_OBJECTIVE"] == name and params["SALESMEN"] == "3"
            assert params["TIME_LIMIT"] == params["TOTAL_TIME_LIMIT"] == "7.5"
            assert params["SEED"] == "5" and params["RUNS"] == "1" and params["DEPOT"] == "1"
            assert params["PROBLEM_FILE"] == str(tmp_path / "p")
            assert params["MTSP_SOLUTION_FILE"] == str(tmp_path / "s")
            assert params["MTSP_MIN_SIZE"] == "0"

    def test_solution_file_gives_checked_routes(self):
        from benchmarks import peer_lkh

        doc = _lkh_doc()
        routes = peer_lkh.parse_solution(CANNED_SOLUTION, doc)
        assert routes == [[0, 1, 2, 9, 7, 6, 0], [0, 5, 8, 4, 3, 0]]
        assert check_solution(doc, routes).feasible
        idle = peer_lkh.parse_solution(CANNED_IDLE, doc)
        assert idle[0] == [0, 0] and len(idle[1]) == 11
        report = check_solution(doc, idle)
        assert report.feasible and report.route_costs[0] == 0.0

    @pytest.mark.parametrize("text", [
        CANNED_SOLUTION.replace("(#5)", "(#4)"),  # count differs from the route
        CANNED_SOLUTION.replace("1 6 9 5 4 1", "6 9 5 4 1 1"),  # not from the depot
        CANNED_SOLUTION.replace(" 10 8", " 11 8"),  # no such node
        "\n".join(CANNED_SOLUTION.splitlines()[:3]),  # a salesman missing
        CANNED_SOLUTION.replace("Cost: 22000", "garbage").replace("1 6 9", "x 6 9"),
    ])
    def test_malformed_solution_file_is_refused(self, text):
        from benchmarks import peer_lkh

        with pytest.raises(ValueError):
            peer_lkh.parse_solution(text, _lkh_doc())

    def test_trace_gives_the_anytime_curve(self):
        from benchmarks import peer_lkh

        minmax = peer_lkh.parse_trace(CANNED_LOG, min_max=True)
        assert minmax == [{"time": 0.51, "value": 30.5}, {"time": 1.75, "value": 28.25},
                          {"time": 3.0, "value": 28.0}]
        minsum = peer_lkh.parse_trace(CANNED_LOG.replace("30500_", "0_").replace("28250_", "0_")
                                      .replace("28000_", "0_"), min_max=False)
        assert [e["value"] for e in minsum] == [61.0, 60.0, 59.0]

    def test_refuses_what_one_matrix_cannot_pose(self):
        from benchmarks import peer_lkh

        assert peer_lkh.unsupported_reason(_lkh_doc()) is None
        het = build_document(InstanceRecipe("tiny", "het", "min_max", 1, 1), COORDS)
        assert "one matrix" in peer_lkh.unsupported_reason(het)
        tw = build_document(InstanceRecipe("tiny", "tw", "min_max", 2), COORDS)
        assert peer_lkh.unsupported_reason(tw) == "constraints not modelled"
        pairs = _lkh_doc()
        pairs["constraints"] = [{"kind": "sequence", "precedence": [{"before": 1, "after": 2}]}]
        assert peer_lkh.unsupported_reason(pairs) == "constraints not modelled"
        loads = _lkh_doc()
        loads["nodes"][3]["demand"] = 4
        assert peer_lkh.unsupported_reason(loads) is None  # carried, not enforced
        loads["options"]["enforce_capacity"] = True
        assert peer_lkh.unsupported_reason(loads) == "demands not modelled"
        moved = _lkh_doc()
        moved["agents"][1]["end_node"] = 3
        assert "start or end" in peer_lkh.unsupported_reason(moved)


# A stand-in for the LKH-3 executable: reads the parameter file, writes every
# target to the last salesman in node order, and prints a trace.
FAKE_LKH = '''#!{python}
import sys
params = dict(line.strip().split(" = ", 1) for line in open(sys.argv[1]) if " = " in line)
lines = open(params["PROBLEM_FILE"]).read().splitlines()
n = int(next(l for l in lines if l.startswith("DIMENSION")).split(":")[1])
m = int(params["SALESMEN"])
with open(params["MTSP_SOLUTION_FILE"], "w") as f:
    f.write("x, Cost: 0_0\\nThe tours traveled by the %d salesmen are:\\n" % m)
    for k in range(m - 1):
        f.write("1 1 (#0)  Cost: 0\\n")
    f.write(" ".join(str(i) for i in range(1, n + 1)) + " 1 (#%d)  Cost: 0\\n" % (n - 1))
print("Preprocessing time = 0.10 sec.")
print("* 1: Cost = 9000_9000, Time = 0.20 sec.")
'''


@pytest.mark.skipif(importlib.util.find_spec("_kvr_core") is None, reason="_kvr_core not built")
def test_benchmark_command_adds_the_lkh_column(tmp_path):
    fake = tmp_path / "LKH"
    fake.write_text(FAKE_LKH.format(python=sys.executable))
    fake.chmod(0o755)
    docs = [_lkh_doc("min_max", 2), build_document(InstanceRecipe("tiny", "het", "min_max", 1, 1), COORDS)]
    docs[1]["name"] = "tiny-het"
    files = []
    for doc in docs:
        files.append(tmp_path / f"{doc['name']}.json")
        files[-1].write_text(json.dumps(doc))
    out = tmp_path / "out"
    cmd = [sys.executable, "-m", "benchmarks.run", "--instance-file", *map(str, files), "--budget", "0.3",
           "--no-ortools", "--no-pyvrp", "--no-plots", "--lkh", str(fake), "--out", str(out)]
    proc = subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    rows = {r["instance"]: r for r in json.loads((out / "results.json").read_text())["instances"]}
    lkh = rows["tiny-min_max"]["lkh"]
    # The stand-in's one long route is what the checker measured, not its trace's 9.
    single = sum(docs[0]["costs"]["truck"][a][b] for a, b in zip(range(10), [*range(1, 10), 0]))
    assert lkh["status"] == "ok" and lkh["objective"] == pytest.approx(single)
    assert lkh["anytime"][-1] == [pytest.approx(0.3), pytest.approx(single)]
    assert rows["tiny-het"]["lkh"]["status"] == "n/a" and "one matrix" in rows["tiny-het"]["lkh"]["reason"]
    assert "LKH-3" in proc.stdout and "LKH-3" in (out / "table.md").read_text()


def test_lkh_path_must_be_an_executable(tmp_path):
    from benchmarks import run

    with pytest.raises(SystemExit, match="not an executable"):
        run.skipped_peers(run.parse_args(["--lkh", str(tmp_path / "missing")]))


def _points(count, seed=3):
    import random

    rng = random.Random(seed)
    return [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(count)]


class TestRoutingSuites:
    def test_suites_are_distinct_and_buildable_from_the_data(self):
        from benchmarks.suites import CAPACITY, LARGE_MINMAX, PAIRS

        for suite in (LARGE_MINMAX, CAPACITY, PAIRS):
            names = [r.name for r in suite]
            assert len(names) == len(set(names))
            for recipe in suite:
                assert (ROOT / "benchmarks" / "data" / "tsplib" / f"{recipe.tsplib}.tsp").exists(), recipe.name
        sizes = {r.tsplib: r for r in LARGE_MINMAX}
        assert {r.m for r in LARGE_MINMAX} == {2, 3, 5, 10, 20} and "pcb1173" in sizes and "ch150" in sizes
        assert min(r.customers for r in CAPACITY) == 100 and max(r.customers for r in CAPACITY) == 1000

    @pytest.mark.parametrize("profile,low,high", [("uniform", 1, 10), ("few-large", 1, 40), ("many-small", 1, 3)])
    def test_capacitated_document(self, profile, low, high):
        from benchmarks.make_suites import routing_document
        from benchmarks.suites import RoutingRecipe

        coords = _points(60)
        recipe = RoutingRecipe("pts", 45, "cvrp", "min_sum", profile, "corner")
        doc = routing_document(recipe, coords)
        assert doc == routing_document(recipe, coords)  # the name seeds it
        nodes = doc["nodes"]
        assert len(nodes) == 46 and nodes[0]["demand"] == 0 and nodes[0]["type"] == "DEPOT"
        # The corner depot is the point nearest to the lower left of the chosen points.
        chosen = coords[:46]
        corner = (min(x for x, _ in chosen), min(y for _, y in chosen))
        assert (nodes[0]["x"], nodes[0]["y"]) == min(chosen, key=lambda p: ((p[0] - corner[0]) ** 2 + (p[1] - corner[1]) ** 2))
        assert sorted((n["x"], n["y"]) for n in nodes) == sorted(chosen)
        loads = [n["demand"] for n in nodes[1:]]
        assert low <= min(loads) and max(loads) <= high
        caps = [a["capacity"] for a in doc["agents"]]
        assert len(set(caps)) == 1 and caps[0] >= max(loads)
        # Room to spare: more agents than the routes the capacity needs.
        assert sum(caps) >= 1.2 * sum(loads) and len(caps) >= -(-sum(loads) // caps[0]) + 2
        assert doc["options"]["enforce_capacity"] and doc["options"]["improve"]

    def test_central_depot_and_heterogeneous_fleet(self):
        from benchmarks.make_suites import VAN_COST_FACTOR, routing_document
        from benchmarks.suites import RoutingRecipe

        coords = [(50.0, 50.0)] + _points(40)
        coords[0], coords[7] = coords[7], coords[0]  # the middle point is no longer first
        doc = routing_document(RoutingRecipe("pts", 30, "hetfleet", "min_max", "uniform", "central"), coords)
        assert (doc["nodes"][0]["x"], doc["nodes"][0]["y"]) == (50.0, 50.0)
        trucks = [a for a in doc["agents"] if a["type"] == "truck"]
        vans = [a for a in doc["agents"] if a["type"] == "van"]
        assert trucks and vans and len(trucks) >= len(vans)
        assert trucks[0]["capacity"] > vans[0]["capacity"]
        assert doc["costs"]["van"][1][2] == pytest.approx(VAN_COST_FACTOR * doc["costs"]["truck"][1][2])

    @pytest.mark.parametrize("variant,kind,share", [("pd", "same", 0.5), ("prec", None, 0.2), ("diff", "diff", 0.2)])
    def test_pairs_join_disjoint_customers(self, variant, kind, share):
        from benchmarks.make_suites import routing_document
        from benchmarks.suites import RoutingRecipe

        doc = routing_document(RoutingRecipe("pts", 40, variant, "min_sum"), _points(50))
        [constraint] = doc["constraints"]
        items = constraint["precedence"]
        ends = [v for it in items for v in (it["before"], it["after"])]
        assert len(ends) == len(set(ends)) == 2 * int(share * 40 / 2) and 0 not in ends
        assert all(it.get("type") == kind for it in items)
        assert doc["options"]["enforce_precedence"] is True

    def test_too_few_points_is_an_error(self):
        from benchmarks.make_suites import routing_document
        from benchmarks.suites import RoutingRecipe

        with pytest.raises(ValueError, match="fewer than"):
            routing_document(RoutingRecipe("pts", 40, "cvrp", "min_sum"), _points(30))


@pytest.mark.skipif(not HAVE_ORTOOLS, reason="ortools not installed")
@pytest.mark.parametrize("variant,objective", [("cvrp", "min_sum"), ("hetfleet", "min_sum"), ("pd", "min_sum"),
                                               ("prec", "min_sum"), ("diff", "min_sum"), ("diff", "min_max")])
def test_ortools_peer_honours_capacities_and_pairs(variant, objective):
    from benchmarks import peer_ortools
    from benchmarks.make_suites import routing_document
    from benchmarks.suites import RoutingRecipe

    doc = routing_document(RoutingRecipe("pts", 24, variant, objective), _points(30))
    # Tight capacities, so that a model without the load dimension would break them.
    for agent in doc["agents"]:
        agent["capacity"] = max(max(n["demand"] for n in doc["nodes"]), agent["capacity"] // 2)
    doc["agents"] += [dict(doc["agents"][-1], id=len(doc["agents"]) + k) for k in range(4)]
    result = peer_ortools.solve(doc, 1.0)
    assert result["status"] == "success"
    check = check_solution(doc, result["routes"])
    assert check.feasible, check.errors


@pytest.mark.skipif(not HAVE_PYVRP, reason="pyvrp not installed")
def test_pyvrp_peer_honours_capacities():
    from benchmarks import peer_pyvrp
    from benchmarks.make_suites import routing_document
    from benchmarks.suites import RoutingRecipe

    doc = routing_document(RoutingRecipe("pts", 24, "hetfleet", "min_sum"), _points(30))
    assert peer_pyvrp.unsupported_reason(doc) is None
    result = peer_pyvrp.solve(doc, 0.5)
    assert result["status"] == "success"
    check = check_solution(doc, result["routes"])
    assert check.feasible, check.errors
    pd = routing_document(RoutingRecipe("pts", 24, "pd", "min_sum"), _points(30))
    assert peer_pyvrp.unsupported_reason(pd) == "precedence pairs not modelled"


def test_focal_column_is_left_out_where_the_focal_search_refuses():
    from benchmarks import run
    from benchmarks.make_suites import routing_document
    from benchmarks.suites import RoutingRecipe

    assert run.focal_refusal(_lkh_doc()) is None
    doc = routing_document(RoutingRecipe("pts", 24, "cvrp", "min_sum"), _points(30))
    assert "loads or pairs" in run.focal_refusal(doc)
    doc["options"]["enforce_capacity"] = False  # carried, not enforced: the focal search runs
    assert run.focal_refusal(doc) is None
    pairs = routing_document(RoutingRecipe("pts", 24, "prec", "min_sum"), _points(30))
    pairs["options"]["enforce_capacity"] = False
    assert "loads or pairs" in run.focal_refusal(pairs)
    big = build_document(InstanceRecipe("pts", "plain", "min_max", 2), _points(300))
    assert "more than 256" in run.focal_refusal(big)


def test_long_routes_changes_the_agents_and_compares_labels(tmp_path, capsys):
    from benchmarks import long_routes

    doc = long_routes.document("eil51-m3-minmax@2")
    base = long_routes.document("eil51-m3-minmax")
    assert [a["id"] for a in doc["agents"]] == [0, 1]
    assert all({k: v for k, v in a.items() if k != "id"} ==
               {k: v for k, v in base["agents"][0].items() if k != "id"} for a in doc["agents"])
    assert doc["nodes"] == base["nodes"] and doc["costs"] == base["costs"]
    # A large-suite name is its generated document, with agents changed too.
    large = long_routes.document("lin318-m3-minmax@2")
    assert len(large["nodes"]) == 318 and len(large["agents"]) == 2
    assert large["options"]["objective"] == "min_max"
    with pytest.raises(SystemExit, match="unknown instance"):
        long_routes.document("lin318-m4-minmax")
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
