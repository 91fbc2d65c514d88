#include "vaslab/records/study_type.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/studies/study_page.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr int kMaxRecords = kMaxTemplateSteps + 1;
constexpr std::size_t kRec = kTemplateRecordSize;
constexpr std::size_t kMaxTextRead = 134;

// Header fields with a label, their widths, and the label's offset in the
// template's field record.
struct LabelledField {
  std::size_t header_offset, width, label_offset, label_width;
};
constexpr LabelledField kLabelledFields[] = {
    {114, 41, 32, 41}, {155, 30, 114, 30}, {185, 30, 174, 30}, {215, 30, 234, 30}};

constexpr std::uint8_t kFieldRecord = 0xFF;

// The template being tried: its records and one claim byte each.  Symptom
// rows (type 16) claim their parts apart: bit 0 the first line, bit 1 the
// label, bits 2-5 the four sub-items.
struct Template {
  std::vector<std::uint8_t> bytes;  // records back to back
  int count = 0;
  std::vector<std::uint8_t> claim;
  std::vector<std::uint8_t> part_claim;
  std::string name;

  const std::uint8_t* rec(int r) const { return bytes.data() + static_cast<std::size_t>(r) * kRec; }
  int type(int r) const { return rec(r)[0]; }
  std::int16_t s16(int r, std::size_t off) const { return platform::get_s16le(rec(r) + off); }
  std::uint8_t u8(int r, std::size_t off) const { return rec(r)[off]; }
};

// The page items are matched in the order of the page; the note state
// carries what the last header or first line matched from one text item to
// the next (and, as the matching always did, across candidate templates).
struct NoteState {
  long expected_text = 0;  // offset in the text area right after the last matched text and its NUL
  int line_y = 0;
  int step = 0;
  int previous_y = 0;
};

Template g_template;
NoteState g_note;
bool g_copy_mode = false;
bool g_trace = false;
// The history copy's target: the temporary study's header, its exam id.
std::uint8_t* g_target_header = nullptr;
int g_copy_exam = 0;
bool g_copy_failed = false;

std::string bounded(const void* p, std::size_t max) {
  const char* c = static_cast<const char*>(p);
  return std::string(c, ::strnlen(c, max));
}

void trace_match(const char* section) {
  if (g_trace) std::printf("%s match: %s\n", section, g_template.name.c_str());
}

// The study file in memory, every read bounded by its size.
struct Study {
  std::vector<std::uint8_t> data;

  bool fits(std::int64_t at, std::int64_t length) const {
    return at >= 0 && length >= 0 && at <= static_cast<std::int64_t>(data.size()) &&
           length <= static_cast<std::int64_t>(data.size()) - at;
  }
  const std::uint8_t* at(std::int64_t offset) const { return data.data() + offset; }
};

// 9 unless the file opens and its header reads whole with the page magic.
int load_study(const char* path, Study& s) {
  auto bytes = platform::read_file(platform::map_path(path ? path : ""), kMaxStudyBytes);
  if (!bytes || bytes->size() < kPageHeaderBytes || (*bytes)[0] != kPageMagic0 || (*bytes)[1] != kPageMagic1)
    return kRiprocUnusable;
  s.data = std::move(*bytes);
  return kRiprocDone;
}

bool is_waveform_type(int t) { return t == 1 || t == 5 || t == 6 || t == 8 || t == 9 || t == 12; }

// --- Header -------------------------------------------------------------------

bool label_is_prefix(const std::uint8_t* field, std::size_t width, const std::uint8_t* label, std::size_t lwidth) {
  const std::string f = bounded(field, width), l = bounded(label, lwidth);
  return f.compare(0, l.size(), l) == 0 && l.size() <= f.size();
}

bool match_header(const Study& s) {
  const Template& t = g_template;
  if (g_copy_mode) {
    std::memcpy(g_target_header + 32, s.at(32), 30);
    std::memcpy(g_target_header + 62, s.at(62), 30);
  }
  const int last = t.count - 1;
  if (last < 0 || t.u8(last, 0) != kFieldRecord) return false;
  const std::uint8_t* fr = t.rec(last);
  for (const auto& f : kLabelledFields) {
    const std::uint8_t* field = s.at(static_cast<std::int64_t>(f.header_offset));
    if (!field[0]) continue;
    const bool same = label_is_prefix(field, f.width, fr + f.label_offset, f.label_width);
    if (g_copy_mode) {
      if (same) std::memcpy(g_target_header + f.header_offset, field, f.width);
      continue;
    }
    if (!same) return false;
  }
  if (g_copy_mode) {
    std::memset(g_target_header + 2, 0, 30);
    const std::string caption = bounded(fr + 2, 29);
    std::memcpy(g_target_header + 2, caption.data(), caption.size());
  }
  return true;
}

// --- Waveforms ------------------------------------------------------------------

// Record offsets of a waveform type's flag byte, caption patterns and mode
// byte (-1: none).
struct WaveformLayout {
  int flags, pattern_1, pattern_2, mode;
};
WaveformLayout waveform_layout(int type) {
  if (type == 1 || type == 8) return {55, 63, 135, 51};
  if (type == 6) return {43, 53, 125, 39};
  return {41, 49, 121, -1};
}

// A caption text against a pattern of the step: control bytes stand for the
// fields the module fills in when it writes the caption.
bool caption_matches(const std::uint8_t* pattern, std::size_t pattern_max, std::string_view text, int type,
                     bool mode) {
  std::size_t i = 0, j = 0;
  const std::size_t n = text.size();
  auto skip = [&](std::size_t k) { j = std::min(n, j + k); };
  while (j < n) {
    if (i >= pattern_max) return false;
    const std::uint8_t c = pattern[i++];
    const auto ch = static_cast<std::uint8_t>(text[j]);
    if (c == 0) return false;
    if (c < 8 || (c == 13 && type == 6)) {
      ++j;
    } else if (c == 9) {
      if (ch < 8) ++j;
      skip(type == 6 ? (mode ? 9 : 3) : (mode ? 14 : 3));
    } else if (c == 10 || c == 12) {
      skip((type == 1 || type == 8) && ch < 8 ? 5 : 3);
    } else if (c == 11 || c == 14) {
      skip(2);
    } else {
      if (ch != c) return false;
      ++j;
    }
  }
  return true;
}

// A trace caption: the text at a label offset of the header's label pool,
// empty when the offset lies outside the pool.
std::string_view slot_caption(const Study& s, int offset) {
  constexpr int kPool = 461, kPoolBytes = kTraceLabelPoolBytes;
  if (offset < 0 || offset >= kPoolBytes) return {};
  const char* p = reinterpret_cast<const char*>(s.at(kPool + offset));
  return {p, ::strnlen(p, static_cast<std::size_t>(kPoolBytes - offset))};
}

bool match_waveforms(const Study& s) {
  Template& t = g_template;
  for (int slot = 0; slot < kPageTraces; ++slot) {
    const std::uint8_t* e = s.at(245 + 18 * slot);
    const std::int16_t x = platform::get_s16le(e), y = platform::get_s16le(e + 2);
    if (x == 0 && y == 0) continue;
    const std::uint8_t flags = e[9];
    const std::string_view c1 = slot_caption(s, platform::get_s16le(e + 14));
    const std::string_view c2 = slot_caption(s, platform::get_s16le(e + 16));
    bool found = false;
    for (int r = 1; r < t.count && !found; ++r) {
      const int type = t.type(r);
      if (t.claim[r] || !is_waveform_type(type)) continue;
      const WaveformLayout l = waveform_layout(type);
      const bool mode = l.mode >= 0 && t.u8(r, l.mode) != 0;
      if (t.u8(r, 32) != 'A' + slot || t.s16(r, 33) != x || t.s16(r, 35) != y) continue;
      if (((t.u8(r, l.flags) >> 2) & 3) != ((flags >> 2) & 3)) continue;
      if (!caption_matches(t.rec(r) + l.pattern_1, 298 - l.pattern_1, c1, type, mode) ||
          !caption_matches(t.rec(r) + l.pattern_2, 298 - l.pattern_2, c2, type, mode))
        continue;
      t.claim[r] = 1;
      found = true;
    }
    if (!found) return false;
  }
  return true;
}

// --- Pressures ------------------------------------------------------------------

bool match_pressures(const Study& s) {
  Template& t = g_template;
  for (int slot = 0; slot < kPagePressures; ++slot) {
    const std::uint8_t* p = s.at(4591 + 10 * slot);
    const std::int16_t x = platform::get_s16le(p), y = platform::get_s16le(p + 2);
    if (x == 0 && y == 0) continue;
    bool found = false;
    for (int r = 1; r < t.count && !found; ++r) {
      const int type = t.type(r);
      if (t.claim[r] || (type != 2 && type != 11)) continue;
      if (t.s16(r, 33) != x || t.s16(r, 35) != y || (t.u8(r, 37) & 7) != (p[4] & 7)) continue;
      t.claim[r] = 1;
      found = true;
    }
    if (!found) return false;
  }
  return true;
}

// --- Lines ------------------------------------------------------------------------

bool line_set_matches(const Template& t, int r, const std::uint8_t* item, std::size_t rect, std::size_t symbols) {
  for (int k = 0; k < 4; ++k)
    if (platform::get_s16le(item + 8 + 2 * k) != t.s16(r, rect + 2 * static_cast<std::size_t>(k))) return false;
  return item[17] == t.u8(r, symbols);
}

bool match_lines(const Study& s) {
  Template& t = g_template;
  std::int64_t link = platform::get_s32le(s.at(4863));
  std::int64_t previous = 0;
  // A chain that ends early, or turns back on itself, ends the walk: the
  // section then passes, as it does for a page without lines.
  while (link > previous && s.fits(link, 8)) {
    const std::uint8_t kind = s.at(link)[0];
    const std::int16_t count = platform::get_s16le(s.at(link) + 2);
    if (kind == kLinkEnd) return true;
    if (kind == kLinkLines) {
      for (int i = 0; i < count; ++i) {
        const std::int64_t at = link + 8 + 18 * static_cast<std::int64_t>(i);
        if (!s.fits(at, 18)) return false;
        const std::uint8_t* item = s.at(at);
        bool found = false;
        for (int r = 1; r < t.count && !found; ++r) {
          if (t.type(r) != 20 || (t.claim[r] & 3) == 3) continue;
          if (!(t.claim[r] & 1) && line_set_matches(t, r, item, 66, 65)) {
            t.claim[r] |= 1;
            found = true;
          } else if (!(t.claim[r] & 2) && line_set_matches(t, r, item, 187, 186)) {
            t.claim[r] |= 2;
            found = true;
          }
        }
        if (!found) return false;
      }
      return true;
    }
    previous = link;
    link = platform::get_s32le(s.at(link) + 4);
  }
  return true;
}

// --- Graphics -------------------------------------------------------------------

bool match_graphics(const Study& s) {
  Template& t = g_template;
  const std::int64_t table = platform::get_s32le(s.at(4857));
  const std::int16_t count = platform::get_s16le(s.at(4861));
  static constexpr std::size_t kRecordWords[] = {50, 53, 55, 57, 59, 61, 63};
  for (int i = 0; i < count; ++i) {
    const std::int64_t at = table + 36 * static_cast<std::int64_t>(i);
    if (!s.fits(at, 36)) return false;
    const std::uint8_t* item = s.at(at);
    bool found = false;
    for (int r = 1; r < t.count && !found; ++r) {
      if (t.claim[r] || t.type(r) != 4) continue;
      if (std::strncmp(reinterpret_cast<const char*>(t.rec(r) + 36), reinterpret_cast<const char*>(item + 8), 13))
        continue;
      if (t.u8(r, 49) != item[21]) continue;
      bool same = true;
      for (std::size_t k = 0; k < 7 && same; ++k) same = t.s16(r, kRecordWords[k]) == platform::get_s16le(item + 22 + 2 * k);
      if (!same) continue;
      t.claim[r] = 1;
      found = true;
    }
    if (!found) return false;
  }
  return true;
}

// --- Text -------------------------------------------------------------------------

struct TextItem {
  int x, y;
  std::uint8_t format;
  long offset;  // in the text area
  std::string text;
};

int char_width(std::uint8_t format) {
  switch (format & 3) {
    case 1: return 25;
    case 2: return 18;
    default: return 30;
  }
}

// Compares positions by the text's right end: an item at x 0 that would
// not fit left of the step's x counts as lying there.
bool right_end_matches(const TextItem& it, int step_x, int width) {
  const long span = static_cast<long>(it.text.size()) * width;
  if (it.x != 0 || step_x >= span) return it.x + span == step_x;
  return true;
}

bool text_equals(const TextItem& it, const Template& t, int r, std::size_t offset) {
  return offset + it.text.size() <= 298 && std::memcmp(t.rec(r) + offset, it.text.data(), it.text.size()) == 0;
}

void note_matched(const TextItem& it, int r) {
  g_note.expected_text = it.offset + static_cast<long>(it.text.size()) + 1;
  g_note.line_y = it.y;
  g_note.step = r;
}

bool follows_note(const TextItem& it, int r) {
  return g_note.step == r && it.offset == g_note.expected_text && it.y == g_note.line_y;
}

// A note value found for its step: in a history copy it becomes the step's
// data page, holding the template's name and the value.
void take_note_value(const TextItem& it, int r) {
  g_note.previous_y = it.y;
  g_template.claim[r] |= 1;
  if (!g_copy_mode) return;
  std::vector<std::uint8_t> page(STUDY_PAGE_BYTES, 0);
  std::memcpy(page.data(), g_template.name.data(), std::min<std::size_t>(g_template.name.size(), 12));
  std::memcpy(page.data() + 11879, it.text.data(), std::min<std::size_t>(it.text.size(), 130));
  char name[32];
  std::snprintf(name, sizeof name, "%i.%i", r, g_copy_exam);
  const std::string path = std::string(hardware_settings().data_directory) + name;
  if (platform::write_file_atomic(platform::map_path_create_dirs(path), page.data(), page.size(), 0600) != 0)
    g_copy_failed = true;
}

bool y_rule(const TextItem& it, const Template& t, int r) {
  return it.y == t.s16(r, 34) || ((t.u8(r, 36) & 4) && it.y == g_note.previous_y + 50) || g_copy_mode;
}

bool account_fixed_text(const TextItem& it, Template& t, int r) {
  if (it.y != t.s16(r, 34) || (t.u8(r, 36) & 0x63) != (it.format & 0x63)) return false;
  const int w = char_width(it.format);
  const int step_x = t.s16(r, 32);
  const std::uint8_t align = t.u8(r, 288);
  const bool x_ok = align == 1 ? right_end_matches(it, step_x, w)
                    : align == 2 ? right_end_matches(it, step_x, w / 2)
                                 : it.x == step_x;
  if (!x_ok || (!t.u8(r, 197) && !text_equals(it, t, r, 198))) return false;
  t.claim[r] |= 1;
  g_note.previous_y = it.y;
  return true;
}

bool account_thermo_text(const TextItem& it, Template& t, int r) {
  if (it.y != t.s16(r, 34) || (t.u8(r, 37) & 0x63) != (it.format & 0x63)) return false;
  const bool x_ok = (t.u8(r, 36) & 1) ? it.x == t.s16(r, 32) : right_end_matches(it, t.s16(r, 32), char_width(it.format));
  if (!x_ok) return false;
  t.claim[r] |= 1;
  return true;
}

bool account_note_line(const TextItem& it, Template& t, int r) {
  const int step_x = t.s16(r, 32);
  const long span = static_cast<long>(it.text.size()) * 30;
  if (it.x + span == step_x && y_rule(it, t, r) && it.format == t.u8(r, 37) && text_equals(it, t, r, 38)) {
    note_matched(it, r);
    if (t.u8(r, 119) == 0) g_note.previous_y = it.y;
    return true;
  }
  if (follows_note(it, r) && it.x == step_x && y_rule(it, t, r) && it.format == t.u8(r, 120)) {
    take_note_value(it, r);
    return true;
  }
  if (it.x == step_x && y_rule(it, t, r) && ((t.u8(r, 36) & 3) == 3 || t.u8(r, 38) == 0) &&
      it.format == t.u8(r, 120)) {
    take_note_value(it, r);
    return true;
  }
  return false;
}

bool account_symptom_row(const TextItem& it, Template& t, int r) {
  std::uint8_t& parts = t.part_claim[r];
  const std::uint8_t flags = t.u8(r, 36), kinds = t.u8(r, 68), sub_format = t.u8(r, 103);
  const int step_x = t.s16(r, 32), step_y = t.s16(r, 34);
  auto first_line = [&] {
    note_matched(it, r);
    g_note.previous_y = it.y;
  };
  if (!(parts & 1) && (kinds & 2) && it.format == (flags & 0x7F) && it.y == step_y &&
      ((flags & 0x80) ? right_end_matches(it, step_x, char_width(it.format)) : it.x == step_x)) {
    parts |= 1;
    first_line();
    return true;
  }
  const bool has_label = (kinds & 0x0C) != 0 && !(parts & 2);
  if (has_label && follows_note(it, r) && text_equals(it, t, r, 37)) {
    parts |= 2;
    return true;
  }
  if (has_label && it.y == step_y && it.format == (flags & 0x7F) && text_equals(it, t, r, 37)) {
    parts |= 2;
    g_note.previous_y = it.y;
    return true;
  }
  for (int k = 0; k < 4; ++k) {
    const std::size_t base = 104 + 46 * static_cast<std::size_t>(k);
    const std::uint8_t f = t.u8(r, base);
    const int sub_x = t.s16(r, base + 1);
    const std::uint8_t bit = static_cast<std::uint8_t>(4 << k);
    const bool y_ok = (f & 1) ? it.y == g_note.previous_y + 50 : it.y == step_y;
    if (!(parts & bit) && (f & 2) && it.format == (sub_format & 0x7F) && y_ok &&
        ((sub_format & 0x80) ? right_end_matches(it, sub_x, char_width(it.format)) : it.x == sub_x)) {
      parts |= bit;
      first_line();
      return true;
    }
    if ((f & 0x0C) && follows_note(it, r)) return true;
    const std::uint8_t which = f & 0x0C;
    if ((which == 4 || (which == 8 && !(f & 2))) && it.format == (sub_format & 0x7F) &&
        ((!(f & 1) && it.y == step_y && it.x < sub_x) || ((f & 1) && it.y == g_note.previous_y + 50))) {
      g_note.previous_y = it.y;
      return true;
    }
  }
  return false;
}

bool account_text_item(const TextItem& it) {
  Template& t = g_template;
  for (int r = 0; r < t.count; ++r) {
    if (t.claim[r] & 1) continue;
    switch (t.type(r)) {
      case 3: if (account_fixed_text(it, t, r)) return true; break;
      case 10: if (account_note_line(it, t, r)) return true; break;
      case 14: if (account_thermo_text(it, t, r)) return true; break;
      case 16: if (account_symptom_row(it, t, r)) return true; break;
      default: break;
    }
  }
  return false;
}

bool read_text_item(const Study& s, std::int64_t table, std::int64_t area, int i, TextItem& it) {
  const std::int64_t at = table + 7 * static_cast<std::int64_t>(i);
  if (!s.fits(at, 7)) return false;
  const std::uint8_t* p = s.at(at);
  it.x = platform::get_s16le(p);
  it.y = platform::get_s16le(p + 2);
  it.format = p[4];
  it.offset = platform::get_s16le(p + 5);
  const std::int64_t text_at = area + it.offset;
  if (!s.fits(text_at, 1)) return false;
  const std::size_t room = std::min<std::size_t>(kMaxTextRead, s.data.size() - static_cast<std::size_t>(text_at));
  const char* c = reinterpret_cast<const char*>(s.at(text_at));
  it.text.assign(c, ::strnlen(c, room));
  return true;
}

bool match_text(const Study& s) {
  const std::int64_t table = platform::get_s32le(s.at(4851));
  const std::int16_t count = platform::get_s16le(s.at(4855));
  const std::int64_t area = table + 7 * static_cast<std::int64_t>(std::max<std::int16_t>(count, 0));
  for (int i = 0; i < count; ++i) {
    TextItem it;
    if (!read_text_item(s, table, area, i, it)) return false;
    if (!account_text_item(it) && !g_copy_mode) return false;
  }
  return true;
}

// All six sections, each stopping at its first failure.
bool match_template(const Study& s) {
  using Section = bool (*)(const Study&);
  static constexpr std::pair<const char*, Section> kSections[] = {
      {"Header", match_header}, {"Waveforms", match_waveforms}, {"Pressures", match_pressures},
      {"Lines", match_lines},   {"Graphics", match_graphics},   {"Text", match_text}};
  for (const auto& [name, section] : kSections) {
    if (!section(s)) return false;
    trace_match(name);
  }
  return true;
}

void log_line(const std::string& text) { append_dbindex_log(text.c_str()); }

}  // namespace

int load_study_menu(std::vector<StudyMenuEntry>& table) {
  const std::size_t limit = kStudyMenuTableSize * 2 * kStudyMenuEntrySize;
  const auto bytes = platform::read_file(platform::map_path(kStudyMenuFile), limit + 1);
  if (!bytes) {
    log_line("Failed to open uconfig.mnu");
    return -1;
  }
  int n = 0;
  if (const char* fault = check_study_menu_image(*bytes, table, &n)) {
    log_line(fault);
    return -1;
  }
  return n;
}

int load_template_records(const char* template_file_name) {
  Template& t = g_template;
  t.name = bounded(template_file_name ? template_file_name : "", 64);
  t.count = 0;
  const auto bytes = platform::read_file(platform::map_path("C:\\STUDIES\\" + t.name), kMaxRecords * kRec);
  if (!bytes) return -1;
  t.bytes = *bytes;
  int steps = 0;
  if (t.bytes.size() >= kRec) {
    StudyHeader h;
    decode_study_header(t.bytes.data(), h);
    steps = template_step_count(h);
  }
  const int wanted = steps + 1;
  const int whole = static_cast<int>(t.bytes.size() / kRec);
  t.count = std::min(wanted, whole);
  t.claim.assign(static_cast<std::size_t>(t.count), 0);
  t.part_claim.assign(static_cast<std::size_t>(t.count), 0);
  return whole < wanted ? 1 : 0;
}

int riproc_match_study_type(const char* study_path) {
  try {
    Study s;
    if (load_study(study_path, s) != kRiprocDone) return kRiprocUnusable;
    std::vector<StudyMenuEntry> menu;
    const int entries = load_study_menu(menu);
    if (entries < 0) return kRiprocUnusable;
    g_note = NoteState{};
    g_copy_mode = false;
    int type = 0;
    for (int i = 1; i < entries && type == 0; ++i) {
      const StudyMenuEntry& e = menu[static_cast<std::size_t>(i)];
      if (e.kind != kMenuKindStudy) continue;
      const std::string name = bounded(e.template_name, sizeof e.template_name) + ".sty";
      const int loaded = load_template_records(name.c_str());
      if (loaded < 0) break;
      if (loaded > 0) {
        log_line("Failed to load sty: " + name);
        continue;
      }
      if (match_template(s)) type = std::atoi(name.c_str());
    }
    poke_comm_area_word(0, kStepSlot, type);
    return kRiprocDone;
  } catch (const std::bad_alloc&) {
    return kRiprocNoMemory;
  }
}

int update_study_history(const char* exam_id, const char* archived_path, const char* template_name) {
  try {
    if (load_template_records(template_name) != 0) return kRiprocFileFailed;
    const std::string exam = bounded(exam_id ? exam_id : "", 16);
    const std::string target =
        platform::map_path(std::string(hardware_settings().data_directory) + exam + ".pdf");
    auto header = platform::read_file(target);
    if (!header || header->size() < kPageHeaderBytes) return kRiprocFileFailed;
    Study s;
    if (load_study(archived_path, s) != kRiprocDone) return kRiprocUnusable;

    g_note = NoteState{};
    g_copy_mode = true;
    g_copy_failed = false;
    g_copy_exam = std::atoi(exam.c_str());
    g_target_header = header->data();
    match_header(s);
    match_text(s);
    g_copy_mode = false;
    g_target_header = nullptr;
    if (g_copy_failed) return kRiprocFileFailed;
    if (platform::write_file_atomic(target, header->data(), header->size(), 0600) != 0) return kRiprocFileFailed;
    return kRiprocDone;
  } catch (const std::bad_alloc&) {
    g_copy_mode = false;
    g_target_header = nullptr;
    return kRiprocNoMemory;
  }
}

void set_riproc_trace(bool on) { g_trace = on; }

int run_archive_command(int argc, char* argv[]) {
  if (argc >= 2 && std::strcmp(argv[1], "dbindex") == 0) {
    reindex_archive_db();
    return 0;
  }
  if (argc < 3 || std::strcmp(argv[1], "riproc") != 0) return 1;
  if (argc >= 5) return update_study_history(argv[3], argv[2], argv[4]);
  set_riproc_trace(argc == 4);
  const int r = riproc_match_study_type(argv[2]);
  if (argc == 4) {
    std::printf("RIPROC returned: %i\n", r);
    std::printf("RIPROC result: %i\n", peek_comm_area_word(0, kStepSlot));
  }
  set_riproc_trace(false);
  return r;
}

}  // namespace vaslab
