// Bitmaps, drawing and modal dialogs through GDI and user32.
#include <cstring>

#include "kx/platform/dialog.h"
#include "kx/platform/drawing.h"

namespace kx::platform {

HRESULT LoadBitmapFromBmp(std::span<const BYTE> file, HBITMAP* bitmap) noexcept {
  if (!bitmap) return E_POINTER;
  *bitmap = nullptr;
  std::span<const BYTE> dib = file;
  std::size_t bits_offset = 0;
  if (file.size() >= sizeof(BITMAPFILEHEADER) && file[0] == 'B' && file[1] == 'M') {
    BITMAPFILEHEADER header;
    std::memcpy(&header, file.data(), sizeof header);
    dib = file.subspan(sizeof header);
    if (header.bfOffBits < sizeof header || header.bfOffBits > file.size()) return E_INVALIDARG;
    bits_offset = header.bfOffBits - sizeof header;
  }
  if (dib.size() < sizeof(BITMAPINFOHEADER)) return E_INVALIDARG;
  BITMAPINFOHEADER info;
  std::memcpy(&info, dib.data(), sizeof info);
  if (info.biSize < sizeof info || info.biSize > dib.size() || info.biWidth <= 0 ||
      info.biHeight == 0 || info.biPlanes != 1 || info.biCompression != BI_RGB ||
      (info.biBitCount != 1 && info.biBitCount != 4 && info.biBitCount != 8 &&
       info.biBitCount != 24 && info.biBitCount != 32)) {
    return E_INVALIDARG;
  }
  const std::size_t colors =
      info.biBitCount <= 8 ? (info.biClrUsed ? info.biClrUsed : (1u << info.biBitCount)) : 0;
  const std::size_t header_bytes = info.biSize + colors * sizeof(RGBQUAD);
  if (bits_offset == 0) bits_offset = header_bytes;
  const std::size_t height = static_cast<std::size_t>(info.biHeight < 0 ? -info.biHeight : info.biHeight);
  const std::size_t stride = ((static_cast<std::size_t>(info.biWidth) * info.biBitCount + 31) / 32) * 4;
  if (header_bytes > dib.size() || bits_offset < header_bytes ||
      bits_offset + stride * height > dib.size()) {
    return E_INVALIDARG;
  }
  HDC screen = ::GetDC(nullptr);
  HBITMAP made = ::CreateDIBitmap(screen, &info, CBM_INIT, dib.data() + bits_offset,
                                  reinterpret_cast<const BITMAPINFO*>(dib.data()), DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  if (!made) return E_OUTOFMEMORY;
  *bitmap = made;
  return S_OK;
}

BOOL DrawBitmap(HDC dest, int x, int y, HBITMAP bitmap) noexcept {
  if (!dest || !bitmap) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BITMAP size{};
  if (!::GetObjectW(bitmap, sizeof size, &size)) return FALSE;
  HDC memory = ::CreateCompatibleDC(dest);
  if (!memory) return FALSE;
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const BOOL drawn = ::BitBlt(dest, x, y, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  return drawn;
}

BOOL FillSolidRect(HDC dest, const RECT& rect, std::uint32_t color) noexcept {
  HBRUSH brush = ::CreateSolidBrush(RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
  if (!brush) return FALSE;
  const int filled = ::FillRect(dest, &rect, brush);
  ::DeleteObject(brush);
  return filled != 0;
}

HRESULT RunModalDialogResource(const void* module_address, int dialog_id, HWND owner,
                               DLGPROC proc, LPARAM init_param, INT_PTR* result) noexcept {
  if (!proc || !result) return E_POINTER;
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      static_cast<LPCWSTR>(module_address), &module);
  if (!module) return E_UNEXPECTED;
  ::SetLastError(ERROR_SUCCESS);
  const INT_PTR r = ::DialogBoxParamW(module, MAKEINTRESOURCEW(dialog_id), owner, proc, init_param);
  if (r == -1 || (r == 0 && ::GetLastError() != ERROR_SUCCESS)) {
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  *result = r;
  return S_OK;
}

}  // namespace kx::platform
