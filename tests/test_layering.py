"""The source folders form layers: every include points to the own folder or a lower layer."""
from __future__ import annotations

import importlib.util
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
_location = importlib.util.spec_from_file_location("include_graph", ROOT / "scripts" / "include_graph.py")
include_graph = importlib.util.module_from_spec(_location)
_location.loader.exec_module(include_graph)


def test_source_tree_has_no_include_running_up():
    edges = include_graph.folder_includes(ROOT / "src")
    assert edges, "the graph found no include between folders"
    assert include_graph.violations(edges) == []


def test_every_source_folder_has_a_layer_and_a_readme():
    for folder in (ROOT / "src").iterdir():
        if folder.is_dir():
            assert folder.name in include_graph.LAYERS, folder.name
            assert (folder / "README.md").is_file(), f"src/{folder.name} has no README"


def test_includes_running_up_or_sideways_are_reported(tmp_path):
    for folder, text in {
        "common": '#include "common/a.h"\n',
        "plugins": '#include "search/solver.h"\n#include "common/a.h"\n',
        "model": '#include "graph/planner_graph.h"\n',
        "extra": '#include "common/a.h"\n',
    }.items():
        (tmp_path / folder).mkdir()
        (tmp_path / folder / "x.cpp").write_text(text)
    found = include_graph.violations(include_graph.folder_includes(tmp_path))
    assert found == [
        "extra -> common: folder 'extra' has no layer (extra/x.cpp)",
        "model -> graph runs sideways (model/x.cpp)",
        "plugins -> search runs up (plugins/x.cpp)",
    ]
    assert include_graph.main(["include_graph", str(tmp_path)]) == 1
