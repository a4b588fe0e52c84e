#include "frm_option_price.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QUrl>

#include "kx/calculator/about.h"
#include "kx/calculator/key_filter.h"
#include "kx/calculator/picture.h"
#include "kx/calculator/status.h"
#include "ui_frm_option_price.h"

namespace kx::calculator {

using namespace kx::platform;

namespace {

// The longest status (a binomial run, then why its curves were refused) takes four lines at the
// window's smallest width.
constexpr int kStatusLines = 4;

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
  charts_ = new ChartPanel(ui_->fraCharts);
  charts_->setObjectName("charts");
  ui_->layoutCharts->addWidget(charts_);

  QFont result_font(QStringLiteral("MS Sans Serif"));
  result_font.setPointSizeF(8.25);
  result_font.setBold(true);
  for (QLabel* field :
       {ui_->lblCallPrice, ui_->lblPutPrice, ui_->lblDeltaCall, ui_->lblDeltaPut, ui_->lblThetaCall,
        ui_->lblThetaPut, ui_->lblRhoCall, ui_->lblRhoPut, ui_->lblVega, ui_->lblGamma}) {
    field->setFont(result_font);
  }
  // Results can be selected and copied. Click focus only: Tab still moves between the inputs
  // and buttons alone, as before.
  for (QLabel* field : {ui_->lblCallPrice, ui_->lblPutPrice, ui_->lblDeltaCall, ui_->lblDeltaPut,
                        ui_->lblThetaCall, ui_->lblThetaPut, ui_->lblRhoCall, ui_->lblRhoPut,
                        ui_->lblVega, ui_->lblGamma, ui_->lblIV, ui_->lblIVPut}) {
    field->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    field->setFocusPolicy(Qt::ClickFocus);
    // The height of an empty field, which is a pixel more than that of a number: the rows must
    // not move when the results arrive.
    field->setFixedHeight(field->fontMetrics().height() + 2 * field->frameWidth());
  }
  ui_->dtExpiryDate->installEventFilter(this);
  SetHelp();
  // Room for four lines whatever the status says: a line more or less after a Calculate would
  // otherwise shift every row of the form above it.
  QLabel& status = *ui_->lblStatus;
  status.setAlignment(Qt::AlignLeft | Qt::AlignTop);
  status.setFixedHeight(kStatusLines * status.fontMetrics().lineSpacing() +
                        status.contentsMargins().top() + status.contentsMargins().bottom() +
                        2 * status.margin());

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

  ui_->lblStatus->setText(ToQString(kStatusReady));
  LoadSettings();
}

OptionPriceForm::~OptionPriceForm() = default;

void OptionPriceForm::onCmbCalcClicked() {
  if (running_ || unloaded_) return;  // a second press while a pumped run waits: refused
  RunGuard guard(*ui_->cmbCalc, running_);
  SaveSettings();
  RunReport report;
  const auto results =
      RunCalculation(ReadInputs(), ToSysDays(QDate::currentDate()), ctlOptions_, report);
  if (unloaded_) return;
  if (results) ShowResults(*results);
  std::optional<ChartCurves> computed;
  const std::string status =
      DrawCurvesAfterRun(report, ctlOptions_, charts_->curves().has_value(), computed,
                         [this](const std::string& interim) {
                           ui_->lblStatus->setText(QString::fromStdString(interim));
                         });
  if (unloaded_) return;
  if (computed) charts_->ShowCurves(*computed);
  ui_->lblStatus->setText(QString::fromStdString(status));
}

void OptionPriceForm::onCmdExitClicked() { close(); }

void OptionPriceForm::onOptMethodClicked(int index) {
  const bool binomial = index == static_cast<int>(PricingMethod::kBinomial);
  ui_->cmbEurAm->setEnabled(binomial);
  ui_->txtSteps->setEnabled(binomial);
  ui_->lblSteps->setEnabled(binomial);
}

void OptionPriceForm::onLblAboutClicked() {
  QString text = ToQString(AboutBoxText(kQtTabStrip, LANTERNELL_VERSION_MAJOR,
                                        LANTERNELL_VERSION_MINOR, LANTERNELL_VERSION_PATCH));
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
    SaveSettings();
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
  if (event->type() == QEvent::KeyPress && watched == ui_->dtExpiryDate) {
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (key.modifiers() == Qt::NoModifier && StepExpiry(key.key())) return true;
    return false;
  }
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

// Up and Down step the selected part of the date by calendar arithmetic, so a day step crosses
// the month end and a month step the year end (the box alone stops at them); Page Up and Page
// Down step a month wherever the cursor is.
bool OptionPriceForm::StepExpiry(int key) {
  QDateEdit& box = *ui_->dtExpiryDate;
  const QDate date = box.date();
  const QDateTimeEdit::Section section = box.currentSection();
  QDate stepped;
  switch (key) {
    case Qt::Key_PageUp:
      stepped = date.addMonths(1);
      break;
    case Qt::Key_PageDown:
      stepped = date.addMonths(-1);
      break;
    case Qt::Key_Up:
    case Qt::Key_Down: {
      const int sign = key == Qt::Key_Up ? 1 : -1;
      if (section == QDateTimeEdit::DaySection) stepped = date.addDays(sign);
      if (section == QDateTimeEdit::MonthSection) stepped = date.addMonths(sign);
      if (section == QDateTimeEdit::YearSection) stepped = date.addYears(sign);
      break;
    }
    default:
      return false;
  }
  if (!stepped.isValid() || stepped < box.minimumDate() || stepped > box.maximumDate()) {
    return false;
  }
  box.setDate(stepped);
  box.setCurrentSection(section);
  return true;
}

std::unique_ptr<QSettings> OptionPriceForm::OpenSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QStringLiteral("Fenwright"), QStringLiteral("Lanternell"));
}

namespace {

struct Remembered {
  const char* key;
  QLineEdit* Ui::frmOptionPrice::*box;
};
constexpr Remembered kRememberedBoxes[] = {
    {"inputs/stock_price", &Ui::frmOptionPrice::txtStockPrice},
    {"inputs/exercise_price", &Ui::frmOptionPrice::txtExercisePrice},
    {"inputs/interest_rate", &Ui::frmOptionPrice::txtInterestRate},
    {"inputs/volatility", &Ui::frmOptionPrice::txtVolatility},
    {"inputs/dividend", &Ui::frmOptionPrice::txtDividend},
    {"inputs/steps", &Ui::frmOptionPrice::txtSteps},
    {"inputs/call_price", &Ui::frmOptionPrice::txtCallPrice},
    {"inputs/put_price", &Ui::frmOptionPrice::txtPutPrice},
};

}  // namespace

void OptionPriceForm::LoadSettings() {
  const auto settings = OpenSettings();
  for (const auto& r : kRememberedBoxes) {
    const QVariant value = settings->value(QString::fromLatin1(r.key));
    if (value.isValid()) ((*ui_).*r.box)->setText(value.toString());
  }
  // A remembered expiry only while it is still ahead; otherwise the window's today stands.
  const QDate expiry = settings->value(QStringLiteral("inputs/expiry")).toDate();
  if (expiry.isValid() && expiry > QDate::currentDate()) ui_->dtExpiryDate->setDate(expiry);
  const int style = settings->value(QStringLiteral("model/style"), 0).toInt();
  if (style == 0 || style == 1) ui_->cmbEurAm->setCurrentIndex(style);
  if (settings->value(QStringLiteral("model/method"), 0).toInt() == 1) {
    ui_->optMethod_1->setChecked(true);
    onOptMethodClicked(1);
  }
  const int greek = settings->value(QStringLiteral("charts/greek"), 0).toInt();
  if (greek >= 0 && greek <= static_cast<int>(Greek::kRho)) {
    charts_->SelectGreek(static_cast<Greek>(greek));
  }
  const int chart = settings->value(QStringLiteral("charts/chart"), 0).toInt();
  if (chart >= 0 && chart <= static_cast<int>(Chart::kTime)) {
    charts_->SelectChart(static_cast<Chart>(chart));
  }
}

void OptionPriceForm::SaveSettings() const {
  const auto settings = OpenSettings();
  for (const auto& r : kRememberedBoxes) {
    settings->setValue(QString::fromLatin1(r.key), ((*ui_).*r.box)->text());
  }
  settings->setValue(QStringLiteral("inputs/expiry"), ui_->dtExpiryDate->date());
  settings->setValue(QStringLiteral("model/method"), optMethod_.checkedId() == 1 ? 1 : 0);
  settings->setValue(QStringLiteral("model/style"), ui_->cmbEurAm->currentIndex());
  settings->setValue(QStringLiteral("charts/greek"),
                     charts_->findChild<QComboBox*>("cmbGreek")->currentIndex());
  settings->setValue(QStringLiteral("charts/chart"), static_cast<int>(charts_->shown()));
}

void OptionPriceForm::SetHelp() {
  const std::pair<QWidget*, const char*> help[] = {
      {ui_->txtStockPrice,
       "Current price of the underlying security, in currency units. Must be positive."},
      {ui_->txtExercisePrice,
       "Exercise (strike) price of the option, in currency units. Must be positive."},
      {ui_->txtInterestRate,
       "Risk-free interest rate in percent a year: 5 means 5 %. Must be positive."},
      {ui_->dtExpiryDate,
       "Expiry date. Must be after today; the time to expiry is the calendar days to it / 365.\n"
       "Up and Down step the selected day, month or year (across month and year ends);\n"
       "Page Up and Page Down step one month."},
      {ui_->txtVolatility,
       "Volatility of the underlying in percent a year: 20 means 20 %. Must be positive."},
      {ui_->txtDividend,
       "Continuous dividend yield as a decimal fraction a year, not in percent: 0.03 means 3 %.\n"
       "From 0 to 1; 3 would mean 300 % and is refused."},
      {ui_->optMethod_0, "Price with the Black-Scholes formulas (European exercise)."},
      {ui_->optMethod_1, "Price with a binomial tree, of the style and steps below."},
      {ui_->cmbEurAm, "Exercise style of the binomial tree: American (any day) or European."},
      {ui_->txtSteps, "Binomial tree steps: a whole number from 1 to 5000."},
      {ui_->txtCallPrice,
       "Market price of the call, in currency units: when positive, its implied volatility is "
       "computed; empty or 0 skips it."},
      {ui_->txtPutPrice,
       "Market price of the put, in currency units: when positive, its implied volatility is "
       "computed; empty or 0 skips it."},
      {ui_->lblCallPrice, "Value of the call, in currency units."},
      {ui_->lblPutPrice, "Value of the put, in currency units."},
      {ui_->lblDeltaCall,
       "Call delta: change in the call's value per 1.00 rise of the underlying (0 to 1)."},
      {ui_->lblDeltaPut,
       "Put delta: change in the put's value per 1.00 rise of the underlying (-1 to 0)."},
      {ui_->lblThetaCall,
       "Call theta: change in the call's value per year of passing time (per year, not per "
       "day: divide by 365 for a day)."},
      {ui_->lblThetaPut,
       "Put theta: change in the put's value per year of passing time (per year, not per day: "
       "divide by 365 for a day)."},
      {ui_->lblRhoCall,
       "Call rho: change in the call's value per 1.00 (100 percentage points) rise of the "
       "interest rate; divide by 100 for one point."},
      {ui_->lblRhoPut,
       "Put rho: change in the put's value per 1.00 (100 percentage points) rise of the "
       "interest rate; divide by 100 for one point."},
      {ui_->lblVega,
       "Vega: change in either option's value per 1.00 (100 percentage points) rise of the "
       "volatility; divide by 100 for one point."},
      {ui_->lblGamma,
       "Gamma: change in delta per 1.00 rise of the underlying, the same for call and put "
       "(0 or more)."},
      {ui_->lblIV,
       "Implied volatility of the call's market price, as a decimal fraction: 0.25 means 25 %. "
       "0.00 when no call price is given."},
      {ui_->lblIVPut,
       "Implied volatility of the put's market price, as a decimal fraction: 0.25 means 25 %. "
       "0.00 when no put price is given."},
      {ui_->lblStatus, "What the last Calculate did."},
  };
  for (const auto& [widget, text] : help) widget->setToolTip(QString::fromUtf8(text));
}

}  // namespace kx::calculator
