#include "worker_thread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "kx/platform/messages.h"

namespace kx::component {

using namespace kx::platform;

namespace {

using Clock = std::chrono::steady_clock;

// How long an idle worker watches for the next job before it ends: longer than the gap between
// the calls of a host's loop (a spreadsheet recalculating a column, a script, a chart), short
// enough that an idle process soon has no thread of ours and a lone call wastes little.
constexpr auto kWorkerLinger = std::chrono::microseconds(200);
// How long the caller watches for the end of its job before it sleeps (or pumps): a small tree
// ends within it, and a long job hardly notices it.
// Both sides yield while they watch: on a busy machine the other side (or another program) gets
// the processor instead of a spinning thread, which halves the hand-off's wall time there.
constexpr auto kCallerWatch = std::chrono::microseconds(100);

// One job at a time is posted (by the caller inside the call gate) and completed (by the worker):
// `posted` and `completed` count them, so each side knows whose turn it is from one load.
struct Worker {
  std::mutex mutex;  // alive, thread and finished; the start and the end of a worker
  bool alive = false;
  HANDLE thread = nullptr;    // the latest worker's, open until the next starts (see WaitUntilNoWorker)
  HANDLE finished = nullptr;  // auto-reset; set when a job completes while its caller sleeps
  std::atomic<LPTHREAD_START_ROUTINE> routine{nullptr};
  std::atomic<std::uint64_t> posted{0};
  std::atomic<std::uint64_t> completed{0};
  std::atomic<bool> caller_sleeping{false};
};

Worker& TheWorker() {
  static auto* worker = new Worker;  // a lingering worker may still read it after static destructors
  return *worker;
}

DWORD WorkerLoop(void*) {
  Worker& w = TheWorker();
  std::uint64_t done = w.completed.load(std::memory_order_acquire);
  for (;;) {
    Clock::time_point until = Clock::now() + kWorkerLinger;
    std::uint64_t next = w.posted.load(std::memory_order_acquire);
    while (next == done) {
      if (Clock::now() >= until) {
        // Ending is decided under the lock the caller checks `alive` under: a job posted before
        // that check is seen here, and one posted after it starts a new worker.
        const std::lock_guard lock(w.mutex);
        next = w.posted.load(std::memory_order_acquire);
        if (next == done) {
          w.alive = false;
          return 0;
        }
        break;
      }
      std::this_thread::yield();
      next = w.posted.load(std::memory_order_acquire);
    }
    w.routine.load(std::memory_order_relaxed)(nullptr);
    done = next;
    // Sequentially consistent with the caller's flag: either it sees the completion before it
    // sleeps, or this sees it sleeping and wakes it.
    w.completed.store(done);
    if (w.caller_sleeping.load()) (void)SetEvent(w.finished);
  }
}

bool Completed(const Worker& w, std::uint64_t job) noexcept {
  return w.completed.load(std::memory_order_acquire) == job;
}

// Sleeps until the job has completed, dispatching messages meanwhile when `pump`.
void SleepUntilCompleted(Worker& w, std::uint64_t job, bool pump) noexcept {
  w.caller_sleeping.store(true);
  bool quit_seen = false;
  WPARAM quit_code = 0;
  if (pump) {
    while (!Completed(w, job)) {
      const DWORD woken = MsgWaitForMultipleObjects(1, &w.finished, FALSE, INFINITE, QS_ALLINPUT);
      if (woken == WAIT_OBJECT_0) continue;
      if (woken != WAIT_OBJECT_0 + 1) break;  // a failed wait: the plain one below
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          // Not ours to consume: the host's own loop must still see it.
          quit_seen = true;
          quit_code = msg.wParam;
          continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
  }
  // The frame must not go on while the worker still reads the job record and writes the caller's
  // outputs, so a wait that fails for want of memory is tried again.
  while (!Completed(w, job)) {
    if (WaitForSingleObject(w.finished, INFINITE) == WAIT_FAILED) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  w.caller_sleeping.store(false);
  if (quit_seen) PostQuitMessage(static_cast<int>(quit_code));
}

}  // namespace

bool RunOnWorker(LPTHREAD_START_ROUTINE routine, SHORT blocking_mode) noexcept {
  Worker& w = TheWorker();
  const std::uint64_t job = w.posted.load(std::memory_order_relaxed) + 1;
  {
    const std::lock_guard lock(w.mutex);
    if (!w.finished) {
      w.finished = CreateEvent(nullptr, FALSE, FALSE, nullptr);
      if (!w.finished) return false;
    }
    w.routine.store(routine, std::memory_order_relaxed);
    w.posted.store(job, std::memory_order_release);
    if (!w.alive) {
      HANDLE thread = CreateThread(nullptr, 0, &WorkerLoop, nullptr, 0, nullptr);
      if (!thread) {
        const DWORD error = GetLastError();
        w.posted.store(job - 1, std::memory_order_relaxed);  // no worker saw it
        SetLastError(error);
        return false;
      }
      if (w.thread) (void)CloseHandle(w.thread);
      w.thread = thread;
      w.alive = true;
    }
  }
  const Clock::time_point until = Clock::now() + kCallerWatch;
  while (!Completed(w, job)) {
    if (Clock::now() >= until) {
      SleepUntilCompleted(w, job, blocking_mode == 1);
      break;
    }
    std::this_thread::yield();
  }
  return true;
}

void WaitUntilNoWorker() noexcept {
  Worker& w = TheWorker();
  HANDLE thread = nullptr;
  {
    const std::lock_guard lock(w.mutex);
    thread = w.thread;
  }
  if (thread) (void)WaitForSingleObject(thread, INFINITE);
}

}  // namespace kx::component
