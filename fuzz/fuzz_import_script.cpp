// A button script of any bytes in a scratch root, loaded and freed: every
// warning line is 80 bytes, one load writes a bounded number of them, and
// every button kept has an id in range and texts within their limits.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/scratch_root.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/records/import_buttons.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_scratch_root("fuzz-import-script");
  static const std::string script = platform::map_path_create_dirs("C:\\PROGRAMS\\impbtns.dat");
  static const std::string errors = platform::map_path_create_dirs("C:\\IMPORT\\import.err");
  vaslab::HardwareSettings& hw = vaslab::hardware_settings();
  std::strcpy(hw.import_control, "C:\\PROGRAMS\\DICOMMWL");
  std::strcpy(hw.import_path, "C:\\IMPORT\\");
  if (platform::write_file_atomic(script, data, size) != 0) abort();

  vaslab::ImportButtonSet set;
  if (!vaslab::load_import_buttons("C:\\IMPORT\\", set)) abort();
  const auto written = platform::file_size(errors);
  const std::uint64_t bytes = written ? *written : 0;
  if (bytes % 80 != 0 || bytes > 80 * (vaslab::kImportWarningCap + 1)) abort();
  if (set.warnings != (bytes != 0)) abort();
  if (set.auto_button) {
    const auto& a = set.buttons[set.auto_button - 1];
    if (!a || a->auto_period == 0) abort();
  }
  for (int i = 0; i < vaslab::kImportButtons; ++i) {
    auto& b = set.buttons[i];
    if (!b) continue;
    if (b->id != i + 1 || b->text.size() > 127) abort();
    for (auto& in : b->inputs) {
      if (!in) continue;
      if (in->prompt.size() > 80 || in->default_text.size() > 127 || in->disallow.size() > 127) abort();
      if (in->max_length < 1 || in->max_length > 80) abort();
    }
    vaslab::free_import_button(b);
  }
  return 0;
}
