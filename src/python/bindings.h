#pragma once

#include <pybind11/pybind11.h>

namespace tarsel::python {

// Registration steps of the module, called in this order.
void BindEnums(pybind11::module_& m);
void BindModel(pybind11::module_& m);
void BindProgress(pybind11::module_& m);   // ProgressRecord
void BindConsole(pybind11::module_& m);    // ConsoleRecord
void BindSolver(pybind11::module_& m);     // Result, then Solver
void BindJsonEntry(pybind11::module_& m);  // solve_json_file, solve_json_str

}  // namespace tarsel::python
