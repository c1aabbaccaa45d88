"""Solver for the multiple travelling salesman problem with heterogeneous agents.

`import kvr_mtsp` is all a user needs: the package gives the classes,
enumerations and functions of the compiled `_kvr_core` extension under its
own name (the very same objects), and the installed version as `__version__`.

    import kvr_mtsp
    result = kvr_mtsp.solve("instance.json", time_limit=5)
    print(result.objective, [route.node_ids for route in result.routes])

`kvr_mtsp.solve` (from `kvr_mtsp.api`) takes a path, a JSON text or a dict
and returns a typed `SolveResult`; `kvr_mtsp.solve_many` (from
`kvr_mtsp.batch`, with Dask: `pip install kvr-mtsp[batch]`) solves many on a
Dask cluster and returns a `BatchOutcome` each; `kvr_mtsp.check` (from
`kvr_mtsp.checker`) checks a result against its instance on its own and
names every violation; the module's own `solve_json_file` and
`solve_json_str` return the result document as a dict.

The extension is loaded when one of its names is first used, so that the
package's pure-Python parts (the independent result checker
`kvr_mtsp.checker` and the readers it uses) import without it.
"""
from __future__ import annotations

import importlib
from importlib import metadata
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from _kvr_core import (
        Agent,
        AssignmentConstraint,
        MAX_SEARCH_NODES,
        ConsoleRecord,
        Node,
        NodeType,
        ObjectiveType,
        Options,
        Position,
        Problem,
        ProgressRecord,
        Result,
        Solver,
        TimeWindowConstraint,
        read_document,
        read_document_file,
        solve_json_file,
        solve_json_str,
        solve_problem,
    )

    from kvr_mtsp.api import AnytimePoint, Route, SolveResult, Statistics, Stop, solve
    from kvr_mtsp.batch import BatchOutcome, solve_many
    from kvr_mtsp.checker import Verdict, Violation, check
    from kvr_mtsp.console import SolverWarning

__all__ = [
    "ObjectiveType",
    "NodeType",
    "Position",
    "Node",
    "Agent",
    "Options",
    "AssignmentConstraint",
    "TimeWindowConstraint",
    "Problem",
    "ProgressRecord",
    "ConsoleRecord",
    "Result",
    "Solver",
    "solve_json_file",
    "solve_json_str",
    "read_document",
    "read_document_file",
    "solve_problem",
    "MAX_SEARCH_NODES",
    "solve",
    "SolveResult",
    "Route",
    "Stop",
    "AnytimePoint",
    "Statistics",
    "solve_many",
    "BatchOutcome",
    "check",
    "Verdict",
    "Violation",
    "SolverWarning",
]

# The version is written once, in pyproject.toml; the installed metadata carries it.
try:
    __version__ = metadata.version("kvr-mtsp")
except metadata.PackageNotFoundError:  # a source tree that was never installed
    __version__ = "0+unknown"

# Where each public name lives; the modules are imported on first use.
_API_NAMES = frozenset({"solve", "SolveResult", "Route", "Stop", "AnytimePoint", "Statistics"})
_BATCH_NAMES = frozenset({"solve_many", "BatchOutcome"})
_CHECK_NAMES = frozenset({"check", "Verdict", "Violation"})
_CONSOLE_NAMES = frozenset({"SolverWarning"})
_HOME = {
    name: "kvr_mtsp.api" if name in _API_NAMES
    else "kvr_mtsp.batch" if name in _BATCH_NAMES
    else "kvr_mtsp.checker" if name in _CHECK_NAMES
    else "kvr_mtsp.console" if name in _CONSOLE_NAMES
    else "_kvr_core"
    for name in __all__
}


def __getattr__(name: str) -> Any:
    if name not in _HOME:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    value = getattr(importlib.import_module(_HOME[name]), name)
    globals()[name] = value  # later look-ups no longer come here
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_HOME))
