#pragma once
// The chart of the Charts tab, drawn with GDI from the plot lanternell_core describes: title,
// axes with numeric ticks, the curves and marker lines, and a legend naming each at the right.
#include <windows.h>

#include <string>
#include <vector>

#include "kx/calculator/plot.h"

namespace kx::calculator {

class ChartView final {
 public:
  static void Register(HINSTANCE instance);
  static constexpr wchar_t kClass[] = L"LanternellChart";
  // The view of the chart window `hwnd` (made with kClass), or nullptr.
  static ChartView* Of(HWND hwnd);

  // Nothing is drawn but the title until the first curves; `curves` must outlive the view.
  void Show(const ChartCurves* curves);
  void Select(Chart chart, Greek greek);
  [[nodiscard]] Chart chart() const noexcept { return chart_; }

  // The texts of the last paint, one "name=text" line each (title, legend, x and y ticks).
  [[nodiscard]] const std::string& drawn() const noexcept { return drawn_; }

  // The three charts one under another (the Greek chart's Greek `greek`), each 960 by 540
  // pixels whatever the window's size: what Copy and Save PNG give.
  [[nodiscard]] static HBITMAP Image(const ChartCurves& curves, Greek greek);

  // The computed point under the pointer in words (PointText), "" when none is near; the parent
  // hears of each change as a WM_COMMAND with kPointChanged.
  static constexpr WORD kPointChanged = 1;
  [[nodiscard]] const std::string& point() const noexcept { return point_; }
  // Where point `i` of curve `curve` of the chart shown was drawn, in the view's pixels.
  [[nodiscard]] POINT PointOf(std::size_t curve, std::size_t i) const;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Draws `plot` in `area`; returns what it drew, as drawn() says, and the plot's frame in `box`.
  static std::string Draw(HDC dc, const RECT& area, const Plot& plot, RECT* box = nullptr);
  static int PixelX(const Plot& plot, const RECT& box, double x);
  static int PixelY(const Plot& plot, const RECT& box, double y);
  void Hover(POINT at);

  HWND hwnd_ = nullptr;
  const ChartCurves* curves_ = nullptr;
  Chart chart_ = Chart::kValue;
  Greek greek_ = Greek::kDelta;
  std::string drawn_;
  Plot plot_;   // as last painted
  RECT box_{};  // its frame
  std::string point_;
};

}  // namespace kx::calculator
