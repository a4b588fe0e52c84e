// The tree pricer written plainly with three (N + 1)^2 matrices, as the reference that the narrowed
// PriceTree must reproduce double for double.
#pragma once

#include <cstdint>

#include "kx/models/binomial.h"

namespace kx::models::testing {

/// Nodes of steps 0 to 2 of the full-matrix tree ([k][i]); NaN for steps beyond N.
TreeNodes FullMatrixTree(double s, double k, double r, double t, double sigma, double q,
                         std::int32_t model_type, double rf, std::int32_t steps,
                         std::int32_t flag_eur_am);

}  // namespace kx::models::testing
