// Counts the bytes the test program holds through operator new, to measure a computation's peak.
#pragma once

#include <cstddef>

namespace kx::models::testing {

/// Starts a new peak measurement from the bytes held now.
void ResetAllocationPeak() noexcept;
/// Most bytes held at once since the last reset, beyond those held at the reset.
[[nodiscard]] std::size_t AllocationPeakSinceReset() noexcept;

}  // namespace kx::models::testing
