// The benchmark corpus shared by the compression and decompression
// benchmarks: English text and markup, source code, programs, zeros, random
// bytes and a rendered report page.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

struct File {
  std::string kind;
  std::string data;
};

inline std::string read_file(const std::string& path, std::size_t limit) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return {};
  std::ostringstream ss;
  ss << f.rdbuf();
  std::string s = ss.str();
  if (s.size() > limit) s.resize(limit);
  return s;
}

inline std::vector<std::string> list_dir(const std::string& dir, const char* suffix) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n[0] == '.') continue;
      if (suffix && (n.size() < std::strlen(suffix) || n.compare(n.size() - std::strlen(suffix), std::string::npos, suffix)))
        continue;
      out.push_back(dir + "/" + n);
    }
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

inline void add(std::vector<File>& c, const std::string& kind, const std::string& data) {
  if (!data.empty()) c.push_back({kind, data});
}

// A report page as the renderer makes it: 2400x3150, one byte per pixel,
// white paper with ruled boxes, text-like glyph rows and waveform traces.
inline std::string raster_page() {
  const int w = 2400, h = 3150;
  std::string p(std::size_t(w) * h, char(0xFF));
  auto px = [&](int x, int y, unsigned char v) {
    if (x >= 0 && x < w && y >= 0 && y < h) p[std::size_t(y) * w + x] = char(v);
  };
  std::mt19937 rng(42);
  for (int box = 0; box < 6; ++box) {
    const int y0 = 300 + box * 460, y1 = y0 + 400;
    for (int x = 150; x < 2250; ++x) px(x, y0, 0), px(x, y1, 0);
    for (int y = y0; y <= y1; ++y) px(150, y, 0), px(2249, y, 0);
    // Trace: a pulse wave.
    for (int x = 200; x < 2200; ++x) {
      const double t = (x - 200) / 180.0;
      const double ph = t - int(t);
      const double v = ph < 0.2 ? ph / 0.2 : std::max(0.0, 1.0 - (ph - 0.2) / 0.8 * 1.2) + 0.15 * (ph > 0.45 && ph < 0.55);
      const int y = y1 - 60 - int(v * 250);
      for (int k = 0; k < 3; ++k) px(x, y + k, 0x20);
    }
    // Caption glyph rows.
    for (int row = 0; row < 2; ++row)
      for (int ch = 0; ch < 90; ++ch) {
        const unsigned glyph = rng();
        for (int gy = 0; gy < 24; ++gy)
          for (int gx = 0; gx < 16; ++gx)
            if ((glyph >> ((gy / 3 * 4 + gx / 4) & 31)) & 1) px(200 + ch * 22 + gx, y0 + 20 + row * 34 + gy, 0);
      }
  }
  // Header text block.
  for (int row = 0; row < 6; ++row)
    for (int ch = 0; ch < 100; ++ch) {
      const unsigned glyph = rng();
      if (glyph % 7 == 0) continue;  // spaces
      for (int gy = 0; gy < 28; ++gy)
        for (int gx = 0; gx < 16; ++gx)
          if ((glyph >> ((gy / 4 * 4 + gx / 4) & 31)) & 1) px(150 + ch * 21 + gx, 60 + row * 38 + gy, 0);
    }
  return p;
}

inline std::vector<File> corpus() {
  std::vector<File> c;
  for (const std::string& f : list_dir("/usr/share/common-licenses", nullptr)) add(c, "text", read_file(f, 1 << 20));
  for (const char* f : {"/usr/share/doc/python3/python-policy.html", "/usr/share/doc/zlib1g-dev/examples/zlib_how.html",
                        "/usr/share/xml/iso-codes/iso_639-3.xml", "/usr/share/wayland/wayland.xml"})
    add(c, "text", read_file(f, 2 << 20));
  std::size_t src = 0;
  const std::string top = VASLAB_SOURCE_DIR;
  for (const char* dir : {"/ziplib", "/platform"})
    for (const char* suf : {".cpp", ".h"})
      for (const std::string& f : list_dir(top + dir, suf)) add(c, "source", read_file(f, 1 << 20));
  for (const std::string& f : list_dir("/usr/include", ".h")) {
    if (src > (3u << 20)) break;
    std::string d = read_file(f, 1 << 20);
    src += d.size();
    add(c, "source", d);
  }
  for (const char* f : {"/usr/bin/perl", "/usr/bin/bash", "/usr/bin/tar", "/usr/bin/ls", "/usr/bin/cp"})
    add(c, "binary", read_file(f, 4 << 20));
  add(c, "zeros", std::string(1 << 20, '\0'));
  std::string rnd(1 << 20, '\0');
  std::mt19937_64 rng(1);
  for (char& ch : rnd) ch = char(rng());
  add(c, "random", rnd);
  add(c, "raster", raster_page());
  return c;
}

}  // namespace bench
