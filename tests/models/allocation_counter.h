// Counts the bytes the test program holds through operator new, to measure a computation's peak.
#pragma once

#include <cstddef>

namespace kx::models::testing {

/// Starts a new peak measurement from the bytes held now.
void ResetAllocationPeak() noexcept;
/// Most bytes held at once since the last reset, beyond those held at the reset.
[[nodiscard]] std::size_t AllocationPeakSinceReset() noexcept;

/// From now on the allocation of more than `bytes` that comes after `allowed` such allocations
/// fails with std::bad_alloc (once); FailLargeAllocation(0, 0) with bytes 0 switches it off.
void FailLargeAllocation(std::size_t bytes, int allowed) noexcept;
/// True while the failure set by FailLargeAllocation has not happened yet.
[[nodiscard]] bool LargeAllocationFailurePending() noexcept;

}  // namespace kx::models::testing
