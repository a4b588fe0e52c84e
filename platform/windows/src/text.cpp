// Text conversions and identities for the Windows side: UTF-8 <-> UTF-16 through the system,
// GUIDs as the registry writes them, result-code names.
#include <cstdio>
#include <string>

#include "kx/platform/activation.h"
#include "kx/platform/bstr.h"
#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"

namespace kx::platform {

std::u16string Utf8ToUtf16(std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
  return out;
}

BSTR SysAllocStringUtf8(std::string_view text) noexcept {
  try {
    const std::u16string wide = Utf8ToUtf16(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } catch (...) {
    return nullptr;
  }
}

std::string BstrToUtf8(BSTR text) {
  if (!text) return {};
  return Utf16ToUtf8(std::u16string_view(U16Text(text), ::SysStringLen(text)));
}

std::optional<GUID> ParseGuid(std::string_view text) noexcept {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  auto hex = [&](std::size_t at, int digits, std::uint64_t* out) {
    std::uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
      const char c = text[at + i];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return false;
      v = v * 16 + d;
    }
    *out = v;
    return true;
  };
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return std::nullopt;
  GUID g{};
  std::uint64_t v = 0;
  if (!hex(1, 8, &v)) return std::nullopt;
  g.Data1 = static_cast<unsigned long>(v);
  if (!hex(10, 4, &v)) return std::nullopt;
  g.Data2 = static_cast<unsigned short>(v);
  if (!hex(15, 4, &v)) return std::nullopt;
  g.Data3 = static_cast<unsigned short>(v);
  const std::size_t at[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!hex(at[i], 2, &v)) return std::nullopt;
    g.Data4[i] = static_cast<unsigned char>(v);
  }
  return g;
}

std::string FormatGuid(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid) noexcept {
  try {
    const std::u16string wide = Utf8ToUtf16(progid);
    return ::CLSIDFromProgID(OleText(wide.c_str()), clsid);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

const char* HresultName(HRESULT hr) noexcept {
  switch (hr) {
#define KX_NAME(code) \
  case code:          \
    return #code;
    KX_NAME(S_OK) KX_NAME(S_FALSE) KX_NAME(E_NOTIMPL) KX_NAME(E_NOINTERFACE) KX_NAME(E_POINTER)
    KX_NAME(E_ABORT) KX_NAME(E_FAIL) KX_NAME(E_UNEXPECTED) KX_NAME(E_ACCESSDENIED)
    KX_NAME(E_OUTOFMEMORY) KX_NAME(E_INVALIDARG) KX_NAME(CLASS_E_NOAGGREGATION)
    KX_NAME(CLASS_E_CLASSNOTAVAILABLE) KX_NAME(REGDB_E_CLASSNOTREG) KX_NAME(CO_E_CLASSSTRING)
    KX_NAME(DISP_E_MEMBERNOTFOUND) KX_NAME(DISP_E_PARAMNOTFOUND) KX_NAME(DISP_E_TYPEMISMATCH)
    KX_NAME(DISP_E_UNKNOWNNAME) KX_NAME(DISP_E_BADVARTYPE) KX_NAME(DISP_E_EXCEPTION)
    KX_NAME(DISP_E_OVERFLOW) KX_NAME(DISP_E_BADINDEX) KX_NAME(DISP_E_BADPARAMCOUNT)
    KX_NAME(DISP_E_PARAMNOTOPTIONAL) KX_NAME(TYPE_E_CANTLOADLIBRARY)
#undef KX_NAME
    default: {
      thread_local char buf[16];
      std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
      return buf;
    }
  }
}

}  // namespace kx::platform
