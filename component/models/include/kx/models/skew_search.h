// Implied volatilities over arrays of strikes for the closed-form models: the element-by-element
// searches of the skew methods, shared out between two threads.
//
// For every strike i the call search against call_targets[i] goes to call_results[i] and, when
// puts_wanted, the put search against put_targets[i] to put_results[i]. Each is BisectVolatility
// (limit EffectiveMaxIter(max_iter)) in signed mode; the call searches call CheckAbort before every
// price evaluation, the put searches do not. The other spans must hold at least strikes.size()
// elements (the put ones only when puts_wanted). Every result is written as soon as it is known;
// with kTwoThreads (used only when there are enough searches to repay a thread) they finish out of
// order. An abort caught by a call search also stops the other thread at its next search; the
// AbortSignal is thrown after both have stopped, and every result then holds its final value or
// what it held before. An abort that comes after the last call search no longer stops anything.
// Throws AbortSignal, nothing else.
#pragma once

#include <cstdint>
#include <span>

#include "kx/models/parallelism.h"

namespace kx::models {

/// The searches over GbsCall and GbsPut (ModelType 1, rf = 0) with S, r, T, q, each made by
/// GbsBisectVolatility (the same doubles with a handful of price evaluations).
void GbsSkewSearch(double s, std::span<const double> strikes, double r, double t, double q,
                   std::span<const double> call_targets, std::span<const double> put_targets,
                   std::int32_t max_iter, std::span<double> call_results,
                   std::span<double> put_results, bool puts_wanted,
                   Parallelism parallelism = Parallelism::kTwoThreads);

/// The searches over BjeAmericanCall and BjeAmericanPut with S, r, T, q, ModelType, rf.
void BjeSkewSearch(double s, std::span<const double> strikes, double r, double t, double q,
                   std::int32_t model_type, double rf, std::span<const double> call_targets,
                   std::span<const double> put_targets, std::int32_t max_iter,
                   std::span<double> call_results, std::span<double> put_results, bool puts_wanted,
                   Parallelism parallelism = Parallelism::kTwoThreads);

}  // namespace kx::models
