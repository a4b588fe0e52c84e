#pragma once
// Length-prefixed UTF-16 texts. The 32-bit byte length sits just before the
// characters and a terminating zero follows them; embedded zeros are allowed.
#include <string>
#include <string_view>

#include "kx/platform/hresult.h"

namespace kx::platform {

using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// A UTF-16 text where an interface takes an OLECHAR one: the same type here, a cast on Windows.
inline LPOLESTR OleText(char16_t* text) noexcept { return text; }
inline LPCOLESTR OleText(const char16_t* text) noexcept { return text; }
inline const char16_t* U16Text(LPCOLESTR text) noexcept { return text; }

[[nodiscard]] BSTR SysAllocString(LPCOLESTR text) noexcept;            // nullptr in, nullptr out
[[nodiscard]] BSTR SysAllocStringLen(LPCOLESTR text, UINT length) noexcept;  // text may be null
[[nodiscard]] BSTR SysAllocStringByteLen(const char* bytes, UINT byte_length) noexcept;
void SysFreeString(BSTR text) noexcept;                                 // null is ignored
[[nodiscard]] UINT SysStringLen(BSTR text) noexcept;                    // 0 for null
[[nodiscard]] UINT SysStringByteLen(BSTR text) noexcept;

// Task memory, freed by whichever side receives it (for example ProgIDFromCLSID's text).
[[nodiscard]] void* CoTaskMemAlloc(std::size_t bytes) noexcept;
void CoTaskMemFree(void* block) noexcept;

// UTF-8 is the narrow code page here. Invalid sequences become U+FFFD.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view text);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view text);
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
  Bstr(const Bstr& other) noexcept : s_(other.s_ ? SysAllocStringLen(other.s_, other.size()) : nullptr) {}
  Bstr(Bstr&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
  Bstr& operator=(Bstr other) noexcept { std::swap(s_, other.s_); return *this; }
  ~Bstr() { SysFreeString(s_); }

  [[nodiscard]] BSTR get() const noexcept { return s_; }
  [[nodiscard]] BSTR* put() noexcept { SysFreeString(s_); s_ = nullptr; return &s_; }
  [[nodiscard]] BSTR Detach() noexcept { BSTR s = s_; s_ = nullptr; return s; }
  [[nodiscard]] UINT size() const noexcept { return SysStringLen(s_); }
  [[nodiscard]] std::u16string_view view() const noexcept { return {s_ ? s_ : u"", size()}; }
  [[nodiscard]] std::string Utf8() const { return Utf16ToUtf8(view()); }

 private:
  BSTR s_ = nullptr;
};

}  // namespace kx::platform
