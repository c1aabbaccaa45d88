#include <pybind11/pybind11.h>

#include "model/node.h"
#include "model/options.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace tarsel::python {

void BindEnums(py::module_& m) {
  py::enum_<ObjectiveType>(m, "ObjectiveType")
      .value("MinMax", ObjectiveType::MinMax)
      .value("MinSum", ObjectiveType::MinSum);

  py::enum_<NodeType>(m, "NodeType")
      .value("DEPOT", NodeType::DEPOT)
      .value("TARGET", NodeType::TARGET);
}

}  // namespace tarsel::python
