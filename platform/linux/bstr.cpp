#include "kx/platform/bstr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "kx/platform/allocation.h"

namespace kx::platform {
namespace {

// Layout: [UINT byte length][characters][two zero bytes]. The prefix keeps the characters
// 4-byte aligned after malloc's alignment.
constexpr std::size_t kPrefix = sizeof(UINT);
constexpr std::size_t kTerminator = sizeof(OLECHAR);

BSTR AllocateBytes(const void* bytes, UINT byte_length) noexcept {
  if (byte_length > std::numeric_limits<UINT>::max() - kPrefix - kTerminator - 1) return nullptr;
  const std::size_t total = kPrefix + byte_length + kTerminator + 1;  // +1: an odd length still ends in a full zero OLECHAR
  auto* block = static_cast<unsigned char*>(detail::HeapAllocate(total));
  if (!block) return nullptr;
  std::memcpy(block, &byte_length, kPrefix);
  if (bytes) {
    std::memcpy(block + kPrefix, bytes, byte_length);
  } else {
    std::memset(block + kPrefix, 0, byte_length);
  }
  std::memset(block + kPrefix + byte_length, 0, kTerminator + 1);
  return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* BlockOf(BSTR text) noexcept { return reinterpret_cast<unsigned char*>(text) - kPrefix; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

BSTR SysAllocString(LPCOLESTR text) noexcept {
  if (!text) return nullptr;
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  if (n > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) noexcept {
  if (length > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
  return AllocateBytes(text, static_cast<UINT>(length * sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byte_length) noexcept {
  return AllocateBytes(bytes, byte_length);
}

void SysFreeString(BSTR text) noexcept {
  if (text) std::free(BlockOf(text));
}

UINT SysStringLen(BSTR text) noexcept { return SysStringByteLen(text) / sizeof(OLECHAR); }

UINT SysStringByteLen(BSTR text) noexcept {
  if (!text) return 0;
  UINT bytes = 0;
  std::memcpy(&bytes, BlockOf(text), kPrefix);
  return bytes;
}

void* CoTaskMemAlloc(std::size_t bytes) noexcept { return detail::HeapAllocate(bytes ? bytes : 1); }

void CoTaskMemFree(void* block) noexcept { std::free(block); }

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
      extra = 1; c = b0 & 0x1F; minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2; c = b0 & 0x0F; minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3; c = b0 & 0x07; minimum = 0x10000;
    } else {
      out.push_back(kReplacement);  // a stray continuation byte or an invalid lead byte
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j <= static_cast<std::size_t>(extra); ++j) {
      if (i + j >= n) break;
      const auto b = static_cast<unsigned char>(text[i + j]);
      if ((b & 0xC0) != 0x80) break;
      c = c << 6 | (b & 0x3F);
    }
    if (j <= static_cast<std::size_t>(extra)) {
      // Truncated sequence: replace what was consumed and resynchronise at the next byte.
      out.push_back(kReplacement);
      i += j;
      continue;
    }
    i += j;
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(kReplacement);  // overlong, out of range or an encoded surrogate
    } else {
      AppendUtf16(out, c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                         (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      AppendUtf8(out, c);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, kReplacement);  // an unpaired surrogate
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

BSTR SysAllocStringUtf8(std::string_view text) noexcept {
  try {
    const std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } catch (...) {
    return nullptr;  // no memory for the conversion
  }
}

std::string BstrToUtf8(BSTR text) {
  if (!text) return {};
  return Utf16ToUtf8(std::u16string_view(text, SysStringLen(text)));
}

}  // namespace kx::platform
