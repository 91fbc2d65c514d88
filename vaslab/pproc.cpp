// The print processor: renders the page file named by its first argument to
// PostScript in the file named by its second (Windows paths of the
// instrument's drives, or absolute Linux paths).  Started as PPROC it prints
// in colour, as PPROCM in black and white.  The exit status is 0, 1 for a
// wrong command line, or the page code of the PDF export (111 the page file
// does not open, 112 it cannot be read, 113 it cannot be rendered or the
// output cannot be written, 117 it is too short); a failure is told on the
// standard error with the file it concerns and the system's error.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/failure_cause.h"
#include "platform/paths.h"
#include "vaslab/reports/postscript_page.h"

namespace {

// "C:\PROGRAMS\PPROCM", ".../PPROCM.EXE": the name without folder or extension.
std::string_view program_stem(std::string_view path) {
  if (const auto slash = path.find_last_of("\\/"); slash != std::string_view::npos) path.remove_prefix(slash + 1);
  if (const auto dot = path.find('.'); dot != std::string_view::npos) path = path.substr(0, dot);
  return path;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PAGE-FILE OUTPUT-FILE\n", argc > 0 ? argv[0] : "pproc");
    return 1;
  }
  const bool mono = platform::same_name(program_stem(argv[0]), "PPROCM");
  const int result = vaslab::render_page_file_postscript(argv[1], argv[2], mono ? 0 : 1);
  if (result != 0) {
    const std::string cause = platform::take_failure_cause();
    std::fprintf(stderr, "pproc: %s to %s: error %d%s%s\n", argv[1], argv[2], result, cause.empty() ? "" : ": ",
                 cause.c_str());
  }
  return result;
}
