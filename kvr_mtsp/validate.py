"""Checking an instance document before solving it.

    kvr-mtsp validate INSTANCE.json [INSTANCE.json ...] [--strict]
                      [--improve | --no-improve] [--capacity | --no-capacity]
                      [--precedence | --no-precedence]

A document is judged as `kvr-mtsp solve` with the same flags would solve
it (the flags' defaults are solve's: the improvement engine on, capacities
and precedence pairs enforced). Each finding is one line with its JSON
path; errors make the document invalid, warnings do not:

- errors of the JSON Schema shipped with the package
  (`kvr_mtsp/schema/instance.schema.json`, draft 2020-12): types and ranges
  of every value, required keys, unknown constraint kinds and objectives;
- errors a schema cannot state: ids that occur twice, agents and constraints
  naming node ids that no node has, matrices for types no agent has, agent
  types without a matrix, matrices that are not one row and one column per
  node, and more nodes than the focal search takes with --no-improve;
- warnings: keys the format does not know, at every level (the document,
  "options", nodes, agents, constraints and their items), with the known
  key they most resemble (the solver ignores them; --strict makes them
  errors), assignment types no agent has (the solver ignores them too),
  and demands, capacities and precedence pairs that are carried but not
  enforced under the flags given.

`kvr-mtsp solve` makes the checks of the second and third kind
(`before_solve`) once the solver's reader has accepted the document, and
says what they find in the same words: errors stop it, warnings are
printed and the solve goes on.

Exit status 0 when every document is valid, 2 otherwise.
"""
from __future__ import annotations

import argparse
import difflib
import json
import reprlib
import sys
from collections.abc import Iterator
from dataclasses import dataclass, field
from functools import cache
from importlib import resources
from typing import Any, TextIO

from kvr_mtsp.instance import PAYLOADS, InstanceView, to_id
from kvr_mtsp.references import (
    cost_path,
    matrix_names,
    quoted,
    shape_mistakes,
    too_many_nodes,
    unknown_constraint_nodes,
)
from kvr_mtsp.usage import EXIT_BAD_INPUT, PROG, BadInput, add_solve_switches, read_json, report

# The codes of the solver's warnings that `before_solve` says in its own
# words (unknown keys of the document and of "options", assignment types no
# agent has, demands, capacities and precedence pairs that are not enforced).
SAID_BEFORE_SOLVE = frozenset({"unknown_key", "unknown_assignment_type", "not_enforced"})
SCHEMA_NAME = "instance.schema.json"
_SHORT = reprlib.Repr()
_SHORT.maxlevel, _SHORT.maxlist, _SHORT.maxdict, _SHORT.maxstring = 2, 3, 3, 40


def schema() -> dict[str, Any]:
    """The instance document's JSON Schema."""
    return json.loads(resources.files("kvr_mtsp").joinpath("schema", SCHEMA_NAME).read_text(encoding="utf-8"))


@dataclass(frozen=True)
class Settings:
    """What the command line's flags decide about a solve, each on unless
    its --no- flag is given; they replace the document's own options."""

    improve: bool = True
    enforce_capacity: bool = True
    enforce_precedence: bool = True

    @classmethod
    def of(cls, args: argparse.Namespace) -> Settings:
        return cls(improve=args.improve, enforce_capacity=args.capacity, enforce_precedence=args.precedence)


@dataclass
class Findings:
    """Lines '$.path: message': errors make a document invalid, warnings do not."""

    errors: list[str] = field(default_factory=list)
    warnings: list[str] = field(default_factory=list)


@dataclass(frozen=True)
class KnownKeys:
    """The keys the format knows for each kind of object, read from the schema."""

    document: tuple[str, ...]
    options: tuple[str, ...]
    node: tuple[str, ...]
    agent: tuple[str, ...]
    # Per constraint kind: the constraint's own keys, its payload's key and the keys of the payload's elements.
    constraints: dict[str, tuple[tuple[str, ...], str, tuple[str, ...]]]


@cache
def known_keys() -> KnownKeys:
    """The keys of the schema's objects, read once."""
    whole = schema()

    def resolve(node: dict[str, Any]) -> dict[str, Any]:
        """`node`, or the definition its "$ref" points to."""
        if "$ref" not in node:
            return node
        target = whole
        for part in node["$ref"].removeprefix("#/").split("/"):
            target = target[part]
        return target

    def keys(node: dict[str, Any]) -> tuple[str, ...]:
        return tuple(resolve(node)["properties"])

    top = whole["properties"]
    constraints = {}
    for branch in resolve(top["constraints"]["items"])["allOf"]:
        kind = branch["if"]["properties"]["kind"]["const"]
        own = branch["then"]["properties"]
        payload = next(key for key in own if key != "kind")
        constraints[kind] = (tuple(own), payload, keys(own[payload]["items"]))
    return KnownKeys(tuple(top), keys(top["options"]), keys(top["nodes"]["items"]), keys(top["agents"]["items"]),
                     constraints)


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
    """'$.path: message' for every place where `document` breaks the schema,
    in document order; keys the schema does not know are left to
    `unknown_keys`, which words them with a suggestion."""
    errors = sorted(_validator().iter_errors(document), key=lambda error: _order(error.absolute_path))
    return [f"{error.json_path}: {_message(error)}" for error in errors
            if not (error.validator == "additionalProperties" and error.validator_value is False)]


def _message(error: Any) -> str:
    """The validator's message with the offending value shortened: it opens
    with the value's repr, which for a whole array of nodes would fill pages."""
    full = repr(error.instance)
    if error.message.startswith(full) and len(full) > 60:
        return _SHORT.repr(error.instance) + error.message[len(full):]
    return error.message


def unknown_keys(document: Any) -> Iterator[str]:
    """'$.path: unknown key ...' for every key the format does not know, at
    every level, with the known key it most resembles. Constraints of a
    kind the format does not know are left to the schema's error."""
    if not isinstance(document, dict):
        return
    known = known_keys()
    yield from _unknown("$", document, known.document)
    if isinstance(document.get("options"), dict):
        yield from _unknown("$.options", document["options"], known.options)
    for array, keys in (("nodes", known.node), ("agents", known.agent)):
        for index, record in _records(document, array):
            yield from _unknown(f"$.{array}[{index}]", record, keys)
    for index, constraint in _records(document, "constraints"):
        kind = constraint.get("kind")
        if not isinstance(kind, str) or kind not in known.constraints:
            continue
        own, payload, item_keys = known.constraints[kind]
        yield from _unknown(f"$.constraints[{index}]", constraint, own)
        items = constraint.get(payload)
        for item_index, item in enumerate(items if isinstance(items, list) else []):
            if isinstance(item, dict):
                yield from _unknown(f"$.constraints[{index}].{payload}[{item_index}]", item, item_keys)


def _unknown(path: str, record: dict[str, Any], known: tuple[str, ...]) -> Iterator[str]:
    for key in record:
        if key not in known:
            close = difflib.get_close_matches(key, known, n=1)
            hint = f" (did you mean {close[0]!r}?)" if close else ""
            yield f"{path}: unknown key {key!r}{hint}"


def carried_only(document: Any, settings: Settings) -> Iterator[str]:
    """What the document carries but the solve under `settings` does not
    hold routes to: demands and capacities without "enforce_capacity",
    precedence pairs without "enforce_precedence"."""
    if not isinstance(document, dict):
        return
    if not settings.enforce_capacity:
        demands = sum(1 for _, node in _records(document, "nodes") if _positive(node.get("demand")))
        capacities = sum(1 for _, agent in _records(document, "agents") if _positive(agent.get("capacity")))
        carried = []
        if demands:
            carried.append(f"the demands of {demands} node{'s' * (demands != 1)}")
        if capacities:
            carried.append(f"the capacities of {capacities} agent{'s' * (capacities != 1)}")
        if carried:
            yield (f"$: carried, not enforced: {' and '.join(carried)}, since --no-capacity sets the option "
                   '"enforce_capacity" to false; drop --no-capacity to keep every route within its agent\'s capacity')
    if not settings.enforce_precedence:
        pairs = 0
        for _, constraint in _records(document, "constraints"):
            payload = constraint.get(PAYLOADS["sequence"]) if constraint.get("kind") == "sequence" else None
            pairs += len(payload) if isinstance(payload, list) else 0
        if pairs:
            yield (f"$: carried, not enforced: {pairs} precedence pair{'s' * (pairs != 1)}, since --no-precedence "
                   'sets the option "enforce_precedence" to false; drop --no-precedence to honour them')


def _positive(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) and value > 0


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
    for name in names:
        if name not in view.agent_types:
            yield f"{cost_path(document, name)}: no agent has the type {name!r}, so the solver refuses this matrix"
    if given is not None:
        for index, agent in _records(document, "agents"):
            kind = agent.get("type")
            if isinstance(kind, str) and kind not in names:
                yield (f"$.agents[{index}].type: the type {kind!r} has no matrix in \"costs\" (matrices given: "
                       f"{quoted(names)}), so the agent has no connection")
    for index, kind, item_index, key, node_id in unknown_constraint_nodes(view):
        yield f"$.constraints[{index}].{PAYLOADS[kind]}[{item_index}].{key}: no node has the id {node_id}"


def types_of_no_agent(document: Any) -> Iterator[str]:
    """'$.path: message' for every type an assignment names that no agent
    has: the solver ignores it (a node listing only such types cannot be
    served, which a failed solve names), so an assignment may list the
    types of a larger fleet."""
    view = InstanceView(document)
    for index, kind, item_index, item in view.elements():
        if kind == "assignment" and isinstance(item, dict) and isinstance(item.get("types"), list):
            for type_index, name in enumerate(item["types"]):
                if isinstance(name, str) and name not in view.agent_types:
                    yield (f"$.constraints[{index}].items[{item_index}].types[{type_index}]: "
                           f"no agent has the type {name!r}, so no agent may serve this node as meant")


def before_solve(document: Any, settings: Settings = Settings(), strict: bool = False) -> Findings:
    """What validate and the command line's solve both say about a document
    the solver's reader takes: ids and type names that point nowhere,
    matrices of the wrong shape and too many nodes for `settings` (errors),
    unknown keys (warnings, errors when `strict`), assignment types no agent
    has and what is carried but not enforced (warnings)."""
    nodes = document.get("nodes") if isinstance(document, dict) else None
    size = too_many_nodes(len(nodes), settings.improve) if isinstance(nodes, list) else None
    errors = ([f"$.nodes: {size}"] if size else []) + reference_errors(document) + list(shape_mistakes(document))
    keys = list(unknown_keys(document))
    notes = list(types_of_no_agent(document)) + list(carried_only(document, settings))
    return Findings(errors + keys, notes) if strict else Findings(errors, keys + notes)


def examine(document: Any, settings: Settings = Settings(), strict: bool = False) -> Findings:
    """Every finding about `document` for a solve under `settings`: the
    schema's errors, then those of `before_solve`."""
    shared = before_solve(document, settings, strict)
    return Findings(schema_errors(document) + shared.errors, shared.warnings)


def problems(document: Any, settings: Settings = Settings(), strict: bool = False) -> list[str]:
    """Every mistake of `document`, one '$.path: message' each; empty when it is valid."""
    return examine(document, settings, strict).errors


def refuse_or_warn(path: str, found: Findings, out: TextIO | None = None) -> None:
    """The command line's solve on `before_solve`'s findings about the
    document in `path`: BadInput with the first error (the same words as
    validate's), else each warning as a line on `out` (standard error)."""
    if found.errors:
        more = len(found.errors) - 1
        rest = f" (and {more} more: kvr-mtsp validate lists them)" if more else ""
        raise BadInput(f"{path}: {found.errors[0]}{rest}")
    stream = out or sys.stderr
    for line in found.warnings:
        stream.write(f"{PROG}: warning: {path}: {line}\n")
    stream.flush()


def register(commands: Any) -> None:
    """Adds the "validate" subcommand to the command line's subparsers."""
    validate = commands.add_parser(
        "validate", help="check instance documents against the format and as solve with the same flags would"
    )
    validate.add_argument("instances", nargs="+", metavar="INSTANCE.json", help="instance documents")
    validate.add_argument("--strict", action="store_true", help="unknown keys are errors, not warnings")
    add_solve_switches(validate)
    validate.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    invalid = 0
    settings = Settings.of(args)
    for path in args.instances:
        try:
            found = examine(read_json(path), settings, args.strict)
        except BadInput as error:
            report(error)
            invalid += 1
            continue
        for line in found.errors:
            print(f"{path}: {line}")
        for line in found.warnings:
            print(f"{path}: warning: {line}")
        if found.errors:
            invalid += 1
        else:
            count = len(found.warnings)
            print(f"{path}: valid" + (f" ({count} warning{'s' * (count != 1)})" if count else ""))
    return EXIT_BAD_INPUT if invalid else 0
