// Threads, events, waits and the host's pump hook.
#include "kx/platform/threads.h"

#include <limits.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "wait_core.h"

namespace kx::platform {
namespace internal {

Core& TheCore() {
  static auto* core = new Core;  // outlives static destructors and exiting threads
  return *core;
}

}  // namespace internal

namespace {

using internal::Core;
using internal::TheCore;
using internal::WaitableObject;
using Clock = std::chrono::steady_clock;

const Clock::time_point process_start = Clock::now();
std::atomic<DWORD> next_thread_id{1};
thread_local DWORD current_thread_id = 0;
thread_local DWORD last_error = 0;

// Longest time the host's loop sleeps before the wait looks again, should a Wake go astray.
constexpr DWORD kPumpSliceMs = 100;

std::mutex hook_mutex;
MessagePumpHook* pump_hook = nullptr;
DWORD pump_hook_thread = 0;

HANDLE NewHandle(Core& core, std::shared_ptr<WaitableObject> object) {
  HANDLE h = reinterpret_cast<HANDLE>(core.next_handle);
  core.next_handle += 4;
  core.handles.emplace(h, std::move(object));
  return h;
}

std::shared_ptr<WaitableObject> Lookup(Core& core, HANDLE h) {
  auto it = core.handles.find(h);
  return it == core.handles.end() ? nullptr : it->second;
}

// The same for a handle that must name an object of `kind`: null with ERROR_INVALID_HANDLE when
// it does not.
std::shared_ptr<WaitableObject> LookupKind(Core& core, HANDLE h, WaitableObject::Kind kind) {
  auto object = Lookup(core, h);
  if (!object || object->kind != kind) {
    last_error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return object;
}

// Marks the object signalled and wakes every waiter, including a host loop in its pump.
void Signal(const std::shared_ptr<WaitableObject>& object, std::optional<DWORD> exit_code) {
  Core& core = TheCore();
  {
    std::lock_guard lock(core.mutex);
    object->signaled = true;
    if (exit_code) object->exit_code = *exit_code;
  }
  core.changed.notify_all();
  internal::WakeHookFor(0);
}

struct ThreadStart {
  LPTHREAD_START_ROUTINE routine;
  void* parameter;
  DWORD id;
  std::shared_ptr<WaitableObject> object;
};

void ReleaseThreadQueue(DWORD id);

void* ThreadMain(void* raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  current_thread_id = start->id;
  DWORD code = start->routine(start->parameter);
  // The queue goes before the handle is signalled, so a waiter that saw the end cannot
  // still post to this thread.
  ReleaseThreadQueue(start->id);
  Signal(start->object, code);
  return nullptr;
}

bool Satisfied(const std::vector<std::shared_ptr<WaitableObject>>& objects, bool wait_all,
               DWORD* index) {
  if (objects.empty()) return false;
  if (wait_all) {
    for (const auto& o : objects) {
      if (!o->signaled) return false;
    }
    for (const auto& o : objects) {
      if (!o->manual_reset) o->signaled = false;
    }
    *index = 0;
    return true;
  }
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->signaled) {
      if (!objects[i]->manual_reset) objects[i]->signaled = false;  // auto-reset: one waiter wins
      *index = static_cast<DWORD>(i);
      return true;
    }
  }
  return false;
}

DWORD Fail(DWORD error) {
  last_error = error;
  return WAIT_FAILED;
}

// Looks the handles up; an unknown or closed one fails the whole wait.
bool CollectObjects(DWORD count, const HANDLE* handles,
                    std::vector<std::shared_ptr<WaitableObject>>* objects) {
  Core& core = TheCore();
  std::lock_guard lock(core.mutex);
  for (DWORD i = 0; i < count; ++i) {
    auto object = Lookup(core, handles[i]);
    if (!object) return false;
    objects->push_back(std::move(object));
  }
  return true;
}

}  // namespace

namespace internal {

void WakeHookFor(DWORD thread_id) noexcept {
  std::lock_guard lock(hook_mutex);  // a hook being removed is not woken after removal returns
  if (pump_hook && (thread_id == 0 || thread_id == pump_hook_thread)) pump_hook->Wake();
}

MessageQueue& QueueOfCurrentThread(std::unique_lock<std::mutex>&) {
  return TheCore().queues[GetCurrentThreadId()];
}

DWORD WaitCore(const std::vector<std::shared_ptr<WaitableObject>>& objects, bool wait_all,
               DWORD milliseconds, const std::function<bool(const MessageQueue&)>* queue_ready) {
  Core& core = TheCore();
  const DWORD me = GetCurrentThreadId();
  const bool forever = milliseconds == INFINITE;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
  std::unique_lock lock(core.mutex);
  for (;;) {
    DWORD index = 0;
    if (Satisfied(objects, wait_all, &index)) return WAIT_OBJECT_0 + index;
    if (queue_ready && (*queue_ready)(QueueOfCurrentThread(lock))) {
      return WAIT_OBJECT_0 + static_cast<DWORD>(objects.size());
    }
    const Clock::time_point now = Clock::now();
    if (!forever && now >= deadline) return WAIT_TIMEOUT;
    DWORD slice = kPumpSliceMs;
    if (!forever) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
      slice = static_cast<DWORD>(std::min<long long>(left, kPumpSliceMs));
    }

    MessagePumpHook* hook = nullptr;
    if (queue_ready) {
      lock.unlock();  // the hook mutex is never taken under the core mutex
      {
        std::lock_guard hook_lock(hook_mutex);
        if (pump_hook_thread == me) hook = pump_hook;
      }
      if (hook) {
        hook->ProcessEvents(slice);  // the host's handlers may post, signal or call Abort
        lock.lock();
        continue;
      }
      lock.lock();
      // Something may have changed while unlocked: look again before sleeping.
      if (Satisfied(objects, wait_all, &index)) return WAIT_OBJECT_0 + index;
      if ((*queue_ready)(QueueOfCurrentThread(lock)))
        return WAIT_OBJECT_0 + static_cast<DWORD>(objects.size());
    }
    if (forever) {
      core.changed.wait(lock);
    } else {
      core.changed.wait_until(lock, deadline);
    }
  }
}

}  // namespace internal

namespace {

void ReleaseThreadQueue(DWORD id) {
  Core& core = TheCore();
  std::lock_guard lock(core.mutex);
  core.queues.erase(id);
  for (auto it = core.windows.begin(); it != core.windows.end();) {
    it = it->second->thread_id == id ? core.windows.erase(it) : std::next(it);
  }
}

// Threads not started by CreateThread (the main thread, std::thread) drop their queue and
// windows when they end.
struct ThreadExit {
  ~ThreadExit() {
    if (current_thread_id != 0) ReleaseThreadQueue(current_thread_id);
  }
};
thread_local ThreadExit thread_exit;

}  // namespace

DWORD GetLastError() noexcept { return last_error; }
void SetLastError(DWORD error) noexcept { last_error = error; }

DWORD GetCurrentThreadId() noexcept {
  if (current_thread_id == 0) {
    current_thread_id = next_thread_id.fetch_add(1, std::memory_order_relaxed);
    (void)&thread_exit;  // registers the thread-exit clean-up for this thread
  }
  return current_thread_id;
}

DWORD GetCurrentProcessId() noexcept { return static_cast<DWORD>(getpid()); }

DWORD GetTickCount() noexcept {
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - process_start).count());
}

void Sleep(DWORD milliseconds) noexcept {
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

HANDLE CreateThread(void*, std::size_t stack_size, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD flags, DWORD* thread_id) noexcept {
  if (!start || (flags & CREATE_SUSPENDED)) {
    last_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  try {
    auto object = std::make_shared<WaitableObject>();
    object->kind = WaitableObject::Kind::kThread;
    const DWORD id = next_thread_id.fetch_add(1, std::memory_order_relaxed);
    // Owned here until the thread owns it: a handle that cannot be registered must not leak it.
    auto ts = std::make_unique<ThreadStart>(ThreadStart{start, parameter, id, object});

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr,
                                PTHREAD_CREATE_DETACHED);  // the handle, not a join, tracks it
    if (stack_size != 0)
      pthread_attr_setstacksize(&attr, std::max<std::size_t>(stack_size, PTHREAD_STACK_MIN));

    Core& core = TheCore();
    HANDLE handle = nullptr;
    {
      std::lock_guard lock(core.mutex);
      handle = NewHandle(core, object);
    }
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, ThreadMain, ts.get());
    pthread_attr_destroy(&attr);
    if (rc == 0) (void)ts.release();  // ThreadMain deletes it
    if (rc != 0) {
      std::lock_guard lock(core.mutex);
      core.handles.erase(handle);
      last_error = ERROR_NOT_ENOUGH_MEMORY;
      return nullptr;
    }
    if (thread_id) *thread_id = id;
    return handle;
  } catch (const std::bad_alloc&) {
    last_error = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code) noexcept {
  if (!exit_code) {
    last_error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  Core& core = TheCore();
  std::lock_guard lock(core.mutex);
  auto object = LookupKind(core, thread, WaitableObject::Kind::kThread);
  if (!object) return FALSE;
  *exit_code = object->exit_code;
  return TRUE;
}

HANDLE CreateEvent(void*, BOOL manual_reset, BOOL initial_state, const char* name) noexcept {
  if (name) {
    last_error = ERROR_NOT_SUPPORTED;
    return nullptr;
  }
  try {
    auto object = std::make_shared<WaitableObject>();
    object->kind = WaitableObject::Kind::kEvent;
    object->manual_reset = manual_reset != FALSE;
    object->signaled = initial_state != FALSE;
    Core& core = TheCore();
    std::lock_guard lock(core.mutex);
    return NewHandle(core, std::move(object));
  } catch (const std::bad_alloc&) {
    last_error = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
}

BOOL SetEvent(HANDLE event) noexcept {
  std::shared_ptr<WaitableObject> object;
  {
    Core& core = TheCore();
    std::lock_guard lock(core.mutex);
    object = LookupKind(core, event, WaitableObject::Kind::kEvent);
  }
  if (!object) return FALSE;
  Signal(object, std::nullopt);
  return TRUE;
}

BOOL ResetEvent(HANDLE event) noexcept {
  Core& core = TheCore();
  std::lock_guard lock(core.mutex);
  auto object = LookupKind(core, event, WaitableObject::Kind::kEvent);
  if (!object) return FALSE;
  object->signaled = false;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) noexcept {
  Core& core = TheCore();
  std::lock_guard lock(core.mutex);
  if (core.handles.erase(handle) == 0) {
    last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) noexcept {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                             DWORD milliseconds) noexcept {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) return Fail(ERROR_INVALID_PARAMETER);
  try {
    std::vector<std::shared_ptr<WaitableObject>> objects;
    if (!CollectObjects(count, handles, &objects)) return Fail(ERROR_INVALID_HANDLE);
    return internal::WaitCore(objects, wait_all != FALSE, milliseconds, nullptr);
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                                DWORD milliseconds, DWORD wake_mask) noexcept {
  if (count > MAXIMUM_WAIT_OBJECTS - 1 || (count > 0 && !handles))
    return Fail(ERROR_INVALID_PARAMETER);
  if (wait_all) return Fail(ERROR_NOT_SUPPORTED);
  try {
    std::vector<std::shared_ptr<WaitableObject>> objects;
    if (!CollectObjects(count, handles, &objects)) return Fail(ERROR_INVALID_HANDLE);
    const bool posted = (wake_mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE | QS_TIMER)) != 0;
    std::function<bool(const internal::MessageQueue&)> ready =
        [posted](const internal::MessageQueue& q) {
          return posted && (!q.messages.empty() || q.quit_posted);
        };
    return internal::WaitCore(objects, false, milliseconds, &ready);
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

MessagePumpHook* SetMessagePumpHook(MessagePumpHook* hook) noexcept {
  const DWORD me = GetCurrentThreadId();
  std::lock_guard lock(hook_mutex);
  MessagePumpHook* previous = pump_hook;
  pump_hook = hook;
  pump_hook_thread = hook ? me : 0;
  return previous;
}

MessagePumpHook* GetMessagePumpHook() noexcept {
  std::lock_guard lock(hook_mutex);
  return pump_hook;
}

bool AddressWaitAvailable() noexcept { return true; }

BOOL WaitOnAddress(volatile void* address, void* compare, std::size_t size,
                   DWORD milliseconds) noexcept {
  if (size != sizeof(std::uint32_t)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::uint32_t expected = 0;
  std::memcpy(&expected, compare, sizeof expected);
  timespec timeout{};
  timespec* bound = nullptr;
  if (milliseconds != INFINITE) {
    timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
    timeout.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    bound = &timeout;
  }
  // EAGAIN (the value differs) and EINTR are returns without a wake, as the platform allows.
  const long result = syscall(SYS_futex, const_cast<void*>(address), FUTEX_WAIT_PRIVATE, expected,
                              bound, nullptr, 0);
  return result == -1 && errno == ETIMEDOUT ? FALSE : TRUE;
}

void WakeByAddressSingle(void* address) noexcept {
  (void)syscall(SYS_futex, address, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace kx::platform
