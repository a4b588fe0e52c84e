#include "plain_tree_computations.h"

#include <cmath>

#include "kx/models/implied_volatility.h"

namespace kx::models::testing {
namespace {

TreeNodes Plain(TreeWorkspace& w, const TreeInputs& in, double sigma, double r,
                std::int32_t steps) {
  return PriceTreePlain(w, in.s, in.k, r, in.t, sigma, in.q, in.model, in.rf, steps, in.flag);
}

double Root(const TreeNodes& nodes, OptionSide side) {
  return side == OptionSide::kCall ? nodes.call[0][0] : nodes.put[0][0];
}

}  // namespace

GreeksValues PlainTreeGreeks(const TreeInputs& in, bool vega_wanted, bool rho_wanted) {
  GreeksValues out{};
  double* v = out.values;
  const double dt = in.t / in.steps;
  const double u = std::exp(std::sqrt(dt) * in.sigma);
  const double d = 1.0 / u;
  const double u2 = u * u;
  const double d2 = d * d;
  const bool flat = std::fabs(in.sigma) < 1e-12;
  TreeWorkspace w;
  const TreeNodes n = Plain(w, in, in.sigma, in.r, in.steps);
  v[0] = n.call[0][0];
  v[1] = n.put[0][0];
  const CallPut delta = TreeDelta(in.s, u, d, n);
  v[2] = flat || std::isnan(in.sigma) ? kNotComputable : delta.call;
  v[3] = flat || std::isnan(in.sigma) ? kNotComputable : delta.put;
  const bool two = in.steps >= 2;
  v[4] = two ? (n.call[1][2] - n.call[0][0]) / (2.0 * dt) : kNotComputable;
  v[5] = two ? (n.put[1][2] - n.put[0][0]) / (2.0 * dt) : kNotComputable;
  const auto& c = n.call;
  v[6] = flat || !two ? kNotComputable
                      : ((c[2][2] - c[1][2]) / ((u2 - 1.0) * in.s) -
                         (c[1][2] - c[0][2]) / ((1.0 - d2) * in.s)) /
                            (0.5 * (u2 - d2) * in.s);
  if (!vega_wanted) {
    v[7] = 0.0;
  } else if (flat) {
    v[7] = kNotComputable;
  } else {
    const double sigma2 = in.sigma * 1.01;
    v[7] = (v[0] - Plain(w, in, sigma2, in.r, in.steps).call[0][0]) / (in.sigma - sigma2);
  }
  if (!rho_wanted) {
    v[8] = v[9] = 0.0;
  } else {
    const double r1 = (in.r < 1e-12 || std::isnan(in.r)) ? 1e-12 : in.r;
    const double r2 = r1 * 1.05;
    const TreeNodes bumped = Plain(w, in, in.sigma, r2, in.steps);
    v[8] = (v[0] - bumped.call[0][0]) / (r1 - r2);
    v[9] = (v[1] - bumped.put[0][0]) / (r1 - r2);
  }
  return out;
}

double PlainTreeImpliedVolatility(const TreeInputs& in, OptionSide side, double target) {
  TreeWorkspace w;
  double low = 0.0;
  double high = 100.0;
  std::int32_t n = in.steps > 50 ? 20 : in.steps;
  do {
    const double mid = (low + high) * 0.5;
    if (std::fabs(Root(Plain(w, in, mid, in.r, n), side)) > target) {
      high = mid;
    } else {
      low = mid;
    }
    if (in.steps > 50 && high - low < 0.05) n = in.steps;
  } while (!(high - low <= 1e-6));
  return BisectionResult(low, high);
}

double PlainTreeSkewSearch(const TreeInputs& in, OptionSide side, double target,
                           std::int32_t max_iter) {
  TreeWorkspace w;
  return BisectVolatility(
      [&](double sigma) { return Root(Plain(w, in, sigma, in.r, in.steps), side); }, target,
      max_iter, CompareMode::kAbsolute, AbortPolling::kOff);
}

}  // namespace kx::models::testing
