#include <gtest/gtest.h>

#include "testsupport/temp_root.h"
#include "ziplib/decode.h"
#include "ziplib/output_stage.h"
#include "ziplib/tests/decode_test_encoders.h"

using namespace decode_test;
using ziplib::CodecResult;

namespace {

CodecResult explode_bytes(const Bytes& packed, uint16_t flags, uint64_t size, Bytes& out, size_t chunk = 0) {
  ziplib::MemorySource src(packed, chunk);
  ziplib::VectorSink sink;
  CodecResult r = ziplib::explode(src, sink, flags, size);
  out = std::move(sink.bytes);
  if (out.size() > size) out.resize(size);
  return r;
}

// Tree description of n codes, all of length `len`.
void flat_tree(BitWriter& w, unsigned n, unsigned len) {
  w.put(n / 16 - 1, 8);
  for (unsigned i = 0; i < n / 16; ++i) w.put((15u << 4) | (len - 1), 8);
}

std::vector<Sample> samples() {
  std::vector<Sample> s;
  s.push_back({"prose", prose(30000, 31)});
  s.push_back({"binary", read_file("/proc/self/exe", 30000)});
  s.push_back({"zeros", Bytes(20000, 0)});
  s.push_back({"random", random_bytes(5000, 32)});
  Bytes mix = prose(5000, 33);
  Bytes r = random_bytes(3000, 34);
  mix.insert(mix.end(), r.begin(), r.end());
  mix.insert(mix.end(), mix.begin(), mix.begin() + 6000);
  s.push_back({"mix", mix});
  return s;
}

}  // namespace

TEST(ExplodeTest, RoundTripsEveryWindowAndTreeChoice) {
  for (const Sample& s : samples()) {
    for (uint16_t flags : {0, 2, 4, 6}) {
      Bytes packed = implode(s.data, flags);
      Bytes out;
      for (size_t chunk : {size_t(0), size_t(3)}) {
        ASSERT_EQ(explode_bytes(packed, flags, s.data.size(), out, chunk), CodecResult::kOk)
            << s.name << " flags " << flags;
        ASSERT_TRUE(out == s.data) << s.name << " flags " << flags;
      }
    }
  }
}

TEST(ExplodeTest, ArchivesPassOutsideToolsAndDecodeHere) {
  if (!have_tool("unzip") || !have_tool("7zz")) GTEST_SKIP() << "unzip or 7zz not installed";
  testsupport::TempRoot tmp;
  std::vector<ZipEntryIn> entries;
  for (const Sample& s : samples())
    for (uint16_t flags : {0, 2, 4, 6})
      entries.push_back({s.name + std::to_string(flags), 6, flags, s.data, implode(s.data, flags)});
  write_file(tmp.path() + "/imploded.zip", make_zip(entries));
  EXPECT_EQ(run("unzip -t " + tmp.path() + "/imploded.zip"), 0);
  EXPECT_EQ(run("7zz t " + tmp.path() + "/imploded.zip"), 0);
  for (const ZipItem& it : read_zip(read_file(tmp.path() + "/imploded.zip")))
    EXPECT_EQ(decode_zip_item(it), ziplib::kDecodeOk) << it.name;
}

TEST(ExplodeTest, LongestCopyAndCopiesBeforeTheStart) {
  // Length code 63 with extra byte 0xFF: 65 + 255 = 320 bytes, 321 with a
  // literal tree; before it, a copy from before the first byte gives zeros.
  for (bool lit_tree : {false, true}) {
    BitWriter w;
    if (lit_tree) flat_tree(w, 256, 8);
    flat_tree(w, 64, 6);
    flat_tree(w, 64, 6);
    auto literal = [&](uint8_t c) {
      w.put(1, 1);
      if (lit_tree) w.code(~unsigned(c) & 0xFF, 8);
      else w.put(c, 8);
    };
    auto copy = [&](unsigned dist, unsigned lcode, int extra) {
      w.put(0, 1);
      w.put((dist - 1) & 63, 6);
      w.code(~((dist - 1) >> 6) & 63, 6);
      w.code(~lcode & 63, 6);
      if (extra >= 0) w.put(unsigned(extra), 8);
    };
    copy(5, 2, -1);  // 4 or 5 bytes from before the start
    literal('a');
    copy(1, 63, 0xFF);
    size_t first = lit_tree ? 5 : 4, run = lit_tree ? 321 : 320;
    Bytes out;
    ASSERT_EQ(explode_bytes(w.finish(), lit_tree ? 4 : 0, first + 1 + run, out), CodecResult::kOk);
    Bytes want(first, 0);
    want.insert(want.end(), 1 + run, 'a');
    EXPECT_TRUE(out == want) << lit_tree;
  }
}

TEST(ExplodeTest, BadTreesLeftoverInputAndTruncation) {
  Bytes out;
  {
    // 65 lengths for a 64-code tree.
    BitWriter w;
    w.put(4, 8);
    for (int i = 0; i < 4; ++i) w.put((15u << 4) | 5, 8);
    w.put(0 | 5, 8);
    flat_tree(w, 64, 6);
    w.put(0, 32);
    Bytes packed = w.finish();
    EXPECT_EQ(explode_bytes(packed, 0, 10, out), CodecResult::kBadTree);
    ziplib::MemorySource src(packed);
    ziplib::OutputStage stage({});
    ziplib::ItemParams p;
    p.method = 6;
    EXPECT_EQ(ziplib::decode_item(p, src, stage), ziplib::kDecodeBadData);
  }
  {
    // Incomplete length tree.
    BitWriter w;
    w.put(0, 8);
    w.put((15u << 4) | 5, 8);  // only 16 codes of 6 bits
    EXPECT_NE(explode_bytes(w.finish(), 0, 10, out), CodecResult::kOk);
  }
  Bytes data = prose(4000, 35);
  Bytes packed = implode(data, 6);
  // Bytes left after the item's output: reported, but the item succeeds.
  Bytes longer = packed;
  longer.insert(longer.end(), 20, 0x55);
  EXPECT_EQ(explode_bytes(longer, 6, data.size(), out), CodecResult::kInputLeft);
  {
    ziplib::MemorySource src(longer);
    ziplib::OutputSettings s;
    s.item_size = data.size();
    ziplib::OutputStage stage(s);
    ziplib::ItemParams p;
    p.method = 6;
    p.flags = 6;
    p.crc = uint32_t(crc32(0, data.data(), uInt(data.size())));
    EXPECT_EQ(ziplib::decode_item(p, src, stage), ziplib::kDecodeOk);
  }
  // Cut short under a huge declared size: stops at once.
  for (size_t cut : {size_t(0), size_t(10), packed.size() / 2, packed.size() - 1}) {
    Bytes part(packed.begin(), packed.begin() + long(cut));
    ziplib::MemorySource src(part);
    ziplib::VectorSink sink;
    EXPECT_NE(ziplib::explode(src, sink, 6, uint64_t(4) << 30), CodecResult::kOk) << cut;
    EXPECT_LT(sink.bytes.size(), data.size() + 400) << cut;
  }
}
