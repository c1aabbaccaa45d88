"""What the solver's reader accepts but makes its answer meaningless: ids
and type names of a document that point nowhere, cost matrices of the
wrong shape, and more nodes than the focal search takes.

The reader takes a constraint naming a node that does not exist (and
ignores it), an agent type without a cost matrix (its agents then have
no connection anywhere), and a matrix with fewer or more rows or columns
than there are nodes (what it lacks is no connection, what it has beyond
the nodes is ignored); a node whose assignment names only types no agent
has cannot be served. Validate reports all of them (`kvr_mtsp.validate`),
the command line refuses the first three before the solve in validate's
words, and names the last when a solve finds no solution. Each check reads
the document through an `InstanceView` or as parsed JSON, and takes any
document: what is not of the right JSON type is left to the reader.
"""
from __future__ import annotations

from collections.abc import Iterator
from typing import Any

import _kvr_core

from kvr_mtsp.instance import InstanceView, to_id

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


def too_many_nodes(count: int, improve: bool) -> str | None:
    """Why `count` nodes cannot be solved with the improvement engine on
    (`improve`) or off, None when they can: the focal search takes at most
    MAX_SEARCH_NODES, the engine alone any number. Worded for the command
    line, whose --no-improve turns the engine off."""
    if improve or count <= _kvr_core.MAX_SEARCH_NODES:
        return None
    return (
        f"{count} nodes, but the focal search takes at most {_kvr_core.MAX_SEARCH_NODES} and --no-improve "
        "turns off the improvement engine, which solves larger instances; drop --no-improve"
    )


def cost_path(document: dict[str, Any], name: str) -> str:
    """The JSON path of the matrix `name` in "costs" (an object, or an array whose matrices are "0", "1", ...)."""
    return f"$.costs[{name}]" if isinstance(document.get("costs"), list) else f"$.costs.{name}"


def matrices(document: Any) -> Iterator[tuple[str, Any]]:
    """(type name, matrix) of every matrix in "costs", named as the reader names them."""
    costs = document.get("costs") if isinstance(document, dict) else None
    if isinstance(costs, dict):
        yield from costs.items()
    elif isinstance(costs, list):
        yield from ((str(index), matrix) for index, matrix in enumerate(costs))


def shape_mistakes(document: Any) -> Iterator[str]:
    """'$.path: message' for every cost matrix that is not one row per node
    of one cost per node: the reader takes it, reading what it lacks as no
    connection, so a short matrix would otherwise surface only as nodes no
    agent can reach. A matrix for a type no agent has is refused as such."""
    nodes = document.get("nodes") if isinstance(document, dict) else None
    if not isinstance(nodes, list):
        return
    count = len(nodes)
    used = InstanceView(document).agent_types
    for name, matrix in matrices(document):
        if not isinstance(matrix, list) or name not in used:
            continue
        widths = [len(row) for row in matrix if isinstance(row, list)]
        if len(matrix) == count and all(width == count for width in widths):
            continue
        if not widths:
            shape = f"{len(matrix)} rows"
        elif min(widths) == max(widths):
            shape = f"{len(matrix)} x {widths[0]}"
        else:
            odd = next(at for at, row in enumerate(matrix) if isinstance(row, list) and len(row) != count)
            shape = (f"{len(matrix)} rows of {min(widths)} to {max(widths)} costs "
                     f"(row {odd} has {len(matrix[odd])})")
        yield (f"{cost_path(document, name)}: the matrix of the type {name!r} is {shape} for {count} nodes; "
               f"it needs {count} rows of {count} costs, row and column i being the node at position i")


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

