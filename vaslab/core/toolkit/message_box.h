// The message box: a band across the middle of the screen with the lines of
// its text, an optional title and one or two large touch buttons; and
// the shared message line that other code composes messages in.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vaslab/core/toolkit/buttons.h"

namespace vaslab {

// Message box results.
constexpr int kMbOk = 1;
constexpr int kMbCancel = 2;
constexpr int kMbRetry = 4;

// Button sets, the low four bits of the flags; any other value shows one
// full-width "OK".
constexpr int kMbOkOnly = 0;
constexpr int kMbOkCancel = 1;
constexpr int kMbRetryCancel = 5;
constexpr int kMbNoWait = 6;

// The shared message line: 95 characters and a NUL.  Write it with bounded
// writes (snprintf with sizeof g_message_text).
constexpr int kMessageLineSize = 96;
extern char g_message_text[kMessageLineSize];

// A text in lines of at most `width` characters.  Characters below 32 or
// above 127 are dropped; a carriage return or line feed (or both) ends a
// line.  A longer line is wrapped at its last blank that fits (a longer word
// is cut), and what is left of it flows into the next line unless that one
// is blank.
std::vector<std::string> wrap_box_text(const char* text, std::size_t width);

// The lines the box shows for a text: wrapped to 38 characters, at most
// twelve (the box grows upwards from seven).
std::vector<std::string> message_box_lines(const char* text);

// Shows the box and waits for an answer: kMbOk, kMbCancel or kMbRetry.
// `owner` is not used; `title` may be null.  The screen under the box is not
// restored: the caller redraws its own.
int show_message_box(void* owner, const char* text, const char* title, int flags);

// Tells the operator that a function of the instrument is not available in
// this program, in a box titled with the function's name, with an optional
// reason on its own line; kMbOk once answered.  Entries whose work is not
// part of the program answer with this instead of returning as if done.
int show_not_available(const char* function, const char* reason = nullptr);

// Shows the message line with one "OK" button, then restores a minimised
// window; 0 when there is no window.
int show_error_and_restore();

// The box's button table (its states stay as the last box left them).
const ButtonRecord* message_box_buttons();

}  // namespace vaslab
