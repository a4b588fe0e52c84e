#pragma once
// Error information of the current thread: the system's (oleaut32).
#include "kx/platform/interfaces.h"

namespace kx::platform {

using ::CreateErrorInfo;
using ::GetErrorInfo;
using ::SetErrorInfo;

// Posts an error object with the given texts in one call (null texts are left unset).
// Returns DISP_E_EXCEPTION on success, or the failure code.
[[nodiscard]] HRESULT PostErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description) noexcept;
[[nodiscard]] inline HRESULT PostErrorInfo(REFGUID guid, const char16_t* source,
                                           const char16_t* description) noexcept {
  return PostErrorInfo(guid, OleText(source), OleText(description));
}

}  // namespace kx::platform
