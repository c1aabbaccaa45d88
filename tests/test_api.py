"""The Python API: Result and Solver objects, the JSON entry points and their result document."""
from __future__ import annotations

import copy
import itertools
import json
import math
import random

import pytest

import _kvr_core as core
import kvr_mtsp
from benchmarks.module_worker import problem_from_document

EMPTY_INPUT = "attempting to parse an empty input; check that your input string or stream contains the expected JSON"
NOT_FOUND = "unordered_map::at: key not found"


def solve(doc: dict, *args, **kwargs) -> dict:
    return core.solve_json_str(json.dumps(doc), *args, **kwargs)


def problem_from_doc(doc: dict) -> tuple[core.Problem, core.Options]:
    """The same instance built object by object through the Python classes."""
    time_limit = doc.get("options", {}).get("time_limit", 60.0)
    return problem_from_document(core, doc, time_limit)


def routes_of(result: core.Result, doc: dict) -> list[dict]:
    """A Solver's result in the shape of the JSON document's "routes"."""
    return [
        {"agent_id": agent["id"], "path": result.paths.get(k, []), "cost": result.times.get(k, 0.0)}
        for k, agent in enumerate(doc["agents"])
    ]


def objective_values(points, objective: str) -> list[float]:
    key = "max_cost" if objective == "min_max" else "sum_cost"
    return [p[key] for p in points]


@pytest.fixture
def solved(make_doc):
    doc = make_doc(6)
    problem, options = problem_from_doc(doc)
    solver = core.Solver(problem, options)
    assert solver.solve() == 1
    return doc, solver


class TestResultObject:
    def test_cannot_be_constructed(self):
        with pytest.raises(TypeError, match="No constructor defined!"):
            core.Result()

    @pytest.mark.parametrize("name", ["n_generated", "n_expanded", "timeout", "last_update_time", "paths", "times"])
    def test_attributes_are_read_only(self, solved, name):
        result = solved[1].get_result()
        before = getattr(result, name)
        with pytest.raises(AttributeError):
            setattr(result, name, before)

    def test_attribute_types_and_fresh_dicts(self, solved):
        doc, solver = solved
        result = solver.get_result()
        assert isinstance(result.n_generated, int) and isinstance(result.n_expanded, int)
        assert result.timeout is False
        assert isinstance(result.last_update_time, float)
        assert set(result.paths) == set(result.times) == {0, 1}
        assert all(isinstance(node, int) for path in result.paths.values() for node in path)
        assert all(isinstance(cost, float) for cost in result.times.values())
        result.paths[0].append(99)
        result.times.clear()
        assert 99 not in result.paths[0] and len(result.times) == 2


class TestArgumentTypes:
    @pytest.mark.parametrize(
        "call",
        [
            lambda: core.Solver(),
            lambda: core.Solver(core.Problem()),
            lambda: core.Solver(core.Options(), core.Problem()),
            lambda: core.Solver(core.Problem(), "options"),
            lambda: core.solve_json_str(42),
            lambda: core.solve_json_str("{}", "5"),
            lambda: core.solve_json_str("{}", time_limit=None),
            lambda: core.solve_json_file(None),
            lambda: core.solve_json_file("x.json", 1, 2),
            lambda: core.solve_json_str(text="{}"),
        ],
    )
    def test_wrong_arguments_raise_type_error(self, call):
        with pytest.raises(TypeError):
            call()

    def test_keyword_arguments_and_int_time_limit(self, make_doc, tmp_path):
        doc = make_doc(4)
        by_keyword = core.solve_json_str(json_str=json.dumps(doc), time_limit=5)
        assert by_keyword["status"] == "success"
        path = tmp_path / "doc.json"
        path.write_text(json.dumps(doc))
        from_file = core.solve_json_file(input_path=str(path), time_limit=5)
        assert from_file["routes"] == by_keyword["routes"]


class TestSolverFromPythonObjects:
    def test_solves_feasibly_and_logs_snapshots(self, solved, checker):
        doc, solver = solved
        result = solver.get_result()
        assert checker(doc, routes_of(result, doc)) == []
        log = solver.get_result_process()
        assert isinstance(log, list) and len(log) >= 2 and len(log) % 2 == 0
        assert all(type(entry) is tuple for entry in log)
        assert all(isinstance(t, float) and isinstance(r, core.Result) for t, r in log)
        assert [t for t, _ in log] == sorted(t for t, _ in log)
        assert log[-1][1].paths == result.paths and log[-1][1].times == result.times
        assert result.last_update_time == log[-1][0]

    def test_agrees_with_the_json_entry(self, load_doc, example_path):
        doc = load_doc(example_path)
        problem, options = problem_from_doc(doc)
        solver = core.Solver(problem, options)
        solver.solve()
        result = solver.get_result()
        document = core.solve_json_file(str(example_path))
        assert not result.timeout and not document["timeout"]
        assert document["routes"] == routes_of(result, doc)
        improving = [
            {"max_cost": max([0.0, *r.times.values()]), "sum_cost": sum(r.times[k] for k in sorted(r.times))}
            for _, r in solver.get_result_process()
        ]
        key = "max_cost" if doc["options"]["objective"] == "min_max" else "sum_cost"
        expected, best = [], 1e18
        for point in improving:
            if point[key] < best - 1e-9:
                expected.append(point)
                best = point[key]
        assert [{k: p[k] for k in ("max_cost", "sum_cost")} for p in document["anytime"]] == expected

    def test_solver_keeps_copies_of_problem_and_options(self, make_doc):
        doc = make_doc(5)
        problem, options = problem_from_doc(doc)
        solver = core.Solver(problem, options)
        problem.set_cost_matrix("truck", [[5000.0] * 6 for _ in range(6)])
        problem.options().time_limit = -1.0
        options.time_limit = -1.0
        assert solver.solve() == 1
        assert max(solver.get_result().times.values()) < 100

    def test_negative_time_limit_times_out_at_once(self, make_doc):
        problem, options = problem_from_doc(make_doc(5))
        options.time_limit = -1.0
        solver = core.Solver(problem, options)
        assert solver.solve() == 0
        result = solver.get_result()
        assert (result.timeout, result.n_generated, result.n_expanded, result.paths) == (True, 1, 0, {})
        assert solver.get_result_process() == []

    def test_construction_errors(self, make_doc):
        problem, options = problem_from_doc(make_doc(3))
        problem.agents_ordered()[0].start_node = 77
        with pytest.raises(IndexError, match=rf"^{NOT_FOUND}: agent 1 \(agents\[0\]\) starts at node 77, "):
            core.Solver(problem, options)

        large = core.Problem()
        for i in range(257):
            node = core.Node()
            node.id = i
            large.add_node(node)
        with pytest.raises(ValueError):
            core.Solver(large, core.Options())


class TestTimeLimitArgument:
    @pytest.mark.parametrize("argument", [None, -1, -1.0, 0, 0.0])
    def test_non_positive_argument_keeps_the_documents_limit(self, make_doc, argument):
        doc = make_doc(5)
        doc["options"]["time_limit"] = -1.0  # keeping it times out before any solution
        args = () if argument is None else (argument,)
        result = solve(doc, *args)
        assert (result["status"], result["timeout"]) == ("failed", True)

    @pytest.mark.parametrize("argument", [5, 5.0, 0.5])
    def test_positive_argument_replaces_it(self, make_doc, argument):
        doc = make_doc(5)
        doc["options"]["time_limit"] = -1.0
        result = solve(doc, argument)
        assert (result["status"], result["timeout"]) == ("success", False)

    def test_positive_argument_shortens_a_longer_limit(self, long_doc):
        assert long_doc["options"]["time_limit"] == 30.0
        assert solve(long_doc, 0.05)["timeout"] is True

    @pytest.mark.parametrize("options", [None, {}, {"objective": "min_max"}])
    def test_default_limit_applies_without_a_document_limit(self, make_doc, options):
        doc = make_doc(5)
        if options is None:
            del doc["options"]
        else:
            doc["options"] = options
        for argument in (-1, 0):
            assert solve(doc, argument)["timeout"] is False


class TestResultDocument:
    def test_keys_and_types(self, make_doc):
        result = solve(make_doc(5))
        assert list(result) == ["status", "timeout", "routes", "statistics", "anytime"]
        assert all(list(route) == ["agent_id", "path", "cost"] for route in result["routes"])
        assert list(result["statistics"]) == [
            "solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time"
        ]
        stats = result["statistics"]
        assert all(isinstance(stats[k], float) for k in ("solve_time", "max_cost", "sum_cost", "last_update_time"))
        assert all(isinstance(stats[k], int) for k in ("n_generated", "n_expanded"))
        assert stats["solve_time"] > 0
        for point in result["anytime"]:
            assert list(point) == ["time", "max_cost", "sum_cost"]
            assert all(isinstance(v, float) for v in point.values())

    def test_cost_totals_follow_the_routes(self, load_doc, example_path):
        result = core.solve_json_file(str(example_path))
        costs = [route["cost"] for route in result["routes"]]
        assert result["statistics"]["max_cost"] == max([0.0, *costs])
        assert result["statistics"]["sum_cost"] == pytest.approx(sum(costs), abs=1e-12)

    def test_agents_reported_in_document_order(self, make_doc, checker):
        # Agent 4 may only serve node 1 and agent 2 only nodes 2 and 3: a
        # report in id order would give each the other's route.
        doc = make_doc(3, agent_ids=(4, 2))
        doc["agents"][1]["type"] = "van"
        doc["costs"]["van"] = copy.deepcopy(doc["costs"]["truck"])
        doc["constraints"][0]["items"] = [
            {"node": 0, "types": ["truck", "van"]},
            {"node": 1, "types": ["truck"]},
            {"node": 2, "types": ["van"]},
            {"node": 3, "types": ["van"]},
        ]
        result = solve(doc)
        assert [route["agent_id"] for route in result["routes"]] == [4, 2]
        assert result["routes"][0]["path"] == [0, 1, 0]
        assert checker(doc, result["routes"]) == []

    def test_routes_use_node_positions_not_ids(self, make_doc, checker):
        doc = make_doc(2, agent_ids=(7,), node_ids=(10, 20, 30))
        result = solve(doc)
        path = result["routes"][0]["path"]
        assert path[0] == path[-1] == 0 and sorted(path[1:-1]) == [1, 2]
        assert checker(doc, result["routes"]) == []

    def test_status_does_not_depend_on_timeout(self, long_doc, make_doc, checker):
        found_then_stopped = solve(long_doc, 0.05)  # the first solution comes within milliseconds
        assert (found_then_stopped["status"], found_then_stopped["timeout"]) == ("success", True)
        assert checker(long_doc, found_then_stopped["routes"]) == []

        doc = make_doc(4)
        doc["options"]["time_limit"] = -5
        stopped_early = solve(doc)
        assert (stopped_early["status"], stopped_early["timeout"]) == ("failed", True)
        assert [route["path"] for route in stopped_early["routes"]] == [[], []]

    def test_infeasible_instance_fails_without_error(self, make_doc):
        doc = make_doc(3)
        doc["constraints"][0]["items"][2]["types"] = ["nobody"]
        result = solve(doc)
        assert (result["status"], result["timeout"]) == ("failed", False)
        assert [route["path"] for route in result["routes"]] == [[], []]
        assert result["statistics"]["max_cost"] == 0.0 and result["statistics"]["n_generated"] > 0
        assert result["anytime"] == []

    def test_no_agents_gives_zero_totals(self, make_doc):
        doc = make_doc(2)
        doc["agents"], doc["costs"] = [], {}  # a matrix needs an agent of its type
        result = solve(doc)
        assert result["routes"] == [] and result["status"] == "failed"
        assert (result["statistics"]["max_cost"], result["statistics"]["sum_cost"]) == (0.0, 0.0)

    def test_anytime_strictly_improves_in_the_objective(self, load_doc, example_path):
        doc = load_doc(example_path)
        result = core.solve_json_file(str(example_path))
        assert result["anytime"], "a solved instance logs at least one improvement"
        values = objective_values(result["anytime"], doc["options"]["objective"])
        assert all(later < earlier - 1e-9 for earlier, later in zip(values, values[1:]))
        times = [p["time"] for p in result["anytime"]]
        assert times == sorted(times) and times[-1] <= result["statistics"]["last_update_time"]


def open_route_doc(objective: str) -> dict:
    """Depot 0 and five targets at seeded random places, two trucks whose
    routes end where they stop (the leg back to the depot is free)."""
    rng = random.Random(1)
    points = [(rng.uniform(0, 20), rng.uniform(0, 20)) for _ in range(6)]
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(2)],
        "costs": {"truck": [[round(math.dist(p, q), 1) for q in points] for p in points]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in range(6)]}],
        "options": {"objective": objective, "return_to_end": False, "time_limit": 10},
    }


def brute_force_optimum(doc: dict) -> float:
    """Best objective over every order of the targets and every split of it
    between the agents, open routes paying no leg back."""
    cost, targets, m = doc["costs"]["truck"], range(1, len(doc["nodes"])), len(doc["agents"])
    aggregate = max if doc["options"]["objective"] == "min_max" else sum
    best = math.inf
    for order in itertools.permutations(targets):
        for cuts in itertools.combinations_with_replacement(range(len(order) + 1), m - 1):
            bounds = [0, *cuts, len(order)]
            routes = [[0, *order[bounds[a]:bounds[a + 1]]] for a in range(m)]
            best = min(best, aggregate(sum(cost[p][q] for p, q in zip(r, r[1:])) for r in routes))
    return best


class TestBestSolution:
    def test_min_sum_returns_the_best_total_it_found(self, load_doc, examples_dir):
        # A later solution with a shorter longest route but a larger total
        # once replaced the best one (anytime 151.5, returned 195.5).
        doc = load_doc(examples_dir / "single_depot.json")
        doc["options"]["objective"] = "min_sum"
        result = solve(doc, 5)
        sums = objective_values(result["anytime"], "min_sum")
        assert all(later < earlier - 1e-9 for earlier, later in zip(sums, sums[1:]))
        assert result["statistics"]["sum_cost"] == sums[-1] <= 151.5
        assert math.fsum(route["cost"] for route in result["routes"]) == pytest.approx(sums[-1], abs=1e-9)

    @pytest.mark.parametrize("objective, anytime", [
        ("min_max", [(22.3, 44.5)]),
        ("min_sum", [(22.3, 44.5), (42.6, 42.6), (40.4, 40.4)]),
    ])
    def test_open_routes_reach_the_brute_force_optimum(self, objective, anytime):
        doc = open_route_doc(objective)
        result = solve(doc)
        key = "max_cost" if objective == "min_max" else "sum_cost"
        assert not result["timeout"]
        assert result["statistics"][key] == pytest.approx(brute_force_optimum(doc), abs=1e-9)
        values = [value for p in result["anytime"] for value in (p["max_cost"], p["sum_cost"])]
        assert values == pytest.approx([value for point in anytime for value in point], abs=1e-9)

    def test_the_solver_class_returns_the_best_logged_solution(self):
        # The returned solution is the first of the smallest total; its
        # last_update_time is the time of the log's last entry, a later
        # snapshot that is no better here.
        problem, options = problem_from_doc(open_route_doc("min_sum"))
        solver = core.Solver(problem, options)
        assert solver.solve() == 1
        log = solver.get_result_process()
        totals = [sum(r.times.values()) for _, r in log]
        first_best = min(range(len(log)), key=lambda i: (totals[i] > min(totals) + 1e-9, i))
        result = solver.get_result()
        assert (result.paths, result.times) == (log[first_best][1].paths, log[first_best][1].times)
        assert log[first_best][0] < log[-1][0]
        assert result.last_update_time == log[-1][0]


class TestErrors:
    def test_missing_and_empty_files(self, tmp_path):
        missing = str(tmp_path / "no such dir" / "instance.json")
        with pytest.raises(RuntimeError) as error:
            core.solve_json_file(missing)
        assert str(error.value) == "Cannot open file: " + missing
        empty = tmp_path / "empty.json"
        empty.write_bytes(b"")
        with pytest.raises(RuntimeError, match="parse_error.101") as error:
            core.solve_json_file(str(empty))
        assert EMPTY_INPUT in str(error.value)

    @pytest.mark.parametrize(
        "text",
        ['{"nodes": [], "agents": [],}', '{"nodes": [] /* c */, "agents": []}', "{'nodes': []}", '{"nodes": [}'],
    )
    def test_strict_parser(self, text):
        with pytest.raises(RuntimeError, match=r"^\[json\.exception\.parse_error\.101\] parse error at line \d+, column \d+"):
            core.solve_json_str(text)

    def test_byte_order_mark_is_accepted(self, make_doc, tmp_path):
        text = json.dumps(make_doc(3))
        assert core.solve_json_str("\ufeff" + text)["status"] == "success"
        path = tmp_path / "bom.json"
        path.write_bytes(b"\xef\xbb\xbf" + text.encode())
        assert core.solve_json_file(str(path))["status"] == "success"

    @pytest.mark.parametrize(
        "mutate, message, detail",
        [
            (lambda d: d["agents"][0].pop("end_node"), "[json.exception.out_of_range.403] key 'end_node' not found",
             "agents[0] (agent 1) has no key 'end_node'"),
            (lambda d: d["nodes"][1].update(x=True), "[json.exception.type_error.302] type must be number, but is boolean",
             'nodes[1] (node 1), key "x": type must be number, but is boolean'),
            (lambda d: d.pop("nodes"), "[json.exception.out_of_range.403] key 'nodes' not found",
             "the document has no key 'nodes'"),
            (lambda d: d.update(options=[1]), "[json.exception.type_error.306] cannot use value() with array",
             '"options" must be an object, but is array'),
            (lambda d: d["constraints"][0]["items"][2].update(types=["truck", 4]),
             "[json.exception.type_error.302] type must be string, but is number",
             'constraints[0] ("assignment"), item 2, key "types": type must be string, but is number'),
        ],
    )
    def test_shape_errors_keep_the_library_message_and_name_the_place(self, make_doc, mutate, message, detail):
        doc = make_doc(3)
        mutate(doc)
        for read in (lambda: solve(doc), lambda: core.read_document(json.dumps(doc)), lambda: kvr_mtsp.solve(doc)):
            with pytest.raises(RuntimeError) as error:
                read()
            assert str(error.value) == message
            assert error.value.detail == detail

    @pytest.mark.parametrize(
        "mutate, detail",
        [
            (lambda d: d["agents"][1].update(start_node=99),
             "agent 2 (agents[1]) starts at node 99, but no node has the id 99"),
            (lambda d: d["agents"][0].update(end_node=17),
             "agent 1 (agents[0]) ends at node 17, but no node has the id 17"),
            (lambda d: d["costs"].update(plane=[[0.0]]),
             'a cost matrix is given for the type "plane", but no agent has that type'),
        ],
    )
    def test_unknown_ids_raise_index_error_naming_the_agent_or_type(self, make_doc, mutate, detail):
        doc = make_doc(3)
        mutate(doc)
        with pytest.raises(IndexError) as error:
            solve(doc)
        assert str(error.value) == f"{NOT_FOUND}: {detail}"

    def test_too_many_nodes_raise_value_error(self):
        doc = {
            "nodes": [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(257)],
            "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0}],
        }
        with pytest.raises(ValueError):
            solve(doc)


class TestExamples:
    def test_feasible_and_finished_within_limit(self, load_doc, example_path, checker):
        doc = load_doc(example_path)
        assert doc["options"]["time_limit"] > 0
        assert all(cost < 9999.0 for matrix in doc["costs"].values() for row in matrix for cost in row)
        result = core.solve_json_file(str(example_path))
        assert (result["status"], result["timeout"]) == ("success", False)
        assert checker(doc, result["routes"]) == []

    def test_deterministic_when_finished_before_the_limit(self, example_path):
        first = core.solve_json_file(str(example_path))
        second = core.solve_json_file(str(example_path))
        assert not first["timeout"] and not second["timeout"]
        assert first["routes"] == second["routes"]
        assert objective_values(first["anytime"], "min_max") == objective_values(second["anytime"], "min_max")
        assert objective_values(first["anytime"], "min_sum") == objective_values(second["anytime"], "min_sum")

    def test_examples_cover_their_features(self, load_doc, examples_dir):
        docs = {p.stem: load_doc(p) for p in examples_dir.glob("*.json")}
        assert set(docs) == {"single_depot", "multi_depot", "two_types", "time_windows", "open_routes"}
        multi = docs["multi_depot"]["agents"]
        assert len({a["start_node"] for a in multi}) > 1 and any(a["start_node"] != a["end_node"] for a in multi)
        two = docs["two_types"]
        assert len(two["costs"]) == 2 and len({a["type"] for a in two["agents"]}) == 2
        kinds = [c["kind"] for c in docs["time_windows"]["constraints"]]
        assert "timewindow" in kinds
        assert docs["open_routes"]["options"]["return_to_end"] is False
