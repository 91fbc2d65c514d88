// The settings file as found on disk: any length, any bytes.  Reading must
// complete it to a whole record with every text ended, keep the data
// directory, and leave a complete file behind.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/scratch_root.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_scratch_root("fuzz-settings");
  static const std::string path = platform::map_path_create_dirs(vaslab::kHardwareSettingsFile);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && std::fwrite(data, 1, size, f) != size) abort();
  std::fclose(f);

  vaslab::HardwareSettings& s = vaslab::hardware_settings();
  std::strcpy(s.data_directory, "C:\\DATA\\");
  vaslab::read_hardware_settings();
  if (std::strcmp(s.data_directory, "C:\\DATA\\") != 0) abort();
  if (s.facility_name[29] || s.print_control[63] || s.import_text[20]) abort();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) abort();
  if (size < vaslab::kHardwareSettingsSize && st.st_size != 856) abort();
  return 0;
}
