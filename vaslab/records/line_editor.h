// The one-line text editor of the patient data screen and of the archive
// search patterns: the edit text is a label followed by a value, and only the
// value part moves and changes.
#pragma once

#include <cstddef>
#include <string>

namespace vaslab {

struct LineEditor {
  char text[82];
  int label_length;
  int length;
  int capacity;
  int cursor;
  bool insert;
};
// Results of an edit.
constexpr int kEditAccept = 0;
constexpr int kEditExit = 1;
constexpr int kEditPrevious = 3;
// Sets the editor up: text = label + value cut at the capacity, cursor at
// the end (capacity - 1 when full).  A label longer than the capacity leaves
// no room for a value.  `insert` is left as it was.
void start_line_edit(LineEditor& e, const char* label, const char* value, int capacity);
// One event: a button code from the typing wait.  Returns kEditAccept,
// kEditExit or kEditPrevious when the edit ends, else -1.
int line_edit_event(LineEditor& e, int code);
// The value part of the edit text.
const char* line_edit_value(const LineEditor& e);

// Runs the editor in the patient data screen's layout (its keyboard, the
// text in large cells) until the edit ends: kEditAccept, kEditExit or
// kEditPrevious.  Every field has the same keys: on a touch-only
// instrument BACK is the only way to mend a typo in the name.
int run_patient_line_editor(LineEditor& e);

// Edits a stored search pattern ("*text*") with the small layout; 0 on OK
// (the pattern is then "*", the text and "*"), 1 on cancel (unchanged).
// `pattern` holds `size` bytes.
int edit_search_value(char* pattern, std::size_t size, const char* label, int width);

// Asks a worklist query value in the search layout: the line is `prompt`
// followed by `value`, at most `max_length` characters in all, and the
// characters of `disallow` and the double quote cannot be typed.  0 on OK
// (`value` is then the text after the prompt, as typed), 1 on cancel.
// With `correcting` (a value asked again) the cursor starts on the value's
// first character, in overwrite mode as always.
int edit_import_value(std::string& value, const char* prompt, int max_length, const char* disallow,
                      bool correcting = false);

}  // namespace vaslab
