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

// A source that reads every run into the same buffer, as a file reader does,
// so that a run is gone once the next is asked for.  Runs end at the given
// offsets, then every `chunk` bytes (0: the rest at once).
class ReusedBufferSource : public ziplib::ByteSource {
 public:
  ReusedBufferSource(const Bytes& b, std::vector<size_t> cuts, size_t chunk)
      : data_(b), cuts_(std::move(cuts)), chunk_(chunk) {}
  std::span<const uint8_t> next() override {
    size_t end = data_.size();
    if (next_cut_ < cuts_.size()) {
      end = cuts_[next_cut_++];
    } else if (chunk_) {
      end = std::min(end, pos_ + chunk_);
    }
    std::fill(buffer_.begin(), buffer_.end(), 0xAA);
    buffer_.assign(data_.begin() + pos_, data_.begin() + end);
    pos_ = end;
    return buffer_;
  }

 private:
  const Bytes& data_;
  std::vector<size_t> cuts_;
  size_t chunk_;
  size_t next_cut_ = 0;
  size_t pos_ = 0;
  Bytes buffer_;
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

// Stored stretches handed to the sink straight from the input, then coded
// blocks whose matches reach back into them, across every kind of run
// boundary of the input.
TEST(InflateTest, MatchesReachBackIntoStoredBlocks) {
  // Random bytes come out as stored blocks (level -1 below).
  const Bytes a = random_bytes(142700, 21), b = random_bytes(20000, 22);
  struct Piece {
    int level;
    Bytes data;
  };
  std::vector<Piece> pieces = {{-1, a}, {6, {}}, {-1, b}, {1, {}}, {-1, Bytes(a.begin(), a.begin() + 5000)}, {9, {}}};
  // Each coded piece repeats stretches of what came shortly before it.
  Bytes plain;
  for (Piece& p : pieces) {
    if (p.data.empty()) {
      for (size_t back : {300u, 4000u, 20000u, 32768u})
        p.data.insert(p.data.end(), plain.end() - back, plain.end() - back + 300);
    }
    plain.insert(plain.end(), p.data.begin(), p.data.end());
  }
  // Stored blocks as large as they come at level 0, and of 127 bytes (over a
  // thousand in a row) at level 6 with the smallest memory level.
  for (int mem_level : {8, 1}) {
    const int stored_level = mem_level == 8 ? 0 : 6;
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, stored_level, Z_DEFLATED, -15, mem_level, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes stream(plain.size() * 2 + 1024);
    z.next_out = stream.data();
    z.avail_out = uInt(stream.size());
    std::vector<size_t> stored_ends;  // where a stored stretch's last block ends
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (i) {
        const int level = pieces[i].level < 0 ? stored_level : pieces[i].level;
        ASSERT_EQ(deflateParams(&z, level, Z_DEFAULT_STRATEGY), Z_OK);
        if (pieces[i - 1].level < 0) stored_ends.push_back(z.total_out);
      }
      z.next_in = pieces[i].data.data();
      z.avail_in = uInt(pieces[i].data.size());
      const bool last = i + 1 == pieces.size();
      ASSERT_EQ(deflate(&z, last ? Z_FINISH : Z_NO_FLUSH), last ? Z_STREAM_END : Z_OK);
    }
    stream.resize(z.total_out);
    deflateEnd(&z);
    // Runs that end in a stored block's last bytes or the next block's header.
    for (size_t shift = 0; shift < 10; ++shift) {
      std::vector<size_t> cuts;
      for (size_t end : stored_ends) cuts.push_back(end + shift - 5);
      for (size_t chunk : {size_t(0), size_t(3), size_t(4099), size_t(65536)}) {
        ReusedBufferSource src(stream, cuts, chunk);
        ziplib::VectorSink sink;
        ASSERT_EQ(ziplib::inflate(src, sink, false), CodecResult::kOk) << mem_level << "/" << chunk << "/" << shift;
        ASSERT_TRUE(sink.bytes == plain) << mem_level << "/" << chunk << "/" << shift;
      }
    }
  }
}

// Runs of every short period, long enough for the wide moves, at the
// distances a fast and a thorough encoder choose.
TEST(InflateTest, LongMatchesOfEveryShortPeriod) {
  Bytes plain;
  const Bytes seed = random_bytes(64, 23);
  for (size_t period = 1; period <= 40; ++period)
    for (size_t i = 0; i < 600 + period * 7; ++i) plain.push_back(seed[i % period]);
  plain.insert(plain.end(), 100000, 0);
  for (int level : {1, 9}) {
    Bytes out;
    ASSERT_EQ(ours(zlib_deflate(plain, level), out), CodecResult::kOk) << level;
    ASSERT_TRUE(out == plain) << level;
  }
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
