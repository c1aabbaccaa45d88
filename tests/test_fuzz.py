"""Fuzzing of the JSON entry points with generated and mutated documents.

Every call must either return a result dictionary that agrees with the
instance (checked by kvr_mtsp.checker, which reads the document on its own) or
raise the exception the document calls for: RuntimeError for a document the
reader rejects, ValueError for repeated ids, a negative cost or a
"missing_cost" that is not positive, IndexError for an unknown node id or
cost type, TypeError for text that is not valid Unicode, always with a
message. Results are checked as strictly as proper solutions of well-formed
instances: the solver keeps the same rules on any document it accepts.

The generated and the solvable documents are also solved with the
improvement engine on ("improve" true, a random "seed", a few iterations),
checked the same way.

Tiny documents of every kind (tests/brute_force.py) are compared with their
exact optimum: "success" exactly when a solution exists, and a search that
ended before its time limit returns the optimum. Tiny documents with
enforced precedence pairs go to the improvement engine, a heuristic: its
solutions pass the checker and are never better than the optimum, and it
finds none where none exists.

The short profile runs by default (about 330 documents). The long one:
    KVR_FUZZ_PROFILE=long python -m pytest -q tests/test_fuzz.py --hypothesis-show-statistics
"""
from __future__ import annotations

import faulthandler
import json
import os

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import _kvr_core as core
from kvr_mtsp.checker import InvalidInstance, ShapeError, UnknownReference, check_result, parse_json, read_instance
from brute_force import brute_force
from fuzz_strategies import easy_instances, instances, mutated_bytes, mutated_documents, tiny_instances

settings.register_profile(
    "kvr-fuzz-short",
    deadline=None,
    print_blob=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.large_base_example],
)
settings.register_profile("kvr-fuzz-long", parent=settings.get_profile("kvr-fuzz-short"))
PROFILE = os.environ.get("KVR_FUZZ_PROFILE", "short")
SCALE = {"short": 1, "long": 45}[PROFILE]

SEARCH_SECONDS = 0.1  # processor time of one search
EXACT_SECONDS = 10.0  # processor time for a tiny document, far more than its search takes
HANG_SECONDS = 120  # a call that takes this long is reported with a traceback and ends the run
ALLOWED_ERRORS = (RuntimeError, IndexError, ValueError, TypeError)


def fuzz_settings(examples: int):
    return settings(settings.get_profile(f"kvr-fuzz-{PROFILE}"), max_examples=examples * SCALE)


def expected_error(text):
    """The exception class the document calls for, or None when it must solve."""
    try:
        read_instance(parse_json(text))
    except (ValueError, UnicodeError):  # not JSON, for the parser too
        return RuntimeError
    except ShapeError:
        return RuntimeError
    except UnknownReference:
        return IndexError
    except InvalidInstance:
        return ValueError
    return None


def effective_time_limit(text, argument: float) -> float:
    """A non-positive argument leaves the document's limit, which must stay small here."""
    if argument > 0:
        return argument
    try:
        limit = read_instance(parse_json(text)).time_limit
    except Exception:
        return argument  # rejected before any search
    return argument if limit <= SEARCH_SECONDS else SEARCH_SECONDS


def solve_and_check(call, text, time_limit: float):
    expected = expected_error(text)
    time_limit = effective_time_limit(text, time_limit)
    faulthandler.dump_traceback_later(HANG_SECONDS, exit=True)
    try:
        result = call(time_limit)
    except ALLOWED_ERRORS as error:
        event(f"raises {type(error).__name__}")
        assert str(error), f"{type(error).__name__} without a message"
        assert expected is not None, f"a valid document was rejected: {error!r}"
        assert isinstance(error, expected), f"expected {expected.__name__}, got {error!r}"
        return None
    finally:
        faulthandler.cancel_dump_traceback_later()
    event(f"returns {result['status'] if isinstance(result, dict) else type(result).__name__}")
    assert expected is None, f"expected {expected.__name__}, got a result"
    # What a proper solution satisfies, whatever the document.
    errors = check_result(read_instance(parse_json(text)), result)
    assert not errors, "\n".join(errors)
    return result


time_arguments = st.sampled_from([SEARCH_SECONDS, SEARCH_SECONDS, SEARCH_SECONDS, 0, -1])
# The improvement engine's settings: a few iterations keep each call short.
engine_options = st.fixed_dictionaries({
    "improve": st.just(True),
    "seed": st.integers(0, 2**31 - 1),
    "max_iterations": st.sampled_from([1, 3, 10, 30]),
})


def with_engine(doc: dict, options: dict) -> dict:
    """The document with the engine's options added to its own."""
    doc = dict(doc)
    doc["options"] = {**doc.get("options", {}), **options}
    return doc


@fuzz_settings(90)
@given(doc=instances(), time_limit=time_arguments)
def test_generated_documents(doc, time_limit):
    text = json.dumps(doc)
    solve_and_check(lambda t: core.solve_json_str(text, t), text, time_limit)


@fuzz_settings(60)
@given(doc=instances(), time_limit=time_arguments, options=engine_options)
def test_generated_documents_with_the_engine(doc, time_limit, options):
    text = json.dumps(with_engine(doc, options))
    solve_and_check(lambda t: core.solve_json_str(text, t), text, time_limit)


@fuzz_settings(80)
@given(doc=mutated_documents(), time_limit=time_arguments)
def test_mutated_documents(doc, time_limit):
    text = json.dumps(doc)
    solve_and_check(lambda t: core.solve_json_str(text, time_limit=t), text, time_limit)


@fuzz_settings(60)
@given(data=mutated_bytes())
def test_mutated_bytes_through_a_file(tmp_path_factory, data):
    path = tmp_path_factory.getbasetemp() / "fuzz_instance.json"
    path.write_bytes(data)
    solve_and_check(lambda t: core.solve_json_file(str(path), t), data, SEARCH_SECONDS)


@fuzz_settings(25)
@given(doc=easy_instances())
def test_solvable_documents_are_solved(doc):
    text = json.dumps(doc)
    result = solve_and_check(lambda t: core.solve_json_str(text, t), text, SEARCH_SECONDS)
    assert result["status"] == "success"


@fuzz_settings(20)
@given(doc=easy_instances(), options=engine_options)
def test_solvable_documents_are_solved_with_the_engine(doc, options):
    text = json.dumps(with_engine(doc, options))
    result = solve_and_check(lambda t: core.solve_json_str(text, t), text, SEARCH_SECONDS)
    assert result["status"] == "success"


@fuzz_settings(150)
@given(doc=tiny_instances())
def test_tiny_documents_reach_the_brute_force_optimum(doc):
    text = json.dumps(doc)
    result = solve_and_check(lambda t: core.solve_json_str(text, t), text, EXACT_SECONDS)
    optimum = brute_force(read_instance(parse_json(text))).value
    event("feasible" if optimum is not None else "infeasible")
    # Searches of this size end within milliseconds: running out of time
    # would itself be a fault.
    assert not result["timeout"]
    key = "max_cost" if doc["options"]["objective"] == "min_max" else "sum_cost"
    if doc["options"].get("enforce_precedence"):
        # Enforced pairs are solved by the improvement engine, no exact
        # method: it never claims a solution where none exists, nor one
        # better than the optimum.
        if optimum is None:
            event("pairs: no solution exists")
            assert result["status"] == "failed"
        elif result["status"] == "success":
            assert result["statistics"][key] >= optimum - 1e-6 * max(1.0, optimum)
            event("pairs: optimum reached" if result["statistics"][key] <= optimum + 1e-6 * max(1.0, optimum)
                  else "pairs: above the optimum")
        else:
            event("pairs: no solution found")
        return
    assert (result["status"] == "success") == (optimum is not None)
    if optimum is not None:
        assert result["statistics"][key] == pytest.approx(optimum, rel=1e-6, abs=1e-9)


def test_text_that_is_not_unicode_is_a_type_error():
    with pytest.raises(TypeError, match="incompatible function arguments"):
        core.solve_json_str('{"nodes": [], "agents": [], "x": "\ud800"}')


@pytest.mark.parametrize("text", ['{"a": é}', "é", '{"nodes": [ü]}'])
def test_parse_error_inside_a_multibyte_character_is_a_runtime_error(text, tmp_path):
    with pytest.raises(RuntimeError, match=r"parse_error\.101.*last read: .*\\xc3") as raised:
        core.solve_json_str(text)
    assert not isinstance(raised.value, UnicodeError)
    path = tmp_path / "broken.json"
    path.write_bytes(b"\xef\xbb\xbf\xc2\xa0{}")  # byte-order mark, then a no-break space
    with pytest.raises(RuntimeError, match=r"last read: .*\\xc2"):
        core.solve_json_file(str(path))


def test_oracle_reports_tampered_results():
    costs = [[0.0, 3.1, 4.2, 5.3, 6.4], [3.3, 0.0, 2.5, 7.1, 8.2], [4.4, 2.6, 0.0, 1.7, 9.3],
             [5.5, 7.2, 1.8, 0.0, 2.9], [6.6, 8.4, 9.5, 3.0, 0.0]]
    doc = {
        "nodes": [{"id": 10 * i, "x": i, "y": 0, "z": 0} for i in range(5)],
        "agents": [{"id": 7, "type": "truck", "start_node": 0, "end_node": 0, "max_length": 40},
                   {"id": 3, "type": "truck", "start_node": 0, "end_node": 0}],
        "costs": {"truck": costs},
        "constraints": [{"kind": "timewindow", "items": [{"node": 20, "start": 6, "end": 30}]}],
        "options": {"objective": "min_max"},
    }
    text = json.dumps(doc)
    result = core.solve_json_str(text, SEARCH_SECONDS)
    instance = read_instance(parse_json(text))
    assert result["status"] == "success"
    assert check_result(instance, result) == []

    def tampered(change):
        copy = json.loads(json.dumps(result))
        change(copy)
        return check_result(instance, copy)

    longer = max(result["routes"], key=lambda r: len(r["path"]))
    k = result["routes"].index(longer)
    assert tampered(lambda r: r["routes"][k].update(cost=longer["cost"] + 0.5))
    assert tampered(lambda r: r["routes"][k]["path"].pop(1))  # a target left out
    assert tampered(lambda r: r["routes"][1 - k]["path"].insert(1, longer["path"][1]))  # served twice
    assert tampered(lambda r: r["routes"][k]["path"].reverse() or r["routes"][k]["path"].append(2))
    assert tampered(lambda r: r["routes"].reverse())
    assert tampered(lambda r: r.update(status="failed"))
    assert tampered(lambda r: r["statistics"].update(max_cost=r["statistics"]["max_cost"] + 1))
