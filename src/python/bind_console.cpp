#include <pybind11/pybind11.h>
#include <pybind11/typing.h>

#include <string>
#include <variant>

#include "common/console.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace tarsel::python {

namespace {

// Texts may hold bytes of the input that are not UTF-8 (a file name, say):
// such bytes become \xNN escapes instead of failing the conversion.
py::str Text(const std::string& text) {
  PyObject* str = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
  if (str == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(str);
}

py::typing::Optional<py::str> Code(const ConsoleRecord& record) {
  if (record.code.empty()) return py::none();
  return py::str(record.code.data(), record.code.size());
}

const char* StreamName(const ConsoleRecord& record) {
  return record.stream == ConsoleStream::kOut ? "stdout" : "stderr";
}

py::object Value(const ConsoleValue& value) {
  return std::visit(
      [](const auto& held) -> py::object {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::string>) {
          return Text(held);
        } else {
          return py::cast(held);
        }
      },
      value);
}

}  // namespace

void BindConsole(py::module_& m) {
  // Records are only made by the core and handed to an on_console callable;
  // each is a copy the callable may keep.
  py::class_<ConsoleRecord> record(m, "ConsoleRecord");
  const auto getter = [&record](auto read) { return py::cpp_function(read, py::is_method(record)); };
  record.def_property_readonly("stream", getter([](const ConsoleRecord& r) { return StreamName(r); }))
      .def_property_readonly("kind", getter([](const ConsoleRecord& r) { return ConsoleKindName(r.kind); }))
      .def_property_readonly("code", getter(&Code))
      .def_property_readonly("fields", getter([](const ConsoleRecord& r) {
                               py::typing::Dict<py::str, py::object> fields;
                               for (const auto& [name, value] : r.fields) fields[py::str(name)] = Value(value);
                               return fields;
                             }))
      .def_property_readonly("text", getter([](const ConsoleRecord& r) { return Text(r.text); }))
      .def("__repr__", [](const ConsoleRecord& r) {
        return py::str("ConsoleRecord(kind={!r}, code={!r}, stream={!r}, text={!r})")
            .format(ConsoleKindName(r.kind), Code(r), StreamName(r), Text(r.text));
      });
}

}  // namespace tarsel::python
