#include "kx/models/binomial.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "full_matrix_tree.h"
#include "kx/models/abort.h"
#include "kx/models/black_scholes.h"
#include "kx/models/implied_volatility.h"
#include "quoted.h"

namespace kx::models {
namespace {

using testing::Quoted;

struct TreeCase {
  double s, k, r, t, sigma, q, rf;
  std::int32_t model, steps, flag;
};

// Equal as doubles, NaN equal to NaN (the bit patterns of two NaNs may differ).
bool SameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

void ExpectSameNodes(const TreeNodes& actual, const TreeNodes& expected) {
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_PRED2(SameDouble, actual.call[k][i], expected.call[k][i])
          << "call [" << k << "][" << i << "]";
      EXPECT_PRED2(SameDouble, actual.put[k][i], expected.put[k][i])
          << "put [" << k << "][" << i << "]";
    }
  }
}

std::vector<TreeCase> RandomCases(int count, std::int32_t max_steps, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::vector<TreeCase> cases;
  for (int n = 0; n < count; ++n) {
    TreeCase c{};
    c.s = uniform(1, 300);
    c.k = pick(5) == 0 ? c.s : uniform(1, 300);  // at the money now and then
    c.r = pick(6) == 0 ? 1e-8 : uniform(-0.02, 0.15);
    c.t = uniform(0.01, 4);
    const double sigmas[] = {0.0, 1e-13, 1e-9, 1e-4, uniform(0.01, 2.0), uniform(0.05, 0.6)};
    c.sigma = sigmas[pick(6)];
    c.q = uniform(0, 0.2);
    c.rf = uniform(0, 0.2);
    c.model = pick(5);  // 4: any other value
    const std::int32_t small[] = {1, 2, 3, 4};
    c.steps = pick(3) == 0 ? small[pick(4)] : 1 + pick(max_steps);
    c.flag = pick(3);  // 0 American; 1 and 2 European
    cases.push_back(c);
  }
  return cases;
}

TEST(PriceTree, SameDoublesAsFullMatrixOverRandomInputs) {
  TreeWorkspace shared(400);  // larger than any case: the stride of a bigger workspace is used
  for (const TreeCase& c : RandomCases(600, 400, 20240611)) {
    SCOPED_TRACE(::testing::Message()
                 << "S=" << c.s << " K=" << c.k << " r=" << c.r << " T=" << c.t
                 << " sigma=" << c.sigma << " q=" << c.q << " rf=" << c.rf << " model=" << c.model
                 << " N=" << c.steps << " flag=" << c.flag);
    const TreeNodes expected =
        testing::FullMatrixTree(c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag);
    TreeWorkspace own(c.steps);
    ExpectSameNodes(
        PriceTree(own, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag), expected);
    ExpectSameNodes(
        PriceTree(shared, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag),
        expected);
    if (HasFailure()) return;
  }
}

TEST(PriceTree, SameDoublesAsFullMatrixOnLargeAmericanTrees) {
  // Several checkpoint blocks, a last block cut short, and deep in-the-money early exercise.
  for (const std::int32_t steps : {997, 1200}) {
    for (const double k : {60.0, 100.0, 170.0}) {
      SCOPED_TRACE(::testing::Message() << "N=" << steps << " K=" << k);
      TreeWorkspace workspace(steps);
      ExpectSameNodes(
          PriceTree(workspace, 100, k, 0.06, 1.5, 0.35, 0.09, 1, 0.0, steps, kAmerican),
          testing::FullMatrixTree(100, k, 0.06, 1.5, 0.35, 0.09, 1, 0.0, steps, kAmerican));
    }
  }
}

TEST(PriceTree, GrowsWorkspaceOnDemand) {
  TreeWorkspace workspace;
  EXPECT_EQ(workspace.Capacity(), 0);
  const TreeNodes nodes = PriceTree(workspace, 100, 100, 0.05, 1, 0.2, 0, 1, 0, 50, kAmerican);
  EXPECT_EQ(workspace.Capacity(), 50);
  ExpectSameNodes(nodes, testing::FullMatrixTree(100, 100, 0.05, 1, 0.2, 0, 1, 0, 50, kAmerican));
  EXPECT_EQ(workspace.AllocatedBytes(), TreeWorkspace::BytesFor(50));
}

TEST(PriceTree, NoStepsGivesNaNWithoutTouchingMemory) {
  TreeWorkspace workspace;
  const TreeNodes nodes = PriceTree(workspace, 100, 100, 0.05, 1, 0.2, 0, 1, 0, 0, kAmerican);
  EXPECT_TRUE(std::isnan(nodes.call[0][0]));
  EXPECT_TRUE(std::isnan(nodes.put[0][0]));
  EXPECT_EQ(workspace.AllocatedBytes(), 0u);
}

TEST(TreeWorkspace, StaysFarBelowFullMatricesAtMaximumSteps) {
  EXPECT_LT(TreeWorkspace::BytesFor(5000), 8u << 20);
  TreeWorkspace workspace(5000);
  EXPECT_EQ(workspace.AllocatedBytes(), TreeWorkspace::BytesFor(5000));
}

TEST(TreeWorkspace, EndedWorkspacesServeTheNextWithTheSameDoublesAndTwoAreKeptAtMost) {
  auto price = [](TreeWorkspace& w) {
    return PriceTree(w, 100, 95, 0.05, 1, 0.3, 0.02, 1, 0, 800, kAmerican).put[0][0];
  };
  double cold = 0;
  {
    TreeWorkspace w(800);
    cold = price(w);
  }
  testing::ResetAllocationPeak();
  {
    TreeWorkspace w(500);  // takes the larger set, dirty
    EXPECT_EQ(w.Capacity(), 800);
    EXPECT_EQ(price(w), cold);
  }
  EXPECT_EQ(testing::AllocationPeakSinceReset(), 0u);
  { TreeWorkspace a(800), b(800), c(800); }
  testing::ResetAllocationPeak();
  { TreeWorkspace a(800), b(800), c(800); }
  EXPECT_EQ(testing::AllocationPeakSinceReset(), TreeWorkspace::BytesFor(800));
}

TEST(TreeGreeksWorker, PeakMemoryAtMaximumStepsIsUnder16MB) {
  double v[10];
  testing::ResetAllocationPeak();
  TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 5000, kAmerican, true, true,
                   {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]});
  const std::size_t peak = testing::AllocationPeakSinceReset();
  RecordProperty("peak_bytes", std::to_string(peak));
  EXPECT_GT(peak, 0u);
  EXPECT_LT(peak, 16u << 20);
  // Within CRR's O(1/N) distance of the 100-step reference American put.
  EXPECT_NEAR(v[1], 6.082354, 0.01);
}

struct GreeksRun {
  double values[10];
  TreeGreeksDestinations Destinations() {
    double* v = values;
    return {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]};
  }
};

TEST(TreeGreeksWorker, MatchesReferenceValues) {
  // S = K = 100, r = 0.05, T = 1, sigma = 0.2, q = 0, ModelType 1, N = 100; 6 decimals quoted.
  struct Case {
    std::int32_t flag;
    double expected[10];  // prices, deltas, thetas, gamma, vega, rhos
  };
  const Case cases[] = {
      {kEuropean,
       {10.430612, 5.553554, 0.636512, -0.363488, -6.445313, -1.686787, 0.018922, 37.439732,
        53.387672, -41.616466}},
      {kAmerican,
       {10.430612, 6.082354, 0.636512, -0.411636, -6.445313, -2.262600, 0.018922, 37.439732,
        53.387672, -29.957587}},
  };
  const char* names[] = {"CallPrice", "PutPrice", "CDelta", "PDelta", "CTheta",
                         "PTheta",    "Gamma",    "Vega",   "CRho",   "PRho"};
  for (const Case& c : cases) {
    GreeksRun run;
    TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 100, c.flag, true, true, run.Destinations());
    for (int n = 0; n < 10; ++n) {
      SCOPED_TRACE(::testing::Message() << "FlagEurAm " << c.flag << ", " << names[n]);
      EXPECT_NEAR(run.values[n], c.expected[n], Quoted(6));
    }
  }
}

TEST(TreeGreeksWorker, UnwantedVegaAndRhoAreExactlyZero) {
  GreeksRun run;
  std::fill(std::begin(run.values), std::end(run.values), 123.0);
  TreeGreeksWorker(100, 95, 0.05, 1, 0.2, 0, 1, 0, 60, kEuropean, false, false, run.Destinations());
  EXPECT_EQ(run.values[7], 0.0);
  EXPECT_EQ(run.values[8], 0.0);
  EXPECT_EQ(run.values[9], 0.0);
  for (int n = 0; n < 7; ++n) EXPECT_NE(run.values[n], 123.0) << "destination " << n;
}

TEST(TreeGreeksWorker, FlatVolatilityGivesSentinelsButStillThetas) {
  for (const double sigma : {0.0, 5e-13, -5e-13}) {
    SCOPED_TRACE(::testing::Message() << "sigma = " << sigma);
    GreeksRun run;
    TreeGreeksWorker(100, 95, 0.05, 1, sigma, 0, 1, 0, 30, kAmerican, true, true,
                     run.Destinations());
    EXPECT_EQ(run.values[2], kNotComputable);
    EXPECT_EQ(run.values[3], kNotComputable);
    EXPECT_EQ(run.values[6], kNotComputable);
    EXPECT_EQ(run.values[7], kNotComputable);
    EXPECT_NE(run.values[4], kNotComputable);
    EXPECT_NE(run.values[5], kNotComputable);
  }
  GreeksRun unwanted;
  TreeGreeksWorker(100, 95, 0.05, 1, 0.0, 0, 1, 0, 30, kAmerican, false, false,
                   unwanted.Destinations());
  EXPECT_EQ(unwanted.values[7], 0.0);
}

TEST(TreeGreeksWorker, OneStepTreeHasNoThetaOrGamma) {
  // Theta and gamma read step 2, which a one-step tree lacks: they are reported as not computable.
  GreeksRun run;
  TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 1, kAmerican, true, true, run.Destinations());
  EXPECT_EQ(run.values[4], kNotComputable);
  EXPECT_EQ(run.values[5], kNotComputable);
  EXPECT_EQ(run.values[6], kNotComputable);
  const TreeNodes full = testing::FullMatrixTree(100, 100, 0.05, 1, 0.2, 0, 1, 0, 1, kAmerican);
  EXPECT_EQ(run.values[0], full.call[0][0]);
  EXPECT_EQ(run.values[1], full.put[0][0]);
  const double u = std::exp(0.2);
  EXPECT_NEAR(run.values[2], (full.call[1][1] - full.call[0][1]) / (100 * (u - 1 / u)), 1e-15);
  // Two steps is the smallest tree with theta and gamma.
  GreeksRun two;
  TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 2, kAmerican, false, false, two.Destinations());
  EXPECT_NE(two.values[4], kNotComputable);
  EXPECT_FALSE(std::isnan(two.values[6]));
}

TEST(TreeGreeksWorker, NullDestinationsAreSkipped) {
  double call_price = 0.0;
  TreeGreeksDestinations out;
  out.call_price = &call_price;
  TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 100, kEuropean, true, true, out);
  EXPECT_NEAR(call_price, 10.430612, Quoted(6));
}

TEST(PriceTree, ModelTypeSelectsCarryOnly) {
  TreeWorkspace w(80);
  auto root = [&](std::int32_t model, double r, double q, double rf) {
    const TreeNodes n = PriceTree(w, 100, 97, r, 0.7, 0.3, q, model, rf, 80, kAmerican);
    return std::pair(n.call[0][0], n.put[0][0]);
  };
  // ModelType 0 ignores q; 2 has no carry but still discounts at r; 3 reads rf like 1 reads q.
  EXPECT_EQ(root(0, 0.05, 0.01, 0.02), root(0, 0.05, 0.3, 0.4));
  EXPECT_EQ(root(2, 0.05, 0.01, 0.02), root(1, 0.05, 0.05, 0.9));
  EXPECT_NE(root(2, 0.05, 0.01, 0.02), root(2, 0.07, 0.01, 0.02));
  EXPECT_EQ(root(3, 0.05, 0.01, 0.02), root(1, 0.05, 0.02, 0.7));
}

TEST(PriceTree, AmericanIsWorthAtLeastEuropean) {
  TreeWorkspace w(300);
  for (const TreeCase& c : RandomCases(60, 300, 77)) {
    if (!(c.sigma > 0.01)) continue;
    SCOPED_TRACE(::testing::Message() << "K=" << c.k << " N=" << c.steps << " model=" << c.model);
    const TreeNodes am = PriceTree(w, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, 0);
    const TreeNodes eu = PriceTree(w, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, 1);
    EXPECT_GE(am.call[0][0], eu.call[0][0]);
    EXPECT_GE(am.put[0][0], eu.put[0][0]);
  }
}

TEST(PriceTree, ConvergesToBlackScholes) {
  // CRR error shrinks like 1/N; compare even step counts, which share the oscillation phase.
  TreeWorkspace w(1600);
  const double call = GbsCall(1, 100, 105, 0.05, 0, 1, 0.02, 0.25);
  const double put = GbsPut(1, 100, 105, 0.05, 0, 1, 0.02, 0.25);
  double previous = 1e9;
  for (const std::int32_t steps : {100, 400, 1600}) {
    SCOPED_TRACE(::testing::Message() << "N = " << steps);
    const TreeNodes n = PriceTree(w, 100, 105, 0.05, 1, 0.25, 0.02, 1, 0, steps, kEuropean);
    const double error = std::fabs(n.call[0][0] - call);
    EXPECT_LT(error, previous);
    EXPECT_LT(error, 3.0 / steps);
    // The A&S N(x) is good to 7.5e-8, so BS itself is only that close to the true limit.
    EXPECT_LT(std::fabs(n.put[0][0] - put), 3.0 / steps + 1e-6);
    previous = error;
  }
}

TEST(TreeImpliedVolatility, RecoversAmericanPutVolatility) {
  double sigma = -1.0;
  TreeImpliedVolatility(100, 100, 0.05, 1, 0, 1, 0, 100, kAmerican, OptionSide::kPut, 6.082354,
                        &sigma);
  EXPECT_NEAR(sigma, 0.2000000328, 1e-6);  // the target itself is quoted to 6 decimals
  double exact = -1.0;
  GreeksRun run;
  TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 100, kAmerican, false, false,
                   run.Destinations());
  TreeImpliedVolatility(100, 100, 0.05, 1, 0, 1, 0, 100, kAmerican, OptionSide::kPut, run.values[1],
                        &exact);
  EXPECT_NEAR(exact, 0.2000000328, Quoted(10));
}

TEST(TreeImpliedVolatility, SmallTreesSearchOnTheirOwnStepCount) {
  // Up to 50 steps there is no coarse phase: the same as the plain search on an N-step tree.
  TreeWorkspace w(30);
  auto call = [&](double v) {
    return PriceTree(w, 100, 90, 0.04, 0.5, v, 0, 1, 0, 30, 0).call[0][0];
  };
  const double expected =
      BisectVolatility(call, 14.0, 0, CompareMode::kAbsolute, AbortPolling::kOff);
  double sigma = -1.0;
  TreeImpliedVolatility(100, 90, 0.04, 0.5, 0, 1, 0, 30, kAmerican, OptionSide::kCall, 14.0,
                        &sigma);
  EXPECT_EQ(sigma, expected);
}

TEST(TreeImpliedVolatility, CoarsePhaseStillFindsFullTreeVolatility) {
  TreeWorkspace w(200);
  for (const double vol : {0.15, 0.42, 1.3}) {
    SCOPED_TRACE(::testing::Message() << "sigma = " << vol);
    const TreeNodes n = PriceTree(w, 100, 110, 0.03, 2, vol, 0.01, 1, 0, 200, kAmerican);
    double call = -1.0, put = -1.0;
    TreeImpliedVolatility(100, 110, 0.03, 2, 0.01, 1, 0, 200, kAmerican, OptionSide::kCall,
                          n.call[0][0], &call);
    TreeImpliedVolatility(100, 110, 0.03, 2, 0.01, 1, 0, 200, kAmerican, OptionSide::kPut,
                          n.put[0][0], &put);
    EXPECT_NEAR(call, vol, 1e-6);
    EXPECT_NEAR(put, vol, 1e-6);
  }
}

TEST(TreeImpliedVolatility, UnreachableTargetsEndAtBracketEnds) {
  // 30 steps: with many more, S u^N overflows near sigma = 100 and the tree price becomes inf.
  double low = -1.0, high = -1.0;
  TreeImpliedVolatility(100, 100, 0.05, 1, 0, 1, 0, 30, kEuropean, OptionSide::kCall, 0.0, &low);
  TreeImpliedVolatility(100, 100, 0.05, 1, 0, 1, 0, 30, kEuropean, OptionSide::kCall, 1e6, &high);
  EXPECT_EQ(low, 0.0);
  EXPECT_EQ(high, 100.0 - 100.0 / (1 << 28));
}

TEST(TreeSkewSearch, TenIterationsGiveMidpointsOfTenHalvings) {
  const double strikes[] = {80, 100, 120};
  const double call_targets[] = {25, 10, 3};
  const double put_targets[] = {2, 6, 18};
  double calls[3], puts[3];
  TreeWorkspace w(40);
  TreeSkewSearch(w, 100, strikes, 0.05, 1, 0, 1, 0, 40, kAmerican, call_targets, put_targets, 10,
                 calls, puts, true);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(::testing::Message() << "strike " << strikes[i]);
    for (const double v : {calls[i], puts[i]}) {
      // After 10 halvings of [0, 100] the midpoint is an odd multiple of 100 / 2^11.
      const double units = v / (100.0 / 2048);
      EXPECT_EQ(units, std::round(units));
      EXPECT_EQ(static_cast<long>(units) % 2, 1);
    }
  }
}

TEST(TreeSkewSearch, RoundTripsEachStrikeAndSkipsPutsWhenNotWanted) {
  const double strikes[] = {85, 100, 130};
  const double vols[] = {0.3, 0.22, 0.5};
  double call_targets[3], put_targets[3];
  TreeWorkspace w(60);
  for (int i = 0; i < 3; ++i) {
    const TreeNodes n = PriceTree(w, 100, strikes[i], 0.05, 1, vols[i], 0.02, 1, 0, 60, kEuropean);
    call_targets[i] = n.call[0][0];
    put_targets[i] = n.put[0][0];
  }
  double calls[3], puts[3] = {7, 7, 7};
  TreeSkewSearch(w, 100, strikes, 0.05, 1, 0.02, 1, 0, 60, kEuropean, call_targets, put_targets, 0,
                 calls, puts, false);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(calls[i], vols[i], 1e-6) << "strike " << strikes[i];
    EXPECT_EQ(puts[i], 7.0);
  }
  TreeSkewSearch(w, 100, strikes, 0.05, 1, 0.02, 1, 0, 60, kEuropean, call_targets, put_targets, 0,
                 calls, puts, true);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(puts[i], vols[i], 1e-6) << "strike " << strikes[i];
}

class TreeAbortTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearAbortRequest(); }
};

TEST_F(TreeAbortTest, PendingRequestStopsBeforeAnyOutput) {
  GreeksRun run;
  std::fill(std::begin(run.values), std::end(run.values), 123.0);
  RequestAbort();
  EXPECT_THROW(TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, 50, kAmerican, true, true,
                                run.Destinations()),
               AbortSignal);
  for (const double v : run.values) EXPECT_EQ(v, 123.0);
  EXPECT_EQ(AbortRequested.load(), 0);

  double sigma = 123.0;
  RequestAbort();
  EXPECT_THROW(TreeImpliedVolatility(100, 100, 0.05, 1, 0, 1, 0, 50, kAmerican, OptionSide::kCall,
                                     10, &sigma),
               AbortSignal);
  EXPECT_EQ(sigma, 123.0);

  TreeWorkspace w(10);
  RequestAbort();
  EXPECT_THROW((void)PriceTree(w, 100, 100, 0.05, 1, 0.2, 0, 1, 0, 10, kEuropean), AbortSignal);
}

TEST_F(TreeAbortTest, AbortFromAnotherThreadKeepsWrittenOutputsOnly) {
  // Whenever the request lands, the destinations written so far hold their final values and the
  // rest keep what they held: the outputs form a prefix of the writing order.
  GreeksRun reference;
  const std::int32_t steps = 2500;
  TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, kAmerican, true, true,
                   reference.Destinations());
  for (const int delay_ms : {0, 5, 20, 60}) {
    SCOPED_TRACE(::testing::Message() << "abort after " << delay_ms << " ms");
    GreeksRun run;
    std::fill(std::begin(run.values), std::end(run.values), 123.0);
    std::atomic<bool> aborted{false};
    std::thread worker([&] {
      try {
        TreeGreeksWorker(100, 100, 0.05, 1, 0.2, 0, 1, 0, steps, kAmerican, true, true,
                         run.Destinations());
      } catch (const AbortSignal&) {
        aborted = true;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    RequestAbort();
    worker.join();
    ClearAbortRequest();
    int written = 0;
    while (written < 10 && run.values[written] != 123.0) ++written;
    for (int n = 0; n < written; ++n) EXPECT_EQ(run.values[n], reference.values[n]) << n;
    for (int n = written; n < 10; ++n) EXPECT_EQ(run.values[n], 123.0) << n;
    if (!aborted) {
      EXPECT_EQ(written, 10);
    }
  }
}

TEST_F(TreeAbortTest, SkewKeepsResultsOfFinishedSearches) {
  // The searches finish out of order on two threads: after an abort every result is either final
  // or untouched.
  const double strikes[] = {90, 100, 110, 120};
  const double targets[] = {15, 9, 5, 2};
  double reference[4];
  TreeWorkspace w(300);
  TreeSkewSearch(w, 100, strikes, 0.05, 1, 0, 1, 0, 300, kEuropean, targets, targets, 0, reference,
                 reference, false, Parallelism::kOneThread);
  for (const int delay_ms : {0, 3, 10}) {
    SCOPED_TRACE(::testing::Message() << "abort after " << delay_ms << " ms");
    double calls[4] = {-1, -1, -1, -1};
    std::thread worker([&] {
      try {
        TreeSkewSearch(w, 100, strikes, 0.05, 1, 0, 1, 0, 300, kEuropean, targets, targets, 0,
                       calls, calls, false);
      } catch (const AbortSignal&) {
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    RequestAbort();
    worker.join();
    ClearAbortRequest();
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(calls[i] == -1 || calls[i] == reference[i]) << i << ": " << calls[i];
    }
  }
}

}  // namespace
}  // namespace kx::models
