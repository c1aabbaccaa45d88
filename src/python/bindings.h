#pragma once

#include <pybind11/pybind11.h>

namespace tarsel::python {

// Registration steps of the module, called in this order.
void BindEnums(pybind11::module_& m);
void BindModel(pybind11::module_& m);

}  // namespace tarsel::python
