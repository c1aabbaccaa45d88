#include <pybind11/pybind11.h>

#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>

#include "python/solve_json.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace tarsel::python {

namespace {

// JSON errors quote the input at the point where reading stopped, which need
// not be valid UTF-8 (bytes of a file, or a multi-byte character cut short).
// The standard translation would then fail to build the message and raise
// UnicodeDecodeError; here such bytes become \xNN escapes and the error stays
// a RuntimeError carrying the library's message.
void TranslateJsonError(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const nlohmann::json::exception& e) {
    const char* text = e.what();
    PyObject* message =
        PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "backslashreplace");
    if (message == nullptr) {
      PyErr_Clear();
      PyErr_SetString(PyExc_RuntimeError, "invalid JSON document");
      return;
    }
    PyErr_SetObject(PyExc_RuntimeError, message);
    Py_DECREF(message);
  }
}

}  // namespace

void BindJsonEntry(py::module_& m) {
  py::register_exception_translator(&TranslateJsonError);
  m.def("solve_json_file", &solve_json_file, py::arg("input_path"), py::arg("time_limit") = -1,
        "Solve an MTSP instance from a JSON file path.\n"
"Returns a dict with keys: status, routes, statistics, anytime, timeout.\n"
        "Ctrl-C stops a running solve within a fraction of a second: the best solution "
        "found so far is returned with timeout True; before any solution the "
        "KeyboardInterrupt propagates.");
  m.def("solve_json_str", &SolveJson, py::arg("json_str"), py::arg("time_limit") = -1,
        "Solve an MTSP instance from a JSON string.\n"
"Returns a dict with keys: status, routes, statistics, anytime, timeout.\n"
        "Ctrl-C stops a running solve within a fraction of a second: the best solution "
        "found so far is returned with timeout True; before any solution the "
        "KeyboardInterrupt propagates.");
}

}  // namespace tarsel::python
