#include "python/console_forward.h"

#include <utility>

namespace py = pybind11;

namespace tarsel::python {

ConsoleForward::ConsoleForward(py::object callback) : callback_(std::move(callback)) {
  if (callback_.is_none()) return;
  if (!PyCallable_Check(callback_.ptr())) {
    throw py::type_error("on_console must be a callable taking one ConsoleRecord, or None");
  }
  previous_ = SetConsoleSink(this);
  installed_ = true;
}

ConsoleForward::~ConsoleForward() {
  if (installed_) SetConsoleSink(previous_);
}

void ConsoleForward::Write(const ConsoleRecord& record) {
  if (stopped_) {
    previous_->Write(record);
    return;
  }
  py::gil_scoped_acquire gil;
  try {
    callback_(record);
  } catch (py::error_already_set& error) {
    stopped_ = true;
    if (signals_ != nullptr && error.matches(PyExc_KeyboardInterrupt)) {
      signals_->Keep(std::move(error));
      return;
    }
    raised_.emplace(std::move(error));
    if (solver_ != nullptr) solver_->RequestStop();
  }
}

void ConsoleForward::Watch(Solver& solver, SignalWatch& signals) {
  solver_ = &solver;
  signals_ = &signals;
}

void ConsoleForward::Finish(const std::function<py::object()>& best) {
  solver_ = nullptr;
  signals_ = nullptr;
  if (!raised_) return;
  py::error_already_set raised = std::move(*raised_);
  raised_.reset();
  if (best) raised.value().attr("result") = best();
  throw raised;
}

}  // namespace tarsel::python
