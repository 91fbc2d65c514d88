// Why a write failed, in words the operator can act on.  The results that
// modules and screens hand up are fixed by their callers and say only that
// something failed ("File error.", "AddZip error."); the layer that meets
// the system error notes the file or folder and the error here, and the
// one that shows the failure adds them to its text:
// "C:\TEMP\1.ZIP: No space left on device".
//
// The first failure noted is the cause: what fails after it (a clean-up, a
// close) follows from it and is not noted over it.  Whoever reports takes
// the note, which clears it; whoever starts a piece of work that may be
// reported clears it first, so that no earlier failure is told as this one's.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The system's text of an error number (positive or negative), in the
// neutral language: "No space left on device".
const char* error_text(int error);
// The file or folder and the text of the error, joined as above.
std::string cause_text(std::string_view where, int error);

// Notes `where` (a Windows path, as the operator knows it) and the error,
// unless a cause is noted already.  An error of 0 notes nothing.
void note_failure_cause(std::string_view where, int error);
void clear_failure_cause();
// The noted cause as cause_text() gives it, or "" when none; clears it.
std::string take_failure_cause();

}  // namespace platform
