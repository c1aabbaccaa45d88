"""Solver for the multiple travelling salesman problem with heterogeneous agents.

`import kvr_mtsp` is all a user needs: the package gives the classes,
enumerations and functions of the compiled `_kvr_core` extension under its
own name (the very same objects), and the installed version as `__version__`.

    import kvr_mtsp
    result = kvr_mtsp.solve_json_file("instance.json", time_limit=5)

The extension is loaded when one of its names is first used, so that the
package's pure-Python parts (`kvr_mtsp.json_ints`, which the independent
result checker uses) import without it.
"""
from __future__ import annotations

import importlib
from importlib import metadata
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from _kvr_core import (
        Agent,
        AssignmentConstraint,
        Node,
        NodeType,
        ObjectiveType,
        Options,
        Position,
        Problem,
        Result,
        Solver,
        TimeWindowConstraint,
        solve_json_file,
        solve_json_str,
    )

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
    "Result",
    "Solver",
    "solve_json_file",
    "solve_json_str",
]

# The version is written once, in pyproject.toml; the installed metadata carries it.
try:
    __version__ = metadata.version("kvr-mtsp")
except metadata.PackageNotFoundError:  # a source tree that was never installed
    __version__ = "0+unknown"

_EXTENSION_NAMES = frozenset(__all__)


def __getattr__(name: str) -> Any:
    if name not in _EXTENSION_NAMES:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    value = getattr(importlib.import_module("_kvr_core"), name)
    globals()[name] = value  # later look-ups no longer come here
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | _EXTENSION_NAMES)
