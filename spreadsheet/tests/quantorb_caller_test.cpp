// The worksheet side of the add-in without the office: the generated member table driven
// through the caller against the registered component.
#include "quantorb_caller.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry_sandbox.h"

namespace kx::spreadsheet {
#include "quantorb_members.inc"

namespace {

using kx::platform::test_support::RegistrySandbox;

const MemberInfo& Member(const char* name) {
  for (const MemberInfo& m : kMembers) {
    if (std::string(m.name) == name) return m;
  }
  ADD_FAILURE() << "no function for " << name;
  return kMembers[0];
}

Input N(double v) { return Input::Number(v); }
Input M() { return Input::Missing(); }
Input Column(std::vector<double> v) { return Input::Range(Matrix{v.size(), 1, v}); }
Input Row(std::vector<double> v) { return Input::Range(Matrix{1, v.size(), v}); }

class CallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string command = std::string(KX_REGSVR_PATH) + " " + KX_MODULE_PATH + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  CallResult Call(const char* name, std::vector<Input> inputs) {
    return caller_.Call(Member(name), inputs);
  }
  RegistrySandbox registry_;
  QuantorbCaller caller_;
};

const std::vector<double> kStrikes = {90, 100, 110};
const std::vector<double> kCalls = {16.7, 10.45, 6.04};  // about 20 % volatility
const std::vector<double> kPuts = {2.31, 5.57, 10.68};

TEST(MemberTable, HoldsEveryPricingMemberAndOnlyThose) {
  EXPECT_EQ(std::size(kMembers), 36u);
  for (const MemberInfo& m : kMembers) {
    const std::string name = m.name;
    EXPECT_NE(name, "Abort");
    EXPECT_NE(name, "About");
    bool has_output = false;
    for (const ParamInfo& p : m.params) {
      has_output |= p.role == ParamRole::kScalarOut || p.role == ParamRole::kArrayOut;
      if (p.role == ParamRole::kScalarIn || p.role == ParamRole::kArrayIn) {
        EXPECT_NE(p.description, nullptr) << name << " " << p.name;
      }
    }
    EXPECT_TRUE(has_output) << name;
  }
}

TEST(MemberTable, ClassifiesInputsAndOutputsByPosition) {
  struct Case {
    const char* member;
    std::vector<std::string> inputs;
  } cases[] = {
      {"BSDelta",
       {"StockPrice", "ExercisePrice", "InterestRate", "TimeToMaturity", "Volatility",
        "DividendRate"}},
      // The [in, out] doubles are results; DoVega and DoRho between them are inputs.
      {"BinPriceGreeks",
       {"StockPrice", "ExercisePrice", "InterestRate", "TimeToMaturity", "Volatility",
        "DividendRate", "ModelType", "ForeignInterestRate", "BinSteps", "FlagEurAm", "DoVega",
        "DoRho"}},
      // [in, out] VARIANTs before MaxIter are inputs, the trailing ones results.
      {"BSImpliedVolatilitySkew",
       {"StockPrice", "ExercisePrice", "InterestRate", "TimeToMaturity", "DividendRate",
        "CallValue", "PutValue", "MaxIter"}},
      {"HistoricalVolatility", {"Prices", "TradingDays"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const ParamInfo* p : WorksheetInputs(Member(c.member))) got.push_back(p->name);
    EXPECT_EQ(got, c.inputs) << c.member;
  }
  for (const ParamInfo* p : WorksheetInputs(Member("BJEImpliedVolatilitySkew"))) {
    const std::string name = p->name;
    const bool optional = name == "ForeignInterestRate" || name == "PutValue" || name == "MaxIter";
    EXPECT_EQ(p->worksheet_optional, optional) << name;
  }
}

TEST_F(CallerTest, ReferenceValues) {
  struct Case {
    const char* member;
    std::vector<Input> inputs;
    double expected;
    double tolerance;
  } cases[] = {
      // Hull's at-the-money call: 10.4506.
      {"BSCallPrice", {N(100), N(100), N(0.05), N(1), N(0.2), N(0)}, 10.4506, 5e-5},
      {"BSPutPrice", {N(100), N(100), N(0.05), N(1), N(0.2), N(0)}, 5.5735, 5e-5},
      // Returns ln 1.1 and -ln 1.1: sqrt(2 (ln 1.1)^2) sqrt(252).
      {"HistoricalVolatility1", {Column({100, 110, 100}), N(252)},
       std::sqrt(2 * std::log(1.1) * std::log(1.1)) * std::sqrt(252.0), 1e-12},
      // The same series as a row is still one series.
      {"HistoricalVolatility1", {Row({100, 110, 100}), N(252)},
       std::sqrt(2 * std::log(1.1) * std::log(1.1)) * std::sqrt(252.0), 1e-12},
      {"HistoricalVolatility1", {Column({100, 110, 121}), N(252)}, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    const CallResult r = Call(c.member, c.inputs);
    ASSERT_TRUE(r.ok) << c.member << ": " << r.error;
    ASSERT_EQ(r.values.rows, 1u);
    ASSERT_EQ(r.values.cols, 1u);
    EXPECT_NEAR(r.values.values[0], c.expected, c.tolerance) << c.member;
  }
}

TEST_F(CallerTest, SeveralOutputsFormOneRowInDeclaredOrder) {
  const std::vector<Input> bs = {N(100), N(95), N(0.05), N(0.5), N(0.25), N(0.02)};
  const CallResult delta = Call("BSDelta", bs);
  ASSERT_TRUE(delta.ok) << delta.error;
  ASSERT_EQ(delta.values.cols, 2u);
  // Call delta minus put delta is exp(-qT).
  EXPECT_NEAR(delta.values.at(0, 0) - delta.values.at(0, 1), std::exp(-0.02 * 0.5), 1e-12);

  const std::vector<Input> tree = {N(42), N(40), N(0.04), N(0.75), N(0.35), N(0.08),
                                   N(1),  M(),   N(150),  N(0)};
  std::vector<Input> greeks_args = tree;
  greeks_args.push_back(N(1));
  greeks_args.push_back(N(1));
  const CallResult greeks = Call("BinPriceGreeks", greeks_args);
  const CallResult call = Call("BinCallPrice", tree);
  const CallResult put = Call("BinPutPrice", tree);
  ASSERT_TRUE(greeks.ok && call.ok && put.ok) << greeks.error << call.error << put.error;
  ASSERT_EQ(greeks.values.rows, 1u);
  ASSERT_EQ(greeks.values.cols, 10u);
  EXPECT_EQ(greeks.values.at(0, 0), call.values.values[0]);
  EXPECT_EQ(greeks.values.at(0, 1), put.values.values[0]);
}

TEST_F(CallerTest, OmittedForeignRateIsZero) {
  std::vector<Input> args = {N(1.5), N(1.4), N(0.04), N(0.5), N(0.1), N(0), N(3)};
  std::vector<Input> omitted = args, zero = args;
  omitted.push_back(M());
  zero.push_back(N(0));
  const CallResult a = Call("BJECallPrice", omitted);
  const CallResult b = Call("BJECallPrice", zero);
  ASSERT_TRUE(a.ok && b.ok) << a.error << b.error;
  EXPECT_EQ(a.values.values[0], b.values.values[0]);
  zero.back() = N(0.06);
  const CallResult c = Call("BJECallPrice", zero);
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_NE(a.values.values[0], c.values.values[0]);
}

TEST_F(CallerTest, SkewsReturnOneRowPerStrike) {
  const CallResult both =
      Call("BSImpliedVolatilitySkew", {N(100), Column(kStrikes), N(0.05), N(1), N(0),
                                       Column(kCalls), Column(kPuts), M()});
  ASSERT_TRUE(both.ok) << both.error;
  ASSERT_EQ(both.values.rows, 3u);
  ASSERT_EQ(both.values.cols, 2u);
  // Strikes given as a row give the same answer.
  const CallResult calls_only =
      Call("BSImpliedVolatilitySkew", {N(100), Row(kStrikes), N(0.05), N(1), N(0),
                                       Row(kCalls), M(), M()});
  ASSERT_TRUE(calls_only.ok) << calls_only.error;
  ASSERT_EQ(calls_only.values.rows, 3u);
  ASSERT_EQ(calls_only.values.cols, 1u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(calls_only.values.at(i, 0), both.values.at(i, 0)) << i;
    EXPECT_NEAR(both.values.at(i, 0), 0.2, 5e-3) << i;
    EXPECT_NEAR(both.values.at(i, 1), 0.2, 5e-3) << i;
  }
  // Each element is the single-strike search.
  for (std::size_t i = 0; i < 3; ++i) {
    const CallResult one = Call("BSImpliedVolatility",
                                {N(100), N(kStrikes[i]), N(0.05), N(1), N(0), N(kCalls[i]), M()});
    ASSERT_TRUE(one.ok) << one.error;
    EXPECT_EQ(one.values.values[0], both.values.at(i, 0)) << i;
  }
  // The binomial skew declares its put result optional: left out, not computed.
  const CallResult tree = Call("BinImpliedVolatilitySkew",
                               {N(100), Column(kStrikes), N(0.05), N(1), N(0), N(1), M(), N(40),
                                N(1), Column(kCalls), M(), M()});
  ASSERT_TRUE(tree.ok) << tree.error;
  EXPECT_EQ(tree.values.rows, 3u);
  EXPECT_EQ(tree.values.cols, 1u);
}

TEST_F(CallerTest, HistoricalVolatilityGivesOneValuePerColumn) {
  const Matrix prices{3, 2, {100, 50, 110, 55, 100, 60}};  // rows are days
  const CallResult r = Call("HistoricalVolatility", {Input::Range(prices), N(252)});
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.values.rows, 1u);
  ASSERT_EQ(r.values.cols, 2u);
  const CallResult first = Call("HistoricalVolatility1", {Column({100, 110, 100}), N(252)});
  const CallResult second = Call("HistoricalVolatility1", {Column({50, 55, 60}), N(252)});
  ASSERT_TRUE(first.ok && second.ok);
  EXPECT_EQ(r.values.at(0, 0), first.values.values[0]);
  EXPECT_EQ(r.values.at(0, 1), second.values.values[0]);
}

TEST_F(CallerTest, RefusalsCarryTheReasonNeverTheSentinel) {
  struct Case {
    const char* member;
    std::vector<Input> inputs;
    const char* reason;
  } cases[] = {
      {"BSCallPrice", {N(0), N(100), N(0.05), N(1), N(0.2), N(0)},
       "BSCALLPRICE: Error in BSCallPrice: Invalid input parameter(s)."},
      {"BSCallPrice", {M(), N(100), N(0.05), N(1), N(0.2), N(0)},
       "BSCALLPRICE: StockPrice is required"},
      {"BSCallPrice", {Column({1, 2}), N(100), N(0.05), N(1), N(0.2), N(0)},
       "BSCALLPRICE: StockPrice takes one number, not a range"},
      {"BSCallPrice", {N(100)}, "BSCALLPRICE: takes 6 arguments, not 1"},
      {"BinCallPrice", {N(42), N(40), N(0.04), N(0.75), N(0.35), N(0.08), N(1), M(), N(5001), N(0)},
       "BINCALLPRICE: Error in BinCallPrice: Invalid input parameter(s)."},
      {"HistoricalVolatility1", {Input::Range(Matrix{3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}}), N(252)},
       "HISTORICALVOLATILITY1: Input array must be 1-D (dim > 1 detected)."},
      {"HistoricalVolatility", {Column({100, 110, 100}), N(0)},
       "HISTORICALVOLATILITY: Invalid number of trading days."},
      {"BSImpliedVolatilitySkew",
       {N(100), M(), N(0.05), N(1), N(0), Column(kCalls), M(), M()},
       "BSIMPLIEDVOLATILITYSKEW: ExercisePrice is required"},
  };
  for (const Case& c : cases) {
    const CallResult r = Call(c.member, c.inputs);
    EXPECT_FALSE(r.ok) << c.member;
    EXPECT_TRUE(r.values.values.empty()) << c.member;
    EXPECT_EQ(r.error.rfind(c.reason, 0), 0u) << r.error;
    EXPECT_EQ(caller_.LastError(), r.error);
  }
  // A later success leaves the latest refusal readable.
  ASSERT_TRUE(Call("BSGamma", {N(100), N(100), N(0.05), N(1), N(0.2), N(0)}).ok);
  EXPECT_EQ(caller_.LastError().rfind("BSIMPLIEDVOLATILITYSKEW", 0), 0u);
}

TEST(CallerUnregistered, SaysTheClassIsNotRegistered) {
  RegistrySandbox empty;
  QuantorbCaller caller;
  const std::vector<Input> args = {N(100), N(100), N(0.05), N(1), N(0.2), N(0)};
  const CallResult r = caller.Call(Member("BSCallPrice"), args);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.rfind("BSCALLPRICE: Korvane.Quantorb is not registered", 0), 0u) << r.error;
}

}  // namespace
}  // namespace kx::spreadsheet
