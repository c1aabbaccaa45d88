#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace tarsel {

// Solves the instance held by the JSON document `json_text` (UTF-8) and
// returns the result dictionary with the keys "status", "timeout", "routes",
// "statistics" and "anytime". A positive `time_limit` replaces the
// document's own limit. Runs with the interpreter lock held; parse, shape and
// construction errors propagate unchanged.
pybind11::dict SolveJson(std::string json_text, double time_limit);

// Reads the file `input_path` completely and solves it as SolveJson does.
// Throws std::runtime_error "Cannot open file: " + path when it cannot be
// opened.
pybind11::dict solve_json_file(const std::string& input_path, double time_limit);

}  // namespace tarsel
