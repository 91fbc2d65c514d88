// Our Deflate encoder against zlib at the same level, over one corpus:
// English text and markup, source code, programs, zeros, random bytes and a
// rendered report page.  Each file is compressed on its own, as an archive
// entry would be; sizes and times are summed per level.
//
//   scripts/bench deflate_bench

#include "bench/bench_corpus.h"
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

using bench::File;
using bench::corpus;
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
