#include "vaslab/core/toolkit/bitmap_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/file_io.h"
#include "platform/le_bytes.h"

namespace vaslab {
namespace {

// Larger than any picture of the instrument by far; keeps a corrupt header
// from asking for gigabytes.
constexpr std::int64_t kMaxSide = 16384;

int mask_shift(std::uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++s;
  }
  return s;
}

std::uint8_t mask_component(std::uint32_t v, std::uint32_t mask) {
  if (!mask) return 0;
  const int shift = mask_shift(mask);
  const std::uint32_t m = mask >> shift;
  return static_cast<std::uint8_t>(((v >> shift) & m) * 255 / m);
}

struct CacheEntry {
  std::int64_t size = -1;
  std::int64_t mtime_ns = 0;
  std::shared_ptr<const Bitmap> bmp;
};
std::map<std::string, CacheEntry> g_cache;
std::size_t g_cached_pixels = 0;
// About a dozen screen backgrounds and every button; past that the cache
// starts again rather than growing without end.
constexpr std::size_t kCachePixels = 16u << 20;

}  // namespace

std::optional<Bitmap> decode_bmp(const std::uint8_t* d, std::size_t size) {
  using platform::get_s32le;
  using platform::get_u16le;
  using platform::get_u32le;
  if (size < 14 + 40 || d[0] != 'B' || d[1] != 'M') return std::nullopt;
  const std::uint32_t data_offset = get_u32le(d + 10);
  const std::uint32_t info_size = get_u32le(d + 14);
  if (info_size < 40 || info_size > size - 14) return std::nullopt;
  const std::int64_t width = get_s32le(d + 18);
  const std::int64_t raw_height = get_s32le(d + 22);
  const int bits = get_u16le(d + 28);
  const std::uint32_t compression = get_u32le(d + 30);
  std::uint32_t colors_used = get_u32le(d + 46);
  const bool top_down = raw_height < 0;
  const std::int64_t height = top_down ? -raw_height : raw_height;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return std::nullopt;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
  // 0 plain; 3 bit fields, only meaningful for 32-bit pixels here.
  if (compression != 0 && !(compression == 3 && bits == 32)) return std::nullopt;

  std::uint32_t masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
  if (compression == 3) {
    // The masks follow a 40-byte header, or sit inside a larger one.
    if (14 + 40 + 12 > size) return std::nullopt;
    for (int i = 0; i < 3; ++i) masks[i] = get_u32le(d + 54 + 4 * i);
  }

  std::vector<std::uint32_t> palette;
  if (bits <= 8) {
    const std::uint32_t max_colors = 1u << bits;
    if (colors_used == 0 || colors_used > max_colors) colors_used = max_colors;
    const std::size_t pal_at = 14 + info_size;
    // A short palette gives black for the missing entries.
    palette.assign(max_colors, 0);
    for (std::uint32_t i = 0; i < colors_used; ++i) {
      const std::size_t at = pal_at + 4 * static_cast<std::size_t>(i);
      if (at + 4 > size) break;
      palette[i] = rgb(d[at + 2], d[at + 1], d[at]);
    }
  }

  const std::size_t row_bytes = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  const std::size_t need = row_bytes * static_cast<std::size_t>(height);
  if (data_offset > size || need > size - data_offset) return std::nullopt;

  Bitmap out(static_cast<int>(width), static_cast<int>(height));
  for (std::int64_t row = 0; row < height; ++row) {
    const std::uint8_t* src = d + data_offset + row_bytes * static_cast<std::size_t>(row);
    const int y = static_cast<int>(top_down ? row : height - 1 - row);
    for (int x = 0; x < out.width; ++x) {
      std::uint32_t px = 0;
      switch (bits) {
        case 1: px = palette[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: px = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15]; break;
        case 8: px = palette[src[x]]; break;
        case 24: px = rgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]); break;
        case 32: {
          const std::uint32_t v = get_u32le(src + 4 * x);
          px = rgb(mask_component(v, masks[0]), mask_component(v, masks[1]), mask_component(v, masks[2]));
          break;
        }
      }
      out.at(x, y) = px;
    }
  }
  return out;
}

std::shared_ptr<const Bitmap> load_bmp_file(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  const std::int64_t mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  auto it = g_cache.find(path);
  if (it != g_cache.end() && it->second.size == st.st_size && it->second.mtime_ns == mtime) return it->second.bmp;
  auto bytes = platform::read_file(path);
  if (!bytes) return nullptr;
  auto bmp = decode_bmp(bytes->data(), bytes->size());
  if (!bmp) return nullptr;
  auto shared = std::make_shared<const Bitmap>(std::move(*bmp));
  if (it != g_cache.end()) {
    g_cached_pixels -= it->second.bmp->pixels.size();
    g_cache.erase(it);
  }
  if (g_cached_pixels + shared->pixels.size() > kCachePixels) forget_bmp_cache();
  g_cache[path] = CacheEntry{st.st_size, mtime, shared};
  g_cached_pixels += shared->pixels.size();
  return shared;
}

void forget_bmp_cache() {
  g_cache.clear();
  g_cached_pixels = 0;
}

std::vector<std::uint8_t> encode_bmp24(const Bitmap& bmp) {
  const std::size_t row_bytes = ((static_cast<std::size_t>(bmp.width) * 24 + 31) / 32) * 4;
  const std::size_t image = row_bytes * static_cast<std::size_t>(bmp.height);
  std::vector<std::uint8_t> out(54 + image, 0);
  std::uint8_t* d = out.data();
  d[0] = 'B';
  d[1] = 'M';
  platform::put_u32le(d + 2, static_cast<std::uint32_t>(out.size()));
  platform::put_u32le(d + 10, 54);
  platform::put_u32le(d + 14, 40);
  platform::put_s32le(d + 18, bmp.width);
  platform::put_s32le(d + 22, bmp.height);
  platform::put_u16le(d + 26, 1);
  platform::put_u16le(d + 28, 24);
  platform::put_u32le(d + 34, static_cast<std::uint32_t>(image));
  platform::put_s32le(d + 38, 11811);  // 300 dots an inch
  platform::put_s32le(d + 42, 11811);
  for (int y = 0; y < bmp.height; ++y) {
    std::uint8_t* row = d + 54 + row_bytes * static_cast<std::size_t>(bmp.height - 1 - y);
    for (int x = 0; x < bmp.width; ++x) {
      const std::uint32_t p = bmp.at(x, y);
      row[3 * x] = static_cast<std::uint8_t>(p);
      row[3 * x + 1] = static_cast<std::uint8_t>(p >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(p >> 16);
    }
  }
  return out;
}

int write_bmp_file(const std::string& path, const Bitmap& bmp) {
  const auto bytes = encode_bmp24(bmp);
  return platform::write_file_atomic(path, bytes.data(), bytes.size());
}

PixelBox copy_pixels(Bitmap& dst, const Bitmap& src, int sx, int sy, int w, int h, int x, int y, int cl, int ct,
                     int cr, int cb) {
  if (dst.empty() || src.empty()) return {};
  if (sx < 0) w += sx, x -= sx, sx = 0;
  if (sy < 0) h += sy, y -= sy, sy = 0;
  w = std::min(w, src.width - sx);
  h = std::min(h, src.height - sy);
  cl = std::max(cl, 0);
  ct = std::max(ct, 0);
  cr = std::min(cr, dst.width);
  cb = std::min(cb, dst.height);
  PixelBox box{std::max(x, cl), std::max(y, ct), std::min(x + w, cr), std::min(y + h, cb)};
  if (box.empty()) return {};
  for (int yy = box.top; yy < box.bottom; ++yy)
    std::memcpy(&dst.at(box.left, yy), &src.at(sx + (box.left - x), sy + (yy - y)),
                static_cast<std::size_t>(box.right - box.left) * sizeof(std::uint32_t));
  return box;
}

Bitmap shrink_bitmap_half(const Bitmap& src) {
  const int w = src.width / 2, h = src.height / 2;
  if (w <= 0 || h <= 0) return Bitmap{};
  Bitmap out(w, h);
  for (int j = 0; j < h; ++j) {
    const int y0 = j * src.height / h, y1 = (j + 1) * src.height / h;
    for (int i = 0; i < w; ++i) {
      const int x0 = i * src.width / w, x1 = (i + 1) * src.width / w;
      std::uint32_t r = 0, g = 0, b = 0, n = 0;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
          const std::uint32_t p = src.at(x, y);
          r += (p >> 16) & 255;
          g += (p >> 8) & 255;
          b += p & 255;
          ++n;
        }
      out.at(i, j) = n ? rgb(static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n)) : 0;
    }
  }
  return out;
}

}  // namespace vaslab
