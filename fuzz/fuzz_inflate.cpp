// Inflate against zlib: every Deflate stream zlib decodes must decode to the
// same bytes here, and the reverse.  Deflate64 streams and the item path
// (size cap, CRC, stored copy) run for safety alone.
//   byte 0: bit 0 Deflate64, bit 1 item path, bits 2-7 item size (KiB)
//   byte 1: input run length (0: all at once)
#include <zlib.h>

#include <cstdlib>
#include <vector>

#include "ziplib/decode.h"
#include "ziplib/output_stage.h"

namespace {

constexpr size_t kCap = 256 * 1024;

// 1: decoded to the end; 0: refused; -1: output too long to compare.
int zlib_inflate(const uint8_t* data, size_t n, std::vector<uint8_t>& out) {
  static uint8_t buf[kCap];
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) abort();
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = uInt(n);
  z.next_out = buf;
  z.avail_out = uInt(kCap);
  int r = inflate(&z, Z_FINISH);
  out.assign(buf, buf + z.total_out);
  bool full = z.avail_out == 0;
  inflateEnd(&z);
  if (r == Z_STREAM_END) return 1;
  return full ? -1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const size_t chunk = data[1];
  std::span<const uint8_t> stream(data + 2, size - 2);
  const bool d64 = mode & 1;

  if (mode & 2) {
    ziplib::MemorySource src(stream, chunk);
    ziplib::OutputSettings s;
    s.item_size = uint64_t(mode >> 2) * 1024;
    s.work_size = 8192;
    ziplib::OutputStage stage(s);
    ziplib::ItemParams p;
    p.method = d64 ? 9 : (mode & 4) ? 8 : 0;
    ziplib::decode_item(p, src, stage);
    if (stage.delivered() > s.item_size) abort();
    return 0;
  }

  ziplib::MemorySource src(stream, chunk);
  ziplib::VectorSink sink(kCap);
  ziplib::CodecResult r = ziplib::inflate(src, sink, d64);
  if (d64) return 0;
  std::vector<uint8_t> ref;
  int z = zlib_inflate(stream.data(), stream.size(), ref);
  if (z < 0 || r == ziplib::CodecResult::kStopped) return 0;
  if ((z == 1) != (r == ziplib::CodecResult::kOk)) abort();
  if (z == 1 && ref != sink.bytes) abort();
  return 0;
}
