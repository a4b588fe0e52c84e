#include "kx/platform/drawing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace kx::platform {
namespace {

void Put16(std::vector<BYTE>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<BYTE>(v);
  b[at + 1] = static_cast<BYTE>(v >> 8);
}
void Put32(std::vector<BYTE>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<BYTE>(v >> (8 * i));
}

// A 16-colour BMP file as a paint program writes it: file header, BITMAPINFOHEADER, palette of
// BGRX entries, rows of 4-bit indices (high nibble first) padded to 4 bytes, bottom row first.
// indices[y][x] is the picture top-down.
std::vector<BYTE> MakeBmp(const std::vector<std::vector<int>>& indices,
                          const std::vector<std::uint32_t>& palette_rgb, bool top_down = false) {
  const int height = static_cast<int>(indices.size());
  const int width = static_cast<int>(indices[0].size());
  const std::size_t row_bytes = ((width * 4 + 31) / 32) * 4;
  const std::size_t offset = 14 + 40 + 4 * palette_rgb.size();
  std::vector<BYTE> b(offset + row_bytes * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, static_cast<std::uint32_t>(offset));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(width));
  Put32(b, 22, static_cast<std::uint32_t>(top_down ? -height : height));
  Put16(b, 26, 1);
  Put16(b, 28, 4);
  Put32(b, 46, palette_rgb.size() == 16 ? 0 : static_cast<std::uint32_t>(palette_rgb.size()));
  for (std::size_t i = 0; i < palette_rgb.size(); ++i) {
    b[54 + 4 * i] = static_cast<BYTE>(palette_rgb[i]);            // blue
    b[54 + 4 * i + 1] = static_cast<BYTE>(palette_rgb[i] >> 8);   // green
    b[54 + 4 * i + 2] = static_cast<BYTE>(palette_rgb[i] >> 16);  // red
  }
  for (int y = 0; y < height; ++y) {
    const int file_row = top_down ? y : height - 1 - y;
    for (int x = 0; x < width; ++x) {
      BYTE& pair = b[offset + file_row * row_bytes + x / 2];
      pair |= static_cast<BYTE>(x % 2 == 0 ? indices[y][x] << 4 : indices[y][x]);
    }
  }
  return b;
}

std::vector<std::uint32_t> SixteenColours() {
  std::vector<std::uint32_t> p;
  for (std::uint32_t i = 0; i < 16; ++i) p.push_back(i * 0x100000u + i * 0x0100u + (15 - i));
  return p;
}

constexpr std::uint32_t Opaque(std::uint32_t rgb) { return 0xFF000000u | rgb; }

TEST(LoadBitmapFromBmp, DecodesRowsNibblesPaddingAndOrientation) {
  // 9 pixels wide: 5 bytes of indices padded to 8, an odd last nibble, three rows.
  const std::vector<std::vector<int>> picture = {
      {0, 1, 2, 3, 4, 5, 6, 7, 8},
      {15, 14, 13, 12, 11, 10, 9, 8, 7},
      {1, 0, 1, 0, 1, 0, 1, 0, 15},
  };
  const auto palette = SixteenColours();
  for (bool top_down : {false, true}) {
    SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
    const std::vector<BYTE> file = MakeBmp(picture, palette, top_down);
    HBITMAP bitmap = nullptr;
    ASSERT_EQ(LoadBitmapFromBmp(file, &bitmap), S_OK);
    ASSERT_EQ(bitmap->width, 9);
    ASSERT_EQ(bitmap->height, 3);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 9; ++x) {
        SCOPED_TRACE(testing::Message() << "x=" << x << " y=" << y);
        EXPECT_EQ(bitmap->pixels[y * 9 + x], Opaque(palette[picture[y][x]]));
      }
    }
    EXPECT_TRUE(DeleteObject(bitmap));
  }
}

TEST(LoadBitmapFromBmp, RejectsMalformedFilesWithoutReadingOutside) {
  const std::vector<std::vector<int>> picture = {{0, 1, 2}, {3, 4, 5}};
  const std::vector<BYTE> good = MakeBmp(picture, SixteenColours());
  struct Case {
    const char* what;
    std::vector<BYTE> file;
  };
  auto with = [&](auto change) {
    std::vector<BYTE> f = good;
    change(f);
    return f;
  };
  const Case cases[] = {
      {"empty", {}},
      {"headers cut short", std::vector<BYTE>(good.begin(), good.begin() + 40)},
      {"last row cut short", std::vector<BYTE>(good.begin(), good.end() - 1)},
      {"wrong signature", with([](auto& f) { f[0] = 'X'; })},
      {"core header (12 bytes)", with([](auto& f) { Put32(f, 14, 12); })},
      {"info header larger than the file", with([](auto& f) { Put32(f, 14, 0x7FFFFFFF); })},
      {"8 bits per pixel", with([](auto& f) { Put16(f, 28, 8); })},
      {"RLE4 compression", with([](auto& f) { Put32(f, 30, 2); })},
      {"two planes", with([](auto& f) { Put16(f, 26, 2); })},
      {"zero width", with([](auto& f) { Put32(f, 18, 0); })},
      {"negative width", with([](auto& f) { Put32(f, 18, static_cast<std::uint32_t>(-3)); })},
      {"zero height", with([](auto& f) { Put32(f, 22, 0); })},
      {"height beyond the data", with([](auto& f) { Put32(f, 22, 3); })},
      {"huge size, tiny file", with([](auto& f) {
         Put32(f, 18, 32768);
         Put32(f, 22, 32768);
       })},
      {"17 palette entries", with([](auto& f) { Put32(f, 46, 17); })},
      {"pixel data inside the palette", with([](auto& f) { Put32(f, 10, 60); })},
      {"pixel data beyond the file", with([](auto& f) { Put32(f, 10, 0xFFFFFFF0u); })},
      {"index beyond a 4-colour palette",
       with([](auto& f) { Put32(f, 46, 4); })},  // picture uses 5
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    EXPECT_EQ(LoadBitmapFromBmp(c.file, &bitmap), E_INVALIDARG);
    EXPECT_EQ(bitmap, nullptr);
  }
  EXPECT_EQ(LoadBitmapFromBmp(good, nullptr), E_POINTER);
}

TEST(DrawBitmap, CopiesUnscaledAndClipsAtEveryEdge) {
  // 3 x 2 picture of distinct colours.
  const std::vector<std::vector<int>> picture = {{1, 2, 3}, {4, 5, 6}};
  const auto palette = SixteenColours();
  HBITMAP bitmap = nullptr;
  ASSERT_EQ(LoadBitmapFromBmp(MakeBmp(picture, palette), &bitmap), S_OK);
  const std::uint32_t background = 0xFF123456u;
  struct Case {
    int x, y;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {3, 3}, {-2, -1}, {4, 0}, {-3, 0}, {0, -2}, {100, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "at (" << c.x << ", " << c.y << ")");
    PixelSurface surface(4, 4, background);
    ASSERT_TRUE(DrawBitmap(surface.hdc(), c.x, c.y, bitmap));
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) {
        const int bx = x - c.x, by = y - c.y;
        const bool inside = bx >= 0 && bx < 3 && by >= 0 && by < 2;
        EXPECT_EQ(surface.at(x, y), inside ? Opaque(palette[picture[by][bx]]) : background)
            << "pixel " << x << "," << y;
      }
    }
  }
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));  // freed twice
  PixelSurface surface(2, 2);
  EXPECT_FALSE(DrawBitmap(surface.hdc(), 0, 0, bitmap));
}

TEST(BitBlt, CopiesFromAMemoryContextAndGuardsSelectedBitmaps) {
  const auto palette = SixteenColours();
  HBITMAP bitmap = nullptr;
  ASSERT_EQ(LoadBitmapFromBmp(MakeBmp({{7, 8}, {9, 10}}, palette), &bitmap), S_OK);
  HDC memory = CreateCompatibleDC(nullptr);
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(SelectObject(memory, bitmap), nullptr);
  PixelSurface surface(3, 3, 0xFF000000u);
  // Source rectangle partly outside the bitmap: only the part that exists is copied.
  ASSERT_TRUE(BitBlt(surface.hdc(), 1, 1, 5, 5, memory, 1, 0, SRCCOPY));
  EXPECT_EQ(surface.at(1, 1), Opaque(palette[8]));
  EXPECT_EQ(surface.at(1, 2), Opaque(palette[10]));
  EXPECT_EQ(surface.at(2, 1), 0xFF000000u);
  EXPECT_EQ(surface.at(0, 0), 0xFF000000u);
  EXPECT_FALSE(BitBlt(surface.hdc(), 0, 0, -1, 1, memory, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(surface.hdc(), 0, 0, 1, 1, memory, 0, 0, 0x00EE0086));  // SRCPAINT
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(BitBlt(nullptr, 0, 0, 1, 1, memory, 0, 0, SRCCOPY));

  EXPECT_FALSE(DeleteObject(bitmap)) << "still selected into a context";
  EXPECT_EQ(SelectObject(memory, nullptr), bitmap);
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_FALSE(DeleteDC(memory));
  EXPECT_FALSE(DeleteDC(surface.hdc())) << "the host's surface is not ours to free";
  EXPECT_TRUE(DeleteObject(bitmap));
}

TEST(FillSolidRect, ClipsToTheSurface) {
  PixelSurface surface(3, 2, 0);
  ASSERT_TRUE(FillSolidRect(surface.hdc(), RECT{-5, 1, 2, 10}, 0xFFFF0000u));
  const std::uint32_t expected[2][3] = {{0, 0, 0}, {0xFFFF0000u, 0xFFFF0000u, 0}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(surface.at(x, y), expected[y][x]) << x << "," << y;
  }
}

}  // namespace
}  // namespace kx::platform
