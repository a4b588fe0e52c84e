#pragma once
// VARIANTs are the system's (oleaut32). Unlike the Linux side's, a plain VARIANT is not
// initialised by its declaration: declare it with {} or VariantInit it.
#include "kx/platform/bstr.h"
#include "kx/platform/hresult.h"
#include "kx/platform/safearray.h"

namespace kx::platform {

using ::VARIANT;
using ::VARIANTARG;

using ::VT_ARRAY;
using ::VT_BOOL;
using ::VT_BSTR;
using ::VT_BYREF;
using ::VT_CY;
using ::VT_DATE;
using ::VT_DECIMAL;
using ::VT_DISPATCH;
using ::VT_EMPTY;
using ::VT_ERROR;
using ::VT_HRESULT;
using ::VT_I1;
using ::VT_I2;
using ::VT_I4;
using ::VT_I8;
using ::VT_INT;
using ::VT_NULL;
using ::VT_R4;
using ::VT_R8;
using ::VT_TYPEMASK;
using ::VT_UI1;
using ::VT_UI2;
using ::VT_UI4;
using ::VT_UI8;
using ::VT_UINT;
using ::VT_UNKNOWN;
using ::VT_USERDEFINED;
using ::VT_VARIANT;
using ::VT_VOID;

using ::VariantChangeType;
using ::VariantClear;
using ::VariantCopy;
using ::VariantCopyInd;
using ::VariantInit;

// The Linux side's forms take the source as const; the system only reads it either way.
inline HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept {
  return ::VariantCopy(dest, const_cast<VARIANT*>(src));
}
inline HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) noexcept {
  return ::VariantCopyInd(dest, const_cast<VARIANT*>(src));
}
inline HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags,
                                 VARTYPE vt) noexcept {
  return ::VariantChangeType(dest, const_cast<VARIANT*>(src), flags, vt);
}

// Owns one VARIANT; clears it on destruction.
class Variant : public VARIANT {
 public:
  Variant() noexcept { ::VariantInit(this); }
  explicit Variant(double d) noexcept : Variant() { vt = VT_R8; dblVal = d; }
  explicit Variant(LONG l) noexcept : Variant() { vt = VT_I4; lVal = l; }
  explicit Variant(SHORT s) noexcept : Variant() { vt = VT_I2; iVal = s; }
  Variant(const Variant& other) noexcept : Variant() { (void)VariantCopy(this, &other); }
  Variant& operator=(const Variant& other) noexcept {
    if (this != &other) { (void)::VariantClear(this); (void)VariantCopy(this, &other); }
    return *this;
  }
  Variant(Variant&& other) noexcept : VARIANT(other) { ::VariantInit(&other); }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      (void)::VariantClear(this);
      static_cast<VARIANT&>(*this) = other;
      ::VariantInit(&other);
    }
    return *this;
  }
  ~Variant() { (void)::VariantClear(this); }
};

}  // namespace kx::platform
