#include "black_scholes_methods.h"

#include "job_record.h"
#include "kx/models/black_scholes.h"
#include "kx/models/common.h"
#include "kx/models/implied_volatility.h"
#include "method_frame.h"
#include "scalar_outputs.h"
#include "skew_worker.h"

namespace kx::component {

using namespace kx::platform;
using namespace kx::models;

namespace {

// Every Black-Scholes method prices a stock with a continuous dividend yield, no foreign rate.
constexpr std::int32_t kModel = kModelDividendYield;
constexpr double kNoForeignRate = 0.0;

void Compute(BsMethodCode code, const BsScalarArguments& a, std::int32_t max_iter,
             ScalarOutputs& out, MethodFrame& frame) {
  const double s = a.stock_price;
  const double k = a.exercise_price;
  const double r = a.interest_rate;
  const double t = a.time_to_maturity;
  const double q = a.dividend_rate;
  const double sigma = a.volatility;
  switch (code) {
    case BsMethodCode::kCallPrice:
      out.first() = GbsCall(kModel, s, k, r, kNoForeignRate, t, q, sigma);
      return;
    case BsMethodCode::kPutPrice:
      out.first() = GbsPut(kModel, s, k, r, kNoForeignRate, t, q, sigma);
      return;
    case BsMethodCode::kDelta:
      out.Store(GbsDelta(kModel, s, k, r, kNoForeignRate, t, q, sigma));
      return;
    case BsMethodCode::kTheta:
      out.Store(GbsTheta(kModel, s, k, r, kNoForeignRate, t, q, sigma));
      return;
    case BsMethodCode::kGamma:
      out.first() = GbsGamma(kModel, s, k, r, kNoForeignRate, t, q, sigma);
      return;
    case BsMethodCode::kVega:
      out.first() = GbsVega(kModel, s, k, r, kNoForeignRate, t, q, sigma);
      return;
    case BsMethodCode::kRho:
      out.Store(GbsRho(kModel, s, k, r, kNoForeignRate, t, q, sigma));
      return;
    case BsMethodCode::kImpliedVolatility:
      out.first() = BisectVolatility(
          [&](double v) { return GbsCall(kModel, s, k, r, kNoForeignRate, t, q, v); },
          a.call_target, max_iter, CompareMode::kAbsolute, AbortPolling::kOff);
      return;
    case BsMethodCode::kImpliedVolatilityPut:
      out.first() = BisectVolatility(
          [&](double v) { return GbsPut(kModel, s, k, r, kNoForeignRate, t, q, v); }, a.put_target,
          max_iter, CompareMode::kSigned, AbortPolling::kOff);
      return;
  }
  frame.FailInvalidArguments();
  out.FillNotComputable();
}

void SearchStrikes(const JobRecord& job, std::span<const double> strikes,
                   std::span<const double> call_targets, std::span<const double> put_targets,
                   std::span<double> call_results, std::span<double> put_results) {
  const double s = job.stock_price;
  const double r = job.interest_rate;
  const double t = job.time_to_maturity;
  const double q = job.dividend_rate;
  for (std::size_t i = 0; i < strikes.size(); ++i) {
    const double k = strikes[i];
    call_results[i] = BisectVolatility(
        [&](double v) { return GbsCall(kModel, s, k, r, kNoForeignRate, t, q, v); },
        call_targets[i], job.max_iter, CompareMode::kSigned, AbortPolling::kOn);
    if (job.puts_wanted) {
      put_results[i] = BisectVolatility(
          [&](double v) { return GbsPut(kModel, s, k, r, kNoForeignRate, t, q, v); },
          put_targets[i], job.max_iter, CompareMode::kSigned, AbortPolling::kOff);
    }
  }
}

DWORD SkewWorker(void*) {
  RunSkewWorker(&SearchStrikes);
  return 0;
}

}  // namespace

HRESULT BsDispatch(ObjectState& object, BsMethodCode code, const char* error_title,
                   const BsScalarArguments& args, OutputPlace first, OutputPlace second) noexcept {
  try {
    MethodFrame frame(object, error_title);
    if (!frame.Admitted()) return frame.Refuse();
    ScalarOutputs out({first, second});
    if (out.AnyMissing()) {
      frame.Fail(Failure::kMissingOutput);
      return frame.Finish(ResultRule::kFailOnError);
    }
    const std::int32_t max_iter = EffectiveMaxIter(args.max_iter);
    if (!CheckOptionArgs(args.stock_price, args.exercise_price, args.interest_rate,
                         args.time_to_maturity, args.volatility, args.dividend_rate)) {
      frame.FailInvalidArguments();
      out.FillNotComputable();
    } else {
      Compute(code, args, max_iter, out, frame);
    }
    return frame.Finish(ResultRule::kFailOnError);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT BsSkewDispatch(ObjectState& object, const SkewArguments& args,
                       const SkewArrays& arrays) noexcept {
  try {
    MethodFrame frame(object, "Error in BSImpliedVolatilitySkew");
    if (!frame.Admitted()) return frame.Refuse();
    // The scalar arguments are not validated; the model returns for any of them.
    CheckSkewArrays(frame, arrays);
    if (!frame.ChecksFailed()) {
      JobRecord& job = NewJob();
      job.stock_price = args.stock_price;
      job.interest_rate = args.interest_rate;
      job.time_to_maturity = args.time_to_maturity;
      job.dividend_rate = args.dividend_rate;
      job.max_iter = args.max_iter == 0 ? frame.settings().default_iteration_limit : args.max_iter;
      job.puts_wanted = arrays.volatility_put != nullptr;
      job.skew = arrays;
      if (!job.puts_wanted) job.skew.put_value = nullptr;
      job.base = frame.settings().base.load();
      frame.RunWorker(&SkewWorker);
    }
    return frame.Finish(ResultRule::kResultCode);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kx::component
