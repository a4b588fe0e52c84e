#include "kx/platform/guid.h"

#include <cstdio>

namespace kx::platform {
namespace {

int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly digits hex digits at text[pos]; false on any other character.
bool ReadHex(std::string_view text, std::size_t pos, int digits, std::uint64_t* value) noexcept {
  std::uint64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexValue(text[pos + static_cast<std::size_t>(i)]);
    if (d < 0) return false;
    v = v << 4 | static_cast<std::uint64_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

std::optional<GUID> ParseGuid(std::string_view text) noexcept {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
      text[14] != '-' || text[19] != '-' || text[24] != '-') {
    return std::nullopt;
  }
  GUID g;
  std::uint64_t v = 0;
  if (!ReadHex(text, 1, 8, &v)) return std::nullopt;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!ReadHex(text, 10, 4, &v)) return std::nullopt;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(text, 15, 4, &v)) return std::nullopt;
  g.Data3 = static_cast<std::uint16_t>(v);
  for (std::size_t i = 0; i < 8; ++i) {
    const std::size_t pos = i < 2 ? 20 + 2 * i : 25 + 2 * (i - 2);
    if (!ReadHex(text, pos, 2, &v)) return std::nullopt;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  return g;
}

std::string FormatGuid(const GUID& g) {
  char buffer[39];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

}  // namespace kx::platform
