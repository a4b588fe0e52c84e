#include "bjerksund_stensland_methods.h"

#include "job_record.h"
#include "kx/models/bjerksund_stensland.h"
#include "kx/models/common.h"
#include "kx/models/implied_volatility.h"
#include "method_frame.h"
#include "scalar_outputs.h"
#include "skew_worker.h"

namespace kx::component {

using namespace kx::platform;
using namespace kx::models;

namespace {

// The model inputs other than volatility, with the rate already moved away from zero.
struct Market {
  double s, x, r, t, q;
  std::int32_t model_type;
  double rf;
};

void Compute(BjeMethodCode code, const Market& m, const BjeScalarArguments& a,
             std::int32_t max_iter, ScalarOutputs& out, MethodFrame& frame) {
  const double sigma = a.volatility;
  switch (code) {
    case BjeMethodCode::kCallPrice:
      out.first() = BjeAmericanCall(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, sigma);
      return;
    case BjeMethodCode::kPutPrice:
      out.first() = BjeAmericanPut(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, sigma);
      return;
    case BjeMethodCode::kDelta:
      out.Store(BjeDelta(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, sigma));
      return;
    case BjeMethodCode::kTheta:
      out.Store(BjeTheta(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, sigma));
      return;
    case BjeMethodCode::kGamma:
      out.first() = BjeGamma(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, sigma);
      return;
    case BjeMethodCode::kVega:
      out.first() = BjeVega(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, sigma);
      return;
    case BjeMethodCode::kRho:
      out.Store(BjeRho(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, sigma));
      return;
    case BjeMethodCode::kImpliedVolatility:
      out.first() = BisectVolatility(
          [&](double v) { return BjeAmericanCall(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, v); },
          a.call_target, max_iter, CompareMode::kAbsolute, AbortPolling::kOff);
      return;
    case BjeMethodCode::kImpliedVolatilityPut:
      out.first() = BisectVolatility(
          [&](double v) { return BjeAmericanPut(m.s, m.x, m.r, m.t, m.q, m.model_type, m.rf, v); },
          a.put_target, max_iter, CompareMode::kSigned, AbortPolling::kOff);
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
  const std::int32_t model_type = job.model_type;
  const double rf = job.foreign_rate;
  for (std::size_t i = 0; i < strikes.size(); ++i) {
    const double x = strikes[i];
    call_results[i] = BisectVolatility(
        [&](double v) { return BjeAmericanCall(s, x, r, t, q, model_type, rf, v); },
        call_targets[i], job.max_iter, CompareMode::kSigned, AbortPolling::kOn);
    if (job.puts_wanted) {
      put_results[i] = BisectVolatility(
          [&](double v) { return BjeAmericanPut(s, x, r, t, q, model_type, rf, v); },
          put_targets[i], job.max_iter, CompareMode::kSigned, AbortPolling::kOff);
    }
  }
}

DWORD SkewWorker(void*) {
  RunSkewWorker(&SearchStrikes);
  return 0;
}

}  // namespace

HRESULT BjeDispatch(ObjectState& object, BjeMethodCode code, const char* error_title,
                    const BjeScalarArguments& args, OutputPlace first,
                    OutputPlace second) noexcept {
  try {
    MethodFrame frame(object, error_title);
    if (!frame.Admitted()) return frame.Refuse();
    ScalarOutputs out({first, second});
    if (out.AnyMissing()) {
      frame.Fail(Failure::kMissingOutput);
      return frame.Finish(ResultRule::kFailOnError);
    }
    const std::int32_t max_iter = EffectiveMaxIter(args.max_iter);
    if (!CheckModelArgs(args.stock_price, args.exercise_price, args.interest_rate,
                        args.time_to_maturity, args.volatility, args.dividend_rate, args.model_type,
                        args.foreign_rate)) {
      frame.FailInvalidArguments();
      out.FillNotComputable();
    } else {
      const Market market{
          args.stock_price,      args.exercise_price, ClampRateAwayFromZero(args.interest_rate),
          args.time_to_maturity, args.dividend_rate,  args.model_type,
          args.foreign_rate};
      Compute(code, market, args, max_iter, out, frame);
    }
    return frame.Finish(ResultRule::kFailOnError);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT BjeSkewDispatch(ObjectState& object, const SkewArguments& args,
                        const SkewArrays& arrays) noexcept {
  try {
    MethodFrame frame(object, "Error in BJEImpliedVolatilitySkew");
    if (!frame.Admitted()) return frame.Refuse();
    // Strike and volatility are arrays or searched: 0.1 stands in for them.
    if (!CheckModelArgs(args.stock_price, 0.1, args.interest_rate, args.time_to_maturity, 0.1,
                        args.dividend_rate, args.model_type, args.foreign_rate)) {
      frame.FailInvalidArguments();
    }
    CheckSkewArrays(frame, arrays);
    if (!frame.ChecksFailed()) {
      JobRecord& job = NewJob();
      job.stock_price = args.stock_price;
      job.interest_rate = ClampRateAwayFromZero(args.interest_rate);
      job.time_to_maturity = args.time_to_maturity;
      job.dividend_rate = args.dividend_rate;
      job.foreign_rate = args.foreign_rate;
      job.model_type = args.model_type;
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
