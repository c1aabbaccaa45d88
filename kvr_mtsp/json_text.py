"""Reading a JSON document as the solver's parser reads it.

Every reader of the package (the command line, `kvr_mtsp.solve`, batch,
validate, plot) goes through `loads`, so that Python and the solver agree on
what a document holds:

- a leading UTF-8 byte-order mark is skipped;
- a NUL character ends the text, as it ends the solver parser's input;
- a number beyond the range of a double is refused ("number overflow
  parsing ..."), as the solver's parser refuses it, and so are the
  constants NaN and Infinity;
- a document nested deeper than Python's reader can follow is refused with a
  message saying so, instead of a RecursionError.

`JsonTextError` (a ValueError) carries a one-line message; `syntax` tells a
text that is no JSON at all from a JSON text the reader refuses.

Pure Python on purpose, like `kvr_mtsp.json_ints`: it loads without the
solver extension.
"""
from __future__ import annotations

import json
import math
import re
from typing import Any

# Longest piece of a refused number quoted in a message.
_QUOTED_DIGITS = 24
# Only a literal with 300 digits or more or a three-digit exponent can pass
# the range of a double; texts without one are read without the (slower)
# per-number checks.
_MAY_OVERFLOW = re.compile(r"\d{300}|[eE][+-]?\d{3}")


class JsonTextError(ValueError):
    """A text the package's reader refuses. `syntax` is True when the text is
    no JSON (the solver's parser refuses it too and words it its own way)."""

    def __init__(self, message: str, *, syntax: bool) -> None:
        super().__init__(message)
        self.syntax = syntax


def _overflow(literal: str) -> JsonTextError:
    if len(literal) > _QUOTED_DIGITS:
        literal = f"{literal[:_QUOTED_DIGITS]}...' ({len(literal)} characters)"
    else:
        literal += "'"
    return JsonTextError(f"number overflow parsing '{literal}", syntax=False)


def _number(literal: str) -> float:
    value = float(literal)  # never raises for a JSON number literal: too large becomes infinite
    if math.isinf(value):
        raise _overflow(literal)
    return value


def _integer(literal: str) -> int | float:
    # Checked as a double first: Python refuses to convert integers of more
    # than 4,300 digits, and any of more than 309 overflows a double anyway.
    _number(literal)
    return int(literal)


def _constant(name: str) -> None:
    raise JsonTextError(f"{name} is not a JSON number", syntax=True)


def loads(raw: bytes | str) -> Any:
    """The document held by `raw` (UTF-8 bytes or text); JsonTextError when it is refused."""
    try:
        text = raw.decode("utf-8-sig") if isinstance(raw, bytes) else raw.removeprefix("\ufeff")
    except UnicodeDecodeError as error:
        raise JsonTextError(f"not UTF-8 text: {error}", syntax=True) from None
    end = text.find("\0")
    if end >= 0:
        text = text[:end]
    try:
        if _MAY_OVERFLOW.search(text):
            return json.loads(text, parse_constant=_constant, parse_float=_number, parse_int=_integer)
        return json.loads(text, parse_constant=_constant)
    except JsonTextError:
        raise
    except RecursionError:
        raise JsonTextError(
            "arrays and objects are nested too deeply to read (an instance document nests them a few levels deep)",
            syntax=False,
        ) from None
    except json.JSONDecodeError as error:
        raise JsonTextError(str(error), syntax=True) from None
