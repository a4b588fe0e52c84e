#pragma once
// BSTRs are the system's (oleaut32); the component's char16_t texts are accepted as they are.
#include <string>
#include <string_view>
#include <utility>

#include "kx/platform/hresult.h"

namespace kx::platform {

using ::BSTR;
using ::LPCOLESTR;
using ::LPOLESTR;
using ::OLECHAR;

using ::CoTaskMemAlloc;
using ::CoTaskMemFree;
using ::SysAllocString;
using ::SysAllocStringByteLen;
using ::SysAllocStringLen;
using ::SysFreeString;
using ::SysStringByteLen;
using ::SysStringLen;

inline BSTR SysAllocString(const char16_t* text) noexcept { return ::SysAllocString(OleText(text)); }
inline BSTR SysAllocStringLen(const char16_t* text, UINT length) noexcept {
  return ::SysAllocStringLen(OleText(text), length);
}

// Invalid sequences become U+FFFD.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view text);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view text);
[[nodiscard]] inline std::string Utf16ToUtf8(std::wstring_view text) {
  return Utf16ToUtf8(std::u16string_view(U16Text(text.data()), text.size()));
}
[[nodiscard]] BSTR SysAllocStringUtf8(std::string_view text) noexcept;
[[nodiscard]] std::string BstrToUtf8(BSTR text);  // null gives ""

// Owns one BSTR; frees it through SysFreeString.
class Bstr {
 public:
  Bstr() noexcept = default;
  explicit Bstr(std::u16string_view text) noexcept
      : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  static Bstr Attach(BSTR owned) noexcept { Bstr b; b.s_ = owned; return b; }
  static Bstr FromUtf8(std::string_view text) noexcept { return Attach(SysAllocStringUtf8(text)); }
  Bstr(const Bstr& other) noexcept : s_(other.s_ ? ::SysAllocStringLen(other.s_, other.size()) : nullptr) {}
  Bstr(Bstr&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
  Bstr& operator=(Bstr other) noexcept { std::swap(s_, other.s_); return *this; }
  ~Bstr() { ::SysFreeString(s_); }

  [[nodiscard]] BSTR get() const noexcept { return s_; }
  [[nodiscard]] BSTR* put() noexcept { ::SysFreeString(s_); s_ = nullptr; return &s_; }
  [[nodiscard]] BSTR Detach() noexcept { BSTR s = s_; s_ = nullptr; return s; }
  [[nodiscard]] UINT size() const noexcept { return ::SysStringLen(s_); }
  [[nodiscard]] std::u16string_view view() const noexcept {
    return {s_ ? U16Text(s_) : u"", size()};
  }
  [[nodiscard]] std::string Utf8() const { return Utf16ToUtf8(view()); }

 private:
  BSTR s_ = nullptr;
};

}  // namespace kx::platform
