#include "array_arguments.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "frame_testing.h"

namespace kx::component {

using namespace kx::platform;

namespace {

constexpr VARTYPE kDoubleArray = VT_ARRAY | VT_R8;
constexpr VARTYPE kDoubleArrayRef = VT_BYREF | VT_ARRAY | VT_R8;
constexpr VARTYPE kVariantArrayRef = VT_BYREF | VT_ARRAY | VT_VARIANT;
constexpr VARTYPE kDoubleRef = VT_BYREF | VT_R8;

// Count of dimension `dim` (1 = leftmost); 0 when the descriptor has no such dimension.
std::size_t DimensionCountOf(const SAFEARRAY* array, UINT dim) noexcept {
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(array, dim, &lower)) ||
      FAILED(SafeArrayGetUBound(array, dim, &upper))) {
    return 0;
  }
  const std::int64_t count = static_cast<std::int64_t>(upper) - lower + 1;
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

}  // namespace

SAFEARRAY* ArrayOf(const VARIANT* array) noexcept {
  if (!array || (array->vt & VT_ARRAY) == 0) return nullptr;
  if (array->vt & VT_BYREF) return array->pparray ? *array->pparray : nullptr;
  return array->parray;
}

UINT DimensionCount(const VARIANT* array) noexcept { return SafeArrayGetDim(ArrayOf(array)); }

std::size_t FirstDimensionCount(const VARIANT* array) noexcept {
  const SAFEARRAY* descriptor = ArrayOf(array);
  return descriptor ? DimensionCountOf(descriptor, 1) : 0;
}

std::size_t LastDimensionCount(const VARIANT* array) noexcept {
  const SAFEARRAY* descriptor = ArrayOf(array);
  return descriptor ? DimensionCountOf(descriptor, SafeArrayGetDim(descriptor)) : 0;
}

bool StoresDoubles(const SAFEARRAY* array) noexcept {
  if (!array || SafeArrayGetElemsize(array) != sizeof(double)) return false;
  VARTYPE element_type = VT_EMPTY;
  // Descriptors that do not record their type are judged by the element size alone.
  return FAILED(SafeArrayGetVartype(array, &element_type)) || element_type == VT_R8;
}

void CheckInputArray(MethodFrame& frame, const VARIANT* array, LONG base) {
  if (!array) {
    frame.Fail(Failure::kMissingInputArray1);
    return;
  }
  const SAFEARRAY* descriptor = ArrayOf(array);
  if (descriptor) {
    const UINT dims = SafeArrayGetDim(descriptor);
    LONG lower = 0;
    bool bounds_ok = true;
    if (dims >= 1 && SUCCEEDED(SafeArrayGetLBound(descriptor, dims, &lower)) && lower != base) {
      bounds_ok = false;
    }
    if (dims == 2 && SUCCEEDED(SafeArrayGetLBound(descriptor, 1, &lower)) && lower != base) {
      bounds_ok = false;
    }
    if (!bounds_ok) frame.Fail(Failure::kBadLowerBound);
  }
  const bool type_ok = (array->vt == kDoubleArray && descriptor) || array->vt == kDoubleArrayRef;
  // The element size is checked too: a VARIANT may name VT_R8 over an array of other values,
  // whose storage must not be read as doubles.
  if (!type_ok || (descriptor && !StoresDoubles(descriptor))) frame.Fail(Failure::kBadInputType);
}

void CheckOutputVariant(MethodFrame& frame, const VARIANT* result) {
  if (!result) {
    frame.Fail(Failure::kMissingOutputArray2);
    return;
  }
  if (result->vt == kDoubleArrayRef || result->vt == kVariantArrayRef) {
    frame.Fail(Failure::kBadOutputArrayType);
  }
  if (result->vt == kDoubleRef) frame.Fail(Failure::kBadOutputType);
}

void CheckSkewInputArray(MethodFrame& frame, const VARIANT* array) {
  if (!array || (array->vt & VT_ARRAY) == 0) return;
  const SAFEARRAY* descriptor = ArrayOf(array);
  if ((array->vt & VT_TYPEMASK) != VT_R8 || (descriptor && !StoresDoubles(descriptor))) {
    frame.Fail(Failure::kBadInputType);
  }
}

WorkVector::WorkVector(std::size_t count) : count_(count) {
  if (detail::TakeInjectedAllocationFailure()) throw std::bad_alloc();
  data_.reset(new double[count]());
}

ResultArray::ResultArray(std::size_t count, LONG base) : count_(count) {
  if (detail::TakeInjectedAllocationFailure() || count > std::numeric_limits<ULONG>::max()) {
    throw std::bad_alloc();
  }
  array_ = SafeArrayCreateVector(VT_R8, base, static_cast<ULONG>(count));
  if (!array_) throw std::bad_alloc();
}

ResultArray::~ResultArray() {
  if (array_) (void)SafeArrayDestroy(array_);
}

void ResultArray::HandOver(VARIANT* result, std::span<const double> values) noexcept {
  if (!array_ || !result) return;
  // Cleared whatever it holds: an array it owned, or a text or object that would otherwise leak.
  // What a VT_BYREF value points at stays the caller's.
  (void)VariantClear(result);
  VariantInit(result);
  result->vt = kDoubleArray;
  result->parray = array_;
  const std::size_t count = std::min(values.size(), count_);
  if (count > 0 && array_->pvData) {
    std::memcpy(array_->pvData, values.data(), count * sizeof(double));
  }
  array_ = nullptr;
}

SafeArrayLockGuard::~SafeArrayLockGuard() { (void)Unlock(); }

HRESULT SafeArrayLockGuard::Lock(SAFEARRAY* array) noexcept {
  const HRESULT hr = SafeArrayLock(array);
  if (SUCCEEDED(hr)) array_ = array;
  return hr;
}

HRESULT SafeArrayLockGuard::Unlock() noexcept {
  if (!array_) return S_OK;
  SAFEARRAY* array = std::exchange(array_, nullptr);
  return SafeArrayUnlock(array);
}

void CopyDoubles(const SAFEARRAY* array, std::span<double> destination) noexcept {
  const std::span<const double> stored = StoredDoubles(array);
  const std::size_t count = std::min(destination.size(), stored.size());
  std::copy_n(stored.begin(), count, destination.begin());
}

std::span<const double> StoredDoubles(const SAFEARRAY* array) noexcept {
  if (!StoresDoubles(array) || !array->pvData) return {};
  return {static_cast<const double*>(array->pvData), SafeArrayTotalCount(array)};
}

}  // namespace kx::component
