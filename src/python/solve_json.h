#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "model/problem.h"

namespace tarsel {

// The JSON library's refusal of a value of an instance document, with the
// place it arose in said for a person (ParseProblemJson's `refusal`):
// what() is the library's message unchanged; Python sees a RuntimeError
// carrying it, with the place as its attribute "detail".
class DocumentRefused : public std::runtime_error {
 public:
  DocumentRefused(const char* message, std::string detail)
      : std::runtime_error(message), detail_(std::move(detail)) {}
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

// The Problem of the JSON document `json_text` (UTF-8), with its options.
// The text and the parsed tree (on a document of full matrices several
// times the size of the matrices) are freed before it returns. Parse errors
// propagate unchanged (the JSON library's exceptions), shape errors as
// DocumentRefused. Called with the interpreter lock held, it reads without
// it (a console sink that calls into Python takes it back).
Problem ReadProblem(std::string json_text);

// The Problem of the document in the file `input_path`, read completely.
// Throws std::runtime_error "Cannot open file: " + path when it cannot be
// opened. Reads without the interpreter lock, as ReadProblem does.
Problem ReadProblemFile(const std::string& input_path);

// Solves `problem` under its own options (a positive `time_limit` replaces
// their time limit) and returns the result dictionary described below.
// `on_console` (None or a callable) takes the solve's console records in
// place of the standard streams (python/console_forward.h); when it raises,
// the solve stops and the exception propagates as one of `on_progress`
// does (raised while the solver is built: before the search, without
// "result"). With `wall_times`, every "anytime" entry carries its
// "wall_time", as it does anyway when the options set a wall-clock limit.
pybind11::dict SolveProblem(Problem problem, double time_limit, pybind11::object on_progress = pybind11::none(),
                            pybind11::object on_console = pybind11::none(), bool wall_times = false);

// Solves the instance held by the JSON document `json_text` (UTF-8) and
// returns the result dictionary with the keys "status", "timeout", "routes",
// "statistics" and "anytime". A positive `time_limit` replaces the
// document's own limit. `on_progress` (None or a callable) receives the
// solve's progress records (python/progress_watch.h); when it raises, the
// exception propagates with the result dictionary as its attribute
// "result". Called with the interpreter lock held, it reads, builds and
// solves without it, taking it back only to call `on_progress`, to run
// pending signal handlers and to hand console records to a Python sink;
// parse, shape and construction errors propagate unchanged.
pybind11::dict SolveJson(std::string json_text, double time_limit,
                         pybind11::object on_progress = pybind11::none());

// Reads the file `input_path` (ReadProblemFile) and solves it as SolveJson does.
pybind11::dict solve_json_file(const std::string& input_path, double time_limit,
                               pybind11::object on_progress = pybind11::none());

}  // namespace tarsel
