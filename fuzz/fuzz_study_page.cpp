// A page file of any bytes: a page the check accepts must be safe to walk
// from its report start to its newest sample, as the report does.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/scratch_root.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/studies/study_page.h"

using namespace vaslab;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    fuzz_scratch_root("fuzz-page");
    std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
    return platform::map_path_create_dirs(page_file_name(3, 12));
  }();
  // Odd lengths are written as they come (the size check); even ones are cut
  // or zero-filled to a page, so that the checks behind it get exercised.
  std::vector<std::uint8_t> file(data, data + size);
  if (size % 2 == 0) file.resize(STUDY_PAGE_BYTES);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (!file.empty() && std::fwrite(file.data(), 1, file.size(), f) != file.size()) abort();
  std::fclose(f);

  // The template name is taken from the input so that the check runs on.
  std::string name(size >= 13 ? std::string(reinterpret_cast<const char*>(data), 12) : "");
  name = name.c_str();
  auto page = std::make_unique<StudyPage>();
  for (bool samples : {true, false}) {
    int r = read_study_page(3, 12, name, *page, samples);
    // A deleted side's page skips the sample test; its readers leave it out.
    const bool deleted_side = file.size() > 13 && (file[13] & kPageDeletedSide);
    if (r == 0 && samples && !deleted_side) {
      if (page->flags != 0 || page->template_name[12] || page->text[129]) abort();
      int sum = 0;
      if (page->count > 0) {
        for (int i = std::max(0, page->report_start + 1); i <= page->newest; ++i)
          sum += page->channel_1[i] + page->channel_2[i];
      }
      if (sum == 0x7FFFFFFF) std::puts("");
    }
  }
  return 0;
}
