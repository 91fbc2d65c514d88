// A step record and a data page (with a waveform block when the input is
// long enough) taken from the input, run through the section of every step
// type, with and without the page: nothing written outside the page header
// and every label inside the label pool.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/scratch_root.h"
#include "platform/paths.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/report_sections.h"

using namespace vaslab;

namespace {

constexpr int kTypes[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 14, 16, 20};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string* work = [] {
    fuzz_scratch_root("fuzz-report-step");
    static std::string paths[4];
    const char* names[4] = {"C:\\TEMP\\TEXTI.TMP", "C:\\TEMP\\TEXT.TMP", "C:\\TEMP\\GRAPHICI.TMP",
                            "C:\\TEMP\\VLINE.TMP"};
    for (int i = 0; i < 4; ++i) paths[i] = platform::map_path_create_dirs(names[i]);
    return paths;
  }();
  std::uint8_t record[300] = {};
  std::memcpy(record, data, std::min<size_t>(size, sizeof record));
  std::uint8_t page[STUDY_PAGE_BYTES] = {};
  if (size > sizeof record) std::memcpy(page, data + sizeof record, std::min(size - sizeof record, sizeof page));

  reset_formula_variables();
  auto run = std::make_unique<ReportRun>();
  if (!run->open_work_files(work)) __builtin_trap();
  decode_study_page(page, run->page->page);
  const size_t block_at = sizeof record + sizeof page;
  if ((page[13] & kPageExtendedBlock) && size > block_at) {
    // The rest of the input, repeated to a whole block.
    run->page->block.resize(EXTENDED_WAVEFORM_BYTES);
    for (size_t i = 0; i < EXTENDED_WAVEFORM_BYTES; ++i) run->page->block[i] = data[block_at + i % (size - block_at)];
  }
  run->start_time = static_cast<std::int32_t>(record[299] * 1000003);
  run->layout.fixed_rows = record[298] & 1;
  for (int type : kTypes) {
    std::memcpy(run->step, record, sizeof record);
    run->step[0] = static_cast<std::uint8_t>(type);
    for (bool loaded : {true, false}) {
      (void)run_report_section(*run, type, loaded);
      if (run->label_length > kTraceLabelPoolBytes) __builtin_trap();
    }
    set_step_report_variables(type, run->step, *run->page, run->start_time);
  }
  for (const PageTraceEntry& t : run->header.traces)
    if (t.label_1 < 0 || t.label_1 >= kTraceLabelPoolBytes || t.label_2 < 0 || t.label_2 >= kTraceLabelPoolBytes)
      if (t.x || t.y) __builtin_trap();
  return 0;
}
