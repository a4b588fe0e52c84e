// kx_stress: one KvQuantorb called from many threads with a mix of every method family and Abort
// calls in between, for a wall time. Every completed call's outputs are compared with the ones a
// single thread computed first; a watchdog ends the run when no call completes for too long.
//
//   kx_stress [--seconds S] [--threads N] [--seed X] [--watchdog S]
//
// Exit status: 0 when every call gave its documented outcome, 1 on a mismatch, 2 on a deadlock,
// 3 on bad arguments.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ikvquantorb.h"
#include "kv_quantorb.h"
#include "kx/platform/bstr.h"
#include "kx/platform/comptr.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/safearray.h"
#include "kx/platform/variant.h"

namespace {

using namespace kx::platform;
using kx::component::IKvQuantorb;
using kx::component::KvQuantorb;
using Clock = std::chrono::steady_clock;

constexpr double kUntouched = 123.0;

// The Done of the call this thread is making: raised on the calling thread before the call returns.
struct DoneSeen {
  int count = 0;
  SHORT last_method = 0;
  SHORT error_code = 0;
};
thread_local DoneSeen done_seen;

class Sink final : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch ||
        riid == kx::component::DIID__IKvQuantorbEvents) {
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }  // lives as long as the program
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    ++done_seen.count;
    done_seen.last_method = params->rgvarg[2].iVal;
    done_seen.error_code = params->rgvarg[1].iVal;
    return S_OK;
  }
};

Variant DoubleVector(const std::vector<double>& values) {
  Variant v;
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
  if (v.parray) std::copy(values.begin(), values.end(), static_cast<double*>(v.parray->pvData));
  return v;
}

Variant DoubleMatrix(ULONG rows, ULONG columns, const std::vector<double>& storage) {
  const SAFEARRAYBOUND bounds[2] = {{rows, 0}, {columns, 0}};
  Variant v;
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreate(VT_R8, 2, bounds);
  if (v.parray) std::copy(storage.begin(), storage.end(), static_cast<double*>(v.parray->pvData));
  return v;
}

// A result VARIANT as numbers: its type, then its elements when it holds an array of doubles.
void Append(const VARIANT& v, std::vector<double>* out) {
  out->push_back(v.vt);
  if (v.vt == (VT_ARRAY | VT_R8) && v.parray) {
    const auto* data = static_cast<const double*>(v.parray->pvData);
    out->insert(out->end(), data, data + SafeArrayTotalCount(v.parray));
  } else if (v.vt == VT_R8) {
    out->push_back(v.dblVal);
  }
}

// How the outputs of a call stopped by Abort may look.
enum class Partial {
  kNone,          // a family that does not poll the request: always complete
  kAllOrNothing,  // as passed or complete
  kPrefix,        // written in order: a prefix of the complete ones, the rest as passed
  kClearedFirst,  // also all zeros (the output is cleared before the computation)
};

struct Job {
  const char* name;
  Partial partial;
  std::function<HRESULT(IKvQuantorb*, std::vector<double>*)> call;
  std::vector<double> untouched;
  std::vector<double> reference{};  // from the one-thread run
};

HRESULT Skew(IKvQuantorb* o, std::vector<double>* out, int family, LONG steps, std::size_t n) {
  std::vector<double> strikes, calls, puts;
  for (std::size_t i = 0; i < n; ++i) {
    strikes.push_back(70 + 60.0 * static_cast<double>(i) / static_cast<double>(n));
    calls.push_back(std::max(31.0 - 0.5 * static_cast<double>(i), 0.4));
    puts.push_back(1.0 + 0.4 * static_cast<double>(i));
  }
  Variant k = DoubleVector(strikes), c = DoubleVector(calls), p = DoubleVector(puts);
  Variant ivc(kUntouched), ivp(kUntouched);
  HRESULT hr = E_FAIL;
  if (family == 0) {
    hr = o->BSImpliedVolatilitySkew(100, &k, 0.05, 1, 0.01, &c, &p, 0, &ivc, &ivp);
  } else if (family == 1) {
    hr = o->BinImpliedVolatilitySkew(100, &k, 0.05, 1, 0.01, 1, 0, steps, 0, &c, &p, 0, &ivc, &ivp);
  } else {
    hr = o->BJEImpliedVolatilitySkew(100, &k, 0.05, 1, 0.01, 1, 0, &c, &p, 0, &ivc, &ivp);
  }
  out->clear();
  Append(ivc, out);
  Append(ivp, out);
  return hr;
}

HRESULT Greeks(IKvQuantorb* o, std::vector<double>* out, LONG steps, LONG flag) {
  double v[10];
  std::fill(std::begin(v), std::end(v), kUntouched);
  const HRESULT hr =
      o->BinPriceGreeks(100, 95, 0.05, 1, 0.25, 0.01, 1, 0, steps, flag, &v[0], &v[1], &v[2], &v[3],
                        &v[4], &v[5], &v[6], 1, &v[7], 1, &v[8], &v[9]);
  out->assign(std::begin(v), std::end(v));
  return hr;
}

std::vector<double> Series(int count, int seed) {
  std::vector<double> values;
  for (int i = 0; i < count; ++i) values.push_back(100 + ((i * 37 + seed) % 23) - 0.1 * (i % 7));
  return values;
}

std::vector<Job> Jobs() {
  const std::vector<double> pair(2, kUntouched);
  const std::vector<double> skew{VT_R8, kUntouched, VT_R8, kUntouched};
  return {
      {"BSCallPrice",
       Partial::kNone,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double c = kUntouched;
         const HRESULT hr = o->BSCallPrice(100, 95, 0.05, 1, 0.25, 0.01, &c);
         *out = {c};
         return hr;
       },
       {kUntouched}},
      {"BSDelta", Partial::kNone,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double c = kUntouched, p = kUntouched;
         const HRESULT hr = o->BSDelta(100, 95, 0.05, 1, 0.25, 0.01, &c, &p);
         *out = {c, p};
         return hr;
       },
       pair},
      {"BSImpliedVolatility",
       Partial::kNone,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double v = kUntouched;
         const HRESULT hr = o->BSImpliedVolatility(100, 95, 0.05, 1, 0.01, 12.5, 0, &v);
         *out = {v};
         return hr;
       },
       {kUntouched}},
      {"BJEPutPrice",
       Partial::kNone,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double p = kUntouched;
         const HRESULT hr = o->BJEPutPrice(42, 40, 0.04, 0.75, 0.35, 0.08, 1, 0, &p);
         *out = {p};
         return hr;
       },
       {kUntouched}},
      {"BJERho", Partial::kNone,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double c = kUntouched, p = kUntouched;
         const HRESULT hr = o->BJERho(100, 95, 0.05, 1, 0.25, 0.01, 1, 0, &c, &p);
         *out = {c, p};
         return hr;
       },
       pair},
      {"BinPriceGreeks", Partial::kPrefix,
       [](IKvQuantorb* o, std::vector<double>* out) { return Greeks(o, out, 200, 0); },
       std::vector<double>(10, kUntouched)},
      // Long enough for the rho tree to go to a helper thread.
      {"BinPriceGreeks on two threads", Partial::kPrefix,
       [](IKvQuantorb* o, std::vector<double>* out) { return Greeks(o, out, 1500, 1); },
       std::vector<double>(10, kUntouched)},
      {"BinImpliedVolatilityPut",
       Partial::kAllOrNothing,
       [](IKvQuantorb* o, std::vector<double>* out) {
         double v = kUntouched;
         const HRESULT hr =
             o->BinImpliedVolatilityPut(100, 105, 0.05, 1, 0.01, 1, 0, 80, 0, 9.5, 0, &v);
         *out = {v};
         return hr;
       },
       {kUntouched}},
      {"BSImpliedVolatilitySkew", Partial::kAllOrNothing,
       [](IKvQuantorb* o, std::vector<double>* out) { return Skew(o, out, 0, 0, 600); }, skew},
      {"BinImpliedVolatilitySkew", Partial::kAllOrNothing,
       [](IKvQuantorb* o, std::vector<double>* out) { return Skew(o, out, 1, 60, 12); }, skew},
      {"BJEImpliedVolatilitySkew", Partial::kAllOrNothing,
       [](IKvQuantorb* o, std::vector<double>* out) { return Skew(o, out, 2, 0, 40); }, skew},
      {"HistoricalVolatility",
       Partial::kAllOrNothing,
       [](IKvQuantorb* o, std::vector<double>* out) {
         std::vector<double> storage = Series(2000, 1);
         const std::vector<double> second = Series(2000, 5);
         storage.insert(storage.end(), second.begin(), second.end());
         Variant prices = DoubleMatrix(2000, 2, storage);
         Variant result(kUntouched);
         const HRESULT hr = o->HistoricalVolatility(&prices, 252, &result);
         out->clear();
         Append(result, out);
         return hr;
       },
       {VT_R8, kUntouched}},
      {"HistoricalVolatility1",
       Partial::kClearedFirst,
       [](IKvQuantorb* o, std::vector<double>* out) {
         Variant prices = DoubleVector(Series(3000, 3));
         double v = kUntouched;
         const HRESULT hr = o->HistoricalVolatility1(&prices, 250, &v);
         *out = {v};
         return hr;
       },
       {kUntouched}},
  };
}

bool AbortedOutputsAllowed(const Job& job, const std::vector<double>& outputs) {
  if (outputs == job.reference) return true;
  if (job.partial == Partial::kNone) return false;
  if (outputs == job.untouched) return true;
  if (job.partial == Partial::kClearedFirst) {
    return outputs == std::vector<double>(outputs.size(), 0.0);
  }
  if (job.partial != Partial::kPrefix || outputs.size() != job.reference.size()) return false;
  std::size_t written = 0;
  while (written < outputs.size() && outputs[written] == job.reference[written]) ++written;
  return std::all_of(outputs.begin() + static_cast<std::ptrdiff_t>(written), outputs.end(),
                     [](double v) { return v == kUntouched; });
}

struct Options {
  double seconds = 60;
  int threads = 8;
  std::uint64_t seed = 20261207;
  double watchdog = 120;  // without a completed call for this long, the run is a deadlock
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    char* end = nullptr;
    if (arg == "--seconds") {
      o->seconds = std::strtod(value, &end);
    } else if (arg == "--threads") {
      o->threads = static_cast<int>(std::strtol(value, &end, 10));
    } else if (arg == "--seed") {
      o->seed = std::strtoull(value, &end, 10);
    } else if (arg == "--watchdog") {
      o->watchdog = std::strtod(value, &end);
    } else {
      return false;
    }
    if (end == value || *end != '\0') return false;
  }
  return o->seconds > 0 && o->threads >= 1 && o->threads <= 64 && o->watchdog > 0;
}

struct Counters {
  std::atomic<std::uint64_t> calls{0};
  std::atomic<std::uint64_t> stopped{0};  // calls that reported the abort (3100)
  std::atomic<std::uint64_t> aborts{0};   // Abort calls made
  std::atomic<std::uint64_t> mismatches{0};
};

std::mutex report_mutex;

void ReportMismatch(const Job& job, HRESULT hr, const DoneSeen& done,
                    const std::vector<double>& outputs) {
  const std::lock_guard lock(report_mutex);
  std::fprintf(stderr, "mismatch: %s hr=0x%08x done=%d last=%d code=%d outputs:", job.name,
               static_cast<unsigned>(hr), done.count, done.last_method, done.error_code);
  for (const double v : outputs) std::fprintf(stderr, " %.17g", v);
  std::fprintf(stderr, "\n");
}

// One call and its verdict: complete and equal to the reference, or stopped by an Abort with the
// documented outcome.
void CallAndCheck(IKvQuantorb* object, const Job& job, Counters& counters) {
  done_seen = {};
  std::vector<double> outputs;
  const HRESULT hr = job.call(object, &outputs);
  const DoneSeen done = done_seen;
  bool ok = done.count == 1;
  if (ok && done.error_code == 0) {
    ok = hr == S_OK && done.last_method == 2 && outputs == job.reference;
  } else if (ok && done.error_code == 3100) {
    // Abort also writes the shared status record, so a caller-thread call that it overlaps
    // reports it too (E_FAIL, its outputs computed); a worker call returns S_OK.
    ok = done.last_method == 1 && (hr == S_OK || (job.partial == Partial::kNone && hr == E_FAIL)) &&
         AbortedOutputsAllowed(job, outputs);
    counters.stopped.fetch_add(1, std::memory_order_relaxed);
  } else {
    ok = false;
  }
  if (!ok) {
    counters.mismatches.fetch_add(1, std::memory_order_relaxed);
    ReportMismatch(job, hr, done, outputs);
  }
  counters.calls.fetch_add(1, std::memory_order_relaxed);
  (void)SetErrorInfo(0, nullptr);  // the failures of this thread are not read
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: kx_stress [--seconds S] [--threads N] [--seed X] [--watchdog S]\n");
    return 3;
  }
  // Error information looks the class up in the registry: never the user's.
  std::string registry;
  if (std::getenv("KX_REGISTRY_DIR") == nullptr) {
    registry = (std::filesystem::temp_directory_path() / "kxstress-XXXXXX").string();
    if (mkdtemp(registry.data()) == nullptr) return 3;
    setenv("KX_REGISTRY_DIR", registry.c_str(), 1);
  }

  ComPtr<IKvQuantorb> object;
  if (FAILED(
          KvQuantorb::CreateInstance(nullptr, kx::component::IID_IKvQuantorb, object.put_void()))) {
    std::fprintf(stderr, "cannot create the object\n");
    return 3;
  }
  Sink sink;
  DWORD cookie = 0;
  (void)static_cast<KvQuantorb*>(object.get())->AdviseEvents(&sink, &cookie);

  // The one-thread reference of every job.
  std::vector<Job> jobs = Jobs();
  for (Job& job : jobs) {
    done_seen = {};
    if (job.call(object.get(), &job.reference) != S_OK || done_seen.error_code != 0) {
      std::fprintf(stderr, "reference run of %s failed\n", job.name);
      return 1;
    }
  }

  Counters counters;
  std::atomic<bool> running{true};
  std::atomic<bool> finished{false};
  std::atomic<bool> deadlock{false};

  // The watchdog: no completed call for options.watchdog seconds ends the process.
  std::thread watchdog([&] {
    std::uint64_t last = counters.calls.load();
    auto progress = Clock::now();
    while (!finished.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::uint64_t now_calls = counters.calls.load();
      if (now_calls != last) {
        last = now_calls;
        progress = Clock::now();
      } else if (Clock::now() - progress > std::chrono::duration<double>(options.watchdog)) {
        deadlock.store(true);
        std::fprintf(stderr, "deadlock: no call completed for %.0f s\n", options.watchdog);
        std::fflush(stderr);
        _exit(2);
      }
    }
  });

  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(options.seconds);
  std::vector<std::thread> workers;
  for (int t = 0; t < options.threads; ++t) {
    workers.emplace_back([&, t] {
      std::mt19937_64 random(options.seed + static_cast<std::uint64_t>(t));
      while (running.load(std::memory_order_relaxed)) {
        // About one action in twelve is an Abort, whatever runs at that moment.
        if (random() % 12 == 0) {
          (void)object->Abort();
          counters.aborts.fetch_add(1, std::memory_order_relaxed);
          continue;
        }
        CallAndCheck(object.get(), jobs[random() % jobs.size()], counters);
        if (Clock::now() >= end) running.store(false);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  finished.store(true);
  watchdog.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  // A last call on one thread must be normal again.
  CallAndCheck(object.get(), jobs[0], counters);
  (void)static_cast<KvQuantorb*>(object.get())->UnadviseEvents(cookie);
  object = nullptr;
  if (!registry.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(registry, ignored);
  }

  std::printf("threads %d, seconds %.1f, calls %" PRIu64 ", aborts %" PRIu64
              ", calls stopped by an abort %" PRIu64 ", mismatches %" PRIu64 "\n",
              options.threads, elapsed, counters.calls.load(), counters.aborts.load(),
              counters.stopped.load(), counters.mismatches.load());
  return counters.mismatches.load() == 0 ? 0 : 1;
}
