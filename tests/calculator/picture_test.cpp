#include "kx/calculator/picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kx::calculator {
namespace {

TEST(FormatPicture, WritesFourDecimalsForPrices) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0.0000"},
      {10.4505756193, "10.4506"},
      {5.5735180694, "5.5735"},
      {-0.4, "-0.4000"},
      {-999, "-999.0000"},  // the component's "not computable" value is shown as it is
      {0.00004, "0.0000"},
      {-0.00004, "0.0000"},  // rounds to zero: no minus sign
      {-0.00005, "-0.0001"},
      {0.99995, "1.0000"},
      {9.99995, "10.0000"},
      {1.00005, "1.0001"},  // 1.0000499999... in binary, 1.00005 to 15 digits
      {123456789.12345, "123456789.1235"},
      {1e20, "100000000000000000000.0000"},
      {1e-300, "0.0000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << c.value);
    EXPECT_EQ(FormatPicture(c.value, kPricePicture), c.text);
  }
}

TEST(FormatPicture, WritesTwoDecimalsForVolatilities) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0.00"},          {0.2000000328, "0.20"}, {0.125, "0.13"},
      {0.005, "0.01"},      {2.675, "2.68"},  // 2.67499999... in binary; 15 significant digits
                                              // first
      {99.99999, "100.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << c.value);
    EXPECT_EQ(FormatPicture(c.value, kVolatilityPicture), c.text);
  }
}

TEST(FormatPicture, HonoursTheIntegerDigitsOfThePicture) {
  EXPECT_EQ(FormatPicture(0.5, "#.00"), ".50");
  EXPECT_EQ(FormatPicture(7.25, "000.0"), "007.3");
  EXPECT_EQ(FormatPicture(7.5, "#0"), "8");
}

TEST(FormatPicture, NamesValuesThatAreNotNumbers) {
  EXPECT_EQ(FormatPicture(std::nan(""), kPricePicture), "nan");
  EXPECT_EQ(FormatPicture(std::numeric_limits<double>::infinity(), kPricePicture), "inf");
  EXPECT_EQ(FormatPicture(-std::numeric_limits<double>::infinity(), kPricePicture), "-inf");
}

}  // namespace
}  // namespace kx::calculator
