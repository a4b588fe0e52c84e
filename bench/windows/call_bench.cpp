// The cost of a worker-family call on the system's own threads and events: BinCallPrice and
// HistoricalVolatility1 through the IKvQuantorb vtable, with the plain wait (BlockingMode 0) and
// the pumped one (1), next to their models alone, all in one run. Each figure is the median of
// kBatches batches of back-to-back calls, in microseconds of wall time per call. Then what a
// sleeping thread's hand-over costs on this system: a round trip between two threads through two
// auto-reset events (what the pumped wait sleeps on), and through WaitOnAddress (what the worker
// and the plain wait sleep on where the system has it).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "../call_inputs.h"
#include "ikvquantorb.h"
#include "kv_quantorb.h"
#include "kx/models/binomial.h"
#include "kx/models/historical_volatility.h"
#include "kx/platform/comptr.h"
#include "kx/platform/safearray.h"
#include "kx/platform/threads.h"

namespace {

using namespace kx::platform;
using kx::bench::DailyPrices;
using kx::bench::Vector;
using kx::component::IKvQuantorb;
using kx::component::KvQuantorb;

constexpr int kBatches = 15;
constexpr auto kBatchTime = std::chrono::milliseconds(20);

volatile double sink_value = 0;

// Median over the batches of the wall time per call.
double MicrosecondsPerCall(const std::function<void()>& call) {
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < 100; ++i) call();  // warm: the worker started, the caches filled
  std::vector<double> batches;
  for (int b = 0; b < kBatches; ++b) {
    long calls = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point now = start;
    while (now - start < kBatchTime) {
      for (int i = 0; i < 10; ++i) call();
      calls += 10;
      now = Clock::now();
    }
    batches.push_back(std::chrono::duration<double, std::micro>(now - start).count() /
                      static_cast<double>(calls));
  }
  std::sort(batches.begin(), batches.end());
  return batches[batches.size() / 2];
}

void Row(const char* name, double model, double plain, double pumped) {
  std::printf("%-40s %9.2f %9.2f %9.2f %9.2f %9.2f\n", name, model, plain, pumped, plain - model,
              pumped - model);
}

// Round trips between this thread and another, each side sleeping until the other's signal.
double RoundTripMicroseconds(const std::function<void(int)>& other, const std::function<void(int)>& mine) {
  constexpr int kTrips = 2000;
  std::thread partner([&] {
    for (int i = 0; i < kTrips; ++i) other(i);
  });
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kTrips; ++i) mine(i);
  const auto end = std::chrono::steady_clock::now();
  partner.join();
  return std::chrono::duration<double, std::micro>(end - start).count() / kTrips;
}

void HandOverCosts() {
  HANDLE ping = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HANDLE pong = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  const double events = RoundTripMicroseconds(
      [&](int) {
        WaitForSingleObject(ping, INFINITE);
        SetEvent(pong);
      },
      [&](int) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
      });
  CloseHandle(ping);
  CloseHandle(pong);
  std::printf("%-40s %9.2f\n", "round trip through two events", events);

  if (!AddressWaitAvailable()) {
    std::printf("%-40s %9s\n", "round trip through WaitOnAddress", "absent");
    return;
  }
  // Turn 2i + 1 is the partner's, 2i + 2 this thread's.
  volatile LONG turn = 0;
  auto await = [&](LONG value) {
    for (LONG seen = turn; seen != value; seen = turn) {
      (void)kx::platform::WaitOnAddress(&turn, &seen, sizeof seen, INFINITE);
    }
  };
  auto pass = [&](LONG value) {
    turn = value;
    kx::platform::WakeByAddressSingle(const_cast<LONG*>(&turn));
  };
  const double addresses = RoundTripMicroseconds(
      [&](int i) {
        await(2 * i + 1);
        pass(2 * i + 2);
      },
      [&](int i) {
        pass(2 * i + 1);
        await(2 * i + 2);
      });
  std::printf("%-40s %9.2f\n", "round trip through WaitOnAddress", addresses);
}

}  // namespace

int main() {
  ComPtr<IKvQuantorb> object;
  if (KvQuantorb::CreateInstance(nullptr, IKvQuantorb::kIid, object.put_void()) != S_OK) {
    std::fprintf(stderr, "KvQuantorb could not be created\n");
    return 1;
  }
  std::printf("%-40s %9s %9s %9s %9s %9s\n", "us per call (median of batches)", "model",
              "plain", "pumped", "plain-m", "pumped-m");
  for (LONG steps : {10, 100}) {
    double price = 0;
    auto model = [&] {
      kx::models::TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, 1, false, false,
                                   {.call_price = &price});
      sink_value = price;
    };
    auto through = [&](SHORT mode) {
      (void)object->put_BlockingMode(mode);
      return MicrosecondsPerCall([&] {
        if (object->BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, 1, &price) != S_OK) {
          throw std::runtime_error("BinCallPrice failed");
        }
        sink_value = price;
      });
    };
    const double m = MicrosecondsPerCall(model);
    const double plain = through(0);
    const double pumped = through(1);
    char name[64];
    std::snprintf(name, sizeof name, "BinCallPrice, %ld steps", static_cast<long>(steps));
    Row(name, m, plain, pumped);
  }
  {
    const std::vector<double> daily = DailyPrices();
    Variant prices = Vector(daily);
    double volatility = 0;
    const double m = MicrosecondsPerCall(
        [&] { sink_value = kx::models::EstimateHistoricalVolatility(daily, 250); });
    auto through = [&](SHORT mode) {
      (void)object->put_BlockingMode(mode);
      return MicrosecondsPerCall([&] {
        if (object->HistoricalVolatility1(&prices, 250, &volatility) != S_OK) {
          throw std::runtime_error("HistoricalVolatility1 failed");
        }
        sink_value = volatility;
      });
    };
    const double plain = through(0);
    const double pumped = through(1);
    Row("HistoricalVolatility1, 250 prices", m, plain, pumped);
  }
  HandOverCosts();
  return 0;
}
