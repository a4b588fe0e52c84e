#pragma once
// The Charts tab's exports, as the Qt window has them: the three charts as one PNG image, the
// curves as CSV, and both on the clipboard.
#include <windows.h>

#include <string>

#include "kx/calculator/plot.h"

namespace kx::calculator {

// False when the file cannot be written.
[[nodiscard]] bool SaveChartsPng(const ChartCurves& curves, Greek greek, const std::wstring& path);
[[nodiscard]] bool SaveCurvesCsv(const ChartCurves& curves, const std::wstring& path);
// The image (as a device-independent bitmap) and the CSV text; false when the clipboard is
// taken.
bool CopyCharts(HWND owner, const ChartCurves& curves, Greek greek);

// The path the user chose in the system's save dialog, or "" when cancelled. `filter` is the
// dialog's pairs of description and pattern, each ending in a NUL.
[[nodiscard]] std::wstring AskSavePath(HWND owner, const wchar_t* title, const wchar_t* name,
                                       const wchar_t* filter, const wchar_t* extension);

}  // namespace kx::calculator
