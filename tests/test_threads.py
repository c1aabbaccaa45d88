"""Solves and Python threads: a solve leaves the interpreter to other
threads, solves in two threads give what they give one after the other,
and a Solver refuses to be read or solved from a second thread while it
solves."""
from __future__ import annotations

import json
import threading
import time

import pytest

import _kvr_core as core
from conftest import long_search_doc
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
