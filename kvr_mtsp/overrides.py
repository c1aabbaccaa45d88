"""Settings given outside an instance document, written into its "options".

The command line's flags and the arguments of `kvr_mtsp.solve` replace the
document's own options the same way: the document is read as JSON, the
given keys are set in its "options" object (created when absent), and the
solver reads the rewritten text. A document Python's reader does not take
as an object with an object "options" is left to the solver's reader, which
reports what is wrong with it. A document the package's reader refuses
although it is JSON (nested too deeply, a number beyond a double) raises
that reader's JsonTextError, whose one-line message says why.
"""
from __future__ import annotations

from collections.abc import Mapping
from typing import Any

from kvr_mtsp.json_text import JsonTextError, loads


def parse_document(raw: bytes | str) -> dict[str, Any] | None:
    """The document as a dict, or None when it is no JSON (NaN and Infinity
    included), no object, or has an "options" that is not an object;
    JsonTextError for the JSON the package's reader refuses."""
    try:
        document = loads(raw)
    except JsonTextError as error:
        if not error.syntax:
            raise
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
