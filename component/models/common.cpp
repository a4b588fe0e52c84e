#include "kx/models/common.h"

namespace kx::models {

double CostOfCarry(std::int32_t model_type, double r, double q, double rf) noexcept {
  switch (model_type) {
    case kModelDividendYield:
      return r - q;
    case kModelFutures:
      return 0.0;
    case kModelCurrency:
      return r - rf;
    default:
      return r;
  }
}

double ClampRateAwayFromZero(double r) noexcept {
  if (r >= 0.0 && r < 1e-8) return 1e-8;
  if (r > -1e-8 && r < 0.0) return -1e-8;
  return r;
}

}  // namespace kx::models
