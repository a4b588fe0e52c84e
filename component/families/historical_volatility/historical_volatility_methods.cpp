#include "historical_volatility_methods.h"

#include <optional>

#include "array_arguments.h"
#include "job_record.h"
#include "kx/models/historical_volatility.h"
#include "method_frame.h"

namespace kx::component {

using namespace kx::platform;
using namespace kx::models;

namespace {

constexpr LONG kMinTradingDays = 1;
constexpr LONG kMaxTradingDays = 367;
constexpr std::size_t kMinPrices = 3;  // two returns give one degree of freedom

// Locks the prices for the computation, or records 3009 and returns false.
bool LockPrices(SafeArrayLockGuard& lock, const JobRecord& job) {
  const HRESULT hr = lock.Lock(ArrayOf(job.prices));
  if (FAILED(hr)) {
    RecordFailure(Failure::kLockFailed, hr);
    return false;
  }
  return true;
}

void UnlockPrices(SafeArrayLockGuard& lock) {
  const HRESULT hr = lock.Unlock();
  if (FAILED(hr)) RecordFailure(Failure::kUnlockFailed, hr);
}

DWORD WINAPI SeriesWorker(void*) {
  BeginWorker();
  const JobRecord& job = CurrentJob();
  const UINT dims = DimensionCount(job.prices);
  if (dims != 1 && dims != 2) {
    RecordFailure(Failure::kBadDimensions);
    return 0;
  }
  // 2-D: the first index is time, the last selects the series; each series is contiguous.
  const std::size_t length = FirstDimensionCount(job.prices);
  const std::size_t series = dims == 1 ? 1 : LastDimensionCount(job.prices);
  if (length < kMinPrices) {
    RecordFailure(Failure::kBadInputData);
    return 0;
  }
  SafeArrayLockGuard lock;
  if (!LockPrices(lock, job)) return 0;
  // Handed over after the unlock: the result VARIANT may be the Prices VARIANT itself.
  std::optional<ResultArray> result;
  std::optional<WorkVector> volatilities;
  bool computed = false;
  GuardedStep([&] {
    result.emplace(series, job.base);
    volatilities.emplace(series);
    const std::span<const double> prices = StoredDoubles(lock.get());
    // Never read past the storage, whatever the dimension counts claim.
    if (prices.size() < series * length) {
      RecordFailure(Failure::kBadInputData);
      return;
    }
    EstimateHistoricalVolatilities(prices.first(series * length), length, job.trading_days,
                                   volatilities->span());
    computed = true;
  });
  EndComputation();
  UnlockPrices(lock);
  if (computed) result->HandOver(job.volatility_array, volatilities->span());
  return 0;
}

DWORD WINAPI SingleSeriesWorker(void*) {
  BeginWorker();
  const JobRecord& job = CurrentJob();
  const std::size_t length = ElementCount(job.prices);
  if (length < kMinPrices) {
    RecordFailure(Failure::kBadInputData);
    return 0;
  }
  if (DimensionCount(job.prices) != 1) {
    RecordFailure(Failure::kNotOneDimensional);
    return 0;
  }
  SafeArrayLockGuard lock;
  if (!LockPrices(lock, job)) return 0;
  GuardedStep([&] {
    WorkVector volatility(1);
    *job.volatility_value = 0.0;
    const std::span<const double> prices = StoredDoubles(lock.get());
    if (prices.size() < length) {
      RecordFailure(Failure::kBadInputData);
      return;
    }
    volatility.span()[0] = EstimateHistoricalVolatility(prices.first(length), job.trading_days);
    *job.volatility_value = volatility.span()[0];
  });
  EndComputation();
  UnlockPrices(lock);
  return 0;
}

void CheckTradingDays(MethodFrame& frame, LONG trading_days) {
  if (trading_days < kMinTradingDays || trading_days > kMaxTradingDays) {
    frame.Fail(Failure::kBadTradingDays);
  }
}

}  // namespace

HRESULT HistoricalVolatilityDispatch(ObjectState& object, VARIANT* prices, LONG trading_days,
                                     VARIANT* volatility) noexcept {
  return RunMethodFrame(object, "Error in HistoricalVolatility", ResultRule::kResultCode,
                        [&](MethodFrame& frame) {
                          const LONG base = frame.settings().base.load();
                          CheckInputArray(frame, prices, base);
                          CheckOutputVariant(frame, volatility);
                          if (!prices) frame.Fail(Failure::kMissingInputArray1);
                          CheckTradingDays(frame, trading_days);
                          if (frame.ChecksFailed()) return;
                          JobRecord& job = NewJob();
                          job.prices = prices;
                          job.volatility_array = volatility;
                          job.trading_days = trading_days;
                          job.base = base;
                          frame.RunWorker(&SeriesWorker);
                        });
}

HRESULT HistoricalVolatility1Dispatch(ObjectState& object, VARIANT* prices, LONG trading_days,
                                      double* volatility) noexcept {
  return RunMethodFrame(object, "Error in HistoricalVolatility1", ResultRule::kResultCode,
                        [&](MethodFrame& frame) {
                          const LONG base = frame.settings().base.load();
                          CheckInputArray(frame, prices, base);
                          if (!prices) frame.Fail(Failure::kMissingInputArray1);
                          if (!volatility) frame.Fail(Failure::kMissingOutput);
                          CheckTradingDays(frame, trading_days);
                          if (frame.ChecksFailed()) return;
                          JobRecord& job = NewJob();
                          job.prices = prices;
                          job.volatility_value = volatility;
                          job.trading_days = trading_days;
                          job.base = base;
                          frame.RunWorker(&SingleSeriesWorker);
                        });
}

}  // namespace kx::component
