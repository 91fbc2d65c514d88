// Study-type identification: an archived study is a page description that
// no longer names the template that produced it.  The identification walks
// the templates of the study menu in menu order and takes the first whose
// steps account for every waveform, pressure, line, graphic and text item of
// the page and whose field labels agree with the patient header.
//
// The same matching, run with an archived study as source and a new
// temporary study as target, copies an archived patient's history.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vaslab/core/screens/study_menu.h"

namespace vaslab {

// Archive files are a header and a few hundred kilobytes of items and
// waveform; anything far larger is not a page description.
constexpr std::size_t kMaxStudyBytes = 16u << 20;

// Results of the identification and the history copy.
constexpr int kRiprocDone = 0;
constexpr int kRiprocFileFailed = 4;
constexpr int kRiprocNoMemory = 6;
constexpr int kRiprocUnusable = 9;

// Identifies the study file at a Windows path.  0 when the search ran (the
// template number, or 0 when none matched, is left under the step slot of
// the comm area), 9 when the study file or the menu is unusable, 6 without
// memory.
int riproc_match_study_type(const char* study_path);

// Reads and checks "c:\studies\uconfig.mnu" into `table`: its entry count,
// or -1 after a line in the reindex log saying what is wrong.  Both copies
// must agree, every checksum hold, and the walk from the root reach every
// entry exactly once.
int load_study_menu(std::vector<StudyMenuEntry>& table);

// Loads "C:\STUDIES\<name>" (record 0 and its steps) for the matching: 0
// when loaded, 1 on a short read, -1 when it cannot be opened.
int load_template_records(const char* template_file_name);

// Copies the history of the archived study at `archived_path` into the
// temporary study `exam_id` of template `template_name`: patient name, ID
// and the labelled header fields, and each note value as a data page of its
// step.  0 on success, 4 a file failure, 6 no memory, 9 an unusable archived
// study.
int update_study_history(const char* exam_id, const char* archived_path, const char* template_name);

// Prints "<section> match: <template>" for each section passed.
void set_riproc_trace(bool on);

// The archive tools' module entry: {path, "dbindex"} runs the reindexing
// screen; {path, "riproc", FILE} the identification, with a fourth argument
// printing the trace and the results; {path, "riproc", FILE, EXAM, TEMPLATE}
// the history copy.  1 for anything else.
int run_archive_command(int argc, char* argv[]);

}  // namespace vaslab
