// Replaces the global operator new and delete of the test program and filters the platform's own
// C-heap allocations, so that a test can count every allocation of a call and fail the k-th.
#pragma once

#include <cstddef>

namespace kx::component::test_support {

/// The allocations that are counted: those of the thread that arms the failure, or those of every
/// other thread (a call's worker). The two run at the same time, so only each one's own order is
/// the same on every run.
enum class CountedThreads { kCalling, kOthers };

/// Fails the `k`-th counted allocation from now on (1 = the next one), once; 0 disarms.
void FailAllocationNumber(long k, CountedThreads threads = CountedThreads::kCalling) noexcept;
/// Whether the failure armed by FailAllocationNumber is still to come.
[[nodiscard]] bool AllocationFailurePending() noexcept;
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
