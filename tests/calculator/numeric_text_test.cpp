#include "kx/calculator/numeric_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace kx::calculator {
namespace {

using namespace std::chrono;

TEST(NumericValue, ReadsTheLongestLeadingNumber) {
  struct Case {
    std::u16string_view text;
    double value;
  };
  const Case cases[] = {
      {u"", 0},
      {u"   ", 0},
      {u"100", 100},
      {u"12.5", 12.5},
      {u"-3", -3},
      {u"+4", 4},
      {u".25", 0.25},
      {u"5.", 5},
      {u"-.5", -0.5},
      {u".", 0},
      {u"-", 0},
      {u"-.", 0},
      {u"--5", 0},
      {u"abc", 0},
      {u"7abc", 7},
      {u"12:30", 12},
      {u"1-2", 1},
      {u"1.2.3", 1.2},
      {u"1,5", 1},
      {u"0.03", 0.03},
      // Blanks are skipped wherever they stand, as the forms runtime reads numbers.
      {u" 1 00 ", 100},
      {u"\t7\r\n", 7},
      {u"- 2 . 5", -2.5},
      {u"1e3", 1000},
      {u"1E-2", 0.01},
      {u"2e+1", 20},
      {u"2e", 2},
      {u"2e-", 2},
      {u"2ex", 2},
      {u"0e999", 0},
      {u"1e-400", 0},
      {u"\u0663", 0},  // a non-Latin digit is not a digit here
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text #" << (&c - cases));
    const auto value = NumericValue(c.text);
    ASSERT_TRUE(value.has_value());
    EXPECT_DOUBLE_EQ(*value, c.value);
  }
}

TEST(NumericValue, TooLargeForADoubleIsAnError) {
  EXPECT_FALSE(NumericValue(u"1e400").has_value());
  EXPECT_FALSE(NumericValue(u"-1e400").has_value());
  EXPECT_FALSE(NumericValue(u"1" + std::u16string(400, u'0')).has_value());
  // The largest double itself still reads.
  EXPECT_EQ(NumericValue(u"1.7976931348623157e308"), std::numeric_limits<double>::max());
}

TEST(CalendarDays, CountsDateBoundaries) {
  struct Case {
    sys_days now, expiry;
    int days;
  };
  const Case cases[] = {
      {sys_days{2024y / 5 / 17}, sys_days{2024y / 5 / 17}, 0},
      {sys_days{2024y / 5 / 17}, sys_days{2025y / 5 / 17}, 365},
      {sys_days{2024y / 2 / 28}, sys_days{2024y / 3 / 1}, 2},  // leap day between
      {sys_days{2023y / 12 / 31}, sys_days{2024y / 1 / 1}, 1},
      {sys_days{2024y / 5 / 17}, sys_days{2024y / 5 / 10}, -7},  // a past expiry
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
    EXPECT_EQ(CalendarDays(c.now, c.expiry), c.days);
  }
}

TEST(RoundToInt16, RoundsTiesToEvenWithinSixteenBits) {
  struct Case {
    double value;
    int rounded;
  };
  const Case cases[] = {
      {50, 50},       {0.4, 0},         {0.5, 0},         {1.5, 2},
      {2.5, 2},       {3.5, 4},         {-2.5, -2},       {-3.5, -4},
      {32767, 32767}, {32767.4, 32767}, {-32768, -32768}, {-32768.5, -32768},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << c.value);
    const auto rounded = RoundToInt16(c.value);
    ASSERT_TRUE(rounded.has_value());
    EXPECT_EQ(*rounded, c.rounded);
  }
}

TEST(RoundToInt16, OutsideSixteenBitsIsAnError) {
  for (double value : {32767.5, 32768.0, 40000.0, -32768.6, -32769.0, 1e300,
                       std::numeric_limits<double>::infinity(), std::nan("")}) {
    SCOPED_TRACE(testing::Message() << "value " << value);
    EXPECT_FALSE(RoundToInt16(value).has_value());
  }
}

}  // namespace
}  // namespace kx::calculator
