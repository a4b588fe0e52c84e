// The worker thread of the worker-family calls (binomial methods, the skews, historical
// volatility).
//
// Starting a thread costs tens of microseconds, and so does waking a sleeping one on an idle
// virtual machine, far more than a small tree. So a worker stays after its job, first watching for
// the next one for a few microseconds and then sleeping for a few milliseconds, and the caller
// watches for the end of a short job before it sleeps or pumps messages: back-to-back calls (a
// column of cells, a loop in a script, a chart's points) hand their jobs over in well under a
// microsecond, spaced ones wake a sleeping worker. A worker with no job for kWorkerLingerMs ends,
// so an idle process soon keeps no thread of ours.
//
// Only one job runs at a time (the call gate sees to that); the job record it reads is written
// before the job is handed over, and its results are read after it is seen to have ended.
#pragma once

#include "kx/platform/threads.h"

namespace kx::component {

/// Runs `routine` (with a null argument) on the worker thread and returns once it has returned.
/// With `blocking_mode` 1 the calling thread's messages are dispatched while the job runs longer
/// than a short look; any other value waits without dispatching. Returns false, with
/// GetLastError saying why, when no worker thread could be started (the routine did not run).
[[nodiscard]] bool RunOnWorker(kx::platform::LPTHREAD_START_ROUTINE routine,
                               kx::platform::SHORT blocking_mode) noexcept;

/// Waits until no worker thread is left (a lingering one ends by itself within kWorkerLinger).
/// Called before the module may be unloaded, when no call can be running: a thread must not be
/// left in the module's code.
void WaitUntilNoWorker() noexcept;

}  // namespace kx::component
