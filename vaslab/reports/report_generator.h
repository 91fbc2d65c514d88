// The report generators: a temporary study becomes its report page.
//
// generate_report ("C:\PROGRAMS\IPROC") walks every step of the study's
// template and lets each step's section (report_sections.h) place its part;
// generate_page_report ("C:\PROGRAMS\SPRINT") is the same run over one step
// (or one pair of dual steps) with fixed rows.  Both keep the
// identification part of the study's page description (bytes 0..244),
// rebuild the rest through the work files in "C:\TEMP\" and write the file
// whole under a temporary name, so that a failed run leaves the old file as
// it was.  The file gets back the access time it had before, as both its
// access and its modification time.
//
// Both entries are declared in module_entries.h.  Results: 0; 1 wrong
// arguments or a section's error; 9 page description missing or short; 10
// study data or template missing or invalid; 11 work file or output error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vaslab/reports/report_sections.h"

namespace vaslab {

constexpr int kReportOk = 0;
constexpr int kReportArguments = 1;
constexpr int kReportNoPage = 9;
constexpr int kReportNoData = 10;
constexpr int kReportFileError = 11;

// The data directory of the settings ("C:\\DATA\\" or "D:\\ZUDIDUDA\\"), where
// the temporary studies and their report pages lie.
std::string data_directory_path();

// The study a page is loaded for.
struct ReportStudy {
  int exam_id = 0;
  std::string template_name;  // "00000123.sty"
  char patient_name[30] = {};
  std::int32_t start_time = 0;  // page 0's save time, 0 when missing
  bool start_known = false;     // page 0 was there
};

// A study template read whole: the header record and the step records.
struct ReportTemplate {
  std::vector<std::uint8_t> bytes;
  int steps = 0;

  // Record k (0 the header), or nullptr past the file.
  const std::uint8_t* record(int k) const {
    if (k < 0 || static_cast<std::size_t>(k + 1) * 300 > bytes.size()) return nullptr;
    return bytes.data() + static_cast<std::size_t>(k) * 300;
  }
};
// Reads "C:\STUDIES\<name>"; false when the header is short or its words at
// 34 and 36 are not 0 and 300.
bool open_report_template(std::string_view name, ReportTemplate& t);

// A study's start: the save time of its page 0; 0 with `present` false when
// that page is missing or short.
std::int32_t study_start_time(int exam, bool& present);

// Of two candidate studies at the same distance from this one, which wins.
enum class ReferenceTie { kLater, kEarlier };

// Makes the page of step `step` available (record `record` of the template
// is the current step: its label at offset 2 identifies the measurement).
// `reference` 0: the study's own page.  Otherwise the page of step
// `reference` of this study when that step's label matches; else the page
// of step `reference` of the nearest other temporary study of the same
// patient (by save time, then by file time); the page found is stored as
// this study's step (whole or not at all) unless `store` is false.  Without
// any, the own page.  True when a page is in `out`; `own_page`, when given,
// then holds the Linux path of the page read if it is one of this study's.
bool load_report_step(const ReportStudy& study, int step, int reference, int step_count,
                      const std::uint8_t* record300, ReportPage& out, ReferenceTie tie = ReferenceTie::kLater,
                      bool store = true, std::string* own_page = nullptr);

}  // namespace vaslab
