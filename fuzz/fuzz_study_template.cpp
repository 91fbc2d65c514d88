// A template file of any bytes: every record decodes, prefixes read through
// the file as the modules read them, and decoded values stay in range.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/scratch_root.h"
#include "platform/paths.h"
#include "vaslab/studies/study_template.h"

using namespace vaslab;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_scratch_root("fuzz-template");
  static const std::string win = template_file_name("42");
  static const std::string path = platform::map_path_create_dirs(win);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && std::fwrite(data, 1, size, f) != size) abort();
  std::fclose(f);

  std::uint8_t rec[kTemplateRecordSize];
  if (read_template_record(win, 0, sizeof rec, rec)) {
    StudyHeader h;
    decode_study_header(rec, h);
    int n = template_step_count(h);
    if (n < 0 || n > kMaxTemplateSteps || h.title[29]) abort();
    (void)template_record_checksum(rec);
  }
  const int records = static_cast<int>(size / kTemplateRecordSize) + 1;
  for (int step = 1; step <= records && step <= kMaxTemplateSteps; ++step) {
    DopplerStep d;
    if (read_doppler_step(win, step, kStudyStepClass, d) == 0 ||
        read_doppler_step(win, step, kDiagnosticsStepClass, d) == 0) {
      if (d.report_window < 0 || d.report_window > 2960 || d.label[29]) abort();
      convert_old_numbering(d);
      if (d.old_numbering & 1) abort();
    }
    PressureStep p;
    if (read_pressure_step(win, step, p) == 0) convert_old_numbering(p);
  }
  return 0;
}
