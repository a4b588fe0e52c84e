// HistoricalVolatility and HistoricalVolatility1: annualised volatilities of raw price series,
// computed on a worker thread.
#pragma once

#include "kx/platform/variant.h"
#include "object_state.h"

namespace kx::component {

/// One volatility per series of a 1-D or 2-D array, into a new array in *volatility. Returns the
/// recorded ResultCode.
[[nodiscard]] kx::platform::HRESULT HistoricalVolatilityDispatch(
    ObjectState& object, kx::platform::VARIANT* prices, kx::platform::LONG trading_days,
    kx::platform::VARIANT* volatility) noexcept;

/// The volatility of one 1-D series into *volatility. Returns the recorded ResultCode.
[[nodiscard]] kx::platform::HRESULT HistoricalVolatility1Dispatch(ObjectState& object,
                                                                  kx::platform::VARIANT* prices,
                                                                  kx::platform::LONG trading_days,
                                                                  double* volatility) noexcept;

}  // namespace kx::component
