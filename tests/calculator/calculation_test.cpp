#include "kx/calculator/calculation.h"

#include <gtest/gtest.h>

#include "fake_options_control.h"

namespace kx::calculator {
namespace {

using namespace kx::platform;
using namespace std::chrono;
using fakes::FakeOptionsControl;
using fakes::FakeOutput;
using fakes::kRetval;
using fakes::RecordedArg;
using fakes::RecordedCall;

constexpr sys_days kToday{2024y / 5 / 17};
constexpr VARTYPE kRefR8 = VT_BYREF | VT_R8;

// S 100, X 100, rate 5 %, volatility 20 %, no dividend, one year (365 days) to expiry.
CalcInputs ReferenceInputs(PricingMethod method = PricingMethod::kBlackScholes) {
  CalcInputs in;
  in.stock_price = u"100";
  in.exercise_price = u"100";
  in.interest_rate = u"5";
  in.volatility = u"20";
  in.dividend = u"0";
  in.steps = u"50";
  in.expiry = kToday + days{365};
  in.method = method;
  return in;
}

std::vector<DISPID> Members(const FakeOptionsControl& fake) {
  std::vector<DISPID> members;
  for (const auto& call : fake.calls) members.push_back(call.member);
  return members;
}

void ExpectRefs(const RecordedCall& call, std::size_t first, std::vector<double> values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "member " << call.member << " argument " << first + i);
    ASSERT_LT(first + i, call.args.size());
    EXPECT_EQ(call.args[first + i].vt, kRefR8);
    EXPECT_DOUBLE_EQ(call.args[first + i].value, values[i]);
  }
}

void ExpectInt(const RecordedCall& call, std::size_t index, LONG value) {
  SCOPED_TRACE(testing::Message() << "member " << call.member << " argument " << index);
  ASSERT_LT(index, call.args.size());
  EXPECT_EQ(call.args[index].vt, VT_I4);
  EXPECT_EQ(call.args[index].int_value, value);
}

TEST(RunCalculation, BlackScholesCallsEachMemberInOrder) {
  FakeOptionsControl fake;
  const auto results = RunCalculation(ReferenceInputs(), kToday, fake);
  ASSERT_TRUE(results.has_value());
  ASSERT_EQ(Members(fake), (std::vector<DISPID>{1, 10, 11, 12, 13, 14, 15, 16}));

  const RecordedCall& base = fake.calls[0];
  EXPECT_EQ(base.flags, DISPATCH_PROPERTYPUT);
  ASSERT_EQ(base.args.size(), 1u);
  ExpectInt(base, 0, 1);

  const std::size_t arg_counts[] = {6, 6, 8, 8, 7, 7, 8};
  for (std::size_t i = 1; i < fake.calls.size(); ++i) {
    const RecordedCall& call = fake.calls[i];
    SCOPED_TRACE(testing::Message() << "member " << call.member);
    EXPECT_EQ(call.flags, DISPATCH_METHOD);
    EXPECT_EQ(call.args.size(), arg_counts[i - 1]);
    EXPECT_EQ(call.wants_result, call.member == 10 || call.member == 11);
    ExpectRefs(call, 0, {100, 100, 0.05, 1.0, 0.2, 0.0});
    // Every call refers to the same variables of the run.
    for (std::size_t a = 0; a < 6; ++a) EXPECT_EQ(call.args[a].ref, fake.calls[1].args[a].ref);
  }

  EXPECT_EQ(results->call_price, FakeOutput(10, kRetval));
  EXPECT_EQ(results->put_price, FakeOutput(11, kRetval));
  EXPECT_EQ(results->call_delta, FakeOutput(12, 6));
  EXPECT_EQ(results->put_delta, FakeOutput(12, 7));
  EXPECT_EQ(results->call_theta, FakeOutput(13, 6));
  EXPECT_EQ(results->put_theta, FakeOutput(13, 7));
  EXPECT_EQ(results->gamma, FakeOutput(14, 6));
  EXPECT_EQ(results->vega, FakeOutput(15, 6));
  EXPECT_EQ(results->call_rho, FakeOutput(16, 6));
  EXPECT_EQ(results->put_rho, FakeOutput(16, 7));
  EXPECT_EQ(results->call_iv, 0);  // no market prices: not requested
  EXPECT_EQ(results->put_iv, 0);
}

TEST(RunCalculation, BinomialMakesOneCallWithIntegersByValue) {
  struct Case {
    std::u16string steps;
    LONG style;
    LONG passed_steps;
  };
  const Case cases[] = {{u"50", 0, 50},
                        {u"2.5", 1, 2},
                        {u"3.5", 0, 4},
                        {u"0", 1, 0},
                        {u"5001", 0, 5001}};  // the control judges the range, not the run
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "steps row " << (&c - cases));
    CalcInputs in = ReferenceInputs(PricingMethod::kBinomial);
    in.steps = c.steps;
    in.style = c.style;
    FakeOptionsControl fake;
    const auto results = RunCalculation(in, kToday, fake);
    ASSERT_TRUE(results.has_value());
    ASSERT_EQ(Members(fake), (std::vector<DISPID>{1, 43}));
    const RecordedCall& call = fake.calls[1];
    ASSERT_EQ(call.args.size(), 22u);
    EXPECT_FALSE(call.wants_result);
    ExpectRefs(call, 0, {100, 100, 0.05, 1.0, 0.2, 0.0});
    ExpectInt(call, 6, 1);       // ModelType: dividend yield
    ExpectRefs(call, 7, {0.0});  // foreign rate
    ExpectInt(call, 8, c.passed_steps);
    ExpectInt(call, 9, c.style);
    ExpectRefs(call, 10, {0, 0, 0, 0, 0, 0, 0});  // outputs start at 0
    ExpectInt(call, 17, 1);                       // DoVega
    ExpectRefs(call, 18, {0});
    ExpectInt(call, 19, 1);  // DoRho
    ExpectRefs(call, 20, {0, 0});

    EXPECT_EQ(results->call_price, FakeOutput(43, 10));
    EXPECT_EQ(results->put_price, FakeOutput(43, 11));
    EXPECT_EQ(results->call_delta, FakeOutput(43, 12));
    EXPECT_EQ(results->put_delta, FakeOutput(43, 13));
    EXPECT_EQ(results->call_theta, FakeOutput(43, 14));
    EXPECT_EQ(results->put_theta, FakeOutput(43, 15));
    EXPECT_EQ(results->gamma, FakeOutput(43, 16));
    EXPECT_EQ(results->vega, FakeOutput(43, 18));
    EXPECT_EQ(results->call_rho, FakeOutput(43, 20));
    EXPECT_EQ(results->put_rho, FakeOutput(43, 21));
  }
}

TEST(RunCalculation, ImpliedVolatilitiesOmitMaxIter) {
  for (auto method : {PricingMethod::kBlackScholes, PricingMethod::kBinomial}) {
    const bool binomial = method == PricingMethod::kBinomial;
    SCOPED_TRACE(binomial ? "binomial" : "Black-Scholes");
    CalcInputs in = ReferenceInputs(method);
    in.call_price = u"10.45";
    in.put_price = u"5.57";
    in.dividend = u"0.03";
    FakeOptionsControl fake;
    const auto results = RunCalculation(in, kToday, fake);
    ASSERT_TRUE(results.has_value());
    const std::vector<DISPID> members = Members(fake);
    ASSERT_GE(members.size(), 2u);
    const DISPID call_iv = binomial ? 49 : 17, put_iv = binomial ? 50 : 18;
    EXPECT_EQ(members[members.size() - 2], call_iv);
    EXPECT_EQ(members.back(), put_iv);
    for (const RecordedCall* call : {&fake.calls[fake.calls.size() - 2], &fake.calls.back()}) {
      SCOPED_TRACE(testing::Message() << "member " << call->member);
      const double target = call->member == call_iv ? 10.45 : 5.57;
      EXPECT_TRUE(call->wants_result);
      ExpectRefs(*call, 0, {100, 100, 0.05, 1.0, 0.03});  // no volatility argument
      if (binomial) {
        ASSERT_EQ(call->args.size(), 10u);
        ExpectInt(*call, 5, 1);
        ExpectRefs(*call, 6, {0.0});
        ExpectInt(*call, 7, 50);
        ExpectInt(*call, 8, 0);
        ExpectRefs(*call, 9, {target});
      } else {
        ASSERT_EQ(call->args.size(), 6u);
        ExpectRefs(*call, 5, {target});
      }
    }
    EXPECT_EQ(results->call_iv, FakeOutput(call_iv, kRetval));
    EXPECT_EQ(results->put_iv, FakeOutput(put_iv, kRetval));
  }
}

TEST(RunCalculation, AsksOnlyForPositiveMarketPrices) {
  struct Case {
    std::u16string call, put;
    std::vector<DISPID> tail;
  };
  const Case cases[] = {{u"", u"3", {16, 18}},
                        {u"4", u"", {16, 17}},
                        {u"-1", u"0", {16}},
                        {u"abc", u"0.01", {16, 18}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << (&c - cases));
    CalcInputs in = ReferenceInputs();
    in.call_price = c.call;
    in.put_price = c.put;
    FakeOptionsControl fake;
    const auto results = RunCalculation(in, kToday, fake);
    ASSERT_TRUE(results.has_value());
    const std::vector<DISPID> members = Members(fake);
    const std::vector<DISPID> tail(members.end() - static_cast<std::ptrdiff_t>(c.tail.size()),
                                   members.end());
    EXPECT_EQ(tail, c.tail);
  }
}

TEST(RunCalculation, ConvertsUnits) {
  struct Case {
    std::u16string rate, vol, dividend;
    int days;
    double r, sigma, q, t;
  };
  const Case cases[] = {
      {u"5", u"20", u"0.03", 730, 0.05, 0.2, 0.03, 2.0},
      {u"2.5", u"35", u"3", 1, 0.025, 0.35, 3.0, 1.0 / 365},  // the dividend is not scaled
      {u" 1 0", u"1e1", u"", 73, 0.1, 0.1, 0.0, 0.2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << (&c - cases));
    CalcInputs in = ReferenceInputs();
    in.interest_rate = c.rate;
    in.volatility = c.vol;
    in.dividend = c.dividend;
    in.expiry = kToday + days{c.days};
    FakeOptionsControl fake;
    ASSERT_TRUE(RunCalculation(in, kToday, fake).has_value());
    ASSERT_GE(fake.calls.size(), 2u);
    ExpectRefs(fake.calls[1], 0, {100, 100, c.r, c.t, c.sigma, c.q});
  }
}

// Inputs the run screens itself: no pricing call, and every result shows 0.
TEST(RunCalculation, NonPositiveInputsGiveZerosWithoutPricing) {
  struct Case {
    const char* what;
    void (*change)(CalcInputs&);
  };
  const Case cases[] = {
      {"expiry today", [](CalcInputs& in) { in.expiry = kToday; }},
      {"expiry past", [](CalcInputs& in) { in.expiry = kToday - days{3}; }},
      {"rate 0", [](CalcInputs& in) { in.interest_rate = u"0"; }},
      {"rate empty", [](CalcInputs& in) { in.interest_rate = u""; }},
      {"stock negative", [](CalcInputs& in) { in.stock_price = u"-5"; }},
      {"strike text", [](CalcInputs& in) { in.exercise_price = u"abc"; }},
      {"volatility empty", [](CalcInputs& in) { in.volatility = u""; }},
  };
  for (auto method : {PricingMethod::kBlackScholes, PricingMethod::kBinomial}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      CalcInputs in = ReferenceInputs(method);
      in.call_price = u"10";
      in.put_price = u"5";
      c.change(in);
      FakeOptionsControl fake;
      const auto results = RunCalculation(in, kToday, fake);
      ASSERT_TRUE(results.has_value());
      EXPECT_EQ(Members(fake), (std::vector<DISPID>{1}));
      for (double v :
           {results->call_price, results->put_price, results->call_delta, results->put_delta,
            results->call_theta, results->put_theta, results->call_rho, results->put_rho,
            results->gamma, results->vega, results->call_iv, results->put_iv}) {
        EXPECT_EQ(v, 0);
      }
    }
  }
}

TEST(RunCalculation, AFailedCallEndsTheRunWithAbort) {
  struct Case {
    PricingMethod method;
    DISPID failing;
    HRESULT hr;
  };
  const Case cases[] = {
      {PricingMethod::kBlackScholes, 1, E_FAIL},
      {PricingMethod::kBlackScholes, 10, E_FAIL},
      {PricingMethod::kBlackScholes, 14, E_FAIL},
      {PricingMethod::kBlackScholes, 16, E_FAIL},
      {PricingMethod::kBlackScholes, 17, E_FAIL},
      {PricingMethod::kBlackScholes, 18, E_FAIL},
      {PricingMethod::kBinomial, 43, E_INVALIDARG},
      {PricingMethod::kBinomial, 49, E_INVALIDARG},
      {PricingMethod::kBinomial, 50, DISP_E_TYPEMISMATCH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "failing member " << c.failing);
    CalcInputs in = ReferenceInputs(c.method);
    in.call_price = u"10";
    in.put_price = u"5";
    FakeOptionsControl fake;
    fake.results[c.failing] = c.hr;
    EXPECT_FALSE(RunCalculation(in, kToday, fake).has_value());
    const std::vector<DISPID> members = Members(fake);
    ASSERT_GE(members.size(), 2u);
    EXPECT_EQ(members[members.size() - 2], c.failing);
    EXPECT_EQ(members.back(), dispid::kAbort);
    EXPECT_TRUE(fake.calls.back().args.empty());
  }
}

TEST(RunCalculation, ASuccessCodeOtherThanOkIsNoFailure) {
  FakeOptionsControl fake;
  fake.results[dispid::kBase] = S_FALSE;  // a property sink refused the change
  EXPECT_TRUE(RunCalculation(ReferenceInputs(), kToday, fake).has_value());
  EXPECT_EQ(fake.calls.back().member, dispid::kBSRho);
}

TEST(RunCalculation, AFailedConversionEndsTheRunWithAbort) {
  struct Case {
    const char* what;
    void (*change)(CalcInputs&);
  };
  const Case cases[] = {
      {"steps 40000", [](CalcInputs& in) { in.steps = u"40000"; }},
      {"steps 32767.5", [](CalcInputs& in) { in.steps = u"32767.5"; }},
      {"steps -32769", [](CalcInputs& in) { in.steps = u"-32769"; }},
      {"stock 1e999", [](CalcInputs& in) { in.stock_price = u"1e999"; }},
      {"put price 1e400", [](CalcInputs& in) { in.put_price = u"1e400"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CalcInputs in = ReferenceInputs();  // Black-Scholes: the steps are converted all the same
    c.change(in);
    FakeOptionsControl fake;
    EXPECT_FALSE(RunCalculation(in, kToday, fake).has_value());
    EXPECT_EQ(Members(fake), (std::vector<DISPID>{dispid::kBase, dispid::kAbort}));
  }
}

TEST(RunCalculation, ReturnedValuesAreTakenAsDoubles) {
  FakeOptionsControl fake;
  fake.retval_type = VT_I4;
  const auto results = RunCalculation(ReferenceInputs(), kToday, fake);
  ASSERT_TRUE(results.has_value());
  EXPECT_EQ(results->call_price, 10.0);

  FakeOptionsControl text;
  text.retval_type = VT_BSTR;  // a text that is no number is a type error
  EXPECT_FALSE(RunCalculation(ReferenceInputs(), kToday, text).has_value());
  EXPECT_EQ(Members(text), (std::vector<DISPID>{1, 10, dispid::kAbort}));
}

}  // namespace
}  // namespace kx::calculator
