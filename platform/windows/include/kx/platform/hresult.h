#pragma once
// Result codes and the basic scalar types: the system's own.
#include "kx/platform/system_api.h"

namespace kx::platform {

using ::BOOL;
using ::BYTE;
using ::DATE;
using ::DISPID;
using ::DWORD;
using ::HRESULT;
using ::LCID;
using ::LONG;
using ::MEMBERID;
using ::SCODE;
using ::SHORT;
using ::UINT;
using ::ULONG;
using ::USHORT;
using ::VARIANT_BOOL;
using ::WORD;

constexpr HRESULT MakeHresult(std::uint32_t v) noexcept { return static_cast<HRESULT>(v); }

// Symbolic name of a code for logs ("E_FAIL"), or "0x........".
[[nodiscard]] const char* HresultName(HRESULT hr) noexcept;

}  // namespace kx::platform
