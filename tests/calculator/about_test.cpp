#include "kx/calculator/about.h"

#include <gtest/gtest.h>

namespace kx::calculator {
namespace {

TEST(AboutBoxText, ThanksTheTabStripToolkitThenGivesTheVersion) {
  const std::string text = AboutBoxText(kQtTabStrip, 1, 0, 0);
  const auto first_break = text.find("\r\n");
  ASSERT_NE(first_break, std::string::npos);
  EXPECT_NE(text.substr(0, first_break).find("Qt"), std::string::npos);
  EXPECT_TRUE(AboutBoxText(kWindowsTabStrip, 1, 0, 0).starts_with("Tab strip: the tab control"));
  EXPECT_EQ(text.substr(first_break), "\r\n\r\nProduct Version 1.0.0");
  EXPECT_EQ(text.find('\n'), first_break + 1);  // no bare line feeds
  const std::string later = AboutBoxText(kQtTabStrip, 2, 10, 3);
  EXPECT_TRUE(later.ends_with("\r\n\r\nProduct Version 2.10.3")) << later;
}

}  // namespace
}  // namespace kx::calculator
