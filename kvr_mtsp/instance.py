"""What the command line reads from an instance document on its own.

The solver reports routes as node positions (indices into "nodes") and
raises terse exceptions for unknown ids ("unordered_map::at: key not
found"). To show node ids, to mark the free last leg of open routes and to
say which agent or constraint names which missing id, the command line reads
the document itself, converting ids as the solver's reader does
(`kvr_mtsp.json_ints`).

Every reading here accepts any document: a field of the wrong JSON type is
left out, so that the solver's reader, which rejects it, has the last word.
"""
from __future__ import annotations

import math
import re
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

from kvr_mtsp.json_ints import as_u64
from kvr_mtsp.json_text import JsonTextError, loads

# The fields the reader reads, in its order: (key, conversion, required). The
# conversions: "id" (unsigned 64-bit) and "int" (signed 32-bit) take numbers
# and booleans, "double" numbers only; "strings" is an array of strings,
# "matrix" an array of arrays of doubles.
NODE_FIELDS = (
    ("id", "id", True), ("x", "double", True), ("y", "double", True), ("z", "double", True),
    ("type", "string", False), ("demand", "double", False),
)
AGENT_FIELDS = (
    ("id", "id", True), ("type", "string", True), ("start_node", "id", True), ("end_node", "id", True),
    ("capacity", "int", False), ("max_length", "int", False),
)
ITEM_FIELDS = {
    "assignment": (("node", "id", True), ("types", "strings", True)),
    "timewindow": (("node", "id", True), ("start", "double", True), ("end", "double", True)),
    "sequence": (("before", "id", True), ("after", "id", True), ("type", "string", False)),
}
OPTION_FIELDS = (("return_to_end", "boolean", False), ("objective", "string", False), ("time_limit", "double", False))
# The payload key of each constraint kind the reader knows (other kinds it
# ignores), and the keys of a payload element that name nodes.
PAYLOADS = {"assignment": "items", "timewindow": "items", "sequence": "precedence"}
NODE_REFERENCES = {"assignment": ("node",), "timewindow": ("node",), "sequence": ("before", "after")}
MISSING_KEY = re.compile(r"key '(.*)' not found")


def read_document(raw: bytes) -> Any:
    """The parsed document, or None when the package's reader refuses it
    (the solver, or `kvr_mtsp.json_text`, says why)."""
    try:
        return loads(raw)
    except JsonTextError:
        return None


def to_id(value: Any) -> int | None:
    """An id as the reader stores it, None for a value it rejects."""
    try:
        return as_u64(value)
    except (TypeError, ValueError):
        return None


def quoted(names: list[str]) -> str:
    return ", ".join(repr(name) for name in names) if names else "none"


def listed(values: list[Any], most: int = 8) -> str:
    """'1, 2, 3' or '1, 2, ..., 8 and 4 more' for long lists."""
    shown = ", ".join(str(value) for value in values[:most])
    return shown if len(values) <= most else f"{shown} and {len(values) - most} more"


@dataclass
class AgentView:
    id: int | None
    type: str | None
    start: int | None  # node ids
    end: int | None

    @property
    def name(self) -> str:
        return f"agent {self.id}" if self.id is not None else "an agent"


class InstanceView:
    """The parts of a document the command line needs, read leniently."""

    def __init__(self, document: Any) -> None:
        self.raw = document
        doc = document if isinstance(document, dict) else {}
        nodes = _list(doc.get("nodes"))
        agents = _list(doc.get("agents"))
        options = doc.get("options")
        self.node_ids = [to_id(node.get("id")) if isinstance(node, dict) else None for node in nodes]
        # Construction maps each id to its node's position; a repeated id keeps the last one.
        self.position_of = {node_id: at for at, node_id in enumerate(self.node_ids) if node_id is not None}
        self.agents = [_agent(agent) for agent in agents]
        self.agent_types = {agent.type for agent in self.agents if agent.type is not None}
        self.matrix_names = _matrix_names(doc)
        self.constraints = _list(doc.get("constraints"))
        if isinstance(options, dict):
            objective = options.get("objective", "min_sum")
            limit = options.get("time_limit", 60.0)
            self.return_to_end = options.get("return_to_end", True) is not False
        else:
            objective, limit, self.return_to_end = "min_sum", 60.0, True
        # The reader: "min_max" and "MIN_MAX" select min-max, every other string min-sum.
        self.objective = "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"
        number = isinstance(limit, (int, float)) and not isinstance(limit, bool)
        self.time_limit = float(limit) if number and math.isfinite(limit) else None

    # Display.

    def label(self, position: int) -> str:
        """A node position as its id, or '#position' when the document gives no usable id."""
        if 0 <= position < len(self.node_ids) and self.node_ids[position] is not None:
            return str(self.node_ids[position])
        return f"#{position}"

    def agent_type(self, index: int) -> str | None:
        return self.agents[index].type if index < len(self.agents) else None

    def free_last_leg(self, index: int, path: list[int]) -> bool:
        """Whether the route's last leg costs nothing: with open routes the
        move into the agent's own start or end node is free."""
        if self.return_to_end or len(path) < 2 or path[-1] == path[-2] or index >= len(self.agents):
            return False
        agent = self.agents[index]
        own = (agent.start, agent.end)
        return path[-1] in (self.position_of.get(node_id) for node_id in own if node_id is not None)

    @property
    def has_time_windows(self) -> bool:
        """Whether some time window lands on a node (the solver drops the others)."""
        return any(
            to_id(item.get("node")) in self.position_of
            for _, kind, _, item in self.elements()
            if kind == "timewindow" and isinstance(item, dict)
        )

    # Checks.

    def problem_before_solve(self) -> str | None:
        """The first mistake the solver accepts without complaint but which
        makes its answer meaningless: a constraint naming a node that does not
        exist (it would be ignored), an agent type without a cost matrix (its
        agents would have no connection anywhere). A document the reader
        rejects is left to the reader's message."""
        if not self.readable:
            return None
        return self.unknown_constraint_node() or self.type_without_matrix()

    @property
    def readable(self) -> bool:
        """Whether every value the reader reads is present where required and
        converts, so that the reader accepts the document."""
        return not any(
            (required and not present) or (present and _type_error(value, conversion))
            for _, _, present, value, conversion, required in self._fields()
        )

    def unknown_reference(self) -> str | None:
        """Which id or name is unknown, for the solver's failed look-up during
        construction, in the order the construction looks them up."""
        for index, agent in enumerate(self.agents):
            for role, node_id in (("starts", agent.start), ("ends", agent.end)):
                if node_id is not None and node_id not in self.position_of:
                    return (
                        f"{agent.name} (agents[{index}]) {role} at node {node_id}, but no node has the id {node_id}"
                    )
        if self.matrix_names is not None:
            for name in self.matrix_names:
                if name not in self.agent_types:
                    return (
                        f'"costs" has a matrix for the type {name!r}, but no agent has that type '
                        f"(agent types: {quoted(sorted(self.agent_types))})"
                    )
        return None

    def unknown_constraint_node(self) -> str | None:
        for index, kind, item_index, key, node_id in self.unknown_constraint_nodes():
            return (
                f'constraints[{index}] ("{kind}"), item {item_index}: "{key}" names node {node_id}, '
                "but no node has that id"
            )
        return None

    def unknown_constraint_nodes(self) -> Iterator[tuple[int, str, int, str, int]]:
        """(constraint index, kind, element index, key, node id) of every
        constraint element naming a node that does not exist."""
        for index, kind, item_index, item in self.elements():
            if not isinstance(item, dict):
                continue
            for key in NODE_REFERENCES[kind]:
                node_id = to_id(item.get(key))
                if key in item and node_id is not None and node_id not in self.position_of:
                    yield index, kind, item_index, key, node_id

    def type_without_matrix(self) -> str | None:
        if self.matrix_names is None:
            return None
        for agent in self.agents:
            if agent.type is not None and agent.type not in self.matrix_names:
                owners = [a.id for a in self.agents if a.type == agent.type and a.id is not None]
                who = f"agent{'s' if len(owners) > 1 else ''} {listed(owners)}"
                return (
                    f'agent type {agent.type!r} ({who}) has no cost matrix in "costs" '
                    f"(matrices given: {quoted(self.matrix_names)}), so its agents have no connection anywhere"
                )
        return None

    def unservable_node(self) -> str | None:
        """A node whose assignment constraint names only types no agent has."""
        allowed: dict[int, list[str]] = {}
        for _, kind, _, item in self.elements():
            if kind == "assignment" and isinstance(item, dict) and isinstance(item.get("types"), list):
                node_id = to_id(item.get("node"))
                if node_id is not None:
                    allowed[node_id] = [name for name in item["types"] if isinstance(name, str)]
        for node_id in self.node_ids:
            names = allowed.get(node_id) if node_id is not None else None
            if names is not None and not set(names) & self.agent_types:
                return (
                    f"node {node_id} may be served only by the types {quoted(names)}, which no agent has "
                    f"(agent types: {quoted(sorted(self.agent_types))})"
                )
        return None

    def locate(self, detail: str) -> str | None:
        """Where the reader's shape error `detail` (the text after the
        "[json.exception...] " tag) arises, said for a person: 'agents[0]
        (agent 7) has no key 'end_node'', 'nodes[2] (node 20), key "x": type
        must be number, but is boolean', 'nodes[3] must be an object, but is
        number'. The first place in the reader's order that gives this very
        text is the one it stopped at; None when no place does."""
        missing = MISSING_KEY.fullmatch(detail)
        for where, key, present, value, conversion, required in self._fields():
            if missing:
                if required and not present and key == missing.group(1):
                    return f"{where} has no key '{key}'"
            elif present and _type_error(value, conversion) == detail:
                if key is None:
                    return f"{where} must be an object, but is {json_type(value)}"
                return f'{where}, key "{key}": {detail}'
        return None

    def _fields(self) -> Iterator[tuple[str, str | None, bool, Any, str, bool]]:
        """(where, key, present, value, conversion, required) for every value
        the reader reads, in its order; key None stands for an object whose
        keys it looks up ("object" with required keys, "options" without)."""
        doc = self.raw
        yield "the document", None, True, doc, "object", True
        if not isinstance(doc, dict):
            return
        for key in ("nodes", "agents"):
            yield "the document", key, key in doc, doc.get(key), "array", True
        for array, word, fields in (("nodes", "node", NODE_FIELDS), ("agents", "agent", AGENT_FIELDS)):
            for index, record in enumerate(_list(doc.get(array))):
                where = _name(array, index, record, word)
                yield where, None, True, record, "object", True
                if isinstance(record, dict):
                    for key, conversion, required in fields:
                        yield where, key, key in record, record.get(key), conversion, required
        costs = doc.get("costs")
        if isinstance(costs, (dict, list)):
            named = costs.items() if isinstance(costs, dict) else ((str(i), m) for i, m in enumerate(costs))
            for name, matrix in named:
                yield '"costs"', name, True, matrix, "matrix", True
        elif "costs" in doc:  # the reader takes any other value for a single matrix
            yield "the document", "costs", True, costs, "matrix", False
        yield "the document", "constraints", "constraints" in doc, doc.get("constraints"), "array", False
        for index, constraint in enumerate(self.constraints):
            where = f"constraints[{index}]"
            yield where, None, True, constraint, "object", True
            if not isinstance(constraint, dict):
                continue
            yield where, "kind", "kind" in constraint, constraint.get("kind"), "string", True
            kind = constraint.get("kind")
            if not (isinstance(kind, str) and kind in PAYLOADS):
                continue
            payload = PAYLOADS[kind]
            yield f'{where} ("{kind}")', payload, payload in constraint, constraint.get(payload), "array", False
            for item_index, item in _payload(constraint):
                item_where = f'{where} ("{kind}"), item {item_index}'
                yield item_where, None, True, item, "object", True
                if isinstance(item, dict):
                    for key, conversion, required in ITEM_FIELDS[kind]:
                        yield item_where, key, key in item, item.get(key), conversion, required
        options = doc.get("options")
        yield '"options"', None, "options" in doc, options, "options", False
        if isinstance(options, dict):
            for key, conversion, required in OPTION_FIELDS:
                yield '"options"', key, key in options, options.get(key), conversion, required

    def elements(self) -> Iterator[tuple[int, str, int, Any]]:
        """(constraint index, kind, element index, element) for every payload
        element of the constraint kinds the reader knows."""
        for index, constraint in enumerate(self.constraints):
            for item_index, item in _payload(constraint):
                yield index, constraint["kind"], item_index, item


def _list(value: Any) -> list:
    return value if isinstance(value, list) else []


def _agent(agent: Any) -> AgentView:
    if not isinstance(agent, dict):
        return AgentView(None, None, None, None)
    kind = agent.get("type")
    return AgentView(
        id=to_id(agent.get("id")),
        type=kind if isinstance(kind, str) else None,
        start=to_id(agent.get("start_node")),
        end=to_id(agent.get("end_node")),
    )


def _matrix_names(doc: dict) -> list[str] | None:
    """The type names the document gives matrices for, None when "costs" has no usable shape."""
    costs = doc.get("costs", {})
    if isinstance(costs, dict):
        return list(costs)
    if isinstance(costs, list):  # the reader names an array's matrices "0", "1", ...
        return [str(index) for index in range(len(costs))]
    return None


def _payload(constraint: Any) -> Iterator[tuple[int, Any]]:
    """(index, element) of a constraint's payload array, for the kinds the reader knows."""
    kind = constraint.get("kind") if isinstance(constraint, dict) else None
    if isinstance(kind, str) and kind in PAYLOADS:
        yield from enumerate(_list(constraint.get(PAYLOADS[kind])))


def _name(array: str, index: int, record: Any, word: str) -> str:
    """'agents[0] (agent 7)', or 'agents[0]' when the record has no usable id."""
    record_id = to_id(record.get("id")) if isinstance(record, dict) else None
    return f"{array}[{index}]" + (f" ({word} {record_id})" if record_id is not None else "")


def json_type(value: Any) -> str:
    """The JSON type name the reader's messages use."""
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, (int, float)):
        return "number"
    if isinstance(value, dict):
        return "object"
    if isinstance(value, list):
        return "array"
    return "string" if isinstance(value, str) else "null"


def _type_error(value: Any, conversion: str) -> str | None:
    """The reader's message for converting `value`, None when it converts."""
    found = json_type(value)
    if conversion in ("object", "options"):
        lookup = "at()" if conversion == "object" else "value()"
        return f"cannot use {lookup} with {found}" if found != "object" else None
    if conversion in ("id", "int"):
        wanted = "number" if found not in ("number", "boolean") else None
    elif conversion == "double":
        wanted = "number" if found != "number" else None
    elif conversion in ("array", "strings", "matrix"):
        wanted = "array" if found != "array" else None
    else:
        wanted = conversion if found != conversion else None
    if wanted:
        return f"type must be {wanted}, but is {found}"
    if conversion == "strings":
        return next((_type_error(name, "string") for name in value if _type_error(name, "string")), None)
    if conversion == "matrix":
        for row in value:
            error = _type_error(row, "array") or next(
                (_type_error(cell, "double") for cell in row if _type_error(cell, "double")), None
            )
            if error:
                return error
    return None
