#include <gtest/gtest.h>

#include "ovisp/status.h"
#include "ovisp/tests/fakes.h"

namespace {

using ovisp::hexText;

TEST(ErrorTable, TextsByCode) {
  const std::vector<std::string> t = ovisp::errorMessageTable();
  ASSERT_EQ(t.size(), 59u);
  EXPECT_EQ(t[0], "Pass");
  EXPECT_EQ(t[2], "Address is out of range.");
  EXPECT_EQ(t[9], t[32]);
  EXPECT_EQ(t[9], "Cannot execute command.");
  EXPECT_EQ(t[26], "Verify device fail at ");
  EXPECT_EQ(t[28], "Blank check fail at ");
  EXPECT_EQ(t[43], "Invalid CAN bitrate");
  EXPECT_EQ(t[48], "Invalid command file argument.");
  // 49 has no text; every later code keeps its own index.
  EXPECT_EQ(t[49], "");
  EXPECT_EQ(t[50], "No USB device found.");
  EXPECT_EQ(t[54], "Could not load DLL.");
  EXPECT_EQ(t[57], "The serial number must be a 64-bit value.");
  EXPECT_EQ(t[58], "USB driver not installed. \n\nExecute Start > Programs > Orvex > Plyx > Install USB Driver");
}

TEST(ErrorTable, NumberTextsAndNames) {
  EXPECT_EQ(hexText(5u, 2), "05");
  EXPECT_EQ(hexText(0x12345u, 4), "12345");
  EXPECT_EQ(hexText(static_cast<std::uint8_t>(0xAB), 2), "AB");
  EXPECT_EQ(hexText(-1, 4), "FFFFFFFF");
  EXPECT_EQ(hexText(0u, 1), "0");
  EXPECT_EQ(ovisp::decimalText(std::uint32_t{32768}), "32768");
  EXPECT_EQ(ovisp::decimalText(std::int64_t{-12}), "-12");
  EXPECT_EQ(ovisp::specialByteName(0), "BOOTLOADER_VERSION");
  EXPECT_EQ(ovisp::specialByteName(19), "P4_CONF");
  EXPECT_EQ(ovisp::specialByteName(20), "");
  EXPECT_EQ(ovisp::specialByteName(-1), "");
}

class InitTest : public ovisp_test::LibraryTest {};

TEST_F(InitTest, InitTwiceKeepsOneManagerAndTable) {
  ASSERT_EQ(ispInit(), 1);
  ovisp::IspManager* first = ovisp::session().manager();
  const char* const* table = ispGetErrorVecPtr();
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispInit(), 1);
  EXPECT_EQ(ovisp::session().manager(), first);
  EXPECT_EQ(ispGetErrorVecPtr(), table);
  int count = 0;
  while (table[count] != nullptr) ++count;
  EXPECT_EQ(count, 59);
  EXPECT_STREQ(table[0], "Pass");
  EXPECT_EQ(manager().deviceNumber(), 3);
}

TEST_F(InitTest, CallsBeforeInitDoNotCrash) {
  EXPECT_EQ(ispSelectDevice(3), 0);
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispParseHexFile("x.hex"), 0);
  EXPECT_EQ(ispSerialize(0, 0, 1, 10, "NUMBER"), 0);
  ispCancel();
  ispSetDemoMode();
  ispSetDebugMode(nullptr, "x.log");
  ispCancelDebugMode();
  ispRandomizeBuffer();
  ispGetBufferAddrLo();
  ispGetMemorySize();
  ispReadSingleByteFromBuffer(0);
  ispResetTaskCompletionPercent();
  EXPECT_EQ(ispGetTaskCompletionPercent(), 0);
  EXPECT_EQ(ispGetTaskPeriodicEventHandle(), nullptr);
  EXPECT_STREQ(ispGetLastResult(), "");
  ASSERT_NE(ispGetErrorVecPtr(), nullptr);
  EXPECT_EQ(std::string(ispGetErrorVecPtr()[58]).substr(0, 9), "USB drive");
  EXPECT_EQ(ispGetDeviceIndex("OV-T02"), 1);
  EXPECT_EQ(ispSetAutoIsp(1, 1), 1);
  // Buffer exports with a manager but no device have nothing to work on.
  ASSERT_EQ(ispInit(), 1);
  ispRandomizeBuffer();
  ispReadSingleByteFromBuffer(0);
  EXPECT_EQ(ispComputeBufferChecksum(0, 10), 0);
  EXPECT_EQ(ispGetLastError(), 9);
  EXPECT_EQ(ispClosePort(), 0);
  EXPECT_EQ(ispGetExpectedSsbValue(1), 0);
  EXPECT_EQ(ispGetDefaultByteValue(1), 0);
  EXPECT_EQ(ispGetLastError(), 9);
}

}  // namespace
