"""Integer fields of an instance document, converted as the instance reader does.

Ids (of nodes and agents, and the node references of constraints) are
unsigned 64-bit; route-length limits and capacities are signed 32-bit. The
reader accepts any JSON number and booleans for both:

- integers keep their low 64 (or 32) bits, so negative ids wrap around;
- floats are truncated toward zero and clamped to the target range, NaN
  gives 0 (ids: everything not above 0 gives 0);
- booleans count as 1 and 0.

The JSON parser stores an integer literal outside [-2^63, 2^64) as a double,
so a Python int outside that range converts as the float it becomes; one
beyond the range of a double the parser refuses, and so does this module
(ValueError).

Pure Python on purpose: the result checker uses it and must not load the
solver extension.
"""
from __future__ import annotations

import math

U64_MAX = 2**64 - 1
I32_MIN, I32_MAX = -(2**31), 2**31 - 1


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


def as_i32(value: object) -> int:
    """A route-length limit or capacity as the reader stores it."""
    number = _parsed(value)
    if isinstance(number, int):
        low = number % 2**32
        return low - 2**32 if low > I32_MAX else low
    if math.isnan(number):
        return 0
    if number >= 2.0**31:
        return I32_MAX
    if number <= -(2.0**31) - 1:
        return I32_MIN
    return int(number)
