// Two threads for one computation, with one stop flag between them.
//
// The process-wide abort request is cleared by the CheckAbort that raises it, so of two threads
// only one sees it. That thread sets the computation's stop flag (before it throws, for an abort;
// once caught, for any other failure), which the other polls (through PollAbort, or between
// searches) and answers with StopRequested; once both have ended, the first real failure
// (AbortSignal, std::bad_alloc) is thrown again on the calling thread.
#pragma once

#include <atomic>
#include <exception>
#include <thread>
#include <utility>

#include "kx/models/abort.h"
#include "kx/models/parallelism.h"

namespace kx::models::detail {

/// Thrown by PollAbort when the other thread of the computation has failed. It never leaves
/// RunOnTwoThreads.
class StopRequested final : public std::exception {
 public:
  [[nodiscard]] const char* what() const noexcept override { return "stopped"; }
};

/// The abort poll of computations that may run on two threads: the process-wide request first,
/// then the computation's own stop flag (null when there is none).
inline void PollAbort(const std::atomic<bool>* stop) {
  CheckAbort();
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) throw StopRequested();
}

/// Runs `mine` on the calling thread and `helpers` on one helper thread started first (with
/// kOneThread, or when no thread can be started, `helpers` runs after `mine` on the calling
/// thread). Both take no arguments and poll `stop` through PollAbort. The helper is joined on every
/// path; then the first failure of either is rethrown.
template <typename Mine, typename Helpers>
void RunOnTwoThreads(Parallelism parallelism, std::atomic<bool>& stop, Mine&& mine,
                     Helpers&& helpers) {
  std::atomic<bool> claimed{false};
  std::exception_ptr failure;  // written by the claiming thread, read after the join
  auto guarded = [&](auto& task) {
    std::atomic<bool>* const outer = std::exchange(abort_stop_flag, &stop);
    try {
      task();
      abort_stop_flag = outer;
    } catch (const StopRequested&) {
      abort_stop_flag = outer;
      // The other thread failed; its failure is the one reported.
    } catch (...) {
      abort_stop_flag = outer;
      if (!claimed.exchange(true)) failure = std::current_exception();
      stop.store(true, std::memory_order_relaxed);
    }
  };
  std::thread helper;
  if (parallelism == Parallelism::kTwoThreads) {
    try {
      helper = std::thread([&] { guarded(helpers); });
    } catch (...) {
      // No thread (std::system_error or std::bad_alloc): the helper's work runs here instead.
    }
  }
  guarded(mine);
  if (helper.joinable()) {
    helper.join();
  } else if (!stop.load(std::memory_order_relaxed)) {
    guarded(helpers);
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kx::models::detail
