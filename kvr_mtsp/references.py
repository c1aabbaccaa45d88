"""What the solver's reader accepts but makes its answer meaningless: ids
and type names of a document that point nowhere.

The reader takes a constraint naming a node that does not exist (and
ignores it), and an agent type without a cost matrix (its agents then have
no connection anywhere); a node whose assignment names only types no agent
has cannot be served. The command line refuses the first two before the
solve and names the third when a solve finds no solution; validate reports
all of them in its own words. Each check reads the document through an
`InstanceView` and is meant for a document the reader accepted.
"""
from __future__ import annotations

from collections.abc import Iterator

from kvr_mtsp.instance import InstanceView, listed, to_id

# The keys of a payload element that name nodes, per constraint kind.
NODE_REFERENCES = {"assignment": ("node",), "timewindow": ("node",), "sequence": ("before", "after")}


def quoted(names: list[str]) -> str:
    return ", ".join(repr(name) for name in names) if names else "none"


def matrix_names(view: InstanceView) -> list[str] | None:
    """The type names the document gives matrices for, None when "costs" has no usable shape."""
    doc = view.raw if isinstance(view.raw, dict) else {}
    costs = doc.get("costs", {})
    if isinstance(costs, dict):
        return list(costs)
    if isinstance(costs, list):  # the reader names an array's matrices "0", "1", ...
        return [str(index) for index in range(len(costs))]
    return None


def problem_before_solve(view: InstanceView) -> str | None:
    """The first mistake the command line refuses before a solve: a
    constraint naming a node that does not exist, an agent type without a
    cost matrix."""
    return unknown_constraint_node(view) or type_without_matrix(view)


def unknown_constraint_node(view: InstanceView) -> str | None:
    for index, kind, item_index, key, node_id in unknown_constraint_nodes(view):
        return (
            f'constraints[{index}] ("{kind}"), item {item_index}: "{key}" names node {node_id}, '
            "but no node has that id"
        )
    return None


def unknown_constraint_nodes(view: InstanceView) -> Iterator[tuple[int, str, int, str, int]]:
    """(constraint index, kind, element index, key, node id) of every
    constraint element naming a node that does not exist."""
    for index, kind, item_index, item in view.elements():
        if not isinstance(item, dict):
            continue
        for key in NODE_REFERENCES[kind]:
            node_id = to_id(item.get(key))
            if key in item and node_id is not None and node_id not in view.position_of:
                yield index, kind, item_index, key, node_id


def type_without_matrix(view: InstanceView) -> str | None:
    names = matrix_names(view)
    if names is None:
        return None
    for agent in view.agents:
        if agent.type is not None and agent.type not in names:
            owners = [a.id for a in view.agents if a.type == agent.type and a.id is not None]
            who = f"agent{'s' if len(owners) > 1 else ''} {listed(owners)}"
            return (
                f'agent type {agent.type!r} ({who}) has no cost matrix in "costs" '
                f"(matrices given: {quoted(names)}), so its agents have no connection anywhere"
            )
    return None


def unservable_node(view: InstanceView) -> str | None:
    """A node whose assignment constraint names only types no agent has."""
    allowed: dict[int, list[str]] = {}
    for _, kind, _, item in view.elements():
        if kind == "assignment" and isinstance(item, dict) and isinstance(item.get("types"), list):
            node_id = to_id(item.get("node"))
            if node_id is not None:
                allowed[node_id] = [name for name in item["types"] if isinstance(name, str)]
    for node_id in view.node_ids:
        names = allowed.get(node_id) if node_id is not None else None
        if names is not None and not set(names) & view.agent_types:
            return (
                f"node {node_id} may be served only by the types {quoted(names)}, which no agent has "
                f"(agent types: {quoted(sorted(view.agent_types))})"
            )
    return None

