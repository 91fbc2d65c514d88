// The USB DFU variants: their payloads against a recording link.
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
#include "ovisp/usb_dfu.h"
#include "platform/clock.h"

namespace {

// Records the payloads; every status is OK and idle, uploads come from the
// queue or are 5A bytes.
class PayloadLink : public ovisp_test::RecordingLinkBase {
 public:
  bool openUsb(std::uint32_t) override { return true; }
  bool close() override {
    payloads.push_back("Close");
    return true;
  }
  bool writeUsb(const std::string& setup, const std::string& payload, int) override {
    payloads.push_back(payload);
    setups.push_back(setup);
    if (failWritesAfter >= 0 && static_cast<int>(payloads.size()) > failWritesAfter) return false;
    return true;
  }
  int readUsb(std::uint8_t* buffer, int length, const std::string& setup, int) override {
    if (setup.rfind("A103", 0) == 0) {
      const std::uint8_t ok[6] = {0, 0, 0, 0, 2, 0};
      std::copy(ok, ok + 6, buffer);
      return 6;
    }
    for (int i = 0; i < length; ++i) buffer[i] = 0x5A;
    return length;
  }

  std::vector<std::string> payloads;
  std::vector<std::string> setups;
  int failWritesAfter = -1;
};

class UsbDfuVariants : public ovisp_test::RecordingLinkTest<PayloadLink> {
 protected:
  void ready(int device, int code) {
    ASSERT_EQ(ispSelectDevice(device), 1);
    ASSERT_EQ(ispSelectCommHardware(code), 1) << ispGetLastError();
    ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
  }
  static std::string zeros(std::size_t bytes) { return std::string(2 * bytes, '0'); }
};

TEST_F(UsbDfuVariants, ExtendedCommandSet) {
  // Opening on code 10 writes mode 01 at offset 0 of unit 3.
  ready(3, 10);
  EXPECT_EQ(link->payloads, (std::vector<std::string>{"06030300", "010000000000" + zeros(26) + "01" + zeros(16)}));

  // A special byte is read from its unit with the first digit zeroed.
  link->payloads.clear();
  ASSERT_EQ(ispReadSpecialByte(8), 1) << ispGetLastError();
  EXPECT_STREQ(ispGetLastResult(), "5A");
  ASSERT_GE(link->payloads.size(), 2u);
  EXPECT_EQ(link->payloads[0], "06030600");
  EXPECT_EQ(link->payloads[1], "030000300030");

  // The security byte is a one-byte program at offset 5: length 5 + 49.
  link->payloads.clear();
  link->setups.clear();
  ASSERT_EQ(ispWriteSpecialByte(2, 0xFE), 1) << ispGetLastError();
  EXPECT_EQ(link->payloads[1], "010000050005" + zeros(26) + zeros(5) + "FE" + zeros(16));
  EXPECT_EQ(link->setups[1].substr(12, 4), "3600");

  // Program and read requests carry no memory code: the unit was selected.
  link->payloads.clear();
  ASSERT_EQ(ispSelectMemory(1), 1);
  ASSERT_EQ(ispProgramAddrRange(0x10, 0x10), 1) << ispGetLastError();
  // (the memory's unit is selected again before the range)
  EXPECT_EQ(link->payloads[1], "06030100");
  EXPECT_EQ(link->payloads[2].substr(0, 12), "010000100010");
  link->payloads.clear();
  ASSERT_EQ(ispReadAddrRange(0, 3, ""), 1) << ispGetLastError();
  EXPECT_EQ(link->payloads[1], "030000000003");

  // Memory 7 and memory 0 are erased by command, other memories not at all.
  link->payloads.clear();
  ASSERT_EQ(ispSelectMemory(7), 1);
  link->payloads.clear();
  ASSERT_EQ(ispEraseDevice(), 1);
  EXPECT_EQ(link->payloads, (std::vector<std::string>{"06030700", "01800000"}));
}

TEST_F(UsbDfuVariants, ErasingMemoryOneByProgrammingKeepsTheLoadedBuffer) {
  ready(3, 9);
  ASSERT_EQ(ispSelectMemory(1), 1);
  ASSERT_EQ(ispWriteSingleByteToBuffer(0x20, "12"), 1);
  link->payloads.clear();
  ASSERT_EQ(ispEraseDevice(), 1) << ispGetLastError();
  // Its unit is selected first (the erase names none), then the whole
  // memory goes out blank.
  ASSERT_GE(link->payloads.size(), 2u);
  EXPECT_EQ(link->payloads[0], "06030100");
  EXPECT_EQ(link->payloads[1].substr(0, 12), "0100000003FF");
  EXPECT_EQ(link->payloads[1].find("12", 64), std::string::npos);
  ispReadSingleByteFromBuffer(0x20);
  EXPECT_STREQ(ispGetLastResult(), "12");
  // A refused write fails the erase and still gives the buffer back.
  link->failWritesAfter = static_cast<int>(link->payloads.size());
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotWriteUsb);
  ispReadSingleByteFromBuffer(0x20);
  EXPECT_STREQ(ispGetLastResult(), "12");
}

TEST_F(UsbDfuVariants, CrcDeviceProgramsItsWholeMemoryWithTheCrc) {
  ready(13, 2);
  ASSERT_EQ(ispWriteSingleByteToBuffer(0, "34"), 1);
  ASSERT_EQ(ispProgramAddrRange(0, 0), 1) << ispGetLastError();
  ASSERT_EQ(ispComputeCrc(), 1);
  const std::string crc = ispGetLastResult();
  std::vector<std::string> programs;
  for (const std::string& p : link->payloads) {
    if (p.rfind("01", 0) == 0 && p.size() > 100) programs.push_back(p);
  }
  // 32 KB in chunks of 3072 bytes: ten full and one of 2048.
  ASSERT_EQ(programs.size(), 11u);
  EXPECT_EQ(programs.front().substr(0, 12), "010000000BFF");
  EXPECT_EQ(programs.back().substr(0, 12), "010078007FFF");
  const std::string& last = programs.back();
  EXPECT_EQ(last.substr(last.size() - 32 - 4, 4), crc.substr(2, 2) + crc.substr(0, 2));
  // No boot status write after programming.
  EXPECT_EQ(link->payloads.back().rfind("04", 0), std::string::npos);
}

TEST_F(UsbDfuVariants, PagedAppStartsAllByResetAtFFFF) {
  ready(12, 2);
  link->payloads.clear();
  ASSERT_EQ(ispEnterAppliMode(1, 0xFFFF), 1);
  EXPECT_EQ(link->payloads, (std::vector<std::string>{"0403FF", "", "Close"}));
  ready(12, 2);
  link->payloads.clear();
  ASSERT_EQ(ispEnterAppliMode(1, 0x1234), 1);
  EXPECT_EQ(link->payloads.front(), "040300");
}

}  // namespace
