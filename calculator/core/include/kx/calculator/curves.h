#pragma once
// The curves of the Charts tab: the option's value and Greeks against the underlying's price,
// the payoff at expiry, and the value against the time to expiry. Every model number comes from
// the pricing control through the same calls a run makes; only the payoff is plain arithmetic.
#include <string>
#include <vector>

#include "kx/calculator/calculation.h"

namespace kx::calculator {

struct SpotRange {
  double low = 0, high = 0;
};

// Points per curve: fewer for the tree, each of whose points is a whole BinPriceGreeks (with
// its bumped trees for vega and rho), and fewer still for the largest trees.
[[nodiscard]] int CurvePoints(const ModelInputs& in) noexcept;

// The underlying's prices to draw: both the price and the exercise price, widened on each side
// by three standard deviations of the log price to expiry (3 vol sqrt(T)), at least 10 % and
// at most a factor of e^2.5, so the curve shows where it bends and stays above zero.
[[nodiscard]] SpotRange ChooseSpotRange(const ModelInputs& in) noexcept;

// `points` evenly spaced values from `low` to `high`, both included (points >= 2).
[[nodiscard]] std::vector<double> LinearGrid(double low, double high, int points);

// Option values at expiry.
[[nodiscard]] constexpr double CallPayoff(double spot, double strike) noexcept {
  return spot > strike ? spot - strike : 0.0;
}
[[nodiscard]] constexpr double PutPayoff(double spot, double strike) noexcept {
  return strike > spot ? strike - spot : 0.0;
}

struct ChartCurves {
  ModelInputs inputs;  // of the run that the curves belong to
  // Against the underlying's price.
  std::vector<double> spots;
  std::vector<double> call_value, put_value, call_payoff, put_payoff;
  std::vector<double> call_delta, put_delta, gamma, call_theta, put_theta, vega;
  std::vector<double> call_rho, put_rho;
  // Against the time to expiry at the current price, from the run's time down to expiry; the
  // last point (0 days) is the payoff.
  std::vector<double> years, days, call_by_time, put_by_time;  // days = years * 365
};

// Why curves could not be computed.
struct CurveFailure {
  DISPID member = 0;
  HRESULT hr = 0;
  std::string reason;  // the control's description, "" if none
};

// Computes every curve for a run's converted inputs (method, style and steps included), one
// PriceAndGreeks per point against the underlying and per point in time. Returns false and
// fills `failure` at the first failed call; `out` is then left unchanged. Calls made after the
// window has released its control fail at once, so closing the window stops the curves too.
[[nodiscard]] bool ComputeCurves(const ModelInputs& in, OptionsControl& ctl, ChartCurves& out,
                                 CurveFailure& failure);

// The curves as CSV: a header line and one line per underlying price, then a blank line, a
// header line and one line per point in time. Numbers in their shortest exact form.
[[nodiscard]] std::string CurvesCsv(const ChartCurves& curves);

}  // namespace kx::calculator
