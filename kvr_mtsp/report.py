"""How the command line and batch tell a person about a solve: the
module's exceptions worded to name the element of the document behind them,
the reason a solve found no solution, and the result document with node ids.

Below both `kvr_mtsp.cli` and `kvr_mtsp.batch`, which share it.
"""
from __future__ import annotations

import re
from typing import Any

from kvr_mtsp.instance import InstanceView
from kvr_mtsp.progress import fmt

# What the extension raises for input it rejects: RuntimeError (file, parse
# and shape errors), IndexError (unknown ids and type names), ValueError (too
# many nodes), OverflowError.
INPUT_ERRORS = (RuntimeError, IndexError, ValueError, OverflowError)
JSON_ERROR = re.compile(r"\[json\.exception\.(\w+)\.(\d+)\] (.*)", re.DOTALL)


def result_document(result: dict[str, Any], view: InstanceView) -> dict[str, Any]:
    """The module's result document with two keys added to every route:
    "node_ids" (the path as node ids) and "agent_index" (the agent's place in
    the document's "agents" array, the key of Result.paths)."""
    document = dict(result)
    document["routes"] = [
        {**route, "node_ids": [view.node_ids[p] if 0 <= p < len(view.node_ids) else None for p in route["path"]],
         "agent_index": index}
        for index, route in enumerate(result["routes"])
    ]
    return document


def one_line(text: str) -> str:
    return " ".join(text.split())


def explain(error: Exception, path: str, view: InstanceView) -> str:
    """A message for an exception of the solver, naming what the document gets wrong."""
    text = one_line(str(error)) or type(error).__name__
    if isinstance(error, IndexError):
        where = view.unknown_reference()
        return f"{path}: {where}" if where else f"{path}: an unknown node id or agent type ({text})"
    match = JSON_ERROR.fullmatch(text)
    if match is None:
        if text.startswith("Cannot open file: ") or "error reading the file" in text:
            return f"cannot read {path}: {text}"
        return f"{path}: {text}"
    kind, _, detail = match.groups()
    if kind == "parse_error":
        return f"{path} is not valid JSON: {detail}"
    return f"{path}: {view.locate(detail) or detail}"


def why_failed(result: dict[str, Any], requested: float | None, view: InstanceView, memory_stop: bool = False) -> str:
    if result["timeout"] and memory_stop:
        return (
            "no solution: the memory budget ran out before the search found one; "
            "a larger --memory-limit-mb may help"
        )
    if result["timeout"]:
        limit = requested if requested is not None else view.time_limit
        if limit is not None and limit <= 0:
            return (
                f"no solution: the instance's time limit ({fmt(limit)} s) leaves the search no time; "
                "give one with --time-limit"
            )
        return "no solution: the time limit ran out before the search found one; a larger --time-limit may help"
    reason = "no solution: the search ended without routes that serve every target within the constraints"
    hint = view.unservable_node()
    return f"{reason}; {hint}" if hint else reason
