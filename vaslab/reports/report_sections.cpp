#include "vaslab/reports/report_sections.h"

#include <algorithm>
#include <cstring>

#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/template_format.h"

namespace vaslab {

namespace {

// The page's own waveform block: flags byte, two envelope curves and a
// spectrum per sample, indexed like the page's samples.
constexpr std::size_t kBlockUpper = 2, kBlockLower = 2962, kBlockSpectra = 5922;

constexpr const char* kScaleTexts[4][11] = {
    {".50", ".75", "  1", "1.5", "  2", "  3", "  4", "  6", "  8", " 12", " 16"},
    {"768", "512", "384", "256", "192", "128", " 96", " 64", " 48", " 32", " 24"},
    {"   6", "   4", "   3", "   2", " 1.5", "   1", " .75", "  .5", ".375", " .25", ".188"},
    {"244", "N/A", "122", "N/A", " 61", "N/A", " 30", "N/A", " 15", "N/A", "7.6"},
};
constexpr const char* kCutoffTexts[5] = {" 1", " 2", " 5", "10", "25"};
constexpr int kTimeFactors[5] = {150, 75, 30, 15, 6};
constexpr const char* kSides[3] = {"RIGHT", "LEFT", "BOTH"};
constexpr const char* kSites[7] = {"BUTTOCK", "THIGH", "CALF", "FOOT", "HIP", "KNEE", "ANKLE"};
constexpr const char* kSitesBoth[7] = {"BTCKS.", "THIGHS", "CALVES", "FEET", "HIPS", "KNEES", "ANKLES"};
constexpr std::uint8_t kHighlightColour = 6;
constexpr int kLabelBytes = 72;

std::uint8_t u8(const std::uint8_t* rec, int off) { return rec[off]; }
std::int16_t s16(const std::uint8_t* rec, int off) { return platform::get_s16le(rec + off); }
std::string_view text_at(const std::uint8_t* rec, int off, int width) {
  return field_text(rec + off, static_cast<std::size_t>(width));
}
// Formula fields: bounded by the field, never running into the next one.
double formula_at(const std::uint8_t* rec, int off, int width) {
  return formula_field(rec + off, static_cast<std::size_t>(width));
}
int limited(double v, int low, int high) {
  return static_cast<int>(std::clamp<std::int64_t>(formula_to_int(v), low, high));
}

std::int16_t sample_1(const StudyPage& p, int i) { return i >= 0 && i < PAGE_SAMPLES ? p.channel_1[i] : 0; }
std::int16_t sample_2(const StudyPage& p, int i) { return i >= 0 && i < PAGE_SAMPLES ? p.channel_2[i] : 0; }
std::string_view page_text(const StudyPage& p) { return field_text(p.text, sizeof p.text); }

const char* scale_text(int row, int gain) {
  if (row < 0 || row > 3 || gain < 0 || gain > 10) return "";
  return kScaleTexts[row][gain];
}
const char* cutoff_text(int code) { return code >= 0 && code < 5 ? kCutoffTexts[code] : ""; }

int char_width(int attribute) {
  switch (attribute & 3) {
    case 1: return 25;
    case 2: return 18;
    default: return 30;
  }
}
int text_width(std::string_view t, int attribute) { return static_cast<int>(t.size()) * char_width(attribute); }

std::string letter_name(const char* head, char letter, const char* tail = "") {
  return std::string(head) + letter + tail;
}

// Field offsets of the three kinds of trace steps.
struct TraceFields {
  int scale_row, gain, flags, start, label_1, label_2;
  bool pvr, doppler;
};
TraceFields trace_fields(int type) {
  if (type == kStepDualPvr || type == kStepSinglePvr) return {51, 53, 55, 61, 63, 135, true, false};
  if (type == kStepDoppler) return {39, 41, 43, 51, 53, 125, false, true};
  return {37, 39, 41, 47, 49, 121, false, false};
}
bool is_trace_type(int type) {
  return type == kStepDualPvr || type == kStepSinglePvr || type == kStepDualWaveform ||
         type == kStepSingleWaveform || type == kStepVrt || type == kStepDoppler;
}

// The scale row used for labels and variables: a Doppler page with spectra
// shows row 3 where the template says 1, one without them row 1 for 3.
int scale_row_of(const TraceFields& f, const std::uint8_t* rec, const ReportPage& page) {
  int row = u8(rec, f.scale_row);
  if (f.doppler) {
    if (page.has_block() && row == 1) row = 3;
    else if (!page.has_block() && row == 3) row = 1;
  }
  return row;
}

// Samples of the report stretch that fit behind `start`: the first-array
// samples after the report start up to the newest, negative indexes left
// out, nothing past index 2959 of the page or of the trace samples.
template <class Visit>
int walk_report_samples(const StudyPage& p, int start, Visit visit) {
  int count = 0;
  if (start < 0) return 0;
  for (int h = std::max(0, p.report_start + 1); h <= p.newest && h < PAGE_SAMPLES; ++h) {
    if (start + count >= kTraceSampleCount) break;
    visit(h, start + count);
    ++count;
  }
  return count;
}

void set_trace_variables(int type, const std::uint8_t* rec, const ReportPage& rp, std::int32_t start_time,
                         int count) {
  const StudyPage& p = rp.page;
  const TraceFields f = trace_fields(type);
  const char l = static_cast<char>(u8(rec, 32) - 'A' + 'a');
  if (f.pvr) {
    set_report_variable(letter_name("c", l), sample_2(p, p.newest));
    set_report_variable(letter_name("v", l), p.status);
  }
  set_report_variable(letter_name("g", l), 0, scale_text(scale_row_of(f, rec, rp), p.gain));
  set_report_variable(letter_name("s", l), 0, cutoff_text(p.filter_code));
  set_report_variable(letter_name("w", l), count);
  if (p.point_1 >= 0) {
    set_report_variable(letter_name("m", l), p.point_1);
    set_report_variable(letter_name("m", l, "v"), sample_1(p, p.point_1));
  }
  if (p.point_2 >= 0) {
    set_report_variable(letter_name("n", l), p.point_2);
    set_report_variable(letter_name("n", l, "v"), sample_1(p, p.point_2));
  }
  set_report_variable(letter_name("tw", l), static_cast<double>(report_step_time(p, start_time)));
}

// The pressure text of a page: its own text (4 characters at most), else
// the second-array sample at the newest index, "***" out of range.
std::string pressure_text(const StudyPage& p) {
  std::string_view own = field_text(p.short_text, 4);
  if (!own.empty()) return std::string(own);
  const int v = sample_2(p, p.newest);
  if (v > 999 || v < -999) return "***";
  return std::to_string(v);
}

void set_pressure_variables(int type, const std::uint8_t* rec, const StudyPage& p, std::int32_t start_time,
                            const std::string& text) {
  const char l = static_cast<char>(u8(rec, 32) - 'A' + 'a');
  if (type == kStepDualPressure && (u8(rec, 37) & 0x20))
    set_report_variable(letter_name("p", l), 0, page_text(p));
  else
    set_report_variable(letter_name("p", l), 0, text);
  set_report_variable(letter_name("tp", l), static_cast<double>(report_step_time(p, start_time)));
  if (type == kStepDualPressure) {
    set_report_variable(letter_name("pm", l), p.point_1);
    set_report_variable(letter_name("pn", l), p.point_2);
    if (p.point_1 >= 0) set_report_variable(letter_name("pm", l, "v"), sample_1(p, p.point_1));
    if (p.point_2 >= 0) set_report_variable(letter_name("pn", l, "v"), sample_1(p, p.point_2));
  }
}

bool trace_letter_ok(const std::uint8_t* rec) { return rec[32] >= 'A' && rec[32] < 'A' + kPageTraces; }
bool pressure_letter_ok(const std::uint8_t* rec) { return rec[32] >= 'A' && rec[32] < 'A' + kPagePressures; }

// Three characters, leading zeros blank; highlighted outside [low, high].
void append_three_digits(std::string& out, int v, int low, int high, std::uint8_t colour) {
  v = std::clamp(v, 0, 999);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%3d", v);
  const bool outside = v < low || v > high;
  if (outside) out += static_cast<char>(kHighlightColour);
  out += buf;
  if (outside) out += static_cast<char>(colour);
}

// Two characters of pulse amplitude from the stored trace; "**" when the
// cutoff has no window or the trace is shorter than three windows.
std::string amplitude_text(const std::uint8_t* s, int count, int cutoff) {
  int d = cutoff == 2 ? 15 : cutoff == 3 ? 30 : cutoff == 4 ? 75 : 0;
  if (d == 0 || count < 3 * d) return "**";
  int peak_at = d;
  for (int i = d; i < count; ++i)
    if (s[i] > s[peak_at]) peak_at = i;
  const int peak = s[peak_at];
  int smallest = peak, rises = 0;
  for (int i = peak_at - 1; i >= 0; --i) {
    const int v = s[i];
    if (v > peak) break;
    if (v > smallest) {
      if (++rises >= d / 3) break;
    } else if (v < smallest) {
      smallest = v;
      rises = 0;
    }
  }
  const int x = (peak - smallest) * 5;
  const int a = x / 32 + (x % 32 > 15 ? 1 : 0);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", a);
  return std::string(buf, 2);
}

struct LabelContext {
  const TraceFields& f;
  const std::uint8_t* rec;
  const ReportPage& rp;
  int row;
  const std::uint8_t* samples;  // the trace just stored
  int count;
};

std::string expand_label(std::string_view text, const LabelContext& c) {
  const StudyPage& p = c.rp.page;
  std::string out;
  std::uint8_t colour = 7;
  for (char ch : text) {
    const auto b = static_cast<std::uint8_t>(ch);
    if (b >= 1 && b <= 7) {
      colour = b;
      out += ch;
    } else if (b == 9) {
      const bool mismatch = p.gain != u8(c.rec, c.f.gain);
      if (mismatch) out += static_cast<char>(kHighlightColour);
      out += scale_text(c.row, p.gain);
      if (mismatch) out += static_cast<char>(colour);
      if (c.f.pvr && c.row == 2) out += " mmHg/20mm";
      if (c.f.doppler && c.row == 1) out += " Hz/mm";
    } else if (b == 10 && c.f.pvr) {
      append_three_digits(out, sample_2(p, p.newest), s16(c.rec, 40), s16(c.rec, 42), colour);
    } else if (b == 11) {
      out += cutoff_text(p.filter_code);
    } else if (b == 12 && c.f.pvr) {
      const int status = std::min<int>(p.status, 2692);
      const int scaled = status * 1000 / 2692 + (status * 1000 % 2692 > 1347 ? 1 : 0);
      append_three_digits(out, std::min(scaled, 999), s16(c.rec, 44), s16(c.rec, 46), colour);
    } else if (b == 13 && c.f.doppler) {
      out += p.probe == 16 ? "5" : p.probe == 19 ? "4" : "8";
    } else if (b == 14) {
      out += amplitude_text(c.samples, c.count, p.filter_code);
    } else {
      out += ch;
    }
  }
  return out;
}

// Puts a label into the trace label pool; cut at the pool's end, always
// NUL-ended.  A full pool gives its last NUL, an empty label.
std::int16_t add_label(ReportRun& run, const std::string& text) {
  const int room = kTraceLabelPoolBytes - run.label_length;
  if (room <= 0) return kTraceLabelPoolBytes - 1;
  const int at = run.label_length;
  const int n = std::min<int>(static_cast<int>(text.size()), room - 1);
  std::memcpy(run.header.trace_labels + at, text.data(), static_cast<std::size_t>(n));
  run.header.trace_labels[at + n] = '\0';
  run.label_length += n + 1;
  return static_cast<std::int16_t>(at);
}

int trace_section(ReportRun& run, int type) {
  const std::uint8_t* rec = run.step;
  const ReportPage& rp = *run.page;
  const StudyPage& p = rp.page;
  if (p.flags & kPageDeletedSide) return 0;
  if (!trace_letter_ok(rec)) return 0;
  const TraceFields f = trace_fields(type);
  PageTraceEntry& e = run.header.traces[rec[32] - 'A'];
  e.x = s16(rec, 33);
  e.y = static_cast<std::int16_t>(run.layout.trace_y(type, e.x, s16(rec, 35)));
  e.start = s16(rec, f.start);
  e.count = 0;
  e.level = static_cast<std::uint8_t>(p.baseline & 0xFF);
  e.flags = u8(rec, f.flags);
  e.first_point = p.point_1;
  e.second_point = p.point_2;

  const bool spectra = f.doppler && rp.has_block();
  if (spectra && !run.block) run.block = std::make_unique<PageWaveformBlock>();
  const int count = walk_report_samples(p, e.start, [&](int h, int t) {
    const int v = p.channel_1[h];
    std::uint8_t stored = static_cast<std::uint8_t>(v);
    const bool flagged = v >= 256;
    if (flagged) stored = v == 256 ? 255 : 0;
    run.header.samples[t] = stored;
    set_sample_flag(run.header, t, flagged);
    if (spectra) {
      run.block->upper[t] = rp.block[kBlockUpper + h];
      run.block->lower[t] = rp.block[kBlockLower + h];
      std::memcpy(run.block->spectra[t], &rp.block[kBlockSpectra + kSpectrumBins * h], kSpectrumBins);
    }
  });
  e.count = static_cast<std::int16_t>(count);
  if (spectra) {
    const std::uint8_t bits = rp.block[0];
    if (bits & 0x01) e.flags |= 0x80;
    if (bits & 0x02) e.flags |= 0x40;
    if (bits & 0x04) e.flags |= 0x10;
    if (!(bits & 0x10)) e.flags |= 0x20;
    run.waveform = true;
    run.waveform_count = 1;
  }

  const std::uint8_t* stored = e.start >= 0 && e.start < kTraceSampleCount ? run.header.samples + e.start : nullptr;
  const LabelContext c{f, rec, rp, scale_row_of(f, rec, rp), stored, stored ? count : 0};
  e.label_1 = add_label(run, expand_label(text_at(rec, f.label_1, kLabelBytes), c));
  e.label_2 = add_label(run, expand_label(text_at(rec, f.label_2, kLabelBytes), c));
  set_trace_variables(type, rec, rp, run.start_time, count);
  return 0;
}

int pressure_section(ReportRun& run, int type) {
  const std::uint8_t* rec = run.step;
  StudyPage& p = run.page->page;
  // A deleted side of a pair has no measurement to show.
  if (p.flags & kPageDeletedSide) return 0;
  if (!pressure_letter_ok(rec)) return 0;
  PagePressureValue& v = run.header.pressures[rec[32] - 'A'];
  v.x = s16(rec, 33);
  v.y = static_cast<std::int16_t>(run.layout.pressure_y(type, v.x, s16(rec, 35)));
  v.flags = u8(rec, 37);
  const std::string text = pressure_text(p);
  std::memset(v.text, 0, sizeof v.text);
  std::memcpy(v.text, text.data(), std::min(text.size(), sizeof v.text - 1));
  if (text == "***") std::snprintf(p.short_text, sizeof p.short_text, "***");
  set_pressure_variables(type, rec, p, run.start_time, text);
  return 0;
}

// Places a text at x aligned 0 left, 1 right, 2 centred.
bool place_aligned(ReportRun& run, int x, int y, int attribute, int align, std::string_view text) {
  const int w = text_width(text, attribute);
  if (align == 1) x = std::max(0, x - w);
  else if (align == 2) x = std::max(0, x - w / 2);
  return run.add_text(x, y, attribute, text);
}

std::string imported_field(int field) {
  char buf[kWorklistBufferSize] = {};
  if (field == 0 || call_worklist_control(field, buf, sizeof buf) < 0) return {};
  return std::string(field_text(buf, sizeof buf));
}

// The text of a text step: its own or its formula's value through its
// format, joined with an imported field; nullopt when its condition is zero.
std::optional<std::string> step_text(const std::uint8_t* rec, bool unconditional = false) {
  if (!unconditional && is_zero(formula_at(rec, 37, 80))) return std::nullopt;
  const std::string_view format = text_at(rec, 278, 10);
  if (rec[197] != 0) return format_template_value(format, formula_at(rec, 198, 80), true);
  const std::string own(text_at(rec, 198, 80));
  const std::string field = imported_field(rec[290] & 0x3F);
  std::string combined = own;
  if (!field.empty()) {
    switch (rec[290] >> 6) {
      case 0: combined = field + own; break;
      case 1: combined = own + field; break;
      case 2: combined = field; break;
      default: combined = field; break;  // 3: the field, as it is not empty
    }
  }
  if (combined.size() > 79) combined.resize(79);
  return format_template_text(format, combined);
}

int text_section(ReportRun& run) {
  std::uint8_t* rec = run.step;
  const std::optional<std::string> text = step_text(rec);
  if (!text) return 0;
  const int attribute = (limited(formula_at(rec, 117, 80), 0, 7) * 4 + rec[36]) & 0xFF;
  return place_aligned(run, s16(rec, 32), s16(rec, 34), attribute, rec[288], *text) ? 0 : 1;
}

int picture_section(ReportRun& run) {
  const std::uint8_t* rec = run.step;
  if (is_zero(formula_at(rec, 65, 80))) return 0;
  if (rec[52] != 0) return 1;
  PageGraphicItem g{};
  g.x = s16(rec, 32);
  g.y = s16(rec, 34);
  std::memcpy(g.picture, rec + 36, sizeof g.picture);
  g.picture[sizeof g.picture - 1] = '\0';
  g.mirror = rec[49];
  g.gap = s16(rec, 50);
  g.width = s16(rec, 53);
  g.height = s16(rec, 55);
  g.source_x = s16(rec, 57);
  g.source_rows = s16(rec, 59);
  g.draw_width = s16(rec, 61);
  g.draw_height = s16(rec, 63);
  return run.add_graphic(g) ? 0 : 1;
}

int notes_section(ReportRun& run, bool loaded) {
  const std::uint8_t* rec = run.step;
  const int mode = rec[36] & 3;
  if (mode == 2) return 1;
  const std::string_view note = loaded ? page_text(run.page->page) : std::string_view{};
  if ((mode == 1 || mode == 3) && note.empty()) return 0;
  const int record_row = run.layout.note_row(s16(rec, 34));
  if (run.running_row < 0) run.running_row = record_row;
  const int row = (rec[36] & 4) ? run.running_row + 50 : record_row;
  run.running_row = row;
  const int x = s16(rec, 32);
  const std::string_view caption = text_at(rec, 38, 82);
  if (mode <= 1 && !caption.empty()) {
    const int cx = std::max(0, x - static_cast<int>(caption.size()) * 30);
    if (!run.add_text(cx, row, rec[37], caption)) return 1;
  }
  if (!note.empty() && !run.add_text(std::max(0, x), row, rec[120], note)) return 1;
  return 0;
}

// "0" when either time is unknown.
std::string seconds_since(std::int64_t t, std::int32_t start) {
  if (t == 0 || start == 0) return "0";
  return std::to_string(t - start);
}

void evaluate(const std::string& text) { evaluate_formula(text); }

void thermal_formulas(const std::uint8_t* rec, const StudyPage* p, std::int32_t start_time) {
  const std::string_view note = p ? page_text(*p) : std::string_view{};
  evaluate("TM=" + std::string(note.substr(0, 6)));
  formula_at(rec, 38, 80);
  evaluate("TI=" + seconds_since(p ? p->save_time : 0, start_time));
  formula_at(rec, 255, 43);
}

int thermal_section(ReportRun& run, bool loaded) {
  const std::uint8_t* rec = run.step;
  const StudyPage& p = run.page->page;
  const std::string_view note = loaded ? page_text(p) : std::string_view{};
  thermal_formulas(rec, loaded ? &p : nullptr, run.start_time);
  if ((rec[36] & 2) || note.empty()) return 0;
  const int attribute = (rec[37] + 4 * limited(formula_at(rec, 118, 80), 0, 7)) & 0xFF;
  const std::string text = format_template_text(text_at(rec, 198, 57), note);
  int x = s16(rec, 32);
  if (!(rec[36] & 1)) x -= text_width(text, attribute);
  return run.add_text(std::max(0, x), run.layout.thermal_y(s16(rec, 34)), attribute, text) ? 0 : 1;
}

std::int32_t slot_capture_time(const StudyPage& p, int slot) {
  const auto lo = static_cast<std::uint16_t>(p.channel_1[10 * slot]);
  const auto hi = static_cast<std::uint16_t>(p.channel_1[10 * slot + 1]);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(lo) | (static_cast<std::uint32_t>(hi) << 16));
}

int symptoms_section(ReportRun& run, bool loaded) {
  const std::uint8_t* rec = run.step;
  const StudyPage& p = run.page->page;
  run.running_row = run.layout.first_running_row(run.running_row);
  if (loaded) {
    evaluate("TM=" + seconds_since(p.save_time, run.start_time));
    formula_at(rec, 73, 30);
  }
  const int attribute = rec[36] & 0x7F;
  const bool time_right = rec[36] & 0x80;
  const int x = s16(rec, 32), y = s16(rec, 34);
  int time_width = 0;
  if (loaded && (rec[68] & 2)) {
    const std::string_view time = field_text(p.text, 5);
    if (!time.empty()) {
      time_width = text_width(time, attribute);
      if (!run.add_text(std::max(0, time_right ? x - time_width : x), y, attribute, time)) return 1;
      run.running_row = y;
    }
  }
  const std::string_view caption = text_at(rec, 37, 31);
  const int caption_mode = (rec[68] >> 2) & 3;
  if (!caption.empty() && (caption_mode == 1 || (caption_mode == 2 && loaded))) {
    const int cx = x - text_width(caption, attribute) - (time_right ? time_width : 0);
    if (cx >= 0 && !run.add_text(cx, y, attribute, caption)) return 1;
  }

  const int slot_attribute = rec[103] & 0x7F;
  const bool slot_right = rec[103] & 0x80;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t* slot = rec + 104 + 46 * i;
    if (loaded) {
      evaluate("TM=" + seconds_since(slot_capture_time(p, i), run.start_time));
      formula_at(slot, 36, 10);
    }
    const int sx = s16(slot, 1), sy = s16(slot, 3);
    const std::string_view time = loaded ? field_text(p.text + 10 + 10 * i, 5) : std::string_view{};
    bool time_placed = false;
    int row = sy, width = 0;
    if ((slot[0] & 2) && !time.empty()) {
      row = (slot[0] & 1) ? run.running_row + 50 : sy;
      width = text_width(time, slot_attribute);
      if (!run.add_text(std::max(0, slot_right ? sx - width : sx), row, slot_attribute, time)) return 1;
      if (slot[0] & 1) run.running_row = row;
      time_placed = true;
    }
    const int site_mode = (slot[0] >> 2) & 3;
    if (site_mode == 1 || (site_mode == 2 && !time.empty())) {
      const int code = loaded ? static_cast<std::uint16_t>(p.channel_2[i]) : -1;
      const int side = code < 0 ? -1 : (code >> 8) & 3, site = code < 0 ? -1 : code & 7;
      std::string site_text;
      for (char ch : text_at(slot, 5, 31)) {
        if (ch == 15) site_text += symptom_side_name(side);
        else if (ch == 16) site_text += symptom_site_name(side, site);
        else site_text += ch;
      }
      int site_row = sy;
      if (time_placed) {
        site_row = row;
      } else if (slot[0] & 1) {
        site_row = run.running_row + 50;
        run.running_row = site_row;
      }
      const int site_x = sx - text_width(site_text, slot_attribute) - (slot_right ? width : 0);
      if (site_x >= 0 && !run.add_text(site_x, site_row, slot_attribute, site_text)) return 1;
    }
  }
  return 0;
}

PageLineItem line_from(const std::uint8_t* rec, int width_at, int colour_at, int symbols_at, int clip_at,
                       int coords_at) {
  PageLineItem l{};
  const int width = limited(formula_at(rec, width_at, 6), 1, 5);
  const int colour = limited(formula_at(rec, colour_at, 6), 0, 7);
  l.style = static_cast<std::uint8_t>(width * 16 + colour);
  l.symbols = rec[symbols_at];
  l.clip_left = s16(rec, clip_at);
  l.clip_top = s16(rec, clip_at + 2);
  l.clip_right = s16(rec, clip_at + 4);
  l.clip_bottom = s16(rec, clip_at + 6);
  l.x1 = formula_to_int16(formula_at(rec, coords_at, 25));
  l.y1 = formula_to_int16(formula_at(rec, coords_at + 25, 25));
  l.x2 = formula_to_int16(formula_at(rec, coords_at + 50, 25));
  l.y2 = formula_to_int16(formula_at(rec, coords_at + 75, 25));
  return l;
}

int lines_section(ReportRun& run) {
  const std::uint8_t* rec = run.step;
  if (is_zero(formula_at(rec, 32, 21))) return 0;
  if (!text_at(rec, 74, 25).empty() && !run.add_line(line_from(rec, 53, 59, 65, 66, 74))) return 1;
  if (!text_at(rec, 195, 25).empty() && !run.add_line(line_from(rec, 174, 180, 186, 187, 195))) return 1;
  return 0;
}

}  // namespace

std::string trace_gain_text(int group, int gain) {
  if (group < 0 || group > 2) return "";
  std::string_view t = scale_text(group, gain);
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  return std::string(t);
}

std::string_view trace_sweep_text(int code) {
  std::string_view t = cutoff_text(code);
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  return t;
}

std::string trace_amplitude_text(int type, const std::uint8_t* rec, const ReportPage& rp) {
  const StudyPage& p = rp.page;
  const int start = s16(rec, trace_fields(type).start);
  if (start < 0 || start >= kTraceSampleCount) return "**";
  // The samples as the trace stores them on the page.
  std::uint8_t stored[kTraceSampleCount] = {};
  const int count = walk_report_samples(p, start, [&](int h, int t) {
    const int v = p.channel_1[h];
    stored[t] = v >= 256 ? (v == 256 ? 255 : 0) : static_cast<std::uint8_t>(v);
  });
  return amplitude_text(stored + start, count, p.filter_code);
}

std::string page_pressure_text(const StudyPage& page) { return pressure_text(page); }

std::optional<std::string> text_step_text(const std::uint8_t* record300, bool unconditional) {
  return step_text(record300, unconditional);
}

void evaluate_thermal_formulas(const std::uint8_t* record300, const StudyPage* page, std::int32_t start_time) {
  thermal_formulas(record300, page, start_time);
}

void evaluate_line_formulas(const std::uint8_t* rec) {
  if (is_zero(formula_at(rec, 32, 21))) return;
  if (!text_at(rec, 74, 25).empty()) (void)line_from(rec, 53, 59, 65, 66, 74);
  if (!text_at(rec, 195, 25).empty()) (void)line_from(rec, 174, 180, 186, 187, 195);
}

std::string_view symptom_side_name(int side) { return side >= 0 && side < 3 ? kSides[side] : ""; }
std::string_view symptom_site_name(int side, int site) {
  if (site < 0 || site > 6 || side < 0 || side > 2) return "";
  return side == 2 ? kSitesBoth[site] : kSites[site];
}

bool read_report_page(const std::string& linux_path, ReportPage& out) {
  auto bytes = platform::read_file(linux_path, STUDY_PAGE_BYTES + EXTENDED_WAVEFORM_BYTES);
  if (!bytes || bytes->size() < STUDY_PAGE_BYTES) return false;
  decode_study_page(bytes->data(), out.page);
  out.block.clear();
  if (out.page.flags & kPageExtendedBlock) {
    if (bytes->size() == STUDY_PAGE_BYTES) {
      out.page.flags &= static_cast<std::uint8_t>(~kPageExtendedBlock);
    } else if (bytes->size() < STUDY_PAGE_BYTES + EXTENDED_WAVEFORM_BYTES) {
      return false;
    } else {
      out.block.assign(bytes->begin() + STUDY_PAGE_BYTES, bytes->end());
    }
  }
  return true;
}

int ReportLayout::trace_y(int type, int x, int record_y) {
  if (!fixed_rows) return record_y;
  if (type != kStepDualPvr && type != kStepDualWaveform) return 205;
  const int y = x == previous_dual_x ? 205 + 580 : 205;
  previous_dual_x = x;
  return y;
}

int ReportLayout::pressure_y(int type, int x, int record_y) {
  if (!fixed_rows) return record_y;
  if (type != kStepDualPressure) return 300;
  const int y = x == previous_dual_x ? 600 : 300;
  previous_dual_x = x;
  return y;
}

ReportRun::ReportRun() : page(std::make_unique<ReportPage>()) {}
ReportRun::~ReportRun() { close_work_files(); }

bool ReportRun::open_work_files(const std::string work_paths[4]) {
  for (int i = 0; i < 4; ++i) {
    files[i] = std::fopen(work_paths[i].c_str(), "w+b");
    if (!files[i]) {
      close_work_files();
      return false;
    }
  }
  return true;
}

void ReportRun::close_work_files() {
  for (std::FILE*& f : files) {
    if (f) std::fclose(f);
    f = nullptr;
  }
}

bool ReportRun::add_text(int x, int y, int attribute, std::string_view text) {
  // Item offsets are 16-bit: a pool that long holds no more items.
  if (pool_length > INT16_MAX) return true;
  PageTextItem s{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                 static_cast<std::uint8_t>(attribute), static_cast<std::int16_t>(pool_length)};
  std::uint8_t out[sizeof(PageTextItem)];
  LE_STORE_FIELD(PageTextItem, x);
  LE_STORE_FIELD(PageTextItem, y);
  LE_STORE_FIELD(PageTextItem, attribute);
  LE_STORE_FIELD(PageTextItem, text);
  const std::string with_nul = std::string(text) + '\0';
  if (!files[0] || !files[1] || std::fwrite(out, sizeof out, 1, files[0]) != 1 ||
      std::fwrite(with_nul.data(), with_nul.size(), 1, files[1]) != 1)
    return false;
  pool_length += static_cast<int>(with_nul.size());
  ++header.text_count;
  return true;
}

bool ReportRun::add_graphic(const PageGraphicItem& s) {
  std::uint8_t out[sizeof(PageGraphicItem)];
  LE_STORE_FIELD(PageGraphicItem, x);
  LE_STORE_FIELD(PageGraphicItem, y);
  LE_STORE_BYTES(PageGraphicItem, reserved);
  LE_STORE_BYTES(PageGraphicItem, picture);
  LE_STORE_FIELD(PageGraphicItem, mirror);
  LE_STORE_FIELD(PageGraphicItem, gap);
  LE_STORE_FIELD(PageGraphicItem, width);
  LE_STORE_FIELD(PageGraphicItem, height);
  LE_STORE_FIELD(PageGraphicItem, source_x);
  LE_STORE_FIELD(PageGraphicItem, source_rows);
  LE_STORE_FIELD(PageGraphicItem, draw_width);
  LE_STORE_FIELD(PageGraphicItem, draw_height);
  if (!files[2] || std::fwrite(out, sizeof out, 1, files[2]) != 1) return false;
  ++header.graphic_count;
  return true;
}

bool ReportRun::add_line(const PageLineItem& s) {
  std::uint8_t out[sizeof(PageLineItem)];
  LE_STORE_FIELD(PageLineItem, x1);
  LE_STORE_FIELD(PageLineItem, y1);
  LE_STORE_FIELD(PageLineItem, x2);
  LE_STORE_FIELD(PageLineItem, y2);
  LE_STORE_FIELD(PageLineItem, clip_left);
  LE_STORE_FIELD(PageLineItem, clip_top);
  LE_STORE_FIELD(PageLineItem, clip_right);
  LE_STORE_FIELD(PageLineItem, clip_bottom);
  LE_STORE_FIELD(PageLineItem, style);
  LE_STORE_FIELD(PageLineItem, symbols);
  if (!files[3] || std::fwrite(out, sizeof out, 1, files[3]) != 1) return false;
  ++line_count;
  return true;
}

std::int64_t report_step_time(const StudyPage& p, std::int32_t start_time) {
  if (start_time == 0 || p.save_time == 0) return 0;
  const int factor = p.filter_code >= 0 && p.filter_code < 5 ? kTimeFactors[p.filter_code] : 0;
  const std::int64_t b = (static_cast<std::int64_t>(p.count) - p.newest - 1) * factor;
  const std::int64_t back = b / 592 + (b % 592 > 296 ? 1 : 0);
  return static_cast<std::int64_t>(p.save_time) - back - start_time;
}

void set_step_report_variables(int type, const std::uint8_t* rec, const ReportPage& rp, std::int32_t start_time) {
  const StudyPage& p = rp.page;
  if (p.flags & kPageDeletedSide) return;
  if (is_trace_type(type) && trace_letter_ok(rec)) {
    const int count = walk_report_samples(p, s16(rec, trace_fields(type).start), [](int, int) {});
    set_trace_variables(type, rec, rp, start_time, count);
  } else if ((type == kStepSinglePressure || type == kStepDualPressure) && pressure_letter_ok(rec)) {
    set_pressure_variables(type, rec, p, start_time, pressure_text(p));
  }
}

int run_report_section(ReportRun& run, int type, bool page_loaded) {
  switch (type) {
    case kStepDualPvr:
    case kStepSinglePvr:
    case kStepDualWaveform:
    case kStepSingleWaveform:
    case kStepVrt:
    case kStepDoppler:
      return page_loaded ? trace_section(run, type) : 0;
    case kStepSinglePressure:
    case kStepDualPressure:
      return page_loaded ? pressure_section(run, type) : 0;
    case kStepText: return text_section(run);
    case kStepPicture: return picture_section(run);
    case kStepNotes: return notes_section(run, page_loaded);
    case kStepThermal: return thermal_section(run, page_loaded);
    case kStepSymptoms: return symptoms_section(run, page_loaded);
    case kStepLines: return lines_section(run);
    default: return 0;
  }
}

}  // namespace vaslab
