#include "vaslab/studies/notes_editor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "study_fixture.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/worklist.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/module_frame.h"

namespace vaslab {
namespace {

// --- The re-wrap, as a table ---------------------------------------------------------

struct WrapCase {
  const char* name;
  std::vector<WrapLine> before;
  WrapCursor cursor;
  int change;
  bool insert;
  bool fits;
  std::vector<WrapLine> after;  // the lines as they end (as before when it does not fit)
  WrapCursor moved;
};

WrapLine L(const char* answer, int width, std::uint16_t flags) { return {answer, width, flags}; }

TEST(NotesRewrap, SplitsByItsRulesAndUndoesWhatDoesNotFit) {
  const std::vector<WrapCase> cases = {
      {"a letter typed after a full line moves the last word on, the space stays (flags 2, 8)",
       {L("abcd efghi", 10, 8), L("", 10, 0)}, {0, 10}, 'j', true, true,
       {L("abcd ", 10, 2), L("efghij", 10, 8)}, {1, 6}},
      {"no space: the line takes its width (flags 2)",
       {L("abcdefghij", 10, 8), L("", 10, 0)}, {0, 10}, 'k', true, true,
       {L("abcdefghij", 10, 2), L("k", 10, 8)}, {1, 1}},
      {"a space just past the width is dropped; the text ends there (flags 1 + 8)",
       {L("abcde", 5, 8), L("", 5, 0)}, {0, 5}, ' ', true, true,
       {L("abcde", 5, 9), L("", 5, 0)}, {0, 6}},
      {"Enter after a dropped space ends the line there (flags 5), the next line holds the end",
       {L("abcde", 5, 9), L("", 5, 0)}, {0, 6}, kWrapEnter, true, true,
       {L("abcde", 5, 5), L("", 5, 8)}, {1, 0}},
      {"Enter inside a line splits it (flags 4, 8)",
       {L("abcd", 10, 8), L("", 10, 0)}, {0, 2}, kWrapEnter, false, true,
       {L("ab", 10, 4), L("cd", 10, 8)}, {1, 0}},
      {"backspace at the start of a line takes the Enter before it",
       {L("ab", 10, 4), L("cd", 10, 8)}, {1, 0}, kWrapBackspace, true, true,
       {L("abcd", 10, 8), L("", 10, 0)}, {0, 2}},
      {"a deletion pulls the next line's word back",
       {L("abcd ", 10, 2), L("efghij", 10, 8)}, {0, 0}, kWrapDelete, true, true,
       {L("bcd efghij", 10, 8), L("", 10, 0)}, {0, 0}},
      {"overwrite replaces the character at the cursor",
       {L("abc", 10, 8)}, {0, 1}, 'X', false, true, {L("aXc", 10, 8)}, {0, 2}},
      {"overwrite at an Enter inserts before it",
       {L("ab", 10, 4), L("", 10, 8)}, {0, 2}, 'c', false, true, {L("abc", 10, 4), L("", 10, 8)}, {0, 3}},
      {"a line of its own never grows past its width",
       {L("abcdefghij", 10, 8)}, {0, 10}, 'k', true, false, {L("abcdefghij", 10, 8)}, {0, 10}},
      {"a full line of its own takes no trailing space either",
       {L("abcdefghij", 10, 8)}, {0, 10}, ' ', true, false, {L("abcdefghij", 10, 8)}, {0, 10}},
      {"Enter at the end of the block's last line does not fit",
       {L("abc", 10, 4), L("de", 10, 8)}, {1, 2}, kWrapEnter, true, false,
       {L("abc", 10, 4), L("de", 10, 8)}, {1, 2}},
      {"backspace with nothing before the cursor changes nothing",
       {L("abc", 10, 0), L("", 10, 0)}, {0, 0}, kWrapBackspace, true, true,
       {L("abc", 10, 0), L("", 10, 0)}, {0, 0}},
      {"a typed letter in an empty block starts its text on the first line",
       {L("", 10, 0), L("", 10, 0), L("", 10, 8)}, {0, 0}, 'a', true, true,
       {L("a", 10, 8), L("", 10, 0), L("", 10, 0)}, {0, 1}},
  };
  for (const WrapCase& c : cases) {
    std::vector<WrapLine> lines = c.before;
    WrapCursor cursor = c.cursor;
    EXPECT_EQ(rewrap_block(lines, cursor, c.change, c.insert), c.fits) << c.name;
    EXPECT_EQ(lines, c.after) << c.name;
    EXPECT_EQ(cursor, c.moved) << c.name;
  }
}

// --- The form, driven through the screen ---------------------------------------------

constexpr int kExam = 9;

struct NotesFormTest : StudyFixture {
  // A notes step: caption, caption width in characters, answer width,
  // default answer, block tag, import field and fill mode.
  void add_line(const char* caption, int caption_chars, int width, const char* answer = "", int block = 0,
                int import_fill = 0) {
    NotesStep s{};
    s.module_type = 10;
    s.step_class = kStudyStepClass;
    std::snprintf(s.label, sizeof s.label, "Notes");
    s.caption_width = static_cast<std::int16_t>(caption_chars * 30);
    std::snprintf(s.caption, sizeof s.caption, "%s", caption);
    s.answer_width = static_cast<std::uint8_t>(width);
    std::snprintf(s.default_answer, sizeof s.default_answer, "%s", answer);
    s.block_tag = static_cast<std::uint8_t>(block);
    s.import_fill = static_cast<std::uint8_t>(import_fill);
    add_step(s, encode_notes_step, [](NotesStep&) {});
  }
  int run(int first, int count, int current) {
    std::vector<std::string> s{"C:\\PROGRAMS\\LINEEDIT", "77", std::to_string(kExam), std::to_string(first),
                               std::to_string(count), std::to_string(current)};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return lineedit_main(static_cast<int>(argv.size()), argv.data());
  }
  std::string text(int step) { return page_fields(step, kExam)["text"]; }
  int flags(int step) { return std::stoi(page_fields(step, kExam)["count"]); }
  static bool caps_lock() { return peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40; }
  int step_slot() { return static_cast<std::int16_t>(peek_comm_area_word(0, kStepSlot)); }
  // The cursor cell of the small form: its top line is inked.
  bool cursor_at(int row, int column) {
    return px(column * 8 + 3, 19 * row + 1) == vga_color_to_rgb(kColorBlack);
  }
  // "IMPORT.DAT" with these records, loaded as the start screen does.
  void import(const std::string& records) {
    HardwareSettings& hw = hardware_settings();
    std::snprintf(hw.import_control, sizeof hw.import_control, "C:\\PROGRAMS\\DICOMMWL");
    std::snprintf(hw.import_path, sizeof hw.import_path, "C:\\IMPORT\\");
    const std::string dir = platform::map_path_create_dirs("C:\\IMPORT\\");
    ASSERT_FALSE(testsupport::run_generator("vaslab/records/tests/make_import.py", dir, "IMPORT.DAT", records).empty());
    char buf[kWorklistBufferSize];
    ASSERT_EQ(worklist_control(-4, buf), 0);
  }
};

TEST_F(NotesFormTest, EntryChecksAndCaptionOnlyStretch) {
  add_line("Comments", 0, 0);
  add_line("Findings", 0, 0);
  write_template();
  EXPECT_EQ(run(1, 2, 3), kResultError) << "current step past the stretch";
  EXPECT_EQ(run(1, 3, 1), kResultError) << "template shorter than the stretch";
  EXPECT_EQ(run(1, 2, 1), kResultStretchDone);
  EXPECT_EQ(step_slot(), 3);
  EXPECT_FALSE(page_exists(1, kExam));
}

TEST_F(NotesFormTest, CaptionsPadOrNotAndDefaultsAreWrittenOnLeaving) {
  add_line("Comments", 3, 20);                  // longer than its width: unpadded
  add_line("Site", 10, 20, "normal");           // right-aligned in 10
  add_line("", 0, 20);
  write_template();
  input->after(100).at_time([this] { EXPECT_TRUE(cursor_at(0, 8)) << "the answer starts after the caption"; });
  input->key(platform::vk::kDown).after(50);
  input->after(50).at_time([this] { EXPECT_TRUE(cursor_at(1, 10)) << "answer column of a padded caption"; });
  input->type("ok").after(50).key(platform::vk::kDown).after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 3, 1), kResultLeave);
  EXPECT_FALSE(page_exists(1, kExam)) << "untouched and empty";
  EXPECT_EQ(text(2), "oknormal") << "typed in insert mode before the default";
  EXPECT_FALSE(page_exists(3, kExam));
  EXPECT_EQ(step_slot(), 3);

  // Run again: the stored answer replaces the default; a line left without
  // a change is not written again.
  input->after(100).key(platform::vk::kDown).after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 3, 2), kResultLeave);
  EXPECT_EQ(text(2), "oknormal");
}

// A full line tells the operator so: the characters that do not fit are
// refused with the error beep, in every screen mode, and each answer is
// ruled to its width so that its end is seen before it is reached.
TEST_F(NotesFormTest, AFullLineBeepsAndItsEndIsShown) {
  add_line("Comments", 9, 10);
  write_template();
  struct Mode {
    const char* name;
    const char* data_entry;
    int y;                  // the rule's row under the first line
    int first_x, last_x;    // its first and last pixel columns
    int cell;               // the cursor cell's width, over the rule's start
    int leave_key, left_with;
  } modes[] = {
      // The answer starts at index 9, after " Comments".  The keyboard mode
      // has no EXIT: its one line is left with Next.
      {"small", "1", 17, 9 * 8, 19 * 8 - 1, 8, platform::vk::kEscape, kResultLeave},
      {"large", "2", 28 + 30, 9 * 16, 19 * 16 - 1, 16, platform::vk::kEscape, kResultLeave},
      {"keyboard", "3", 28 + 30, 9 * 16, 19 * 16 - 1, 16, platform::vk::kDown, kResultStretchDone},
  };
  int running = -1;
  for (int i = 0; i < 3; ++i) {
    const Mode& m = modes[i];
    std::snprintf(hardware_settings().data_entry, sizeof hardware_settings().data_entry, "%s", m.data_entry);
    delete_study_page(1, kExam);
    input->beeps = 0;
    int ruled_cells = -1;
    bool past_end_clear = false;
    input->after(100).at_time([&] {
      // The cursor stands on the first cell; the rule runs on under the rest.
      ruled_cells = 0;
      for (int x = m.first_x + m.cell; x <= m.last_x; ++x) ruled_cells += px(x, m.y) == vga_color_to_rgb(kColorGrey);
      past_end_clear = px(m.last_x + 1, m.y) != vga_color_to_rgb(kColorGrey);
    });
    input->type("abcdefghij").after(50);
    input->at_time([&] { EXPECT_EQ(input->beeps, 0) << m.name << ": nothing refused yet"; });
    input->type("kl").after(50).key(m.leave_key);
    // A form that does not leave as it should fails the test instead of
    // waiting for input that never comes.
    input->after(10000).at_time([&running, i, &m] {
      if (running != i) return;
      ADD_FAILURE() << m.name << ": the form is still open";
      stop_event_loop();
    });
    running = i;
    EXPECT_EQ(run(1, 1, 1), m.left_with) << m.name;
    running = -1;
    if (!is_event_loop_live()) reset_event_state();
    EXPECT_GE(input->beeps, 1) << m.name;
    EXPECT_EQ(text(1), "abcdefghij") << m.name;
    EXPECT_EQ(ruled_cells, m.last_x - m.first_x + 1 - m.cell) << m.name << ": the answer's width is ruled";
    EXPECT_TRUE(past_end_clear) << m.name << ": the rule ends with the line";
  }
}

TEST_F(NotesFormTest, TypingWrapsInsideABlockAndPagesHoldTheFlags) {
  add_line("History", 10, 10, "", 1);
  add_line("", 10, 10);
  add_line("", 10, 10, "", 3);
  add_line("Other", 10, 10);
  write_template();
  input->after(100).type("abcd efghij").after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 4, 1), kResultLeave);
  EXPECT_EQ(text(1), "abcd ");
  EXPECT_EQ(flags(1), kLineSoftWrap);
  EXPECT_EQ(text(2), "efghij");
  EXPECT_EQ(flags(2), kLineEndOfText);
  EXPECT_EQ(step_slot(), 2) << "the cursor followed the text";

  // Deleting at the start of the block pulls the second line back: the
  // second line's page follows, although the cursor never goes there.
  input->after(100).key(platform::vk::kUp).after(50).key(platform::vk::kDelete).after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 4, 2), kResultLeave);
  EXPECT_EQ(text(1), "bcd efghij");
  EXPECT_EQ(flags(1), kLineEndOfText);
  EXPECT_EQ(text(2), "");
  EXPECT_EQ(flags(2), 0);
}

TEST_F(NotesFormTest, MovesPastTheEndsLeaveWithTheirCodes) {
  add_line("A", 5, 10, "x");
  add_line("B", 5, 0);
  add_line("C", 5, 10, "y");
  write_template();
  input->after(100).key(platform::vk::kLeft);
  EXPECT_EQ(run(1, 3, 1), 15) << "LEFT at the start of the first line";
  EXPECT_EQ(step_slot(), 1);
  input->after(100).key(platform::vk::kEnd).after(50).key(platform::vk::kRight);
  EXPECT_EQ(run(1, 3, 3), 16) << "RIGHT at the end of the last line";
  EXPECT_EQ(step_slot(), 3);
  input->after(100).key(platform::vk::kDown).after(50).key(platform::vk::kReturn);
  EXPECT_EQ(run(1, 3, 1), kResultStretchDone) << "Enter past the last line, over the caption-only line";
  input->after(100).key(platform::vk::kUp);
  EXPECT_EQ(run(1, 3, 1), kResultBack);
  EXPECT_EQ(step_slot(), 1);
}

TEST_F(NotesFormTest, PagingMovesTheWindowAndTheCursorByAScreen) {
  for (int i = 0; i < 25; ++i) add_line("L", 4, 10, i == 20 ? "" : "x");
  write_template();
  // 19 lines shown: the window moves to lines 7..25 (it never runs past the
  // last line) and the cursor by 19 lines, to line 20, the 14th row shown.
  input->after(100).key(platform::vk::kNext).after(50);
  input->at_time([this] { EXPECT_TRUE(cursor_at(13, 4)); });
  input->after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 25, 1), kResultLeave);
  EXPECT_EQ(step_slot(), 20);
  // Down from the second-to-last row scrolls by one line.
  for (int i = 0; i < 18; ++i) input->after(20).key(platform::vk::kDown);
  input->after(50).at_time([this] { EXPECT_TRUE(cursor_at(17, 4)); });
  input->after(50).key(platform::vk::kPrior).after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 25, 1), kResultLeave);
  EXPECT_EQ(step_slot(), 1) << "Page Up from line 19 stops at the first line";
}

TEST_F(NotesFormTest, KeyboardModeTurnsCapsLockOnAndTakesTouches) {
  std::snprintf(hardware_settings().data_entry, sizeof hardware_settings().data_entry, "3");
  if (caps_lock()) toggle_caps_lock();
  add_line("", 0, 60, "0123456789012345678901234567890123456789ABCDEFGHIJ");
  write_template();
  // A touch on the lower half at x 5 * 16 puts the cursor at column 45.
  input->after(100).mouse_down(5 * 16 + 3, 70).after(50).mouse_up(5 * 16 + 3, 70);
  input->after(50).tap('Q').after(50).tap(2);
  EXPECT_EQ(run(1, 1, 1), kResultStretchDone);
  EXPECT_TRUE(caps_lock());
  EXPECT_EQ(text(1), "0123456789012345678901234567890123456789ABCDEQFGHIJ");
}

TEST_F(NotesFormTest, WorklistFillsByMode) {
  const std::string a(80, 'a'), b(80, 'b'), c(40, 'c');
  import("'Doe^John' 'ID7' 'abc' '" + a + b + c + "'");
  add_line("M0", 3, 20, "dflt", 0, 3);
  add_line("M1", 3, 20, "dflt", 0, 0x40 | 3);
  add_line("M2", 3, 20, "dflt", 0, 0x80 | 3);
  add_line("", 0, 80, "", 1, 0xC0 | 4);
  add_line("", 0, 80);
  add_line("", 0, 80, "", 3);
  write_template();
  for (int i = 0; i < 5; ++i) input->after(50).key(platform::vk::kDown);
  input->after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 6, 1), kResultLeave);
  EXPECT_EQ(text(1), "abcdflt");
  EXPECT_EQ(text(2), "dfltabc");
  EXPECT_EQ(text(3), "abc");
  EXPECT_EQ(text(4), a);
  EXPECT_EQ(text(5), b) << "each piece goes on where the last one ended";
  EXPECT_EQ(text(6), c) << "the last, shorter piece is typed in too";
  EXPECT_EQ(flags(4), kLineSoftWrap);
  EXPECT_EQ(flags(6), kLineEndOfText);
}

TEST_F(NotesFormTest, AFailedPageWriteSaysSoAndIsWrittenAtTheNextMove) {
  add_line("A", 5, 10);
  add_line("B", 5, 10);
  write_template();
  // A folder where the first line's page goes.
  const std::string in_the_way = platform::map_path(page_file_name(1, kExam));
  ASSERT_EQ(::mkdir(in_the_way.c_str(), 0700), 0);
  input->after(100).type("a").after(50).key(platform::vk::kDown).after(200).tap(kMbOk);
  input->after(100).key(platform::vk::kUp).after(50).at_time([&] { ::rmdir(in_the_way.c_str()); });
  input->after(50).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 2, 1), kResultLeave);
  EXPECT_TRUE(noted("File error."));
  EXPECT_EQ(text(1), "a");
}

TEST_F(NotesFormTest, HugeCaptionWidthsAndAnswerWidthsStayInTheLine) {
  NotesStep s{};
  s.module_type = 10;
  s.caption_width = 32767;  // 1092 characters of padding
  std::memset(s.caption, 'C', sizeof s.caption - 1);
  s.answer_width = 255;
  std::memset(s.default_answer, 'D', sizeof s.default_answer - 1);
  add_step(s, encode_notes_step, [](NotesStep&) {});
  s.caption_width = -300;
  s.caption[5] = 0;
  add_step(s, encode_notes_step, [](NotesStep&) {});
  write_template();
  input->after(100).key(platform::vk::kEscape);
  EXPECT_EQ(run(1, 2, 1), kResultLeave);
  EXPECT_EQ(step_slot(), 2) << "the first line has no room for an answer";
  EXPECT_EQ(text(2), std::string(75, 'D')) << "answer column 6 leaves 75 of the 80 columns";
  EXPECT_FALSE(page_exists(1, kExam)) << "a line whose caption fills it cannot be edited";
}

}  // namespace
}  // namespace vaslab
