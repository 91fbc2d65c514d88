// The study menu file as found on disk.  The first byte chooses whether the
// rest is the file itself (odd) or entries that get their checksums and the
// second copy here (even), so that the tree checks are reached.  A file that
// loads is a tree: every child index inside the file, every entry listed
// once, every study named by eight digits.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/scratch_root.h"
#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/screens/study_menu.h"

using namespace vaslab;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_scratch_root("study-menu");
  static const std::string path = platform::map_path_create_dirs(kStudyMenuFile);
  if (size < 1) return 0;
  std::vector<std::uint8_t> file(data + 1, data + size);
  if (!(data[0] & 1)) {
    const std::size_t n = file.size() / kStudyMenuEntrySize;
    file.resize(2 * n * kStudyMenuEntrySize);
    for (std::size_t i = 0; i < n; ++i) {
      std::uint8_t* e = file.data() + i * kStudyMenuEntrySize;
      platform::put_u16le(e + 42, study_menu_checksum(e));
      std::memcpy(file.data() + (n + i) * kStudyMenuEntrySize, e, kStudyMenuEntrySize);
    }
  }
  if (platform::write_file_atomic(path, file.data(), file.size()) != 0) abort();

  std::vector<StudyMenuEntry> table;
  int count = -1;
  if (load_study_menu_file(table, &count) != 0) {
    if (count != 0 || table.size() != static_cast<std::size_t>(kStudyMenuTableSize)) abort();
    return 0;
  }
  if (count < 0 || count >= kStudyMenuTableSize) abort();
  std::vector<int> listed(static_cast<std::size_t>(count), 0);
  if (count) listed[0] = 1;
  for (int i = 0; i < count; ++i) {
    const StudyMenuEntry& e = table[static_cast<std::size_t>(i)];
    if (e.kind != kMenuKindSubmenu) {
      if (study_menu_template_number(e) < 0) abort();
      continue;
    }
    for (int j = 0; j < e.child_count; ++j) {
      const int child = e.first_child + j;
      if (child < 1 || child >= count) abort();
      ++listed[static_cast<std::size_t>(child)];
    }
    if (study_menu_row_text(e).size() != 30) abort();
  }
  for (const int n : listed)
    if (n != 1) abort();
  return 0;
}
