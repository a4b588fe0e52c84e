// The real window, driven on Qt's offscreen platform: with a recording control for the glue,
// and with the component itself (registered in a temporary registry) for whole runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QLegend>
#include <QLineEdit>
#include <QLineSeries>
#include <QMimeData>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QValueAxis>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <array>
#include <functional>
#include <set>

#include "fake_options_control.h"
#include "frm_option_price.h"
#include "kx/calculator/about.h"
#include "kx/calculator/curves.h"
#include "kx/calculator/dispatch_options_control.h"
#include "kx/calculator/picture.h"
#include "kx/platform/activation.h"
#include "kx/platform/dialog.h"
#include "kx/platform/messages.h"
#include "kx/platform/threads.h"
#include "qt_host.h"

// Failure messages show texts, not code units.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kx::calculator {
namespace {

using namespace kx::platform;
using fakes::FakeOptionsControl;
using fakes::FakeOutput;
using fakes::kRetval;

// Wraps the calculator's pump so a test can act inside the first pumped wait.
class ObservedPump final : public MessagePumpHook {
 public:
  std::function<void()> on_first_wait;
  void ProcessEvents(DWORD max_wait_ms) override {
    if (auto action = std::exchange(on_first_wait, nullptr)) action();
    inner_.ProcessEvents(max_wait_ms);
  }
  void Wake() noexcept override { inner_.Wake(); }

 private:
  QtMessagePumpHook inner_;
};

ObservedPump* g_pump = nullptr;

template <class W>
W* Find(QWidget& form, const char* name) {
  W* widget = form.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

QString Text(QWidget& form, const char* name) {
  if (auto* label = form.findChild<QLabel*>(QString::fromLatin1(name))) return label->text();
  if (auto* edit = form.findChild<QLineEdit*>(QString::fromLatin1(name))) return edit->text();
  ADD_FAILURE() << "no field " << name;
  return {};
}

const char* const kResultFields[] = {"lblCallPrice", "lblPutPrice", "lblDeltaCall", "lblDeltaPut",
                                     "lblThetaCall", "lblThetaPut", "lblRhoCall",   "lblRhoPut",
                                     "lblGamma",     "lblVega"};
const char* const kTextBoxes[] = {"txtStockPrice", "txtExercisePrice", "txtInterestRate",
                                  "txtVolatility", "txtDividend",      "txtSteps",
                                  "txtCallPrice",  "txtPutPrice"};

void Type(QWidget& form, const char* name, const QString& text) {
  QLineEdit* edit = Find<QLineEdit>(form, name);
  edit->clear();
  QTest::keyClicks(edit, text);
}

// S 100, X 100, rate 5 %, volatility 20 %, dividend 0, expiry 365 days ahead.
void EnterReferenceOption(QWidget& form) {
  Type(form, "txtStockPrice", "100");
  Type(form, "txtExercisePrice", "100");
  Type(form, "txtInterestRate", "5");
  Type(form, "txtVolatility", "20");
  Type(form, "txtDividend", "0");
  Find<QDateEdit>(form, "dtExpiryDate")->setDate(QDate::currentDate().addDays(365));
}

void Click(QWidget& form, const char* name) {
  QWidget* widget = Find<QWidget>(form, name);
  QPoint at = widget->rect().center();
  if (auto* radio =
          qobject_cast<QRadioButton*>(widget)) {  // only its indicator and text take clicks
    QStyleOptionButton option;
    option.initFrom(radio);
    at = radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio).center();
  }
  QTest::mouseClick(widget, Qt::LeftButton, {}, at);
}

// Every window starts from no remembered inputs (the settings live in a folder of this run).
void ForgetSettings() {
  auto settings = OptionPriceForm::OpenSettings();
  settings->clear();
  settings->sync();
}

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    ForgetSettings();
    auto fake = std::make_unique<FakeOptionsControl>();
    fake_ = fake.get();
    destroyed_ = fake->destroyed;
    form_ = std::make_unique<OptionPriceForm>(std::move(fake));
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  ~WindowTest() override { form_.reset(); }

  std::vector<DISPID> Members() const {
    std::vector<DISPID> members;
    if (!*destroyed_)
      for (const auto& call : fake_->calls) members.push_back(call.member);
    return members;
  }

  // The run's calls: those before the charts' first point (which repeats the run's first
  // pricing member); the rest must be pricing members only.
  std::vector<DISPID> RunMembers() const {
    std::vector<DISPID> members = Members();
    if (members.size() < 2) return members;
    const DISPID first_pricing = members[1];
    auto charts = std::find(members.begin() + 2, members.end(), first_pricing);
    for (auto it = charts; it != members.end(); ++it) {
      EXPECT_TRUE(*it == dispid::kBinPriceGreeks || (*it >= dispid::kBSCallPrice &&
                                                     *it <= dispid::kBSRho))
          << "charts called member " << *it;
    }
    members.erase(charts, members.end());
    return members;
  }

  FakeOptionsControl* fake_;  // owned by the window until it unloads
  std::shared_ptr<bool> destroyed_;
  std::unique_ptr<OptionPriceForm> form_;
};

TEST_F(WindowTest, StartsAsLoaded) {
  QWidget& form = *form_;
  EXPECT_EQ(form.windowTitle(), "Option Pricing Calculator - Provided by Fenwright Software");
  auto* tab = Find<QTabWidget>(form, "ctlTab");
  ASSERT_EQ(tab->count(), 3);
  EXPECT_EQ(tab->currentWidget()->objectName(), "frapricing");
  EXPECT_EQ(tab->tabText(0), "Option Pricing");
  EXPECT_EQ(tab->tabText(1), "More free tools from www.fenwright.example");
  EXPECT_EQ(tab->tabText(2), "Charts");
  EXPECT_TRUE(tab->widget(1)->isAncestorOf(Find<QLabel>(form, "imgAbout")));
  EXPECT_FALSE(Find<QLabel>(form, "imgAbout")->pixmap().isNull());

  EXPECT_TRUE(Find<QRadioButton>(form, "optMethod_0")->isChecked());
  EXPECT_EQ(Find<QRadioButton>(form, "optMethod_0")->text(), "Black-Scholes");
  EXPECT_EQ(Find<QRadioButton>(form, "optMethod_1")->text(), "Binomial");
  auto* style = Find<QComboBox>(form, "cmbEurAm");
  ASSERT_EQ(style->count(), 2);
  EXPECT_EQ(style->itemText(0), "American");
  EXPECT_EQ(style->itemText(1), "European");
  EXPECT_EQ(style->currentIndex(), 0);
  EXPECT_FALSE(style->isEnabled());
  EXPECT_FALSE(Find<QLineEdit>(form, "txtSteps")->isEnabled());
  EXPECT_FALSE(Find<QLabel>(form, "lblSteps")->isEnabled());
  EXPECT_EQ(Text(form, "txtSteps"), "50");
  EXPECT_EQ(Text(form, "lblSteps"), "steps");

  for (const char* box : kTextBoxes) {
    if (std::string_view(box) != "txtSteps") EXPECT_EQ(Text(form, box), "") << box;
  }
  for (const char* field : kResultFields) {
    EXPECT_EQ(Text(form, field), "") << field;
    const QFont font = Find<QLabel>(form, field)->font();
    EXPECT_TRUE(font.bold()) << field;
    EXPECT_EQ(font.pointSizeF(), 8.25) << field;
    EXPECT_EQ(font.family(), "MS Sans Serif") << field;
  }
  EXPECT_EQ(Text(form, "lblIV"), "0");
  EXPECT_EQ(Text(form, "lblIVPut"), "0");

  auto* expiry = Find<QDateEdit>(form, "dtExpiryDate");
  EXPECT_EQ(expiry->date(), QDate::currentDate());
  EXPECT_TRUE(expiry->calendarPopup());
  EXPECT_EQ(Find<QPushButton>(form, "cmbCalc")->text(), "Calculate");
  EXPECT_EQ(Find<QPushButton>(form, "cmdExit")->text(), "&Exit ");
  EXPECT_EQ(Text(form, "lblAbout"), "About Option Pricing Calculator");
  EXPECT_EQ(Find<QLabel>(form, "lblCaptionStockPrice")->font().family(), "Arial");
  EXPECT_TRUE(Members().empty());  // loading calls nothing on the control
}

TEST_F(WindowTest, NumericFieldsSwallowOtherKeys) {
  Click(*form_, "optMethod_1");  // the steps field takes keys only when enabled
  QApplication::clipboard()->setText("999");
  for (const char* box : kTextBoxes) {
    SCOPED_TRACE(box);
    QLineEdit* edit = Find<QLineEdit>(*form_, box);
    edit->clear();
    QTest::keyClicks(edit, "1a2/ 3.5x-:E,");
    EXPECT_EQ(edit->text(), "123.5-:");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "123.5-");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);  // paste shortcut swallowed
    EXPECT_EQ(edit->text(), "123.5-");
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "23.5-");
  }
}

TEST_F(WindowTest, SwitchingModelsKeepsTheSteps) {
  Click(*form_, "optMethod_1");
  EXPECT_TRUE(Find<QComboBox>(*form_, "cmbEurAm")->isEnabled());
  EXPECT_TRUE(Find<QLineEdit>(*form_, "txtSteps")->isEnabled());
  EXPECT_TRUE(Find<QLabel>(*form_, "lblSteps")->isEnabled());
  Type(*form_, "txtSteps", "200");
  Click(*form_, "optMethod_0");
  EXPECT_FALSE(Find<QComboBox>(*form_, "cmbEurAm")->isEnabled());
  EXPECT_FALSE(Find<QLineEdit>(*form_, "txtSteps")->isEnabled());
  EXPECT_FALSE(Find<QLabel>(*form_, "lblSteps")->isEnabled());
  EXPECT_EQ(Text(*form_, "txtSteps"), "200");
}

TEST_F(WindowTest, CalculateShowsEachResultInItsField) {
  EnterReferenceOption(*form_);
  Type(*form_, "txtCallPrice", "10");
  Type(*form_, "txtPutPrice", "5");
  Click(*form_, "cmbCalc");
  EXPECT_EQ(RunMembers(), (std::vector<DISPID>{1, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
  struct Field {
    const char* name;
    double value;
    std::string_view picture;
  };
  const Field fields[] = {
      {"lblCallPrice", FakeOutput(10, kRetval), kPricePicture},
      {"lblPutPrice", FakeOutput(11, kRetval), kPricePicture},
      {"lblDeltaCall", FakeOutput(12, 6), kPricePicture},
      {"lblDeltaPut", FakeOutput(12, 7), kPricePicture},
      {"lblThetaCall", FakeOutput(13, 6), kPricePicture},
      {"lblThetaPut", FakeOutput(13, 7), kPricePicture},
      {"lblGamma", FakeOutput(14, 6), kPricePicture},
      {"lblVega", FakeOutput(15, 6), kPricePicture},
      {"lblRhoCall", FakeOutput(16, 6), kPricePicture},
      {"lblRhoPut", FakeOutput(16, 7), kPricePicture},
      {"lblIV", FakeOutput(17, kRetval), kVolatilityPicture},
      {"lblIVPut", FakeOutput(18, kRetval), kVolatilityPicture},
  };
  for (const auto& f : fields) {
    EXPECT_EQ(Text(*form_, f.name).toStdString(), FormatPicture(f.value, f.picture)) << f.name;
  }
  // The binomial choice with the European style reaches the run.
  Click(*form_, "optMethod_1");
  Find<QComboBox>(*form_, "cmbEurAm")->setCurrentIndex(1);
  fake_->calls.clear();
  Click(*form_, "cmbCalc");
  ASSERT_EQ(RunMembers(), (std::vector<DISPID>{1, 43, 49, 50}));
  EXPECT_EQ(fake_->calls[1].args[9].int_value, 1);
  EXPECT_EQ(Text(*form_, "lblCallPrice").toStdString(),
            FormatPicture(FakeOutput(43, 10), kPricePicture));
}

TEST_F(WindowTest, AFailedRunLeavesTheFieldsAsTheyWere) {
  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  const QString before = Text(*form_, "lblCallPrice");
  ASSERT_FALSE(before.isEmpty());
  Type(*form_, "txtStockPrice", "120");
  fake_->results[dispid::kBSRho] = E_FAIL;
  Click(*form_, "cmbCalc");
  EXPECT_EQ(Members().back(), dispid::kAbort);
  EXPECT_EQ(Text(*form_, "lblCallPrice"), before);
  EXPECT_TRUE(Find<QPushButton>(*form_, "cmbCalc")->isEnabled());
}

TEST_F(WindowTest, ARunRefusesASecondCalculateAndShowsTheHourglass) {
  EnterReferenceOption(*form_);
  Click(*form_, "optMethod_1");
  auto* calculate = Find<QPushButton>(*form_, "cmbCalc");
  bool disabled_during_run = false;
  Qt::CursorShape cursor_during_run = Qt::ArrowCursor;
  fake_->during_call = [&](const fakes::RecordedCall& call) {
    if (call.member != dispid::kBinPriceGreeks) return;
    disabled_during_run = !calculate->isEnabled();
    if (QApplication::overrideCursor()) cursor_during_run = QApplication::overrideCursor()->shape();
    calculate->click();  // as a second press would arrive during the pumped wait
  };
  Click(*form_, "cmbCalc");
  EXPECT_TRUE(disabled_during_run);
  EXPECT_EQ(cursor_during_run, Qt::WaitCursor);
  EXPECT_EQ(RunMembers(), (std::vector<DISPID>{1, 43}));  // one run only
  EXPECT_TRUE(calculate->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, ClosingDuringARunAbortsAndReleasesTheControlAfterIt) {
  EnterReferenceOption(*form_);
  Click(*form_, "optMethod_1");
  Type(*form_, "txtCallPrice", "10");
  bool destroyed_inside = true;
  std::vector<DISPID> seen_inside;
  fake_->during_call = [&](const fakes::RecordedCall& call) {
    if (call.member != dispid::kBinPriceGreeks) return;
    form_->close();  // the close box, during the pumped wait
    destroyed_inside = *destroyed_;
    for (const auto& c : fake_->calls) seen_inside.push_back(c.member);
  };
  Click(*form_, "cmbCalc");
  EXPECT_EQ(seen_inside, (std::vector<DISPID>{1, 43, dispid::kAbort}));
  EXPECT_FALSE(destroyed_inside);
  EXPECT_TRUE(*destroyed_);  // released once the waiting call returned; no implied volatility
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(Text(*form_, "lblCallPrice"), "");
}

TEST_F(WindowTest, ExitAbortsAndReleasesTheControl) {
  Click(*form_, "cmdExit");
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(*destroyed_);
}

TEST_F(WindowTest, AboutBoxGivesTheVersion) {
  QString title, text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    EXPECT_EQ(box->buttons().size(), 1);
    box->button(QMessageBox::Ok)->click();
  });
  Click(*form_, "lblAbout");
  EXPECT_EQ(title, "Option Pricing Calculator");
  EXPECT_TRUE(text.endsWith("\n\nProduct Version 1.0.0")) << text.toStdString();
  EXPECT_FALSE(text.contains('\r'));
  EXPECT_TRUE(text.contains("Qt"));
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.append(url); }
};

TEST_F(WindowTest, BannerOpensTheMakersPage) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  Find<QTabWidget>(*form_, "ctlTab")->setCurrentIndex(1);
  Click(*form_, "imgAbout");
  QDesktopServices::unsetUrlHandler("https");
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0].toString().toStdString(), kMakerWebAddress);
}

// The pump runs Qt's events while the platform waits for a thread: the only thing that lets
// the thread end here is a Qt timer.
TEST(QtMessagePump, RunsQtEventsWhileTheThreadWaits) {
  HANDLE release = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(release, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* event) -> DWORD {
        return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
      },
      release, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  bool timer_ran = false;
  QTimer::singleShot(0, [&] {
    timer_ran = true;
    SetEvent(release);
  });
  // Safety bound only: without the pump the wait would never end.
  const DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, 60000, QS_ALLINPUT);
  EXPECT_EQ(result, WAIT_OBJECT_0);
  EXPECT_TRUE(timer_ran);
  if (result != WAIT_OBJECT_0) SetEvent(release);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(release);
}

struct DialogLog {
  std::vector<UINT> messages;
  int ticks = 0;
  POINT click{};
  WPARAM command = 0;
};
DialogLog g_dialog_log;

INT_PTR RecordingDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  g_dialog_log.messages.push_back(message);
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemText(dialog, 202, "Filled in");
      SetTimer(dialog, 1, 10, nullptr);
      return TRUE;
    case WM_TIMER:
      ++g_dialog_log.ticks;
      return TRUE;
    case WM_LBUTTONDOWN:
      g_dialog_log.click = POINT{static_cast<LONG>(LOWORD(static_cast<UINT_PTR>(lparam))),
                                 static_cast<LONG>(HIWORD(static_cast<UINT_PTR>(lparam)))};
      return TRUE;
    case WM_COMMAND:
      g_dialog_log.command = wparam;
      KillTimer(dialog, 1);
      EndDialog(dialog, LOWORD(wparam) == IDOK ? 7 : 9);
      return TRUE;
  }
  return FALSE;
}

DialogTemplate TestDialog() {
  DialogTemplate dialog;
  dialog.cx = 212;
  dialog.cy = 194;
  dialog.controls = {
      {1, DialogControlKind::kDefPushButton, 80, 173, 50, 14, "OK", nullptr},
      {202, DialogControlKind::kStaticText, 42, 17, 129, 9, "Varnix Control", nullptr},
  };
  return dialog;
}

// The component's about box draws through this backend: timer ticks, a click on the surface
// and the OK button reach the dialog procedure.
TEST(QtDialogBackend, DeliversTimerClickAndButtonToTheProcedure) {
  g_dialog_log = {};
  QDialog* shown = nullptr;
  QString static_text;
  std::function<void()> drive = [&] {
    shown = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (shown == nullptr || g_dialog_log.ticks < 2) {
      QTimer::singleShot(5, drive);
      return;
    }
    for (auto* label : shown->findChildren<QLabel*>()) static_text += label->text();
    QTest::mouseClick(shown, Qt::LeftButton, {}, QPoint(5, 6));
    for (auto* button : shown->findChildren<QPushButton*>()) {
      if (button->text() == "OK") button->click();
    }
  };
  QTimer::singleShot(0, drive);
  INT_PTR result = 0;
  ASSERT_EQ(RunModalDialog(TestDialog(), nullptr, RecordingDialogProc, 0, &result), S_OK);
  EXPECT_EQ(result, 7);
  EXPECT_EQ(g_dialog_log.messages.front(), WM_INITDIALOG);
  EXPECT_GE(g_dialog_log.ticks, 2);
  EXPECT_EQ(g_dialog_log.click.x, 5);
  EXPECT_EQ(g_dialog_log.click.y, 6);
  EXPECT_EQ(g_dialog_log.command, MAKEWPARAM(IDOK, BN_CLICKED));
  EXPECT_EQ(static_text, "Filled in");
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->isModal());
}

TEST(QtDialogBackend, CloseRequestGoesToTheProcedure) {
  g_dialog_log = {};
  QTimer::singleShot(0, [] {
    if (QWidget* shown = QApplication::activeModalWidget()) QTest::keyClick(shown, Qt::Key_Escape);
  });
  INT_PTR result = 0;
  ASSERT_EQ(RunModalDialog(TestDialog(), nullptr, RecordingDialogProc, 0, &result), S_OK);
  EXPECT_EQ(result, 9);
  EXPECT_EQ(LOWORD(g_dialog_log.command), IDCANCEL);
}

// Without a registered class the program gets the activation's code and no control.
TEST(CreateOptionsControl, AnUnregisteredClassGivesNoControl) {
  constexpr CLSID kUnregistered{0x0BADC0DE, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  std::unique_ptr<OptionsControl> control;
  EXPECT_EQ(CreateOptionsControl(control, kUnregistered), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(control, nullptr);
}

// ---- Whole runs with the component ----

class ComponentRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QFileInfo::exists(KX_TEST_COMPONENT_PATH)) return;
    QProcess regsvr;
    regsvr.start(KX_TEST_REGSVR_PATH, {KX_TEST_COMPONENT_PATH});
    registered_ = regsvr.waitForFinished(60000) && regsvr.exitStatus() == QProcess::NormalExit &&
                  regsvr.exitCode() == 0;
    if (!registered_) {
      registration_output_ =
          (regsvr.readAllStandardOutput() + regsvr.readAllStandardError()).toStdString();
    }
  }

  void SetUp() override {
    ForgetSettings();
    if (!QFileInfo::exists(KX_TEST_COMPONENT_PATH)) {
      GTEST_SKIP() << "KorvaneX.so is not built yet (" << KX_TEST_COMPONENT_PATH << ")";
    }
    ASSERT_TRUE(registered_) << "kxregsvr failed: " << registration_output_;
    std::unique_ptr<OptionsControl> control;
    ASSERT_EQ(CreateOptionsControl(control), S_OK);
    form_ = std::make_unique<OptionPriceForm>(std::move(control));
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  void TearDown() override {
    direct_.reset();
    form_.reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(IsModuleLoaded(KX_TEST_COMPONENT_PATH)) << "an object of the component leaked";
  }

  void ExpectFields(const std::vector<std::pair<const char*, const char*>>& expected) {
    for (const auto& [field, text] : expected) EXPECT_EQ(Text(*form_, field), text) << field;
  }

  // A second object of the component, called directly, to check what the window drew.
  OptionsControl& Direct() {
    if (!direct_) EXPECT_EQ(CreateOptionsControl(direct_), S_OK);
    return *direct_;
  }

  static inline bool registered_ = false;
  static inline std::string registration_output_;
  std::unique_ptr<OptionsControl> direct_;
  std::unique_ptr<OptionPriceForm> form_;
};

// Reference values: the Black-Scholes formula with an exact N(x); the American tree values
// are the published 100-step Cox-Ross-Rubinstein figures for the same option.
TEST_F(ComponentRunTest, BlackScholesRun) {
  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  ExpectFields({{"lblCallPrice", "10.4506"},
                {"lblPutPrice", "5.5735"},
                {"lblDeltaCall", "0.6368"},
                {"lblDeltaPut", "-0.3632"},
                {"lblGamma", "0.0188"},
                {"lblVega", "37.5240"},
                {"lblRhoCall", "53.2325"},
                {"lblRhoPut", "-41.8905"},
                {"lblIV", "0.00"},
                {"lblIVPut", "0.00"}});
}

TEST_F(ComponentRunTest, ImpliedVolatilitiesAreShownAsFractions) {
  EnterReferenceOption(*form_);
  Type(*form_, "txtCallPrice", "10.4506");
  Type(*form_, "txtPutPrice", "5.5735");
  Click(*form_, "cmbCalc");
  ExpectFields({{"lblIV", "0.20"}, {"lblIVPut", "0.20"}});
}

TEST_F(ComponentRunTest, AmericanBinomialRun) {
  EnterReferenceOption(*form_);
  Click(*form_, "optMethod_1");
  Type(*form_, "txtSteps", "100");
  Type(*form_, "txtPutPrice", "6.082354");
  Click(*form_, "cmbCalc");
  ExpectFields({{"lblCallPrice", "10.4306"},
                {"lblPutPrice", "6.0824"},
                {"lblDeltaCall", "0.6365"},
                {"lblDeltaPut", "-0.4116"},
                {"lblThetaCall", "-6.4453"},
                {"lblThetaPut", "-2.2626"},
                {"lblGamma", "0.0189"},
                {"lblVega", "37.4397"},
                {"lblRhoCall", "53.3877"},
                {"lblRhoPut", "-29.9576"},
                {"lblIV", "0.00"},
                {"lblIVPut", "0.20"}});
}

TEST_F(ComponentRunTest, PastExpiryShowsZeros) {
  EnterReferenceOption(*form_);
  Find<QDateEdit>(*form_, "dtExpiryDate")->setDate(QDate::currentDate().addDays(-10));
  Type(*form_, "txtCallPrice", "10");
  Click(*form_, "cmbCalc");
  for (const char* field : kResultFields) EXPECT_EQ(Text(*form_, field), "0.0000") << field;
  ExpectFields({{"lblIV", "0.00"}, {"lblIVPut", "0.00"}});
}

TEST_F(ComponentRunTest, DividendOfThreeLeavesTheFieldsUnchanged) {
  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  ASSERT_EQ(Text(*form_, "lblCallPrice"), "10.4506");
  Type(*form_, "txtDividend", "3");  // meant as 3 %, read as 300 %: the component refuses it
  Type(*form_, "txtStockPrice", "110");
  Click(*form_, "cmbCalc");
  ExpectFields({{"lblCallPrice", "10.4506"}, {"lblPutPrice", "5.5735"}});
  Type(*form_, "txtDividend", "0.03");  // 3 % prices
  Click(*form_, "cmbCalc");
  EXPECT_NE(Text(*form_, "lblCallPrice"), "10.4506");
}

TEST_F(ComponentRunTest, ClosingDuringALongBinomialRunEndsIt) {
  EnterReferenceOption(*form_);
  Click(*form_, "optMethod_1");
  Type(*form_, "txtSteps", "5000");
  Type(*form_, "txtCallPrice", "10");
  Type(*form_, "txtPutPrice", "6");
  // The first pumped wait is the 5000-step tree: close the window there.
  g_pump->on_first_wait = [this] { form_->close(); };
  Click(*form_, "cmbCalc");  // returns once the aborted computation has stopped
  EXPECT_EQ(g_pump->on_first_wait, nullptr) << "the run never waited";
  EXPECT_FALSE(form_->isVisible());
  for (const char* field : kResultFields) EXPECT_EQ(Text(*form_, field), "") << field;
  // TearDown checks that the control was released and the component can unload.
}


// ---- Charts, status line, help, settings ----

QString Status(QWidget& form) { return Text(form, "lblStatus"); }

// The component's own answer for one Black-Scholes price member.
double DirectBs(OptionsControl& ctl, DISPID member, double s, const ModelInputs& m) {
  double k = m.strike, r = m.rate, t = m.time, v = m.vol, q = m.dividend;
  ArgList args;
  args.Ref(s).Ref(k).Ref(r).Ref(t).Ref(v).Ref(q);
  Variant out;
  EXPECT_EQ(ctl.Invoke(member, DISPATCH_METHOD, args.Reversed(), &out), S_OK);
  return out.dblVal;
}

// The component's BinPriceGreeks at one underlying price: call, put, call delta, gamma.
std::array<double, 4> DirectTree(OptionsControl& ctl, double s, const ModelInputs& m) {
  double k = m.strike, r = m.rate, t = m.time, v = m.vol, q = m.dividend, rf = 0;
  double c = 0, p = 0, cd = 0, pd = 0, ct = 0, pt = 0, g = 0, vega = 0, cr = 0, pr = 0;
  ArgList args;
  args.Ref(s).Ref(k).Ref(r).Ref(t).Ref(v).Ref(q).Int(1).Ref(rf).Int(m.steps).Int(m.style);
  args.Ref(c).Ref(p).Ref(cd).Ref(pd).Ref(ct).Ref(pt).Ref(g).Int(1).Ref(vega).Int(1).Ref(cr).Ref(pr);
  EXPECT_EQ(ctl.Invoke(dispid::kBinPriceGreeks, DISPATCH_METHOD, args.Reversed(), nullptr), S_OK);
  return {c, p, cd, g};
}

TEST_F(ComponentRunTest, BlackScholesCurvesAreTheComponentsPrices) {
  EnterReferenceOption(*form_);
  Type(*form_, "txtDividend", "0.02");
  Click(*form_, "cmbCalc");
  const auto& curves = form_->charts().curves();
  ASSERT_TRUE(curves.has_value());
  const ModelInputs& m = curves->inputs;
  EXPECT_EQ(m.spot, 100);
  EXPECT_EQ(m.strike, 100);
  EXPECT_EQ(m.rate, 0.05);
  EXPECT_EQ(m.time, 1.0);
  EXPECT_EQ(m.dividend, 0.02);
  ASSERT_EQ(curves->spots.size(), 61u);
  EXPECT_LT(curves->spots.front(), 60.0);  // three deviations of 20 % over a year each side
  EXPECT_GT(curves->spots.back(), 170.0);
  for (std::size_t i = 0; i < curves->spots.size(); ++i) {
    const double s = curves->spots[i];
    SCOPED_TRACE(testing::Message() << "underlying " << s);
    EXPECT_EQ(curves->call_value[i], DirectBs(Direct(), dispid::kBSCallPrice, s, m));
    EXPECT_EQ(curves->put_value[i], DirectBs(Direct(), dispid::kBSPutPrice, s, m));
    EXPECT_EQ(curves->call_payoff[i], std::max(s - 100.0, 0.0));
    EXPECT_EQ(curves->put_payoff[i], std::max(100.0 - s, 0.0));
    EXPECT_GE(curves->call_value[i], curves->call_payoff[i] - 1e-9);  // a European call
    if (i > 0) EXPECT_GE(curves->call_delta[i], curves->call_delta[i - 1]);
  }
  ModelInputs earlier = m;
  for (std::size_t i = 0; i + 1 < curves->years.size(); ++i) {
    earlier.time = curves->years[i];
    EXPECT_EQ(curves->call_by_time[i], DirectBs(Direct(), dispid::kBSCallPrice, 100, earlier));
  }
  // The curve through the current price meets the price the window shows.
  EXPECT_EQ(Text(*form_, "lblCallPrice").toStdString(),
            FormatPicture(curves->call_by_time.front(), kPricePicture));
}

TEST_F(ComponentRunTest, BinomialCurvesFollowTheTreesStyleAndSteps) {
  EnterReferenceOption(*form_);
  Type(*form_, "txtDividend", "0.04");
  Click(*form_, "optMethod_1");
  Type(*form_, "txtSteps", "60");
  Click(*form_, "cmbCalc");
  const auto american = form_->charts().curves();
  ASSERT_TRUE(american.has_value());
  EXPECT_EQ(american->inputs.method, PricingMethod::kBinomial);
  EXPECT_EQ(american->inputs.steps, 60);
  EXPECT_EQ(american->inputs.style, 0);
  ASSERT_EQ(american->spots.size(), 41u);
  for (std::size_t i = 0; i < american->spots.size(); i += 5) {
    const auto tree = DirectTree(Direct(), american->spots[i], american->inputs);
    EXPECT_EQ(american->call_value[i], tree[0]) << i;
    EXPECT_EQ(american->put_value[i], tree[1]) << i;
    EXPECT_EQ(american->call_delta[i], tree[2]) << i;
    EXPECT_EQ(american->gamma[i], tree[3]) << i;
    // Early exercise: an American put is never worth less than its payoff.
    EXPECT_GE(american->put_value[i], american->put_payoff[i] - 1e-12) << i;
  }
  Find<QComboBox>(*form_, "cmbEurAm")->setCurrentIndex(1);
  Click(*form_, "cmbCalc");
  const auto european = form_->charts().curves();
  ASSERT_TRUE(european.has_value());
  EXPECT_EQ(european->inputs.style, 1);
  EXPECT_EQ(european->put_value[0], DirectTree(Direct(), european->spots[0], european->inputs)[1]);
  EXPECT_LT(european->put_value[0], american->put_value[0]);  // deep in the money
  EXPECT_TRUE(Status(*form_).startsWith("Computed with binomial tree (European, 60 steps): 365 "
                                        "days to expiry, 1.0000 years"))
      << Status(*form_).toStdString();
}

TEST_F(ComponentRunTest, FailedInputsKeepThePreviousCurvesAndSaySo) {
  const QString ready = Status(*form_);
  EXPECT_EQ(ready, "Enter the inputs and press Calculate.");
  // The first Calculate of a new user: defaults, expiry today.
  Click(*form_, "cmbCalc");
  EXPECT_EQ(Status(*form_),
            "Not computed, every result set to 0: expiry must be after today (it is today); "
            "inputs must be positive (Current security price, Exercise price, Interest rate %, "
            "Security volatility).");
  EXPECT_FALSE(form_->charts().curves().has_value());

  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  EXPECT_EQ(Status(*form_),
            "Computed with Black-Scholes: 365 days to expiry, 1.0000 years (actual days / 365).");
  ASSERT_TRUE(form_->charts().curves().has_value());
  const std::string drawn = CurvesCsv(*form_->charts().curves());

  struct Case {
    const char* field;
    const char* text;
    const char* status;
  } const cases[] = {
      {"txtDividend", "3",
       "The component refused the inputs: Error in BSCallPrice: Invalid input parameter(s). The "
       "results shown are the previous ones. The charts show the previous curves."},
      {"txtInterestRate", "0",
       "Not computed, every result set to 0: inputs must be positive (Interest rate %). The "
       "charts show the previous curves."},
      {"txtSteps", "40000",
       "Could not read steps: it must lie from -32768 to 32767. The results shown are the "
       "previous ones. The charts show the previous curves."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    EnterReferenceOption(*form_);
    Type(*form_, "txtStockPrice", "120");
    // Set, not typed: the steps box takes no keys while Black-Scholes is chosen.
    Find<QLineEdit>(*form_, "txtSteps")->setText("50");
    Find<QLineEdit>(*form_, c.field)->setText(c.text);
    Click(*form_, "cmbCalc");
    EXPECT_EQ(Status(*form_), c.status);
    ASSERT_TRUE(form_->charts().curves().has_value());
    EXPECT_EQ(CurvesCsv(*form_->charts().curves()), drawn);
  }
  // The past: no charts either, and the status gives the days.
  EnterReferenceOption(*form_);
  Find<QLineEdit>(*form_, "txtSteps")->setText("50");
  Find<QDateEdit>(*form_, "dtExpiryDate")->setDate(QDate::currentDate().addDays(-2));
  Click(*form_, "cmbCalc");
  EXPECT_EQ(Status(*form_),
            "Not computed, every result set to 0: expiry must be after today (it is 2 days ago). "
            "The charts show the previous curves.");
  EXPECT_EQ(CurvesCsv(*form_->charts().curves()), drawn);
}

TEST_F(ComponentRunTest, ExportsWriteTheDrawnCurves) {
  QTemporaryDir dir;
  ChartPanel& charts = form_->charts();
  EXPECT_FALSE(charts.SaveCsv(dir.filePath("none.csv")));  // nothing drawn yet
  EXPECT_FALSE(charts.SavePng(dir.filePath("none.png")));
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("none.csv")));

  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  ASSERT_TRUE(charts.curves().has_value());
  const ChartCurves& c = *charts.curves();
  ASSERT_TRUE(charts.SaveCsv(dir.filePath("curves.csv")));
  QFile file(dir.filePath("curves.csv"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
  ASSERT_EQ(lines.size(), 1 + 61 + 1 + 1 + 61 + 1);  // the last line ends with a newline
  EXPECT_EQ(lines[0],
            "underlying,call_value,put_value,call_payoff,put_payoff,call_delta,put_delta,gamma,"
            "call_theta,put_theta,vega,call_rho,put_rho");
  EXPECT_EQ(lines[62], "");
  EXPECT_EQ(lines[63], "days_to_expiry,years_to_expiry,call_value,put_value");
  for (int row : {1, 31, 61}) {
    const QStringList cells = lines[row].split(',');
    ASSERT_EQ(cells.size(), 13);
    const std::size_t i = static_cast<std::size_t>(row - 1);
    EXPECT_EQ(cells[0].toDouble(), c.spots[i]);
    EXPECT_EQ(cells[1].toDouble(), c.call_value[i]);
    EXPECT_EQ(cells[2].toDouble(), c.put_value[i]);
    EXPECT_EQ(cells[4].toDouble(), std::max(100.0 - c.spots[i], 0.0));
    EXPECT_EQ(cells[12].toDouble(), c.put_rho[i]);
  }
  // The first point in time is now: the component's own prices at the current price.
  const QStringList first = lines[64].split(',');
  ASSERT_EQ(first.size(), 4);
  EXPECT_EQ(first[0], "365");
  EXPECT_EQ(first[1], "1");
  EXPECT_EQ(first[2].toDouble(), DirectBs(Direct(), dispid::kBSCallPrice, 100, c.inputs));
  EXPECT_EQ(first[3].toDouble(), DirectBs(Direct(), dispid::kBSPutPrice, 100, c.inputs));
  EXPECT_EQ(lines[124], "0,0,0,0");  // at the money at expiry

  // A file that cannot be written is reported, not ignored.
  EXPECT_FALSE(charts.SaveCsv(dir.filePath("missing/curves.csv")));

  ASSERT_TRUE(charts.SavePng(dir.filePath("charts.png")));
  QImage image(dir.filePath("charts.png"));
  EXPECT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 200);

  charts.CopyToClipboard();
  const QMimeData* copied = QApplication::clipboard()->mimeData();
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied->text().toStdString(), CurvesCsv(c));
  EXPECT_TRUE(copied->hasImage());
}

// A value axis's tick labels as it writes them (evenly spaced from min to max, by its printf
// format), each with where it sits along the axis: 0 at min, 1 at max.
std::vector<std::pair<QString, double>> TickLabels(const QValueAxis& axis) {
  std::vector<std::pair<QString, double>> ticks;
  const QByteArray format = axis.labelFormat().toLatin1();
  for (int i = 0; i < axis.tickCount(); ++i) {
    const double along = static_cast<double>(i) / (axis.tickCount() - 1);
    const double v = axis.min() + along * (axis.max() - axis.min());
    ticks.emplace_back(QString::asprintf(format.constData(), v), axis.isReverse() ? 1 - along : along);
  }
  return ticks;
}

// What tesseract reads in `image`, enlarged three times (it reads screen-sized text poorly),
// with every dash as "-" and every quote as "'". `numbers`: a column of numbers, one a line. Empty with a failure if
// it did not run.
QString ReadByOcr(const QImage& image, const QString& path, bool numbers) {
  const QString tesseract = QStandardPaths::findExecutable("tesseract");
  if (tesseract.isEmpty()) {
    ADD_FAILURE() << "tesseract is not installed (scripts/install-deps.sh installs it)";
    return {};
  }
  const int scale = numbers ? 4 : 3;
  QImage large = image.scaled(image.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (numbers) large = large.convertToFormat(QImage::Format_Grayscale8);
  EXPECT_TRUE(large.save(path));
  QStringList args{path, "stdout", "--psm", numbers ? "6" : "11"};
  if (numbers) args << "-c" << "tessedit_char_whitelist=0123456789.-";
  QProcess ocr;
  ocr.start(tesseract, args);
  if (!ocr.waitForFinished(120000)) {
    ocr.kill();
    ocr.waitForFinished();
    ADD_FAILURE() << "tesseract did not finish in 2 minutes";
    return {};
  }
  EXPECT_EQ(ocr.exitCode(), 0) << ocr.readAllStandardError().toStdString();
  QString text = QString::fromUtf8(ocr.readAllStandardOutput());
  text.replace(QRegularExpression("[\u2010-\u2015\u2212]"), "-");
  return text.replace(QRegularExpression("[\u2018\u2019]"), "'");
}

// The chart's texts that OCR of the view did not find whole, and any "..." it found. The title
// and legend names are read in the whole picture; each tick label is cut out where its tick is
// and the cuts are read as one column, since tesseract loses a lone digit in a whole chart.
QStringList UnreadTexts(QChartView& view, const QString& stem) {
  QChart& chart = *view.chart();
  const QImage image = view.grab().toImage();
  const QRect plot = view.mapFromScene(chart.mapToScene(chart.plotArea())).boundingRect();
  QStringList expected_ticks;
  std::vector<QImage> cuts;
  for (const QAbstractAxis* axis : chart.axes()) {
    const auto* values = qobject_cast<const QValueAxis*>(axis);
    if (values == nullptr) continue;
    const QFontMetrics metrics(values->labelsFont());
    const auto ticks = TickLabels(*values);
    int widest = 0;
    for (const auto& [label, along] : ticks) {
      widest = std::max(widest, metrics.horizontalAdvance(label));
    }
    const int h = metrics.height();
    for (const auto& [label, along] : ticks) {
      expected_ticks << label;
      QRect box;
      if (values->orientation() == Qt::Vertical) {  // right-aligned, left of the plot
        const int y = plot.bottom() - static_cast<int>(std::lround(along * plot.height()));
        box = QRect(plot.left() - widest - 11, y - h / 2, widest + 6, h);  // not the tick mark
      } else {  // centred under the plot
        const int x = plot.left() + static_cast<int>(std::lround(along * plot.width()));
        box = QRect(x - widest / 2 - 4, plot.bottom() + 7, widest + 8, h + 2);
      }
      cuts.push_back(image.copy(box));
    }
  }
  // The cuts one under another, apart, on white.
  int width = 0, height = 16;
  for (const QImage& cut : cuts) {
    width = std::max(width, cut.width() + 32);
    height += cut.height() + 16;
  }
  QImage column(width, height, QImage::Format_RGB32);
  column.fill(Qt::white);
  {
    QPainter painter(&column);
    int top = 16;
    for (const QImage& cut : cuts) {
      painter.drawImage(16, top, cut);
      top += cut.height() + 16;
    }
  }
  const QString all = ReadByOcr(image, stem + "-ocr.png", false).simplified();
  const QStringList numbers =
      ReadByOcr(column, stem + "-ocr-ticks.png", true).split('\n', Qt::SkipEmptyParts);
  QStringList unread;
  QStringList names{chart.title()};
  for (const QAbstractSeries* series : chart.series()) names << series->name();
  for (const QString& name : names) {
    if (!all.contains(name)) unread << name;
  }
  for (const QString& tick : expected_ticks) {
    // Tesseract's model drops the short minus before some digits: "-5" is read as "5" at every
    // enlargement from 2 to 8 times. A cut label still loses digits or shows "...".
    const bool read = numbers.contains(tick) ||
                      (tick.startsWith('-') && numbers.contains(tick.mid(1)));
    if (!read) unread << tick;
  }
  if (all.contains("...") || all.contains(QChar(0x2026))) unread << "(a text cut with ...)";
  if (!unread.isEmpty()) unread << "read: " + all << "ticks read: " + numbers.join(' ');
  return unread;
}

// The Charts tab under a real X server (KX_SCREENSHOT_DIR set by the Xvfb test), at the
// window's first size, its smallest and a large one: OCR finds each chart's title, legend
// names and tick numbers, and no "..." where a text was cut. The images stay in that folder.
TEST_F(ComponentRunTest, ChartsAreReadableAtEverySize) {
  const QString dir = qEnvironmentVariable("KX_SCREENSHOT_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "runs under Xvfb: lanternell_charts_screenshot_xvfb";
  QDir().mkpath(dir);
  EnterReferenceOption(*form_);
  Type(*form_, "txtStockPrice", "108");
  Type(*form_, "txtDividend", "0.01");
  Click(*form_, "cmbCalc");
  ASSERT_TRUE(form_->charts().curves().has_value());
  auto* tab = Find<QTabWidget>(*form_, "ctlTab");
  const struct {
    const char* name;
    QSize size;
  } sizes[] = {{"first", form_->size()}, {"smallest", QSize(1, 1)}, {"large", QSize(1280, 960)}};
  const struct {
    Chart chart;
    Greek greek;
    const char* name;
    const char* view;
    bool every_size;  // the other Greeks at the smallest size only
  } charts[] = {{Chart::kValue, Greek::kDelta, "value", "chtValue", true},
                {Chart::kGreek, Greek::kDelta, "delta", "chtGreek", true},
                {Chart::kTime, Greek::kDelta, "time", "chtTime", true},
                {Chart::kGreek, Greek::kGamma, "gamma", "chtGreek", false},
                {Chart::kGreek, Greek::kTheta, "theta", "chtGreek", false},
                {Chart::kGreek, Greek::kVega, "vega", "chtGreek", false},
                {Chart::kGreek, Greek::kRho, "rho", "chtGreek", false}};
  for (const auto& size : sizes) {
    form_->resize(size.size);
    tab->setCurrentIndex(2);
    for (const auto& chart : charts) {
      if (!chart.every_size && std::string_view(size.name) != "smallest") continue;
      SCOPED_TRACE(testing::Message() << size.name << " window, " << chart.name << " chart");
      form_->charts().SelectGreek(chart.greek);
      form_->charts().SelectChart(chart.chart);
      QTest::qWait(50);  // lets the tab lay out and paint; no timing is asserted
      const QString stem = dir + "/charts-" + size.name + "-" + chart.name;
      ASSERT_TRUE(form_->grab().save(stem + ".png"));
      auto* view = Find<QChartView>(*form_, chart.view);
      ASSERT_TRUE(view->isVisible());
      EXPECT_EQ(UnreadTexts(*view, stem), QStringList()) << stem.toStdString();
    }
  }
  // The export draws all three charts at its own size, whatever the window's.
  ASSERT_TRUE(form_->charts().SavePng(dir + "/charts-export.png"));
  EXPECT_EQ(QImage(dir + "/charts-export.png").size(), QSize(960, 3 * 540));
  // The window as it opens, in the light and a dark palette, for the README.
  form_->resize(sizes[0].size);
  const QPalette light = QApplication::palette();
  QPalette dark = light;
  dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2e));
  dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
  dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
  dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
  dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
  dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
  form_->charts().SelectChart(Chart::kValue);
  for (const auto& [name, palette] : {std::pair{"light", light}, std::pair{"dark", dark}}) {
    SCOPED_TRACE(name);
    QApplication::setPalette(palette);
    for (const auto& [page, index] : {std::pair{"charts", 2}, std::pair{"pricing", 0}}) {
      tab->setCurrentIndex(index);
      QTest::qWait(50);
      ASSERT_TRUE(form_->grab().save(dir + "/" + page + "-" + name + ".png"));
    }
    EXPECT_EQ(form_->charts().dark(), std::string_view(name) == "dark");
  }
  QApplication::setPalette(light);
}

// The tree's curves wait in the pumped wait like the run: Calculate stays disabled, and closing
// the window there stops them at once and draws nothing.
TEST_F(WindowTest, ClosingWhileTheCurvesAreComputedStopsThem) {
  EnterReferenceOption(*form_);
  Click(*form_, "optMethod_1");
  auto* calculate = Find<QPushButton>(*form_, "cmbCalc");
  int tree_calls = 0;
  bool disabled_while_drawing = false;
  std::size_t calls_at_close = 0;
  fake_->during_call = [&](const fakes::RecordedCall& call) {
    if (call.member != dispid::kBinPriceGreeks || ++tree_calls != 6) return;  // 5th point
    disabled_while_drawing = !calculate->isEnabled();
    EXPECT_TRUE(Status(*form_).endsWith(" Drawing the charts..."));
    form_->close();
    calls_at_close = fake_->calls.size();
  };
  Click(*form_, "cmbCalc");
  EXPECT_TRUE(disabled_while_drawing);
  EXPECT_EQ(tree_calls, 6);
  EXPECT_EQ(calls_at_close, 8u);  // Base, the run's tree, five points, then Abort
  EXPECT_TRUE(*destroyed_);       // no further point reached the control
  EXPECT_FALSE(form_->charts().curves().has_value());
}

// A point the control refuses leaves the results of the run on screen and the previous curves.
TEST_F(WindowTest, ARefusedPointKeepsTheResultsAndThePreviousCurves) {
  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  ASSERT_TRUE(form_->charts().curves().has_value());
  const double first_spot = form_->charts().curves()->spots.front();
  Type(*form_, "txtStockPrice", "130");
  fake_->calls.clear();
  fake_->during_call = [&](const fakes::RecordedCall&) {
    if (fake_->calls.size() == 30) {  // the run's ten calls done, the charts under way
      fake_->results[dispid::kBSGamma] = E_INVALIDARG;
      fake_->last_error = "Error in BSGamma: Invalid input parameter(s).";
    }
  };
  Click(*form_, "cmbCalc");
  EXPECT_EQ(Status(*form_),
            "Computed with Black-Scholes: 365 days to expiry, 1.0000 years (actual days / 365). "
            "Charts not updated: The component refused the inputs: Error in BSGamma: Invalid "
            "input parameter(s). The charts show the previous curves.");
  EXPECT_EQ(Text(*form_, "lblCallPrice").toStdString(),
            FormatPicture(FakeOutput(10, kRetval), kPricePicture));
  ASSERT_TRUE(form_->charts().curves().has_value());
  EXPECT_EQ(form_->charts().curves()->inputs.spot, 100);
  EXPECT_EQ(form_->charts().curves()->spots.front(), first_spot);
  EXPECT_TRUE(Find<QPushButton>(*form_, "cmbCalc")->isEnabled());
}

TEST_F(WindowTest, SettingsRoundTrip) {
  EnterReferenceOption(*form_);
  Type(*form_, "txtDividend", "0.03");
  Type(*form_, "txtCallPrice", "10.5");
  Type(*form_, "txtPutPrice", "4");
  Click(*form_, "optMethod_1");
  Type(*form_, "txtSteps", "200");
  Find<QComboBox>(*form_, "cmbEurAm")->setCurrentIndex(1);
  form_->charts().SelectGreek(Greek::kVega);
  const QDate expiry = QDate::currentDate().addDays(30);
  Find<QDateEdit>(*form_, "dtExpiryDate")->setDate(expiry);
  form_->close();  // remembered on unload

  OptionPriceForm again(std::make_unique<FakeOptionsControl>());
  const std::pair<const char*, const char*> boxes[] = {
      {"txtStockPrice", "100"}, {"txtExercisePrice", "100"}, {"txtInterestRate", "5"},
      {"txtVolatility", "20"},  {"txtDividend", "0.03"},     {"txtSteps", "200"},
      {"txtCallPrice", "10.5"}, {"txtPutPrice", "4"}};
  for (const auto& [box, text] : boxes) EXPECT_EQ(Text(again, box), text) << box;
  EXPECT_TRUE(Find<QRadioButton>(again, "optMethod_1")->isChecked());
  EXPECT_TRUE(Find<QComboBox>(again, "cmbEurAm")->isEnabled());
  EXPECT_TRUE(Find<QLineEdit>(again, "txtSteps")->isEnabled());
  EXPECT_EQ(Find<QComboBox>(again, "cmbEurAm")->currentIndex(), 1);
  EXPECT_EQ(Find<QComboBox>(again, "cmbGreek")->currentIndex(), static_cast<int>(Greek::kVega));
  EXPECT_EQ(Find<QDateEdit>(again, "dtExpiryDate")->date(), expiry);
  // The results are not remembered.
  EXPECT_EQ(Text(again, "lblCallPrice"), "");
  EXPECT_FALSE(again.charts().curves().has_value());
}

TEST_F(WindowTest, RememberedValuesThatNoLongerFitAreLeftOut) {
  {
    auto settings = OptionPriceForm::OpenSettings();
    settings->setValue("inputs/expiry", QDate::currentDate().addDays(-1));  // now past
    settings->setValue("model/style", 7);
    settings->setValue("model/method", 0);
    settings->setValue("charts/greek", 99);
  }
  OptionPriceForm again(std::make_unique<FakeOptionsControl>());
  EXPECT_EQ(Find<QDateEdit>(again, "dtExpiryDate")->date(), QDate::currentDate());
  EXPECT_EQ(Find<QComboBox>(again, "cmbEurAm")->currentIndex(), 0);
  EXPECT_FALSE(Find<QComboBox>(again, "cmbEurAm")->isEnabled());
  EXPECT_EQ(Find<QComboBox>(again, "cmbGreek")->currentIndex(), 0);
}

// Where every control of the four groups and the buttons sits in the window.
std::vector<std::string> FormGeometry(QWidget& form) {
  std::vector<std::string> where;
  auto add = [&](QWidget* w) {
    const QPoint at = w->mapTo(&form, QPoint(0, 0));
    where.push_back(QString("%1 at %2,%3 %4x%5")
                        .arg(w->objectName())
                        .arg(at.x())
                        .arg(at.y())
                        .arg(w->width())
                        .arg(w->height())
                        .toStdString());
  };
  for (const char* group : {"fraInputs", "fraModel", "fraGreeks", "fraImpliedVolatility"}) {
    for (QWidget* w : Find<QWidget>(form, group)->findChildren<QWidget*>()) add(w);
  }
  add(Find<QWidget>(form, "cmbCalc"));
  return where;
}

// The status line grows from one line to three (a run, then why its curves were refused):
// nothing above it moves, at the window's first size and at its smallest, and the text fits.
TEST_F(WindowTest, TheFormStaysInPlaceWhateverTheStatusSays) {
  const QSize first = form_->size();
  auto* status = Find<QLabel>(*form_, "lblStatus");
  for (const QSize size : {first, QSize(1, 1)}) {  // (1, 1): the window's minimum size
    SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
    form_->resize(size);
    QApplication::processEvents();
    const std::vector<std::string> before = FormGeometry(*form_);
    EnterReferenceOption(*form_);
    fake_->results.clear();
    fake_->during_call = nullptr;
    Click(*form_, "cmbCalc");
    QApplication::processEvents();
    EXPECT_EQ(FormGeometry(*form_), before) << Status(*form_).toStdString();
    fake_->calls.clear();
    fake_->during_call = [&](const fakes::RecordedCall&) {
      if (fake_->calls.size() == 30) {  // the run done, the charts under way
        fake_->results[dispid::kBSGamma] = E_INVALIDARG;
        fake_->last_error = "Error in BSGamma: Invalid input parameter(s).";
      }
    };
    Click(*form_, "cmbCalc");
    QApplication::processEvents();
    ASSERT_TRUE(Status(*form_).contains("Charts not updated"));
    EXPECT_EQ(FormGeometry(*form_), before) << Status(*form_).toStdString();
    // The longest status there is, of a binomial run, still fits its line.
    status->setText(
        "Computed with binomial tree (European, 5000 steps): 3650 days to expiry, 10.0000 years "
        "(actual days / 365). Charts not updated: The component refused the inputs: Error in "
        "BinPriceGreeks: Invalid input parameter(s). The charts show the previous curves.");
    EXPECT_LE(status->heightForWidth(status->width()), status->height())
        << "width " << status->width();
  }
}

TEST_F(WindowTest, EveryFieldSaysItsUnitAndRange) {
  const std::pair<const char*, const char*> help[] = {
      {"txtStockPrice", "Must be positive"},
      {"txtExercisePrice", "Must be positive"},
      {"txtInterestRate", "percent"},
      {"dtExpiryDate", "/ 365"},
      {"txtVolatility", "percent"},
      {"txtDividend", "decimal fraction"},
      {"txtSteps", "1 to 5000"},
      {"txtCallPrice", "implied volatility"},
      {"txtPutPrice", "implied volatility"},
      {"lblCallPrice", "currency units"},
      {"lblPutPrice", "currency units"},
      {"lblDeltaCall", "0 to 1"},
      {"lblDeltaPut", "-1 to 0"},
      {"lblThetaCall", "per year"},
      {"lblThetaPut", "per year"},
      {"lblRhoCall", "per 1.00"},
      {"lblRhoPut", "per 1.00"},
      {"lblVega", "per 1.00"},
      {"lblGamma", "per 1.00"},
      {"lblIV", "decimal fraction"},
      {"lblIVPut", "decimal fraction"},
  };
  for (const auto& [field, words] : help) {
    EXPECT_TRUE(Find<QWidget>(*form_, field)->toolTip().contains(words))
        << field << ": " << Find<QWidget>(*form_, field)->toolTip().toStdString();
  }
}

TEST_F(WindowTest, ResultsCanBeSelectedButTabSkipsThem) {
  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  std::vector<const char*> results(std::begin(kResultFields), std::end(kResultFields));
  results.push_back("lblIV");
  results.push_back("lblIVPut");
  for (const char* name : results) {
    SCOPED_TRACE(name);
    QLabel* label = Find<QLabel>(*form_, name);
    EXPECT_TRUE(label->textInteractionFlags().testFlags(Qt::TextSelectableByMouse |
                                                        Qt::TextSelectableByKeyboard));
    EXPECT_EQ(label->focusPolicy(), Qt::ClickFocus);
    label->setSelection(0, static_cast<int>(label->text().size()));
    EXPECT_EQ(label->selectedText(), label->text());
    EXPECT_FALSE(label->text().isEmpty());
  }
  // Tab from the last input goes on to a button, never into the results.
  QWidget* next = Find<QLineEdit>(*form_, "txtPutPrice")->nextInFocusChain();
  for (int i = 0; i < 40 && next != nullptr; ++i, next = next->nextInFocusChain()) {
    if (next->focusPolicy() & Qt::TabFocus) {
      EXPECT_EQ(qobject_cast<QLabel*>(next), nullptr) << next->objectName().toStdString();
    }
  }
}

TEST_F(WindowTest, ExpiryStepsByKeyboardAcrossMonthAndYearEnds) {
  auto* box = Find<QDateEdit>(*form_, "dtExpiryDate");
  box->setFocus();
  struct Case {
    QDate from;
    QDateTimeEdit::Section section;
    Qt::Key key;
    QDate to;
  } const cases[] = {
      {{2030, 12, 15}, QDateTimeEdit::MonthSection, Qt::Key_Up, {2031, 1, 15}},
      {{2031, 1, 15}, QDateTimeEdit::MonthSection, Qt::Key_Down, {2030, 12, 15}},
      {{2030, 12, 31}, QDateTimeEdit::DaySection, Qt::Key_Up, {2031, 1, 1}},
      {{2031, 3, 1}, QDateTimeEdit::DaySection, Qt::Key_Down, {2031, 2, 28}},
      {{2030, 12, 31}, QDateTimeEdit::DaySection, Qt::Key_PageUp, {2031, 1, 31}},
      {{2031, 3, 31}, QDateTimeEdit::YearSection, Qt::Key_PageDown, {2031, 2, 28}},
      {{2032, 2, 29}, QDateTimeEdit::YearSection, Qt::Key_Up, {2033, 2, 28}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from.toString(Qt::ISODate).toStdString() + " key " + std::to_string(c.key));
    box->setDate(c.from);
    box->setCurrentSection(c.section);
    QTest::keyClick(box, c.key);
    EXPECT_EQ(box->date(), c.to);
    EXPECT_EQ(box->currentSection(), c.section);
  }
}

TEST_F(WindowTest, HoverShowsThePointsValues) {
  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  auto* view = form_->findChild<QChartView*>("chtValue");
  ASSERT_NE(view, nullptr);
  const auto series = view->chart()->series();
  ASSERT_GE(series.size(), 4);
  auto* call = qobject_cast<QLineSeries*>(series[0]);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->name(), "Call");
  const QPointF point = call->at(10);
  emit call->hovered(point + QPointF(0.01, 0.3), true);  // near, not on, the computed point
  EXPECT_EQ(Text(*form_, "lblChartPoint"),
            QString("Call: underlying %1, option value %2")
                .arg(QString::number(point.x(), 'f', 2), QString::number(point.y(), 'f', 4)));
  // The legend names the marks of the exercise and current prices.
  QStringList names;
  for (auto* s : series) names << s->name();
  EXPECT_TRUE(names.contains("Exercise price")) << names.join(", ").toStdString();
  EXPECT_TRUE(names.contains("Current price"));
  EXPECT_TRUE(names.contains("Call at expiry"));
  EXPECT_TRUE(view->chart()->legend()->isVisible());
  // Axes carry units.
  QStringList titles;
  for (auto* axis : view->chart()->axes()) titles << axis->titleText();
  EXPECT_TRUE(titles.contains("Underlying price (currency units)"));
  EXPECT_TRUE(titles.contains("Value (currency units)"));
}

TEST_F(WindowTest, GreekSelectorRedrawsTheGreekChart) {
  EnterReferenceOption(*form_);
  Click(*form_, "cmbCalc");
  auto* view = form_->findChild<QChartView*>("chtGreek");
  ASSERT_NE(view, nullptr);
  const struct {
    Greek greek;
    const char* first_curve;
    double first_value;
  } cases[] = {{Greek::kDelta, "Call delta", FakeOutput(12, 6)},
               {Greek::kGamma, "Gamma", FakeOutput(14, 6)},
               {Greek::kTheta, "Call theta", FakeOutput(13, 6)},
               {Greek::kVega, "Vega", FakeOutput(15, 6)},
               {Greek::kRho, "Call rho", FakeOutput(16, 6)}};
  for (const auto& c : cases) {
    form_->charts().SelectGreek(c.greek);
    auto* first = qobject_cast<QLineSeries*>(view->chart()->series().value(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name(), c.first_curve);
    EXPECT_EQ(first->at(0).y(), c.first_value);
  }
}
}  // namespace
}  // namespace kx::calculator

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never the user's or the machine's registry: the component is registered in a folder of this
  // run only.
  QTemporaryDir registry;
  qputenv("KX_REGISTRY_DIR", registry.path().toUtf8());
  qputenv("KX_MACHINE_REGISTRY_DIR", (registry.path() + "/machine").toUtf8());
  // Nor the user's settings.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);

  using namespace kx::platform;
  (void)CoInitialize(nullptr);
  kx::calculator::ObservedPump pump;
  kx::calculator::QtDialogBackend dialogs;
  kx::calculator::g_pump = &pump;
  SetMessagePumpHook(&pump);
  SetDialogBackend(&dialogs);
  const int result = RUN_ALL_TESTS();
  SetDialogBackend(nullptr);
  SetMessagePumpHook(nullptr);
  CoUninitialize();
  return result;
}

#include "window_test.moc"
