#pragma once
// The calculator's window on Windows, frmOptionPrice, built from the system's own controls: a
// tab control, group boxes, edit fields, option buttons, a drop-down list, a date and time
// picker and push buttons. One handler per control and event; the logic is lanternell_core's,
// the same as the Qt window's.
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "kx/calculator/calculation.h"
#include "kx/calculator/options_control.h"
#include "kx/calculator/plot.h"

namespace kx::calculator {

class OptionPriceWindow final {
 public:
  // Runs the load steps. `control` is the pricing control ctlOptions; the window holds it until
  // it unloads.
  static OptionPriceWindow* Create(HINSTANCE instance, std::unique_ptr<OptionsControl> control);

  [[nodiscard]] HWND hwnd() const noexcept { return hwnd_; }
  // The control's text (a result field, the status line), for the test build's report.
  [[nodiscard]] std::wstring Text(int id) const;
  // The control `id` of the page `page` (id::kFraPricing, kFraAbout or kFraCharts).
  [[nodiscard]] HWND Control(int page, int id) const;
  // Ctrl+Tab and Ctrl+Shift+Tab go to the next and the previous tab; true when `message` was
  // one of them.
  bool TranslateTabKey(const MSG& message);

 private:
  explicit OptionPriceWindow(std::unique_ptr<OptionsControl> control);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK NumericBoxProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR id, DWORD_PTR data);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  void Load();
  void ShowPage(int page);
  void Layout();
  void ShowCurves();
  void cmbChart_Click();
  void cmbGreek_Click();
  void cmdSave_Click(bool png);
  void cmdCopyCharts_Click();
  [[nodiscard]] Greek SelectedGreek() const;
  void cmbCalc_Click();
  void cmdExit_Click();
  void optMethod_Click(int index);
  void lblAbout_Click();
  void imgAbout_Click();
  void Unload();

  [[nodiscard]] CalcInputs ReadInputs() const;
  void ShowResults(const CalcResults& results);
  void SetText(int id, const std::string& utf8);

  HWND hwnd_ = nullptr;
  HWND ctlTab_ = nullptr;
  HWND focus_ = nullptr;  // the control with the focus when the window was last deactivated
  HFONT caption_font_ = nullptr;
  HFONT result_font_ = nullptr;
  ControlSite ctlOptions_;
  std::optional<ChartCurves> curves_;  // of the last computed run
  SIZE smallest_{};                    // the window's first size
  bool running_ = false;
  bool unloaded_ = false;
};

}  // namespace kx::calculator
