// Cost of the method frame. A scalar method called through the IKvQuantorb vtable pays for the
// call gate, the status record, "No Error" and one Done to one connected sink; the bare model
// function beside it is the computation alone. The binomial pair shows the worker thread's start
// and wait on top of one small tree.
// Run: <build>/bin/interface_bench [--benchmark_filter=BS]
#include <benchmark/benchmark.h>

#include <atomic>

#include "ikvquantorb.h"
#include "kv_quantorb.h"
#include "kx/models/binomial.h"
#include "kx/models/black_scholes.h"
#include "kx/platform/comptr.h"

namespace {

using namespace kx::platform;
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
  (void)object->put_BlockingMode(0);  // no message queue to pump in a benchmark
  const auto steps = static_cast<LONG>(state.range(0));
  double price = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        object->BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, 1, &price));
    benchmark::DoNotOptimize(price);
  }
}
BENCHMARK(BM_BinCallPriceThroughVtable)->Arg(10)->Arg(100)->UseRealTime();

}  // namespace
