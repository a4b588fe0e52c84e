#pragma once
// Modal dialogs shown by a GUI host.
//
// The platform keeps the dialog's logic (its procedure, timers, EndDialog); the host draws it.
// A GUI host (the calculator) installs a DialogBackend once; in a process without one,
// DialogBoxIndirectParam fails at once with DIALOG_E_NOHOST instead of blocking.
//
// The dialog procedure receives, on the host's thread: WM_INITDIALOG (lparam = init_param) before
// the dialog shows, WM_TIMER (wparam = timer id) for timers started with SetTimer,
// WM_LBUTTONDOWN (MK_LBUTTON, MAKELPARAM(x, y) in dialog pixels) for a click on the dialog's
// surface, WM_COMMAND (MAKEWPARAM(control id, BN_CLICKED)) for a push button, and
// WM_COMMAND(IDCANCEL) when the user closes the frame. It returns TRUE for a message it handled.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

inline constexpr INT_PTR IDOK = 1;
inline constexpr INT_PTR IDCANCEL = 2;
inline constexpr WORD BN_CLICKED = 0;

inline constexpr DWORD WS_POPUP = 0x80000000u;
inline constexpr DWORD WS_CAPTION = 0x00C00000u;
inline constexpr DWORD WS_SYSMENU = 0x00080000u;
inline constexpr DWORD DS_MODALFRAME = 0x80u;
inline constexpr DWORD DS_CENTER = 0x0800u;
inline constexpr DWORD DS_SETFONT = 0x40u;

// No GUI host registered in this process: HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED).
inline constexpr HRESULT DIALOG_E_NOHOST = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

enum class DialogControlKind { kPushButton, kDefPushButton, kStaticText, kPicture };

// Place and size in dialog units, as a dialog resource gives them.
struct DialogControl {
  int id = 0;
  DialogControlKind kind = DialogControlKind::kStaticText;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string text;          // UTF-8; button caption or static text
  HBITMAP bitmap = nullptr;  // kPicture; owned by the caller for the dialog's life
};

struct DialogTemplate {
  std::string title;  // empty with no WS_CAPTION: a frame without caption
  DWORD style = WS_POPUP | DS_MODALFRAME | DS_CENTER;
  int cx = 0, cy = 0;  // dialog units
  std::string font_name = "MS Sans Serif";
  int font_points = 8;
  std::vector<DialogControl> controls;
};

// Dialog units to pixels for a font whose average character is base_x pixels wide and base_y
// pixels high (6 x 13 for an 8-point sans-serif at 96 dpi): x * base_x / 4, y * base_y / 8.
[[nodiscard]] RECT MapDialogUnits(int x, int y, int cx, int cy, int base_x = 6,
                                  int base_y = 13) noexcept;

using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Events from the host's dialog window to the platform, delivered on the host's thread while
// DialogWindow::RunModal runs.
class DialogEvents {
 public:
  virtual void OnTimer(UINT_PTR timer_id) = 0;
  virtual void OnCommand(int control_id) = 0;      // a push button was pressed
  virtual void OnLeftButtonDown(POINT where) = 0;  // dialog pixels, on the surface, not a control
  virtual void OnCloseRequest() = 0;               // the user closed the frame (Escape, close box)

 protected:
  ~DialogEvents() = default;
};

// One dialog window of the host.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void SetControlText(int control_id, std::string_view text) = 0;
  // Starts or restarts a repeating timer that calls DialogEvents::OnTimer every interval_ms.
  virtual void StartTimer(UINT_PTR timer_id, UINT interval_ms) = 0;
  virtual void StopTimer(UINT_PTR timer_id) = 0;
  // Shows the dialog modally (centred on the screen for DS_CENTER) and returns after EndModal.
  virtual void RunModal() = 0;
  // Makes RunModal return; called from inside an event or before RunModal.
  virtual void EndModal() = 0;
};

class DialogBackend {
 public:
  virtual ~DialogBackend() = default;
  // Builds (without showing) a dialog from the template; nullptr on failure. owner may be null.
  // events stays valid until the window is destroyed.
  virtual std::unique_ptr<DialogWindow> CreateDialogWindow(const DialogTemplate& dialog, HWND owner,
                                                           DialogEvents& events) = 0;
};

// Installs the backend for the calling thread (one per process; nullptr removes it). The caller
// keeps ownership. Returns the previous one.
DialogBackend* SetDialogBackend(DialogBackend* backend) noexcept;
[[nodiscard]] DialogBackend* GetDialogBackend() noexcept;

// Runs the dialog modally and stores the value passed to EndDialog in *result.
// DIALOG_E_NOHOST without a backend, RPC_E_WRONG_THREAD on a thread other than the backend's,
// E_POINTER / E_INVALIDARG for null arguments, E_FAIL when the backend cannot build the window.
[[nodiscard]] HRESULT RunModalDialog(const DialogTemplate& dialog, HWND owner, DLGPROC proc,
                                     LPARAM init_param, INT_PTR* result) noexcept;
// The platform's form: the EndDialog value, or -1 on failure (GetLastError: ERROR_NOT_SUPPORTED
// without a backend).
INT_PTR DialogBoxIndirectParam(const DialogTemplate& dialog, HWND owner, DLGPROC proc,
                               LPARAM init_param) noexcept;

// Inside the dialog procedure, with the HWND it received.
BOOL EndDialog(HWND dialog, INT_PTR result) noexcept;
UINT_PTR SetTimer(HWND dialog, UINT_PTR timer_id, UINT interval_ms,
                  void* timer_proc) noexcept;  // proc must be null
BOOL KillTimer(HWND dialog, UINT_PTR timer_id) noexcept;
BOOL SetDlgItemText(HWND dialog, int control_id, const char* text) noexcept;
// The dialog's own slot for its procedure's state (DWLP_USER, the only index kept here), so
// that the procedure finds its state from the handle alone: 0 until set. The setter returns the
// previous value; both return 0 with ERROR_INVALID_INDEX for another index.
inline constexpr int DWLP_USER = static_cast<int>(2 * sizeof(void*));
LONG_PTR SetWindowLongPtr(HWND dialog, int index, LONG_PTR value) noexcept;
[[nodiscard]] LONG_PTR GetWindowLongPtr(HWND dialog, int index) noexcept;
// No window of this runtime is ever active in the platform's sense: nullptr.
[[nodiscard]] HWND GetActiveWindow() noexcept;

}  // namespace kx::platform
