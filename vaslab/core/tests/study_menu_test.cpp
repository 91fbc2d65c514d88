#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/paths.h"
#include "screen_fixture.h"
#include "testsupport/generator.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/screens/study_menu.h"

namespace {

using namespace vaslab;

// Root with two studies and a submenu of three.
constexpr char kTree[] =
    "0,Studies,3,1,00000000;1,ABI Resting,0,0,00000101;0,PVR,3,4,00000000;"
    "1,Doppler,0,0,00000102;1,Lower PVR,0,0,00001234;1,Upper PVR,0,0,00000104;1,Toe PVR,0,0,00000105";

struct StudyMenuFile : ::testing::Test {
  testsupport::TempRoot root;
  std::vector<StudyMenuEntry> table;
  int count = -1;

  // Writes the menu file from the Python oracle; the edits damage it.
  void make(const std::string& spec, const std::string& edits = "") {
    const std::string bytes = testsupport::run_generator("vaslab/core/tests/study_menu_image.py", root.path(),
                                                         "menu.mnu", "'" + spec + "' " + edits);
    ASSERT_TRUE(!bytes.empty() || spec.empty());
    root.write(kStudyMenuFile, bytes);
  }
  int load() { return load_study_menu_file(table, &count); }
};

TEST_F(StudyMenuFile, OracleFileLoadsAndOurEncoderWritesTheSameBytes) {
  make(kTree);
  ASSERT_EQ(load(), 0);
  EXPECT_EQ(count, 7);
  ASSERT_EQ(table.size(), static_cast<std::size_t>(kStudyMenuTableSize));
  EXPECT_STREQ(table[4].label, "Lower PVR");
  EXPECT_EQ(table[2].first_child, 4);
  EXPECT_EQ(study_menu_template_number(table[4]), 1234) << "leading zeros dropped";
  for (int i = 0; i < count; ++i) EXPECT_EQ(table[i].checksum, 1) << "visit count of entry " << i;
  EXPECT_EQ(table[7].kind, 0) << "beyond the file the table stays zero";

  const std::vector<StudyMenuEntry> ours = {
      make_submenu_entry("Studies", 1, 3),   make_study_entry("ABI Resting", 101),
      make_submenu_entry("PVR", 4, 3),       make_study_entry("Doppler", 102),
      make_study_entry("Lower PVR", 1234),   make_study_entry("Upper PVR", 104),
      make_study_entry("Toe PVR", 105),
  };
  const auto bytes = encode_study_menu_file(ours);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), root.read(kStudyMenuFile));
}

TEST_F(StudyMenuFile, ChecksumTakesBytesAsSigned) {
  std::uint8_t e[44] = {};
  e[0] = 1;
  e[1] = 0xFF;  // -1
  e[2] = 0x80;  // -128
  EXPECT_EQ(study_menu_checksum(e), static_cast<std::uint16_t>(1 - 1 - 128));
}

TEST_F(StudyMenuFile, ShortOrMissingFiles) {
  EXPECT_EQ(load(), 1) << "no file";
  root.write(kStudyMenuFile, std::string(87, 'x'));
  EXPECT_EQ(load(), 0) << "shorter than one pair: an empty root";
  EXPECT_EQ(count, 0);
  EXPECT_EQ(table[0].kind, kMenuKindSubmenu);
  EXPECT_EQ(table[0].child_count, 0);
}

TEST_F(StudyMenuFile, DamageInEitherCopyRejects) {
  make(kTree, "second:3:5:88");
  EXPECT_EQ(load(), 1) << "one differing byte in the second copy";
  make(kTree, "sum:5");
  EXPECT_EQ(load(), 1) << "a wrong checksum in both copies";
  make(kTree, "second:6:43:0");
  EXPECT_EQ(load(), 1) << "the second copy's checksum alone differs";
}

TEST_F(StudyMenuFile, TreeWalkRejectsSharedOrphanedLoopingAndOutOfRangeEntries) {
  // Entry 2 listed by the root and by submenu 1.
  make("0,R,2,1,00000000;0,A,1,2,00000000;1,S,0,0,00000001");
  EXPECT_EQ(load(), 1);
  // Entry 2 listed by nobody.
  make("0,R,1,1,00000000;1,S,0,0,00000001;1,T,0,0,00000002");
  EXPECT_EQ(load(), 1);
  // A submenu that lists itself.
  make("0,R,1,1,00000000;0,A,1,1,00000000");
  EXPECT_EQ(load(), 1);
  // A submenu that lists the root.
  make("0,R,1,1,00000000;0,A,1,0,00000000");
  EXPECT_EQ(load(), 1);
  // Children past the end and before the start.
  make("0,R,2,1,00000000;1,S,0,0,00000001");
  EXPECT_EQ(load(), 1);
  make("0,R,1,-1,00000000;1,S,0,0,00000001");
  EXPECT_EQ(load(), 1);
  // A huge first child must not reach past the table either.
  make("0,R,1,30000,00000000;1,S,0,0,00000001");
  EXPECT_EQ(load(), 1);
  EXPECT_EQ(table[0].child_count, 0) << "a refused file leaves nothing behind";
}

TEST_F(StudyMenuFile, RootThatIsAStudyAndBadTemplateNamesReject) {
  make("1,Only,5,250,00000001");
  EXPECT_EQ(load(), 1) << "a study as root would show its child fields as a submenu";
  make("0,R,1,1,00000000;1,S,0,0,0000012x");
  EXPECT_EQ(load(), 1);
  make("0,R,1,1,00000000;1,S,0,0,00000120");
  EXPECT_EQ(load(), 0);
}

TEST_F(StudyMenuFile, TooManyEntriesReject) {
  std::string spec = "0,R,254,1,00000000";
  for (int i = 1; i <= 254; ++i) spec += ";1,S,0,0,00000001";
  make(spec);
  EXPECT_EQ(load(), 1) << "255 entries";
}

TEST(StudyMenuRow, LabelLeftAlignedAndMarked) {
  const std::string sub = study_menu_row_text(make_submenu_entry("PVR", 1, 1));
  EXPECT_EQ(sub, "PVR" + std::string(26, ' ') + ">");
  EXPECT_EQ(study_menu_row_text(make_study_entry("ABI", 1)).back(), ' ');
}

// --- The screen -------------------------------------------------------------

struct StudyMenuScreen : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> input;

  void SetUp() override {
    ScreenFixture::SetUp();
    input = std::make_unique<testsupport::ScriptedInput>(clock);
    ASSERT_TRUE(create_main_window(640, 480));
    ASSERT_EQ(set_display_mode(0), 1);
    write_menu(kTree);
  }
  void TearDown() override {
    input.reset();
    ScreenFixture::TearDown();
  }
  void write_menu(const std::string& spec) {
    root.write(kStudyMenuFile, testsupport::run_generator("vaslab/core/tests/study_menu_image.py", root.path(),
                                                          "menu.mnu", "'" + spec + "'"));
  }
};

constexpr int kRow1 = 215, kRow2 = 214, kRow3 = 213, kExit = 208;

TEST_F(StudyMenuScreen, ChoosingAStudyReturnsItsNumber) {
  input->after(20).tap(kRow1).close_window();
  EXPECT_EQ(run_study_menu(), 101);
}

TEST_F(StudyMenuScreen, SubmenuRowsBeyondItsCountDoNothingAndExitBacksUpOneLevel) {
  // Into "PVR" (row 2), row 4 of its three does nothing, EXIT goes back to
  // the root with "PVR" selected, Enter enters it again, row 1 chooses.
  input->after(20).tap(kRow2).after(100).key('4').after(100).tap(kExit).after(100)
      .key(platform::vk::kReturn).after(100).tap(kRow1).close_window();
  EXPECT_EQ(run_study_menu(), 1234);
}

TEST_F(StudyMenuScreen, DigitKeysChooseRows) {
  input->after(20).key('2').after(100).key('1').close_window();
  EXPECT_EQ(run_study_menu(), 1234) << "into PVR, then its first row";
}

TEST_F(StudyMenuScreen, TheChosenDigitIsNotTypedIntoTheNextScreen) {
  input->after(20).key('2').after(100).key('1');
  EXPECT_EQ(run_study_menu(), 1234);
  for (const auto& m : input->queue) EXPECT_NE(m.msg, platform::Msg::kChar) << "left for the patient screen";
}

TEST_F(StudyMenuScreen, ExitAtTheRootAndF10Leave) {
  input->after(20).tap(kRow2).after(100).key(platform::vk::kF10);
  EXPECT_EQ(run_study_menu(), -1);
  input->after(20).tap(kExit).close_window();
  EXPECT_EQ(run_study_menu(), -1);
}

TEST_F(StudyMenuScreen, DamagedFileIsReportedAndNothingStarts) {
  write_menu("1,Only,5,250,00000001");
  // Any press leaves; a later row press never reaches a menu.
  input->after(20).key('3').after(200).tap(kRow1).close_window();
  EXPECT_EQ(run_study_menu(), -1);

  // A FIFO in the file's place reads as damaged at once instead of waiting
  // for a writer that never comes.
  const std::string path = platform::map_path(kStudyMenuFile);
  ::unlink(path.c_str());
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  input->after(20).key('3').after(200).tap(kRow1).close_window();
  EXPECT_EQ(run_study_menu(), -1);
}

TEST_F(StudyMenuScreen, EmptyRootOffersOnlyExit) {
  root.write(kStudyMenuFile, "");
  input->after(20).tap(kRow1).after(50).key(platform::vk::kReturn).after(50).tap(kExit).close_window();
  EXPECT_EQ(run_study_menu(), -1);
}

}  // namespace
