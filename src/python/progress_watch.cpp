#include "python/progress_watch.h"

#include <utility>

namespace py = pybind11;

namespace tarsel::python {

ProgressWatch::ProgressWatch(Solver& solver, SignalWatch& signals, py::object callback)
    : solver_(solver), signals_(signals), callback_(std::move(callback)) {
  if (callback_.is_none()) return;
  if (!PyCallable_Check(callback_.ptr())) {
    throw py::type_error("on_progress must be a callable taking one ProgressRecord, or None");
  }
  solver_.SetProgressSink([this](const ProgressRecord& record) { Send(record); });
}

ProgressWatch::~ProgressWatch() { solver_.SetProgressSink({}); }

void ProgressWatch::Send(const ProgressRecord& record) {
  if (stopped_) return;
  py::gil_scoped_acquire gil;  // the solve runs without the interpreter lock
  try {
    callback_(record);
  } catch (py::error_already_set& error) {
    stopped_ = true;
    if (error.matches(PyExc_KeyboardInterrupt)) {
      signals_.Keep(std::move(error));
    } else {
      raised_.emplace(std::move(error));
    }
    solver_.RequestStop();
  }
}

void ProgressWatch::Finish(const std::function<py::object()>& best) {
  solver_.SetProgressSink({});
  if (!raised_) return;
  py::error_already_set raised = std::move(*raised_);
  raised_.reset();
  raised.value().attr("result") = best();
  throw raised;
}

}  // namespace tarsel::python
