#include "testsupport/png.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport {
namespace {

constexpr unsigned char kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};

void put_u32be(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::uint32_t get_u32be(const unsigned char* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

void chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
  put_u32be(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put_u32be(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

int paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
}

}  // namespace

bool write_png(const std::string& path, const Picture& pic) {
  std::vector<unsigned char> raw;
  raw.reserve(static_cast<std::size_t>(pic.height) * (1 + 3 * static_cast<std::size_t>(pic.width)));
  for (int y = 0; y < pic.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < pic.width; ++x) {
      const std::uint32_t p = pic.pixels[static_cast<std::size_t>(y) * pic.width + x];
      raw.push_back(static_cast<unsigned char>(p >> 16));
      raw.push_back(static_cast<unsigned char>(p >> 8));
      raw.push_back(static_cast<unsigned char>(p));
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) return false;
  packed.resize(packed_size);

  std::vector<unsigned char> out(kSignature, kSignature + 8);
  std::vector<unsigned char> ihdr;
  put_u32be(ihdr, static_cast<std::uint32_t>(pic.width));
  put_u32be(ihdr, static_cast<std::uint32_t>(pic.height));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  chunk(out, "IHDR", ihdr);
  chunk(out, "IDAT", packed);
  chunk(out, "IEND", {});
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(f);
}

Picture read_png(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  const std::vector<unsigned char> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (d.size() < 8 || std::memcmp(d.data(), kSignature, 8) != 0) return {};
  int w = 0, h = 0, channels = 0;
  std::vector<unsigned char> packed;
  for (std::size_t at = 8; at + 12 <= d.size();) {
    const std::uint32_t len = get_u32be(&d[at]);
    if (len > d.size() - at - 12) return {};
    const std::string type(reinterpret_cast<const char*>(&d[at + 4]), 4);
    const unsigned char* body = &d[at + 8];
    if (type == "IHDR" && len >= 13) {
      w = static_cast<int>(get_u32be(body));
      h = static_cast<int>(get_u32be(body + 4));
      if (body[8] != 8 || body[12] != 0 || (body[9] != 2 && body[9] != 6)) return {};
      channels = body[9] == 2 ? 3 : 4;
    } else if (type == "IDAT") {
      packed.insert(packed.end(), body, body + len);
    }
    at += 12 + len;
  }
  if (w <= 0 || h <= 0 || w > 1 << 14 || h > 1 << 14 || channels == 0) return {};
  const std::size_t stride = static_cast<std::size_t>(w) * channels;
  std::vector<unsigned char> raw(static_cast<std::size_t>(h) * (stride + 1));
  uLongf raw_size = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &raw_size, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
      raw_size != raw.size())
    return {};
  Picture pic{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h)};
  std::vector<unsigned char> prev(stride, 0), cur(stride);
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = &raw[static_cast<std::size_t>(y) * (stride + 1)];
    const int filter = row[0];
    for (std::size_t i = 0; i < stride; ++i) {
      const int a = i >= static_cast<std::size_t>(channels) ? cur[i - channels] : 0;
      const int b = prev[i];
      const int c = i >= static_cast<std::size_t>(channels) ? prev[i - channels] : 0;
      int v = row[1 + i];
      switch (filter) {
        case 0: break;
        case 1: v += a; break;
        case 2: v += b; break;
        case 3: v += (a + b) / 2; break;
        case 4: v += paeth(a, b, c); break;
        default: return {};
      }
      cur[i] = static_cast<unsigned char>(v);
    }
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = &cur[static_cast<std::size_t>(x) * channels];
      pic.pixels[static_cast<std::size_t>(y) * w + x] =
          (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
    }
    prev.swap(cur);
  }
  return pic;
}

std::string check_expected_picture(const Picture& shot, const std::string& expected_dir, const std::string& name,
                                   int tolerance, int max_per_mille) {
  const char* build = std::getenv("VASLAB_BUILD_DIR");
  const char* source = std::getenv("VASLAB_SOURCE_DIR");
  if (!build || !source) return "VASLAB_BUILD_DIR and VASLAB_SOURCE_DIR are not set";
  const std::string out_dir = std::string(build) + "/screenshots";
  std::filesystem::create_directories(out_dir);
  const std::string out_path = out_dir + "/" + name + ".png";
  if (!write_png(out_path, shot)) return "cannot write " + out_path;
  const std::string expected_path = std::string(source) + "/" + expected_dir + "/" + name + ".png";
  if (const char* update = std::getenv("VASLAB_UPDATE_SCREENSHOTS"); update && *update) {
    std::filesystem::create_directories(std::filesystem::path(expected_path).parent_path());
    return write_png(expected_path, shot) ? "" : "cannot write " + expected_path;
  }
  const Picture expected = read_png(expected_path);
  if (expected.width != shot.width || expected.height != shot.height)
    return "no expected picture " + expected_path + " of that size (VASLAB_UPDATE_SCREENSHOTS=1 makes it)";
  std::size_t off = 0;
  for (std::size_t i = 0; i < shot.pixels.size(); ++i) {
    const std::uint32_t a = shot.pixels[i], b = expected.pixels[i];
    for (int s : {0, 8, 16})
      if (std::abs(static_cast<int>((a >> s) & 255) - static_cast<int>((b >> s) & 255)) > tolerance) {
        ++off;
        break;
      }
  }
  if (off * 1000 > shot.pixels.size() * static_cast<std::size_t>(max_per_mille))
    return name + ": " + std::to_string(off) + " pixels differ; compare " + out_path + " with " + expected_path;
  return "";
}

}  // namespace testsupport
