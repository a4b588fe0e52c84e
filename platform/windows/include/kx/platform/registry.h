#pragma once
// The system's registry (advapi32), with the seam's UTF-8 helpers over it. Paths use '\'.
#include <string>
#include <string_view>

#include "kx/platform/hresult.h"

namespace kx::platform {

using ::HKEY;
using ::RegCloseKey;
using ::RegDeleteTree;
using ::RegOpenKeyEx;

enum class RegistryScope { kUser, kMachine };

// Where this process's writes to HKEY_CLASSES_ROOT go, registration and its type library
// included: the machine's classes (the default, as regsvr32 registers, needing an administrator)
// or the user's, HKEY_CURRENT_USER\Software\Classes, which the system merges into the view of
// HKEY_CLASSES_ROOT for that user (type libraries through RegisterTypeLibForUser).
[[nodiscard]] LSTATUS SetRegistryWriteScope(RegistryScope scope) noexcept;
[[nodiscard]] RegistryScope RegistryWriteScope() noexcept;

}  // namespace kx::platform

#include "kx/platform/registry_text.h"  // RegGetString, RegGetDword, RegSetString, RegKeyExists
