// Our inflate against zlib's, over the compression benchmark's corpus
// compressed by zlib at levels 1, 6 and 9: each file decoded on its own into
// memory, as an archive entry would be.  Speeds are uncompressed MB/s, best
// of several rounds.
//
//   scripts/bench inflate_bench

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "ziplib/decode.h"
#include "ziplib/crc32.h"

namespace {

using Clock = std::chrono::steady_clock;

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

// Seconds per pass of each of two functions: the best of several rounds in
// which they take turns, so that both meet the same load on the machine; a
// round repeats each pass for at least 20 ms.
template <typename A, typename B>
std::pair<double, double> best_seconds(A&& a, B&& b) {
  auto time = [](auto& f, int reps) {
    auto t0 = Clock::now();
    for (int r = 0; r < reps; ++r) f();
    return std::chrono::duration<double>(Clock::now() - t0).count() / reps;
  };
  const double once = std::max(time(a, 1), time(b, 1));
  const int reps = std::max(1, int(0.02 / std::max(once, 1e-9)));
  double best_a = 1e30, best_b = 1e30;
  for (int round = 0; round < 7; ++round) {
    best_a = std::min(best_a, time(a, reps));
    best_b = std::min(best_b, time(b, reps));
  }
  return {best_a, best_b};
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

  std::printf("\nlevel  kind     MB       ours_MB/s  zlib_MB/s  speed_ratio  check\n");
  for (int level : {1, 6, 9}) {
    std::vector<Packed> packed;
    for (const bench::File& f : files) packed.push_back({&f, deflate_raw(f.data, level)});
    double all_ours = 0, all_zlib = 0;
    bool all_ok = true;
    for (const char** kind = kinds;; ++kind) {
      // One row per kind, then the whole corpus.
      std::vector<const Packed*> set;
      size_t bytes = 0;
      for (const Packed& p : packed)
        if (!*kind || p.file->kind == *kind) set.push_back(&p), bytes += p.file->data.size();
      if (set.empty()) continue;
      bool ok = true;
      for (const Packed* p : set) {
        size_t n = ours(p->z, out);
        ok = ok && n == p->file->data.size() && std::memcmp(out.data(), p->file->data.data(), n) == 0;
      }
      auto [t_ours, t_zlib] = best_seconds([&] { for (const Packed* p : set) ours(p->z, out); },
                                           [&] { for (const Packed* p : set) theirs(p->z, out); });
      double mo = bytes / 1e6 / t_ours, mz = bytes / 1e6 / t_zlib;
      std::printf("%5d  %-7s %6.1f  %9.1f  %9.1f  %11.2f  %s\n", level, *kind ? *kind : "ALL", bytes / 1e6, mo, mz,
                  mo / mz, ok ? "ok" : "FAILED");
      if (!*kind) {
        all_ours = mo, all_zlib = mz, all_ok = ok;
        break;
      }
    }
    (void)all_ours, (void)all_zlib, (void)all_ok;
  }

  // The CRC-32 every extracted item goes through.
  auto [t_crc_ours, t_crc_zlib] = best_seconds(
      [&] {
        for (const bench::File& f : files) ziplib::crc32_of(reinterpret_cast<const uint8_t*>(f.data.data()), f.data.size());
      },
      [&] {
        for (const bench::File& f : files) crc32(0, reinterpret_cast<const Bytef*>(f.data.data()), uInt(f.data.size()));
      });
  std::printf("\ncrc32  ours %.0f MB/s  zlib %.0f MB/s  ratio %.2f\n", total / 1e6 / t_crc_ours,
              total / 1e6 / t_crc_zlib, t_crc_zlib / t_crc_ours);
  return 0;
}
