#include "frm_option_price.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QUrl>

#include "kx/calculator/about.h"
#include "kx/calculator/key_filter.h"
#include "kx/calculator/picture.h"
#include "ui_frm_option_price.h"

namespace kx::calculator {

using namespace kx::platform;

namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

std::chrono::sys_days ToSysDays(const QDate& date) {
  constexpr qint64 kJulianDayOfUnixEpoch = 2440588;  // 1970-01-01
  return std::chrono::sys_days{std::chrono::days{date.toJulianDay() - kJulianDayOfUnixEpoch}};
}

// Keys that the platform's text boxes never see as typed characters: focus moves and Delete.
bool IsNavigation(const QKeyEvent& key) {
  return key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab || key.key() == Qt::Key_Delete;
}

// The hourglass and the disabled Calculate button for the length of one run.
class RunGuard {
 public:
  RunGuard(QWidget& button, bool& running) : button_(button), running_(running) {
    running_ = true;
    button_.setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~RunGuard() {
    QApplication::restoreOverrideCursor();
    button_.setEnabled(true);
    running_ = false;
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  QWidget& button_;
  bool& running_;
};

}  // namespace

OptionPriceForm::OptionPriceForm(std::unique_ptr<OptionsControl> control, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::frmOptionPrice>()),
      ctlOptions_(std::move(control)) {
  ui_->setupUi(this);
  setWindowTitle(ToQString(kWindowCaption));
  ui_->ctlTab->setTabText(1, ToQString(kMakerTabCaption));

  QFont result_font(QStringLiteral("MS Sans Serif"));
  result_font.setPointSizeF(8.25);
  result_font.setBold(true);
  for (QLabel* field :
       {ui_->lblCallPrice, ui_->lblPutPrice, ui_->lblDeltaCall, ui_->lblDeltaPut, ui_->lblThetaCall,
        ui_->lblThetaPut, ui_->lblRhoCall, ui_->lblRhoPut, ui_->lblVega, ui_->lblGamma}) {
    field->setFont(result_font);
  }

  for (QLineEdit* box :
       {ui_->txtStockPrice, ui_->txtExercisePrice, ui_->txtInterestRate, ui_->txtVolatility,
        ui_->txtDividend, ui_->txtSteps, ui_->txtCallPrice, ui_->txtPutPrice}) {
    box->installEventFilter(this);
  }
  ui_->lblAbout->installEventFilter(this);
  ui_->imgAbout->installEventFilter(this);

  optMethod_.addButton(ui_->optMethod_0, 0);
  optMethod_.addButton(ui_->optMethod_1, 1);
  connect(&optMethod_, &QButtonGroup::idClicked, this, &OptionPriceForm::onOptMethodClicked);
  connect(ui_->cmbCalc, &QPushButton::clicked, this, &OptionPriceForm::onCmbCalcClicked);
  connect(ui_->cmdExit, &QPushButton::clicked, this, &OptionPriceForm::onCmdExitClicked);

  // Load steps.
  ui_->optMethod_0->setChecked(true);
  onOptMethodClicked(0);
  ui_->cmbEurAm->addItems({QStringLiteral("American"), QStringLiteral("European")});
  ui_->cmbEurAm->setCurrentIndex(0);
  ui_->ctlTab->setCurrentWidget(ui_->frapricing);
  ui_->dtExpiryDate->setDateTime(QDateTime::currentDateTime());
}

OptionPriceForm::~OptionPriceForm() = default;

void OptionPriceForm::onCmbCalcClicked() {
  if (running_ || unloaded_) return;  // a second press while a pumped run waits: refused
  RunGuard guard(*ui_->cmbCalc, running_);
  const auto results = RunCalculation(ReadInputs(), ToSysDays(QDate::currentDate()), ctlOptions_);
  if (results && !unloaded_) ShowResults(*results);
}

void OptionPriceForm::onCmdExitClicked() { close(); }

void OptionPriceForm::onOptMethodClicked(int index) {
  const bool binomial = index == static_cast<int>(PricingMethod::kBinomial);
  ui_->cmbEurAm->setEnabled(binomial);
  ui_->txtSteps->setEnabled(binomial);
  ui_->lblSteps->setEnabled(binomial);
}

void OptionPriceForm::onLblAboutClicked() {
  QString text = ToQString(
      AboutBoxText(LANTERNELL_VERSION_MAJOR, LANTERNELL_VERSION_MINOR, LANTERNELL_VERSION_PATCH));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));  // Qt breaks lines at LF only
  QMessageBox box(QMessageBox::NoIcon, ToQString(kProgramTitle), text, QMessageBox::Ok, this);
  box.exec();
}

void OptionPriceForm::onImgAboutClicked() {
  // The desktop's default browser; the result is ignored.
  (void)QDesktopServices::openUrl(QUrl(ToQString(kMakerWebAddress)));
}

CalcInputs OptionPriceForm::ReadInputs() const {
  CalcInputs in;
  in.stock_price = ToU16(ui_->txtStockPrice->text());
  in.exercise_price = ToU16(ui_->txtExercisePrice->text());
  in.interest_rate = ToU16(ui_->txtInterestRate->text());
  in.volatility = ToU16(ui_->txtVolatility->text());
  in.dividend = ToU16(ui_->txtDividend->text());
  in.steps = ToU16(ui_->txtSteps->text());
  in.call_price = ToU16(ui_->txtCallPrice->text());
  in.put_price = ToU16(ui_->txtPutPrice->text());
  in.expiry = ToSysDays(ui_->dtExpiryDate->date());
  in.method = optMethod_.checkedId() == 1 ? PricingMethod::kBinomial : PricingMethod::kBlackScholes;
  in.style = ui_->cmbEurAm->currentIndex();
  return in;
}

void OptionPriceForm::ShowResults(const CalcResults& r) {
  auto show = [](QLabel* field, double value, std::string_view picture) {
    field->setText(ToQString(FormatPicture(value, picture)));
  };
  show(ui_->lblCallPrice, r.call_price, kPricePicture);
  show(ui_->lblPutPrice, r.put_price, kPricePicture);
  show(ui_->lblDeltaCall, r.call_delta, kPricePicture);
  show(ui_->lblDeltaPut, r.put_delta, kPricePicture);
  show(ui_->lblThetaCall, r.call_theta, kPricePicture);
  show(ui_->lblThetaPut, r.put_theta, kPricePicture);
  show(ui_->lblRhoCall, r.call_rho, kPricePicture);
  show(ui_->lblRhoPut, r.put_rho, kPricePicture);
  show(ui_->lblGamma, r.gamma, kPricePicture);
  show(ui_->lblVega, r.vega, kPricePicture);
  show(ui_->lblIV, r.call_iv, kVolatilityPicture);
  show(ui_->lblIVPut, r.put_iv, kVolatilityPicture);
}

void OptionPriceForm::closeEvent(QCloseEvent* event) {
  if (!unloaded_) {
    unloaded_ = true;
    ArgList none;
    (void)ctlOptions_.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr);
    QCoreApplication::processEvents();  // pending messages run once
    // No fault dialog exists to suppress here, so the error-mode change has no counterpart.
    ctlOptions_.Release();  // at once, or when a waiting computation has returned
  }
  event->accept();
}

bool OptionPriceForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(watched) != nullptr) {
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (key.text().isEmpty() || IsNavigation(key)) return false;
    for (const QChar c : key.text()) {
      if (FilterNumericKey(c.unicode()) == 0) return true;  // swallowed
    }
    return false;
  }
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<const QMouseEvent&>(*event).button() == Qt::LeftButton) {
    const auto* widget = static_cast<QWidget*>(watched);
    if (!widget->rect().contains(static_cast<const QMouseEvent&>(*event).position().toPoint())) {
      return false;
    }
    if (watched == ui_->lblAbout) onLblAboutClicked();
    if (watched == ui_->imgAbout) onImgAboutClicked();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kx::calculator
