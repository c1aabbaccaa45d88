#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <optional>

#include "python/signal_watch.h"
#include "search/solver.h"

namespace tarsel::python {

// Passes a running solve's progress records to a Python callable, on the
// calling thread, taking the interpreter lock for the call (the solve runs
// without it). When the callable raises, no further records are sent and the solve
// stops as an interrupt stops it, keeping its best solution: a
// KeyboardInterrupt is handed to the SignalWatch and then behaves exactly
// as Ctrl-C does; any other exception is kept and raised by Finish.
class ProgressWatch {
 public:
  // `callback`: None (no records are made) or a callable taking one
  // ProgressRecord; anything else raises TypeError.
  ProgressWatch(Solver& solver, SignalWatch& signals, pybind11::object callback);
  ~ProgressWatch();
  ProgressWatch(const ProgressWatch&) = delete;
  ProgressWatch& operator=(const ProgressWatch&) = delete;

  // After the solve: when the callable raised, sets the exception's
  // attribute "result" to `best()` (what the solve returns otherwise) and
  // raises it.
  void Finish(const std::function<pybind11::object()>& best);

 private:
  void Send(const ProgressRecord& record);

  Solver& solver_;
  SignalWatch& signals_;
  pybind11::object callback_;
  bool stopped_ = false;
  std::optional<pybind11::error_already_set> raised_;
};

}  // namespace tarsel::python
