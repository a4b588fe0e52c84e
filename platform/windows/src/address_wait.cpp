// WaitOnAddress and WakeByAddressSingle, found in kernelbase.dll when the system has them: under
// Wine they sleep on a futex inside the process, where an event costs a request to wineserver.
#include "kx/platform/threads.h"

namespace kx::platform {
namespace {

using WaitFunction = BOOL(WINAPI*)(volatile VOID*, PVOID, SIZE_T, DWORD);
using WakeFunction = VOID(WINAPI*)(PVOID);

struct AddressWait {
  WaitFunction wait = nullptr;
  WakeFunction wake = nullptr;
};

const AddressWait& Functions() noexcept {
  static const AddressWait functions = [] {
    AddressWait found;
    if (HMODULE base = GetModuleHandleW(L"kernelbase.dll")) {
      found.wait = reinterpret_cast<WaitFunction>(
          reinterpret_cast<void*>(GetProcAddress(base, "WaitOnAddress")));
      found.wake = reinterpret_cast<WakeFunction>(
          reinterpret_cast<void*>(GetProcAddress(base, "WakeByAddressSingle")));
    }
    if (!found.wait || !found.wake) found = AddressWait{};
    return found;
  }();
  return functions;
}

}  // namespace

bool AddressWaitAvailable() noexcept { return Functions().wait != nullptr; }

BOOL WaitOnAddress(volatile void* address, void* compare, SIZE_T size, DWORD milliseconds) noexcept {
  if (!Functions().wait) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return Functions().wait(address, compare, size, milliseconds);
}

void WakeByAddressSingle(void* address) noexcept {
  if (Functions().wake) Functions().wake(address);
}

}  // namespace kx::platform
