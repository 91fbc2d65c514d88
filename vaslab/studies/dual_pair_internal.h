// The dual modules' engine, shared by the files it is made of: the template
// records and page pair files (dual_pair_files.cpp), the engine's pair, table
// and drawing (dual_pair.cpp), the acquisition screen
// (dual_pair_acquisition.cpp) and the post screen (dual_pair_post.cpp).
// Private to them: the modules' interface is dual_pair.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/dual_pair.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/study_page.h"

namespace vaslab::dual_pair_internal {

constexpr int kFull = 296;
constexpr int kRight = 0, kLeft = 1;
constexpr int kBoth = 3;
constexpr int kLocation = 24;  // characters after the side word

inline int side_bit(int side) { return side == kRight ? 1 : 2; }

// --- The records of a pair, in the engine's terms ----------------------------

struct Record {
  std::uint8_t step_class = 0;
  char label[30] = {};
  int gain_flags = 0, gain = 0, filter_code = 0, baseline_flags = 0, baseline = 0;
  int nibble = 0, window = kFull, cuff_select = 0, show_stopwatch = 0;
  int options = 0, inflate_mode = 0, inflate_target = 0, deflate_mode = 0, deflate_target = 0;
  int over_range = 0, alt_target = 0, old_numbering = 0, second_scale = 0;
};

// The RIGHT or LEFT record of a step in the engine's terms: 0, or 4 on a
// short read or a step of another class.
int read_record(DualKind kind, const std::string& path, int step, Record& r);
// A gain of the older numbering in the present one.
int old_gain(int g);

// --- Strips --------------------------------------------------------------------------

inline Bitmap* strip_of(int side) { return side == kRight ? left_strip() : right_strip(); }
inline int strip_x(int side) { return side == kRight ? 8 : 336; }
inline int dirty_of(int side) { return side == kRight ? kDirtyLeftStrip : kDirtyRightStrip; }

// --- The engine ------------------------------------------------------------------------

struct Codes {
  int cp[2], del[2], dover[2], keep[2], mute;
};

struct Side {
  Record rec;
  bool captured = false;
  int window = kFull;        // samples of the report window
  int strip = kFull;         // columns of the strip
  int baseline_tick = -1;
  int previous = 0;          // last sample drawn
  int limit = 0;             // pressure display limit
  int last_pressure = 0;
  int shown_pressure = -1;
  int shown_status = -1;
  IirLowPass filter;
};

class DualEngine {
 public:
  DualEngine(DualKind kind, ModuleRun& run) : kind_(kind), run_(run) {
    codes_ = kind == DualKind::kPressure ? Codes{{109, 114}, {110, 115}, {111, 116}, {112, 117}, 119}
                                         : Codes{{109, 113}, {110, 114}, {111, 115}, {112, 116}, 117};
    left_page_ = std::make_unique<StudyPage>();
    for (StudyPage* p : {run_.page.get(), left_page_.get()}) {
      *p = StudyPage{};
      p->baseline = -1;
      p->gain = -1;
    }
    start_volume(volume_, 0);
  }

  int run_pair();

 private:
  StudyPage& page(int side) { return side == kRight ? *run_.page : *left_page_; }
  bool pressure() const { return kind_ == DualKind::kPressure; }
  bool pvr() const { return kind_ == DualKind::kPvr; }
  bool cuffs() const { return kind_ != DualKind::kPpg; }

  // Screens.
  int acquisition();
  int post_screen();
  void location_picker();
  int leave_acquisition(int code);
  void send_setup();
  void draw_screen(const char* background, bool post);

  // Acquisition actions.
  void handle(int e);
  // Returns the trace value as taken (filtered when the side filters it).
  int feed(int side, int trace, int other, bool& status_seen);
  void change_gain(bool up);
  void change_baseline(bool up);
  void send_gain(int side);
  void send_baseline(int side);
  void set_probe(int side);
  void capture_side(int side);
  void close_panel(int side);
  void open_panel(int side);
  void rearm(int side, bool marker);
  void do_over_all();
  void normalise(bool redraw = true);
  void update_limit_buttons(int pressed_pair);
  void draw_side_indicator(const char* prefix, int set, int x1, int y1, int x2, int y2);
  void cuff_press(bool inflate);
  void cuff_repeat(bool inflate);
  void restart(int side);
  void end_marker(int side);
  void show_cuff_buttons();

  // Drawing.
  void erase(int side);
  void draw_sample(int side, int sample);
  void draw_window(int side);
  void draw_markers(int side);
  // Clears the place of a side's marker time.
  void erase_marker_time(int side);
  void draw_side_readouts(int side, bool post);
  void draw_scales();
  // Left edge of a side's scale badge, and of the marker time's "TIME:",
  // which stands clear of the badge with its value one blank after it, both
  // within the side's strip.
  int badge_x(int side) const { return side == kRight ? (cuffs() ? 169 : 179) : (cuffs() ? 496 : 506); }
  int time_label_x(int side) const { return badge_x(side) + kBadgeWidth + 6; }
  int time_value_x(int side) const { return time_label_x(side) + 6 * 8; }
  static constexpr int kBadgeWidth = 36;

  // Post actions.
  bool scroll_step(int side, bool forward);
  void scroll(bool forward, int steps);
  void move_markers(int which, bool forward, int steps);
  void touch_marker(int side, int which, int x);
  void set_output();
  void update_scroll_buttons(int pressed);
  void fill_table(std::vector<ButtonRecord>& t, bool post);

  ButtonRecord* find(int code) {
    for (ButtonRecord& b : table_)
      if (!is_table_end(b) && b.button_code == code) return &b;
    return nullptr;
  }
  void set_state(int code, std::uint8_t state) {
    if (ButtonRecord* b = find(code)) b->state = state;
  }
  bool limit_reached(int side, bool gain, bool up) {
    const StudyPage& p = page(side);
    if (gain) return up ? p.gain >= 10 : p.gain <= 0;
    return up ? p.baseline >= 255 : p.baseline <= 0;
  }
  int own_side_code(const int (&codes)[2], int code) const {
    return code == codes[0] ? kRight : code == codes[1] ? kLeft : -1;
  }

  DualKind kind_;
  ModuleRun& run_;
  Codes codes_{};
  std::unique_ptr<StudyPage> left_page_;
  Side sides_[2];
  int active_ = kBoth;
  int scroll_set_ = kBoth;
  int mode_ = 0;              // dual pressure post screen: 0 WVFRM, 1 MARK1, 2 MARK2
  int capture_presses_ = 0;   // delayed capture
  bool delayed_armed_ = false;
  VolumeControl volume_;
  CuffHold hold_;
  FrameReader reader_;
  std::vector<ButtonRecord> table_;
};

}  // namespace vaslab::dual_pair_internal
