"""Without the improvement engine, instances with more nodes than the focal
search supports are refused before any table is built."""
from __future__ import annotations

import json
import re

import pytest

import _kvr_core as core

NODE_LIMIT = 256


def document(n: int, matrix_rows: int = 0) -> str:
    doc = {
        "nodes": [{"id": i, "x": i, "y": 0, "z": 0} for i in range(n)],
        "agents": [{"id": 1, "type": "truck", "start_node": 0, "end_node": n - 1}],
    }
    if matrix_rows:
        doc["costs"] = {"truck": [[1.0] * n for _ in range(matrix_rows)]}
    return json.dumps(doc)


@pytest.mark.parametrize("n, matrix_rows", [(5000, 0), (5000, 40), (NODE_LIMIT + 1, NODE_LIMIT + 1)])
def test_too_many_nodes_is_a_value_error_naming_count_and_limit(n, matrix_rows, tmp_path):
    text = document(n, matrix_rows)
    expected = (
        f"instance has {n} nodes, but the solver supports at most {NODE_LIMIT}; "
        'set the option "improve" to true to solve larger instances with the improvement engine'
    )
    with pytest.raises(ValueError, match=re.escape(expected)):
        core.solve_json_str(text, 0.1)
    path = tmp_path / "oversize.json"
    path.write_text(text, encoding="utf-8")
    with pytest.raises(ValueError, match=re.escape(expected)):
        core.solve_json_file(str(path))


def test_the_limit_itself_is_accepted():
    result = core.solve_json_str(document(NODE_LIMIT), 0.05)
    assert result["status"] in ("success", "failed")
    assert len(result["routes"]) == 1


def test_python_solver_refuses_too_many_nodes():
    problem = core.Problem()
    for i in range(NODE_LIMIT + 1):
        node = core.Node()
        node.id = i
        problem.add_node(node)
    with pytest.raises(ValueError, match=f"{NODE_LIMIT + 1} nodes.*at most {NODE_LIMIT}"):
        core.Solver(problem, core.Options())
