// Link libraries loaded for real: the simulated USB DFU link, linked under
// every hardware code's file name in a folder of the test's own, records each
// call it gets.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ovisp/comm_driver.h"
#include "ovisp/isp.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/clock.h"
#include "testsupport/temp_root.h"

namespace {

const std::string kBin = std::string(VASLAB_BUILD_DIR) + "/bin";

class LinkLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loaded here first, the simulation stays resident while the library
    // loads and frees it, and its controls can be reached.
    sim_ = dlopen((kBin + "/ovusbdfu.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(sim_, nullptr) << dlerror();
    reset_ = reinterpret_cast<void (*)(const char*)>(dlsym(sim_, "ovusbdfu_sim_reset"));
    trace_ = reinterpret_cast<const char* (*)()>(dlsym(sim_, "ovusbdfu_sim_trace"));
    memory_ = reinterpret_cast<int (*)(int, unsigned, unsigned char*, int)>(dlsym(sim_, "ovusbdfu_sim_memory"));
    ASSERT_TRUE(reset_ && trace_ && memory_);
    reset_("");
    folder_ = root_.path() + "/links";
    ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
    for (const char* name : {"ovrs232", "ovusbdfu", "OvCanRs232", "OvCanRM", "OvCanVector", "OvCanIxxat",
                             "OvCanPeak", "OvCanSystec"}) {
      ASSERT_EQ(symlink((kBin + "/ovusbdfu.so").c_str(), (folder_ + "/" + name + ".so").c_str()), 0);
    }
    ovisp::setLinkLibraryFolder(folder_);
    ovisp::session().reset();
    ASSERT_EQ(ispInit(), 1);
  }
  void TearDown() override {
    platform::set_clock(nullptr);
    ovisp::session().reset();
    ovisp::setLinkLibraryFolder("");
    if (sim_ != nullptr) dlclose(sim_);
  }
  // The calls of the simulation, without their times.
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    std::istringstream in(trace_());
    std::string line;
    while (std::getline(in, line)) out.push_back(line.substr(line.find(' ') + 1));
    return out;
  }
  bool called(const std::string& call) const {
    for (const std::string& c : calls()) {
      if (c == call) return true;
    }
    return false;
  }
  // Times in ms of the calls that start with `name`.
  std::vector<long> times(const std::string& name) const {
    std::vector<long> out;
    std::istringstream in(trace_());
    std::string line;
    while (std::getline(in, line)) {
      const auto blank = line.find(' ');
      if (line.compare(blank + 1, name.size(), name) == 0) out.push_back(std::stol(line.substr(0, blank)));
    }
    return out;
  }

  testsupport::TempRoot root_;
  platform::FakeClock clock_;
  std::string folder_;
  void* sim_ = nullptr;
  void (*reset_)(const char*) = nullptr;
  const char* (*trace_)() = nullptr;
  int (*memory_)(int, unsigned, unsigned char*, int) = nullptr;
};

TEST_F(LinkLibrary, EachHardwareCodeOpensWithItsArguments) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispSelectCommHardware(9), 1) << ispGetLastError();
  ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
  EXPECT_TRUE(called("Open 1 2FFD = 0"));

  ASSERT_EQ(ispSelectDevice(4), 1);
  ASSERT_EQ(ispSelectCommHardware(2), 1);
  ASSERT_EQ(ispOpenUsbPort(), 1);
  EXPECT_TRUE(called("Open 1 2FFF = 0"));

  ASSERT_EQ(ispSelectDevice(15), 1);
  const std::pair<int, std::string> modes[] = {{6, "Open 1 123 = 0"}, {7, "Open 10 123 = 0"}, {3, "Open 0 = 0"},
                                               {5, "Open 2 123 = 0"}};
  for (const auto& [code, call] : modes) {
    reset_("");
    ASSERT_EQ(ispSelectCommHardware(code), 1) << code;
    ASSERT_EQ(ispOpenCanPort(0x123, 1, 2, 3, 4, 5), 1) << code;
    EXPECT_EQ(calls().back(), call) << code;
  }
  // Selecting again first closes the link that is loaded.
  reset_("");
  ASSERT_EQ(ispSelectCommHardware(8), 1);
  EXPECT_EQ(calls(), std::vector<std::string>{"Close 0"});
}

TEST_F(LinkLibrary, AutoIspDrivesTheLinesInOrderWithTheirPauses) {
  ASSERT_EQ(ispSelectDevice(15), 1);
  ASSERT_EQ(ispSelectCommHardware(3), 1);
  reset_("");
  ASSERT_EQ(ispSetAutoIsp(0, 0), 1);
  EXPECT_EQ(calls(), (std::vector<std::string>{"ClearRts = 0", "ClearDtr = 0", "SetDtr = 0", "SetRts = 0"}));
  const long clearDtr = times("ClearDtr").at(0);
  const long setDtr = times("SetDtr").at(0);
  const long setRts = times("SetRts").at(0);
  EXPECT_GE(setDtr - clearDtr, 30);
  EXPECT_GE(setRts - setDtr, 100);

  reset_("");
  ASSERT_EQ(ispSetAutoIsp(1, 1), 1);
  EXPECT_EQ(calls(), (std::vector<std::string>{"SetRts = 0", "SetDtr = 0", "ClearDtr = 0", "ClearRts = 0"}));
}

TEST_F(LinkLibrary, FramesAreLoggedBeforeTheyAreSent) {
  ASSERT_EQ(ispSelectDevice(15), 1);
  ASSERT_EQ(ispSelectCommHardware(3), 1);
  const std::string log = root_.path() + "/debug.log";
  ispSetDebugMode(nullptr, log.c_str());
  // The USB link is no serial link: the frame is refused, yet logged.
  EXPECT_FALSE(ovisp::session().commDriver()->writeText(":00000001FF"));
  std::string text;
  EXPECT_FALSE(ovisp::session().commDriver()->readText(text, 0, 13, 100));
  ispCancelDebugMode();
  std::ifstream in(log);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_NE(content.str().find(">> :00000001FF\n"), std::string::npos);
  EXPECT_EQ(content.str().find("<< "), std::string::npos);
  EXPECT_TRUE(called("Write 0 :00000001FF"));
}

TEST_F(LinkLibrary, MissingLibraryOrEntryIsRefused) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  ovisp::setLinkLibraryFolder(root_.path());
  EXPECT_EQ(ispSelectCommHardware(2), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotLoadLibrary);
  EXPECT_EQ(ovisp::session().manager()->state(), 1);
  EXPECT_EQ(ispOpenUsbPort(), 0);
  EXPECT_EQ(ispClosePort(), 0);

  ASSERT_EQ(symlink((kBin + "/partial_link.so").c_str(), (root_.path() + "/ovusbdfu.so").c_str()), 0);
  EXPECT_EQ(ispSelectCommHardware(2), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kCannotLoadLibrary);
  EXPECT_FALSE(ovisp::session().commDriver()->loaded());
  EXPECT_EQ(ispSetRtsLow(), 0);
}

TEST_F(LinkLibrary, CanMessageLongerThanEightBytesIsRefused) {
  ASSERT_EQ(ispSelectDevice(15), 1);
  ASSERT_EQ(ispSelectCommHardware(4), 1);
  ovisp::CommDriver& driver = *ovisp::session().commDriver();
  std::uint32_t id = 0;
  std::uint8_t length = 0;
  std::uint8_t data[8] = {};
  EXPECT_FALSE(driver.readCan(id, length, data, 10));
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
  reset_("can_length=8");
  EXPECT_TRUE(driver.readCan(id, length, data, 10));
  EXPECT_EQ(id, 0x123u);
  EXPECT_EQ(length, 8);
  reset_("can_length=12");
  try {
    driver.readCan(id, length, data, 10);
    ADD_FAILURE() << "a 12-byte CAN message was taken";
  } catch (const ovisp::IspError& e) {
    EXPECT_EQ(e.code, ovisp::kCanLength);
  }
  EXPECT_EQ(ispGetLastError(), ovisp::kCanLength);
}

TEST_F(LinkLibrary, SimulatedBoardIsProgrammedAndVerified) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispSelectCommHardware(2), 1);
  ASSERT_EQ(ispOpenUsbPort(), 1);
  ASSERT_EQ(ispReadSpecialByte(0), 1) << ispGetLastError();
  EXPECT_STREQ(ispGetLastResult(), "12");
  ASSERT_EQ(ispEraseDevice(), 1) << ispGetLastError();
  ASSERT_EQ(ispBlankCheckDevice(), 1) << ispGetLastError();
  for (unsigned a = 0; a < 5000; ++a) {
    ASSERT_EQ(ispWriteSingleByteToBuffer(a, ovisp::hexText((a * 7 + 3) & 0xFFu, 2).c_str()), 1);
  }
  ASSERT_EQ(ispProgramAddrRange(0, 4999), 1) << ispGetLastError();
  ASSERT_EQ(ispVerifyAddrRange(0, 4999), 1) << ispGetLastError();
  std::vector<unsigned char> flash(5000);
  ASSERT_EQ(memory_(0, 0, flash.data(), 5000), 5000);
  for (unsigned a = 0; a < 5000; ++a) ASSERT_EQ(flash[a], (a * 7 + 3) & 0xFF) << a;
  ASSERT_EQ(ispBlankCheckAddrRange(5000, 0x7FFF), 1);
  EXPECT_EQ(ispBlankCheckAddrRange(4000, 0x7FFF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
  EXPECT_STREQ(ispGetLastResult(), "0FA0");

  // The erase's ten seconds pass on a fake clock.
  platform::set_clock(&clock_);
  reset_("never_idle=1");
  ASSERT_EQ(ispOpenUsbPort(), 1);
  EXPECT_EQ(ispEraseDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
}

TEST_F(LinkLibrary, SimulatedBoardsOfTheVariantDevices) {
  // Device 13 keeps a CRC: the whole memory goes out with it at the end.
  reset_("crc=1");
  ASSERT_EQ(ispSelectDevice(13), 1);
  ASSERT_EQ(ispSelectCommHardware(2), 1);
  ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
  ASSERT_EQ(ispFillBuffer("00"), 1);
  ASSERT_EQ(ispWriteSingleByteToBuffer(5, "A5"), 1);
  ASSERT_EQ(ispProgramAddrRange(0, 5), 1) << ispGetLastError();
  auto crcValid = reinterpret_cast<int (*)()>(dlsym(sim_, "ovusbdfu_sim_crc_valid"));
  ASSERT_NE(crcValid, nullptr);
  EXPECT_EQ(crcValid(), 1);
  std::vector<unsigned char> flash(0x8000);
  ASSERT_EQ(memory_(0, 0, flash.data(), 0x8000), 0x8000);
  EXPECT_EQ(flash[5], 0xA5);
  EXPECT_EQ(flash[0x4000], 0x00);

  // Device 3 on code 10: the mode byte 01 at offset 0 of unit 3 as the port
  // opens, then the extended command set programs and verifies.
  reset_("ext=1");
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispSelectCommHardware(10), 1);
  ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
  unsigned char mode = 0;
  ASSERT_EQ(memory_(3, 0, &mode, 1), 1);
  EXPECT_EQ(mode, 0x01);
  ASSERT_EQ(ispReadSpecialByte(8), 1) << ispGetLastError();
  EXPECT_STREQ(ispGetLastResult(), "58");
  ASSERT_EQ(ispEraseDevice(), 1) << ispGetLastError();
  ASSERT_EQ(ispBlankCheckDevice(), 1) << ispGetLastError();
  for (unsigned a = 0; a < 4000; ++a) ASSERT_EQ(ispWriteSingleByteToBuffer(a, ovisp::hexText(a * 5 & 0xFFu, 2).c_str()), 1);
  ASSERT_EQ(ispProgramAddrRange(0, 3999), 1) << ispGetLastError();
  ASSERT_EQ(ispVerifyAddrRange(0, 3999), 1) << ispGetLastError();
  ASSERT_EQ(memory_(0, 0, flash.data(), 4000), 4000);
  for (unsigned a = 0; a < 4000; ++a) ASSERT_EQ(flash[a], a * 5 & 0xFF) << a;

  // Device 12 starts everything by reset at FFFF.
  reset_("");
  ASSERT_EQ(ispSelectDevice(12), 1);
  ASSERT_EQ(ispSelectCommHardware(2), 1);
  ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
  ASSERT_EQ(ispEnterAppliMode(1, 0xFFFF), 1) << ispGetLastError();
  EXPECT_TRUE(called("  start application by reset of all"));
}

// The order a board updater follows (open, erase, blank check, program,
// verify, nothing read in between) on each variant device: the whole flash
// is erased and programmed, and the extended command set's unit 3 keeps its
// bootloader bytes (only the mode byte that the opening writes changes).
TEST_F(LinkLibrary, UpdaterOrderOnEveryVariantDevice) {
  struct Variant {
    int device, code;
    const char* config;
    unsigned flashBytes;
    int modeByte;  // -1: no mode byte is written
  } variants[] = {{3, 9, "ext=1", 0x8000, 0x00},          {3, 10, "ext=1", 0x8000, 0x01},
                  {3, 11, "ext=1", 0x8000, 0x02},         {1, 9, "ext=1;flash=4096", 0x1000, 0x00},
                  {12, 2, "", 0x8000, -1},                {13, 2, "crc=1", 0x8000, -1}};
  for (const Variant& v : variants) {
    SCOPED_TRACE("device " + std::to_string(v.device) + " code " + std::to_string(v.code));
    reset_(v.config);
    std::vector<unsigned char> unit3(128), before(128);
    ASSERT_EQ(memory_(3, 0, before.data(), 128), 128);
    ASSERT_EQ(ispSelectDevice(v.device), 1);
    ASSERT_EQ(ispSelectCommHardware(v.code), 1) << ispGetLastError();
    ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
    ASSERT_EQ(ispEraseDevice(), 1) << ispGetLastError();
    ASSERT_EQ(ispBlankCheckDevice(), 1) << ispGetLastError() << " at " << ispGetLastResult();
    ASSERT_EQ(ispFillBuffer("00"), 1);
    for (unsigned a = 0; a < 3000; ++a) {
      ASSERT_EQ(ispWriteSingleByteToBuffer(a, ovisp::hexText((a * 11 + 5) & 0xFFu, 2).c_str()), 1);
    }
    ASSERT_EQ(ispProgramDevice(), 1) << ispGetLastError();
    ASSERT_EQ(ispVerifyDevice(), 1) << ispGetLastError();

    std::vector<unsigned char> flash(v.flashBytes);
    ASSERT_EQ(memory_(0, 0, flash.data(), static_cast<int>(v.flashBytes)), static_cast<int>(v.flashBytes));
    for (unsigned a = 0; a < 3000; ++a) ASSERT_EQ(flash[a], (a * 11 + 5) & 0xFF) << a;
    // The rest of the buffer went out too (the CRC device ends with its CRC).
    for (unsigned a = 3000; a < v.flashBytes - 2; ++a) ASSERT_EQ(flash[a], 0x00) << a;
    ASSERT_EQ(memory_(3, 0, unit3.data(), 128), 128);
    if (v.modeByte >= 0) before[0] = static_cast<unsigned char>(v.modeByte);
    EXPECT_EQ(unit3, before);
    ASSERT_EQ(ispClosePort(), 1);
  }
}

}  // namespace
