#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "model/options.h"
#include "model/problem.h"
#include "python/bindings.h"
#include "python/signal_watch.h"
#include "common/result.h"
#include "search/solver.h"

namespace py = pybind11;

namespace tarsel::python {

void BindSolver(py::module_& m) {
  // Results are only handed out by a Solver, never built from Python.
  py::class_<Result>(m, "Result")
      .def_readonly("n_generated", &Result::n_generated)
      .def_readonly("n_expanded", &Result::n_expanded)
      .def_readonly("timeout", &Result::timeout)
      .def_readonly("last_update_time", &Result::last_update_time)
      .def_readonly("paths", &Result::paths)
      .def_readonly("times", &Result::times);

  // The constructor takes both arguments by value, so the solver keeps its
  // own copies.
  py::class_<Solver>(m, "Solver")
      .def(py::init<Problem, Options>(), py::arg("problem"), py::arg("options"))
      .def(
          "solve",
          [](Solver& solver) {
            SignalWatch watch(solver);
            const int found = solver.Solve();
            watch.Finish(found == 1);
            return found;
          },
          "Run the KVR solver. Returns 1 on success, 0 on failure.\n"
               "Ctrl-C stops a running solve within a fraction of a second: a solution found so "
               "far is kept (the result's timeout is True); before any solution the "
               "KeyboardInterrupt propagates. The Solver can solve again afterwards.")
      .def("get_result", &Solver::GetResult)
      .def("get_result_process", &Solver::GetResultProcess);
}

}  // namespace tarsel::python
