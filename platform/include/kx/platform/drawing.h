#pragma once
// Drawing on pixel surfaces: a device context is a block of 32-bit pixels 0xFFRRGGBB (the layout
// of QImage::Format_RGB32 / ARGB32), rows top-down, that the host owns; bitmaps are decoded from
// 16-colour BMP files and copied onto a surface unscaled.
#include <cstdint>
#include <span>
#include <vector>

#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

// The HDC points at one of these. The host fills it for its own pixels; memory contexts from
// CreateCompatibleDC draw into the bitmap selected into them.
struct DeviceContext {
  LONG width = 0;
  LONG height = 0;
  LONG stride = 0;                  // pixels from one row to the next (>= width)
  std::uint32_t* pixels = nullptr;  // width x height, may be null for an empty surface
  HBITMAP selected = nullptr;       // memory contexts only
  bool memory = false;              // made by CreateCompatibleDC (DeleteDC frees it)
};

struct Bitmap {
  LONG width = 0;
  LONG height = 0;
  std::vector<std::uint32_t> pixels;  // width * height, top row first
};

// A surface that owns its pixels (tests, offscreen drawing).
class PixelSurface {
 public:
  PixelSurface(LONG width, LONG height, std::uint32_t fill = 0xFF000000u);
  PixelSurface(const PixelSurface&) = delete;
  PixelSurface& operator=(const PixelSurface&) = delete;
  [[nodiscard]] HDC hdc() noexcept { return &dc_; }
  [[nodiscard]] std::uint32_t at(LONG x, LONG y) const noexcept;  // 0 outside the surface

 private:
  std::vector<std::uint32_t> pixels_;
  DeviceContext dc_;
};

// Decodes a BMP file image: BITMAPFILEHEADER, BITMAPINFOHEADER (or a later, longer info header),
// a palette of up to 16 colours, uncompressed 4-bit rows padded to 4 bytes, bottom-up (or
// top-down for a negative height). E_INVALIDARG for a file that is not such a bitmap (wrong
// signature, bit depth, compression, sizes that disagree with the data, palette indices beyond
// the palette); E_POINTER for a null out pointer; E_OUTOFMEMORY. Never reads outside file.
[[nodiscard]] HRESULT LoadBitmapFromBmp(std::span<const BYTE> file, HBITMAP* bitmap) noexcept;
// Frees a bitmap from LoadBitmapFromBmp. FALSE for null, or for a bitmap selected into a DC.
BOOL DeleteObject(HBITMAP bitmap) noexcept;

// Memory contexts, as the platform's CreateCompatibleDC / SelectObject / DeleteDC.
[[nodiscard]] HDC CreateCompatibleDC(HDC reference) noexcept;  // reference may be null
// Selects bitmap into a memory DC; returns the previously selected one (nullptr if none, or on
// failure with GetLastError ERROR_INVALID_PARAMETER).
HBITMAP SelectObject(HDC memory_dc, HBITMAP bitmap) noexcept;
BOOL DeleteDC(HDC memory_dc) noexcept;

inline constexpr DWORD SRCCOPY = 0x00CC0020;

// Copies width x height pixels from source (x_src, y_src) to dest (x, y). Parts that fall outside
// either surface are clipped; a negative width or height is ERROR_INVALID_PARAMETER. Only
// SRCCOPY exists (else FALSE, ERROR_NOT_SUPPORTED).
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int x_src, int y_src,
            DWORD rop) noexcept;
// The whole bitmap at (x, y), unscaled and clipped.
BOOL DrawBitmap(HDC dest, int x, int y, HBITMAP bitmap) noexcept;
// Fills a rectangle (clipped) with one colour.
BOOL FillSolidRect(HDC dest, const RECT& rect, std::uint32_t color) noexcept;

}  // namespace kx::platform
