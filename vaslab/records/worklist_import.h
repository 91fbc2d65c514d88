// The worklist import screen, "C:\PROGRAMS\DICOMMWL": queries the outside
// worklist program "C:\PROGRAMS\KorvMWL.exe" with the buttons of the button
// script, lists the patients it returns, shows their details, and makes the
// chosen patient's files the import folder's "import.dat" and "export.dat".
#pragma once

#include <string>
#include <vector>

namespace vaslab {

// argv {Import Control, Import Path, option number, "\"" Import Text "\""};
// at least four strings.  0 after Select or Cancel, 1 when fewer arguments
// are given or the button script cannot be opened.
int dicommwl_main(int argc, char* argv[]);

// Asks the inputs of query button 1..3 and runs the worklist program with
// them: its exit status, 0 when an input was cancelled, -2 for a button the
// script does not have.  The result list is read again afterwards.
int run_worklist_query(int button_number);

// The paged viewer of 80-byte lines, for "*.inf" tables and error files.
void show_text_file(const std::string& win_path);

// What the viewer showed last: its title line, then its lines (for tests).
const std::vector<std::string>& last_viewer_page();
// What the list showed last: its rows as drawn, or the line that says that
// the query found nobody (for tests).
const std::vector<std::string>& last_list_page();

}  // namespace vaslab
