// The arguments every export module receives from the export dispatcher:
// {program text, exam id or "END", destination folder, option byte}.
// One batch is the study calls since the last "END" call; each module keeps
// what it needs between them in work files under C:\TEMP\.
#pragma once

#include <string>

namespace vaslab {

struct ExportArgs {
  bool end = false;         // the batch's finishing call
  int id = -1;              // the study's exam id; -1 on the finishing call
  std::string id_text;      // the exam id as the dispatcher passed it
  std::string destination;  // the export folder (a Windows path)
  int options = 0;          // the option bits; each module reads only its own
};

// The highest exam id a module accepts: the delimited-text and sibling
// database exports number up to 999; the others keep 999 out as well,
// because their numbered output files have three digits.
inline constexpr int kExportIdLimit = 999;
inline constexpr int kNumberedExportIdLimit = 998;

// Reads the four export arguments into `out`.  Returns 0, or 1 (the modules'
// "bad arguments") when the count is not 4, the id is not a decimal number
// from 0 to `max_id`, the destination is empty (it would name the program's
// own folder) or the option text is not a decimal number.
int parse_export_args(int argc, char* argv[], int max_id, ExportArgs& out);

// A file of the destination folder: the folder with a separator when it has
// none, then the name.
std::string export_file(const std::string& destination, const std::string& name);

// Copies a file (Windows paths) as platform::copy_file_atomic() does, with
// `make_folders` the folders of `win_to` made as needed: 0, else the
// negative errno, with the
// file it concerns noted as the failure's cause (platform/failure_cause.h):
// the source when it is not there to read, else the copy.
int copy_export_file(const std::string& win_from, const std::string& win_to, bool make_folders);

}  // namespace vaslab
