#include "kx/models/bjerksund_stensland.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "kx/models/black_scholes.h"
#include "kx/models/implied_volatility.h"
#include "quoted.h"

namespace kx::models {
namespace {

using testing::Quoted;

// S = 42, X = 40, r = 0.04, T = 0.75, q = 0.08, sigma = 0.35, rf = 0.
constexpr double kS = 42, kX = 40, kR = 0.04, kT = 0.75, kQ = 0.08, kSigma = 0.35;

TEST(BjeExerciseBoundary, MatchesReferenceIntermediates) {
  // ModelType 1: b = r - q = -0.04. Quoted to 10 decimals.
  const BjeBoundary boundary = BjeExerciseBoundary(kX, kR, kT, kSigma, kR - kQ);
  EXPECT_NEAR(boundary.beta, 1.9824778764, Quoted(10));
  EXPECT_NEAR(boundary.b_infinity, 80.7133849642, Quoted(10));
  EXPECT_EQ(boundary.b0, 40.0);
  EXPECT_NEAR(boundary.h, -0.5661212234, Quoted(10));
  EXPECT_NEAR(boundary.trigger, 57.5994499307, Quoted(10));
}

TEST(BjePrice, MatchesReferenceValues) {
  // Quoted to 8 decimals.
  struct Case {
    double s;
    std::int32_t model;
    double call, put;
  };
  const Case cases[] = {
      {kS, 1, 5.27040503, 4.36127987}, {kS, 0, 6.62098951, 3.49233468}, {100, 1, 60.0, 0.00904299}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "S = " << c.s << ", ModelType " << c.model);
    EXPECT_NEAR(BjeAmericanCall(c.s, kX, kR, kT, kQ, c.model, 0.0, kSigma), c.call, Quoted(8));
    EXPECT_NEAR(BjeAmericanPut(c.s, kX, kR, kT, kQ, c.model, 0.0, kSigma), c.put, Quoted(8));
  }
}

TEST(BjeGreeks, MatchReferenceValues) {
  const CallPut delta = BjeDelta(kS, kX, kR, kT, kQ, 1, 0.0, kSigma);
  const CallPut theta = BjeTheta(kS, kX, kR, kT, kQ, 1, 0.0, kSigma);
  const CallPut rho = BjeRho(kS, kX, kR, kT, kQ, 1, 0.0, kSigma);
  EXPECT_NEAR(delta.call, 0.58160133, Quoted(8));
  EXPECT_NEAR(delta.put, -0.39129835, Quoted(8));
  EXPECT_NEAR(theta.call, -2.29173813, Quoted(8));
  EXPECT_NEAR(theta.put, -3.59988787, Quoted(8));
  EXPECT_NEAR(BjeGamma(kS, kX, kR, kT, kQ, 1, 0.0, kSigma), 0.03284075, Quoted(8));
  EXPECT_NEAR(BjeVega(kS, kX, kR, kT, kQ, 1, 0.0, kSigma), 13.34314697, Quoted(8));
  EXPECT_NEAR(rho.call, 10.76326517, Quoted(8));
  EXPECT_NEAR(rho.put, -15.58852211, Quoted(8));
}

TEST(BjePrice, ImmediateExerciseAboveTriggerIsExact) {
  const double trigger = BjeExerciseBoundary(kX, kR, kT, kSigma, kR - kQ).trigger;
  EXPECT_EQ(BjeAmericanCall(100, kX, kR, kT, kQ, 1, 0.0, kSigma), 60.0);
  EXPECT_EQ(BjeAmericanCall(trigger, kX, kR, kT, kQ, 1, 0.0, kSigma), trigger - kX);
  EXPECT_LT(BjeAmericanCall(trigger * 0.999, kX, kR, kT, kQ, 1, 0.0, kSigma),
            trigger * 0.999 - kX + 0.1);
}

TEST(BjeAmericanCall, EqualsEuropeanWhenCarryReachesRate) {
  struct Case {
    std::int32_t model;
    double q, rf;
  };
  // ModelType 0 (b = r, q ignored), ModelType 1 with q = 0, ModelType 3 with rf = 0.
  const Case cases[] = {{0, 0.08, 0.0}, {0, 0.5, 0.0}, {1, 0.0, 0.0}, {3, 0.3, 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ModelType " << c.model << ", q = " << c.q);
    EXPECT_EQ(BjeAmericanCall(kS, kX, kR, kT, c.q, c.model, c.rf, kSigma),
              GbsCall(c.model, kS, kX, kR, c.rf, kT, c.q, kSigma));
  }
  // The dividend rate has no influence on the ModelType 0 put either.
  EXPECT_EQ(BjeAmericanPut(kS, kX, kR, kT, 0.08, 0, 0.0, kSigma),
            BjeAmericanPut(kS, kX, kR, kT, 0.5, 0, 0.0, kSigma));
}

TEST(BjeAmericanPut, ZeroCarryRateTakesStockPriceAsB0) {
  // The put of ModelType 0 is the call of rate r - b = 0 and carry -r on exercise price S.
  const BjeBoundary boundary = BjeExerciseBoundary(kS, 0.0, kT, kSigma, -kR);
  EXPECT_EQ(boundary.b0, kS);
  EXPECT_NEAR(boundary.beta, 1 + 2 * kR / (kSigma * kSigma), 1e-12);
  // ModelType 2 (b = 0): the transformed rate is r itself and B0 is again S.
  EXPECT_EQ(BjeExerciseBoundary(kS, kR, kT, kSigma, 0.0).b0, kS);
}

TEST(BjePrice, AmericanIsWorthAtLeastEuropean) {
  for (const std::int32_t model : {0, 1, 2, 3}) {
    for (const double s : {20.0, 35.0, 42.0, 50.0, 70.0}) {
      // Not at high volatility: the flat boundary then undervalues enough to fall below the
      // European price (at sigma = 0.9 and b = 0 by up to 0.2), a known limit of the 1993 method.
      for (const double sigma : {0.1, 0.2, 0.35}) {
        SCOPED_TRACE(::testing::Message()
                     << "ModelType " << model << ", S = " << s << ", sigma = " << sigma);
        // A 1e-7 allowance: both sides carry the 7.5e-8 error of the polynomial N(x).
        EXPECT_GE(BjeAmericanCall(s, kX, kR, kT, kQ, model, 0.02, sigma) + 1e-7,
                  GbsCall(model, s, kX, kR, 0.02, kT, kQ, sigma));
        EXPECT_GE(BjeAmericanPut(s, kX, kR, kT, kQ, model, 0.02, sigma) + 1e-7,
                  GbsPut(model, s, kX, kR, 0.02, kT, kQ, sigma));
        EXPECT_GE(BjeAmericanPut(s, kX, kR, kT, kQ, model, 0.02, sigma), std::fmax(kX - s, 0.0));
      }
    }
  }
}

TEST(BjePrice, FlatVolatilityGivesSentinels) {
  // The put and every call that reaches the closed form are not computable at sigma = 0; so are
  // the guarded Greeks. Theta and rho then difference equal sentinels: 0.
  EXPECT_EQ(BjeAmericanPut(kS, kX, kR, kT, kQ, 1, 0.0, 0.0), kNotComputable);
  EXPECT_EQ(BjeAmericanCall(kS, kX, kR, kT, kQ, 1, 0.0, 0.0), kNotComputable);
  EXPECT_EQ(BjeApproximateCall(kS, kX, kR, kT, 5e-13, -0.04), kNotComputable);
  const CallPut delta = BjeDelta(kS, kX, kR, kT, kQ, 1, 0.0, 0.0);
  EXPECT_EQ(delta.call, kNotComputable);
  EXPECT_EQ(delta.put, kNotComputable);
  EXPECT_EQ(BjeGamma(kS, kX, kR, kT, kQ, 1, 0.0, 0.0), kNotComputable);
  EXPECT_EQ(BjeVega(kS, kX, kR, kT, kQ, 1, 0.0, 0.0), kNotComputable);
  EXPECT_EQ(BjeTheta(kS, kX, kR, kT, kQ, 1, 0.0, 0.0).put, 0.0);
  EXPECT_EQ(BjeRho(kS, kX, kR, kT, kQ, 1, 0.0, 0.0).put, 0.0);
  // A call whose carry reaches the rate is European and stays computable at sigma = 0.
  EXPECT_DOUBLE_EQ(BjeAmericanCall(kS, kX, kR, kT, kQ, 0, 0.0, 0.0), kS - kX * std::exp(-kR * kT));
}

TEST(BjeImpliedVolatility, RecoversVolatilityFromCallAndPut) {
  auto call = [](double v) { return BjeAmericanCall(kS, kX, kR, kT, kQ, 1, 0.0, v); };
  auto put = [](double v) { return BjeAmericanPut(kS, kX, kR, kT, kQ, 1, 0.0, v); };
  int evaluations = 0;
  auto counted_call = [&](double v) {
    ++evaluations;
    return call(v);
  };
  EXPECT_NEAR(
      BisectVolatility(counted_call, call(kSigma), 0, CompareMode::kAbsolute, AbortPolling::kOff),
      0.35000034, Quoted(8));
  EXPECT_EQ(evaluations, 27);
  EXPECT_NEAR(BisectVolatility(put, put(kSigma), 0, CompareMode::kSigned, AbortPolling::kOff),
              0.35000034, Quoted(8));
  EXPECT_EQ(BisectVolatility(call, 0.0, 0, CompareMode::kSigned, AbortPolling::kOff), 0.0);
  EXPECT_NEAR(BisectVolatility(put, 1e4, 0, CompareMode::kSigned, AbortPolling::kOff), 99.99999963,
              Quoted(8));
  const double one_pass = BisectVolatility(put, 4.0, 1, CompareMode::kSigned, AbortPolling::kOff);
  EXPECT_TRUE(one_pass == 25.0 || one_pass == 75.0) << one_pass;
}

TEST(BjeRho, RaisesZeroRateBeforeBumping) {
  // r = 0 would make both bumps 0 and the quotient 0/0.
  const CallPut rho = BjeRho(kS, kX, 0.0, kT, kQ, 1, 0.0, kSigma);
  EXPECT_TRUE(std::isfinite(rho.call));
  EXPECT_TRUE(std::isfinite(rho.put));
}

// The closed form written out plainly with the public BjePhi, five separate calls.
double PlainApproximateCall(double s, double x, double r, double t, double sigma, double b) {
  if (std::fabs(sigma) < 1e-12) return kNotComputable;
  const BjeBoundary boundary = BjeExerciseBoundary(x, r, t, sigma, b);
  const double beta = boundary.beta;
  const double i = boundary.trigger;
  const double alpha = (i - x) * std::pow(i, -beta);
  if (s >= i) return s - x;
  double value = alpha * std::pow(s, beta);
  value -= alpha * BjePhi(s, t, beta, i, i, r, b, sigma);
  value += BjePhi(s, t, 1.0, i, i, r, b, sigma);
  value -= BjePhi(s, t, 1.0, x, i, r, b, sigma);
  value -= x * BjePhi(s, t, 0.0, i, i, r, b, sigma);
  value += x * BjePhi(s, t, 0.0, x, i, r, b, sigma);
  return value;
}

bool Identical(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(BjeApproximateCall, SameDoublesAsFivePlainPhiCalls) {
  std::mt19937_64 random(77);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  for (int n = 0; n < 5000; ++n) {
    const double s = uniform(1, 300);
    const double x = n % 9 == 0 ? s : uniform(1, 300);
    const double rates[] = {uniform(0.001, 0.2), 0.0, 1e-8, uniform(-0.05, 0.0)};
    const double r = rates[n % 4];
    const double t = n % 29 == 0 ? 0.0 : uniform(0.01, 5);
    const double sigmas[] = {uniform(0.02, 2), 3e-13, uniform(0.1, 0.5), uniform(2, 60)};
    const double sigma = sigmas[n % 4];
    const double b = n % 11 == 0 ? 0.0 : uniform(-0.3, 0.2);
    SCOPED_TRACE(::testing::Message() << "S=" << s << " X=" << x << " r=" << r << " T=" << t
                                      << " sigma=" << sigma << " b=" << b);
    EXPECT_PRED2(Identical, BjeApproximateCall(s, x, r, t, sigma, b),
                 PlainApproximateCall(s, x, r, t, sigma, b));
    if (HasFailure()) return;
  }
}

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(BjePriceAndGreeks, SameDoublesAsTheSevenFunctions) {
  std::mt19937_64 random(47);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  for (int n = 0; n < 3000; ++n) {
    // Ordinary inputs and the edges: zero and tiny volatility, rates at, below and raised to
    // 1e-12 for the rhos, negative rates, spot beyond the trigger, NaN.
    const double s = n % 53 == 0 ? std::nan("") : uniform(1, 300);
    const double x = n % 11 == 0 ? s * 0.2 : uniform(1, 300);
    const double rates[] = {uniform(0.0001, 0.2), 0.0, 1e-13, -1e-8, 1e-8, uniform(-0.05, 0)};
    const double r = rates[n % 6];
    const double t = uniform(0.01, 5);
    const double sigmas[] = {uniform(0.01, 1.5), 0.0, 5e-13, uniform(0.05, 0.5)};
    const double sigma = sigmas[n % 4];
    const double q = uniform(0, 0.2);
    const double rf = uniform(0, 0.2);
    const std::int32_t model = static_cast<std::int32_t>(n % 5);
    SCOPED_TRACE(::testing::Message()
                 << "model " << model << " S=" << s << " X=" << x << " r=" << r << " rf=" << rf
                 << " T=" << t << " q=" << q << " sigma=" << sigma);
    const BjeValues v = BjePriceAndGreeks(s, x, r, t, q, model, rf, sigma);
    const CallPut delta = BjeDelta(s, x, r, t, q, model, rf, sigma);
    const CallPut theta = BjeTheta(s, x, r, t, q, model, rf, sigma);
    const CallPut rho = BjeRho(s, x, r, t, q, model, rf, sigma);
    EXPECT_PRED2(SameDouble, v.call, BjeAmericanCall(s, x, r, t, q, model, rf, sigma));
    EXPECT_PRED2(SameDouble, v.put, BjeAmericanPut(s, x, r, t, q, model, rf, sigma));
    EXPECT_PRED2(SameDouble, v.delta.call, delta.call);
    EXPECT_PRED2(SameDouble, v.delta.put, delta.put);
    EXPECT_PRED2(SameDouble, v.theta.call, theta.call);
    EXPECT_PRED2(SameDouble, v.theta.put, theta.put);
    EXPECT_PRED2(SameDouble, v.gamma, BjeGamma(s, x, r, t, q, model, rf, sigma));
    EXPECT_PRED2(SameDouble, v.vega, BjeVega(s, x, r, t, q, model, rf, sigma));
    EXPECT_PRED2(SameDouble, v.rho.call, rho.call);
    EXPECT_PRED2(SameDouble, v.rho.put, rho.put);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace kx::models
