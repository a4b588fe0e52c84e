#include "kx/calculator/calculation.h"

#include "kx/calculator/numeric_text.h"

namespace kx::calculator {

using namespace kx::platform;

namespace {

constexpr LONG kModelDividendYield = 1;  // ModelType: cost of carry r - q
constexpr LONG kWanted = 1;              // DoVega, DoRho

// A method call; when `retval` is given the member's value is assigned to it the way a
// Double variable takes it (coerced to a double, or the call counts as failed).
[[nodiscard]] HRESULT Call(OptionsControl& ctl, DISPID member, ArgList& args,
                           double* retval = nullptr) {
  Variant value;
  const HRESULT hr =
      ctl.Invoke(member, DISPATCH_METHOD, args.Reversed(), retval ? &value : nullptr);
  if (FAILED(hr) || retval == nullptr) return hr;
  if (value.vt != VT_R8) {
    const HRESULT coerced = VariantChangeType(&value, &value, 0, VT_R8);
    if (FAILED(coerced)) return coerced;
  }
  *retval = value.dblVal;
  return hr;
}

// Steps 2 to 7 of the run; false sends it to the error step.
[[nodiscard]] bool Compute(const CalcInputs& in, std::chrono::sys_days today, OptionsControl& ctl,
                           CalcResults& out, RunReport& report) {
  auto refused = [&](DISPID member, HRESULT hr) {
    report.outcome = RunOutcome::kRefused;
    report.refused_member = member;
    report.refusal = hr;
    report.reason = ctl.LastError();
    return false;
  };
  auto unreadable = [&](const char* field, const char* why) {
    report.outcome = RunOutcome::kUnreadable;
    report.unreadable_field = field;
    report.unreadable_why = why;
    return false;
  };

  ArgList base;
  if (const HRESULT hr =
          ctl.Invoke(dispid::kBase, DISPATCH_PROPERTYPUT, base.Int(1).Reversed(), nullptr);
      FAILED(hr)) {
    return refused(dispid::kBase, hr);
  }

  // Read in the window's order; any conversion that fails is a run-time error.
  constexpr const char* kTooLarge = "the number is too large";
  const int days = CalendarDays(today, in.expiry);
  const auto s = NumericValue(in.stock_price);
  if (!s) return unreadable("Current security price", kTooLarge);
  const auto x = NumericValue(in.exercise_price);
  if (!x) return unreadable("Exercise price", kTooLarge);
  const auto rate = NumericValue(in.interest_rate);
  if (!rate) return unreadable("Interest rate %", kTooLarge);
  const auto vol = NumericValue(in.volatility);
  if (!vol) return unreadable("Security volatility", kTooLarge);
  const auto q = NumericValue(in.dividend);
  if (!q) return unreadable("Dividend rate", kTooLarge);
  const auto steps_value = NumericValue(in.steps);
  if (!steps_value) return unreadable("steps", kTooLarge);
  const auto steps16 = RoundToInt16(*steps_value);
  if (!steps16) return unreadable("steps", "it must lie from -32768 to 32767");
  const auto call_target_value = NumericValue(in.call_price);
  if (!call_target_value) return unreadable("Call price", kTooLarge);
  const auto put_target_value = NumericValue(in.put_price);
  if (!put_target_value) return unreadable("Put price", kTooLarge);

  // The run's own variables; the control receives references to them.
  ModelInputs& m = report.inputs;
  m = ModelInputs{*s, *x, *rate / 100.0, days / 365.0, *vol / 100.0, *q, days,
                  in.method, *steps16, in.style};
  double call_target = *call_target_value, put_target = *put_target_value;
  double foreign_rate = 0.0;

  // Inputs the run screens itself show zeros; dividend and steps are the control's to judge.
  if (!(m.spot > 0 && m.strike > 0 && m.rate > 0 && m.time > 0 && m.vol > 0)) {
    report.outcome = RunOutcome::kScreened;
    report.expiry_not_after_today = !(m.time > 0);
    const std::pair<double, const char*> screened[] = {{m.spot, "Current security price"},
                                                       {m.strike, "Exercise price"},
                                                       {m.rate, "Interest rate %"},
                                                       {m.vol, "Security volatility"}};
    for (const auto& [value, caption] : screened) {
      if (!(value > 0)) report.not_positive.emplace_back(caption);
    }
    return true;
  }

  DISPID failed = 0;
  if (const HRESULT hr = PriceAndGreeks(ctl, m, out, failed); FAILED(hr)) {
    return refused(failed, hr);
  }

  // Implied volatilities: no volatility argument, dividend before the target, MaxIter omitted.
  const bool binomial = m.method == PricingMethod::kBinomial;
  auto implied = [&](double& target, DISPID member, double& iv) {
    ArgList a;
    a.Ref(m.spot).Ref(m.strike).Ref(m.rate).Ref(m.time).Ref(m.dividend);
    if (binomial) a.Int(kModelDividendYield).Ref(foreign_rate).Int(m.steps).Int(m.style);
    a.Ref(target);
    const HRESULT hr = Call(ctl, member, a, &iv);
    return FAILED(hr) ? refused(member, hr) : true;
  };
  const DISPID call_iv = binomial ? dispid::kBinImpliedVolatility : dispid::kBSImpliedVolatility;
  const DISPID put_iv =
      binomial ? dispid::kBinImpliedVolatilityPut : dispid::kBSImpliedVolatilityPut;
  if (call_target > 0 && !implied(call_target, call_iv, out.call_iv)) return false;
  if (put_target > 0 && !implied(put_target, put_iv, out.put_iv)) return false;
  report.outcome = RunOutcome::kComputed;
  return true;
}

}  // namespace

HRESULT PriceAndGreeks(OptionsControl& ctl, ModelInputs& m, CalcResults& out, DISPID& failed) {
  auto market = [&](ArgList& a) -> ArgList& {
    return a.Ref(m.spot).Ref(m.strike).Ref(m.rate).Ref(m.time).Ref(m.vol).Ref(m.dividend);
  };
  auto call = [&](DISPID member, ArgList& a, double* retval = nullptr) {
    const HRESULT hr = Call(ctl, member, a, retval);
    if (FAILED(hr)) failed = member;
    return hr;
  };
  HRESULT hr = S_OK;
  if (m.method != PricingMethod::kBinomial) {
    ArgList a1, a2, a3, a4, a5, a6, a7;
    if (FAILED(hr = call(dispid::kBSCallPrice, market(a1), &out.call_price))) return hr;
    if (FAILED(hr = call(dispid::kBSPutPrice, market(a2), &out.put_price))) return hr;
    if (FAILED(hr = call(dispid::kBSDelta, market(a3).Ref(out.call_delta).Ref(out.put_delta))))
      return hr;
    if (FAILED(hr = call(dispid::kBSTheta, market(a4).Ref(out.call_theta).Ref(out.put_theta))))
      return hr;
    if (FAILED(hr = call(dispid::kBSGamma, market(a5).Ref(out.gamma)))) return hr;
    if (FAILED(hr = call(dispid::kBSVega, market(a6).Ref(out.vega)))) return hr;
    return call(dispid::kBSRho, market(a7).Ref(out.call_rho).Ref(out.put_rho));
  }
  double foreign_rate = 0.0;
  ArgList a;
  market(a).Int(kModelDividendYield).Ref(foreign_rate).Int(m.steps).Int(m.style);
  a.Ref(out.call_price).Ref(out.put_price).Ref(out.call_delta).Ref(out.put_delta);
  a.Ref(out.call_theta).Ref(out.put_theta).Ref(out.gamma);
  a.Int(kWanted).Ref(out.vega).Int(kWanted).Ref(out.call_rho).Ref(out.put_rho);
  return call(dispid::kBinPriceGreeks, a);
}

std::string MemberName(DISPID member) {
  switch (member) {
    case dispid::kBase: return "Base";
    case dispid::kBlockingMode: return "BlockingMode";
    case dispid::kBSCallPrice: return "BSCallPrice";
    case dispid::kBSPutPrice: return "BSPutPrice";
    case dispid::kBSDelta: return "BSDelta";
    case dispid::kBSTheta: return "BSTheta";
    case dispid::kBSGamma: return "BSGamma";
    case dispid::kBSVega: return "BSVega";
    case dispid::kBSRho: return "BSRho";
    case dispid::kBSImpliedVolatility: return "BSImpliedVolatility";
    case dispid::kBSImpliedVolatilityPut: return "BSImpliedVolatilityPut";
    case dispid::kBinPriceGreeks: return "BinPriceGreeks";
    case dispid::kBinImpliedVolatility: return "BinImpliedVolatility";
    case dispid::kBinImpliedVolatilityPut: return "BinImpliedVolatilityPut";
    case dispid::kAbort: return "Abort";
    default: return "member " + std::to_string(member);
  }
}

std::optional<CalcResults> RunCalculation(const CalcInputs& in, std::chrono::sys_days today,
                                          OptionsControl& ctl) {
  RunReport report;
  return RunCalculation(in, today, ctl, report);
}

std::optional<CalcResults> RunCalculation(const CalcInputs& in, std::chrono::sys_days today,
                                          OptionsControl& ctl, RunReport& report) {
  report = RunReport{};
  CalcResults results;
  if (Compute(in, today, ctl, results, report)) return results;
  ArgList none;
  (void)ctl.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr);
  return std::nullopt;
}

}  // namespace kx::calculator
