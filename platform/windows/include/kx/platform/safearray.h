#pragma once
// SAFEARRAYs are the system's (oleaut32).
#include "kx/platform/hresult.h"

namespace kx::platform {

using ::LPSAFEARRAY;
using ::SAFEARRAY;
using ::SAFEARRAYBOUND;
using ::VARTYPE;

using ::SafeArrayAccessData;
using ::SafeArrayCopy;
using ::SafeArrayCreate;
using ::SafeArrayCreateVector;
using ::SafeArrayDestroy;
using ::SafeArrayGetDim;
using ::SafeArrayGetElement;
using ::SafeArrayGetElemsize;
using ::SafeArrayGetLBound;
using ::SafeArrayGetUBound;
using ::SafeArrayGetVartype;
using ::SafeArrayLock;
using ::SafeArrayPtrOfIndex;
using ::SafeArrayPutElement;
using ::SafeArrayUnaccessData;
using ::SafeArrayUnlock;

// The Linux side's forms take the array (and the bounds) as const where they only read them.
inline SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) noexcept {
  return ::SafeArrayCreate(vt, dims, const_cast<SAFEARRAYBOUND*>(bounds));
}
inline UINT SafeArrayGetDim(const SAFEARRAY* psa) noexcept {
  return ::SafeArrayGetDim(const_cast<SAFEARRAY*>(psa));
}
inline UINT SafeArrayGetElemsize(const SAFEARRAY* psa) noexcept {
  return ::SafeArrayGetElemsize(const_cast<SAFEARRAY*>(psa));
}
inline HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT dim, LONG* lower) noexcept {
  return ::SafeArrayGetLBound(const_cast<SAFEARRAY*>(psa), dim, lower);
}
inline HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT dim, LONG* upper) noexcept {
  return ::SafeArrayGetUBound(const_cast<SAFEARRAY*>(psa), dim, upper);
}
inline HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* vt) noexcept {
  return ::SafeArrayGetVartype(const_cast<SAFEARRAY*>(psa), vt);
}

// Element count of the whole array (product of all dimension counts); 0 for null.
[[nodiscard]] inline ULONG SafeArrayTotalCount(const SAFEARRAY* psa) noexcept {
  if (!psa || psa->cDims == 0) return 0;
  ULONG total = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) total *= psa->rgsabound[i].cElements;
  return total;
}

}  // namespace kx::platform
