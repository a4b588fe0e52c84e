#include "bindings.h"

PYBIND11_MODULE(_native, m) {
  m.doc() = "Compiled core of the korvanex package.";
  auto automation = m.def_submodule("automation", "Late-bound automation client.");
  kx::python::BindAutomation(automation);
  auto models = m.def_submodule("models", "Pricing models over numpy arrays.");
  kx::python::BindModels(models);
}
