// Fault injection and observation points of the method frame, for tests only: they make rare
// failures (no thread, no memory) and exact abort timings reproducible.
#pragma once

#include <cstddef>

namespace kx::component::testing {

enum class WorkerPhase {
  kStarted,   // on the worker, before its computation step
  kComputed,  // on the worker, after its computation step, before it releases memory and arrays
};
using WorkerPhaseHook = void (*)(WorkerPhase phase, void* context);

/// Calls `hook` on every worker at both phases (nullptr removes it).
void SetWorkerPhaseHook(WorkerPhaseHook hook, void* context) noexcept;
/// The next worker thread start fails as if no thread could be created.
void FailNextWorkerStart() noexcept;
/// The `countdown`-th next result-array or work-vector allocation fails (1 = the next one).
void FailAllocation(int countdown) noexcept;
/// Removes the hook and any pending injected fault.
void ClearInjectedFaults() noexcept;

}  // namespace kx::component::testing

namespace kx::component::detail {

[[nodiscard]] bool TakeInjectedWorkerStartFailure() noexcept;
[[nodiscard]] bool TakeInjectedAllocationFailure() noexcept;
void RunWorkerPhaseHook(testing::WorkerPhase phase) noexcept;

}  // namespace kx::component::detail
