#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/serial.h"

namespace {

// A pseudo-terminal pair; the test plays the device on the master side.
struct PtyPair {
  int master = -1, slave = -1;
  std::string path;
  PtyPair() {
    char name[PATH_MAX] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
  }
  ~PtyPair() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
  std::vector<std::uint8_t> read_master(std::size_t want) const {
    std::vector<std::uint8_t> got;
    while (got.size() < want) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) break;
      std::uint8_t buf[512];
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
};

TEST(Serial, ComNamesMapToDevices) {
  platform::reset_com_paths();
  ::unsetenv("VASLAB_COM3");
  EXPECT_EQ(platform::com_device_path(3), "/dev/ttyS2");
  ::setenv("VASLAB_COM3", "/dev/pts/77", 1);
  EXPECT_EQ(platform::serial_device_for_name("com3:"), "/dev/pts/77");
  platform::set_com_path(3, "/tmp/x");
  EXPECT_EQ(platform::serial_device_for_name("COM3:"), "/tmp/x");
  platform::set_com_path(3, "");
  EXPECT_EQ(platform::com_device_path(3), "/dev/pts/77");
  ::unsetenv("VASLAB_COM3");
  EXPECT_EQ(platform::serial_device_for_name("com248:"), "/dev/ttyS247");
  EXPECT_EQ(platform::serial_device_for_name("lpt1:"), "");
  EXPECT_EQ(platform::serial_device_for_name("com:"), "");
  EXPECT_EQ(platform::serial_device_for_name("com1x:"), "");
}

TEST(Serial, MissingDeviceDoesNotOpen) {
  platform::set_com_path(9, "/nonexistent/tty");
  platform::SerialPort port;
  EXPECT_FALSE(platform::serial_open(port, "com9:"));
  EXPECT_FALSE(platform::serial_is_open(port));
  EXPECT_EQ(platform::serial_read_byte(port), -1);
  platform::reset_com_paths();
}

TEST(Serial, LineIsRawAndEveryByteCrossesBothWays) {
  PtyPair pty;
  ASSERT_FALSE(pty.path.empty());
  platform::set_com_path(4, pty.path);
  platform::SerialPort port;
  ASSERT_TRUE(platform::serial_open(port, "com4:"));
  ASSERT_TRUE(platform::serial_set_timeouts(port, 500, 1000));
  ASSERT_TRUE(platform::serial_set_line(port, 9600)) << "modem lines of a pty must not fail the set-up";

  termios t{};
  ASSERT_EQ(::tcgetattr(pty.slave, &t), 0);
  EXPECT_EQ(::cfgetispeed(&t), B9600);
  EXPECT_EQ(::cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(platform::serial_write(port, all.data(), all.size()), 256u);
  EXPECT_EQ(pty.read_master(256), all);

  ASSERT_EQ(::write(pty.master, all.data(), all.size()), 256);
  std::vector<std::uint8_t> got;
  for (int spins = 0; got.size() < 256 && spins < 100000; ++spins) {
    const int b = platform::serial_read_byte(port);
    if (b >= 0) got.push_back(static_cast<std::uint8_t>(b));
  }
  EXPECT_EQ(got, all);
  EXPECT_EQ(platform::serial_read_byte(port), -1) << "reads never wait";

  ASSERT_TRUE(platform::serial_set_speed(port, 2400));
  ASSERT_EQ(::tcgetattr(pty.slave, &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B2400);
  EXPECT_FALSE(platform::serial_set_speed(port, 1234));

  platform::serial_close(port);
  EXPECT_TRUE(platform::serial_open(port, "com4:")) << "closing gives up the exclusive claim";
  platform::serial_close(port);
  platform::reset_com_paths();
}

TEST(Serial, WriteGivesUpAtItsDeadlineWhenNoOneReads) {
  PtyPair pty;
  platform::set_com_path(5, pty.path);
  platform::SerialPort port;
  ASSERT_TRUE(platform::serial_open(port, "com5:"));
  ASSERT_TRUE(platform::serial_set_line(port, 9600));
  ASSERT_TRUE(platform::serial_set_timeouts(port, 0, 50));
  std::vector<std::uint8_t> lots(1 << 20, 0x41);
  const std::size_t sent = platform::serial_write(port, lots.data(), lots.size());
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, lots.size());
  platform::serial_close(port);
  platform::reset_com_paths();
}

TEST(Serial, NotATerminalCannotBeConfigured) {
  platform::set_com_path(6, "/dev/null");
  platform::SerialPort port;
  ASSERT_TRUE(platform::serial_open(port, "com6:"));
  EXPECT_FALSE(platform::serial_set_timeouts(port, 500, 1000));
  EXPECT_FALSE(platform::serial_set_line(port, 9600));
  platform::serial_close(port);
  platform::reset_com_paths();
}

}  // namespace
