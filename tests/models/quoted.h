// Tolerances for published reference values.
#pragma once

#include <cmath>

namespace kx::models::testing {

/// A value quoted to `decimals` places is within half a unit of its last place of the exact one;
/// the 0.1 % margin leaves room for the last rounding of our own double.
inline double Quoted(int decimals) { return 0.501 * std::pow(10.0, -decimals); }

}  // namespace kx::models::testing
