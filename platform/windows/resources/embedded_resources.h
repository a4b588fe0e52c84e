// The module's own resources (compiled in by windres from component/resources/korvanex.rc),
// found by type and id. BITMAP data is a packed DIB, without the .bmp file header.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "kx/platform/hresult.h"

namespace kx::component {

/// The bytes of one resource of the module that contains this function, or nothing.
[[nodiscard]] std::optional<std::span<const kx::platform::BYTE>> FindEmbeddedResource(
    std::string_view type, int id) noexcept;

/// A text resource (registration script) as characters.
[[nodiscard]] std::optional<std::string_view> FindEmbeddedText(std::string_view type,
                                                               int id) noexcept;

}  // namespace kx::component
