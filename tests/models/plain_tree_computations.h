// The tree computations written plainly on one thread over PriceTreePlain, both options priced
// every time, as the references the vectorised and threaded ones must reproduce double for double.
#pragma once

#include <cstdint>
#include <span>

#include "kx/models/binomial.h"

namespace kx::models::testing {

struct TreeInputs {
  double s, k, r, t, sigma, q;
  std::int32_t model;
  double rf;
  std::int32_t steps, flag;
};

/// CallPrice, PutPrice, CDelta, PDelta, CTheta, PTheta, Gamma, Vega, CRho, PRho.
struct GreeksValues {
  double values[10];
};

GreeksValues PlainTreeGreeks(const TreeInputs& in, bool vega_wanted, bool rho_wanted);

/// The coarse-then-full bisection of TreeImpliedVolatility (in.sigma is not used).
double PlainTreeImpliedVolatility(const TreeInputs& in, OptionSide side, double target);

/// One skew search: BisectVolatility in absolute mode over the root price of `side`.
double PlainTreeSkewSearch(const TreeInputs& in, OptionSide side, double target,
                           std::int32_t max_iter);

}  // namespace kx::models::testing
