// The query buttons of the worklist import screen, configured by the hand-
// written tag script "c:\programs\impbtns.dat":
//
//   <BUTTON ID=1 TEXT="Today" ENABLED=TRUE AUTO=10>
//     <USERINPUT ID=0 MAXLENGTH=20 REQUIRED=TRUE DISALLOW="*?">Name: </USERINPUT>
//   </BUTTON>
//
// The reader is forgiving: every fault becomes one 80-byte warning line in
// "import.err" of the import folder and reading goes on.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace vaslab {

constexpr int kImportButtons = 3;
constexpr int kImportUserInputs = 10;
constexpr int kImportValueChars = 80;
// Warning lines one load writes before it says the rest were left out.
constexpr int kImportWarningCap = 200;

struct ImportUserInput {
  std::string disallow;
  std::string default_text;
  std::string prompt;  // the tag's body, at most 80 characters
  int max_length = kImportValueChars;
  bool required = false;  // then a value needs at least 3 characters
};

struct ImportButton {
  long position = 0;  // in the script, after its tag
  std::string text;
  bool enabled = false;
  int auto_period = 0;  // minutes; above 0 repeats, below 0 runs once at start
  int id = 0;           // 1..3 once read
  std::unique_ptr<ImportUserInput> inputs[kImportUserInputs];
};

// What load_import_buttons() found.
struct ImportButtonSet {
  std::unique_ptr<ImportButton> buttons[kImportButtons];  // by id - 1
  int auto_button = 0;  // its id, 0 none
  bool warnings = false;
};

// Empties the import folder and "C:\TEMP\", then reads the script into
// `set`, writing warnings to "import.err" of `import_folder` (with its
// trailing backslash).  False only when the script cannot be opened.
bool load_import_buttons(const std::string& import_folder, ImportButtonSet& set);

// Kinds of tag parse_import_tag() reads.
enum ImportTagKind {
  kTagButton = 1,
  kTagButtonEnd = 2,
  kTagUserInput = 3,
  kTagUserInputEnd = 4,
  kTagInvalid = 5,
  kTagEndOfFile = 6,
};

// Reads one tag after its "<".  A BUTTON tag's attributes go to `button`
// while it has no id yet; a USERINPUT tag's to a new user input of `button`
// once it has one, whose id is put in `input_id` (-1 when none was made).
int parse_import_tag(std::FILE* script, ImportButton* button, int& input_id);

// The next button of the script, or none at its end.
std::unique_ptr<ImportButton> parse_import_button(std::FILE* script);

void free_import_button(std::unique_ptr<ImportButton>& button);

// Appends one warning line "Warning\263impbtns.dat: " + message to the
// current "import.err" (input shown in it is cut and made printable).
void report_import_script_error(const std::string& message);

}  // namespace vaslab
