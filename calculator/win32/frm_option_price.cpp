#include "frm_option_price.h"

#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <span>
#include <string_view>

#include "chart_export.h"
#include "chart_view.h"
#include "control_ids.h"
#include "kx/calculator/about.h"
#include "kx/calculator/key_filter.h"
#include "kx/calculator/picture.h"
#include "kx/calculator/plot.h"
#include "kx/calculator/status.h"
#include "test_report.h"

namespace kx::calculator {

namespace {

constexpr wchar_t kWindowClass[] = L"LanternellOptionPrice";
constexpr wchar_t kPageClass[] = L"LanternellPage";

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::chrono::sys_days ToSysDays(const SYSTEMTIME& t) {
  using namespace std::chrono;
  return sys_days{year{t.wYear} / month{t.wMonth} / day{t.wDay}};
}

// A page of the tab control: a plain container whose controls' notifications go to the window.
LRESULT CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(GetParent(hwnd), message, wparam, lparam);
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

// Every control of the form: its class, caption, id, style and place on its page.
struct ControlSpec {
  const wchar_t* cls;
  const wchar_t* text;
  int id;
  DWORD style;
  int x, y, w, h;
  bool result_font = false;
};

constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | SS_LEFT;
constexpr DWORD kResult = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_SUNKEN;
constexpr DWORD kEdit = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kGroup = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;

// Rows of the Inputs group and of the Prices and Greeks group.
constexpr int Row(int i) { return 26 + i * 27; }
constexpr int kCaptionW = 146, kFieldX = 160, kFieldW = 140;
constexpr int GreekRow(int i) { return 222 + i * 23; }

const ControlSpec kPricingControls[] = {
    {L"BUTTON", L"Inputs", id::kFraInputs, kGroup, 8, 4, 300, 190},
    {L"STATIC", L"Current security price", id::kCaptionStockPrice, kLabel, 16, Row(0) + 3,
     kCaptionW, 18},
    {L"EDIT", L"", id::kTxtStockPrice, kEdit | WS_GROUP, kFieldX, Row(0), kFieldW, 22},
    {L"STATIC", L"Exercise price", id::kCaptionExercisePrice, kLabel, 16, Row(1) + 3, kCaptionW,
     18},
    {L"EDIT", L"", id::kTxtExercisePrice, kEdit, kFieldX, Row(1), kFieldW, 22},
    {L"STATIC", L"Interest rate %", id::kCaptionInterestRate, kLabel, 16, Row(2) + 3, kCaptionW,
     18},
    {L"EDIT", L"", id::kTxtInterestRate, kEdit, kFieldX, Row(2), kFieldW, 22},
    {L"STATIC", L"Expiry date", id::kCaptionExpiryDate, kLabel, 16, Row(3) + 3, kCaptionW, 18},
    {DATETIMEPICK_CLASSW, L"", id::kDtExpiryDate,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | DTS_SHORTDATEFORMAT, kFieldX, Row(3), kFieldW, 22},
    {L"STATIC", L"Security volatility", id::kCaptionVolatility, kLabel, 16, Row(4) + 3, kCaptionW,
     18},
    {L"EDIT", L"", id::kTxtVolatility, kEdit, kFieldX, Row(4), kFieldW, 22},
    {L"STATIC", L"Dividend rate", id::kCaptionDividend, kLabel, 16, Row(5) + 3, kCaptionW, 18},
    {L"EDIT", L"", id::kTxtDividend, kEdit, kFieldX, Row(5), kFieldW, 22},

    {L"BUTTON", L"Option Pricing Model", id::kFraModel, kGroup, 316, 4, 276, 190},
    {L"BUTTON", L"Black-Scholes", id::kOptMethod0,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 326, 26, 200, 20},
    {L"BUTTON", L"Binomial", id::kOptMethod1, WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 326, 52,
     200, 20},
    {WC_COMBOBOXW, L"", id::kCmbEurAm,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST, 326, 80, 200,
     120},
    {L"EDIT", L"50", id::kTxtSteps, kEdit, 326, 110, 120, 22},
    {L"STATIC", L"steps", id::kLblSteps, kLabel, 452, 113, 60, 18},

    {L"BUTTON", L"Prices and Greeks", id::kFraGreeks, kGroup, 8, 200, 584, 140},
    {L"STATIC", L"Call Price", 0, kLabel, 16, GreekRow(0), 120, 18},
    {L"STATIC", L"", id::kLblCallPrice, kResult, 140, GreekRow(0), 140, 19, true},
    {L"STATIC", L"Put price", 0, kLabel, 300, GreekRow(0), 120, 18},
    {L"STATIC", L"", id::kLblPutPrice, kResult, 430, GreekRow(0), 150, 19, true},
    {L"STATIC", L"Delta call", 0, kLabel, 16, GreekRow(1), 120, 18},
    {L"STATIC", L"", id::kLblDeltaCall, kResult, 140, GreekRow(1), 140, 19, true},
    {L"STATIC", L"Delta put", 0, kLabel, 300, GreekRow(1), 120, 18},
    {L"STATIC", L"", id::kLblDeltaPut, kResult, 430, GreekRow(1), 150, 19, true},
    {L"STATIC", L"Theta call", 0, kLabel, 16, GreekRow(2), 120, 18},
    {L"STATIC", L"", id::kLblThetaCall, kResult, 140, GreekRow(2), 140, 19, true},
    {L"STATIC", L"Theta put", 0, kLabel, 300, GreekRow(2), 120, 18},
    {L"STATIC", L"", id::kLblThetaPut, kResult, 430, GreekRow(2), 150, 19, true},
    {L"STATIC", L"Rho call", 0, kLabel, 16, GreekRow(3), 120, 18},
    {L"STATIC", L"", id::kLblRhoCall, kResult, 140, GreekRow(3), 140, 19, true},
    {L"STATIC", L"Rho put", 0, kLabel, 300, GreekRow(3), 120, 18},
    {L"STATIC", L"", id::kLblRhoPut, kResult, 430, GreekRow(3), 150, 19, true},
    {L"STATIC", L"Vega", 0, kLabel, 16, GreekRow(4), 120, 18},
    {L"STATIC", L"", id::kLblVega, kResult, 140, GreekRow(4), 140, 19, true},
    {L"STATIC", L"Gamma", 0, kLabel, 300, GreekRow(4), 120, 18},
    {L"STATIC", L"", id::kLblGamma, kResult, 430, GreekRow(4), 150, 19, true},

    {L"BUTTON", L"Implied Volatility", id::kFraImpliedVolatility, kGroup, 8, 346, 584, 74},
    {L"STATIC", L"Call price", 0, kLabel, 16, 369, 70, 18},
    {L"EDIT", L"", id::kTxtCallPrice, kEdit | WS_GROUP, 90, 366, 170, 22},
    {L"STATIC", L"Implied volatility", 0, kLabel, 280, 369, 120, 18},
    {L"STATIC", L"0", id::kLblIV, kResult, 410, 367, 100, 20},
    {L"STATIC", L"Put price", 0, kLabel, 16, 395, 70, 18},
    {L"EDIT", L"", id::kTxtPutPrice, kEdit, 90, 392, 170, 22},
    {L"STATIC", L"Implied volatility", 0, kLabel, 280, 395, 120, 18},
    {L"STATIC", L"0", id::kLblIVPut, kResult, 410, 393, 100, 20},

    {L"BUTTON", L"Calculate", id::kCmbCalc,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 8, 428, 90, 26},
    {L"BUTTON", L"&Exit ", id::kCmdExit, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 104,
     428, 90, 26},
    {L"STATIC", L"About Option Pricing Calculator", id::kLblAbout,
     WS_CHILD | WS_VISIBLE | SS_RIGHT | SS_NOTIFY, 330, 433, 262, 18},
    // Four lines whatever it says: the form above never moves when it changes.
    {L"STATIC", L"", id::kLblStatus, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_SUNKEN, 8, 462, 584, 64},
};

constexpr int kPages[] = {id::kFraPricing, id::kFraAbout, id::kFraCharts};  // in the tabs' order

constexpr int kNumericBoxes[] = {id::kTxtStockPrice, id::kTxtExercisePrice, id::kTxtInterestRate,
                                 id::kTxtVolatility, id::kTxtDividend,      id::kTxtSteps,
                                 id::kTxtCallPrice,  id::kTxtPutPrice};

// The hourglass and the disabled Calculate button for the length of one run.
class RunGuard {
 public:
  RunGuard(HWND button, bool& running)
      : button_(button), running_(running), cursor_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {
    running_ = true;
    EnableWindow(button_, FALSE);
  }
  ~RunGuard() {
    EnableWindow(button_, TRUE);
    SetCursor(cursor_);
    running_ = false;
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  HWND button_;
  bool& running_;
  HCURSOR cursor_;
};

}  // namespace

OptionPriceWindow::OptionPriceWindow(std::unique_ptr<OptionsControl> control)
    : ctlOptions_(std::move(control)) {}

OptionPriceWindow* OptionPriceWindow::Create(HINSTANCE instance,
                                             std::unique_ptr<OptionsControl> control) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(WNDCLASSEXW);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  RegisterClassExW(&window_class);
  WNDCLASSEXW page_class{};
  page_class.cbSize = sizeof(WNDCLASSEXW);
  page_class.lpfnWndProc = PageProc;
  page_class.hInstance = instance;
  page_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  page_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  page_class.lpszClassName = kPageClass;
  RegisterClassExW(&page_class);
  ChartView::Register(instance);

  auto* window = new OptionPriceWindow(std::move(control));
  const std::wstring caption = Wide(kWindowCaption);
  // The pricing page's size at the least; larger, the Charts tab gets the room.
  RECT frame{0, 0, 616, 572};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  window->smallest_ = {frame.right - frame.left, frame.bottom - frame.top};
  CreateWindowExW(0, kWindowClass, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                  nullptr, instance, window);
  return window;
}

HWND OptionPriceWindow::Control(int page, int control) const {
  return GetDlgItem(GetDlgItem(hwnd_, page), control);
}

std::wstring OptionPriceWindow::Text(int control) const {
  HWND h = Control(id::kFraPricing, control);
  if (h == nullptr) h = Control(id::kFraCharts, control);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

LRESULT CALLBACK OptionPriceWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<OptionPriceWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<OptionPriceWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->Handle(message, wparam, lparam);
}

LRESULT CALLBACK OptionPriceWindow::NumericBoxProc(HWND hwnd, UINT message, WPARAM wparam,
                                                   LPARAM lparam, UINT_PTR, DWORD_PTR) {
  // FilterNumericKey: a swallowed key never reaches the box.
  if (message == WM_CHAR && FilterNumericKey(static_cast<char16_t>(wparam)) == 0) return 0;
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

LRESULT OptionPriceWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      Load();
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->hwndFrom == ctlTab_ && header->code == TCN_SELCHANGE) {
        ShowPage(TabCtrl_GetCurSel(ctlTab_));
      }
      return 0;
    }
    case WM_COMMAND: {
      const int control = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (control == id::kCmbCalc || control == IDOK) cmbCalc_Click();
      if (control == id::kCmdExit) cmdExit_Click();
      if (control == id::kOptMethod0 && code == BN_CLICKED) optMethod_Click(0);
      if (control == id::kOptMethod1 && code == BN_CLICKED) optMethod_Click(1);
      if (control == id::kLblAbout && code == STN_CLICKED) lblAbout_Click();
      if (control == id::kImgAbout && code == STN_CLICKED) imgAbout_Click();
      if (control == id::kCmbChart && code == CBN_SELCHANGE) cmbChart_Click();
      if (control == id::kCmbGreek && code == CBN_SELCHANGE) cmbGreek_Click();
      if (control == id::kCmdSavePng && code == BN_CLICKED) cmdSave_Click(true);
      if (control == id::kCmdSaveCsv && code == BN_CLICKED) cmdSave_Click(false);
      if (control == id::kCmdCopyCharts && code == BN_CLICKED) cmdCopyCharts_Click();
      if (control == id::kChtChart && code == ChartView::kPointChanged) {
        const std::string& point = ChartView::Of(reinterpret_cast<HWND>(lparam))->point();
        SetWindowTextW(Control(id::kFraCharts, id::kLblChartPoint), Wide(point).c_str());
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lparam);
      const int which = GetDlgCtrlID(control);
      const HDC dc = reinterpret_cast<HDC>(wparam);
      SetBkMode(dc, TRANSPARENT);
      if (which == id::kLblAbout || which == id::kImgAbout) SetTextColor(dc, RGB(0, 0, 255));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
      if (running_) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      if (const int which = GetDlgCtrlID(reinterpret_cast<HWND>(wparam));
          which == id::kLblAbout || which == id::kImgAbout) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));  // the link's own pointer
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      // The keyboard comes back where it was after a message box or a save dialog.
      if (LOWORD(wparam) == WA_INACTIVE) {
        focus_ = GetFocus();
      } else if (focus_ != nullptr && IsWindow(focus_)) {
        SetFocus(focus_);
      }
      return 0;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {smallest_.cx, smallest_.cy};
      return 0;
    case WM_SIZE:
      if (ctlTab_ != nullptr) Layout();
      return 0;
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void OptionPriceWindow::Load() {
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  // Captions and buttons in Arial 9 pt; the ten results in bold MS Sans Serif 8.25 pt.
  caption_font_ = CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Arial");
  result_font_ = CreateFontW(-MulDiv(825, dpi, 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"MS Sans Serif");

  RECT client;
  GetClientRect(hwnd_, &client);
  ctlTab_ = CreateWindowExW(
      0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 4, 4,
      client.right - 8, client.bottom - 8, hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id::kCtlTab)), instance, nullptr);
  SendMessageW(ctlTab_, WM_SETFONT, reinterpret_cast<WPARAM>(caption_font_), FALSE);
  // Tab 1 "Option Pricing" with frapricing as its page; tab 2 with imgAbout as its page.
  std::wstring pricing_caption = L"Option Pricing";
  std::wstring maker_caption = Wide(kMakerTabCaption);
  std::wstring charts_caption = L"Charts";
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = pricing_caption.data();
  TabCtrl_InsertItem(ctlTab_, 0, &item);
  item.pszText = maker_caption.data();
  TabCtrl_InsertItem(ctlTab_, 1, &item);
  item.pszText = charts_caption.data();
  TabCtrl_InsertItem(ctlTab_, 2, &item);
  RECT page{4, 4, client.right - 4, client.bottom - 4};
  TabCtrl_AdjustRect(ctlTab_, FALSE, &page);
  for (const int page_id : kPages) {
    const HWND h =
        CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD | WS_CLIPSIBLINGS, page.left,
                        page.top, page.right - page.left, page.bottom - page.top, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(page_id)), instance, nullptr);
    SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  const HWND pricing = GetDlgItem(hwnd_, id::kFraPricing);
  for (const ControlSpec& c : kPricingControls) {
    const HWND h =
        CreateWindowExW(0, c.cls, c.text, c.style, c.x, c.y, c.w, c.h, pricing,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    SendMessageW(h, WM_SETFONT,
                 reinterpret_cast<WPARAM>(c.result_font ? result_font_ : caption_font_), FALSE);
  }
  for (const int box : kNumericBoxes) {
    SetWindowSubclass(GetDlgItem(pricing, box), NumericBoxProc, 1, 0);
  }
  // The maker's page: the maker's banner, centred in the page (Layout), a link to its site.
  const HWND image = CreateWindowExW(
      0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_NOTIFY, 0, 0, 0, 0,
      GetDlgItem(hwnd_, id::kFraAbout),
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id::kImgAbout)), instance, nullptr);
  SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP,
               reinterpret_cast<LPARAM>(
                   LoadImageW(instance, MAKEINTRESOURCEW(2), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
  // The Charts page: what the curves are of, the chart and Greek selectors, the chart.
  const HWND charts = GetDlgItem(hwnd_, id::kFraCharts);
  const ControlSpec chart_controls[] = {
      {L"STATIC", L"", id::kLblChartCaption, kLabel, 0, 0, 0, 0},
      {L"STATIC", L"Chart:", id::kCaptionChart, kLabel, 0, 0, 0, 0},
      {WC_COMBOBOXW, L"", id::kCmbChart,
       WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0, 0, 0},
      {L"STATIC", L"Greek:", id::kCaptionGreek, kLabel, 0, 0, 0, 0},
      {WC_COMBOBOXW, L"", id::kCmbGreek,
       WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0, 0, 0},
      {L"BUTTON", L"Save PNG...", id::kCmdSavePng, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0},
      {L"BUTTON", L"Save CSV...", id::kCmdSaveCsv, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0},
      {L"BUTTON", L"Copy", id::kCmdCopyCharts, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0},
      {ChartView::kClass, L"", id::kChtChart, WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 0, 0},
      {L"STATIC", L"", id::kLblChartPoint, kLabel, 0, 0, 0, 0}};
  for (const ControlSpec& c : chart_controls) {
    const HWND h =
        CreateWindowExW(0, c.cls, c.text, c.style, 0, 0, 0, 0, charts,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(caption_font_), FALSE);
  }
  for (const auto& [box, names] :
       {std::pair{id::kCmbChart, std::span<const std::string_view>(kChartNames)},
        std::pair{id::kCmbGreek, std::span<const std::string_view>(kGreekNames)}}) {
    for (const std::string_view name : names) {
      SendMessageW(GetDlgItem(charts, box), CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(Wide(name).c_str()));
    }
    SendMessageW(GetDlgItem(charts, box), CB_SETCURSEL, 0, 0);
  }
  ShowCurves();
  Layout();

  // Load steps: Black-Scholes chosen (the binomial controls disabled), the style list filled with
  // index 0 chosen, tab 1 selected, the expiry at the current date and time.
  CheckRadioButton(pricing, id::kOptMethod0, id::kOptMethod1, id::kOptMethod0);
  optMethod_Click(0);
  const HWND style = GetDlgItem(pricing, id::kCmbEurAm);
  SendMessageW(style, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"American"));
  SendMessageW(style, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"European"));
  SendMessageW(style, CB_SETCURSEL, 0, 0);
  TabCtrl_SetCurSel(ctlTab_, 0);
  ShowPage(0);
  SYSTEMTIME now;
  GetLocalTime(&now);
  DateTime_SetSystemtime(GetDlgItem(pricing, id::kDtExpiryDate), GDT_VALID, &now);
  SetText(id::kLblStatus, std::string(kStatusReady));
  SetFocus(GetDlgItem(pricing, id::kTxtStockPrice));
}

void OptionPriceWindow::ShowPage(int tab) {
  for (int i = 0; i < 3; ++i)
    ShowWindow(GetDlgItem(hwnd_, kPages[i]), tab == i ? SW_SHOW : SW_HIDE);
  // The keyboard goes on in the page shown.
  if (tab == 0) SetFocus(Control(id::kFraPricing, id::kTxtStockPrice));
  if (tab == 2) SetFocus(Control(id::kFraCharts, id::kCmbChart));
}

bool OptionPriceWindow::TranslateTabKey(const MSG& message) {
  if (message.message != WM_KEYDOWN || message.wParam != VK_TAB || GetKeyState(VK_CONTROL) >= 0 ||
      !IsWindow(hwnd_)) {
    return false;
  }
  const int tabs = TabCtrl_GetItemCount(ctlTab_);
  const int step = GetKeyState(VK_SHIFT) < 0 ? tabs - 1 : 1;
  const int tab = (TabCtrl_GetCurSel(ctlTab_) + step) % tabs;
  TabCtrl_SetCurSel(ctlTab_, tab);
  ShowPage(tab);
  return true;
}

void OptionPriceWindow::Layout() {
  RECT client;
  GetClientRect(hwnd_, &client);
  MoveWindow(ctlTab_, 4, 4, client.right - 8, client.bottom - 8, TRUE);
  RECT page{4, 4, client.right - 4, client.bottom - 4};
  TabCtrl_AdjustRect(ctlTab_, FALSE, &page);
  const int w = page.right - page.left, h = page.bottom - page.top;
  for (const int page_id : kPages) {
    MoveWindow(GetDlgItem(hwnd_, page_id), page.left, page.top, w, h, TRUE);
  }
  const HWND banner = Control(id::kFraAbout, id::kImgAbout);
  RECT image;
  GetWindowRect(banner, &image);
  const int iw = image.right - image.left, ih = image.bottom - image.top;
  MoveWindow(banner, (w - iw) / 2, (h - ih) / 2, iw, ih, TRUE);
  // Charts: three lines of caption, a row of selectors, the chart in the rest.
  const struct {
    int control, x, y, w, h;
  } places[] = {
      {id::kLblChartCaption, 8, 6, w - 16, 48}, {id::kCaptionChart, 8, 61, 44, 18},
      {id::kCmbChart, 54, 58, 130, 200},        {id::kCaptionGreek, 194, 61, 46, 18},
      {id::kCmbGreek, 240, 58, 90, 200},        {id::kCmdSavePng, w - 240, 57, 84, 25},
      {id::kCmdSaveCsv, w - 152, 57, 84, 25},   {id::kCmdCopyCharts, w - 64, 57, 56, 25},
      {id::kChtChart, 8, 88, w - 16, h - 118},  {id::kLblChartPoint, 8, h - 24, w - 16, 18}};
  for (const auto& p : places) {
    MoveWindow(Control(id::kFraCharts, p.control), p.x, p.y, p.w, p.h, TRUE);
  }
}

void OptionPriceWindow::ShowCurves() {
  const ChartCurves* curves = curves_ ? &*curves_ : nullptr;
  SetWindowTextW(Control(id::kFraCharts, id::kLblChartCaption), Wide(ChartCaption(curves)).c_str());
  ChartView::Of(Control(id::kFraCharts, id::kChtChart))->Show(curves);
  for (const int button : {id::kCmdSavePng, id::kCmdSaveCsv, id::kCmdCopyCharts}) {
    EnableWindow(Control(id::kFraCharts, button), curves != nullptr);
  }
}

Greek OptionPriceWindow::SelectedGreek() const {
  return static_cast<Greek>(
      SendMessageW(Control(id::kFraCharts, id::kCmbGreek), CB_GETCURSEL, 0, 0));
}

void OptionPriceWindow::cmdSave_Click(bool png) {
  if (!curves_) return;
  const std::wstring path = png ? AskSavePath(hwnd_, L"Save the charts", L"option-charts.png",
                                              L"PNG images (*.png)\0*.png\0", L"png")
                                : AskSavePath(hwnd_, L"Save the curves", L"option-curves.csv",
                                              L"CSV files (*.csv)\0*.csv\0", L"csv");
  if (path.empty()) return;
  if (!(png ? SaveChartsPng(*curves_, SelectedGreek(), path) : SaveCurvesCsv(*curves_, path))) {
    MessageBoxW(hwnd_, (L"Could not write " + path + L".").c_str(), L"Charts",
                MB_OK | MB_ICONWARNING);
  }
}

void OptionPriceWindow::cmdCopyCharts_Click() {
  if (curves_) CopyCharts(hwnd_, *curves_, SelectedGreek());
}

void OptionPriceWindow::cmbChart_Click() {
  const auto chart =
      static_cast<Chart>(SendMessageW(Control(id::kFraCharts, id::kCmbChart), CB_GETCURSEL, 0, 0));
  ChartView::Of(Control(id::kFraCharts, id::kChtChart))->Select(chart, SelectedGreek());
}

// A Greek picked by the user is one to look at.
void OptionPriceWindow::cmbGreek_Click() {
  SendMessageW(Control(id::kFraCharts, id::kCmbChart), CB_SETCURSEL,
               static_cast<WPARAM>(Chart::kGreek), 0);
  cmbChart_Click();
}

void OptionPriceWindow::cmbCalc_Click() {
  if (running_ || unloaded_) return;  // a second press while a pumped run waits: refused
  const HWND pricing = GetDlgItem(hwnd_, id::kFraPricing);
  {
    RunGuard guard(GetDlgItem(pricing, id::kCmbCalc), running_);
    SYSTEMTIME today;
    GetLocalTime(&today);
    RunReport report;
    const auto results = RunCalculation(ReadInputs(), ToSysDays(today), ctlOptions_, report);
    if (!unloaded_ && results) ShowResults(*results);
    std::optional<ChartCurves> computed;
    const std::string status =
        unloaded_ ? std::string()
                  : DrawCurvesAfterRun(report, ctlOptions_, curves_.has_value(), computed,
                                       [this](const std::string& interim) {
                                         SetText(id::kLblStatus, interim);
                                         UpdateWindow(Control(id::kFraPricing, id::kLblStatus));
                                       });
    if (unloaded_) {
      PostQuitMessage(0);  // the wait's own pump may have taken the first one
      return;
    }
    if (computed) {
      curves_ = std::move(computed);
      ShowCurves();
    }
    SetText(id::kLblStatus, status);
  }
  WriteTestReport(*this);
}

// Posted, not called: destroying the button inside its own click notification pulls the window
// out from under the button's procedure (a page fault under Wine's comctl32 6).
void OptionPriceWindow::cmdExit_Click() { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

void OptionPriceWindow::optMethod_Click(int index) {
  const HWND pricing = GetDlgItem(hwnd_, id::kFraPricing);
  const BOOL binomial = index == static_cast<int>(PricingMethod::kBinomial);
  for (const int control : {id::kCmbEurAm, id::kTxtSteps, id::kLblSteps}) {
    EnableWindow(GetDlgItem(pricing, control), binomial);
  }
}

void OptionPriceWindow::lblAbout_Click() {
  const std::wstring text = Wide(AboutBoxText(kWindowsTabStrip, LANTERNELL_VERSION_MAJOR,
                                              LANTERNELL_VERSION_MINOR, LANTERNELL_VERSION_PATCH));
  const std::wstring title = Wide(kProgramTitle);
  MessageBoxW(hwnd_, text.c_str(), title.c_str(), MB_OK);
}

void OptionPriceWindow::imgAbout_Click() {
  // The desktop's default browser: no verb, no parameters, show-state 0; the result is ignored.
  const std::wstring address = Wide(kMakerWebAddress);
  (void)ShellExecuteW(hwnd_, nullptr, address.c_str(), nullptr, nullptr, 0);
}

void OptionPriceWindow::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  ArgList none;
  (void)ctlOptions_.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr);
  MSG pending;  // pending messages run once
  while (PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE)) {
    if (pending.message == WM_QUIT) break;
    TranslateMessage(&pending);
    DispatchMessageW(&pending);
  }
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  ctlOptions_.Release();  // at once, or when a waiting computation has returned
  DestroyWindow(hwnd_);
  DeleteObject(caption_font_);
  DeleteObject(result_font_);
}

CalcInputs OptionPriceWindow::ReadInputs() const {
  auto text = [this](int control) {
    const std::wstring w = Text(control);
    return std::u16string(w.begin(), w.end());  // wchar_t is UTF-16 here
  };
  const HWND pricing = GetDlgItem(hwnd_, id::kFraPricing);
  CalcInputs in;
  in.stock_price = text(id::kTxtStockPrice);
  in.exercise_price = text(id::kTxtExercisePrice);
  in.interest_rate = text(id::kTxtInterestRate);
  in.volatility = text(id::kTxtVolatility);
  in.dividend = text(id::kTxtDividend);
  in.steps = text(id::kTxtSteps);
  in.call_price = text(id::kTxtCallPrice);
  in.put_price = text(id::kTxtPutPrice);
  SYSTEMTIME expiry{};
  DateTime_GetSystemtime(GetDlgItem(pricing, id::kDtExpiryDate), &expiry);
  in.expiry = ToSysDays(expiry);
  in.method = IsDlgButtonChecked(pricing, id::kOptMethod1) == BST_CHECKED
                  ? PricingMethod::kBinomial
                  : PricingMethod::kBlackScholes;
  in.style =
      static_cast<LONG>(SendMessageW(GetDlgItem(pricing, id::kCmbEurAm), CB_GETCURSEL, 0, 0));
  return in;
}

void OptionPriceWindow::ShowResults(const CalcResults& r) {
  const struct {
    int control;
    double value;
    std::string_view picture;
  } fields[] = {{id::kLblCallPrice, r.call_price, kPricePicture},
                {id::kLblPutPrice, r.put_price, kPricePicture},
                {id::kLblDeltaCall, r.call_delta, kPricePicture},
                {id::kLblDeltaPut, r.put_delta, kPricePicture},
                {id::kLblThetaCall, r.call_theta, kPricePicture},
                {id::kLblThetaPut, r.put_theta, kPricePicture},
                {id::kLblRhoCall, r.call_rho, kPricePicture},
                {id::kLblRhoPut, r.put_rho, kPricePicture},
                {id::kLblGamma, r.gamma, kPricePicture},
                {id::kLblVega, r.vega, kPricePicture},
                {id::kLblIV, r.call_iv, kVolatilityPicture},
                {id::kLblIVPut, r.put_iv, kVolatilityPicture}};
  for (const auto& f : fields) SetText(f.control, FormatPicture(f.value, f.picture));
}

void OptionPriceWindow::SetText(int control, const std::string& utf8) {
  SetWindowTextW(GetDlgItem(GetDlgItem(hwnd_, id::kFraPricing), control), Wide(utf8).c_str());
}

}  // namespace kx::calculator
