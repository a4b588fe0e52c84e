// The About box's dialog procedure, one for every platform: the Linux box hands it the texts
// to fill in, the Windows one none (its resource already carries them).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kx/platform/dialog.h"

namespace kx::component {

// One open About box: its tick counter and the texts it fills in on opening. Lives in the
// dialog's own slot (DWLP_USER) rather than in a module thread-local: a dlopen'ed module's
// thread-locals on the host's main thread outlive every call and are walked by leak checkers.
struct AboutState {
  int ticks = 0;
  std::vector<std::pair<int, std::string>> texts;
};

// Runs with an AboutState* as the dialog's init parameter.
kx::platform::INT_PTR CALLBACK AboutProc(kx::platform::HWND dialog, kx::platform::UINT message,
                                         kx::platform::WPARAM wparam, kx::platform::LPARAM lparam);

}  // namespace kx::component
