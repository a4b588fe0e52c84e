#pragma once
// The calculator's window, frmOptionPrice: layout in frm_option_price.ui, one handler per
// control and event, the logic in lanternell_core.
#include <QButtonGroup>
#include <QSettings>
#include <QWidget>
#include <memory>

#include "chart_panel.h"

#include "kx/calculator/calculation.h"
#include "kx/calculator/options_control.h"

namespace Ui {
class frmOptionPrice;
}

namespace kx::calculator {

class OptionPriceForm final : public QWidget {
  Q_OBJECT

 public:
  // Runs the load steps. `control` is the pricing control ctlOptions; the window holds it until
  // it unloads.
  explicit OptionPriceForm(std::unique_ptr<OptionsControl> control, QWidget* parent = nullptr);
  ~OptionPriceForm() override;

  // Whether a calculation run is in progress (Calculate is disabled meanwhile).
  [[nodiscard]] bool running() const noexcept { return running_; }

  // The Charts tab.
  [[nodiscard]] ChartPanel& charts() noexcept { return *charts_; }

  // Where the last inputs and the chosen model are kept between runs: an INI file in the
  // user's configuration folder (QSettings::setPath moves it, as the tests do).
  [[nodiscard]] static std::unique_ptr<QSettings> OpenSettings();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void onCmbCalcClicked();
  void onCmdExitClicked();
  void onOptMethodClicked(int index);
  void onLblAboutClicked();
  void onImgAboutClicked();

  [[nodiscard]] CalcInputs ReadInputs() const;
  void ShowResults(const CalcResults& results);
  void SetHelp();
  void LoadSettings();
  void SaveSettings() const;
  bool StepExpiry(int key);

  std::unique_ptr<Ui::frmOptionPrice> ui_;
  QButtonGroup optMethod_;
  ChartPanel* charts_;
  ControlSite ctlOptions_;
  bool running_ = false;
  bool unloaded_ = false;
};

}  // namespace kx::calculator
