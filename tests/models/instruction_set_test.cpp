#include "kx/models/instruction_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "full_matrix_tree.h"
#include "kx/models/binomial.h"

namespace kx::models {
namespace {

constexpr InstructionSet kSets[] = {InstructionSet::kBaseline, InstructionSet::kAvx2,
                                    InstructionSet::kAvx512};

const char* Name(InstructionSet set) {
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

// The bits, so that +0 and -0 differ; any NaN equals any NaN.
bool Identical(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

void ExpectIdentical(const TreeNodes& actual, const TreeNodes& expected) {
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_PRED2(Identical, actual.call[k][i], expected.call[k][i])
          << "call [" << k << "][" << i << "]";
      EXPECT_PRED2(Identical, actual.put[k][i], expected.put[k][i])
          << "put [" << k << "][" << i << "]";
    }
  }
}

struct Inputs {
  double s, k, r, t, sigma, q, rf;
  std::int32_t model, steps, flag;
};

// Each test runs with every set the machine has, then goes back to the one it found.
class EverySet : public ::testing::Test {
 protected:
  void TearDown() override { SelectInstructionSet(initial_); }
  template <typename Check>
  void ForEachSet(Check check) {
    for (const InstructionSet set : kSets) {
      if (!SelectInstructionSet(set)) continue;
      SCOPED_TRACE(Name(set));
      check();
    }
  }
  InstructionSet initial_ = ActiveInstructionSet();
};

TEST(InstructionSet, BaselineAlwaysThereAndSelectionSticks) {
  const InstructionSet initial = ActiveInstructionSet();
  EXPECT_TRUE(InstructionSetSupported(InstructionSet::kBaseline));
  // The set chosen at start-up is the widest one the processor has.
  for (const InstructionSet set : kSets) {
    if (InstructionSetSupported(set)) {
      EXPECT_GE(static_cast<int>(initial), static_cast<int>(set));
    }
  }
  for (const InstructionSet set : kSets) {
    SCOPED_TRACE(Name(set));
    const bool supported = InstructionSetSupported(set);
    const InstructionSet before = ActiveInstructionSet();
    EXPECT_EQ(SelectInstructionSet(set), supported);
    EXPECT_EQ(ActiveInstructionSet(), supported ? set : before);
  }
  SelectInstructionSet(initial);
}

// Scales from deep in the subnormal range (every value of the tree on the fringe, halfway cases of
// the rounding to subnormals included) to near overflow, odd and degenerate parameters.
std::vector<Inputs> RandomInputs(int count, std::int32_t max_steps, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::vector<Inputs> cases;
  for (int n = 0; n < count; ++n) {
    const double scales[] = {1.0, 1.0, std::pow(10.0, -uniform(290, 323)),
                             std::pow(10.0, uniform(100, 300)), std::pow(2.0, -1022 - pick(20))};
    const double scale = scales[pick(5)];
    Inputs c{};
    c.s = uniform(1, 300) * scale;
    c.k = pick(5) == 0 ? c.s : uniform(1, 300) * scale;
    c.r = pick(6) == 0 ? 1e-8 : uniform(-0.03, 0.15);
    c.t = uniform(0.01, 4);
    const double sigmas[] = {0.0,
                             -0.2,
                             1e-13,
                             1e-4,
                             std::nan(""),
                             uniform(0.01, 2.0),
                             uniform(2, 100),
                             uniform(0.05, 0.6),
                             uniform(0.05, 0.6)};
    c.sigma = sigmas[pick(9)];
    c.q = uniform(0, 0.2);
    c.rf = uniform(0, 0.2);
    c.model = pick(5);
    c.steps = pick(4) == 0 ? 1 + pick(4) : 1 + pick(max_steps);
    c.flag = pick(3);
    cases.push_back(c);
  }
  return cases;
}

TEST_F(EverySet, PriceTreeGivesThePlainDoublesOverRandomInputs) {
  TreeWorkspace plain, fast;
  for (const Inputs& c : RandomInputs(2500, 300, 7001)) {
    SCOPED_TRACE(::testing::Message()
                 << "S=" << c.s << " K=" << c.k << " r=" << c.r << " T=" << c.t
                 << " sigma=" << c.sigma << " q=" << c.q << " rf=" << c.rf << " model=" << c.model
                 << " N=" << c.steps << " flag=" << c.flag);
    const TreeNodes expected =
        PriceTreePlain(plain, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag);
    ForEachSet([&] {
      ExpectIdentical(
          PriceTree(fast, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag),
          expected);
    });
    if (HasFailure()) return;
  }
}

TEST_F(EverySet, PriceTreeGivesThePlainDoublesOnLongTrees) {
  // Beyond about 1100 steps the values at the fringe of the tree decay through the subnormals, and
  // several checkpoint blocks and tiles meet.
  const Inputs cases[] = {
      {100, 100, 0.05, 1, 0.2, 0.02, 0, 1, 2200, kAmerican},
      {100, 100, 0.05, 1, 0.2, 0.02, 0, 1, 2200, kEuropean},
      {42, 40, 0.04, 0.75, 0.6, 0.08, 0, 1, 1500, kAmerican},
      {100, 130, 0.12, 3, 0.05, 0.0, 0, 0, 1711, kAmerican},
      {100, 70, 0.01, 2, 1.1, 0.0, 0.03, 3, 1290, kEuropean},
  };
  TreeWorkspace plain, fast;
  for (const Inputs& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "K=" << c.k << " sigma=" << c.sigma << " N=" << c.steps << " flag=" << c.flag);
    const TreeNodes expected =
        PriceTreePlain(plain, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag);
    ForEachSet([&] {
      ExpectIdentical(
          PriceTree(fast, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag),
          expected);
    });
  }
}

TEST(PriceTreePlain, SameDoublesAsFullMatrix) {
  TreeWorkspace w;
  for (const Inputs& c : RandomInputs(300, 120, 7002)) {
    SCOPED_TRACE(::testing::Message() << "S=" << c.s << " K=" << c.k << " sigma=" << c.sigma
                                      << " N=" << c.steps << " flag=" << c.flag);
    ExpectIdentical(
        PriceTreePlain(w, c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag),
        testing::FullMatrixTree(c.s, c.k, c.r, c.t, c.sigma, c.q, c.model, c.rf, c.steps, c.flag));
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace kx::models
