#pragma once
// Self-describing automation values with the platform's VARTYPE numbering.
#include "kx/platform/bstr.h"
#include "kx/platform/hresult.h"
#include "kx/platform/safearray.h"

namespace kx::platform {

struct IUnknown;
struct IDispatch;

enum : VARTYPE {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6, VT_DATE = 7,
  VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12, VT_UNKNOWN = 13,
  VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20, VT_UI8 = 21,
  VT_INT = 22, VT_UINT = 23, VT_VOID = 24, VT_HRESULT = 25, VT_USERDEFINED = 29,
  VT_ARRAY = 0x2000, VT_BYREF = 0x4000, VT_TYPEMASK = 0x0FFF,
};

struct VARIANT;
using VARIANTARG = VARIANT;

struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  WORD wReserved1 = 0, wReserved2 = 0, wReserved3 = 0;
  union {
    std::int64_t llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
    std::int32_t intVal;
    std::uint32_t uintVal;
    std::uint32_t ulVal;
    std::uint16_t uiVal;
  };
  VARIANT() noexcept : llVal(0) {}
};
static_assert(sizeof(VARIANT) == 16);

// VariantChangeType flags.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x1;  // do not read an object's default property
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;    // VT_BOOL to text as "True"/"False", not "-1"/"0"

void VariantInit(VARIANT* v) noexcept;
// Frees what the VARIANT owns (a text, an array, a reference on an object), never what a
// VT_BYREF value points at, and leaves it VT_EMPTY.
[[nodiscard]] HRESULT VariantClear(VARIANT* v) noexcept;
[[nodiscard]] HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept;
// Copies and follows one level of VT_BYREF.
[[nodiscard]] HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) noexcept;
// Coercions among VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL, VT_BSTR (numbers written and
// read in the "C" locale) and VT_ERROR; DISP_E_TYPEMISMATCH when no conversion exists,
// DISP_E_OVERFLOW when the value does not fit. dest may equal src.
[[nodiscard]] HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) noexcept;

// Owns one VARIANT; clears it on destruction.
class Variant : public VARIANT {
 public:
  Variant() noexcept = default;
  explicit Variant(double d) noexcept { vt = VT_R8; dblVal = d; }
  explicit Variant(LONG l) noexcept { vt = VT_I4; lVal = l; }
  explicit Variant(SHORT s) noexcept { vt = VT_I2; iVal = s; }
  Variant(const Variant& other) noexcept { (void)VariantCopy(this, &other); }
  Variant& operator=(const Variant& other) noexcept {
    if (this != &other) { (void)VariantClear(this); (void)VariantCopy(this, &other); }
    return *this;
  }
  Variant(Variant&& other) noexcept : VARIANT(other) { other.vt = VT_EMPTY; other.llVal = 0; }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) { (void)VariantClear(this); static_cast<VARIANT&>(*this) = other; other.vt = VT_EMPTY; }
    return *this;
  }
  ~Variant() { (void)VariantClear(this); }
};

}  // namespace kx::platform
