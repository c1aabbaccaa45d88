"""What every subcommand of the command line shares: its name in messages,
the exit status of bad input, and the exception that carries such a message."""
from __future__ import annotations

import json
import sys
from typing import Any

PROG = "kvr-mtsp"
EXIT_BAD_INPUT = 2


class BadInput(Exception):
    """Input the command cannot use; the message says what to fix."""


class MissingExtra(BadInput):
    """A command needs a package of an optional extra that is not installed."""

    def __init__(self, task: str, package: str, extra: str) -> None:
        super().__init__(
            f"{task} needs the package {package}, which is not installed; "
            f"install the extra with: pip install 'kvr-mtsp[{extra}]' (from a source tree: pip install '.[{extra}]')"
        )


def report(error: BadInput) -> int:
    """Prints the one-line message of `error` and gives the exit status of bad input."""
    print(f"{PROG}: error: {error}", file=sys.stderr)
    return EXIT_BAD_INPUT


def read_json(path: str) -> Any:
    """The parsed JSON file (a leading byte-order mark allowed); BadInput naming what is wrong."""
    try:
        with open(path, "rb") as stream:
            raw = stream.read()
    except OSError as error:
        raise BadInput(f"cannot read {path}: {error.strerror or error}") from None
    try:
        return json.loads(raw.removeprefix(b"\xef\xbb\xbf").decode("utf-8"))
    except ValueError as error:
        raise BadInput(f"{path} is not valid JSON: {error}") from None
