// The e-mail export and the viewer hand-off.  Both copy each study's report
// page into the destination folder as a numbered ".zvt" file.  The e-mail
// export lists the copies in "c:\smtp\text" and, at the batch's end, runs
// the mail command of "c:\programs\dosmtp.bat" and shows what it said; the
// viewer export opens each copy in the outside viewer and, or, runs the
// command of "C:\PROGRAMS\VEVIDUDO.CMD".
//
// Outside programs are started without a shell: a command line is split
// into words the way the instrument's programs split theirs, so no patient,
// file or template text can run a command.  The entries are
// run_email_export and run_viewer_export (module_entries.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vaslab {

// The number of a study's copy: with option 0x08 the study id, else one
// more than the largest number a file name of the folder begins with (1 in
// an empty folder).
int export_file_number(const std::string& destination, int options, int id);

// The first line of "VEVIDUDO.CMD" with %1 the study id, %2 the folder's
// Linux path (quoted when it holds blanks), %3 the option text and %4 the
// file number; "%" and any other character after it go, and so does a "%"
// at the end.
std::string substitute_viewer_command(std::string_view line, const std::string& id, const std::string& folder,
                                      const std::string& options, int number);

// The lines of the mail result screen, which says one thing: "Send Email
// Complete." with the mail program's report of what it sent, or "MAIL Send
// Error!" with the cause: `cause` when the command could not be run at all
// ("DOS Error!"), else its exit status and the program's report.  The
// report's characters below 32 are dropped and a new line starts at each
// line feed or after 80 characters; at most 21 lines in all.  An earlier
// batch's report is never shown: the file is removed before the command.
std::vector<std::string> mail_result_lines(int result, const std::string* output, const std::string& cause = {});

}  // namespace vaslab
