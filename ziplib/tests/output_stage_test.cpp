#include <gtest/gtest.h>

#include "ziplib/output_stage.h"
#include "ziplib/tests/decode_test_support.h"

using namespace decode_test;

namespace {

struct Outcome {
  int result;
  Bytes written;
};

Outcome decode(const Bytes& plain, int method, ziplib::OutputSettings s, uint32_t crc) {
  Bytes packed = method == 8 ? zlib_deflate(plain, 6) : plain;
  Outcome run;
  if (s.mode == ziplib::OutputMode::kFile && !s.write_file)
    s.write_file = [&run](const uint8_t* p, size_t n) {
      run.written.insert(run.written.end(), p, p + n);
      return true;
    };
  ziplib::MemorySource src(packed, 1000);
  ziplib::OutputStage stage(std::move(s));
  ziplib::ItemParams p;
  p.method = method;
  p.crc = crc;
  run.result = ziplib::decode_item(p, src, stage);
  return run;
}

uint32_t zcrc(const Bytes& b) { return uint32_t(crc32(0, b.data(), uInt(b.size()))); }

}  // namespace

TEST(OutputStageTest, FilesStoredAndDeflatedWithCrcCheck) {
  Bytes plain = prose(200000, 52);
  for (int method : {0, 8}) {
    ziplib::OutputSettings s;
    s.mode = ziplib::OutputMode::kFile;
    s.item_size = plain.size();
    Outcome r = decode(plain, method, s, zcrc(plain));
    EXPECT_EQ(r.result, ziplib::kDecodeOk);
    EXPECT_TRUE(r.written == plain);
    EXPECT_EQ(decode(plain, method, s, zcrc(plain) ^ 1).result, ziplib::kDecodeBadCrc);
  }
  EXPECT_EQ(decode(plain, 7, {}, 0).result, ziplib::kDecodeUnknownMethod);
  EXPECT_EQ(decode(plain, 10, {}, 0).result, ziplib::kDecodeUnknownMethod);
}

TEST(OutputStageTest, TextModeWritesCrLfAndChecksTheOriginal) {
  Bytes plain = to_bytes("one\ntwo\nthree\n");
  ziplib::OutputSettings s;
  s.mode = ziplib::OutputMode::kFile;
  s.item_size = plain.size();
  s.text_mode = true;
  Outcome r = decode(plain, 8, s, zcrc(plain));
  EXPECT_EQ(r.result, ziplib::kDecodeOk);
  EXPECT_TRUE(r.written == to_bytes("one\r\ntwo\r\nthree\r\n"));
}

TEST(OutputStageTest, OutputPastTheSizeIsCutAndFarPastIsAnOverrun) {
  Bytes plain = prose(5000, 53);
  ziplib::OutputSettings s;
  s.mode = ziplib::OutputMode::kFile;
  s.item_size = plain.size() - 500;
  Bytes head(plain.begin(), plain.end() - 500);
  Outcome r = decode(plain, 8, s, zcrc(head));
  EXPECT_EQ(r.result, ziplib::kDecodeOk);
  EXPECT_TRUE(r.written == head);
  s.item_size = plain.size() - 1500;
  r = decode(plain, 8, s, 0);
  EXPECT_EQ(r.result, ziplib::kDecodeOverrun);
  EXPECT_LE(r.written.size(), plain.size() - 1500);
}

TEST(OutputStageTest, WriteFailureAndCancel) {
  Bytes plain = prose(100000, 54);
  ziplib::OutputSettings s;
  s.mode = ziplib::OutputMode::kFile;
  s.item_size = plain.size();
  s.write_file = [](const uint8_t*, size_t) { return false; };
  EXPECT_EQ(decode(plain, 8, s, zcrc(plain)).result, ziplib::kDecodeWriteFailed);
  ziplib::OutputSettings t;
  t.item_size = plain.size();
  t.progress = [](uint64_t produced) { return produced > 0; };
  EXPECT_EQ(decode(plain, 8, t, zcrc(plain)).result, ziplib::kDecodeCancelled);
}

TEST(OutputStageTest, MemoryBlocks) {
  Bytes plain = prose(100000, 55);
  Bytes block(30000, 0);
  ziplib::OutputSettings s;
  s.mode = ziplib::OutputMode::kMemory;
  s.item_size = plain.size();
  s.work_size = ziplib::kSmallWorkBufferSize;
  s.block = block.data();
  s.block_size = block.size();
  // A block smaller than the item fills and ends the item without error
  // (the CRC cannot be checked).
  EXPECT_EQ(decode(plain, 8, s, 0).result, ziplib::kDecodeOk);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), plain.begin()));
  s.start_offset = 12345;
  EXPECT_EQ(decode(plain, 8, s, 0).result, ziplib::kDecodeOk);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), plain.begin() + 12345));
  // A whole item from offset 0 is checked.
  Bytes whole(plain.size());
  s.block = whole.data();
  s.block_size = whole.size();
  s.start_offset = 0;
  EXPECT_EQ(decode(plain, 8, s, zcrc(plain)).result, ziplib::kDecodeOk);
  EXPECT_TRUE(whole == plain);
  EXPECT_EQ(decode(plain, 8, s, zcrc(plain) ^ 1).result, ziplib::kDecodeBadCrc);
  // Without a block the window goes to the host.
  Bytes got;
  s.block = nullptr;
  s.block_size = 20000;
  s.start_offset = 100;
  s.host = [&got](const uint8_t* p, size_t n, uint64_t pos) {
    EXPECT_EQ(pos, got.size());
    got.insert(got.end(), p, p + n);
    return 3;
  };
  EXPECT_EQ(decode(plain, 8, s, 0).result, ziplib::kDecodeOk);
  EXPECT_TRUE(got == Bytes(plain.begin() + 100, plain.begin() + 20100));
}

TEST(OutputStageTest, HostDelivery) {
  Bytes plain = prose(50000, 56);
  Bytes got;
  ziplib::OutputSettings s;
  s.mode = ziplib::OutputMode::kHost;
  s.item_size = 0x7FFFFFFF;
  s.work_size = ziplib::kSmallWorkBufferSize;
  s.host = [&got](const uint8_t* p, size_t n, uint64_t pos) {
    EXPECT_EQ(pos, got.size());
    got.insert(got.end(), p, p + n);
    return 3;
  };
  EXPECT_EQ(decode(plain, 8, s, 0).result, ziplib::kDecodeOk);
  EXPECT_TRUE(got == plain);
  s.host = [](const uint8_t*, size_t, uint64_t) { return 0; };
  EXPECT_EQ(decode(plain, 8, s, 0).result, ziplib::kDecodeBadData);
}

TEST(OutputStageTest, ItemsCutShort) {
  Bytes plain = prose(20000, 57);
  Bytes z = zlib_deflate(plain, 6);
  z.resize(z.size() / 2);
  ziplib::OutputSettings s;
  s.item_size = plain.size();
  ziplib::ItemParams p;
  p.method = 8;
  p.crc = zcrc(plain);
  {
    ziplib::MemorySource src(z);
    ziplib::OutputStage stage(s);
    EXPECT_EQ(ziplib::decode_item(p, src, stage), ziplib::kDecodeBadData);
  }
  // When the host supplies the item, its end of data ends the item.
  p.host_input = true;
  s.mode = ziplib::OutputMode::kHost;
  s.host = [](const uint8_t*, size_t, uint64_t) { return 3; };
  ziplib::MemorySource src(z);
  ziplib::OutputStage stage(s);
  EXPECT_EQ(ziplib::decode_item(p, src, stage), ziplib::kDecodeOk);
}
