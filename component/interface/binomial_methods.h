// The binomial family: thirteen scalar methods and the strike skew, each computed on one worker
// thread per call.
#pragma once

#include "method_arguments.h"
#include "object_state.h"

namespace kx::component {

enum class BinMethodCode : int {
  kCallPrice = 0,
  kPutPrice = 1,
  kDelta = 2,  // BinDelta, BinCallDelta and BinPutDelta
  kTheta = 3,
  kGamma = 4,
  kVega = 5,
  kRho = 6,
  kImpliedVolatility = 7,
  kImpliedVolatilityPut = 8,
  kPrice = 9,
  kPriceGreeks = 10,
};

struct BinScalarArguments {
  double stock_price = 0.0;
  double exercise_price = 0.0;
  double interest_rate = 0.0;
  double time_to_maturity = 0.0;
  double volatility = 0.0;  // 0.1 for the implied-volatility methods
  double dividend_rate = 0.0;
  kx::platform::LONG model_type = 0;
  double foreign_rate = 0.0;
  kx::platform::LONG bin_steps = 0;
  kx::platform::LONG flag_eur_am = 0;
  double call_target = 0.0;
  double put_target = 0.0;
  kx::platform::LONG max_iter = 0;
};

/// The eleven destinations of the binomial dispatcher, in their fixed order.
struct BinDestinations {
  OutputPlace call_price;
  OutputPlace put_price;
  OutputPlace c_delta;
  OutputPlace p_delta;
  OutputPlace c_theta;
  OutputPlace p_theta;
  OutputPlace gamma;
  OutputPlace vega;
  OutputPlace c_rho;
  OutputPlace p_rho;
  OutputPlace implied_volatility;
};

/// The family dispatcher of the scalar methods. Returns the recorded ResultCode.
[[nodiscard]] kx::platform::HRESULT BinDispatch(ObjectState& object, BinMethodCode code,
                                                const char* error_title,
                                                const BinScalarArguments& args,
                                                const BinDestinations& destinations) noexcept;

/// BinImpliedVolatilitySkew. Returns the recorded ResultCode.
[[nodiscard]] kx::platform::HRESULT BinSkewDispatch(ObjectState& object, const SkewArguments& args,
                                                    const SkewArrays& arrays) noexcept;

}  // namespace kx::component
