#include <gtest/gtest.h>

#include "testsupport/temp_root.h"
#include "ziplib/decode.h"
#include "ziplib/output_stage.h"
#include "ziplib/tests/decode_test_encoders.h"

using namespace decode_test;
using ziplib::CodecResult;

namespace {

CodecResult unshrink_bytes(const Bytes& packed, uint64_t size, Bytes& out, size_t chunk = 0) {
  ziplib::MemorySource src(packed, chunk);
  ziplib::VectorSink sink;
  CodecResult r = ziplib::unshrink(src, sink, size);
  out = std::move(sink.bytes);
  return r;
}

Bytes codes9(std::initializer_list<std::pair<unsigned, unsigned>> codes) {
  BitWriter w;
  for (auto [code, width] : codes) w.put(code, width);
  return w.finish();
}

std::vector<Sample> samples() {
  std::vector<Sample> s;
  s.push_back({"prose", prose(120000, 41)});  // fills the table: partial clears
  s.push_back({"binary", read_file("/proc/self/exe", 60000)});
  s.push_back({"runs", Bytes(30000, 'a')});    // the code being defined, over and over
  s.push_back({"random", random_bytes(20000, 42)});
  s.push_back({"tiny", to_bytes("aaaaaaaaaabababab")});
  return s;
}

}  // namespace

TEST(UnshrinkTest, RoundTripsIncludingPartialClears) {
  for (const Sample& s : samples()) {
    for (size_t clear_after : {size_t(0), size_t(300)}) {
      Bytes packed = shrink(s.data, clear_after);
      Bytes out;
      ASSERT_EQ(unshrink_bytes(packed, s.data.size(), out, 5), CodecResult::kOk) << s.name;
      ASSERT_TRUE(out == s.data) << s.name << " clear after " << clear_after;
    }
  }
}

TEST(UnshrinkTest, ArchivesPassOutsideToolsAndDecodeHere) {
  if (!have_tool("unzip") || !have_tool("7zz")) GTEST_SKIP() << "unzip or 7zz not installed";
  testsupport::TempRoot tmp;
  std::vector<ZipEntryIn> entries;
  for (const Sample& s : samples()) {
    entries.push_back({s.name, 1, 0, s.data, shrink(s.data)});
    entries.push_back({s.name + "-cleared", 1, 0, s.data, shrink(s.data, 300)});
  }
  write_file(tmp.path() + "/shrunk.zip", make_zip(entries));
  EXPECT_EQ(run("unzip -t " + tmp.path() + "/shrunk.zip"), 0);
  EXPECT_EQ(run("7zz t " + tmp.path() + "/shrunk.zip"), 0);
  for (const ZipItem& it : read_zip(read_file(tmp.path() + "/shrunk.zip")))
    EXPECT_EQ(decode_zip_item(it), ziplib::kDecodeOk) << it.name;
}

TEST(UnshrinkTest, ControlCodes) {
  Bytes out;
  // 256,1 widens to 10 bits.
  ASSERT_EQ(unshrink_bytes(codes9({{'A', 9}, {256, 9}, {1, 9}, {'B', 10}}), 2, out), CodecResult::kOk);
  EXPECT_TRUE(out == to_bytes("AB"));
  // 256,2 frees the leaves: 258 ("bc") is free afterwards and reads as the
  // previous string plus its first byte.
  ASSERT_EQ(unshrink_bytes(codes9({{'a', 9}, {'b', 9}, {'c', 9}, {257, 9}, {256, 9}, {2, 9}, {'x', 9}, {258, 9}}),
                           8, out),
            CodecResult::kOk);
  EXPECT_TRUE(out == to_bytes("abcabxxx"));
  // The code being defined (KwKwK).
  ASSERT_EQ(unshrink_bytes(codes9({{'a', 9}, {257, 9}, {258, 9}}), 6, out), CodecResult::kOk);
  EXPECT_TRUE(out == to_bytes("aaaaaa"));
}

TEST(UnshrinkTest, BadDataEndsDecoding) {
  Bytes out;
  // Widening past 13 bits is refused.
  EXPECT_EQ(unshrink_bytes(codes9({{'A', 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11},
                                   {256, 12}, {1, 12}, {256, 13}, {1, 13}, {'B', 14}}),
                           2, out),
            CodecResult::kBadCode);
  // After the clear, code 257 is its own parent: the walk stops at the stack
  // bound instead of looping.
  EXPECT_EQ(unshrink_bytes(codes9({{'a', 9}, {'b', 9}, {257, 9}, {256, 9}, {2, 9}, {'x', 9}, {257, 9}}), 100, out),
            CodecResult::kBadCode);
  // A first code that is no byte.
  EXPECT_EQ(unshrink_bytes(codes9({{300, 9}}), 5, out), CodecResult::kBadCode);
  // Cut short under a huge declared size.
  Bytes packed = shrink(prose(5000, 43));
  packed.resize(packed.size() / 2);
  ziplib::MemorySource src(packed);
  ziplib::VectorSink sink;
  EXPECT_EQ(ziplib::unshrink(src, sink, uint64_t(4) << 30), CodecResult::kInputEnded);
  EXPECT_LT(sink.bytes.size(), 5000u);
  // Through the item decode the same is bad data.
  ziplib::MemorySource again(packed);
  ziplib::OutputSettings s;
  s.item_size = 5000;
  ziplib::OutputStage stage(s);
  ziplib::ItemParams p;
  p.method = 1;
  EXPECT_EQ(ziplib::decode_item(p, again, stage), ziplib::kDecodeBadData);
}
