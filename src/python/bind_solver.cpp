#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/typing.h>

#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <utility>

#include "model/options.h"
#include "model/problem.h"
#include "python/bindings.h"
#include "python/progress_watch.h"
#include "python/signal_watch.h"
#include "common/result.h"
#include "search/solver.h"

namespace py = pybind11;

namespace tarsel::python {

namespace {

// Marks a Solver as solving, on the calling thread, while it lives. A solve
// started from inside the same Solver's own on_progress callable would reset
// the running search under its feet, and one started on another thread
// would race with it, so both are refused; so are the Solver's readers on
// another thread while it solves (its on_progress callable may read it: the
// solve waits for the callable). The interpreter lock guards the map.
class SolvingMark {
 public:
  explicit SolvingMark(const Solver& solver) : solver_(solver) {
    if (!Solving().emplace(&solver_, std::this_thread::get_id()).second) {
      throw std::runtime_error("this Solver is already solving; its on_progress callable cannot solve it again");
    }
  }
  ~SolvingMark() { Solving().erase(&solver_); }
  SolvingMark(const SolvingMark&) = delete;
  SolvingMark& operator=(const SolvingMark&) = delete;

  // Throws when `solver` is solving on a thread other than this one.
  static void CheckReadable(const Solver& solver) {
    const auto found = Solving().find(&solver);
    if (found != Solving().end() && found->second != std::this_thread::get_id()) {
      throw std::runtime_error("this Solver is solving on another thread; read it once solve() has returned");
    }
  }

 private:
  static std::unordered_map<const Solver*, std::thread::id>& Solving() {
    static std::unordered_map<const Solver*, std::thread::id> solving;
    return solving;
  }
  const Solver& solver_;
};

}  // namespace

void BindSolver(py::module_& m) {
  using ProgressCallable = py::typing::Optional<py::typing::Callable<py::object(const ProgressRecord&)>>;
  // The most nodes the focal search takes; larger instances need the option "improve".
  m.attr("MAX_SEARCH_NODES") = kMaxSearchNodes;
  // Results are only handed out by a Solver, never built from Python.
  py::class_<Result>(m, "Result")
      .def_readonly("n_generated", &Result::n_generated)
      .def_readonly("n_expanded", &Result::n_expanded)
      .def_readonly("timeout", &Result::timeout)
      .def_readonly("last_update_time", &Result::last_update_time)
      .def_readonly("paths", &Result::paths)
      .def_readonly("times", &Result::times)
      .def_readonly("loads", &Result::loads)
      // (node, arrival, start, departure, load) per stop, keyed as paths.
      .def_property_readonly("stops", [](const Result& result) {
        using StopTuple = py::typing::Tuple<py::int_, py::float_, py::float_, py::float_, py::float_>;
        py::typing::Dict<py::int_, py::typing::List<StopTuple>> stops;
        for (const auto& [agent, route] : result.stops) {
          py::typing::List<StopTuple> listed;
          for (const ScheduledStop& stop : route) {
            listed.append(py::make_tuple(stop.node, stop.arrival, stop.start, stop.departure, stop.load));
          }
          stops[py::int_(agent)] = std::move(listed);
        }
        return stops;
      });

  // The constructor takes both arguments by value, so the solver keeps its
  // own copies.
  py::class_<Solver>(m, "Solver")
      .def(py::init<Problem, Options>(), py::arg("problem"), py::arg("options"))
      .def(
          "solve",
          [](Solver& solver, ProgressCallable on_progress) {
            const SolvingMark mark(solver);
            SignalWatch watch(solver);
            ProgressWatch progress(solver, watch, std::move(on_progress));
            int found = 0;
            {
              // Other Python threads run while the solve does; the watches
              // take the interpreter lock back to call into Python.
              py::gil_scoped_release free;
              found = solver.Solve();
            }
            watch.Finish(found == 1);
            progress.Finish([&solver] { return py::cast(solver.GetResult()); });
            return found;
          },
          py::kw_only(), py::arg("on_progress") = py::none(),
          "Run the KVR solver. Returns 1 on success, 0 on failure.\n"
          "on_progress: None, or a callable taking one ProgressRecord, called on this thread on "
          "every improving solution and, between them, at most once per second of processor "
          "time. When it raises, the solve stops as Ctrl-C stops it, the Solver keeps the best "
          "solution found so far (get_result()), and the exception propagates with that Result "
          "as its attribute 'result'; a KeyboardInterrupt raised in it acts exactly as Ctrl-C does.\n"
          "Ctrl-C stops a running solve within a fraction of a second: a solution found so "
          "far is kept (the result's timeout is True); before any solution the "
          "KeyboardInterrupt propagates. The Solver can solve again afterwards.\n"
          "The solve runs without the interpreter lock, so other Python threads run meanwhile. "
          "A Solver is used by one thread at a time: solve() while it solves raises RuntimeError, "
          "and so do get_result() and get_result_process() on another thread while it solves. "
          "Different Solver objects solve in different threads at the same time.")
      .def(
          "get_result",
          [](Solver& solver) {
            SolvingMark::CheckReadable(solver);
            return solver.GetResult();
          },
          "The best solution of the last solve. On another thread while the Solver solves: "
          "RuntimeError.")
      .def(
          "get_result_process",
          [](const Solver& solver) {
            SolvingMark::CheckReadable(solver);
            return solver.GetResultProcess();
          },
          "The anytime log of the last solve: (processor seconds, Result) per solution found. On "
          "another thread while the Solver solves: RuntimeError.");
}

}  // namespace tarsel::python
