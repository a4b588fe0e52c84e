// Which vector instructions the tree pricer uses. Every choice gives the same doubles; the widest
// one the processor supports is chosen when the program starts.
#pragma once

namespace kx::models {

enum class InstructionSet {
  kBaseline,  // SSE2, present on every x86-64 processor
  kAvx2,
  kAvx512,  // AVX-512F
};

/// Whether this processor (and its operating system) can run the set.
[[nodiscard]] bool InstructionSetSupported(InstructionSet set) noexcept;

/// The set the tree pricer uses now.
[[nodiscard]] InstructionSet ActiveInstructionSet() noexcept;

/// Makes the tree pricer use `set` from now on; false (and no change) when it is not supported.
/// For tests and benchmarks that compare the sets: call it while no computation runs.
bool SelectInstructionSet(InstructionSet set) noexcept;

}  // namespace kx::models
