"""The instance document's JSON Schema and kvr-mtsp validate."""
from __future__ import annotations

import json
import re
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings

import _kvr_core as core
from conftest import EXAMPLES, grid_doc
from fuzz_strategies import instances, mutated_documents
from kvr_mtsp.instance import InstanceView
from kvr_mtsp.references import problem_before_solve
from kvr_mtsp.validate import problems, schema
from test_cli import run_cli

ROOT = Path(__file__).resolve().parent.parent
BENCHMARK_INSTANCES = sorted((ROOT / "benchmarks" / "instances").glob("*.json"))


def solve_recording(doc: dict, time_limit: float) -> list:
    """The module's console records of reading and solving `doc`."""
    records: list = []
    problem = core.read_document(json.dumps(doc), on_console=records.append)
    core.solve_problem(problem, time_limit, on_console=records.append)
    return records


def with_windows(doc: dict) -> dict:
    doc["constraints"].append({"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 50}]})
    return doc


def repeat_id(doc: dict) -> None:
    doc["nodes"][3]["id"] = 1
    doc["constraints"][0]["items"].pop(3)  # node 3 no longer exists


def grow(doc: dict, count: int) -> dict:
    doc["nodes"] = [{"id": i, "x": i, "y": 0, "z": 0} for i in range(count)]
    doc["constraints"] = []
    return doc


# (name, change to a valid document, expected line, how the solver's side
# objects: "raises" (the module refuses it), "warns" (a warning line, the
# part is ignored), "refused" (the command line refuses it before solving),
# "documented" (the reader takes it, docs/format.md calls it wrong).
MISTAKES = [
    ("missing required key", lambda d: d["agents"][0].pop("end_node"),
     "$.agents[0]: 'end_node' is a required property", "raises"),
    ("wrong type", lambda d: d["nodes"][1].update(x="3"), "$.nodes[1].x: '3' is not of type 'number'", "raises"),
    ("unknown objective", lambda d: d["options"].update(objective="fastest"),
     "$.options.objective: 'fastest' is not one of ['min_max', 'min_sum', 'MIN_MAX', 'MIN_SUM']", "warns"),
    ("negative time limit", lambda d: d["options"].update(time_limit=-1),
     "$.options.time_limit: -1 is less than the minimum of 0", "documented"),
    ("unknown option", lambda d: d["options"].update(objetive="min_max"),
     "$.options: Additional properties are not allowed ('objetive' was unexpected)", "warns"),
    ("unknown top-level key", lambda d: d.update(agent=[]),
     "$: Additional properties are not allowed ('agent' was unexpected)", "warns"),
    ("unknown constraint kind", lambda d: d["constraints"][0].update(kind="assign"),
     "$.constraints[0].kind: 'assign' is not one of ['assignment', 'timewindow', 'sequence']", "warns"),
    ("negative cost", lambda d: d["costs"]["truck"][1].__setitem__(2, -4.5),
     "$.costs.truck[1][2]: -4.5 is less than the minimum of 0", "raises"),
    ("fractional id", lambda d: d["nodes"][2].update(id=2.5), "$.nodes[2].id: 2.5 is not of type 'integer'",
     "documented"),
    ("missing_cost not positive", lambda d: d["options"].update(missing_cost=0),
     "$.options.missing_cost: 0 is less than or equal to the minimum of 0", "raises"),
    ("memory limit not positive", lambda d: d["options"].update(memory_limit_mb=-1),
     "$.options.memory_limit_mb: -1 is less than or equal to the minimum of 0", "raises"),
    ("window without end", lambda d: with_windows(d)["constraints"][1]["items"][0].pop("end"),
     "$.constraints[1].items[0]: 'end' is a required property", "raises"),
    ("types not an array", lambda d: d["constraints"][0]["items"][0].update(types="truck"),
     "$.constraints[0].items[0].types: 'truck' is not of type 'array'", "raises"),
    ("repeated node id", repeat_id,
     "$.nodes[3].id: node id 1 occurs twice: also at $.nodes[1]", "raises"),
    ("unknown start node", lambda d: d["agents"][0].update(start_node=99),
     "$.agents[0].start_node: no node has the id 99", "raises"),
    ("matrix of an unknown type", lambda d: d["costs"].update(van=[[0]]),
     "$.costs.van: no agent has the type 'van', so the solver refuses this matrix", "raises"),
    ("agent type without a matrix", lambda d: d["agents"][1].update(type="drone"),
     "$.agents[1].type: the type 'drone' has no matrix in \"costs\", so the agent has no connection", "refused"),
    ("constraint on an unknown node", lambda d: d["constraints"][0]["items"].append({"node": 99, "types": ["truck"]}),
     "$.constraints[0].items[7].node: no node has the id 99", "warns"),
    ("too many nodes", lambda d: grow(d, 257),
     '$.nodes: 257 nodes, but the solver supports at most 256 unless the option "improve" is true', "raises"),
]


def test_more_than_256_nodes_are_valid_with_the_engine_on():
    doc = grow(grid_doc(6), 300)
    doc["options"] = {"improve": False}
    assert len(problems(doc)) == 1
    doc["options"]["improve"] = True
    assert problems(doc) == []


@pytest.mark.parametrize("path", EXAMPLES + BENCHMARK_INSTANCES, ids=lambda p: p.name)
def test_every_example_and_benchmark_instance_is_valid(path):
    assert problems(json.loads(path.read_text(encoding="utf-8"))) == []


@pytest.mark.parametrize("change, expected, solver_side", [m[1:] for m in MISTAKES], ids=[m[0] for m in MISTAKES])
def test_each_kind_of_mistake_is_one_line_with_its_path(change, expected, solver_side):
    doc = grid_doc(6)
    assert problems(doc) == []
    change(doc)
    assert problems(doc) == [expected]
    # The schema is no stricter than the solver, except where the format's documentation says so.
    if solver_side == "raises":
        with pytest.raises((RuntimeError, ValueError, IndexError)):
            core.solve_json_str(json.dumps(doc), 0.1)
    elif solver_side == "warns":
        assert any(record.kind == "warning" for record in solve_recording(doc, 0.1))
    elif solver_side == "refused":
        assert problem_before_solve(InstanceView(doc)) is not None


def test_schema_defaults_are_the_readers():
    """The defaults the schema states for "options" are the ones a solve without options uses."""
    declared = {key: entry["default"] for key, entry in schema()["$defs"]["options"]["properties"].items()
                if "default" in entry}
    options = core.Problem().options()  # the reader's defaults, as the module holds them
    assert declared == {
        "return_to_end": options.return_to_end,
        "objective": "min_max" if options.objective == core.ObjectiveType.MinMax else "min_sum",
        "time_limit": options.time_limit,
        "wall_time_limit": options.wall_time_limit,
        "missing_cost": options.missing_cost,
        "improve": options.improve,
        "seed": options.seed,
        "max_iterations": options.max_iterations,
        "max_no_improvement": options.max_no_improvement,
        "threads": options.threads,
        "enforce_capacity": options.enforce_capacity,
        "enforce_precedence": options.enforce_precedence,
    }


class TestCommand:
    def test_valid_documents_exit_0(self, tmp_path):
        completed = run_cli("validate", *(str(p) for p in EXAMPLES), cwd=tmp_path)
        assert completed.returncode == 0, completed.stdout + completed.stderr
        assert completed.stdout.splitlines() == [f"{p}: valid" for p in EXAMPLES]

    def test_mistakes_one_per_line_and_exit_2(self, tmp_path):
        doc = grid_doc(3)
        doc["agents"][0]["type"] = 7
        doc["options"]["time_limit"] = "5"
        (tmp_path / "bad.json").write_text(json.dumps(doc))
        completed = run_cli("validate", "bad.json", cwd=tmp_path)
        assert completed.returncode == 2
        assert completed.stdout.splitlines() == [
            "bad.json: $.agents[0].type: 7 is not of type 'string'",
            "bad.json: $.options.time_limit: '5' is not of type 'number'",
        ]

    def test_unreadable_and_broken_files_exit_2(self, tmp_path):
        (tmp_path / "broken.json").write_text('{"nodes": [')
        completed = run_cli("validate", "broken.json", "absent.json", cwd=tmp_path)
        assert completed.returncode == 2
        lines = completed.stderr.splitlines()
        assert lines[0].startswith("kvr-mtsp: error: broken.json is not valid JSON: ")
        assert lines[1] == "kvr-mtsp: error: cannot read absent.json: No such file or directory"


def test_the_documented_minimal_example_validates_and_solves(checker):
    """The example in docs/format.md is a complete document, as it says."""
    text = (ROOT / "docs" / "format.md").read_text(encoding="utf-8")
    section = text.split("## A minimal complete example", 1)[1].split("\n\n", 2)[1]
    doc = json.loads(section)
    assert problems(doc) == []
    result = core.solve_json_str(json.dumps(doc), 0.5)
    assert result["status"] == "success" and checker(doc, result["routes"]) == []
    assert result["statistics"]["sum_cost"] == 16  # 0 -> 1 -> 2 -> 0 in either direction


# What docs/format.md calls wrong although the reader takes it: ids and
# 32/64-bit whole numbers that are fractional, negative (ids), booleans or out
# of range, and a negative time limit.
DOCUMENTED_ONLY = re.compile(
    r"\.(id|start_node|end_node|node|before|after|max_length|capacity|seed|max_iterations|max_no_improvement): .*"
    r"(is not of type 'integer'|is less than the minimum of|is greater than the maximum of)"
    r"|^\$\.options\.time_limit: .* is less than the minimum of 0$"
)


def solver_objects(doc) -> bool:
    """Whether the module raises or warns about `doc` ignoring a part of it
    (the warnings whose code starts with "unknown_"), or the command line refuses it."""
    try:
        records = solve_recording(doc, 0.01)
    except (RuntimeError, ValueError, IndexError, OverflowError):
        return True
    ignored = any((record.code or "").startswith("unknown_") for record in records)
    return ignored or problem_before_solve(InstanceView(doc)) is not None


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(doc=instances() | mutated_documents())
def test_validation_agrees_with_the_solver_on_drawn_documents(doc):
    """A document the solver objects to has a mistake; one it takes without a word has none
    beyond those the format's documentation calls wrong."""
    found = problems(doc)
    if solver_objects(doc):
        assert found
    else:
        assert all(DOCUMENTED_ONLY.search(line) for line in found), found
