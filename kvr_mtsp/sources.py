"""The three forms an instance or a result is handed over in: a dict, a JSON
text or a path. `source` is the one place that tells them apart, for
`kvr_mtsp.api` (and batch, through it) and for the independent checker; pure
Python, so that the checker loads without the extension."""
from __future__ import annotations

import os
from collections.abc import Mapping
from typing import Any

# What `source` tells apart.
DICT, TEXT, PATH = "dict", "text", "path"


def looks_like_json(text: str) -> bool:
    """Whether `text` is a JSON text rather than a path: its first character
    after white space (and a byte-order mark) opens an object or an array."""
    return text.lstrip().removeprefix("\ufeff").startswith(("{", "["))


def source(instance: Any, what: str = "instance") -> tuple[str, Any]:
    """(DICT, the mapping), (TEXT, the JSON text) or (PATH, the path as a
    str). TypeError, naming `what`, for anything else."""
    if isinstance(instance, Mapping):
        return DICT, instance
    if isinstance(instance, str) and looks_like_json(instance):
        return TEXT, instance
    if isinstance(instance, (str, os.PathLike)):
        return PATH, os.fsdecode(instance)
    raise TypeError(f"{what} must be a path, a JSON text or a dict, not {type(instance).__name__}")
