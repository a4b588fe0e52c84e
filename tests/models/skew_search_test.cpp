#include "kx/models/skew_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "kx/models/abort.h"
#include "kx/models/bjerksund_stensland.h"
#include "kx/models/black_scholes.h"
#include "kx/models/implied_volatility.h"

namespace kx::models {
namespace {

bool Identical(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

struct Skew {
  double s, r, t, q, rf;
  std::int32_t model;
  std::vector<double> strikes, call_targets, put_targets;
};

// Strikes around S, targets the models reach and some they do not (0, huge, negative, NaN).
Skew RandomSkew(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  Skew skew{uniform(20, 150),
            uniform(0.001, 0.1),
            uniform(0.1, 2),
            uniform(0, 0.08),
            uniform(0, 0.08),
            static_cast<std::int32_t>(random() % 4),
            {},
            {},
            {}};
  const double odd[] = {0.0, 1e9, -1.0, std::nan("")};
  for (std::size_t i = 0; i < count; ++i) {
    const double k = skew.s * uniform(0.5, 1.6);
    const double vol = uniform(0.05, 1.5);
    skew.strikes.push_back(k);
    skew.call_targets.push_back(
        i % 9 == 8 ? odd[i % 4]
                   : BjeAmericanCall(skew.s, k, skew.r, skew.t, skew.q, skew.model, skew.rf, vol));
    skew.put_targets.push_back(
        i % 11 == 10 ? odd[(i + 1) % 4]
                     : BjeAmericanPut(skew.s, k, skew.r, skew.t, skew.q, skew.model, skew.rf, vol));
  }
  return skew;
}

TEST(GbsSkewSearch, SameDoublesAsElementByElementOnOneAndTwoThreads) {
  for (const std::int32_t max_iter : {0, -4, 1, 7, 27, 80}) {
    const Skew skew = RandomSkew(300, 500 + max_iter);  // 600 searches: two threads
    for (const Parallelism parallelism : {Parallelism::kOneThread, Parallelism::kTwoThreads}) {
      for (const bool puts : {true, false}) {
        SCOPED_TRACE(::testing::Message() << "MaxIter " << max_iter << ", puts " << puts
                                          << ", threads " << static_cast<int>(parallelism) + 1);
        std::vector<double> calls(skew.strikes.size(), -1.0), put_results(calls.size(), -1.0);
        GbsSkewSearch(skew.s, skew.strikes, skew.r, skew.t, skew.q, skew.call_targets,
                      skew.put_targets, max_iter, calls, put_results, puts, parallelism);
        for (std::size_t i = 0; i < calls.size(); ++i) {
          const double k = skew.strikes[i];
          const double call = BisectVolatility(
              [&](double v) { return GbsCall(1, skew.s, k, skew.r, 0.0, skew.t, skew.q, v); },
              skew.call_targets[i], max_iter, CompareMode::kSigned, AbortPolling::kOff);
          EXPECT_PRED2(Identical, calls[i], call) << "call " << i;
          if (!puts) {
            EXPECT_EQ(put_results[i], -1.0) << "put " << i;
            continue;
          }
          const double put = BisectVolatility(
              [&](double v) { return GbsPut(1, skew.s, k, skew.r, 0.0, skew.t, skew.q, v); },
              skew.put_targets[i], max_iter, CompareMode::kSigned, AbortPolling::kOff);
          EXPECT_PRED2(Identical, put_results[i], put) << "put " << i;
        }
      }
    }
  }
}

TEST(BjeSkewSearch, SameDoublesAsElementByElementOnOneAndTwoThreads) {
  for (const std::int32_t max_iter : {0, 3, 27}) {
    const Skew skew = RandomSkew(60, 700 + max_iter);
    for (const Parallelism parallelism : {Parallelism::kOneThread, Parallelism::kTwoThreads}) {
      SCOPED_TRACE(::testing::Message()
                   << "MaxIter " << max_iter << ", threads " << static_cast<int>(parallelism) + 1);
      std::vector<double> calls(skew.strikes.size()), puts(calls.size());
      BjeSkewSearch(skew.s, skew.strikes, skew.r, skew.t, skew.q, skew.model, skew.rf,
                    skew.call_targets, skew.put_targets, max_iter, calls, puts, true, parallelism);
      for (std::size_t i = 0; i < calls.size(); ++i) {
        const double k = skew.strikes[i];
        const double call = BisectVolatility(
            [&](double v) {
              return BjeAmericanCall(skew.s, k, skew.r, skew.t, skew.q, skew.model, skew.rf, v);
            },
            skew.call_targets[i], max_iter, CompareMode::kSigned, AbortPolling::kOff);
        const double put = BisectVolatility(
            [&](double v) {
              return BjeAmericanPut(skew.s, k, skew.r, skew.t, skew.q, skew.model, skew.rf, v);
            },
            skew.put_targets[i], max_iter, CompareMode::kSigned, AbortPolling::kOff);
        EXPECT_PRED2(Identical, calls[i], call) << "call " << i;
        EXPECT_PRED2(Identical, puts[i], put) << "put " << i;
      }
    }
  }
}

TEST(GbsSkewSearch, EmptyStrikesWriteNothing) {
  double call = 7.0, put = 7.0;
  GbsSkewSearch(100, {}, 0.05, 1, 0, {}, {}, 0, {&call, 1}, {&put, 1}, true);
  BjeSkewSearch(100, {}, 0.05, 1, 0, 1, 0, {}, {}, 0, {&call, 1}, {&put, 1}, true);
  EXPECT_EQ(call, 7.0);
  EXPECT_EQ(put, 7.0);
}

class SkewAbortTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearAbortRequest(); }
};

TEST_F(SkewAbortTest, PendingRequestStopsBothThreads) {
  const Skew skew = RandomSkew(200, 42);
  std::vector<double> reference_calls(200), reference_puts(200);
  BjeSkewSearch(skew.s, skew.strikes, skew.r, skew.t, skew.q, skew.model, skew.rf,
                skew.call_targets, skew.put_targets, 0, reference_calls, reference_puts, true,
                Parallelism::kOneThread);
  for (const Parallelism parallelism : {Parallelism::kOneThread, Parallelism::kTwoThreads}) {
    SCOPED_TRACE(::testing::Message() << "threads " << static_cast<int>(parallelism) + 1);
    std::vector<double> calls(200, -1.0), puts(200, -1.0);
    RequestAbort();
    EXPECT_THROW(
        BjeSkewSearch(skew.s, skew.strikes, skew.r, skew.t, skew.q, skew.model, skew.rf,
                      skew.call_targets, skew.put_targets, 0, calls, puts, true, parallelism),
        AbortSignal);
    EXPECT_EQ(AbortRequested.load(), 0);
    // No call search ends while the request is pending, and the thread that takes it raises the
    // stop flag before it throws, so each thread ends at most the search it is in and one put
    // search (which never polls) before it.
    int written = 0;
    for (std::size_t i = 0; i < 200; ++i) {
      EXPECT_TRUE(calls[i] == -1.0 || Identical(calls[i], reference_calls[i])) << "call " << i;
      EXPECT_TRUE(puts[i] == -1.0 || Identical(puts[i], reference_puts[i])) << "put " << i;
      written += (calls[i] != -1.0) + (puts[i] != -1.0);
    }
    if (parallelism == Parallelism::kOneThread) {
      EXPECT_EQ(written, 0);
    } else {
      EXPECT_LE(written, 4);
    }
  }
}

TEST_F(SkewAbortTest, AbortStopsBothThreadsAndKeepsFinishedResults) {
  const Skew skew = RandomSkew(1500, 43);
  std::vector<double> reference_calls(1500), reference_puts(1500);
  BjeSkewSearch(skew.s, skew.strikes, skew.r, skew.t, skew.q, skew.model, skew.rf,
                skew.call_targets, skew.put_targets, 0, reference_calls, reference_puts, true,
                Parallelism::kOneThread);
  int stopped = 0;
  for (const int delay_ms : {1, 4, 10}) {
    SCOPED_TRACE(::testing::Message() << "abort after " << delay_ms << " ms");
    std::vector<double> calls(1500, -1.0), puts(1500, -1.0);
    bool threw = false;
    std::thread caller([&] {
      try {
        BjeSkewSearch(skew.s, skew.strikes, skew.r, skew.t, skew.q, skew.model, skew.rf,
                      skew.call_targets, skew.put_targets, 0, calls, puts, true);
      } catch (const AbortSignal&) {
        threw = true;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    RequestAbort();
    caller.join();
    ClearAbortRequest();
    int missing = 0;
    for (std::size_t i = 0; i < 1500; ++i) {
      EXPECT_TRUE(calls[i] == -1.0 || Identical(calls[i], reference_calls[i])) << "call " << i;
      EXPECT_TRUE(puts[i] == -1.0 || Identical(puts[i], reference_puts[i])) << "put " << i;
      missing += (calls[i] == -1.0) + (puts[i] == -1.0);
    }
    if (threw) {
      ++stopped;
      EXPECT_GT(missing, 0);
    } else {
      EXPECT_EQ(missing, 0);
    }
  }
  EXPECT_GT(stopped, 0);
}

}  // namespace
}  // namespace kx::models
