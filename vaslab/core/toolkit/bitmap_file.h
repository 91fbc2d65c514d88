// Device-independent bitmap files (.bmp) and the 32-bit pictures the screen
// is built from.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vaslab {

// A picture of 0x00RRGGBB pixels, rows top-down.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  Bitmap() = default;
  Bitmap(int w, int h, std::uint32_t fill = 0)
      : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}
  bool empty() const { return pixels.empty(); }
  const std::uint32_t& at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  std::uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

inline constexpr std::uint32_t rgb(int r, int g, int b) {
  return (static_cast<std::uint32_t>(r & 255) << 16) | (static_cast<std::uint32_t>(g & 255) << 8) |
         static_cast<std::uint32_t>(b & 255);
}

// Decodes a .bmp image: the 14-byte file header and an info header of 40
// bytes or more, 1, 4, 8, 24 or 32 bits a pixel, uncompressed (32-bit also
// with bit-field masks), rows bottom-up or top-down.  nullopt for anything
// else, and for any length or offset the data does not hold.
std::optional<Bitmap> decode_bmp(const std::uint8_t* data, std::size_t size);

// Reads a .bmp file at a Linux path.  Decoded files are kept and reused
// until the file changes (size or modification time).
std::shared_ptr<const Bitmap> load_bmp_file(const std::string& linux_path);
void forget_bmp_cache();

// Encodes 24 bits a pixel, bottom-up rows padded to 4 bytes.
std::vector<std::uint8_t> encode_bmp24(const Bitmap& bmp);
// Writes it whole or not at all; 0 on success.
[[nodiscard]] int write_bmp_file(const std::string& linux_path, const Bitmap& bmp);

// Copies the box (sx, sy, w, h) of `src` to (x, y) of `dst`, clipped to
// both pictures and to the clip box (right and bottom exclusive).  Returns
// the box written, empty when nothing was.
struct PixelBox {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return left >= right || top >= bottom; }
};
PixelBox copy_pixels(Bitmap& dst, const Bitmap& src, int sx, int sy, int w, int h, int x, int y, int clip_left,
                     int clip_top, int clip_right, int clip_bottom);

// Each pixel of the result is the per-component average of its box of the
// source (half the width and half the height, rounded down); an empty
// bitmap when the source is smaller than 2 by 2.
Bitmap shrink_bitmap_half(const Bitmap& src);

}  // namespace vaslab
