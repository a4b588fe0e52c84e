// The About box (DIALOG 103): shown modally by the platform's dialog runner, which needs a GUI
// host in the process.
#pragma once

#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"

namespace kx::component {

/// Timer id and period of the dialog, and its tick limits: it closes itself after more than
/// kAboutCloseAfterTicks ticks, and a click on its surface closes it once more than
/// kAboutClickAfterTicks ticks have passed.
inline constexpr kx::platform::UINT_PTR kAboutTimerId = 1;
inline constexpr kx::platform::UINT kAboutTimerMs = 1000;
inline constexpr int kAboutCloseAfterTicks = 15;
inline constexpr int kAboutClickAfterTicks = 2;

/// Shows the dialog owned by `owner` and returns S_OK when it closes. Without a GUI host it fails
/// at once with DIALOG_E_NOHOST and posts error information saying so; a resource that cannot be
/// read gives E_UNEXPECTED, also with error information.
[[nodiscard]] kx::platform::HRESULT ShowAboutBox(kx::platform::HWND owner) noexcept;

}  // namespace kx::component
