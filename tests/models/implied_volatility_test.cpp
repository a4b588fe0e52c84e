#include "kx/models/implied_volatility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kx/models/abort.h"
#include "kx/models/black_scholes.h"
#include "quoted.h"

namespace kx::models {
namespace {

using testing::Quoted;

// BS call and put of S = K = 100, r = 0.05, T = 1, q = 0 as functions of sigma.
double Call(double sigma) { return GbsCall(1, 100, 100, 0.05, 0.0, 1, 0.0, sigma); }
double Put(double sigma) { return GbsPut(1, 100, 100, 0.05, 0.0, 1, 0.0, sigma); }

// Just below 100 after 27 halvings: 100 - 100 / 2^28.
constexpr double kTop = 99.99999963;

TEST(BisectVolatility, RecoversVolFromCallAndPut) {
  EXPECT_NEAR(BisectVolatility(Call, 10.4505756193, 50, CompareMode::kAbsolute, AbortPolling::kOff),
              0.2000000328, Quoted(10));
  EXPECT_NEAR(BisectVolatility(Put, 5.5735180694, 50, CompareMode::kSigned, AbortPolling::kOff),
              0.2000000328, Quoted(10));
}

TEST(BisectVolatility, TakesExactly27EvaluationsWithDefaultLimit) {
  for (const std::int32_t max_iter : {0, -3, 27, 50, 1000}) {
    SCOPED_TRACE(::testing::Message() << "MaxIter " << max_iter);
    int evaluations = 0;
    const double sigma = BisectVolatility(
        [&](double s) {
          ++evaluations;
          return Call(s);
        },
        10.4505756193, max_iter, CompareMode::kSigned, AbortPolling::kOff);
    EXPECT_EQ(evaluations, 27);
    EXPECT_NEAR(sigma, 0.2000000328, Quoted(10));
  }
}

TEST(BisectVolatility, SmallLimitStopsOnCoarseBracket) {
  int evaluations = 0;
  const double sigma = BisectVolatility(
      [&](double s) {
        ++evaluations;
        return Call(s);
      },
      10.4505756193, 5, CompareMode::kAbsolute, AbortPolling::kOff);
  EXPECT_EQ(evaluations, 5);
  EXPECT_EQ(sigma, 1.5625);  // bracket [0, 3.125]
  EXPECT_EQ(BisectVolatility(Call, 1e9, 1, CompareMode::kSigned, AbortPolling::kOff), 75.0);
  EXPECT_EQ(BisectVolatility(Call, 0.0, 1, CompareMode::kSigned, AbortPolling::kOff), 25.0);
}

TEST(BisectVolatility, UnreachableTargetsEndAtBracketEnds) {
  EXPECT_EQ(BisectVolatility(Call, 0.0, 0, CompareMode::kAbsolute, AbortPolling::kOff), 0.0);
  EXPECT_EQ(BisectVolatility(Put, -5.0, 0, CompareMode::kSigned, AbortPolling::kOff), 0.0);
  EXPECT_NEAR(BisectVolatility(Call, 1000.0, 0, CompareMode::kAbsolute, AbortPolling::kOff), kTop,
              Quoted(8));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_NEAR(BisectVolatility([nan](double) { return nan; }, 1.0, 0, CompareMode::kSigned,
                               AbortPolling::kOff),
              kTop, Quoted(8));
}

TEST(BisectVolatility, AbsoluteModeComparesMagnitude) {
  // A price that is negative everywhere: signed mode never goes above the target, absolute does.
  auto negative = [](double s) { return -10.0 * s; };
  EXPECT_NEAR(BisectVolatility(negative, 5.0, 0, CompareMode::kAbsolute, AbortPolling::kOff), 0.5,
              1e-6);
  EXPECT_NEAR(BisectVolatility(negative, 5.0, 0, CompareMode::kSigned, AbortPolling::kOff), kTop,
              Quoted(8));
}

TEST(BisectVolatility, RoundTripsOverStrikesAndVolatilities) {
  // Strikes and volatilities where the price still moves with sigma (deep in or out of the money
  // at low volatility the price is flat to within rounding and any sigma fits).
  for (const double k : {80.0, 100.0, 125.0}) {
    for (const double sigma : {0.1, 0.2, 0.45, 1.1}) {
      SCOPED_TRACE(::testing::Message() << "K = " << k << ", sigma = " << sigma);
      auto call = [k](double v) { return GbsCall(1, 100, k, 0.03, 0.0, 2, 0.01, v); };
      const double found =
          BisectVolatility(call, call(sigma), 0, CompareMode::kSigned, AbortPolling::kOff);
      // The final bracket is 7.45e-7 wide and its midpoint is returned.
      EXPECT_NEAR(found, sigma, 3.8e-7);
    }
  }
}

TEST(BisectVolatility, PollsAbortBeforeEveryEvaluation) {
  int evaluations = 0;
  auto aborting = [&](double s) {
    if (++evaluations == 3) RequestAbort();
    return Call(s);
  };
  EXPECT_THROW((void)BisectVolatility(aborting, 10.45, 0, CompareMode::kSigned, AbortPolling::kOn),
               AbortSignal);
  EXPECT_EQ(evaluations, 3);
  EXPECT_EQ(AbortRequested.load(), 0);

  // Without polling the request stays pending and the search completes.
  evaluations = 0;
  EXPECT_NEAR(
      BisectVolatility(aborting, 10.4505756193, 0, CompareMode::kSigned, AbortPolling::kOff),
      0.2000000328, Quoted(10));
  EXPECT_EQ(AbortRequested.load(), 1);
  ClearAbortRequest();
}

}  // namespace
}  // namespace kx::models
