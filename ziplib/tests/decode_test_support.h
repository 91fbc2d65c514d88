// Shared by the decoder tests: sample data, a raw Deflate reference through
// zlib, a reader for the few archive fields the tests need, a bit writer for
// hand-made streams, and outside tools.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ziplib/decode.h"
#include "ziplib/output_stage.h"

namespace decode_test {

using Bytes = std::vector<uint8_t>;

inline Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes read_file(const std::string& path, size_t max = SIZE_MAX) {
  std::ifstream f(path, std::ios::binary);
  Bytes b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (b.size() > max) b.resize(max);
  return b;
}

inline void write_file(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

// English-like prose with markup: repetitive words, varied sentence shapes.
inline Bytes prose(size_t n, uint32_t seed) {
  static const char* words[] = {"the",    "pressure", "of",     "a",        "study",   "with",
                                "doppler", "wave",    "is",     "measured", "at",      "each",
                                "segment", "and",     "report", "archive",  "patient", "<b>",
                                "</b>",    "ankle",   "brachial", "index",  "\n",      "normal"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % (sizeof(words) / sizeof(words[0]))];
    s += (rng() % 9 == 0) ? ". " : " ";
  }
  s.resize(n);
  return to_bytes(s);
}

// Named samples of different character: text, source code, machine code,
// zeros, noise and a mix.
struct Sample {
  std::string name;
  Bytes data;
};

inline std::vector<Sample> corpus() {
  std::vector<Sample> c;
  c.push_back({"prose", prose(150000, 1)});
  Bytes src;
  if (const char* top = std::getenv("VASLAB_SOURCE_DIR")) {
    for (const char* f : {"/ziplib/inflate.cpp", "/ziplib/output_stage.cpp", "/ziplib/inflate_tables.cpp",
                          "/platform/paths.cpp", "/ziplib/tests/inflate_test.cpp"}) {
      Bytes b = read_file(std::string(top) + f);
      src.insert(src.end(), b.begin(), b.end());
    }
  }
  if (src.empty()) src = prose(40000, 2);
  c.push_back({"source", src});
  c.push_back({"binary", read_file("/proc/self/exe", 400000)});
  c.push_back({"zeros", Bytes(100000, 0)});
  c.push_back({"random", random_bytes(70000, 3)});
  Bytes mix = prose(30000, 4);
  Bytes r = random_bytes(20000, 5);
  mix.insert(mix.end(), r.begin(), r.end());
  mix.insert(mix.end(), 5000, 'x');
  mix.insert(mix.end(), mix.begin(), mix.begin() + 30000);
  c.push_back({"mix", mix});
  return c;
}

// Raw Deflate as the reference library writes it.
inline Bytes zlib_deflate(const Bytes& in, int level, int strategy = Z_DEFAULT_STRATEGY, int mem_level = 8) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, mem_level, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&z, uLong(in.size())) + 64);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

// Decodes with ours, the input handed over in runs of `chunk` bytes.
inline ziplib::CodecResult ours(const Bytes& stream, Bytes& out, bool d64 = false, size_t chunk = 0) {
  ziplib::MemorySource src(stream, chunk);
  ziplib::VectorSink sink;
  ziplib::CodecResult r = ziplib::inflate(src, sink, d64);
  out = std::move(sink.bytes);
  return r;
}

// LSB-first bit writer; Huffman codes go most significant bit first.
struct BitWriter {
  Bytes bytes;
  uint32_t acc = 0;
  unsigned n = 0;
  void put(uint32_t v, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) {
      acc |= ((v >> i) & 1u) << n;
      if (++n == 8) {
        bytes.push_back(uint8_t(acc));
        acc = 0;
        n = 0;
      }
    }
  }
  void code(uint32_t c, unsigned len) {
    for (unsigned i = len; i-- > 0;) put((c >> i) & 1u, 1);
  }
  Bytes finish() {
    if (n) bytes.push_back(uint8_t(acc));
    acc = 0;
    n = 0;
    return bytes;
  }
};

// Canonical codes for a set of code lengths.
inline std::vector<uint32_t> canonical(const std::vector<uint8_t>& lens) {
  unsigned count[17] = {}, next[17] = {};
  for (uint8_t l : lens) ++count[l];
  count[0] = 0;
  unsigned code = 0;
  for (int b = 1; b <= 16; ++b) {
    code = (code + count[b - 1]) << 1;
    next[b] = code;
  }
  std::vector<uint32_t> codes(lens.size());
  for (size_t s = 0; s < lens.size(); ++s)
    if (lens[s]) codes[s] = next[lens[s]]++;
  return codes;
}

// Header of a dynamic block whose code lengths are sent with a flat 4-bit
// code-length code (symbols 0-15 only).
inline void dynamic_header(BitWriter& w, bool last, const std::vector<uint8_t>& lit,
                           const std::vector<uint8_t>& dist) {
  w.put(last, 1);
  w.put(2, 2);
  w.put(unsigned(lit.size() - 257), 5);
  w.put(unsigned(dist.size() - 1), 5);
  w.put(19 - 4, 4);
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int s : order) w.put(s < 16 ? 4 : 0, 3);
  for (uint8_t l : lit) w.code(l, 4);
  for (uint8_t l : dist) w.code(l, 4);
}

// One entry of an archive, located through its central directory.
struct ZipItem {
  std::string name;
  uint16_t flags = 0, method = 0;
  uint32_t crc = 0;
  uint64_t size = 0;
  Bytes data;  // compressed bytes
};

inline uint32_t le(const Bytes& b, size_t at, int n) {
  if (at + size_t(n) > b.size()) throw std::runtime_error("archive too short");
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + size_t(i)];
  return v;
}

inline std::vector<ZipItem> read_zip(const Bytes& z) {
  size_t eocd = z.size() >= 22 ? z.size() - 22 : 0;
  while (eocd > 0 && le(z, eocd, 4) != 0x06054b50) --eocd;
  if (le(z, eocd, 4) != 0x06054b50) throw std::runtime_error("no end record");
  unsigned count = le(z, eocd + 10, 2);
  size_t at = le(z, eocd + 16, 4);
  std::vector<ZipItem> items;
  for (unsigned i = 0; i < count; ++i) {
    if (le(z, at, 4) != 0x02014b50) throw std::runtime_error("bad central header");
    ZipItem it;
    it.flags = uint16_t(le(z, at + 8, 2));
    it.method = uint16_t(le(z, at + 10, 2));
    it.crc = le(z, at + 16, 4);
    uint32_t csize = le(z, at + 20, 4);
    it.size = le(z, at + 24, 4);
    unsigned n = le(z, at + 28, 2), e = le(z, at + 30, 2), c = le(z, at + 32, 2);
    size_t local = le(z, at + 42, 4);
    it.name.assign(z.begin() + long(at + 46), z.begin() + long(at + 46 + n));
    size_t data = local + 30 + le(z, local + 26, 2) + le(z, local + 28, 2);
    if (data + csize > z.size()) throw std::runtime_error("data past the end");
    it.data.assign(z.begin() + long(data), z.begin() + long(data + csize));
    items.push_back(std::move(it));
    at += 46 + n + e + c;
  }
  return items;
}

// Decodes an archive item through the item path; its result code.
inline int decode_zip_item(const ZipItem& it) {
  ziplib::MemorySource src(it.data, 10240);
  ziplib::OutputSettings s;
  s.item_size = it.size;
  ziplib::OutputStage stage(s);
  ziplib::ItemParams p;
  p.method = it.method;
  p.flags = it.flags;
  p.crc = it.crc;
  return ziplib::decode_item(p, src, stage);
}

// Runs a shell command; its exit status.
inline int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

inline bool have_tool(const std::string& name) { return run("command -v " + name) == 0; }

}  // namespace decode_test
