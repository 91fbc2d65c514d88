#include "vaslab/reports/report_generator.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/template_format.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {

namespace {

const std::string kWorkFiles[4] = {"C:\\TEMP\\TEXTI.TMP", "C:\\TEMP\\TEXT.TMP", "C:\\TEMP\\GRAPHICI.TMP",
                                   "C:\\TEMP\\VLINE.TMP"};
constexpr std::size_t kLabelField = 30;  // the step label at record offset 2
constexpr std::size_t kLabelPrefix = 38; // what is read of a record to compare labels

std::string page_path(int step, int exam) { return platform::map_path(page_file_name(step, exam)); }

// A decimal argument within [low, high].
bool parse_number(const char* s, int low, int high, int& out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  const long v = std::strtol(s, &end, 10);
  if (*end != '\0' || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

// Where the page takes the step's own page from, by step type: the record
// offset of its reference step, 0 for a page without one, -1 for a step
// that has no page.
int reference_offset(int type) {
  switch (type) {
    case kStepDualPvr: return 211;
    case kStepSinglePressure: return 61;
    case kStepDualWaveform: return 195;
    case kStepDoppler: return 199;
    case kStepSinglePvr: return 212;
    case kStepSingleWaveform: return 196;
    case kStepNotes: return 203;
    case kStepDualPressure: return 56;
    case kStepVrt: return 200;
    case kStepThermal: return 254;
    case kStepSymptoms: return 0;
    default: return -1;
  }
}

bool known_type(int type) {
  return reference_offset(type) >= 0 || type == kStepText || type == kStepPicture || type == kStepFormulas ||
         type == kStepLines || type == kStepEnd;
}

// Sections that run only with a page.
bool needs_page(int type) {
  return type == kStepDualPvr || type == kStepSinglePressure || type == kStepDualWaveform ||
         type == kStepDoppler || type == kStepSinglePvr || type == kStepSingleWaveform ||
         type == kStepDualPressure || type == kStepVrt;
}

// The template of a study: its records as read, up to record 200.
std::string template_path(std::string_view name) {
  return platform::map_path("C:\\STUDIES\\" + std::string(name));
}

}  // namespace

std::string data_directory_path() {
  const HardwareSettings& hw = hardware_settings();
  return std::string(field_text(hw.data_directory, sizeof hw.data_directory));
}

bool open_report_template(std::string_view name, ReportTemplate& t) {
  auto bytes = platform::read_file(template_path(name), (kMaxTemplateSteps + 1) * kTemplateRecordSize);
  if (!bytes || bytes->size() < kTemplateRecordSize) return false;
  if (platform::get_s16le(bytes->data() + 34) != 0 || platform::get_s16le(bytes->data() + 36) != 300) return false;
  t.steps = std::clamp<int>(platform::get_s16le(bytes->data() + 32), 0, kMaxTemplateSteps);
  t.bytes = std::move(*bytes);
  return true;
}

namespace {

// The label of record `k` of a template, for the reference-step matches.
bool record_label(std::string_view template_name, int k, std::string& label) {
  std::uint8_t head[kLabelPrefix];
  if (!read_template_record(template_path(template_name), k, sizeof head, head)) return false;
  label = std::string(field_text(head + 2, kLabelField));
  return true;
}

}  // namespace

std::int32_t study_start_time(int exam, bool& present) {
  auto bytes = platform::read_file(page_path(0, exam), STUDY_PAGE_BYTES);
  present = bytes && bytes->size() >= STUDY_PAGE_BYTES;
  return present ? platform::get_s32le(bytes->data() + offsetof(StudyPage, save_time)) : 0;
}

namespace {

// Stores a page found elsewhere as this study's step: whole or not at all.
// A failure is not reported; the run goes on with the page in memory.
void store_as_step(const ReportStudy& study, int step, ReportPage& rp) {
  std::memset(rp.page.template_name, 0, sizeof rp.page.template_name);
  std::memcpy(rp.page.template_name, study.template_name.data(),
              std::min(study.template_name.size(), sizeof rp.page.template_name - 1));
  std::vector<std::uint8_t> bytes(STUDY_PAGE_BYTES);
  encode_study_page(rp.page, bytes.data());
  bytes.insert(bytes.end(), rp.block.begin(), rp.block.end());
  (void)platform::write_file_atomic(page_path(step, study.exam_id), bytes.data(), bytes.size(), 0600);
}

void show_busy_box() {
  if (!screen_ready()) return;
  fill_rect_color(134, 260, 507, 281, 1);
  g_draw.draw_color = 8;
  draw_rectangle(134, 260, 506, 280);
  set_text_size(3, 4, 2);
  set_text_justify(kJustifyCentre, kJustifyCentre);
  draw_text(320, 270, "Generating. . .");
  set_text_justify(kJustifyLeft, kJustifyTop);
  poll_input_events(0);
}

void put_link(std::vector<std::uint8_t>& out, std::uint8_t type, int count, std::size_t body) {
  std::uint8_t l[sizeof(PageBlockLink)] = {type, 0};
  platform::put_s16le(l + 2, static_cast<std::int16_t>(count));
  platform::put_s32le(l + 4, static_cast<std::int32_t>(out.size() + sizeof l + body));
  out.insert(out.end(), l, l + sizeof l);
}

// Header, text items, pool, picture items, then the block chain, from the
// work files as the sections left them.
int assemble(ReportRun& run, std::vector<std::uint8_t>& out) {
  run.close_work_files();
  std::vector<std::uint8_t> parts[4];
  for (int i = 0; i < 4; ++i) {
    auto bytes = platform::read_file(platform::map_path(kWorkFiles[i]));
    if (!bytes) return kReportFileError;
    parts[i] = std::move(*bytes);
  }
  PageDescriptionHeader& h = run.header;
  if (parts[0].size() != sizeof(PageTextItem) * static_cast<std::size_t>(h.text_count) ||
      parts[1].size() != static_cast<std::size_t>(run.pool_length) ||
      parts[2].size() != sizeof(PageGraphicItem) * static_cast<std::size_t>(h.graphic_count) ||
      parts[3].size() != sizeof(PageLineItem) * static_cast<std::size_t>(run.line_count))
    return kReportFileError;
  h.magic[0] = kPageMagic0;
  h.magic[1] = kPageMagic1;
  h.text_offset = static_cast<std::int32_t>(kPageHeaderBytes);
  h.graphic_offset = static_cast<std::int32_t>(kPageHeaderBytes + parts[0].size() + parts[1].size());
  h.first_link = static_cast<std::int32_t>(h.graphic_offset + parts[2].size());
  out.assign(kPageHeaderBytes, 0);
  encode_page_header(h, out.data());
  for (int i = 0; i < 3; ++i) out.insert(out.end(), parts[i].begin(), parts[i].end());
  if (run.waveform) {
    if (!run.block) run.block = std::make_unique<PageWaveformBlock>();
    put_link(out, kLinkWaveform, run.waveform_count, kPageWaveformBytes);
    const PageWaveformBlock& w = *run.block;
    out.insert(out.end(), w.upper, w.upper + sizeof w.upper);
    out.insert(out.end(), w.lower, w.lower + sizeof w.lower);
    out.insert(out.end(), &w.spectra[0][0], &w.spectra[0][0] + sizeof w.spectra);
  }
  if (run.line_count > 0) {
    put_link(out, kLinkLines, run.line_count, parts[3].size());
    out.insert(out.end(), parts[3].begin(), parts[3].end());
  }
  put_link(out, kLinkEnd, 0, 0);
  return kReportOk;
}

// One run of either generator.  `first_step` 0: the whole template with
// reference steps; else that step (and its pair) with fixed rows.
int generate(const char* exam_text, int first_step) {
  int exam = 0;
  if (!parse_number(exam_text, 0, 999, exam)) return kReportArguments;
  show_busy_box();

  const std::string name = std::to_string(exam);
  const std::string pdf = platform::map_path(data_directory_path() + name + ".pdf");
  const auto access = platform::file_access_time(pdf);
  if (!access) return kReportNoPage;
  auto head = platform::read_file(pdf, kPageHeaderBytes);
  if (!head || head->size() < kPageHeaderBytes) return kReportNoPage;
  // The report part is built anew; the identification part stays as read.
  std::memset(head->data() + offsetof(PageDescriptionHeader, traces), 0,
              offsetof(PageDescriptionHeader, end_word) + 1 - offsetof(PageDescriptionHeader, traces));
  auto run = std::make_unique<ReportRun>();
  decode_page_header(head->data(), run->header);
  run->layout.fixed_rows = first_step != 0;
  reset_formula_variables();

  ReportStudy study;
  study.exam_id = exam;
  std::memcpy(study.patient_name, run->header.patient_name, sizeof study.patient_name);
  study.start_time = study_start_time(exam, study.start_known);
  run->start_time = study.start_time;

  std::string first_page;
  if (first_step == 0) {
    for (const auto& f : platform::list_files(data_directory_path() + "*." + name)) {
      if (!(f.attributes & platform::kAttrDirectory)) {
        first_page = platform::map_path(data_directory_path() + f.name);
        break;
      }
    }
    if (first_page.empty()) return kReportNoData;
  } else {
    first_page = page_path(first_step, exam);
  }
  auto page = platform::read_file(first_page, STUDY_PAGE_BYTES);
  if (!page || page->size() < STUDY_PAGE_BYTES) return kReportNoData;
  study.template_name = std::string(field_text(page->data(), sizeof StudyPage::template_name));
  ReportTemplate tpl;
  if (!open_report_template(study.template_name, tpl)) return kReportNoData;

  std::string work[4];
  for (int i = 0; i < 4; ++i) work[i] = platform::map_path_create_dirs(kWorkFiles[i]);
  if (!run->open_work_files(work)) return kReportFileError;

  const int last = first_step == 0 ? tpl.steps : first_step;
  int records = 1;
  for (int i = 0; first_step == 0 ? i < last : i < records; ++i) {
    const int step = first_step == 0 ? i + 1 : first_step + i;
    const std::uint8_t* rec = tpl.record(step);
    if (!rec) return kReportNoData;
    std::memcpy(run->step, rec, kTemplateRecordSize);
    const int type = rec[0];
    if (type == kStepEnd) {
      run->header.end_word = platform::get_u16le(rec + 295);
      break;
    }
    if (type == 0 || !known_type(type)) return kReportFileError;
    if (first_step != 0 && (type == kStepDualPvr || type == kStepDualWaveform || type == kStepDualPressure))
      records = 2;
    if (type == kStepFormulas) {
      formula_field(run->step + 32, 81);
      formula_field(run->step + 113, 80);
      formula_field(run->step + 193, 105);
      continue;
    }
    const int ref_at = reference_offset(type);
    bool loaded = false;
    if (ref_at >= 0) {
      const int reference = first_step == 0 && ref_at > 0 ? rec[ref_at] : 0;
      loaded = load_report_step(study, step, reference, tpl.steps, run->step, *run->page);
      if (loaded && run->page->has_block()) run->waveform = true;
      if (!loaded && needs_page(type)) continue;
    }
    const int rc = run_report_section(*run, type, loaded);
    if (rc != 0) return rc;
  }

  std::vector<std::uint8_t> out;
  if (const int rc = assemble(*run, out); rc != 0) return rc;
  if (platform::write_file_atomic(pdf, out.data(), out.size()) != 0) return kReportFileError;
  (void)platform::set_file_times(pdf, *access, *access);
  return kReportOk;
}

}  // namespace

bool load_report_step(const ReportStudy& study, int step, int reference, int step_count,
                      const std::uint8_t* record300, ReportPage& out, ReferenceTie tie, bool store,
                      std::string* own_page) {
  auto read_own = [&](int of_step) {
    const std::string path = page_path(of_step, study.exam_id);
    if (!read_report_page(path, out)) return false;
    if (own_page) *own_page = path;
    return true;
  };
  auto own = [&] { return read_own(step); };
  if (own_page) own_page->clear();
  if (reference == 0) return own();
  const std::string label(field_text(record300 + 2, kLabelField));
  std::string other_label;
  if (reference != step && reference <= step_count) {
    if (record_label(study.template_name, reference, other_label) && other_label == label) {
      if (!read_own(reference)) return false;
      if (store) store_as_step(study, step, out);
      return true;
    }
  }

  // The nearest other study of the same patient that measured this step.
  const double start = study.start_known ? study.start_time : 2147483647.0;
  double best_save = 2147483647.0, best_file = 2147483647.0;
  int by_save = -1, by_file = -1;
  auto better = [&](double d, double best) {
    return tie == ReferenceTie::kLater ? !(d - best > kFormulaTolerance) : best - d > kFormulaTolerance;
  };
  const std::string own_name(field_text(study.patient_name, sizeof study.patient_name));
  auto candidate = std::make_unique<ReportPage>();
  for (const auto& f : platform::list_files(data_directory_path() + "*.pdf")) {
    int id = 0;
    if (f.attributes & platform::kAttrDirectory) continue;
    if (!parse_number(f.name.substr(0, f.name.size() - 4).c_str(), 0, 32767, id) || id == study.exam_id) continue;
    auto head = platform::read_file(platform::map_path(data_directory_path() + f.name), 114);
    if (!head || head->size() < 114) continue;
    if (field_text(head->data() + offsetof(PageDescriptionHeader, patient_name), 30) != own_name) continue;
    if (!read_report_page(page_path(reference, id), *candidate)) continue;
    if (!record_label(field_text(candidate->page.template_name, sizeof candidate->page.template_name), reference,
                      other_label) ||
        other_label != label)
      continue;
    if (candidate->page.save_time != 0) {
      const double d = std::fabs(candidate->page.save_time - start);
      if (better(d, best_save)) {
        best_save = d;
        by_save = id;
      }
    } else {
      const auto listed = platform::list_files(page_file_name(reference, id));
      const double d = std::fabs((listed.empty() ? 0.0 : static_cast<double>(listed[0].mtime)) - start);
      if (better(d, best_file)) {
        best_file = d;
        by_file = id;
      }
    }
  }
  out = ReportPage{};
  bool found = by_save >= 0 && read_report_page(page_path(reference, by_save), out);
  if (!found) found = by_file >= 0 && read_report_page(page_path(reference, by_file), out);
  if (found) {
    if (store) store_as_step(study, step, out);
    return true;
  }
  return own();
}

int generate_report(int argc, char* argv[]) {
  if (argc != 2) return kReportArguments;
  return generate(argv[1], 0);
}

int generate_page_report(int argc, char* argv[]) {
  if (argc != 3) return kReportArguments;
  int first = 0;
  if (!parse_number(argv[2], 1, kMaxTemplateSteps, first)) return kReportArguments;
  return generate(argv[1], first);
}

}  // namespace vaslab
