// The files of component/resources/, embedded in the module by the build (see
// embed_resources.cmake): each listed by the resource script with its type and id, plus the
// script itself as type "RC", id 0.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "kx/platform/hresult.h"

namespace kx::component {

struct EmbeddedResource {
  std::string_view type;
  int id = 0;
  std::span<const kx::platform::BYTE> data;  // a zero byte follows, for texts
};

[[nodiscard]] std::span<const EmbeddedResource> EmbeddedResources() noexcept;

/// The bytes of one resource, or nothing.
[[nodiscard]] std::optional<std::span<const kx::platform::BYTE>> FindEmbeddedResource(
    std::string_view type, int id) noexcept;

/// A text resource (type library, registration script, resource script) as characters.
[[nodiscard]] std::optional<std::string_view> FindEmbeddedText(std::string_view type,
                                                               int id) noexcept;

}  // namespace kx::component
