// The settings file as found on disk: any length, any bytes.  Reading must
// complete it to a whole record with every text ended, keep the data
// directory, and leave a complete file behind.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "vaslab/core/settings.h"

namespace {

std::string scratch_root() {
  // tmpfs when there is one: the write-back flushes to disk every time.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string t = std::string(base) + "/vaslab-fuzz-settings-XXXXXX";
  if (!mkdtemp(t.data())) abort();
  platform::set_root(t);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string root = scratch_root();
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
