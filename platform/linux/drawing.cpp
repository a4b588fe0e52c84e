// Pixel surfaces, 16-colour BMP decoding and unscaled copies.
#include "kx/platform/drawing.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>

namespace kx::platform {
namespace {

// Bitmaps and memory contexts made here, so that frees and selections can be checked.
struct Objects {
  std::mutex mutex;
  std::set<Bitmap*> bitmaps;
  std::map<Bitmap*, int> selections;  // how many memory contexts hold each bitmap
  std::set<DeviceContext*> memory_dcs;
};

Objects& TheObjects() {
  static auto* objects = new Objects;
  return *objects;
}

// Little-endian fields at fixed offsets; callers have checked the length first.
std::uint16_t U16(std::span<const BYTE> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(std::span<const BYTE> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::int32_t I32(std::span<const BYTE> b, std::size_t at) {
  return static_cast<std::int32_t>(U32(b, at));
}

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::int32_t kMaxDimension = 1 << 15;  // far beyond any resource; bounds the allocation
constexpr std::uint32_t kBiRgb = 0;

bool ValidSurface(const DeviceContext* dc) {
  if (!dc || dc->width < 0 || dc->height < 0 || dc->stride < dc->width) return false;
  return dc->pixels != nullptr || dc->width == 0 || dc->height == 0;
}

// Copies the part of the source rectangle that lies inside both surfaces.
void Blit(DeviceContext& dest, int x, int y, int width, int height, const std::uint32_t* src,
          LONG src_width, LONG src_height, LONG src_stride, int x_src, int y_src) {
  // Work in 64 bits: positions near the int limits must not wrap.
  long long dx0 = x, dy0 = y, sx0 = x_src, sy0 = y_src, w = width, h = height;
  if (sx0 < 0) {
    dx0 -= sx0;
    w += sx0;
    sx0 = 0;
  }
  if (sy0 < 0) {
    dy0 -= sy0;
    h += sy0;
    sy0 = 0;
  }
  if (dx0 < 0) {
    sx0 -= dx0;
    w += dx0;
    dx0 = 0;
  }
  if (dy0 < 0) {
    sy0 -= dy0;
    h += dy0;
    dy0 = 0;
  }
  w = std::min(
      {w, static_cast<long long>(src_width) - sx0, static_cast<long long>(dest.width) - dx0});
  h = std::min(
      {h, static_cast<long long>(src_height) - sy0, static_cast<long long>(dest.height) - dy0});
  if (w <= 0 || h <= 0) return;
  for (long long row = 0; row < h; ++row) {
    const std::uint32_t* from = src + (sy0 + row) * src_stride + sx0;
    std::uint32_t* to = dest.pixels + (dy0 + row) * dest.stride + dx0;
    std::memmove(to, from,
                 static_cast<std::size_t>(w) * sizeof(std::uint32_t));  // source may be dest
  }
}

bool KnownBitmap(Objects& objects, HBITMAP bitmap) { return objects.bitmaps.contains(bitmap); }

}  // namespace

PixelSurface::PixelSurface(LONG width, LONG height, std::uint32_t fill) {
  if (width < 0 || height < 0) throw std::invalid_argument("PixelSurface: negative size");
  pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill);
  dc_.width = width;
  dc_.height = height;
  dc_.stride = width;
  dc_.pixels = pixels_.empty() ? nullptr : pixels_.data();
}

std::uint32_t PixelSurface::at(LONG x, LONG y) const noexcept {
  if (x < 0 || y < 0 || x >= dc_.width || y >= dc_.height) return 0;
  return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(dc_.width) +
                 static_cast<std::size_t>(x)];
}

HRESULT LoadBitmapFromBmp(std::span<const BYTE> file, HBITMAP* bitmap) noexcept {
  if (!bitmap) return E_POINTER;
  *bitmap = nullptr;
  if (file.size() < kFileHeaderSize + kInfoHeaderSize) return E_INVALIDARG;
  if (file[0] != 'B' || file[1] != 'M') return E_INVALIDARG;
  const std::uint64_t pixel_offset = U32(file, 10);
  const std::uint32_t info_size = U32(file, 14);
  // 40 is BITMAPINFOHEADER; 52, 56, 108 and 124 extend it with fields this decoder ignores.
  if (info_size < kInfoHeaderSize ||
      kFileHeaderSize + static_cast<std::uint64_t>(info_size) > file.size()) {
    return E_INVALIDARG;
  }
  const std::int32_t width = I32(file, 18);
  const std::int32_t raw_height = I32(file, 22);
  const std::uint16_t planes = U16(file, 26);
  const std::uint16_t bit_count = U16(file, 28);
  const std::uint32_t compression = U32(file, 30);
  const std::uint32_t colors_used = U32(file, 46);
  if (planes != 1 || bit_count != 4 || compression != kBiRgb) return E_INVALIDARG;
  if (width <= 0 || width > kMaxDimension || raw_height == 0 || raw_height < -kMaxDimension ||
      raw_height > kMaxDimension) {
    return E_INVALIDARG;
  }
  const bool top_down = raw_height < 0;
  const std::int32_t height = top_down ? -raw_height : raw_height;
  const std::uint32_t palette_size = colors_used == 0 ? 16 : colors_used;
  if (palette_size > 16) return E_INVALIDARG;
  const std::uint64_t palette_offset = kFileHeaderSize + static_cast<std::uint64_t>(info_size);
  if (palette_offset + 4ull * palette_size > pixel_offset)
    return E_INVALIDARG;  // palette overlaps pixels
  const std::uint64_t row_bytes = ((static_cast<std::uint64_t>(width) * 4 + 31) / 32) * 4;
  if (pixel_offset + row_bytes * static_cast<std::uint64_t>(height) > file.size())
    return E_INVALIDARG;

  std::uint32_t palette[16] = {};
  for (std::uint32_t i = 0; i < palette_size; ++i) {
    const std::size_t at =
        static_cast<std::size_t>(palette_offset) + 4 * i;  // blue, green, red, unused
    palette[i] = 0xFF000000u | (static_cast<std::uint32_t>(file[at + 2]) << 16) |
                 (static_cast<std::uint32_t>(file[at + 1]) << 8) | file[at];
  }

  auto* result = new (std::nothrow) Bitmap;
  if (!result) return E_OUTOFMEMORY;
  try {
    result->width = width;
    result->height = height;
    result->pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  } catch (const std::bad_alloc&) {
    delete result;
    return E_OUTOFMEMORY;
  }
  for (std::int32_t row = 0; row < height; ++row) {
    const std::int32_t file_row = top_down ? row : height - 1 - row;  // bottom-up unless negative
    const std::size_t base =
        static_cast<std::size_t>(pixel_offset + row_bytes * static_cast<std::uint64_t>(file_row));
    for (std::int32_t x = 0; x < width; ++x) {
      const BYTE pair = file[base + static_cast<std::size_t>(x / 2)];
      const unsigned index = (x % 2 == 0) ? (pair >> 4) : (pair & 0x0F);  // high nibble first
      if (index >= palette_size) {
        delete result;
        return E_INVALIDARG;
      }
      result->pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                     static_cast<std::size_t>(x)] = palette[index];
    }
  }
  try {
    Objects& objects = TheObjects();
    std::lock_guard lock(objects.mutex);
    objects.bitmaps.insert(result);
  } catch (const std::bad_alloc&) {
    delete result;
    return E_OUTOFMEMORY;
  }
  *bitmap = result;
  return S_OK;
}

BOOL DeleteObject(HBITMAP bitmap) noexcept {
  Objects& objects = TheObjects();
  {
    std::lock_guard lock(objects.mutex);
    if (!KnownBitmap(objects, bitmap) || objects.selections.contains(bitmap)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    objects.bitmaps.erase(bitmap);
  }
  delete bitmap;
  return TRUE;
}

HDC CreateCompatibleDC(HDC) noexcept {
  auto* dc = new (std::nothrow) DeviceContext;
  if (!dc) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  dc->memory = true;
  try {
    Objects& objects = TheObjects();
    std::lock_guard lock(objects.mutex);
    objects.memory_dcs.insert(dc);
  } catch (const std::bad_alloc&) {
    delete dc;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return dc;
}

HBITMAP SelectObject(HDC memory_dc, HBITMAP bitmap) noexcept {
  Objects& objects = TheObjects();
  std::lock_guard lock(objects.mutex);
  if (!objects.memory_dcs.contains(memory_dc) || (bitmap && !KnownBitmap(objects, bitmap))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HBITMAP previous = memory_dc->selected;
  if (previous && --objects.selections[previous] == 0) objects.selections.erase(previous);
  memory_dc->selected = bitmap;
  if (bitmap) {
    ++objects.selections[bitmap];
    memory_dc->width = bitmap->width;
    memory_dc->height = bitmap->height;
    memory_dc->stride = bitmap->width;
    memory_dc->pixels = bitmap->pixels.data();
  } else {
    *memory_dc = DeviceContext{};
    memory_dc->memory = true;
  }
  return previous;
}

BOOL DeleteDC(HDC memory_dc) noexcept {
  Objects& objects = TheObjects();
  {
    std::lock_guard lock(objects.mutex);
    if (!objects.memory_dcs.contains(memory_dc)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (HBITMAP selected = memory_dc->selected; selected && --objects.selections[selected] == 0) {
      objects.selections.erase(selected);
    }
    objects.memory_dcs.erase(memory_dc);
  }
  delete memory_dc;
  return TRUE;
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int x_src, int y_src,
            DWORD rop) noexcept {
  if (rop != SRCCOPY) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (!ValidSurface(dest) || !ValidSurface(source) || width < 0 || height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Blit(*dest, x, y, width, height, source->pixels, source->width, source->height, source->stride,
       x_src, y_src);
  return TRUE;
}

BOOL DrawBitmap(HDC dest, int x, int y, HBITMAP bitmap) noexcept {
  Objects& objects = TheObjects();
  std::lock_guard lock(objects.mutex);  // keeps the bitmap alive while it is copied
  if (!ValidSurface(dest) || !KnownBitmap(objects, bitmap)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Blit(*dest, x, y, bitmap->width, bitmap->height, bitmap->pixels.data(), bitmap->width,
       bitmap->height, bitmap->width, 0, 0);
  return TRUE;
}

BOOL FillSolidRect(HDC dest, const RECT& rect, std::uint32_t color) noexcept {
  if (!ValidSurface(dest)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const LONG left = std::max<LONG>(rect.left, 0), top = std::max<LONG>(rect.top, 0);
  const LONG right = std::min(rect.right, dest->width),
             bottom = std::min(rect.bottom, dest->height);
  for (LONG y = top; y < bottom; ++y) {
    std::fill(dest->pixels + static_cast<std::ptrdiff_t>(y) * dest->stride + left,
              dest->pixels + static_cast<std::ptrdiff_t>(y) * dest->stride + right, color);
  }
  return TRUE;
}

}  // namespace kx::platform
