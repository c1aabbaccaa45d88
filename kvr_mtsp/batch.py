"""`kvr_mtsp.solve_many`: solve many instances on a Dask cluster, one worker process per solve.

    import kvr_mtsp

    outcomes = kvr_mtsp.solve_many(["a.json", "b.json"], time_limit=10, workers=2)
    for outcome in outcomes:  # in input order
        objective = outcome.result.objective if outcome.result is not None else None
        print(outcome.instance, outcome.status, objective, outcome.peak_memory_mb, outcome.error)

Each instance is read in the calling process (so that workers on other
machines need no access to its files) and solved as one Dask task by
`kvr_mtsp.solve` (or `solve_function`), with the same arguments. Without a
`client`, a local cluster of `workers` processes with one thread each is
started and closed again; with one (`distributed.Client(address)`), the
tasks go to its cluster, whose workers must be able to import `kvr_mtsp`.

An instance that cannot be read or solved does not stop the others: its
`BatchOutcome` has status "error" and the error text. Each task runs its
solve in a new process of its own (`solve_in_worker` says why). When that
process dies (killed, out of memory, a crash), the task raises and Dask
runs it once more (`retries=1`); when the worker process itself dies, its
nanny replaces it and the scheduler runs the task again, once on the local
cluster (its setting "distributed.scheduler.allowed-failures" is 1); an
existing cluster applies its own setting (Dask's default is 3). After that
the instance is reported as an error.

Measurements, taken in the solving process: `cpu_time`, its processor
seconds in the solve, and `peak_memory_mb`, its peak resident memory during
the solve: the process's own high-water mark (VmHWM in /proc/self/status),
reset to what the process holds just before the solve. That process is a
fresh interpreter that imports only the package and the module (about 25 MB
before the solve, which the peak includes; `measurements["rss_before_mb"]`
holds the figure at the start of the solve), so the peak belongs to this one
solve, not to an instance solved earlier by the same worker nor to the
process that started it (getrusage's ru_maxrss, used only where /proc is
missing, is inherited across fork and exec).
"""
from __future__ import annotations

import hashlib
import json
import os
import signal
import sys
import time
from collections.abc import Callable, Iterable, Mapping
from dataclasses import dataclass, field
from typing import Any

from kvr_mtsp.cores import available_cores
from kvr_mtsp.json_text import JsonTextError, loads

# Outcome statuses: the solver's own two, and "error" for an instance that
# could not be read or solved (or whose worker died once too often).
SUCCESS = "success"
FAILED = "failed"
ERROR = "error"

KILLED_TEXT = "the worker process died while solving it, also when retried (killed, out of memory or crashed)"


@dataclass(frozen=True)
class BatchOutcome:
    """What became of one instance of a batch. `status` is "success" or
    "failed" (the solver's status: a solution found or not) with `result`
    set, or "error" with `error` saying why there is no result."""

    index: int  # the place in the `instances` given
    instance: str  # the path as given, or "instances[i]" for a dict or a JSON text
    status: str
    result: Any = None  # a SolveResult, unless status is "error"
    error: str | None = None
    cpu_time: float | None = None
    peak_memory_mb: float | None = None
    document: dict[str, Any] | None = None  # the instance document as read, when Python could read it
    digest: str | None = None  # SHA-256 of the instance's bytes (a file) or of its canonical JSON
    measurements: Mapping[str, Any] = field(default_factory=dict)
    # True when Ctrl-C stopped the solve: `result` holds the best solution found so far.
    interrupted: bool = False
    # The solver's warnings about the instance (kvr_mtsp.SolverWarning), in
    # the order the solve issued them; the solving process only records them.
    warnings: tuple[Any, ...] = ()

    @property
    def ok(self) -> bool:
        return self.status == SUCCESS


@dataclass(frozen=True)
class _Prepared:
    label: str
    document: dict[str, Any] | None
    digest: str | None
    error: str | None


def solve_many(
    instances: Iterable[Any],
    *,
    client: Any = None,
    time_limit: float | None = None,
    wall_time_limit: float | None = None,
    improve: bool = True,
    seed: int = 0,
    enforce_capacity: bool = True,
    enforce_precedence: bool = True,
    schedule: bool = True,
    threads: int | None = None,
    workers: int | None = None,
    solve_function: Callable[..., Any] | None = None,
    on_outcome: Callable[[BatchOutcome], Any] | None = None,
) -> list[BatchOutcome]:
    """Solves every instance (a path, a JSON text or a dict, as for
    `kvr_mtsp.solve`) and returns one BatchOutcome per instance, in input order.

    `time_limit` (processor seconds, of every thread of a solve together),
    `wall_time_limit` (wall-clock seconds), `improve`, `seed`,
    `enforce_capacity`, `enforce_precedence`, `schedule`, `threads`:
    passed to every solve (a `seed` of None keeps each document's own;
    ValueError before anything starts for a limit or a `threads` out of
    range, as `kvr_mtsp.solve` raises it). `threads` (the
    improvement engine's threads per solve): None divides the cores this
    process may use among the cluster's concurrent solves (its worker
    threads), at least 1 each; give it for a cluster on other machines. `client`: a `distributed.Client`; None
    starts a local cluster of `workers` processes (default: the cores this
    process may use) for this call. `solve_function`: what the solving
    processes call instead of `kvr_mtsp.solve`, with the instance document
    (a dict) and the keyword arguments time_limit, wall_time_limit, improve,
    seed, enforce_capacity, enforce_precedence, schedule and threads; it must
    return a SolveResult and pickle by name (a module-level function, or a
    functools.partial of one), its module importable on the workers.
    `on_outcome`: called in this process with each outcome as it arrives.
    On KeyboardInterrupt (Ctrl-C) the running solves stop as Ctrl-C stops
    the command line's: each hands over the best solution it found so far,
    delivered to `on_outcome` as an outcome with `interrupted` true (within
    STOP_GRACE seconds; a second KeyboardInterrupt stops waiting); the tasks
    not started are cancelled, a local cluster is closed, and the exception
    propagates.

    Safe at the top level of a script: the local cluster's worker processes
    do not run the calling script again (see `_name_main_module`), so the
    `if __name__ == "__main__":` guard is not needed (though harmless).
    """
    from kvr_mtsp.api import SolveResult, check_settings
    from kvr_mtsp.console import SolverWarning

    check_settings(time_limit=time_limit, wall_time_limit=wall_time_limit, threads=threads)
    settings = {"time_limit": time_limit, "wall_time_limit": wall_time_limit, "improve": improve, "seed": seed,
                "enforce_capacity": enforce_capacity, "enforce_precedence": enforce_precedence, "schedule": schedule,
                "threads": threads}
    prepared = [_prepare(index, instance) for index, instance in enumerate(instances)]
    outcomes: list[BatchOutcome | None] = [None] * len(prepared)

    def deliver(outcome: BatchOutcome) -> None:
        outcomes[outcome.index] = outcome
        if on_outcome is not None:
            on_outcome(outcome)

    for index, item in enumerate(prepared):
        if item.error is not None:
            deliver(BatchOutcome(index, item.label, ERROR, error=item.error, document=item.document,
                                 digest=item.digest))
    todo = [index for index, item in enumerate(prepared) if item.error is None]

    def arrived(index: int, value: Any) -> None:
        item = prepared[index]
        if isinstance(value, BaseException):
            deliver(BatchOutcome(index, item.label, ERROR, error=_describe(value, item),
                                 document=item.document, digest=item.digest))
        elif value.get("result") is not None:  # None: stopped before its solve began or found anything
            result = SolveResult.from_dict(value["result"], item.document)
            deliver(BatchOutcome(
                index, item.label, result.status, result=result, cpu_time=value["cpu_time"],
                peak_memory_mb=value["peak_memory_mb"], document=item.document, digest=item.digest,
                measurements={"rss_before_mb": value["rss_before_mb"]}, interrupted=value["interrupted"],
                warnings=tuple(SolverWarning(*args) for args in value.get("warnings", ())),
            ))

    if todo:
        with _session(client, workers) as session:
            _check_workers(session)
            if threads is None:
                settings["threads"] = threads_per_solve(sum(session.nthreads().values()))
            tasks = _Tasks(session, prepared, todo, settings, solve_function)
            try:
                try:
                    for index, value in tasks.finished():
                        arrived(index, value)
                except KeyboardInterrupt:
                    # As the command line does: the running solves stop and hand
                    # over their best solution so far; the others are not started.
                    for index, value in tasks.stop():
                        arrived(index, value)
                    raise
            finally:
                tasks.cancel()
    return [outcome for outcome in outcomes if outcome is not None]


def default_workers() -> int:
    """The cores this process may run on."""
    return available_cores()


def threads_per_solve(concurrent: int) -> int:
    """The improvement engine's threads for each of `concurrent` solves
    sharing the cores this process may use: an equal share, at least 1."""
    return max(1, available_cores() // max(1, concurrent))


def local_cluster(workers: int | None = None, **options: Any) -> Any:
    """A Dask LocalCluster of `workers` processes with one thread each, whose
    scheduler retries a task once after its worker died and hands each
    worker one task at a time (so that a worker's death involves only the
    task it was running). `options` go to LocalCluster."""
    import dask
    from dask.distributed import LocalCluster

    count = default_workers() if workers is None else workers
    if count < 1:
        raise ValueError(f"workers must be at least 1, not {count}")
    with dask.config.set({
        "distributed.scheduler.allowed-failures": 1,
        "distributed.scheduler.worker-saturation": 1.0,
    }):
        return LocalCluster(n_workers=count, threads_per_worker=1, processes=True, **options)


def digest_of(raw: bytes) -> str:
    return hashlib.sha256(raw).hexdigest()


# --- in the calling process ---------------------------------------------------


def _prepare(index: int, instance: Any) -> _Prepared:
    """Reads one instance into a document for the workers, or says why it cannot be solved."""
    from kvr_mtsp.api import DICT, TEXT, dumps, source

    kind, value = source(instance)
    if kind == DICT:
        document = dict(value)
        try:
            text = dumps(document, sort_keys=True)
        except ValueError as error:
            return _Prepared(f"instances[{index}]", None, None, f"instances[{index}]: {error}")
        return _Prepared(f"instances[{index}]", document, digest_of(text.encode()), None)
    if kind == TEXT:
        label, raw = f"instances[{index}]", value.encode("utf-8", "surrogatepass")
    else:
        label = value
        try:
            with open(label, "rb") as stream:
                raw = stream.read()
        except OSError as error:
            return _Prepared(label, None, None, f"cannot read {label}: {error.strerror or error}")
    try:
        document = parse_document(raw)
    except JsonTextError as error:
        return _Prepared(label, None, digest_of(raw), f"{label}: {error}")
    if document is None:
        return _Prepared(label, None, digest_of(raw), _unreadable(raw, label))
    return _Prepared(label, document, digest_of(raw), None)


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


def _unreadable(raw: bytes, label: str) -> str:
    """What the solver's reader says about a document Python does not read as an object."""
    import _kvr_core

    from kvr_mtsp.report import explain

    try:
        _kvr_core.read_document(raw.decode("utf-8", "replace"))
    except Exception as error:  # the reader's RuntimeError, as a rule
        return explain(error, label)
    return f"{label}: the document is not a JSON object with an object \"options\""


def _describe(error: BaseException, item: _Prepared) -> str:
    from kvr_mtsp.report import explain, one_line

    if type(error).__name__ == "KilledWorker":
        return f"{item.label}: {KILLED_TEXT}"
    if isinstance(error, SolverProcessDied):
        return f"{item.label}: {error}, also when retried"
    if isinstance(error, (RuntimeError, IndexError, ValueError, OverflowError)):
        return explain(error, item.label)
    return f"{item.label}: {type(error).__name__}: {one_line(str(error))}"


class _session:
    """The client to submit to: the one given, or one on a local cluster
    started here and closed on leaving."""

    def __init__(self, client: Any, workers: int | None) -> None:
        self.given, self.workers = client, workers
        self.cluster: Any = None
        self.client: Any = client

    def __enter__(self) -> Any:
        if self.given is None:
            import logging

            from dask.distributed import Client

            import warnings

            self.main_named = _name_main_module()
            try:
                with warnings.catch_warnings(), _sigint_ignored():
                    # Dask takes another port for its HTTP server and says so.
                    warnings.filterwarnings("ignore", message="Port .* is already in use")
                    self.cluster = local_cluster(self.workers, dashboard_address=None, silence_logs=logging.ERROR)
                self.client = Client(self.cluster)
            except BaseException:
                self.__exit__()
                raise
        return self.client

    def __exit__(self, *exc: Any) -> None:
        try:
            if self.cluster is not None:
                self.client.close()
                self.cluster.close()
        finally:
            if getattr(self, "main_named", False):
                sys.modules["__main__"].__spec__ = None


class _sigint_ignored:
    """Ignores SIGINT while the local cluster starts its worker processes,
    which inherit that: Ctrl-C in a terminal reaches every process of the
    group, and the workers must outlive it to hand over the best solutions
    of the solves they run (solve_many stops them itself). Nothing happens
    outside the main thread, where signal handlers cannot be set."""

    def __enter__(self) -> None:
        try:
            self.previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
        except ValueError:
            self.previous = None

    def __exit__(self, *exc: Any) -> None:
        if self.previous is not None:
            signal.signal(signal.SIGINT, self.previous)


def _name_main_module() -> bool:
    """Gives a script's main module a `__spec__` named "__main__" while the
    local cluster runs; True when it did. The cluster's worker processes are
    started fresh (multiprocessing's "spawn"), and a fresh process runs the
    parent's main script again unless its `__spec__` names it "__main__": a script
    that calls solve_many at its top level, without the
    `if __name__ == "__main__":` guard, would start a cluster in every
    worker. The workers need nothing of the script: tasks travel by value."""
    import importlib.machinery

    main = sys.modules.get("__main__")
    if main is None or getattr(main, "__spec__", None) is not None or not hasattr(main, "__file__"):
        return False
    main.__spec__ = importlib.machinery.ModuleSpec("__main__", None)
    return True


def _check_workers(client: Any) -> None:
    """Raises RuntimeError naming the workers that cannot import the package."""

    def importable() -> str | None:  # runs on the workers, sent by value
        try:
            import importlib

            importlib.import_module("_kvr_core")
            importlib.import_module("kvr_mtsp.batch")
        except Exception as error:  # noqa: BLE001 - reported to the caller
            return f"{type(error).__name__}: {error}"
        return None

    problems = {address: text for address, text in client.run(importable).items() if text}
    if problems:
        listing = "; ".join(f"{address}: {text}" for address, text in sorted(problems.items()))
        raise RuntimeError(f"Dask workers cannot import the solver (install kvr-mtsp there): {listing}")


# Seconds the batch waits after Ctrl-C for the running solves to hand over their best solutions.
STOP_GRACE = 30.0


class _Tasks:
    """One Dask task per instance, with the event that asks the running ones to stop."""

    def __init__(self, client: Any, prepared: list[_Prepared], todo: list[int], settings: dict[str, Any],
                 solve_function: Callable[..., Any] | None) -> None:
        token = os.urandom(4).hex()
        self.client = client
        self.stop_name = f"kvr-stop-{token}"
        self.futures = {}
        for position, index in enumerate(todo):
            # Separate submissions within a few milliseconds count as one for the
            # scheduler, which would then start them in any order: the priority
            # keeps the order given.
            future = client.submit(
                solve_in_worker, prepared[index].document, settings, solve_function, self.stop_name,
                key=f"kvr-solve-{token}-{index}", pure=False, priority=-position, retries=1,
            )
            self.futures[future] = index

    def finished(self, timeout: float | None = None) -> Iterable[tuple[int, Any]]:
        """(index, the task's reply or its exception) as the tasks finish."""
        from dask.distributed import as_completed

        for future in as_completed(list(self.futures), timeout=timeout):
            index = self.futures.pop(future)
            if future.status != "finished":
                yield index, future.exception()
                continue
            reply = future.result()
            yield index, reply.get("error", reply)

    def stop(self) -> Iterable[tuple[int, Any]]:
        """Asks every task to stop (a running solve hands over its best
        solution, one not started returns at once) and yields the replies
        that arrive within STOP_GRACE seconds; a KeyboardInterrupt ends the wait."""
        from dask.distributed import Event

        Event(self.stop_name, client=self.client).set()
        try:
            yield from self.finished(timeout=STOP_GRACE)
        except (TimeoutError, KeyboardInterrupt):
            pass

    def cancel(self) -> None:
        if self.futures:
            self.client.cancel(list(self.futures))


# --- in the worker and its solving process -----------------------------------------


class SolverProcessDied(RuntimeError):
    """The process solving an instance ended without a reply (killed, out of memory, crashed)."""


# The signal that asks a solving process to stop with its best solution so far.
STOP_SIGNAL = signal.SIGUSR1

# The solving process: a fresh interpreter that reads (function, document,
# settings) from its standard input and writes its reply to its original
# standard output. The package's solve prints nothing of the solver's (its
# warnings and log records go to standard error by Python's defaults);
# anything else written to standard output goes to standard error too.
_CHILD = "from kvr_mtsp.batch import _solve_here; _solve_here()"


# How often a task looks whether the batch asks it to stop, in seconds.
STOP_POLL = 0.25


def solve_in_worker(document: dict[str, Any], settings: dict[str, Any],
                    solve_function: Callable[..., Any] | None, stop_name: str | None = None) -> dict[str, Any]:
    """The task: solves `document` in a new process and returns its reply,
    the result document with the solve's processor time and peak memory, or
    {"error": exception} for an instance the solver rejects. Raises
    SolverProcessDied when that process ends without a reply (Dask then
    runs the task again once, see `retries` in `_Tasks`). When the Dask event
    `stop_name` is set, a running solve is stopped as Ctrl-C stops it (the
    reply then holds its best solution so far, or no result when it had none),
    and a task that has not started its solve returns {"result": None}.

    The solve runs in its own process although the module releases
    Python's global lock while it solves (so a solve in the worker itself
    would no longer stop its heartbeats): a fresh process measures the
    solve's own peak memory, which the worker's high-water mark, shared with
    every task it ran before, cannot; and a crash, an out-of-memory kill or
    a runaway solve ends that process alone, not the worker with its other
    tasks. Starting the interpreter costs about 0.1 s per solve
    (benchmarks/batch_overhead.py), small beside solves of seconds."""
    import pickle
    import subprocess

    stop = _stop_event(stop_name)
    if stop is not None and stop.is_set():
        return {"result": None}
    function = solve_function if solve_function is not None else _default_solve
    payload = pickle.dumps((os.getpid(), function, document, settings))
    # The same imports as this worker, also when they come from sys.path alone.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(path for path in sys.path if path))
    with subprocess.Popen([sys.executable, "-c", _CHILD], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env) as child:
        if stop is None:
            stdout, stderr = child.communicate(payload)
            asked = False
        else:
            stdout, stderr, asked = _communicate_until_stopped(child, payload, stop)
    if child.returncode == 0 and stdout:
        return pickle.loads(stdout)
    if asked and child.returncode == -STOP_SIGNAL:  # asked to stop before it could take the request
        return {"result": None}
    if child.returncode < 0:
        how = f"was stopped by {signal.Signals(-child.returncode).name}"
    else:
        how = f"ended with exit status {child.returncode} without a result"
    last = stderr.decode("utf-8", "replace").strip().splitlines()[-1:]
    raise SolverProcessDied(f"the process solving it {how}" + (f" ({last[0]})" if last else ""))


def _stop_event(name: str | None) -> Any:
    """The batch's stop event, seen from this task; None outside a Dask task."""
    if name is None:
        return None
    from dask.distributed import Event, get_client

    try:
        return Event(name, client=get_client())
    except ValueError:  # not in a worker: no event to watch
        return None


def _communicate_until_stopped(child: Any, payload: bytes, stop: Any) -> tuple[bytes, bytes, bool]:
    """communicate() with the solving process, which gets STOP_SIGNAL once
    `stop` is set; the last value says whether it was sent."""
    import subprocess
    import threading

    replies: dict[str, bytes] = {}

    def talk() -> None:
        replies["out"], replies["err"] = child.communicate(payload)

    talker = threading.Thread(target=talk, daemon=True)
    talker.start()
    asked = False
    while talker.is_alive():
        talker.join(STOP_POLL)
        if not asked and talker.is_alive() and stop.is_set():
            asked = True
            try:
                child.send_signal(STOP_SIGNAL)
            except (ProcessLookupError, subprocess.SubprocessError):
                pass
    return replies.get("out", b""), replies.get("err", b""), asked


def _default_solve(document: dict[str, Any], **settings: Any) -> Any:
    from kvr_mtsp.api import solve

    return solve(document, **settings)


def _solve_here() -> None:
    """The solving process's main function (see `_CHILD`)."""
    import pickle

    # Ctrl-C in a terminal reaches every process of the local cluster; the
    # batch's own process handles it and asks the running solves to stop
    # (STOP_SIGNAL below), so that each result says whether it was stopped.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    stopped: list[int] = []

    def stop_now(signum: int, frame: Any) -> None:
        # The batch's Ctrl-C, passed on by the task: the solver stops as on
        # Ctrl-C and returns its best solution so far.
        stopped.append(signum)
        raise KeyboardInterrupt

    signal.signal(STOP_SIGNAL, stop_now)
    reply_stream = os.fdopen(os.dup(1), "wb")
    os.dup2(2, 1)  # the reply alone on the pipe, whatever a solve function prints
    import warnings

    import kvr_mtsp.api  # noqa: F401 - loaded before the start figure, as part of the process, not of the solve
    from kvr_mtsp.console import SolverWarning

    worker_pid, function, document, settings = pickle.load(sys.stdin.buffer)
    _end_with(worker_pid)
    _reset_peak()
    rss_before = _status_mb("VmRSS")
    started = time.process_time()
    caught: list[warnings.WarningMessage] = []
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", SolverWarning)
            result = function(document, **settings)
    except KeyboardInterrupt:  # stopped before any solution
        reply: dict[str, Any] = {"result": None}
    except Exception as error:  # noqa: BLE001 - the caller reports it with the instance
        reply = {"error": error}
    else:
        reply = {"result": result.to_dict(), "cpu_time": time.process_time() - started,
                 "peak_memory_mb": _peak_mb(), "rss_before_mb": rss_before, "interrupted": bool(stopped),
                 "warnings": [list(w.message.args) for w in caught if isinstance(w.message, SolverWarning)]}
    for other in caught:  # the warnings of others, shown as they would have been
        if not isinstance(other.message, SolverWarning):
            warnings.showwarning(other.message, other.category, other.filename, other.lineno)
    try:
        data = pickle.dumps(reply)
    except Exception:  # noqa: BLE001 - an exception that does not pickle travels as text
        data = pickle.dumps({"error": RuntimeError(f"{type(reply['error']).__name__}: {reply['error']}")})
    reply_stream.write(data)
    reply_stream.flush()


def _end_with(worker_pid: int) -> None:
    """Has the kernel kill this process when the worker that started it ends
    (Linux), so that closing a cluster stops its solves."""
    if not sys.platform.startswith("linux"):
        return
    import ctypes

    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGKILL)
    if os.getppid() != worker_pid:  # the worker ended before the call above
        os._exit(1)


def _status_mb(key: str) -> float | None:
    """A "kB" line of /proc/self/status in megabytes, or None where there is none."""
    try:
        with open("/proc/self/status") as stream:
            for line in stream:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return None


def _reset_peak() -> None:
    """Lowers this process's resident-memory high-water mark (VmHWM) to what
    it holds now, so that the peak read after the solve is the solve's own
    and not that of starting the interpreter (Linux 4.0 and later; elsewhere
    nothing happens)."""
    try:
        with open("/proc/self/clear_refs", "w") as stream:
            stream.write("5")
    except OSError:
        pass


def _peak_mb() -> float:
    """The peak resident memory of this process: its high-water mark VmHWM
    (which belongs to this process alone and was reset before the solve),
    or, where /proc has none, getrusage's ru_maxrss (which a process
    inherits from the one that forked it)."""
    peak = _status_mb("VmHWM")
    if peak is not None:
        return peak
    import resource

    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    return peak / (1024 * 1024) if sys.platform == "darwin" else peak / 1024  # bytes there, kB elsewhere
