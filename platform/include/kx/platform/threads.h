#pragma once
// Threads, events and waits with the platform's names and results, plus the hook through which
// a GUI host's own event loop runs while its thread waits.
//
// HANDLEs are entries of a process-wide table: a closed or unknown handle is refused
// (ERROR_INVALID_HANDLE), never followed. A thread's handle is signalled when its start routine
// has returned; the thread itself is detached from its handle, so closing the handle of a
// running thread is allowed and does not stop it.
#include <cstddef>

#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_ABANDONED = 0x80;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

inline constexpr DWORD QS_KEY = 0x0001;
inline constexpr DWORD QS_MOUSEMOVE = 0x0002;
inline constexpr DWORD QS_MOUSEBUTTON = 0x0004;
inline constexpr DWORD QS_POSTMESSAGE = 0x0008;
inline constexpr DWORD QS_TIMER = 0x0010;
inline constexpr DWORD QS_PAINT = 0x0020;
inline constexpr DWORD QS_SENDMESSAGE = 0x0040;
inline constexpr DWORD QS_HOTKEY = 0x0080;
inline constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
inline constexpr DWORD QS_RAWINPUT = 0x0400;
inline constexpr DWORD QS_INPUT = QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_KEY | QS_RAWINPUT;
inline constexpr DWORD QS_ALLEVENTS = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY;
inline constexpr DWORD QS_ALLINPUT = QS_ALLEVENTS | QS_SENDMESSAGE;

inline constexpr DWORD CREATE_SUSPENDED = 0x4;  // refused: threads here always start at once

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

// nullptr on failure (GetLastError: ERROR_INVALID_PARAMETER for a null routine or
// CREATE_SUSPENDED, ERROR_NOT_ENOUGH_MEMORY when no thread can be started). stack_size 0 is the
// default. thread_id (optional) receives the new thread's GetCurrentThreadId.
[[nodiscard]] HANDLE CreateThread(void* security, std::size_t stack_size,
                                  LPTHREAD_START_ROUTINE start, void* parameter, DWORD flags,
                                  DWORD* thread_id) noexcept;
// STILL_ACTIVE while it runs, then the start routine's result.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code) noexcept;

// Events: manual-reset or auto-reset, as the platform's CreateEvent.
[[nodiscard]] HANDLE CreateEvent(void* security, BOOL manual_reset, BOOL initial_state,
                                 const char* name) noexcept;  // name must be null
BOOL SetEvent(HANDLE event) noexcept;
BOOL ResetEvent(HANDLE event) noexcept;

// FALSE with ERROR_INVALID_HANDLE for a handle that is unknown or already closed.
BOOL CloseHandle(HANDLE handle) noexcept;

// WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED (GetLastError says why).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) noexcept;
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                             DWORD milliseconds) noexcept;
// Also returns WAIT_OBJECT_0 + count when a message that wake_mask selects is queued for the
// calling thread (posted messages and timers count for any mask with QS_POSTMESSAGE,
// QS_ALLPOSTMESSAGE or QS_TIMER; windows here receive no input messages). Messages already
// queued when the call starts count, unlike the platform's "new since last looked" rule: a
// caller that dispatches until PeekMessage is empty sees no difference, and one that leaves a
// message queued never sleeps with it unseen.
// wait_all TRUE (all objects and input together) is not offered: WAIT_FAILED, ERROR_NOT_SUPPORTED.
// On the thread that installed a MessagePumpHook, the host's event loop runs while waiting.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                                DWORD milliseconds, DWORD wake_mask) noexcept;

// Sleeping on a 32-bit value, as the platform's WaitOnAddress and WakeByAddressSingle (Windows 8
// and later; AddressWaitAvailable says whether the system has them, always here). WaitOnAddress
// returns TRUE when woken or when *address no longer equals *compare, possibly without either
// (callers check their condition again), FALSE after `milliseconds` (INFINITE: never) or for a
// size other than 4 (ERROR_INVALID_PARAMETER).
[[nodiscard]] bool AddressWaitAvailable() noexcept;
BOOL WaitOnAddress(volatile void* address, void* compare, std::size_t size,
                   DWORD milliseconds) noexcept;
void WakeByAddressSingle(void* address) noexcept;

// Nonzero, unique for the life of the process (never reused).
[[nodiscard]] DWORD GetCurrentThreadId() noexcept;
[[nodiscard]] DWORD GetCurrentProcessId() noexcept;
void Sleep(DWORD milliseconds) noexcept;
[[nodiscard]] DWORD GetTickCount() noexcept;  // milliseconds since the process started

// A GUI host's event loop, run by MsgWaitForMultipleObjects on the host's thread so that its
// windows repaint and its buttons (Abort) work while the thread waits for a worker.
// The platform calls ProcessEvents repeatedly until the wait is satisfied; ProcessEvents handles
// the host's pending events and then sleeps until another event arrives, Wake is called, or
// max_wait_ms has passed, whichever comes first. Wake is called from any thread (a worker that
// ends, a thread posting a message to the host thread) and must not be lost when it comes before
// ProcessEvents sleeps; QAbstractEventDispatcher::wakeUp has this property. A Qt host:
//   void ProcessEvents(DWORD ms) override {
//     QTimer::singleShot(ms, [] {});   // bounds the sleep
//     QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
//   }
//   void Wake() noexcept override { QAbstractEventDispatcher::instance(thread_)->wakeUp(); }
class MessagePumpHook {
 public:
  virtual ~MessagePumpHook() = default;
  virtual void ProcessEvents(DWORD max_wait_ms) = 0;
  virtual void Wake() noexcept = 0;
};

// Installs the hook for the calling thread (one hook per process; nullptr removes it). The
// caller keeps ownership and removes the hook before destroying it. Returns the previous hook.
MessagePumpHook* SetMessagePumpHook(MessagePumpHook* hook) noexcept;
[[nodiscard]] MessagePumpHook* GetMessagePumpHook() noexcept;

}  // namespace kx::platform
