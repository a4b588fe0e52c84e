// Our computations timed next to QuantLib's, in one process on one machine. Every time is the
// median of several repetitions (each repetition a batch of calls, divided by its size); the ratio
// is the peer's time over ours. Run: scripts/bench-peer.sh (or <build>/bin/peer_bench).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kx/models/binomial.h"
#include "kx/models/bjerksund_stensland.h"
#include "kx/models/black_scholes.h"
#include "kx/models/black_scholes_search.h"
#include "kx/models/implied_volatility.h"
#include "kx/models/instruction_set.h"
#include "peer_quantlib.h"

#ifdef KX_PEER_THROUGH_INTERFACE
#include "ikvquantorb.h"
#include "kv_quantorb.h"
#include "kx/platform/comptr.h"
#endif

namespace {

using namespace kx::models;
using kx::peer::MarketInputs;

volatile double g_sink = 0.0;  // keeps every result alive

template <typename Run>
double MedianSeconds(int repetitions, int batch, Run&& run) {
  std::vector<double> seconds;
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int b = 0; b < batch; ++b) run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    seconds.push_back(elapsed.count() / batch);
  }
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

struct Times {
  double ours;
  double peer;
};

// Repetitions of the two sides taken in turn, so that a change of load on the machine falls on
// both; each side's time is the median of its repetitions.
template <typename Ours, typename Peer>
Times MedianSecondsInTurn(int repetitions, int our_batch, Ours&& ours, int peer_batch,
                          Peer&& peer) {
  std::vector<double> our_seconds, peer_seconds;
  for (int r = 0; r < repetitions; ++r) {
    our_seconds.push_back(MedianSeconds(1, our_batch, ours));
    peer_seconds.push_back(MedianSeconds(1, peer_batch, peer));
  }
  std::sort(our_seconds.begin(), our_seconds.end());
  std::sort(peer_seconds.begin(), peer_seconds.end());
  return {our_seconds[our_seconds.size() / 2], peer_seconds[peer_seconds.size() / 2]};
}

std::string Duration(double seconds) {
  char text[32];
  if (seconds >= 1e-3) {
    std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
  } else if (seconds >= 1e-6) {
    std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.0f ns", seconds * 1e9);
  }
  return text;
}

struct Row {
  std::string ours;
  std::string peer;
  double our_seconds;
  double peer_seconds;
  double target;  // 0: no target
};

void PrintRow(const Row& row) {
  const double ratio = row.peer_seconds / row.our_seconds;
  char target[32] = "";
  if (row.target > 0) {
    std::snprintf(target, sizeof target, ">= %g: %s", row.target,
                  ratio >= row.target ? "met" : "NOT met");
  }
  std::printf("| %s | %s | %s | %s | %.1f | %s |\n", row.ours.c_str(), row.peer.c_str(),
              Duration(row.our_seconds).c_str(), Duration(row.peer_seconds).c_str(), ratio, target);
  std::fflush(stdout);
}

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

const char* SetName(InstructionSet set) {
  switch (set) {
    case InstructionSet::kAvx512:
      return "AVX-512";
    case InstructionSet::kAvx2:
      return "AVX2";
    case InstructionSet::kBaseline:
      break;
  }
  return "SSE2";
}

// The market of every tree row: S = K = 100, r = 5 %, q = 2 % (ModelType 1), sigma = 20 %, T = 1.
constexpr MarketInputs kTreeMarket{100, 100, 0.05, 0.02, 0.2};
// The Bjerksund-Stensland row: a put-heavy case with a dividend yield above the rate.
constexpr MarketInputs kBjeMarket{42, 40, 0.04, 0.08, 0.35};

TreeNodes OurTree(TreeWorkspace& w, std::int32_t steps) {
  const MarketInputs& m = kTreeMarket;
  return PriceTree(w, m.spot, m.strike, m.rate, 1.0, m.vol, m.dividend, kModelDividendYield, 0.0,
                   steps, kAmerican);
}

double TreeRows(std::vector<Row>& rows) {
  double peer_5000 = 0.0;
  for (const std::int32_t steps : {100, 1000, 5000}) {
    const int repetitions = steps == 5000 ? 7 : 15;
    const int our_batch = steps == 100 ? 2000 : (steps == 1000 ? 40 : 4);
    const int peer_batch = steps == 100 ? 100 : 1;
    TreeWorkspace w(steps);
    kx::peer::QlTree peer(kTreeMarket, steps);
    const kx::peer::CallPut ql = peer.Price();
    const TreeNodes ours = OurTree(w, steps);
    std::printf("  N = %d: call %.8f (QuantLib %.8f), put %.8f (QuantLib %.8f)\n", steps,
                ours.call[0][0], ql.call, ours.put[0][0], ql.put);
    const Times times = MedianSecondsInTurn(
        repetitions, our_batch, [&] { g_sink = OurTree(w, steps).call[0][0]; }, peer_batch,
        [&] { g_sink = peer.Price().call; });
    rows.push_back({"American tree, call and put, N = " + std::to_string(steps) + " (" +
                        SetName(ActiveInstructionSet()) + ")",
                    "BinomialVanillaEngine<CoxRossRubinstein>, call and put", times.ours,
                    times.peer, steps == 5000 ? 25.0 : 0.0});
    if (steps == 5000) peer_5000 = times.peer;
  }
  // The narrower kernels on the same tree, against the same peer time.
  const InstructionSet widest = ActiveInstructionSet();
  TreeWorkspace w(5000);
  for (const InstructionSet set : {InstructionSet::kAvx2, InstructionSet::kBaseline}) {
    if (set == widest || !SelectInstructionSet(set)) continue;
    const double time = MedianSeconds(5, 4, [&] { g_sink = OurTree(w, 5000).call[0][0]; });
    rows.push_back({std::string("the same, N = 5000, ") + SetName(set) + " kernels", "the same",
                    time, peer_5000, 0.0});
  }
  SelectInstructionSet(widest);
  return peer_5000;
}

void GreeksRow(std::vector<Row>& rows, double peer_5000) {
  const MarketInputs& m = kTreeMarket;
  double v[10];
#ifdef KX_PEER_THROUGH_INTERFACE
  using kx::component::IKvQuantorb;
  kx::platform::ComPtr<IKvQuantorb> object;
  if (kx::component::KvQuantorb::CreateInstance(nullptr, IKvQuantorb::kIid, object.put_void()) !=
      kx::platform::S_OK) {
    std::printf("KvQuantorb could not be created\n");
    return;
  }
  const double time = MedianSeconds(7, 2, [&] {
    (void)object->BinPriceGreeks(m.spot, m.strike, m.rate, 1.0, m.vol, m.dividend,
                                 kModelDividendYield, 0.0, 5000, kAmerican, &v[0], &v[1], &v[2],
                                 &v[3], &v[4], &v[5], &v[6], 1, &v[7], 1, &v[8], &v[9]);
    g_sink = v[7];
  });
  const char* what = "BinPriceGreeks, N = 5000, American, through the IKvQuantorb vtable";
#else
  const double time = MedianSeconds(7, 2, [&] {
    TreeGreeksWorker(m.spot, m.strike, m.rate, 1.0, m.vol, m.dividend, kModelDividendYield, 0.0,
                     5000, kAmerican, true, true,
                     {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]});
    g_sink = v[7];
  });
  const char* what = "TreeGreeksWorker, N = 5000, American (no method layer in this build)";
#endif
  rows.push_back({what, "the tree above (no vega, no rho)", time, peer_5000, 8.0});
}

void BlackScholesRows(std::vector<Row>& rows) {
  // 64 strikes, so that no call repeats the one before.
  std::vector<MarketInputs> markets;
  for (int i = 0; i < 64; ++i) {
    markets.push_back({100, 80 + 0.625 * i, 0.05, 0.02, 0.2});
  }
  std::size_t at = 0;
  auto next = [&]() -> const MarketInputs& { return markets[at++ % markets.size()]; };
  const Times greeks = MedianSecondsInTurn(
      15, 20000,
      [&] {
        const MarketInputs& m = next();
        const GbsValues v = GbsPriceAndGreeks(1, m.spot, m.strike, m.rate, 0, 1, m.dividend, m.vol);
        g_sink = v.call + v.delta.call + v.gamma + v.vega + v.theta.call + v.rho.call;
      },
      20000, [&] { g_sink = kx::peer::QlBlackPriceAndGreeks(next()); });
  rows.push_back({"GbsPriceAndGreeks (call and put: price, delta, gamma, vega, theta, rho)",
                  "BlackCalculator, one call: the same", greeks.ours, greeks.peer, 3.0});

  std::vector<double> our_targets, peer_targets;
  for (const MarketInputs& m : markets) {
    our_targets.push_back(GbsCall(1, m.spot, m.strike, m.rate, 0, 1, m.dividend, m.vol));
    peer_targets.push_back(kx::peer::QlBlackCallPrice(m));
  }
  const Times search = MedianSecondsInTurn(
      15, 2000,
      [&] {
        const std::size_t i = at++ % markets.size();
        const MarketInputs& m = markets[i];
        g_sink = BisectVolatility(
            [&](double sigma) {
              return GbsCall(1, m.spot, m.strike, m.rate, 0, 1, m.dividend, sigma);
            },
            our_targets[i], 0, CompareMode::kAbsolute, AbortPolling::kOff);
      },
      2000,
      [&] {
        const std::size_t i = at++ % markets.size();
        g_sink = kx::peer::QlImpliedVolatility(markets[i], peer_targets[i]);
      });
  rows.push_back({"BSImpliedVolatility's search: BisectVolatility over GbsCall (27 prices)",
                  "blackFormulaImpliedStdDev, accuracy 1e-6", search.ours, search.peer, 0.0});
  const Times fast = MedianSecondsInTurn(
      15, 2000,
      [&] {
        const std::size_t i = at++ % markets.size();
        const MarketInputs& m = markets[i];
        g_sink =
            GbsBisectVolatility(OptionSide::kCall, 1, m.spot, m.strike, m.rate, 0, 1, m.dividend,
                                our_targets[i], 0, CompareMode::kAbsolute, AbortPolling::kOff);
      },
      2000,
      [&] {
        const std::size_t i = at++ % markets.size();
        g_sink = kx::peer::QlImpliedVolatility(markets[i], peer_targets[i]);
      });
  rows.push_back({"the same result by GbsBisectVolatility (a handful of prices)",
                  "blackFormulaImpliedStdDev, accuracy 1e-6", fast.ours, fast.peer, 2.0});
}

void BjerksundStenslandRow(std::vector<Row>& rows) {
  const MarketInputs& m = kBjeMarket;
  kx::peer::QlBjerksundStensland peer(m);
  const kx::peer::CallPut ql = peer.Price();
  std::printf("  Bjerksund-Stensland: call %.8f (QuantLib %.8f), put %.8f (QuantLib %.8f)\n",
              BjeAmericanCall(m.spot, m.strike, m.rate, 1, m.dividend, 1, 0, m.vol), ql.call,
              BjeAmericanPut(m.spot, m.strike, m.rate, 1, m.dividend, 1, 0, m.vol), ql.put);
  double x = m.strike;
  const Times times = MedianSecondsInTurn(
      15, 20000,
      [&] {
        x = x > 44 ? 36 : x + 0.01;  // a new strike every call
        g_sink = BjeAmericanCall(m.spot, x, m.rate, 1, m.dividend, 1, 0, m.vol) +
                 BjeAmericanPut(m.spot, x, m.rate, 1, m.dividend, 1, 0, m.vol);
      },
      2000, [&] { g_sink = peer.Price().put; });
  rows.push_back({"BjeAmericanCall + BjeAmericanPut",
                  "BjerksundStenslandApproximationEngine, call and put", times.ours, times.peer,
                  10.0});
}

void SkewRow(std::vector<Row>& rows) {
  // 64 strikes with a smile, both sides, N = 500, American.
  const std::int32_t steps = 500;
  std::vector<double> strikes, calls, puts;
  TreeWorkspace w(steps);
  for (int i = 0; i < 64; ++i) {
    const double k = 70 + i;
    const double vol = 0.2 + 0.3 * std::pow((k - 100) / 40, 2);
    strikes.push_back(k);
    const TreeNodes n = PriceTree(w, 100, k, 0.05, 1, vol, 0.02, 1, 0, steps, kAmerican);
    calls.push_back(n.call[0][0]);
    puts.push_back(n.put[0][0]);
  }
  std::vector<double> call_vols(64), put_vols(64);
  auto skew = [&](Parallelism parallelism) {
    TreeSkewSearch(w, 100, strikes, 0.05, 1, 0.02, 1, 0, steps, kAmerican, calls, puts, 0,
                   call_vols, put_vols, true, parallelism);
    g_sink = call_vols[0];
  };
  const Times times = MedianSecondsInTurn(
      7, 1, [&] { skew(Parallelism::kTwoThreads); }, 1, [&] { skew(Parallelism::kOneThread); });
  rows.push_back({"BinImpliedVolatilitySkew's search: 64 strikes, N = 500, both sides, 2 threads",
                  "the same on one thread", times.ours, times.peer, 1.8});
}

}  // namespace

std::string LoadAverage() {
  std::ifstream loadavg("/proc/loadavg");
  std::string one, five;
  loadavg >> one >> five;
  return one + " " + five;
}

// With an argument, only the groups whose name contains it: tree, greeks, bs, bje, skew.
int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  auto wanted = [&](const char* group) { return only.empty() || only == group; };
  std::printf("Machine: %s, %u logical cores; compiler: g++ %s; %s; tree kernels: %s\n",
              CpuModel().c_str(), std::thread::hardware_concurrency(), __VERSION__,
              kx::peer::QlVersion(), SetName(ActiveInstructionSet()));
  // Other processes take time from both sides, and from the second thread most of all.
  std::printf("Load average before the run (1 and 5 minutes): %s\n\n", LoadAverage().c_str());
  std::printf("Results side by side:\n");
  std::vector<Row> rows;
  const bool trees = wanted("tree") || wanted("greeks");
  const double peer_5000 = trees ? TreeRows(rows) : 0.0;
  if (wanted("greeks")) GreeksRow(rows, peer_5000);
  if (wanted("bs")) BlackScholesRows(rows);
  if (wanted("bje")) BjerksundStenslandRow(rows);
  if (wanted("skew")) SkewRow(rows);
  std::printf("\n| Ours | Peer | Our time | Peer time | Ratio | Target |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Row& row : rows) PrintRow(row);
  std::printf("\nLoad average after the run: %s\n", LoadAverage().c_str());
  return 0;
}
