// Our Deflate encoder against zlib at the same level, over one corpus:
// English text and markup, source code, programs, zeros, random bytes and a
// rendered report page.  Each file is compressed on its own, as an archive
// entry would be; sizes and times are summed per level.
//
//   scripts/bench deflate_bench

#include "ziplib/deflate.h"
#include "ziplib/zip_state.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct File {
  std::string kind;
  std::string data;
};

std::string read_file(const std::string& path, std::size_t limit) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return {};
  std::ostringstream ss;
  ss << f.rdbuf();
  std::string s = ss.str();
  if (s.size() > limit) s.resize(limit);
  return s;
}

std::vector<std::string> list_dir(const std::string& dir, const char* suffix) {
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

void add(std::vector<File>& c, const std::string& kind, const std::string& data) {
  if (!data.empty()) c.push_back({kind, data});
}

// A report page as the renderer makes it: 2400x3150, one byte per pixel,
// white paper with ruled boxes, text-like glyph rows and waveform traces.
std::string raster_page() {
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

std::vector<File> corpus() {
  std::vector<File> c;
  for (const std::string& f : list_dir("/usr/share/common-licenses", nullptr)) add(c, "text", read_file(f, 1 << 20));
  for (const char* f : {"/usr/share/doc/python3/python-policy.html", "/usr/share/doc/zlib1g-dev/examples/zlib_how.html",
                        "/usr/share/xml/iso-codes/iso_639-3.xml", "/usr/share/wayland/wayland.xml"})
    add(c, "text", read_file(f, 2 << 20));
  std::size_t src = 0;
  const std::string top = std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/bench/"));
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

using Clock = std::chrono::steady_clock;

struct Input {
  const std::string* data;
  std::size_t pos;
};

std::size_t read_input(unsigned char* buf, std::size_t size, ziplib::ZipState& s) {
  auto* in = static_cast<Input*>(s.reader_context);
  std::size_t n = std::min(size, in->data->size() - in->pos);
  std::memcpy(buf, in->data->data() + in->pos, n);
  in->pos += n;
  return n;
}

// Our encoder into an in-memory file, as into an archive on one volume.
std::size_t ours(ziplib::ZipState& s, int fd, const std::string& data, int level, std::string* out,
                 bool* stored = nullptr) {
  ::ftruncate(fd, 0);
  ::lseek(fd, 0, SEEK_SET);
  Input in{&data, 0};
  s.reader = read_input;
  s.reader_context = &in;
  s.out_fd = fd;
  std::uint16_t flags = 0, attr = 0xFFFF, method = 8;
  ziplib::zipDeflateStart(s, level, &flags);
  ziplib::zipTreesStart(s, &attr, &method);
  const std::size_t n = ziplib::zipDeflate(s);
  if (out) {
    out->assign(n, '\0');
    if (::pread(fd, out->data(), n, 0) != static_cast<ssize_t>(n)) out->clear();
    if (stored) *stored = method == 0;
  }
  return n;
}

std::size_t theirs(const std::string& data, int level, std::string& buf) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  buf.resize(deflateBound(&z, data.size()));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(buf.data());
  z.avail_out = static_cast<uInt>(buf.size());
  deflate(&z, Z_FINISH);
  const std::size_t n = z.total_out;
  deflateEnd(&z);
  return n;
}

// A stored entry (method 0) holds the input itself.
bool check(const std::string& coded, const std::string& original, bool stored) {
  if (stored) return coded == original;
  z_stream z{};
  inflateInit2(&z, -15);
  std::string out(original.size() + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.data()));
  z.avail_in = static_cast<uInt>(coded.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const bool ok = rc == Z_STREAM_END && z.total_out == original.size() && out.compare(0, original.size(), original) == 0;
  inflateEnd(&z);
  return ok;
}

}  // namespace

int main() {
  const std::vector<File> files = corpus();
  std::size_t total = 0;
  for (const File& f : files) total += f.data.size();
  std::printf("corpus: %zu files, %.1f MB\n", files.size(), total / 1e6);
  for (const char* kind : {"text", "source", "binary", "zeros", "random", "raster"}) {
    std::size_t n = 0, b = 0;
    for (const File& f : files)
      if (f.kind == kind) ++n, b += f.data.size();
    std::printf("  %-7s %3zu files %9zu bytes\n", kind, n, b);
  }

  const int fd = ::memfd_create("deflate_bench", 0);
  ziplib::ZipState s;
  std::string zbuf, coded;
  constexpr int kRuns = 3;
  std::printf("\nlevel  ours_bytes  zlib_bytes  size_ratio  ours_MB/s  zlib_MB/s  speed_ratio  check\n");
  for (int level = 1; level <= 9; ++level) {
    std::size_t our_size = 0, zlib_size = 0;
    bool ok = true;
    for (const File& f : files) {
      bool stored = false;
      our_size += ours(s, fd, f.data, level, &coded, &stored);
      ok = ok && check(coded, f.data, stored);
      zlib_size += theirs(f.data, level, zbuf);
    }
    double our_best = 1e30, zlib_best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
      auto t0 = Clock::now();
      for (const File& f : files) ours(s, fd, f.data, level, nullptr);
      auto t1 = Clock::now();
      for (const File& f : files) theirs(f.data, level, zbuf);
      auto t2 = Clock::now();
      our_best = std::min(our_best, std::chrono::duration<double>(t1 - t0).count());
      zlib_best = std::min(zlib_best, std::chrono::duration<double>(t2 - t1).count());
    }
    const double our_mbs = total / 1e6 / our_best, zlib_mbs = total / 1e6 / zlib_best;
    std::printf("%5d  %10zu  %10zu  %10.4f  %9.1f  %9.1f  %11.2f  %s\n", level, our_size, zlib_size,
                double(our_size) / double(zlib_size), our_mbs, zlib_mbs, our_mbs / zlib_mbs, ok ? "ok" : "FAILED");
  }
  ::close(fd);
  return 0;
}
