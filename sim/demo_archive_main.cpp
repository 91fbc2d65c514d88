// demo-archive: puts a few archived sample studies into the demo machine's
// archive under $VASLAB_ROOT, saved through the archive's own save (numbered
// file, counter and database record), so that the archive screens and the
// diskette backup have something to work on.  Only an empty archive gets
// them: a machine with studies of its own is left alone.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/settings.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/reports/page_description.h"

namespace {

using namespace vaslab;

struct Sample {
  const char* title;
  const char* name;
  const char* id;
  const char* date;
};
constexpr Sample kSamples[] = {
    {"Lower Arterial Doppler", "MILLER, ANNA", "100231", "02/03/2026 09:12 AM"},
    {"ABI Resting", "OKAFOR, JAMES", "100245", "02/05/2026 10:40 AM"},
    {"Segmental Pressures", "LINDQVIST, EVA", "100260", "02/11/2026 02:05 PM"},
    {"Digit PPG", "HASHEMI, REZA", "100277", "02/19/2026 11:30 AM"},
    {"Lower Arterial Doppler", "NOWAK, PIOTR", "100281", "03/02/2026 08:55 AM"},
    {"PVR Studies", "SANTOS, MARIA", "100299", "03/09/2026 03:20 PM"},
    {"ABI Resting", "BERG, THOMAS", "100304", "03/16/2026 09:45 AM"},
    {"Segmental Pressures", "CHEN, LI", "100318", "03/23/2026 01:10 PM"},
};

template <std::size_t N>
void put(char (&field)[N], const char* text) {
  std::snprintf(field, N, "%s", text);
}

}  // namespace

int main() {
  read_hardware_settings();
  if (last_archive_number(1) > 0) return 0;
  const HardwareSettings& hw = hardware_settings();
  const std::string data(hw.data_directory, strnlen(hw.data_directory, sizeof hw.data_directory));
  std::mt19937 rng(2026);
  int number = 0;
  for (const Sample& s : kSamples) {
    // A page header and a waveform block of recorded traces' worth of bytes.
    PageDescriptionHeader h{};
    put(h.title, s.title);
    put(h.patient_name, s.name);
    put(h.patient_id, s.id);
    put(h.exam_date, s.date);
    std::vector<std::uint8_t> page(kPageHeaderBytes + kPageWaveformBytes);
    encode_page_header(h, page.data());
    for (std::size_t i = kPageHeaderBytes; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(rng());
    const std::string name = std::to_string(++number + 900) + ".PDF";
    if (platform::write_file_atomic(platform::map_path_create_dirs(data + name), page.data(), page.size()) != 0 ||
        archive_temp_study(name.c_str()) != kSaveDone) {
      std::fprintf(stderr, "demo-archive: %s could not be archived\n", name.c_str());
      return 1;
    }
  }
  return 0;
}
