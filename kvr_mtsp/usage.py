"""What every subcommand of the command line shares: its name in messages,
the exit status of bad input, the exception that carries such a message,
the argument types of its numbers and the reading of its files."""
from __future__ import annotations

import argparse
import math
import sys
from collections.abc import Callable
from typing import Any

from kvr_mtsp.json_text import JsonTextError, loads

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


def positive_seconds(text: str) -> float:
    """Argument type: a positive finite number of seconds."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number of seconds") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive finite number of seconds")
    return value


def positive_whole(what: str) -> Callable[[str], int]:
    """Argument type: a whole number of at least 1, `what` naming it in the message."""

    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r} is not a whole number") from None
        if value < 1:
            raise argparse.ArgumentTypeError(f"{text!r} is not a positive number of {what}")
        return value

    return parse


def read_bytes(path: str) -> bytes:
    """The file's bytes; BadInput naming the path and the reason when it cannot be read."""
    try:
        with open(path, "rb") as stream:
            return stream.read()
    except OSError as error:
        raise BadInput(f"cannot read {path}: {error.strerror or error}") from None


def read_json(path: str) -> Any:
    """The parsed JSON file, read as `kvr_mtsp.json_text` reads it; BadInput naming what is wrong."""
    raw = read_bytes(path)
    try:
        return loads(raw)
    except JsonTextError as error:
        raise BadInput(f"{path} is not valid JSON: {error}" if error.syntax else f"{path}: {error}") from None
