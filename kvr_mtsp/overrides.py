"""Settings given outside an instance document, written into its "options".

The command line's flags and the arguments of `kvr_mtsp.solve` replace the
document's own options the same way: the document is read as JSON, the
given keys are set in its "options" object (created when absent), and the
solver reads the rewritten text. A document Python's reader does not take
as an object with an object "options" is left to the solver's reader, which
reports what is wrong with it.
"""
from __future__ import annotations

import json
from collections.abc import Mapping
from typing import Any

# Improvement-engine iterations in a row without a better solution after
# which the package's solves (`kvr_mtsp.solve`, the command line, batch) end
# the engine; the module's own default is no such limit. Chosen well above
# the longest stretch without improvement on the benchmark suites (see
# benchmarks/README.md), so that it ends converged runs, not improving ones.
MAX_NO_IMPROVEMENT = 10_000


def _reject_constant(constant: str) -> None:
    # NaN and Infinity: the solver's reader refuses them, so the solver should see them.
    raise ValueError(constant)


def parse_document(raw: bytes | str) -> dict[str, Any] | None:
    """The document as a dict, or None when it is no JSON object, holds a
    non-finite constant, or has an "options" that is not an object."""
    try:
        text = raw.decode("utf-8-sig") if isinstance(raw, bytes) else raw.removeprefix("\ufeff")
        document = json.loads(text, parse_constant=_reject_constant)
    except ValueError:  # UnicodeDecodeError and JSONDecodeError included
        return None
    if not isinstance(document, dict) or not isinstance(document.get("options", {}), dict):
        return None
    return document


def with_options(document: Mapping[str, Any], options: Mapping[str, Any]) -> dict[str, Any]:
    """A shallow copy of `document` whose "options" hold `options` over its own;
    keys whose value is None are left as the document has them."""
    merged = dict(document)
    merged["options"] = dict(document.get("options", {}))
    merged["options"].update({key: value for key, value in options.items() if value is not None})
    return merged


def with_defaults(document: Mapping[str, Any], defaults: Mapping[str, Any]) -> dict[str, Any]:
    """A shallow copy of `document` whose "options" take `defaults` for the
    keys they do not hold."""
    merged = dict(document)
    options = dict(document.get("options", {}))
    merged["options"] = {**options, **{key: value for key, value in defaults.items() if key not in options}}
    return merged
