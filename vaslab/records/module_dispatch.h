// The module entry convention and the dispatch of modules by program path.
//
// Study, report, view, export and worklist modules keep the calling form of
// the stand-alone programs they replace: an argument count, the argument
// strings (the first is the program path word) and a signed 16-bit result.
// Numbers travel as decimal text.  The records screens choose a module by its
// path and turn its result into a text on the message line.
#pragma once

#include <string>
#include <string_view>

namespace vaslab {

using ModuleEntry = int (*)(int argc, char* argv[]);
using ViewEntry = int (*)(int argc, char* argv[], int colour);

// The module registered under a program path, compared exactly; nullptr when
// there is none.
ModuleEntry find_module(std::string_view path);
// The export module whose path word is a prefix of `program` without regard
// to case (the configured program text may carry more after it); nullptr when
// none matches.
ModuleEntry find_export_module(std::string_view program);
// Replaces the module registered under `path` (a path of the table) and
// returns the one it replaces; a test installs its recorder this way.
// nullptr restores the program's own module.
ModuleEntry set_module(std::string_view path, ModuleEntry entry);
ViewEntry set_view_module(ViewEntry entry);

// Puts `prefix` and the shared text of `result` on the message line:
//   -1 "DOS: <the system's text of errno>." (the result becomes the negated
//   system error number),
//   1 "Internal error.", 9 "No patient name, etc...",
//   10 "No waveforms or pressures.", 11 "File error.", others nothing;
// a failure's text is followed by the cause the module noted (the file or
// folder and the system error, platform/failure_cause.h), which is taken.
// Returns the result.
int set_result_message(const char* prefix, int result);

// A study name without its extension: "12.PDF" gives "12", "18" stays "18".
std::string strip_extension(std::string_view name);

// Runs the study module of a template module type with the current study's
// template number and exam id.  Pair types (1, 5, 11) first move `current`
// to the parity of `first`.  Types without a path give 0 and call nothing.
int run_step_module(int type, int first, int count, int current);

// Calls the study module whose path equals `path` exactly with the six
// strings {path, template number, exam id, first, count, current}; -1 without
// a call for any other path.
int run_legacy_program(const char* path, const char* template_number, const char* exam_id,
                       int first, int count, int current);

// The report of a temporary study (`file_name` the exam id and ".PDF"), and
// the report of one step.  The message line gets "iproc error:" and the
// result's text; nonzero means failure.
int run_iproc(const char* file_name);
int run_sprint(const char* file_name, int step);

// Runs the export module of the current export destination for one study
// (or "END.END"); 11 without a call when its program or path is empty or
// names no module.  Message prefix "export error:".
int run_export_program(const char* file_name);

// Views a page file: in the data directory when `in_data_directory` is
// nonzero, else in archive path 1.  The message line is not touched.
int run_vproc(const char* file_name, int in_data_directory);

}  // namespace vaslab
