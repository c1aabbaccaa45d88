#include <pybind11/pybind11.h>

#include "model/solve_json.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace tarsel::python {

void BindJsonEntry(py::module_& m) {
  m.def("solve_json_file", &solve_json_file, py::arg("input_path"), py::arg("time_limit") = -1,
        "Solve an MTSP instance from a JSON file path.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.");
  m.def("solve_json_str", &SolveJson, py::arg("json_str"), py::arg("time_limit") = -1,
        "Solve an MTSP instance from a JSON string.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.");
}

}  // namespace tarsel::python
