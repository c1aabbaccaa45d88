"""Integer fields of an instance document, converted as the instance reader does.

Ids (of nodes and agents, and the node references of constraints) are
unsigned 64-bit; the options "seed" and "max_iterations" are signed 64-bit.
The reader accepts any JSON number for both:

- ids: integers keep their low 64 bits, so negative ids wrap around; floats
  are truncated toward zero and clamped to the range (everything not above 0,
  NaN too, gives 0); booleans count as 1 and 0;
- options: integers and floats (truncated toward zero) must fall in the
  signed 64-bit range, anything else is refused with ValueError; booleans
  are no numbers there.

The JSON parser stores an integer literal outside [-2^63, 2^64) as a double,
so a Python int outside that range converts as the float it becomes; one
beyond the range of a double the parser refuses, and so does this module
(ValueError).

Route-length limits and capacities are no integer fields: the reader keeps
them as the numbers given.

Pure Python on purpose: the result checker uses it and must not load the
solver extension.
"""
from __future__ import annotations

import math

U64_MAX = 2**64 - 1
I64_MIN, I64_MAX = -(2**63), 2**63 - 1


def _parsed(value: object) -> int | float:
    """The number the parser stores for `value`; TypeError for anything else,
    ValueError for an integer beyond the range of a double."""
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int):
        if -(2**63) <= value <= U64_MAX:
            return value
        try:
            return float(value)
        except OverflowError:
            digits = int(value.bit_length() * math.log10(2)) + 1
            raise ValueError(f"number overflow: an integer of about {digits} digits is beyond a double") from None
    if isinstance(value, float):
        return value
    raise TypeError(f"number expected, got {value!r}")


def as_u64(value: object) -> int:
    """An id as the reader stores it."""
    number = _parsed(value)
    if isinstance(number, int):
        return number % 2**64
    if not number > 0:  # NaN too
        return 0
    if number >= 2.0**64:
        return U64_MAX
    return int(number)


def as_i64_option(value: object, key: str) -> int:
    """"seed", "max_iterations" or "max_no_improvement" as the reader stores it; ValueError naming
    `key` when the value lies outside the signed 64-bit range. Booleans are
    no numbers here (TypeError)."""
    if isinstance(value, bool):
        raise TypeError(f"number expected, got {value!r}")
    number = _parsed(value)
    if isinstance(number, float):
        number = int(number) if math.isfinite(number) else None
    if number is None or not I64_MIN <= number <= I64_MAX:
        raise ValueError(f"option {key!r} must be a whole number from {I64_MIN} to {I64_MAX}, got {value!r}")
    return number
