// BMP decoding: any bytes as a file, then drawing what decoded onto a small surface, clipped.
#include <cstdint>
#include <span>

#include "fuzz_input.h"
#include "kx/platform/drawing.h"

using namespace kx::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kx::fuzz::FuzzInput in(data, size);
  // The first bytes place the drawing; the rest is the file.
  const int x = static_cast<std::int8_t>(in.Byte());
  const int y = static_cast<std::int8_t>(in.Byte());
  const std::string_view file = in.Rest();
  HBITMAP bitmap = nullptr;
  const HRESULT hr = LoadBitmapFromBmp(
      std::span(reinterpret_cast<const BYTE*>(file.data()), file.size()), &bitmap);
  if (FAILED(hr)) {
    KX_FUZZ_CHECK(bitmap == nullptr);
    KX_FUZZ_CHECK(hr == E_INVALIDARG || hr == E_OUTOFMEMORY);
    return 0;
  }
  KX_FUZZ_CHECK(hr == S_OK && bitmap != nullptr);
  KX_FUZZ_CHECK(bitmap->width > 0 && bitmap->height > 0);
  KX_FUZZ_CHECK(bitmap->pixels.size() ==
                static_cast<std::size_t>(bitmap->width) * static_cast<std::size_t>(bitmap->height));
  for (std::uint32_t pixel : bitmap->pixels) KX_FUZZ_CHECK((pixel >> 24) == 0xFF);  // opaque

  PixelSurface surface(24, 20, 0u);
  KX_FUZZ_CHECK(DrawBitmap(surface.hdc(), x, y, bitmap));
  // Every pixel the bitmap covers on the surface is the bitmap's own; the others stay 0.
  for (LONG sy = 0; sy < 20; ++sy) {
    for (LONG sx = 0; sx < 24; ++sx) {
      const LONG bx = sx - x, by = sy - y;
      const bool covered = bx >= 0 && by >= 0 && bx < bitmap->width && by < bitmap->height;
      const std::uint32_t want =
          covered ? bitmap->pixels[static_cast<std::size_t>(by) * bitmap->width + bx] : 0u;
      KX_FUZZ_CHECK(surface.at(sx, sy) == want);
    }
  }
  HDC memory = CreateCompatibleDC(nullptr);
  KX_FUZZ_CHECK(memory != nullptr);
  (void)SelectObject(memory, bitmap);
  KX_FUZZ_CHECK(!DeleteObject(bitmap));  // selected: refused
  (void)BitBlt(surface.hdc(), y, x, bitmap->width, bitmap->height, memory, x, y, SRCCOPY);
  (void)SelectObject(memory, nullptr);
  KX_FUZZ_CHECK(DeleteDC(memory));
  KX_FUZZ_CHECK(DeleteObject(bitmap));
  return 0;
}
