"""The cores this process may run on: the package's default for the
solver's "threads" and for batch's worker processes."""
from __future__ import annotations

import os


def available_cores() -> int:
    """The cores this process may run on (its CPU affinity where the
    platform has one, else the machine's count)."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1
