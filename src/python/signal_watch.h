#pragma once

#include <pybind11/pybind11.h>

#include <optional>

#include "search/solver.h"

namespace tarsel::python {

// Lets the interpreter's signals stop a running solve. While it lives, the
// Solver asks it every few tens of milliseconds of processor time; it runs
// the interpreter's pending signal handlers (taking the interpreter lock
// for that moment: the solve runs without it), and when one raises (KeyboardInterrupt for Ctrl-C),
// keeps the exception and tells the Solver to stop.
class SignalWatch {
 public:
  explicit SignalWatch(Solver& solver);
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // After the solve: when a signal stopped it, a solve that found a
  // solution returns normally (one "[interrupted] ..." line on standard
  // error says so) and one that found none raises the kept exception.
  void Finish(bool found_solution);
  // Keeps `raised` (a KeyboardInterrupt raised elsewhere while the solve
  // ran, e.g. in a progress callback) as if a signal had raised it, and
  // stops the solve; the first exception kept wins.
  void Keep(pybind11::error_already_set raised);

 private:
  Solver& solver_;
  std::optional<pybind11::error_already_set> raised_;
};

}  // namespace tarsel::python
