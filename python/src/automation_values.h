// Python values to and from automation values. Arrays go in as arrays of doubles (numpy arrays,
// sequences of numbers, 1-D or 2-D with the first index the row) and come back as numpy arrays;
// an object with a `__kx_array__()` method returning (values, lower_bound) gives an array whose
// indices start at lower_bound.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "kx/platform/variant.h"

namespace kx::python {

/// A value for a parameter declared as `declared` (without VT_BYREF; VT_VARIANT when any value
/// will do). Raises TypeError (OverflowError for an integer out of range) naming `param`.
[[nodiscard]] kx::platform::Variant ToVariant(pybind11::handle value,
                                              kx::platform::VARTYPE declared,
                                              const std::string& param);

/// Any automation value as a Python value, following VT_BYREF.
[[nodiscard]] pybind11::object FromVariant(const kx::platform::VARIANT& value);

}  // namespace kx::python
