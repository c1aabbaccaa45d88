"""What every subcommand of the command line shares: its name in messages,
the exit status of bad input, the exception that carries such a message,
the argument types of its numbers, the flags that switch parts of a solve
on and off, and the reading of its files."""
from __future__ import annotations

import argparse
import math
import os
import sys
import tempfile
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


def finite_number(text: str) -> float:
    """Argument type: a finite number (NaN and infinities cannot be written
    into a document's "options"; the solver checks the range)."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"{text!r} is not a finite number")
    return value


def add_solve_switches(parser: argparse.ArgumentParser) -> None:
    """The flags that switch parts of a solve on and off, each on by default
    and replacing the document's own option: solve's, and validate's, which
    judges a document as solve with the same flags would solve it."""
    parser.add_argument(
        "--improve",
        action=argparse.BooleanOptionalAction,
        default=True,
        help="improve the focal search's first solution with the improvement engine (default: on)",
    )
    parser.add_argument(
        "--precedence",
        action=argparse.BooleanOptionalAction,
        default=True,
        help='honour the precedence pairs (sets the option "enforce_precedence"; default: on)',
    )
    parser.add_argument(
        "--capacity",
        action=argparse.BooleanOptionalAction,
        default=True,
        help='keep the demands on each route within its agent\'s capacity (sets the option "enforce_capacity"; '
        "default: on)",
    )


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


def write_atomically(path: str, text: str) -> None:
    """Writes `text` to `path` so that readers see the previous file or the
    whole new one, never a part: a hidden temporary file beside the target
    is written, synced and renamed into place; when any step fails, the
    temporary file is removed and the previous file stays as it was. A
    target that exists but is no regular file (a device, a pipe) is written
    directly, since renaming would replace the device itself."""
    target = os.path.realpath(path)  # a symbolic link keeps pointing at the new file
    if os.path.exists(target) and not os.path.isfile(target):
        with open(target, "w", encoding="utf-8", newline="") as stream:
            stream.write(text)
        return
    folder, name = os.path.split(target)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=f".{name}.", suffix=".tmp")
    try:
        os.chmod(temporary, 0o666 & ~_umask())  # mkstemp makes the file private; results are ordinary files
        with os.fdopen(handle, "w", encoding="utf-8", newline="") as stream:
            stream.write(text)
            stream.flush()
            os.fsync(stream.fileno())
        os.replace(temporary, target)
    except BaseException:
        try:
            os.remove(temporary)
        except OSError:
            pass
        raise


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask
