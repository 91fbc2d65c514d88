// demo-archive: puts archived sample studies into the demo machine's archive
// under $VASLAB_ROOT.  Each is a real study of one of the demo's templates
// (as scripts/demo-root has just written them): a temporary study made by
// the records code, its steps captured from the measuring-module simulator's
// frames through the study code's page handling (or, for notes, the answers
// the notes form stores), its report made by the report generator, and then
// saved through the archive's own save (numbered file, counter and database
// record).  So the archive screens, the reindexes and the diskette backup
// work on what a site would have.  Only an empty archive gets them (or one
// holding just what the first version of this tool wrote): a machine with
// studies of its own is left alone.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "sim/module_sim.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/studies/dual_pair.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/study_page.h"
#include "vaslab/studies/study_template.h"

namespace {

using namespace vaslab;

// A patient's pressures (mmHg) where each site's pulse returns, RIGHT and
// LEFT; the simulated module stops a channel's pulse above them.
struct Pressures {
  int brachial[2];
  int thigh[2];
  int calf[2];
  int ankle[2];
};

struct Note {
  const char* text;
  int flags = 0;
};

// A symptom captured during a timed step (its row in the step's order): the
// stopwatch time, and the side (bits 8-9: 0 right, 1 left, 2 both) and site
// (bits 0-2: 2 calf) the operator marked.
struct Symptom {
  const char* time;
  int marker;
};
struct Timed {
  const char* time;  // the stopwatch when the step ended
  std::vector<Symptom> symptoms;
};

struct Sample {
  int template_number;
  const char* name;
  const char* id;
  const char* date;
  Pressures pressures;
  // The answers of the template's note lines, in step order, with the
  // line-end flags the notes form stores (0x02 the text wraps on, 0x01 at a
  // dropped space, 0x08 the last line of a block's text); a line without
  // an answer here keeps its default.
  std::vector<Note> notes = {};
  // The timed steps' stopwatch times and their captured symptoms.
  std::vector<Timed> timed = {};
};

const std::vector<Sample>& samples() {
  static const std::vector<Sample> s = {
      {102, "MILLER, ANNA", "100231", "02/03/2026 09:12 AM", {{128, 124}, {150, 146}, {130, 126}, {118, 112}}},
      {101, "OKAFOR, JAMES", "100245", "02/05/2026 10:40 AM", {{136, 132}, {160, 150}, {140, 120}, {112, 96}},
       {{"Mild claudication of the left calf after 200 m."}}},
      {105, "SMITH, JOHN", "100260", "02/11/2026 02:05 PM", {{130, 126}, {152, 140}, {136, 120}, {108, 100}}},
      {106, "HASHEMI, REZA", "100277", "02/19/2026 11:30 AM", {{122, 120}, {140, 138}, {124, 122}, {120, 118}}},
      {103, "NOWAK, PIOTR", "100281", "03/02/2026 08:55 AM", {{140, 136}, {150, 90}, {132, 84}, {120, 76}}},
      {104, "SANTOS, MARIA", "100299", "03/09/2026 03:20 PM", {{118, 110}, {130, 126}, {120, 116}, {112, 108}}},
      {107, "BERG, THOMAS", "100304", "03/16/2026 09:45 AM", {{126, 124}, {140, 138}, {128, 126}, {116, 114}},
       {{"100304"},
        {"Rest pain, right foot"},
        {"Smoker, 30 pack years; bypass of the", 0x03},
        {"right SFA in 2019, claudication since", 0x03},
        {"last spring.", 0x08},
        {""},
        {"Patent graft; no significant change since the last study."}}},
      {108, "CHEN, LI", "100318", "03/23/2026 01:10 PM", {{142, 138}, {170, 164}, {150, 146}, {96, 88}}, {},
       {{"06:40", {{"03:10", 0x100 | 2}, {"05:25", 0x200 | 2}}}, {"02:30", {{"01:05", 0x100 | 2}}}}},
  };
  return s;
}

// The simulated module, fed and read through the study code's own byte
// transport, on simulated time (10 ms a pass, the module's frame rate).
class SimulatedModule final : public ModuleBytes {
 public:
  // Status words (-1 none) go out at the start of each stream.
  SimulatedModule(int systolic_right, int systolic_left, int status_right = -1, int status_left = -1)
      : module_(options(systolic_right, systolic_left, status_right, status_left)) {
    set_module_bytes(this);
  }
  ~SimulatedModule() override { set_module_bytes(nullptr); }

  void send(int byte) override { module_.receive(static_cast<std::uint8_t>(byte), now_); }
  std::uint16_t receive() override {
    if (in_.empty()) return 0xFFFF;
    const std::uint8_t b = in_.front();
    in_.pop_front();
    return b;
  }
  void drain() override { in_.clear(); }

  // Runs the module for up to `seconds`, handing each measurement frame to
  // `take` until it returns false.  False when the time ran out first.
  template <typename Take>
  bool run(double seconds, Take take) {
    for (const double end = now_ + seconds; now_ < end;) {
      now_ += 0.01;
      module_.tick(now_);
      for (std::uint8_t b : module_.take_output(now_)) in_.push_back(b);
      while (read_frame(reader_) == 1)
        if (!take(reader_.value)) return true;
    }
    return false;
  }
  int cuff(int channel) const { return module_.cuff_pressure(channel); }

 private:
  static sim::ModuleOptions options(int right, int left, int status_right, int status_left) {
    sim::ModuleOptions o;
    o.systolic1 = right;
    o.systolic2 = left;
    o.status_word = status_right;
    o.status_word2 = status_left;
    return o;
  }
  sim::ModuleProtocol module_;
  double now_ = 0;
  std::deque<std::uint8_t> in_;
  FrameReader reader_;
};

// A page as a study module starts it.
void start_page(StudyPage& p, const std::string& template_base, int probe, int gain, int filter, int baseline) {
  p = StudyPage{};
  std::snprintf(p.template_name, sizeof p.template_name, "%s", template_base.c_str());
  p.report_start = -1;
  p.point_1 = p.point_2 = -1;
  p.probe = static_cast<std::int16_t>(probe);
  p.gain = static_cast<std::int16_t>(gain);
  p.filter_code = static_cast<std::int16_t>(filter);
  p.baseline = static_cast<std::int16_t>(baseline);
}

void stamp(StudyPage& p) { p.save_time = static_cast<std::int32_t>(std::time(nullptr)); }

// The site's pressure of a step label ("Rt Ankle", "RIGHT Brachial"): the
// first site word found, the side from its first letters.
int site_pressure(const Pressures& ps, const char* label, int side) {
  const std::string l = label;
  if (l.find("Thigh") != std::string::npos) return ps.thigh[side];
  if (l.find("Calf") != std::string::npos) return ps.calf[side];
  if (l.find("Ankle") != std::string::npos) return ps.ankle[side];
  return ps.brachial[side];
}
int label_side(const char* label) {
  const std::string l = label;
  return l.find("LEFT") != std::string::npos || l.rfind("Lt", 0) == 0 || l.find("Left") != std::string::npos;
}

constexpr int kWindow = 296;  // one report strip of samples

// A single-pressure step: the cuff inflated to its target and let down
// until the probe's pulse returns, captured there (the page's second
// channel holds the cuff pressure).
bool capture_single_pressure(const std::uint8_t* record, const Sample& s, const std::string& base, int step,
                             int exam) {
  PressureStep st;
  decode_pressure_step(record, st);
  const int side = label_side(st.label);
  const int systolic = site_pressure(s.pressures, st.label, side);
  const bool ch1 = st.cuff_channel & 1;
  SimulatedModule m(ch1 ? systolic : 120, ch1 ? 110 : systolic);
  auto page = std::make_unique<StudyPage>();
  StudyPage& p = *page;
  start_page(p, base, st.probe, st.gain, st.filter_code, st.baseline);
  send_module_command(st.probe == 5 ? 42 : st.probe == 6 ? 17 : 46);
  send_module_command(ch1 ? 183 : 158, st.inflate_target);
  send_module_command(ch1 ? 90 : 84);
  const int cuff = ch1 ? 1 : 2;
  m.run(30, [&](const std::int16_t*) { return m.cuff(cuff) < st.inflate_target; });
  send_module_command(ch1 ? 183 : 158, st.deflate_target);
  send_module_command(ch1 ? 91 : 85);
  // A few beats after the pulse came back, as the operator sees it.
  int beats_after = 250;
  const bool ok = m.run(60, [&](const std::int16_t* v) {
    const int pressure = (st.cuff_channel & 2) ? v[1] : v[0];
    take_waveform_sample(p, st.probe == 6 ? v[3] : v[2], nullptr);
    p.channel_2[p.newest] = static_cast<std::int16_t>(pressure);
    if (pressure <= systolic) --beats_after;
    return beats_after > 0;
  });
  send_module_command(0);
  if (!ok) return false;
  // The reading is where the pulse came back.
  std::snprintf(p.short_text, sizeof p.short_text, "%d", systolic);
  stamp(p);
  capture_window(p, kWindow, true);
  return write_study_page(step, exam, p) == 0;
}

// A Doppler step: the probe's flow signal for a few beats.
bool capture_doppler(const std::uint8_t* record, const std::string& base, int step, int exam) {
  DopplerStep st;
  decode_doppler_step(record, st);
  SimulatedModule m(200, 200);
  auto page = std::make_unique<StudyPage>();
  StudyPage& p = *page;
  start_page(p, base, st.probe, st.gain, st.filter_code, st.baseline);
  send_module_command(46);
  int samples = kRingSamples / 2;
  m.run(60, [&](const std::int16_t* v) {
    take_waveform_sample(p, v[2], nullptr);
    return --samples > 0;
  });
  send_module_command(0);
  stamp(p);
  const int window = st.report_window > 0 && st.report_window < p.count ? st.report_window : kWindow;
  capture_window(p, window, false);
  return write_study_page(step, exam, p) == 0;
}

// A RIGHT/LEFT pair of steps n and n + 1 (types 1, 5, 11): both channels at
// once, each side's trace in its own page with its cuff pressure beside.
bool capture_dual(int type, const std::uint8_t* right_record, const Sample& s, const std::string& base, int step,
                  int exam) {
  int gain = 5, filter = 2, baseline = 128, window = kWindow, inflate = 0, deflate = 0, hold = 0;
  std::string label;
  if (type == 1) {
    DualPvrStep st;
    decode_dual_pvr_step(right_record, st);
    gain = st.gain, filter = st.filter_code, baseline = st.baseline, window = st.window;
    hold = st.inflate_target > 0 ? st.inflate_target : 65;
    label = st.label;
  } else if (type == 5) {
    DualPpgStep st;
    decode_dual_ppg_step(right_record, st);
    gain = st.gain, filter = st.filter_code, baseline = st.baseline, window = st.window;
    label = st.label;
  } else {
    DualPressureStep st;
    decode_dual_pressure_step(right_record, st);
    gain = st.gain, filter = st.filter_code, baseline = st.baseline;
    inflate = st.inflate_target > 0 ? st.inflate_target : 180;
    deflate = st.deflate_target;
    label = st.label;
  }
  window = dual_window(window);
  const int systolic[2] = {site_pressure(s.pressures, label.c_str(), 0), site_pressure(s.pressures, label.c_str(), 1)};
  // A PPG or PVR pulse is not stopped by a cuff below the pressures.
  // The pulse volume module reports each side's amplitude as a status word
  // once the cuffs hold; here it grows with the site's pressure.
  const bool pvr = type == 1;
  SimulatedModule m(type == 11 ? systolic[0] : 200, type == 11 ? systolic[1] : 200, pvr ? 4 * systolic[0] : -1,
                    pvr ? 4 * systolic[1] : -1);
  auto pages = std::make_unique<StudyPage[]>(2);
  for (int side : {0, 1}) start_page(pages[side], base, type == 5 ? 42 : type == 1 ? 44 : 17, gain, filter, baseline);
  if (type == 5) {
    send_module_command(42);
    send_module_command(17);
  } else if (type == 1) {
    send_module_command(44);
    send_module_command(183, hold);
    send_module_command(158, hold);
    // The cuffs go up while the traces run, as the operator's Inflate
    // does; the module reports each side's amplitude once its cuff holds,
    // which starts that side's trace again.  (Stopping the stream here would
    // let the cuffs down, and the pulse with them.)
    send_module_command(90);
    send_module_command(84);
  } else {
    send_module_command(42);
    send_module_command(17);
    send_module_command(183, inflate);
    send_module_command(158, inflate);
    send_module_command(90);
    send_module_command(84);
    m.run(30, [&](const std::int16_t*) { return m.cuff(1) < inflate || m.cuff(2) < inflate; });
    send_module_command(183, deflate);
    send_module_command(158, deflate);
    send_module_command(91);
    send_module_command(85);
  }
  // Each side is captured on its own: a pressure side a few beats after its
  // pulse returned, a PPG or PVR side after one ring of samples.
  int left[2] = {250, 250};
  if (type != 11) left[0] = left[1] = kRingSamples;
  // A PVR side counts from when its cuff holds, and is captured a few
  // windows later, as the operator does, before the cuff has leaked far.
  if (pvr) left[0] = left[1] = std::min(kRingSamples, 4 * window);
  bool held[2] = {!pvr, !pvr};
  const bool ok = m.run(90, [&](const std::int16_t* v) {
    for (int side : {0, 1}) {
      if (left[side] <= 0) continue;
      StudyPage& p = pages[side];
      const int pressure = v[side];
      held[side] = held[side] || pressure >= hold;
      if (take_waveform_sample(p, v[2 + side], nullptr) < 0) continue;  // a status word
      p.channel_2[p.newest] = static_cast<std::int16_t>(pressure);
      if (!held[side]) continue;
      if (type != 11 || pressure <= systolic[side]) --left[side];
    }
    return left[0] > 0 || left[1] > 0;
  });
  send_module_command(0);
  if (!ok) return false;
  for (int side : {0, 1}) {
    StudyPage& p = pages[side];
    if (type == 11) {
      std::snprintf(p.short_text, sizeof p.short_text, "%d", systolic[side]);
      std::snprintf(p.text, sizeof p.text, "%d", systolic[side]);
    }
    stamp(p);
    capture_window(p, window, true);
    if (type == 11) {
      p.point_1 = 0;
      p.point_2 = p.newest;
    }
  }
  return write_page_pair(step, exam, pages[0], pages[1]) == 0;
}

// A note line: its answer and line-end flags as the notes form stores them.
bool write_note(const std::uint8_t* record, const Note* note, const std::string& base, int step, int exam) {
  NotesStep st;
  decode_notes_step(record, st);
  if (st.answer_width == 0) return true;  // a caption line holds no answer
  auto page = std::make_unique<StudyPage>();
  StudyPage& p = *page;
  std::snprintf(p.template_name, sizeof p.template_name, "%s", base.c_str());
  const char* answer = note ? note->text : st.default_answer;
  std::snprintf(p.text, sizeof p.text, "%.*s", static_cast<int>(st.answer_width), answer);
  p.count = static_cast<std::int16_t>(note ? note->flags : 0);
  return write_study_page(step, exam, p) == 0;
}

// A timed step (the symptom rows of an exercise) as its module leaves it:
// the stopwatch time in the page's short text and text, each captured row's
// time 10 bytes apart after it, its capture time (32-bit, 20 bytes apart in
// the first samples) and its side and site in the second.
bool write_timed(const Timed* t, const std::string& base, int step, int exam) {
  if (!t) return true;  // not walked: no page, as when no symptom was captured
  auto page = std::make_unique<StudyPage>();
  StudyPage& p = *page;
  start_page(p, base, 17, 0, 4, 0);
  p.newest = -1;
  p.point_1 = 0;
  stamp(p);
  std::memcpy(p.short_text, t->time, 5);
  std::snprintf(p.text, 6, "%s", t->time);
  for (std::size_t i = 0; i < t->symptoms.size() && i < 4; ++i) {
    const Symptom& sy = t->symptoms[i];
    std::snprintf(p.text + 10 + 10 * i, 6, "%s", sy.time);
    const std::uint32_t at = static_cast<std::uint32_t>(p.save_time);
    p.channel_1[10 * i] = static_cast<std::int16_t>(at & 0xFFFF);
    p.channel_1[10 * i + 1] = static_cast<std::int16_t>(at >> 16);
    p.channel_2[i] = static_cast<std::int16_t>(sy.marker);
  }
  return write_study_page(step, exam, p) == 0;
}

// Every step of the study, in template order.
bool capture_steps(const Sample& s, int exam) {
  const std::string number = std::to_string(s.template_number);
  const std::string path = template_file_name(number);
  const std::string base = template_base_name(number);
  const auto bytes = platform::read_file(platform::map_path(path), 300 * 256);
  if (!bytes || bytes->size() < 300) return false;
  StudyHeader h;
  decode_study_header(bytes->data(), h);
  const int steps = std::min<int>(template_step_count(h), static_cast<int>(bytes->size() / 300) - 1);
  std::size_t note = 0, timed = 0;
  for (int k = 1; k <= steps; ++k) {
    const std::uint8_t* r = bytes->data() + 300 * k;
    const int type = r[0];
    bool ok = true;
    if (type == 2) {
      ok = capture_single_pressure(r, s, base, k, exam);
    } else if (type == 6) {
      ok = capture_doppler(r, base, k, exam);
    } else if ((type == 1 || type == 5 || type == 11) && k < steps && bytes->data()[300 * (k + 1)] == type) {
      ok = capture_dual(type, r, s, base, k, exam);
      ++k;
    } else if (type == 10) {
      ok = write_note(r, note < s.notes.size() ? &s.notes[note] : nullptr, base, k, exam);
      ++note;
    } else if (type == 16) {
      ok = write_timed(timed < s.timed.size() ? &s.timed[timed] : nullptr, base, k, exam);
      ++timed;
    }
    if (!ok) return false;
  }
  return true;
}

template <std::size_t N>
void put(std::uint8_t* header, std::size_t at, const char* text) {
  std::snprintf(reinterpret_cast<char*>(header + at), N, "%s", text);
}

// One sample: a temporary study with its patient, its captured steps and
// its report, saved into the archive.
bool archive_sample(const Sample& s) {
  std::uint8_t* header = study_header();
  std::memset(header, 0, kPageHeaderBytes);
  // The patient screen stores the template's field record caption as the
  // study's caption.
  if (const auto t = platform::read_file(platform::map_path(template_file_name(std::to_string(s.template_number))),
                                         300 * 256)) {
    for (std::size_t k = 1; (k + 1) * 300 <= t->size(); ++k)
      if ((*t)[k * 300] == 255) {
        put<30>(header, 2, reinterpret_cast<const char*>(t->data() + k * 300 + 2));
        break;
      }
  }
  put<30>(header, 32, s.name);
  put<30>(header, 62, s.id);
  put<22>(header, 92, s.date);
  int exam = 0;
  const std::string number = std::to_string(s.template_number);
  // The list of temporary studies as the data directory holds it now.
  study_list().mode = kListTemporary;
  scan_temp_studies();
  if (create_temp_study(1, number.c_str(), &exam) != 0) return false;
  const std::string pdf = std::to_string(exam) + ".PDF";
  if (!capture_steps(s, exam)) {
    delete_temp_study(pdf.c_str());
    return false;
  }
  if (run_iproc(pdf.c_str()) != 0) {
    std::fprintf(stderr, "demo-archive: %s\n", g_message_text);
    delete_temp_study(pdf.c_str());
    return false;
  }
  return archive_temp_study(pdf.c_str()) == kSaveDone;
}

// What the first version of this tool archived: eight page headers with
// random bytes, numbered 1 to 8.  An archive holding exactly those (and
// nothing else numbered) gets the real studies instead.
std::string archived_path(int n) { return platform::map_path(archive_folder_text(1) + archive_file_name(1, n)); }

bool only_first_version_files() {
  const int last = last_archive_number(1);
  if (last != 8) return false;
  std::mt19937 rng(2026);
  static const char* const kNames[] = {"MILLER, ANNA", "OKAFOR, JAMES", "LINDQVIST, EVA", "HASHEMI, REZA",
                                       "NOWAK, PIOTR", "SANTOS, MARIA", "BERG, THOMAS", "CHEN, LI"};
  for (int n = 1; n <= 8; ++n) {
    const auto bytes = platform::read_file(archived_path(n), kPageHeaderBytes + kPageWaveformBytes + 1);
    if (!bytes || bytes->size() != kPageHeaderBytes + kPageWaveformBytes) return false;
    if (std::strncmp(reinterpret_cast<const char*>(bytes->data()) + 32, kNames[n - 1], 30) != 0) return false;
    for (std::size_t i = kPageHeaderBytes; i < bytes->size(); ++i)
      if ((*bytes)[i] != static_cast<std::uint8_t>(rng())) return false;
  }
  return true;
}

}  // namespace

int main() {
  read_hardware_settings();
  // The workstation keeps its temporary studies there unless the start
  // screen finds the USB drive; these never leave this run.
  HardwareSettings& hw = hardware_settings();
  std::snprintf(hw.data_directory, sizeof hw.data_directory, "%s", "C:\\DATA\\");
  if (last_archive_number(1) > 0) {
    if (!only_first_version_files()) return 0;
    // Those files go, and the database is rebuilt from the emptied folder.
    for (int n = 1; n <= 8; ++n) {
      if (std::remove(archived_path(n).c_str()) != 0) {
        std::fprintf(stderr, "demo-archive: cannot remove %s: %s\n", archived_path(n).c_str(), platform::error_text(errno));
        return 1;
      }
    }
    FullReindexCounts counts;
    full_reindex(counts, 0);
  }
  for (const Sample& s : samples()) {
    if (!archive_sample(s)) {
      std::fprintf(stderr, "demo-archive: the study of %s could not be archived\n", s.name);
      return 1;
    }
  }
  return 0;
}
