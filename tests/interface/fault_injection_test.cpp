// Faults injected into whole method calls through the vtable: the k-th allocation of a call failing
// for every k, and Abort at random moments of every worker family. Each call must end with one
// Done whose code matches the status record and the result, outputs as documented, nothing leaked,
// and the object working normally afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "counting_allocator.h"
#include "error_table.h"
#include "interface_test_support.h"
#include "kx/models/binomial.h"
#include "kx/platform/bstr.h"
#include "kx/platform/messages.h"
#include "kx/platform/safearray.h"
#include "kx/platform/threads.h"
#include "method_frame.h"
#include "process_threads.h"

namespace kx::component::test_support {
namespace {

using namespace kx::platform;

// Records every Done; its own allocations are neither counted nor failed.
class Sink final : public IDispatch {
 public:
  [[nodiscard]] std::vector<DoneEvent> Take() {
    const UncountedScope uncounted;
    std::vector<DoneEvent> taken;
    taken.swap(events_);
    return taken;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IKvQuantorbEvents) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // owned by the test
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    const UncountedScope uncounted;
    if (member != kDispidDone || !params || params->cArgs != 3) return DISP_E_MEMBERNOTFOUND;
    const BSTR text = params->rgvarg[0].bstrVal;
    events_.push_back({params->rgvarg[2].iVal, params->rgvarg[1].iVal,
                       text ? std::u16string(text, SysStringLen(text)) : std::u16string()});
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
  std::vector<DoneEvent> events_;
};

// One method call: inputs made and outputs read outside the count, only the call itself counted.
// `outputs` receives every output value (for an array output its type and its elements).
struct Method {
  const char* name;
  bool worker;  // the worker-family result rule; otherwise E_FAIL on error
  // A call's outputs when the call changed none of them.
  std::vector<double> untouched;
  std::function<HRESULT(IKvQuantorb*, std::vector<double>*)> call;
};

constexpr double kUntouched = 123.0;

void AppendResult(const VARIANT& v, std::vector<double>* out) {
  out->push_back(static_cast<double>(v.vt));
  if (v.vt == (VT_ARRAY | VT_R8)) {
    const ArrayResult read = ReadResult(v);
    out->push_back(read.lower);
    out->insert(out->end(), read.values.begin(), read.values.end());
  } else if (v.vt == VT_R8) {
    out->push_back(v.dblVal);
  }
}

HRESULT Greeks(IKvQuantorb* o, std::vector<double>* out, LONG steps) {
  double v[10];
  std::fill(std::begin(v), std::end(v), kUntouched);
  const HRESULT hr =
      o->BinPriceGreeks(100, 95, 0.05, 1, 0.25, 0.01, 1, 0, steps, 0, &v[0], &v[1], &v[2], &v[3],
                        &v[4], &v[5], &v[6], 1, &v[7], 1, &v[8], &v[9]);
  const UncountedScope uncounted;
  out->assign(std::begin(v), std::end(v));
  return hr;
}

// The three skews over the same two strikes, calls and puts.
enum class SkewFamily { kBlackScholes, kBinomial, kBjerksundStensland };

HRESULT Skew(IKvQuantorb* o, std::vector<double>* out, SkewFamily family, LONG steps) {
  Variant strikes, calls, puts, iv_call(kUntouched), iv_put(kUntouched);
  {
    const UncountedScope uncounted;
    strikes = DoubleVector({90, 105});
    calls = DoubleVector({14.5, 5.2});
    puts = DoubleVector({1.9, 8.3});
  }
  HRESULT hr = E_FAIL;
  switch (family) {
    case SkewFamily::kBlackScholes:
      hr = o->BSImpliedVolatilitySkew(100, &strikes, 0.05, 1, 0.01, &calls, &puts, 0, &iv_call,
                                      &iv_put);
      break;
    case SkewFamily::kBinomial:
      hr = o->BinImpliedVolatilitySkew(100, &strikes, 0.05, 1, 0.01, 1, 0, steps, 0, &calls, &puts,
                                       0, &iv_call, &iv_put);
      break;
    case SkewFamily::kBjerksundStensland:
      hr = o->BJEImpliedVolatilitySkew(100, &strikes, 0.05, 1, 0.01, 1, 0, &calls, &puts, 0,
                                       &iv_call, &iv_put);
      break;
  }
  const UncountedScope uncounted;
  out->clear();
  AppendResult(iv_call, out);
  AppendResult(iv_put, out);
  (void)VariantClear(&strikes);
  (void)VariantClear(&calls);
  (void)VariantClear(&puts);
  (void)VariantClear(&iv_call);
  (void)VariantClear(&iv_put);
  return hr;
}

HRESULT Historical(IKvQuantorb* o, std::vector<double>* out, int prices) {
  Variant series, result(kUntouched);
  {
    const UncountedScope uncounted;
    std::vector<double> storage;
    for (int i = 0; i < 2 * prices; ++i) storage.push_back(100 + (i * 37 % 11) - 0.3 * (i % 5));
    series = DoubleMatrix(static_cast<ULONG>(prices), 2, storage);
  }
  const HRESULT hr = o->HistoricalVolatility(&series, 252, &result);
  const UncountedScope uncounted;
  out->clear();
  AppendResult(result, out);
  (void)VariantClear(&series);
  (void)VariantClear(&result);
  return hr;
}

HRESULT Historical1(IKvQuantorb* o, std::vector<double>* out, int prices) {
  Variant series;
  double volatility = kUntouched;
  {
    const UncountedScope uncounted;
    std::vector<double> values;
    for (int i = 0; i < prices; ++i) values.push_back(50 + (i * 13 % 7) + 0.1 * i);
    series = DoubleVector(values);
  }
  const HRESULT hr = o->HistoricalVolatility1(&series, 250, &volatility);
  const UncountedScope uncounted;
  out->assign(1, volatility);
  (void)VariantClear(&series);
  return hr;
}

// Small inputs for the allocation sweep: every computation stays on one thread, so the order of
// the allocations, and so the k-th, is the same on every run.
std::vector<Method> SmallMethods() {
  const std::vector<double> untouched_pair(2, kUntouched);
  const std::vector<double> untouched_skew{VT_R8, kUntouched, VT_R8, kUntouched};
  return {
      {"BSDelta", false, untouched_pair,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double c = kUntouched, p = kUntouched;
         const HRESULT hr = o->BSDelta(100, 95, 0.05, 1, 0.25, 0.01, &c, &p);
         const UncountedScope uncounted;
         *out = {c, p};
         return hr;
       }},
      {"BJEDelta", false, untouched_pair,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double c = kUntouched, p = kUntouched;
         const HRESULT hr = o->BJEDelta(100, 95, 0.05, 1, 0.25, 0.01, 1, 0, &c, &p);
         const UncountedScope uncounted;
         *out = {c, p};
         return hr;
       }},
      {"BinPriceGreeks", true, std::vector<double>(10, kUntouched),
       [](IKvQuantorb* o, std::vector<double>* out) { return Greeks(o, out, 24); }},
      {"BinImpliedVolatility",
       true,
       {kUntouched},
       [](IKvQuantorb* o, std::vector<double>* out) {
         double v = kUntouched;
         const HRESULT hr =
             o->BinImpliedVolatility(100, 95, 0.05, 1, 0.01, 1, 0, 30, 0, 12.5, 0, &v);
         const UncountedScope uncounted;
         *out = {v};
         return hr;
       }},
      {"BSImpliedVolatilitySkew", true, untouched_skew,
       [](IKvQuantorb* o, std::vector<double>* out) {
         return Skew(o, out, SkewFamily::kBlackScholes, 0);
       }},
      {"BinImpliedVolatilitySkew", true, untouched_skew,
       [](IKvQuantorb* o, std::vector<double>* out) {
         return Skew(o, out, SkewFamily::kBinomial, 12);
       }},
      {"BJEImpliedVolatilitySkew", true, untouched_skew,
       [](IKvQuantorb* o, std::vector<double>* out) {
         return Skew(o, out, SkewFamily::kBjerksundStensland, 0);
       }},
      {"HistoricalVolatility",
       true,
       {VT_R8, kUntouched},
       [](IKvQuantorb* o, std::vector<double>* out) { return Historical(o, out, 6); }},
      {"HistoricalVolatility1",
       true,
       {kUntouched},
       [](IKvQuantorb* o, std::vector<double>* out) { return Historical1(o, out, 6); }},
  };
}

// An object with a connected Sink, and the state that must come back after every call.
class Harness {
 public:
  Harness() {
    (void)kx::testing::IdleProcessThreads();  // taken before any call starts a worker
    EXPECT_EQ(KvQuantorb::CreateInstance(nullptr, IID_IKvQuantorb, object_.put_void()), S_OK);
    EXPECT_EQ(static_cast<KvQuantorb*>(object_.get())->AdviseEvents(&sink_, &cookie_), S_OK);
  }
  ~Harness() { (void)static_cast<KvQuantorb*>(object_.get())->UnadviseEvents(cookie_); }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  [[nodiscard]] IKvQuantorb* object() const { return object_.get(); }
  [[nodiscard]] Sink& sink() { return sink_; }

  // Blocks held once everything a call may leave behind legitimately (the status record's
  // description, the thread's error information, the recorded events) is back to a fixed state.
  [[nodiscard]] long SettledBlocks() {
    // A worker's handle is signalled before its thread-local memory is released.
    EXPECT_TRUE(kx::testing::ProcessThreadsBackToIdle()) << "a thread was left";
    { SCOPED_TRACE("the trace stack's own memory"); }
    // This thread's message queue is made by the first pumped wait that has to wait at all,
    // which depends on timing: made here, it is there at every count.
    (void)HasQueuedMessages();
    double price = 0;
    EXPECT_EQ(object_->BSCallPrice(0, 100, 0.05, 1, 0.2, 0, &price), E_FAIL);  // records 6010
    (void)TakeErrorInfo();
    (void)sink_.Take();
    // Tree buffers kept for the next call are no leak, but whether a call left some depends on
    // where it failed.
    kx::models::TreeWorkspace::ReleaseKept();
    return LiveBlocks();
  }

 private:
  Sink sink_;
  ComPtr<IKvQuantorb> object_;
  DWORD cookie_ = 0;
};

std::u16string TableText(std::int32_t code) {
  switch (code) {
    case 0:
      return u"No Error";
    case 3100:
      return std::u16string(TextOf(Failure::kAborted).error_string);
    case 6003:
      return std::u16string(TextOf(Failure::kOutOfMemory).error_string);
    case 6005:
      return std::u16string(TextOf(Failure::kWorkerNotStarted).error_string);
    default:
      return u"?";
  }
}

std::string Describe(const std::vector<double>& values) { return ::testing::PrintToString(values); }

// Tallies of the outcomes of one method's sweeps.
struct SweepTally {
  long allocations = 0;  // of the calling thread and of the worker, each failed once
  long succeeded = 0;    // the failure was absorbed (a fallback) and the call succeeded
  long no_memory = 0;    // 6003
  long no_thread = 0;    // 6005
  long texts_lost = 0;   // Done's text could not be copied
};

// Fails allocation k of one call on `threads`; returns whether there was a k-th allocation.
bool FailOneAllocation(const Method& m, Harness& h, CountedThreads threads, long k,
                       const std::vector<double>& reference, SweepTally& tally) {
  SCOPED_TRACE(::testing::Message()
               << m.name << " failing allocation " << k << " of the "
               << (threads == CountedThreads::kCalling ? "calling thread" : "worker"));
  std::vector<double> outputs;
  FailAllocationNumber(k, threads);
  const HRESULT hr = m.call(h.object(), &outputs);
  const bool hit = !AllocationFailurePending();
  FailAllocationNumber(0);
  const CallStatus status = CurrentCallStatus();
  const PostedError posted = TakeErrorInfo();
  const std::vector<DoneEvent> done = h.sink().Take();

  EXPECT_EQ(done.size(), 1u);
  if (done.size() != 1) return false;
  const DoneEvent& event = done[0];
  EXPECT_EQ(event.error_code, status.error_code);
  EXPECT_EQ(event.last_method, 2);
  // The text goes missing only when Done's own copy of it could not be made.
  if (event.error_string.empty()) {
    EXPECT_TRUE(hit);
    ++tally.texts_lost;
  } else {
    EXPECT_EQ(event.error_string, TableText(status.error_code));
  }
  switch (status.error_code) {
    case 0:
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(outputs, reference) << Describe(outputs);
      EXPECT_FALSE(posted.present) << posted.description;
      if (hit) ++tally.succeeded;
      break;
    case 6003:
      EXPECT_TRUE(hit);
      EXPECT_EQ(hr, m.worker ? E_OUTOFMEMORY : E_FAIL);
      EXPECT_EQ(outputs, m.untouched) << Describe(outputs);
      if (posted.present) {
        EXPECT_EQ(posted.description,
                  "Memory allocation error: Could not allocate memory for array.");
      }
      ++tally.no_memory;
      break;
    case 6005:  // the worker thread itself could not be had
      EXPECT_TRUE(hit);
      EXPECT_TRUE(m.worker);
      EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
      EXPECT_EQ(outputs, m.untouched) << Describe(outputs);
      ++tally.no_thread;
      break;
    default:
      ADD_FAILURE() << "unexpected error " << status.error_code;
  }

  // The object works normally afterwards.
  std::vector<double> next;
  EXPECT_EQ(m.call(h.object(), &next), S_OK);
  EXPECT_EQ(next, reference);
  const std::vector<DoneEvent> next_done = h.sink().Take();
  EXPECT_EQ(next_done.size(), 1u);
  if (!next_done.empty()) {
    EXPECT_EQ(next_done[0].error_string, u"No Error");
  }
  return hit;
}

SweepTally SweepAllocations(const Method& m, SHORT blocking_mode) {
  SweepTally tally;
  Harness h;
  EXPECT_EQ(h.object()->put_BlockingMode(blocking_mode), S_OK);
  std::vector<double> reference;
  EXPECT_EQ(m.call(h.object(), &reference), S_OK);
  const long settled = h.SettledBlocks();
  constexpr long kLimit = 100000;  // far above any call's allocations
  for (const CountedThreads threads : {CountedThreads::kCalling, CountedThreads::kOthers}) {
    for (long k = 1; k < kLimit; ++k) {
      const bool hit = FailOneAllocation(m, h, threads, k, reference, tally);
      EXPECT_EQ(h.SettledBlocks(), settled) << m.name << ": blocks leaked with allocation " << k;
      if (::testing::Test::HasFailure() || !hit) break;
      ++tally.allocations;
    }
  }
  return tally;
}

class FaultInjectionTest : public InterfaceTest {
 protected:
  void TearDown() override {
    FailAllocationNumber(0);
    InterfaceTest::TearDown();
  }
};

TEST_F(FaultInjectionTest, EveryFailingAllocationOfACallIsReportedOnceAndLeavesNoTrace) {
  for (const Method& m : SmallMethods()) {
    const SweepTally tally = SweepAllocations(m, 1);
    if (HasFailure()) return;
    // Every family allocates at least Done's text; the worker families their thread and memory.
    EXPECT_GT(tally.allocations, 0) << m.name;
    if (m.worker) {
      EXPECT_GT(tally.no_memory, 0) << m.name;
      EXPECT_GT(tally.no_thread, 0) << m.name;
    }
    const std::string summary = std::string(m.name) + ": " + std::to_string(tally.allocations) +
                                " failed one at a time, " + std::to_string(tally.no_memory) +
                                " gave 6003, " + std::to_string(tally.no_thread) + " gave 6005, " +
                                std::to_string(tally.succeeded) + " succeeded, " +
                                std::to_string(tally.texts_lost) + " lost Done's text";
    RecordProperty(m.name, summary);
    std::printf("%s\n", summary.c_str());
  }
}

// BlockingMode 0 waits for the worker without pumping: a wait that cannot get memory must still
// not return before the worker has ended (the outputs would be written after the call returned).
TEST_F(FaultInjectionTest, APlainWaitThatLacksMemoryStillWaitsForTheWorker) {
  const Method greeks{"BinPriceGreeks, plain wait", true, std::vector<double>(10, kUntouched),
                      [](IKvQuantorb* o, std::vector<double>* out) { return Greeks(o, out, 400); }};
  const SweepTally tally = SweepAllocations(greeks, 0);
  EXPECT_GT(tally.no_memory, 0);
}

// Abort at random moments. Each worker family's call is aborted from another thread after a
// random delay spanning the whole call (from before the worker starts to after the call has
// returned); every outcome must be one of the documented ones.

// How the outputs of an aborted call may look: as passed, complete, or (for the tree Greeks, which
// are written in order) a prefix of the complete ones.
enum class Partial { kAllOrNothing, kPrefix, kClearedFirst };

struct WorkerMethod {
  Method method;
  Partial partial;
};

std::vector<WorkerMethod> WorkerMethods() {
  const std::vector<double> untouched_skew{VT_R8, kUntouched, VT_R8, kUntouched};
  return {
      {{"BinPriceGreeks", true, std::vector<double>(10, kUntouched),
        [](IKvQuantorb* o, std::vector<double>* out) { return Greeks(o, out, 150); }},
       Partial::kPrefix},
      {{"BinImpliedVolatility",
        true,
        {kUntouched},
        [](IKvQuantorb* o, std::vector<double>* out) {
          double v = kUntouched;
          const HRESULT hr =
              o->BinImpliedVolatility(100, 95, 0.05, 1, 0.01, 1, 0, 60, 0, 12.5, 0, &v);
          const UncountedScope uncounted;
          *out = {v};
          return hr;
        }},
       Partial::kAllOrNothing},
      {{"BSImpliedVolatilitySkew", true, untouched_skew,
        [](IKvQuantorb* o, std::vector<double>* out) {
          return Skew(o, out, SkewFamily::kBlackScholes, 0);
        }},
       Partial::kAllOrNothing},
      {{"BinImpliedVolatilitySkew", true, untouched_skew,
        [](IKvQuantorb* o, std::vector<double>* out) {
          return Skew(o, out, SkewFamily::kBinomial, 40);
        }},
       Partial::kAllOrNothing},
      {{"BJEImpliedVolatilitySkew", true, untouched_skew,
        [](IKvQuantorb* o, std::vector<double>* out) {
          return Skew(o, out, SkewFamily::kBjerksundStensland, 0);
        }},
       Partial::kAllOrNothing},
      {{"HistoricalVolatility",
        true,
        {VT_R8, kUntouched},
        [](IKvQuantorb* o, std::vector<double>* out) { return Historical(o, out, 3000); }},
       Partial::kAllOrNothing},
      {{"HistoricalVolatility1",
        true,
        {kUntouched},
        [](IKvQuantorb* o, std::vector<double>* out) { return Historical1(o, out, 3000); }},
       Partial::kClearedFirst},
  };
}

// Whether `outputs` are what an aborted call may leave.
bool AbortedOutputsAllowed(const WorkerMethod& w, const std::vector<double>& outputs,
                           const std::vector<double>& reference) {
  if (outputs == w.method.untouched || outputs == reference) return true;
  switch (w.partial) {
    case Partial::kAllOrNothing:
      return false;
    case Partial::kClearedFirst:
      return outputs == std::vector<double>(outputs.size(), 0.0);
    case Partial::kPrefix:
      if (outputs.size() != reference.size()) return false;
      std::size_t written = 0;
      while (written < outputs.size() && outputs[written] == reference[written]) ++written;
      for (std::size_t i = written; i < outputs.size(); ++i) {
        if (outputs[i] != kUntouched) return false;
      }
      return true;
  }
  return false;
}

// Calls Abort on `object` from its own thread, `delay` after each Arm. It sleeps while unarmed
// and spins only towards the moment, so that it takes no core from the call while idle.
class Aborter {
 public:
  explicit Aborter(IKvQuantorb* object) : object_(object), thread_([this] { Run(); }) {}
  ~Aborter() {
    {
      const std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Aborter(const Aborter&) = delete;
  Aborter& operator=(const Aborter&) = delete;

  void Arm(std::chrono::nanoseconds delay) {
    {
      const std::lock_guard lock(mutex_);
      at_ = std::chrono::steady_clock::now() + delay;
      armed_ = true;
    }
    changed_.notify_all();
  }
  // Until the armed Abort has been made.
  void AwaitFired() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !armed_; });
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return armed_ || quit_; });
      if (quit_) return;
      const auto at = at_;
      lock.unlock();
      while (std::chrono::steady_clock::now() < at) {
      }
      EXPECT_EQ(object_->Abort(), S_OK);
      lock.lock();
      armed_ = false;
      changed_.notify_all();
    }
  }

  IKvQuantorb* object_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool quit_ = false;
  std::chrono::steady_clock::time_point at_;
  std::thread thread_;
};

int AbortIterations() {
  if (const char* text = std::getenv("KX_ABORT_ITERATIONS")) return std::atoi(text);
#if defined(__SANITIZE_THREAD__)
  return 100;  // each call is some ten times slower under ThreadSanitizer
#else
  return 1000;
#endif
}

struct AbortTally {
  int aborted = 0;
  int completed = 0;
};

// One call with an Abort `delay` after its start; checks its outcome and that the next call is
// normal.
void AbortOnce(const WorkerMethod& w, Harness& h, Aborter& aborter, std::chrono::nanoseconds delay,
               const std::vector<double>& reference, AbortTally& tally) {
  SCOPED_TRACE(::testing::Message() << w.method.name << ", Abort after " << delay.count() << " ns");
  std::vector<double> outputs;
  aborter.Arm(delay);
  const HRESULT hr = w.method.call(h.object(), &outputs);
  aborter.AwaitFired();
  const std::vector<DoneEvent> done = h.sink().Take();
  (void)TakeErrorInfo();
  // An aborted call leaves ResultCode at the worker's 0.
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(done.size(), 1u);
  if (done[0].error_code == 0) {
    EXPECT_EQ(done[0].last_method, 2);
    EXPECT_EQ(done[0].error_string, u"No Error");
    EXPECT_EQ(outputs, reference) << Describe(outputs);
    ++tally.completed;
    // An Abort after the call returned leaves the request pending: the next call clears it.
  } else {
    EXPECT_EQ(done[0].error_code, 3100);
    EXPECT_EQ(done[0].last_method, 1);
    EXPECT_EQ(done[0].error_string, TableText(3100));
    EXPECT_TRUE(AbortedOutputsAllowed(w, outputs, reference)) << Describe(outputs);
    ++tally.aborted;
  }
  std::vector<double> next;
  EXPECT_EQ(w.method.call(h.object(), &next), S_OK);
  EXPECT_EQ(next, reference);
  const std::vector<DoneEvent> next_done = h.sink().Take();
  ASSERT_EQ(next_done.size(), 1u);
  EXPECT_EQ(next_done[0].error_code, 0);
}

TEST_F(FaultInjectionTest, AbortAtRandomMomentsOfEveryWorkerFamily) {
  const int iterations = AbortIterations();
  std::mt19937_64 random(20261207);
  for (const WorkerMethod& w : WorkerMethods()) {
    Harness h;
    std::vector<double> reference;
    ASSERT_EQ(w.method.call(h.object(), &reference), S_OK);
    // The delays span the whole call, from before its worker starts to after it has returned:
    // up to one and a half times its median duration.
    std::vector<std::chrono::nanoseconds> durations;
    for (int i = 0; i < 9; ++i) {
      std::vector<double> again;
      const auto start = std::chrono::steady_clock::now();
      (void)w.method.call(h.object(), &again);
      durations.push_back(std::chrono::steady_clock::now() - start);
    }
    std::nth_element(durations.begin(), durations.begin() + 4, durations.end());
    const std::chrono::nanoseconds median = durations[4];
    (void)h.sink().Take();
    const long settled = h.SettledBlocks();
    AbortTally tally;
    {
      Aborter aborter(h.object());
      std::uniform_int_distribution<long> delays(0, median.count() * 3 / 2);
      for (int i = 0; i < iterations && !HasFailure(); ++i) {
        AbortOnce(w, h, aborter, std::chrono::nanoseconds(delays(random)), reference, tally);
      }
    }
    EXPECT_EQ(h.SettledBlocks(), settled) << w.method.name << ": blocks leaked";
    const std::string summary = std::string(w.method.name) + ": " + std::to_string(iterations) +
                                " Aborts at random moments, " + std::to_string(tally.aborted) +
                                " stopped the call, " + std::to_string(tally.completed) +
                                " found no computation to stop";
    RecordProperty(w.method.name, summary);
    std::printf("%s\n", summary.c_str());
    if (HasFailure()) return;
  }
}

// The two exact moments: before the computation step (nothing computed yet) and after it (the
// results stand, yet the call still reports the abort).
TEST_F(FaultInjectionTest, AbortAtEitherEdgeOfTheComputationIsReported) {
  for (const WorkerMethod& w : WorkerMethods()) {
    for (const testing::WorkerPhase phase :
         {testing::WorkerPhase::kStarted, testing::WorkerPhase::kComputed}) {
      SCOPED_TRACE(::testing::Message() << w.method.name << " phase " << static_cast<int>(phase));
      Harness h;
      std::vector<double> reference;
      ASSERT_EQ(w.method.call(h.object(), &reference), S_OK);
      (void)h.sink().Take();
      std::vector<double> outputs;
      {
        IKvQuantorb* object = h.object();
        WorkerHook hook([object, phase](testing::WorkerPhase now) {
          if (now == phase) {
            EXPECT_EQ(object->Abort(), S_OK);
          }
        });
        EXPECT_EQ(w.method.call(h.object(), &outputs), S_OK);
      }
      const std::vector<DoneEvent> done = h.sink().Take();
      ASSERT_EQ(done.size(), 1u);
      EXPECT_EQ(done[0].error_code, 3100);
      EXPECT_EQ(done[0].last_method, 1);
      if (phase == testing::WorkerPhase::kComputed) {
        EXPECT_EQ(outputs, reference) << Describe(outputs);
      } else {
        EXPECT_TRUE(AbortedOutputsAllowed(w, outputs, reference)) << Describe(outputs);
      }
      std::vector<double> next;
      EXPECT_EQ(w.method.call(h.object(), &next), S_OK);
      EXPECT_EQ(next, reference);
      EXPECT_EQ(h.sink().Take().size(), 1u);
    }
  }
}

}  // namespace
}  // namespace kx::component::test_support
