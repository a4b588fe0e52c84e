// The QuantLib side of the side-by-side benchmark. Only peer_quantlib.cpp sees QuantLib's headers.
#pragma once

#include <memory>

namespace kx::peer {

struct MarketInputs {
  double spot, strike, rate, dividend, vol;  // maturity: one year (365 days, Actual/365 Fixed)
};

struct CallPut {
  double call, put;
};

/// A call and a put on one CRR tree each (BinomialVanillaEngine<CoxRossRubinstein>), American.
class QlTree {
 public:
  QlTree(const MarketInputs& in, int steps);
  ~QlTree();
  /// Prices both options again (the engine runs for each).
  CallPut Price();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// A call and a put priced by BjerksundStenslandApproximationEngine, American.
class QlBjerksundStensland {
 public:
  explicit QlBjerksundStensland(const MarketInputs& in);
  ~QlBjerksundStensland();
  CallPut Price();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// BlackCalculator for one call: price, delta, gamma, vega, theta and rho; returns their sum so
/// that nothing is left unused.
double QlBlackPriceAndGreeks(const MarketInputs& in);

/// The Black price of a call at `in` (the target the implied-volatility search inverts).
double QlBlackCallPrice(const MarketInputs& in);

/// blackFormulaImpliedStdDev at accuracy 1e-6 for a call worth `price`, as a volatility.
double QlImpliedVolatility(const MarketInputs& in, double price);

/// "QuantLib 1.29".
const char* QlVersion();

}  // namespace kx::peer
