#pragma once
// The registry helpers by UTF-8 text that both sides offer; each side's registry.h includes this
// after declaring HKEY. root is HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or an open key; paths use '\\'.
#include <string>
#include <string_view>

namespace kx::platform {

// ERROR_FILE_NOT_FOUND when the key or value is missing, ERROR_INVALID_DATA on a type mismatch.
[[nodiscard]] LSTATUS RegGetString(HKEY root, std::string_view path, std::string_view value_name,
                                   std::string* value);
[[nodiscard]] LSTATUS RegGetDword(HKEY root, std::string_view path, std::string_view value_name,
                                  DWORD* value);
// Creates the missing keys of path.
[[nodiscard]] LSTATUS RegSetString(HKEY root, std::string_view path, std::string_view value_name,
                                   std::string_view value);
[[nodiscard]] LSTATUS RegKeyExists(HKEY root, std::string_view path, bool* exists);

}  // namespace kx::platform
