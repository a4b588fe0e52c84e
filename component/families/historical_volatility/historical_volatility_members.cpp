// The historical-volatility members of KvQuantorb, in vtable order: thin wrappers that hold the
// object and hand their arguments to the family's dispatcher (historical_volatility_methods.h).
#include "historical_volatility_methods.h"

#include "call_hold.h"
#include "kv_quantorb.h"

namespace kx::component {

using namespace kx::platform;

HRESULT KvQuantorb::HistoricalVolatility(VARIANT* Prices, LONG TradingDays, VARIANT* Volatility) {
  const CallHold hold(this);
  return HistoricalVolatilityDispatch(state_, Prices, TradingDays, Volatility);
}

HRESULT KvQuantorb::HistoricalVolatility1(VARIANT* Prices, LONG TradingDays, double* Volatility) {
  const CallHold hold(this);
  return HistoricalVolatility1Dispatch(state_, Prices, TradingDays, Volatility);
}

}  // namespace kx::component
