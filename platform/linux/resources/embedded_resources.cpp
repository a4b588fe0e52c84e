#include "embedded_resources.h"

namespace kx::component {

std::optional<std::span<const kx::platform::BYTE>> FindEmbeddedResource(std::string_view type,
                                                                        int id) noexcept {
  for (const EmbeddedResource& r : EmbeddedResources()) {
    if (r.type == type && r.id == id) return r.data;
  }
  return std::nullopt;
}

std::optional<std::string_view> FindEmbeddedText(std::string_view type, int id) noexcept {
  const auto bytes = FindEmbeddedResource(type, id);
  if (!bytes) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

}  // namespace kx::component
