#include "vaslab/reports/zelmar_export.h"

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/reports/delimited_export.h"
#include "vaslab/reports/export_args.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/report_sections.h"
#include "vaslab/reports/template_format.h"
#include "vaslab/reports/zelmar_records.h"
#include "vaslab/reports/zelmar_tables.h"

namespace vaslab {
namespace {

enum Result : int { kOk = 0, kBadArguments = 1, kNoPage = 9, kNoData = 10, kFileError = 11 };

// The sibling database dates its blocks itself; these lines only have to
// be there, in the form its parser counts on.
constexpr std::string_view kBlockTail = "DATE:12/13/94\rTIME:04:38 PM  \rFAC.:Facility\r\r\r";
constexpr std::string_view kPressureHeading = "RIGHT           LEFT\r\r";

// --- Pressure slots -----------------------------------------------------------

// Slots 0..65 belong to one study call.  Slots 66..69 hold the period
// pressures of an exercise study for the later studies of the same batch, so
// they live here, in the module, for as long as the batch: a study call that
// finds the capture stream empty starts a batch and clears them (while one
// holds a text every study call writes a block, so the stream is never empty
// after it), and the finishing call clears them.
constexpr int kSlots = 70;
constexpr int kOwnSlots = 66;
std::array<std::string, kSlots> g_slots;

void clear_slots(int from, int to) {
  for (int i = from; i < to; ++i) g_slots[i].clear();
}

// A pressure as its slot holds it: a text longer than three characters
// loses a leading blank, then it is cut to three and right-aligned.
std::string slot_text(std::string_view reading) {
  if (reading.size() > 3 && reading.front() == ' ') reading.remove_prefix(1);
  reading = reading.substr(0, 3);
  return std::string(3 - reading.size(), ' ') + std::string(reading);
}

// The page's own pressure text, else the last second-channel value.  Only
// values that fit the slot's three characters are written as numbers.
std::string pressure_reading(int type, const StudyPage& p) {
  const std::string_view own = type == kStepSinglePressure ? field_text(p.short_text, sizeof p.short_text)
                                                            : field_text(p.text, sizeof p.text);
  if (!own.empty()) return std::string(own);
  const int v = p.newest >= 0 && p.newest < PAGE_SAMPLES ? p.channel_2[p.newest] : 0;
  return v < 1000 && v > -100 ? std::to_string(v) : "***";
}

// A pressure line: "%3s" takes the next slot's text, blanks when empty.
struct PressureLine {
  std::string_view pattern;
  std::array<int, 3> slots;
};
struct PressureGroup {
  int first, last;  // the slots that decide whether the group is written
  int test;
  std::vector<PressureLine> lines;
};

std::string format_line(const PressureLine& line) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < line.pattern.size(); ++i) {
    if (line.pattern.substr(i, 3) == "%3s" && next < line.slots.size()) {
      const std::string& t = g_slots[line.slots[next++]];
      out += t.empty() ? std::string(3, ' ') : t;
      i += 2;
    } else {
      out += line.pattern[i];
    }
  }
  return out;
}

bool any_slot(int first, int last) {
  for (int i = first; i <= last; ++i)
    if (!g_slots[i].empty()) return true;
  return false;
}

// The study's pressure groups as the sibling database lays out its own
// pressure studies.  The ankle takes one line, or two (posterior tibial and
// dorsalis pedis) when it has no value of its own; the last group is the
// exercise study (test 87), or its period table (test 122) once a period
// pressure is there.
std::vector<PressureGroup> pressure_groups() {
  std::vector<PressureGroup> groups;
  PressureGroup legs{0, 13, 1,
                     {{"  %3s  BRACHIAL  %3s\r\r\r", {0, 7}},
                      {"  %3s HIGH THIGH %3s\r\r", {1, 8}},
                      {"  %3s ABOVE KNEE %3s\r\r", {2, 9}},
                      {"  %3s BELOW KNEE %3s\r\r", {3, 10}}}};
  if (g_slots[4].empty() && g_slots[11].empty()) {
    legs.lines.push_back({"  %3s ANKLE P.T. %3s\r\r", {5, 12}});
    legs.lines.push_back({"  %3s ANKLE D.P. %3s\r\r\r", {6, 13}});
  } else {
    legs.lines.push_back({"  %3s   ANKLE    %3s\r\r\r", {4, 11}});
  }
  groups.push_back(std::move(legs));
  groups.push_back({14, 23, 0,
                    {{"  %3s GREAT TOE  %3s\r\r", {14, 19}},
                     {"  %3s   TOE 2    %3s\r\r", {15, 20}},
                     {"  %3s   TOE 3    %3s\r\r", {16, 21}},
                     {"  %3s   TOE 4    %3s\r\r", {17, 22}},
                     {"  %3s   TOE 5    %3s\r\r\r", {18, 23}}}});
  groups.push_back({24, 31, 10,
                    {{"  %3s UPPER ARM  %3s\r\r", {24, 28}},
                     {"  %3s  FOREARM   %3s\r\r", {25, 29}},
                     {"  %3s   WRIST    %3s\r\r", {26, 30}},
                     {"  %3s INDEX FING %3s\r\r\r", {27, 31}}}});
  groups.push_back({32, 41, 7,
                    {{"  %3s   THUMB    %3s\r\r", {32, 37}},
                     {"  %3s INDEX FING %3s\r\r", {33, 38}},
                     {"  %3s  FINGER 3  %3s\r\r", {34, 39}},
                     {"  %3s  FINGER 4  %3s\r\r", {35, 40}},
                     {"  %3s  FINGER 5  %3s\r\r\r", {36, 41}}}});
  groups.push_back({42, 53, 111,
                    {{"  %3s  BRACHIAL  %3s\r\r", {42, 48}},
                     {"  %3s   PENILE   %3s\r\r", {43, 49}},
                     {"  %3s   ANKLE    %3s\r\r", {44, 50}},
                     {"  %3s BRA PST EX %3s\r\r", {45, 51}},
                     {"  %3s PNL PST EX %3s\r\r", {46, 52}},
                     {"  %3s ANK PST EX %3s\r\r\r", {47, 53}}}});
  if (!g_slots[66].empty())
    groups.push_back({54, 69, 122,
                      {{"PER1  %3s   %3s  %3s\r\r", {66, 55, 61}},
                       {"PER2  %3s   %3s  %3s\r\r", {67, 56, 62}},
                       {"PER3  %3s   %3s  %3s\r\r", {68, 57, 63}},
                       {"PER4  %3s   %3s  %3s\r\r", {69, 58, 64}}}});
  else
    groups.push_back({54, 69, 87,
                      {{"  %3s  BRACHIAL  %3s\r\r\r", {54, 60}},
                       {"  %3s  ANKLE P1  %3s\r\r", {55, 61}},
                       {"  %3s  ANKLE P2  %3s\r\r", {56, 62}},
                       {"  %3s  ANKLE P3  %3s\r\r", {57, 63}},
                       {"  %3s  ANKLE P4  %3s\r\r", {58, 64}},
                       {"  %3s  ANKLE P5  %3s\r\r\r", {59, 65}}}});
  return groups;
}

// --- The capture stream ---------------------------------------------------------

// One study call's appends to the stream, each written whole or reported.
class Stream {
 public:
  ~Stream() { (void)close(); }

  // The first call of a batch finds the stream missing or empty.
  bool open(bool& batch_start) {
    platform::map_path_create_dirs(kZelmarStreamFile);
    fd_ = platform::file_open(kZelmarStreamFile, platform::OpenMode::kAppend);
    if (fd_ < 0) {
      platform::note_failure_cause(kZelmarStreamFile, fd_);
      return false;
    }
    batch_start = platform::file_length(fd_) == 0;
    return true;
  }
  int close() {
    if (fd_ < 0) return 0;
    const int r = platform::file_close(fd_);
    fd_ = -1;
    platform::note_failure_cause(kZelmarStreamFile, r);
    return r;
  }

  void data(std::uint8_t b) {
    buffer_ += static_cast<char>(b);
    if (b == kZelmarEscape) buffer_ += static_cast<char>(kZelmarData);
  }
  void text(std::string_view s) {
    for (char c : s) data(static_cast<std::uint8_t>(c));
  }
  void line(std::string_view label, std::string_view value) {
    text(label);
    text(value);
    data('\r');
  }
  void tag(ZelmarTag t) {
    buffer_ += static_cast<char>(kZelmarEscape);
    buffer_ += static_cast<char>(t);
  }
  void raw(std::uint8_t b) { buffer_ += static_cast<char>(b); }

  // Puts what was gathered at the stream's end; false when not all of it
  // could be written.
  bool flush() {
    const long long n = platform::file_write(fd_, buffer_.data(), buffer_.size());
    const bool whole = n == static_cast<long long>(buffer_.size());
    buffer_.clear();
    if (!whole) platform::note_failure_cause(kZelmarStreamFile, n < 0 ? static_cast<int>(n) : -ENOSPC);
    return whole;
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

// A sample as one byte of the run: the module's full scale of 256 is the
// byte's 255; anything above it cannot be a sample.
std::uint8_t sample_byte(int v) {
  if (v == 256) return 255;
  if (v > 256) return 0;
  return static_cast<std::uint8_t>(v);
}

// --- Group file -------------------------------------------------------------------

void decode_group(const std::uint8_t* in, ZelmarGroupRecord& r) {
  std::memcpy(r.file_name, in, sizeof r.file_name);
  std::memcpy(r.patient_name, in + sizeof r.file_name, sizeof r.patient_name);
}
void encode_group(const ZelmarGroupRecord& r, std::uint8_t* out) {
  std::memcpy(out, r.file_name, sizeof r.file_name);
  std::memcpy(out + sizeof r.file_name, r.patient_name, sizeof r.patient_name);
}

// The group file name of the patient: the one of their first study in the
// batch, or this study's when it is their first.  False when the group file
// could not be read or written.
bool group_of(std::string_view patient, const std::string& exam, std::string& group) {
  platform::map_path_create_dirs(kZelmarGroupFile);
  const int fd = platform::file_open(kZelmarGroupFile, platform::OpenMode::kOpenAlways);
  if (fd < 0) {
    platform::note_failure_cause(kZelmarGroupFile, fd);
    return false;
  }
  // The first error met, for the operator.
  int error = 0;
  auto check = [&](long long r, long long want) {
    if (r != want && error == 0) error = r < 0 ? static_cast<int>(r) : -EIO;
    return r == want;
  };
  std::vector<std::uint8_t> bytes;
  const long long length = platform::file_length(fd);
  bool ok = length >= 0;
  if (!ok) error = static_cast<int>(length);
  if (ok) {
    bytes.resize(static_cast<std::size_t>(length));
    ok = check(platform::file_read(fd, bytes.data(), bytes.size()), length);
  }
  const std::size_t count = bytes.size() / kZelmarGroupRecordBytes;
  ZelmarGroupRecord r{};
  for (std::size_t i = 0; ok && i < count; ++i) {
    decode_group(bytes.data() + i * kZelmarGroupRecordBytes, r);
    if (field_text(r.patient_name, sizeof r.patient_name) == patient) {
      group = std::string(field_text(r.file_name, sizeof r.file_name));
      const int closed = platform::file_close(fd);
      platform::note_failure_cause(kZelmarGroupFile, closed);
      return closed == 0;
    }
  }
  if (ok) {
    // A torn record at the end (a write cut short) is replaced, so that the
    // records stay 43 bytes apart.
    r = ZelmarGroupRecord{};
    const std::string name = exam + ".pdf";
    std::memcpy(r.file_name, name.data(), std::min(name.size(), sizeof r.file_name - 1));
    std::memcpy(r.patient_name, patient.data(), std::min(patient.size(), sizeof r.patient_name));
    std::uint8_t out[kZelmarGroupRecordBytes];
    encode_group(r, out);
    const auto at = static_cast<long long>(count * kZelmarGroupRecordBytes);
    ok = check(platform::file_seek(fd, at, SEEK_SET), at) &&
         check(platform::file_write(fd, out, sizeof out), static_cast<long long>(sizeof out)) &&
         check(platform::file_truncate(fd, static_cast<std::uint64_t>(at) + sizeof out), 0);
    group = std::string(field_text(r.file_name, sizeof r.file_name));
  }
  const bool closed = check(platform::file_close(fd), 0);
  platform::note_failure_cause(kZelmarGroupFile, error);
  return closed && ok;
}

// --- Study call ---------------------------------------------------------------------

struct StudyCall {
  ReportStudy study;
  ReportTemplate tpl;
  std::string group;
  Stream stream;
  std::unique_ptr<ReportPage> page = std::make_unique<ReportPage>();

  // A pressure step fills the slot its row byte names (128..197).
  void pressure(int type, int row_byte) {
    if (row_byte < 128 || row_byte >= 128 + kSlots) return;
    g_slots[row_byte - 128] = slot_text(pressure_reading(type, page->page));
  }

  // A waveform step: its samples, then the block that says what they are.
  bool waveform(int type, int row_byte, int gain_group) {
    const StudyPage& p = page->page;
    if ((p.flags & kPageDeletedSide) || row_byte == 0) return true;
    stream.tag(kZelmarSampleRun);
    stream.raw(static_cast<std::uint8_t>((p.gain + 128) & 0xFF));
    const int first = std::max(p.report_start + 1, 0);
    const int last = std::min<int>(p.newest, PAGE_SAMPLES - 1);
    for (int k = first; k <= last; ++k) stream.data(sample_byte(p.channel_1[k]));

    const int location = row_byte - 1;
    int test = 2;
    if (type == kStepDualPvr || type == kStepSinglePvr)
      test = 8;
    else if (type == kStepDoppler)
      test = 5;
    else if (type == kStepDualWaveform || type == kStepSingleWaveform)
      test = location >= 63 && location <= 72 ? 9 : location >= 23 && location <= 32 ? 6 : 11;
    stream.tag(kZelmarWaveformBlock);
    stream.line("I.D.:", group);
    stream.line("TEST:", zelmar_test_text(test));
    stream.line("LOC.:", zelmar_test_text(location));
    stream.line("PRBE:", zelmar_probe_text(zelmar_probe_remap(p.probe)));
    stream.line("GAIN:", zelmar_gain_text(zelmar_gain_remap(p.gain, gain_group)));
    stream.line("SPD.:", zelmar_sweep_text(zelmar_sweep_remap(p.filter_code)));
    if (test == 8) {
      const int c = p.newest >= 0 && p.newest < PAGE_SAMPLES ? p.channel_2[p.newest] : 0;
      stream.line("PRES:", std::to_string(c));
    }
    stream.text(kBlockTail);
    return stream.flush();
  }

  bool pressure_blocks() {
    for (const PressureGroup& g : pressure_groups()) {
      if (!any_slot(g.first, g.last)) continue;
      stream.tag(kZelmarPressureBlock);
      stream.line("I.D.:", group);
      stream.line("TEST:", zelmar_test_text(g.test));
      stream.text(kBlockTail);
      stream.text(kPressureHeading);
      for (const PressureLine& line : g.lines) stream.text(format_line(line));
      if (!stream.flush()) return false;
    }
    return true;
  }

  int walk() {
    for (int step = 1; step <= tpl.steps; ++step) {
      const std::uint8_t* r = tpl.record(step);
      if (!r) return kNoData;
      const int type = r[0];
      if (type == kStepEnd) break;
      const bool pressure_step = type == kStepSinglePressure || type == kStepDualPressure;
      const bool waveform_step = type == kStepDualPvr || type == kStepDualWaveform || type == kStepDoppler ||
                                 type == kStepSinglePvr || type == kStepSingleWaveform || type == kStepVrt;
      const ExportStepFields* f = export_step_fields(type);
      if ((!pressure_step && !waveform_step) || !f) continue;
      const int link = type == kStepVrt ? r[203] : r[f->link];
      if (!load_export_step(study, step, link, tpl.steps, r, *page)) continue;
      if (pressure_step)
        pressure(type, r[f->row]);
      else if (!waveform(type, r[f->row], f->group >= 0 ? r[f->group] : 0))
        return kFileError;
    }
    return pressure_blocks() ? kOk : kFileError;
  }
};

int study_call(const ExportArgs& args) {
  PageDescriptionHeader header{};
  if (const int r = read_export_header(args, header)) return r;
  auto call = std::make_unique<StudyCall>();
  const std::string_view patient = field_text(header.patient_name, sizeof header.patient_name);
  if (!group_of(patient, args.id_text, call->group)) return kFileError;
  if (const int r = open_export_study(args, header, call->study, call->tpl)) return r;

  bool batch_start = false;
  if (!call->stream.open(batch_start)) return kFileError;
  clear_slots(0, batch_start ? kSlots : kOwnSlots);
  const int r = call->walk();
  if (call->stream.close() != 0 && r == kOk) return kFileError;
  return r;
}

}  // namespace

int run_zelmar_export(int argc, char* argv[]) {
  ExportArgs args;
  if (parse_export_args(argc, argv, kExportIdLimit, args) != 0) return kBadArguments;
  if (!args.end) return study_call(args);
  clear_slots(0, kSlots);
  return finish_zelmar_export(args);
}

}  // namespace vaslab
