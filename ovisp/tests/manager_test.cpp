#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ovisp/debug_log.h"
#include "ovisp/tests/fakes.h"
#include "testsupport/temp_root.h"

namespace {

using ovisp_test::LibraryTest;
using ovisp_test::Trace;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class Manager : public LibraryTest {};

TEST_F(Manager, HardwareSelection) {
  ASSERT_EQ(ispInit(), 1);
  EXPECT_EQ(ispSelectCommHardware(2), 0);
  EXPECT_EQ(ispGetLastError(), 9);
  ASSERT_EQ(ispSelectDevice(3), 1);
  for (int code : {0, 12, -3}) {
    EXPECT_EQ(ispSelectCommHardware(code), 0);
    EXPECT_EQ(ispGetLastError(), 13);
    EXPECT_FALSE(link->loaded());
  }
  link->loadable = false;
  EXPECT_EQ(ispSelectCommHardware(2), 0);
  EXPECT_EQ(ispGetLastError(), 54);
  EXPECT_EQ(manager().state(), 1);
  link->loadable = true;
  ASSERT_EQ(ispSelectCommHardware(2), 1);
  EXPECT_EQ(manager().state(), 3);
  // A new device drops the link and the protocol: hardware must follow again.
  trace.clear();
  ASSERT_EQ(ispSelectDevice(4), 1);
  EXPECT_EQ(trace, (Trace{"Close", "unload"}));
  EXPECT_EQ(manager().state(), 1);
  EXPECT_EQ(ovisp::session().protocol(), nullptr);
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), 9);
}

TEST_F(Manager, UsbPortUsesTheDeviceOrForcedProductId) {
  ready(3, 2);
  ASSERT_EQ(ispOpenUsbPort(), 1);
  EXPECT_EQ(trace, (Trace{"openUsb " + std::to_string(0x2FFD), "connect 2"}));
  ready(4, 2);
  ASSERT_EQ(ispOpenUsbPort(), 1);
  EXPECT_EQ(trace.front(), "openUsb " + std::to_string(0x2FFF));
  ready(3, 10);
  ASSERT_EQ(ispOpenUsbPort(), 1);
  EXPECT_EQ(trace.front(), "openUsb " + std::to_string(0x2FFD));
  link->answer = false;
  EXPECT_EQ(ispOpenUsbPort(), 0);
  EXPECT_EQ(ispGetLastError(), 15);
  EXPECT_EQ(ispOpenRs232Port("COM1", 9600), 0);
  EXPECT_EQ(ispGetLastError(), 15);
}

struct NtHost : ovisp::HostSystem {
  int platformFamily() const override { return 2; }
  int majorVersion() const override { return 5; }
  bool registryKeyExists(const std::string& key) const override {
    asked = key;
    return present;
  }
  bool present = false;
  mutable std::string asked;
};

TEST_F(Manager, UsbDriverEntryCheck) {
  ready(3, 2);
  // Here there is no such entry to look for.
  ASSERT_EQ(ispOpenUsbPort(), 1);
  NtHost host;
  ovisp::setHostSystem(&host);
  EXPECT_EQ(ispOpenUsbPort(), 0);
  EXPECT_EQ(ispGetLastError(), 58);
  char vid[8];
  std::snprintf(vid, sizeof vid, "%04x", ovisp::kUsbVendorId);
  EXPECT_EQ(host.asked, std::string("System\\CurrentControlSet\\Enum\\USB\\Vid_") + vid + "&Pid_2ffd");
  ispCheckUsbDriver(0);
  EXPECT_EQ(ispOpenUsbPort(), 1);
  ispCheckUsbDriver(1);
  host.present = true;
  EXPECT_EQ(ispOpenUsbPort(), 1);
  ovisp::setHostSystem(nullptr);
}

TEST_F(Manager, RangesSplitIntoPages) {
  ready(24, 3);
  ASSERT_EQ(ispProgramAddrRange(0x1FFF0, 0x2000F), 0);  // past the 128 KB memory
  EXPECT_EQ(ispGetLastError(), 2);
  ASSERT_EQ(ispBlankCheckAddrRange(0xFFF0, 0x1000F), 1);
  EXPECT_EQ(trace, (Trace{"selectMemoryPage 0 0", "blankCheckBlock 0 FFF0 FFFF", "selectMemoryPage 0 1",
                          "blankCheckBlock 1 0 F"}));
  trace.clear();
  ASSERT_EQ(ispProgramAddrRange(0x10010, 0x10020), 1);
  EXPECT_EQ(trace, (Trace{"selectMemoryPage 0 1", "programBlock 1 10 20"}));
  EXPECT_EQ(clock.now, 100u);
  EXPECT_EQ(ispVerifyAddrRange(5, 4), 0);
  EXPECT_EQ(ispGetLastError(), 2);
  trace.clear();
  ASSERT_EQ(ispBlankCheckDevice(), 1);
  EXPECT_EQ(trace.size(), 4u);
}

TEST_F(Manager, DeviceRangeFollowsTheLoadedData) {
  testsupport::TempRoot root;
  ready(3, 2);
  ASSERT_EQ(ispProgramDevice(), 1);
  EXPECT_EQ(trace, (Trace{"selectMemoryPage 0 0", "programBlock 0 0 7FFF"}));
  // An empty file loads nothing: nothing is programmed or verified, on any
  // memory (memory 7 starts at F400, so its empty range must not wrap).
  ASSERT_EQ(ispSelectMemory(7), 1);
  root.write("C:\\empty.hex", ":00000001FF\n");
  ASSERT_EQ(ispParseHexFile("C:\\empty.hex"), 1);
  trace.clear();
  ASSERT_EQ(ispProgramDevice(), 1);
  ASSERT_EQ(ispVerifyDevice(), 1);
  EXPECT_TRUE(trace.empty());
  root.write("C:\\one.hex", ":02F41000AABB95\n:00000001FF\n");
  ASSERT_EQ(ispParseHexFile("C:\\one.hex"), 1);
  ASSERT_EQ(ispVerifyDevice(), 1);
  EXPECT_EQ(trace.back(), "readChunk 0 10 11 verify");
}

TEST_F(Manager, SpecialBytes) {
  ready(3, 2);
  ASSERT_EQ(ispSelectMemory(1), 1);
  trace.clear();
  protocol->specialByteValue = "1A";
  ASSERT_EQ(ispReadSpecialByte(0), 1);
  EXPECT_EQ(trace, (Trace{"selectMemoryPage 0 0", "readSpecialByte R0", "selectMemoryPage 1 0"}));
  EXPECT_EQ(ovisp::session().device()->bootloaderVersion(), "1A");
  EXPECT_STREQ(ispGetLastResult(), "1A");
  ASSERT_EQ(ispWriteSpecialByte(2, 0xFC), 1);
  EXPECT_EQ(trace[4], "writeSpecialByte W12 FC");

  // Codes without a command: 14, and the memory is the one before the call.
  for (int code : {20, -1}) {
    EXPECT_EQ(ispReadSpecialByte(code), 0);
    EXPECT_EQ(ispGetLastError(), 14);
  }
  for (int code : {0, 7}) {
    EXPECT_EQ(ispWriteSpecialByte(code, 1), 0);
    EXPECT_EQ(ispGetLastError(), 14);
  }
  EXPECT_EQ(ovisp::session().device()->currentMemory(), 1);
  // A protocol failure after the switch: the memory comes back and the
  // failure's own code stays.
  protocol->failSpecialByte = true;
  EXPECT_EQ(ispReadSpecialByte(3), 0);
  EXPECT_EQ(ispGetLastError(), 27);
  EXPECT_EQ(ovisp::session().device()->currentMemory(), 1);

  protocol->failSpecialByte = false;
  protocol->specialByteValue = "1E";
  ASSERT_EQ(ispReadSignatureBytes(), 1);
  EXPECT_STREQ(ispGetLastResult(), "1E 1E 1E 1E ");
  protocol->specialByteMemory = 0;
  protocol->failSpecialByte = true;
  EXPECT_EQ(ispReadSignatureBytes(), 0);
  EXPECT_EQ(ispGetLastError(), 27);
  EXPECT_EQ(ovisp::session().device()->currentMemory(), 1);
  protocol->failSpecialByte = false;
  EXPECT_EQ(ispGetExpectedSsbValue(2), 1);
  EXPECT_STREQ(ispGetLastResult(), "FC");
  EXPECT_EQ(ispGetExpectedSsbValue(3), 0);
  EXPECT_EQ(ispGetLastError(), 14);
  EXPECT_EQ(ispExecSpecialCmd(4), 0);
  EXPECT_EQ(ispGetLastError(), 14);
  EXPECT_EQ(ispEnableFuseBit(3), 0);
  EXPECT_EQ(ispGetLastError(), 9);
}

TEST_F(Manager, ExportsThatSkipReadinessNeedAProtocol) {
  ASSERT_EQ(ispInit(), 1);
  ASSERT_EQ(ispSelectDevice(3), 1);
  EXPECT_EQ(ispEnterIspMode(0, 0), 0);
  EXPECT_EQ(ispGetLastError(), 9);
  EXPECT_EQ(ispEnterAppliMode(1, 0), 0);
  EXPECT_EQ(ispEnableFuseBit(0), 0);
  EXPECT_EQ(ispDisableFuseBit(0), 0);
  EXPECT_EQ(ispSelectCanNode(1), 0);
  EXPECT_EQ(ispUpdateCmdsIds(1), 0);
  EXPECT_EQ(ispGetLastError(), 9);
  // Memory selection needs only the device.
  EXPECT_EQ(ispSelectMemory(1), 1);
}

TEST_F(Manager, ControlLines) {
  ready(3, 1);
  ASSERT_EQ(ispSetDtrLow(), 1);
  ASSERT_EQ(ispSetDtrHigh(), 1);
  ASSERT_EQ(ispSetRtsLow(), 1);
  ASSERT_EQ(ispSetRtsHigh(), 1);
  EXPECT_EQ(trace, (Trace{"ClearDtr", "SetDtr", "SetRts", "ClearRts"}));
  trace.clear();
  ASSERT_EQ(ispSetAutoIsp(0, 0), 1);
  EXPECT_EQ(trace, (Trace{"ClearRts", "ClearDtr", "SetDtr", "SetRts"}));
  EXPECT_EQ(clock.now, 130u);
  trace.clear();
  link->answer = false;
  EXPECT_EQ(ispSetAutoIsp(1, 1), 1);
  EXPECT_EQ(trace, (Trace{"SetRts", "SetDtr", "ClearDtr", "ClearRts"}));
  EXPECT_EQ(ispSetDtrHigh(), 0);
  EXPECT_EQ(ispGetLastError(), 9);
  link->answer = true;
  trace.clear();
  ASSERT_EQ(ispUpdateCmdsIds(0x21), 1);
  EXPECT_EQ(trace, (Trace{"UpdateRxFilter 33"}));
}

TEST_F(Manager, DemoModeTouchesNoLink) {
  ASSERT_EQ(ispInit(), 1);
  ispSetDemoMode();
  EXPECT_STREQ(ispGetLastResult(), "00");
  using Op = unsigned char (*)();
  const Op ops[] = {
      ispOpenUsbPort, ispClosePort, ispSetDtrLow, ispSetDtrHigh, ispSetRtsLow, ispSetRtsHigh, ispSyncTarget,
      ispEraseDevice, ispEraseSbvBsb, ispSetSecurityLev1, ispSetSecurityLev2, ispReadSignatureBytes,
      ispProgramDevice, ispVerifyDevice, ispBlankCheckDevice, ispComputeCrc,
      [] { return ispOpenRs232Port("COM1", 115200); }, [] { return ispOpenCanPort(1, 2, 3, 4, 5, 6); },
      [] { return ispSelectCanNode(3); }, [] { return ispUpdateCmdsIds(3); },
      [] { return ispEnterIspMode(0, 0); }, [] { return ispEnterAppliMode(0, 0); },
      [] { return ispEraseBlock(1); }, [] { return ispReadSpecialByte(0); },
      [] { return ispWriteSpecialByte(3, 0); }, [] { return ispExecSpecialCmd(0); },
      [] { return ispEnableFuseBit(0); }, [] { return ispDisableFuseBit(2); },
      [] { return ispProgramAddrRange(0, 0x7FFF); }, [] { return ispVerifyAddrRange(0, 1); },
      [] { return ispBlankCheckAddrRange(0, 1); }, [] { return ispReadAddrRange(0, 1, "C:\\x.hex"); },
      [] { return ispReadDevice("C:\\x.hex"); }, [] { return ispParseHexFile("C:\\none.hex"); },
      [] { return ispWriteHexFile(0, 1, "C:\\x.hex"); }, [] { return ispSelectMemory(5); },
      [] { return ispSerialize(0, 0, 1, 10, "NUMBER"); },
  };
  for (Op op : ops) EXPECT_EQ(op(), 1);
  EXPECT_TRUE(trace.empty());
  EXPECT_STREQ(ispGetLastResult(), "0000");
  EXPECT_EQ(ispGetLastError(), 0);
  ispCancelDemoMode();
  EXPECT_STREQ(ispGetLastResult(), "00");
  EXPECT_EQ(ispEraseDevice(), 0);
}

TEST_F(Manager, CancelForgetsTheHardware) {
  ready(3, 2);
  ispCancel();
  EXPECT_EQ(trace, (Trace{"Close", "unload"}));
  EXPECT_EQ(manager().state(), 1);
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), 9);
  ASSERT_EQ(ispSelectCommHardware(2), 1);
  EXPECT_EQ(ispEraseDevice(), 1);
}

class DebugLog : public LibraryTest {
 protected:
  testsupport::TempRoot root;
};

TEST_F(DebugLog, BannersByteForByte) {
  ready(3, 2);
  const std::string log = root.path() + "/isp.log";
  ispSetDebugMode(nullptr, log.c_str());
  EXPECT_TRUE(manager().debugMode());
  EXPECT_EQ(readFile(log), "");
  ispEraseBlock(3);
  ispProgramAddrRange(0, 0x7FFF);
  ispWriteSpecialByte(3, 0xAB);
  ispSelectCanNode(0x1F);
  ispReadSpecialByte(20);
  ispOpenRs232Port("COM2", 9600);
  ispGetLastError();
  ispFillBuffer("00");  // no banner
  ispCancelDebugMode();
  EXPECT_FALSE(manager().debugMode());
  EXPECT_EQ(readFile(log),
            "\n***** ispEraseBlock 3 *****\n"
            "\n***** ispProgramAddrRange 0 7fff\t*****\n"
            "\n***** ispWriteSpecialByte BOOT_STATUS_BYTE ab *****\n"
            "\n***** ispSelectCanNode 1f *****\n"
            "\n***** ispReadSpecialByte  *****\n"
            "\n***** ispSelectMemory 0 *****\n"
            "\n***** ispOpenRs232Port COM2 9600 *****\n"
            "\n***** ispGetLastError *****\n");
}

TEST_F(DebugLog, ConsoleStartLineAndCancel) {
  ASSERT_EQ(ispInit(), 1);
  const std::string log = root.path() + "/c.log";
  std::FILE* console = std::tmpfile();
  ispSetDebugMode(console, log.c_str());
  ispEraseDevice();
  // ispCancel closes the file but leaves debugging on: later traces reach
  // the console only.
  ispCancel();
  EXPECT_TRUE(manager().debugMode());
  ispEraseDevice();
  const std::string file = readFile(log);
  EXPECT_EQ(file.rfind("Running Plyx on ", 0), 0u);
  EXPECT_NE(file.find("\n\n\n***** ispEraseDevice *****\n\n***** ispCancel *****\n"), std::string::npos);
  EXPECT_EQ(file.find("ispEraseDevice", file.find("ispCancel")), std::string::npos);
  std::rewind(console);
  char buffer[512] = {};
  std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, console);
  std::fclose(console);
  const std::string onConsole(buffer, n);
  EXPECT_NE(onConsole.find("***** ispCancel *****\n\n***** ispEraseDevice *****"), std::string::npos);
}

TEST_F(DebugLog, FrameTraces) {
  ASSERT_EQ(ispInit(), 1);
  const std::string log = root.path() + "/f.log";
  ovisp::traceTextSent("not traced while debugging is off");
  ispSetDebugMode(nullptr, log.c_str());
  const std::uint8_t data[] = {0x01, 0xAB, 0x00};
  ovisp::traceTextSent(":0100000000FF");
  ovisp::traceTextReceived("U.");
  ovisp::traceCanReceived(0x7F1, 3, data);
  ovisp::traceUsbSent("21010000", "0400");
  ovisp::traceUsbReply("A1030000", data, 2);
  ovisp::traceUsbReply("A1030000", data, -1);
  ispCancelDebugMode();
  EXPECT_EQ(readFile(log),
            ">> :0100000000FF\n"
            "<< U.\n"
            "<< 7F1 03 01AB00\n"
            ">> 21010000 0400\n"
            "<< A1030000 01AB\n"
            "<< A1030000 \n");
}

TEST_F(DebugLog, MissingFolderLeavesDebugOff) {
  ASSERT_EQ(ispInit(), 1);
  const std::string log = root.path() + "/no/such/folder/isp.log";
  ispSetDebugMode(nullptr, log.c_str());
  EXPECT_FALSE(manager().debugMode());
  ispEraseDevice();
  EXPECT_FALSE(root.exists(log));
}

}  // namespace
