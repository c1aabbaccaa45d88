#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <optional>

#include "common/console.h"
#include "python/signal_watch.h"
#include "search/solver.h"

namespace tarsel::python {

// Hands the core's console records to a Python callable while it lives, in
// place of the standard streams, on the calling thread only (the sink is
// per thread, so solves on other threads keep their own). The callable runs
// with the interpreter lock held.
//
// When the callable raises, it gets no further records (they go to the sink
// that was in use before, the standard streams unless another was
// installed), and the exception is kept: once a solve is watched (Watch),
// the solve stops as an interrupt stops it, a KeyboardInterrupt being handed
// to the SignalWatch so that it behaves exactly as Ctrl-C does; any other
// exception is raised by Finish.
class ConsoleForward : public ConsoleSink {
 public:
  // `callback`: None (nothing is installed: the lines keep going where they
  // went) or a callable taking one ConsoleRecord; anything else raises
  // TypeError.
  explicit ConsoleForward(pybind11::object callback);
  ~ConsoleForward() override;
  ConsoleForward(const ConsoleForward&) = delete;
  ConsoleForward& operator=(const ConsoleForward&) = delete;

  void Write(const ConsoleRecord& record) override;

  // From now until Finish, a raising callable stops `solver`.
  void Watch(Solver& solver, SignalWatch& signals);
  // Raises the kept exception, if any, with the attribute "result" set to
  // `best()` when `best` is given.
  void Finish(const std::function<pybind11::object()>& best = {});

 private:
  pybind11::object callback_;
  ConsoleSink* previous_ = nullptr;
  bool installed_ = false;
  bool stopped_ = false;
  Solver* solver_ = nullptr;
  SignalWatch* signals_ = nullptr;
  std::optional<pybind11::error_already_set> raised_;
};

}  // namespace tarsel::python
