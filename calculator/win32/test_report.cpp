#include "test_report.h"

#include "frm_option_price.h"

#ifdef KX_LANTERNELL_TEST_BUILD
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "chart_view.h"
#include "control_ids.h"
#endif

namespace kx::calculator {

#ifndef KX_LANTERNELL_TEST_BUILD
void WriteTestReport(const OptionPriceWindow&) {}
void InstallTestKey(const OptionPriceWindow&) {}
#else
namespace {

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// The window as drawn, as a 24-bit BMP.
void SaveWindowPicture(HWND hwnd, const std::wstring& path) {
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const HDC screen = GetWindowDC(hwnd);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);  // as drawn, children included
  BITMAPINFOHEADER info{};
  info.biSize = sizeof(BITMAPINFOHEADER);
  info.biWidth = w;
  info.biHeight = h;  // bottom-up
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int stride = (w * 3 + 3) & ~3;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * h);
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  if (FILE* out = _wfopen(path.c_str(), L"wb")) {
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    fwrite(pixels.data(), 1, pixels.size(), out);
    fclose(out);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(hwnd, screen);
}

std::wstring TextOf(HWND h) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

BOOL CALLBACK WriteChildText(HWND child, LPARAM out) {
  std::string text = Utf8(TextOf(child));
  for (char& c : text) c = c == '\r' || c == '\n' ? ' ' : c;  // one line a control
  fprintf(reinterpret_cast<FILE*>(out), "text=%s\n", text.c_str());
  return TRUE;
}

// The picture of `shown` and its texts, as <stem>.bmp and <stem>.txt.
void WriteReport(const OptionPriceWindow& window, HWND shown, const std::wstring& stem) {
  const struct {
    const char* name;
    int control;
  } fields[] = {{"lblCallPrice", id::kLblCallPrice},
                {"lblPutPrice", id::kLblPutPrice},
                {"lblDeltaCall", id::kLblDeltaCall},
                {"lblDeltaPut", id::kLblDeltaPut},
                {"lblThetaCall", id::kLblThetaCall},
                {"lblThetaPut", id::kLblThetaPut},
                {"lblRhoCall", id::kLblRhoCall},
                {"lblRhoPut", id::kLblRhoPut},
                {"lblGamma", id::kLblGamma},
                {"lblVega", id::kLblVega},
                {"lblIV", id::kLblIV},
                {"lblIVPut", id::kLblIVPut},
                {"lblStatus", id::kLblStatus},
                {"txtStockPrice", id::kTxtStockPrice},
                {"txtExercisePrice", id::kTxtExercisePrice},
                {"txtInterestRate", id::kTxtInterestRate},
                {"txtVolatility", id::kTxtVolatility},
                {"txtDividend", id::kTxtDividend},
                {"txtSteps", id::kTxtSteps},
                {"txtCallPrice", id::kTxtCallPrice},
                {"txtPutPrice", id::kTxtPutPrice},
                {"cmbEurAm", id::kCmbEurAm},
                {"cmbChart", id::kCmbChart},
                {"cmbGreek", id::kCmbGreek},
                {"lblChartCaption", id::kLblChartCaption},
                {"lblChartPoint", id::kLblChartPoint}};
  RedrawWindow(shown, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SaveWindowPicture(shown, stem + L".bmp");
  // Written last and renamed into place: a reader never sees half a report.
  const std::wstring text = stem + L".tmp";
  FILE* out = _wfopen(text.c_str(), L"wb");
  if (out == nullptr) return;
  fprintf(out, "window=%s\n", Utf8(TextOf(shown)).c_str());
  if (shown != window.hwnd()) {
    EnumChildWindows(shown, WriteChildText, reinterpret_cast<LPARAM>(out));
  } else {
    for (const auto& f : fields) {
      fprintf(out, "%s=%s\n", f.name, Utf8(window.Text(f.control)).c_str());
    }
    for (const auto& [name, control] :
         {std::pair{"cmbEurAm", +id::kCmbEurAm}, std::pair{"txtSteps", +id::kTxtSteps},
          std::pair{"lblSteps", +id::kLblSteps}}) {
      fprintf(out, "enabled.%s=%d\n", name,
              IsWindowEnabled(window.Control(id::kFraPricing, control)) ? 1 : 0);
    }
    fprintf(out, "imgAbout.bitmap=%d\n",
            SendMessageW(window.Control(id::kFraAbout, id::kImgAbout), STM_GETIMAGE, IMAGE_BITMAP,
                         0) != 0
                ? 1
                : 0);
    RECT about;  // where a click on the link lands, in screen pixels
    GetWindowRect(window.Control(id::kFraPricing, id::kLblAbout), &about);
    fprintf(out, "lblAbout.at=%ld %ld\n", (about.left + about.right) / 2,
            (about.top + about.bottom) / 2);
    if (OpenClipboard(nullptr)) {  // what Copy put there: the CSV's first line, the image's size
      if (const HANDLE text = GetClipboardData(CF_UNICODETEXT)) {
        const std::wstring csv(static_cast<const wchar_t*>(GlobalLock(text)));
        GlobalUnlock(text);
        fprintf(out, "clipboard.text=%s\n", Utf8(csv.substr(0, csv.find(L'\n'))).c_str());
      }
      if (const HANDLE dib = GetClipboardData(CF_DIB)) {
        const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
        fprintf(out, "clipboard.image=%ldx%ld\n", header->biWidth, labs(header->biHeight));
        GlobalUnlock(dib);
      }
      CloseClipboard();
    }
    if (const ChartView* chart = ChartView::Of(window.Control(id::kFraCharts, id::kChtChart))) {
      // Where the chart's own pixels start in the window's picture.
      POINT origin{0, 0};
      ClientToScreen(window.Control(id::kFraCharts, id::kChtChart), &origin);
      RECT frame;
      GetWindowRect(window.hwnd(), &frame);
      fprintf(out, "chart.at=%ld %ld\n", origin.x - frame.left, origin.y - frame.top);
      fputs(chart->drawn().c_str(), out);
      if (chart->drawn().find("chart.legend=") != std::string::npos) {
        const POINT point = chart->PointOf(0, 10);  // on screen: where the pointer goes to it
        fprintf(out, "chart.point10=%ld %ld\n", origin.x + point.x, origin.y + point.y);
      }
    }
  }
  fclose(out);
  MoveFileW(text.c_str(), (stem + L".txt").c_str());
}

const wchar_t* Folder() {
  const wchar_t* folder = _wgetenv(L"KX_LANTERNELL_REPORT");
  return folder != nullptr && *folder != 0 ? folder : nullptr;
}

const OptionPriceWindow* g_window = nullptr;

// F12 down: the active window, whichever loop is running (a message box's too).
LRESULT CALLBACK TestKey(int code, WPARAM key, LPARAM flags) {
  const bool down = (flags & (1L << 31)) == 0;
  if (code == HC_ACTION && key == VK_F12 && down && g_window != nullptr) {
    static int snap = 0;
    const HWND active = GetActiveWindow();
    WriteReport(*g_window, active != nullptr ? active : g_window->hwnd(),
                std::wstring(Folder()) + L"\\snap" + std::to_wstring(++snap));
    return 1;
  }
  return CallNextHookEx(nullptr, code, key, flags);
}

}  // namespace

void InstallTestKey(const OptionPriceWindow& window) {
  if (Folder() == nullptr) return;
  g_window = &window;
  SetWindowsHookExW(WH_KEYBOARD, TestKey, nullptr, GetCurrentThreadId());
}

void WriteTestReport(const OptionPriceWindow& window) {
  if (Folder() == nullptr) return;
  static int run = 0;
  WriteReport(window, window.hwnd(), std::wstring(Folder()) + L"\\run" + std::to_wstring(++run));
}
#endif

}  // namespace kx::calculator
