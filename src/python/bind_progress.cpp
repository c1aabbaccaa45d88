#include <pybind11/pybind11.h>
#include <pybind11/typing.h>

#include <string>

#include "common/progress.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace tarsel::python {

namespace {

// Costs of the best solution so far, None before the first one.
py::typing::Optional<py::float_> CostOrNone(const ProgressRecord& record, double value) {
  if (!record.has_solution) return py::none();
  return py::float_(value);
}

const char* PhaseName(ProgressPhase phase) {
  return phase == ProgressPhase::kEngine ? "engine" : "search";
}

}  // namespace

void BindProgress(py::module_& m) {
  // Records are only made by a running solve and handed to its on_progress
  // callable; each is a copy the callable may keep.
  py::class_<ProgressRecord> record(m, "ProgressRecord");
  // Getters as methods, so that help() names their argument "self".
  const auto getter = [&record](auto read) { return py::cpp_function(read, py::is_method(record)); };
  record.def_readonly("cpu_time", &ProgressRecord::cpu_time)
      .def_readonly("wall_time", &ProgressRecord::wall_time)
      .def_property_readonly("objective", getter([](const ProgressRecord& r) { return CostOrNone(r, r.objective); }))
      .def_property_readonly("max_cost", getter([](const ProgressRecord& r) { return CostOrNone(r, r.max_cost); }))
      .def_property_readonly("sum_cost", getter([](const ProgressRecord& r) { return CostOrNone(r, r.sum_cost); }))
      .def_property_readonly("phase",
                             getter([](const ProgressRecord& r) { return std::string(PhaseName(r.phase)); }))
      .def_readonly("improving", &ProgressRecord::improving)
      .def("__repr__", [](const ProgressRecord& r) {
        return py::str("ProgressRecord(cpu_time={:.3f}, wall_time={:.3f}, objective={}, max_cost={}, "
                       "sum_cost={}, phase={!r}, improving={})")
            .format(r.cpu_time, r.wall_time, CostOrNone(r, r.objective), CostOrNone(r, r.max_cost),
                    CostOrNone(r, r.sum_cost), PhaseName(r.phase), r.improving);
      });
}

}  // namespace tarsel::python
