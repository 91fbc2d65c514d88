#include <gtest/gtest.h>

#include <map>

#include "ziplib/decode.h"
#include "ziplib/output_stage.h"
#include "ziplib/tests/decode_test_support.h"

using namespace decode_test;
using ziplib::CodecResult;

namespace {

// Reduced data from the byte stream before expansion: follower sets first
// (for bytes 255 down to 0), then each byte as a follower index when it is
// one of the previous byte's followers, else a flag bit and 8 bits.
Bytes reduced(const std::vector<uint8_t>& stream, const std::map<uint8_t, Bytes>& followers = {}) {
  BitWriter w;
  for (int b = 255; b >= 0; --b) {
    auto it = followers.find(uint8_t(b));
    if (it == followers.end()) {
      w.put(0, 6);
      continue;
    }
    w.put(unsigned(it->second.size()), 6);
    for (uint8_t f : it->second) w.put(f, 8);
  }
  uint8_t last = 0;
  for (uint8_t c : stream) {
    auto it = followers.find(last);
    if (it == followers.end() || it->second.empty()) {
      w.put(c, 8);
    } else {
      const Bytes& set = it->second;
      unsigned bits = 1;
      while ((1u << bits) < set.size()) ++bits;
      auto at = std::find(set.begin(), set.end(), c);
      if (at == set.end()) {
        w.put(1, 1);
        w.put(c, 8);
      } else {
        w.put(0, 1);
        w.put(unsigned(at - set.begin()), bits);
      }
    }
    last = c;
  }
  return w.finish();
}

CodecResult unreduce_bytes(const Bytes& packed, int factor, uint64_t size, Bytes& out) {
  ziplib::MemorySource src(packed, 3);
  ziplib::VectorSink sink;
  CodecResult r = ziplib::unreduce(src, sink, factor, size);
  out = std::move(sink.bytes);
  if (out.size() > size) out.resize(size);
  return r;
}

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t((i * 7) % 251 == 0x90 ? 1 : (i * 7) % 251);
  return b;
}

}  // namespace

TEST(UnreduceTest, EscapesAndCopies) {
  Bytes out;
  // 144 then 0 is a literal 144.
  for (int factor = 1; factor <= 4; ++factor) {
    ASSERT_EQ(unreduce_bytes(reduced({'a', 0x90, 0x00, 'b'}), factor, 3, out), CodecResult::kOk);
    EXPECT_TRUE(out == Bytes({'a', 0x90, 'b'})) << factor;
  }
  // Factor 4: V = 0x35, byte 0x10 copies 5 + 3 bytes from 3 * 256 + 16 + 1 = 785 back.
  Bytes head = pattern(1000);
  std::vector<uint8_t> stream(head.begin(), head.end());
  for (uint8_t c : {0x90, 0x35, 0x10}) stream.push_back(c);
  ASSERT_EQ(unreduce_bytes(reduced(stream), 4, 1008, out), CodecResult::kOk);
  Bytes want = head;
  want.insert(want.end(), head.begin() + (1000 - 785), head.begin() + (1000 - 785 + 8));
  EXPECT_TRUE(out == want);
  // V = 0x3F: the length part equals the mask, so the next byte adds to it.
  stream.assign(head.begin(), head.end());
  for (uint8_t c : {0x90, 0x3F, 0x05, 0x00}) stream.push_back(c);
  ASSERT_EQ(unreduce_bytes(reduced(stream), 4, 1023, out), CodecResult::kOk);
  want = head;
  want.insert(want.end(), head.begin() + (1000 - 769), head.begin() + (1000 - 769 + 23));
  EXPECT_TRUE(out == want);
  // Factor 1: one distance bit above the byte, a 7-bit length.
  stream.assign(head.begin(), head.begin() + 600);
  for (uint8_t c : {0x90, 0x82, 0x0F}) stream.push_back(c);
  ASSERT_EQ(unreduce_bytes(reduced(stream), 1, 605, out), CodecResult::kOk);
  want.assign(head.begin(), head.begin() + 600);
  want.insert(want.end(), head.begin() + (600 - 272), head.begin() + (600 - 272 + 5));
  EXPECT_TRUE(out == want);
  // A copy from before the first byte gives zeros.
  ASSERT_EQ(unreduce_bytes(reduced({0x90, 0x01, 0x04}), 3, 4, out), CodecResult::kOk);
  EXPECT_TRUE(out == Bytes(4, 0));
}

TEST(UnreduceTest, FollowerSets) {
  Bytes out;
  std::map<uint8_t, Bytes> f{{0, {'x', 'y', 'z'}}, {'y', {'a', 'b', 'c', 'd', 'e'}}};
  ASSERT_EQ(unreduce_bytes(reduced({'y', 'd', 'q'}, f), 2, 3, out), CodecResult::kOk);
  EXPECT_TRUE(out == to_bytes("ydq"));
  // An index past the follower count reads a follower never defined: zero.
  BitWriter w;
  for (int b = 255; b >= 0; --b) {
    if (b == 0) {
      w.put(3, 6);
      for (uint8_t c : {'x', 'y', 'z'}) w.put(c, 8);
    } else {
      w.put(0, 6);
    }
  }
  w.put(0, 1);
  w.put(3, 2);
  ASSERT_EQ(unreduce_bytes(w.finish(), 2, 1, out), CodecResult::kOk);
  EXPECT_TRUE(out == Bytes(1, 0));
}

TEST(UnreduceTest, TruncationStopsAndItemChecksCrc) {
  Bytes head = pattern(3000);
  std::vector<uint8_t> stream(head.begin(), head.end());
  Bytes packed = reduced(stream);
  Bytes cut(packed.begin(), packed.begin() + long(packed.size() / 2));
  ziplib::MemorySource src(cut);
  ziplib::VectorSink sink;
  EXPECT_EQ(ziplib::unreduce(src, sink, 2, uint64_t(4) << 30), CodecResult::kInputEnded);
  EXPECT_LT(sink.bytes.size(), head.size());

  for (int method = 2; method <= 5; ++method) {
    ziplib::MemorySource in(packed, 10240);
    ziplib::OutputSettings s;
    s.item_size = head.size();
    ziplib::OutputStage stage(s);
    ziplib::ItemParams p;
    p.method = method;
    p.crc = uint32_t(crc32(0, head.data(), uInt(head.size())));
    EXPECT_EQ(ziplib::decode_item(p, in, stage), ziplib::kDecodeOk) << method;
  }
}
