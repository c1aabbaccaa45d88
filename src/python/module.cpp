#include <pybind11/pybind11.h>

#include "python/bindings.h"

namespace py = pybind11;

PYBIND11_MODULE(_kvr_core, m) {
  m.doc() = "KVR MTSP Solver — C++ core bindings";
  tarsel::python::BindEnums(m);
  tarsel::python::BindModel(m);
  tarsel::python::BindProgress(m);
  tarsel::python::BindConsole(m);
  tarsel::python::BindSolver(m);
  tarsel::python::BindJsonEntry(m);
}
