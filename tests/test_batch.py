"""Batch solving on Dask: kvr_mtsp.solve_many on a real local cluster of two
worker processes, and the `batch` command line (results, summary, reruns, Ctrl-C)."""
from __future__ import annotations

import csv
import functools
import json
import os
import signal
import subprocess
import sys
import time
import warnings
from pathlib import Path

import pytest

pytest.importorskip("dask.distributed")

import kvr_mtsp  # noqa: E402
from conftest import grid_doc, long_search_doc  # noqa: E402
from kvr_mtsp import batch_cli  # noqa: E402
from kvr_mtsp.batch import KILLED_TEXT, local_cluster, solve_many  # noqa: E402
from test_capacity import loaded_doc  # noqa: E402
from test_json_text import DEEP_TEXT, huge_id_text  # noqa: E402
from kvr_mtsp.checker import check_routes  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent


@pytest.fixture(scope="module")
def client():
    from dask.distributed import Client

    cluster = local_cluster(2, dashboard_address=None)
    with Client(cluster) as session:
        yield session
    cluster.close()


def repeatable_doc(n_targets: int) -> dict:
    doc = grid_doc(n_targets, agent_ids=(1, 2, 3), time_limit=20)
    doc["options"]["max_iterations"] = 25  # the engine stops before its time limit: a repeatable run
    return doc


def routes_of(result) -> list[tuple]:
    return [(route.agent_id, route.positions, route.cost) for route in result.routes]


def write(path: Path, doc) -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(doc if isinstance(doc, str) else json.dumps(doc))
    return path


# Solve functions the workers call in place of kvr_mtsp.solve; the workers
# import them from this module.


def dies_on_attempts(document, *, attempts_dir, victim_targets, deaths, kill, **settings):
    """On its first `deaths` attempts at the instance with `victim_targets`
    targets, ends the process solving it ("self") or kills the Dask worker
    that started that process ("worker"); counts the attempts in a file."""
    if len(document["nodes"]) == victim_targets + 1:
        log = Path(attempts_dir) / "attempts"
        with open(log, "a") as stream:
            stream.write("x")
        if len(log.read_text()) <= deaths:
            if kill == "worker":
                os.kill(os.getppid(), signal.SIGKILL)
                time.sleep(60)  # the kernel ends this process with its worker
            os._exit(3)
    return kvr_mtsp.solve(document, **settings)


def echoes_settings(document, **settings):
    """Solves as kvr_mtsp.solve does and carries the settings it was called
    with in the result, so that the caller sees what reached the solve."""
    from dataclasses import replace

    result = kvr_mtsp.solve(document, **settings)
    return replace(result, extra=(("settings", settings),))


class TestSolveMany:
    @pytest.mark.parametrize("improve", [True, False])
    def test_same_routes_as_solving_each_alone_in_input_order(self, client, tmp_path, improve):
        docs = [repeatable_doc(n) for n in (9, 4, 7, 5)]
        docs[1]["surplus"] = 1  # the solver warns about it, in the solving process
        docs[2]["constraints"][0]["items"].pop()
        inputs = [docs[0], json.dumps(docs[1]), write(tmp_path / "x.json", docs[2]),
                  str(write(tmp_path / "y.json", docs[3]))]
        arrived = []
        outcomes = solve_many(inputs, client=client, improve=improve, seed=3, on_outcome=arrived.append)
        assert [outcome.index for outcome in outcomes] == [0, 1, 2, 3]
        assert [outcome.instance for outcome in outcomes] == [
            "instances[0]", "instances[1]", str(tmp_path / "x.json"), str(tmp_path / "y.json")]
        assert sorted(outcome.index for outcome in arrived) == [0, 1, 2, 3]
        assert [[w.code for w in outcome.warnings] for outcome in outcomes] == [
            [], ["unknown_key"], ["no_assignment"], []]
        for doc, outcome in zip(docs, outcomes):
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                alone = kvr_mtsp.solve(doc, improve=improve, seed=3)
            # The solver's warnings come back with the outcome, as a solve here issues them.
            here = [(str(w.message), w.message.code, w.message.fields) for w in caught]
            assert [(str(w), w.code, w.fields) for w in outcome.warnings] == here
            assert outcome.status == "success" and outcome.error is None
            assert routes_of(outcome.result) == routes_of(alone)
            assert outcome.result.routes == alone.routes  # node ids and agent types too
            assert outcome.cpu_time > 0
            # The solving process's peak: at least what it held when the solve started.
            assert outcome.peak_memory_mb >= outcome.measurements["rss_before_mb"] > 5

    def test_precedence_pairs_are_enforced_unless_turned_off(self, client):
        """Enforced by default: the routes of kvr_mtsp.solve, which keep
        the pair; turned off: the routes of a solve that carries it."""
        doc = repeatable_doc(6)
        doc["constraints"].append({"kind": "sequence", "precedence": [{"before": 4, "after": 1, "type": "same"}]})
        on, off = (solve_many([doc], client=client, seed=3, enforce_precedence=flag)[0] for flag in (True, False))
        assert routes_of(on.result) == routes_of(kvr_mtsp.solve(doc, seed=3))
        assert routes_of(off.result) == routes_of(kvr_mtsp.solve(doc, seed=3, enforce_precedence=False))
        (route,) = [r.positions for r in on.result.routes if 4 in r.positions]
        assert 1 in route and route.index(4) < route.index(1)

    def test_broken_documents_are_reported_and_the_rest_solved(self, client, tmp_path):
        unknown_start = repeatable_doc(4)
        unknown_start["agents"][0]["start_node"] = 99  # the module raises IndexError in the worker
        inputs = [
            tmp_path / "missing.json",
            write(tmp_path / "cut.json", '{"nodes": ['),
            unknown_start,
            repeatable_doc(5),
            write(tmp_path / "list.json", "[1, 2]"),
            write(tmp_path / "deep.json", DEEP_TEXT),  # Python's own reader would raise RecursionError
            write(tmp_path / "huge.json", huge_id_text(repeatable_doc(3))),
        ]
        outcomes = solve_many(inputs, client=client, improve=False)
        assert [outcome.status for outcome in outcomes] == ["error", "error", "error", "success", "error", "error",
                                                            "error"]
        missing, cut, unknown, solved, listed, deep, huge = outcomes
        assert deep.error.startswith(f"{tmp_path / 'deep.json'}: arrays and objects are nested too deeply")
        assert huge.error.startswith(f"{tmp_path / 'huge.json'}: number overflow parsing '1000")
        assert missing.error == f"cannot read {tmp_path / 'missing.json'}: No such file or directory"
        assert cut.error.startswith(f"{tmp_path / 'cut.json'} is not valid JSON: parse error at line 1")
        assert unknown.error == "instances[2]: agent 1 (agents[0]) starts at node 99, but no node has the id 99"
        assert listed.error.startswith(str(tmp_path / "list.json"))
        assert all(outcome.result is None for outcome in (missing, cut, unknown, listed))
        assert solved.result.solved and solved.error is None

    @pytest.mark.parametrize("kill", ["self", "worker"])
    def test_a_killed_solve_is_retried_once_then_reported(self, client, tmp_path, kill):
        docs = [repeatable_doc(6), repeatable_doc(5)]
        once = tmp_path / "once"
        once.mkdir()
        hook = functools.partial(dies_on_attempts, attempts_dir=str(once), victim_targets=6, deaths=1, kill=kill)
        outcomes = solve_many(docs, client=client, improve=False, solve_function=hook)
        assert (once / "attempts").read_text() == "xx"  # killed once, solved on the second attempt
        assert [outcome.status for outcome in outcomes] == ["success", "success"]
        assert routes_of(outcomes[0].result) == routes_of(kvr_mtsp.solve(docs[0], improve=False))

        always = tmp_path / "always"
        always.mkdir()
        hook = functools.partial(dies_on_attempts, attempts_dir=str(always), victim_targets=6, deaths=10, kill=kill)
        outcomes = solve_many(docs, client=client, improve=False, solve_function=hook)
        assert (always / "attempts").read_text() == "xx"  # no third attempt
        assert outcomes[0].status == "error" and outcomes[0].result is None
        expected = {
            "self": "instances[0]: the process solving it ended with exit status 3 without a result, also when retried",
            "worker": f"instances[0]: {KILLED_TEXT}",
        }[kill]
        assert outcomes[0].error == expected
        assert outcomes[1].status == "success"

    def test_the_docstring_example_runs_as_a_script_without_the_main_guard(self, tmp_path):
        # The example at its top level: the local cluster's workers must not run the script again.
        import textwrap

        from kvr_mtsp import batch

        lines = []
        for line in batch.__doc__.splitlines()[2:]:  # the indented block under the first line
            if line and not line.startswith("    "):
                break
            lines.append(line)
        example = textwrap.dedent("\n".join(lines))
        assert "__main__" not in example and "solve_many(" in example
        docs = {"a": repeatable_doc(5), "b": repeatable_doc(6)}
        for name, doc in docs.items():
            write(tmp_path / f"{name}.json", doc)
        (tmp_path / "example.py").write_text(example)
        completed = subprocess.run([sys.executable, "example.py"], cwd=tmp_path, env=child_env(),
                                   capture_output=True, text=True, timeout=300)
        assert completed.returncode == 0, completed.stderr[-2000:]
        printed = [line.split() for line in completed.stdout.splitlines()]
        assert [(fields[0], fields[1]) for fields in printed] == [("a.json", "success"), ("b.json", "success")]
        for fields, doc in zip(printed, docs.values()):
            assert float(fields[2]) == kvr_mtsp.solve(doc, time_limit=10).objective
            assert float(fields[3]) > 0 and fields[4] == "None"

    @pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
    def test_the_peak_is_the_solves_own_not_the_starting_process(self):
        from kvr_mtsp.batch import solve_in_worker

        ballast = bytearray(b"\x01") * (300 << 20)  # resident in this process, which starts the solve
        reply = solve_in_worker(grid_doc(5), {"time_limit": 5}, None)
        del ballast
        assert reply["result"]["status"] == "success"
        # ru_maxrss would report this process's 300 MB and more; the solve itself holds a few tens.
        assert reply["rss_before_mb"] <= reply["peak_memory_mb"] < 150

    def test_capacities_are_enforced_unless_turned_off(self, client):
        doc = loaded_doc()
        enforced, loose = (solve_many([doc], client=client, **flag)[0].result
                           for flag in ({}, {"enforce_capacity": False, "schedule": False}))
        assert [route.load for route in enforced.routes] == [9, 9]
        assert [route.load for route in loose.routes] == [None, None]
        # The schedule is on unless turned off: the load after each stop.
        assert [[stop.load for stop in route.stops] for route in enforced.routes] == [[0, 3, 6, 9, 9]] * 2
        assert [route.stops for route in loose.routes] == [None, None]
        assert check_routes(loaded_doc(enforce=True, improve=True), [r.to_dict() for r in enforced.routes]) == []

    @pytest.mark.parametrize("setting, value, message", [
        ("time_limit", 0, "time_limit must be a positive finite number of seconds, not 0"),
        ("wall_time_limit", float("inf"), "wall_time_limit must be a positive finite number of seconds, not inf"),
        ("wall_time_limit", -1, "wall_time_limit must be a positive finite number of seconds, not -1"),
        ("threads", 0, "threads must be a whole number of at least 1, not 0"),
        ("threads", 1.5, "threads must be a whole number of at least 1, not 1.5"),
    ])
    def test_limits_and_threads_are_checked_before_anything_starts_as_solve_checks_them(
            self, setting, value, message):
        def never(*args, **kwargs):
            raise AssertionError("no solve may start")

        with pytest.raises(ValueError, match=f"^{message}$"):
            solve_many([grid_doc(3)], solve_function=never, **{setting: value})
        # The same words as kvr_mtsp.solve's, from the one check both make.
        with pytest.raises(ValueError, match=f"^{message}$"):
            kvr_mtsp.solve(grid_doc(3), **{setting: value})

    def test_the_wall_clock_limit_and_threads_reach_every_solve(self, client):
        docs = [repeatable_doc(5), repeatable_doc(6)]
        outcomes = solve_many(docs, client=client, solve_function=echoes_settings, wall_time_limit=7.5,
                              threads=2, seed=3)
        for doc, outcome in zip(docs, outcomes):
            assert outcome.status == "success", outcome.error
            settings = dict(outcome.result.extra)["settings"]
            assert settings["wall_time_limit"] == 7.5 and settings["threads"] == 2
            # Every improvement carries both clocks.
            assert outcome.result.anytime and all(point.wall_time is not None for point in outcome.result.anytime)
            assert routes_of(outcome.result) == routes_of(kvr_mtsp.solve(doc, seed=3, threads=2))
        # Without it, none: each document's own.
        (plain,) = solve_many(docs[:1], client=client, solve_function=echoes_settings)
        assert dict(plain.result.extra)["settings"]["wall_time_limit"] is None


class TestFiles:
    def test_instances_from_files_folders_and_patterns(self, tmp_path):
        for name in ("a/one.json", "a/two.json", "a/two.result.json", "b/one.json", "b/notes.txt"):
            write(tmp_path / name, "{}")
        a, b = str(tmp_path / "a"), str(tmp_path / "b")
        paths, unmatched = batch_cli.expand_instances(
            [a, str(tmp_path / "b" / "*.json"), str(tmp_path / "a" / "one.json"), str(tmp_path / "c*"),
             str(tmp_path / "gone.json")])
        assert paths == [f"{a}/one.json", f"{a}/two.json", f"{b}/one.json", str(tmp_path / "gone.json")]
        assert unmatched == [str(tmp_path / "c*")]
        names = batch_cli.result_names(paths)
        assert names[1] == "two.result.json" and names[3] == "gone.result.json"
        assert names[0] != names[2] and names[0].startswith("one-") and names[2].startswith("one-")

    def test_atomic_write_leaves_no_temporary_file_when_it_fails(self, tmp_path):
        target = tmp_path / "r.result.json"
        batch_cli.write_atomically(str(target), "first\n")
        assert target.read_text() == "first\n"
        (tmp_path / "d.result.json").mkdir()
        with pytest.raises(OSError):
            batch_cli.write_atomically(str(tmp_path / "d.result.json"), "x")
        assert sorted(p.name for p in tmp_path.iterdir()) == ["d.result.json", "r.result.json"]


def child_env() -> dict:
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(ROOT), env.get("PYTHONPATH")]))
    return env


def run_batch(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "kvr_mtsp", "batch", *args], cwd=cwd, env=child_env(),
                          capture_output=True, text=True, timeout=300)


def summary(folder: Path) -> list[dict]:
    with open(folder / "summary.csv", newline="") as stream:
        return list(csv.DictReader(stream))


def solving_processes() -> set[int]:
    """Process ids of the batch's solving processes on this machine."""
    found = set()
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and b"_solve_here" in (entry / "cmdline").read_bytes():
                found.add(int(entry.name))
        except OSError:
            pass
    return found


def processor_seconds(pid: int) -> float:
    """User and system time a process has used so far (0 once it is gone)."""
    try:
        fields = (Path("/proc") / str(pid) / "stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class TestCommandLine:
    def test_results_summary_and_reruns(self, client, tmp_path, checker):
        docs = {"a": repeatable_doc(5), "b": repeatable_doc(6), "c": repeatable_doc(7)}
        for name, doc in docs.items():
            write(tmp_path / "in" / f"{name}.json", doc)
        write(tmp_path / "in" / "broken.json", '{"agents": 1')
        write(tmp_path / "in" / "deep.json", DEEP_TEXT)
        out = tmp_path / "out"
        # On the module's cluster, as on any existing one: no cluster start per run.
        engine = ("--scheduler", client.scheduler.address)
        first = run_batch("in", "--out", "out", *engine, "--seed", "2", cwd=tmp_path)
        assert first.returncode == 1, first.stderr  # the broken document
        rows = summary(out)
        assert [(row["instance"], row["status"]) for row in rows] == [
            ("in/a.json", "success"), ("in/b.json", "success"), ("in/broken.json", "error"), ("in/c.json", "success"),
            ("in/deep.json", "error")]
        assert rows[2]["error"].startswith("in/broken.json is not valid JSON")
        assert rows[4]["error"].startswith("in/deep.json: arrays and objects are nested too deeply")
        for row, (name, doc) in zip([rows[0], rows[1], rows[3]], docs.items()):
            written = json.loads((out / f"{name}.result.json").read_text())
            alone = kvr_mtsp.solve(doc, seed=2)
            assert [route["path"] for route in written["routes"]] == [list(r.positions) for r in alone.routes]
            assert checker(doc, [{k: r[k] for k in ("agent_id", "path", "cost")} for r in written["routes"]]) == []
            assert float(row["objective"]) == written["batch"]["objective"] == alone.objective
            assert float(row["peak_memory_mb"]) > 0 and float(row["cpu_time_s"]) > 0
        assert "in/broken.json is not valid JSON" in first.stdout  # the printed table
        assert sorted(p.name for p in out.iterdir()) == [
            "a.result.json", "b.result.json", "c.result.json", "summary.csv"]

        # Changed instance a, cut result c, untouched b: only b is kept.
        stamps = {name: (out / f"{name}.result.json").stat().st_mtime_ns for name in docs}
        docs["a"]["agents"].pop()
        write(tmp_path / "in" / "a.json", docs["a"])
        (out / "c.result.json").write_text('{"status": "success", "rou')
        second = run_batch("in", "--out", "out", *engine, "--seed", "2", cwd=tmp_path)
        assert "1 of 5 instances have a valid result" in second.stdout, second.stderr
        assert (out / "b.result.json").stat().st_mtime_ns == stamps["b"]
        assert json.loads((out / "c.result.json").read_text())["status"] == "success"
        assert len(json.loads((out / "a.result.json").read_text())["routes"]) == 2
        assert [row["status"] for row in summary(out)] == ["success", "success", "error", "success", "error"]

        # The default seed is 0 and recorded so: a rerun without --seed after one with
        # --seed 0 skips what was solved.
        seeded = run_batch("in/b.json", "--out", "zero", *engine, "--seed", "0", cwd=tmp_path)
        assert seeded.returncode == 0, seeded.stderr
        assert json.loads((tmp_path / "zero" / "b.result.json").read_text())["batch"]["settings"]["seed"] == 0
        unseeded = run_batch("in/b.json", "--out", "zero", *engine, cwd=tmp_path)
        assert "1 of 1 instances have a valid result" in unseeded.stdout, unseeded.stderr

        # Other settings are other results; --force solves a valid one again.
        third = run_batch("in/b.json", "--out", "out", *engine, "--seed", "2", "--force", cwd=tmp_path)
        assert third.returncode == 0, third.stderr
        assert (out / "b.result.json").stat().st_mtime_ns != stamps["b"]
        assert batch_cli.stored_row(str(out / "b.result.json"), str(tmp_path / "in" / "b.json"),
                                    {"time_limit": None, "improve": True, "seed": 3}) is None

    def test_no_capacity_reaches_every_solve_and_the_settings(self, client, tmp_path):
        write(tmp_path / "in" / "loaded.json", loaded_doc())
        engine = ("--scheduler", client.scheduler.address)
        for flags, loads, enforced in ((("--wall-time-limit", "30"), [9, 9], True),
                                       (("--no-capacity", "--no-schedule"), None, False)):
            completed = run_batch("in", "--out", "out", *engine, "--force", *flags, cwd=tmp_path)
            assert completed.returncode == 0, completed.stderr
            written = json.loads((tmp_path / "out" / "loaded.result.json").read_text())
            assert [route.get("load") for route in written["routes"]] == (loads or [None, None])
            assert written["batch"]["settings"]["enforce_capacity"] is enforced
            assert written["batch"]["settings"]["wall_time_limit"] == (30.0 if enforced else None)
            # The schedule goes with the default, and the checker reads it.
            assert written["batch"]["settings"]["schedule"] is enforced
            stops = [[stop["load"] for stop in route["stops"]] if "stops" in route else None
                     for route in written["routes"]]
            assert stops == ([[0, 3, 6, 9, 9]] * 2 if enforced else [None, None])
            assert kvr_mtsp.check(loaded_doc(enforce=enforced, improve=True), written).ok

    @pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads the process table in /proc")
    def test_ctrl_c_keeps_the_best_of_running_solves_and_cancels_the_rest(self, tmp_path, checker):
        quick = grid_doc(4, time_limit=5)
        quick["options"]["improve"] = False
        for name in ("a1", "a2"):
            write(tmp_path / "in" / f"{name}.json", quick)
        long_doc = long_search_doc(120.0)
        for name in ("z1", "z2", "z3"):
            write(tmp_path / "in" / f"{name}.json", long_doc)
        out = tmp_path / "out"
        child = subprocess.Popen(
            [sys.executable, "-m", "kvr_mtsp", "batch", "in", "--out", "out", "--workers", "2", "--no-improve"],
            cwd=tmp_path, env=child_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            deadline = time.monotonic() + 120
            while not all((out / f"{n}.result.json").exists() for n in ("a1", "a2")):
                assert child.poll() is None and time.monotonic() < deadline
                time.sleep(0.2)
            # Two long solves run now; wait until both are past their start-up
            # (the interpreter and the module take well under a processor second).
            while len(solving := solving_processes()) < 2 or min(map(processor_seconds, solving)) < 1.5:
                assert child.poll() is None and time.monotonic() < deadline
                time.sleep(0.2)
            child.send_signal(signal.SIGINT)
            stdout, stderr = child.communicate(timeout=90)
        finally:
            if child.poll() is None:
                child.kill()
        assert child.returncode == 130, stderr
        assert "interrupted by SIGINT; the running solves wrote their best solution so far" in stderr
        assert len(solving) == 2
        deadline = time.monotonic() + 20
        while solving & solving_processes() and time.monotonic() < deadline:
            time.sleep(0.2)
        assert not solving & solving_processes()
        # The two running solves handed over their best solutions; the third never started.
        assert sorted(p.name for p in out.iterdir()) == ["a1.result.json", "a2.result.json", "summary.csv",
                                                         "z1.result.json", "z2.result.json"]
        for name in ("z1", "z2"):
            written = json.loads((out / f"{name}.result.json").read_text())
            assert written["status"] == "success" and written["timeout"] is True
            assert written["batch"]["interrupted"] is True
            assert checker(long_doc, [{k: r[k] for k in ("agent_id", "path", "cost")}
                                      for r in written["routes"]]) == []
            # A rerun solves an interrupted instance again.
            assert batch_cli.stored_row(str(out / f"{name}.result.json"), str(tmp_path / "in" / f"{name}.json"),
                                        written["batch"]["settings"]) is None
        rows = summary(out)
        assert [row["status"] for row in rows] == ["success", "success", "success", "success", "cancelled"]
        assert [row["error"] == batch_cli.INTERRUPTED_TEXT for row in rows] == [False, False, True, True, False]
        assert json.loads((out / "a1.result.json").read_text())["batch"]["interrupted"] is False
