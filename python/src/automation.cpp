#include "bindings.h"

namespace kx::python {

void BindAutomation(pybind11::module_&) {}

}  // namespace kx::python
