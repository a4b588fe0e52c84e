// The charts' curves and the status line, without a window: grid, payoff, which calls each
// point makes, the CSV, and the words for each way a run ends.
#include "kx/calculator/curves.h"

#include <gtest/gtest.h>

#include "fake_options_control.h"
#include "kx/calculator/plot.h"
#include "kx/calculator/status.h"

namespace kx::calculator {
namespace {

using namespace kx::platform;
using namespace std::chrono;
using fakes::FakeOptionsControl;
using fakes::FakeOutput;
using fakes::kRetval;

ModelInputs Reference(PricingMethod method = PricingMethod::kBlackScholes) {
  ModelInputs in;
  in.spot = 100;
  in.strike = 100;
  in.rate = 0.05;
  in.time = 1.0;
  in.vol = 0.2;
  in.dividend = 0.01;
  in.days = 365;
  in.method = method;
  in.steps = 120;
  in.style = 1;
  return in;
}

TEST(ChooseSpotRange, ThreeDeviationsAroundPriceAndStrikeWithinBounds) {
  struct Case {
    double spot, strike, vol, time;
    double low, high;  // reference: min(S, K) e^-w, max(S, K) e^w, w = clamp(3 vol sqrt(T))
  } const cases[] = {
      {100, 100, 0.2, 1.0, 54.881163609402644, 182.21188003905089},   // w = 0.6
      {100, 100, 0.01, 1.0, 90.483741803595957, 110.51709180756477},  // 0.03: widened to 0.1
      {100, 100, 0.2, 0.0, 90.483741803595957, 110.51709180756477},   // no time left
      {100, 100, 2.0, 4.0, 8.2084998623898800, 1218.2493960703473},   // 12: cut to 2.5
      {80, 120, 0.2, 0.25, 59.26545765453743, 161.9830569091204},     // 0.3, both prices
      {120, 80, 0.2, 0.25, 59.26545765453743, 161.9830569091204},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << (&c - cases));
    ModelInputs in = Reference();
    in.spot = c.spot;
    in.strike = c.strike;
    in.vol = c.vol;
    in.time = c.time;
    const SpotRange range = ChooseSpotRange(in);
    EXPECT_NEAR(range.low, c.low, 1e-12 * c.low);
    EXPECT_NEAR(range.high, c.high, 1e-12 * c.high);
    EXPECT_GT(range.low, 0.0);
  }
}

TEST(LinearGrid, HitsBothEndsExactly) {
  const auto grid = LinearGrid(54.881163609402644, 182.21188003905089, 61);
  ASSERT_EQ(grid.size(), 61u);
  EXPECT_EQ(grid.front(), 54.881163609402644);
  EXPECT_EQ(grid.back(), 182.21188003905089);
  for (std::size_t i = 1; i < grid.size(); ++i) EXPECT_GT(grid[i], grid[i - 1]) << i;
  EXPECT_EQ(LinearGrid(1, 2, 3), (std::vector<double>{1, 1.5, 2}));
  EXPECT_TRUE(LinearGrid(1, 2, 1).empty());
  EXPECT_TRUE(LinearGrid(1, 2, 0).empty());
}

TEST(Payoff, IsIntrinsicValueAtExpiry) {
  struct Case {
    double spot, strike, call, put;
  } const cases[] = {{120, 100, 20, 0},
                     {80, 100, 0, 20},
                     {100, 100, 0, 0},
                     {100.25, 100, 0.25, 0},
                     {0.5, 100, 0, 99.5}};
  for (const auto& c : cases) {
    EXPECT_EQ(CallPayoff(c.spot, c.strike), c.call) << c.spot;
    EXPECT_EQ(PutPayoff(c.spot, c.strike), c.put) << c.spot;
  }
}

TEST(CurvePoints, FewerForTheTree) {
  ModelInputs in = Reference();
  EXPECT_EQ(CurvePoints(in), 61);
  in.method = PricingMethod::kBinomial;
  EXPECT_EQ(CurvePoints(in), 41);
  in.steps = 1000;
  EXPECT_EQ(CurvePoints(in), 41);
  in.steps = 1001;
  EXPECT_EQ(CurvePoints(in), 21);
}

// Each point is the run's own sequence of calls, with the point's price or time in place.
TEST(ComputeCurves, BlackScholesPointsAreTheControlsAnswers) {
  FakeOptionsControl fake;
  ChartCurves curves;
  CurveFailure failure;
  const ModelInputs in = Reference();
  ASSERT_TRUE(ComputeCurves(in, fake, curves, failure));
  const std::size_t n = 61;
  ASSERT_EQ(curves.spots.size(), n);
  ASSERT_EQ(fake.calls.size(), 7 * n + 7 * (n - 1));
  const SpotRange range = ChooseSpotRange(in);
  EXPECT_EQ(curves.spots.front(), range.low);
  EXPECT_EQ(curves.spots.back(), range.high);
  const DISPID order[] = {10, 11, 12, 13, 14, 15, 16};
  for (std::size_t p = 0; p < n; ++p) {
    for (std::size_t k = 0; k < 7; ++k) {
      const auto& call = fake.calls[7 * p + k];
      ASSERT_EQ(call.member, order[k]);
      const std::vector<double> expected = {curves.spots[p], 100, 0.05, 1.0, 0.2, 0.01};
      for (std::size_t a = 0; a < 6; ++a) EXPECT_EQ(call.args[a].value, expected[a]) << p;
    }
    EXPECT_EQ(curves.call_value[p], FakeOutput(10, kRetval));
    EXPECT_EQ(curves.put_value[p], FakeOutput(11, kRetval));
    EXPECT_EQ(curves.put_delta[p], FakeOutput(12, 7));
    EXPECT_EQ(curves.call_theta[p], FakeOutput(13, 6));
    EXPECT_EQ(curves.gamma[p], FakeOutput(14, 6));
    EXPECT_EQ(curves.vega[p], FakeOutput(15, 6));
    EXPECT_EQ(curves.put_rho[p], FakeOutput(16, 7));
    EXPECT_EQ(curves.call_payoff[p], CallPayoff(curves.spots[p], 100));
    EXPECT_EQ(curves.put_payoff[p], PutPayoff(curves.spots[p], 100));
  }
  // Against time: the run's time first, at the run's price, down to the payoff at 0 days.
  ASSERT_EQ(curves.years.size(), n);
  EXPECT_EQ(curves.years.front(), 1.0);
  EXPECT_EQ(curves.days.front(), 365.0);
  EXPECT_EQ(curves.years.back(), 0.0);
  EXPECT_EQ(curves.call_by_time.back(), 0.0);  // at the money
  EXPECT_EQ(curves.put_by_time.back(), 0.0);
  for (std::size_t p = 0; p + 1 < n; ++p) {
    const auto& call = fake.calls[7 * n + 7 * p];
    ASSERT_EQ(call.member, dispid::kBSCallPrice);
    EXPECT_EQ(call.args[0].value, 100.0);
    EXPECT_EQ(call.args[3].value, curves.years[p]);
    EXPECT_GT(curves.years[p], curves.years[p + 1]);
    EXPECT_EQ(curves.days[p], curves.years[p] * 365.0);
    EXPECT_EQ(curves.call_by_time[p], FakeOutput(10, kRetval));
  }
}

TEST(ComputeCurves, BinomialPointsPassStyleAndSteps) {
  FakeOptionsControl fake;
  ChartCurves curves;
  CurveFailure failure;
  ASSERT_TRUE(ComputeCurves(Reference(PricingMethod::kBinomial), fake, curves, failure));
  ASSERT_EQ(curves.spots.size(), 41u);
  ASSERT_EQ(fake.calls.size(), 41u + 40u);
  for (const auto& call : fake.calls) {
    ASSERT_EQ(call.member, dispid::kBinPriceGreeks);
    ASSERT_EQ(call.args.size(), 22u);
    EXPECT_EQ(call.args[6].int_value, 1);    // dividend yield
    EXPECT_EQ(call.args[8].int_value, 120);  // steps
    EXPECT_EQ(call.args[9].int_value, 1);    // European
  }
  EXPECT_EQ(curves.call_value[7], FakeOutput(43, 10));
  EXPECT_EQ(curves.vega[7], FakeOutput(43, 18));
  EXPECT_EQ(curves.put_rho[40], FakeOutput(43, 21));
  EXPECT_EQ(curves.put_by_time[3], FakeOutput(43, 11));
}

TEST(ComputeCurves, AFailedCallLeavesTheCurvesAndSaysWhich) {
  for (const DISPID member : {dispid::kBSGamma, dispid::kBSCallPrice}) {
    FakeOptionsControl fake;
    fake.results[member] = E_INVALIDARG;
    fake.last_error = "Argument error: Invalid input parameter(s).";
    ChartCurves curves;
    curves.spots = {42.0};
    CurveFailure failure;
    EXPECT_FALSE(ComputeCurves(Reference(), fake, curves, failure));
    EXPECT_EQ(curves.spots, std::vector<double>{42.0});
    EXPECT_EQ(failure.member, member);
    EXPECT_EQ(failure.hr, E_INVALIDARG);
    EXPECT_EQ(failure.reason, "Argument error: Invalid input parameter(s).");
    EXPECT_EQ(fake.calls.back().member, member);  // stops at the first failure
  }
}

TEST(RoundTicks, RoundStepsAtMostSixIntervals) {
  struct Case {
    double low, high;
    Ticks want;
  } const cases[] = {
      {-1.05, 1.05, {-1.5, 1.5, 7}},  // a delta's padded range: steps of 0.5
      {0, 105, {0, 120, 7}},          // steps of 20
      {55, 182, {50, 200, 7}},        // steps of 25
      {0, 0.0231, {0, 0.025, 6}},     // steps of 0.005
      {3, 3, {3, 4, 2}},              // nothing to span
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << (&c - cases));
    const Ticks got = RoundTicks(c.low, c.high);
    EXPECT_NEAR(got.min, c.want.min, 1e-12);
    EXPECT_NEAR(got.max, c.want.max, 1e-12);
    EXPECT_EQ(got.count, c.want.count);
  }
}

TEST(PlotOf, EachChartNamesItsCurvesAndAxes) {
  ChartCurves c;
  c.inputs = Reference();
  c.spots = {50, 100, 150};
  c.call_value = c.put_value = c.call_payoff = c.put_payoff = {0, 10, 50};
  c.call_delta = c.put_delta = c.gamma = c.call_theta = c.put_theta = c.vega = {0, 0.5, 1};
  c.call_rho = c.put_rho = {0, 0.5, 1};
  c.days = {365, 0};
  c.call_by_time = c.put_by_time = {10, 0};
  struct Case {
    Chart chart;
    Greek greek;
    const char* title;
    const char* y_title;
    std::vector<std::string> names;  // curves, then marker lines
  } const cases[] = {
      {Chart::kValue,
       Greek::kRho,
       "Value against the underlying's price",
       "Value (currency units)",
       {"Call", "Put", "Call at expiry", "Put at expiry", "Exercise price", "Current price"}},
      {Chart::kGreek,
       Greek::kDelta,
       "Delta against the underlying's price",
       "Delta (per 1.00 of price)",
       {"Call delta", "Put delta", "Exercise price", "Current price"}},
      {Chart::kGreek,
       Greek::kVega,
       "Vega against the underlying's price",
       "Vega (per 1.00 of vol.)",
       {"Vega", "Exercise price", "Current price"}},
      {Chart::kTime,
       Greek::kDelta,
       "Value against the days to expiry, at the current price",
       "Value (currency units)",
       {"Call", "Put"}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.title);
    const Plot plot = PlotOf(k.chart, k.greek, &c);
    EXPECT_EQ(plot.title, k.title);
    EXPECT_EQ(plot.y.title, k.y_title);
    std::vector<std::string> names;
    for (const auto& curve : plot.curves) names.push_back(curve.name);
    for (const auto& marker : plot.markers) names.push_back(marker.name);
    EXPECT_EQ(names, k.names);
    EXPECT_EQ(PlotOf(k.chart, k.greek, nullptr).title, k.title);
    EXPECT_TRUE(PlotOf(k.chart, k.greek, nullptr).curves.empty());
  }
  // Days run down to expiry at the right, over the run's own span, in whole days.
  const Plot time = PlotOf(Chart::kTime, Greek::kDelta, &c);
  EXPECT_TRUE(time.x.reverse);
  EXPECT_EQ(time.x.ticks.max, 365);
  EXPECT_EQ(TickLabel(time.x, TickValue(time.x.ticks, 3)), "182");  // 182.5, half to even
  const Plot delta = PlotOf(Chart::kGreek, Greek::kDelta, &c);
  EXPECT_EQ(TickLabel(delta.y, -1e-17), "0");  // no "-1e-17" where the axis crosses zero
}

TEST(CurvesCsv, OneLinePerPointInShortestExactForm) {
  ChartCurves c;
  c.spots = {90, 110.5};
  c.call_value = {0.1, 12.25};
  c.put_value = {9.5, -999};
  c.call_payoff = {0, 10.5};
  c.put_payoff = {10, 0};
  c.call_delta = {0.25, 0.75};
  c.put_delta = {-0.75, -0.25};
  c.gamma = {1e-20, 0.02};
  c.call_theta = {-3, -4};
  c.put_theta = {-1, -2};
  c.vega = {30, 31};
  c.call_rho = {20, 60};
  c.put_rho = {-70, -30};
  c.years = {0.5, 0};
  c.days = {182.5, 0};
  c.call_by_time = {5.125, 0};
  c.put_by_time = {4, 0};
  EXPECT_EQ(CurvesCsv(c),
            "underlying,call_value,put_value,call_payoff,put_payoff,call_delta,put_delta,gamma,"
            "call_theta,put_theta,vega,call_rho,put_rho\n"
            "90,0.1,9.5,0,10,0.25,-0.75,1e-20,-3,-1,30,20,-70\n"
            "110.5,12.25,-999,10.5,0,0.75,-0.25,0.02,-4,-2,31,60,-30\n"
            "\n"
            "days_to_expiry,years_to_expiry,call_value,put_value\n"
            "182.5,0.5,5.125,4\n"
            "0,0,0,0\n");
  // The shortest text that reads back as the same double.
  c.spots[0] = 54.881163609402644;
  EXPECT_NE(CurvesCsv(c).find("\n54.88116360940264,"), std::string::npos);
}

// ---- Status line ----

constexpr sys_days kToday{2024y / 5 / 17};

CalcInputs TypedInputs() {
  CalcInputs in;
  in.stock_price = u"100";
  in.exercise_price = u"100";
  in.interest_rate = u"5";
  in.volatility = u"20";
  in.dividend = u"0";
  in.steps = u"50";
  in.expiry = kToday + days{365};
  return in;
}

TEST(RunReport, SaysHowTheRunEndedAndWithWhichInputs) {
  FakeOptionsControl fake;
  RunReport report;
  CalcInputs in = TypedInputs();
  in.method = PricingMethod::kBinomial;
  in.style = 1;
  ASSERT_TRUE(RunCalculation(in, kToday, fake, report).has_value());
  EXPECT_EQ(report.outcome, RunOutcome::kComputed);
  EXPECT_EQ(report.inputs.spot, 100);
  EXPECT_EQ(report.inputs.rate, 0.05);
  EXPECT_EQ(report.inputs.vol, 0.2);
  EXPECT_EQ(report.inputs.time, 1.0);
  EXPECT_EQ(report.inputs.days, 365);
  EXPECT_EQ(report.inputs.steps, 50);
  EXPECT_EQ(report.inputs.style, 1);
  EXPECT_EQ(report.inputs.method, PricingMethod::kBinomial);

  in = TypedInputs();
  in.interest_rate = u"0";
  in.volatility = u"-20";
  in.expiry = kToday - days{3};
  ASSERT_TRUE(RunCalculation(in, kToday, fake, report).has_value());
  EXPECT_EQ(report.outcome, RunOutcome::kScreened);
  EXPECT_TRUE(report.expiry_not_after_today);
  EXPECT_EQ(report.inputs.days, -3);
  EXPECT_EQ(report.not_positive,
            (std::vector<std::string>{"Interest rate %", "Security volatility"}));

  fake.results[dispid::kBSImpliedVolatilityPut] = E_INVALIDARG;
  fake.last_error = "Argument error: Invalid input parameter(s).";
  in = TypedInputs();
  in.put_price = u"5";
  EXPECT_FALSE(RunCalculation(in, kToday, fake, report).has_value());
  EXPECT_EQ(report.outcome, RunOutcome::kRefused);
  EXPECT_EQ(report.refused_member, dispid::kBSImpliedVolatilityPut);
  EXPECT_EQ(report.refusal, E_INVALIDARG);
  EXPECT_EQ(report.reason, "Argument error: Invalid input parameter(s).");

  in = TypedInputs();
  in.steps = u"40000";
  EXPECT_FALSE(RunCalculation(in, kToday, fake, report).has_value());
  EXPECT_EQ(report.outcome, RunOutcome::kUnreadable);
  EXPECT_EQ(report.unreadable_field, "steps");
  in = TypedInputs();
  in.exercise_price = u"1e400";
  EXPECT_FALSE(RunCalculation(in, kToday, fake, report).has_value());
  EXPECT_EQ(report.unreadable_field, "Exercise price");
}

TEST(StatusText, OneTextPerOutcome) {
  RunReport computed;
  computed.outcome = RunOutcome::kComputed;
  computed.inputs = Reference();
  RunReport binomial = computed;
  binomial.inputs.method = PricingMethod::kBinomial;
  binomial.inputs.days = 1;
  binomial.inputs.time = 1 / 365.0;
  RunReport american = binomial;
  american.inputs.style = 0;
  american.inputs.steps = 50;
  RunReport today;
  today.outcome = RunOutcome::kScreened;
  today.expiry_not_after_today = true;
  today.not_positive = {"Current security price", "Exercise price", "Interest rate %",
                        "Security volatility"};
  RunReport past;
  past.outcome = RunOutcome::kScreened;
  past.expiry_not_after_today = true;
  past.inputs.days = -1;
  RunReport rate;
  rate.outcome = RunOutcome::kScreened;
  rate.not_positive = {"Interest rate %"};
  RunReport refused;
  refused.outcome = RunOutcome::kRefused;
  refused.refused_member = dispid::kBSCallPrice;
  refused.refusal = E_INVALIDARG;
  refused.reason = "Error in BSCallPrice: Invalid input parameter(s).";
  RunReport silent = refused;
  silent.refused_member = dispid::kBinPriceGreeks;
  silent.refusal = E_FAIL;
  silent.reason = "";
  RunReport unreadable;
  unreadable.outcome = RunOutcome::kUnreadable;
  unreadable.unreadable_field = "steps";
  unreadable.unreadable_why = "it must lie from -32768 to 32767";

  const std::pair<const RunReport*, const char*> cases[] = {
      {&computed,
       "Computed with Black-Scholes: 365 days to expiry, 1.0000 years (actual days / 365)."},
      {&binomial,
       "Computed with binomial tree (European, 120 steps): 1 day to expiry, 0.0027 years "
       "(actual days / 365)."},
      {&american,
       "Computed with binomial tree (American, 50 steps): 1 day to expiry, 0.0027 years "
       "(actual days / 365)."},
      {&today,
       "Not computed, every result set to 0: expiry must be after today (it is today); inputs "
       "must be positive (Current security price, Exercise price, Interest rate %, Security "
       "volatility)."},
      {&past, "Not computed, every result set to 0: expiry must be after today (it is 1 day ago)."},
      {&rate, "Not computed, every result set to 0: inputs must be positive (Interest rate %)."},
      {&refused,
       "The component refused the inputs: Error in BSCallPrice: Invalid input parameter(s). "
       "The results shown are the previous ones."},
      {&silent,
       "The component refused BinPriceGreeks (E_FAIL). The results shown are the previous ones."},
      {&unreadable,
       "Could not read steps: it must lie from -32768 to 32767. The results shown are the "
       "previous ones."},
  };
  for (const auto& [report, text] : cases) {
    EXPECT_EQ(StatusText(*report), text) << (&report - &cases[0].first);
  }
  EXPECT_EQ(ChartsNotUpdatedText({dispid::kBSGamma, E_INVALIDARG, "Error in BSGamma: Bad."}),
            "Charts not updated: The component refused the inputs: Error in BSGamma: Bad.");
  EXPECT_EQ(ChartsNotUpdatedText({dispid::kBinPriceGreeks, E_UNEXPECTED, ""}),
            "Charts not updated: The component refused BinPriceGreeks (E_UNEXPECTED).");
}

}  // namespace
}  // namespace kx::calculator
