// The process-wide abort request, polled by the long computations from their innermost loops.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>

namespace kx::models {

/// Raised by CheckAbort when an abort was requested. Tree, search and series computations let it
/// pass; their caller catches it and reports the abort.
class AbortSignal final : public std::exception {
 public:
  [[nodiscard]] const char* what() const noexcept override { return "Data processing aborted."; }
};

/// 1 = abort requested. Relaxed atomic: a plain load on every poll, and no data race when another
/// thread sets it while a computation runs.
extern std::atomic<std::int32_t> AbortRequested;

/// Sets the request; the running computation stops at its next poll.
inline void RequestAbort() noexcept { AbortRequested.store(1, std::memory_order_relaxed); }

/// Clears the request (done before every new computation).
inline void ClearAbortRequest() noexcept { AbortRequested.store(0, std::memory_order_relaxed); }

namespace detail {
/// The stop flag of the two-thread computation the calling thread works in, null outside one.
/// Only one thread sees the request, since seeing it clears it; that thread raises this flag
/// before it throws, so that the other stops at its next poll rather than only once the throw has
/// unwound (which a loaded machine may delay for as long as the whole computation).
extern thread_local std::atomic<bool>* abort_stop_flag;
}  // namespace detail

/// If the request is 1, clears it and throws AbortSignal; otherwise returns.
inline void CheckAbort() {
  if (AbortRequested.load(std::memory_order_relaxed) == 1) [[unlikely]] {
    if (detail::abort_stop_flag != nullptr) {
      detail::abort_stop_flag->store(true, std::memory_order_relaxed);
    }
    AbortRequested.store(0, std::memory_order_relaxed);
    throw AbortSignal();
  }
}

}  // namespace kx::models
