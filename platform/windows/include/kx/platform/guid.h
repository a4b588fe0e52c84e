#pragma once
// Class, interface and library identifiers: the system's GUID, with text conversions.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kx/platform/system_api.h"

namespace kx::platform {

using ::CLSID;
using ::GUID;
using ::IID;
using ::REFCLSID;
using ::REFGUID;
using ::REFIID;

inline constexpr GUID kGuidNull{};

// Parses "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}" (braces required, hex digits of either case).
[[nodiscard]] std::optional<GUID> ParseGuid(std::string_view text) noexcept;
// Formats as "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}", upper-case, as the registry stores it.
[[nodiscard]] std::string FormatGuid(const GUID& g);

}  // namespace kx::platform

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t h = g.Data1;
    h = h * 1000003u ^ g.Data2;
    h = h * 1000003u ^ g.Data3;
    for (auto b : g.Data4) h = h * 1000003u ^ b;
    return static_cast<std::size_t>(h);
  }
};
