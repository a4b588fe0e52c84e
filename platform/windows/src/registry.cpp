// The seam's UTF-8 registry helpers over the system's wide-character calls.
#include "kx/platform/registry.h"

#include <atomic>

#include "kx/platform/bstr.h"

namespace kx::platform {

namespace {

std::wstring Wide(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  return {wide.begin(), wide.end()};
}

// A null value name is the key's default value.
LSTATUS GetValue(HKEY root, std::string_view path, std::string_view value_name, DWORD flags,
                 void* data, DWORD* size) {
  const std::wstring key = Wide(path), name = Wide(value_name);
  return ::RegGetValueW(root, key.c_str(), name.empty() ? nullptr : name.c_str(), flags, nullptr,
                        data, size);
}

LSTATUS SetValue(HKEY root, std::string_view path, std::string_view value_name, DWORD type,
                 const void* data, DWORD size) {
  HKEY key = nullptr;
  LSTATUS status = ::RegCreateKeyExW(root, Wide(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  const std::wstring name = Wide(value_name);
  status = ::RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type,
                            static_cast<const BYTE*>(data), size);
  ::RegCloseKey(key);
  return status;
}

// RegGetValue reports a wrong type as ERROR_UNSUPPORTED_TYPE; the seam says ERROR_INVALID_DATA.
LSTATUS TypeChecked(LSTATUS status) {
  return status == ERROR_UNSUPPORTED_TYPE ? ERROR_INVALID_DATA : status;
}

}  // namespace

namespace {
std::atomic<RegistryScope> write_scope{RegistryScope::kMachine};
}  // namespace

LSTATUS SetRegistryWriteScope(RegistryScope scope) noexcept {
  HKEY classes = nullptr;
  if (scope == RegistryScope::kUser) {
    const LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &classes, nullptr);
    if (status != ERROR_SUCCESS) return status;
  }
  const LSTATUS status = ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
  if (classes) ::RegCloseKey(classes);
  if (status == ERROR_SUCCESS) write_scope = scope;
  return status;
}

RegistryScope RegistryWriteScope() noexcept { return write_scope; }

LSTATUS RegGetString(HKEY root, std::string_view path, std::string_view value_name,
                     std::string* value) {
  DWORD size = 0;
  LSTATUS status = GetValue(root, path, value_name, RRF_RT_REG_SZ, nullptr, &size);
  if (status != ERROR_SUCCESS) return TypeChecked(status);
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  status = GetValue(root, path, value_name, RRF_RT_REG_SZ, text.data(), &size);
  if (status != ERROR_SUCCESS) return TypeChecked(status);
  text.resize(size / sizeof(wchar_t) - 1);  // less its terminating zero
  *value = Utf16ToUtf8(std::wstring_view(text));
  return ERROR_SUCCESS;
}

LSTATUS RegGetDword(HKEY root, std::string_view path, std::string_view value_name, DWORD* value) {
  DWORD size = sizeof *value;
  return TypeChecked(GetValue(root, path, value_name, RRF_RT_REG_DWORD, value, &size));
}

LSTATUS RegSetString(HKEY root, std::string_view path, std::string_view value_name,
                     std::string_view value) {
  const std::wstring text = Wide(value);
  return SetValue(root, path, value_name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS RegKeyExists(HKEY root, std::string_view path, bool* exists) {
  HKEY key = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ, &key);
  *exists = status == ERROR_SUCCESS;
  if (*exists) ::RegCloseKey(key);
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace kx::platform
