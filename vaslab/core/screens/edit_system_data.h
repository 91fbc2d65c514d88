// The Edit System Data screen: the service screen on which every field of the
// hardware settings that has a label is edited as text, one line at a time,
// with an on-screen keyboard.  It is also the whole of the program's set-up
// mode.  Leaving it always stores the texts in the record and writes the
// settings file.
#pragma once

namespace vaslab {

// Number of fields on the screen.
constexpr int kSystemDataFields = 48;

// Runs the screen, then stores the fields and writes the settings file.
// Always 0.
int edit_system_data();

// Formats every numeric field of the record into its text (decimal, or
// hexadecimal in lower case without a prefix) and forces a NUL into the last
// byte of every text field.
void load_system_data_fields();

// Edits the line of one field (0 to 47): 0 next field, 1 leave, 3 previous
// field.  The value edited goes back into the field's text.
int edit_system_data_field(int field);

// Converts every numeric text into its field of the record (base 10, or 16
// with an optional "0x"), truncated to the field's width.
void store_system_data_fields();

// Writes the settings file.  A failed write leaves the old file whole and
// this run goes on with the settings as edited, but the operator is told so
// in a box: a change that seems saved would be gone at the next start.
// True when written.
bool write_settings_or_warn();

// The label and the current value text of a field (for tests and drawing).
const char* system_data_label(int field);
const char* system_data_value(int field);

}  // namespace vaslab
