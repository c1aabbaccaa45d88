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
from kvr_mtsp.validate import Findings, Settings, before_solve, examine, known_keys, problems, schema
from test_cli import run_cli, write

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
# Unknown keys, which are warnings, have their own tests below.
MISTAKES = [
    ("missing required key", lambda d: d["agents"][0].pop("end_node"),
     "$.agents[0]: 'end_node' is a required property", "raises"),
    ("wrong type", lambda d: d["nodes"][1].update(x="3"), "$.nodes[1].x: '3' is not of type 'number'", "raises"),
    ("unknown objective", lambda d: d["options"].update(objective="fastest"),
     "$.options.objective: 'fastest' is not one of ['min_max', 'min_sum', 'MIN_MAX', 'MIN_SUM']", "warns"),
    ("negative time limit", lambda d: d["options"].update(time_limit=-1),
     "$.options.time_limit: -1 is less than the minimum of 0", "documented"),
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
     "$.agents[1].type: the type 'drone' has no matrix in \"costs\" (matrices given: 'truck'), "
     "so the agent has no connection", "refused"),
    ("constraint on an unknown node", lambda d: d["constraints"][0]["items"].append({"node": 99, "types": ["truck"]}),
     "$.constraints[0].items[7].node: no node has the id 99", "warns"),
    ("short matrix", lambda d: d["costs"]["truck"].pop(),
     "$.costs.truck: the matrix of the type 'truck' is 6 x 7 for 7 nodes; it needs 7 rows of 7 costs, "
     "row and column i being the node at position i", "refused"),
]


@pytest.mark.parametrize("path", EXAMPLES + BENCHMARK_INSTANCES, ids=lambda p: p.name)
def test_every_example_and_benchmark_instance_is_valid(path):
    assert examine(json.loads(path.read_text(encoding="utf-8"))) == Findings()


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
        assert before_solve(doc).errors == [expected]


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
        "schedule": options.schedule,
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
    return ignored or before_solve(doc).errors != []


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(doc=instances() | mutated_documents())
def test_validation_agrees_with_the_solver_on_drawn_documents(doc):
    """A document the solver objects to has a mistake or a warning (an
    unknown key); one it takes without a word has no mistake beyond those the
    format's documentation calls wrong."""
    found = examine(doc)
    if solver_objects(doc):
        assert found.errors or found.warnings
    else:
        assert all(DOCUMENTED_ONLY.search(line) for line in found.errors), found


def every_kind_doc() -> dict:
    """A valid document with a constraint of each kind (assignment, time window, precedence)."""
    doc = grid_doc(6)
    doc["constraints"] += [
        {"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 50}]},
        {"kind": "sequence", "precedence": [{"before": 2, "after": 3, "type": "same"}]},
    ]
    return doc


# (where the key goes, the unknown key, the path in the line, the key suggested)
TYPOS = [
    (lambda d: d, "optoins", "$", "options"),
    (lambda d: d["options"], "time_limt", "$.options", "time_limit"),
    (lambda d: d["nodes"][2], "demnad", "$.nodes[2]", "demand"),
    (lambda d: d["agents"][1], "max_lenght", "$.agents[1]", "max_length"),
    (lambda d: d["constraints"][0], "itmes", "$.constraints[0]", "items"),
    (lambda d: d["constraints"][0]["items"][3], "typse", "$.constraints[0].items[3]", "types"),
    (lambda d: d["constraints"][1]["items"][0], "ned", "$.constraints[1].items[0]", "end"),
    (lambda d: d["constraints"][2], "precedance", "$.constraints[2]", "precedence"),
    (lambda d: d["constraints"][2]["precedence"][0], "tpye", "$.constraints[2].precedence[0]", "type"),
]


def test_unknown_keys_at_every_level_are_warnings_naming_the_key_meant():
    assert examine(every_kind_doc()) == Findings()
    for place, key, path, meant in TYPOS:
        doc = every_kind_doc()
        place(doc)[key] = 1
        line = f"{path}: unknown key {key!r} (did you mean {meant!r}?)"
        assert examine(doc) == Findings([], [line]), key
        assert examine(doc, strict=True) == Findings([line], []), key
        core.read_document(json.dumps(doc), on_console=lambda record: None)  # the reader takes it
    # Each constraint kind has its own keys; a key like no known one gets no suggestion.
    doc = every_kind_doc()
    doc["constraints"][2]["items"] = []
    doc["agents"][0]["colour"] = "red"
    assert examine(doc).warnings == ["$.agents[0]: unknown key 'colour'", "$.constraints[2]: unknown key 'items'"]
    # Keys of constraints of a kind the format does not know are left to that error.
    doc = every_kind_doc()
    doc["constraints"][1].update(kind="window", itmes=[])
    assert examine(doc).warnings == [] and len(examine(doc).errors) == 1


def test_the_known_keys_of_the_document_and_options_are_the_readers():
    """The command line leaves out the reader's own unknown-key warnings,
    since validate's words say the same: the two must know the same keys."""
    known = known_keys()
    doc = grid_doc(6)
    doc.update({key: doc.get(key, "x") for key in known.document})
    options = schema()["$defs"]["options"]["properties"]
    doc["options"] = {key: options[key].get("default", 512) for key in known.options}
    doc["constraints"] = []
    records: list = []
    core.read_document(json.dumps(doc), on_console=records.append)
    assert [record.text for record in records if record.code == "unknown_key"] == []
    doc["optoins"] = {}
    doc["options"]["improv"] = True
    records.clear()
    core.read_document(json.dumps(doc), on_console=records.append)
    assert sorted(record.fields["key"] for record in records if record.code == "unknown_key") == ["improv", "optoins"]
    assert [line.split(": unknown key ")[1].split()[0] for line in examine(doc).warnings] == ["'optoins'", "'improv'"]


def nine_nodes() -> dict:
    return grid_doc(8)


# (change to the truck's 9 x 9 matrix, the shape named)
SHAPES = [
    (lambda m: m[:5], "5 x 9"),
    (lambda m: m + [m[0]], "10 x 9"),
    (lambda m: [row + [1.0] for row in m], "9 x 10"),
    (lambda m: m[:3] + [m[3][:7]] + m[4:], "9 rows of 7 to 9 costs (row 3 has 7)"),
    (lambda m: [], "0 rows"),
]


def test_every_matrix_must_be_one_row_and_one_column_per_node():
    for change, shape in SHAPES:
        doc = nine_nodes()
        doc["costs"]["truck"] = change(doc["costs"]["truck"])
        assert before_solve(doc).errors == [
            f"$.costs.truck: the matrix of the type 'truck' is {shape} for 9 nodes; it needs 9 rows of 9 costs, "
            "row and column i being the node at position i"
        ], shape
        assert problems(doc) == before_solve(doc).errors
    # Matrices given as an array are named by their place, as the reader names them.
    doc = nine_nodes()
    doc["costs"] = [doc["costs"]["truck"], doc["costs"]["truck"][:8]]
    doc["constraints"] = []
    for agent, kind in zip(doc["agents"], ("0", "1")):
        agent["type"] = kind
    assert [line.split(":")[0] for line in problems(doc)] == ["$.costs[1]"]


def test_short_matrix_is_refused_before_the_solve_in_validates_words(tmp_path):
    doc = nine_nodes()
    doc["costs"]["truck"] = doc["costs"]["truck"][:5]
    write(tmp_path / "short.json", doc)
    validated = run_cli("validate", "short.json", cwd=tmp_path)
    solved = run_cli("solve", "short.json", "--quiet", cwd=tmp_path)
    assert validated.returncode == solved.returncode == 2
    [line] = validated.stdout.splitlines()
    assert line.startswith("short.json: $.costs.truck: the matrix of the type 'truck' is 5 x 9 for 9 nodes")
    assert solved.stderr.splitlines() == [f"kvr-mtsp: error: {line}"]
    assert solved.stdout == ""


def test_size_rule_is_the_command_lines_and_its_advice_names_the_flag(tmp_path):
    doc = grow(grid_doc(6), 400)
    doc["costs"] = {"truck": [[0.0] * 400] * 400}
    doc["options"] = {"improve": False}  # the flags replace the document's own option
    assert examine(doc) == Findings()
    line = ("$.nodes: 400 nodes, but the focal search takes at most 256 and --no-improve turns off the "
            "improvement engine, which solves larger instances; drop --no-improve")
    doc["options"] = {"improve": True}
    assert before_solve(doc, Settings(improve=False)).errors == [line]
    write(tmp_path / "large.json", doc)
    assert run_cli("validate", "large.json", cwd=tmp_path).stdout == "large.json: valid\n"
    refused = run_cli("validate", "large.json", "--no-improve", cwd=tmp_path)
    assert refused.returncode == 2 and refused.stdout == f"large.json: {line}\n"
    solved = run_cli("solve", "large.json", "--no-improve", cwd=tmp_path)
    assert solved.returncode == 2 and solved.stderr == f"kvr-mtsp: error: large.json: {line}\n"


def carrying_doc() -> dict:
    doc = every_kind_doc()
    doc["nodes"][1]["demand"] = 3
    doc["nodes"][4]["demand"] = 2
    doc["agents"][0]["capacity"] = 10
    doc["constraints"][2]["precedence"].append({"before": 4, "after": 5})
    return doc


CAPACITY_NOTE = ('$: carried, not enforced: the demands of 2 nodes and the capacities of 1 agent, since '
                 '--no-capacity sets the option "enforce_capacity" to false; drop --no-capacity to keep every route '
                 "within its agent's capacity")
PAIRS_NOTE = ('$: carried, not enforced: 2 precedence pairs, since --no-precedence sets the option '
              '"enforce_precedence" to false; drop --no-precedence to honour them')


def test_carried_fields_are_reported_while_the_flags_leave_them_unenforced(tmp_path):
    doc = carrying_doc()
    assert examine(doc) == Findings()  # the command line's defaults enforce both
    assert examine(doc, Settings(enforce_capacity=False)) == Findings([], [CAPACITY_NOTE])
    assert examine(doc, Settings(enforce_precedence=False)) == Findings([], [PAIRS_NOTE])
    doc["agents"][0].pop("capacity")
    assert examine(doc, Settings(enforce_capacity=False)).warnings == [CAPACITY_NOTE.replace(
        " and the capacities of 1 agent", "")]
    write(tmp_path / "carrying.json", carrying_doc())
    completed = run_cli("validate", "carrying.json", "--no-capacity", "--no-precedence", cwd=tmp_path)
    assert completed.returncode == 0
    assert completed.stdout.splitlines() == [f"carrying.json: warning: {CAPACITY_NOTE}",
                                             f"carrying.json: warning: {PAIRS_NOTE}",
                                             "carrying.json: valid (2 warnings)"]


def test_solve_prints_validates_warnings_in_its_words_and_goes_on(tmp_path):
    doc = carrying_doc()
    doc["agents"][1]["max_lenght"] = 20
    doc["optoins"] = {}
    write(tmp_path / "typo.json", doc)
    validated = run_cli("validate", "typo.json", "--no-capacity", cwd=tmp_path)
    strict = run_cli("validate", "typo.json", "--no-capacity", "--strict", cwd=tmp_path)
    solved = run_cli("solve", "typo.json", "--no-capacity", "--quiet", "--time-limit", "1", cwd=tmp_path)
    warnings = ["$: unknown key 'optoins' (did you mean 'options'?)",
                "$.agents[1]: unknown key 'max_lenght' (did you mean 'max_length'?)", CAPACITY_NOTE]
    assert validated.returncode == 0
    assert validated.stdout.splitlines() == [f"typo.json: warning: {line}" for line in warnings] + [
        "typo.json: valid (3 warnings)"]
    assert strict.returncode == 2 and strict.stdout.splitlines()[:2] == [f"typo.json: {line}" for line in warnings[:2]]
    assert solved.returncode == 0, solved.stderr
    assert "status       success" in solved.stdout
    said = [line for line in solved.stderr.splitlines() if "typo.json" in line]
    assert said == [f"kvr-mtsp: warning: typo.json: {line}" for line in warnings]
    # The solver's own lines about the same key and the same capacities are not said twice.
    assert "optoins" not in solved.stderr.replace(said[0], "")
    assert "enforce_capacity" not in solved.stderr.replace(said[2], "")
