// Argument bundles that the member wrappers (component/families/) hand to their dispatchers.
#pragma once

#include "kx/platform/hresult.h"
#include "kx/platform/variant.h"

namespace kx::component {

/// One output location of a dispatcher. A place the method does not return is left unbound and
/// the dispatcher writes it to a scratch double; a bound place with a null location is the
/// client's fault and is reported, never written through.
struct OutputPlace {
  double* location = nullptr;
  bool bound = false;
};

/// Binds a method's output to a dispatcher place.
[[nodiscard]] constexpr OutputPlace Bind(double* location) noexcept { return {location, true}; }

/// The scalar arguments of a scalar method; each family reads those it has. The wrapper passes 0
/// for the arguments its method lacks and 0.1 as the volatility of an implied-volatility method.
struct ScalarArguments {
  double stock_price = 0.0;
  double exercise_price = 0.0;
  double interest_rate = 0.0;
  double time_to_maturity = 0.0;
  double volatility = 0.0;
  double dividend_rate = 0.0;
  kx::platform::LONG model_type = 0;  // with foreign_rate: binomial and Bjerksund-Stensland
  double foreign_rate = 0.0;
  kx::platform::LONG bin_steps = 0;  // with flag_eur_am: binomial only
  kx::platform::LONG flag_eur_am = 0;
  double call_target = 0.0;  // with put_target and max_iter: the implied-volatility methods
  double put_target = 0.0;
  kx::platform::LONG max_iter = 0;
};

/// The implied-volatility methods have no volatility argument; 0.1 passes the validator.
inline constexpr double kImpliedSearchVolatility = 0.1;

/// The scalar arguments as the Black-Scholes members take them; the Bjerksund-Stensland and
/// binomial ones add theirs in their own order.
[[nodiscard]] inline ScalarArguments BsArgs(double s, double k, double r, double t, double sigma,
                                            double q) {
  return {.stock_price = s,
          .exercise_price = k,
          .interest_rate = r,
          .time_to_maturity = t,
          .volatility = sigma,
          .dividend_rate = q};
}

[[nodiscard]] inline ScalarArguments BjeArgs(double s, double x, double r, double t, double sigma,
                                             double q, kx::platform::LONG model_type, double rf) {
  ScalarArguments args = BsArgs(s, x, r, t, sigma, q);
  args.model_type = model_type;
  args.foreign_rate = rf;
  return args;
}

[[nodiscard]] inline ScalarArguments BinArgs(double s, double k, double r, double t, double sigma,
                                             double q, kx::platform::LONG model_type, double rf,
                                             kx::platform::LONG bin_steps,
                                             kx::platform::LONG flag_eur_am) {
  ScalarArguments args = BjeArgs(s, k, r, t, sigma, q, model_type, rf);
  args.bin_steps = bin_steps;
  args.flag_eur_am = flag_eur_am;
  return args;
}

/// The array arguments of a skew method, by reference as the client passed them. IVolatilityPut
/// present selects the put side.
struct SkewArrays {
  kx::platform::VARIANT* exercise_price = nullptr;
  kx::platform::VARIANT* call_value = nullptr;
  kx::platform::VARIANT* put_value = nullptr;
  kx::platform::VARIANT* volatility_call = nullptr;
  kx::platform::VARIANT* volatility_put = nullptr;
};

/// The scalar arguments of a skew method; each family reads those it has.
struct SkewArguments {
  double stock_price = 0.0;
  double interest_rate = 0.0;
  double time_to_maturity = 0.0;
  double dividend_rate = 0.0;
  kx::platform::LONG model_type = 0;
  double foreign_rate = 0.0;
  kx::platform::LONG bin_steps = 0;
  kx::platform::LONG flag_eur_am = 0;
  kx::platform::LONG max_iter = 0;
};

}  // namespace kx::component
