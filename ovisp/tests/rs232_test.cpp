// The RS-232 protocol and its variants against a recording link: the records
// each operation sends, character for character, and the answers it turns
// into results and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ovisp/comm_driver.h"
#include "ovisp/isp.h"
#include "ovisp/rs232.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "ovisp/tests/fakes.h"
#include "platform/clock.h"

namespace {

// A target that echoes each record and answers "." unless told otherwise.
class RecordingTextLink : public ovisp_test::RecordingLinkBase {
 public:
  bool openSerial(const std::string& port, int baud, std::uint8_t, std::uint8_t, std::uint8_t) override {
    calls.push_back("Open " + port + " " + std::to_string(baud));
    return true;
  }
  bool close() override {
    calls.push_back("Close");
    return true;
  }
  bool writeText(const std::string& frame) override {
    calls.push_back(frame);
    last = frame;
    return writable;
  }
  bool readText(std::string& text, int count, std::int8_t end, std::uint16_t ms) override {
    reads.push_back(std::to_string(count) + " " + std::string(1, static_cast<char>(end)) + " " + std::to_string(ms));
    if (!answers.empty()) {
      text = answers.front();
      answers.pop_front();
    } else {
      text = answer ? answer(last) : last + ".\r";
    }
    return !text.empty() && text != "error";
  }
  // The records written, without opens and closes.
  std::vector<std::string> records() const {
    std::vector<std::string> out;
    for (const std::string& c : calls) {
      if (c.rfind("Open", 0) != 0 && c != "Close") out.push_back(c);
    }
    return out;
  }

  std::vector<std::string> calls;
  std::vector<std::string> reads;
  std::deque<std::string> answers;
  std::function<std::string(const std::string&)> answer;
  std::string last;
  bool writable = true;
};

class Rs232 : public ovisp_test::RecordingLinkTest<RecordingTextLink> {
 protected:
  void ready(int device) {
    ASSERT_EQ(ispSelectDevice(device), 1);
    ASSERT_EQ(ispSelectCommHardware(1), 1) << ispGetLastError();
    link->calls.clear();
  }
  ovisp::Rs232Protocol& protocol() { return *dynamic_cast<ovisp::Rs232Protocol*>(ovisp::session().protocol()); }
  // Reads the bootloader version after queueing its answer.
  void version(const std::string& v) {
    link->answers.push_back(":020000050F00EA" + v + ".\r");
    ASSERT_EQ(ispReadSpecialByte(0), 1) << ispGetLastError();
  }
  std::string record(const std::string& body) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < body.size(); i += 2) sum += std::stoul(body.substr(i, 2), nullptr, 16);
    return ":" + body + ovisp::hexText((0x100 - (sum & 0xFF)) & 0xFF, 2);
  }
};

TEST_F(Rs232, CommandRecordsOfTheBaseFamily) {
  ready(11);
  ASSERT_EQ(ispWriteSpecialByte(5, 0xA5), 1) << ispGetLastError();
  ASSERT_EQ(ispEraseDevice(), 1);
  ASSERT_EQ(ispEnableFuseBit(2), 1);
  ASSERT_EQ(ispSetSecurityLev2(), 1);
  EXPECT_EQ(link->records(), (std::vector<std::string>{":030000030606A549", ":0100000307F5", ":030000030A0800E8",
                                                       ":020000030501F5"}));
  EXPECT_EQ(link->reads, (std::vector<std::string>{"0 \r 1000", "0 \r 10000", "0 \r 3000", "0 \r 1000"}));

  // Reading a special byte keeps the two characters before the '.'.
  link->calls.clear();
  link->answers.push_back(":020000050B00EE\r7F.\r");
  ASSERT_EQ(ispReadSpecialByte(4), 1);
  EXPECT_EQ(link->records(), std::vector<std::string>{":020000050B00EE"});
  EXPECT_STREQ(ispGetLastResult(), "7F");
  // The hardware byte has no write record in this family.
  EXPECT_EQ(ispWriteSpecialByte(4, 0x12), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);

  // The jump goes to 0000 whatever address is asked, and the link closes.
  link->calls.clear();
  ASSERT_EQ(ispEnterAppliMode(0, 0x1234), 1);
  EXPECT_EQ(link->calls, (std::vector<std::string>{":0400000303010000F5", "Close"}));
}

TEST_F(Rs232, ProgramRecordsFollowTheChunkGridAndTheBufferValues) {
  ready(11);
  for (unsigned a = 5; a <= 0x24; ++a) ispWriteSingleByteToBuffer(a, ovisp::hexText(a * 3 & 0xFF, 2).c_str());
  ispWriteSingleByteToBuffer(6, "ab");
  ASSERT_EQ(ispProgramAddrRange(5, 0x24), 1) << ispGetLastError();
  auto data = [](unsigned from, unsigned to) {
    std::string d;
    for (unsigned a = from; a <= to; ++a) d += a == 6 ? "AB" : ovisp::hexText(a * 3 & 0xFF, 2);
    return d;
  };
  const std::vector<std::string> records = link->records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], record("0B000500" + data(5, 0xF)));
  EXPECT_EQ(records[1], record("10001000" + data(0x10, 0x1F)));
  EXPECT_EQ(records[2], record("05002000" + data(0x20, 0x24)));
  // After programming memory 0, the boot status byte is cleared.
  EXPECT_EQ(records[3], ":03000003060000F4");

  // Memory 1 goes out as record type 07.
  link->calls.clear();
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispSelectCommHardware(1), 1);
  ASSERT_EQ(ispSelectMemory(1), 1);
  ASSERT_EQ(ispProgramAddrRange(0, 0), 1);
  EXPECT_EQ(link->records(), std::vector<std::string>{":01000007FFF9"});
}

TEST_F(Rs232, DisplayRepliesAreParsedLineByLine) {
  ready(11);
  // 0x0005 to 0x0018 in the simulator's framing: a full line and a short one.
  std::string reply = ":050000040005001800DA\n0005=";
  for (unsigned a = 5; a < 0x15; ++a) reply += ovisp::hexText(a, 2);
  reply += "\r0015=15161718\r";
  ASSERT_EQ(reply.size(), 74u);
  link->answers.push_back(reply);
  ASSERT_EQ(ispReadAddrRange(5, 0x18, ""), 1) << ispGetLastError();
  EXPECT_EQ(link->records(), std::vector<std::string>{":050000040005001800DA"});
  // Taken line by line: each read ends at a carriage return.
  ASSERT_FALSE(link->reads.empty());
  EXPECT_EQ(link->reads.front().substr(link->reads.front().find(' ')), " \r 5000");
  ispReadSingleByteFromBuffer(0x17);
  EXPECT_STREQ(ispGetLastResult(), "17");

  // Verify compares values; the first difference is the result.
  link->answers.push_back(reply);
  ispWriteSingleByteToBuffer(0x0A, "0a");
  ASSERT_EQ(ispVerifyAddrRange(5, 0x18), 1) << ispGetLastError();
  ispWriteSingleByteToBuffer(0x16, "00");
  link->answers.push_back(reply);
  EXPECT_EQ(ispVerifyAddrRange(5, 0x18), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kVerifyFail);
  EXPECT_STREQ(ispGetLastResult(), "0016");

  // Replies that do not carry the whole range, in order and in hex, fail.
  const std::string bad[] = {
      reply.substr(0, 60) + "\r",                          // cut short
      ":050000040005001800DA\n=0102\r",                    // no offset before '='
      ":050000040005001800DA\n0006=" + reply.substr(27),   // wrong first offset
      ":050000040005001800DA\n0005=0G" + reply.substr(29), // not a pair
      ":050000040005001800DA\n0005=" + reply.substr(27, 32),  // no line end
  };
  for (const std::string& b : bad) {
    link->answers.push_back(b);
    EXPECT_EQ(ispReadAddrRange(5, 0x18, ""), 0) << b;
    EXPECT_EQ(ispGetLastError(), ovisp::kWrongReply) << b;
    link->answers.push_back(b);
    EXPECT_EQ(ispVerifyAddrRange(5, 0x18), 0) << b;
  }
}

TEST_F(Rs232, DeadOrComplainingTargetsFailEveryCommand) {
  ready(11);
  const std::function<unsigned char()> operations[] = {
      [] { return ispEraseDevice(); },
      [] { return ispBlankCheckAddrRange(0, 15); },
      [] { return ispSetSecurityLev1(); },
      [] { return ispProgramAddrRange(0, 3); },
      [] { return ispVerifyAddrRange(0, 3); },
      [] { return ispReadSpecialByte(0); },
  };
  const std::pair<std::string, int> answers[] = {
      {"", ovisp::kTimeout}, {"error", ovisp::kReadingError}, {"X\r", ovisp::kChecksumError},
      {"P\r", ovisp::kWriteProtected}, {"L\r", ovisp::kRwProtected}};
  for (const auto& [answer, code] : answers) {
    for (std::size_t i = 0; i < std::size(operations); ++i) {
      link->answer = [&](const std::string& sent) { return answer.empty() || answer == "error" ? answer : sent + answer; };
      EXPECT_EQ(operations[i](), 0) << "operation " << i << " answer " << answer;
      EXPECT_EQ(ispGetLastError(), code) << "operation " << i << " answer " << answer;
    }
  }
  // An echo without the '.' is no answer where one is required.
  link->answer = [](const std::string& sent) { return sent + "\r"; };
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
  link->answer = nullptr;
  link->writable = false;
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotWritePort);
}

TEST_F(Rs232, BlankCheckAndSynchronisation) {
  ready(11);
  link->answers.push_back(":0500000400007FFF0178\n0456\r");
  EXPECT_EQ(ispBlankCheckAddrRange(0, 0x7FFF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
  EXPECT_STREQ(ispGetLastResult(), "0456");
  EXPECT_EQ(link->records(), std::vector<std::string>{":0500000400007FFF0178"});
  link->answers.push_back(":0500000400007FFF0178\nzz56\r");
  EXPECT_EQ(ispBlankCheckAddrRange(0, 0x7FFF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kWrongReply);
  ASSERT_EQ(ispBlankCheckAddrRange(0, 0x7FFF), 1) << ispGetLastError();

  link->calls.clear();
  link->reads.clear();
  link->answers = {"U"};
  ASSERT_EQ(ispSyncTarget(), 1);
  EXPECT_EQ(link->records(), std::vector<std::string>{"U"});
  EXPECT_EQ(link->reads, std::vector<std::string>{"0 U 1000"});
  link->answers = {"?"};
  EXPECT_EQ(ispSyncTarget(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kFramingError);
  link->answers = {""};
  EXPECT_EQ(ispSyncTarget(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
}

TEST_F(Rs232, VersionRulesOfTheVariants) {
  // Device 14: "11" shrinks the chunks, drops the extra byte and the start
  // commands, and leaves a device of one 32 KB memory.
  ready(14);
  version("11");
  EXPECT_EQ(protocol().writeChunkSize, 16);
  EXPECT_EQ(ispWriteSpecialByte(5, 1), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  EXPECT_EQ(ispEnterAppliMode(1, 0), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  EXPECT_EQ(ovisp::session().device()->memorySize(), 0x8000u);
  EXPECT_FALSE(ovisp::session().device()->hasMemory(1));
  ready(14);
  version("45");
  EXPECT_EQ(protocol().writeChunkSize, 128);
  EXPECT_TRUE(ovisp::session().device()->hasMemory(1));
  EXPECT_FALSE(ovisp::session().device()->hasMemory(2));
  ready(14);
  version("50");
  EXPECT_TRUE(ovisp::session().device()->hasMemory(2));
  EXPECT_EQ(protocol().writeChunkSize, 128);

  // Device 6: 16-byte records up to version "11", 128 after.
  for (const auto& [v, records] : {std::pair{std::string("11"), 8u}, std::pair{std::string("12"), 1u}}) {
    ready(6);
    version(v);
    link->calls.clear();
    ASSERT_EQ(ispProgramAddrRange(0, 127), 1);
    EXPECT_EQ(link->records().size(), records + 1) << v;  // and the boot status byte
  }

  // Fuse bit 0 does not exist on device 5: refused without traffic.
  ready(5);
  EXPECT_EQ(ispEnableFuseBit(0), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  EXPECT_TRUE(link->calls.empty());
  ASSERT_EQ(ispEnableFuseBit(2), 1);
  EXPECT_EQ(link->records(), std::vector<std::string>{":030000030A0800E8"});
}

TEST_F(Rs232, ReplacedDeviceKeepsTheLoadedBufferAndTheSelectionIsSafe) {
  ready(16);
  ASSERT_EQ(ispSelectMemory(1), 1);
  ASSERT_EQ(ispWriteSingleByteToBuffer(3, "44"), 1);
  ASSERT_EQ(ispSelectMemory(0), 1);
  for (unsigned a = 0; a < 0x4000; a += 0x1000) ASSERT_EQ(ispWriteSingleByteToBuffer(a, "5A"), 1);
  ASSERT_EQ(ispSelectMemory(1), 1);
  // The version is read with memory 1 current, which the new form lacks.
  version("10");
  ovisp::Device* device = ovisp::session().device();
  EXPECT_FALSE(device->hasMemory(1));
  EXPECT_EQ(device->currentMemory(), 0);
  EXPECT_EQ(device->memorySize(), 0x4000u);
  EXPECT_EQ(device->bootloaderVersion(), "10");
  for (unsigned a = 0; a < 0x4000; a += 0x1000) {
    ispReadSingleByteFromBuffer(a);
    EXPECT_STREQ(ispGetLastResult(), "5A");
  }
  EXPECT_EQ(ispSelectMemory(1), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadMemory);
  ASSERT_EQ(ispProgramDevice(), 1) << ispGetLastError();
}

TEST_F(Rs232, PagedDeviceSelectsMemoryAndPageByAddressRecords) {
  ready(24);
  ASSERT_EQ(ispSelectMemory(0), 1);
  link->calls.clear();
  ovisp::session().protocol()->selectMemoryPage(0, 1);
  ovisp::session().protocol()->selectMemoryPage(0, 1);
  EXPECT_EQ(link->records(), (std::vector<std::string>{":020000040000FA", ":020000021000EC", ":020000040000FA",
                                                       ":020000021000EC"}));
  // A range across 64 KB selects each page before its part.
  link->calls.clear();
  ASSERT_EQ(ispProgramAddrRange(0xFFFF, 0x10000), 1) << ispGetLastError();
  const std::vector<std::string> records = link->records();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[0], ":020000040000FA");
  EXPECT_EQ(records[1], ":020000020000FC");
  EXPECT_EQ(records[2], ":01FFFF00FF02");
  const auto page1 = std::find(records.begin(), records.end(), ":020000021000EC");
  ASSERT_NE(page1, records.end());
  ASSERT_NE(page1 + 1, records.end());
  EXPECT_EQ(*(page1 + 1), ":01000000FF00");
  // The boot status byte lives in memory 4.
  EXPECT_NE(std::find(records.begin(), records.end(), ":020000040400F6"), records.end());
}

TEST_F(Rs232, CrcVariantsSynchroniseByRetryAndProgramTheWholeMemory) {
  ready(21);
  int tries = 0;
  link->answer = [&](const std::string& sent) {
    if (sent != "U") return sent + ".\r";
    return ++tries == 30 ? std::string("U") : std::string();
  };
  ASSERT_EQ(ispSyncTarget(), 1) << ispGetLastError();
  EXPECT_EQ(link->records().size(), 30u);
  EXPECT_EQ(link->reads.back(), "0 U 100");

  tries = -1000;
  link->calls.clear();
  EXPECT_EQ(ispSyncTarget(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
  EXPECT_EQ(link->records().size(), 101u);

  // A file covering the first bytes still programs all 16 KB, in 64-byte
  // records, the CRC of all bytes but the last two at the end (low byte
  // first).
  link->calls.clear();
  link->answer = nullptr;
  ASSERT_EQ(ispWriteSingleByteToBuffer(0, "12"), 1);
  ASSERT_EQ(ispProgramAddrRange(0, 0), 1) << ispGetLastError();
  const std::vector<std::string> records = link->records();
  ASSERT_EQ(records.size(), 256u);
  EXPECT_EQ(records.front().substr(0, 11), ":4000000012");
  ASSERT_EQ(ispComputeCrc(), 1);
  const std::string crc = ispGetLastResult();
  EXPECT_EQ(records.back().substr(0, 9), ":403FC000");
  EXPECT_EQ(records.back().substr(records.back().size() - 6, 4), crc.substr(2, 2) + crc.substr(0, 2));

  // The read command keeps its own code 03.
  link->calls.clear();
  link->answers.push_back(":050000040000000303F1\n0000=12FFFFFF\r");
  ASSERT_EQ(ispReadAddrRange(0, 3, ""), 1) << ispGetLastError();
  EXPECT_EQ(link->records(), std::vector<std::string>{":050000040000000303F1"});

  // Device 21's special commands.
  link->calls.clear();
  ASSERT_EQ(ispExecSpecialCmd(1), 1);
  EXPECT_EQ(link->records(), std::vector<std::string>{":0300000306057F70"});
}

}  // namespace
