#pragma once
// Class, interface and library identifiers in the platform's 16-byte layout.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx::platform {

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};
  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};

// Parses "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}" (braces required, hex digits of either case).
[[nodiscard]] std::optional<GUID> ParseGuid(std::string_view text) noexcept;
// Formats as "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}", upper-case, as the registry stores it.
[[nodiscard]] std::string FormatGuid(const GUID& g);

}  // namespace kx::platform

template <>
struct std::hash<kx::platform::GUID> {
  std::size_t operator()(const kx::platform::GUID& g) const noexcept {
    std::uint64_t h = g.Data1;
    h = h * 1000003u ^ g.Data2;
    h = h * 1000003u ^ g.Data3;
    for (auto b : g.Data4) h = h * 1000003u ^ b;
    return static_cast<std::size_t>(h);
  }
};
