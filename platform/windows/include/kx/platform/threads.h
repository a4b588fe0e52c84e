#pragma once
// Threads, events and waits: the system's. A thread that waits with MsgWaitForMultipleObjects
// pumps its own queue, so no event-loop hook is needed here; SetMessagePumpHook only records
// the hook, for hosts written against both sides.
#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

using ::CloseHandle;
using ::CreateEvent;
using ::CreateThread;
using ::GetCurrentProcessId;
using ::GetCurrentThreadId;
using ::GetExitCodeThread;
using ::GetTickCount;
using ::LPTHREAD_START_ROUTINE;
using ::MsgWaitForMultipleObjects;
using ::ResetEvent;
using ::SetEvent;
using ::Sleep;
using ::WaitForMultipleObjects;
using ::WaitForSingleObject;

// WaitOnAddress and WakeByAddressSingle exist from Windows 8 on; the build targets Windows 7, so
// they are looked up at run time. AddressWaitAvailable is false where they are absent; the other
// two then fail (FALSE, ERROR_NOT_SUPPORTED) and do nothing.
[[nodiscard]] bool AddressWaitAvailable() noexcept;
BOOL WaitOnAddress(volatile void* address, void* compare, SIZE_T size, DWORD milliseconds) noexcept;
void WakeByAddressSingle(void* address) noexcept;

class MessagePumpHook {
 public:
  virtual ~MessagePumpHook() = default;
  virtual void ProcessEvents(DWORD max_wait_ms) = 0;
  virtual void Wake() noexcept = 0;
};
MessagePumpHook* SetMessagePumpHook(MessagePumpHook* hook) noexcept;
[[nodiscard]] MessagePumpHook* GetMessagePumpHook() noexcept;

}  // namespace kx::platform
