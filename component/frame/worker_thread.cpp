#include "worker_thread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>

#include "kx/platform/messages.h"

namespace kx::component {

using namespace kx::platform;

namespace {

using Clock = std::chrono::steady_clock;

// How long a worker that has finished its job watches for the next one before it sleeps: longer
// than the frame's own work between two back-to-back calls. Both sides watch without yielding and
// only briefly: a thread that spins or yields for long is ranked behind every busy program on a
// loaded machine and answers late, while one woken from sleep runs at once.
constexpr auto kWorkerWatch = std::chrono::microseconds(20);
// How long a worker sleeps for the next job before it ends: waking it costs less than starting a
// thread, and an idle process soon has no thread of ours.
constexpr DWORD kWorkerLingerMs = 5;
// How long the caller watches for the end of its job before it sleeps (or pumps): a small tree
// ends within it.
constexpr auto kCallerWatch = std::chrono::microseconds(20);

// Where the caller sleeps until its job completes, for the worker to wake it.
enum CallerSleeps : int { kAwake, kOnCounter, kOnEvent };

// One job at a time is posted (by the caller inside the call gate) and completed (by the worker):
// `posted` and `completed` count them (modulo 2^32), so each side knows whose turn it is from one
// load. A thread that sleeps for the other does so on the counter it waits for (WaitOnAddress)
// where the system has it: an event costs far more to set and to wait on under some runtimes
// (tens to hundreds of microseconds under Wine, where each is a request to another process). The
// caller's pumped wait needs a handle for MsgWaitForMultipleObjects, so it sleeps on `finished`.
struct Worker {
  std::mutex mutex;  // alive, sleeping, thread and the events; the start and the end of a worker
  bool alive = false;
  bool sleeping = false;      // the worker waits on `wake`
  bool dismissed = false;     // the module is about to go: an idle worker ends
  HANDLE thread = nullptr;    // the latest worker's, open until the next starts (see WaitUntilNoWorker)
  HANDLE wake = nullptr;      // auto-reset; set when a job is posted to a sleeping worker
  HANDLE finished = nullptr;  // auto-reset; set when a job completes while its caller sleeps on it
  std::atomic<LPTHREAD_START_ROUTINE> routine{nullptr};
  std::atomic<std::uint32_t> posted{0};
  std::atomic<std::uint32_t> completed{0};
  std::atomic<int> caller_sleeps{kAwake};
};

// Static storage that nothing destroys: a lingering worker may still read it while the process's
// static destructors run, and a heap object would be reported as leaked once the module that
// points to it is unloaded.
Worker& TheWorker() {
  alignas(Worker) static unsigned char storage[sizeof(Worker)];
  static Worker* const worker = new (storage) Worker;
  return *worker;
}

// Wakes a worker sleeping for a job (called under the lock, with `sleeping` set).
void WakeWorker(Worker& w) noexcept {
  if (AddressWaitAvailable()) {
    WakeByAddressSingle(&w.posted);
  } else {
    (void)SetEvent(w.wake);
  }
}

// The next job's number once one is posted, or `done` when the worker is to end.
std::uint32_t AwaitJob(Worker& w, std::uint32_t done) {
  const Clock::time_point until = Clock::now() + kWorkerWatch;
  std::uint32_t next = w.posted.load(std::memory_order_acquire);
  while (next == done && Clock::now() < until) next = w.posted.load(std::memory_order_acquire);
  while (next == done) {
    {
      // Sleeping and ending are decided under the lock the caller posts under: a job posted
      // before is seen here, and one posted after finds the worker sleeping (and wakes it) or gone
      // (and starts another).
      const std::lock_guard lock(w.mutex);
      next = w.posted.load(std::memory_order_acquire);
      if (next != done) break;
      if (w.dismissed) {
        w.alive = false;
        return done;
      }
      w.sleeping = true;
    }
    bool timed_out = false;
    if (AddressWaitAvailable()) {
      std::uint32_t seen = done;
      timed_out = !WaitOnAddress(&w.posted, &seen, sizeof seen, kWorkerLingerMs);
    } else {
      timed_out = WaitForSingleObject(w.wake, kWorkerLingerMs) == WAIT_TIMEOUT;
    }
    const std::lock_guard lock(w.mutex);
    w.sleeping = false;
    next = w.posted.load(std::memory_order_acquire);
    if (next == done && (timed_out || w.dismissed)) {
      w.alive = false;
      return done;
    }
  }
  return next;
}

DWORD WINAPI WorkerLoop(void*) {
  Worker& w = TheWorker();
  std::uint32_t done = w.completed.load(std::memory_order_acquire);
  for (;;) {
    const std::uint32_t next = AwaitJob(w, done);
    if (next == done) return 0;
    w.routine.load(std::memory_order_relaxed)(nullptr);
    done = next;
    // Sequentially consistent with the caller's flag: either it sees the completion before it
    // sleeps, or this sees it sleeping and wakes it.
    w.completed.store(done);
    const int sleeps = w.caller_sleeps.load();
    if (sleeps == kOnCounter) WakeByAddressSingle(&w.completed);
    if (sleeps == kOnEvent) (void)SetEvent(w.finished);
  }
}

bool Completed(const Worker& w, std::uint32_t job) noexcept {
  return w.completed.load(std::memory_order_acquire) == job;
}

// Sleeps until the job has completed, dispatching messages meanwhile when `pump`.
void SleepUntilCompleted(Worker& w, std::uint32_t job, bool pump) noexcept {
  const bool on_counter = !pump && AddressWaitAvailable();
  w.caller_sleeps.store(on_counter ? kOnCounter : kOnEvent);
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
  for (std::uint32_t seen = w.completed.load(); seen != job; seen = w.completed.load()) {
    if (on_counter) {
      (void)WaitOnAddress(&w.completed, &seen, sizeof seen, INFINITE);
    } else if (WaitForSingleObject(w.finished, INFINITE) == WAIT_FAILED) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  w.caller_sleeps.store(kAwake);
  if (quit_seen) PostQuitMessage(static_cast<int>(quit_code));
}

}  // namespace

bool RunOnWorker(LPTHREAD_START_ROUTINE routine, SHORT blocking_mode) noexcept {
  Worker& w = TheWorker();
  const std::uint32_t job = w.posted.load(std::memory_order_relaxed) + 1;
  {
    const std::lock_guard lock(w.mutex);
    if (!w.finished) w.finished = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    if (!w.wake) w.wake = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    if (!w.finished || !w.wake) return false;
    w.dismissed = false;
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
    } else if (w.sleeping) {
      WakeWorker(w);
    }
  }
  const Clock::time_point until = Clock::now() + kCallerWatch;
  while (!Completed(w, job)) {
    if (Clock::now() >= until) {
      SleepUntilCompleted(w, job, blocking_mode == 1);
      break;
    }
  }
  return true;
}

void WaitUntilNoWorker() noexcept {
  Worker& w = TheWorker();
  HANDLE thread = nullptr;
  {
    const std::lock_guard lock(w.mutex);
    thread = w.thread;
    w.dismissed = true;
    if (w.sleeping) WakeWorker(w);
  }
  if (thread) (void)WaitForSingleObject(thread, INFINITE);
}

namespace {

// A worker still lingering when the process exits would hold its thread-locals of this module
// while leak checkers walk the threads; it is ended before them. (When the module is unloaded
// instead, DllCanUnloadNow has already ended it, so this finds no thread to wait for.)
struct EndWorkerAtExit {
  EndWorkerAtExit() = default;
  EndWorkerAtExit(const EndWorkerAtExit&) = delete;
  EndWorkerAtExit& operator=(const EndWorkerAtExit&) = delete;
  ~EndWorkerAtExit() { WaitUntilNoWorker(); }
} end_worker_at_exit;

}  // namespace

}  // namespace kx::component
