#pragma once
// Per-thread message queues and message-only windows.
//
// A thread gets its queue the first time it calls a function of this header (or creates a
// window) and loses it, with its windows, when it ends. A window belongs to the thread that
// created it; messages posted to it go to that thread's queue and DispatchMessage calls its
// procedure on the thread that dispatches (the owner, in correct use).
#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;
inline constexpr UINT PM_NOYIELD = 0x0002;

inline constexpr WPARAM MK_LBUTTON = 0x0001;

// A message-only window owned by the calling thread; proc receives its messages. user_data is
// returned by GetWindowUserData. nullptr on failure (GetLastError). proc receives WM_CREATE
// before this returns and WM_DESTROY from DestroyWindow.
[[nodiscard]] HWND CreateMessageWindow(WNDPROC proc, void* user_data) noexcept;
// Only the owning thread may destroy a window (ERROR_ACCESS_DENIED otherwise). Messages still
// queued for it are dropped.
BOOL DestroyWindow(HWND window) noexcept;
[[nodiscard]] BOOL IsWindow(HWND window) noexcept;
[[nodiscard]] void* GetWindowUserData(HWND window) noexcept;
// The owning thread's id (0 for an invalid window); *process_id receives the process id.
DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id) noexcept;
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

// Queues a message for the window's owning thread; a null window posts to the calling thread
// (as PostThreadMessage to itself). FALSE with ERROR_INVALID_WINDOW_HANDLE for a bad window.
BOOL PostMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
// FALSE with ERROR_INVALID_THREAD_ID when the thread has no queue (or has ended).
BOOL PostThreadMessage(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
void PostQuitMessage(int exit_code) noexcept;
// Calls the window's procedure directly; only on the owning thread (else 0, ERROR_ACCESS_DENIED).
LRESULT SendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

// Filters as the platform's: window null = any message of the thread; (HWND)-1 = thread messages
// only (posted with a null window); min = max = 0 = any message number. Messages are returned in
// the order they were posted, WM_QUIT only when no other message matches.
BOOL PeekMessage(MSG* msg, HWND window, UINT min_filter, UINT max_filter, UINT remove) noexcept;
// Waits (running the host's MessagePumpHook on its thread) until a message matches. Returns 0
// for WM_QUIT, -1 for bad arguments, otherwise nonzero.
BOOL GetMessage(MSG* msg, HWND window, UINT min_filter, UINT max_filter) noexcept;
BOOL TranslateMessage(const MSG* msg) noexcept;  // no keyboard messages here: does nothing
// Calls the procedure of msg->hwnd (0 when it has none or is no longer a window).
LRESULT DispatchMessage(const MSG* msg) noexcept;
// Whether messages are queued for the calling thread.
[[nodiscard]] BOOL HasQueuedMessages() noexcept;

// Narrow names, as the component's code calls them (texts here are UTF-8 throughout).
inline BOOL PeekMessageA(MSG* msg, HWND window, UINT min_filter, UINT max_filter,
                         UINT remove) noexcept {
  return PeekMessage(msg, window, min_filter, max_filter, remove);
}
inline LRESULT DispatchMessageA(const MSG* msg) noexcept { return DispatchMessage(msg); }
inline BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  return PostMessage(window, message, wparam, lparam);
}

}  // namespace kx::platform
