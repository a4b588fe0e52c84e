#include "binomial_methods.h"

#include "job_record.h"
#include "kx/models/binomial.h"
#include "kx/models/common.h"
#include "kx/models/implied_volatility.h"
#include "method_frame.h"
#include "scalar_outputs.h"
#include "skew_worker.h"

namespace kx::component {

using namespace kx::platform;
using namespace kx::models;

namespace {

constexpr int kFirstCode = static_cast<int>(BinMethodCode::kCallPrice);
constexpr int kLastCode = static_cast<int>(BinMethodCode::kPriceGreeks);

// The eleven destinations in the dispatcher's fixed order.
enum Place : std::size_t {
  kCallPrice,
  kPutPrice,
  kCDelta,
  kPDelta,
  kCTheta,
  kPTheta,
  kGamma,
  kVega,
  kCRho,
  kPRho,
  kImpliedVolatility,
  kPlaceCount,
};

DWORD WINAPI TreeWorker(void*) {
  BeginWorker();
  const JobRecord& job = CurrentJob();
  GuardedStep([&] {
    switch (static_cast<BinMethodCode>(job.method_code)) {
      case BinMethodCode::kImpliedVolatility:
        TreeImpliedVolatility(job.stock_price, job.exercise_price, job.interest_rate,
                              job.time_to_maturity, job.dividend_rate, job.model_type,
                              job.foreign_rate, job.bin_steps, job.flag_eur_am, OptionSide::kCall,
                              job.call_target, job.implied_volatility);
        break;
      case BinMethodCode::kImpliedVolatilityPut:
        TreeImpliedVolatility(job.stock_price, job.exercise_price, job.interest_rate,
                              job.time_to_maturity, job.dividend_rate, job.model_type,
                              job.foreign_rate, job.bin_steps, job.flag_eur_am, OptionSide::kPut,
                              job.put_target, job.implied_volatility);
        break;
      default:
        TreeGreeksWorker(job.stock_price, job.exercise_price, job.interest_rate,
                         job.time_to_maturity, job.volatility, job.dividend_rate, job.model_type,
                         job.foreign_rate, job.bin_steps, job.flag_eur_am, job.vega_wanted,
                         job.rho_wanted, job.greeks);
        break;
    }
  });
  EndComputation();
  return 0;
}

void SearchStrikes(const JobRecord& job, std::span<const double> strikes,
                   std::span<const double> call_targets, std::span<const double> put_targets,
                   std::span<double> call_results, std::span<double> put_results) {
  TreeWorkspace workspace(job.bin_steps);
  TreeSkewSearch(workspace, job.stock_price, strikes, job.interest_rate, job.time_to_maturity,
                 job.dividend_rate, job.model_type, job.foreign_rate, job.bin_steps,
                 job.flag_eur_am, call_targets, put_targets, job.max_iter, call_results,
                 put_results, job.puts_wanted);
}

}  // namespace

HRESULT BinDispatch(ObjectState& object, BinMethodCode code, const char* error_title,
                    const ScalarArguments& args, const BinDestinations& d) noexcept {
  using Outputs = OutputSet<kPlaceCount>;
  return RunScalarFrame<Outputs>(
      object, error_title, ResultRule::kResultCode,
      std::array{d.call_price, d.put_price, d.c_delta, d.p_delta, d.c_theta, d.p_theta, d.gamma,
                 d.vega, d.c_rho, d.p_rho, d.implied_volatility},
      [&](MethodFrame& frame, Outputs& out) {
        // Both validators run; a failure of either writes the sentinel to every destination.
        if (!CheckModelArgs(args.stock_price, args.exercise_price, args.interest_rate,
                            args.time_to_maturity, args.volatility, args.dividend_rate,
                            args.model_type, args.foreign_rate)) {
          RejectArguments(frame, out);
        }
        if (!CheckTreeArgs(frame.settings(), args.bin_steps, args.flag_eur_am)) {
          RejectArguments(frame, out);
        }
        const int method_code = static_cast<int>(code);
        if (!frame.ChecksFailed() && (method_code < kFirstCode || method_code > kLastCode)) {
          RejectArguments(frame, out);
        }
        if (frame.ChecksFailed()) return;
        JobRecord& job = NewJob();
        job.stock_price = args.stock_price;
        job.exercise_price = args.exercise_price;
        job.interest_rate = ClampRateAwayFromZero(args.interest_rate);
        job.time_to_maturity = args.time_to_maturity;
        job.volatility = args.volatility;
        job.dividend_rate = args.dividend_rate;
        job.foreign_rate = args.foreign_rate;
        job.model_type = args.model_type;
        job.bin_steps = args.bin_steps;
        job.flag_eur_am = args.flag_eur_am;
        job.max_iter = EffectiveMaxIter(args.max_iter);
        job.option_word = frame.settings().binomial_option_word;
        job.call_target = args.call_target;
        job.put_target = args.put_target;
        job.method_code = method_code;
        job.vega_wanted = code == BinMethodCode::kVega || code == BinMethodCode::kPriceGreeks;
        job.rho_wanted = code == BinMethodCode::kRho || code == BinMethodCode::kPriceGreeks;
        job.greeks = {.call_price = out.location(kCallPrice),
                      .put_price = out.location(kPutPrice),
                      .c_delta = out.location(kCDelta),
                      .p_delta = out.location(kPDelta),
                      .c_theta = out.location(kCTheta),
                      .p_theta = out.location(kPTheta),
                      .gamma = out.location(kGamma),
                      .vega = out.location(kVega),
                      .c_rho = out.location(kCRho),
                      .p_rho = out.location(kPRho)};
        job.implied_volatility = out.location(kImpliedVolatility);
        frame.RunWorker(&TreeWorker);
      });
}

HRESULT BinSkewDispatch(ObjectState& object, const SkewArguments& args,
                        const SkewArrays& arrays) noexcept {
  return RunMethodFrame(
      object, "Error in BinImpliedVolatilitySkew", ResultRule::kResultCode,
      [&](MethodFrame& frame) {
        // The strikes are an array and the volatility is searched: 1.0 and 0.1 stand in for them.
        if (!CheckModelArgs(args.stock_price, 1.0, args.interest_rate, args.time_to_maturity, 0.1,
                            args.dividend_rate, args.model_type, args.foreign_rate)) {
          frame.FailInvalidArguments();
        }
        if (!CheckTreeArgs(frame.settings(), args.bin_steps, args.flag_eur_am)) {
          frame.FailInvalidArguments();
        }
        CheckSkewArrays(frame, arrays);
        if (frame.ChecksFailed()) return;
        JobRecord& job = NewSkewJob(frame, args, arrays);
        job.interest_rate = ClampRateAwayFromZero(args.interest_rate);
        job.foreign_rate = args.foreign_rate;
        job.model_type = args.model_type;
        job.bin_steps = args.bin_steps;
        job.flag_eur_am = args.flag_eur_am;
        frame.RunWorker(&SkewWorker<&SearchStrikes>);
      });
}

}  // namespace kx::component
