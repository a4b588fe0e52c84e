#pragma once
// Apartments, class identities and object creation: the system's (ole32).
#include <string>
#include <string_view>

#include "kx/platform/bstr.h"
#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/unknown.h"

namespace kx::platform {

using ::CLSIDFromProgID;
using ::CLSIDFromString;
using ::CoCreateInstance;
using ::CoFreeUnusedLibraries;
using ::CoGetClassObject;
using ::CoInitialize;
using ::CoInitializeEx;
using ::CoUninitialize;
using ::ProgIDFromCLSID;
using ::StringFromCLSID;
using ::StringFromGUID2;

[[nodiscard]] HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid) noexcept;  // UTF-8
[[nodiscard]] inline HRESULT CLSIDFromProgID(const char16_t* progid, CLSID* clsid) noexcept {
  return ::CLSIDFromProgID(OleText(progid), clsid);
}

// Whether the module file at path (as registered) is loaded now; for tests and diagnostics.
[[nodiscard]] bool IsModuleLoaded(std::string_view path) noexcept;

}  // namespace kx::platform
