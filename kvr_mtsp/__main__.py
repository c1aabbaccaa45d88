"""Entry point of `python -m kvr_mtsp` and of the `kvr-mtsp` command.

The command line is imported under the signal guard, so that Ctrl-C or
SIGTERM while the solver and its helpers load ends the command as it does
later (kvr_mtsp.signals).
"""
from __future__ import annotations

from kvr_mtsp.signals import guarded


def _run() -> int:
    from kvr_mtsp.cli import main as command_line

    return command_line()


def main() -> int:
    return guarded(_run)


if __name__ == "__main__":
    raise SystemExit(main())
