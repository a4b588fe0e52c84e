#include "about_proc.h"

#include "about_box.h"
#include "kx/platform/messages.h"

namespace kx::component {

using namespace kx::platform;

namespace {

AboutState* StateOf(HWND dialog) {
  return reinterpret_cast<AboutState*>(GetWindowLongPtr(dialog, DWLP_USER));
}

}  // namespace

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<AboutState*>(lparam);
    (void)SetWindowLongPtr(dialog, DWLP_USER, lparam);
    state->ticks = 0;
    // Qualified: on Windows the name is the system's macro, and unqualified it would find the
    // system's function as well as the seam's.
    for (const auto& [id, text] : state->texts) {
      (void)kx::platform::SetDlgItemText(dialog, id, text.c_str());
    }
    (void)SetTimer(dialog, kAboutTimerId, kAboutTimerMs, nullptr);
    return TRUE;
  }
  AboutState* state = StateOf(dialog);
  if (!state) return FALSE;
  switch (message) {
    case WM_TIMER:
      if (wparam != kAboutTimerId) return FALSE;
      if (++state->ticks > kAboutCloseAfterTicks) {
        (void)KillTimer(dialog, kAboutTimerId);
        (void)EndDialog(dialog, IDOK);
      }
      return TRUE;
    case WM_LBUTTONDOWN:
      if (state->ticks > kAboutClickAfterTicks) {
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

}  // namespace kx::component
