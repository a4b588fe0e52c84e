#include "skew_worker.h"

#include <algorithm>
#include <optional>

#include "array_arguments.h"

namespace kx::component {

using namespace kx::platform;

void CheckSkewArrays(MethodFrame& frame, const SkewArrays& arrays) {
  if (!arrays.exercise_price) frame.Fail(Failure::kMissingInputArray1);
  if (!arrays.call_value) frame.Fail(Failure::kMissingInputArray2);
  if (!arrays.volatility_call) frame.Fail(Failure::kMissingInputArray3);
  const bool puts_wanted = arrays.volatility_put != nullptr;
  // Without PutValue the put side would have no input at all.
  if (puts_wanted && !arrays.put_value) frame.Fail(Failure::kMissingInputArray4);
  CheckSkewInputArray(frame, arrays.exercise_price);
  CheckSkewInputArray(frame, arrays.call_value);
  if (puts_wanted) CheckSkewInputArray(frame, arrays.put_value);
}

JobRecord& NewSkewJob(MethodFrame& frame, const SkewArguments& args, const SkewArrays& arrays) {
  JobRecord& job = NewJob();
  job.stock_price = args.stock_price;
  job.time_to_maturity = args.time_to_maturity;
  job.dividend_rate = args.dividend_rate;
  job.max_iter = args.max_iter == 0 ? frame.settings().default_iteration_limit : args.max_iter;
  job.puts_wanted = arrays.volatility_put != nullptr;
  job.skew = arrays;
  if (!job.puts_wanted) job.skew.put_value = nullptr;
  job.base = frame.settings().base.load();
  return job;
}

void RunSkewWorker(SkewSearch search) noexcept {
  BeginWorker();
  const JobRecord& job = CurrentJob();
  const bool puts_wanted = job.puts_wanted;

  // Only the strikes fix the element count; the value arrays are clipped or padded with 0.0.
  // Never more than the strike array stores, whatever its dimension counts say.
  SAFEARRAY* const strike_array = ArrayOf(job.skew.exercise_price);
  const std::size_t n = std::min<std::size_t>(ElementCount(job.skew.exercise_price),
                                              SafeArrayTotalCount(strike_array));

  SafeArrayLockGuard strikes_lock;
  SafeArrayLockGuard calls_lock;
  SafeArrayLockGuard puts_lock;
  HRESULT hr = strikes_lock.Lock(strike_array);
  if (SUCCEEDED(hr)) hr = calls_lock.Lock(ArrayOf(job.skew.call_value));
  if (SUCCEEDED(hr) && puts_wanted) hr = puts_lock.Lock(ArrayOf(job.skew.put_value));
  if (FAILED(hr)) {
    RecordFailure(Failure::kLockFailed, hr);
    return;  // the guards unlock what was locked
  }

  // Results are handed over only after the inputs are unlocked, so that an output VARIANT that is
  // also an input (one VARIANT passed twice) can release its old array; and only when the
  // computation step completed, so that an aborted search leaves the outputs as they were.
  std::optional<ResultArray> call_array;
  std::optional<ResultArray> put_array;
  std::optional<WorkVector> call_results;
  std::optional<WorkVector> put_results;
  bool computed = false;
  GuardedStep([&] {
    call_array.emplace(n, job.base);
    if (puts_wanted) put_array.emplace(n, job.base);
    WorkVector strikes(n);
    WorkVector call_targets(n);
    call_results.emplace(n);
    std::optional<WorkVector> put_targets;
    if (puts_wanted) {
      put_targets.emplace(n);
      put_results.emplace(n);
    }
    CopyDoubles(strikes_lock.get(), strikes.span());
    CopyDoubles(calls_lock.get(), call_targets.span());
    if (puts_wanted) CopyDoubles(puts_lock.get(), put_targets->span());

    search(job, strikes.span(), call_targets.span(),
           puts_wanted ? put_targets->span() : std::span<const double>(), call_results->span(),
           puts_wanted ? put_results->span() : std::span<double>());
    computed = true;
  });
  EndComputation();

  for (SafeArrayLockGuard* lock : {&strikes_lock, &calls_lock, &puts_lock}) {
    const HRESULT unlocked = lock->Unlock();
    if (FAILED(unlocked)) RecordFailure(Failure::kUnlockFailed, unlocked);
  }
  if (computed) {
    call_array->HandOver(job.skew.volatility_call, call_results->span());
    if (puts_wanted) put_array->HandOver(job.skew.volatility_put, put_results->span());
  }
}

}  // namespace kx::component
