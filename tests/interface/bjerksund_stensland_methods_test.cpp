// The Bjerksund-Stensland methods through IKvQuantorb: reference values, the rate clamp,
// implied volatilities and the strike skew.
#include "interface_test_support.h"

namespace kx::component {
namespace {

using namespace test_support;
using namespace kx::platform;

class BjerksundStenslandMethodsTest : public InterfaceTest {};

// S = 42, X = 40, r = 0.04, T = 0.75, sigma = 0.35, q = 0.08, ModelType 1 (b = -0.04), with the
// A&S N(x); 8 decimals given.
TEST_F(BjerksundStenslandMethodsTest, ReferenceCaseThroughEveryMethod) {
  Client client;
  auto* o = client.object.get();
  double c = 0, p = 0, one = 0;
  EXPECT_EQ(o->BJECallPrice(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &c), S_OK);
  EXPECT_NEAR(c, 5.27040503, 5e-9);
  EXPECT_EQ(o->BJEPutPrice(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &p), S_OK);
  EXPECT_NEAR(p, 4.36127987, 5e-9);
  EXPECT_EQ(o->BJEDelta(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &c, &p), S_OK);
  EXPECT_NEAR(c, 0.58160133, 5e-9);
  EXPECT_NEAR(p, -0.39129835, 5e-9);
  EXPECT_EQ(o->BJETheta(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &c, &p), S_OK);
  EXPECT_NEAR(c, -2.29173813, 5e-9);
  EXPECT_NEAR(p, -3.59988787, 5e-9);
  EXPECT_EQ(o->BJEGamma(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &one), S_OK);
  EXPECT_NEAR(one, 0.03284075, 5e-9);
  EXPECT_EQ(o->BJEVega(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &one), S_OK);
  EXPECT_NEAR(one, 13.34314697, 5e-9);
  EXPECT_EQ(o->BJERho(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &c, &p), S_OK);
  EXPECT_NEAR(c, 10.76326517, 5e-9);
  EXPECT_NEAR(p, -15.58852211, 5e-9);
  // The 8-decimal targets move the result by less than 1e-9 / vega.
  EXPECT_EQ(o->BJEImpliedVolatility(42, 40, 0.04, 0.75, 0.08, 1, 0, 5.27040503, 0, &one), S_OK);
  EXPECT_NEAR(one, 0.35000034, 5e-8);
  EXPECT_EQ(o->BJEImpliedVolatilityPut(42, 40, 0.04, 0.75, 0.08, 1, 0, 4.36127987, -2, &one), S_OK);
  EXPECT_NEAR(one, 0.35000034, 5e-8);
  EXPECT_EQ(client.done->Count(), 9u);
  for (const DoneEvent& e : client.done->Events()) EXPECT_EQ(e.error_string, kNoError);
}

TEST_F(BjerksundStenslandMethodsTest, StockModelCallIsTheEuropeanCall) {
  Client client;
  double american = 0, european = 0, put = 0;
  EXPECT_EQ(client.object->BJECallPrice(42, 40, 0.04, 0.75, 0.35, 0.08, 0, 0, &american), S_OK);
  EXPECT_NEAR(american, 6.62098951, 5e-9);
  // With b = r the dividend rate has no influence; Black-Scholes with q = 0 has b = r too.
  EXPECT_EQ(client.object->BSCallPrice(42, 40, 0.04, 0.75, 0.35, 0, &european), S_OK);
  EXPECT_EQ(american, european);
  EXPECT_EQ(client.object->BJEPutPrice(42, 40, 0.04, 0.75, 0.35, 0.08, 0, 0, &put), S_OK);
  EXPECT_NEAR(put, 3.49233468, 5e-9);
  // Above the trigger price the call is exercised at once.
  EXPECT_EQ(client.object->BJECallPrice(100, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &american), S_OK);
  EXPECT_EQ(american, 60.0);
  EXPECT_EQ(client.object->BJEPutPrice(100, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &put), S_OK);
  EXPECT_NEAR(put, 0.00904299, 5e-9);
}

TEST_F(BjerksundStenslandMethodsTest, ZeroRateIsPricedAsOneHundredMillionth) {
  Client client;
  double at_zero = 0, at_floor = 0, at_double = 0;
  EXPECT_EQ(client.object->BJEPutPrice(42, 40, 0, 0.75, 0.35, 0.08, 1, 0, &at_zero), S_OK);
  EXPECT_EQ(client.object->BJEPutPrice(42, 40, 1e-8, 0.75, 0.35, 0.08, 1, 0, &at_floor), S_OK);
  EXPECT_EQ(client.object->BJEPutPrice(42, 40, 2e-8, 0.75, 0.35, 0.08, 1, 0, &at_double), S_OK);
  EXPECT_EQ(at_zero, at_floor);
  EXPECT_NE(at_zero, at_double);
}

TEST_F(BjerksundStenslandMethodsTest, ZeroVolatilityPutIsTheSentinelWithoutError) {
  Client client;
  double put = 0;
  EXPECT_EQ(client.object->BJEPutPrice(42, 40, 0.04, 0.75, 0, 0.08, 1, 0, &put), S_OK);
  EXPECT_EQ(put, kSentinel);
  EXPECT_EQ(client.done->Last().error_code, 0);
}

TEST_F(BjerksundStenslandMethodsTest, ImpliedVolatilityLimitsAndUnreachableTargets) {
  struct Row {
    const char* what;
    double target;
    LONG max_iter;
    double expected;
  };
  const Row rows[] = {
      {"MaxIter 1: one evaluation", 5.27040503, 1, 25},
      {"MaxIter 0 is 50", 5.27040503, 0, 0.35000034},
      {"target 0", 0, 0, 0},
      {"target above every price", 1000, 0, 99.99999963},
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    double iv = -1;
    EXPECT_EQ(client.object->BJEImpliedVolatility(42, 40, 0.04, 0.75, 0.08, 1, 0, row.target,
                                                  row.max_iter, &iv),
              S_OK);
    EXPECT_NEAR(iv, row.expected, 5e-8);
    EXPECT_EQ(client.done->Last().error_code, 0);
  }
}

TEST_F(BjerksundStenslandMethodsTest, InvalidModelTypeFailsWithSentinels) {
  Client client;
  double c = 1, p = 1;
  EXPECT_EQ(client.object->BJERho(42, 40, 0.04, 0.75, 0.35, 0.08, 4, 0, &c, &p), E_FAIL);
  EXPECT_EQ(c, kSentinel);
  EXPECT_EQ(p, kSentinel);
  EXPECT_EQ(client.done->Last().error_code, 6010);
  EXPECT_EQ(TakeErrorInfo().description, "Error in BJERho: Invalid input parameter(s).");
}

class BjerksundStenslandSkewTest : public InterfaceTest {
 protected:
  static HRESULT Skew(Client& client, double s, VARIANT* strikes, VARIANT* calls, VARIANT* puts,
                      LONG max_iter, VARIANT* iv_call, VARIANT* iv_put) {
    return client.object->BJEImpliedVolatilitySkew(s, strikes, 0.04, 0.75, 0.08, 1, 0, calls, puts,
                                                   max_iter, iv_call, iv_put);
  }
};

TEST_F(BjerksundStenslandSkewTest, SolvesBothSidesWithArraysStartingAtBase) {
  for (const LONG base : {0, 1}) {
    SCOPED_TRACE(::testing::Message() << "Base " << base);
    Client client;
    ASSERT_EQ(client.object->put_Base(base), S_OK);
    Variant strikes = DoubleVector({40, 40});
    Variant calls = DoubleVector({5.27040503, 5.27040503});
    Variant puts = DoubleVector({4.36127987, 4.36127987});
    Variant iv_call, iv_put;
    EXPECT_EQ(Skew(client, 42, &strikes, &calls, &puts, 0, &iv_call, &iv_put), S_OK);
    for (const Variant* result : {&iv_call, &iv_put}) {
      const ArrayResult read = ReadResult(*result);
      EXPECT_EQ(read.lower, base);
      ASSERT_EQ(read.values.size(), 2u);
      for (double v : read.values) EXPECT_NEAR(v, 0.35000034, 5e-8);
    }
  }
}

TEST_F(BjerksundStenslandSkewTest, InvalidArgumentsAndMissingArrays) {
  Client client;
  Variant strikes = DoubleVector({40});
  Variant calls = DoubleVector({5});
  Variant iv_call;
  EXPECT_EQ(Skew(client, -42, &strikes, &calls, nullptr, 0, &iv_call, nullptr), E_INVALIDARG);
  EXPECT_EQ(client.done->Last().error_code, 6010);
  EXPECT_EQ(TakeErrorInfo().description,
            "Error in BJEImpliedVolatilitySkew: Invalid input parameter(s).");
  EXPECT_EQ(Skew(client, 42, nullptr, &calls, nullptr, 0, &iv_call, nullptr), E_POINTER);
  EXPECT_EQ(client.done->Last().error_code, 3001);
  EXPECT_EQ(iv_call.vt, VT_EMPTY);
}

TEST_F(BjerksundStenslandSkewTest, AbortAfterTheLastPollStillStoresResults) {
  // An abort that arrives once the searches are done no longer stops the skew, yet it is
  // reported.
  Client client;
  MessageAction abort([&] { EXPECT_EQ(client.object->Abort(), S_OK); });
  WorkerHook hook([&](testing::WorkerPhase phase) {
    if (phase != testing::WorkerPhase::kComputed) return;
    abort.Post();
    EXPECT_TRUE(abort.WaitUntilRan());
  });
  Variant strikes = DoubleVector({40});
  Variant calls = DoubleVector({5.27040503});
  Variant puts = DoubleVector({4.36127987});
  Variant iv_call, iv_put;
  EXPECT_EQ(Skew(client, 42, &strikes, &calls, &puts, 0, &iv_call, &iv_put), S_OK);
  EXPECT_NEAR(ReadResult(iv_call).values.at(0), 0.35000034, 5e-8);
  EXPECT_NEAR(ReadResult(iv_put).values.at(0), 0.35000034, 5e-8);
  EXPECT_EQ(client.done->Last().last_method, 1);
  EXPECT_EQ(client.done->Last().error_code, 3100);
}

}  // namespace
}  // namespace kx::component
