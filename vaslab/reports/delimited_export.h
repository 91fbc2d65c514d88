// The delimited-text export: each study call gathers a study's values into
// its patient's record in "C:\TEMP\DELIMDB"; the batch's end call writes
// every record through the site's templates "C:\PROGRAMS\DELIM0.CFG" to
// "DELIM9.CFG" into the export folder, then deletes the work file (kept,
// with result 11, when the output could not be written whole).
//
// The entry is run_delimited_export (module_entries.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "vaslab/reports/export_args.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/studies/study_page.h"

namespace vaslab {

// One patient's gathered values, stored back to back in the work file in
// the order the patients first appeared in the batch.  A row holds
// NUL-ended strings one after the other; its used part ends at the first
// empty one.  Template field n addresses row n - 1.
constexpr std::size_t kDelimitedRowBytes = 81;
constexpr int kDelimitedRows = 255;
struct DelimitedRecord {
  char key[30];        // the patient name
  char selection[10];  // byte k is '0' + k when template k applies
  char rows[kDelimitedRows][kDelimitedRowBytes];
};
static_assert(sizeof(DelimitedRecord) == 20695);

// The DICOM hand-off's record, in the same work file: no step names, rows
// 0..199 from the steps, 200..208 the header, 209 the study type.
constexpr int kDicomRows = 210;
struct DicomRecord {
  char key[30];
  char selection[10];
  char rows[kDicomRows][kDelimitedRowBytes];
};
static_assert(sizeof(DicomRecord) == 17050);

// Gathers study `args.id` into its patient's DicomRecord.  `stamp` starts as
// the page description's packed time and is raised to each own page's;
// `write_stamp` runs before the work file is replaced (its non-zero result
// is returned and the old work file kept).  0, 9, 10 or 11.
int gather_dicom_study(const ExportArgs& args, std::uint32_t& stamp,
                       const std::function<int(std::uint32_t)>& write_stamp);

// What the DICOM text of one study said about it, for the progress screen.
struct DicomStudyInfo {
  std::string name, id, type;
};

// Appends the values of every record of the patient of "<n>.zvt" (in
// `destination`) through "C:\PROGRAMS\DICOM0.CFG".."DICOM9.CFG" to
// "<n>.txt" there.  0, 9 (page description missing or short), 10, or 11
// when the text could not be written whole.
int write_dicom_text(const std::string& destination, const std::string& zvt_name, DicomStudyInfo& info);

// Where a step type keeps, in its 300-byte record, the step whose page it
// exports (link), the value row it fills and its gain group; -1 where it has
// none.  nullptr for a type that exports nothing.
struct ExportStepFields {
  int type, link, row, group;
};
const ExportStepFields* export_step_fields(int type);

// The first page of a study in the data directory (any step), as a Linux
// path; empty when there is none.
std::string first_export_page(const std::string& data, const std::string& exam);

// The first reads of an export's study call.  The study's page description
// header from the data directory: 0, or 9 when it is missing or short.
int read_export_header(const ExportArgs& args, PageDescriptionHeader& header);
// The study as load_export_step needs it, and its template through the
// study's first page: 0, or 10 when there is no page or the template is
// missing or refused.
int open_export_study(const ExportArgs& args, const PageDescriptionHeader& header, ReportStudy& study,
                      ReportTemplate& tpl);

// Loads the page whose values step `step` exports: its own page (link 0),
// the page of step `link` of this study when that step measures the same
// label, else the page of step `link` of the nearest other temporary study
// of the patient (a later one winning a tie), else its own.  Nothing is
// written.  True when a page is in `out`; `own_page` as for load_report_step.
bool load_export_step(const ReportStudy& study, int step, int link, int step_count, const std::uint8_t* record300,
                      ReportPage& out, std::string* own_page = nullptr);

// Writes samples (start + 1) to newest of the page's first channel through
// a W text: outside a conversion '^' ends the sample and other bytes are
// written; '\' opens a conversion that takes flags, width and precision and
// ends with D (the sample), d (the sample / 255), I (1-based number) or i
// (0-based).  Indexes stay within the page's samples whatever it holds.
void write_waveform_samples(std::FILE* out, std::string_view text, const StudyPage& page);

}  // namespace vaslab
