// The Black-Scholes methods through IKvQuantorb: reference values, validation, implied
// volatilities and the strike skew on its worker thread.
#include <cmath>

#include "interface_test_support.h"
#include "kx/platform/safearray.h"

namespace kx::component {
namespace {

using namespace test_support;
using namespace kx::platform;

class BlackScholesMethodsTest : public InterfaceTest {};

struct BsInputs {
  double s, k, r, t, sigma, q;
};

// Reference rows computed with the A&S 26.2.17 N(x); 10 decimals given.
TEST_F(BlackScholesMethodsTest, PricesMatchReferenceTable) {
  struct Row {
    BsInputs in;
    double call, put;
  };
  const Row rows[] = {
      {{100, 100, 0.05, 1, 0.2, 0}, 10.4505756193, 5.5735180694},
      {{100, 95, 0.08, 0.5, 0.25, 0.03}, 10.9126052312, 3.6764079904},
      {{100, 100, 0.05, 1, 0.2, 0.05}, 7.5770933579, 7.5770933579},  // b = 0
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "K=" << row.in.k << " q=" << row.in.q);
    const BsInputs& in = row.in;
    double call = 0, put = 0;
    EXPECT_EQ(client.object->BSCallPrice(in.s, in.k, in.r, in.t, in.sigma, in.q, &call), S_OK);
    EXPECT_EQ(client.object->BSPutPrice(in.s, in.k, in.r, in.t, in.sigma, in.q, &put), S_OK);
    EXPECT_NEAR(call, row.call, 1e-9);
    EXPECT_NEAR(put, row.put, 1e-9);
  }
  EXPECT_EQ(client.done->Count(), 6u);
}

TEST_F(BlackScholesMethodsTest, GreeksMatchReferenceValues) {
  Client client;
  double c = 0, p = 0, one = 0;
  EXPECT_EQ(client.object->BSDelta(100, 100, 0.05, 1, 0.2, 0, &c, &p), S_OK);
  EXPECT_NEAR(c, 0.6368305905, 1e-9);
  EXPECT_NEAR(p, -0.3631694095, 1e-9);
  EXPECT_EQ(client.object->BSTheta(100, 100, 0.05, 1, 0.2, 0, &c, &p), S_OK);
  EXPECT_NEAR(c, -6.4140276405, 1e-9);
  EXPECT_NEAR(p, -1.6578805180, 1e-9);
  EXPECT_EQ(client.object->BSGamma(100, 100, 0.05, 1, 0.2, 0, &one), S_OK);
  EXPECT_NEAR(one, 0.0187620173, 1e-9);
  EXPECT_EQ(client.object->BSVega(100, 100, 0.05, 1, 0.2, 0, &one), S_OK);
  EXPECT_NEAR(one, 37.5240346917, 1e-9);
  EXPECT_EQ(client.object->BSRho(100, 100, 0.05, 1, 0.2, 0, &c, &p), S_OK);
  EXPECT_NEAR(c, 53.2324834262, 1e-9);
  EXPECT_NEAR(p, -41.8904590239, 1e-9);
  // r = q: b is 0 and both rhos are -T times the prices.
  EXPECT_EQ(client.object->BSRho(100, 100, 0.05, 1, 0.2, 0.05, &c, &p), S_OK);
  EXPECT_NEAR(c, -7.5770933579, 1e-9);
  EXPECT_NEAR(p, -7.5770933579, 1e-9);
  // r = 0 is not clamped by this family (the binomial and Bjerksund-Stensland ones move it to
  // 1e-8); only the rho itself floors it at 1e-12.
  double at_zero = 0, at_floor = 0;
  EXPECT_EQ(client.object->BSCallPrice(100, 100, 0, 1, 0.2, 0, &at_zero), S_OK);
  EXPECT_EQ(client.object->BSCallPrice(100, 100, 1e-8, 1, 0.2, 0, &at_floor), S_OK);
  EXPECT_NE(at_zero, at_floor);
  EXPECT_EQ(client.object->BSRho(100, 100, 0, 1, 0.2, 0, &c, &p), S_OK);
  EXPECT_NEAR(c, 46.0172103793, 1e-8);
  EXPECT_NEAR(p, -53.9827896206, 1e-8);
  for (const DoneEvent& e : client.done->Events()) EXPECT_EQ(e.error_string, kNoError);
}

TEST_F(BlackScholesMethodsTest, ZeroVolatilityPassesWithSentinelGreeks) {
  Client client;
  double c = 0, p = 0, one = 0;
  EXPECT_EQ(client.object->BSDelta(100, 100, 0.05, 1, 0, 0, &c, &p), S_OK);
  EXPECT_EQ(c, kSentinel);
  EXPECT_EQ(p, kSentinel);
  EXPECT_EQ(client.object->BSGamma(100, 100, 0.05, 1, 0, 0, &one), S_OK);
  EXPECT_EQ(one, kSentinel);
  EXPECT_EQ(client.object->BSVega(100, 100, 0.05, 1, 0, 0, &one), S_OK);
  EXPECT_EQ(one, kSentinel);
  EXPECT_EQ(client.done->Last().error_code, 0);
  // In the money forward: the call is its discounted intrinsic value.
  EXPECT_EQ(client.object->BSCallPrice(100, 90, 0.05, 1, 0, 0, &one), S_OK);
  EXPECT_NEAR(one, 100 - 90 * std::exp(-0.05), 1e-9);
}

TEST_F(BlackScholesMethodsTest, InvalidArgumentsGiveSentinelInEveryOutput) {
  Client client;
  double c = 1, p = 1;
  EXPECT_EQ(client.object->BSRho(100, 100, 0.05, -1, 0.2, 0, &c, &p), E_FAIL);
  EXPECT_EQ(c, kSentinel);
  EXPECT_EQ(p, kSentinel);
  EXPECT_EQ(client.done->Last().error_code, 6010);
  EXPECT_EQ(TakeErrorInfo().description, "Error in BSRho: Invalid input parameter(s).");
  double iv = 1;
  EXPECT_EQ(client.object->BSImpliedVolatility(100, 0, 0.05, 1, 0, 10, 0, &iv), E_FAIL);
  EXPECT_EQ(iv, kSentinel);
  EXPECT_EQ(TakeErrorInfo().description,
            "Error in BSImpliedVolatility: Invalid input parameter(s).");
}

TEST_F(BlackScholesMethodsTest, ImpliedVolatilityRecoversSigmaAndAppliesMaxIter) {
  struct Row {
    const char* what;
    double target;
    LONG max_iter;
    bool put;
    double expected;
  };
  const Row rows[] = {
      {"call, default limit", 10.4505756193, 0, false, 0.2000000328},
      {"call, MaxIter 5", 10.4505756193, 5, false, 1.5625},
      {"call, MaxIter -3 is 50", 10.4505756193, -3, false, 0.2000000328},
      {"call, MaxIter 50", 10.4505756193, 50, false, 0.2000000328},
      {"put", 5.5735180694, 0, true, 0.2000000328},
      {"call target 0", 0, 0, false, 0.0},
      {"call target above S", 150, 0, false, 99.99999963},
      {"negative call target", -4, 0, false, 0.0},
      {"negative put target", -4, 0, true, 0.0},
  };
  Client client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    double iv = -1;
    const HRESULT hr = row.put ? client.object->BSImpliedVolatilityPut(
                                     100, 100, 0.05, 1, 0, row.target, row.max_iter, &iv)
                               : client.object->BSImpliedVolatility(100, 100, 0.05, 1, 0,
                                                                    row.target, row.max_iter, &iv);
    EXPECT_EQ(hr, S_OK);
    EXPECT_NEAR(iv, row.expected, 1e-8);
    EXPECT_EQ(client.done->Last().error_code, 0);
  }
}

class BlackScholesSkewTest : public InterfaceTest {
 protected:
  HRESULT Skew(Client& client, VARIANT* strikes, VARIANT* calls, VARIANT* puts, LONG max_iter,
               VARIANT* iv_call, VARIANT* iv_put, double t = 1) {
    return client.object->BSImpliedVolatilitySkew(100, strikes, 0.05, t, 0, calls, puts, max_iter,
                                                  iv_call, iv_put);
  }
};

TEST_F(BlackScholesSkewTest, SolvesEveryStrikeWithArraysStartingAtBase) {
  for (const LONG base : {0, 1}) {
    SCOPED_TRACE(::testing::Message() << "Base " << base);
    Client client;
    ASSERT_EQ(client.object->put_Base(base), S_OK);
    // The lower bounds of skew inputs are not checked.
    Variant strikes = DoubleVector({95, 100, 105}, 7);
    double prices[3], puts[3];
    for (int i = 0; i < 3; ++i) {
      const double k = 95 + 5 * i;
      ASSERT_EQ(client.object->BSCallPrice(100, k, 0.05, 1, 0.3, 0, &prices[i]), S_OK);
      ASSERT_EQ(client.object->BSPutPrice(100, k, 0.05, 1, 0.3, 0, &puts[i]), S_OK);
    }
    Variant calls = DoubleVector({prices[0], prices[1], prices[2]});
    Variant put_values = DoubleVector({puts[0], puts[1], puts[2]});
    Variant iv_call, iv_put;
    const std::size_t before = client.done->Count();
    EXPECT_EQ(Skew(client, &strikes, &calls, &put_values, 0, &iv_call, &iv_put), S_OK);
    EXPECT_EQ(client.done->Count(), before + 1);
    EXPECT_EQ(client.done->Last().error_string, kNoError);
    for (const Variant* result : {&iv_call, &iv_put}) {
      const ArrayResult read = ReadResult(*result);
      ASSERT_TRUE(read.is_double_array);
      EXPECT_EQ(read.lower, base);
      ASSERT_EQ(read.values.size(), 3u);
      for (double v : read.values) EXPECT_NEAR(v, 0.3, 1e-6);
    }
    EXPECT_EQ(strikes.parray->cLocks, 0u);
    EXPECT_EQ(calls.parray->cLocks, 0u);
  }
}

TEST_F(BlackScholesSkewTest, WithoutVolatilityPutOnlyCallsAreFilledAndPutValueIsNotRead) {
  Client client;
  Variant strikes = DoubleVector({100});
  Variant calls = DoubleVector({10.4505756193});
  Variant not_an_array(3.0);  // would fail the lock if it were read
  Variant iv_call;
  EXPECT_EQ(Skew(client, &strikes, &calls, &not_an_array, 0, &iv_call, nullptr), S_OK);
  EXPECT_EQ(client.done->Last().error_code, 0);
  const ArrayResult read = ReadResult(iv_call);
  ASSERT_EQ(read.values.size(), 1u);
  EXPECT_NEAR(read.values[0], 0.2000000328, 1e-8);
  EXPECT_EQ(not_an_array.vt, VT_R8);
}

TEST_F(BlackScholesSkewTest, MissingArraysAreReportedLastFailureStanding) {
  struct Row {
    const char* what;
    bool strikes, calls, iv_call, iv_put, puts;
    SHORT code;
  };
  const Row rows[] = {
      {"no strikes", false, true, true, false, false, 3001},
      {"no call values", true, false, true, false, false, 3002},
      {"no call output", true, true, false, false, false, 3003},
      {"all three missing", false, false, false, false, false, 3003},
      {"put output without put values", true, true, true, true, false, 3004},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Client client;
    Variant strikes = DoubleVector({100});
    Variant calls = DoubleVector({10});
    Variant puts = DoubleVector({5});
    Variant iv_call, iv_put;
    EXPECT_EQ(Skew(client, row.strikes ? &strikes : nullptr, row.calls ? &calls : nullptr,
                   row.puts ? &puts : nullptr, 0, row.iv_call ? &iv_call : nullptr,
                   row.iv_put ? &iv_put : nullptr),
              E_POINTER);
    EXPECT_EQ(client.done->Last().error_code, row.code);
    EXPECT_EQ(iv_call.vt, VT_EMPTY);
    EXPECT_EQ(iv_put.vt, VT_EMPTY);
    EXPECT_TRUE(TakeErrorInfo().present);
  }
}

TEST_F(BlackScholesSkewTest, ValueArraysAreClippedOrPaddedToTheStrikes) {
  Client client;
  Variant strikes = DoubleVector({100, 100});
  // Longer than the strikes: the third value is never read.
  Variant long_calls = DoubleVector({10.4505756193, 10.4505756193, 1e9});
  Variant iv_call;
  EXPECT_EQ(Skew(client, &strikes, &long_calls, nullptr, 0, &iv_call, nullptr), S_OK);
  ArrayResult read = ReadResult(iv_call);
  ASSERT_EQ(read.values.size(), 2u);
  EXPECT_NEAR(read.values[1], 0.2000000328, 1e-8);
  // Shorter: the missing price is 0.0, whose volatility is 0.
  Variant short_calls = DoubleVector({10.4505756193});
  EXPECT_EQ(Skew(client, &strikes, &short_calls, nullptr, 0, &iv_call, nullptr), S_OK);
  read = ReadResult(iv_call);
  ASSERT_EQ(read.values.size(), 2u);
  EXPECT_NEAR(read.values[0], 0.2000000328, 1e-8);
  EXPECT_EQ(read.values[1], 0.0);
}

TEST_F(BlackScholesSkewTest, EmptyStrikeArrayGivesEmptyResults) {
  Client client;
  Variant strikes = DoubleVector({});
  Variant calls = DoubleVector({});
  Variant puts = DoubleVector({});
  Variant iv_call, iv_put;
  EXPECT_EQ(Skew(client, &strikes, &calls, &puts, 0, &iv_call, &iv_put), S_OK);
  EXPECT_TRUE(ReadResult(iv_call).is_double_array);
  EXPECT_TRUE(ReadResult(iv_call).values.empty());
  EXPECT_TRUE(ReadResult(iv_put).values.empty());
}

TEST_F(BlackScholesSkewTest, UndefinedD1StillReturns) {
  // A negative maturity makes sqrt(T) NaN: every price is NaN, which moves the bracket up.
  Client client;
  Variant strikes = DoubleVector({100, 0});
  Variant calls = DoubleVector({10, 10});
  Variant puts = DoubleVector({5, 5});
  Variant iv_call, iv_put;
  EXPECT_EQ(Skew(client, &strikes, &calls, &puts, 0, &iv_call, &iv_put, -1), S_OK);
  EXPECT_EQ(client.done->Last().error_code, 0);
  const ArrayResult read = ReadResult(iv_call);
  ASSERT_EQ(read.values.size(), 2u);
  EXPECT_NEAR(read.values[0], 99.99999963, 1e-8);
}

TEST_F(BlackScholesSkewTest, MaxIterZeroTakesTheDefaultAndNegativeEndsAsFifty) {
  Client client;
  Variant strikes = DoubleVector({100});
  Variant calls = DoubleVector({10.4505756193});
  for (const LONG max_iter : {0, -7, 5}) {
    SCOPED_TRACE(max_iter);
    Variant iv_call;
    EXPECT_EQ(Skew(client, &strikes, &calls, nullptr, max_iter, &iv_call, nullptr), S_OK);
    EXPECT_NEAR(ReadResult(iv_call).values.at(0), max_iter == 5 ? 1.5625 : 0.2000000328, 1e-8);
  }
}

}  // namespace
}  // namespace kx::component
