#include "black_scholes_methods.h"

#include "job_record.h"
#include "kx/models/black_scholes.h"
#include "kx/models/black_scholes_search.h"
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

// Every Black-Scholes method prices a stock with a continuous dividend yield, no foreign rate.
constexpr std::int32_t kModel = kModelDividendYield;
constexpr double kNoForeignRate = 0.0;
// Both cores: the results are the same doubles, and an aborted skew hands over no results at all.
constexpr Parallelism kSkewParallelism = Parallelism::kTwoThreads;

void Compute(BsMethodCode code, const ScalarArguments& a, std::int32_t max_iter, ScalarOutputs& out,
             MethodFrame& frame) {
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
      out.first() = GbsBisectVolatility(OptionSide::kCall, kModel, s, k, r, kNoForeignRate, t, q,
                                        a.call_target, max_iter, CompareMode::kAbsolute,
                                        AbortPolling::kOff);
      return;
    case BsMethodCode::kImpliedVolatilityPut:
      out.first() = GbsBisectVolatility(OptionSide::kPut, kModel, s, k, r, kNoForeignRate, t, q,
                                        a.put_target, max_iter, CompareMode::kSigned,
                                        AbortPolling::kOff);
      return;
  }
  RejectArguments(frame, out);
}

void SearchStrikes(const JobRecord& job, std::span<const double> strikes,
                   std::span<const double> call_targets, std::span<const double> put_targets,
                   std::span<double> call_results, std::span<double> put_results) {
  GbsSkewSearch(job.stock_price, strikes, job.interest_rate, job.time_to_maturity,
                job.dividend_rate, call_targets, put_targets, job.max_iter, call_results,
                put_results, job.puts_wanted, kSkewParallelism);
}

}  // namespace

HRESULT BsDispatch(ObjectState& object, BsMethodCode code, const char* error_title,
                   const ScalarArguments& args, OutputPlace first, OutputPlace second) noexcept {
  return RunCallerThreadFrame(
      object, error_title, first, second,
      [&] {
        return CheckOptionArgs(args.stock_price, args.exercise_price, args.interest_rate,
                               args.time_to_maturity, args.volatility, args.dividend_rate);
      },
      [&](MethodFrame& frame, ScalarOutputs& out) {
        Compute(code, args, EffectiveMaxIter(args.max_iter), out, frame);
      });
}

HRESULT BsSkewDispatch(ObjectState& object, const SkewArguments& args,
                       const SkewArrays& arrays) noexcept {
  // The scalar arguments are not validated; the model returns for any of them.
  return RunMethodFrame(object, "Error in BSImpliedVolatilitySkew", ResultRule::kResultCode,
                        [&](MethodFrame& frame) {
                          CheckSkewArrays(frame, arrays);
                          if (frame.ChecksFailed()) return;
                          JobRecord& job = NewSkewJob(frame, args, arrays);
                          job.interest_rate = args.interest_rate;
                          frame.RunWorker(&SkewWorker<&SearchStrikes>);
                        });
}

}  // namespace kx::component
