// The About box on Windows: DIALOG 103 of this DLL, run by the system's modal dialog loop. The
// dialog already carries its texts and picture, so the shared procedure (about_proc.cpp) gets
// none to fill in and only keeps the timer rules.
#include "about_box.h"

#include "about_proc.h"
#include "kx/platform/dialog.h"
#include "method_frame.h"

namespace kx::component {

using namespace kx::platform;

namespace {

inline constexpr int kAboutDialogId = 103;

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
