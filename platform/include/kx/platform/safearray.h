#pragma once
// Arrays of automation values: any number of dimensions, each with its own
// lower bound and count, the first (leftmost) index varying fastest in storage.
#include "kx/platform/hresult.h"

namespace kx::platform {

using VARTYPE = std::uint16_t;

struct SAFEARRAYBOUND {
  ULONG cElements = 0;
  LONG lLbound = 0;
};

// rgsabound[0] describes the rightmost dimension and rgsabound[cDims - 1] the
// leftmost one, as the platform lays them out; use the Get* functions, which
// take 1-based dimension numbers counted from the left.
struct SAFEARRAY {
  USHORT cDims = 0;
  USHORT fFeatures = 0;
  ULONG cbElements = 0;
  ULONG cLocks = 0;
  void* pvData = nullptr;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_VARIANT = 0x0800;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;

// Element types: VT_R8, VT_I4, VT_I2, VT_BSTR, VT_VARIANT and the other plain numbers (VT_R4,
// VT_BOOL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_DATE, VT_CY,
// VT_ERROR); elements start zeroed (VT_EMPTY, null texts). bounds[0] is the leftmost
// dimension. Returns nullptr for zero dimensions, an unsupported type or no memory.
[[nodiscard]] SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) noexcept;
[[nodiscard]] SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count) noexcept;
[[nodiscard]] HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept;  // DISP_E_ARRAYISLOCKED while locked
[[nodiscard]] HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept;     // E_INVALIDARG for null
[[nodiscard]] HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept;   // E_UNEXPECTED when not locked
[[nodiscard]] HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) noexcept;  // locks
[[nodiscard]] HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept;
[[nodiscard]] UINT SafeArrayGetDim(const SAFEARRAY* psa) noexcept;  // 0 for null
[[nodiscard]] UINT SafeArrayGetElemsize(const SAFEARRAY* psa) noexcept;
// dim counts from 1 = leftmost. DISP_E_BADINDEX for a bad dimension, E_INVALIDARG for null.
[[nodiscard]] HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT dim, LONG* lower) noexcept;
[[nodiscard]] HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT dim, LONG* upper) noexcept;
[[nodiscard]] HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* vt) noexcept;
// indices[0] is the leftmost index. DISP_E_BADINDEX outside the bounds, and for a descriptor
// with no dimensions or no data.
[[nodiscard]] HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** element) noexcept;
[[nodiscard]] HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* value) noexcept;
[[nodiscard]] HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value) noexcept;
[[nodiscard]] HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** copy) noexcept;
// Element count of the whole array (product of all dimension counts).
[[nodiscard]] ULONG SafeArrayTotalCount(const SAFEARRAY* psa) noexcept;

}  // namespace kx::platform
