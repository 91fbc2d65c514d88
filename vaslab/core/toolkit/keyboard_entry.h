// The on-screen keyboard: a full-screen touch keyboard on which the operator
// types one short text.  The caller's text changes only when the operator
// accepts.
#pragma once

namespace vaslab {

// Flag bit 7: leave Caps Lock as it is (otherwise the entry turns it on, so
// letters come out as capitals).
constexpr int kEntryKeepCapsLock = 0x80;

// The entry in the 49 by 21 bold font; the letter keys shown, or hidden when
// `hide_letters` is set.  `now`, when given, is what the value stands at
// (shown beside the line).  Nothing happens without that font.
void edit_text_field(const char* prompt, char* text, int max_length, int flags, bool hide_letters,
                     const char* now = nullptr);
// The entry in the 17 by 16 fixed-pitch font, with the punctuation keys.
void edit_text_field_options(const char* prompt, char* text, int max_length, int flags);

// The entry screen.  `text` holds the starting text and must hold
// max_length + 1 bytes; max_length is 1 to 40.  Returns 0 when accepted, 1
// when left by EXIT, -1 when nothing was shown.
int run_keyboard_entry(const char* prompt, char* text, int max_length, int flags, int font,
                       const char* now = nullptr);

}  // namespace vaslab
