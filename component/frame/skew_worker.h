// What the three implied-volatility skew methods share: the checks of their array arguments, the
// job fields they fill alike, and the worker that locks the arrays, copies them into work vectors,
// runs the family's search and hands the result arrays to the caller.
#pragma once

#include <span>

#include "job_record.h"
#include "method_arguments.h"
#include "method_frame.h"

namespace kx::component {

/// Presence of ExercisePrice (3001), CallValue (3002), IVolatilityCall (3003) and, when
/// IVolatilityPut is present, PutValue (3004); then the element type of the input arrays read
/// (3047). Every check runs; the last failure stands.
void CheckSkewArrays(MethodFrame& frame, const SkewArrays& arrays);

/// A family's search over all strikes: call_results[i] for every i and, when job.puts_wanted,
/// put_results[i]. All spans hold one element per strike. May throw AbortSignal, std::bad_alloc.
using SkewSearch = void (*)(const JobRecord& job, std::span<const double> strikes,
                            std::span<const double> call_targets,
                            std::span<const double> put_targets, std::span<double> call_results,
                            std::span<double> put_results);

/// The body of a skew worker thread, reading the current job.
void RunSkewWorker(SkewSearch search) noexcept;

/// The thread routine of a skew worker that runs `search`, for MethodFrame::RunWorker.
template <SkewSearch search>
kx::platform::DWORD WINAPI SkewWorker(void*) {
  RunSkewWorker(search);
  return 0;
}

/// A new job holding what every skew passes on alike: S, T, q, MaxIter (0 takes the object's
/// default iteration limit), the arrays (PutValue only when IVolatilityPut asks for puts) and
/// Base. The family adds its rate and model fields.
[[nodiscard]] JobRecord& NewSkewJob(MethodFrame& frame, const SkewArguments& args,
                                    const SkewArrays& arrays);

}  // namespace kx::component
