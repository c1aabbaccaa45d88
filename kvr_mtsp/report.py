"""How the command line and batch tell a person about a solve: the
module's exceptions as one line naming the document, the reason a solve
found no solution, and the result document with node ids.

The module's exceptions already name what the document gets wrong: the
reader's refusals carry the element and key as their "detail", a failed
look-up during construction says which agent or type after the library's
text. Below both `kvr_mtsp.cli` and `kvr_mtsp.batch`, which share it.
"""
from __future__ import annotations

import re
from typing import TYPE_CHECKING, Any

from kvr_mtsp.progress import fmt

if TYPE_CHECKING:
    from kvr_mtsp.api import SolveResult

# What the extension raises for input it rejects: RuntimeError (file, parse
# and shape errors), IndexError (unknown ids and type names), ValueError (too
# many nodes), OverflowError.
INPUT_ERRORS = (RuntimeError, IndexError, ValueError, OverflowError)
JSON_ERROR = re.compile(r"\[json\.exception\.(\w+)\.(\d+)\] (.*)", re.DOTALL)
# The library's text of a failed look-up, which construction follows with the agent or type.
NOT_FOUND = "unordered_map::at: key not found"


def result_document(result: SolveResult) -> dict[str, Any]:
    """The module's result document with two keys added to every route:
    "node_ids" (the path as node ids) and "agent_index" (the agent's place in
    the document's "agents" array, the key of Result.paths)."""
    document = result.to_dict()
    document["routes"] = [
        {**route.to_dict(), "node_ids": list(route.node_ids), "agent_index": route.agent_index}
        for route in result.routes
    ]
    return document


def one_line(text: str) -> str:
    return " ".join(text.split())


def explain(error: Exception, path: str) -> str:
    """A message for an exception of the solver, naming what the document gets wrong."""
    detail = getattr(error, "detail", None)
    if isinstance(detail, str) and detail:
        return f"{path}: {one_line(detail)}"
    text = one_line(str(error)) or type(error).__name__
    if isinstance(error, IndexError):
        where = text.removeprefix(NOT_FOUND).removeprefix(":").strip()
        return f"{path}: {where}" if where else f"{path}: an unknown node id or agent type ({text})"
    match = JSON_ERROR.fullmatch(text)
    if match is None:
        if text.startswith("Cannot open file: ") or "error reading the file" in text:
            return f"cannot read {path}: {text}"
        return f"{path}: {text}"
    kind, _, detail = match.groups()
    if kind == "parse_error":
        return f"{path} is not valid JSON: {detail}"
    return f"{path}: {detail}"


def why_failed(result: SolveResult, limit: float | None, unservable: str | None, memory_stop: bool = False) -> str:
    """Why `result` has no solution: `limit` is the time limit the solve had
    (None: unknown), `unservable` a node no agent may serve, when there is one."""
    if result.timeout and memory_stop:
        return (
            "no solution: the memory budget ran out before the search found one; "
            "a larger --memory-limit-mb may help"
        )
    if result.timeout:
        if limit is not None and limit <= 0:
            return (
                f"no solution: the instance's time limit ({fmt(limit)} s) leaves the search no time; "
                "give one with --time-limit"
            )
        return "no solution: the time limit ran out before the search found one; a larger --time-limit may help"
    reason = "no solution: the search ended without routes that serve every target within the constraints"
    return f"{reason}; {unservable}" if unservable else reason
