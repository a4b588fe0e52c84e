#pragma once
// Drawing: the system's GDI. Bitmaps come from a BMP file image or from a module's BITMAP
// resource (the same image without its file header).
#include <cstdint>
#include <span>

#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

using ::BitBlt;
using ::CreateCompatibleDC;
using ::DeleteDC;
using ::DeleteObject;
using ::SelectObject;

// A device-independent bitmap made from a BMP file image (BITMAPFILEHEADER first) or a packed
// DIB (BITMAPINFOHEADER first). E_INVALIDARG for anything else, E_POINTER for a null out.
[[nodiscard]] HRESULT LoadBitmapFromBmp(std::span<const BYTE> file, HBITMAP* bitmap) noexcept;
// The whole bitmap at (x, y), unscaled.
BOOL DrawBitmap(HDC dest, int x, int y, HBITMAP bitmap) noexcept;
// Fills a rectangle with one colour 0x00RRGGBB.
BOOL FillSolidRect(HDC dest, const RECT& rect, std::uint32_t color) noexcept;

}  // namespace kx::platform
