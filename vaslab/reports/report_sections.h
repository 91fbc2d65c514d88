// The report sections: what each step of a study template places on the
// report page -- a trace with its two labels, a pressure, a text, a picture,
// a note, symptom times or lines -- and the report variables it sets for the
// template's formulas.
//
// A section reads the current 300-byte step record and the step's data page
// (where the step has one), writes into the page header held by the run and
// appends text, picture and line items to the run's work files, whose
// records are already in their final page form.  Every index taken from a
// page or a record is bounded: labels are cut at the end of the 800-byte
// label pool, samples past the 2960 trace samples are not copied.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vaslab/reports/page_description.h"
#include "vaslab/studies/study_page.h"

namespace vaslab {

// Step types of the templates that the report knows.
enum ReportStepType : int {
  kStepDualPvr = 1,
  kStepSinglePressure = 2,
  kStepText = 3,
  kStepPicture = 4,
  kStepDualWaveform = 5,
  kStepDoppler = 6,
  kStepFormulas = 7,
  kStepSinglePvr = 8,
  kStepSingleWaveform = 9,
  kStepNotes = 10,
  kStepDualPressure = 11,
  kStepVrt = 12,
  kStepThermal = 14,
  kStepSymptoms = 16,
  kStepLines = 20,
  kStepEnd = 255,
};

// A data page as the report reads it: all 12013 bytes, without the sample
// checks of the study modules (notes and symptom pages use those words
// otherwise), and the 236802-byte waveform block when the page announces
// one and holds it.
struct ReportPage {
  StudyPage page{};
  std::vector<std::uint8_t> block;  // empty: no block

  bool has_block() const { return !block.empty(); }
};

// Reads a page file (Linux path).  False when it is missing, shorter than a
// page, or announces the block and ends inside it.  A page that announces
// the block but ends right after its 12013 bytes (the older dual and Doppler
// pages) is read without it: its flag bit is cleared in memory.
bool read_report_page(const std::string& linux_path, ReportPage& out);

// Where the sections put their rows: the template's rows for the whole
// report, the fixed rows for the page of one step.
struct ReportLayout {
  bool fixed_rows = false;
  int previous_dual_x = 2401;  // no page x equals it

  int trace_y(int type, int x, int record_y);
  int pressure_y(int type, int x, int record_y);
  int note_row(int record_row) const { return fixed_rows ? 205 : record_row; }
  int thermal_y(int record_y) const { return fixed_rows ? 205 : record_y; }
  int first_running_row(int running) const { return fixed_rows && running < 0 ? 205 : running; }
};

// The state of one report run.  Item counts live in the header.
struct ReportRun {
  ReportRun();
  ~ReportRun();
  ReportRun(const ReportRun&) = delete;
  ReportRun& operator=(const ReportRun&) = delete;

  PageDescriptionHeader header{};
  std::int32_t start_time = 0;  // the study's page 0 save time, 0 when unknown
  int pool_length = 0;          // text pool: offset of the next string
  int label_length = 0;         // trace label pool: offset of the next label
  int line_count = 0;
  bool waveform = false;        // a reported page carried the waveform block
  int waveform_count = 0;       // count of the waveform link (1 once a Doppler trace used it)
  int running_row = -1;         // note and symptom rows stacking by 50
  std::uint8_t step[300] = {};  // the current step record
  std::unique_ptr<ReportPage> page;
  std::unique_ptr<PageWaveformBlock> block;  // the page's spectra, filled by Doppler traces
  ReportLayout layout;

  // The four work files, in the order text items, text pool, picture
  // items, line items.
  std::FILE* files[4] = {};
  bool open_work_files(const std::string work_paths[4]);
  void close_work_files();

  // Appenders: false when the work file could not be written.
  bool add_text(int x, int y, int attribute, std::string_view text);
  bool add_graphic(const PageGraphicItem& g);
  bool add_line(const PageLineItem& l);
};

// Runs the section of a step type on run.step (types 1, 2, 3, 4, 5, 6, 8,
// 9, 10, 11, 12, 14, 16, 20).  The trace and pressure sections are only
// called with a loaded page; notes, thermal and symptom times are told
// whether one was loaded.  0, or 1 on a failed work-file write, a picture
// of a kind other than 0, or a note of mode 2.
int run_report_section(ReportRun& run, int type, bool page_loaded);

// Sets the report variables of a trace or pressure step exactly as its
// section does (the export templates read them without building a page).
void set_step_report_variables(int type, const std::uint8_t* record300, const ReportPage& page,
                               std::int32_t start_time);

// What the exports write of a step, through the sections' own tables and
// measures.  The gain text of a gain group (0..2) and gain index, and the
// sweep text, without the padding the report labels give them; "" outside
// the tables.
std::string trace_gain_text(int group, int gain);
std::string_view trace_sweep_text(int code);
// The pulse amplitude of a trace step's page as its label shows it ("%02d",
// "**" when the sweep has no window or the trace is too short).
std::string trace_amplitude_text(int type, const std::uint8_t* record300, const ReportPage& page);
// A pressure page's text: its own, else the second-channel value at the
// newest index ("***" beyond three digits).
std::string page_pressure_text(const StudyPage& page);
// The formatted text of a text step; nullopt when its condition is zero,
// unless `unconditional` (the DICOM export writes it whatever it gives).
std::optional<std::string> text_step_text(const std::uint8_t* record300, bool unconditional = false);
// The formulas of a thermal step (with its page, when one was loaded) and
// of a line step, evaluated as their sections do.
void evaluate_thermal_formulas(const std::uint8_t* record300, const StudyPage* page, std::int32_t start_time);
void evaluate_line_formulas(const std::uint8_t* record300);

// The time of a step in seconds from the study's start, from the page's
// save time and its unreported newest samples; 0 when either time is 0.
std::int64_t report_step_time(const StudyPage& page, std::int32_t start_time);

// Names of the symptom slot sides (0..2) and sites (0..6); "" outside.
std::string_view symptom_side_name(int side);
std::string_view symptom_site_name(int side, int site);

}  // namespace vaslab
