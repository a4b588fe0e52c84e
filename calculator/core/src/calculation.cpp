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
                           CalcResults& out) {
  ArgList base;
  if (FAILED(ctl.Invoke(dispid::kBase, DISPATCH_PROPERTYPUT, base.Int(1).Reversed(), nullptr))) {
    return false;
  }

  // Read in the window's order; any conversion that fails is a run-time error.
  const int days = CalendarDays(today, in.expiry);
  const auto s = NumericValue(in.stock_price);
  const auto x = NumericValue(in.exercise_price);
  const auto rate = NumericValue(in.interest_rate);
  const auto vol = NumericValue(in.volatility);
  const auto q = NumericValue(in.dividend);
  const auto steps_value = NumericValue(in.steps);
  if (!s || !x || !rate || !vol || !q || !steps_value) return false;
  const auto steps16 = RoundToInt16(*steps_value);
  const auto call_target_value = NumericValue(in.call_price);
  const auto put_target_value = NumericValue(in.put_price);
  if (!steps16 || !call_target_value || !put_target_value) return false;

  // The run's own variables; the control receives references to them.
  double stock = *s, strike = *x, r = *rate / 100.0, t = days / 365.0, sigma = *vol / 100.0;
  double dividend = *q, call_target = *call_target_value, put_target = *put_target_value;
  double foreign_rate = 0.0;
  const LONG steps = *steps16;
  const LONG style = in.style;

  // Inputs the run screens itself show zeros; dividend and steps are the control's to judge.
  if (!(stock > 0 && strike > 0 && r > 0 && t > 0 && sigma > 0)) return true;

  const bool binomial = in.method == PricingMethod::kBinomial;
  auto market = [&](ArgList& a) -> ArgList& {
    return a.Ref(stock).Ref(strike).Ref(r).Ref(t).Ref(sigma).Ref(dividend);
  };
  if (!binomial) {
    ArgList a1, a2, a3, a4, a5, a6, a7;
    if (FAILED(Call(ctl, dispid::kBSCallPrice, market(a1), &out.call_price))) return false;
    if (FAILED(Call(ctl, dispid::kBSPutPrice, market(a2), &out.put_price))) return false;
    if (FAILED(Call(ctl, dispid::kBSDelta, market(a3).Ref(out.call_delta).Ref(out.put_delta))))
      return false;
    if (FAILED(Call(ctl, dispid::kBSTheta, market(a4).Ref(out.call_theta).Ref(out.put_theta))))
      return false;
    if (FAILED(Call(ctl, dispid::kBSGamma, market(a5).Ref(out.gamma)))) return false;
    if (FAILED(Call(ctl, dispid::kBSVega, market(a6).Ref(out.vega)))) return false;
    if (FAILED(Call(ctl, dispid::kBSRho, market(a7).Ref(out.call_rho).Ref(out.put_rho))))
      return false;
  } else {
    ArgList a;
    market(a).Int(kModelDividendYield).Ref(foreign_rate).Int(steps).Int(style);
    a.Ref(out.call_price).Ref(out.put_price).Ref(out.call_delta).Ref(out.put_delta);
    a.Ref(out.call_theta).Ref(out.put_theta).Ref(out.gamma);
    a.Int(kWanted).Ref(out.vega).Int(kWanted).Ref(out.call_rho).Ref(out.put_rho);
    if (FAILED(Call(ctl, dispid::kBinPriceGreeks, a))) return false;
  }

  // Implied volatilities: no volatility argument, dividend before the target, MaxIter omitted.
  auto implied = [&](double& target, DISPID bs, DISPID bin, double& iv) {
    ArgList a;
    a.Ref(stock).Ref(strike).Ref(r).Ref(t).Ref(dividend);
    if (binomial) a.Int(kModelDividendYield).Ref(foreign_rate).Int(steps).Int(style);
    a.Ref(target);
    return Call(ctl, binomial ? bin : bs, a, &iv);
  };
  if (call_target > 0 && FAILED(implied(call_target, dispid::kBSImpliedVolatility,
                                        dispid::kBinImpliedVolatility, out.call_iv))) {
    return false;
  }
  if (put_target > 0 && FAILED(implied(put_target, dispid::kBSImpliedVolatilityPut,
                                       dispid::kBinImpliedVolatilityPut, out.put_iv))) {
    return false;
  }
  return true;
}

}  // namespace

std::optional<CalcResults> RunCalculation(const CalcInputs& in, std::chrono::sys_days today,
                                          OptionsControl& ctl) {
  CalcResults results;
  if (Compute(in, today, ctl, results)) return results;
  ArgList none;
  (void)ctl.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr);
  return std::nullopt;
}

}  // namespace kx::calculator
