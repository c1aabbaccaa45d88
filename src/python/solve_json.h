#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace tarsel {

// Solves the instance held by the JSON document `json_text` (UTF-8) and
// returns the result dictionary with the keys "status", "timeout", "routes",
// "statistics" and "anytime". A positive `time_limit` replaces the
// document's own limit. `on_progress` (None or a callable) receives the
// solve's progress records (python/progress_watch.h); when it raises, the
// exception propagates with the result dictionary as its attribute
// "result". Runs with the interpreter lock held; parse, shape and
// construction errors propagate unchanged.
pybind11::dict SolveJson(std::string json_text, double time_limit,
                         pybind11::object on_progress = pybind11::none());

// Reads the file `input_path` completely and solves it as SolveJson does.
// Throws std::runtime_error "Cannot open file: " + path when it cannot be
// opened.
pybind11::dict solve_json_file(const std::string& input_path, double time_limit,
                               pybind11::object on_progress = pybind11::none());

}  // namespace tarsel
