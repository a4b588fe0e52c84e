#include "kx/calculator/key_filter.h"

#include <gtest/gtest.h>

namespace kx::calculator {
namespace {

TEST(FilterNumericKey, PassesOnlyBackspaceSignPointDigitsAndColon) {
  const std::u16string_view passing = u"\b-.0123456789:";
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    const auto key = static_cast<char16_t>(c);
    const bool expected = passing.find(key) != std::u16string_view::npos;
    ASSERT_EQ(FilterNumericKey(key), expected ? key : char16_t{0})
        << "key code " << static_cast<unsigned>(c);
  }
}

}  // namespace
}  // namespace kx::calculator
