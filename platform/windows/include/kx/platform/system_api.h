#pragma once
// The Windows side of the platform: every name of kx::platform is the system's own (windows.h,
// ole2.h, oleauto.h, ocidl.h, olectl.h); the headers beside this one only bring them into the
// namespace and add the few helpers the system lacks. Texts the component writes as char16_t
// (u"...") are UTF-16, as the system's OLECHAR (wchar_t here) is.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>

// The reference types are macros there; as types they can be named inside a namespace.
#undef REFIID
#undef REFCLSID
#undef REFGUID
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef const GUID& REFGUID;

// Codes and ids the component names with their namespace (kx::platform::S_OK) or declares
// itself are macros there; here they are constants.
#undef S_OK
#undef E_OUTOFMEMORY
#undef E_INVALIDARG
#undef DISPID_ABOUTBOX
#undef RPC_E_CALL_REJECTED
#undef E_FAIL
#undef DISPATCH_METHOD
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000EL);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057L);
inline constexpr DISPID DISPID_ABOUTBOX = -552;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005L);
inline constexpr WORD DISPATCH_METHOD = 1;

#include <cstdint>
#include <string>
#include <string_view>

namespace kx::platform {

using ::DISPATCH_METHOD;
using ::DISPID_ABOUTBOX;
using ::E_FAIL;
using ::E_INVALIDARG;
using ::E_OUTOFMEMORY;
using ::S_OK;

// The component's UTF-16 literals where the system wants an OLECHAR text.
inline LPOLESTR OleText(char16_t* text) noexcept { return reinterpret_cast<LPOLESTR>(text); }
inline LPCOLESTR OleText(const char16_t* text) noexcept {
  return reinterpret_cast<LPCOLESTR>(text);
}
inline const char16_t* U16Text(LPCOLESTR text) noexcept {
  return reinterpret_cast<const char16_t*>(text);
}

}  // namespace kx::platform
