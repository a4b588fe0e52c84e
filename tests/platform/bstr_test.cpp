#include "kx/platform/bstr.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace kx::platform {
namespace {

TEST(SysStringLen, CountsCharactersIncludingEmbeddedZeros) {
  struct Row {
    std::u16string text;
    UINT chars;
  };
  const Row rows[] = {
      {u"", 0}, {u"a", 1}, {u"Korvane", 7}, {std::u16string(u"a\0b", 3), 3},
      {std::u16string(u"\0\0", 2), 2}, {u"\U0001D11E", 2},  // one character outside the BMP: two units
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "length " << row.chars);
    BSTR s = SysAllocStringLen(row.text.data(), static_cast<UINT>(row.text.size()));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), row.chars);
    EXPECT_EQ(SysStringByteLen(s), row.chars * 2);
    EXPECT_EQ(std::u16string(s, SysStringLen(s)), row.text);
    EXPECT_EQ(s[row.chars], u'\0') << "no terminating zero";
    SysFreeString(s);
  }
}

TEST(SysAllocString, StopsAtTheFirstZeroAndMapsNullToNull) {
  BSTR s = SysAllocString(u"ab\0cd");
  EXPECT_EQ(SysStringLen(s), 2u);
  SysFreeString(s);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);  // ignored
}

TEST(SysAllocStringLen, NullTextGivesZeroedCharacters) {
  BSTR s = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 4u);
  for (UINT i = 0; i <= 4; ++i) EXPECT_EQ(s[i], u'\0') << "index " << i;
  SysFreeString(s);
}

TEST(SysAllocStringLen, RefusesLengthsWhoseByteCountOverflows) {
  EXPECT_EQ(SysAllocStringLen(u"x", std::numeric_limits<UINT>::max()), nullptr);
  EXPECT_EQ(SysAllocStringLen(u"x", std::numeric_limits<UINT>::max() / 2 + 1), nullptr);
  EXPECT_EQ(SysAllocStringByteLen("x", std::numeric_limits<UINT>::max()), nullptr);
}

TEST(SysAllocStringByteLen, KeepsAnOddByteCount) {
  BSTR s = SysAllocStringByteLen("abc", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(SysStringLen(s), 1u);
  const auto* bytes = reinterpret_cast<const char*>(s);
  EXPECT_EQ(std::string(bytes, 3), "abc");
  EXPECT_EQ(bytes[3], '\0');
  EXPECT_EQ(bytes[4], '\0');
  SysFreeString(s);
}

TEST(Utf8ToUtf16, ConvertsValidTextAndReplacesInvalidSequences) {
  struct Row {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  };
  const Row rows[] = {
      {"ascii", "Base", u"Base"},
      {"two-byte", "\xC3\xA9", u"\u00E9"},
      {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
      {"four-byte", "\xF0\x9D\x84\x9E", u"\U0001D11E"},
      {"embedded zero", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"truncated", "a\xC3", u"a\uFFFD"},
      {"truncated then ascii", "\xE2\x82z", u"\uFFFDz"},
      {"stray continuation", "\x80x", u"\uFFFDx"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
      {"invalid lead byte", "\xFF", u"\uFFFD"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Utf8ToUtf16(row.utf8), row.utf16);
  }
}

TEST(Utf16ToUtf8, RoundTripsAndReplacesUnpairedSurrogates) {
  const std::string text = "Option \xE2\x82\xAC \xF0\x9D\x84\x9E end";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xDC00') + u"a"), "\xEF\xBF\xBD" "a");
}

TEST(BstrToUtf8, KeepsEmbeddedZerosAndMapsNullToEmpty) {
  BSTR s = SysAllocStringUtf8(std::string("x\0y", 3));
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(BstrToUtf8(s), std::string("x\0y", 3));
  SysFreeString(s);
  EXPECT_EQ(BstrToUtf8(nullptr), "");
}

TEST(Bstr, CopiesOwnAndMovesTransfer) {
  Bstr a(u"Error in BSCallPrice");
  Bstr b = a;
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(b.view(), u"Error in BSCallPrice");
  Bstr c = std::move(a);
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(c.Utf8(), "Error in BSCallPrice");
  BSTR raw = c.Detach();
  EXPECT_EQ(c.get(), nullptr);
  Bstr d = Bstr::Attach(raw);
  EXPECT_EQ(d.size(), 20u);
  *d.put() = SysAllocString(u"new");
  EXPECT_EQ(d.view(), u"new");
}

TEST(CoTaskMemAlloc, GivesUsableBlocksEvenForZeroBytes) {
  void* zero = CoTaskMemAlloc(0);
  EXPECT_NE(zero, nullptr);
  CoTaskMemFree(zero);
  auto* block = static_cast<char*>(CoTaskMemAlloc(16));
  ASSERT_NE(block, nullptr);
  block[15] = 'x';
  CoTaskMemFree(block);
  CoTaskMemFree(nullptr);
}

}  // namespace
}  // namespace kx::platform
