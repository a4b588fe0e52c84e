#include "kx/models/black_scholes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "quoted.h"

namespace kx::models {
namespace {

using testing::Quoted;

struct Market {
  double s, k, r, t, q, sigma;
};

// ModelType 1 with rf = 0, as the Black-Scholes methods call it.
double Call(const Market& m) { return GbsCall(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma); }
double Put(const Market& m) { return GbsPut(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma); }

// Reference values computed with the 26.2.17 N(x), quoted to 10 decimals.
TEST(GbsPrice, MatchesReferenceTable) {
  struct Case {
    Market m;
    double call, put;
  };
  const Case cases[] = {
      {{100, 100, 0.05, 1, 0, 0.2}, 10.4505756193, 5.5735180694},
      {{100, 95, 0.08, 0.5, 0.03, 0.25}, 10.9126052312, 3.6764079904},
      {{100, 100, 0.05, 1, 0.05, 0.2}, 7.5770933579, 7.5770933579},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "K = " << c.m.k << ", q = " << c.m.q);
    EXPECT_NEAR(Call(c.m), c.call, Quoted(10));
    EXPECT_NEAR(Put(c.m), c.put, Quoted(10));
  }
}

TEST(GbsGreeks, MatchReferenceValues) {
  const Market m{100, 100, 0.05, 1, 0, 0.2};
  const CallPut delta = GbsDelta(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma);
  const CallPut theta = GbsTheta(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma);
  const CallPut rho = GbsRho(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma);
  EXPECT_NEAR(delta.call, 0.6368305905, Quoted(10));
  EXPECT_NEAR(delta.put, -0.3631694095, Quoted(10));
  EXPECT_NEAR(theta.call, -6.4140276405, Quoted(10));
  EXPECT_NEAR(theta.put, -1.6578805180, Quoted(10));
  EXPECT_NEAR(GbsGamma(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma), 0.0187620173, Quoted(10));
  EXPECT_NEAR(GbsVega(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma), 37.5240346917, Quoted(10));
  EXPECT_NEAR(rho.call, 53.2324834262, Quoted(10));
  EXPECT_NEAR(rho.put, -41.8904590239, Quoted(10));
}

TEST(GbsRho, ZeroCarryGivesMinusTTimesPrices) {
  // r = q makes b exactly 0 under ModelType 1.
  const CallPut rho = GbsRho(1, 100, 100, 0.05, 0.0, 1, 0.05, 0.2);
  EXPECT_NEAR(rho.call, -7.5770933579, Quoted(10));
  EXPECT_NEAR(rho.put, -7.5770933579, Quoted(10));
  const CallPut half_year = GbsRho(1, 100, 90, 0.05, 0.0, 0.5, 0.05, 0.2);
  EXPECT_DOUBLE_EQ(half_year.call, -0.5 * GbsCall(1, 100, 90, 0.05, 0.0, 0.5, 0.05, 0.2));
  EXPECT_DOUBLE_EQ(half_year.put, -0.5 * GbsPut(1, 100, 90, 0.05, 0.0, 0.5, 0.05, 0.2));
}

TEST(GbsRho, ZeroRateIsRaisedBeforeCarry) {
  // With r = 1e-12 and q = 0 the carry is 1e-12, not 0, so the ordinary formula applies.
  const CallPut rho = GbsRho(1, 100, 100, 0.0, 0.0, 1, 0.0, 0.2);
  EXPECT_NEAR(rho.call, 46.0172103793, Quoted(10));
  EXPECT_NEAR(rho.put, -53.9827896206, Quoted(10));
}

TEST(GbsPrice, SatisfiesPutCallParity) {
  // C - P = S e^((b-r)T) - K e^(-rT) for every model type, because N(x) + N(-x) = 1.
  const Market markets[] = {{100, 100, 0.05, 1, 0, 0.2},
                            {80, 120, 0.01, 2.5, 0.04, 0.6},
                            {120, 80, 0.10, 0.1, 0.0, 0.05},
                            {50, 50.5, 0.0, 0.75, 0.02, 1.2},
                            {1e3, 900, 0.07, 5, 0.03, 0.15}};
  for (std::int32_t model = 0; model <= 3; ++model) {
    for (const Market& m : markets) {
      SCOPED_TRACE(::testing::Message() << "ModelType " << model << ", K = " << m.k);
      const double rf = 0.03;
      const double b = CostOfCarry(model, m.r, m.q, rf);
      const double forward_gap = m.s * std::exp((b - m.r) * m.t) - m.k * std::exp(-m.r * m.t);
      const double call = GbsCall(model, m.s, m.k, m.r, rf, m.t, m.q, m.sigma);
      const double put = GbsPut(model, m.s, m.k, m.r, rf, m.t, m.q, m.sigma);
      EXPECT_NEAR(call - put, forward_gap, 1e-12 * m.s);
    }
  }
}

TEST(GbsGreeks, AgreeWithDifferencesOfPrices) {
  // Greeks are analytic derivatives of the exact formula while the prices use the 26.2.17 N(x);
  // the slopes of the two disagree by up to ~5e-6 relative, so a 1e-4 absolute tolerance.
  const Market m{105, 100, 0.04, 0.8, 0.01, 0.3};
  const double h = 1e-4;
  auto call_at = [&](double s, double r, double t, double sigma) {
    return GbsCall(1, s, m.k, r, 0.0, t, m.q, sigma);
  };
  const double delta =
      (call_at(m.s + h, m.r, m.t, m.sigma) - call_at(m.s - h, m.r, m.t, m.sigma)) / (2 * h);
  EXPECT_NEAR(GbsDelta(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma).call, delta, 1e-4);
  const double vega =
      (call_at(m.s, m.r, m.t, m.sigma + h) - call_at(m.s, m.r, m.t, m.sigma - h)) / (2 * h);
  EXPECT_NEAR(GbsVega(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma), vega, 1e-2);
  const double theta =
      -(call_at(m.s, m.r, m.t + h, m.sigma) - call_at(m.s, m.r, m.t - h, m.sigma)) / (2 * h);
  EXPECT_NEAR(GbsTheta(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma).call, theta, 1e-2);
  const double rho =
      (call_at(m.s, m.r + h, m.t, m.sigma) - call_at(m.s, m.r - h, m.t, m.sigma)) / (2 * h);
  // Rho here holds q fixed, so b moves with r as it does in the derivative.
  EXPECT_NEAR(GbsRho(1, m.s, m.k, m.r, 0.0, m.t, m.q, m.sigma).call, rho, 1e-2);
}

TEST(GbsPrice, ZeroVolatilityInTheMoneyGivesDiscountedIntrinsic) {
  const double call = GbsCall(1, 110, 100, 0.05, 0.0, 1, 0.02, 0.0);
  EXPECT_DOUBLE_EQ(call, 110 * std::exp(-0.02) - 100 * std::exp(-0.05));
  EXPECT_EQ(GbsPut(1, 110, 100, 0.05, 0.0, 1, 0.02, 0.0), 0.0);
  const CallPut delta = GbsDelta(1, 110, 100, 0.05, 0.0, 1, 0.02, 0.0);
  EXPECT_EQ(delta.call, kNotComputable);
  EXPECT_EQ(delta.put, kNotComputable);
  EXPECT_EQ(GbsGamma(1, 110, 100, 0.05, 0.0, 1, 0.02, 0.0), kNotComputable);
  EXPECT_EQ(GbsVega(1, 110, 100, 0.05, 0.0, 1, 0.02, 0.0), kNotComputable);
  EXPECT_EQ(GbsVega(1, 110, 100, 0.05, 0.0, 1, 0.02, -5e-13), kNotComputable);
  EXPECT_NE(GbsVega(1, 110, 100, 0.05, 0.0, 1, 0.02, 1e-11), kNotComputable);
}

TEST(GbsPrice, ZeroVolatilityAtTheForwardIsZeroNotNaN) {
  // ln(S/K) + bT = 0 and sigma = 0 make d1 = 0/0; the sigma -> 0+ limit is taken instead, where
  // call and put are both worth their intrinsic value 0.
  struct Case {
    double s, k, r, t, q;
  };
  const Case cases[] = {{100, 100, 0.05, 1, 0.05}, {100, 100, 0.05, 0.0, 0.0}, {80, 80, 0, 2, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "S = " << c.s << ", T = " << c.t);
    const D1D2 d = GbsD1D2(1, c.s, c.k, c.r, 0.0, c.t, c.q, 0.0);
    EXPECT_EQ(d.d1, 0.0);
    EXPECT_EQ(d.d2, 0.0);
    EXPECT_NEAR(GbsCall(1, c.s, c.k, c.r, 0.0, c.t, c.q, 0.0), 0.0, 1e-12);
    EXPECT_NEAR(GbsPut(1, c.s, c.k, c.r, 0.0, c.t, c.q, 0.0), 0.0, 1e-12);
    if (c.t > 0) {  // theta divides by sqrt(T)
      const CallPut theta = GbsTheta(1, c.s, c.k, c.r, 0.0, c.t, c.q, 0.0);
      EXPECT_FALSE(std::isnan(theta.call));
      EXPECT_FALSE(std::isnan(theta.put));
    }
  }
}

TEST(GbsD1D2, TinyStrikeReplacesLogarithmByOne) {
  const D1D2 d = GbsD1D2(1, 100, 0.000001, 0.05, 0.0, 1, 0.0, 0.2);
  // (1 + (0.02 + 0.05) * 1) / 0.2
  EXPECT_NEAR(d.d1, 5.35, 1e-12);
  EXPECT_NEAR(d.d2, 5.15, 1e-12);
  // At the threshold itself the logarithm is used.
  EXPECT_NEAR(GbsD1D2(1, 100, 1e-05, 0.05, 0.0, 1, 0.0, 0.2).d1,
              (std::log(100 / 1e-05) + 0.07) / 0.2, 1e-12);
}

TEST(GbsD1D2, ModelTypeSelectsCarry) {
  EXPECT_EQ(GbsD1D2(0, 100, 100, 0.05, 0.03, 1, 0.02, 0.2).b, 0.05);
  EXPECT_EQ(GbsD1D2(1, 100, 100, 0.05, 0.03, 1, 0.02, 0.2).b, 0.05 - 0.02);
  EXPECT_EQ(GbsD1D2(2, 100, 100, 0.05, 0.03, 1, 0.02, 0.2).b, 0.0);
  EXPECT_EQ(GbsD1D2(3, 100, 100, 0.05, 0.03, 1, 0.02, 0.2).b, 0.05 - 0.03);
  // Futures: the price ignores q and rf altogether.
  EXPECT_EQ(GbsCall(2, 100, 95, 0.05, 0.03, 1, 0.02, 0.2),
            GbsCall(2, 100, 95, 0.05, 0.09, 1, 0.07, 0.2));
  // Currency: q is ignored, rf used.
  EXPECT_EQ(GbsCall(3, 100, 95, 0.05, 0.03, 1, 0.02, 0.2),
            GbsCall(3, 100, 95, 0.05, 0.03, 1, 0.09, 0.2));
  EXPECT_NE(GbsCall(3, 100, 95, 0.05, 0.03, 1, 0.02, 0.2),
            GbsCall(3, 100, 95, 0.05, 0.04, 1, 0.02, 0.2));
}

TEST(GbsPrice, UncheckedNegativeTimeReturns) {
  // Callers that skip validation (the skew) may pass T < 0: the result is NaN, but it returns.
  EXPECT_TRUE(std::isnan(GbsCall(1, 100, 100, 0.05, 0.0, -1, 0.0, 0.2)));
}

bool Identical(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(GbsPriceAndGreeks, SameDoublesAsTheSevenFunctions) {
  std::mt19937_64 random(31);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  for (int n = 0; n < 4000; ++n) {
    // Ordinary inputs and the edges: zero and tiny volatility, a forward at the strike, a strike
    // below 1e-5, rates at and below 1e-12, zero and negative time, NaN.
    const double s = n % 50 == 0 ? std::nan("") : uniform(1, 300);
    const double k = n % 7 == 0 ? s : (n % 23 == 0 ? 1e-6 : uniform(1, 300));
    const double rates[] = {uniform(-0.05, 0.2), 0.0, 1e-13, 1e-12, uniform(0, 0.1)};
    const double r = rates[n % 5];
    const double t = n % 31 == 0 ? 0.0 : (n % 37 == 0 ? -0.5 : uniform(0.001, 5));
    const double sigmas[] = {uniform(0.01, 3), 0.0, 5e-13, uniform(0.05, 0.5), -0.2};
    const double sigma = sigmas[n % 5];
    const double q = uniform(0, 0.2);
    const double rf = uniform(0, 0.2);
    const std::int32_t model = static_cast<std::int32_t>(n % 5);
    SCOPED_TRACE(::testing::Message()
                 << "model " << model << " S=" << s << " K=" << k << " r=" << r << " rf=" << rf
                 << " T=" << t << " q=" << q << " sigma=" << sigma);
    const GbsValues v = GbsPriceAndGreeks(model, s, k, r, rf, t, q, sigma);
    const CallPut delta = GbsDelta(model, s, k, r, rf, t, q, sigma);
    const CallPut theta = GbsTheta(model, s, k, r, rf, t, q, sigma);
    const CallPut rho = GbsRho(model, s, k, r, rf, t, q, sigma);
    EXPECT_PRED2(Identical, v.call, GbsCall(model, s, k, r, rf, t, q, sigma));
    EXPECT_PRED2(Identical, v.put, GbsPut(model, s, k, r, rf, t, q, sigma));
    EXPECT_PRED2(Identical, v.delta.call, delta.call);
    EXPECT_PRED2(Identical, v.delta.put, delta.put);
    EXPECT_PRED2(Identical, v.theta.call, theta.call);
    EXPECT_PRED2(Identical, v.theta.put, theta.put);
    EXPECT_PRED2(Identical, v.gamma, GbsGamma(model, s, k, r, rf, t, q, sigma));
    EXPECT_PRED2(Identical, v.vega, GbsVega(model, s, k, r, rf, t, q, sigma));
    EXPECT_PRED2(Identical, v.rho.call, rho.call);
    EXPECT_PRED2(Identical, v.rho.put, rho.put);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace kx::models
