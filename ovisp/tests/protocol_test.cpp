#include <gtest/gtest.h>

#include <thread>

#include "ovisp/memory_segment.h"
#include "ovisp/tests/fakes.h"
#include "platform/event.h"

namespace {

using ovisp::MemorySegment;
using ovisp_test::LibraryTest;

class Segments : public LibraryTest {};

TEST_F(Segments, SizeFloorAndEnds) {
  ASSERT_EQ(ispInit(), 1);
  MemorySegment small(0x80, "FF", 0);
  EXPECT_EQ(small.size(), 1024u);
  EXPECT_EQ(small.readByte(1023), "FF");
  EXPECT_EQ(small.readByte(1024), "FF");
  EXPECT_TRUE(small.writeByte(1023, "12"));
  EXPECT_FALSE(small.writeByte(1024, "12"));
  EXPECT_EQ(manager().lastError(), 2);
  EXPECT_EQ(small.readByte(1023), "12");
  small.allocSnapshot(small.size());
  small.saveSnapshot();
  small.reset();
  EXPECT_EQ(small.readByte(1023), "FF");
  small.restoreSnapshot();
  EXPECT_EQ(small.readByte(1023), "12");
  small.freeSnapshot();
  EXPECT_FALSE(small.hasSnapshot());
}

TEST_F(Segments, CrcCoversAllButTheLastTwoBytes) {
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ovisp::crc16X25(check, sizeof check), 0x906E);

  MemorySegment segment(1024, "FF", 0);
  std::vector<std::uint8_t> values(1022, 0xFF);
  for (std::uint32_t i = 0; i < 9; ++i) {
    segment.writeByte(i, ovisp::hexText(static_cast<std::uint32_t>(check[i]), 2));
    values[i] = check[i];
  }
  const std::uint16_t crc = segment.crc16();
  EXPECT_EQ(crc, ovisp::crc16X25(values.data(), values.size()));
  segment.writeByte(1022, "00");
  segment.writeByte(1023, "00");
  EXPECT_EQ(segment.crc16(), crc);
  segment.writeByte(1021, "00");
  EXPECT_NE(segment.crc16(), crc);
}

class ReadVerify : public LibraryTest {};

TEST_F(ReadVerify, SpansAndProgress) {
  ready(3, 2);
  platform::Event* event = static_cast<platform::Event*>(ispGetTaskPeriodicEventHandle());
  // One byte: one chunk of 100 percent, then the running sum is cleared.
  protocol->readVerifyBlock(0, 5, 5, false);
  EXPECT_EQ(trace, (ovisp_test::Trace{"readChunk 0 5 5"}));
  EXPECT_EQ(ispGetTaskCompletionPercent(), 100);
  EXPECT_TRUE(platform::event_wait(event, 0));
  EXPECT_EQ(clock.now, 200u);

  trace.clear();
  ispResetTaskCompletionPercent();
  protocol->readVerifyBlock(1, 0, 0xFFFF, true);
  ASSERT_EQ(trace.size(), 64u);
  EXPECT_EQ(trace.front(), "readChunk 1 0 3FF verify");
  EXPECT_EQ(trace.back(), "readChunk 1 FC00 FFFF verify");
  // 64 spans of 1.56 percent, reported each time the sum passes 10.
  EXPECT_GE(ispGetTaskCompletionPercent(), 90);
  EXPECT_LE(ispGetTaskCompletionPercent(), 100);
}

TEST_F(ReadVerify, CanOverSerialUsesSmallSpansFromThenOn) {
  ready(15, 3);
  protocol->readVerifyBlock(0, 0, 0x1F, false);
  EXPECT_EQ(trace, (ovisp_test::Trace{"readChunk 0 0 7", "readChunk 0 8 F", "readChunk 0 10 17", "readChunk 0 18 1F"}));
  EXPECT_EQ(protocol->readSpanSize, 8);
}

TEST_F(ReadVerify, ProgressSumAndEvent) {
  ready(3, 2);
  platform::Event* event = static_cast<platform::Event*>(ispGetTaskPeriodicEventHandle());
  manager().updateTaskProgress(12.5f);
  manager().updateTaskProgress(12.5f);
  EXPECT_EQ(ispGetTaskCompletionPercent(), 25);
  EXPECT_TRUE(platform::event_wait(event, 0));
  EXPECT_FALSE(platform::event_wait(event, 0));  // auto-reset: both signals fold into one wait
  manager().updateTaskProgress(0.0f);
  EXPECT_EQ(ispGetTaskCompletionPercent(), 25);
  EXPECT_FALSE(platform::event_wait(event, 0));
  manager().updateTaskProgress(5.0f);
  EXPECT_EQ(ispGetTaskCompletionPercent(), 5);
  ispResetTaskCompletionPercent();
  EXPECT_EQ(ispGetTaskCompletionPercent(), 0);
}

TEST(Event, WakesAWaiterOnAnotherThread) {
  platform::Event* e = platform::event_create();
  std::thread waiter([e] { EXPECT_TRUE(platform::event_wait(e, platform::kWaitForever)); });
  platform::event_set(e);
  waiter.join();
  EXPECT_FALSE(platform::event_wait(e, 1));
  platform::event_set(e);
  platform::event_reset(e);
  EXPECT_FALSE(platform::event_wait(e, 0));
  platform::event_destroy(e);
}

class ReplyValue : public ovisp::IspProtocol {
 public:
  ReplyValue() { replyEndChar = '.'; }
  std::string replyValue(std::string reply) override { return valueBeforeEndChar(reply); }
};

TEST(Protocol, ReplyValueNeedsTwoCharactersBeforeTheEnd) {
  ReplyValue p;
  EXPECT_EQ(p.replyValue("xx3C."), "3C");
  for (const char* bad : {"3C", ".3C", "3.", ""}) {
    try {
      p.replyValue(bad);
      ADD_FAILURE() << bad;
    } catch (const ovisp::IspError& e) {
      EXPECT_EQ(e.code, 27);
    }
  }
}

TEST(Protocol, SpecialByteCommandSlots) {
  ovisp::IspProtocol p;
  for (std::size_t i = 0; i < p.readSpecialByteCmds.size(); ++i) p.readSpecialByteCmds[i] = "r" + std::to_string(i);
  for (std::size_t i = 0; i < p.writeSpecialByteCmds.size(); ++i) p.writeSpecialByteCmds[i] = "w" + std::to_string(i);
  EXPECT_EQ(p.readSpecialByteCmd(2), "r3");
  EXPECT_EQ(p.readSpecialByteCmd(3), "r2");
  EXPECT_EQ(p.readSpecialByteCmd(19), "r19");
  EXPECT_FALSE(p.readSpecialByteCmd(20));
  EXPECT_EQ(p.writeSpecialByteCmd(1), "w0");
  EXPECT_EQ(p.writeSpecialByteCmd(2), "w12");
  EXPECT_EQ(p.writeSpecialByteCmd(5), "w3");
  EXPECT_EQ(p.writeSpecialByteCmd(12), "w4");
  EXPECT_EQ(p.writeSpecialByteCmd(19), "w11");
  for (int code : {0, 6, 11, 20}) EXPECT_FALSE(p.writeSpecialByteCmd(code)) << code;
}

}  // namespace
