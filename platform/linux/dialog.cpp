// Modal dialogs: the platform keeps the procedure, timers and EndDialog; a host backend draws.
#include "kx/platform/dialog.h"

#include <cstdlib>
#include <set>
#include <utility>

#include "kx/platform/messages.h"
#include "kx/platform/threads.h"
#include "wait_core.h"

namespace kx::platform {
namespace internal {

// Translates the host's events into the messages of the dialog procedure.
struct DialogState final : DialogEvents {
  HWND hwnd = nullptr;
  DLGPROC proc = nullptr;
  const DialogTemplate* dialog = nullptr;
  std::unique_ptr<DialogWindow> window;
  std::set<UINT_PTR> timers;
  bool ended = false;
  INT_PTR result = 0;
  LONG_PTR user_data = 0;

  INT_PTR Send(UINT message, WPARAM wparam, LPARAM lparam) {
    if (ended) return 0;  // nothing reaches the procedure after EndDialog
    return proc(hwnd, message, wparam, lparam);
  }
  void OnTimer(UINT_PTR timer_id) override {
    if (timers.contains(timer_id)) Send(WM_TIMER, timer_id, 0);
  }
  void OnCommand(int control_id) override {
    Send(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(control_id), BN_CLICKED), 0);
  }
  void OnLeftButtonDown(POINT where) override {
    Send(WM_LBUTTONDOWN, MK_LBUTTON,
         MAKELPARAM(static_cast<WORD>(where.x), static_cast<WORD>(where.y)));
  }
  // As on the platform, closing asks the procedure (IDCANCEL); only its EndDialog closes.
  void OnCloseRequest() override {
    Send(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(IDCANCEL), BN_CLICKED), 0);
  }
};

}  // namespace internal

namespace {

using internal::DialogState;

std::mutex backend_mutex;
DialogBackend* backend = nullptr;
DWORD backend_thread = 0;

// The dialog behind a handle, only on the thread that runs it.
DialogState* DialogOf(HWND dialog) {
  auto record = internal::FindWindow(dialog);
  if (!record || !record->dialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (record->thread_id != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return record->dialog;
}

LONG Scale(int value, int base, int divisor) {
  // Rounded half away from zero, as the platform's MulDiv.
  long long product = static_cast<long long>(value) * base;
  long long half = divisor / 2;
  return static_cast<LONG>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

}  // namespace

RECT MapDialogUnits(int x, int y, int cx, int cy, int base_x, int base_y) noexcept {
  RECT r;
  r.left = Scale(x, base_x, 4);
  r.top = Scale(y, base_y, 8);
  r.right = Scale(x + cx, base_x, 4);
  r.bottom = Scale(y + cy, base_y, 8);
  return r;
}

DialogBackend* SetDialogBackend(DialogBackend* new_backend) noexcept {
  const DWORD me = GetCurrentThreadId();
  std::lock_guard lock(backend_mutex);
  DialogBackend* previous = backend;
  backend = new_backend;
  backend_thread = new_backend ? me : 0;
  return previous;
}

DialogBackend* GetDialogBackend() noexcept {
  std::lock_guard lock(backend_mutex);
  return backend;
}

HRESULT RunModalDialog(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM init_param,
                       INT_PTR* result) noexcept {
  if (!result) return E_POINTER;
  *result = -1;
  if (!proc) return E_INVALIDARG;
  DialogBackend* host = nullptr;
  {
    std::lock_guard lock(backend_mutex);
    if (!backend) return DIALOG_E_NOHOST;  // at once: nothing could ever close a dialog here
    if (backend_thread != GetCurrentThreadId()) return RPC_E_WRONG_THREAD;
    host = backend;
  }
  HWND hwnd = nullptr;
  try {
    DialogState state;
    state.proc = proc;
    state.dialog = &dialog;
    auto record = std::make_shared<internal::WindowRecord>();
    record->proc = proc;
    record->thread_id = GetCurrentThreadId();
    record->dialog = &state;
    hwnd = internal::AddWindow(std::move(record));
    state.hwnd = hwnd;

    state.window = host->CreateDialogWindow(dialog, owner, state);
    if (!state.window) {
      internal::RemoveWindow(hwnd);
      return E_FAIL;
    }
    state.Send(WM_INITDIALOG, 0, init_param);
    if (!state.ended) state.window->RunModal();
    for (UINT_PTR id : state.timers) state.window->StopTimer(id);
    state.window.reset();
    internal::RemoveWindow(hwnd);
    *result = state.result;
    return S_OK;
  } catch (const std::bad_alloc&) {
    if (hwnd) internal::RemoveWindow(hwnd);
    return E_OUTOFMEMORY;
  } catch (...) {
    if (hwnd) internal::RemoveWindow(hwnd);
    return E_FAIL;  // the host's code threw
  }
}

INT_PTR DialogBoxIndirectParam(const DialogTemplate& dialog, HWND owner, DLGPROC proc,
                               LPARAM init_param) noexcept {
  INT_PTR result = -1;
  HRESULT hr = RunModalDialog(dialog, owner, proc, init_param, &result);
  if (FAILED(hr)) {
    SetLastError(hr == DIALOG_E_NOHOST                   ? ERROR_NOT_SUPPORTED
                 : hr == RPC_E_WRONG_THREAD              ? ERROR_ACCESS_DENIED
                 : hr == E_INVALIDARG || hr == E_POINTER ? ERROR_INVALID_PARAMETER
                                                         : ERROR_INVALID_FUNCTION);
    return -1;
  }
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) noexcept {
  DialogState* state = DialogOf(dialog);
  if (!state) return FALSE;
  if (!state->ended) {
    state->ended = true;
    state->result = result;
    if (state->window) state->window->EndModal();
  }
  return TRUE;
}

UINT_PTR SetTimer(HWND dialog, UINT_PTR timer_id, UINT interval_ms, void* timer_proc) noexcept {
  if (timer_proc || timer_id == 0) {
    SetLastError(timer_proc ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
    return 0;
  }
  DialogState* state = DialogOf(dialog);
  if (!state || !state->window) return 0;
  try {
    state->timers.insert(timer_id);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  state->window->StartTimer(timer_id, interval_ms);
  return timer_id;
}

BOOL KillTimer(HWND dialog, UINT_PTR timer_id) noexcept {
  DialogState* state = DialogOf(dialog);
  if (!state) return FALSE;
  if (state->timers.erase(timer_id) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (state->window) state->window->StopTimer(timer_id);
  return TRUE;
}

BOOL SetDlgItemText(HWND dialog, int control_id, const char* text) noexcept {
  DialogState* state = DialogOf(dialog);
  if (!state || !state->window) return FALSE;
  for (const DialogControl& control : state->dialog->controls) {
    if (control.id == control_id) {
      state->window->SetControlText(control_id, text ? text : "");
      return TRUE;
    }
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return FALSE;
}

LONG_PTR SetWindowLongPtr(HWND dialog, int index, LONG_PTR value) noexcept {
  DialogState* state = DialogOf(dialog);
  if (!state) return 0;
  if (index != DWLP_USER) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  SetLastError(0);  // a previous value of 0 is then told apart from a failure
  return std::exchange(state->user_data, value);
}

LONG_PTR GetWindowLongPtr(HWND dialog, int index) noexcept {
  DialogState* state = DialogOf(dialog);
  if (!state) return 0;
  if (index != DWLP_USER) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  return state->user_data;
}

HWND GetActiveWindow() noexcept { return nullptr; }

}  // namespace kx::platform
