#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>
#include <cstring>

#include "link_fixture.h"
#include "screen_fixture.h"
#include "sim/module_sim.h"
#include "sim/pty.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/screens/main_menu.h"
#include "vaslab/core/toolkit/message_box.h"

namespace {

using namespace vaslab;

// The script's clock, with real time added: the module connection waits on
// the simulator in real time while the script plays on its own time.
struct ScriptAndRealClock : platform::FakeClock {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::uint32_t tick_ms() override {
    const auto real = std::chrono::steady_clock::now() - start;
    return now + static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(real).count());
  }
  // The connection's waits for the module's answers take real time.
  void sleep_ms(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

bool is_dir(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct UsbDrive : CoreFixture {
  std::vector<std::string> boxes;
  HardwareSettings& hw = hardware_settings();
  void SetUp() override {
    CoreFixture::SetUp();
    stop_event_loop();  // no window: a message box answers Cancel at once
    platform::set_debug_sink([this](const std::string& n) {
      if (n.rfind("message box [", 0) == 0) boxes.push_back(n);
    });
  }
  void TearDown() override {
    platform::set_debug_sink({});
    CoreFixture::TearDown();
  }
};

TEST_F(UsbDrive, AbsentDriveAndCancelKeepTheTemporaryStorage) {
  std::snprintf(hw.data_directory, sizeof hw.data_directory, "X:\\OLD\\");
  check_usb_drive();
  EXPECT_STREQ(hw.data_directory, "C:\\DATA\\");
  EXPECT_STREQ(hw.export_path_1, "D:\\");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("USB Drive not found"), std::string::npos);
}

TEST_F(UsbDrive, PresentDriveGetsItsFoldersAndAFileInTheWayIsReplaced) {
  root.write("D:\\ZUDIDUDA", "not a folder");
  root.write("D:\\VIVOVEV\\1.pdf", "kept");
  check_usb_drive();
  EXPECT_STREQ(hw.data_directory, "D:\\ZUDIDUDA\\");
  EXPECT_STREQ(hw.export_path_1, "D:\\VIVOVEV\\");
  EXPECT_TRUE(is_dir(platform::map_path("D:\\ZUDIDUDA")));
  EXPECT_EQ(root.read("D:\\VIVOVEV\\1.pdf"), "kept");
  EXPECT_TRUE(boxes.empty());
}

// --- The screens, with scripted input ----------------------------------------

struct MainMenu : ScreenFixture {
  ScriptAndRealClock script_clock;
  std::unique_ptr<testsupport::ScriptedInput> input;
  HardwareSettings& hw = hardware_settings();
  std::vector<std::string> boxes;
  std::vector<std::array<int, 4>> module_entries;  // states of entries 0..3 when looked at
  std::vector<int> module_states;                  // and the connection state then

  void SetUp() override {
    ScreenFixture::SetUp();
    platform::set_library_folder("");
    platform::reset_com_paths();
    reset_serial_links();
    reset_module_link();
    input = std::make_unique<testsupport::ScriptedInput>(script_clock);
    ASSERT_TRUE(create_main_window(640, 480));
    ASSERT_EQ(set_display_mode(0), 1);
    platform::make_dirs(platform::drive_folder('D'));
    hw.vascular_module_present = 0;
    hw.start_menu = 3;
    platform::set_debug_sink([this](const std::string& n) {
      if (n.rfind("message box [", 0) == 0) boxes.push_back(n);
    });
  }
  void TearDown() override {
    close_module_link();
    reset_serial_links();
    platform::reset_com_paths();
    input.reset();
    ScreenFixture::TearDown();
  }
  // Notes the states of the entries that need the module.
  testsupport::ScriptedInput& look() {
    return input->at_time([this] {
      const ButtonRecord* t = current_button_table();
      module_entries.push_back({t[0].state, t[1].state, t[2].state, t[3].state});
      module_states.push_back(module_connection_state());
    });
  }
  int titled(const std::string& title) const {
    int n = 0;
    for (const auto& b : boxes) n += b.find("[" + title + "]") != std::string::npos;
    return n;
  }
  void module_on(const std::string& device, int image_version) {
    hw.vascular_module_present = 1;
    hw.vascular_irq = 0;
    hw.vascular_port = 1;
    const auto image = sim::make_firmware_file(image_version);
    root.write(kFirmwareFile, std::string(image.begin(), image.end()));
    platform::set_com_path(1, device);
    ASSERT_EQ(open_module_link(), 0);
  }
};

TEST_F(MainMenu, StartScreenExitButtonEndsWithOneAndEscapeOrClosingWithZero) {
  input->after(20).tap(kStartExit);
  EXPECT_EQ(run_main_menu(), 1);
  input->after(20).key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  input->after(20).close_window();
  EXPECT_EQ(run_main_menu(), 0);
  EXPECT_TRUE(boxes.empty()) << "drive D: is there";
}

TEST_F(MainMenu, WithoutAModuleTheMenuIsReadyAtOnce) {
  bool exit_drawn = false;
  input->after(20).tap(kStartStudies).after(200);
  look().at_time([&] { exit_drawn = px(85, 420) != px(300, 420); }).key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  EXPECT_TRUE(exit_drawn) << "the Shutdown button of start menu 3 is on the screen";
  ASSERT_EQ(module_entries.size(), 1u);
  EXPECT_EQ(module_entries[0], (std::array<int, 4>{kButtonShown, kButtonHidden, kButtonShown, kButtonShown}));
  EXPECT_EQ(module_connection_state(), kModuleReady);
}

TEST_F(MainMenu, SilentModuleKeepsTheModuleButtonsHiddenButShutdownWorks) {
  sim::Pty pty;
  ASSERT_TRUE(pty.open());
  module_on(pty.slave_path(), 5);
  // Each pass of a menu waiting for a silent module takes 200 ms of real
  // time, so the script runs on few passes.
  input->after(20).tap(kStartStudies).after(100);
  look().key('e').after(4).key(platform::vk::kReturn).after(4).key('s').after(4).key('l').after(4);
  look().key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  ASSERT_EQ(module_entries.size(), 2u);
  for (const auto& e : module_entries) EXPECT_EQ(e, (std::array<int, 4>{0, 0, 0, 0}));
  EXPECT_NE(module_connection_state(), kModuleReady);
  const auto sent = LinkFixture::read_all(pty.master(), 50);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front(), 0x00) << "the module is woken first";
  EXPECT_NE(std::find(sent.begin(), sent.end(), 0x53), sent.end()) << "and asked for its version";
}

TEST_F(MainMenu, SimulatedModuleConnectsAndTheButtonsAppear) {
  sim::ModuleSimulator module;
  ASSERT_TRUE(module.start());
  module_on(module.device_path(), sim::ModuleOptions{}.version);
  // Idle passes sleep up to 10 ms: the start screen's last quiet passes
  // are over well within 100 ms of the release.
  input->after(20).tap(kStartStudies).after(100);
  // The entries and the state, looked at on the way.
  for (int i = 0; i < 20; ++i) look().after(20);
  // Escape leaves the temporary files screen, then the main menu.
  input->tap(kMenuTempFiles).after(300).key(platform::vk::kEscape).after(300).key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  EXPECT_EQ(titled("Temp Files"), 0) << "the temporary files screen opens";
  ASSERT_EQ(module_entries.size(), 20u);
  ASSERT_EQ(module_states.size(), 20u);
  for (std::size_t i = 0; i < module_entries.size(); ++i) {
    const bool ready = module_states[i] == kModuleReady;
    EXPECT_EQ(module_entries[i][0], ready ? kButtonShown : kButtonHidden) << i;
    EXPECT_EQ(module_entries[i][2], ready ? kButtonShown : kButtonHidden) << i;
    EXPECT_EQ(module_entries[i][3], ready ? kButtonShown : kButtonHidden) << i;
  }
  EXPECT_EQ(module_states.back(), kModuleReady);
  EXPECT_EQ(module_connection_state(), kModuleReady) << "checked again after the temporary files";
  module.stop();
}

TEST_F(MainMenu, ImportButtonIsTouchedAndTheKeyedEntriesFollowTheStartMenu) {
  std::snprintf(hw.import_control, sizeof hw.import_control, "%s", "C:\\PROGRAMS\\NOSUCH");
  std::snprintf(hw.import_path, sizeof hw.import_path, "%s", "C:\\IMPORT\\");
  struct Seen {
    int f10, f9, escape, import, import_left;
  };
  std::vector<Seen> seen;
  const auto note = [&] {
    const ButtonRecord* t = current_button_table();
    seen.push_back({t[4].state, t[5].state, t[8].state, t[10].state, t[10].x1});
  };
  // Start menu 0: the import button is touched and runs the worklist
  // program, which fails here: its error band and OK come up.
  bool import_error_shown = false;
  hw.start_menu = 0;
  input->after(20).tap(kStartStudies).after(200).at_time(note).tap(kMenuImport).after(200);
  input->at_time([&] { import_error_shown = std::strcmp(current_button_table()[0].label, "OK") == 0; });
  input->tap(1).after(200).key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  EXPECT_TRUE(import_error_shown);
  // Start menu 4, then without an import program.
  hw.start_menu = 4;
  input->after(20).tap(kStartStudies).after(200).at_time(note).key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  hw.import_control[0] = 0;
  input->after(20).tap(kStartStudies).after(200).at_time(note).key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ((std::vector<int>{seen[0].f10, seen[0].f9, seen[0].escape, seen[0].import, seen[0].import_left}),
            (std::vector<int>{1, 1, 0, 1, 342}));
  EXPECT_EQ((std::vector<int>{seen[1].f10, seen[1].f9, seen[1].escape, seen[1].import, seen[1].import_left}),
            (std::vector<int>{0, 0, 1, 1, 276}));
  EXPECT_EQ(seen[2].import, 0);
}

TEST_F(MainMenu, FirmwareImageOfTheWrongSizeEndsTheWorkstation) {
  sim::Pty pty;
  ASSERT_TRUE(pty.open());
  module_on(pty.slave_path(), 5);
  root.write(kFirmwareFile, std::string(8192, '\0'));
  input->after(20).tap(kStartStudies).after(100).tap(kMbOk);
  EXPECT_EQ(run_main_menu(), 0);
  EXPECT_TRUE(LinkFixture::read_all(pty.master(), 50).empty()) << "nothing was sent";
  ASSERT_EQ(titled("Module Firmware"), 1);
  EXPECT_NE(boxes[0].find("romv5.bin\rholds 8192 bytes instead of 8193."), std::string::npos) << boxes[0];

  boxes.clear();
  ::unlink(platform::map_path(kFirmwareFile).c_str());
  input->after(20).tap(kStartStudies).after(100).tap(kMbOk);
  EXPECT_EQ(run_main_menu(), 0);
  ASSERT_EQ(titled("Module Firmware"), 1);
  EXPECT_NE(boxes[0].find("romv5.bin\ris missing"), std::string::npos) << boxes[0];
}

// Enters the main menu and, once the connection gave up, answers its box
// and leaves.  The script holds on the connection, so the screen's time
// runs with the simulator's.  The seconds it took.
double run_until_update_failed(MainMenu& t) {
  const auto start = std::chrono::steady_clock::now();
  t.input->after(20).tap(kStartStudies).after(100);
  t.input->hold_until([] { return module_connection_state() == kModuleUpdateFailed; });
  t.input->after(80).tap(kMbOk).after(200).key(platform::vk::kEscape);
  EXPECT_EQ(run_main_menu(), 0);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A module that keeps its old firmware gets the image three times; then the
// menu says so once and still answers.
TEST_F(MainMenu, FirmwareUpdateGivesUpAfterThreeDownloads) {
  sim::ModuleOptions opt;
  opt.version = 3;
  opt.new_version = 3;
  sim::ModuleSimulator module(opt);
  ASSERT_TRUE(module.start());
  module_on(module.device_path(), 5);
  run_until_update_failed(*this);
  ASSERT_EQ(titled("Module Firmware"), 1);
  EXPECT_NE(boxes[0].find("did not take its new firmware.\rFirmware update failed."), std::string::npos) << boxes[0];
  int downloads = 0;
  for (const auto& e : module.log()) downloads += e.command == 0xAA;
  EXPECT_EQ(downloads, kMaxFirmwareDownloads);
  module.stop();
}

// A module that falls out of its download is not sent blocks for ever: the
// update ends in the box, which says why, after a bounded number of bytes.
TEST_F(MainMenu, FirmwareDownloadTheModuleFallsOutOfEndsInTheBox) {
  struct Case {
    const char* name;
    void (*set)(sim::ModuleOptions&);
    long most_bytes;  // what the workstation may send in all
    const char* why;
  };
  constexpr long kBlock = 259;
  const Case cases[] = {
      // Three downloads, each given up within a few stray frames.
      {"streams after its first request", [](sim::ModuleOptions& o) { o.stream_in_download = true; },
       3 * (4 * kBlock + 16), "sent measuring\rdata during its firmware download."},
      // One download, then no answer to the version queries.
      {"silent after block 3", [](sim::ModuleOptions& o) { o.silent_after_block = 3; }, 4 * kBlock + 32,
       "stopped asking\rfor firmware blocks.\rIt did not answer after that."},
      // Three downloads of blocks 0 to 3.
      {"restarts after block 3", [](sim::ModuleOptions& o) { o.restart_after_block = 3; }, 3 * (4 * kBlock + 16),
       "stopped asking\rfor firmware blocks.\rFirmware"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    sim::ModuleOptions opt;
    opt.version = 3;
    c.set(opt);
    sim::ModuleSimulator module(opt);
    ASSERT_TRUE(module.start());
    module_on(module.device_path(), 5);
    const double seconds = run_until_update_failed(*this);
    ASSERT_EQ(titled("Module Firmware"), 1);
    EXPECT_NE(boxes[0].find(c.why), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("\rFirmware update failed."), std::string::npos) << boxes[0];
    EXPECT_LE(module.bytes_received(), c.most_bytes);
    std::printf("%s: %ld bytes sent, the box after %.1f s\n", c.name, module.bytes_received(), seconds);
    module.stop();
    close_module_link();
  }
}

TEST_F(MainMenu, BackToTheStartScreenAsksOnlyWhenTemporaryStudiesExist) {
  hw.start_menu = 4;  // the menu's own exit leads back to the start screen
  ::rmdir(platform::drive_folder('D').c_str());  // no USB drive: studies stay on C:
  platform::make_dirs(platform::map_path("C:\\DATA\\SUB"));
  root.write("C:\\TEMP\\work.tmp", "x");
  input->after(20).tap(kMbCancel).after(100).tap(kStartStudies).after(200).tap(kMenuBackToStart).after(200)
      .tap(kMbCancel).after(100).tap(kStartExit);
  EXPECT_EQ(run_main_menu(), 1);
  EXPECT_EQ(titled("Exit with Temp. Files"), 0) << "a folder in C:\\DATA is no temporary study";
  EXPECT_EQ(titled("USB Drive not found"), 2) << "asked at each showing of the start screen";
  EXPECT_FALSE(root.exists("C:\\TEMP\\work.tmp")) << "work files purged";

  // A temporary study: Cancel keeps it and stays in the menu, OK deletes it.
  boxes.clear();
  root.write("C:\\DATA\\1.PDF", "study");
  input->after(20).tap(kMbCancel).after(100).tap(kStartStudies).after(200).tap(kMenuBackToStart).after(200)
      .tap(kMbCancel).after(200);
  look().tap(kMenuBackToStart).after(200).key(platform::vk::kReturn).after(200).tap(kMbCancel).after(100).tap(kStartExit);
  EXPECT_EQ(run_main_menu(), 1);
  EXPECT_EQ(titled("Exit with Temp. Files"), 2);
  EXPECT_EQ(module_entries.size(), 1u) << "Cancel went back to the menu";
  EXPECT_FALSE(root.exists("C:\\DATA\\1.PDF"));
}

TEST_F(MainMenu, TemporaryStudiesOnTheUsbDriveAreNotAskedAbout) {
  hw.start_menu = 4;
  root.write("C:\\DATA\\1.PDF", "study");
  input->after(20).tap(kStartStudies).after(200).tap(kMenuBackToStart).after(200).tap(kStartExit);
  EXPECT_EQ(run_main_menu(), 1);
  EXPECT_TRUE(boxes.empty()) << "the data directory is on D:";
}

TEST_F(MainMenu, PendingDisplaySwitchIsTakenOnceAtTheStartScreen) {
  g_pending_display_switch = 1;
  input->after(20).tap(kStartExit);
  EXPECT_EQ(run_main_menu(), 1);
  EXPECT_EQ(g_pending_display_switch, 0);
  EXPECT_TRUE(is_fullscreen());
  set_display_mode(0);
}

}  // namespace
