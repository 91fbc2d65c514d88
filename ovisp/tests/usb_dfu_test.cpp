// The USB DFU protocol against a recording link: the request and payload
// texts of each operation, byte for byte, and the answers it turns into
// results and errors.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ovisp/comm_driver.h"
#include "ovisp/isp.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "ovisp/tests/fakes.h"
#include "platform/clock.h"

namespace {

// The target side as far as these tests need it: status replies and uploads
// are scripted, reads of memory are served from `image`.
class RecordingUsbLink : public ovisp_test::RecordingLinkBase {
 public:
  bool openUsb(std::uint32_t pid) override {
    calls.push_back("Open " + ovisp::hexText(pid, 4));
    return true;
  }
  bool close() override {
    calls.push_back("Close");
    return true;
  }
  bool writeUsb(const std::string& setup, const std::string& payload, int ms) override {
    calls.push_back("W " + setup + " " + payload + " " + std::to_string(ms));
    if (payload.size() == 12 && (payload.rfind("0300", 0) == 0 || payload.rfind("0302", 0) == 0)) {
      readFrom = std::stoul(payload.substr(4, 4), nullptr, 16);
    }
    return writeAnswer;
  }
  int readUsb(std::uint8_t* buffer, int length, const std::string& setup, int ms) override {
    calls.push_back("R " + setup + " " + std::to_string(ms));
    if (setup.rfind("A103", 0) == 0) {
      std::vector<std::uint8_t> reply = {0, 0, 0, 0, 2, 0};
      if (!statuses.empty()) {
        reply = statuses.front();
        if (statuses.size() > 1 || !repeatLastStatus) statuses.pop_front();
      }
      if (reply.empty()) return -1;
      std::copy(reply.begin(), reply.end(), buffer);
      return static_cast<int>(reply.size());
    }
    if (!uploads.empty()) {
      std::vector<std::uint8_t> bytes = uploads.front();
      uploads.pop_front();
      if (bytes.empty()) return -1;
      std::copy(bytes.begin(), bytes.end(), buffer);
      return static_cast<int>(bytes.size());
    }
    for (int i = 0; i < length; ++i) buffer[i] = image[(readFrom + static_cast<std::size_t>(i)) % image.size()];
    return length;
  }
  // Only the requests and payloads, in order.
  std::vector<std::string> writes() const {
    std::vector<std::string> out;
    for (const std::string& c : calls) {
      if (c.rfind("W ", 0) == 0) out.push_back(c.substr(2));
    }
    return out;
  }

  std::vector<std::string> calls;
  std::deque<std::vector<std::uint8_t>> statuses;
  bool repeatLastStatus = false;
  std::deque<std::vector<std::uint8_t>> uploads;
  std::vector<std::uint8_t> image = std::vector<std::uint8_t>(65536, 0x00);
  std::size_t readFrom = 0;
  bool writeAnswer = true;
};

class UsbDfu : public ovisp_test::RecordingLinkTest<RecordingUsbLink> {
 protected:
  void SetUp() override {
    RecordingLinkTest::SetUp();
    ASSERT_EQ(ispSelectDevice(3), 1);
    ASSERT_EQ(ispSelectCommHardware(2), 1) << ispGetLastError();
    ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
    link->calls.clear();
  }
  static std::string zeros(std::size_t bytes) { return std::string(2 * bytes, '0'); }
};

const std::string kGetStatus = "R A103000004000600 ";

TEST_F(UsbDfu, EraseIsTheFirstNumberedDownloadThenAStatusPoll) {
  ASSERT_EQ(ispEraseDevice(), 1) << ispGetLastError();
  ASSERT_EQ(link->calls.size(), 2u);
  EXPECT_EQ(link->calls[0], "W 2101FFFF04000300 0400FF 10000");
  EXPECT_EQ(link->calls[1], kGetStatus + "10000");
}

TEST_F(UsbDfu, SpecialByteReadSharesTheBlockCounterWithUpload) {
  link->uploads.push_back({0x2A});
  ASSERT_EQ(ispReadSpecialByte(0), 1) << ispGetLastError();
  EXPECT_STREQ(ispGetLastResult(), "2A");
  const std::vector<std::string> expected = {"W 2101FFFF04000300 050000 1000", kGetStatus + "1000",
                                             "R A102FEFF04000100 1000"};
  EXPECT_EQ(link->calls, expected);

  // Special-byte slots without a command are refused before any traffic:
  // an empty download would end the DFU session.
  link->calls.clear();
  EXPECT_EQ(ispReadSpecialByte(12), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  EXPECT_EQ(ispWriteSpecialByte(2, 0x12), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNotImplemented);
  EXPECT_TRUE(link->calls.empty());

  // A failed upload is an error, not a byte.
  link->uploads.push_back({});
  EXPECT_EQ(ispReadSpecialByte(4), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotReadUsb);
}

TEST_F(UsbDfu, OneByteAtAnUnalignedOffsetIsPaddedToItsAlignment) {
  ASSERT_EQ(ispWriteSingleByteToBuffer(0x21, "5A"), 1);
  ASSERT_EQ(ispProgramAddrRange(0x21, 0x21), 1) << ispGetLastError();
  const std::vector<std::string> writes = link->writes();
  ASSERT_EQ(writes.size(), 2u);
  // 32 header + 1 alignment + 1 data + 16 suffix = 50 bytes.
  EXPECT_EQ(writes[0], "2101FFFF04003200 01000021002" "1" + zeros(26) + zeros(1) + "5A" + zeros(16) + " 5000");
  // Programming memory 0 ends with the boot status byte.
  EXPECT_EQ(writes[1], "2101FEFF04000400 04010000 1000");
}

TEST_F(UsbDfu, ProgramRangesSplitIntoChunksOfAtMost3072Bytes) {
  auto headers = [&] {
    std::vector<std::string> out;
    for (const std::string& w : link->writes()) {
      const std::string payload = w.substr(17);
      if (payload.rfind("01", 0) == 0) out.push_back(payload.substr(0, 12) + " " + w.substr(12, 4));
    }
    return out;
  };
  ASSERT_EQ(ispProgramAddrRange(0, 4095), 1) << ispGetLastError();
  EXPECT_EQ(headers(), (std::vector<std::string>{"010000000BFF 300C", "01000C000FFF 3004"}));
  link->calls.clear();
  ASSERT_EQ(ispProgramAddrRange(0, 3071), 1);
  EXPECT_EQ(headers(), (std::vector<std::string>{"010000000BFF 300C"}));
  link->calls.clear();
  ASSERT_EQ(ispProgramAddrRange(0x40, 0x40 + 3072), 1);
  EXPECT_EQ(headers(), (std::vector<std::string>{"010000400C3F 300C", "01000C400C40 3100"}));

  ASSERT_EQ(ispSelectMemory(7), 1);
  EXPECT_EQ(ispProgramAddrRange(0, 0), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadMemory);
}

TEST_F(UsbDfu, StartingTheApplicationJumpsThenEndsTheDownloadAndCloses) {
  ASSERT_EQ(ispEnterAppliMode(0, 0), 1) << ispGetLastError();
  ASSERT_EQ(ispEnterAppliMode(0, 0), 1);
  const std::vector<std::string> expected = {
      "W 2101FFFF04000500 0403010000 1000", "W 2101FEFF04000000  1000", "Close",
      "W 2101FDFF04000500 0403010000 1000", "W 2101FCFF04000000  1000", "Close"};
  EXPECT_EQ(link->calls, expected);
  link->calls.clear();
  ASSERT_EQ(ispEnterAppliMode(1, 0), 1);
  EXPECT_EQ(link->writes().front(), "2101FBFF04000300 040300 1000");
  link->writeAnswer = false;
  EXPECT_EQ(ispEnterAppliMode(1, 0), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotWriteUsb);
}

TEST_F(UsbDfu, SecurityLevelAndFuseBits) {
  ASSERT_EQ(ispSetSecurityLev1(), 1) << ispGetLastError();
  EXPECT_EQ(link->calls.front(), "W 2101FFFF04000400 040105FE 1000");
  EXPECT_EQ(link->calls.back(), kGetStatus + "5000");

  link->calls.clear();
  link->uploads.push_back({0xFF});
  ASSERT_EQ(ispEnableFuseBit(2), 1) << ispGetLastError();
  EXPECT_EQ(link->writes().back().substr(17), "0402007F 1000");
  link->calls.clear();
  link->uploads.push_back({0x00});
  ASSERT_EQ(ispDisableFuseBit(1), 1);
  EXPECT_EQ(link->writes().back().substr(17), "04020040 1000");
  link->calls.clear();
  ASSERT_EQ(ispEnableFuseBit(0), 1);
  EXPECT_TRUE(link->calls.empty());
  EXPECT_EQ(ispEraseBlock(5), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kNoSuchCommand);
}

TEST_F(UsbDfu, VerifyReportsTheFirstDifferingOffset) {
  ASSERT_EQ(ispFillBuffer("00"), 1);
  link->image[0x123] = 0x01;
  EXPECT_EQ(ispVerifyAddrRange(0, 0x3FF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kVerifyFail);
  EXPECT_STREQ(ispGetLastResult(), "0123");
  EXPECT_EQ(link->calls[0], "W 2101FFFF04000600 0300000003FF 5000");
  EXPECT_EQ(link->calls[1], "R A102FEFF04000004 3000");

  // A read that answers fewer bytes than asked leaves none in the buffer.
  link->image[0x123] = 0x00;
  link->uploads.push_back({0x00, 0x00});
  EXPECT_EQ(ispReadAddrRange(0, 0x3FF, ""), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotReadUsb);
  ASSERT_EQ(ispVerifyAddrRange(0, 0x3FF), 1);
}

TEST_F(UsbDfu, BlankCheckFailureReadsTheOffset) {
  link->statuses.push_back({0x05, 0, 0, 0, 2, 0});
  link->uploads.push_back({0x01, 0x23});
  EXPECT_EQ(ispBlankCheckDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
  EXPECT_STREQ(ispGetLastResult(), "0123");
  const std::vector<std::string> expected = {"W 2101FFFF04000600 030100007FFF 20000", kGetStatus + "5000",
                                             "R A102000004000200 5000"};
  EXPECT_EQ(link->calls, expected);
  // Any other failing status is no answer about the range.
  link->statuses.push_back({0x0A, 0, 0, 0, 2, 0});
  EXPECT_EQ(ispBlankCheckDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotWriteUsb);
  EXPECT_STREQ(ispGetLastResult(), "0A");
}

TEST_F(UsbDfu, StatusPollWaitsForIdleAndIsBounded) {
  link->statuses = {{0, 0, 0, 0, 4, 0}, {0, 0, 0, 0, 4, 0}, {0x03, 0, 0, 0, 2, 0}};
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kSoftwareSecurity);
  EXPECT_STREQ(ispGetLastResult(), "03");
  EXPECT_EQ(link->calls.size(), 4u);

  // A slow erase: busy for 9.9 of its 10 seconds, polled with pauses, is no
  // time-out however quickly the link answers.
  link->calls.clear();
  link->statuses.assign(990, {0, 0, 0, 0, 4, 0});
  const std::uint32_t started = clock.now;
  ASSERT_EQ(ispEraseDevice(), 1) << ispGetLastError();
  EXPECT_EQ(clock.now - started, 9900u);
  EXPECT_EQ(link->calls.size(), 992u);

  // A target that never becomes idle: the wait ends when the erase's whole
  // time is spent, each status read allowed only what is left of it.
  link->calls.clear();
  link->statuses = {{0, 0, 0, 0, 10, 0}};
  link->repeatLastStatus = true;
  const std::uint32_t stuck = clock.now;
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
  EXPECT_EQ(clock.now - stuck, 10000u);
  EXPECT_EQ(link->calls[1], kGetStatus + "10000");
  EXPECT_EQ(link->calls[2], kGetStatus + "9990");
  link->repeatLastStatus = false;

  link->statuses = {{0, 0, 0, 0}};
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotReadUsb);
  link->statuses = {{}};
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
  link->writeAnswer = false;
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotWriteUsb);
}

TEST_F(UsbDfu, RefusedRequestsFailTheirOperation) {
  ASSERT_EQ(ispFillBuffer("5A"), 1);
  // The link refuses: no status read can stand for a request the target
  // never saw.
  link->writeAnswer = false;
  EXPECT_EQ(ispProgramAddrRange(0, 0xFF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotWriteUsb);
  EXPECT_EQ(link->calls.size(), 1u);
  for (auto op : {+[] { return ispBlankCheckDevice(); }, +[] { return ispWriteSpecialByte(4, 0xFF); },
                  +[] { return ispReadSpecialByte(0); }, +[] { return ispEraseBlock(1); },
                  +[] { return ispVerifyAddrRange(0, 0xFF); }}) {
    EXPECT_EQ(op(), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kCannotWriteUsb);
  }
  link->writeAnswer = true;

  // The target refuses: any status but OK after a program request.
  link->calls.clear();
  link->statuses.push_back({0x08, 0, 0, 0, 2, 0});
  EXPECT_EQ(ispProgramAddrRange(0, 0xFF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotWriteUsb);
  EXPECT_STREQ(ispGetLastResult(), "08");
  EXPECT_EQ(link->writes().size(), 1u);

  // Any other request the target answers with an error status did not take
  // effect either: an erase or a special-byte write is not done, and a read
  // command's upload would carry no value.
  struct Refusal {
    unsigned char (*op)();
    int error;
  };
  for (const Refusal& r : {Refusal{+[] { return ispEraseDevice(); }, ovisp::kCannotWriteUsb},
                           Refusal{+[] { return ispEraseBlock(1); }, ovisp::kCannotWriteUsb},
                           Refusal{+[] { return ispWriteSpecialByte(4, 0xFF); }, ovisp::kCannotWriteUsb},
                           Refusal{+[] { return ispReadSpecialByte(0); }, ovisp::kCannotReadUsb}}) {
    link->calls.clear();
    link->statuses = {{0x0A, 0, 0, 0, 2, 0}};
    EXPECT_EQ(r.op(), 0);
    EXPECT_EQ(ispGetLastError(), r.error);
    EXPECT_STREQ(ispGetLastResult(), "0A");
    EXPECT_EQ(link->writes().size(), 1u);
  }
}

TEST_F(UsbDfu, LowerCaseBufferBytesGoOutAndVerifyByValue) {
  ASSERT_EQ(ispFillBufferAddrRange(0, 3, "ab"), 1);
  ASSERT_EQ(ispWriteSingleByteToBuffer(2, "c0"), 1);
  ASSERT_EQ(ispProgramAddrRange(0, 3), 1) << ispGetLastError();
  EXPECT_EQ(link->writes().at(0), "2101FFFF04003400 010000000003" + zeros(26) + "ABABC0AB" + zeros(16) + " 5000");
  link->image[0] = link->image[1] = link->image[3] = 0xAB;
  link->image[2] = 0xC0;
  EXPECT_EQ(ispVerifyAddrRange(0, 3), 1) << ispGetLastError();
  // Reading back stores upper-case texts.
  ASSERT_EQ(ispReadAddrRange(0, 3, ""), 1);
  ispReadSingleByteFromBuffer(2);
  EXPECT_STREQ(ispGetLastResult(), "C0");
}

}  // namespace
