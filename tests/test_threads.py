"""Solves and threads: a solve leaves the interpreter to other Python
threads, solves in two threads give what they give one after the other, a
Solver refuses to be read or solved from a second thread while it solves,
and the option "threads" runs the improvement engine on islands that give
the same result run after run."""
from __future__ import annotations

import json
import subprocess
import sys
import threading
import time

import pytest

import _kvr_core as core
import kvr_mtsp
from conftest import ROOT, long_search_doc
from kvr_mtsp import api, batch
from kvr_mtsp.cores import available_cores
from test_engine import random_doc, with_engine

TICK = 0.01  # seconds the ticking thread sleeps between ticks


class Ticker:
    """A thread that counts its ticks while it runs."""

    def __init__(self):
        self.ticks = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            time.sleep(TICK)
            self.ticks += 1

    def __enter__(self):
        self._started = time.monotonic()
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        self.seconds = time.monotonic() - self._started


def engine_doc(seed: int) -> dict:
    return with_engine(random_doc(seed, {"types", "windows"}, "min_max", n_targets=30), seed=3, max_iterations=400)


def routes_of(result: dict) -> list:
    return [(route["agent_id"], route["path"], route["cost"]) for route in result["routes"]]


class TestInterpreterLock:
    @pytest.mark.parametrize("entry", ["json", "solver"])
    def test_a_ticking_thread_keeps_ticking_during_a_solve(self, entry):
        doc = long_search_doc(1.5)
        with Ticker() as ticker:
            if entry == "json":
                result = core.solve_json_str(json.dumps(doc))
                assert result["status"] == "success"
            else:
                problem = core.read_document(json.dumps(doc))
                solver = core.Solver(problem, problem.options())
                assert solver.solve() == 1
        # Held through the solve, the lock would leave the ticker a tick or
        # two; released, it ticks nearly every period. A generous share
        # leaves room for a loaded machine.
        assert ticker.ticks >= 0.3 * ticker.seconds / TICK

    def test_solves_in_two_threads_give_what_they_give_one_after_the_other(self):
        texts = [json.dumps(engine_doc(seed)) for seed in (21, 22)]
        serial = [core.solve_json_str(text) for text in texts]
        parallel = [None, None]

        def run(index):
            parallel[index] = core.solve_json_str(texts[index])

        threads = [threading.Thread(target=run, args=(index,)) for index in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for alone, together in zip(serial, parallel):
            assert together["status"] == alone["status"] == "success"
            assert routes_of(together) == routes_of(alone)

    def test_a_solver_is_not_read_or_solved_from_another_thread_while_it_solves(self):
        doc = long_search_doc(30.0)
        problem = core.read_document(json.dumps(doc))
        solver = core.Solver(problem, problem.options())
        refused = []
        seen = threading.Event()

        def probe(record):
            # Runs on the solving thread, which may read its own Solver; a
            # second thread may neither read it nor solve it meanwhile.
            solver.get_result()
            if seen.is_set():
                raise StopIteration("done")
            outcome = []

            def other():
                for call in (solver.get_result, solver.get_result_process, solver.solve):
                    try:
                        call()
                        outcome.append("ran")
                    except RuntimeError as error:
                        outcome.append(str(error))

            thread = threading.Thread(target=other)
            thread.start()
            thread.join()
            refused.extend(outcome)
            seen.set()

        with pytest.raises(StopIteration):
            solver.solve(on_progress=probe)
        assert len(refused) == 3
        assert all("solving" in text for text in refused)
        # Once the solve has returned, any thread reads it.
        reader = threading.Thread(target=lambda: refused.append(solver.get_result().paths))
        reader.start()
        reader.join()
        assert refused[-1]


class TestThreadsOption:
    def test_islands_repeat_run_after_run_and_one_thread_is_the_engine_alone(self, checker):
        doc = engine_doc(31)
        without = core.solve_json_str(json.dumps(doc))
        doc["options"]["threads"] = 1
        assert routes_of(core.solve_json_str(json.dumps(doc))) == routes_of(without)
        doc["options"]["threads"] = 3
        runs = [core.solve_json_str(json.dumps(doc)) for _ in range(3)]
        assert runs[0]["status"] == "success"
        assert checker(doc, runs[0]["routes"]) == []
        assert routes_of(runs[1]) == routes_of(runs[0]) and routes_of(runs[2]) == routes_of(runs[0])
        # The anytime trace ends at the returned solution.
        assert runs[0]["anytime"][-1]["max_cost"] == pytest.approx(max(c for _, _, c in routes_of(runs[0])))

    def test_the_option_everywhere(self, tmp_path):
        assert core.Options().threads == 1
        doc = engine_doc(32)
        doc["options"]["threads"] = 257
        with pytest.raises(ValueError, match="threads must be at most 256, got 257"):
            core.solve_json_str(json.dumps(doc))
        with pytest.raises(ValueError, match="threads must be a whole number of at least 1"):
            kvr_mtsp.solve(doc, threads=0)

    def test_the_package_defaults_to_the_cores_and_batch_divides_them(self, monkeypatch):
        seen = []
        real = core.solve_problem

        def call(problem, time_limit, **kwargs):
            seen.append(problem.options().threads)
            return real(problem, time_limit, **kwargs)

        monkeypatch.setattr(api._kvr_core, "solve_problem", call)
        doc = engine_doc(33)
        kvr_mtsp.solve(doc)
        kvr_mtsp.solve(doc, threads=2)
        assert seen == [available_cores(), 2]
        monkeypatch.setattr(batch, "available_cores", lambda: 8)
        assert [batch.threads_per_solve(n) for n in (1, 3, 8, 20)] == [8, 2, 1, 1]

    def test_the_memory_budget_covers_every_island(self):
        doc = engine_doc(34)
        doc["options"]["memory_limit_mb"] = 3
        core.solve_json_str(json.dumps(doc))
        doc["options"]["threads"] = 256
        refusal = r'improvement engine \(.* MB on 256 threads\).*lower the option "threads"'
        with pytest.raises(ValueError, match=refusal):
            core.solve_json_str(json.dumps(doc))

    def test_command_line(self, tmp_path):
        instance = tmp_path / "doc.json"
        instance.write_text(json.dumps(engine_doc(35)))
        env = {"PYTHONPATH": str(ROOT), "PATH": "/usr/bin:/bin"}
        run = [sys.executable, "-m", "kvr_mtsp", "solve", str(instance), "--quiet"]
        solved = subprocess.run([*run, "--threads", "2", "--wall-time-limit", "20"], capture_output=True,
                                text=True, timeout=300, env=env)
        assert solved.returncode == 0, solved.stderr
        refused = subprocess.run([*run, "--threads", "0"], capture_output=True, text=True, timeout=60, env=env)
        assert refused.returncode == 2 and "--threads" in refused.stderr
