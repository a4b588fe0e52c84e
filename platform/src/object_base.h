#pragma once
// Reference counting shared by the runtime's own objects (internal).
#include <atomic>

#include "kx/platform/hresult.h"

namespace kx::platform::internal {

// Starts at one reference, owned by the creator.
class RefCount {
 public:
  ULONG Add() noexcept { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // The count after the release; the caller deletes the object at zero.
  ULONG Drop() noexcept { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

 private:
  std::atomic<ULONG> count_{1};
};

}  // namespace kx::platform::internal
