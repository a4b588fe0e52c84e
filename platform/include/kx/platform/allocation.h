#pragma once
// The platform's own memory (texts, arrays, task memory, type descriptions) comes from the C
// heap, which a test cannot make fail through operator new. Every such allocation asks this one
// filter first, so fault-injection tests can fail the k-th allocation of a call wherever it is.
#include <cstddef>

namespace kx::platform::testing {

/// Called with the size before each of the platform's C-heap allocations; returning true makes
/// that allocation fail as if memory were exhausted. nullptr (the default) removes it.
using AllocationFilter = bool (*)(std::size_t bytes);
void SetAllocationFilter(AllocationFilter filter) noexcept;

}  // namespace kx::platform::testing

namespace kx::platform::detail {

/// malloc and calloc behind the filter.
[[nodiscard]] void* HeapAllocate(std::size_t bytes) noexcept;
[[nodiscard]] void* HeapAllocateZeroed(std::size_t count, std::size_t size) noexcept;

}  // namespace kx::platform::detail
