// Cost of the method frame. A scalar method called through the IKvQuantorb vtable pays for the
// call gate, the status record, "No Error" and one Done to one connected sink; the bare model
// function beside it is the computation alone. Each worker family (a tree, a skew, a historical
// volatility) is shown beside its model: the difference is the hand-over to the worker thread and
// back, with the plain wait (BlockingMode 0) and the pumped one (1).
// Run: <build>/bin/interface_bench [--benchmark_filter=BS]
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "call_inputs.h"
#include "ikvquantorb.h"
#include "kv_quantorb.h"
#include "kx/models/binomial.h"
#include "kx/models/black_scholes.h"
#include "kx/models/historical_volatility.h"
#include "kx/models/skew_search.h"
#include "kx/platform/safearray.h"
#include "kx/platform/comptr.h"

namespace {

using namespace kx::platform;
using kx::bench::DailyPrices;
using kx::bench::Vector;
using kx::component::DIID__IKvQuantorbEvents;
using kx::component::IKvQuantorb;
using kx::component::KvQuantorb;

// The cheapest sink a client could connect: it only counts.
class CountingSink final : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IKvQuantorbEvents) {
      return ReturnInterface(this, object);
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override { return --references_; }  // lives on the stack of the benchmark
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    ++events;
    return S_OK;
  }
  std::atomic<long> events{0};

 private:
  std::atomic<ULONG> references_{1};
};

struct Connected {
  Connected() {
    if (KvQuantorb::CreateInstance(nullptr, IKvQuantorb::kIid, object.put_void()) != S_OK) {
      throw std::runtime_error("KvQuantorb could not be created");
    }
    (void)static_cast<KvQuantorb*>(object.get())->AdviseEvents(&sink, &cookie);
  }
  ~Connected() { (void)static_cast<KvQuantorb*>(object.get())->UnadviseEvents(cookie); }
  CountingSink sink;
  ComPtr<IKvQuantorb> object;
  DWORD cookie = 0;
};

void BM_GbsCallModel(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(kx::models::GbsCall(1, 100, 100, 0.05, 0, 1, 0, 0.2));
  }
}
BENCHMARK(BM_GbsCallModel);

void BM_BSCallPriceThroughVtable(benchmark::State& state) {
  Connected client;
  IKvQuantorb* object = client.object.get();
  double price = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(object->BSCallPrice(100, 100, 0.05, 1, 0.2, 0, &price));
    benchmark::DoNotOptimize(price);
  }
  state.counters["done_per_call"] =
      static_cast<double>(client.sink.events.load()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BSCallPriceThroughVtable);

void BM_TreeCallModel(benchmark::State& state) {
  const auto steps = static_cast<std::int32_t>(state.range(0));
  double price = 0;
  for (auto _ : state) {
    kx::models::TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, 1, false, false,
                                 {.call_price = &price});
    benchmark::DoNotOptimize(price);
  }
}
BENCHMARK(BM_TreeCallModel)->Arg(10)->Arg(100);

void BM_BinCallPriceThroughVtable(benchmark::State& state) {
  Connected client;
  IKvQuantorb* object = client.object.get();
  (void)object->put_BlockingMode(static_cast<SHORT>(state.range(1)));
  const auto steps = static_cast<LONG>(state.range(0));
  double price = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        object->BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, 1, &price));
    benchmark::DoNotOptimize(price);
  }
}
BENCHMARK(BM_BinCallPriceThroughVtable)
    ->ArgNames({"steps", "blocking"})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Args({100, 0})
    ->Args({100, 1})
    ->UseRealTime();

// Five strikes around the money, their Black-Scholes call prices at 25 % as the targets.
struct SkewInputs {
  std::vector<double> strikes{90, 95, 100, 105, 110};
  std::vector<double> calls;
  SkewInputs() {
    for (double k : strikes) calls.push_back(kx::models::GbsCall(1, 100, k, 0.05, 0, 1, 0, 0.25));
  }
};

void BM_GbsSkewModel(benchmark::State& state) {
  const SkewInputs in;
  std::vector<double> results(in.strikes.size());
  for (auto _ : state) {
    kx::models::GbsSkewSearch(100, in.strikes, 0.05, 1, 0, in.calls, {}, 0, results, {}, false);
    benchmark::DoNotOptimize(results.data());
  }
}
BENCHMARK(BM_GbsSkewModel);

void BM_BSImpliedVolatilitySkewThroughVtable(benchmark::State& state) {
  Connected client;
  IKvQuantorb* object = client.object.get();
  (void)object->put_BlockingMode(static_cast<SHORT>(state.range(0)));
  const SkewInputs in;
  Variant strikes = Vector(in.strikes);
  Variant calls = Vector(in.calls);
  for (auto _ : state) {
    Variant results;  // the call hands over a new array; releasing it is part of the round trip
    benchmark::DoNotOptimize(object->BSImpliedVolatilitySkew(100, &strikes, 0.05, 1, 0, &calls,
                                                             nullptr, 0, &results, nullptr));
  }
}
BENCHMARK(BM_BSImpliedVolatilitySkewThroughVtable)->ArgName("blocking")->Arg(0)->Arg(1)->UseRealTime();

// The same calls late-bound, as an automation client makes them: IDispatch::Invoke by DISPID with
// VARIANT arguments (in reverse order), the price coming back as the result.
HRESULT InvokeWithDoubles(IDispatch* object, DISPID member, std::vector<Variant>& reversed) {
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  Variant result;
  return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                        nullptr, nullptr);
}

void BM_BSCallPriceThroughIDispatch(benchmark::State& state) {
  Connected client;
  ComPtr<IDispatch> object;
  (void)client.object->QueryInterface(IID_IDispatch, object.put_void());
  std::vector<Variant> args;
  for (double v : {0.0, 0.2, 1.0, 0.05, 100.0, 100.0}) args.emplace_back(v);
  if (InvokeWithDoubles(object.get(), kx::component::kDispidBSCallPrice, args) != S_OK) {
    state.SkipWithError("Invoke failed");
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        InvokeWithDoubles(object.get(), kx::component::kDispidBSCallPrice, args));
  }
}
BENCHMARK(BM_BSCallPriceThroughIDispatch);

void BM_BinCallPriceThroughIDispatch(benchmark::State& state) {
  Connected client;
  (void)client.object->put_BlockingMode(static_cast<SHORT>(state.range(1)));
  ComPtr<IDispatch> object;
  (void)client.object->QueryInterface(IID_IDispatch, object.put_void());
  std::vector<Variant> args;
  args.emplace_back(LONG{1});                            // FlagEurAm
  args.emplace_back(static_cast<LONG>(state.range(0)));  // BinSteps
  args.emplace_back(0.0);                                // ForeignInterestRate
  args.emplace_back(LONG{1});                            // ModelType
  for (double v : {0.0, 0.2, 1.0, 0.05, 100.0, 100.0}) args.emplace_back(v);
  const HRESULT hr = InvokeWithDoubles(object.get(), kx::component::kDispidBinCallPrice, args);
  if (hr != S_OK) state.SkipWithError(("Invoke failed " + std::to_string(hr)).c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        InvokeWithDoubles(object.get(), kx::component::kDispidBinCallPrice, args));
  }
}
BENCHMARK(BM_BinCallPriceThroughIDispatch)
    ->ArgNames({"steps", "blocking"})
    ->Args({10, 0})
    ->Args({10, 1})
    ->UseRealTime();

void BM_HistoricalVolatilityModel(benchmark::State& state) {
  const std::vector<double> prices = DailyPrices();
  for (auto _ : state) {
    benchmark::DoNotOptimize(kx::models::EstimateHistoricalVolatility(prices, 250));
  }
}
BENCHMARK(BM_HistoricalVolatilityModel);

void BM_HistoricalVolatility1ThroughVtable(benchmark::State& state) {
  Connected client;
  IKvQuantorb* object = client.object.get();
  (void)object->put_BlockingMode(static_cast<SHORT>(state.range(0)));
  Variant prices = Vector(DailyPrices());
  double volatility = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(object->HistoricalVolatility1(&prices, 250, &volatility));
    benchmark::DoNotOptimize(volatility);
  }
}
BENCHMARK(BM_HistoricalVolatility1ThroughVtable)->ArgName("blocking")->Arg(0)->Arg(1)->UseRealTime();

}  // namespace
