"""Command line `kvr-mtsp batch`: solve many instances on Dask and write one result per instance.

    kvr-mtsp batch INSTANCES... --out DIR [--workers N | --scheduler ADDRESS]
                   [--time-limit S] [--wall-time-limit S] [--threads N]
                   [--improve | --no-improve] [--seed K (default 0)]
                   [--capacity | --no-capacity] [--precedence | --no-precedence]
                   [--schedule | --no-schedule] [--force]

INSTANCES are files, directories (their *.json files, without *.result.json)
and glob patterns. Each instance is solved by `kvr_mtsp.solve_many`, on a
local cluster of N worker processes or on the Dask cluster whose scheduler
listens at ADDRESS. Written to DIR:

- `<stem>.result.json` per solved instance (`<stem>-<8 hex digits>` when
  instances from different folders share a file name, the digits taken from
  the instance's absolute path): the result document of `solve --output`
  plus a "batch" object with the instance's SHA-256, the settings, the
  objective, the processor time and the peak memory of the solve;
- `summary.csv`: instance, status, objective, longest, total, cpu_time_s,
  peak_memory_mb, error; one row per instance in the order given.

Every file is written to a hidden temporary file in DIR first and renamed
into place, so a stopped batch leaves complete files only. A rerun skips an
instance whose result file parses, records the SHA-256 of the instance's
current bytes and the same settings (--force solves it again). Statuses:
"success" and "failed" (the solver's), "error" (the instance could not be
read or solved, or its worker died twice), "cancelled" (not started before
Ctrl-C). On Ctrl-C the running solves stop as the command line's solve
does: each writes its best solution so far (its "batch" record says
"interrupted": true, the summary's error column says so, and a rerun solves
it again); the solves not started are cancelled.

Exit status: 0 when every instance has a solution; 1 when one has none or an
error; 2 for bad arguments, an output folder that cannot be made, no
instance found, or a cluster that cannot be reached or cannot import the
solver; 130 after Ctrl-C (143 after SIGTERM), once the running solves have
written their best solutions, the others are cancelled and the summary of
what was done is written.
"""
from __future__ import annotations

import argparse
import csv
import glob
import hashlib
import io
import json
import os
import signal
import sys
import tempfile
from collections import Counter
from collections.abc import Callable, Sequence
from typing import Any

from kvr_mtsp.batch import ERROR, SUCCESS, BatchOutcome, digest_of, solve_many
from kvr_mtsp.signals import exit_status, stop_signals_raise
from kvr_mtsp.usage import positive_seconds, positive_whole, write_atomically

SUMMARY_COLUMNS = ("instance", "status", "objective", "longest", "total", "cpu_time_s", "peak_memory_mb", "error")
CANCELLED = "cancelled"
RESULT_SUFFIX = ".result.json"
GLOB_CHARACTERS = frozenset("*?[")


def register(commands: Any) -> None:
    """Registers the "batch" subcommand with the command line's subparsers."""
    batch = commands.add_parser("batch", help="solve many instances on a Dask cluster, one result file each")
    batch.add_argument("instances", nargs="+", metavar="INSTANCE",
                       help="instance documents: files, directories (their *.json) or glob patterns")
    batch.add_argument("--out", required=True, metavar="DIR",
                       help="folder for the result documents and summary.csv (created when missing)")
    engines = batch.add_mutually_exclusive_group()
    engines.add_argument("--workers", type=positive_whole("workers"), metavar="N",
                         help="worker processes of the local Dask cluster (default: the number of cores)")
    engines.add_argument("--scheduler", metavar="ADDRESS",
                         help="solve on the existing Dask cluster whose scheduler listens at ADDRESS "
                              "(tcp://HOST:PORT) instead of a local one")
    batch.add_argument("--time-limit", type=positive_seconds, default=None, metavar="S",
                       help="processor seconds of search per instance, of every thread of its solve together; "
                            "replaces each instance's own limit")
    batch.add_argument("--wall-time-limit", type=positive_seconds, default=None, metavar="S",
                       help='wall-clock seconds of search per instance (the option "wall_time_limit"); a solve '
                            "ends at whichever limit comes first")
    batch.add_argument("--improve", action=argparse.BooleanOptionalAction, default=True,
                       help="improve the focal search's first solution with the improvement engine (default: on)")
    batch.add_argument("--seed", type=int, default=0, metavar="K",
                       help="random seed of the improvement engine (default 0, as kvr_mtsp.solve's)")
    batch.add_argument("--capacity", action=argparse.BooleanOptionalAction, default=True,
                       help="keep each route's demands within its agent's capacity (the option "
                            "\"enforce_capacity\"; default: on)")
    batch.add_argument("--precedence", action=argparse.BooleanOptionalAction, default=True,
                       help='honour the precedence pairs (the option "enforce_precedence"; default: on)')
    batch.add_argument("--schedule", action=argparse.BooleanOptionalAction, default=True,
                       help="give each route its schedule: arrival, start, departure and load per stop "
                            '(the option "schedule"; default: on)')
    batch.add_argument("--threads", type=positive_whole("threads"), default=None, metavar="N",
                       help="threads of the improvement engine per solve (default: the cores divided among "
                            "the concurrent solves, at least 1)")
    batch.add_argument("--force", action="store_true", help="solve again instances whose result exists")
    batch.set_defaults(run=batch_command)


# --- instances and file names ---------------------------------------------------


def expand_instances(arguments: Sequence[str]) -> tuple[list[str], list[str]]:
    """(instance paths in the order given, without repeats; arguments that named nothing).
    A path that is neither a folder nor a pattern is kept, so that a missing
    file is reported with the other instances."""
    paths: list[str] = []
    unmatched: list[str] = []
    for argument in arguments:
        if os.path.isdir(argument):
            found = _folder_documents(argument)
        elif GLOB_CHARACTERS & set(argument) and not os.path.exists(argument):
            found = []
            for match in sorted(glob.glob(argument)):
                found += _folder_documents(match) if os.path.isdir(match) else [match]
        else:
            found = [argument]
        if not found:
            unmatched.append(argument)
        paths += found
    seen: set[str] = set()
    unique = []
    for path in paths:
        key = os.path.realpath(path)
        if key not in seen:
            seen.add(key)
            unique.append(path)
    return unique, unmatched


def _folder_documents(folder: str) -> list[str]:
    return sorted(
        os.path.join(folder, name) for name in os.listdir(folder)
        if name.endswith(".json") and not name.endswith(RESULT_SUFFIX)
        and os.path.isfile(os.path.join(folder, name))
    )


def result_names(paths: Sequence[str]) -> list[str]:
    """The result file name of each instance: its stem, with a digest of its
    absolute path added when another instance has the same stem."""
    stems = [_stem(path) for path in paths]
    counts = Counter(stems)
    names = []
    for path, stem in zip(paths, stems):
        if counts[stem] > 1:
            stem += "-" + hashlib.sha256(os.path.abspath(path).encode()).hexdigest()[:8]
        names.append(stem + RESULT_SUFFIX)
    return names


def _stem(path: str) -> str:
    name = os.path.basename(path)
    return name[: -len(".json")] if name.endswith(".json") else name


# --- result files ---------------------------------------------------------------------


def result_document(outcome: BatchOutcome, settings: dict[str, Any]) -> dict[str, Any]:
    """The result document of `solve --output` with the batch's record of the solve."""
    from kvr_mtsp.report import result_document as with_node_ids

    result = outcome.result
    document = with_node_ids(result)
    document["batch"] = {
        "instance": outcome.instance,
        "instance_sha256": outcome.digest,
        "settings": settings,
        "objective_type": result.objective_type,
        "objective": result.objective,
        "cpu_time": outcome.cpu_time,
        "peak_memory_mb": outcome.peak_memory_mb,
        "rss_before_mb": outcome.measurements.get("rss_before_mb"),
        "interrupted": outcome.interrupted,
    }
    return document


def stored_row(result_path: str, instance_path: str, settings: dict[str, Any]) -> dict[str, Any] | None:
    """The summary row of an existing result file that is complete and
    belongs to the instance's current bytes and these settings; else None."""
    try:
        with open(instance_path, "rb") as stream:
            digest = digest_of(stream.read())
        with open(result_path, encoding="utf-8") as stream:
            document = json.load(stream)
        record = document["batch"]
        statistics = document["statistics"]
        if (record["instance_sha256"] != digest or record["settings"] != settings or record.get("interrupted")
                or document["status"] not in ("success", "failed") or not isinstance(document["routes"], list)):
            return None
        return row(instance_path, document["status"], record["objective"], statistics["max_cost"],
                   statistics["sum_cost"], record["cpu_time"], record["peak_memory_mb"], None)
    except (OSError, ValueError, KeyError, TypeError):
        return None


# --- summary ---------------------------------------------------------------------------


def row(instance: str, status: str, objective: float | None = None, longest: float | None = None,
        total: float | None = None, cpu_time: float | None = None, peak_memory_mb: float | None = None,
        error: str | None = None) -> dict[str, Any]:
    return dict(zip(SUMMARY_COLUMNS, (instance, status, objective, longest, total, cpu_time, peak_memory_mb,
                                      error or "")))


INTERRUPTED_TEXT = "interrupted: the best solution found before Ctrl-C; a rerun solves it again"


def outcome_row(outcome: BatchOutcome, path: str, time_limit: float | None) -> dict[str, Any]:
    if outcome.result is None:
        return row(path, outcome.status, error=outcome.error)
    error = INTERRUPTED_TEXT if outcome.interrupted else None
    if not outcome.result.solved and not outcome.interrupted:
        from kvr_mtsp.instance import InstanceView
        from kvr_mtsp.references import unservable_node
        from kvr_mtsp.report import why_failed

        view = InstanceView(outcome.document)
        limit = time_limit if time_limit is not None else view.time_limit
        error = why_failed(outcome.result, limit, unservable_node(view))
    result = outcome.result
    return row(path, outcome.status, result.objective, result.longest, result.total, outcome.cpu_time,
               outcome.peak_memory_mb, error)


def csv_text(rows: Sequence[dict[str, Any]]) -> str:
    buffer = io.StringIO()
    writer = csv.DictWriter(buffer, fieldnames=SUMMARY_COLUMNS, lineterminator="\n")
    writer.writeheader()
    for entry in rows:
        writer.writerow({key: _csv_value(key, value) for key, value in entry.items()})
    return buffer.getvalue()


def _csv_value(key: str, value: Any) -> str:
    if value is None:
        return ""
    if key in ("objective", "longest", "total"):
        return repr(float(value))
    if key == "cpu_time_s":
        return f"{value:.6f}"
    if key == "peak_memory_mb":
        return f"{value:.1f}"
    return str(value)


def table_text(rows: Sequence[dict[str, Any]]) -> str:
    """The summary as an aligned table, numbers rounded for reading."""
    from kvr_mtsp.progress import fmt

    headers = ("instance", "status", "objective", "longest", "total", "cpu s", "peak MB", "error")
    cells = []
    for entry in rows:
        number = [fmt(entry[key]) if entry[key] is not None else "" for key in ("objective", "longest", "total")]
        cpu = f"{entry['cpu_time_s']:.3f}" if entry["cpu_time_s"] is not None else ""
        peak = f"{entry['peak_memory_mb']:.1f}" if entry["peak_memory_mb"] is not None else ""
        cells.append((entry["instance"], entry["status"], *number, cpu, peak, entry["error"]))
    widths = [max([len(header)] + [len(line[column]) for line in cells]) for column, header in enumerate(headers)]
    right = {2, 3, 4, 5, 6}  # numbers line up on the right

    def line(values: Sequence[str]) -> str:
        parts = [value.rjust(width) if column in right else value.ljust(width)
                 for column, (value, width) in enumerate(zip(values, widths))]
        return "  ".join(parts[:-1] + [values[-1]]).rstrip()  # the error column runs on

    return "\n".join([line(headers)] + [line(values) for values in cells]) + "\n"


# --- the command -------------------------------------------------------------------------


def batch_command(args: argparse.Namespace) -> int:
    from kvr_mtsp.usage import EXIT_BAD_INPUT, PROG

    def fail(message: str) -> int:
        print(f"{PROG}: error: {message}", file=sys.stderr)
        return EXIT_BAD_INPUT

    try:
        import dask.distributed  # noqa: F401
        import tqdm  # noqa: F401
    except ImportError as error:
        return fail(f"the batch command needs Dask and tqdm ({error}); "
                    "install them with: pip install 'kvr-mtsp[batch]'")
    paths, unmatched = expand_instances(args.instances)
    for argument in unmatched:
        print(f"{PROG}: warning: {argument} names no instance document", file=sys.stderr)
    if not paths:
        return fail("no instance documents found in " + " ".join(args.instances))
    try:
        os.makedirs(args.out, exist_ok=True)
        handle, probe = tempfile.mkstemp(dir=args.out, prefix=".probe.", suffix=".tmp")
        os.close(handle)
        os.remove(probe)
    except OSError as error:
        return fail(f"cannot write to {args.out}: {error.strerror or error}")

    # The settings every solve gets, recorded in each result file: a rerun
    # skips only the instances solved with the same.
    settings = {"time_limit": args.time_limit, "wall_time_limit": args.wall_time_limit, "improve": args.improve,
                "seed": args.seed, "threads": args.threads, "enforce_capacity": args.capacity,
                "enforce_precedence": args.precedence, "schedule": args.schedule}
    targets = [os.path.join(args.out, name) for name in result_names(paths)]
    rows: list[dict[str, Any] | None] = [None] * len(paths)
    if not args.force:
        for index, (path, target) in enumerate(zip(paths, targets)):
            rows[index] = stored_row(target, path, settings)
    todo = [index for index, entry in enumerate(rows) if entry is None]
    skipped = len(paths) - len(todo)
    if skipped:
        print(f"{skipped} of {len(paths)} instances have a valid result in {args.out} and are skipped "
              "(--force solves them again)")

    received: list[int] = []
    interrupted = False
    with _progress(len(paths), skipped) as progress:
        def record(outcome: BatchOutcome) -> None:
            index = todo[outcome.index]
            rows[index] = outcome_row(outcome, paths[index], args.time_limit)
            if outcome.result is not None:
                text = json.dumps(result_document(outcome, settings), indent=2) + "\n"
                try:
                    write_atomically(targets[index], text)
                except OSError as error:
                    rows[index] = row(paths[index], ERROR,
                                      error=f"cannot write {targets[index]}: {error.strerror or error}")
            progress(rows[index]["status"] == SUCCESS)

        try:
            with stop_signals_raise(received):
                if todo:
                    with _client(args.scheduler) as client:
                        solve_many([paths[index] for index in todo], client=client, workers=args.workers,
                                   time_limit=args.time_limit, wall_time_limit=args.wall_time_limit,
                                   improve=args.improve, seed=args.seed,
                                   enforce_capacity=args.capacity,
                                   enforce_precedence=args.precedence, schedule=args.schedule,
                                   threads=args.threads,
                                   on_outcome=record)
        except KeyboardInterrupt:
            interrupted = True
        except (OSError, RuntimeError, TimeoutError) as error:
            # Connecting to a scheduler, or workers that cannot import the solver.
            return fail(str(error))

    final = [entry if entry is not None else row(path, CANCELLED) for entry, path in zip(rows, paths)]
    try:
        write_atomically(os.path.join(args.out, "summary.csv"), csv_text(final))
    except OSError as error:
        print(f"{PROG}: error: cannot write the summary to {args.out}: {error.strerror or error}", file=sys.stderr)
    sys.stdout.write(table_text(final))
    counts = Counter(entry["status"] for entry in final)
    print(", ".join(f"{count} {status}" for status, count in sorted(counts.items()))
          + f"; results and summary.csv in {args.out}")
    if interrupted:
        signum = received[0] if received else signal.SIGINT
        print(f"{PROG}: interrupted by {signal.Signals(signum).name}; the running solves wrote their best "
              "solution so far, the others were cancelled", file=sys.stderr)
        return exit_status(signum)
    return 0 if counts[SUCCESS] == len(final) else 1


class _client:
    """A client of the scheduler at `address`, or None (solve_many then starts a local cluster)."""

    def __init__(self, address: str | None) -> None:
        self.address, self.client = address, None

    def __enter__(self) -> Any:
        if self.address is not None:
            from dask.distributed import Client

            try:
                self.client = Client(self.address, timeout=30)
            except (OSError, TimeoutError) as error:
                raise OSError(f"cannot reach the Dask scheduler at {self.address}: {error}") from None
        return self.client

    def __exit__(self, *exc: Any) -> None:
        if self.client is not None:
            self.client.close()


class _progress:
    """A progress bar over instances on standard error (when it is a terminal),
    counting the instances that did not succeed."""

    def __init__(self, total: int, done: int) -> None:
        self.total, self.done = total, done
        self.bar: Any = None
        self.failures = 0

    def __enter__(self) -> Callable[[bool], None]:
        from tqdm import tqdm

        self.bar = tqdm(total=self.total, initial=self.done, desc="instances", unit="inst", file=sys.stderr,
                        disable=None, dynamic_ncols=True)
        self.bar.set_postfix(failed=0)
        return self.advance

    def advance(self, succeeded: bool) -> None:
        self.failures += not succeeded
        self.bar.set_postfix(failed=self.failures, refresh=False)
        self.bar.update(1)

    def __exit__(self, *exc: Any) -> None:
        self.bar.close()
