#include "kx/platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "kx/platform/threads.h"

namespace kx::platform {
namespace {

// What a window procedure saw, kept in its user data.
struct Seen {
  std::vector<UINT> messages;
  std::vector<WPARAM> wparams;
  HANDLE event_to_set = nullptr;  // set on WM_APP
};

LRESULT RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* seen = static_cast<Seen*>(GetWindowUserData(window));
  if (!seen) return DefWindowProc(window, message, wparam, lparam);
  seen->messages.push_back(message);
  seen->wparams.push_back(wparam);
  if (message == WM_APP && seen->event_to_set) {
    EXPECT_TRUE(SetEvent(seen->event_to_set));
  }
  return static_cast<LRESULT>(message) + 1;
}

// The wait of a worker-thread call with message pumping: wait, drain and dispatch, wait again.
DWORD PumpedWait(HANDLE thread, int* rounds) {
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1) return r;
    ++*rounds;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

struct WorkerArgs {
  HWND window;
  HANDLE handled;  // set by the window procedure on this thread
};

DWORD PostAndWaitForHandling(void* raw) {
  auto* args = static_cast<WorkerArgs*>(raw);
  if (!PostMessage(args->window, WM_APP, 7, 8)) return 1;
  // Ends only once the waiting thread has dispatched the message.
  return WaitForSingleObject(args->handled, INFINITE) == WAIT_OBJECT_0 ? 42 : 2;
}

TEST(MsgWaitForMultipleObjects, DispatchesPostedMessagesWhileTheWorkerRuns) {
  HANDLE handled = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(handled, nullptr);
  Seen seen;
  seen.event_to_set = handled;
  HWND window = CreateMessageWindow(RecordingProc, &seen);
  ASSERT_NE(window, nullptr);
  WorkerArgs args{window, handled};
  HANDLE worker = CreateThread(nullptr, 0, PostAndWaitForHandling, &args, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  int rounds = 0;
  EXPECT_EQ(PumpedWait(worker, &rounds), WAIT_OBJECT_0);
  EXPECT_GE(rounds, 1);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, 42u);
  ASSERT_GE(seen.messages.size(), 2u);
  EXPECT_EQ(seen.messages.front(), WM_CREATE);
  EXPECT_EQ(seen.messages.back(), WM_APP);
  EXPECT_EQ(seen.wparams.back(), 7u);
  // A finished thread satisfies every later wait at once.
  EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(worker));
  EXPECT_TRUE(CloseHandle(handled));
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(seen.messages.back(), WM_DESTROY);
}

TEST(MsgWaitForMultipleObjects, CountsMessagesQueuedBeforeTheCall) {
  HANDLE never = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(PostThreadMessage(GetCurrentThreadId(), WM_USER, 1, 0));
  // Already queued, never looked at: the wait must not sleep on it (INFINITE would hang).
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_POSTMESSAGE), WAIT_OBJECT_0);
  // Input-only masks do not wake for posted messages.
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, 0, QS_KEY | QS_MOUSEBUTTON), WAIT_TIMEOUT);
  HANDLE two[] = {never, never};
  EXPECT_EQ(MsgWaitForMultipleObjects(2, two, TRUE, 0, QS_ALLINPUT), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  MSG msg;
  EXPECT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(never));
}

// A host event loop: events the host queued run inside ProcessEvents, as a Qt host's would.
class FakeHost final : public MessagePumpHook {
 public:
  void Queue(std::function<void()> event) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    }
    Wake();
  }
  void ProcessEvents(DWORD max_wait_ms) override {
    std::unique_lock lock(mutex_);
    ++pumps_;
    cv_.wait_for(lock, std::chrono::milliseconds(max_wait_ms),
                 [&] { return woken_ || !events_.empty(); });
    woken_ = false;
    while (!events_.empty()) {
      auto event = std::move(events_.front());
      events_.pop_front();
      lock.unlock();
      event();
      lock.lock();
    }
  }
  void Wake() noexcept override {
    {
      std::lock_guard lock(mutex_);
      woken_ = true;  // kept until the next ProcessEvents: a wake is never lost
      ++wakes_;
    }
    cv_.notify_all();
  }
  int pumps() {
    std::lock_guard lock(mutex_);
    return pumps_;
  }
  int wakes() {
    std::lock_guard lock(mutex_);
    return wakes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> events_;
  bool woken_ = false;
  int pumps_ = 0;
  int wakes_ = 0;
};

struct HostArgs {
  FakeHost* host;
  HANDLE abort_requested;
  std::atomic<bool>* button_ran;
};

DWORD WorkerAbortedByHostButton(void* raw) {
  auto* args = static_cast<HostArgs*>(raw);
  // The host's "Exit" button: runs in the host's loop, on the waiting thread.
  HANDLE abort = args->abort_requested;
  std::atomic<bool>* ran = args->button_ran;
  args->host->Queue([abort, ran] {
    ran->store(true);
    SetEvent(abort);
  });
  return WaitForSingleObject(abort, INFINITE) == WAIT_OBJECT_0 ? 3100 : 1;
}

TEST(MessagePumpHook, HostLoopRunsDuringTheWaitAndTheWaitEndsWithTheWorker) {
  FakeHost host;
  ASSERT_EQ(SetMessagePumpHook(&host), nullptr);
  HANDLE abort = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> button_ran{false};
  HostArgs args{&host, abort, &button_ran};
  HANDLE worker = CreateThread(nullptr, 0, WorkerAbortedByHostButton, &args, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  int rounds = 0;
  EXPECT_EQ(PumpedWait(worker, &rounds), WAIT_OBJECT_0);
  EXPECT_TRUE(button_ran.load());
  EXPECT_GE(host.pumps(), 1);
  EXPECT_GE(host.wakes(), 2);  // the queued event, then the worker's end
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, 3100u);

  // Waits on other threads never run the host's loop.
  const int pumps_before = host.pumps();
  std::thread other([] {
    HANDLE done = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
    CloseHandle(done);
  });
  other.join();
  EXPECT_EQ(host.pumps(), pumps_before);
  EXPECT_EQ(SetMessagePumpHook(nullptr), &host);
  EXPECT_TRUE(CloseHandle(worker));
  EXPECT_TRUE(CloseHandle(abort));
}

TEST(PeekMessage, FiltersByWindowAndRangeAndKeepsPostingOrder) {
  Seen seen_a, seen_b;
  HWND a = CreateMessageWindow(RecordingProc, &seen_a);
  HWND b = CreateMessageWindow(RecordingProc, &seen_b);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(PostMessage(a, WM_USER + 1, 1, 0));
  ASSERT_TRUE(PostMessage(b, WM_USER + 2, 2, 0));
  ASSERT_TRUE(PostMessage(nullptr, WM_USER + 3, 3, 0));  // a thread message
  ASSERT_TRUE(PostThreadMessage(GetCurrentThreadId(), WM_APP, 4, 0));

  struct Peek {
    HWND window;
    UINT min, max, remove;
    BOOL found;
    WPARAM wparam;
  };
  const HWND thread_only = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
  const Peek peeks[] = {
      {b, 0, 0, PM_NOREMOVE, TRUE, 2},                          // only b's
      {nullptr, WM_USER + 2, WM_USER + 3, PM_REMOVE, TRUE, 2},  // range skips a's
      {thread_only, 0, 0, PM_REMOVE, TRUE, 3},                  // thread messages only
      {b, 0, 0, PM_REMOVE, FALSE, 0},                           // b's is gone
      {nullptr, 0, 0, PM_REMOVE, TRUE, 1},                      // oldest left
      {nullptr, 0, 0, PM_REMOVE, TRUE, 4},
      {nullptr, 0, 0, PM_REMOVE, FALSE, 0},
  };
  int row = 0;
  for (const Peek& p : peeks) {
    SCOPED_TRACE(testing::Message() << "row " << row++);
    MSG msg;
    EXPECT_EQ(PeekMessage(&msg, p.window, p.min, p.max, p.remove), p.found);
    if (p.found) {
      EXPECT_EQ(msg.wParam, p.wparam);
    }
  }
  EXPECT_FALSE(HasQueuedMessages());

  // WM_QUIT waits behind every other message and then passes any filter.
  PostQuitMessage(5);
  ASSERT_TRUE(PostMessage(a, WM_USER, 6, 0));
  MSG quit;
  ASSERT_TRUE(PeekMessage(&quit, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 6u);
  ASSERT_TRUE(PeekMessage(&quit, b, WM_USER, WM_USER, PM_NOREMOVE));
  EXPECT_EQ(quit.message, WM_QUIT);
  ASSERT_TRUE(PeekMessage(&quit, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 5u);
  EXPECT_FALSE(HasQueuedMessages());

  // Dispatch calls the window's procedure and returns its result; a thread message has none.
  MSG msg{};
  msg.hwnd = a;
  msg.message = WM_USER;
  EXPECT_EQ(DispatchMessage(&msg), static_cast<LRESULT>(WM_USER) + 1);
  EXPECT_EQ(SendMessage(b, WM_USER + 9, 0, 0), static_cast<LRESULT>(WM_USER + 9) + 1);
  msg.hwnd = nullptr;
  EXPECT_EQ(DispatchMessage(&msg), 0);

  // Destroying a window drops what is queued for it and refuses later posts.
  ASSERT_TRUE(PostMessage(a, WM_USER, 0, 0));
  EXPECT_TRUE(DestroyWindow(a));
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PostMessage(a, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(IsWindow(a));
  EXPECT_FALSE(DestroyWindow(a));
  EXPECT_TRUE(DestroyWindow(b));
}

TEST(GetMessage, WaitsForAMatchingMessageAndEndsOnQuit) {
  Seen seen;
  HWND window = CreateMessageWindow(RecordingProc, &seen);
  const DWORD me = GetCurrentThreadId();
  std::thread poster([window, me] {
    EXPECT_TRUE(PostMessage(window, WM_APP + 1, 11, 0));
    EXPECT_TRUE(PostThreadMessage(me, WM_APP + 2, 12, 0));
  });
  MSG msg;
  EXPECT_EQ(GetMessage(&msg, nullptr, WM_APP + 2, WM_APP + 2), 1);  // skips the earlier one
  EXPECT_EQ(msg.wParam, 12u);
  EXPECT_EQ(GetMessage(&msg, window, 0, 0), 1);
  EXPECT_EQ(msg.wParam, 11u);
  poster.join();
  PostQuitMessage(3);
  EXPECT_EQ(GetMessage(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(GetMessage(nullptr, nullptr, 0, 0), -1);
  EXPECT_TRUE(DestroyWindow(window));
}

DWORD WaitForEvent(void* event) {
  return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
}
DWORD ReturnNine(void*) { return 9; }

TEST(Threads, HandlesAreCheckedAndWaitsTimeOut) {
  HANDLE gate = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE worker = CreateThread(nullptr, 64 * 1024, WaitForEvent, gate, 0, &id);
  ASSERT_NE(worker, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, STILL_ACTIVE);  // it cannot end before the gate opens
  EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(worker, 5), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &worker, FALSE, 5, QS_ALLINPUT), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(gate));
  EXPECT_EQ(WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, WAIT_OBJECT_0);
  // The thread's queue went with it.
  EXPECT_FALSE(PostThreadMessage(id, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));

  EXPECT_TRUE(CloseHandle(worker));
  EXPECT_FALSE(CloseHandle(worker));  // closed twice
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_FAILED);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &worker, FALSE, 0, QS_ALLINPUT), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_TRUE(CloseHandle(gate));

  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateThread(nullptr, 0, ReturnNine, nullptr, CREATE_SUSPENDED, nullptr), nullptr);

  // Closing the handle of a running thread leaves the thread running to its end.
  HANDLE detached = CreateThread(nullptr, 0, ReturnNine, nullptr, 0, nullptr);
  EXPECT_TRUE(CloseHandle(detached));
}

TEST(Events, AutoResetReleasesOneWaitManualResetAll) {
  HANDLE automatic = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  HANDLE manual = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);  // consumed
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  HANDLE both[] = {automatic, manual};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(SetEvent(automatic));
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_EQ(CreateEvent(nullptr, TRUE, FALSE, "named"), nullptr);
  EXPECT_TRUE(CloseHandle(automatic));
  EXPECT_TRUE(CloseHandle(manual));
  EXPECT_FALSE(SetEvent(manual));
}

TEST(WaitOnAddress, ReturnsOnChangeOrWakeAndTimesOutOtherwise) {
  ASSERT_TRUE(AddressWaitAvailable());
  std::atomic<std::uint32_t> value{7};
  std::uint32_t seven = 7, eight = 8;
  EXPECT_FALSE(WaitOnAddress(&value, &seven, sizeof seven, 20));  // unchanged: the time runs out
  EXPECT_TRUE(WaitOnAddress(&value, &eight, sizeof eight, INFINITE));  // differs already
  std::uint64_t wide = 7;
  SetLastError(0);
  EXPECT_FALSE(WaitOnAddress(&value, &wide, sizeof wide, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A change and a wake end a wait without a time limit.
  std::thread changer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    value.store(8);
    WakeByAddressSingle(&value);
  });
  for (std::uint32_t seen = value.load(); seen == 7; seen = value.load()) {
    EXPECT_TRUE(WaitOnAddress(&value, &seen, sizeof seen, INFINITE));
  }
  changer.join();
  EXPECT_EQ(value.load(), 8u);
}

TEST(Windows, BelongToTheirThread) {
  Seen seen;
  HWND window = CreateMessageWindow(RecordingProc, &seen);
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(window, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());
  std::thread other([window] {
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SendMessage(window, WM_USER, 0, 0), 0);
    EXPECT_TRUE(PostMessage(window, WM_USER, 5, 0));  // posting from anywhere is fine
  });
  other.join();
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_EQ(CreateMessageWindow(nullptr, nullptr), nullptr);
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), 0u);
}

}  // namespace
}  // namespace kx::platform
