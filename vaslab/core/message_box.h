// The message box: a band across the middle of the screen with up to five
// lines of text, an optional title and one or two large touch buttons; and
// the shared message line that other code composes messages in.
#pragma once

namespace vaslab {

// Message box results.
constexpr int kMbOk = 1;
constexpr int kMbCancel = 2;
constexpr int kMbRetry = 4;

// Button sets, the low four bits of the flags.
constexpr int kMbOkCancel = 1;
constexpr int kMbRetryCancel = 5;
constexpr int kMbNoWait = 6;

// The shared message line: 95 characters and a NUL.
constexpr int kMessageLineSize = 96;
extern char g_message_text[kMessageLineSize];

// Shows the box and waits for an answer: kMbOk, kMbCancel or kMbRetry.
// `owner` is not used; `title` may be null.
int show_message_box(void* owner, const char* text, const char* title, int flags);

// Shows the message line with one "OK" button, then restores a minimised
// window; 0 when there is no window.
int show_error_and_restore();

}  // namespace vaslab
