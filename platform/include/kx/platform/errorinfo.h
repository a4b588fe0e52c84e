#pragma once
// Error information of the current thread: what a failing method posts and what its caller (or
// the generic Invoke) reads back. Each thread has its own slot; reading it empties it.
#include "kx/platform/interfaces.h"

namespace kx::platform {

// A new, empty error object; query it for IErrorInfo to post it. E_POINTER for null out.
[[nodiscard]] HRESULT CreateErrorInfo(ICreateErrorInfo** info) noexcept;
// Replaces the thread's error object (null clears it). E_INVALIDARG unless reserved is 0.
[[nodiscard]] HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) noexcept;
// Hands over and clears the thread's error object: S_OK with it, S_FALSE with null when none.
[[nodiscard]] HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) noexcept;

// Posts an error object with the given texts in one call (null texts are left unset).
// Returns DISP_E_EXCEPTION on success, as the platform's error helpers do, or the failure code.
[[nodiscard]] HRESULT PostErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description) noexcept;

}  // namespace kx::platform
