"""What the package's result view reads from an instance document on its own.

The solver reports routes as node positions (indices into "nodes"). To show
node ids, the agents' types and to mark the free last leg of open routes,
`InstanceView` reads those from the document (or from the outline of a
`Problem`, `kvr_mtsp.api.outline`), converting ids as the solver's reader does
(`kvr_mtsp.json_ints`). What a document gets wrong is said by the solver's
reader itself (the "detail" of its exceptions); the checks the command line
and validate make on a document the reader accepts live in
`kvr_mtsp.references`.

Every reading here accepts any document: a value of the wrong JSON type is
left out, so that the solver's reader, which rejects it, has the last word.
"""
from __future__ import annotations

import math
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

from kvr_mtsp.json_ints import as_u64

# The payload key of each constraint kind the reader knows (other kinds it
# ignores).
PAYLOADS = {"assignment": "items", "timewindow": "items", "sequence": "precedence"}


def to_id(value: Any) -> int | None:
    """An id as the reader stores it, None for a value it rejects."""
    try:
        return as_u64(value)
    except (TypeError, ValueError):
        return None


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
    """Node ids, agents and the options of a document, read leniently."""

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

    def windows(self) -> dict[int, tuple[float, float]]:
        """Time windows by node position, (start, end), as the reader keeps
        them: a later window of a node replaces an earlier one."""
        found = {}
        for _, kind, _, item in self.elements():
            if kind != "timewindow" or not isinstance(item, dict):
                continue
            at = self.position_of.get(to_id(item.get("node")))
            start, end = item.get("start"), item.get("end")
            if at is not None and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in (start, end)):
                found[at] = (float(start), float(end))
        return found

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


def _payload(constraint: Any) -> Iterator[tuple[int, Any]]:
    """(index, element) of a constraint's payload array, for the kinds the reader knows."""
    kind = constraint.get("kind") if isinstance(constraint, dict) else None
    if isinstance(kind, str) and kind in PAYLOADS:
        yield from enumerate(_list(constraint.get(PAYLOADS[kind])))
