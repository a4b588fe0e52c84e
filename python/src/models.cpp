#include "bindings.h"

namespace kx::python {

void BindModels(pybind11::module_&) {}

}  // namespace kx::python
