#include "bjerksund_stensland_methods.h"

#include "job_record.h"
#include "kx/models/bjerksund_stensland.h"
#include "kx/models/common.h"
#include "kx/models/implied_volatility.h"
#include "kx/models/skew_search.h"
#include "method_frame.h"
#include "scalar_outputs.h"
#include "skew_worker.h"

namespace kx::component {

using namespace kx::platform;
using namespace kx::models;

namespace {

// Both cores: the results are the same doubles, and an aborted skew hands over no results at all.
constexpr Parallelism kSkewParallelism = Parallelism::kTwoThreads;

// The model inputs other than volatility, with the rate already moved away from zero.
struct Market {
  double s, x, r, t, q;
  std::int32_t model_type;
  double rf;
};

void Compute(BjeMethodCode code, const Market& m, const ScalarArguments& a, std::int32_t max_iter,
             ScalarOutputs& out, MethodFrame& frame) {
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
  RejectArguments(frame, out);
}

void SearchStrikes(const JobRecord& job, std::span<const double> strikes,
                   std::span<const double> call_targets, std::span<const double> put_targets,
                   std::span<double> call_results, std::span<double> put_results) {
  BjeSkewSearch(job.stock_price, strikes, job.interest_rate, job.time_to_maturity,
                job.dividend_rate, job.model_type, job.foreign_rate, call_targets, put_targets,
                job.max_iter, call_results, put_results, job.puts_wanted, kSkewParallelism);
}

}  // namespace

HRESULT BjeDispatch(ObjectState& object, BjeMethodCode code, const char* error_title,
                    const ScalarArguments& args, OutputPlace first, OutputPlace second) noexcept {
  return RunCallerThreadFrame(
      object, error_title, first, second,
      [&] {
        return CheckModelArgs(args.stock_price, args.exercise_price, args.interest_rate,
                              args.time_to_maturity, args.volatility, args.dividend_rate,
                              args.model_type, args.foreign_rate);
      },
      [&](MethodFrame& frame, ScalarOutputs& out) {
        const Market market{
            args.stock_price,      args.exercise_price, ClampRateAwayFromZero(args.interest_rate),
            args.time_to_maturity, args.dividend_rate,  args.model_type,
            args.foreign_rate};
        Compute(code, market, args, EffectiveMaxIter(args.max_iter), out, frame);
      });
}

HRESULT BjeSkewDispatch(ObjectState& object, const SkewArguments& args,
                        const SkewArrays& arrays) noexcept {
  return RunMethodFrame(
      object, "Error in BJEImpliedVolatilitySkew", ResultRule::kResultCode,
      [&](MethodFrame& frame) {
        // Strike and volatility are arrays or searched: 0.1 stands in for them.
        if (!CheckModelArgs(args.stock_price, 0.1, args.interest_rate, args.time_to_maturity, 0.1,
                            args.dividend_rate, args.model_type, args.foreign_rate)) {
          frame.FailInvalidArguments();
        }
        CheckSkewArrays(frame, arrays);
        if (frame.ChecksFailed()) return;
        JobRecord& job = NewSkewJob(frame, args, arrays);
        job.interest_rate = ClampRateAwayFromZero(args.interest_rate);
        job.foreign_rate = args.foreign_rate;
        job.model_type = args.model_type;
        frame.RunWorker(&SkewWorker<&SearchStrikes>);
      });
}

}  // namespace kx::component
