#include "kx/models/black_scholes_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "kx/models/abort.h"
#include "kx/models/black_scholes.h"

namespace kx::models {
namespace {

bool Identical(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

double PlainSearch(OptionSide side, std::int32_t model, double s, double k, double r, double rf,
                   double t, double q, double target, std::int32_t max_iter, CompareMode mode) {
  auto price = [&](double sigma) {
    return side == OptionSide::kCall ? GbsCall(model, s, k, r, rf, t, q, sigma)
                                     : GbsPut(model, s, k, r, rf, t, q, sigma);
  };
  return BisectVolatility(price, target, max_iter, mode, AbortPolling::kOff);
}

// Inputs from the ordinary to the degenerate (zero, tiny and negative time, strikes below 1e-5,
// negative rates), targets the price reaches at volatilities from 1e-4 to 150 and ones it does
// not (0, negative, intrinsic, huge, infinite, NaN), every kind of limit and both modes.
TEST(GbsBisectVolatility, SameDoublesAsPlainBisectionOverRandomSearches) {
  std::mt19937_64 random(1234);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::int32_t limits[] = {-5, 0, 1, 2, 5, 10, 20, 26, 27, 28, 50, 100};
  int fast_path_cases = 0;
  for (int n = 0; n < 20000; ++n) {
    const double s = uniform(1, 300);
    const double k = pick(20) == 0 ? 1e-6 : s * std::exp(uniform(-1.5, 1.5));
    const double r = pick(8) == 0 ? uniform(-0.05, 0.0) : uniform(0.0, 0.15);
    const double times[] = {uniform(0.01, 5), uniform(0.01, 5), 1e-6, 0.0, -0.5};
    const double t = times[pick(8) < 6 ? 0 : 1 + pick(4)];
    const double q = uniform(0, 0.1);
    const double rf = uniform(0, 0.1);
    const std::int32_t model = pick(5);
    const OptionSide side = pick(2) == 0 ? OptionSide::kCall : OptionSide::kPut;
    const CompareMode mode = pick(2) == 0 ? CompareMode::kSigned : CompareMode::kAbsolute;
    const double vol = std::exp(uniform(std::log(1e-4), std::log(150.0)));
    const double reached = side == OptionSide::kCall ? GbsCall(model, s, k, r, rf, t, q, vol)
                                                     : GbsPut(model, s, k, r, rf, t, q, vol);
    const double odd[] = {
        0.0,          -1.0,  std::max(s - k, 0.0), 1e12, std::numeric_limits<double>::infinity(),
        std::nan(""), 1e-300};
    const double target = pick(5) == 0 ? odd[pick(7)] : reached;
    const std::int32_t max_iter = limits[pick(12)];
    SCOPED_TRACE(::testing::Message()
                 << "side " << static_cast<int>(side) << " model " << model << " S=" << s
                 << " K=" << k << " r=" << r << " rf=" << rf << " T=" << t << " q=" << q
                 << " target=" << target << " (vol " << vol << ") MaxIter " << max_iter
                 << " absolute " << (mode == CompareMode::kAbsolute));
    const double expected = PlainSearch(side, model, s, k, r, rf, t, q, target, max_iter, mode);
    EXPECT_PRED2(Identical,
                 GbsBisectVolatility(side, model, s, k, r, rf, t, q, target, max_iter, mode,
                                     AbortPolling::kOff),
                 expected);
    if (HasFailure()) return;
    fast_path_cases += target == reached && t > 0.001;
  }
  EXPECT_GT(fast_path_cases, 10000);
}

TEST(GbsBisectVolatility, ReferenceValues) {
  // S = K = 100, r = 0.05, T = 1, q = 0: the call at sigma = 0.2 costs 10.4505756193 (A&S N(x)).
  EXPECT_NEAR(GbsBisectVolatility(OptionSide::kCall, 1, 100, 100, 0.05, 0, 1, 0, 10.4505756193, 0,
                                  CompareMode::kAbsolute, AbortPolling::kOff),
              0.2000000328, 1e-10);
  EXPECT_EQ(GbsBisectVolatility(OptionSide::kCall, 1, 100, 100, 0.05, 0, 1, 0, 10.4505756193, 5,
                                CompareMode::kAbsolute, AbortPolling::kOff),
            1.5625);
  // A put whose forward is above the strike is worth exactly 0 only where N(-d2) underflows.
  const double put_zero = GbsBisectVolatility(OptionSide::kPut, 1, 100, 100, 0.05, 0, 1, 0, 0.0, 0,
                                              CompareMode::kSigned, AbortPolling::kOff);
  EXPECT_EQ(put_zero, PlainSearch(OptionSide::kPut, 1, 100, 100, 0.05, 0, 1, 0, 0.0, 0,
                                  CompareMode::kSigned));
  EXPECT_GT(put_zero, 0.005);
  EXPECT_EQ(GbsBisectVolatility(OptionSide::kPut, 1, 100, 100, 0.05, 0, 1, 0, 1000.0, 0,
                                CompareMode::kSigned, AbortPolling::kOff),
            100.0 - 100.0 / (1 << 28));
}

TEST(GbsBisectVolatility, PendingAbortStopsTheSearchOnlyWhenPolling) {
  RequestAbort();
  EXPECT_THROW((void)GbsBisectVolatility(OptionSide::kCall, 1, 100, 100, 0.05, 0, 1, 0, 10.45, 0,
                                         CompareMode::kSigned, AbortPolling::kOn),
               AbortSignal);
  EXPECT_EQ(AbortRequested.load(), 0);
  RequestAbort();
  EXPECT_NEAR(GbsBisectVolatility(OptionSide::kCall, 1, 100, 100, 0.05, 0, 1, 0, 10.4505756193, 0,
                                  CompareMode::kSigned, AbortPolling::kOff),
              0.2000000328, 1e-10);
  EXPECT_EQ(AbortRequested.load(), 1);
  ClearAbortRequest();
}

}  // namespace
}  // namespace kx::models
