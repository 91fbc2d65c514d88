#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "link_fixture.h"
#include "sim/peer_sim.h"
#include "testsupport/wait.h"
#include "vaslab/core/toolkit/main_window.h"

namespace {

// Bytes written to a pseudo-terminal's master reach its slave a moment
// later, later still on a loaded machine: waits until the slave's input
// queue holds at least `count` bytes.
bool slave_holds(const std::string& slave_path, int count) {
  const int fd = ::open(slave_path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool arrived = testsupport::wait_until([&] {
    int queued = 0;
    return ::ioctl(fd, FIONREAD, &queued) == 0 && queued >= count;
  });
  ::close(fd);
  return arrived;
}

using namespace vaslab;

struct TouchRemote : LinkFixture {
  HardwareSettings& hw = hardware_settings();
  sim::Pty line;

  void SetUp() override {
    LinkFixture::SetUp();
    hw.vascular_module_present = 0;
    hw.ir_remote_enabled = 0;
    hw.touch_type = 2;
    runtime_touch_calibration() = TouchCalibration{0, 10000, 0, 10000, 0};
    ASSERT_TRUE(line.open());
  }
  void touch_on_com(int type) {
    hw.touch_type = static_cast<std::uint8_t>(type);
    hw.touch_irq = 0;
    hw.touch_port = 0x0103;  // the low byte is the COM number
    platform::set_com_path(3, line.slave_path());
    open_touch_link();
  }
  void remote_on_com() {
    hw.ir_remote_enabled = 1;
    hw.ir_remote_irq = 0;
    hw.ir_remote_port = 2;
    platform::set_com_path(2, line.slave_path());
    ASSERT_EQ(open_remote_link(), 0);
  }
  void send(std::vector<std::uint8_t> bytes) {
    int queued = 0;
    ASSERT_EQ(::ioctl(line.slave(), FIONREAD, &queued), 0);
    ASSERT_EQ(::write(line.master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ASSERT_TRUE(slave_holds(line.slave_path(), queued + static_cast<int>(bytes.size())));
  }
  template <std::size_t N>
  void send(const std::array<std::uint8_t, N>& a) {
    send(std::vector<std::uint8_t>(a.begin(), a.end()));
  }
  std::pair<int, int> raw() {
    std::int16_t x = 0, y = 0;
    get_touch_raw_position(&x, &y);
    return {x, y};
  }
};

TEST_F(TouchRemote, PanelType0PacketsPenUpAndResync) {
  touch_on_com(0);
  termios t{};
  ASSERT_EQ(::tcgetattr(line.slave(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B2400) << "this panel runs at 2400 baud";

  send({0xC9, 0x05, 0x06});
  EXPECT_EQ(read_touch_packet(), 1);
  EXPECT_EQ(raw(), std::make_pair(0x085, 0x086));

  send({0x90});
  EXPECT_EQ(read_touch_packet(), 0) << "pen up";

  // A stray data byte is dropped; a lead byte in mid-packet starts again.
  send({0x05, 0xC9, 0x05, 0xFF, 0x01, 0x02});
  EXPECT_EQ(read_touch_packet(), 1);
  EXPECT_EQ(raw(), std::make_pair(0x381, 0x382));
  send(sim::touch_packet_type0(700, 300, true));
  EXPECT_EQ(read_touch_packet(), 1);
  EXPECT_EQ(raw(), std::make_pair(700, 300));
}

TEST_F(TouchRemote, PanelType1PacketsAndTheirChecksum) {
  touch_on_com(1);
  termios t{};
  ASSERT_EQ(::tcgetattr(line.slave(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B9600);

  const auto packet = sim::touch_packet_type1(0x210, 3839, 1);
  EXPECT_EQ(std::vector<std::uint8_t>(packet.begin(), packet.end()),
            (std::vector<std::uint8_t>{'U', 'T', 0x01, 0x10, 0x02, 0x00, 0x01, 0x00, 0x00, 0x67}));
  send(packet);
  EXPECT_EQ(read_touch_packet(), 1);
  EXPECT_EQ(raw(), std::make_pair(0x210, 3839));

  auto wrong = sim::touch_packet_type1(100, 100, 0);
  wrong[9] ^= 1;
  send(wrong);
  EXPECT_EQ(read_touch_packet(), 1) << "a wrong checksum changes nothing";
  auto ninth = sim::touch_packet_type1(100, 100, 0);
  ninth[8] = 1;
  send(ninth);
  EXPECT_EQ(read_touch_packet(), 1) << "a non-zero ninth byte drops the packet";
  EXPECT_EQ(raw(), std::make_pair(0x210, 3839));

  // A checksum byte of 0xFF is as good as any other.
  const auto ff = sim::touch_packet_type1(0xAC, 4095, 0);
  ASSERT_EQ(ff[9], 0xFF);
  send(ff);
  EXPECT_EQ(read_touch_packet(), 0);
  EXPECT_EQ(raw(), std::make_pair(0xAC, 4095));

  // Garbage and a packet cut short; the decoder finds the next "U".
  const auto a = sim::touch_packet_type1(300, 200, 1), b = sim::touch_packet_type1(400, 500, 1);
  std::vector<std::uint8_t> noisy = {0x13, 'U', 'X', 0x00};
  noisy.insert(noisy.end(), a.begin(), a.begin() + 5);
  noisy.insert(noisy.end(), b.begin(), b.end());
  noisy.insert(noisy.end(), b.begin(), b.end());
  send(noisy);
  EXPECT_EQ(read_touch_packet(), 1);
  EXPECT_EQ(raw(), std::make_pair(400, 500));
}

TEST_F(TouchRemote, FiveEmptyPollsReleaseTheTouch) {
  touch_on_com(0);
  send({0xC9, 0x05, 0x06});
  EXPECT_EQ(read_touch_packet(), 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(read_touch_packet(), 1) << i;
  EXPECT_EQ(read_touch_packet(), 0);
}

TEST_F(TouchRemote, PositionIsCalibratedAndKeptOnTheScreen) {
  touch_on_com(0);
  std::int16_t x = -1, y = -1;
  send({0xC9, 0x05, 0x06});
  read_touch_packet();
  set_display_mode(0);
  EXPECT_EQ(get_touch_position(&x, &y), 0) << "no touch in windowed mode";
  EXPECT_EQ(std::make_pair(int{x}, int{y}), std::make_pair(0, 0));
  set_display_mode(1);

  runtime_touch_calibration() = TouchCalibration{0x40, 20000, 0x10, -7000, 0};
  send({0xC9, 0x05, 0x06});
  EXPECT_EQ(read_touch_packet(), 1);
  EXPECT_EQ(get_touch_position(&x, &y), 1);
  EXPECT_EQ(x, (0x85 - 0x40) * 2);
  EXPECT_EQ(y, 0) << "a point off the screen is kept on it";
  runtime_touch_calibration() = TouchCalibration{0, 30000, -1000, 30000, 0};
  send({0xFF, 0x7F, 0x7F});
  read_touch_packet();
  get_touch_position(&x, &y);
  EXPECT_EQ(std::make_pair(int{x}, int{y}), std::make_pair(639, 479));
  set_display_mode(0);
}

TEST_F(TouchRemote, NoSerialPanelGivesNothing) {
  hw.touch_type = 2;
  open_touch_link();
  // Nobody has the line in raw mode, so its bytes never count as arrived.
  const std::uint8_t packet[] = {0xC9, 0x05, 0x06};
  ASSERT_EQ(::write(line.master(), packet, sizeof packet), static_cast<ssize_t>(sizeof packet));
  ::usleep(3000);
  set_display_mode(1);
  std::int16_t x = 5, y = 5;
  EXPECT_EQ(read_touch_packet(), 0);
  EXPECT_EQ(get_touch_position(&x, &y), 0);
  EXPECT_EQ(std::make_pair(int{x}, int{y}), std::make_pair(0, 0));
  set_display_mode(0);
  close_touch_link();
  EXPECT_TRUE(messages.empty());
}

TEST_F(TouchRemote, PanelOnTheCardGetsItsCharacteristicsOnlyForType0) {
  ::setenv("VASLAB_CARD_3F8", line.slave_path().c_str(), 1);
  hw.touch_type = 1;
  hw.touch_irq = 4;
  hw.touch_port = 0x3F8;
  ASSERT_EQ(init_serial_card(), 1);
  open_touch_link();
  EXPECT_EQ(card_log().find("SetPortCharacteristics"), std::string::npos);
  send(sim::touch_packet_type1(10, 20, 1));
  EXPECT_EQ(read_touch_packet(), 1);
  close_touch_link();

  card_call<void (*)()>("CdrvSimReset")();
  hw.touch_type = 0;
  open_touch_link();
  EXPECT_NE(card_log().find("SetPortCharacteristics 0 5 0 3 0 4\n"), std::string::npos) << card_log();
  close_touch_link();

  // Characteristics refused: the port is closed again, and a failed close
  // is reported.
  card_call<void (*)()>("CdrvSimReset")();
  card_result("SetPortCharacteristics", 1);
  open_touch_link();
  EXPECT_NE(card_log().find("Cleanup 0\n"), std::string::npos) << card_log();
  EXPECT_EQ(serial_card_handle(SerialDevice::kTouch), -1);
  card_result("Cleanup", 4);
  open_touch_link();
  EXPECT_EQ(messages, std::vector<std::string>{"Error: touch port close got 4 from 1"});
  ::unsetenv("VASLAB_CARD_3F8");
}

TEST_F(TouchRemote, RemoteFramesBecomeKeys) {
  remote_on_com();
  send({0xFF, 0x48, 0xB7});
  EXPECT_EQ(receive_remote_key(), 9);
  EXPECT_EQ(remote_key_value(9), 16);
  send({0xFF, 0xFF, 0x48, 0xB7});
  EXPECT_EQ(receive_remote_key(), 9);
  send({0xFF, 0x48, 0xB6});
  EXPECT_EQ(receive_remote_key(), -1) << "a bad complement is dropped";
  send({0x12, 0xFF, 0x48, 0xFF, 0x50, 0xAF});
  EXPECT_EQ(receive_remote_key(), 10) << "0xFF in place of the complement starts again";
  send({0xFF, 0x48, 0x00, 0xB7});
  EXPECT_EQ(receive_remote_key(), 0) << "a zero byte";
  EXPECT_EQ(receive_remote_key(), 9) << "the frame under way is kept";
  EXPECT_EQ(receive_remote_key(), -1);

  send(sim::remote_frame(27));
  push_back_remote_key(5);
  EXPECT_EQ(receive_remote_key(), 5) << "a key pushed back comes first";
  EXPECT_EQ(receive_remote_key(), 27);
  EXPECT_EQ(remote_key_value(27), 9);
  EXPECT_EQ(remote_key_value(0), -2);
  EXPECT_EQ(remote_key_value(31), -1);
  close_remote_link();
}

TEST_F(TouchRemote, RemoteOnTheCard) {
  ::setenv("VASLAB_CARD_2F8", line.slave_path().c_str(), 1);
  hw.ir_remote_enabled = 1;  // the defaults: port 0x2F8, IRQ 3
  ASSERT_EQ(init_serial_card(), 1);
  ASSERT_EQ(open_remote_link(), 0);
  EXPECT_NE(card_log().find("OpenPort 0 760 3 0 0 0 0\n"), std::string::npos) << card_log();
  send(sim::remote_frame(9));
  EXPECT_EQ(receive_remote_key(), 9);
  card_result("Cleanup", 2);
  close_remote_link();
  EXPECT_EQ(messages, std::vector<std::string>{"Error: IRRC port close got 2 from 0"});

  ::unsetenv("VASLAB_CARD_2F8");
  messages.clear();
  EXPECT_EQ(open_remote_link(), 1) << "a card port that does not open";
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(TouchRemote, DisabledRemoteOrRemoteWithoutLinkGivesNothing) {
  push_back_remote_key(5);
  EXPECT_EQ(receive_remote_key(), -1);
  hw.ir_remote_enabled = 1;
  hw.ir_remote_irq = 0;
  hw.ir_remote_port = 0;
  EXPECT_EQ(open_remote_link(), 0);
  push_back_remote_key(5);
  EXPECT_EQ(receive_remote_key(), -1);
  close_remote_link();
  EXPECT_TRUE(messages.empty());
}

TEST_F(TouchRemote, ScriptedPeersPlayTheirPackets) {
  std::vector<sim::ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(sim::parse_script("touch 100 200  # press\nwait 5\nrelease\nbytes 55 54\n", 1, steps, error)) << error;
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].bytes.size(), 10u);
  EXPECT_EQ(steps[1].wait_ms, 5);
  EXPECT_EQ(steps[3].bytes, (std::vector<std::uint8_t>{0x55, 0x54}));
  EXPECT_FALSE(sim::parse_script("key 32\n", 0, steps, error));
  EXPECT_EQ(error, "script line 1: cannot read \"key 32\"");
  EXPECT_FALSE(sim::parse_script("bytes 100\n", 0, steps, error));

  sim::ScriptedPeer remote;
  ASSERT_TRUE(remote.open());
  hw.ir_remote_enabled = 1;
  hw.ir_remote_irq = 0;
  hw.ir_remote_port = 4;
  platform::set_com_path(4, remote.device_path());
  ASSERT_EQ(open_remote_link(), 0);
  steps.clear();
  ASSERT_TRUE(sim::parse_script("key 9\nwait 20\nkey 11\n", 0, steps, error));
  remote.play(steps);
  remote.wait();
  ASSERT_TRUE(slave_holds(remote.device_path(), 6));  // two 3-byte frames
  EXPECT_EQ(receive_remote_key(), 9);
  EXPECT_EQ(receive_remote_key(), 11);
  close_remote_link();
}

}  // namespace
