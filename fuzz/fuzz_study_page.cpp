// A page file of any bytes: a page the check accepts must be safe to walk
// from its report start to its newest sample, as the report does.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/paths.h"
#include "vaslab/core/settings.h"
#include "vaslab/studies/study_page.h"

using namespace vaslab;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    std::string t = "/tmp/vaslab-fuzz-page-XXXXXX";
    if (!mkdtemp(t.data())) abort();
    platform::set_root(t);
    std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
    return platform::map_path_create_dirs(page_file_name(3, 12));
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && std::fwrite(data, 1, size, f) != size) abort();
  std::fclose(f);

  // The template name is taken from the input so that the check runs on.
  std::string name(size >= 13 ? std::string(reinterpret_cast<const char*>(data), 12) : "");
  name = name.c_str();
  auto page = std::make_unique<StudyPage>();
  for (bool samples : {true, false}) {
    int r = read_study_page(3, 12, name, *page, samples);
    if (r == 0 && samples) {
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
