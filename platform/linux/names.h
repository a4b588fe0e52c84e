#pragma once
// Member, type and storage element names compare as the runtime's clients expect: ignoring the
// case of ASCII letters (internal).
#include <algorithm>
#include <cstddef>
#include <string_view>

#include "kx/platform/bstr.h"

namespace kx::platform::internal {

constexpr char16_t FoldCase(char16_t c) noexcept {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

inline bool SameName(std::u16string_view a, std::u16string_view b) noexcept {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

// b is null-terminated; a null b names nothing.
inline bool SameName(std::u16string_view a, LPCOLESTR b) noexcept {
  if (!b) return false;
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == 0 || FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return b[i] == 0;
}

}  // namespace kx::platform::internal
