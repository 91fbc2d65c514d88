// The list screens over the study list: the study directory, which saves
// temporary studies into the archive; the archive screen, which searches,
// views and deletes archived studies and starts a study with an archived
// study's history; and the temporary files screen, which reopens, views and
// deletes temporary studies.
#pragma once

#include <cstdint>
#include <string>

#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/records/temp_studies.h"

namespace vaslab {

// From the review screen: the temporary studies with their save actions.
int study_directory_screen();
// From "mastermn" with any letter but "M" and "P".
int archive_screen();
// From "mastermn" "P"; 8 when a reopened study was left through its Exit.
int temp_files_screen();

// Button codes shared by the three screens (and the export screen's list).
constexpr int kListUp = 100;
constexpr int kListDown = 101;
constexpr int kListArea = 109;

// The list of these screens and the export screen: five rows from y 66.
constexpr int kListTop = 66;
constexpr int kListRowHeight = 42;

// The file name of a row of the study list; empty outside the list.
std::string list_row_file(int row);
// The worklist exchange files of a listed study are made current around
// each report, view, print or export of it, and cleared after.
void use_worklist_files_of(const std::string& file);
void clear_worklist_files();
// The report of one temporary study; false (the message shown) when it
// failed.
bool make_temp_report(const std::string& file);
// Reports and views a temporary study (the message shown when the report
// fails).
void view_temp_study(const std::string& file);
// The five visible rows, the selected one highlighted, and the heads of
// their columns.
void draw_list_rows();
void draw_list_heads(const char* second_column);
// Up, down and a touch in the list area (`area_code`) move the selection and
// redraw the rows; true when the event was one of them.
bool list_event(int code, int area_code);
// The next press; every press but the list's waits for its release.
int next_list_event(ButtonRecord* table, int area_code);
void set_button_state(ButtonRecord* table, int code, std::uint8_t state);
// The same patient: the first 29 characters of the rows' texts (the name
// column) equal without regard to case.
bool same_patient(const StudyListRow& a, const StudyListRow& b);

// The study directory.
constexpr int kDirSavePage = 102;
constexpr int kDirSavePatient = 103;
constexpr int kDirSaveAll = 104;
constexpr int kDirView = 107;
constexpr int kDirCancel = 108;

// The archive screen.
constexpr int kArcName = 104;
constexpr int kArcId = 105;
constexpr int kArcDate = 106;
constexpr int kArcView = 108;
constexpr int kArcPrint = 102;
constexpr int kArcDelete = 103;
constexpr int kArcSearchToggle = 110;
constexpr int kArcUpdateHistory = 111;
constexpr int kArcExit = 107;

// The temporary files screen.
constexpr int kTempPrint = 103;
constexpr int kTempExport = 108;
constexpr int kTempDelete = 104;
constexpr int kTempView = 107;
constexpr int kTempEdit = 105;
constexpr int kTempExit = 110;

}  // namespace vaslab
