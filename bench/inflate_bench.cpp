// Our inflate against zlib's, over the compression benchmark's corpus
// compressed by zlib at levels 1, 6 and 9: each file decoded on its own into
// memory, as an archive entry would be, and compared with its input first.
// Seven runs of each in turns; printed are the medians of processor time per
// pass (the figure to quote: a loaded machine disturbs it less) and of wall
// time, ours over zlib's, and the speeds of the processor-time medians in
// uncompressed MB/s.
//
//   scripts/bench inflate_bench

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "bench/bench_turns.h"
#include "ziplib/decode.h"
#include "ziplib/crc32.h"

namespace {


struct Packed {
  const bench::File* file;
  std::string z;
};

// Decoded bytes land in one buffer, as zlib's do.
class BufferSink : public ziplib::ByteSink {
 public:
  explicit BufferSink(std::string& buf) : buf_(buf) {}
  bool put(const uint8_t* p, size_t n) override {
    if (n > buf_.size() - used_) return false;
    std::memcpy(buf_.data() + used_, p, n);
    used_ += n;
    return true;
  }
  size_t used_ = 0;

 private:
  std::string& buf_;
};

std::string deflate_raw(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string buf(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(buf.data());
  z.avail_out = uInt(buf.size());
  deflate(&z, Z_FINISH);
  buf.resize(z.total_out);
  deflateEnd(&z);
  return buf;
}

size_t ours(const std::string& z, std::string& out) {
  ziplib::MemorySource src(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(z.data()), z.size()));
  BufferSink sink(out);
  if (ziplib::inflate(src, sink, false) != ziplib::CodecResult::kOk) return 0;
  return sink.used_;
}

size_t theirs(const std::string& zs, std::string& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zs.data()));
  z.avail_in = uInt(zs.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  size_t n = z.total_out;
  inflateEnd(&z);
  return rc == Z_STREAM_END ? n : 0;
}

// Seconds per pass of each of two functions over seven rounds in which they
// take turns; a run repeats its pass for at least 50 ms, so that processor
// time, which the system counts in coarser steps than the clock, resolves it.
template <typename A, typename B>
std::vector<bench::Costs> per_pass(A&& a, B&& b) {
  const double once = std::max(bench::cost_of(a).wall, bench::cost_of(b).wall);
  const int reps = std::max(1, int(0.05 / std::max(once, 1e-9)));
  auto run = [reps](auto& f) {
    bench::Cost c = bench::cost_of([&] { for (int r = 0; r < reps; ++r) f(); });
    return bench::Cost{c.wall / reps, c.cpu / reps, c.user / reps, c.sys / reps};
  };
  return bench::in_turns(7, {[&] { return run(a); }, [&] { return run(b); }});
}

// The medians of one row: processor time and wall time of a pass, ours over
// zlib's, and the speeds of the processor-time medians.
std::string row(const bench::Costs& ours, const bench::Costs& zlib, double mb) {
  char text[200];
  const double oc = ours.cpu.median(), zc = zlib.cpu.median(), ow = ours.wall.median(), zw = zlib.wall.median();
  std::snprintf(text, sizeof text, "%12.3f %8.3f %9.2fx   %13.3f %8.3f %9.2fx   %14.0f %6.0f", oc * 1e3, zc * 1e3,
                oc / zc, ow * 1e3, zw * 1e3, ow / zw, mb / oc, mb / zc);
  return text;
}

}  // namespace

int main() {
  const std::vector<bench::File> files = bench::corpus();
  size_t total = 0, largest = 0;
  for (const bench::File& f : files) total += f.data.size(), largest = std::max(largest, f.data.size());
  std::printf("corpus: %zu files, %.1f MB\n", files.size(), total / 1e6);
  // Both decode into the same buffer: where the output lies relative to the
  // input changes the speed of long copies, and must not favour either side.
  std::string out(largest, '\0');
  const char* kinds[] = {"text", "source", "binary", "zeros", "random", "raster", nullptr};

  std::printf("\n7 runs of each, ours and zlib in turns; medians per pass of processor time and of wall time, ours "
              "over zlib's (below 1: ours takes less), and the speeds of the processor-time medians\n");
  std::printf("level  kind     MB    CPU: ours_ms  zlib_ms  ours/zlib   wall: ours_ms  zlib_ms  ours/zlib   CPU MB/s: "
              "ours   zlib\n");
  for (int level : {1, 6, 9}) {
    std::vector<Packed> packed;
    for (const bench::File& f : files) packed.push_back({&f, deflate_raw(f.data, level)});
    for (const char** kind = kinds;; ++kind) {
      // One row per kind, then the whole corpus.
      std::vector<const Packed*> set;
      size_t bytes = 0;
      for (const Packed& p : packed)
        if (!*kind || p.file->kind == *kind) set.push_back(&p), bytes += p.file->data.size();
      if (set.empty()) continue;
      for (const Packed* p : set) {
        const size_t n = ours(p->z, out);
        if (n != p->file->data.size() || std::memcmp(out.data(), p->file->data.data(), n) != 0)
          bench::check_failed("level " + std::to_string(level) + ": our inflate of zlib's " + p->file->kind +
                              " file of " + std::to_string(p->file->data.size()) + " bytes is not the input");
        if (theirs(p->z, out) != n) bench::check_failed("zlib's inflate of its own stream");
      }
      const auto costs = per_pass([&] { for (const Packed* p : set) ours(p->z, out); },
                                  [&] { for (const Packed* p : set) theirs(p->z, out); });
      const double mb = bytes / 1e6;
      std::printf("%5d  %-7s %5.1f  %s\n", level, *kind ? *kind : "ALL", mb, row(costs[0], costs[1], mb).c_str());
      if (!*kind) break;
    }
  }
  std::printf("every file checked: our inflate gives back each input byte for byte\n");

  // The CRC-32 every extracted item goes through.
  for (const bench::File& f : files) {
    const auto* p = reinterpret_cast<const uint8_t*>(f.data.data());
    if (ziplib::crc32_of(p, f.data.size()) != crc32(0, p, uInt(f.data.size())))
      bench::check_failed("our CRC-32 of a " + f.kind + " file is not zlib's");
  }
  const auto crc = per_pass(
      [&] {
        for (const bench::File& f : files) ziplib::crc32_of(reinterpret_cast<const uint8_t*>(f.data.data()), f.data.size());
      },
      [&] {
        for (const bench::File& f : files) crc32(0, reinterpret_cast<const Bytef*>(f.data.data()), uInt(f.data.size()));
      });
  std::printf("\ncrc32  ALL     %5.1f  %s\n", total / 1e6, row(crc[0], crc[1], total / 1e6).c_str());
  return 0;
}
