#include "kx/models/historical_volatility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kx/models/abort.h"
#include "quoted.h"

namespace kx::models {
namespace {

using testing::Quoted;

TEST(EstimateHistoricalVolatility, MatchesReferenceSeries) {
  struct Case {
    std::vector<double> prices;
    std::int32_t days;
    double expected;
    int decimals;
  };
  const Case cases[] = {
      {{100, 110, 121}, 252, 0.0, 15},       // equal returns: variance below 1e-9
      {{100, 110, 100}, 252, 2.13971, 5},    // returns ln 1.1 and -ln 1.1, mean 0
      {{50, 50, 50, 50, 50}, 367, 0.0, 15},  // constant series
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "prices " << c.prices[0] << ", " << c.prices[1] << ", " << c.prices[2]);
    EXPECT_NEAR(EstimateHistoricalVolatility(c.prices, c.days), c.expected, Quoted(c.decimals));
  }
}

TEST(EstimateHistoricalVolatility, ScalesWithSquareRootOfTradingDays) {
  const std::vector<double> prices = {100, 101.5, 99.8, 102.2, 103.0, 101.1};
  const double daily = EstimateHistoricalVolatility(prices, 1);
  EXPECT_GT(daily, 0.0);
  EXPECT_NEAR(EstimateHistoricalVolatility(prices, 252), daily * std::sqrt(252.0), 1e-15);
}

TEST(EstimateHistoricalVolatility, IgnoresPriceLevel) {
  std::vector<double> prices = {100, 101.5, 99.8, 102.2, 103.0, 101.1};
  const double base = EstimateHistoricalVolatility(prices, 252);
  for (double& p : prices) p *= 37.0;
  EXPECT_NEAR(EstimateHistoricalVolatility(prices, 252), base, 1e-12);
}

TEST(EstimateHistoricalVolatility, BadPricesGiveNonFiniteAndShortSeriesNaN) {
  EXPECT_FALSE(std::isfinite(EstimateHistoricalVolatility(std::vector<double>{100, 0, 100}, 252)));
  EXPECT_FALSE(std::isfinite(EstimateHistoricalVolatility(std::vector<double>{100, -5, 100}, 252)));
  EXPECT_TRUE(std::isnan(EstimateHistoricalVolatility(std::vector<double>{100, 110}, 252)));
}

TEST(EstimateHistoricalVolatilities, OneResultPerContiguousSeries) {
  // Three rows by four columns: the first index (time) varies fastest, so each series is a run.
  const std::vector<double> storage = {100, 110, 100, 50, 50, 50, 100, 110, 121, 10, 11, 10};
  std::vector<double> results(4, -1.0);
  EstimateHistoricalVolatilities(storage, 3, 252, results);
  EXPECT_NEAR(results[0], 2.13971, Quoted(5));
  EXPECT_EQ(results[1], 0.0);
  EXPECT_EQ(results[2], 0.0);
  EXPECT_NEAR(results[3], 2.13971, Quoted(5));
}

TEST(EstimateHistoricalVolatility, PendingAbortStopsIt) {
  const std::vector<double> prices = {100, 101, 102, 103};
  RequestAbort();
  EXPECT_THROW((void)EstimateHistoricalVolatility(prices, 252), AbortSignal);
  EXPECT_EQ(AbortRequested.load(), 0);
  std::vector<double> results(1, 7.0);
  RequestAbort();
  EXPECT_THROW(EstimateHistoricalVolatilities(prices, 4, 252, results), AbortSignal);
  EXPECT_EQ(results[0], 7.0);
  ClearAbortRequest();
}

}  // namespace
}  // namespace kx::models
