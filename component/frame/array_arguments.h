// Array arguments: VARIANTs holding SAFEARRAYs of doubles, read and written with the Base rule.
//
// An array VARIANT holds its descriptor directly (VT_ARRAY | VT_R8) or refers to a location that
// holds it (VT_BYREF | VT_ARRAY | VT_R8). A VARIANT that leads to no descriptor counts as an empty
// array. Result arrays are one-dimensional arrays of doubles whose lower bound is the object's
// Base.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "kx/platform/safearray.h"
#include "kx/platform/variant.h"
#include "method_frame.h"

namespace kx::component {

/// The descriptor the VARIANT leads to, through one level of VT_BYREF, or null.
[[nodiscard]] kx::platform::SAFEARRAY* ArrayOf(const kx::platform::VARIANT* array) noexcept;
/// Number of dimensions (0 without a descriptor).
[[nodiscard]] kx::platform::UINT DimensionCount(const kx::platform::VARIANT* array) noexcept;
/// Count of the first (leftmost) and of the last (rightmost) dimension; 0 without a descriptor.
[[nodiscard]] std::size_t FirstDimensionCount(const kx::platform::VARIANT* array) noexcept;
[[nodiscard]] std::size_t LastDimensionCount(const kx::platform::VARIANT* array) noexcept;
/// The element count: the count of the last dimension.
[[nodiscard]] inline std::size_t ElementCount(const kx::platform::VARIANT* array) noexcept {
  return LastDimensionCount(array);
}
/// Whether the descriptor stores 8-byte doubles (a VARIANT may name VT_R8 over another array).
[[nodiscard]] bool StoresDoubles(const kx::platform::SAFEARRAY* array) noexcept;

/// The input checks of the historical-volatility methods: missing (3001, the others skipped),
/// lower bounds against Base (6004), type (3047). Failures are recorded on `frame`.
void CheckInputArray(MethodFrame& frame, const kx::platform::VARIANT* array,
                     kx::platform::LONG base);
/// The checks of HistoricalVolatility's result VARIANT: missing (3002, the others skipped), a
/// reference to an array (3047), a reference to a double (6007).
void CheckOutputVariant(MethodFrame& frame, const kx::platform::VARIANT* result);
/// The element-type check of a skew's input array: a VARIANT that names an array must name one of
/// doubles (3047). A VARIANT without an array passes here and fails the worker's lock (3009).
void CheckSkewInputArray(MethodFrame& frame, const kx::platform::VARIANT* array);

/// N zero-filled doubles, owned by the worker that made them. Throws std::bad_alloc.
class WorkVector {
 public:
  explicit WorkVector(std::size_t count);
  [[nodiscard]] std::span<double> span() noexcept { return {data_.get(), count_}; }
  [[nodiscard]] std::span<const double> span() const noexcept { return {data_.get(), count_}; }
  [[nodiscard]] std::size_t size() const noexcept { return count_; }

 private:
  std::unique_ptr<double[]> data_;
  std::size_t count_ = 0;
};

/// A new one-dimensional result array of doubles, destroyed unless it is handed to a VARIANT.
class ResultArray {
 public:
  /// Throws std::bad_alloc when the array cannot be created.
  ResultArray(std::size_t count, kx::platform::LONG base);
  ResultArray(const ResultArray&) = delete;
  ResultArray& operator=(const ResultArray&) = delete;
  ~ResultArray();

  /// ArrayOut: clears `result` if it holds an array (directly or by reference), stores the array
  /// in it as VT_ARRAY | VT_R8 and copies `values` into it (element Base + k receives value k).
  /// The caller owns the array from then on.
  void HandOver(kx::platform::VARIANT* result, std::span<const double> values) noexcept;

 private:
  kx::platform::SAFEARRAY* array_ = nullptr;
  std::size_t count_ = 0;
};

/// Holds one SafeArrayLock; the destructor unlocks on paths that did not call Unlock.
class SafeArrayLockGuard {
 public:
  SafeArrayLockGuard() = default;
  SafeArrayLockGuard(const SafeArrayLockGuard&) = delete;
  SafeArrayLockGuard& operator=(const SafeArrayLockGuard&) = delete;
  ~SafeArrayLockGuard();

  /// The SafeArrayLock result (E_INVALIDARG for a null descriptor).
  [[nodiscard]] kx::platform::HRESULT Lock(kx::platform::SAFEARRAY* array) noexcept;
  /// The SafeArrayUnlock result; S_OK when nothing is locked.
  [[nodiscard]] kx::platform::HRESULT Unlock() noexcept;
  [[nodiscard]] kx::platform::SAFEARRAY* get() const noexcept { return array_; }

 private:
  kx::platform::SAFEARRAY* array_ = nullptr;
};

/// Copies the first min(destination.size(), stored element count) doubles of a locked array of
/// doubles from the start of its storage; the rest of destination is left as it is.
void CopyDoubles(const kx::platform::SAFEARRAY* array, std::span<double> destination) noexcept;

/// The stored doubles of a locked array of doubles (all dimensions), in storage order.
[[nodiscard]] std::span<const double> StoredDoubles(const kx::platform::SAFEARRAY* array) noexcept;

}  // namespace kx::component
