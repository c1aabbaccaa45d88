"""Checking an instance document before solving it.

    kvr-mtsp validate INSTANCE.json [INSTANCE.json ...]

Two readings, each mistake one line with its JSON path:

- the JSON Schema shipped with the package (`kvr_mtsp/schema/instance.schema.json`,
  draft 2020-12): keys, types and ranges of every value, unknown keys at the
  top level and in "options", unknown constraint kinds and objectives;
- what a schema cannot say: ids that occur twice, agents and constraints
  naming node ids that no node has, matrices for types no agent has and
  agent types without a matrix.

Exit status 0 when every document is valid, 2 otherwise.
"""
from __future__ import annotations

import argparse
import json
import reprlib
from collections.abc import Iterator
from functools import cache
from importlib import resources
from typing import Any

from kvr_mtsp.instance import PAYLOADS, InstanceView, to_id
from kvr_mtsp.references import matrix_names, unknown_constraint_nodes
from kvr_mtsp.usage import EXIT_BAD_INPUT, BadInput, read_json, report

SCHEMA_NAME = "instance.schema.json"
_SHORT = reprlib.Repr()
_SHORT.maxlevel, _SHORT.maxlist, _SHORT.maxdict, _SHORT.maxstring = 2, 3, 3, 40


def schema() -> dict[str, Any]:
    """The instance document's JSON Schema."""
    return json.loads(resources.files("kvr_mtsp").joinpath("schema", SCHEMA_NAME).read_text(encoding="utf-8"))


@cache
def _validator() -> Any:
    try:
        from jsonschema import Draft202012Validator
    except ImportError:
        raise BadInput(
            "validating documents needs the package jsonschema, a dependency of kvr-mtsp that is not installed; "
            "install it with: pip install 'jsonschema>=4.18'"
        ) from None
    return Draft202012Validator(schema())


def _order(path: Any) -> list[tuple[int, Any]]:
    """A sort key that puts array elements in index order."""
    return [(0, part) if isinstance(part, int) else (1, str(part)) for part in path]


def schema_errors(document: Any) -> list[str]:
    """'$.path: message' for every place where `document` breaks the schema, in document order."""
    errors = sorted(_validator().iter_errors(document), key=lambda error: _order(error.absolute_path))
    return [f"{error.json_path}: {_message(error)}" for error in errors]


def _message(error: Any) -> str:
    """The validator's message with the offending value shortened: it opens
    with the value's repr, which for a whole array of nodes would fill pages."""
    if error.validator == "maxItems" and list(error.absolute_path) == ["nodes"]:
        return (f"{len(error.instance)} nodes, but the solver supports at most {error.validator_value}"
                ' unless the option "improve" is true')
    full = repr(error.instance)
    if error.message.startswith(full) and len(full) > 60:
        return _SHORT.repr(error.instance) + error.message[len(full):]
    return error.message


def reference_errors(document: Any) -> list[str]:
    """'$.path: message' for ids and names that point nowhere or occur twice."""
    if not isinstance(document, dict):
        return []
    view = InstanceView(document)
    return list(_repeated_ids(document)) + list(_unknown_references(document, view))


def _records(document: dict[str, Any], array: str) -> Iterator[tuple[int, dict[str, Any]]]:
    records = document.get(array)
    for index, record in enumerate(records if isinstance(records, list) else []):
        if isinstance(record, dict):
            yield index, record


def _repeated_ids(document: dict[str, Any]) -> Iterator[str]:
    for array, word in (("nodes", "node"), ("agents", "agent")):
        first: dict[int, int] = {}
        for index, record in _records(document, array):
            record_id = to_id(record.get("id"))
            if record_id is None:
                continue
            if record_id in first:
                yield f"$.{array}[{index}].id: {word} id {record_id} occurs twice: also at $.{array}[{first[record_id]}]"
            else:
                first[record_id] = index


def _unknown_references(document: dict[str, Any], view: InstanceView) -> Iterator[str]:
    for index, agent in _records(document, "agents"):
        for key in ("start_node", "end_node"):
            node_id = to_id(agent.get(key))
            if key in agent and node_id is not None and node_id not in view.position_of:
                yield f"$.agents[{index}].{key}: no node has the id {node_id}"
    given = matrix_names(view)
    names = given or []
    costs = document.get("costs")
    for name in names:
        if name not in view.agent_types:
            where = f"$.costs[{name}]" if isinstance(costs, list) else f"$.costs.{name}"
            yield f"{where}: no agent has the type {name!r}, so the solver refuses this matrix"
    if given is not None:
        for index, agent in _records(document, "agents"):
            kind = agent.get("type")
            if isinstance(kind, str) and kind not in names:
                yield f"$.agents[{index}].type: the type {kind!r} has no matrix in \"costs\", so the agent has no connection"
    for index, kind, item_index, key, node_id in unknown_constraint_nodes(view):
        yield f"$.constraints[{index}].{PAYLOADS[kind]}[{item_index}].{key}: no node has the id {node_id}"
    for index, kind, item_index, item in view.elements():
        if kind == "assignment" and isinstance(item, dict) and isinstance(item.get("types"), list):
            for type_index, name in enumerate(item["types"]):
                if isinstance(name, str) and name not in view.agent_types:
                    yield (f"$.constraints[{index}].items[{item_index}].types[{type_index}]: "
                           f"no agent has the type {name!r}, so no agent may serve this node as meant")


def problems(document: Any) -> list[str]:
    """Every mistake of `document`, one '$.path: message' each; empty when it is valid."""
    return schema_errors(document) + reference_errors(document)


def register(commands: Any) -> None:
    """Adds the "validate" subcommand to the command line's subparsers."""
    validate = commands.add_parser("validate", help="check instance documents against the format")
    validate.add_argument("instances", nargs="+", metavar="INSTANCE.json", help="instance documents")
    validate.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    invalid = 0
    for path in args.instances:
        try:
            found = problems(read_json(path))
        except BadInput as error:
            report(error)
            invalid += 1
            continue
        for line in found:
            print(f"{path}: {line}")
        if found:
            invalid += 1
        else:
            print(f"{path}: valid")
    return EXIT_BAD_INPUT if invalid else 0
