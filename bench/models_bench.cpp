// Speed of the pricing models. Run: <build>/bin/models_bench [--benchmark_filter=Tree]
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "kx/models/binomial.h"
#include "kx/models/bjerksund_stensland.h"
#include "kx/models/black_scholes.h"
#include "kx/models/historical_volatility.h"
#include "kx/models/implied_volatility.h"
#include "kx/models/normal.h"

namespace {

using namespace kx::models;

void BM_CumulativeNormal(benchmark::State& state) {
  double x = -4.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CumulativeNormal(x));
    x = x > 4.0 ? -4.0 : x + 0.001;
  }
}
BENCHMARK(BM_CumulativeNormal);

void BM_GbsPriceAndAllGreeks(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(GbsCall(1, 100, 100, 0.05, 0, 1, 0.02, 0.2));
    benchmark::DoNotOptimize(GbsPut(1, 100, 100, 0.05, 0, 1, 0.02, 0.2));
    benchmark::DoNotOptimize(GbsDelta(1, 100, 100, 0.05, 0, 1, 0.02, 0.2));
    benchmark::DoNotOptimize(GbsTheta(1, 100, 100, 0.05, 0, 1, 0.02, 0.2));
    benchmark::DoNotOptimize(GbsGamma(1, 100, 100, 0.05, 0, 1, 0.02, 0.2));
    benchmark::DoNotOptimize(GbsVega(1, 100, 100, 0.05, 0, 1, 0.02, 0.2));
    benchmark::DoNotOptimize(GbsRho(1, 100, 100, 0.05, 0, 1, 0.02, 0.2));
  }
}
BENCHMARK(BM_GbsPriceAndAllGreeks);

void BM_BisectVolatilityGbsCall(benchmark::State& state) {
  auto call = [](double sigma) { return GbsCall(1, 100, 100, 0.05, 0, 1, 0, sigma); };
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        BisectVolatility(call, 10.4505756193, 0, CompareMode::kAbsolute, AbortPolling::kOff));
  }
}
BENCHMARK(BM_BisectVolatilityGbsCall);

// One pricing of both options; the workspace is allocated once, as a computation does.
void BM_PriceTree(benchmark::State& state) {
  const auto steps = static_cast<std::int32_t>(state.range(0));
  const auto flag = static_cast<std::int32_t>(state.range(1));
  TreeWorkspace workspace(steps);
  for (auto _ : state) {
    benchmark::DoNotOptimize(PriceTree(workspace, 100, 100, 0.05, 1, 0.2, 0.02, 1, 0, steps, flag));
  }
  state.SetLabel(flag == kAmerican ? "American" : "European");
  state.counters["workspace_bytes"] = static_cast<double>(workspace.AllocatedBytes());
  state.counters["full_matrix_bytes"] = 3.0 * (steps + 1.0) * (steps + 1.0) * sizeof(double);
  state.counters["nodes"] = benchmark::Counter(0.5 * steps * (steps + 1.0),
                                               benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PriceTree)
    ->ArgsProduct({{100, 1000, 5000}, {kEuropean, kAmerican}})
    ->Unit(benchmark::kMillisecond);

// A whole BinPriceGreeks computation at the largest tree: allocation plus three pricings.
void BM_TreeGreeksWorker5000(benchmark::State& state) {
  double v[10];
  for (auto _ : state) {
    TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0.02, 1, 0, 5000, kAmerican, true, true,
                     {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]});
    benchmark::DoNotOptimize(v);
  }
  state.counters["peak_model_bytes"] = static_cast<double>(TreeWorkspace::BytesFor(5000));
}
BENCHMARK(BM_TreeGreeksWorker5000)->Unit(benchmark::kMillisecond);

void BM_TreeImpliedVolatility500(benchmark::State& state) {
  const auto side = state.range(0) == 0 ? OptionSide::kCall : OptionSide::kPut;
  double sigma = 0;
  for (auto _ : state) {
    TreeImpliedVolatility(100, 100, 0.05, 1, 0.02, 1, 0, 500, kAmerican, side,
                          side == OptionSide::kCall ? 9.2 : 6.2, &sigma);
    benchmark::DoNotOptimize(sigma);
  }
  state.SetLabel(side == OptionSide::kCall ? "call" : "put");
}
BENCHMARK(BM_TreeImpliedVolatility500)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The American put's implied volatility on the largest tree: the plain search (27 pricings, 16 of
// them on 5000 steps, one after the other) and the shortcut (a few pricings, two at a time), which
// give the same double.
void BM_TreeImpliedVolatility5000(benchmark::State& state) {
  const bool plain = state.range(0) == 0;
  double sigma = 0;
  for (auto _ : state) {
    if (plain) {
      TreeImpliedVolatilityPlain(100, 100, 0.05, 1, 0.02, 1, 0, 5000, kAmerican, OptionSide::kPut,
                                 6.2, &sigma);
    } else {
      TreeImpliedVolatility(100, 100, 0.05, 1, 0.02, 1, 0, 5000, kAmerican, OptionSide::kPut, 6.2,
                            &sigma);
    }
    benchmark::DoNotOptimize(sigma);
  }
  state.SetLabel(plain ? "plain" : "shortcut");
}
BENCHMARK(BM_TreeImpliedVolatility5000)
    ->ArgName("shortcut")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

constexpr double kS = 42, kX = 40, kR = 0.04, kT = 0.75, kQ = 0.08, kSigma = 0.35;

void BM_BjeAmericanCall(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BjeAmericanCall(kS, kX, kR, kT, kQ, 1, 0, kSigma));
}
BENCHMARK(BM_BjeAmericanCall);

void BM_BjeAmericanPut(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BjeAmericanPut(kS, kX, kR, kT, kQ, 1, 0, kSigma));
}
BENCHMARK(BM_BjeAmericanPut);

void BM_BjeAllGreeks(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(BjeDelta(kS, kX, kR, kT, kQ, 1, 0, kSigma));
    benchmark::DoNotOptimize(BjeTheta(kS, kX, kR, kT, kQ, 1, 0, kSigma));
    benchmark::DoNotOptimize(BjeGamma(kS, kX, kR, kT, kQ, 1, 0, kSigma));
    benchmark::DoNotOptimize(BjeVega(kS, kX, kR, kT, kQ, 1, 0, kSigma));
    benchmark::DoNotOptimize(BjeRho(kS, kX, kR, kT, kQ, 1, 0, kSigma));
  }
}
BENCHMARK(BM_BjeAllGreeks);

void BM_BisectVolatilityBjePut(benchmark::State& state) {
  auto put = [](double sigma) { return BjeAmericanPut(kS, kX, kR, kT, kQ, 1, 0, sigma); };
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        BisectVolatility(put, 4.36127987, 0, CompareMode::kSigned, AbortPolling::kOn));
  }
}
BENCHMARK(BM_BisectVolatilityBjePut);

void BM_HistoricalVolatility(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<double> prices(n);
  std::mt19937_64 random(7);
  std::normal_distribution<double> step(0.0, 0.01);
  double price = 100.0;
  for (double& p : prices) {
    price *= std::exp(step(random));
    p = price;
  }
  for (auto _ : state) benchmark::DoNotOptimize(EstimateHistoricalVolatility(prices, 252));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_HistoricalVolatility)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
