#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "link_fixture.h"
#include "sim/module_sim.h"
#include "testsupport/wait.h"

namespace {

using namespace vaslab;

TEST(FirmwareCrc, MatchesTheCheckValueAndKnownBlocks) {
  const char* digits = "123456789";
  // The block number is the register's first byte: "1" as block 0x31.
  EXPECT_EQ(firmware_block_crc(reinterpret_cast<const std::uint8_t*>(digits) + 1, 8, '1'), 0x2189);

  std::vector<std::uint8_t> zeros(256, 0), ones(256, 0xFF), counting(256);
  for (int i = 0; i < 256; ++i) counting[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(firmware_block_crc(zeros.data(), 256, 0), 0x0000);
  EXPECT_EQ(firmware_block_crc(zeros.data(), 256, 1), 0x7BEA);
  EXPECT_EQ(firmware_block_crc(ones.data(), 256, 0), 0xE358);
  EXPECT_EQ(firmware_block_crc(counting.data(), 256, 31), 0xF272);
  // The simulator checks blocks with its own code.
  EXPECT_EQ(sim::block_crc(31, counting.data(), 256), 0xF272);
  EXPECT_EQ(sim::block_crc(1, zeros.data(), 256), 0x7BEA);
}

}  // namespace

namespace {

using namespace vaslab;
using namespace std::chrono_literals;

// The module on COM 1; the connection runs on real time (each step waits at
// most its own time-out).
struct ModuleLink : LinkFixture {
  HardwareSettings& hw = hardware_settings();
  std::vector<std::uint8_t> image_file = sim::make_firmware_file(5);

  void SetUp() override {
    LinkFixture::SetUp();
    reset_event_state();  // the connection's time-outs run on the tick timers
    platform::set_clock(nullptr);
    hw.vascular_module_present = 1;
    hw.vascular_irq = 0;
    hw.vascular_port = 1;
    hw.touch_type = 2;
    hw.ir_remote_enabled = 0;
  }
  void write_image(const std::vector<std::uint8_t>& bytes) {
    root.write(kFirmwareFile, std::string(bytes.begin(), bytes.end()));
  }
  void open_on(const std::string& device) {
    platform::set_com_path(1, device);
    ASSERT_EQ(open_module_link(), 0);
  }
  // Steps until ready or given up, `max` changes of state, or half a minute
  // (only a connection stuck for good takes that long); the states passed
  // through.
  std::vector<int> run_connection(std::size_t max) {
    std::vector<int> states;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (states.size() < max && module_connection_state() != kModuleReady &&
           module_connection_state() != kModuleUpdateFailed && std::chrono::steady_clock::now() < end) {
      step_module_connection();
      if (states.empty() || states.back() != module_connection_state()) states.push_back(module_connection_state());
    }
    return states;
  }
};

TEST_F(ModuleLink, OlderFirmwareIsReplacedBlockByBlockAndABadBlockIsSentAgain) {
  sim::ModuleOptions opt;
  opt.version = 3;
  opt.new_version = 5;
  opt.bad_blocks = {7};
  sim::ModuleSimulator module(opt);
  ASSERT_TRUE(module.start());
  write_image(image_file);  // version 5; the image holds every byte value
  open_on(module.device_path());

  ASSERT_EQ(load_firmware_image(), 1);
  EXPECT_EQ(firmware_file_version(), 5);
  run_connection(1000);
  EXPECT_EQ(module_connection_state(), kModuleReady);
  EXPECT_EQ(module_firmware_version(), 5);
  EXPECT_EQ(module.version(), 5);

  std::vector<int> expected;
  for (int n = 0; n < 32; ++n) {
    expected.push_back(n);
    if (n == 7) expected.push_back(7);  // its CRC failed once
  }
  EXPECT_EQ(module.blocks_seen(), expected);
  const auto got = module.image();
  EXPECT_TRUE(std::equal(got.begin(), got.end(), image_file.begin() + 1)) << "every byte value crossed unchanged";

  // The commands in order: 0 at loading, the version query and its
  // confirmation, the download, the acknowledgement and the new query.  The
  // simulator answers from a thread of its own, which a loaded machine may
  // hold back past a query's 200 ms time-out: that query is then asked again,
  // as it should be, and only such repeats are let pass.
  std::vector<int> commands;
  for (const auto& e : module.log()) commands.push_back(e.command);
  const auto download = std::find(commands.begin(), commands.end(), 0x52);
  EXPECT_GE(std::count(commands.begin(), download, 0x53), 2) << "asked and confirmed";
  commands.erase(std::unique(commands.begin(), commands.end(),
                             [](int a, int b) { return a == 0x53 && b == 0x53; }),
                 commands.end());
  EXPECT_EQ(commands, (std::vector<int>{0x00, 0x53, 0x52, 0xAA, 0x53}));
  module.stop();
  close_module_link();
}

// A module may answer a block the moment it has it, while the workstation
// is still busy after sending: the request must not be dropped, or the
// download waits for ever.
TEST_F(ModuleLink, AModuleAnsweringAtOnceIsNeverLostAfterABlock) {
  sim::ModuleOptions opt;
  opt.version = 3;
  opt.new_version = 5;
  opt.reply_delay_ms = 0;
  sim::ModuleSimulator module(opt);
  ASSERT_TRUE(module.start());
  write_image(image_file);
  open_on(module.device_path());
  ASSERT_EQ(load_firmware_image(), 1);
  run_connection(1000);
  EXPECT_EQ(module_connection_state(), kModuleReady);
  EXPECT_EQ(module.version(), 5);
  EXPECT_EQ(module.blocks_seen().size(), 32u);
  close_module_link();
}

TEST_F(ModuleLink, SameVersionIsReadyAtOnce) {
  sim::ModuleSimulator module;
  ASSERT_TRUE(module.start());
  write_image(image_file);
  open_on(module.device_path());
  ASSERT_EQ(load_firmware_image(), 1);
  // 1, 4, 9 (a busy machine may answer late once and ask again from 1).
  const std::vector<int> states = run_connection(20);
  ASSERT_GE(states.size(), 3u);
  EXPECT_EQ(std::vector<int>(states.end() - 3, states.end()), (std::vector<int>{1, 4, kModuleReady}));
  for (const auto& e : module.log()) EXPECT_NE(e.command, 0x52) << "no download";
  EXPECT_EQ(connect_module(), 0);
  close_module_link();
}

TEST_F(ModuleLink, NewerFirmwareCyclesAndIsNeverReady) {
  sim::ModuleOptions opt;
  opt.version = 6;
  sim::ModuleSimulator module(opt);
  ASSERT_TRUE(module.start());
  write_image(image_file);
  open_on(module.device_path());
  ASSERT_EQ(load_firmware_image(), 1);
  // 1, 2, 3, 4, 0 and round again (a late answer may send 3 back to 1).
  const std::vector<int> states = run_connection(12);
  EXPECT_EQ(std::count(states.begin(), states.end(), kModuleReady), 0);
  const std::vector<int> cycle = {1, 2, 3, 4, 0};
  EXPECT_NE(std::search(states.begin(), states.end(), cycle.begin(), cycle.end()), states.end())
      << ::testing::PrintToString(states);
  EXPECT_EQ(module_firmware_version(), 6);
  EXPECT_EQ(connect_module(), 1);
  close_module_link();
}

TEST_F(ModuleLink, SilentModuleIsAskedTenTimes) {
  sim::Pty line;
  ASSERT_TRUE(line.open());
  write_image(image_file);
  open_on(line.slave_path());
  ASSERT_EQ(load_firmware_image(), 1);
  EXPECT_EQ(connect_module(), 1);
  EXPECT_EQ(module_connection_state(), 1);
  std::vector<std::uint8_t> expected(1, 0x00);
  expected.insert(expected.end(), 10, 0x53);
  EXPECT_EQ(read_all(line.master()), expected);
  close_module_link();
}

// The test plays the module byte by byte.
TEST_F(ModuleLink, DownloadAnswersEachRequestAndIgnoresStrangeBytes) {
  sim::Pty line;
  ASSERT_TRUE(line.open());
  std::vector<std::uint8_t> zeros(kFirmwareFileSize, 0);
  zeros[0] = 5;
  write_image(zeros);
  open_on(line.slave_path());
  ASSERT_EQ(load_firmware_image(), 1);
  read_all(line.master(), 10);
  auto module_sends = [&](std::uint8_t b) { ASSERT_EQ(::write(line.master(), &b, 1), 1); };
  auto block_of = [&](int n) {
    std::vector<std::uint8_t> f(1, static_cast<std::uint8_t>(n));
    f.insert(f.end(), 256, 0);
    const std::uint16_t crc = firmware_block_crc(zeros.data() + 1 + n * 256, 256, n);
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc));
    return f;
  };

  set_module_connection_state(5);
  step_module_connection();
  EXPECT_EQ(read_all(line.master(), 20), std::vector<std::uint8_t>{0x52});
  EXPECT_EQ(module_connection_state(), 6);
  step_module_connection();
  EXPECT_EQ(module_connection_state(), 6) << "nothing yet";
  // Steps until the workstation wrote something.
  auto answer_to = [&](std::uint8_t b) {
    module_sends(b);
    std::vector<std::uint8_t> got;
    testsupport::wait_until([&] {
      step_module_connection();
      got = read_all(line.master(), 2);
      return !got.empty();
    });
    return got;
  };
  const auto block0 = answer_to(0x00);
  EXPECT_EQ(module_connection_state(), 7);
  EXPECT_EQ(block0, block_of(0));
  ASSERT_EQ(block0.size(), 259u);
  EXPECT_EQ(block0[257], 0x00);
  EXPECT_EQ(block0[258], 0x00) << "block 0 of zeros has the CRC 0";

  for (std::uint8_t strange : {std::uint8_t{0x20}, std::uint8_t{0x53}, std::uint8_t{0xFF}}) module_sends(strange);
  for (std::uint32_t t0 = platform::tick_ms(); platform::tick_ms() - t0 < 30;) step_module_connection();
  EXPECT_EQ(module_connection_state(), 7);
  EXPECT_TRUE(read_all(line.master(), 20).empty());

  std::vector<std::uint8_t> sent;
  for (std::uint8_t request : {5, 5, 6}) {
    const auto part = answer_to(request);
    sent.insert(sent.end(), part.begin(), part.end());
  }
  std::vector<std::uint8_t> expected = block_of(5);
  const auto b5 = block_of(5), b6 = block_of(6);
  expected.insert(expected.end(), b5.begin(), b5.end());
  expected.insert(expected.end(), b6.begin(), b6.end());
  EXPECT_EQ(sent, expected);

  module_sends(0xAA);
  testsupport::wait_until([] {
    step_module_connection();
    return module_connection_state() != 7;
  });
  EXPECT_EQ(module_connection_state(), 8);
  step_module_connection();
  EXPECT_EQ(module_connection_state(), 1);
  step_module_connection();  // the version is asked again
  EXPECT_EQ(read_all(line.master(), 20), (std::vector<std::uint8_t>{0xAA, 0x53}));
  close_module_link();
}

// The test plays a module that goes wrong in its download: each is a failed
// download, ended by 0x00 and a new start from state 0, and the blocks sent
// meanwhile are bounded.
TEST_F(ModuleLink, DownloadThatGoesWrongEndsAsAFailedDownload) {
  enum Fault { kNoGo, kSilent, kStreams, kAsksForEver };
  struct Case {
    const char* name;
    Fault fault;
    std::size_t starts, blocks;  // "R" and block frames sent
    const char* why;
  };
  const Case cases[] = {
      {"never answers R", kNoGo, 3, 0, "did not start"},
      {"silent after block 0", kSilent, 1, 1, "stopped asking"},
      {"streams frames after block 0", kStreams, 1, 0, "sent measuring"},
      {"asks for block 5 again and again", kAsksForEver, 1, 1 + 3 * 32, "out of all order"},
  };
  sim::Pty line;
  ASSERT_TRUE(line.open());
  write_image(image_file);
  open_on(line.slave_path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(load_firmware_image(), 1);
    read_all(line.master(), 10);
    set_module_connection_state(5);
    std::vector<std::uint8_t> sent;  // what the workstation wrote
    std::size_t starts = 0, frames = 0;  // "R" and complete block frames in it
    std::size_t at = 0;              // where the next unread write begins
    auto module_sends = [&](std::initializer_list<std::uint8_t> bytes) {
      for (std::uint8_t b : bytes) ASSERT_EQ(::write(line.master(), &b, 1), 1);
    };
    auto last_frame = std::chrono::steady_clock::now();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (module_connection_state() != 0 && std::chrono::steady_clock::now() < end) {
      step_module_connection();
      const auto got = read_all(line.master(), 1);
      sent.insert(sent.end(), got.begin(), got.end());
      // Walk what came: "R", block frames of 259 bytes.
      while (at < sent.size()) {
        if (sent[at] == 0x52) {
          ++at;
          ++starts;
          if (c.fault != kNoGo) module_sends({0x00});
        } else if (sent[at] < 32 && sent.size() - at >= 259) {
          at += 259;
          ++frames;
          if (c.fault == kAsksForEver) module_sends({5});
        } else {
          break;
        }
      }
      // Measurement frames, 100 a second, once block 0 is there.
      if (c.fault == kStreams && frames > 0 && std::chrono::steady_clock::now() - last_frame > 10ms) {
        module_sends({0x85, 0x3E, 0x25, 0x00, 0x46, 0x00, 0x46});
        last_frame = std::chrono::steady_clock::now();
      }
    }
    EXPECT_EQ(module_connection_state(), 0) << "given up and started again";
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), 0x00) << "sent to end what the module does";
    EXPECT_EQ(starts, c.starts);
    if (c.fault == kStreams)
      EXPECT_LE(frames, 4u) << "a stray frame byte or two may have been taken for a request";
    else
      EXPECT_EQ(frames, c.blocks);
    EXPECT_EQ(at + 1, sent.size()) << "nothing but whole blocks and the final 0x00";
    EXPECT_NE(firmware_update_fault().find(c.why), std::string::npos) << firmware_update_fault();
  }
  close_module_link();
}

TEST_F(ModuleLink, ImageOfTheWrongSizeIsRefusedAndNothingIsSent) {
  sim::Pty line;
  ASSERT_TRUE(line.open());
  open_on(line.slave_path());
  EXPECT_EQ(load_firmware_image(), 0) << "no file";
  for (std::size_t size : {kFirmwareFileSize - 1, kFirmwareFileSize + 1}) {
    write_image(std::vector<std::uint8_t>(size, 1));
    EXPECT_EQ(load_firmware_image(), 0) << size;
  }
  EXPECT_TRUE(read_all(line.master(), 20).empty());
  close_module_link();
}

TEST_F(ModuleLink, WithoutAModuleNothingIsWrittenAndTheMenuIsReady) {
  sim::Pty line;
  ASSERT_TRUE(line.open());
  platform::set_com_path(1, line.slave_path());
  hw.vascular_module_present = 0;
  EXPECT_EQ(open_module_link(), 0);
  write_image(image_file);
  EXPECT_EQ(load_firmware_image(), 1);
  step_module_connection();
  EXPECT_EQ(module_connection_state(), kModuleReady);
  EXPECT_EQ(connect_module(), 0);
  send_module_byte(0x53);
  send_firmware_block(3);
  close_module_link();
  EXPECT_TRUE(read_all(line.master(), 20).empty());
}

TEST_F(ModuleLink, UpdateWorksThroughTheSerialCardToo) {
  sim::ModuleOptions opt;
  opt.version = 4;
  opt.new_version = 5;
  sim::ModuleSimulator module(opt);
  ASSERT_TRUE(module.start());
  ::setenv("VASLAB_CARD_2F8", module.device_path().c_str(), 1);
  hw.vascular_irq = 3;
  hw.vascular_port = 0x2F8;
  write_image(image_file);
  ASSERT_EQ(init_serial_card(), 1);
  ASSERT_EQ(open_module_link(), 0);
  ASSERT_EQ(load_firmware_image(), 1);
  run_connection(1000);
  EXPECT_EQ(module_connection_state(), kModuleReady);
  EXPECT_EQ(module.version(), 5);
  const auto got = module.image();
  EXPECT_TRUE(std::equal(got.begin(), got.end(), image_file.begin() + 1));
  close_module_link();
  EXPECT_TRUE(messages.empty());
  ::unsetenv("VASLAB_CARD_2F8");
}

// The simulator program as the demo starts it: it prints its device first.
TEST_F(ModuleLink, SimulatorProgramServesTheWorkstation) {
  const char* build = std::getenv("VASLAB_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  const std::string program = std::string(build) + "/bin/modulesim";
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--version"), const_cast<char*>("4"),
                  nullptr};
  pid_t pid = -1;
  ASSERT_EQ(::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  // Everything here waits on events (the printed line, the module's bytes),
  // never on a wall-clock limit: a loaded machine only makes it slower.
  std::string path;
  char c = 0;
  while (::read(out[0], &c, 1) == 1 && c != '\n') path += c;
  ::close(out[0]);

  write_image(image_file);
  if (!path.empty()) {
    open_on(path);
    ASSERT_EQ(load_firmware_image(), 1);
    int changes = 0;
    for (int state = module_connection_state(); state != kModuleReady && state != kModuleUpdateFailed && changes < 1000;) {
      step_module_connection();
      if (module_connection_state() != state) ++changes;
      state = module_connection_state();
    }
    EXPECT_EQ(module_connection_state(), kModuleReady) << "updated from version 4";
    close_module_link();
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_FALSE(path.empty());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
