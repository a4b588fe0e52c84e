// The two halves of korvanex._native, each bound into its own submodule.
#pragma once

#include <pybind11/pybind11.h>

namespace kx::python {

/// korvanex._native.automation: the late-bound client for any registered class.
void BindAutomation(pybind11::module_& m);
/// korvanex._native.models: the models over numpy arrays.
void BindModels(pybind11::module_& m);

}  // namespace kx::python
