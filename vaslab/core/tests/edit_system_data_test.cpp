#include "vaslab/core/screens/edit_system_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "screen_fixture.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/program/program.h"

namespace {

using namespace vaslab;
namespace vk = platform::vk;

constexpr int kNext = 0, kLeave = 1, kPrevious = 3, kRight = 1000, kLeft = 1010, kInsert = 1040, kBack = 1060,
              kDelete = 1070, kClear = 1080;

// Field numbers (0-based) as they stand on the screen.
constexpr int kFieldStartMenu = 5, kFieldTouchPort = 6, kFieldArchivePath1 = 24, kFieldArchiveExt1 = 25,
              kFieldInflateDelay = 42, kFieldLeftBpSpan = 47;

std::string settings_bytes(const HardwareSettings& s) {
  std::uint8_t img[kHardwareSettingsSize];
  encode_hardware_settings(s, img);
  return std::string(reinterpret_cast<const char*>(img), sizeof img);
}

// Moves from field 1 to a field by NEXT presses on the keyboard.
void go_to_field(testsupport::ScriptedInput& in, int field) {
  for (int i = 0; i < field; ++i) in.after(30).key(vk::kReturn);
  in.after(30);
}

// The whole program in set-up mode: the settings it writes differ from the
// file it read in exactly the two fields edited.
struct SetupMode : CoreFixture {};

TEST_F(SetupMode, EditsAHexAndATextFieldAndWritesEveryOtherByteBack) {
  // A file with values away from the defaults, and stale bytes after the NUL
  // of a text field that no one edits.
  HardwareSettings& hw = hardware_settings();
  hw.touch_port = 0x2e8;
  hw.start_menu = 1;
  std::snprintf(hw.archive_path_1, sizeof hw.archive_path_1, "%s", "C:\\ARCHIVE\\OLD\\");
  std::memcpy(hw.import_path, "X:\\IN\0stale", 11);
  const std::string before = settings_bytes(hw);
  root.write(kHardwareSettingsFile, before);
  hw = HardwareSettings{};

  testsupport::ScriptedInput in(clock);
  go_to_field(in, kFieldTouchPort);
  in.key(vk::kInsert).after(30).tap(kClear).after(30).type("3f8");
  go_to_field(in, kFieldArchivePath1 - kFieldTouchPort);
  in.tap(kClear).after(30).type("D:\\ARC\\").after(30).key(vk::kEscape);
  EXPECT_EQ(win_main("setup"), 0);

  std::string expected = before;
  expected[90] = '\xf8';
  expected[91] = '\x03';
  const char arc[] = "D:\\ARC\\";
  std::memcpy(&expected[132], arc, sizeof arc);  // with its NUL; the old tail stays
  const std::string after = root.read(kHardwareSettingsFile);
  ASSERT_EQ(after.size(), kHardwareSettingsSize);
  for (std::size_t i = 0; i < after.size(); ++i)
    EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(after[i])), static_cast<int>(static_cast<unsigned char>(expected[i])))
        << "byte " << i;
}

struct EditSystemData : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> in;
  void SetUp() override {
    ScreenFixture::SetUp();
    in = std::make_unique<testsupport::ScriptedInput>(clock);
  }
  void TearDown() override {
    in.reset();
    ScreenFixture::TearDown();
  }
  std::string file() const { return root.read(kHardwareSettingsFile); }
};

TEST_F(EditSystemData, LeavingAtOnceRewritesTheSameBytes) {
  HardwareSettings& hw = hardware_settings();
  hw.start_menu = 200;  // more digits than its line was laid out for
  hw.left_bp_span = 0x7f;
  std::memcpy(hw.export_name_1, "A\0rest", 6);
  const std::string before = settings_bytes(hw);
  in->after(20).tap(kLeave);
  EXPECT_EQ(edit_system_data(), 0);
  EXPECT_EQ(file(), before);
  EXPECT_EQ(hw.start_menu, 200);
}

// The demo machine's settings, as demo-settings writes them: every field
// whose prompt lists its choices ("0=DYNAPRO", "1-Yes") holds one of them.
TEST_F(EditSystemData, TheDemoSettingsHoldValuesTheirPromptsOffer) {
  const std::string tool = std::string(VASLAB_BUILD_DIR) + "/bin/demo-settings";
  ASSERT_EQ(std::system(("VASLAB_ROOT='" + root.path() + "' '" + tool + "'").c_str()), 0);
  read_hardware_settings();
  load_system_data_fields();
  const std::regex choice("([0-9]+)[=-]");
  int checked = 0;
  for (int f = 0; f < kSystemDataFields; ++f) {
    const std::string label = system_data_label(f);
    std::vector<std::string> offered;
    for (std::sregex_iterator m(label.begin(), label.end(), choice), end; m != end; ++m) offered.push_back((*m)[1]);
    if (offered.empty()) continue;
    ++checked;
    const std::string value = system_data_value(f);
    EXPECT_NE(std::find(offered.begin(), offered.end(), value), offered.end()) << label << value;
  }
  EXPECT_GE(checked, 8);
}

TEST_F(EditSystemData, StoredNumberLongerThanItsLineSurvivesWalkingThrough) {
  HardwareSettings& hw = hardware_settings();
  hw.start_menu = 200;
  load_system_data_fields();
  EXPECT_STREQ(system_data_value(kFieldStartMenu), "200");
  for (int i = 0; i < kFieldStartMenu + 1; ++i) in->after(30).tap(kNext);
  in->after(30).tap(kLeave);
  edit_system_data();
  EXPECT_EQ(hw.start_menu, 200);
}

TEST_F(EditSystemData, HexAndDecimalConversions) {
  HardwareSettings& hw = hardware_settings();
  hw.inflate_delay = 20;
  load_system_data_fields();
  EXPECT_STREQ(system_data_value(kFieldTouchPort), "3f8") << "lower-case hex without a prefix";
  EXPECT_STREQ(system_data_value(kFieldInflateDelay), "20");

  // "0x2F8" in a hex field, "300" in an 8-bit decimal field (keeps 300 mod
  // 256), "1ff" in an 8-bit hex field (keeps ff).
  go_to_field(*in, kFieldTouchPort);
  in->tap(kClear).after(30).type("0x2F8");
  go_to_field(*in, kFieldInflateDelay - kFieldTouchPort);
  in->tap(kClear).after(30).type("300");
  go_to_field(*in, kFieldLeftBpSpan - kFieldInflateDelay);
  in->tap(kClear).after(30).type("1ff").after(30).tap(kLeave);
  edit_system_data();
  EXPECT_EQ(hw.touch_port, 0x2f8);
  EXPECT_EQ(hw.inflate_delay, 44);
  EXPECT_EQ(hw.left_bp_span, 0xff);
  const std::string f = file();
  ASSERT_EQ(f.size(), kHardwareSettingsSize);
  EXPECT_EQ(static_cast<unsigned char>(f[300]), 44);
  EXPECT_EQ(static_cast<unsigned char>(f[90]), 0xf8);
  EXPECT_EQ(static_cast<unsigned char>(f[91]), 0x02);
}

TEST_F(EditSystemData, LineEditingKeepsTheLabelAndTheCapacity) {
  HardwareSettings& hw = hardware_settings();
  std::snprintf(hw.archive_ext_1, sizeof hw.archive_ext_1, "%s", "ab");
  go_to_field(*in, kFieldArchiveExt1);
  // Left far past the value's start, then overwrite: the label stays.
  for (int i = 0; i < 6; ++i) in->key(vk::kLeft).after(20);
  in->type("X");
  // Insert at capacity (three characters) is ignored.
  in->key(vk::kInsert).after(20).type("c").after(20).type("d").after(20);
  // Overwrite at the end of a full line replaces the last character.
  in->key(vk::kInsert).after(20);
  for (int i = 0; i < 5; ++i) in->tap(kRight).after(80);
  in->type("Z").after(30).tap(kLeave);
  edit_system_data();
  EXPECT_STREQ(hw.archive_ext_1, "XcZ");
  EXPECT_STREQ(system_data_label(kFieldArchiveExt1), "Archive Ext. 1: ");
}

TEST_F(EditSystemData, BackDeleteAndPreviousField) {
  HardwareSettings& hw = hardware_settings();
  std::snprintf(hw.archive_path_1, sizeof hw.archive_path_1, "%s", "C:\\ARCHIVE\\");
  std::snprintf(hw.archive_ext_1, sizeof hw.archive_ext_1, "%s", "old");
  go_to_field(*in, kFieldArchiveExt1);
  // Back on the first value character cannot go left into the label, and
  // takes that character ("o"); delete takes the next ("l").
  in->tap(kBack).after(30).tap(kDelete).after(30);
  // Back to the field before: END of "C:\ARCHIVE\" by the right arrow, then
  // back twice takes the last two characters.
  in->tap(kPrevious).after(30);
  for (int i = 0; i < 12; ++i) in->key(vk::kRight).after(20);
  in->tap(kBack).after(80).tap(kBack).after(80).tap(kLeave);
  edit_system_data();
  EXPECT_STREQ(hw.archive_ext_1, "d");
  EXPECT_STREQ(hw.archive_path_1, "C:\\ARCHIV");
}

TEST_F(EditSystemData, EachQuickTapMovesOneField) {
  // Clicks 150 ms apart whose press and release arrive together, as a quick
  // click or touch delivers them: each moves one field, forwards and back.
  HardwareSettings& hw = hardware_settings();
  hw.start_menu = 1;
  hw.touch_port = 0x3f8;
  for (int i = 0; i < kFieldTouchPort; ++i) in->after(150).press(kNext).release();
  in->after(150).press(kPrevious).release();
  in->after(150).tap(kClear).after(30).type("4").after(30).tap(kLeave);
  edit_system_data();
  EXPECT_EQ(hw.start_menu, 4);
  EXPECT_EQ(hw.touch_port, 0x3f8);
}

TEST_F(EditSystemData, OnScreenKeysFollowCapsAndTheWindowClosingLeaves) {
  HardwareSettings& hw = hardware_settings();
  if (peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40) toggle_caps_lock();
  go_to_field(*in, kFieldArchiveExt1);
  in->tap(kClear).after(80).tap('Q').after(80).tap(1050).after(80).tap('Q').after(80).tap('@').after(80).close_window();
  edit_system_data();
  EXPECT_STREQ(hw.archive_ext_1, "qQ@");
  EXPECT_EQ(file().size(), kHardwareSettingsSize) << "closing the window still writes";
}

}  // namespace
