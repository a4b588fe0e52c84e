// The binomial methods through IKvQuantorb: tree reference values, method identities,
// validation with E_INVALIDARG, the rate clamp, the iteration rules and the strike skew.
#include <cmath>

#include "interface_test_support.h"
#include "kx/models/binomial.h"

namespace kx::component {
namespace {

using namespace test_support;
using namespace kx::platform;

class BinomialMethodsTest : public InterfaceTest {};

struct Greeks {
  double call = 0, put = 0, c_delta = 0, p_delta = 0, c_theta = 0, p_theta = 0, gamma = 0, vega = 0,
         c_rho = 0, p_rho = 0;
};

HRESULT PriceGreeks(Client& client, double sigma, LONG steps, LONG flag, Greeks& g,
                    LONG do_vega = 1, LONG do_rho = 1, double r = 0.05) {
  return client.object->BinPriceGreeks(100, 100, r, 1, sigma, 0, 1, 0, steps, flag, &g.call, &g.put,
                                       &g.c_delta, &g.p_delta, &g.c_theta, &g.p_theta, &g.gamma,
                                       do_vega, &g.vega, do_rho, &g.c_rho, &g.p_rho);
}

// S = K = 100, r = 0.05, T = 1, sigma = 0.2, q = 0, ModelType 1, 100 steps; 6 decimals given,
// so the tolerance is half a unit of the last digit.
TEST_F(BinomialMethodsTest, PriceGreeksMatchReferenceTree) {
  struct Row {
    const char* what;
    LONG flag;
    Greeks expected;
  };
  const Row rows[] = {
      {"European",
       1,
       {10.430612, 5.553554, 0.636512, -0.363488, -6.445313, -1.686787, 0.018922, 37.439732,
        53.387672, -41.616466}},
      {"American",
       0,
       {10.430612, 6.082354, 0.636512, -0.411636, -6.445313, -2.262600, 0.018922, 37.439732,
        53.387672, -29.957587}},
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Greeks g;
    // DoVega and DoRho 0 still return vega and the rhos.
    EXPECT_EQ(PriceGreeks(client, 0.2, 100, row.flag, g, 0, 0), S_OK);
    const Greeks& e = row.expected;
    EXPECT_NEAR(g.call, e.call, 5e-7);
    EXPECT_NEAR(g.put, e.put, 5e-7);
    EXPECT_NEAR(g.c_delta, e.c_delta, 5e-7);
    EXPECT_NEAR(g.p_delta, e.p_delta, 5e-7);
    EXPECT_NEAR(g.c_theta, e.c_theta, 5e-7);
    EXPECT_NEAR(g.p_theta, e.p_theta, 5e-7);
    EXPECT_NEAR(g.gamma, e.gamma, 5e-7);
    EXPECT_NEAR(g.vega, e.vega, 5e-7);
    EXPECT_NEAR(g.c_rho, e.c_rho, 5e-7);
    EXPECT_NEAR(g.p_rho, e.p_rho, 5e-7);
    EXPECT_EQ(client.done->Last().error_string, kNoError);
  }
}

TEST_F(BinomialMethodsTest, SingleValueMethodsAgreeWithPriceGreeks) {
  Client client;
  Greeks all;
  ASSERT_EQ(PriceGreeks(client, 0.25, 60, 0, all), S_OK);
  double a = 0, b = 0;
  auto* o = client.object.get();
  EXPECT_EQ(o->BinCallPrice(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a), S_OK);
  EXPECT_EQ(a, all.call);
  EXPECT_EQ(o->BinPutPrice(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a), S_OK);
  EXPECT_EQ(a, all.put);
  EXPECT_EQ(o->BinPrice(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a, &b), S_OK);
  EXPECT_EQ(a, all.call);
  EXPECT_EQ(b, all.put);
  EXPECT_EQ(o->BinDelta(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a, &b), S_OK);
  EXPECT_EQ(a, all.c_delta);
  EXPECT_EQ(b, all.p_delta);
  EXPECT_EQ(o->BinCallDelta(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a), S_OK);
  EXPECT_EQ(a, all.c_delta);
  EXPECT_EQ(o->BinPutDelta(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a), S_OK);
  EXPECT_EQ(a, all.p_delta);
  EXPECT_EQ(o->BinTheta(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a, &b), S_OK);
  EXPECT_EQ(a, all.c_theta);
  EXPECT_EQ(b, all.p_theta);
  EXPECT_EQ(o->BinGamma(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a), S_OK);
  EXPECT_EQ(a, all.gamma);
  EXPECT_EQ(o->BinVega(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a), S_OK);
  EXPECT_EQ(a, all.vega);
  EXPECT_EQ(o->BinRho(100, 100, 0.05, 1, 0.25, 0, 1, 0, 60, 0, &a, &b), S_OK);
  EXPECT_EQ(a, all.c_rho);
  EXPECT_EQ(b, all.p_rho);
  EXPECT_EQ(client.done->Count(), 11u);
  for (const DoneEvent& e : client.done->Events()) EXPECT_EQ(e.error_code, 0);
}

TEST_F(BinomialMethodsTest, InvalidArgumentsGiveSentinelInEveryOutputAndInvalidArg) {
  struct Row {
    const char* what;
    double sigma;
    LONG steps, flag;
  };
  const Row rows[] = {
      {"BinSteps 0", 0.2, 0, 1},
      {"BinSteps 5001", 0.2, 5001, 1},
      {"FlagEurAm 2", 0.2, 10, 2},
      {"negative volatility", -0.2, 10, 1},
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Greeks g;
    EXPECT_EQ(PriceGreeks(client, row.sigma, row.steps, row.flag, g), E_INVALIDARG);
    for (double v : {g.call, g.put, g.c_delta, g.p_delta, g.c_theta, g.p_theta, g.gamma, g.vega,
                     g.c_rho, g.p_rho}) {
      EXPECT_EQ(v, kSentinel);
    }
    EXPECT_EQ(client.done->Last().last_method, 2);
    EXPECT_EQ(client.done->Last().error_code, 6010);
    EXPECT_EQ(client.done->Last().error_string, kInvalidInput);
    EXPECT_EQ(TakeErrorInfo().description, "Error in BinPriceGreeks: Invalid input parameter(s).");
  }
}

TEST_F(BinomialMethodsTest, ZeroRateIsPricedAsOneHundredMillionth) {
  Client client;
  double at_zero = 0, at_floor = 0;
  // ModelType 0: the rate is also the carry, so the clamp is visible in the price.
  EXPECT_EQ(client.object->BinCallPrice(100, 100, 0, 1, 0.2, 0, 0, 0, 50, 1, &at_zero), S_OK);
  EXPECT_EQ(client.object->BinCallPrice(100, 100, 1e-8, 1, 0.2, 0, 0, 0, 50, 1, &at_floor), S_OK);
  EXPECT_EQ(at_zero, at_floor);
  double unclamped = 0;
  kx::models::TreeGreeksWorker(100, 100, 0.0, 1, 0.2, 0, 0, 0, 50, 1, false, false,
                               {.call_price = &unclamped});
  EXPECT_NE(at_zero, unclamped);
}

TEST_F(BinomialMethodsTest, ZeroVolatilityPassesWithSentinelGreeks) {
  Client client;
  double vega = 0;
  EXPECT_EQ(client.object->BinVega(100, 100, 0.05, 1, 0, 0, 1, 0, 20, 1, &vega), S_OK);
  EXPECT_EQ(vega, kSentinel);
  EXPECT_EQ(client.done->Last().error_code, 0);
}

TEST_F(BinomialMethodsTest, ImpliedVolatilityIgnoresMaxIterAndRecoversSigma) {
  Client client;
  double by_default = 0;
  EXPECT_EQ(client.object->BinImpliedVolatilityPut(100, 100, 0.05, 1, 0, 1, 0, 100, 0, 6.082354, 0,
                                                   &by_default),
            S_OK);
  // The target is the 6-decimal reference price; vega of the put ~ 37 moves sigma < 1e-7.
  EXPECT_NEAR(by_default, 0.2, 1e-6);
  for (const LONG max_iter : {1, -5, 50}) {
    SCOPED_TRACE(max_iter);
    double iv = 0;
    EXPECT_EQ(client.object->BinImpliedVolatilityPut(100, 100, 0.05, 1, 0, 1, 0, 100, 0, 6.082354,
                                                     max_iter, &iv),
              S_OK);
    EXPECT_EQ(iv, by_default);
  }
  double iv = 0;
  EXPECT_EQ(client.object->BinImpliedVolatility(100, 100, 0.05, 1, 0, 1, 0, 30, 1, 0, 0, &iv),
            S_OK);
  EXPECT_EQ(iv, 0.0);
  EXPECT_EQ(client.object->BinImpliedVolatility(100, 100, 0.05, 1, 0, 1, 0, 30, 1, 1000, 0, &iv),
            S_OK);
  EXPECT_NEAR(iv, 100 - 100 / std::ldexp(1.0, 28), 1e-12);
  EXPECT_EQ(client.done->Last().error_code, 0);
}

class BinomialSkewTest : public InterfaceTest {
 protected:
  static HRESULT Skew(Client& client, double s, VARIANT* strikes, VARIANT* calls, VARIANT* puts,
                      LONG max_iter, VARIANT* iv_call, VARIANT* iv_put, LONG steps = 30) {
    return client.object->BinImpliedVolatilitySkew(s, strikes, 0.05, 1, 0, 1, 0, steps, 1, calls,
                                                   puts, max_iter, iv_call, iv_put);
  }
};

TEST_F(BinomialSkewTest, ResultsStartAtBaseAndRecoverSigma) {
  for (const LONG base : {0, 1}) {
    SCOPED_TRACE(::testing::Message() << "Base " << base);
    Client client;
    ASSERT_EQ(client.object->put_Base(base), S_OK);
    double call90 = 0, put90 = 0, call110 = 0, put110 = 0;
    ASSERT_EQ(client.object->BinPrice(100, 90, 0.05, 1, 0.3, 0, 1, 0, 30, 1, &call90, &put90),
              S_OK);
    ASSERT_EQ(client.object->BinPrice(100, 110, 0.05, 1, 0.3, 0, 1, 0, 30, 1, &call110, &put110),
              S_OK);
    Variant strikes = DoubleVector({90, 110});
    Variant calls = DoubleVector({call90, call110});
    Variant puts = DoubleVector({put90, put110});
    Variant iv_call, iv_put;
    EXPECT_EQ(Skew(client, 100, &strikes, &calls, &puts, 0, &iv_call, &iv_put), S_OK);
    EXPECT_EQ(client.done->Last().error_string, kNoError);
    for (const Variant* result : {&iv_call, &iv_put}) {
      const ArrayResult read = ReadResult(*result);
      EXPECT_EQ(read.lower, base);
      ASSERT_EQ(read.values.size(), 2u);
      for (double v : read.values) EXPECT_NEAR(v, 0.3, 1e-6);
    }
  }
}

TEST_F(BinomialSkewTest, MaxIterTenStopsAfterTenHalvings) {
  Client client;
  Variant strikes = DoubleVector({95, 100, 105});
  Variant calls = DoubleVector({12, 9, 6});
  Variant puts = DoubleVector({3, 5, 8});
  Variant iv_call, iv_put;
  EXPECT_EQ(Skew(client, 100, &strikes, &calls, &puts, 10, &iv_call, &iv_put), S_OK);
  // After 10 halvings of [0, 100] the midpoint is an odd multiple of 100 / 2^11.
  for (const Variant* result : {&iv_call, &iv_put}) {
    for (double v : ReadResult(*result).values) {
      const double units = v / (100.0 / 2048);
      EXPECT_EQ(units, std::round(units));
      EXPECT_EQ(std::fmod(units, 2.0), 1.0);
    }
  }
}

TEST_F(BinomialSkewTest, ChecksRunInOrderAndTheLastFailureStands) {
  Client client;
  Variant strikes = DoubleVector({100});
  Variant iv_call;
  // Invalid StockPrice (6010) and then a missing CallValue (3002): 3002 stands.
  EXPECT_EQ(Skew(client, 0, &strikes, nullptr, nullptr, 0, &iv_call, nullptr), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 3002);
  EXPECT_EQ(TakeErrorInfo().description, "Input array in parameter 2 is not defined.");
  // Validation alone: E_INVALIDARG with the title, nothing written.
  Variant calls = DoubleVector({10});
  EXPECT_EQ(Skew(client, 100, &strikes, &calls, nullptr, 0, &iv_call, nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(client.done->Last().error_code, 6010);
  EXPECT_EQ(TakeErrorInfo().description,
            "Error in BinImpliedVolatilitySkew: Invalid input parameter(s).");
  EXPECT_EQ(iv_call.vt, VT_EMPTY);
}

TEST_F(BinomialSkewTest, AbortDuringTheSearchLeavesOutputsAsPassed) {
  Client client;
  MessageAction abort([&] { EXPECT_EQ(client.object->Abort(), S_OK); });
  WorkerHook hook([&](testing::WorkerPhase phase) {
    if (phase == testing::WorkerPhase::kStarted) {
      EXPECT_TRUE(abort.WaitUntilRan());
    }
  });
  abort.Post();
  Variant strikes = DoubleVector({100, 105});
  Variant calls = DoubleVector({10, 7});
  Variant iv_call(2.5);
  EXPECT_EQ(Skew(client, 100, &strikes, &calls, nullptr, 0, &iv_call, nullptr), S_OK);
  EXPECT_EQ(iv_call.vt, VT_R8);
  EXPECT_EQ(iv_call.dblVal, 2.5);
  EXPECT_EQ(client.done->Last().last_method, 1);
  EXPECT_EQ(client.done->Last().error_code, 3100);
  EXPECT_EQ(strikes.parray->cLocks, 0u);
  EXPECT_EQ(calls.parray->cLocks, 0u);
}

}  // namespace
}  // namespace kx::component
