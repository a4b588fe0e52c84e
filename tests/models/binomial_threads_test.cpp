// The tree computations that use two threads: the same doubles as the plain one-thread references,
// outputs after an abort or a failed allocation, and no thread left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <new>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "kx/models/abort.h"
#include "kx/models/binomial.h"
#include "parallel.h"
#include "plain_tree_computations.h"
#include "process_threads.h"
#include "tree_internal.h"

namespace kx::models {
namespace {

using testing::TreeInputs;

bool Identical(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

std::string Describe(const TreeInputs& c) {
  return ::testing::PrintToString(std::vector<double>{
      c.s, c.k, c.r, c.t, c.sigma, c.q, double(c.model), c.rf, double(c.steps), double(c.flag)});
}

std::vector<TreeInputs> RandomTrees(int count, std::int32_t min_steps, std::int32_t max_steps,
                                    std::uint64_t seed) {
  std::mt19937_64 random(seed);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::vector<TreeInputs> cases;
  for (int n = 0; n < count; ++n) {
    TreeInputs c{};
    c.s = uniform(5, 200);
    c.k = pick(4) == 0 ? c.s : uniform(5, 200);
    c.r = pick(5) == 0 ? 1e-8 : uniform(0.0, 0.12);
    c.t = uniform(0.05, 3);
    const double sigmas[] = {0.0, 3e-13, uniform(0.02, 1.5), uniform(0.1, 0.5)};
    c.sigma = sigmas[pick(4)];
    c.q = uniform(0, 0.1);
    c.rf = uniform(0, 0.1);
    c.model = pick(4);
    c.steps = min_steps + pick(max_steps - min_steps + 1);
    c.flag = pick(2);
    cases.push_back(c);
  }
  return cases;
}

class Destinations {
 public:
  explicit Destinations(double fill) { std::fill(std::begin(v_), std::end(v_), fill); }
  TreeGreeksDestinations Get() {
    return {&v_[0], &v_[1], &v_[2], &v_[3], &v_[4], &v_[5], &v_[6], &v_[7], &v_[8], &v_[9]};
  }
  const double* values() const { return v_; }

 private:
  double v_[10];
};

TEST(TreeGreeksWorker, SameDoublesAsPlainOnOneAndTwoThreads) {
  std::vector<TreeInputs> cases = RandomTrees(150, 1, 120, 9001);
  // Long enough for the rho tree to go to the helper thread.
  for (const TreeInputs& c : RandomTrees(3, 1500, 1800, 9002)) cases.push_back(c);
  for (const TreeInputs& c : cases) {
    SCOPED_TRACE(Describe(c));
    const bool vega = c.steps % 2 == 0;
    const bool rho = c.steps % 3 != 0 || c.steps > 1000;
    const testing::GreeksValues expected = testing::PlainTreeGreeks(c, vega, rho);
    for (const Parallelism parallelism : {Parallelism::kOneThread, Parallelism::kTwoThreads}) {
      Destinations out(123.0);
      TreeGreeksWorker(c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag, vega, rho,
                       out.Get(), parallelism);
      for (int n = 0; n < 10; ++n) {
        EXPECT_PRED2(Identical, out.values()[n], expected.values[n]) << "destination " << n;
      }
    }
    if (HasFailure()) return;
  }
}

TEST(TreeImpliedVolatility, SameDoublesAsPlainSearch) {
  std::mt19937_64 random(9003);
  for (const TreeInputs& c : RandomTrees(40, 1, 90, 9004)) {
    for (const OptionSide side : {OptionSide::kCall, OptionSide::kPut}) {
      // Targets the tree reaches, and ones it does not.
      const double vol = std::uniform_real_distribution<double>(0.05, 1.2)(random);
      TreeWorkspace w;
      const TreeNodes n =
          PriceTreePlain(w, c.s, c.k, c.r, c.t, vol, c.q, c.model, c.rf, c.steps, c.flag);
      for (const double target :
           {side == OptionSide::kCall ? n.call[0][0] : n.put[0][0], 0.0, 1e9, std::nan("")}) {
        SCOPED_TRACE(::testing::Message() << Describe(c) << " put=" << (side == OptionSide::kPut)
                                          << " target=" << target);
        double sigma = -1.0;
        TreeImpliedVolatility(c.s, c.k, c.r, c.t, c.q, c.model, c.rf, c.steps, c.flag, side, target,
                              &sigma);
        EXPECT_PRED2(Identical, sigma, testing::PlainTreeImpliedVolatility(c, side, target));
      }
    }
    if (HasFailure()) return;
  }
}

// The shortcut decides most midpoints from a few priced ones; it must land on the plain search's
// double every time: targets the tree reaches (also exactly at a midpoint, where only that
// midpoint's own price decides), ones it does not, and p outside [0, 1] at small volatilities.
TEST(TreeImpliedVolatility, ShortcutGivesThePlainSearchsDoubleOverThousandsOfCases) {
  std::mt19937_64 random(9011);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  auto check = [&](const TreeInputs& c, OptionSide side, double target, Parallelism parallelism) {
    double fast = -1.0;
    double plain = -2.0;
    TreeImpliedVolatility(c.s, c.k, c.r, c.t, c.q, c.model, c.rf, c.steps, c.flag, side, target,
                          &fast, parallelism);
    TreeImpliedVolatilityPlain(c.s, c.k, c.r, c.t, c.q, c.model, c.rf, c.steps, c.flag, side,
                               target, &plain);
    EXPECT_PRED2(Identical, fast, plain)
        << Describe(c) << " put=" << (side == OptionSide::kPut) << " target=" << target;
  };
  auto root = [](const TreeInputs& c, double vol, OptionSide side) {
    TreeWorkspace w;
    const TreeNodes n = PriceTree(w, c.s, c.k, c.r, c.t, vol, c.q, c.model, c.rf, c.steps, c.flag);
    return std::fabs(side == OptionSide::kCall ? n.call[0][0] : n.put[0][0]);
  };
  for (const TreeInputs& c : RandomTrees(700, 1, 140, 9012)) {
    for (const OptionSide side : {OptionSide::kCall, OptionSide::kPut}) {
      // A midpoint of the last halvings: 100 * j / 2^27.
      const double grid = 100.0 * std::floor(uniform(0.02, 1.5) * 0x1p27 / 100.0) / 0x1p27;
      const double targets[] = {root(c, uniform(0.02, 1.5), side), root(c, grid, side),
                                root(c, uniform(1e-4, 0.02), side), 0.0, 1e9, -1.0};
      check(c, side, targets[random() % 6], Parallelism::kOneThread);
      check(c, side, targets[random() % 3], Parallelism::kOneThread);
    }
    if (HasFailure()) return;
  }
  // Trees large enough for the cheap estimate and for pricing in pairs on two threads, and wide
  // enough for one tree to be rolled back by both.
  std::vector<TreeInputs> large = RandomTrees(6, 720, 900, 9013);
  for (const TreeInputs& c : RandomTrees(8, 1100, 2600, 9014)) large.push_back(c);
  for (const TreeInputs& c : large) {
    for (const OptionSide side : {OptionSide::kCall, OptionSide::kPut}) {
      check(c, side, root(c, uniform(0.05, 1.0), side), Parallelism::kTwoThreads);
    }
  }
}

// One tree rolled back by two threads gives the one-thread rollback's doubles: every side, both
// exercise styles, trees wide enough to be split and too narrow, inputs off the fast path.
TEST(TreeOnTwoThreads, SameDoublesAsOneThread) {
  for (const TreeInputs& c : RandomTrees(24, 300, 3000, 9020)) {
    const detail::TreeInputs in{c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag};
    for (const detail::TreeSides sides :
         {detail::TreeSides::kBoth, detail::TreeSides::kCall, detail::TreeSides::kPut}) {
      SCOPED_TRACE(::testing::Message() << Describe(c) << " sides=" << static_cast<int>(sides));
      TreeWorkspace one, mine, helper;
      const TreeNodes expected = detail::PriceTreeSides(one, in, sides, nullptr);
      const TreeNodes got = detail::PriceTreeSidesOnTwoThreads(mine, helper, in, sides, nullptr);
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          EXPECT_PRED2(Identical, got.call[i][j], expected.call[i][j]) << i << j;
          EXPECT_PRED2(Identical, got.put[i][j], expected.put[i][j]) << i << j;
        }
      }
    }
    if (HasFailure()) return;
  }
}

TEST(TreeSkewSearch, SameDoublesAsPlainSearchesOnOneAndTwoThreads) {
  std::mt19937_64 random(9005);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  const std::int32_t limits[] = {0, -2, 1, 4, 10, 26, 27, 60};
  for (int round = 0; round < 8; ++round) {
    // 24 searches of 60 steps and more: enough work for the helper thread.
    TreeInputs c = RandomTrees(1, 60, 90, 9100 + round)[0];
    const std::int32_t max_iter = limits[round];
    const bool puts = round % 4 != 3;
    std::vector<double> strikes, call_targets, put_targets;
    for (int i = 0; i < 12; ++i) {
      strikes.push_back(c.s * uniform(0.6, 1.5));
      TreeWorkspace w;
      const double vol = uniform(0.05, 1.0);
      const TreeNodes n = PriceTreePlain(w, c.s, strikes.back(), c.r, c.t, vol, c.q, c.model, c.rf,
                                         c.steps, c.flag);
      call_targets.push_back(i % 5 == 4 ? 0.0 : n.call[0][0]);
      put_targets.push_back(i % 7 == 6 ? 1e6 : n.put[0][0]);
    }
    for (const Parallelism parallelism : {Parallelism::kOneThread, Parallelism::kTwoThreads}) {
      SCOPED_TRACE(::testing::Message() << Describe(c) << " MaxIter=" << max_iter
                                        << " threads=" << static_cast<int>(parallelism) + 1);
      std::vector<double> calls(strikes.size(), -1.0), put_results(strikes.size(), -1.0);
      TreeWorkspace w(c.steps);
      TreeSkewSearch(w, c.s, strikes, c.r, c.t, c.q, c.model, c.rf, c.steps, c.flag, call_targets,
                     put_targets, max_iter, calls, put_results, puts, parallelism);
      for (std::size_t i = 0; i < strikes.size(); ++i) {
        TreeInputs at = c;
        at.k = strikes[i];
        EXPECT_PRED2(Identical, calls[i],
                     testing::PlainTreeSkewSearch(at, OptionSide::kCall, call_targets[i], max_iter))
            << "call " << i;
        if (puts) {
          EXPECT_PRED2(Identical, put_results[i],
                       testing::PlainTreeSkewSearch(at, OptionSide::kPut, put_targets[i], max_iter))
              << "put " << i;
        } else {
          EXPECT_EQ(put_results[i], -1.0) << "put " << i;
        }
      }
    }
  }
}

class TreeThreadsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ClearAbortRequest();
    testing::FailLargeAllocation(0, 0);
  }
};

// Runs `computation` on a thread and requests an abort after each delay. A run the abort ended
// (AbortSignal) leaves the request cleared, whichever thread saw it; `check` sees each run's
// outcome; no thread is left behind. Returns how many runs the abort ended.
int AbortAfterDelays(std::initializer_list<int> delays_ms, const std::function<void()>& computation,
                     const std::function<void(bool aborted)>& check) {
  int aborted = 0;
  for (const int delay_ms : delays_ms) {
    SCOPED_TRACE(::testing::Message() << "abort after " << delay_ms << " ms");
    std::atomic<bool> threw{false};
    std::thread caller([&] {
      try {
        computation();
      } catch (const AbortSignal&) {
        threw = true;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    RequestAbort();
    caller.join();
    if (threw) {
      ++aborted;
      EXPECT_EQ(AbortRequested.load(), 0);
    }
    ClearAbortRequest();
    check(threw);
    EXPECT_TRUE(kx::testing::ProcessThreadsBackToIdle());
  }
  return aborted;
}

TEST_F(TreeThreadsTest, AbortDuringGreeksStopsBothThreadsAndLeavesAPrefix) {
  const std::int32_t steps = 3000;
  Destinations reference(0.0);
  TreeGreeksWorker(100, 95, 0.05, 1, 0.25, 0.01, 1, 0, steps, kAmerican, true, true,
                   reference.Get());
  Destinations out(123.0);
  const int aborted = AbortAfterDelays(
      {0, 2, 6, 12, 25},
      [&] {
        out = Destinations(123.0);
        TreeGreeksWorker(100, 95, 0.05, 1, 0.25, 0.01, 1, 0, steps, kAmerican, true, true,
                         out.Get());
      },
      [&](bool threw) {
        int written = 0;
        while (written < 10 && out.values()[written] != 123.0) ++written;
        for (int n = 0; n < written; ++n) EXPECT_EQ(out.values()[n], reference.values()[n]) << n;
        for (int n = written; n < 10; ++n) EXPECT_EQ(out.values()[n], 123.0) << n;
        if (!threw) {
          EXPECT_EQ(written, 10);
        }
      });
  EXPECT_GT(aborted, 0);
}

TEST_F(TreeThreadsTest, AbortOrStopDuringATreeOnTwoThreadsEndsBothThreads) {
  const detail::TreeInputs in{100, 95, 0.05, 1, 0.25, 0.01, 1, 0, 5000, kAmerican};
  TreeWorkspace mine(5000), helper(5000);
  EXPECT_GT(AbortAfterDelays(
                {0, 1, 2, 4, 8},
                [&] {
                  (void)detail::PriceTreeSidesOnTwoThreads(mine, helper, in,
                                                           detail::TreeSides::kBoth, nullptr);
                },
                [](bool) {}),
            0);
  // The stop of an enclosing two-thread computation ends it as well.
  std::atomic<bool> stop{true};
  EXPECT_THROW(
      (void)detail::PriceTreeSidesOnTwoThreads(mine, helper, in, detail::TreeSides::kPut, &stop),
      detail::StopRequested);
  EXPECT_TRUE(kx::testing::ProcessThreadsBackToIdle());
}

TEST_F(TreeThreadsTest, FailedAllocationOfTheHelperReachesTheCaller) {
  Destinations reference(0.0);
  TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 2000, kEuropean, true, true, reference.Get());
  // The checkpoints of the caller's workspace are the first allocation above 512 KB, those of the
  // helper's the second.
  Destinations out(123.0);
  testing::FailLargeAllocation(512u << 10, 1);
  EXPECT_THROW(
      TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 2000, kEuropean, true, true, out.Get()),
      std::bad_alloc);
  testing::FailLargeAllocation(0, 0);
  int written = 0;
  while (written < 10 && out.values()[written] != 123.0) ++written;
  EXPECT_LE(written, 8);  // the rhos need the helper's tree
  for (int n = 0; n < written; ++n) EXPECT_EQ(out.values()[n], reference.values()[n]) << n;
  EXPECT_TRUE(kx::testing::ProcessThreadsBackToIdle());

  // The skew search's helper allocates its workspace only when searches are left for it. The
  // caller alone would need several seconds for these (a thousand trees of 5000 steps), so the
  // helper finds some however late it starts, and its failure stops the caller at the next row.
  const std::int32_t steps = 5000;
  std::vector<double> strikes, targets;
  for (int i = 0; i < 64; ++i) {
    strikes.push_back(40 + 1.5 * i);
    targets.push_back(std::max(50.0 - 0.7 * i, 0.5));
  }
  std::vector<double> calls(strikes.size()), puts(strikes.size());
  TreeWorkspace w(steps);
  bool failed = false;
  // A helper that still found nothing left is no failure: the search must then be complete.
  for (int attempt = 0; attempt < 3 && !failed; ++attempt) {
    SCOPED_TRACE(::testing::Message() << "attempt " << attempt);
    std::fill(calls.begin(), calls.end(), -1.0);
    std::fill(puts.begin(), puts.end(), -1.0);
    bool threw = false;
    testing::FailLargeAllocation(512u << 10, 0);
    try {
      TreeSkewSearch(w, 100, strikes, 0.05, 1, 0, 1, 0, steps, kEuropean, targets, targets, 0,
                     calls, puts, true);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    failed = !testing::LargeAllocationFailurePending();
    testing::FailLargeAllocation(0, 0);
    EXPECT_EQ(threw, failed);
    if (!failed) {
      for (std::size_t i = 0; i < strikes.size(); ++i) {
        EXPECT_NE(calls[i], -1.0) << "call " << i;
        EXPECT_NE(puts[i], -1.0) << "put " << i;
      }
    }
    EXPECT_TRUE(kx::testing::ProcessThreadsBackToIdle());
  }
  EXPECT_TRUE(failed) << "the helper never had a search to allocate for";

  // And the next computation runs normally.
  const std::span<const double> few(strikes.data() + 30, 2), few_targets(targets.data() + 30, 2);
  std::vector<double> reference_calls(2), reference_puts(2), next_calls(2, -1.0),
      next_puts(2, -1.0);
  TreeSkewSearch(w, 100, few, 0.05, 1, 0, 1, 0, steps, kEuropean, few_targets, few_targets, 3,
                 reference_calls, reference_puts, true, Parallelism::kOneThread);
  TreeSkewSearch(w, 100, few, 0.05, 1, 0, 1, 0, steps, kEuropean, few_targets, few_targets, 3,
                 next_calls, next_puts, true);
  for (int i = 0; i < 2; ++i) {
    EXPECT_PRED2(Identical, next_calls[i], reference_calls[i]) << "call " << i;
    EXPECT_PRED2(Identical, next_puts[i], reference_puts[i]) << "put " << i;
  }
}

TEST_F(TreeThreadsTest, AbortDuringSkewStopsBothThreads) {
  const std::int32_t steps = 400;
  std::vector<double> strikes, targets;
  for (int i = 0; i < 16; ++i) {
    strikes.push_back(80 + 2.5 * i);
    targets.push_back(std::max(21.0 - 1.2 * i, 0.5));
  }
  std::vector<double> reference_calls(16), reference_puts(16);
  TreeWorkspace w(steps);
  TreeSkewSearch(w, 100, strikes, 0.05, 1, 0, 1, 0, steps, kAmerican, targets, targets, 0,
                 reference_calls, reference_puts, true, Parallelism::kOneThread);
  for (const int delay_ms : {1, 5, 20}) {
    SCOPED_TRACE(::testing::Message() << "abort after " << delay_ms << " ms");
    std::vector<double> calls(16, -1.0), puts(16, -1.0);
    std::thread caller([&] {
      try {
        TreeSkewSearch(w, 100, strikes, 0.05, 1, 0, 1, 0, steps, kAmerican, targets, targets, 0,
                       calls, puts, true);
      } catch (const AbortSignal&) {
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    RequestAbort();
    caller.join();
    ClearAbortRequest();
    for (int i = 0; i < 16; ++i) {
      EXPECT_TRUE(calls[i] == -1.0 || calls[i] == reference_calls[i]) << "call " << i;
      EXPECT_TRUE(puts[i] == -1.0 || puts[i] == reference_puts[i]) << "put " << i;
    }
    EXPECT_TRUE(kx::testing::ProcessThreadsBackToIdle());
  }
}

TEST(TreeSkewSearch, PeakMemoryAtMaximumStepsOnTwoThreadsIsUnder16MB) {
  const double strikes[] = {90, 110};
  const double targets[] = {14, 4};
  double calls[2], puts[2];
  testing::ResetAllocationPeak();
  {
    TreeWorkspace w(5000);
    // One pricing per search: four trees, two at a time.
    TreeSkewSearch(w, 100, strikes, 0.05, 1, 0, 1, 0, 5000, kAmerican, targets, targets, 1, calls,
                   puts, true);
  }
  const std::size_t peak = testing::AllocationPeakSinceReset();
  RecordProperty("peak_bytes", std::to_string(peak));
  EXPECT_GT(peak, TreeWorkspace::BytesFor(5000));  // the helper had a workspace of its own
  EXPECT_LT(peak, 16u << 20);
  // One halving: at sigma = 50 both prices are above their targets, so the bracket is [0, 50].
  for (const double v : calls) EXPECT_EQ(v, 25.0);
}

}  // namespace
}  // namespace kx::models
