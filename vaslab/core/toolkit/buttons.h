// Bitmap and text buttons, button tables and screen backgrounds.
//
// Every screen is a background bitmap with a table of touch buttons drawn on
// it.  A label reads "text^base" (an enabled bitmap button drawn from
// _bmp\<base>_n.bmp, _p.bmp when pressed, _g.bmp when greyed), "text|base"
// (the same button disabled) or plain "text" (a drawn text button).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vaslab {

// Button states.
constexpr std::uint8_t kButtonHidden = 0;
constexpr std::uint8_t kButtonShown = 1;
constexpr std::uint8_t kButtonGreyed = 2;

// Room for a label and its NUL.  Labels live inside the record, so a table
// owns writable labels: enabling and disabling rewrite the delimiter in
// place, which a pointer to a string literal could not survive.
constexpr std::size_t kButtonLabelSize = 64;

// One entry of a button table.  A table ends at the first entry whose x1 is
// negative; kButtonTableEnd is the conventional end entry.
struct ButtonRecord {
  std::uint8_t state = 0;          // kButtonHidden, kButtonShown, kButtonGreyed
  std::int16_t x1 = -1, y1 = -1;   // corners in the 640 by 480 space, inclusive
  std::int16_t x2 = -1, y2 = -1;
  char label[kButtonLabelSize] = {};
  std::uint16_t keyboard_code = 0; // key that presses it (0 none)
  std::int16_t button_code = -1;   // returned on a press, negated on release
  std::uint8_t remote_key = 255;   // remote / front-panel key byte (0 none)
};

inline constexpr ButtonRecord kButtonTableEnd{0, -1, -1, -1, -1, "", 0, -1, 255};

// A table entry from its parts; the label is copied into the record.
ButtonRecord make_button(int x1, int y1, int x2, int y2, const char* label, int button_code, int keyboard_code = 0,
                         int remote_key = 0, std::uint8_t state = kButtonShown);

// True for the end entry of a table.
inline bool is_table_end(const ButtonRecord& b) { return b.x1 < 0; }

// The first entry of a table with this button code, or nullptr.
ButtonRecord* find_button(ButtonRecord* table, int code);

// Replaces a label (cut to kButtonLabelSize - 1 characters).
void set_button_label(ButtonRecord& b, const char* text);

// The text before the delimiter ('^' or '|'), the whole label without one,
// copied into `out` (at most out_size - 1 characters).
void button_label_text(const ButtonRecord& b, char* out, std::size_t out_size);
// True when the label names a bitmap ("text^base"); '|' labels are disabled
// bitmap buttons and are drawn as bitmap buttons too once enabled.
bool is_bitmap_button(const ButtonRecord& b);

// Draws a button in its state with a text colour and a face colour (a face
// red of 255 means pressed) and copies its rectangle to the window.
void winButton(const ButtonRecord& b, std::uint8_t text_r, std::uint8_t text_g, std::uint8_t text_b,
               std::uint8_t face_r, std::uint8_t face_g, std::uint8_t face_b);
// The two ways the event wait and the screens draw a button.
void draw_button_normal(const ButtonRecord& b);
void draw_button_pressed(const ButtonRecord& b);

// Draws every entry before the end entry; returns the end entry's x1.
int draw_buttons(ButtonRecord* table);

void show_button(ButtonRecord& b);
void hide_button(ButtonRecord& b);
// Greys the button while a touch or mouse press is in progress, else hides it.
void hold_button(ButtonRecord& b);
void release_held_button(ButtonRecord& b);
// Swap the label's delimiter and the state; neither redraws.
void enable_button(ButtonRecord& b);
void disable_button(ButtonRecord& b);

// The button colour scheme, from `button_color` of the settings: grey level
// (the normal text colour) and face colour.
struct ButtonColors {
  std::uint8_t grey = 77;
  std::uint8_t face_r = 198, face_g = 221, face_b = 224;
};
ButtonColors button_colors();
// The colour of a text button's label in its normal drawing: the ink of
// the bitmap buttons' labels on the usual light face, else the scheme's
// grey level.
std::uint32_t normal_label_rgb();
// Reads the scheme from the settings (done when the surface is built).
void load_button_colors();

// Copies _bmp\<name>.bmp unscaled to the screen at (x1, y1), clipped to the
// inclusive rectangle, and copies the rectangle to the window.  A missing
// file is a red box.
void DrawBitmap(const char* name, int x1, int y1, int x2, int y2);

// Screen backgrounds: _bmp\<name>.bmp, 640 by 480, shown by colour-16 fills.
// A background that does not load leaves the current one in place.
void load_background(const char* name);
void release_background();
void draw_bitmap_on_background(const char* name, int x1, int y1, int x2, int y2);

// The end-of-study list (rows 0 to 21) and the temporary-files list (rows 0
// to 5); other rows draw nothing.
void draw_study_list_row(const char* text, int row, bool selected);
void draw_temp_list_row(const char* text, int row, bool selected);
// A row of 8-pixel text cells at y on the light plate of a list screen's
// background (the DICOM status and worklist lists): black, or white on the
// highlight bar when selected.
void draw_cell_list_row(const char* text, int y, bool selected);
void draw_screen_title(const char* text);
// The start picture over the background.
void draw_splash();

// Replaces the arrow characters 24..27 by the symbol-font codes 225, 226,
// 224, 223; true when any was replaced.
bool map_arrow_chars(char* text);

// Text buttons drawn in fixed-pitch cells (set around the study menu).
void set_fixed_pitch_buttons(bool on);
bool fixed_pitch_buttons();

// Number of bevel rings a text button of this size gets at the current
// display scale (0 at scale 1).
int button_bevel_rings(int width_px, int height_px);

}  // namespace vaslab
