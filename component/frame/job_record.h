// The process-wide record through which a worker computation receives its inputs and the
// addresses of its outputs. The calling thread fills it before it starts the worker and does not
// touch it again until the worker has ended; the call gate keeps other calls out meanwhile.
#pragma once

#include "kx/models/binomial.h"
#include "kx/platform/hresult.h"
#include "kx/platform/variant.h"
#include "method_arguments.h"

namespace kx::component {

struct JobRecord {
  // Scalar inputs.
  double stock_price = 0.0;
  double exercise_price = 0.0;
  double interest_rate = 0.0;
  double time_to_maturity = 0.0;
  double volatility = 0.0;
  double dividend_rate = 0.0;
  double foreign_rate = 0.0;
  double call_target = 0.0;
  double put_target = 0.0;
  kx::platform::LONG model_type = 0;
  kx::platform::LONG bin_steps = 0;
  kx::platform::LONG flag_eur_am = 0;
  kx::platform::LONG max_iter = 0;
  kx::platform::LONG trading_days = 0;
  kx::platform::LONG option_word = 0;
  kx::platform::LONG base = 0;

  // Selectors derived from the method code.
  int method_code = 0;
  bool vega_wanted = false;
  bool rho_wanted = false;
  bool puts_wanted = false;

  // Outputs and array arguments, as the caller passed them.
  kx::models::TreeGreeksDestinations greeks;
  double* implied_volatility = nullptr;
  SkewArrays skew;
  kx::platform::VARIANT* prices = nullptr;
  kx::platform::VARIANT* volatility_array = nullptr;
  double* volatility_value = nullptr;
};

/// Resets the process-wide record for a new job and returns it (calling thread, inside the gate).
[[nodiscard]] JobRecord& NewJob() noexcept;
/// The record of the running job (worker thread).
[[nodiscard]] const JobRecord& CurrentJob() noexcept;

}  // namespace kx::component
