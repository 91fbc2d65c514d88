#include "vaslab/studies/dual_pair.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/keyboard_entry.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/study_page.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr int kFull = 296;
constexpr int kRight = 0, kLeft = 1;
constexpr int kBoth = 3;
constexpr int kHeldInflate = kDualInflate + kRepeatBit;   // 4196
constexpr int kHeldDeflate = kDualDeflate + kRepeatBit;   // 4197
constexpr int kBlockBytes = static_cast<int>(EXTENDED_WAVEFORM_BYTES);
constexpr int kLocation = 24;  // characters after the side word
// The marker mode's name: row 214 in the cell addressing (40960 + 5 y).
constexpr int kModeNameAddress = 40960 + 5 * 214;

int side_bit(int side) { return side == kRight ? 1 : 2; }

// --- The records of a pair, in the engine's terms ----------------------------

struct Record {
  std::uint8_t step_class = 0;
  char label[30] = {};
  int gain_flags = 0, gain = 0, filter_code = 0, baseline_flags = 0, baseline = 0;
  int nibble = 0, window = kFull, cuff_select = 0, show_stopwatch = 0;
  int options = 0, inflate_mode = 0, inflate_target = 0, deflate_mode = 0, deflate_target = 0;
  int over_range = 0, alt_target = 0, old_numbering = 0, second_scale = 0;
};

template <typename Step>
void common_fields(const Step& s, Record& r) {
  r.step_class = s.step_class;
  std::memcpy(r.label, s.label, sizeof r.label);
  r.gain_flags = s.gain_flags;
  r.gain = s.gain;
  r.filter_code = s.filter_code;
  r.baseline_flags = s.baseline_flags;
  r.baseline = s.baseline;
  r.cuff_select = s.cuff_select;
  r.show_stopwatch = s.show_stopwatch;
  r.second_scale = s.second_scale;
}

int read_record(DualKind kind, const std::string& path, int step, Record& r) {
  std::uint8_t buf[kDualPvrPrefix];
  r = Record{};
  if (kind == DualKind::kPpg) {
    if (!read_template_record(path, step, kDualPpgPrefix, buf)) return kResultError;
    DualPpgStep s{};
    decode_dual_ppg_step(buf, s);
    common_fields(s, r);
    r.nibble = s.filter_nibble;
    r.window = s.window;
  } else if (kind == DualKind::kPressure) {
    if (!read_template_record(path, step, kDualPressurePrefix, buf)) return kResultError;
    DualPressureStep s{};
    decode_dual_pressure_step(buf, s);
    common_fields(s, r);
    r.options = s.options;
    r.inflate_mode = s.inflate_mode;
    r.inflate_target = s.inflate_target;
    r.deflate_mode = s.deflate_mode;
    r.deflate_target = s.deflate_target;
    r.over_range = s.over_range;
    r.old_numbering = s.old_numbering;
  } else {
    if (!read_template_record(path, step, kDualPvrPrefix, buf)) return kResultError;
    DualPvrStep s{};
    decode_dual_pvr_step(buf, s);
    common_fields(s, r);
    r.inflate_mode = s.inflate_mode;
    r.inflate_target = s.inflate_target;
    r.deflate_mode = s.deflate_mode;
    r.over_range = s.over_range;
    r.nibble = s.filter_nibble;
    r.window = s.window;
    r.alt_target = s.alt_target;
  }
  return r.step_class == kStudyStepClass ? 0 : kResultError;
}

int old_gain(int g) {
  switch (g) {
    case 0: return 3;
    case 2: return 5;
    case 4: return 7;
    case 6: return 9;
    default: return 10;
  }
}

// --- Page files ------------------------------------------------------------------

// Reads one page keeping its flags; `left` adds the LEFT page's rule.
int read_pair_page(int step, int exam_id, const std::string& base, StudyPage& page, bool left) {
  const std::string path = platform::map_path(page_file_name(step, exam_id));
  const auto size = platform::file_size(path);
  if (!size || *size != STUDY_PAGE_BYTES) return 1;
  auto bytes = platform::read_file(path, STUDY_PAGE_BYTES);
  if (!bytes) return 1;
  if (bytes->size() < STUDY_PAGE_BYTES) return kResultError;
  decode_study_page(bytes->data(), page);
  if (base != page.template_name) return 1;
  if (page.flags & kPageDeletedSide) return 0;
  if (!page_samples_valid(page)) return 1;
  if (left && page.newest >= page.count) return 1;
  return 0;
}

// The bytes to write for a page: its waveform block comes along from the old
// file when the flags claim it, else the claim is dropped.
std::vector<std::uint8_t> page_bytes(const StudyPage& page, const std::string& old_path) {
  std::vector<std::uint8_t> out(STUDY_PAGE_BYTES);
  encode_study_page(page, out.data());
  if (!(page.flags & kPageExtendedBlock)) return out;
  const auto size = platform::file_size(old_path);
  if (size && *size >= STUDY_PAGE_BYTES + EXTENDED_WAVEFORM_BYTES) {
    out.resize(STUDY_PAGE_BYTES + EXTENDED_WAVEFORM_BYTES);
    if (platform::read_file_at(old_path, STUDY_PAGE_BYTES, out.data() + STUDY_PAGE_BYTES, kBlockBytes)) return out;
    out.resize(STUDY_PAGE_BYTES);
  }
  out[offsetof(StudyPage, flags)] = static_cast<std::uint8_t>(page.flags & ~kPageExtendedBlock);
  return out;
}

// --- Strips --------------------------------------------------------------------------

Bitmap* strip_of(int side) { return side == kRight ? left_strip() : right_strip(); }
int strip_x(int side) { return side == kRight ? 8 : 336; }
int dirty_of(int side) { return side == kRight ? kDirtyLeftStrip : kDirtyRightStrip; }

// One column of the strip in a colour (the markers).
void strip_column_line(Bitmap* strip, int column, int color) {
  if (!strip || strip->empty() || column < 0 || column >= 296) return;
  const int xs = g_screen_geometry.x_scale;
  const std::uint32_t rgb = vga_color_to_rgb(color);
  for (int y = 0; y < strip->height; ++y)
    for (int k = 0; k < xs; ++k) strip->pixels[static_cast<std::size_t>(y) * strip->width + column * xs + k] = rgb;
}

}  // namespace

// --- Public helpers ------------------------------------------------------------------

int dual_window(int w) { return w <= 0 || w > kFull ? kFull : w; }

int dual_strip_width(int w) {
  w = dual_window(w);
  return std::clamp(((w / 8 - 1) / 2) * 16 + 8, 8, kFull);
}

int read_page_pair(int step, int exam_id, const std::string& base, StudyPage& right, StudyPage& left) {
  const int r = read_pair_page(step, exam_id, base, right, false);
  if (r != 0) return r;
  return read_pair_page(step + 1, exam_id, base, left, true);
}

int write_page_pair(int step, int exam_id, const StudyPage& right, const StudyPage& left) {
  const std::string paths[2] = {platform::map_path(page_file_name(step, exam_id)),
                                platform::map_path(page_file_name(step + 1, exam_id))};
  const StudyPage* pages[2] = {&right, &left};
  std::string temps[2];
  for (int i = 0; i < 2; ++i) {
    const auto bytes = page_bytes(*pages[i], paths[i]);
    temps[i] = paths[i] + ".pair.tmp~";
    if (platform::write_file_atomic(temps[i], bytes.data(), bytes.size(), 0600) != 0) {
      for (int j = 0; j <= i; ++j) ::unlink(temps[j].c_str());
      return kResultError;
    }
  }
  for (int i = 0; i < 2; ++i) {
    if (platform::rename_file(temps[i], paths[i]) != 0) {
      for (int j = i; j < 2; ++j) ::unlink(temps[j].c_str());
      return kResultError;
    }
  }
  return 0;
}

void delete_page_pair(int step, int exam_id) {
  delete_study_page(step, exam_id);
  delete_study_page(step + 1, exam_id);
}

void marker_time_text(int m1, int m2, int cutoff, char* out, std::size_t size) {
  static const int kDivisor[] = {1, 2, 5, 10, 25};
  const int d = kDivisor[std::clamp(cutoff, 0, 4)];
  const long n = std::labs(static_cast<long>(m1) - m2) + 1;
  const long whole = static_cast<long>(d) * kFull;
  long t = n * 750 / whole;
  if ((n * 750 % whole) * 2 >= whole) ++t;
  std::snprintf(out, size, "%ld.%ld", t / 10, t % 10);
}

bool marker_forward(int& m, int s, int i, int n) {
  if (m > i || m <= s) {
    m = std::max(s + 1, 0);
    return true;
  }
  if (m < n - 1 && m != i) {
    ++m;
    return true;
  }
  return false;
}

bool marker_back(int& m, int s, int i) {
  if (m > i || m <= s) {
    m = i;
    return true;
  }
  if (m <= 0 || m == s + 1) return false;
  --m;
  return true;
}

namespace {

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

// --- The pair ---------------------------------------------------------------------------

int DualEngine::run_pair() {
  const int n = run_.current;
  if (read_record(kind_, run_.template_path, n, sides_[kRight].rec) != 0) return kResultError;
  if (std::strncmp(sides_[kRight].rec.label, "RIGHT ", 6) != 0) return kResultLeave;
  if (read_record(kind_, run_.template_path, n + 1, sides_[kLeft].rec) != 0) return kResultError;
  if (std::strncmp(sides_[kLeft].rec.label, " LEFT ", 6) != 0 ||
      std::memcmp(sides_[kRight].rec.label + 6, sides_[kLeft].rec.label + 6, kLocation) != 0)
    return kResultLeave;
  for (Side& s : sides_) {
    s.limit = s.rec.over_range + 100;
    s.window = pressure() ? kFull : dual_window(s.rec.window);
    s.strip = pressure() ? kFull : dual_strip_width(s.rec.window);
    s.captured = false;
  }
  g_left_strip_units = (sides_[kRight].strip - 8) / 16;
  g_right_strip_units = (sides_[kLeft].strip - 8) / 16;
  if (run_.stopwatch) {
    run_.stopwatch->hide();
    if (sides_[kRight].rec.show_stopwatch & 1) run_.stopwatch->show();
  }

  const int rr = read_page_pair(n, run_.exam_id, run_.template_base, page(kRight), page(kLeft));
  int stored_step = -1;
  bool to_post = false;
  if (rr == 0) {
    stored_step = n;
    to_post = true;
    sides_[kRight].captured = sides_[kLeft].captured = true;
    Record& r = sides_[kRight].rec;
    if (pressure() && (r.old_numbering & 1)) {
      if (r.second_scale == 3) r.second_scale = 1;
      r.gain = old_gain(r.gain);
      r.old_numbering &= ~1;
    }
  } else if (rr == 1) {
    for (int side : {kRight, kLeft}) {
      StudyPage& p = page(side);
      const Record& r = sides_[side].rec;
      std::snprintf(p.template_name, sizeof p.template_name, "%s", run_.template_base.c_str());
      p.flags = 0;
      p.report_start = -1;
      p.count = 0;
      p.newest = 0;
      if (p.baseline < 0 || (r.baseline_flags & kSettingOverride)) p.baseline = static_cast<std::int16_t>(r.baseline);
      if (p.gain < 0 || (r.gain_flags & kSettingOverride)) p.gain = static_cast<std::int16_t>(r.gain);
      p.point_1 = p.point_2 = -1;
      p.filter_code = static_cast<std::int16_t>(r.filter_code);
      p.status = 0;
      p.probe = static_cast<std::int16_t>(pvr() ? 9 + side : 5 + side);
      p.short_text[0] = 0;
      p.text[0] = 0;
      erase(side);
    }
  }

  for (;;) {
    if (!to_post) {
      const int r = acquisition();
      select_cuffs(0);
      if (r != 0) {
        const bool any = sides_[kRight].captured || sides_[kLeft].captured;
        if (any && r >= 1 && r <= 3) {
          for (int side : {kRight, kLeft}) {
            if (sides_[side].captured) continue;
            StudyPage& p = page(side);
            p.flags |= kPageDeletedSide;
            p.report_start = -1;
            p.count = 0;
            p.newest = 0;
          }
          if (write_page_pair(n, run_.exam_id, page(kRight), page(kLeft)) == 0) return r;
          show_message_box(nullptr, "File error.", "Error", 0);
          return kResultError;
        }
        delete_page_pair(n, run_.exam_id);
        return r;
      }
    }
    to_post = false;
    const int p = post_screen();
    if (p == kResultDoOver) continue;
    if (p == 0 || p == 1 || p == 2 || p == 3 || p == kResultView) {
      if (write_page_pair(run_.current, run_.exam_id, page(kRight), page(kLeft)) != 0) {
        show_message_box(nullptr, "File error.", "Error", 0);
        return kResultError;
      }
      // Filed under another pair by the picker: the old pair's files go.
      if (stored_step >= 0 && stored_step != run_.current) delete_page_pair(stored_step, run_.exam_id);
      if (pressure() && stored_step >= 0 && (page(kRight).flags & kPageExtendedBlock)) {
        StudyPage& rp = page(kRight);
        rp.probe = static_cast<std::int16_t>(rp.probe == 18 ? 15 : rp.probe == 19 ? 16 : rp.probe);
        rp.gain = static_cast<std::int16_t>(old_gain(rp.gain));
        rp.flags &= kPageDeletedSide;
      }
    }
    return p;
  }
}

// --- Tables -------------------------------------------------------------------------------

void DualEngine::fill_table(std::vector<ButtonRecord>& t, bool post) {
  t.clear();
  auto add = [&t](int x1, int y1, int x2, int y2, const char* label, int code, int key, int remote,
                  std::uint8_t state = kButtonShown) { t.push_back(make_button(x1, y1, x2, y2, label, code, key, remote, state)); };
  if (!post) {
    const int panel_key = pressure() ? 3 : 1;
    add(346, 282, 425, 342, "Gain UP^dpp_scale_rt", kDualGainUp, 1, 5);
    add(215, 282, 294, 342, "Gain DOWN^dpp_scale_lt", kDualGainDown, 2, 6);
    add(346, 343, 425, 403, "Baseline UP^dpp_bsln_rt", kDualBaselineUp, 4, 3);
    add(215, 343, 294, 403, "Baseline DOWN^dpp_bsln_lt", kDualBaselineDown, 8, 4);
    add(428, 282, 639, 342, "Side^dpp_side", kDualSide, 16, 14);
    add(132, 408, 274, 479, "Back^glbl_back", kCodeBack, 32, 9);
    add(275, 408, 426, 479, "Next^glbl_next", kCodeNext, 64, 10);
    add(0, 408, 131, 479, "EXIT^glbl_exit", kCodeExit, 512, 17);
    add(427, 408, 639, 479, "CAPTURE^glbl_capt", kCodeCapture, 1024, 13);
    add(0, 0, 0, 0, "Vol UP", kDualVolumeUp, 2048, kDualRemoteVolumeUp, kButtonHidden);
    add(0, 0, 0, 0, "Vol DW", kDualVolumeDown, 4096, kDualRemoteVolumeDown, kButtonHidden);
    add(0, 0, 0, 0, "Mute", codes_.mute, 16384, kDualRemoteMute, kButtonHidden);
    add(0, 0, 0, 0, "Do Over", kCodeDoOver, 16384, kDualRemoteDoOver, kButtonHidden);
    for (int side : {kRight, kLeft}) {
      const int dx = side == kRight ? 0 : 327;
      add(8 + dx, 46, 303 + dx, 201, "CP", codes_.cp[side], panel_key, 0, kButtonGreyed);
      add(8 + dx, 46, 155 + dx, 123, "Delete|dpp_del", codes_.del[side], panel_key, 0, kButtonHidden);
      add(156 + dx, 46, 303 + dx, 123, "Do Over|dpp_dover", codes_.dover[side], panel_key, 0, kButtonHidden);
      add(8 + dx, 124, 303 + dx, 201, "Keep|dpp_keep", codes_.keep[side], panel_key, 0, kButtonHidden);
      // The side's probe label: never shown, and its remote byte 0 is
      // matched by the RIGHT capture panel before it.
      if (pressure()) add(0, 0, 0, 0, "PRB:PPG", side == kRight ? 113 : 118, 3, 0, kButtonHidden);
    }
    if (cuffs()) {
      add(0, 282, 212, 342, "Inflate^dpp_infl", kDualInflate, 128, 1);
      add(0, 343, 212, 403, "Deflate^dpp_defl", kDualDeflate, 256, 2);
    }
  } else if (pressure()) {
    add(0, 282, 73, 343, "FastLeft^dpp_post_scrfast_lt", kDualFastBack, 2, 6);
    add(74, 282, 140, 343, "SlowLeft^dpp_post_scrslow_lt", kDualSlowBack, 8, 4);
    add(0, 344, 212, 405, "Side^dpp_post_side", kDualSide, 16, 14);
    // Beside Do Over: where the mode button used to stand it covered EXIT.
    add(481, 344, 639, 405, "Move^dpp_post_move", kDualMove, 128, 0,
        (sides_[kRight].rec.options & 0x08) ? kButtonShown : kButtonHidden);
    add(246, 282, 319, 343, "FastRight^dpp_post_scrfast_rt", kDualFastForward, 1, 5);
    add(179, 282, 245, 343, "SlowRight^dpp_post_scrslow_rt", kDualSlowForward, 4, 3);
    add(0, 408, 131, 479, "EXIT^glbl_exit", kCodeExit, 512, 17);
    add(132, 408, 274, 479, "Back^glbl_back", kCodeBack, 32, 9);
    add(427, 408, 639, 479, "Proceed^glbl_procd", 0, 64, 10);
    add(481, 282, 639, 343, "Set Output^dpp_post_setout", kDualSetOutput, 8192, 11);
    add(0, 0, 0, 0, "", 121, 4096, kDualRemotePicker, kButtonHidden);
    add(322, 344, 478, 405, "Do Over^dpp_post_dover", kCodeDoOver, 256, 18);
    add(275, 408, 426, 479, "Next^glbl_next", 0, 1024, 13);
    add(322, 282, 478, 343, "View^dpp_post_view", kCodeView, 32768, 15);
    add(8, 23, 303, 178, "CP", kDualCaptureRight, 0, 0, kButtonGreyed);
    add(336, 23, 631, 178, "CP", 114, 0, 0, kButtonGreyed);
  } else {
    add(0, 282, 73, 343, "FastLeft^dpp_post_scrfast_lt", kDualFastBack, 2, 6);
    add(74, 282, 140, 343, "SlowLeft^dpp_post_scrslow_lt", kDualSlowBack, 8, 4);
    add(246, 282, 319, 343, "FastRight^dpp_post_scrfast_rt", kDualFastForward, 1, 5);
    add(179, 282, 245, 343, "SlowRight^dpp_post_scrslow_rt", kDualSlowForward, 4, 3);
    add(0, 344, 212, 405, "Side^dpp_post_side", kDualSide, 16, 14);
    add(0, 0, 0, 0, "", kCodePicker, 4096, kDualRemotePicker, kButtonHidden);
    add(322, 344, 478, 405, "Do Over^dpp_post_dover", kCodeDoOver, 256, 18);
    add(132, 408, 274, 479, "Back^glbl_back", kCodeBack, 32, 9);
    add(275, 408, 426, 479, "Next^glbl_next", 0, 64, 10);
    add(427, 408, 639, 479, "Proceed^glbl_procd", 0, 1024, 13);
    add(322, 282, 478, 343, "View^dpp_post_view", kCodeView, 32768, 15);
    add(0, 408, 131, 479, "EXIT^glbl_exit", kCodeExit, 512, 17);
  }
  t.push_back(kButtonTableEnd);
}

// --- Drawing ------------------------------------------------------------------------------

void DualEngine::erase(int side) {
  erase_strip(strip_of(side), sides_[side].strip);
  sides_[side].previous = 0;
  mark_dirty(dirty_of(side));
}

void DualEngine::draw_sample(int side, int sample) {
  Side& s = sides_[side];
  draw_trace_segment(strip_of(side), s.baseline_tick, s.previous, sample, 0x01, 37);
  show_strip(strip_of(side), s.strip, strip_x(side));
  s.previous = sample;
}

// The captured window from the report start to the newest sample, newest in
// the last column.
void DualEngine::draw_window(int side) {
  Side& s = sides_[side];
  const StudyPage& p = page(side);
  erase_strip(strip_of(side), s.strip);
  if (p.count > 0 && p.newest >= 0 && p.newest < kRingSamples) {
    const int from = std::max(p.report_start + 1, 0);
    int previous = p.channel_1[from];
    for (int i = from; i <= p.newest; ++i) {
      scroll_strip_left(strip_of(side), s.strip);
      draw_trace_segment(strip_of(side), s.baseline_tick, previous, p.channel_1[i], 0x01, 37);
      previous = p.channel_1[i];
    }
  }
  draw_markers(side);
  mark_dirty(dirty_of(side));
}

void DualEngine::draw_markers(int side) {
  if (!pressure() || !(sides_[side].rec.options & 0x08)) return;
  const StudyPage& p = page(side);
  const int s = p.report_start;
  const int marks[2] = {p.point_1, p.point_2};
  for (int k = 0; k < 2; ++k) {
    const int m = marks[k];
    if (m > s && m <= s + kFull && m <= p.newest) strip_column_line(strip_of(side), 295 - (p.newest - m), k == 0 ? 8 : 9);
  }
  if (p.point_1 < 0 || p.point_2 < 0) return;
  char text[16];
  marker_time_text(p.point_1, p.point_2, page(kRight).filter_code, text, sizeof text);
  const int x = time_value_x(side);
  fill_rect_color(x, 218, x + 40, 226, kColorBackground);
  draw_text_sized(text, 218, x, 8, kColorWhite);
  flush_area(x, 218, x + 40, 226);
  if (sides_[kRight].rec.options & 0x20) {
    StudyPage& into = page(x < 320 ? kRight : kLeft);
    std::snprintf(into.text, sizeof into.text, "%s", text);
    std::snprintf(into.short_text, sizeof into.short_text, "%.4s", text);
  }
}

void DualEngine::draw_side_readouts(int side, bool post) {
  Side& s = sides_[side];
  const StudyPage& p = page(side);
  const int x = pressure() && post ? (side == kRight ? 176 : 503) : (side == kRight ? 202 : 528);
  if (post || s.captured) {
    // A deleted side is read without sample checks: its ring index may lie
    // anywhere, and only one inside the ring has a reading.
    const bool in_ring = p.count > 0 && p.newest >= 0 && p.newest < kRingSamples;
    const int v = in_ring ? p.channel_2[p.newest] & 0x1FF : 0;
    if (p.short_text[0]) draw_pressure_value(p.short_text, 0, nullptr, s.limit, x, 241, 1);
    else draw_pressure_value(nullptr, v, &s.shown_pressure, s.limit, x, 241, 1);
  } else {
    draw_pressure_value(nullptr, s.last_pressure, &s.shown_pressure, s.limit, x, 241, 1);
  }
  if (pvr()) draw_scaled_value(p.status, &s.shown_status, side == kRight ? 239 : 566, 219);
}

// The pressure screens keep the scales above their readouts.
void DualEngine::draw_scales() {
  const int y = cuffs() ? 212 : 229;
  draw_scale_bitmap(page(kRight).gain, badge_x(kRight), y);
  draw_scale_bitmap(page(kLeft).gain, badge_x(kLeft), y);
}

void DualEngine::draw_screen(const char* background, bool post) {
  load_background(background);
  set_colors(0x0710);
  clear_screen();
  for (int side : {kRight, kLeft}) erase_strip(strip_of(side), sides_[side].strip);
  char title[kLocation + 1];
  std::snprintf(title, sizeof title, "%.24s", sides_[kRight].rec.label + 6);
  draw_screen_title(title);
  // The capture panels only take touches on the traces: they are not drawn.
  std::vector<std::uint8_t> states;
  for (ButtonRecord& b : table_) {
    states.push_back(b.state);
    if (!is_table_end(b) && b.label[0] == 'C' && b.label[1] == 'P' && b.label[2] == 0) b.state = kButtonHidden;
  }
  draw_buttons(table_.data());
  for (std::size_t i = 0; i < table_.size(); ++i) table_[i].state = states[i];
  draw_scales();
  if (pressure() && post && (sides_[kRight].rec.options & 0x08)) {
    set_text_size(0, 0, 1);
    for (int side : {kRight, kLeft}) draw_text_sized("TIME:", 218, time_label_x(side), 8, kColorWhite);
    flush_area(200, 214, 640, 230);
  }
  mark_dirty(kDirtyLeftStrip | kDirtyRightStrip);
}

// --- Acquisition --------------------------------------------------------------------------

void DualEngine::send_gain(int side) {
  const StudyPage& p = page(side);
  send_module_command(side == kRight ? gain_command_ch1(p.gain) : gain_command_ch2(p.gain));
  if (pressure()) select_filter(p.gain < 5 ? 3 : 11, page(kRight).filter_code, sides_[side].filter);
}

void DualEngine::send_baseline(int side) {
  const StudyPage& p = page(side);
  get_scale_baseline_row(p.baseline, sides_[side].rec.baseline_flags, &sides_[side].baseline_tick);
  send_module_command(side == kRight ? 178 : 153, p.baseline);
}

void DualEngine::restart(int side) {
  page(side).count = 0;
  page(side).newest = 0;
}

void DualEngine::send_setup() {
  const HardwareSettings& hw = hardware_settings();
  const Record& r = sides_[kRight].rec;
  const Record& l = sides_[kLeft].rec;
  if (kind_ == DualKind::kPpg) {
    send_module_command(42);
    send_module_command(17);
  } else if (pressure()) {
    send_module_command(194, hw.right_bp_offset);
    send_module_command(195, hw.right_bp_span);
    send_module_command(54);
    send_module_command(51);
    send_module_command(196, hw.left_bp_offset);
    send_module_command(197, hw.left_bp_span);
    send_module_command(29);
    send_module_command(26);
    send_module_command(204, r.over_range);
    send_module_command(205, l.over_range);
    select_cuffs(r.cuff_select | l.cuff_select);
    for (int side : {kRight, kLeft})
      select_filter(page(side).gain < 5 ? 3 : 11, page(kRight).filter_code, sides_[side].filter);
    send_module_command(81);
    return;
  } else {
    send_module_command(44);
    send_module_command(194, hw.right_bp_offset);
    send_module_command(195, hw.right_bp_span);
    send_module_command(r.inflate_mode == 2 ? 53 : 54);
    send_module_command(183, r.inflate_mode == 2 ? r.alt_target : r.inflate_target);
    send_module_command(52);
    send_module_command(48);
    send_module_command(19);
    send_module_command(196, hw.left_bp_offset);
    send_module_command(197, hw.left_bp_span);
    send_module_command(l.inflate_mode == 2 ? 28 : 29);
    send_module_command(158, l.inflate_mode == 2 ? l.alt_target : l.inflate_target);
    send_module_command(27);
    send_module_command(23);
    send_module_command(204, r.over_range);
    send_module_command(205, l.over_range);
  }
  select_cuffs(r.cuff_select | l.cuff_select);
  send_module_command(208, ((l.nibble & 15) << 4 | (r.nibble & 15)) & 0xFF);
  send_module_command(gain_command_ch1(page(kRight).gain));
  send_module_command(178, page(kRight).baseline);
  send_module_command(gain_command_ch2(page(kLeft).gain));
  send_module_command(153, page(kLeft).baseline);
  send_module_command(volume_command(volume_.volume));
}

void DualEngine::set_probe(int side) {
  StudyPage& p = page(side);
  p.flags &= kPageDeletedSide;
  const bool ppg = p.probe == (side == kRight ? 5 : 6);
  if (ButtonRecord* b = find(side == kRight ? 113 : 118)) set_button_label(*b, ppg ? "PRB:PPG" : "PRB:DOP");
  if (sides_[side].captured) return;
  if (ppg) {
    for (int s : {kRight, kLeft}) {
      send_module_command(s == kRight ? gain_command_ch1(page(s).gain) : gain_command_ch2(page(s).gain));
      send_module_command(s == kRight ? 178 : 153, page(s).baseline);
    }
    send_module_command(side == kRight ? 42 : 17);
    send_module_command(side == kRight ? 49 : 24);
  } else {
    send_module_command(46);
    send_module_command(48);
  }
}

void DualEngine::open_panel(int side) {
  set_state(codes_.cp[side], kButtonHidden);
  for (int code : {codes_.del[side], codes_.dover[side], codes_.keep[side]}) {
    if (ButtonRecord* b = find(code)) {
      enable_button(*b);
      draw_button_normal(*b);
    }
  }
}

void DualEngine::close_panel(int side) {
  for (int code : {codes_.del[side], codes_.dover[side], codes_.keep[side]}) {
    if (ButtonRecord* b = find(code)) {
      disable_button(*b);
      b->state = kButtonHidden;
    }
  }
  set_state(codes_.cp[side], kButtonGreyed);
  // The strip shows again where the panel's buttons stood.
  mark_dirty(dirty_of(side));
}

void DualEngine::draw_side_indicator(const char* prefix, int set, int x1, int y1, int x2, int y2) {
  static const char* const kNames[] = {"none", "right", "left", "both"};
  char name[40];
  std::snprintf(name, sizeof name, "%s%s", prefix, kNames[set & 3]);
  DrawBitmap(name, x1, y1, x2, y2);
}

void DualEngine::show_cuff_buttons() {
  if (!cuffs()) return;
  for (int code : {kDualInflate, kDualDeflate}) {
    ButtonRecord* b = find(code);
    if (!b) continue;
    if (active_) show_button(*b);
    else hide_button(*b);
  }
}

// Captured sides leave the set; an empty set takes every side still to be
// captured.
void DualEngine::normalise(bool redraw) {
  for (int side : {kRight, kLeft})
    if (sides_[side].captured) active_ &= ~side_bit(side);
  if (active_ == 0)
    for (int side : {kRight, kLeft})
      if (!sides_[side].captured) active_ |= side_bit(side);
  if (!redraw) return;
  update_limit_buttons(0);
  draw_side_indicator("dpp_ind_side_", active_, 503, 362, 564, 376);
  if (ButtonRecord* b = find(kDualSide)) {
    if (active_) show_button(*b);
    else hide_button(*b);
  }
  show_cuff_buttons();
}

// An UP (DOWN) button goes when every active side is at its upper (lower)
// limit; after a press of the pair it is held instead while the press lasts.
void DualEngine::update_limit_buttons(int pressed_pair) {
  struct Pair { int up, down; bool gain; };
  for (const Pair& pr : {Pair{kDualGainUp, kDualGainDown, true}, Pair{kDualBaselineUp, kDualBaselineDown, false}}) {
    for (int code : {pr.up, pr.down}) {
      ButtonRecord* b = find(code);
      if (!b) continue;
      bool all_at_limit = true;
      for (int side : {kRight, kLeft})
        if ((active_ & side_bit(side)) && !limit_reached(side, pr.gain, code == pr.up)) all_at_limit = false;
      if (!active_ || !all_at_limit) {
        show_button(*b);
      } else if (pressed_pair == pr.up || pressed_pair == pr.down) {
        hold_button(*b);
      } else {
        hide_button(*b);
      }
    }
  }
}

void DualEngine::change_gain(bool up) {
  for (int side : {kRight, kLeft}) {
    if (!(active_ & side_bit(side)) || (sides_[side].rec.gain_flags & kSettingLocked)) continue;
    StudyPage& p = page(side);
    if (up ? p.gain >= 10 : p.gain <= 0) continue;
    p.gain = static_cast<std::int16_t>(p.gain + (up ? 1 : -1));
    send_gain(side);
    restart(side);
  }
  draw_scales();
  update_limit_buttons(up ? kDualGainUp : kDualGainDown);
}

void DualEngine::change_baseline(bool up) {
  for (int side : {kRight, kLeft}) {
    if (!(active_ & side_bit(side)) || (sides_[side].rec.baseline_flags & kSettingLocked)) continue;
    StudyPage& p = page(side);
    if (up ? p.baseline >= 255 : p.baseline <= 0) continue;
    p.baseline = static_cast<std::int16_t>(p.baseline + (up ? 1 : -1));
    send_baseline(side);
    restart(side);
  }
  update_limit_buttons(up ? kDualBaselineUp : kDualBaselineDown);
}

void DualEngine::capture_side(int side) {
  sides_[side].captured = true;
  page(side).save_time = static_cast<std::int32_t>(std::time(nullptr));
  if (pressure()) {
    if (side == kRight) swap_cuff_selection_1();
    else swap_cuff_selection_2();
    open_panel(side);
    active_ = kBoth;
  } else {
    open_panel(side);
  }
  normalise();
}

void DualEngine::end_marker(int side) {
  const int dx = side == kRight ? 0 : 328;
  const int x = sides_[side].window + 9 + dx;
  if (x > 303 + dx) return;
  fill_rect_color(x, 21, 303 + dx, 178, kColorBackground);
  set_colors(0x0B10);
  g_draw.draw_color = 11;
  draw_line(x, 21, x, 180);
  flush_area(x, 21, 304 + dx, 181);
}

void DualEngine::rearm(int side, bool marker) {
  if (marker) end_marker(side);
  Side& s = sides_[side];
  StudyPage& p = page(side);
  s.captured = false;
  if (pressure()) set_probe(side);
  p.flags &= static_cast<std::uint8_t>(~kPageDeletedSide);
  p.short_text[0] = 0;
  restart(side);
  if (pressure()) {
    p.point_1 = p.point_2 = -1;
    select_cuffs(s.rec.cuff_select);
  }
  close_panel(side);
  erase(side);
}

void DualEngine::do_over_all() {
  if (pressure()) {
    for (int side : {kRight, kLeft}) {
      const int other = 1 - side;
      if (sides_[other].captured || (page(kRight).probe < 15 && page(kLeft).probe < 15)) rearm(side, false);
    }
    active_ = kBoth;
  } else {
    for (int side : {kRight, kLeft})
      if (!(active_ & side_bit(side))) {
        rearm(side, false);
        active_ |= side_bit(side);
      }
  }
  normalise();
}

void DualEngine::cuff_press(bool inflate) {
  const Record& r = sides_[kRight].rec;
  for (int side : {kRight, kLeft}) {
    if (!(active_ & side_bit(side))) continue;
    const Record& rec = sides_[side].rec;
    const bool ch1 = side == kRight;
    const bool hold = inflate ? rec.inflate_mode == 1 : rec.deflate_mode != 0;
    if (hold) {
      cuff_hold_press(hold_, inflate, ch1);
      continue;
    }
    if (pressure()) send_module_command(ch1 ? 183 : 158, inflate ? r.inflate_target : r.deflate_target);
    send_module_command(inflate ? (ch1 ? 90 : 84) : (ch1 ? 91 : 85));
    if (pvr()) {
      restart(side);
      sides_[side].previous = 0;
    }
  }
}

void DualEngine::cuff_repeat(bool inflate) {
  int& countdown = inflate ? hold_.inflate_countdown : hold_.deflate_countdown;
  if (countdown > 0) {
    --countdown;
    return;
  }
  for (int side : {kRight, kLeft})
    if (active_ & side_bit(side)) cuff_hold_press(hold_, inflate, side == kRight);
}

int DualEngine::feed(int side, int trace, int other, bool& status_seen) {
  Side& s = sides_[side];
  StudyPage& p = page(side);
  if (s.captured) return trace;
  if (trace >= 1000) {
    p.status = static_cast<std::uint16_t>(trace & 0x1FFF);
    restart(side);
    s.last_pressure = other;
    if (pvr()) draw_scaled_value(p.status, &s.shown_status, side == kRight ? 239 : 566, 219);
    status_seen = true;
    return trace;
  }
  if (pressure()) trace = filter_sample(trace, s.filter);
  if (p.count < kRingSamples) {
    if (p.count == 0) {
      s.previous = trace;
      --p.newest;
    }
    ++p.count;
  }
  p.newest = static_cast<std::int16_t>((p.newest + 1) % kRingSamples);
  if (p.newest < 0) p.newest = 0;
  p.channel_1[p.newest] = static_cast<std::int16_t>(trace);
  p.channel_2[p.newest] = static_cast<std::int16_t>(other);
  s.last_pressure = other;
  draw_sample(side, trace);
  return trace;
}

int DualEngine::leave_acquisition(int code) {
  send_module_command(0);
  mark_dirty(kDirtyLeftStrip | kDirtyRightStrip);
  wait_button_release(table_.data());
  if (code != kCodeCapture && !sides_[kRight].captured && !sides_[kLeft].captured) return code;
  for (int side : {kRight, kLeft}) {
    StudyPage& p = page(side);
    if (p.count >= kRingSamples) {
      if (p.newest >= 0) {
        if (pressure() && p.point_1 >= 0) {
          int m = p.point_1 - p.newest - 1;
          if (m < 0) m += kRingSamples;
          p.point_1 = static_cast<std::int16_t>(m);
        }
        capture_window(p, 0, true);
      }
      p.newest = kRingSamples - 1;
    }
    if (pressure()) {
      if (p.point_1 < 0) p.point_1 = 0;
      if (p.point_2 < 0) p.point_2 = p.newest;
    }
    p.report_start = static_cast<std::int16_t>(p.newest - sides_[side].window);
  }
  return code;
}

int DualEngine::acquisition() {
  fill_table(table_, false);
  send_setup();
  const char* background = pressure() ? "dpp_bkgd" : pvr() ? "dpv_bkgd" : "dpw_bkgd";
  active_ = kBoth;
  for (int side : {kRight, kLeft}) {
    Side& s = sides_[side];
    s.shown_pressure = -1;
    s.shown_status = -1;
    if (s.captured) open_panel(side);
  }
  draw_screen(background, false);
  for (int side : {kRight, kLeft}) {
    if (sides_[side].captured) draw_window(side);
    get_scale_baseline_row(page(side).baseline, sides_[side].rec.baseline_flags, &sides_[side].baseline_tick);
  }
  if (pressure()) {
    for (int side : {kRight, kLeft}) {
      send_gain(side);
      send_baseline(side);
    }
    for (int side : {kRight, kLeft}) set_probe(side);
    send_module_command(volume_command(volume_.volume));
  }
  normalise();
  if (cuffs()) {
    reset_cuff_hold(hold_);
    for (int side : {kRight, kLeft})
      if (sides_[side].captured) draw_side_readouts(side, false);
    start_tick_timer(1, 500, kTickPeriodic);
  }
  capture_presses_ = 0;
  delayed_armed_ = false;
  drain_module_bytes();
  reader_ = FrameReader{};
  send_module_command(cutoff_command(page(kRight).filter_code));

  for (;;) {
    tick_stopwatch().draw();
    const int e = get_button_event(table_.data());
    if (e >= kCodeCapture && e <= kCodeBack) {
      if (e != kCodeCapture) return leave_acquisition(e);
      for (int side : {kRight, kLeft})
        if (active_ & side_bit(side)) page(side).save_time = static_cast<std::int32_t>(std::time(nullptr));
      if (!(pressure() && (sides_[kRight].rec.options & 0x10))) {
        sides_[kRight].captured = sides_[kLeft].captured = true;
        return leave_acquisition(e);
      }
      // Delayed capture: the first press marks the sample before the newest
      // one and acquisition runs on until the ring comes round to it; the
      // third press captures at once.
      // The release of code 0 would read as another press.
      wait_button_release(table_.data());
      ++capture_presses_;
      if (capture_presses_ == 1 && page(kRight).point_1 < 0) {
        for (int side : {kRight, kLeft}) {
          StudyPage& p = page(side);
          int m = p.newest - 1;
          if (m < 0) m += kRingSamples;
          p.point_1 = static_cast<std::int16_t>(m);
        }
        delayed_armed_ = true;
      } else if (capture_presses_ >= 3) {
        sides_[kRight].captured = sides_[kLeft].captured = true;
        return leave_acquisition(e);
      }
      continue;
    }
    handle(e);
    if (cuffs() && tick_timer_expired(1))
      for (int side : {kRight, kLeft})
        if (!sides_[side].captured) draw_side_readouts(side, false);
    if (!read_frame(reader_)) continue;
    bool status_seen = false;
    const int v1 = reader_.value[0], v2 = reader_.value[1], v3 = reader_.value[2], v4 = reader_.value[3];
    const int right_value = feed(kRight, v3, v1, status_seen);
    // A LEFT Doppler probe shares the RIGHT channel's wave, in the form the
    // RIGHT side's filter left it; its status words still come in value 4.
    if (pressure() && page(kLeft).probe == 15 && v4 < 1000) {
      if (right_value < 1000) feed(kLeft, right_value, v2, status_seen);
    } else {
      feed(kLeft, v4, v2, status_seen);
    }
    if (pvr() && status_seen && !(page(kRight).flags & kPageDeletedSide) && !(page(kLeft).flags & kPageDeletedSide)) {
      g_trace_strips.count_a = page(kRight).status;
      g_trace_strips.count_b = page(kLeft).status;
      update_cc_indicators();
    }
    if (delayed_armed_) {
      const bool left_acquiring = !sides_[kLeft].captured;
      if ((left_acquiring && page(kLeft).newest == page(kLeft).point_1) ||
          (!left_acquiring && page(kRight).newest == page(kRight).point_1)) {
        sides_[kRight].captured = sides_[kLeft].captured = true;
        return leave_acquisition(kCodeCapture);
      }
    }
  }
}

void DualEngine::handle(int e) {
  if (e == kNoEvent) return;
  if (e < 0) {
    const int code = -e;
    if (cuffs() && (code == kDualInflate || code == kDualDeflate)) cuff_hold_release(hold_);
    if (code >= kDualGainUp && code <= kDualBaselineDown)
      if (ButtonRecord* b = find(code)) {
        release_held_button(*b);
        update_limit_buttons(0);
      }
    return;
  }
  if (e == kHeldInflate || e == kHeldDeflate) {
    if (cuffs()) cuff_repeat(e == kHeldInflate);
    return;
  }
  const int code = e & ~kRepeatBit;
  const bool repeat = e & kRepeatBit;
  if (repeat && code != kDualBaselineUp && code != kDualBaselineDown && code != kDualVolumeUp &&
      code != kDualVolumeDown)
    return;
  if (code == kDualGainUp || code == kDualGainDown) return change_gain(code == kDualGainUp);
  if (code == kDualBaselineUp || code == kDualBaselineDown) return change_baseline(code == kDualBaselineUp);
  if (code == kDualSide) {
    active_ = active_ == kBoth ? 1 : active_ == 1 ? 2 : kBoth;
    return normalise();
  }
  if (code == kDualVolumeUp || code == kDualVolumeDown || code == codes_.mute) {
    if (code == kDualVolumeUp) volume_up(volume_);
    else if (code == kDualVolumeDown) volume_down(volume_);
    else toggle_mute(volume_);
    send_module_command(volume_command(volume_.volume));
    return;
  }
  if (cuffs() && (code == kDualInflate || code == kDualDeflate)) return cuff_press(code == kDualInflate);
  if (code == kCodeDoOver) return do_over_all();
  if (int side = own_side_code(codes_.cp, code); side >= 0) return capture_side(side);
  if (int side = own_side_code(codes_.del, code); side >= 0) {
    StudyPage& p = page(side);
    p.flags |= kPageDeletedSide;
    restart(side);
    close_panel(side);
    erase(side);
    return;
  }
  if (int side = own_side_code(codes_.dover, code); side >= 0) {
    if (pressure()) {
      const int other = 1 - side;
      if (sides_[other].captured || (page(kRight).probe < 15 && page(kLeft).probe < 15)) rearm(side, true);
      active_ = kBoth;
    } else {
      rearm(side, true);
      active_ |= side_bit(side);
    }
    return normalise();
  }
  if (int side = own_side_code(codes_.keep, code); side >= 0) {
    end_marker(side);
    close_panel(side);
    return;
  }
}

// --- Post screen ------------------------------------------------------------------------------

void DualEngine::update_scroll_buttons(int pressed) {
  bool all_newest = true, all_oldest = true;
  for (int side : {kRight, kLeft}) {
    if (!(scroll_set_ & side_bit(side))) continue;
    const StudyPage& p = page(side);
    if (p.newest + 1 < p.count) all_newest = false;
    if (p.newest > 0) all_oldest = false;
  }
  for (int code : {kDualFastForward, kDualSlowForward, kDualFastBack, kDualSlowBack}) {
    ButtonRecord* b = find(code);
    if (!b) continue;
    const bool forward = code == kDualFastForward || code == kDualSlowForward;
    if (!(forward ? all_newest : all_oldest)) show_button(*b);
    else if (code == pressed) hold_button(*b);
    else hide_button(*b);
  }
}

bool DualEngine::scroll_step(int side, bool forward) {
  Side& s = sides_[side];
  StudyPage& p = page(side);
  Bitmap* strip = strip_of(side);
  if (forward) {
    if (p.newest < 0 || p.newest + 1 >= p.count || p.newest + 1 >= kRingSamples) return false;
    scroll_strip_left(strip, s.strip);
    draw_trace_segment(strip, s.baseline_tick, p.channel_1[p.newest], p.channel_1[p.newest + 1], 0x01, 37);
    ++p.newest;
    ++p.report_start;
  } else {
    if (p.newest <= 0) return false;
    scroll_strip_right(strip, s.strip);
    if (p.report_start >= 0 && p.report_start < kRingSamples) {
      const int col = kFull - s.strip;
      const int from = p.report_start > 0 ? p.channel_1[p.report_start - 1] : p.channel_1[0];
      draw_trace_segment(strip, s.baseline_tick, from, p.channel_1[p.report_start], 0x80 >> (col % 8), col / 8 + 1);
    }
    --p.newest;
    --p.report_start;
  }
  if (pressure()) p.short_text[0] = 0;
  mark_dirty(dirty_of(side));
  return true;
}

void DualEngine::scroll(bool forward, int steps) {
  for (int i = 0; i < steps; ++i) {
    bool moved = false;
    for (int side : {kRight, kLeft})
      if ((scroll_set_ & side_bit(side)) && scroll_step(side, forward)) moved = true;
    if (!moved) {
      // The dual pressure screen tries all five and beeps for each; the
      // others stop at the first step that moved nothing.
      if (pressure() || i == 0) beep_once();
      if (!pressure()) break;
    }
  }
  for (int side : {kRight, kLeft}) {
    if (!(scroll_set_ & side_bit(side))) continue;
    if (pressure()) draw_window(side);
    if (pvr()) draw_side_readouts(side, true);
  }
}

void DualEngine::move_markers(int which, bool forward, int steps) {
  for (int i = 0; i < steps; ++i) {
    bool moved = false;
    for (int side : {kRight, kLeft}) {
      if (!(scroll_set_ & side_bit(side))) continue;
      StudyPage& p = page(side);
      int m = which == 1 ? p.point_1 : p.point_2;
      const bool ok = forward ? marker_forward(m, p.report_start, p.newest, p.count) : marker_back(m, p.report_start, p.newest);
      if (!ok) continue;
      (which == 1 ? p.point_1 : p.point_2) = static_cast<std::int16_t>(m);
      moved = true;
    }
    if (!moved) beep_once();
  }
  for (int side : {kRight, kLeft})
    if (scroll_set_ & side_bit(side)) draw_window(side);
}

void DualEngine::touch_marker(int side, int which, int x) {
  if (!(scroll_set_ & side_bit(side))) return;
  StudyPage& p = page(side);
  if (which == 0) {
    const bool forward = x > (side == kRight ? 155 : 483);
    if (!scroll_step(side, forward)) beep_once();
    if (pressure()) draw_window(side);
    return;
  }
  const int column = std::clamp(x - (side == kRight ? 7 : 335), 1, kFull);
  const int m = std::max(p.report_start + column, 0);
  (which == 1 ? p.point_1 : p.point_2) = static_cast<std::int16_t>(m);
  draw_window(side);
}

void DualEngine::set_output() {
  wait_button_release(table_.data());
  set_button_mode_repeat();
  for (int side : {kRight, kLeft}) {
    if (!(scroll_set_ & side_bit(side))) continue;
    StudyPage& p = page(side);
    const bool brachial = std::strstr(sides_[side].rec.label, "Brachial") != nullptr;
    edit_text_field(side == kRight ? "Set RIGHT Output to:" : "Set LEFT Output to:", p.short_text, 4, 0, brachial);
    p.short_text[sizeof p.short_text - 1] = 0;
    sides_[side].shown_pressure = -1;
    load_background("dpp_post_bkgd");
  }
  set_button_mode_capture();
}

void DualEngine::location_picker() {
  const int remembered = run_.current;
  const int first = run_.first, last = run_.first + run_.count - 2;
  // Room for what a read brings (29 bytes) and its NUL.
  char line[30] = {};
  std::memcpy(line, sides_[kRight].rec.label + 6, kLocation);
  line[kLocation] = 0;
  ButtonRecord t[] = {
      make_button(553, 241, 639, 318, "\x18^loc_up", 102, 1, 19),
      make_button(553, 318, 639, 395, "\x19^loc_down", 103, 2, 20),
      make_button(427, 408, 639, 479, "OK^glbl_accept", 0, 1024, 13),
      make_button(0, 408, 158, 479, "Cancel^glbl_cancel", 1, 512, 17),
      make_button(0, 0, 0, 0, "keyout", 139, 8192, 0, kButtonHidden),
      kButtonTableEnd,
  };
  draw_bitmap_on_background("loc_bkgd", 0, 220, 639, 479);
  fill_rect_color(0, 220, 639, 479, kColorBackground);
  flush_area(0, 220, 639, 479);
  if (run_.current <= first) t[0].state = kButtonHidden;
  if (run_.current >= last) t[1].state = kButtonHidden;
  for (;;) {
    fill_rect_color(100, 307, 500, 329, kColorBackground);
    const bool earlier = run_.current >= first + 2, later = run_.current + 2 <= last;
    const char* more = earlier && later ? "loc_ind_more_1" : earlier ? "loc_ind_more_2" : later ? "loc_ind_more_3" : nullptr;
    fill_rect_color(0, 241, 100, 395, kColorBackground);
    if (more) DrawBitmap(more, 6, 306, 93, 329);
    draw_font_text(0, scale_x(108), scale_y(309), line, 0xFFFFFF);
    flush_area(0, 241, 500, 395);
    draw_buttons(t);
    int e = kNoEvent;
    while ((e = get_button_event(t)) == kNoEvent || e < 0) {
    }
    wait_button_release(t);
    if (e == 102 || e == 103) {
      const int next = run_.current + (e == 102 ? -2 : 2);
      if (next < first || next > last) continue;
      run_.current = next;
      if (next == first) hold_button(t[0]);
      else show_button(t[0]);
      if (next == last) hold_button(t[1]);
      else show_button(t[1]);
      std::uint8_t rec[37];
      if (!read_template_record(run_.template_path, run_.current, sizeof rec, rec)) {
        run_.current = remembered;
        return;
      }
      std::memcpy(line, rec + 8, 29);
      line[29] = 0;
    } else if (e == 0) {
      line[kLocation - 1] = 0;
      for (Side& s : sides_) std::memcpy(s.rec.label + 6, line, kLocation);
      return;
    } else if (e == 139) {
      set_button_mode_repeat();
    } else if (e == 1) {
      run_.current = remembered;
      return;
    }
  }
}

int DualEngine::post_screen() {
  fill_table(table_, true);
  const char* background = pressure() ? "dpp_post_bkgd" : pvr() ? "dpv_post_bkgd" : "dpw_post_bkgd";
  static const char* const kModes[] = {"WVFRM", "MARK1", "MARK2"};
  const int picker = pressure() ? 121 : kCodePicker;
  const bool markers = pressure() && (sides_[kRight].rec.options & 0x08);
  mode_ = 0;
  scroll_set_ = kBoth;
  for (int side : {kRight, kLeft})
    if (page(side).flags & kPageDeletedSide) scroll_set_ &= ~side_bit(side);
  bool redraw = true;
  for (;;) {
    if (redraw) {
      draw_screen(background, true);
      for (int side : {kRight, kLeft}) {
        get_scale_baseline_row(page(side).baseline, sides_[side].rec.baseline_flags, &sides_[side].baseline_tick);
        sides_[side].shown_pressure = sides_[side].shown_status = -1;
        draw_window(side);
        if (pvr()) draw_side_readouts(side, true);
      }
      draw_side_indicator("dpp_post_ind_side_", scroll_set_, 221, 366, 282, 380);
      update_scroll_buttons(0);
      redraw = false;
    }
    if (markers) {
      set_colors(0x0C10);
      // Above the Side button, clear of the bottom row of buttons.
      draw_text_at_cell_address(kModes[mode_], kModeNameAddress, 2);
    }
    if (pressure())
      for (int side : {kRight, kLeft}) draw_side_readouts(side, true);
    tick_stopwatch().draw();
    const int e = get_button_event(table_.data());
    if (e == kNoEvent) continue;
    if (e < 0) {
      if (ButtonRecord* b = find(-e); b && -e >= kDualFastForward && -e <= kDualSlowBack) {
        release_held_button(*b);
        update_scroll_buttons(0);
      }
      continue;
    }
    const int code = e & ~kRepeatBit;
    const bool repeat = e & kRepeatBit;
    if (code == 0 || code == 1 || code == 2 || code == 3 || code == kCodeDoOver || code == kCodeView) {
      if (repeat) continue;
      wait_button_release(table_.data());
      mark_dirty(kDirtyWholeWindow);
      return code;
    }
    if (code >= kDualFastForward && code <= kDualSlowBack) {
      const bool forward = code == kDualFastForward || code == kDualSlowForward;
      const int steps = code == kDualFastForward || code == kDualFastBack ? 5 : 1;
      if (mode_ > 0) move_markers(mode_, forward, steps);
      else scroll(forward, steps);
      update_scroll_buttons(code);
      continue;
    }
    if (repeat) continue;
    if (code == kDualSide) {
      const bool left_deleted = page(kLeft).flags & kPageDeletedSide;
      scroll_set_ = scroll_set_ == kBoth ? 1 : scroll_set_ == 1 ? (left_deleted ? kBoth : 2) : kBoth;
      for (int side : {kRight, kLeft})
        if (page(side).flags & kPageDeletedSide) scroll_set_ &= ~side_bit(side);
      draw_side_indicator("dpp_post_ind_side_", scroll_set_, 221, 366, 282, 380);
      update_scroll_buttons(0);
    } else if (code == kDualMove && markers) {
      mode_ = (mode_ + 1) % 3;
    } else if (code == picker) {
      wait_button_release(table_.data());
      location_picker();
      redraw = true;
    } else if (pressure() && code == kDualSetOutput) {
      set_output();
      redraw = true;
    } else if (pressure() && (code == kDualCaptureRight || code == 114)) {
      const int side = code == kDualCaptureRight ? kRight : kLeft;
      touch_marker(side, mode_, pointer_position() & 0xFFFF);
    }
  }
}

}  // namespace

// --- The module run ---------------------------------------------------------------------------

int run_dual_module(int argc, char* argv[], DualKind kind) {
  if (argc < 6) return kResultError;
  ModuleRun run;
  run.template_number = argv[1];
  run.exam_id = static_cast<std::int16_t>(std::atoi(argv[2]));
  run.first = static_cast<std::int16_t>(std::atoi(argv[3]));
  run.count = static_cast<std::int16_t>(std::atoi(argv[4]));
  run.current = static_cast<std::int16_t>(std::atoi(argv[5]));
  if (run.first < 1 || run.count < 0 || run.count % 2 != 0) return kResultError;
  if (run.current < run.first || run.current > run.first + run.count) return kResultError;
  run.template_base = template_base_name(run.template_number);
  run.template_path = template_file_name(run.template_number);
  // The template must hold the whole stretch: its last record read whole.
  std::uint8_t last[kTemplateRecordSize];
  if (run.count > 0 && !read_template_record(run.template_path, run.first + run.count - 1, sizeof last, last))
    return kResultError;
  if (run.count == 0 && !platform::file_size(platform::map_path(run.template_path))) return kResultError;

  run.stopwatch = &tick_stopwatch();
  send_module_command(0);
  set_button_mode_capture();
  run.page = std::make_unique<StudyPage>();
  DualEngine engine(kind, run);
  int result = 0;
  for (;;) {
    const int r = engine.run_pair();
    if (r == 0 || r == 2) {
      run.current += 2;
      if (run.current >= run.first + run.count) {
        result = kResultStretchDone;
        break;
      }
    } else if (r == 3) {
      run.current -= 2;
      if (run.current < run.first) {
        result = kResultBack;
        break;
      }
    } else {
      result = r;
      break;
    }
  }
  release_background();
  set_button_mode_repeat();
  poke_comm_area_word(0, kStepSlot, run.current);
  return result;
}

int dualppg_main(int argc, char* argv[]) { return run_dual_module(argc, argv, DualKind::kPpg); }
int dualpres_main(int argc, char* argv[]) { return run_dual_module(argc, argv, DualKind::kPressure); }
int dualpvr_main(int argc, char* argv[]) { return run_dual_module(argc, argv, DualKind::kPvr); }

}  // namespace vaslab
