// Our Deflate encoder against zlib at the same level, over one corpus:
// English text and markup, source code, programs, zeros, random bytes and a
// rendered report page.  Each file is compressed on its own, as an archive
// entry would be; sizes and times are summed per level.  Every output is
// inflated by zlib and compared with its input before it is timed.  Five
// runs a level in turns; printed are the medians of processor time (the
// figure to quote: a loaded machine disturbs it less) and of wall time, ours
// over zlib's, and the speeds they make.
//
//   scripts/bench deflate_bench

#include "bench/bench_corpus.h"
#include "bench/bench_turns.h"
#include "ziplib/deflate.h"
#include "ziplib/zip_state.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bench::File;
using bench::corpus;

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
  constexpr int kRuns = 5;
  std::printf("\n%d runs a level, ours and zlib in turns; medians of processor time and of wall time, ours over "
              "zlib's (below 1: ours takes less), and the speeds of the processor-time medians\n", kRuns);
  std::printf("level  ours_bytes  zlib_bytes  size_ratio   CPU: ours_s  zlib_s  ours/zlib   wall: ours_s  zlib_s  "
              "ours/zlib   CPU MB/s: ours  zlib\n");
  for (int level = 1; level <= 9; ++level) {
    std::size_t our_size = 0, zlib_size = 0;
    for (const File& f : files) {
      bool stored = false;
      our_size += ours(s, fd, f.data, level, &coded, &stored);
      if (!check(coded, f.data, stored))
        bench::check_failed("level " + std::to_string(level) + ": zlib does not inflate our " + f.kind +
                            " file of " + std::to_string(f.data.size()) + " bytes back to it");
      zlib_size += theirs(f.data, level, zbuf);
    }
    const auto costs = bench::in_turns(kRuns, {
        [&] { return bench::cost_of([&] { for (const File& f : files) ours(s, fd, f.data, level, nullptr); }); },
        [&] { return bench::cost_of([&] { for (const File& f : files) theirs(f.data, level, zbuf); }); }});
    const double mb = total / 1e6;
    const bench::Runs &oc = costs[0].cpu, &zc = costs[1].cpu, &ow = costs[0].wall, &zw = costs[1].wall;
    std::printf("%5d  %10zu  %10zu  %10.4f   %11.3f %7.3f %9.2fx   %12.3f %7.3f %9.2fx   %14.1f %5.1f\n", level,
                our_size, zlib_size, double(our_size) / double(zlib_size), oc.median(), zc.median(),
                oc.median() / zc.median(), ow.median(), zw.median(), ow.median() / zw.median(), mb / oc.median(),
                mb / zc.median());
  }
  std::printf("every file of every level checked: zlib inflates ours back to the input\n");
  ::close(fd);
  return 0;
}
