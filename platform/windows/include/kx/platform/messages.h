#pragma once
// Message queues and windows: the system's (user32).
#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

using ::DefWindowProc;
using ::DestroyWindow;
using ::DispatchMessage;
using ::DispatchMessageA;
using ::GetMessage;
using ::GetWindowThreadProcessId;
using ::IsWindow;
using ::PeekMessage;
using ::PeekMessageA;
using ::PostMessage;
using ::PostMessageA;
using ::PostQuitMessage;
using ::PostThreadMessage;
using ::SendMessage;
using ::TranslateMessage;

// A message-only window (parent HWND_MESSAGE) owned by the calling thread; proc receives its
// messages, user_data is returned by GetWindowUserData. nullptr on failure (GetLastError).
[[nodiscard]] HWND CreateMessageWindow(WNDPROC proc, void* user_data) noexcept;
[[nodiscard]] void* GetWindowUserData(HWND window) noexcept;
// Whether messages are queued for the calling thread.
[[nodiscard]] inline BOOL HasQueuedMessages() noexcept { return ::GetQueueStatus(QS_ALLINPUT) != 0; }

}  // namespace kx::platform
