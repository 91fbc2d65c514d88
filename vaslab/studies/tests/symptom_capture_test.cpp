#include "vaslab/studies/symptom_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "study_fixture.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/module_frame.h"

namespace vaslab {
namespace {

constexpr int kExam = 9;

struct SymptomTest : StudyFixture {
  void SetUp() override {
    StudyFixture::SetUp();
    set_button_mode_repeat();
  }

  // One symptom step: rows of `rows` (bits 4-7 of the enables are set for
  // each), all buttons enabled, control byte and start time as given.
  void add_symptom_step(std::vector<std::string> rows, int control = 0, int start = 0,
                        std::vector<std::uint16_t> alarms = {}) {
    std::uint8_t rec[kTemplateRecordSize] = {};
    rec[0] = 16;
    rec[1] = kStudyStepClass;
    std::snprintf(reinterpret_cast<char*>(rec + 2), 30, "Treadmill");
    rec[68] = 1;
    rec[69] = 0x0F;
    rec[70] = static_cast<std::uint8_t>(control);
    platform::put_s16le(rec + 71, static_cast<std::int16_t>(start));
    for (std::size_t i = 0; i < 10; ++i)
      platform::put_u16le(rec + 83 + 2 * i, i < alarms.size() ? alarms[i] : 0xFFFF & 0x1FFF);
    for (std::size_t i = 0; i < rows.size() && i < 4; ++i) {
      rec[69] |= static_cast<std::uint8_t>(0x10 << i);
      const std::size_t room = i == 3 ? 288 - 247 : 46;
      std::memcpy(rec + 109 + 46 * i, rows[i].data(), std::min(rows[i].size(), room));
    }
    add_record(rec);
  }

  int run(int first, int count, int current) {
    std::vector<std::string> s{"C:\\PROGRAMS\\TIMER", "77", std::to_string(kExam), std::to_string(first),
                               std::to_string(count), std::to_string(current)};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return timer_main(static_cast<int>(argv.size()), argv.data());
  }

  std::vector<std::uint8_t> page(int step) {
    auto b = platform::read_file(platform::map_path(page_file_name(step, kExam)), STUDY_PAGE_BYTES + 1);
    return b ? *b : std::vector<std::uint8_t>{};
  }
  // A text of at most `room` bytes (the running time at 11874 has 5 and no
  // NUL of its own).
  static std::string text_at(const std::vector<std::uint8_t>& p, std::size_t at, std::size_t room = 6) {
    return std::string(reinterpret_cast<const char*>(p.data() + at), strnlen(reinterpret_cast<const char*>(p.data() + at), room));
  }
  // "MM:SS" in seconds; -1 for anything else.
  static int seconds(const std::string& t) {
    int m = 0, s = 0;
    return t.size() == 5 && std::sscanf(t.c_str(), "%2d:%2d", &m, &s) == 2 ? m * 60 + s : -1;
  }
  // A button of the table the screen waits on, by code.
  static const ButtonRecord* button(int code) {
    for (const ButtonRecord* b = current_button_table(); b && !is_table_end(*b); ++b)
      if (b->button_code == code) return b;
    return nullptr;
  }
  // The word a button shows: its label before the bitmap name.
  static std::string label(int code) {
    const ButtonRecord* b = button(code);
    if (!b) return "";
    char text[kButtonLabelSize];
    button_label_text(*b, text, sizeof text);
    return text;
  }
};

const std::string kRow = std::string("Pain ") + '\x0f' + " " + '\x10';

TEST(SymptomRules, WordsColumnsAndAlarms) {
  EXPECT_STREQ(symptom_site_word(2, 2), "CALVES");
  EXPECT_STREQ(symptom_site_word(0, 2), "CALF");
  EXPECT_STREQ(symptom_site_word(1, 0), "BUTTOCK");
  EXPECT_STREQ(symptom_site_word(2, 0), "BTCKS.");
  EXPECT_EQ(symptom_row_columns(kRow), 5 + 6 + 1 + 8);
  EXPECT_EQ(stopwatch_text(125), "02:05");
  EXPECT_EQ(stopwatch_text(99 * 60 + 59), "99:59");

  start_stopwatch();
  Stopwatch& sw = tick_stopwatch();
  sw.set_alarm(0, 30, 0);
  sw.set_alarm(1, 40, 0);
  const std::uint16_t words[10] = {6000 | 0x2000, 0x2000 | 0x4000 | 90, 0x1FFF, 0, 0x2000 | 5, 0, 0, 0, 0, 0};
  program_stopwatch_alarms(sw, words);
  EXPECT_EQ(sw.alarms[0].time, 30) << "6000 seconds or more leaves the slot as it was";
  EXPECT_EQ(sw.alarms[1].time, 90);
  EXPECT_EQ(sw.alarms[1].beeps, 2) << "kind 1";
  EXPECT_EQ(sw.alarms[3].time, -1) << "bit 13 clear clears it";
  EXPECT_EQ(sw.alarms[4].time, 5);
}

TEST_F(SymptomTest, NextWithNothingWritesNoPageCaptureWritesFourFreeSlots) {
  add_symptom_step({kRow});
  add_symptom_step({kRow});
  write_template();
  input->after(200).tap(2).after(200).tap(1);
  EXPECT_EQ(run(1, 2, 1), kResultLeave);
  EXPECT_FALSE(page_exists(1, kExam));
  EXPECT_FALSE(page_exists(2, kExam));
  EXPECT_EQ(static_cast<std::int16_t>(peek_comm_area_word(0, kStepSlot)), 2);

  input->after(200).tap(0).after(200).tap(1);
  EXPECT_EQ(run(1, 2, 1), kResultLeave);
  const auto p = page(1);
  ASSERT_EQ(p.size(), STUDY_PAGE_BYTES);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(text_at(p, 11889 + 10 * i), "") << "slot " << i;
  EXPECT_EQ(platform::get_s16le(p.data() + 32), 17) << "probe";
  EXPECT_EQ(platform::get_s16le(p.data() + 18), -1) << "newest index";
  StudyPage check;
  EXPECT_EQ(read_study_page(1, kExam, template_base_name("77"), check), 0) << "passes the reading check";
}

TEST_F(SymptomTest, SlotsCaptureAtTheStopwatchTimeAndSideAndSiteCycle) {
  add_symptom_step({kRow, kRow, kRow}, 0x01 | 0x04, 60);  // set 01:00 and start
  write_template();
  input->after(5000).key('1');                        // slot 0 at 01:05
  input->after(2000).key(platform::vk::kF9);          // first free: slot 1 at 01:07
  input->after(1000).key(platform::vk::kF9);          // slot 2
  input->after(100).key('3');                         // frees slot 2 again
  input->after(100).key('A').after(100).key('A');     // side of row 0: BOTH
  input->after(100).key('B').after(100).key('B');     // site 2
  input->after(100).at_time([] {
    EXPECT_EQ(label(104), "BOTH");
    EXPECT_EQ(label(108), "CALVES");
    EXPECT_EQ(label(100), "C");
    EXPECT_EQ(label(102), "3");
  });
  input->after(100).tap(0);
  const std::int32_t before = static_cast<std::int32_t>(std::time(nullptr));
  EXPECT_EQ(run(1, 1, 1), kResultStretchDone);
  const auto p = page(1);
  ASSERT_EQ(p.size(), STUDY_PAGE_BYTES);
  EXPECT_EQ(platform::get_s16le(p.data() + 22), 60) << "the step's start time";
  // Two seconds apart on the stopwatch, which started at 01:00.
  const int first = seconds(text_at(p, 11889)), second = seconds(text_at(p, 11899));
  EXPECT_GE(first, 64);
  EXPECT_LE(first, 66);
  EXPECT_EQ(second - first, 2);
  EXPECT_EQ(text_at(p, 11909), "");
  EXPECT_GE(seconds(text_at(p, 11874, 5)), second) << "the running time";
  EXPECT_EQ(text_at(p, 11879), text_at(p, 11874, 5)) << "again where the list and the report read it";
  EXPECT_EQ(platform::get_u16le(p.data() + 5954), (2 << 8) | 2);
  EXPECT_GE(platform::get_s32le(p.data() + 34), before - 5);
  EXPECT_EQ(platform::get_s32le(p.data() + 74), 0) << "the freed slot holds no time";
}

TEST_F(SymptomTest, ControlBitFiveCapturesWithoutAScreen) {
  add_symptom_step({kRow}, 0x20 | 0x01, 125);
  write_template();
  EXPECT_EQ(run(1, 1, 1), kResultStretchDone);
  const auto p = page(1);
  ASSERT_EQ(p.size(), STUDY_PAGE_BYTES);
  EXPECT_EQ(text_at(p, 11874, 5), "02:05");
  EXPECT_EQ(text_at(p, 11879), "02:05");
  EXPECT_NE(platform::get_s32le(p.data() + 12009), 0) << "save time";
}

TEST_F(SymptomTest, ReviewKeepsThePageUntilItsOutcomeAndDoOverAsksFirst) {
  add_symptom_step({kRow});
  write_template();
  input->after(200).key('1').after(100).tap(0);
  ASSERT_EQ(run(1, 1, 1), kResultStretchDone);
  ASSERT_TRUE(page_exists(1, kExam));

  // Review: the page is still there while it shows; Do Over, No; then a side
  // change and EXIT rewrites it.
  input->after(200).at_time([this] { EXPECT_TRUE(page_exists(1, kExam)) << "a kill now keeps the symptoms"; });
  input->after(100).tap(7).after(200).tap(1);
  input->after(200).key('A').after(100).tap(1);
  EXPECT_EQ(run(1, 1, 1), kResultLeave);
  auto p = page(1);
  ASSERT_EQ(p.size(), STUDY_PAGE_BYTES);
  EXPECT_NE(text_at(p, 11889), "");
  EXPECT_EQ(platform::get_u16le(p.data() + 5954), 1 << 8);

  // Reset Time confirmed: the stored symptoms go and the step starts again.
  tick_stopwatch().set_time(300);
  input->after(200).tap(112).after(200).tap(0);
  input->after(300).at_time([this] {
    EXPECT_FALSE(page_exists(1, kExam));
    EXPECT_EQ(label(100), "1") << "a new capture screen";
  });
  input->after(100).tap(1);
  EXPECT_EQ(run(1, 1, 1), kResultLeave);
  EXPECT_FALSE(page_exists(1, kExam));
  EXPECT_EQ(tick_stopwatch().seconds, 0) << "back to the step's start time";
}

// Reset Time on the capture screen (its button or the key r): with a
// symptom captured it asks first, as the review screen does; Yes clears the
// symptoms with the clock, No keeps both.  Whatever the answer, no stored
// symptom stands after the step's end time.
TEST_F(SymptomTest, CaptureScreenResetAsksWhenSymptomsWouldOutliveTheClock) {
  const struct {
    const char* name;
    bool symptom;       // one captured at 00:08, before the reset
    bool by_key;        // r rather than the button
    int answer;         // the key answering the question; 0: none expected
    const char* walk;   // the step's time at CAPTURE, 6 s after a reset
    const char* slot;   // slot 0 on the page
  } cases[] = {
      // Keys as the keyboard names them: 'R' brings the character r.
      {"nothing to lose", false, false, 0, "00:06", ""},
      {"yes clears", true, false, 'Y', "00:06", ""},
      {"key r, yes clears", true, true, 'Y', "00:06", ""},
      {"no keeps", true, false, 'N', "00:15", "00:08"},
  };
  add_symptom_step({kRow}, 0x01 | 0x04, 0);  // from 00:00, running
  write_template();
  int running = -1;
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    ::unlink(platform::map_path(page_file_name(1, kExam)).c_str());
    bool asked = false;
    // Each reading falls half a second after its whole second, clear of
    // the stopwatch's quarter-second ticks.
    input->after(8500);
    if (c.symptom) input->key('1').after(100);
    if (c.by_key)
      input->key('R');
    else
      input->tap(112);
    input->after(300).at_time([&] { asked = label(0) == "Yes"; });
    if (c.answer) input->key(c.answer).after(300);
    input->after(6200).tap(0);
    // A screen that does not take its input fails the test instead of
    // waiting for input that never comes.
    input->after(10000).at_time([&running, i] {
      if (running != i) return;
      ADD_FAILURE() << "the screen is still open";
      stop_event_loop();
    });
    running = i;
    const int result = run(1, 1, 1);
    running = -1;
    if (!is_event_loop_live()) reset_event_state();
    // The idle guard is played out here, so that the next case's times
    // count from its own screen's start.
    for (platform::WindowMessage m; !input->done();) {
      input->wait_message(60000);
      input->next_message(m);
    }
    ASSERT_EQ(result, kResultStretchDone);
    EXPECT_EQ(asked, c.answer != 0);
    const auto p = page(1);
    ASSERT_EQ(p.size(), STUDY_PAGE_BYTES);
    const std::string walk = text_at(p, 11874, 5), slot = text_at(p, 11889);
    EXPECT_EQ(walk, c.walk);
    EXPECT_EQ(slot, c.slot);
    if (!slot.empty()) {
      EXPECT_LE(seconds(slot), seconds(walk));
    }
  }
}

TEST_F(SymptomTest, AFourthRowWithoutItsEndStaysInsideTheStep) {
  add_symptom_step({"a", "b", "c", std::string(41, 'x')});
  write_template();
  input->after(200).tap(1);
  EXPECT_EQ(run(1, 1, 1), kResultLeave);
  EXPECT_EQ(run(1, 2, 1), kResultError) << "template shorter than the stretch";
}

}  // namespace
}  // namespace vaslab
