#include "kx/models/common.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kx/models/abort.h"

namespace kx::models {
namespace {

TEST(CostOfCarry, FollowsModelType) {
  struct Case {
    std::int32_t model;
    double expected;
  };
  // r = 0.05, q = 0.02, rf = 0.03.
  const Case cases[] = {{0, 0.05},        {1, 0.05 - 0.02}, {2, 0.0},
                        {3, 0.05 - 0.03}, {4, 0.05},        {-1, 0.05}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ModelType " << c.model);
    EXPECT_EQ(CostOfCarry(c.model, 0.05, 0.02, 0.03), c.expected);
  }
}

TEST(ClampRateAwayFromZero, MovesOnlyTheOpenBandAroundZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double r;
    double expected;
  };
  const Case cases[] = {{0.0, 1e-8},  {-0.0, 1e-8},   {5e-9, 1e-8},   {1e-8, 1e-8},
                        {2e-8, 2e-8}, {-5e-9, -1e-8}, {-1e-8, -1e-8}, {-0.05, -0.05},
                        {0.05, 0.05}, {9.99e-9, 1e-8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "r = " << c.r);
    EXPECT_EQ(ClampRateAwayFromZero(c.r), c.expected);
  }
  EXPECT_TRUE(std::isnan(ClampRateAwayFromZero(nan)));
}

class AbortRequestTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearAbortRequest(); }
};

TEST_F(AbortRequestTest, CheckAbortThrowsOnceAndClears) {
  EXPECT_NO_THROW(CheckAbort());
  RequestAbort();
  EXPECT_EQ(AbortRequested.load(), 1);
  EXPECT_THROW(CheckAbort(), AbortSignal);
  EXPECT_EQ(AbortRequested.load(), 0);
  EXPECT_NO_THROW(CheckAbort());
}

TEST_F(AbortRequestTest, ClearWithdrawsAPendingRequest) {
  RequestAbort();
  ClearAbortRequest();
  EXPECT_NO_THROW(CheckAbort());
}

TEST_F(AbortRequestTest, OnlyTheValueOneCountsAsRequest) {
  AbortRequested.store(2);
  EXPECT_NO_THROW(CheckAbort());
  EXPECT_EQ(AbortRequested.load(), 2);
}

}  // namespace
}  // namespace kx::models
