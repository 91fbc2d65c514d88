// Symptom capture: while the study stopwatch runs through a timed exercise,
// the operator marks up to four symptoms, each with the stopwatch time it
// appeared at, the side of the body and the site.  No waveform is taken, so
// the page's sample words hold the slots instead.
#include "vaslab/studies/symptom_capture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/le_bytes.h"
#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr int kSlots = 4;
constexpr int kRowBytes = 46;
constexpr int kRowOffset = 109;
constexpr int kAlarmOffset = 83;
constexpr char kSideMark = 15, kSiteMark = 16;
constexpr int kSideColumns = 6, kSiteColumns = 8;

// Slot fields inside the page's words (see the layout in the header).
constexpr int kSlotTimeWords = 10;   // 20 bytes apart in channel 1
constexpr int kSlotTextOffset = 10;  // 11889 - 11879, inside the text
constexpr int kSlotTextStride = 10;

constexpr int kCodeCapture = 0, kCodeExit = 1, kCodeNext = 2, kCodeBack = 3, kCodeDoOver = 7, kCodeView = 12;
constexpr int kReviewNext = 0;
constexpr int kCodeHiddenCapture = 16, kCodeSlot = 100, kCodeSide = 104, kCodeSite = 108;
constexpr int kCodeResetTime = 112, kCodePauseTime = 113, kCodeStartTime = 114;
constexpr int kKeyF9 = 376;
// Buttons of the fullest table: 4 + 3 per row + 4 + the end entry.
constexpr std::size_t kTableRoom = 24;
constexpr int kSureYes = 0, kSureNo = 1;

const char* const kSideWords[3] = {"RIGHT", "LEFT", "BOTH"};
const char* const kSiteWords[7] = {"BUTTOCK", "THIGH", "CALF", "FOOT", "HIP", "KNEE", "ANKLE"};
const char* const kSitePlural[7] = {"BTCKS.", "THIGHS", "CALVES", "FEET", "HIPS", "KNEES", "ANKLES"};

struct SymptomStep {
  char label[30] = {};
  std::uint8_t show_time = 0;
  std::uint8_t enables = 0;
  std::uint8_t control = 0;
  std::int16_t start_time = 0;
  std::uint16_t alarms[kStopwatchAlarms] = {};
  std::string rows[kSlots];
};

int read_symptom_step(const std::string& path, int step, SymptomStep& s) {
  std::uint8_t buf[kSymptomPrefix];
  if (!read_template_record(path, step, sizeof buf, buf)) return kResultError;
  if (buf[1] != kStudyStepClass) return kResultError;
  std::snprintf(s.label, sizeof s.label, "%.29s", reinterpret_cast<const char*>(buf + 2));
  s.show_time = buf[68];
  s.enables = buf[69];
  s.control = buf[70];
  s.start_time = platform::get_s16le(buf + 71);
  for (int i = 0; i < kStopwatchAlarms; ++i) s.alarms[i] = platform::get_u16le(buf + kAlarmOffset + 2 * i);
  for (int i = 0; i < kSlots; ++i) {
    // The last row has only the bytes up to the end of the prefix.
    const std::size_t at = kRowOffset + kRowBytes * static_cast<std::size_t>(i);
    const std::size_t room = std::min<std::size_t>(kRowBytes, kSymptomPrefix - at);
    const char* p = reinterpret_cast<const char*>(buf + at);
    s.rows[i].assign(p, strnlen(p, room));
  }
  return 0;
}

}  // namespace

std::string stopwatch_text(int seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds > kStopwatchMax) seconds = kStopwatchMax;
  char t[8];
  std::snprintf(t, sizeof t, "%02d:%02d", seconds / 60, seconds % 60);
  return t;
}

const char* symptom_site_word(int side, int site) {
  if (site < 0 || site > 6) site = 0;
  return side == 2 ? kSitePlural[site] : kSiteWords[site];
}

int symptom_row_columns(const std::string& row) {
  int n = 0;
  for (char c : row) n += c == kSideMark ? kSideColumns : c == kSiteMark ? kSiteColumns : 1;
  return n;
}

bool symptom_slot_captured(const StudyPage& p, int slot) { return p.text[kSlotTextOffset + kSlotTextStride * slot] != 0; }

int symptom_slot_marker(const StudyPage& p, int slot) { return static_cast<std::uint16_t>(p.channel_2[slot]); }

void program_stopwatch_alarms(Stopwatch& sw, const std::uint16_t* words) {
  for (int i = 0; i < kStopwatchAlarms; ++i) {
    const int seconds = words[i] & 0x1FFF;
    if (seconds >= 6000) continue;
    if (words[i] & 0x2000) sw.set_alarm(i, seconds, words[i] >> 14);
    else sw.clear_alarm(i);
  }
}

namespace {

class SymptomCapture {
 public:
  int run(int argc, char* argv[]) {
    ModuleRun run;
    if (open_module_run(argc, argv, run) != 0) return kResultError;
    run.stopwatch = &tick_stopwatch();
    run.page = std::make_unique<StudyPage>();
    int result = 0;
    for (;;) {
      if (read_symptom_step(run.template_path, run.current, step_) != 0) {
        result = kResultError;
        break;
      }
      const int r = one_step(run);
      if (r == 0 || r == 2) {
        if (++run.current >= run.first + run.count) {
          result = kResultStretchDone;
          break;
        }
      } else if (r == 3) {
        if (--run.current < run.first) {
          result = kResultBack;
          break;
        }
      } else if (r != kCodeDoOver) {
        result = r;
        break;
      }
    }
    poke_comm_area_word(0, kStepSlot, run.current);
    return result;
  }

 private:
  int one_step(ModuleRun& run) {
    run.stopwatch->hide();
    StudyPage& p = *run.page;
    const int r = read_study_page(run.current, run.exam_id, run.template_base, p);
    if (r == 4) return kResultError;
    if (r == 0) {
      // The stored page stays until the review's outcome is known, so that a
      // review cut short leaves the symptoms where they were.
      const int rv = review_screen(run);
      if (rv == kCodeDoOver) {
        delete_study_page(run.current, run.exam_id);
        return rv;
      }
      return save(run, rv);
    }
    start_page(run);
    select_cuffs(0);
    const int rc = capture_screen(run);
    bool any = false;
    for (int i = 0; i < kSlots; ++i) any = any || symptom_slot_captured(p, i);
    if (!any && rc != 0) return rc;
    return save(run, rc);
  }

  // The write stamps the save time.
  int save(ModuleRun& run, int result) {
    if (write_study_page(run.current, run.exam_id, *run.page) != 0) {
      show_message_box(nullptr, "File error.", "Error", 0);
      return kResultError;
    }
    return result;
  }

  void start_page(ModuleRun& run) {
    StudyPage& p = *run.page;
    p = StudyPage{};
    std::snprintf(p.template_name, sizeof p.template_name, "%s", run.template_base.c_str());
    p.report_start = -1;
    p.newest = -1;
    p.point_2 = -1;
    p.filter_code = 4;
    p.probe = 17;
  }

  // The running stopwatch text, kept current in the page; true when it changed.
  // It is stored twice: at the short text, as it always was, and as the
  // page's text, which the end-of-study list reads to mark the step done and
  // the report prints as the step's time.
  bool update_running_text(StudyPage& p) {
    const std::string t = stopwatch_text(tick_stopwatch().seconds);
    const bool changed = t != p.short_text;
    std::memcpy(p.short_text, t.c_str(), 5);
    std::memcpy(p.text, t.c_str(), t.size() + 1);
    return changed;
  }

  void apply_control(ModuleRun& run) {
    Stopwatch& sw = *run.stopwatch;
    const std::uint8_t c = step_.control;
    if (c & 0x08) {
      if (c & 0x10) sw.count_down();
      else sw.count_up();
    }
    if (c & 0x06) sw.stop();
    if (c & 0x01) sw.set_time(step_.start_time);
    if (c & 0x04) sw.start();
    run.page->point_1 = (c & 0x01) ? step_.start_time : sw.seconds;
  }

  static bool any_slot_captured(const StudyPage& p) {
    for (int i = 0; i < kSlots; ++i)
      if (symptom_slot_captured(p, i)) return true;
    return false;
  }

  void toggle_slot(StudyPage& p, int slot) {
    char* text = p.text + kSlotTextOffset + kSlotTextStride * slot;
    if (text[0]) {
      std::memset(text, 0, 6);
      p.channel_1[kSlotTimeWords * slot] = 0;
      p.channel_1[kSlotTimeWords * slot + 1] = 0;
      return;
    }
    const std::uint32_t now = static_cast<std::uint32_t>(std::time(nullptr));
    p.channel_1[kSlotTimeWords * slot] = static_cast<std::int16_t>(now & 0xFFFF);
    p.channel_1[kSlotTimeWords * slot + 1] = static_cast<std::int16_t>(now >> 16);
    std::memcpy(text, stopwatch_text(tick_stopwatch().seconds).c_str(), 6);
  }

  void cycle_side(StudyPage& p, int slot) {
    const int v = symptom_slot_marker(p, slot);
    const int side = ((v >> 8) & 3) >= 2 ? 0 : ((v >> 8) & 3) + 1;
    p.channel_2[slot] = static_cast<std::int16_t>((side << 8) | (v & 7));
  }

  void cycle_site(StudyPage& p, int slot) {
    const int v = symptom_slot_marker(p, slot);
    const int site = (v & 7) >= 6 ? 0 : (v & 7) + 1;
    p.channel_2[slot] = static_cast<std::int16_t>((v & 0x300) | site);
  }

  bool row_present(int i) const { return step_.enables & (0x10 << i); }

  // Buttons of the rows: side and site words over their marks, and the slot
  // button at the right.  `slots_on` false greys the slot buttons.
  void add_row_buttons(const StudyPage& p, bool slots_on) {
    for (int i = 0; i < kSlots; ++i) {
      if (!row_present(i)) continue;
      const int y = 60 * i + 42;
      const int v = symptom_slot_marker(p, i);
      const int side = std::min((v >> 8) & 3, 2);
      int column = 32 - symptom_row_columns(step_.rows[i]);
      for (char c : step_.rows[i]) {
        if (c == kSideMark) {
          if (column >= 0) {
            char label[24];
            std::snprintf(label, sizeof label, "%s^symp_side_%d", kSideWords[side], side);
            table_.push_back(make_button(column * 16, y, column * 16 + 95, y + 31, label, kCodeSide + i, "aceg"[i]));
          }
          column += kSideColumns;
        } else if (c == kSiteMark) {
          if (column >= 0) {
            const int site = (v & 7) > 6 ? 0 : v & 7;
            char label[32];
            std::snprintf(label, sizeof label, "%s^symp_site%s_%d", symptom_site_word(side, site),
                          side == 2 ? "s" : "", site);
            table_.push_back(make_button(column * 16, y, column * 16 + 127, y + 31, label, kCodeSite + i, "bdfh"[i]));
          }
          column += kSiteColumns;
        } else {
          ++column;
        }
      }
      char slot_label[16];
      if (symptom_slot_captured(p, i))
        std::snprintf(slot_label, sizeof slot_label, "C^symp_slot_c");
      else
        std::snprintf(slot_label, sizeof slot_label, "%d^symp_slot_%d", i + 1, i + 1);
      table_.push_back(make_button(596, y, 639, y + 31, slot_label, kCodeSlot + i, '1' + i, 0,
                                   slots_on ? kButtonShown : kButtonGreyed));
    }
  }

  void draw_rows(const StudyPage& p) {
    set_colors(kColorBackground | (kColorWhite << 8));
    for (int i = 0; i < kSlots; ++i) {
      if (!row_present(i)) continue;
      int column = 32 - symptom_row_columns(step_.rows[i]);
      std::string run;
      int run_column = column;
      auto flush = [&] {
        if (!run.empty() && run_column >= 0) draw_field_text(run.c_str(), i, run_column);
        run.clear();
      };
      for (char c : step_.rows[i]) {
        if (c == kSideMark || c == kSiteMark) {
          flush();
          column += c == kSideMark ? kSideColumns : kSiteColumns;
          run_column = column;
        } else {
          if (run.empty()) run_column = column;
          run += c;
          ++column;
        }
      }
      flush();
      const char* t = p.text + kSlotTextOffset + kSlotTextStride * i;
      char slot_time[8];
      std::snprintf(slot_time, sizeof slot_time, "%-5.5s", t[0] ? t : "");
      draw_field_text(slot_time, i, 32);
    }
  }

  void draw_time(const StudyPage& p) {
    if (!(step_.show_time & 1)) return;
    char t[16];
    std::snprintf(t, sizeof t, "Time: %.5s", p.short_text);
    set_colors(kColorBackground | (kColorWhite << 8));
    draw_text_wide_over(t, 300, 16, kColorWhite);
  }

  void draw_screen(const StudyPage& p) {
    load_background("symp_bkgd");
    clear_screen();
    draw_screen_title(step_.label);
    fill_rect_color(0, 36, 639, 37, kColorWhite);
    fill_rect_color(0, 284, 639, 285, kColorWhite);
    draw_rows(p);
    draw_time(p);
    draw_buttons(table_.data());
  }

  // The event wait looks keys up only until the first button without one:
  // keyed buttons come first.  The table keeps its storage while the screen
  // runs, since the event wait holds on to a pressed entry.
  void make_capture_table(const StudyPage& p) {
    table_.clear();
    table_.reserve(kTableRoom);
    const auto on = [&](int bit) { return (step_.enables & bit) ? kButtonShown : kButtonHidden; };
    table_.push_back(make_button(8, 330, 158, 391, "Start Time^symp_start", kCodeStartTime, 's', 0, on(0x01)));
    table_.push_back(make_button(166, 330, 316, 391, "Reset Time^symp_reset", kCodeResetTime, 'r', 0, on(0x02)));
    table_.push_back(make_button(324, 330, 474, 391, "Pause Time^symp_pause", kCodePauseTime, 'p', 0, on(0x04)));
    table_.push_back(make_button(0, 0, 0, 0, "Symptom Capture", kCodeHiddenCapture, kKeyF9, 0, kButtonHidden));
    add_row_buttons(p, true);
    table_.push_back(make_button(8, 410, 220, 472, "CAPTURE^glbl_capt", kCodeCapture, 0, 9, on(0x08)));
    table_.push_back(make_button(228, 410, 385, 472, "EXIT^glbl_exit", kCodeExit, 0, 17));
    table_.push_back(make_button(393, 410, 544, 472, "Next^glbl_next", kCodeNext, 0, 16));
    table_.push_back(make_button(552, 410, 632, 472, "Back^sdp_back", kCodeBack, 0, 18));
    table_.push_back(kButtonTableEnd);
  }

  void make_review_table(const StudyPage& p) {
    table_.clear();
    table_.reserve(kTableRoom);
    table_.push_back(make_button(166, 330, 316, 391, "Reset Time^symp_reset", kCodeResetTime, 'r'));
    add_row_buttons(p, false);
    table_.push_back(make_button(8, 330, 158, 391, "Do Over^symp_dover", kCodeDoOver, 0, 0));
    table_.push_back(make_button(324, 330, 474, 391, "Back^symp_back", kCodeBack, 0, 18));
    table_.push_back(make_button(482, 330, 632, 391, "View^symp_view", kCodeView, 0, 0));
    table_.push_back(make_button(228, 410, 385, 472, "EXIT^glbl_exit", kCodeExit, 0, 17));
    table_.push_back(make_button(393, 410, 544, 472, "Next^glbl_next", kReviewNext, 0, 16));
    table_.push_back(kButtonTableEnd);
  }

  int capture_screen(ModuleRun& run) {
    StudyPage& p = *run.page;
    Stopwatch& sw = *run.stopwatch;
    program_stopwatch_alarms(sw, step_.alarms);
    apply_control(run);
    update_running_text(p);
    if (step_.control & 0x20) return 0;
    make_capture_table(p);
    draw_screen(p);
    for (;;) {
      if (update_running_text(p)) draw_time(p);
      const int e = get_button_event(table_.data());
      if (e < 0 || e >= kRepeatBit) continue;
      switch (e) {
        case kCodeCapture:
          wait_button_release(table_.data());
          return 0;
        case kCodeExit:
        case kCodeNext:
        case kCodeBack:
          wait_button_release(table_.data());
          return e;
        case kCodeHiddenCapture:
          for (int i = 0; i < kSlots; ++i)
            if (!symptom_slot_captured(p, i)) {
              toggle_slot(p, i);
              break;
            }
          break;
        case kCodeResetTime:
          // Symptoms taken on the old clock would stand after the new one's
          // end: a reset with symptoms captured asks first and clears them,
          // as the review screen's does.
          if (any_slot_captured(p)) {
            wait_button_release(table_.data());
            if (!sure()) break;
            for (int i = 0; i < kSlots; ++i)
              if (symptom_slot_captured(p, i)) toggle_slot(p, i);
          }
          sw.set_time(p.point_1);
          break;
        case kCodePauseTime: sw.stop(); break;
        case kCodeStartTime: sw.start(); break;
        default:
          if (!row_event(p, e, true)) continue;
      }
      update_running_text(p);
      make_capture_table(p);
      draw_screen(p);
    }
  }

  // Slot, side and site buttons; false for any other code.
  bool row_event(StudyPage& p, int e, bool slots_on) {
    if (e >= kCodeSlot && e < kCodeSlot + kSlots) {
      if (!slots_on) return false;
      toggle_slot(p, e - kCodeSlot);
    } else if (e >= kCodeSide && e < kCodeSide + kSlots) {
      cycle_side(p, e - kCodeSide);
    } else if (e >= kCodeSite && e < kCodeSite + kSlots) {
      cycle_site(p, e - kCodeSite);
    } else {
      return false;
    }
    return true;
  }

  bool sure() {
    std::vector<ButtonRecord> box = {
        make_button(100, 300, 300, 380, "Yes^symp_yes", kSureYes, 'y'),
        make_button(340, 300, 540, 380, "No^symp_no", kSureNo, 'n'),
        kButtonTableEnd,
    };
    clear_screen();
    draw_screen_title("Are you sure?");
    const char* lines[2] = {"(Pressing 'Yes' will clear all", "captured symptoms and times.)"};
    for (int i = 0; i < 2; ++i)
      draw_font_text(kFontTitle, scale_x(320) - font_text_width(kFontTitle, lines[i]) / 2, scale_y(160 + 40 * i),
                     lines[i], vga_color_to_rgb(kColorWhite));
    draw_buttons(box.data());
    for (;;) {
      const int e = get_button_event(box.data());
      if (e == kSureYes || e == kSureNo) {
        wait_button_release(box.data());
        return e == kSureYes;
      }
    }
  }

  int review_screen(ModuleRun& run) {
    StudyPage& p = *run.page;
    make_review_table(p);
    draw_screen(p);
    for (;;) {
      const int e = get_button_event(table_.data());
      if (e < 0 || e >= kRepeatBit) continue;
      switch (e) {
        case kReviewNext:
        case kCodeExit:
        case kCodeBack:
        case kCodeView:
          wait_button_release(table_.data());
          return e;
        case kCodeDoOver:
        case kCodeResetTime:
          wait_button_release(table_.data());
          if (sure()) {
            if (e == kCodeResetTime) run.stopwatch->set_time(p.point_1);
            return kCodeDoOver;
          }
          break;
        default:
          if (!row_event(p, e, false)) continue;
      }
      make_review_table(p);
      draw_screen(p);
    }
  }

  SymptomStep step_;
  std::vector<ButtonRecord> table_;
};

}  // namespace

int timer_main(int argc, char* argv[]) {
  SymptomCapture module;
  return module.run(argc, argv);
}

}  // namespace vaslab
