#include "kx/models/instruction_set.h"

#include <atomic>

#include "tree_kernels.h"

namespace kx::models {
namespace {

const detail::TreeKernels* KernelsOf(InstructionSet set) noexcept {
  switch (set) {
    case InstructionSet::kAvx512:
      return &detail::Avx512TreeKernels();
    case InstructionSet::kAvx2:
      return &detail::Avx2TreeKernels();
    case InstructionSet::kBaseline:
      break;
  }
  return &detail::BaselineTreeKernels();
}

InstructionSet Widest() noexcept {
  for (const InstructionSet set : {InstructionSet::kAvx512, InstructionSet::kAvx2}) {
    if (InstructionSetSupported(set)) return set;
  }
  return InstructionSet::kBaseline;
}

std::atomic<const detail::TreeKernels*> g_active{nullptr};

}  // namespace

bool InstructionSetSupported(InstructionSet set) noexcept {
  // The processor's feature bits together with the operating system's saving of the wide
  // registers (libgcc checks XCR0 for both).
  __builtin_cpu_init();
  switch (set) {
    case InstructionSet::kAvx512:
      return __builtin_cpu_supports("avx512f");
    case InstructionSet::kAvx2:
      return __builtin_cpu_supports("avx2");
    case InstructionSet::kBaseline:
      return true;
  }
  return false;
}

InstructionSet ActiveInstructionSet() noexcept { return detail::ActiveTreeKernels().isa; }

bool SelectInstructionSet(InstructionSet set) noexcept {
  if (!InstructionSetSupported(set)) return false;
  g_active.store(KernelsOf(set), std::memory_order_release);
  return true;
}

namespace detail {

const TreeKernels& ActiveTreeKernels() noexcept {
  const TreeKernels* kernels = g_active.load(std::memory_order_acquire);
  if (kernels == nullptr) {
    kernels = KernelsOf(Widest());
    const TreeKernels* expected = nullptr;
    if (!g_active.compare_exchange_strong(expected, kernels, std::memory_order_acq_rel)) {
      kernels = expected;
    }
  }
  return *kernels;
}

}  // namespace detail
}  // namespace kx::models
