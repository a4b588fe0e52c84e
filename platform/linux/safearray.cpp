#include "kx/platform/safearray.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "kx/platform/allocation.h"
#include "kx/platform/variant.h"

namespace kx::platform {
namespace {

// The descriptor is preceded by a prefix holding the element type, 4 bytes before the
// descriptor as the platform keeps it; the prefix keeps the descriptor 16-byte aligned.
constexpr std::size_t kPrefix = 16;
constexpr ULONG kMaxLocks = 65535;

VARTYPE* TypeSlot(const SAFEARRAY* psa) noexcept {
  return reinterpret_cast<VARTYPE*>(reinterpret_cast<unsigned char*>(const_cast<SAFEARRAY*>(psa)) - 4);
}

ULONG ElementSize(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_R8: case VT_DATE: case VT_CY: case VT_I8: case VT_UI8: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

std::size_t DescriptorSize(UINT dims) noexcept {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

// Bounds of dimension dim (1 = leftmost), stored right to left.
const SAFEARRAYBOUND& Bound(const SAFEARRAY* psa, UINT dim) noexcept { return psa->rgsabound[psa->cDims - dim]; }

std::atomic_ref<ULONG> Locks(SAFEARRAY* psa) noexcept { return std::atomic_ref<ULONG>(psa->cLocks); }
ULONG LockCount(const SAFEARRAY* psa) noexcept {
  return std::atomic_ref<ULONG>(const_cast<SAFEARRAY*>(psa)->cLocks).load(std::memory_order_acquire);
}

// Releases what the elements own (texts, VARIANT contents) without freeing the block.
void ClearElements(SAFEARRAY* psa) noexcept {
  if (!psa->pvData) return;
  const ULONG count = SafeArrayTotalCount(psa);
  if (psa->fFeatures & FADF_BSTR) {
    auto* texts = static_cast<BSTR*>(psa->pvData);
    for (ULONG i = 0; i < count; ++i) {
      SysFreeString(texts[i]);
      texts[i] = nullptr;
    }
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* values = static_cast<VARIANT*>(psa->pvData);
    for (ULONG i = 0; i < count; ++i) (void)VariantClear(&values[i]);
  }
}

// Offset in elements of the element at indices (indices[0] leftmost), or DISP_E_BADINDEX.
HRESULT ElementOffset(const SAFEARRAY* psa, const LONG* indices, std::size_t* offset) noexcept {
  // A descriptor without dimensions or data (a host's own, half filled in) has no elements.
  if (psa->cDims == 0 || !psa->pvData) return DISP_E_BADINDEX;
  std::size_t result = 0;
  std::size_t stride = 1;
  for (UINT dim = 1; dim <= psa->cDims; ++dim) {
    const SAFEARRAYBOUND& b = Bound(psa, dim);
    const std::int64_t k = static_cast<std::int64_t>(indices[dim - 1]) - b.lLbound;
    if (k < 0 || k >= static_cast<std::int64_t>(b.cElements)) return DISP_E_BADINDEX;
    result += static_cast<std::size_t>(k) * stride;
    stride *= b.cElements;
  }
  *offset = result;
  return S_OK;
}

// A copy of a text element: S_OK (a null BSTR copies as null) or E_OUTOFMEMORY.
HRESULT CopyText(BSTR source, BSTR* copy) noexcept {
  *copy = source ? SysAllocStringLen(source, SysStringLen(source)) : nullptr;
  return source && !*copy ? E_OUTOFMEMORY : S_OK;
}

// The element at indices, with the array locked; the caller unlocks it.
HRESULT LockElement(SAFEARRAY* psa, const LONG* indices, void** element) noexcept {
  const HRESULT hr = SafeArrayPtrOfIndex(psa, indices, element);
  if (FAILED(hr)) return hr;
  return SafeArrayLock(psa);
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) noexcept {
  const ULONG element_size = ElementSize(vt);
  if (dims == 0 || dims > 0xFFFF || !bounds || element_size == 0) return nullptr;
  std::uint64_t total = 1;
  for (UINT i = 0; i < dims; ++i) {
    total *= bounds[i].cElements;
    if (total > std::numeric_limits<ULONG>::max()) return nullptr;  // the count must fit a ULONG
  }
  if (total * element_size > std::numeric_limits<std::size_t>::max() / 2) return nullptr;

  auto* block = static_cast<unsigned char*>(detail::HeapAllocateZeroed(1, kPrefix + DescriptorSize(dims)));
  if (!block) return nullptr;
  auto* psa = new (block + kPrefix) SAFEARRAY;
  psa->cDims = static_cast<USHORT>(dims);
  psa->cbElements = element_size;
  psa->fFeatures = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) psa->fFeatures |= FADF_BSTR;
  if (vt == VT_VARIANT) psa->fFeatures |= FADF_VARIANT;
  *TypeSlot(psa) = vt;
  for (UINT i = 0; i < dims; ++i) psa->rgsabound[dims - 1 - i] = bounds[i];  // leftmost stored last
  if (total > 0) {
    // Zero bytes are a valid initial value for every element type (VT_EMPTY, null text, 0).
    psa->pvData = detail::HeapAllocateZeroed(static_cast<std::size_t>(total), element_size);
    if (!psa->pvData) {
      std::free(block);
      return nullptr;
    }
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count) noexcept {
  const SAFEARRAYBOUND bound{count, lower_bound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept {
  if (!psa) return S_OK;
  if (LockCount(psa) > 0) return DISP_E_ARRAYISLOCKED;
  ClearElements(psa);
  std::free(psa->pvData);
  psa->~SAFEARRAY();
  std::free(reinterpret_cast<unsigned char*>(psa) - kPrefix);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept {
  if (!psa) return E_INVALIDARG;
  ULONG current = Locks(psa).load(std::memory_order_relaxed);
  do {
    if (current >= kMaxLocks) return E_UNEXPECTED;
  } while (!Locks(psa).compare_exchange_weak(current, current + 1, std::memory_order_acq_rel));
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept {
  if (!psa) return E_INVALIDARG;
  ULONG current = Locks(psa).load(std::memory_order_relaxed);
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!Locks(psa).compare_exchange_weak(current, current - 1, std::memory_order_acq_rel));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) noexcept {
  if (!psa || !data) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  *data = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept { return SafeArrayUnlock(psa); }

UINT SafeArrayGetDim(const SAFEARRAY* psa) noexcept { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(const SAFEARRAY* psa) noexcept { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT dim, LONG* lower) noexcept {
  if (!psa || !lower) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  *lower = Bound(psa, dim).lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT dim, LONG* upper) noexcept {
  if (!psa || !upper) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = Bound(psa, dim);
  // An empty dimension has upper = lower - 1; the sum is formed in 64 bits, so it cannot wrap.
  const std::int64_t u = static_cast<std::int64_t>(b.lLbound) + static_cast<std::int64_t>(b.cElements) - 1;
  if (u > std::numeric_limits<LONG>::max() || u < std::numeric_limits<LONG>::min()) return DISP_E_OVERFLOW;
  *upper = static_cast<LONG>(u);
  return S_OK;
}

HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* vt) noexcept {
  if (!psa || !vt) return E_INVALIDARG;
  if (!(psa->fFeatures & FADF_HAVEVARTYPE)) return E_INVALIDARG;
  *vt = *TypeSlot(psa);
  return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** element) noexcept {
  if (!psa || !indices || !element) return E_INVALIDARG;
  std::size_t offset = 0;
  const HRESULT hr = ElementOffset(psa, indices, &offset);
  if (FAILED(hr)) return hr;
  *element = static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* value) noexcept {
  if (!psa || !indices || !value) return E_INVALIDARG;
  void* element = nullptr;
  HRESULT hr = LockElement(psa, indices, &element);
  if (FAILED(hr)) return hr;
  if (psa->fFeatures & FADF_BSTR) {
    BSTR copy = nullptr;
    hr = CopyText(*static_cast<BSTR*>(element), &copy);
    if (SUCCEEDED(hr)) *static_cast<BSTR*>(value) = copy;
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* out = static_cast<VARIANT*>(value);
    VariantInit(out);  // the receiver's VARIANT is taken as uninitialised, as the platform does
    hr = VariantCopy(out, static_cast<VARIANT*>(element));
  } else {
    std::memcpy(value, element, psa->cbElements);
  }
  (void)SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value) noexcept {
  if (!psa || !indices) return E_INVALIDARG;
  if (!value && !(psa->fFeatures & FADF_BSTR)) return E_INVALIDARG;  // a null text is a valid BSTR
  void* element = nullptr;
  HRESULT hr = LockElement(psa, indices, &element);
  if (FAILED(hr)) return hr;
  if (psa->fFeatures & FADF_BSTR) {
    // The platform passes the BSTR itself for text arrays.
    BSTR copy = nullptr;
    hr = CopyText(static_cast<BSTR>(const_cast<void*>(value)), &copy);
    if (SUCCEEDED(hr)) {
      SysFreeString(*static_cast<BSTR*>(element));
      *static_cast<BSTR*>(element) = copy;
    }
  } else if (psa->fFeatures & FADF_VARIANT) {
    hr = VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
  } else {
    std::memcpy(element, value, psa->cbElements);
  }
  (void)SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** copy) noexcept {
  if (!psa || !copy) return E_INVALIDARG;
  *copy = nullptr;
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = SafeArrayGetVartype(psa, &vt);
  if (FAILED(hr)) return hr;
  SAFEARRAYBOUND bounds[64];
  SAFEARRAYBOUND* b = psa->cDims <= 64 ? bounds : new (std::nothrow) SAFEARRAYBOUND[psa->cDims];
  if (!b) return E_OUTOFMEMORY;
  for (UINT dim = 1; dim <= psa->cDims; ++dim) b[dim - 1] = Bound(psa, dim);
  SAFEARRAY* out = SafeArrayCreate(vt, psa->cDims, b);
  if (b != bounds) delete[] b;
  if (!out) return E_OUTOFMEMORY;
  const ULONG count = SafeArrayTotalCount(psa);
  if (count > 0) {
    if (psa->fFeatures & FADF_BSTR) {
      auto* from = static_cast<BSTR*>(psa->pvData);
      auto* to = static_cast<BSTR*>(out->pvData);
      for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) {
        hr = CopyText(from[i], &to[i]);
      }
    } else if (psa->fFeatures & FADF_VARIANT) {
      auto* from = static_cast<VARIANT*>(psa->pvData);
      auto* to = static_cast<VARIANT*>(out->pvData);
      for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) hr = VariantCopy(&to[i], &from[i]);
    } else {
      std::memcpy(out->pvData, psa->pvData, static_cast<std::size_t>(count) * psa->cbElements);
    }
  }
  if (FAILED(hr)) {
    (void)SafeArrayDestroy(out);
    return hr;
  }
  *copy = out;
  return S_OK;
}

ULONG SafeArrayTotalCount(const SAFEARRAY* psa) noexcept {
  if (!psa || psa->cDims == 0) return 0;
  ULONG total = 1;
  for (UINT i = 0; i < psa->cDims; ++i) total *= psa->rgsabound[i].cElements;  // bounded at creation
  return total;
}

}  // namespace kx::platform
