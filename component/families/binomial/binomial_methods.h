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

/// The eleven destinations of the binomial dispatcher, in their fixed order; a wrapper binds those
/// its method returns.
struct BinDestinations {
  OutputPlace call_price{};
  OutputPlace put_price{};
  OutputPlace c_delta{};
  OutputPlace p_delta{};
  OutputPlace c_theta{};
  OutputPlace p_theta{};
  OutputPlace gamma{};
  OutputPlace vega{};
  OutputPlace c_rho{};
  OutputPlace p_rho{};
  OutputPlace implied_volatility{};
};

/// The family dispatcher of the scalar methods. Returns the recorded ResultCode.
[[nodiscard]] kx::platform::HRESULT BinDispatch(ObjectState& object, BinMethodCode code,
                                                const char* error_title,
                                                const ScalarArguments& args,
                                                const BinDestinations& destinations) noexcept;

/// BinImpliedVolatilitySkew. Returns the recorded ResultCode.
[[nodiscard]] kx::platform::HRESULT BinSkewDispatch(ObjectState& object, const SkewArguments& args,
                                                    const SkewArrays& arrays) noexcept;

}  // namespace kx::component
