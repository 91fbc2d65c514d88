#include <gtest/gtest.h>

#include "testsupport/temp_root.h"
#include "ziplib/decode.h"
#include "ziplib/output_stage.h"
#include "ziplib/tests/decode_test_support.h"

using namespace decode_test;
using ziplib::CodecResult;

namespace {

// A source that counts how often it is asked after running dry.
class CountingSource : public ziplib::ByteSource {
 public:
  explicit CountingSource(const Bytes& b) : inner_(b, 5) {}
  std::span<const uint8_t> next() override {
    auto run = inner_.next();
    if (run.empty()) ++dry_calls;
    return run;
  }
  int dry_calls = 0;

 private:
  ziplib::MemorySource inner_;
};

}  // namespace

TEST(InflateTest, MatchesZlibAtEveryLevel) {
  for (const Sample& s : corpus()) {
    for (int level = 0; level <= 9; ++level) {
      Bytes z = zlib_deflate(s.data, level);
      Bytes out;
      ASSERT_EQ(ours(z, out), CodecResult::kOk) << s.name << " level " << level;
      ASSERT_TRUE(out == s.data) << s.name << " level " << level;
    }
  }
}

TEST(InflateTest, MatchesZlibForEveryBlockKindAndInputSplit) {
  // Huffman-only and fixed blocks, long runs, short windows; the input handed
  // over a few bytes at a time so that every refill path is taken.
  Bytes data = prose(40000, 7);
  Bytes noise = random_bytes(3000, 8);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), 3000, 'z');
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
    for (int mem : {1, 9}) {
      Bytes z = zlib_deflate(data, 6, strategy, mem);
      for (size_t chunk : {size_t(0), size_t(1), size_t(7), size_t(4096)}) {
        Bytes out;
        ASSERT_EQ(ours(z, out, false, chunk), CodecResult::kOk) << strategy << "/" << chunk;
        ASSERT_TRUE(out == data) << strategy << "/" << chunk;
      }
    }
  }
  Bytes empty;
  Bytes out;
  EXPECT_EQ(ours(zlib_deflate(empty, 9), out), CodecResult::kOk);
  EXPECT_TRUE(out.empty());
}

TEST(InflateTest, DamagedStreamsGiveErrors) {
  Bytes out;
  // Block type 3.
  EXPECT_EQ(ours({0x07, 0, 0, 0}, out), CodecResult::kBadBlockType);
  // Stored block whose NLEN is not the complement of LEN.
  EXPECT_EQ(ours({0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'}, out), CodecResult::kBadCode);
  // Fixed block: literal, then a match reaching two bytes back after one byte.
  {
    BitWriter w;
    w.put(1, 1);
    w.put(1, 2);
    w.code(0x30 + 'A', 8);  // literal 'A'
    w.code(1, 7);           // length 3 (symbol 257)
    w.code(1, 5);           // distance 2
    w.code(0, 7);           // end of block
    EXPECT_EQ(ours(w.finish(), out), CodecResult::kBadCode);
  }
  // Over-subscribed code-length code: three codes of length 1.
  {
    BitWriter w;
    w.put(1, 1);
    w.put(2, 2);
    w.put(0, 5);
    w.put(0, 5);
    w.put(0, 4);
    for (int i = 0; i < 3; ++i) w.put(1, 3);
    w.put(0, 3);
    w.put(0, 32);
    EXPECT_EQ(ours(w.finish(), out), CodecResult::kBadCode);
  }
  // Incomplete literal/length code with more than one code.
  {
    std::vector<uint8_t> lit(257, 0), dist(1, 0);
    lit['A'] = 1;
    lit[256] = 2;
    BitWriter w;
    dynamic_header(w, true, lit, dist);
    w.put(0, 16);
    EXPECT_EQ(ours(w.finish(), out), CodecResult::kBadCode);
  }
  // Over-subscribed literal/length code.
  {
    std::vector<uint8_t> lit(257, 0), dist(1, 0);
    lit['A'] = 1;
    lit['B'] = 1;
    lit[256] = 1;
    BitWriter w;
    dynamic_header(w, true, lit, dist);
    w.put(0, 16);
    EXPECT_EQ(ours(w.finish(), out), CodecResult::kBadCode);
  }
  // Repeat of the previous length with nothing before it.
  {
    BitWriter w;
    w.put(1, 1);
    w.put(2, 2);
    w.put(0, 5);
    w.put(0, 5);
    w.put(0, 4);                         // 4 code-length codes: 16, 17, 18, 0
    for (int l : {1, 2, 2, 0}) w.put(unsigned(l), 3);
    w.code(0, 1);                        // symbol 16 first
    w.put(0, 2);
    w.put(0, 32);
    EXPECT_EQ(ours(w.finish(), out), CodecResult::kBadCode);
  }
  // An end-of-block code that cannot occur.
  {
    std::vector<uint8_t> lit(257, 0), dist(1, 0);
    lit['A'] = 1;
    lit['B'] = 1;
    BitWriter w;
    dynamic_header(w, true, lit, dist);
    w.put(0, 16);
    EXPECT_EQ(ours(w.finish(), out), CodecResult::kBadCode);
  }
}

TEST(InflateTest, SingleCodeTablesAreAccepted) {
  // Only the end-of-block code, of length 1, and no distance codes.
  std::vector<uint8_t> lit(257, 0), dist(1, 0);
  lit[256] = 1;
  BitWriter w;
  dynamic_header(w, true, lit, dist);
  w.code(0, 1);
  Bytes out{1};
  EXPECT_EQ(ours(w.finish(), out), CodecResult::kOk);
  EXPECT_TRUE(out.empty());
}

TEST(InflateTest, ThirtyTwoDistanceCodesOnlyUnderDeflate64) {
  std::vector<uint8_t> lit(258, 0), dist(32, 0);
  lit['A'] = 1;
  lit[256] = 2;
  lit[257] = 2;
  dist[0] = 1;
  dist[31] = 1;
  BitWriter w;
  dynamic_header(w, true, lit, dist);
  std::vector<uint32_t> lc = canonical(lit);
  w.code(lc['A'], 1);
  w.code(lc[257], 2);  // length 3
  w.code(0, 1);        // distance 1
  w.code(lc[256], 2);
  Bytes z = w.finish();
  Bytes out;
  EXPECT_EQ(ours(z, out, false), CodecResult::kBadCode);
  ASSERT_EQ(ours(z, out, true), CodecResult::kOk);
  EXPECT_TRUE(out == to_bytes("AAAA"));
}

TEST(InflateTest, LengthCode285CarriesSixteenExtraBitsUnderDeflate64) {
  std::vector<uint8_t> lit(286, 0), dist(1, 0);
  lit['A'] = 1;
  lit[256] = 2;
  lit[285] = 2;
  dist[0] = 1;
  auto stream = [&](bool d64) {
    BitWriter w;
    dynamic_header(w, true, lit, dist);
    std::vector<uint32_t> lc = canonical(lit);
    w.code(lc['A'], 1);
    w.code(lc[285], 2);
    if (d64) w.put(0xFFFF, 16);
    w.code(0, 1);
    w.code(lc[256], 2);
    return w.finish();
  };
  Bytes out;
  ASSERT_EQ(ours(stream(true), out, true), CodecResult::kOk);
  EXPECT_EQ(out.size(), 1u + 65538u);
  EXPECT_EQ(out.back(), 'A');
  ASSERT_EQ(ours(stream(false), out, false), CodecResult::kOk);
  EXPECT_EQ(out.size(), 1u + 258u);
}

TEST(InflateTest, TruncatedInputEndsWithAnErrorAndFewReads) {
  Bytes data = prose(3000, 11);
  for (int level : {0, 1, 9}) {
    Bytes z = zlib_deflate(data, level);
    for (size_t cut = 0; cut < z.size(); ++cut) {
      Bytes part(z.begin(), z.begin() + long(cut));
      CountingSource src(part);
      ziplib::VectorSink sink;
      CodecResult r = ziplib::inflate(src, sink, false);
      ASSERT_NE(r, CodecResult::kOk) << "level " << level << " cut " << cut;
      ASSERT_LE(src.dry_calls, 2);
      ASSERT_LE(sink.bytes.size(), data.size() + 258);
    }
  }
}

TEST(InflateTest, SinkRefusalStopsDecoding) {
  Bytes data = prose(400000, 12);
  Bytes z = zlib_deflate(data, 6);
  ziplib::MemorySource src(z);
  ziplib::VectorSink sink(1000);
  EXPECT_EQ(ziplib::inflate(src, sink, false), CodecResult::kStopped);
  EXPECT_EQ(sink.bytes.size(), 1000u);
}

TEST(InflateTest, Deflate64ArchivesWrittenBy7zz) {
  if (!have_tool("7zz")) GTEST_SKIP() << "7zz not installed";
  testsupport::TempRoot tmp;
  // Long-range repeats (distances past 32 KiB) and very long runs.
  Bytes data;
  Bytes a = random_bytes(40000, 21), b = random_bytes(60000, 22);
  for (int i = 0; i < 3; ++i) data.insert(data.end(), a.begin(), a.end());
  for (int i = 0; i < 3; ++i) data.insert(data.end(), b.begin(), b.end());
  data.insert(data.end(), 200000, 'q');
  Bytes text = prose(100000, 23);
  data.insert(data.end(), text.begin(), text.end());
  write_file(tmp.path() + "/data.bin", data);
  ASSERT_EQ(run("cd " + tmp.path() + " && 7zz a -tzip -mm=Deflate64 -mx=9 d64.zip data.bin"), 0);
  std::vector<ZipItem> items = read_zip(read_file(tmp.path() + "/d64.zip"));
  ASSERT_EQ(items.size(), 1u);
  ASSERT_EQ(items[0].method, 9);
  EXPECT_EQ(items[0].size, data.size());
  EXPECT_EQ(decode_zip_item(items[0]), ziplib::kDecodeOk);
  // The same data under plain Deflate is refused by the 32 KiB decoder only
  // where it reaches too far back; decoded as Deflate64 it must differ.
  Bytes out;
  EXPECT_NE(ours(items[0].data, out, false), CodecResult::kOk);
}
