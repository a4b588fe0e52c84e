#include "chart_export.h"

#include <commdlg.h>
// GDI+ for the PNG encoder; its headers want min and max.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstdio>
#include <cstring>

#include "chart_view.h"

namespace kx::calculator {

namespace {

// GDI+'s PNG encoder.
constexpr CLSID kPngEncoder = {
    0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

std::wstring WideCsv(const ChartCurves& curves) {
  const std::string csv = CurvesCsv(curves);
  return {csv.begin(), csv.end()};  // ASCII
}

HGLOBAL GlobalCopy(const void* data, std::size_t size) {
  const HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, size);
  if (global == nullptr) return nullptr;
  std::memcpy(GlobalLock(global), data, size);
  GlobalUnlock(global);
  return global;
}

}  // namespace

bool SaveChartsPng(const ChartCurves& curves, Greek greek, const std::wstring& path) {
  using namespace Gdiplus::DllExports;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
  const HBITMAP image = ChartView::Image(curves, greek);
  Gdiplus::GpBitmap* bitmap = nullptr;
  bool saved = GdipCreateBitmapFromHBITMAP(image, nullptr, &bitmap) == Gdiplus::Ok;
  if (saved) {
    saved = GdipSaveImageToFile(bitmap, path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
    GdipDisposeImage(bitmap);
  }
  DeleteObject(image);
  Gdiplus::GdiplusShutdown(token);
  return saved;
}

bool SaveCurvesCsv(const ChartCurves& curves, const std::wstring& path) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  const std::string csv = CurvesCsv(curves);
  const bool written = std::fwrite(csv.data(), 1, csv.size(), out) == csv.size();
  return std::fclose(out) == 0 && written;
}

bool CopyCharts(HWND owner, const ChartCurves& curves, Greek greek) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  const std::wstring text = WideCsv(curves);
  if (const HGLOBAL global = GlobalCopy(text.c_str(), (text.size() + 1) * sizeof(wchar_t))) {
    if (SetClipboardData(CF_UNICODETEXT, global) == nullptr) GlobalFree(global);
  }
  // A packed DIB: its header, then the pixels.
  const HBITMAP image = ChartView::Image(curves, greek);
  DIBSECTION dib{};
  GetObjectW(image, sizeof dib, &dib);
  const std::size_t bits =
      dib.dsBmih.biSizeImage != 0
          ? dib.dsBmih.biSizeImage
          : static_cast<std::size_t>(dib.dsBm.bmWidthBytes) * dib.dsBm.bmHeight;
  if (const HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + bits)) {
    auto* packed = static_cast<unsigned char*>(GlobalLock(global));
    std::memcpy(packed, &dib.dsBmih, sizeof(BITMAPINFOHEADER));
    std::memcpy(packed + sizeof(BITMAPINFOHEADER), dib.dsBm.bmBits, bits);
    GlobalUnlock(global);
    if (SetClipboardData(CF_DIB, global) == nullptr) GlobalFree(global);
  }
  DeleteObject(image);
  CloseClipboard();
  return true;
}

std::wstring AskSavePath(HWND owner, const wchar_t* title, const wchar_t* name,
                         const wchar_t* filter, const wchar_t* extension) {
  wchar_t path[MAX_PATH] = {};
  wcsncpy(path, name, MAX_PATH - 1);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrTitle = title;
  dialog.lpstrDefExt = extension;
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  return GetSaveFileNameW(&dialog) ? std::wstring(path) : std::wstring();
}

}  // namespace kx::calculator
