// The delimited-text export: each study call gathers a study's values into
// its patient's record in "C:\TEMP\DELIMDB"; the batch's end call writes
// every record through the site's templates "C:\PROGRAMS\DELIM0.CFG" to
// "DELIM9.CFG" into the export folder, then deletes the work file.
//
// The entry is run_delimited_export (module_entries.h).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

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

// Loads the page whose values step `step` exports: its own page (link 0),
// the page of step `link` of this study when that step measures the same
// label, else the page of step `link` of the nearest other temporary study
// of the patient (a later one winning a tie), else its own.  Nothing is
// written.  True when a page is in `out`.
bool load_export_step(const ReportStudy& study, int step, int link, int step_count, const std::uint8_t* record300,
                      ReportPage& out);

// Writes samples (start + 1) to newest of the page's first channel through
// a W text: outside a conversion '^' ends the sample and other bytes are
// written; '\' opens a conversion that takes flags, width and precision and
// ends with D (the sample), d (the sample / 255), I (1-based number) or i
// (0-based).  Indexes stay within the page's samples whatever it holds.
void write_waveform_samples(std::FILE* out, std::string_view text, const StudyPage& page);

}  // namespace vaslab
