// Inputs the call benchmarks share: a year of daily prices and an array VARIANT of doubles.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "kx/platform/safearray.h"
#include "kx/platform/variant.h"

namespace kx::bench {

inline std::vector<double> DailyPrices() {
  std::vector<double> prices;
  for (int day = 0; day < 250; ++day) prices.push_back(100 * std::exp(0.01 * std::sin(day * 0.7)));
  return prices;
}

inline kx::platform::Variant Vector(const std::vector<double>& values) {
  using namespace kx::platform;
  Variant v;
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
  double* data = nullptr;
  (void)SafeArrayAccessData(v.parray, reinterpret_cast<void**>(&data));
  std::copy(values.begin(), values.end(), data);
  (void)SafeArrayUnaccessData(v.parray);
  return v;
}

}  // namespace kx::bench
