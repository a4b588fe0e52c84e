// Per-thread message queues and message-only windows.
#include "kx/platform/messages.h"

#include <unistd.h>

#include "wait_core.h"

namespace kx::platform {
namespace internal {

HWND AddWindow(std::shared_ptr<WindowRecord> record) {
  Core& core = TheCore();
  std::unique_lock lock(core.mutex);
  QueueOfCurrentThread(lock);
  HWND h = reinterpret_cast<HWND>(core.next_window);
  core.next_window += 4;
  core.windows.emplace(h, std::move(record));
  return h;
}

std::shared_ptr<WindowRecord> FindWindow(HWND window) {
  Core& core = TheCore();
  std::lock_guard lock(core.mutex);
  auto it = core.windows.find(window);
  return it == core.windows.end() ? nullptr : it->second;
}

void RemoveWindow(HWND window) {
  Core& core = TheCore();
  std::lock_guard lock(core.mutex);
  auto it = core.windows.find(window);
  if (it == core.windows.end()) return;
  auto queue = core.queues.find(it->second->thread_id);
  if (queue != core.queues.end()) {
    std::erase_if(queue->second.messages, [window](const MSG& m) { return m.hwnd == window; });
  }
  core.windows.erase(it);
}

}  // namespace internal

namespace {

using internal::Core;
using internal::MessageQueue;
using internal::TheCore;
using internal::WindowRecord;

// The platform's own limit on a thread's posted messages.
constexpr std::size_t kMaxQueuedMessages = 10000;

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Queues a message for a thread; the core mutex must not be held.
BOOL Post(DWORD thread_id, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Core& core = TheCore();
  {
    std::lock_guard lock(core.mutex);
    auto it = core.queues.find(thread_id);
    if (it == core.queues.end()) return FailWith(ERROR_INVALID_THREAD_ID);
    if (it->second.messages.size() >= kMaxQueuedMessages) return FailWith(ERROR_NOT_ENOUGH_QUOTA);
    MSG m;
    m.hwnd = window;
    m.message = message;
    m.wParam = wparam;
    m.lParam = lparam;
    m.time = GetTickCount();
    it->second.messages.push_back(m);
  }
  core.changed.notify_all();
  internal::WakeHookFor(thread_id);
  return TRUE;
}

bool Matches(const MSG& m, HWND window, UINT min_filter, UINT max_filter) {
  if (window == kThreadMessagesOnly) {
    if (m.hwnd != nullptr) return false;
  } else if (window != nullptr && m.hwnd != window) {
    return false;
  }
  if (min_filter == 0 && max_filter == 0) return true;
  return m.message >= min_filter && m.message <= max_filter;
}

// Takes (or copies) the first matching message; WM_QUIT only when nothing else matches.
bool TakeMessage(MessageQueue& queue, MSG* msg, HWND window, UINT min_filter, UINT max_filter,
                 bool remove) {
  for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
    if (Matches(*it, window, min_filter, max_filter)) {
      *msg = *it;
      if (remove) queue.messages.erase(it);
      return true;
    }
  }
  if (queue.quit_posted) {
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(queue.quit_code);
    msg->time = GetTickCount();
    if (remove) queue.quit_posted = false;
    return true;
  }
  return false;
}

}  // namespace

HWND CreateMessageWindow(WNDPROC proc, void* user_data) noexcept {
  if (!proc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  try {
    auto record = std::make_shared<WindowRecord>();
    record->proc = proc;
    record->user_data = user_data;
    record->thread_id = GetCurrentThreadId();
    HWND window = internal::AddWindow(std::move(record));
    if (proc(window, WM_CREATE, 0, 0) == -1) {  // the procedure refused its creation
      internal::RemoveWindow(window);
      SetLastError(ERROR_INVALID_FUNCTION);
      return nullptr;
    }
    return window;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL DestroyWindow(HWND window) noexcept {
  std::shared_ptr<WindowRecord> record = internal::FindWindow(window);
  if (!record) return FailWith(ERROR_INVALID_WINDOW_HANDLE);
  if (record->thread_id != GetCurrentThreadId()) return FailWith(ERROR_ACCESS_DENIED);
  if (record->destroying || record->dialog)
    return FailWith(ERROR_INVALID_WINDOW_HANDLE);  // dialogs end by EndDialog
  record->destroying = true;  // only the owning thread reads or writes this flag
  record->proc(window, WM_DESTROY, 0, 0);
  internal::RemoveWindow(window);
  return TRUE;
}

BOOL IsWindow(HWND window) noexcept { return internal::FindWindow(window) ? TRUE : FALSE; }

void* GetWindowUserData(HWND window) noexcept {
  auto record = internal::FindWindow(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return record->user_data;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id) noexcept {
  auto record = internal::FindWindow(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (process_id) *process_id = GetCurrentProcessId();
  return record->thread_id;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) noexcept { return 0; }

BOOL PostMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (window == nullptr) return PostThreadMessage(GetCurrentThreadId(), message, wparam, lparam);
  auto record = internal::FindWindow(window);
  if (!record) return FailWith(ERROR_INVALID_WINDOW_HANDLE);
  return Post(record->thread_id, window, message, wparam, lparam);
}

BOOL PostThreadMessage(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (thread_id == GetCurrentThreadId()) {
    std::unique_lock lock(TheCore().mutex);
    internal::QueueOfCurrentThread(lock);  // posting to oneself creates the queue
  }
  return Post(thread_id, nullptr, message, wparam, lparam);
}

void PostQuitMessage(int exit_code) noexcept {
  Core& core = TheCore();
  {
    std::unique_lock lock(core.mutex);
    MessageQueue& queue = internal::QueueOfCurrentThread(lock);
    queue.quit_posted = true;
    queue.quit_code = exit_code;
  }
  core.changed.notify_all();
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  auto record = internal::FindWindow(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (record->thread_id != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);  // no cross-thread sends: nothing here would deliver them
    return 0;
  }
  return record->proc(window, message, wparam, lparam);
}

BOOL PeekMessage(MSG* msg, HWND window, UINT min_filter, UINT max_filter, UINT remove) noexcept {
  if (!msg) return FailWith(ERROR_INVALID_PARAMETER);
  std::unique_lock lock(TheCore().mutex);
  MessageQueue& queue = internal::QueueOfCurrentThread(lock);
  return TakeMessage(queue, msg, window, min_filter, max_filter, (remove & PM_REMOVE) != 0) ? TRUE
                                                                                            : FALSE;
}

BOOL GetMessage(MSG* msg, HWND window, UINT min_filter, UINT max_filter) noexcept {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (window != nullptr && window != kThreadMessagesOnly && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  try {
    std::function<bool(const MessageQueue&)> ready = [&](const MessageQueue& q) {
      if (q.quit_posted) return true;
      for (const MSG& m : q.messages) {
        if (Matches(m, window, min_filter, max_filter)) return true;
      }
      return false;
    };
    for (;;) {
      if (PeekMessage(msg, window, min_filter, max_filter, PM_REMOVE))
        return msg->message == WM_QUIT ? 0 : 1;
      internal::WaitCore({}, false, INFINITE, &ready);
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
}

BOOL TranslateMessage(const MSG*) noexcept { return FALSE; }

LRESULT DispatchMessage(const MSG* msg) noexcept {
  if (!msg || !msg->hwnd) return 0;
  auto record = internal::FindWindow(msg->hwnd);
  if (!record || !record->proc) return 0;
  return record->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL HasQueuedMessages() noexcept {
  std::unique_lock lock(TheCore().mutex);
  const MessageQueue& queue = internal::QueueOfCurrentThread(lock);
  return !queue.messages.empty() || queue.quit_posted ? TRUE : FALSE;
}

}  // namespace kx::platform
