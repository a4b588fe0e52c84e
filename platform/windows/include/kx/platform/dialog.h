#pragma once
// Modal dialogs: the system's, from DIALOG resources of a module.
#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

using ::DLGPROC;
using ::EndDialog;
using ::GetActiveWindow;
using ::GetWindowLongPtr;
using ::SetWindowLongPtr;
using ::KillTimer;
using ::SetTimer;

inline BOOL SetDlgItemText(HWND dialog, int control_id, const char* text) noexcept {
  return ::SetDlgItemTextA(dialog, control_id, text);
}

// The dialog resource dialog_id of the module that contains module_address, run modally with
// proc; *result receives the EndDialog value. HRESULT_FROM_WIN32(GetLastError()) on failure.
[[nodiscard]] HRESULT RunModalDialogResource(const void* module_address, int dialog_id, HWND owner,
                                             DLGPROC proc, LPARAM init_param,
                                             INT_PTR* result) noexcept;

}  // namespace kx::platform
