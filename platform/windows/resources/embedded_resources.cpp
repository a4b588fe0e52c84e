#include "embedded_resources.h"

#include "kx/platform/system_api.h"

namespace kx::component {

std::optional<std::span<const kx::platform::BYTE>> FindEmbeddedResource(std::string_view type,
                                                                        int id) noexcept {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&FindEmbeddedResource), &module);
  if (!module) return std::nullopt;
  // Standard types by their numbers; the others (REGISTRY, TYPELIB) are named types.
  std::wstring name(type.begin(), type.end());
  LPCWSTR kind = name.c_str();
  if (type == "BITMAP") kind = MAKEINTRESOURCEW(2);    // RT_BITMAP
  if (type == "ICON") kind = MAKEINTRESOURCEW(14);     // RT_GROUP_ICON
  if (type == "DIALOG") kind = MAKEINTRESOURCEW(5);    // RT_DIALOG
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), kind);
  if (!found) return std::nullopt;
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  return std::span<const kx::platform::BYTE>(static_cast<const kx::platform::BYTE*>(data),
                                             ::SizeofResource(module, found));
}

std::optional<std::string_view> FindEmbeddedText(std::string_view type, int id) noexcept {
  const auto bytes = FindEmbeddedResource(type, id);
  if (!bytes) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

}  // namespace kx::component
