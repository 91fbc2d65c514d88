// Temporary studies: the studies in progress, a handful of files each in the
// data directory named by a small exam id N: the 0-idf page "0.N", the page
// description "N.PDF", one data page "<step>.N" per captured step, and the
// worklist copies "N.imp" and "N.exp".  At most five live at a time.
//
// Also the study list the records, print and export screens share (the
// temporary studies or an archive search) and the plan of the open study.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vaslab/reports/page_description.h"
#include "vaslab/studies/study_page.h"

namespace vaslab {

constexpr int kMaxTempStudies = 5;

// --- The study list ---------------------------------------------------------
// A file name (N followed by ".PDF" here, the archive file name in an archive
// search) and the display text "%-29s\263%-29s\263%-20s": name, study
// caption, exam date.  The date column starts 60 characters into the text.
struct StudyListRow {
  char file_name[13];
  char text[81];
};
static_assert(sizeof(StudyListRow) == 94);
constexpr int kStudyListRows = 100;
constexpr int kStudyListVisible = 5;
constexpr int kDateColumn = 60;

constexpr int kListArchive = 0;
constexpr int kListTemporary = 1;

struct StudyList {
  StudyListRow rows[kStudyListRows];
  std::int16_t count;
  std::int16_t selected;
  std::int16_t first_visible;
  std::int16_t mode;  // kListTemporary or kListArchive
};
StudyList& study_list();

// --- The plan of the open study ----------------------------------------------
// One row per template step that the study runs.  `text` is drawn as one:
// five status characters, the bar 0xB3, the step caption (29) and a NUL.
struct StudyPlanRow {
  std::int16_t step;    // the step's record number in the template
  std::uint8_t type;    // module type
  char text[36];
};
constexpr int kMaxPlanRows = 200;
constexpr int kStatusChars = 5;
StudyPlanRow* study_plan();
int study_plan_count();

// --- The open study ------------------------------------------------------------
// Its template number, template file name ("00000123.sty") and exam id as
// text; the study caption (record 0 of the template from offset 2) and the
// date text made when it was created ("MM/dd/yyyy hh:mm tt").
const char* current_template_number();
const char* current_template_name();
const char* current_exam_id();
void set_current_study(const char* template_number, const char* exam_id);
const char* current_study_caption();
const char* study_date_text();

// The page description header of the open study, as the file's bytes.
std::uint8_t* study_header();

// The data page last read by read_step_page().
StudyPage& step_page();

// --- Operations ---------------------------------------------------------------
// Makes a temporary study of a template.  Mode 0 writes no page description,
// mode 1 writes the header in memory as its header, mode 2 a fresh header
// and the history of the archived study selected in the list.  0 with the
// exam id in `exam_id` (when given); 4 after the message has been shown.
int create_temp_study(int mode, const char* template_number, int* exam_id);

// The lowest free exam id 1..59 (else the highest in use plus one, at most
// 999); appends and selects its row.  An id is free when no row names it and
// no file of the data directory belongs to it: pages left without their
// page description would otherwise be deleted as the new study's.
int next_temp_exam_id();

// Rebuilds the list from the data directory: studies whose first page or
// template is gone are deleted, files of no study too; sorted by date.
void scan_temp_studies();

// Deletes a study's files ("3.PDF": 3.PDF, 3.imp, 3.exp and every "*.3").
// False when its page description could not be deleted.
bool delete_temp_study(const char* file_name);

// Loads the plan from a template file.  The row count; -1 when the file is
// missing or short; -2 when a record's checksum is wrong.  With `fill_status`
// nonzero the status of each step whose page exists is filled in.
int load_study_plan(const std::string& template_path, int fill_status);

// 0 when the 16-bit sum of bytes 0..297 of a template record is the word at
// 298, else 1.
int check_step_record(const std::uint8_t* record300);

// Reads the page of plan row `row` of study `exam_id` into step_page(); 1 when
// the whole page was read.
int read_step_page(int row, const char* exam_id);
// Whether plan row `row` of study `exam_id` has a whole page on disk (what
// decides that a step was captured); step_page() is left alone.
bool step_page_on_disk(int row, const char* exam_id);
// The status characters of a plan row from step_page().
void format_waveform_step_status(int row);
void format_pressure_step_status(int row);
void format_text_step_status(int row);
// A row's status filled again from its page on disk (blank without one),
// and the note headings' marks settled after it.
void refill_step_status(int row);
// A note heading (a notes line that takes no answer) holds no page of its
// own: it is marked done once a line of its notes holds an answer.
void settle_note_headings();

// The first 114 header bytes of a file of the data directory: patient name,
// ID and date.  0 (a short file reads as zeros), -1 when it does not open.
struct HeaderFields {
  char name[30];
  char id[30];
  char date[22];
};
int read_temp_study_header(const char* file_name, HeaderFields& out);

// The template number carried by the first page of a study ("3.PDF"); 0 when
// it has none.
int read_exam_template_number(const char* file_name);

// The sort key of a date text "MM/dd/yyyy hh:mm AM": year, month, day, hour,
// minutes, with 12 AM first and PM after AM.  12 characters and a NUL.
void make_date_sort_key(const char* date, char* key13);
// < 0, 0, > 0 as row a sorts before, with or after row b.
int compare_rows_by_date(const StudyListRow& a, const StudyListRow& b);

}  // namespace vaslab
