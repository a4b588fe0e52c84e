#pragma once
// One press of Calculate: the window's inputs in, the twelve results out, every number computed
// by the pricing control.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "kx/calculator/options_control.h"

namespace kx::calculator {

enum class PricingMethod { kBlackScholes = 0, kBinomial = 1 };  // the optMethod index

// What the window holds when Calculate is pressed, as typed.
struct CalcInputs {
  std::u16string stock_price;      // txtStockPrice
  std::u16string exercise_price;   // txtExercisePrice
  std::u16string interest_rate;    // txtInterestRate, in percent
  std::u16string volatility;       // txtVolatility, in percent
  std::u16string dividend;         // txtDividend, a decimal fraction (0.03 is 3 %)
  std::u16string steps;            // txtSteps
  std::u16string call_price;       // txtCallPrice, the call's market price
  std::u16string put_price;        // txtPutPrice, the put's market price
  std::chrono::sys_days expiry{};  // the date of dtExpiryDate; its time of day plays no part
  PricingMethod method = PricingMethod::kBlackScholes;
  LONG style = 0;  // cmbEurAm index: 0 American, 1 European
};

// Every result starts at 0 in every run. Implied volatilities are decimal fractions.
struct CalcResults {
  double call_price = 0, put_price = 0;
  double call_delta = 0, put_delta = 0;
  double call_theta = 0, put_theta = 0;
  double call_rho = 0, put_rho = 0;
  double gamma = 0, vega = 0;
  double call_iv = 0, put_iv = 0;
};

// The run's inputs in the control's units, as it passes them by reference.
struct ModelInputs {
  double spot = 0, strike = 0;
  double rate = 0;      // a fraction: the field's percent / 100
  double time = 0;      // years: calendar days / 365
  double vol = 0;       // a fraction: the field's percent / 100
  double dividend = 0;  // the field as typed: a fraction
  int days = 0;         // calendar days to the expiry
  PricingMethod method = PricingMethod::kBlackScholes;
  LONG steps = 0;
  LONG style = 0;  // 0 American, 1 European
};

// How a run ended, for the status line.
enum class RunOutcome {
  kComputed,    // the control priced the option
  kScreened,    // an input the run screens itself was not positive: every result 0
  kRefused,     // a call of the control failed: the window keeps what it showed
  kUnreadable,  // a field's number could not be converted: the window keeps what it showed
};

struct RunReport {
  RunOutcome outcome = RunOutcome::kUnreadable;
  ModelInputs inputs;  // as converted; meaningful for kComputed and kScreened
  // kScreened: the captions of the screened inputs that were not positive, the expiry apart.
  bool expiry_not_after_today = false;
  std::vector<std::string> not_positive;
  // kRefused: the member that failed, its code and the object's description ("" if none).
  DISPID refused_member = 0;
  HRESULT refusal = 0;
  std::string reason;
  // kUnreadable: the caption of the field and why.
  std::string unreadable_field;
  std::string unreadable_why;
};

// Runs one calculation against `ctl`: Base put to 1, the inputs converted (rate and volatility
// from percent, time = calendar days from `today` to the expiry / 365, steps to 16 bits), then,
// unless S, X, r, T and volatility are all positive (all zeros then), the Black-Scholes calls or
// the one binomial call, and the implied volatilities of the market prices that are positive.
// Any failed call or conversion ends the run with a call of Abort and nullopt: the window then
// keeps what it showed. Doubles go to the control by reference to the run's own variables.
[[nodiscard]] std::optional<CalcResults> RunCalculation(const CalcInputs& in,
                                                        std::chrono::sys_days today,
                                                        OptionsControl& ctl);
// The same run, also saying how it ended and with which converted inputs.
[[nodiscard]] std::optional<CalcResults> RunCalculation(const CalcInputs& in,
                                                        std::chrono::sys_days today,
                                                        OptionsControl& ctl, RunReport& report);

// The prices and Greeks at one point, made by the same calls as a run: the seven Black-Scholes
// members in the run's order or the one BinPriceGreeks, every double by reference to `at`.
// On failure returns the failing HRESULT and sets `failed` to the member.
[[nodiscard]] HRESULT PriceAndGreeks(OptionsControl& ctl, ModelInputs& at, CalcResults& out,
                                     DISPID& failed);

// The member's name as the type library spells it ("BSCallPrice"), or "member <id>".
[[nodiscard]] std::string MemberName(DISPID member);

}  // namespace kx::calculator
