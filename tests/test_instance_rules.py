"""What the module does with instances it cannot solve as written: missing
connections, costs that break the bound, repeated ids, agents that cannot
finish, and the warnings for what it reads past."""
from __future__ import annotations

import json
import math
import random

import pytest

import _kvr_core as core
from kvr_mtsp.checker import check_result, parse_json, read_instance

NO_CONNECTION = 9999.0


def solve(doc: dict, time_limit: float = 5.0) -> dict:
    return core.solve_json_str(json.dumps(doc), time_limit)


def checked(doc: dict, result: dict) -> dict:
    """`result` after the independent checker found nothing wrong with it."""
    assert check_result(read_instance(parse_json(json.dumps(doc))), result) == []
    return result


def line_doc(n: int = 4, **options) -> dict:
    """Depot 0 and targets 1..n-1 on a line, one truck; every node allows it."""
    return {
        "nodes": [{"id": i, "x": i, "y": 0, "z": 0} for i in range(n)],
        "agents": [{"id": 1, "type": "truck", "start_node": 0, "end_node": 0}],
        "costs": {"truck": [[float(abs(i - j)) for j in range(n)] for i in range(n)]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in range(n)]}],
        "options": {"objective": "min_max", **options},
    }


def warnings_in(text: str) -> list[str]:
    return [line for line in text.splitlines() if line.startswith("[warning]")]


class TestMissingConnections:
    def test_target_reachable_only_over_missing_arcs_fails(self, capfd):
        doc = line_doc()
        for i in range(4):
            if i != 3:
                doc["costs"]["truck"][i][3] = NO_CONNECTION  # 3 is entered only over missing arcs
        result = checked(doc, solve(doc))
        assert (result["status"], result["timeout"], result["anytime"]) == ("failed", False, [])
        assert "point: 3 can't be reached" in capfd.readouterr().err.splitlines()

    def test_instance_without_costs_fails(self, capfd):
        doc = line_doc()
        del doc["costs"]
        result = checked(doc, solve(doc))
        assert (result["status"], result["timeout"]) == ("failed", False)
        err = capfd.readouterr().err.splitlines()
        assert [f"point: {i} can't be reached" for i in (0, 1, 2, 3)] == [l for l in err if l.startswith("point:")]

    def test_detour_around_a_missing_arc(self):
        # Found by fuzzing: the drone's route from 3 to 1 was dissolved into
        # the direct arc of cost 9999 and reported at cost 0.
        doc = {"nodes": [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(6)],
               "agents": [{"id": 1, "type": "truck", "start_node": 5, "end_node": 0},
                          {"id": 2, "type": "drone", "start_node": 3, "end_node": 1, "max_length": 60},
                          {"id": 3, "type": "van", "start_node": 0, "end_node": 4}],
               "costs": {"truck": [[0] * 6] * 5 + [[2, 0, 1, 0, 0, 0]],
                         "drone": [[0] * 6, [0] * 6, [0, 1, 0, 0, 0, 0], [0, 9999.0, 0, 0, 0, 0], [0] * 6, [0] * 6],
                         "van": [[0] * 6] * 6},
               "constraints": [{"kind": "timewindow", "items": []}]}
        result = checked(doc, solve(doc, 0.1))
        assert result["status"] == "success"
        drone = result["routes"][1]
        assert drone["path"][:1] == [3] and drone["path"][-1] == 1 and len(drone["path"]) > 2

    def test_random_instances_never_use_a_missing_arc(self):
        rng = random.Random(5)
        solved = 0
        for _ in range(40):
            n = rng.randint(4, 7)
            doc = line_doc(n, objective=rng.choice(["min_max", "min_sum"]), return_to_end=rng.random() < 0.7)
            doc["agents"].append({"id": 2, "type": "truck", "start_node": 0, "end_node": 0})
            for row in doc["costs"]["truck"]:
                for j in range(n):
                    row[j] = rng.uniform(1, 30) if row[j] else 0.0
                    if row[j] and rng.random() < 0.25:
                        row[j] = rng.choice([NO_CONNECTION, 15000.0])
            result = checked(doc, solve(doc, 1.0))
            assert not result["timeout"]
            solved += result["status"] == "success"
        assert solved >= 20  # not a vacuous check

    def test_large_costs_need_missing_cost_raised(self, capfd):
        doc = line_doc()
        doc["costs"]["truck"] = [[c * 25000 for c in row] for row in doc["costs"]["truck"]]
        result = solve(doc)
        assert result["status"] == "failed"
        assert warnings_in(capfd.readouterr().err) == [
            '[warning] cost matrix of type truck has entries above 9999, which count as no connection; '
            'raise the option "missing_cost" above them to use them']
        doc["options"]["missing_cost"] = 1e9
        result = checked(doc, solve(doc))
        assert result["status"] == "success"
        assert result["statistics"]["max_cost"] == 6 * 25000
        assert warnings_in(capfd.readouterr().err) == []

    def test_missing_cost_through_the_classes(self):
        options = core.Options()
        assert options.missing_cost == NO_CONNECTION
        problem = core.Problem()
        for i in range(3):
            node = core.Node()
            node.id = i
            problem.add_node(node)
        agent = core.Agent()
        agent.id, agent.type, agent.start_node, agent.end_node = 0, "truck", 0, 0
        problem.add_agent(agent, 0)
        problem.set_cost_matrix("truck", [[0, 20000, 20000], [20000, 0, 20000], [20000, 20000, 0]])
        options.missing_cost = 30000
        solver = core.Solver(problem, options)
        assert solver.solve() == 1
        assert solver.get_result().times == {0: 60000.0}
        options.missing_cost = 0.0
        with pytest.raises(ValueError, match="^missing_cost must be a positive finite number, got 0$"):
            core.Solver(problem, options)

    @pytest.mark.parametrize("value", [0, -5])
    def test_missing_cost_must_be_positive(self, value):
        with pytest.raises(ValueError, match=f"^missing_cost must be a positive finite number, got {value}$"):
            solve(line_doc(missing_cost=value))


class TestCostsMustBeFiniteAndNonNegative:
    def test_negative_cost_in_a_document(self):
        # Found by fuzzing: a drone matrix holding -4.5 gave a route over its
        # limit 1 reported at cost 0.
        doc = line_doc(8)
        doc["agents"].append({"id": 2, "type": "drone", "start_node": 0, "end_node": 0, "max_length": 1})
        doc["costs"]["drone"] = [[0.0] * 8 for _ in range(8)]
        doc["costs"]["drone"][3][1] = -4.5
        with pytest.raises(ValueError) as error:
            solve(doc)
        assert str(error.value) == ('cost matrix of type "drone" holds -4.5 at row 3, column 1; '
                                    "costs must be finite and non-negative")

    @pytest.mark.parametrize("bad", [-1.0, math.nan, math.inf, -math.inf])
    def test_set_cost_matrix_rejects_and_keeps_nothing(self, bad):
        problem = core.Problem()
        with pytest.raises(ValueError, match=r'^cost matrix of type "truck" holds -?(1|nan|inf) at row 1, column 0;'):
            problem.set_cost_matrix("truck", [[0.0, 1.0], [bad, 0.0]])
        node = core.Node()
        problem.add_node(node)
        agent = core.Agent()
        agent.type = "truck"
        problem.add_agent(agent, 0)
        solver = core.Solver(problem, core.Options())
        assert solver.solve() == 1  # no matrix was stored; one node needs none


class TestUniqueIds:
    def test_node_ids_repeated_after_conversion(self):
        doc = line_doc()
        doc["nodes"][0]["id"], doc["nodes"][3]["id"] = -2.5, 0  # -2.5 reads as 0
        with pytest.raises(ValueError) as error:
            solve(doc)
        assert str(error.value) == "node id 0 occurs twice: at positions 0 and 3 of the nodes"

    def test_repeated_agent_ids(self):
        # Found by fuzzing: two agents with id 1 shared the type registered
        # last, and a truck drove the drone's costs past its limit.
        doc = {"nodes": [{"id": i, "x": 0, "y": 0, "z": 0} for i in range(5)],
               "agents": [{"id": 2, "type": "truck", "start_node": 0, "end_node": 1},
                          {"id": 1, "type": "truck", "start_node": 2, "end_node": 0, "max_length": 1},
                          {"id": 1, "type": "drone", "start_node": 0, "end_node": 0, "max_length": 60}],
               "costs": {"drone": [[0] * 5, [0] * 5, [2, 0, 0, 0, 1], [0] * 5, [0] * 5]},
               "constraints": [{"kind": "assignment", "items": []}, {"kind": "timewindow", "items": []}]}
        with pytest.raises(ValueError) as error:
            solve(doc, 0.1)
        assert str(error.value) == "agent id 1 occurs twice: at positions 1 and 2 of the agents"

    def test_repeated_ids_through_the_classes(self):
        problem = core.Problem()
        for node_id in (4, 5, 4):
            node = core.Node()
            node.id = node_id
            problem.add_node(node)
        with pytest.raises(ValueError, match="^node id 4 occurs twice: at positions 0 and 2 of the nodes$"):
            core.Solver(problem, core.Options())


class TestAgentsThatCannotFinish:
    def test_trip_over_the_route_length_limit(self, capfd):
        doc = line_doc()
        doc["agents"] = [{"id": 1, "type": "truck", "start_node": 0, "end_node": 0},
                         {"id": 7, "type": "truck", "start_node": 1, "end_node": 3, "max_length": 1}]
        result = checked(doc, solve(doc))
        assert (result["status"], result["timeout"]) == ("failed", False)
        assert warnings_in(capfd.readouterr().err) == [
            "[warning] agent 7 can't reach its end node 3 from its start node 1 within its route-length "
            "limit 1: the shortest trip costs 2"]


class TestWarnings:
    def test_examples_read_without_new_warnings(self, example_path, capfd):
        core.solve_json_file(str(example_path))
        new = [w for w in warnings_in(capfd.readouterr().err) if "has no assignment constraint" not in w]
        assert new == []

    @pytest.mark.parametrize("change, expected", [
        (lambda d: d["options"].update(objective="minmax"),
         '[warning] unknown objective "minmax"; using min_sum (known objectives: min_max, min_sum)'),
        (lambda d: d["constraints"].append({"kind": "assignments", "items": []}),
         '[warning] unknown constraint kind "assignments" is ignored (known kinds: assignment, timewindow, sequence)'),
        (lambda d: d["constraints"][0]["items"].append({"node": 99, "types": ["truck"]}),
         "[warning] assignment node id 99 not found in nodes"),
        (lambda d: d["constraints"][0]["items"][1].update(types=["truck", "trcuk"]),
         '[warning] assignment type "trcuk" is not the type of any agent'),
        (lambda d: d["constraints"].append({"kind": "timewindow", "items": [{"node": 42, "start": 0, "end": 9}]}),
         "[warning] time window node id 42 not found in nodes"),
        (lambda d: d["constraints"].append({"kind": "sequence", "precedence": [{"before": 1, "after": 77}]}),
         ["[warning] sequence node id 77 not found in nodes",
          '[warning] the instance carries 1 precedence pair that is not enforced; set the option '
          '"enforce_precedence" to true to honour them']),
        (lambda d: d.update(option={"objective": "min_max"}),
         '[warning] unknown key "option" in the instance document is ignored'),
        (lambda d: d["options"].update(time_limt=3),
         '[warning] unknown key "time_limt" in "options" is ignored'),
    ], ids=["objective", "kind", "assignment-node", "assignment-type", "window-node", "sequence-node",
            "document-key", "option-key"])
    def test_each_typo_is_named_once(self, change, expected, capfd):
        doc = line_doc()
        change(doc)
        assert solve(doc)["status"] == "success"
        assert warnings_in(capfd.readouterr().err) == (expected if isinstance(expected, list) else [expected])

    def test_reserved_and_benchmark_keys_are_known(self, capfd):
        doc = line_doc(missing_cost=9999, memory_limit_mb=100, improve=True, seed=1, max_iterations=5)
        doc.update(name="line", scale=1.0, benchmark={"reference": None})
        assert solve(doc)["status"] == "success"
        assert warnings_in(capfd.readouterr().err) == []
