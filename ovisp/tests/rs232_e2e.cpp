// The RS-232 protocol end to end: ovisp.so and the serial link library
// ovrs232.so over a pseudo-terminal to the simulated bootloader, checked
// with outside tools (objcopy, srec_cat, srec_cmp, crcmod).
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ovisp/tests/isp_library.h"
#include "sim/rs232_boot.h"
#include "testsupport/pattern.h"
#include "testsupport/temp_root.h"

namespace {


int run(const std::string& command) { return std::system(command.c_str()); }

class Rs232EndToEnd : public ::testing::Test {
 protected:
  // A bootloader with these settings, the library ready on it at 38400 baud.
  void start(const std::string& settings, int device) {
    boot = std::make_unique<sim::Rs232Boot>(settings, root.path() + "/boot.trace");
    ASSERT_TRUE(boot->start());
    ASSERT_NE(isp.handle, nullptr) << dlerror();
    ASSERT_EQ(isp.init(), 1);
    ASSERT_EQ(isp.selectDevice(device), 1) << isp.lastError();
    ASSERT_EQ(isp.selectCommHardware(1), 1) << isp.lastError();
    // "COMn" finds the port through VASLAB_COM<n>, like the workstation's.
    setenv("VASLAB_COM7", boot->slave_path().c_str(), 1);
    ASSERT_EQ(isp.openRs232Port("COM7", 38400), 1) << isp.lastError();
  }
  std::string path(const std::string& name) const { return root.path() + "/" + name; }
  void writeFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string flash(std::uint32_t from, std::uint32_t count) const {
    const std::vector<std::uint8_t> m = boot->memory(0);
    return std::string(m.begin() + from, m.begin() + from + count);
  }

  testsupport::TempRoot root;
  ovisp_test::IspLibrary isp;
  std::unique_ptr<sim::Rs232Boot> boot;
};

TEST_F(Rs232EndToEnd, ObjcopyImageIsProgrammedVerifiedAndReadBack) {
  start("flash=65536", 11);
  // The line is raw at the asked speed, eight bits, two stop bits.
  termios t{};
  ASSERT_EQ(tcgetattr(boot->slave_fd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8 | CSTOPB));

  ASSERT_EQ(isp.syncTarget(), 1) << isp.lastError();
  ASSERT_EQ(isp.readSpecialByte(0), 1) << isp.lastError();
  EXPECT_STREQ(isp.lastResult(), "12");
  boot->set_memory(0, 0, std::vector<std::uint8_t>(100, 0x00));
  ASSERT_EQ(isp.eraseDevice(), 1) << isp.lastError();
  ASSERT_EQ(isp.blankCheckDevice(), 1) << isp.lastError();

  const std::string image = testsupport::pattern_bytes(6000, 1);
  writeFile("image.bin", image);
  ASSERT_EQ(run("objcopy -I binary -O ihex --change-addresses 0x100 " + path("image.bin") + " " + path("image.hex")), 0);
  ASSERT_EQ(isp.parseHexFile(path("image.hex").c_str()), 1) << isp.lastError();
  ASSERT_EQ(isp.programDevice(), 1) << isp.lastError();
  EXPECT_TRUE(flash(0x100, 6000) == image);
  ASSERT_EQ(isp.verifyDevice(), 1) << isp.lastError();
  EXPECT_EQ(isp.blankCheckAddrRange(0, 0x1000), 0);
  EXPECT_EQ(isp.lastError(), 28);
  EXPECT_STREQ(isp.lastResult(), "0100");

  // Read back into a fresh buffer and written out by the library.
  ASSERT_EQ(isp.selectDevice(11), 1);
  ASSERT_EQ(isp.selectCommHardware(1), 1);
  ASSERT_EQ(isp.openRs232Port(boot->slave_path().c_str(), 38400), 1) << isp.lastError();
  ASSERT_EQ(isp.readAddrRange(0x100, 0x100 + 5999, path("back.hex").c_str()), 1) << isp.lastError();
  EXPECT_EQ(run("srec_cmp " + path("back.hex") + " -Intel " + path("image.bin") + " -Binary -offset 0x100"), 0);
  ASSERT_EQ(isp.writeHexFile(0x100, 0x100 + 5999, path("written.hex").c_str()), 1);
  EXPECT_EQ(run("srec_cmp " + path("written.hex") + " -Intel " + path("image.hex") + " -Intel"), 0);

  // The data records of the run, with an end record, are the image again.
  std::istringstream trace(boot->trace());
  std::string line, records;
  while (std::getline(trace, line)) {
    if (line.rfind("< :", 0) == 0 && line.compare(9, 2, "00") == 0 && line.size() > 15) records += line.substr(2) + "\n";
  }
  std::ofstream(path("sent.hex")) << records << ":00000001FF\n";
  EXPECT_EQ(run("srec_cmp " + path("sent.hex") + " -Intel " + path("image.bin") + " -Binary -offset 0x100"), 0);
}

TEST_F(Rs232EndToEnd, PagedDeviceTakesAnImageAcrossSixtyFourKilobytes) {
  start("flash=131072;paged=1", 24);
  const std::string image = testsupport::pattern_bytes(0x2000, 2);
  writeFile("image.bin", image);
  ASSERT_EQ(run("srec_cat " + path("image.bin") + " -Binary -offset 0xF000 -o " + path("image.hex") + " -Intel"), 0);
  std::ifstream in(path("image.hex"));
  std::stringstream text;
  text << in.rdbuf();
  ASSERT_NE(text.str().find(":020000040001F9"), std::string::npos);
  ASSERT_EQ(isp.parseHexFile(path("image.hex").c_str()), 1) << isp.lastError();
  ASSERT_EQ(isp.programDevice(), 1) << isp.lastError();
  EXPECT_TRUE(flash(0xF000, 0x2000) == image);
  ASSERT_EQ(isp.verifyDevice(), 1) << isp.lastError();
  ASSERT_EQ(isp.readAddrRange(0xF000, 0x10FFF, path("back.hex").c_str()), 1) << isp.lastError();
  EXPECT_EQ(run("srec_cmp " + path("back.hex") + " -Intel " + path("image.bin") + " -Binary -offset 0xF000"), 0);
}

TEST_F(Rs232EndToEnd, FaultsOfTheTargetAreErrorsNeverSuccess) {
  start("silent=1", 11);
  for (auto op : {isp.syncTarget, isp.setSecurityLev1}) {
    EXPECT_EQ(op(), 0);
    EXPECT_EQ(isp.lastError(), 4);
  }
  EXPECT_EQ(isp.programAddrRange(0, 15), 0);
  EXPECT_EQ(isp.lastError(), 4);

  // The third record arrives damaged: the target answers "X".
  start("corrupt=3", 11);
  ASSERT_EQ(isp.eraseDevice(), 1) << isp.lastError();
  ASSERT_EQ(isp.readSpecialByte(0), 1) << isp.lastError();
  EXPECT_EQ(isp.programAddrRange(0, 15), 0);
  EXPECT_EQ(isp.lastError(), 6);

  // Security level 1 protects the flash against writes.
  start("", 11);
  ASSERT_EQ(isp.setSecurityLev1(), 1) << isp.lastError();
  EXPECT_EQ(boot->security_level(), 1);
  EXPECT_EQ(isp.programAddrRange(0, 15), 0);
  EXPECT_EQ(isp.lastError(), 19);
}

TEST_F(Rs232EndToEnd, CrcDeviceSynchronisesLateAndProgramsAllItsMemory) {
  start("flash=16384;line=64;crc=1;sync=30", 21);
  ASSERT_EQ(isp.syncTarget(), 1) << isp.lastError();
  // (one more when the 30th answer came after its 100 ms on a busy machine)
  EXPECT_GE(boot->sync_tries(), 30);
  EXPECT_LE(boot->sync_tries(), 31);
  const std::string image = testsupport::pattern_bytes(300, 3);
  writeFile("image.bin", image);
  ASSERT_EQ(run("objcopy -I binary -O ihex " + path("image.bin") + " " + path("image.hex")), 0);
  ASSERT_EQ(isp.parseHexFile(path("image.hex").c_str()), 1) << isp.lastError();
  ASSERT_EQ(isp.programDevice(), 1) << isp.lastError();
  const std::string all = flash(0, 16384);
  EXPECT_TRUE(all.substr(0, 300) == image);
  EXPECT_EQ(all.find_first_not_of('\xFF', 300), 16382u);
  EXPECT_TRUE(boot->crc_valid());

  // The CRC of all but the last two bytes, by an outside implementation,
  // stands in them low byte first.
  writeFile("flash.bin", all.substr(0, 16382));
  const std::string out = path("crc.txt");
  ASSERT_EQ(run("/usr/bin/python3 -c \"import crcmod.predefined as c, sys; "
                "print('%04X' % c.mkPredefinedCrcFun('x-25')(open(sys.argv[1], 'rb').read()))\" " +
                path("flash.bin") + " > " + out),
            0);
  std::ifstream crcFile(out);
  std::string crc;
  crcFile >> crc;
  ASSERT_EQ(crc.size(), 4u);
  const unsigned value = static_cast<unsigned>(std::stoul(crc, nullptr, 16));
  EXPECT_EQ(static_cast<unsigned char>(all[16382]), value & 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(all[16383]), value >> 8);
  ASSERT_EQ(isp.verifyDevice(), 1) << isp.lastError();
}

}  // namespace
