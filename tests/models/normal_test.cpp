#include "kx/models/normal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "quoted.h"

namespace kx::models {
namespace {

using testing::Quoted;

TEST(CumulativeNormal, MatchesReferenceValues) {
  // Values of the 26.2.17 polynomial itself, not of the exact N(x).
  struct Case {
    double x;
    double expected;
    int decimals;
  };
  const Case cases[] = {
      {0.0, 0.50000000052481, 14},
      {1.0, 0.841344740437, 12},
      {-1.0, 0.158655259563, 12},
      {1.96, 0.975002174843, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "x = " << c.x);
    EXPECT_NEAR(CumulativeNormal(c.x), c.expected, Quoted(c.decimals));
  }
}

TEST(CumulativeNormal, ZeroIsNotExactlyOneHalf) {
  // The polynomial at k = 1 times the 15-digit density factor misses 1/2 by 5.2e-10.
  EXPECT_GT(CumulativeNormal(0.0), 0.5 + 5e-10);
}

TEST(CumulativeNormal, TailsAreSymmetricUpToOneRounding) {
  for (double x = 0.001; x < 12.0; x *= 1.37) {
    SCOPED_TRACE(::testing::Message() << "x = " << x);
    // The lower tail is 1 - N(x), so the sum is 1 up to the rounding of that subtraction.
    EXPECT_NEAR(CumulativeNormal(x) + CumulativeNormal(-x), 1.0,
                std::numeric_limits<double>::epsilon());
  }
}

TEST(CumulativeNormal, SaturatesExactlyFarOut) {
  EXPECT_EQ(CumulativeNormal(8.3), 1.0);
  EXPECT_EQ(CumulativeNormal(-8.3), 0.0);
  EXPECT_LT(CumulativeNormal(8.2), 1.0);
  EXPECT_GT(CumulativeNormal(-8.2), 0.0);
  EXPECT_EQ(CumulativeNormal(std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(CumulativeNormal(-std::numeric_limits<double>::infinity()), 0.0);
}

TEST(CumulativeNormal, NaNGivesNaN) {
  EXPECT_TRUE(std::isnan(CumulativeNormal(std::numeric_limits<double>::quiet_NaN())));
}

TEST(CumulativeNormal, StaysWithinPublishedErrorOfExactDistribution) {
  // 26.2.17 promises |error| < 7.5e-8; erfc gives the exact value to double precision.
  for (double x = -6.0; x <= 6.0; x += 0.0625) {
    SCOPED_TRACE(::testing::Message() << "x = " << x);
    EXPECT_NEAR(CumulativeNormal(x), 0.5 * std::erfc(-x / std::sqrt(2.0)), 7.5e-8);
  }
}

TEST(CumulativeNormal, IsMonotone) {
  double previous = 0.0;
  for (double x = -9.0; x <= 9.0; x += 0.01) {
    const double value = CumulativeNormal(x);
    ASSERT_GE(value, previous) << "x = " << x;
    previous = value;
  }
}

TEST(NormalDensity, UsesFifteenDigitFactor) {
  EXPECT_EQ(NormalDensity(0.0), 0.398942280401433);
  EXPECT_EQ(NormalDensity(1.5), NormalDensity(-1.5));
  EXPECT_NEAR(NormalDensity(1.0), 0.24197072451914337, 1e-15);
}

TEST(NormalValuesAt, SameDoublesAsCumulativeNormalAndDensity) {
  auto identical = [](double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
  };
  std::mt19937_64 random(5);
  std::vector<double> xs = {0.0,
                            -0.0,
                            1e-300,
                            -1e-300,
                            38.5,
                            -38.5,
                            40.0,
                            -40.0,
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::nan("")};
  for (int n = 0; n < 3000; ++n) xs.push_back(std::normal_distribution<double>(0.0, 3.0)(random));
  for (const double x : xs) {
    SCOPED_TRACE(::testing::Message() << "x = " << x);
    const NormalValues v = NormalValuesAt(x);
    EXPECT_PRED2(identical, v.cdf, CumulativeNormal(x));
    EXPECT_PRED2(identical, v.cdf_of_minus, CumulativeNormal(-x));
    EXPECT_PRED2(identical, v.density, NormalDensity(x));
  }
}

}  // namespace
}  // namespace kx::models
