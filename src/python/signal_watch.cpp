#include "python/signal_watch.h"

#include <utility>

#include "common/console.h"

namespace tarsel::python {

SignalWatch::SignalWatch(Solver& solver) : solver_(solver) {
  solver_.SetInterruptCallback([this]() {
    // The solve runs without the interpreter lock: take it for the check.
    pybind11::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() == 0) return false;
    raised_.emplace();  // takes the pending exception and clears it
    return true;
  });
}

SignalWatch::~SignalWatch() { solver_.SetInterruptCallback({}); }

void SignalWatch::Keep(pybind11::error_already_set raised) {
  if (!raised_) raised_.emplace(std::move(raised));
  solver_.RequestStop();
}

void SignalWatch::Finish(bool found_solution) {
  solver_.SetInterruptCallback({});
  if (!raised_) return;
  if (!found_solution) {
    pybind11::error_already_set raised = std::move(*raised_);
    raised_.reset();
    throw raised;
  }
  ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kStop, console_code::kInterrupted, {}, "[interrupted] ",
                   raised_->type().attr("__name__").cast<std::string>(),
                   ": the solve stopped early; the result holds the best solution found");
  raised_.reset();
}

}  // namespace tarsel::python
