// The sibling database's finishing call: stream to entries, entries to
// groups, groups to record files.  The stream is our own work file, but it
// is read as outside bytes all the same: a batch cut short by a full disk or
// a crash leaves it truncated, so every length is checked and a damaged
// stream only yields fewer entries.
#include "vaslab/reports/zelmar_records.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/reports/email_export.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/template_format.h"
#include "vaslab/reports/zelmar_export.h"
#include "vaslab/reports/zelmar_tables.h"

namespace vaslab {
namespace {

enum Result : int { kOk = 0, kFileError = 11 };

constexpr char kTraceFile[] = "c:\\temp\\temp.001";
constexpr char kSiteFile[] = "c:\\plus\\default.inf";

// --- Classification -----------------------------------------------------------

// The classification as the sibling database defines it, a kind at a time:
// its test code, one or two probe codes, and up to three runs of locations.
struct KindRows {
  std::uint8_t kind, test;
  std::int16_t probes[2];  // -1: none
  std::uint8_t runs[3][2]; // first and last location; {1, 0} unused
};
constexpr KindRows kKindRows[] = {
    {2, 1, {0, -1}, {{0, 0}, {1, 0}, {1, 0}}},
    {3, 5, {4, 5}, {{13, 22}, {1, 0}, {1, 0}}},
    {4, 8, {2, -1}, {{33, 42}, {1, 0}, {1, 0}}},
    {10, 0, {0, -1}, {{0, 0}, {1, 0}, {1, 0}}},
    {11, 6, {0, -1}, {{23, 32}, {1, 0}, {1, 0}}},
    {12, 8, {2, -1}, {{23, 32}, {1, 0}, {1, 0}}},
    {16, 4, {3, -1}, {{53, 53}, {58, 58}, {1, 0}}},
    {24, 2, {1, -1}, {{80, 80}, {82, 82}, {1, 0}}},
    {34, 10, {0, -1}, {{0, 0}, {1, 0}, {1, 0}}},
    {35, 5, {4, 5}, {{43, 52}, {1, 0}, {1, 0}}},
    {36, 8, {2, -1}, {{54, 57}, {59, 62}, {1, 0}}},
    {42, 7, {0, -1}, {{0, 0}, {1, 0}, {1, 0}}},
    {43, 9, {0, -1}, {{63, 72}, {1, 0}, {1, 0}}},
    {44, 8, {2, -1}, {{63, 72}, {1, 0}, {1, 0}}},
    {48, 3, {5, -1}, {{76, 76}, {78, 78}, {1, 0}}},
    {56, 5, {4, 5}, {{81, 81}, {1, 0}, {1, 0}}},
    {64, 11, {0, -1}, {{81, 81}, {1, 0}, {1, 0}}},
    {72, 12, {1, -1}, {{81, 81}, {1, 0}, {1, 0}}},
    {80, 8, {2, -1}, {{81, 81}, {1, 0}, {1, 0}}},
    {88, 87, {0, -1}, {{0, 0}, {1, 0}, {1, 0}}},
    {96, 98, {0, -1}, {{99, 110}, {1, 0}, {1, 0}}},
    {106, 111, {0, -1}, {{0, 0}, {1, 0}, {1, 0}}},
    {108, 111, {2, -1}, {{36, 36}, {41, 41}, {114, 117}}},
    {112, 122, {0, -1}, {{0, 0}, {1, 0}, {1, 0}}},
};

struct ClassRow {
  std::uint8_t test, location, probe, kind;
};

template <class F>
constexpr void for_each_row(F&& f) {
  for (const KindRows& k : kKindRows)
    for (std::int16_t probe : k.probes)
      if (probe >= 0)
        for (const auto& run : k.runs)
          for (int loc = run[0]; loc <= run[1]; ++loc)
            f(ClassRow{k.test, static_cast<std::uint8_t>(loc), static_cast<std::uint8_t>(probe), k.kind});
}

constexpr int count_rows() {
  int n = 0;
  for_each_row([&](ClassRow) { ++n; });
  return n;
}

// The sibling database's own table has 134 rows; a slip in the runs above
// shows here rather than as a study filed under no kind.
constexpr int kClassRows = count_rows();
static_assert(kClassRows == 134);

constexpr std::array<ClassRow, kClassRows> make_class_table() {
  std::array<ClassRow, kClassRows> t{};
  int n = 0;
  for_each_row([&](ClassRow r) { t[n++] = r; });
  return t;
}
constexpr auto kClassTable = make_class_table();

// Where a record kind keeps its waveform entries: the location code of
// place 0, how many entries and how many samples each.  Kinds raised by a
// pressure block share the layout of the kind they were raised from.
struct KindLayout {
  int base = 0, entries = 0, samples = 0;
};
KindLayout kind_layout(int kind) {
  switch (kind) {
    case 3: case 5: return {13, 10, 296};
    case 4: case 6: return {33, 10, 296};
    case 11: case 12: case 13: case 14: return {23, 10, 296};
    case 16: return {53, 6, 986};
    case 24: return {80, 6, 592};
    case 35: case 37: return {43, 10, 296};
    case 36: case 38: return {54, 10, 296};
    case 43: case 44: case 45: case 46: return {63, 10, 296};
    case 48: return {76, 2, 592};
    case 56: case 64: case 72: case 80: return {81, 1, 592};
    case 96: return {99, 12, 119};
    case 108: case 110: return {112, 6, 296};
    default: return {};
  }
}

constexpr int kThoracicOutlet = 98;
constexpr int kPenileTest = 111;
constexpr std::size_t kEntryStride = 309, kShortEntryStride = 132;

// --- Stream ---------------------------------------------------------------------

constexpr std::size_t kLineChars = 79;
// More lines than any block of the stream holds; a damaged block's further
// lines are not kept.
constexpr std::size_t kBlockLines = 16;
constexpr std::size_t kLabelChars = 5;

struct Run {
  int count = 0;   // samples, at most kZelmarMaxRunSamples
  int marked = 0;  // samples before its last 15,4
  int gain_byte = 0;
  std::vector<std::uint8_t> samples;  // kept only when asked for
};

// Characters `from` to `to` of a line, counted from 1; what the line holds
// of them.
std::string chars(const std::string& line, std::size_t from, std::size_t to) {
  if (from > line.size()) return {};
  return line.substr(from - 1, to - from + 1);
}

std::string line_value(const std::vector<std::string>& lines, std::size_t k) {
  return k < lines.size() && lines[k].size() > kLabelChars ? lines[k].substr(kLabelChars) : std::string();
}

// A decimal number as the instrument's own reader takes it: blanks, a sign,
// digits up to the first other character; held to 16 bits.
std::int16_t decimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = std::min(v * 10 + (text[i] - '0'), 32767L);
  return static_cast<std::int16_t>(negative ? -v : v);
}

// Reads a block's lines from `i` up to the next tag: CR ends a line, empty
// lines are not counted, a line keeps its first 79 characters.
std::vector<std::string> read_block(const std::uint8_t* p, std::size_t n, std::size_t& i) {
  std::vector<std::string> lines;
  std::string line;
  auto end_line = [&] {
    if (!line.empty() && lines.size() < kBlockLines) lines.push_back(line);
    line.clear();
  };
  while (i < n) {
    std::uint8_t b = p[i];
    if (b == kZelmarEscape) {
      if (i + 1 >= n) {
        i = n;
        break;
      }
      if (p[i + 1] != kZelmarData) break;
      ++i;
    }
    ++i;
    if (b == '\r')
      end_line();
    else if (line.size() < kLineChars)
      line += static_cast<char>(b);
  }
  end_line();
  return lines;
}

// Reads a sample run's bytes from `i` up to the tag that ends it.
void read_run(const std::uint8_t* p, std::size_t n, std::size_t& i, bool keep, Run& run) {
  auto add = [&](std::uint8_t sample) {
    if (run.count >= kZelmarMaxRunSamples) return;
    ++run.count;
    if (keep) run.samples.push_back(sample);
  };
  while (i < n) {
    if (p[i] != kZelmarEscape) {
      add(p[i++]);
      continue;
    }
    if (i + 1 >= n) {
      i = n;
      return;
    }
    if (p[i + 1] == kZelmarData) {
      add(kZelmarEscape);
    } else if (p[i + 1] == kZelmarRunMark) {
      run.marked = run.count;
    } else {
      return;  // the next tag
    }
    i += 2;
  }
}

// Walks the stream block by block.  `on_block(tag, lines, run)` gets every
// pressure and waveform header block; `run` is the sample run that the
// header block directly follows, or nullptr.
template <class F>
void scan_stream(const std::uint8_t* p, std::size_t n, bool keep_samples, F&& on_block) {
  Run run;
  bool after_run = false;
  std::size_t i = 0;
  while (i < n) {
    if (p[i] != kZelmarEscape || i + 1 >= n) {
      ++i;  // a byte outside any block: only a damaged stream has them
      continue;
    }
    const std::uint8_t tag = p[i + 1];
    i += 2;
    if (tag == kZelmarSampleRun) {
      if (i >= n) break;
      run = Run{};
      run.gain_byte = p[i++] - 128;
      read_run(p, n, i, keep_samples, run);
      after_run = true;
    } else if (tag == kZelmarPressureBlock || tag == kZelmarWaveformBlock) {
      const std::vector<std::string> lines = read_block(p, n, i);
      on_block(tag, lines, tag == kZelmarWaveformBlock && after_run ? &run : nullptr);
      after_run = false;
    } else {
      after_run = false;
    }
  }
}

bool makes_entry(std::uint8_t tag, const Run* run) {
  return tag == kZelmarPressureBlock || (run && run->count >= kZelmarMinRunSamples);
}

std::size_t first_lowest(const std::vector<std::uint8_t>& s) {
  return static_cast<std::size_t>(std::min_element(s.begin(), s.end()) - s.begin());
}

ZelmarEntry header_entry(const std::vector<std::string>& lines, Run& run) {
  ZelmarEntry e;
  e.group_file = line_value(lines, 0).substr(0, 12);
  e.test = zelmar_test_code(line_value(lines, 1));
  e.location = zelmar_test_code(line_value(lines, 2));
  e.probe = zelmar_probe_code(line_value(lines, 3));
  e.gain = zelmar_gain_code(line_value(lines, 4));
  e.sweep = zelmar_sweep_code(line_value(lines, 5));
  e.gain_byte = run.gain_byte;
  e.samples = std::move(run.samples);
  e.value_1 = static_cast<std::int16_t>(run.marked);
  // Line 6 is a pressure line ("PRES:" or the instrument's two-value form)
  // or already the date.
  if (lines.size() > 6 && lines[6].size() > 1) {
    const std::string& line = lines[6];
    if (line[1] == 'R') {
      e.value_1 = decimal(line_value(lines, 6));
    } else if (line[1] == 'S') {
      e.value_1 = decimal(chars(line, 5, 8));
      e.value_2 = decimal(chars(line, 15, line.size()));
    }
  }
  auto& s = e.samples;
  if (e.test == 2 && !s.empty()) {  // venous refill: the low point and the recovery
    const std::size_t low = first_lowest(s);
    e.value_1 = static_cast<std::int16_t>(low);
    e.value_2 = 2000;
    for (std::size_t k = low + 1; k < s.size(); ++k)
      if (s[k] >= e.gain_byte) {
        e.value_2 = static_cast<std::int16_t>(k);
        break;
      }
  } else if (e.test == 4) {  // venous outflow: the release mark
    e.value_1 = static_cast<std::int16_t>(run.marked);
    e.value_2 = 0;
  } else if (e.test == 3 && !s.empty()) {  // carotid: the last 592 samples
    if (s.size() > 592) s.erase(s.begin(), s.end() - 592);
    e.value_1 = static_cast<std::int16_t>(first_lowest(s));
    e.value_2 = static_cast<std::int16_t>(std::max_element(s.begin(), s.end()) - s.begin());
  }
  return e;
}

ZelmarEntry pressure_entry(const std::vector<std::string>& lines) {
  ZelmarEntry e;
  e.pressure_block = true;
  e.group_file = line_value(lines, 0).substr(0, 12);
  e.test = zelmar_test_code(line_value(lines, 1));
  auto put = [&](std::size_t k, std::string text) {
    if (k < e.pressures.size()) e.pressures[k] = std::move(text);  // more than a block of ours holds
  };
  for (std::size_t p = 6; p < std::min<std::size_t>(lines.size(), 12); ++p) {
    const std::string& line = lines[p];
    const std::size_t row = p - 6;
    if (chars(line, 7, 16) == "   ABI    ") continue;
    if (line[0] == 'P') {  // a period line: three columns
      put(3 * row, chars(line, 7, 9));
      put(3 * row + 1, chars(line, 13, 15));
      put(3 * row + 2, chars(line, 18, 20));
    } else {
      put(2 * row, chars(line, 3, 5));
      put(2 * row + 1, chars(line, 18, 20));
    }
  }
  return e;
}

// The record kind of a test, location and probe code; kZelmarNoKind when the
// classification has no row for them.
int record_kind(int test, int location, int probe) {
  for (const ClassRow& r : kClassTable)
    if (r.test == test && r.location == location && r.probe == probe) return r.kind;
  return kZelmarNoKind;
}

// Whether an entry of kind `k` joins a group of kind `c`, raising `c` as it
// joins.  A pressure table (low bits 2) joins the waveforms of its sites and
// raises their kind to the one that carries both; a kind of low bits 0
// stands alone in its family.
bool joins(int k, int& c) {
  const int kl = k & 7, cl = c & 7;
  if ((k >> 3) != (c >> 3)) return false;
  if (kl == 0) return true;
  if (kl == 2) {
    if (cl == 3 || cl == 4) c += 2;
    return true;
  }
  if (cl == 2) {
    c += kl;
    return true;
  }
  return (cl < 5 && cl == kl) || ((cl - 2) & 7) == kl;
}

// Groups the classified entries of each patient file name by record kind
// (their `group`, from 1), in the order the groups open; the kind of each.
std::vector<int> group_entries(std::vector<ZelmarEntry>& entries) {
  std::vector<int> kinds;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ZelmarEntry& opener = entries[i];
    if (opener.kind == kZelmarNoKind || opener.group != 0) continue;
    int c = opener.kind;
    const int g = static_cast<int>(kinds.size()) + 1;
    opener.group = g;
    for (std::size_t j = i + 1; j < entries.size(); ++j) {
      ZelmarEntry& e = entries[j];
      if (e.kind != kZelmarNoKind && e.group == 0 && e.group_file == opener.group_file && joins(e.kind, c))
        e.group = g;
    }
    kinds.push_back(c);
  }
  return kinds;
}

// --- Records --------------------------------------------------------------------

void encode_record(const ZelmarRecord& s, std::uint8_t* out) {
  LE_STORE_BYTES(ZelmarRecord, magic);
  LE_STORE_FIELD(ZelmarRecord, kind);
  LE_STORE_BYTES(ZelmarRecord, patient_id);
  LE_STORE_BYTES(ZelmarRecord, patient_name);
  LE_STORE_BYTES(ZelmarRecord, exam_date);
  LE_STORE_BYTES(ZelmarRecord, title);
  LE_STORE_BYTES(ZelmarRecord, site);
  LE_STORE_BYTES(ZelmarRecord, site_text);
  LE_STORE_BYTES(ZelmarRecord, operator_name);
  LE_STORE_BYTES(ZelmarRecord, pressures);
  LE_STORE_BYTES(ZelmarRecord, entries);
}

// Copies a text into a field, cut so that the field keeps its NUL.
template <std::size_t N>
void put_text(char (&field)[N], std::string_view text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// The lines of "c:\plus\default.inf" (none without it): line k names
// the site for record kind k.
std::vector<std::string> read_site_lines() {
  std::vector<std::string> lines;
  auto bytes = platform::read_file(platform::map_path(kSiteFile), 64 * 1024);
  if (!bytes) return lines;
  std::string line;
  for (std::uint8_t b : *bytes) {
    if (b == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(b);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}
// The two fields of a kind's line, "first|second|": the first bar within 30
// characters, the second within the next 20; a field without its bar is
// empty.
struct SiteFields {
  std::string first, second;
};
SiteFields site_fields(const std::vector<std::string>& lines, int kind) {
  SiteFields f;
  if (kind < 1 || static_cast<std::size_t>(kind) > lines.size()) return f;
  const std::string& line = lines[kind - 1];
  const std::size_t bar_1 = line.find('|');
  if (bar_1 == std::string::npos || bar_1 >= 30) return f;
  f.first = line.substr(0, bar_1);
  const std::size_t bar_2 = line.find('|', bar_1 + 1);
  if (bar_2 != std::string::npos && bar_2 - (bar_1 + 1) < 20) f.second = line.substr(bar_1 + 1, bar_2 - bar_1 - 1);
  return f;
}

// The report header of a group's first study, from the data directory.
// False when it is missing or short, or when the stream's name for it is
// not a plain file name of that folder.
bool read_group_page(const std::string& group_file, PageDescriptionHeader& h) {
  if (group_file.empty() || group_file.find_first_of("\\/:") != std::string::npos) return false;
  auto bytes = platform::read_file(platform::map_path(data_directory_path() + group_file), kPageHeaderBytes);
  if (!bytes || bytes->size() != kPageHeaderBytes) return false;
  decode_page_header(bytes->data(), h);
  return true;
}

// Puts a waveform entry at its place; false when the place lies outside the
// record (before the first place, or so far on that the entry would pass the
// record's end).
bool put_entry(ZelmarRecord& r, const ZelmarEntry& e, const KindLayout& layout) {
  if (layout.entries == 0) return false;
  int place = e.location - layout.base;
  if (e.test == kPenileTest && e.location == 36) place = 0;
  if (e.test == kPenileTest && e.location == 41) place = 1;
  if (place < 0) return false;
  const std::size_t stride = e.test == kThoracicOutlet ? kShortEntryStride : kEntryStride;
  const std::size_t at = static_cast<std::size_t>(place) * stride;
  if (at + kZelmarEntryHead + e.samples.size() > sizeof r.entries) return false;
  std::uint8_t* p = r.entries + at;
  p[0] = 1;
  const int codes[5] = {e.test, e.location, e.probe, e.gain, e.sweep};
  for (int k = 0; k < 5; ++k) p[1 + k] = static_cast<std::uint8_t>(codes[k]);
  platform::put_s16le(p + 6, e.value_1);
  platform::put_s16le(p + 8, e.value_2);
  platform::put_u16le(p + 10, static_cast<std::uint16_t>(e.samples.size()));
  p[12] = static_cast<std::uint8_t>(e.gain_byte);
  std::copy(e.samples.begin(), e.samples.end(), p + kZelmarEntryHead);
  return true;
}

// One record of group `g`; false when its study's report is gone.
bool build_record(const std::vector<ZelmarEntry>& entries, int g, int kind, const std::vector<std::string>& site_lines,
                  ZelmarRecord& r) {
  r = ZelmarRecord{};
  const auto first = std::find_if(entries.begin(), entries.end(), [&](const ZelmarEntry& e) { return e.group == g; });
  PageDescriptionHeader h{};
  if (first == entries.end() || !read_group_page(first->group_file, h)) return false;
  r.magic[0] = 0xFF;
  r.magic[1] = 0x01;
  r.kind = static_cast<std::int16_t>(kind);
  std::memcpy(r.patient_id, h.patient_id, sizeof r.patient_id);
  std::memcpy(r.patient_name, h.patient_name, sizeof r.patient_name);
  std::memcpy(r.exam_date, h.exam_date, sizeof r.exam_date);
  std::memcpy(r.title, h.title, sizeof r.title);
  const SiteFields site = site_fields(site_lines, kind);
  put_text(r.site, site.first);
  put_text(r.site_text, site.second);
  if (h.right_line_2[0] == 'C' && h.right_line_2[1] == 'P')
    put_text(r.site_text, field_text(h.right_line_2 + 5, sizeof h.right_line_2 - 5));
  if (h.left_line_4[1] == 'O' && h.left_line_4[2] == 'p')
    put_text(r.operator_name, field_text(h.left_line_4 + 11, sizeof h.left_line_4 - 11));
  const KindLayout layout = kind_layout(kind);
  for (const ZelmarEntry& e : entries) {
    if (e.group != g) continue;
    if (e.pressure_block) {
      for (std::size_t k = 0; k < e.pressures.size(); ++k) put_text(r.pressures[k], e.pressures[k]);
    } else if (!put_entry(r, e, layout)) {
      platform::debug_printf("zelmar: entry of location %d has no place in a record of kind %d\n", e.location, kind);
    }
  }
  return true;
}

// The progress trace: a blank for each stage passed.
class Trace {
 public:
  bool open() {
    handle_ = platform::file_open(kTraceFile, platform::OpenMode::kCreateAlways);
    if (handle_ < 0) platform::note_failure_cause(kTraceFile, handle_);
    return handle_ >= 0;
  }
  void step() {
    if (handle_ >= 0) (void)platform::file_write(handle_, " ", 1);
  }
  ~Trace() {
    if (handle_ >= 0) (void)platform::file_close(handle_);
  }

 private:
  int handle_ = -1;
};

void sort_entries(std::vector<ZelmarEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const ZelmarEntry& a, const ZelmarEntry& b) {
    return a.group != b.group ? a.group < b.group : a.location < b.location;
  });
}

int write_records(const ExportArgs& args, std::vector<ZelmarEntry>& entries) {
  for (ZelmarEntry& e : entries) e.kind = record_kind(e.test, e.location, e.probe);
  const std::vector<int> kinds = group_entries(entries);
  (void)platform::map_path_create_dirs(kTraceFile);
  Trace trace;
  if (!trace.open()) return kFileError;
  trace.step();
  sort_entries(entries);
  trace.step();
  // Of a group's entries at one location the last measured stands.
  for (std::size_t k = 0; k + 1 < entries.size(); ++k)
    if (entries[k].group != 0 && entries[k].group == entries[k + 1].group &&
        entries[k].location == entries[k + 1].location)
      entries[k].group = 0;
  trace.step();
  sort_entries(entries);
  trace.step();
  for (ZelmarEntry& e : entries) {
    if (e.group == 0) continue;
    const std::size_t limit = static_cast<std::size_t>(kind_layout(kinds[e.group - 1]).samples);
    if (e.samples.size() > limit) e.samples.erase(e.samples.begin(), e.samples.end() - limit);
  }
  trace.step();

  const std::vector<std::string> site_lines = read_site_lines();
  // The database takes the batch whole or not at all, also across a kill:
  // every record is staged beside its name first, the journal then names
  // the record files about to appear, and only then does each take its
  // name.  Cut off before the journal, the batch left temporaries only (the
  // next start sweeps them); cut off after it, the next run or start takes
  // the published part back.  Either way the batch sent again arrives once.
  struct Staged {
    std::string staged, path;
    bool is_new;
  };
  std::vector<Staged> batch;
  auto discard = [&] {
    for (const Staged& b : batch) ::unlink(b.staged.c_str());
    return kFileError;
  };
  int next = (args.options & 0x08) ? 1 : export_file_number(args.destination, 0, 0);
  for (int g = 1; g <= static_cast<int>(kinds.size()); ++g) {
    ZelmarRecord r;
    if (!build_record(entries, g, kinds[g - 1], site_lines, r)) {
      // An empty record file would only be refused by the database.
      platform::debug_printf("zelmar: group %d has no report page; no record written\n", g);
      continue;
    }
    std::uint8_t bytes[kZelmarRecordBytes];
    encode_record(r, bytes);
    const int n = (args.options & 0x08) ? 1 : next++;
    const std::string path = platform::map_path_create_dirs(export_file(args.destination, std::to_string(n)));
    std::string staged;
    if (const int e = platform::stage_file(path, bytes, sizeof bytes, 0644, staged); e != 0) {
      // Its folder, as for every export's copy: a full or read-only one
      // refuses any name.
      platform::note_failure_cause(export_file(args.destination, ""), e);
      return discard();
    }
    // Under option 0x08 each group replaces the one before it as "1".
    const bool is_new = !platform::file_size(path).has_value() &&
                        std::none_of(batch.begin(), batch.end(), [&](const Staged& b) { return b.path == path; });
    batch.push_back({staged, path, is_new});
    trace.step();
  }
  // The trace's last blank before the records appear: once they have, the
  // batch is handed over and nothing is left that could fail it.
  trace.step();
  if (batch.empty()) return kOk;
  std::string journal;
  for (const Staged& b : batch)
    if (b.is_new) journal += b.path + "\n";
  const std::string journal_path = platform::map_path_create_dirs(kZelmarJournal);
  if (const int e = platform::write_file_atomic(journal_path, journal.data(), journal.size()); e != 0) {
    platform::note_failure_cause(kZelmarJournal, e);
    return discard();
  }
  std::size_t published = 0;
  for (; published < batch.size(); ++published) {
    const Staged& b = batch[published];
    const int r = b.is_new ? platform::rename_file_no_replace(b.staged, b.path) : platform::rename_file(b.staged, b.path);
    if (r != 0) {
      platform::note_failure_cause(export_file(args.destination, b.path.substr(b.path.rfind('/') + 1)), r);
      break;
    }
  }
  bool handed_over = published == batch.size();
  if (handed_over && ::unlink(journal_path.c_str()) != 0) {
    platform::note_failure_cause(kZelmarJournal, -errno);
    handed_over = false;
  }
  if (!handed_over) {
    for (std::size_t k = published; k < batch.size(); ++k) ::unlink(batch[k].staged.c_str());
    take_back_unfinished_zelmar_batch();
    return kFileError;
  }
  return kOk;
}

}  // namespace

std::vector<ZelmarEntry> parse_zelmar_stream(const std::uint8_t* data, std::size_t size) {
  // The first pass counts, the second fills no more than that.
  std::size_t count = 0;
  scan_stream(data, size, false, [&](std::uint8_t tag, const std::vector<std::string>&, Run* run) {
    if (makes_entry(tag, run)) ++count;
  });
  std::vector<ZelmarEntry> entries;
  entries.reserve(count);
  scan_stream(data, size, true, [&](std::uint8_t tag, const std::vector<std::string>& lines, Run* run) {
    if (!makes_entry(tag, run) || entries.size() >= count) return;
    entries.push_back(tag == kZelmarPressureBlock ? pressure_entry(lines) : header_entry(lines, *run));
  });
  return entries;
}

void take_back_unfinished_zelmar_batch() {
  const std::string journal_path = platform::map_path(kZelmarJournal);
  const auto journal = platform::read_file(journal_path);
  if (!journal) return;
  const std::string text(journal->begin(), journal->end());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string path = text.substr(at, end - at);
    at = end + 1;
    // Only the numbered record files this export writes.
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (::unlink(path.c_str()) == 0) platform::debug_printf("zelmar: %s of a batch cut off taken back\n", path.c_str());
  }
  ::unlink(journal_path.c_str());
}

int finish_zelmar_export(const ExportArgs& args) {
  take_back_unfinished_zelmar_batch();
  auto stream = platform::read_file(platform::map_path(kZelmarStreamFile));
  if (!stream) {
    platform::note_failure_cause(kZelmarStreamFile,
                                 platform::file_size(platform::map_path(kZelmarStreamFile)) ? -EIO : -ENOENT);
    return kFileError;
  }
  std::vector<ZelmarEntry> entries = parse_zelmar_stream(stream->data(), stream->size());
  const int result = entries.empty() ? kOk : write_records(args, entries);
  (void)platform::file_delete(kZelmarStreamFile);
  (void)platform::file_delete(kZelmarGroupFile);
  return result;
}

}  // namespace vaslab
