#include "test_report.h"

#include "frm_option_price.h"

#ifdef KX_LANTERNELL_TEST_BUILD
#include <cstdio>
#include <string>
#include <vector>

#include "control_ids.h"
#endif

namespace kx::calculator {

#ifndef KX_LANTERNELL_TEST_BUILD
void WriteTestReport(const OptionPriceWindow&) {}
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

}  // namespace

void WriteTestReport(const OptionPriceWindow& window) {
  const wchar_t* folder = _wgetenv(L"KX_LANTERNELL_REPORT");
  if (folder == nullptr || *folder == 0) return;
  static int run = 0;
  ++run;
  const std::wstring stem = std::wstring(folder) + L"\\run" + std::to_wstring(run);
  const struct {
    const char* name;
    int control;
  } fields[] = {{"lblCallPrice", id::kLblCallPrice}, {"lblPutPrice", id::kLblPutPrice},
                {"lblDeltaCall", id::kLblDeltaCall}, {"lblDeltaPut", id::kLblDeltaPut},
                {"lblThetaCall", id::kLblThetaCall}, {"lblThetaPut", id::kLblThetaPut},
                {"lblRhoCall", id::kLblRhoCall},     {"lblRhoPut", id::kLblRhoPut},
                {"lblGamma", id::kLblGamma},         {"lblVega", id::kLblVega},
                {"lblIV", id::kLblIV},               {"lblIVPut", id::kLblIVPut},
                {"lblStatus", id::kLblStatus}};
  RedrawWindow(window.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SaveWindowPicture(window.hwnd(), stem + L".bmp");
  // Written last and renamed into place: a reader never sees half a report.
  const std::wstring text = stem + L".tmp";
  if (FILE* out = _wfopen(text.c_str(), L"wb")) {
    for (const auto& f : fields) {
      fprintf(out, "%s=%s\n", f.name, Utf8(window.Text(f.control)).c_str());
    }
    fclose(out);
    MoveFileW(text.c_str(), (stem + L".txt").c_str());
  }
}
#endif

}  // namespace kx::calculator
