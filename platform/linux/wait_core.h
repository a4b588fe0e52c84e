#pragma once
// Shared state of threads, events, message queues and windows. One mutex guards all of it, so a
// wait can test its objects and its thread's queue in one step and never miss a wake-up between.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "kx/platform/handles.h"
#include "kx/platform/messages.h"
#include "kx/platform/threads.h"

namespace kx::platform::internal {

struct WaitableObject {
  enum class Kind { kThread, kEvent };
  Kind kind = Kind::kEvent;
  bool signaled = false;
  bool manual_reset = true;  // threads stay signalled once ended
  DWORD exit_code = STILL_ACTIVE;
};

struct MessageQueue {
  std::deque<MSG> messages;
  bool quit_posted = false;
  int quit_code = 0;
};

struct DialogState;  // dialog.cpp

struct WindowRecord {
  WNDPROC proc = nullptr;
  void* user_data = nullptr;
  DWORD thread_id = 0;
  bool destroying = false;
  DialogState* dialog = nullptr;  // set for dialogs
};

struct Core {
  std::mutex mutex;
  std::condition_variable changed;  // any object signalled or message posted
  std::map<HANDLE, std::shared_ptr<WaitableObject>> handles;
  std::map<DWORD, MessageQueue> queues;  // by thread id
  std::map<HWND, std::shared_ptr<WindowRecord>> windows;
  std::uintptr_t next_handle = 0x1000;  // handle values are never reused
  std::uintptr_t next_window = 0x10000;
};

Core& TheCore();

// Creates the calling thread's queue if it has none. Call with the mutex held.
MessageQueue& QueueOfCurrentThread(std::unique_lock<std::mutex>& held);

// Calls the installed MessagePumpHook's Wake when thread_id is the hook's thread (or always when
// thread_id is 0). Call without the core mutex held.
void WakeHookFor(DWORD thread_id) noexcept;

// Waits for objects and, when queue_ready is given, for the calling thread's queue to satisfy it
// (tested with the mutex held). Returns WAIT_OBJECT_0 + i, WAIT_OBJECT_0 + objects.size() for
// the queue, or WAIT_TIMEOUT. Runs the pump hook on its thread when queue_ready is given.
DWORD WaitCore(const std::vector<std::shared_ptr<WaitableObject>>& objects, bool wait_all,
               DWORD milliseconds, const std::function<bool(const MessageQueue&)>* queue_ready);

// Registers a window owned by the calling thread; returns its handle.
HWND AddWindow(std::shared_ptr<WindowRecord> record);
std::shared_ptr<WindowRecord> FindWindow(HWND window);
// Removes the window and drops the messages queued for it.
void RemoveWindow(HWND window);

}  // namespace kx::platform::internal
