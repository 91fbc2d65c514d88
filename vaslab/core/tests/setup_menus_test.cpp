#include "vaslab/core/screens/setup_menus.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "screen_fixture.h"
#include "testsupport/scripted_input.h"
#include "vaslab/backup/floppy_backup.h"
#include "vaslab/core/screens/edit_system_data.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"

namespace {

using namespace vaslab;
namespace vk = platform::vk;

constexpr int kAbi = 110, kDual = 111, kToePressure = 112, kToeWaveform = 113, kCancel = 116, kAccept = 117,
              kUnlock = 118;

TEST(OptionsArguments, EveryOptionCombination) {
  struct Case {
    int bits;
    const char* facility;
    const char* text;
  };
  const Case cases[] = {
      {0x02 | 0x04 | 0x08, "Lab", "6 1.30 0.90 0.89 0.70 0.69 0.40 0 0 0 \"Lab\""},
      {0x00, "", "1 0 0 0 0 0 0 0 0 0 \"\""},
      {0x01, "A B", "1 1.25 0.97 0.96 0.75 0.74 0.50 0 0 0 \"A B\""},
      {0x03 | 0x10, "X", "3 0 0 0 0 0 0 0 0 0 \"X\""},  // chart value 3 counts as off
      {0x04 | 0x10, "X", "4 0 0 0 0 0 0 0 0 0 \"X\""},
      {0x08 | 0x10, "X", "7 0 0 0 0 0 0 0 0 0 \"X\""},
      {0x01 | 0x04 | 0x08 | 0x10, "X", "8 1.25 0.97 0.96 0.75 0.74 0.50 0 0 0 \"X\""},
  };
  for (const Case& c : cases) EXPECT_EQ(options_program_arguments(c.bits, c.facility), c.text) << c.bits;

  // A facility name that fills its field without a NUL is cut at 29.
  char full[30];
  std::memset(full, 'F', sizeof full);
  EXPECT_EQ(options_program_arguments(0, full), "1 0 0 0 0 0 0 0 0 0 \"" + std::string(29, 'F') + "\"");
}

struct Options : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> in;
  std::string argv_file;

  void SetUp() override {
    ScreenFixture::SetUp();
    in = std::make_unique<testsupport::ScriptedInput>(clock);
    argv_file = root.path() + "/argv.txt";
  }
  void TearDown() override {
    in.reset();
    ScreenFixture::TearDown();
  }
  // The menu program: records its arguments one a line and exits with a code.
  void stub_program(int exit_code) {
    root.write("C:\\PROGRAMS\\UCONFIG\\ZODODOV.sh",
               "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + argv_file + "'\nexit " +
                   std::to_string(exit_code) + "\n");
    ::chmod(platform::map_path("C:\\PROGRAMS\\UCONFIG\\ZODODOV.sh").c_str(), 0755);
  }
  std::vector<std::string> recorded_argv() const {
    std::ifstream f(argv_file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
  }
  std::uint8_t option_bits_on_disk() const {
    const std::string f = root.read(kHardwareSettingsFile);
    return f.size() == kHardwareSettingsSize ? static_cast<std::uint8_t>(f[824]) : 0xEE;
  }
};

TEST_F(Options, AcceptStoresTheBitsAndRunsTheMenuProgramWithoutAShell) {
  stub_program(0);
  HardwareSettings& hw = hardware_settings();
  hw.option_bits = 0;
  std::snprintf(hw.facility_name, sizeof hw.facility_name, "%s", "Old");
  // The name through the on-screen keyboard: cleared, typed, accepted.
  in->after(20).tap(114).after(200).tap(1070).after(80).type("Lab").after(80).tap(0).after(200);
  in->tap(kAbi).after(80).tap(kAbi).after(80).tap(kDual).after(80).tap(kToePressure).after(80).tap(kAccept);
  EXPECT_EQ(run_options_screen(), 0);
  EXPECT_EQ(hw.option_bits, 0x0e);
  EXPECT_EQ(option_bits_on_disk(), 0x0e);
  EXPECT_EQ(recorded_argv(), (std::vector<std::string>{"6", "1.30", "0.90", "0.89", "0.70", "0.69", "0.40", "0",
                                                        "0", "0", "Lab"}));
}

TEST_F(Options, FacilityNameNeverReachesAShell) {
  stub_program(0);
  HardwareSettings& hw = hardware_settings();
  ASSERT_NE(::access("ran", F_OK), 0) << "a file named ran in the test's folder";
  // Shell characters and single quotes: the name arrives as one argument.
  std::snprintf(hw.facility_name, sizeof hw.facility_name, "St 'Ann's; $(touch %s)", "ran");
  const std::string name = hw.facility_name;
  in->after(20).tap(kAccept);
  EXPECT_EQ(run_options_screen(), 0);
  std::vector<std::string> argv = recorded_argv();
  ASSERT_EQ(argv.size(), 11u);
  EXPECT_EQ(argv[10], name);

  // Double quotes inside the name end the quoted stretch, as they did for
  // the original program: the words are split as that program would split
  // them, and still nothing runs.
  std::snprintf(hw.facility_name, sizeof hw.facility_name, "%s", "a\" `touch ran` \"b|c>d");
  in->after(20).tap(kAccept);
  EXPECT_EQ(run_options_screen(), 0);
  argv = recorded_argv();
  const std::vector<std::string> split =
      platform::split_command_line(options_program_arguments(hw.option_bits, hw.facility_name));
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 10, argv.end()),
            (std::vector<std::string>{"a", "`touch", "ran`", "b|c>d"}));
  EXPECT_EQ(std::vector<std::string>(split.begin() + 10, split.end()),
            std::vector<std::string>(argv.begin() + 10, argv.end()));
  EXPECT_NE(::access("ran", F_OK), 0) << "a shell ran the name";
}

TEST_F(Options, ExitCodesAndStartFailuresShowTheirMessages) {
  // Each message keeps the screen; cancel then leaves it.
  stub_program(5);
  in->after(20).tap(kAccept).after(200).tap(kMbCancel).after(200).tap(kCancel);
  EXPECT_EQ(run_options_screen(), 0);
  EXPECT_TRUE(noted("message box [ZodoDOV Fatal Error]: \r\rError #5"));

  stub_program(200);
  in->after(20).tap(kAccept).after(200).tap(kMbRetry).after(200).tap(kCancel);
  EXPECT_EQ(run_options_screen(), 0);
  EXPECT_TRUE(noted("message box [ZodoDOV Runtime Error]: \r\rError #200"));

  ::unlink(platform::map_path("C:\\PROGRAMS\\UCONFIG\\ZODODOV.sh").c_str());
  in->after(20).tap(kAccept).after(200).tap(kMbOk).after(200).tap(kCancel);
  EXPECT_EQ(run_options_screen(), 0);
  EXPECT_TRUE(noted("message box [Error running ZodoDOV]: ZodoDOV.EXE not found"));

  // A file that is no program at all.
  root.write("C:\\PROGRAMS\\UCONFIG\\ZODODOV.sh", std::string("\x7f" "ELF\x01\x01\x01\0garbage", 16));
  ::chmod(platform::map_path("C:\\PROGRAMS\\UCONFIG\\ZODODOV.sh").c_str(), 0755);
  in->after(20).tap(kAccept).after(200).tap(kMbOk).after(200).tap(kCancel);
  EXPECT_EQ(run_options_screen(), 0);
  EXPECT_TRUE(noted("message box [Error running ZodoDOV]: Bad file format"));
  EXPECT_TRUE(in->done());
}

TEST_F(Options, CancelLeavesTheBitsInMemoryAndOnDisk) {
  HardwareSettings& hw = hardware_settings();
  hw.option_bits = 0x05;
  ASSERT_EQ(write_hardware_settings(), 0);
  in->after(20).tap(kAbi).after(80).tap(kToeWaveform).after(80).tap(kDual).after(80).tap(kCancel);
  EXPECT_EQ(run_options_screen(), 0);
  EXPECT_EQ(hw.option_bits, 0x05);
  EXPECT_EQ(option_bits_on_disk(), 0x05);
}

TEST_F(Options, OnlyUnbrokenUnlockPressesOpenTheMenus) {
  for (int i = 0; i < kUnlockPresses - 1; ++i) in->after(80).tap(kUnlock);
  in->after(80).tap(kDual);
  for (int i = 0; i < kUnlockPresses - 1; ++i) in->after(80).tap(kUnlock);
  in->after(80).tap(kCancel);
  EXPECT_EQ(run_options_screen(), 0);
  for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
  EXPECT_EQ(run_options_screen(), 1);
  EXPECT_TRUE(in->done());
}

TEST_F(Options, ExitSystemFromDiagnosticsEndsTheWorkstation) {
  for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
  // Diagnostics, its keypad test left by Escape, the about box, then Exit System.
  in->after(80).key('D').after(80).tap(101).after(80).key(vk::kEscape).after(80).tap(103).after(80).key(vk::kReturn);
  in->after(80).tap(104);
  EXPECT_EQ(run_setup_menu(), 1);
  EXPECT_TRUE(in->done());

  // EXIT of the set-up menu returns 0.
  for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
  in->after(80).key(vk::kEscape);
  EXPECT_EQ(run_setup_menu(), 0);
}

// A menu entry tapped twice, 80 ms apart: the second tap lands on the menu
// the first one opened, before it has settled, and must open nothing there.
TEST_F(Options, AHurriedSecondTapOpensNothingOnTheNextMenu) {
  struct Case {
    const char* what;
    std::vector<int> lead;  // entries tapped on the way
    int button;
    const char* shown;      // an entry of the menu a single tap leads to
    int escapes;            // the way out from there
  };
  const Case cases[] = {
      {"Diagnostics, over Keypad", {}, 101, "Exit System", 2},
      {"Calibrate, over Doppler Frequency", {101}, 100, "Calibrate 4", 3},
      {"calibration EXIT, over the diagnostics EXIT", {101, 100}, 104, "Exit System", 2},
      {"diagnostics EXIT, over the set-up EXIT", {101}, 105, "Configure studies", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    in.reset();
    in = std::make_unique<testsupport::ScriptedInput>(clock);
    for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
    for (int code : c.lead) in->after(300).tap(code);
    in->after(300).tap(c.button).after(30).tap_again();
    std::vector<std::string> labels;
    in->after(600).at_time([&] {
      const ButtonRecord* t = current_button_table();
      for (int i = 0; t && !is_table_end(t[i]); ++i) labels.push_back(t[i].label);
    });
    for (int i = 0; i < c.escapes; ++i) in->after(300).key(vk::kEscape);
    in->after(5000).close_window();  // should the way out not be there
    EXPECT_EQ(run_setup_menu(), 0) << "Exit System was not chosen";
    EXPECT_NE(std::find(labels.begin(), labels.end(), c.shown), labels.end());
  }
}

TEST_F(Options, ClosedWindowUnwindsEveryMenu) {
  for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
  in->after(80).tap(101).after(80).tap(101).after(80).close_window();
  EXPECT_EQ(run_setup_menu(), 0);
}

TEST_F(Options, FloppyMenuAsksFirstAndLeavesByExit) {
  // NO starts nothing; EXIT returns without a question.
  in->after(20).tap(100).after(80).tap(101).after(80).tap(104);
  floppy_backup_menu();
  EXPECT_TRUE(in->done());
}

TEST_F(Options, AreYouSureAnswers) {
  in->after(20).tap(100);
  EXPECT_EQ(confirm_are_you_sure(), 1);
  in->after(20).key('N');
  EXPECT_EQ(confirm_are_you_sure(), 0);
  in->after(20).key(vk::kEscape);
  EXPECT_EQ(confirm_are_you_sure(), 0);
}

}  // namespace

namespace {

TEST_F(Options, KeypadTestIsLeftByTouchingExit) {
  in->after(20).tap(100).after(2000).close_window();
  const std::uint32_t start = clock.now;
  run_keypad_screen();
  EXPECT_LT(clock.now - start, 1000u) << "left only when the window closed";
}

TEST_F(Options, KeypadTestLeavesByItsExitKey) {
  // The keyboard's Escape has no release of its own: the press must do.
  const std::uint32_t start = clock.now;
  in->after(20).key(platform::vk::kEscape).after(2000).close_window();
  run_keypad_screen();
  EXPECT_LT(clock.now - start, 1000u) << "left only when the window closed";
}

}  // namespace

namespace {

TEST_F(Options, VideoSetupWritesTheSettingsWhenLeft) {
  hardware_settings().inflate_delay = 33;
  for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
  in->after(80).key('V').after(80).key(vk::kEscape).after(80).key(vk::kEscape);
  EXPECT_EQ(run_setup_menu(), 0);
  const std::string f = root.read(kHardwareSettingsFile);
  ASSERT_EQ(f.size(), kHardwareSettingsSize);
  EXPECT_EQ(f[300], 33);
}

TEST_F(Options, AFailedSettingsWriteIsSaidAndKeepsTheOldFile) {
  ASSERT_EQ(write_hardware_settings(), 0);
  const std::string before = root.read(kHardwareSettingsFile);
  HardwareSettings& hw = hardware_settings();
  hw.inflate_delay = 34;
  stub_program(0);

  // The options accepted, then Edit System Data left, each with the disk
  // full.
  const std::string said = "message box [Error]: The settings could not be saved.";
  platform::arm_write_fault(1, ENOSPC);
  in->after(20).tap(kAbi).after(80).tap(kAccept).after(200).tap(kMbOk);
  EXPECT_EQ(run_options_screen(), 0);
  EXPECT_TRUE(noted(said));
  notes.clear();
  // Edit System Data left at once (its Leave key is code 1).
  platform::arm_write_fault(1, ENOSPC);
  in->after(20).tap(1).after(200).tap(kMbOk);
  EXPECT_EQ(edit_system_data(), 0);
  EXPECT_TRUE(noted(said));
  platform::disarm_write_fault();

  EXPECT_EQ(root.read(kHardwareSettingsFile), before);
  // The run goes on with what the operator set.
  EXPECT_EQ(hw.inflate_delay, 34);
  EXPECT_TRUE(in->done());
}

}  // namespace

namespace {

TEST_F(Options, ServiceEntriesOpenTheirScreens) {
  for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
  // Video set-up: Calibrate TOUCH opens the calibration, left by Esc.
  // Diagnostics: Calibrate, Blood Pressure opens the alignment, left by CANCEL;
  // Reindex Archive opens the reindexing menu, whose full reindex of the
  // empty archive ends on its Exit.
  in->after(80).key('V').after(80).key('T').after(200).key(vk::kEscape).after(200).key(vk::kEscape);
  in->after(80).key('D').after(80).key('C');
  in->after(80).key('B').after(300).tap(1).after(200).key(vk::kEscape);
  in->after(80).key('R').after(200).key('F').after(300).key(vk::kEscape).after(200).key(vk::kEscape);
  in->after(80).key(vk::kEscape).after(80).key(vk::kEscape);
  EXPECT_EQ(run_setup_menu(), 0);
  EXPECT_FALSE(noted("message box [Blood Pressure]"));
  EXPECT_FALSE(noted("message box [Reindex Archive]"));
  EXPECT_FALSE(noted("message box [Calibrate TOUCH]"));
  EXPECT_EQ(root.read("C:\\PROGRAMS\\DB").size(), 4300086u);
}

// Configure studies starts the configuration program; one that is not
// there, or is no program, is told in a box naming it, and the menu is
// drawn again under it.  One that runs is waited for without a box.
TEST_F(Options, ConfigureStudiesTellsAProgramThatCannotStart) {
  const std::string program = "C:\\PROGRAMS\\UCONFIG\\UCONFIG";
  const struct {
    const char* file;  // what stands at the program's path; null: nothing
    mode_t mode;
    const char* box;   // the box expected; null: none
  } cases[] = {
      {nullptr, 0, "message box [Error running UCONFIG]: C:\\PROGRAMS\\UCONFIG\\UCONFIG not found"},
      {"#!/bin/sh\nexit 0\n", 0644, "message box [Error running UCONFIG]: C:\\PROGRAMS\\UCONFIG\\UCONFIG not found"},
      // Its interpreter cannot be run, or is not there.
      {"#!@PLAIN@\n", 0755, "message box [Error running UCONFIG]: C:\\PROGRAMS\\UCONFIG\\UCONFIG: Permission denied"},
      {"#!/nonexistent/sh\n", 0755, "message box [Error running UCONFIG]: C:\\PROGRAMS\\UCONFIG\\UCONFIG not found"},
      {"#!/bin/sh\nexit 0\n", 0755, nullptr},
  };
  root.write("C:\\plain.txt", "not a program\n");
  for (const auto& c : cases) {
    notes.clear();
    ::unlink(platform::map_path(program + ".sh").c_str());
    if (c.file) {
      std::string file = c.file;
      if (const auto at = file.find("@PLAIN@"); at != std::string::npos) file.replace(at, 7, platform::map_path("C:\\plain.txt"));
      root.write(program + ".sh", file);
      ::chmod(platform::map_path(program + ".sh").c_str(), c.mode);
    }
    SCOPED_TRACE(c.file ? c.file : "no file");
    bool menu_again = false;
    // Each run's script starts when the run does, not when the last one's ended.
    in->from_now();
    for (int i = 0; i < kUnlockPresses; ++i) in->after(80).tap(kUnlock);
    in->after(80).key('C').after(300);
    if (c.box) in->tap(kMbOk).after(300);
    in->at_time([&] { menu_again = current_button_table() && current_button_table()->button_code == 100; });
    in->key(vk::kEscape);
    EXPECT_EQ(run_setup_menu(), 0);
    EXPECT_TRUE(menu_again) << "the set-up menu is back";
    if (c.box)
      EXPECT_TRUE(noted(c.box)) << c.box;
    else
      EXPECT_FALSE(noted("message box [Error running UCONFIG]"));
  }
}

struct DateAndTime : Options {
  void SetUp() override {
    Options::SetUp();
    g_is_windows_nt = 1;  // as on the instrument: the panel is offered
  }
  void configure(const std::string& command_line) {
    root.write(platform::registry_file(), "; the instrument's registry\n[SOFTWARE\\Korvani\\Other]\nDateTimeProgram=wrong\n"
                               "[software\\korvani\\VASLAB]\n  datetimeprogram = " + command_line + "\n");
  }
  // From the options screen's button.
  void press_date_button(int answer_key = 0) {
    in->after(20).tap(115).after(300);
    if (answer_key) in->key(answer_key).after(200);
    in->tap(kCancel);
    EXPECT_EQ(run_options_screen(), 0);
  }
};

TEST_F(DateAndTime, TheConfiguredProgramRunsWithItsArgumentsWithoutAShell) {
  root.write("C:\\PROGRAMS\\clock.sh",
             "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + argv_file + "'\n");
  ::chmod(platform::map_path("C:\\PROGRAMS\\clock.sh").c_str(), 0755);
  configure("\"" + platform::map_path("C:\\PROGRAMS\\clock.sh") + "\" datetime \"a b;$(touch ran)\"");
  press_date_button();
  EXPECT_EQ(recorded_argv(), (std::vector<std::string>{"datetime", "a b;$(touch ran)"}));
  EXPECT_FALSE(noted("message box [Date and Time]"));
  EXPECT_NE(::access("ran", F_OK), 0);
}

TEST_F(DateAndTime, NoneConfiguredOrNotStartedIsSaidInABox) {
  press_date_button(vk::kReturn);
  EXPECT_TRUE(noted("message box [Date and Time]: This function is not available.\rNo date and time program"));
  notes.clear();
  configure("/no/such/clock-panel --now");
  press_date_button(vk::kReturn);
  EXPECT_TRUE(noted("message box [Date and Time]: /no/such/clock-panel: No such file or directory"));
}

}  // namespace
