// The About box on Windows: DIALOG 103 of this DLL, run by the system's modal dialog loop. The
// dialog already carries its texts and picture, so the procedure only keeps the timer rules.
#include "about_box.h"

#include "kx/platform/dialog.h"
#include "kx/platform/messages.h"
#include "method_frame.h"

namespace kx::component {

using namespace kx::platform;

namespace {

inline constexpr int kAboutDialogId = 103;

struct AboutState {
  int ticks = 0;
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<AboutState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      (void)SetTimer(dialog, kAboutTimerId, kAboutTimerMs, nullptr);
      return TRUE;
    case WM_TIMER:
      if (!state || wparam != kAboutTimerId) return FALSE;
      if (++state->ticks > kAboutCloseAfterTicks) {
        (void)KillTimer(dialog, kAboutTimerId);
        (void)EndDialog(dialog, IDOK);
      }
      return TRUE;
    case WM_LBUTTONDOWN:
      if (state && state->ticks > kAboutClickAfterTicks) {
        (void)KillTimer(dialog, kAboutTimerId);
        (void)EndDialog(dialog, IDOK);
      }
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        (void)KillTimer(dialog, kAboutTimerId);
        (void)EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

HRESULT ShowAboutBox(HWND owner) noexcept {
  AboutState state;
  INT_PTR result = 0;
  const HRESULT hr =
      RunModalDialogResource(reinterpret_cast<const void*>(&ShowAboutBox), kAboutDialogId, owner,
                             &AboutProc, reinterpret_cast<LPARAM>(&state), &result);
  if (FAILED(hr)) {
    (void)ReportErrorInfo("The About box could not be shown.");
    return hr;
  }
  return S_OK;
}

}  // namespace kx::component
