#include "kx/platform/allocation.h"

#include <atomic>
#include <cstdlib>

namespace kx::platform {
namespace {

std::atomic<testing::AllocationFilter> filter{nullptr};

bool Refused(std::size_t bytes) noexcept {
  const testing::AllocationFilter current = filter.load(std::memory_order_acquire);
  return current != nullptr && current(bytes);
}

}  // namespace

void testing::SetAllocationFilter(AllocationFilter f) noexcept {
  filter.store(f, std::memory_order_release);
}

void* detail::HeapAllocate(std::size_t bytes) noexcept {
  return Refused(bytes) ? nullptr : std::malloc(bytes);
}

void* detail::HeapAllocateZeroed(std::size_t count, std::size_t size) noexcept {
  return Refused(count * size) ? nullptr : std::calloc(count, size);
}

}  // namespace kx::platform
