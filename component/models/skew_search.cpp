#include "kx/models/skew_search.h"

#include <atomic>
#include <cstddef>

#include "kx/models/bjerksund_stensland.h"
#include "kx/models/black_scholes.h"
#include "kx/models/black_scholes_search.h"
#include "kx/models/common.h"
#include "kx/models/implied_volatility.h"
#include "parallel.h"

namespace kx::models {
namespace {

// A search takes a fraction of a microsecond with Black-Scholes prices and ten with
// Bjerksund-Stensland ones; a helper thread costs some tens of microseconds to start.
constexpr std::size_t kGbsParallelSearches = 512;
constexpr std::size_t kBjeParallelSearches = 16;

// Search 2i is the call search of strike i, 2i + 1 its put search (only i with no puts).
// call_search(strike, target) and put_search(strike, target) give one result each.
template <typename CallSearch, typename PutSearch>
void SearchStrikes(std::span<const double> strikes, std::span<const double> call_targets,
                   std::span<const double> put_targets, std::span<double> call_results,
                   std::span<double> put_results, bool puts_wanted, Parallelism parallelism,
                   std::size_t parallel_from, CallSearch call_search, PutSearch put_search) {
  const std::size_t per_strike = puts_wanted ? 2 : 1;
  const std::size_t searches = strikes.size() * per_strike;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  auto search = [&] {
    for (;;) {
      const std::size_t task = next.fetch_add(1, std::memory_order_relaxed);
      if (task >= searches) return;
      // The put searches never poll the abort request, so they stop here when the other thread
      // has caught it.
      if (stop.load(std::memory_order_relaxed)) throw detail::StopRequested();
      const std::size_t i = task / per_strike;
      if (task % per_strike == 0) {
        call_results[i] = call_search(strikes[i], call_targets[i]);
      } else {
        put_results[i] = put_search(strikes[i], put_targets[i]);
      }
    }
  };
  if (parallelism == Parallelism::kTwoThreads && searches >= parallel_from) {
    detail::RunOnTwoThreads(parallelism, stop, search, search);
  } else {
    search();
  }
}

}  // namespace

void GbsSkewSearch(double s, std::span<const double> strikes, double r, double t, double q,
                   std::span<const double> call_targets, std::span<const double> put_targets,
                   std::int32_t max_iter, std::span<double> call_results,
                   std::span<double> put_results, bool puts_wanted, Parallelism parallelism) {
  constexpr double kNoForeignRate = 0.0;
  // GbsBisectVolatility gives the doubles of BisectVolatility over GbsCall and GbsPut.
  SearchStrikes(
      strikes, call_targets, put_targets, call_results, put_results, puts_wanted, parallelism,
      kGbsParallelSearches,
      [&](double k, double target) {
        return GbsBisectVolatility(OptionSide::kCall, kModelDividendYield, s, k, r, kNoForeignRate,
                                   t, q, target, max_iter, CompareMode::kSigned, AbortPolling::kOn);
      },
      [&](double k, double target) {
        return GbsBisectVolatility(OptionSide::kPut, kModelDividendYield, s, k, r, kNoForeignRate,
                                   t, q, target, max_iter, CompareMode::kSigned,
                                   AbortPolling::kOff);
      });
}

void BjeSkewSearch(double s, std::span<const double> strikes, double r, double t, double q,
                   std::int32_t model_type, double rf, std::span<const double> call_targets,
                   std::span<const double> put_targets, std::int32_t max_iter,
                   std::span<double> call_results, std::span<double> put_results, bool puts_wanted,
                   Parallelism parallelism) {
  SearchStrikes(
      strikes, call_targets, put_targets, call_results, put_results, puts_wanted, parallelism,
      kBjeParallelSearches,
      [&](double x, double target) {
        return BisectVolatility(
            [&](double sigma) { return BjeAmericanCall(s, x, r, t, q, model_type, rf, sigma); },
            target, max_iter, CompareMode::kSigned, AbortPolling::kOn);
      },
      [&](double x, double target) {
        return BisectVolatility(
            [&](double sigma) { return BjeAmericanPut(s, x, r, t, q, model_type, rf, sigma); },
            target, max_iter, CompareMode::kSigned, AbortPolling::kOff);
      });
}

}  // namespace kx::models
