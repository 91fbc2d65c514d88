// archive-tool: the archive's tools without the screen, on the drive root of
// $VASLAB_ROOT and its settings.
//   archive-tool riproc FILE [trace]          identifies a study file's type
//   archive-tool history FILE EXAM TEMPLATE   copies its history into a study
//   archive-tool reindex quick|full|compress  repairs the archive database
// FILE is a Windows path ("C:\ARCHIVE\12"). The reindex prints the counters
// its screen shows; problems go to C:\TEMP\dbindex.log as on the screen.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "vaslab/core/settings/settings.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/study_type.h"

namespace {

using namespace vaslab;

int usage() {
  std::fprintf(stderr,
               "usage: archive-tool riproc FILE [trace]\n"
               "       archive-tool history FILE EXAM TEMPLATE\n"
               "       archive-tool reindex quick|full|compress\n");
  return 2;
}

void print(const std::vector<ReportLine>& lines) {
  for (const auto& l : lines)
    if (!l.text.empty()) std::printf("%s\n", l.text.c_str());
}

int reindex(const std::string& how) {
  if (how == "quick") {
    QuickReindexCounts c;
    const bool ok = quick_reindex(c);
    print(quick_reindex_report(c));
    if (!ok) std::printf("Failed, Please Full Reindex.\n");
    return ok ? 0 : 1;
  }
  long about = last_archive_number(1);
  if (how == "compress") {
    CompressCounts c;
    compress_archive(c);
    print(compression_report(c));
    about = c.compressed;
  } else if (how != "full") {
    return usage();
  }
  FullReindexCounts c;
  full_reindex(c, about);
  print(full_reindex_report(c));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  read_hardware_settings();
  const std::string what = argv[1];
  std::vector<char*> args{const_cast<char*>("archive"), const_cast<char*>("riproc")};
  if (what == "riproc" && (argc == 3 || argc == 4)) {
    args.insert(args.end(), argv + 2, argv + argc);
    return run_archive_command(static_cast<int>(args.size()), args.data());
  }
  if (what == "history" && argc == 5) {
    args.insert(args.end(), argv + 2, argv + argc);
    const int r = run_archive_command(static_cast<int>(args.size()), args.data());
    if (r != 0) std::fprintf(stderr, "archive-tool: history copy failed (%d)\n", r);
    return r;
  }
  if (what == "reindex" && argc == 3) return reindex(argv[2]);
  return usage();
}
