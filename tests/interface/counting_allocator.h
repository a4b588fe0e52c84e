// Replaces the global operator new and delete of the test program and filters the platform's own
// C-heap allocations, so that a test can count every allocation of a call and fail the k-th.
#pragma once

#include <cstddef>

namespace kx::component::test_support {

/// Fails the `k`-th counted allocation from now on (1 = the next one), once; 0 disarms.
void FailAllocationNumber(long k) noexcept;
/// Whether the failure armed by FailAllocationNumber is still to come.
[[nodiscard]] bool AllocationFailurePending() noexcept;
/// Counted allocations since the last FailAllocationNumber or ResetAllocationCount.
[[nodiscard]] long AllocationsCounted() noexcept;
void ResetAllocationCount() noexcept;
/// Blocks from operator new that are not yet deleted (the platform's C-heap blocks are left to
/// the leak checker of the sanitizer build).
[[nodiscard]] long LiveBlocks() noexcept;

/// While one exists, the allocations of its thread are neither counted nor failed (the test's
/// own bookkeeping, such as the Done recorder).
class UncountedScope {
 public:
  UncountedScope() noexcept;
  ~UncountedScope();
  UncountedScope(const UncountedScope&) = delete;
  UncountedScope& operator=(const UncountedScope&) = delete;
};

}  // namespace kx::component::test_support
