// The real window, driven on Qt's offscreen platform: with a recording control for the glue,
// and with the component itself (registered in a temporary registry) for whole runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>

#include "fake_options_control.h"
#include "frm_option_price.h"
#include "kx/calculator/about.h"
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

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
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

  FakeOptionsControl* fake_;  // owned by the window until it unloads
  std::shared_ptr<bool> destroyed_;
  std::unique_ptr<OptionPriceForm> form_;
};

TEST_F(WindowTest, StartsAsLoaded) {
  QWidget& form = *form_;
  EXPECT_EQ(form.windowTitle(), "Option Pricing Calculator - Provided by Fenwright Software");
  auto* tab = Find<QTabWidget>(form, "ctlTab");
  ASSERT_EQ(tab->count(), 2);
  EXPECT_EQ(tab->currentWidget()->objectName(), "frapricing");
  EXPECT_EQ(tab->tabText(0), "Option Pricing");
  EXPECT_EQ(tab->tabText(1), "More free tools from www.fenwright.example");
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
  EXPECT_EQ(Members(), (std::vector<DISPID>{1, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
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
  ASSERT_EQ(Members(), (std::vector<DISPID>{1, 43, 49, 50}));
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
  EXPECT_EQ(Members(), (std::vector<DISPID>{1, 43}));  // one run only
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
    form_.reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(IsModuleLoaded(KX_TEST_COMPONENT_PATH)) << "an object of the component leaked";
  }

  void ExpectFields(const std::vector<std::pair<const char*, const char*>>& expected) {
    for (const auto& [field, text] : expected) EXPECT_EQ(Text(*form_, field), text) << field;
  }

  static inline bool registered_ = false;
  static inline std::string registration_output_;
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

}  // namespace
}  // namespace kx::calculator

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never the user's or the machine's registry: the component is registered in a folder of this
  // run only.
  QTemporaryDir registry;
  qputenv("KX_REGISTRY_DIR", registry.path().toUtf8());
  qputenv("KX_MACHINE_REGISTRY_DIR", (registry.path() + "/machine").toUtf8());
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
