#include "vaslab/core/toolkit/buttons.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/bitmap_file.h"
#include "vaslab/core/toolkit/builtin_pictures.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

ButtonColors g_colors;
bool g_fixed_pitch = false;

// Row texts are copied before they are cut into columns, so the caller's
// row stays whole and a short row is never read past its end.
constexpr std::size_t kRowText = 256;

std::string bitmap_path(const std::string& name) { return platform::map_path("_bmp\\" + name + ".bmp"); }

struct PxRect {
  int l, t, r, b;
};

PxRect scaled(int x1, int y1, int x2, int y2) {
  return PxRect{scale_x(x1), scale_y(y1), scale_x(x2 + 1), scale_y(y2 + 1)};
}

void flush(const PxRect& r) { flush_rect(r.l, r.t, r.r - r.l, r.b - r.t); }

// A filled rounded rectangle whose corners are quarter ellipses of the given
// size (as wide and high as `corner`), optionally outlined.
void fill_round_rect(const PxRect& r, int corner, std::uint32_t face, bool outline, std::uint32_t edge) {
  const int w = r.r - r.l, h = r.b - r.t;
  if (w <= 0 || h <= 0) return;
  const double rad = std::min({corner / 2.0, w / 2.0, h / 2.0});
  // Inset of row y from the left and right edges.
  const auto row_inset = [&](int y) {
    int inset = 0;
    const double dy = y < rad ? rad - y - 0.5 : (y >= h - rad ? y - (h - rad) + 0.5 : -1);
    if (dy >= 0 && rad > 0) inset = static_cast<int>(std::ceil(rad - std::sqrt(std::max(0.0, rad * rad - dy * dy)) - 0.5));
    return std::max(inset, 0);
  };
  for (int y = 0; y < h; ++y) {
    const int inset = row_inset(y);
    const int l = r.l + inset, rr = r.r - inset;
    if (l >= rr) continue;
    fill_pixels(l, r.t + y, rr, r.t + y + 1, face);
    if (outline) {
      fill_pixels(l, r.t + y, l + 1, r.t + y + 1, edge);
      fill_pixels(rr - 1, r.t + y, rr, r.t + y + 1, edge);
      if (y == 0 || y == h - 1) fill_pixels(l, r.t + y, rr, r.t + y + 1, edge);
    }
  }
  if (outline) {
    // Close the outline where the corners step by more than a pixel.
    int prev_l = -1, prev_r = -1;
    for (int y = 0; y < h; ++y) {
      const int inset = row_inset(y);
      const int l = r.l + inset, rr = r.r - inset;
      if (prev_l >= 0) {
        const bool top_half = y < h / 2;
        if (top_half && l < prev_l) {
          fill_pixels(l, r.t + y, prev_l, r.t + y + 1, edge);
          fill_pixels(prev_r, r.t + y, rr, r.t + y + 1, edge);
        } else if (!top_half && l > prev_l) {
          fill_pixels(prev_l, r.t + y - 1, l, r.t + y, edge);
          fill_pixels(rr, r.t + y - 1, prev_r, r.t + y, edge);
        }
      }
      prev_l = l;
      prev_r = rr;
    }
  }
}

std::uint32_t shifted(std::uint8_t r, std::uint8_t g, std::uint8_t b, int delta) {
  return rgb(std::clamp(r + delta, 0, 255), std::clamp(g + delta, 0, 255), std::clamp(b + delta, 0, 255));
}

// Rings of a raised (depth above 0) or sunken (below 0) bevel inside the
// outline.
void draw_button_bevel(const PxRect& r, int corner, int depth, std::uint8_t fr, std::uint8_t fg, std::uint8_t fb) {
  const int n = std::abs(depth);
  int delta = -2 * depth;
  for (int i = 1; i <= n; ++i) {
    const PxRect ring{r.l + i, r.t + i, r.r - i, r.b - i};
    if (ring.l >= ring.r || ring.t >= ring.b) break;
    fill_round_rect(ring, std::max(corner - n, 0), shifted(fr, fg, fb, delta), false, 0);
    delta += depth > 0 ? 2 : -2;
  }
}

int char_width(int font, unsigned char c) {
  if (g_fixed_pitch) return 16 * g_screen_geometry.x_scale;
  const int w = font_char_advance(font, c);
  return w > 0 ? w : font_average_width(font);
}

// The font of one label character: arrows come from the symbol twin when the
// text font lacks them.
int glyph_of(int font, int twin, unsigned char& c) {
  if (c < 24 || c > 27 || font_has_own_arrows(font)) return font;
  char one[2] = {static_cast<char>(c), 0};
  map_arrow_chars(one);
  c = static_cast<unsigned char>(one[0]);
  return twin;
}

int label_width(int font, int twin, const std::string& s) {
  int width = 0;
  for (unsigned char c : s) {
    const int f = glyph_of(font, twin, c);
    width += char_width(f, c);
  }
  return width;
}

void draw_label_line(Bitmap& screen, int font, int twin, int x, int top, const std::string& s, std::uint32_t text,
                     const PxRect& r) {
  for (unsigned char c : s) {
    const int f = glyph_of(font, twin, c);
    const int cell = char_width(f, c);
    // In fixed-pitch cells each glyph sits in the middle of its cell.
    const int off = g_fixed_pitch ? (cell - font_char_advance(f, c)) / 2 : 0;
    draw_font_char(screen, f, x + off, top, c, text, r.l, r.t, r.r, r.b);
    x += cell;
  }
}

void draw_text_button(const ButtonRecord& b, std::uint32_t text, std::uint8_t fr, std::uint8_t fg, std::uint8_t fb) {
  const int font = g_fixed_pitch ? kFontFixedButton : kFontButton;
  const int twin = g_fixed_pitch ? kFontFixedButtonArrows : kFontButtonArrows;
  const PxRect r = scaled(b.x1, b.y1, b.x2, b.y2);
  const int w = r.r - r.l, h = r.b - r.t;
  if (w <= 0 || h <= 0) return;
  const int m = std::min(w, h);
  const int corner = (m / 8) * 2 + 2;
  const int rings = button_bevel_rings(w, h);
  const bool pressed = fr == 255;

  char label[kButtonLabelSize];
  std::memcpy(label, b.label, sizeof label);
  label[sizeof label - 1] = 0;
  const std::string whole = label;

  fill_round_rect(r, corner, rgb(fr, fg, fb), true, rgb(0, 0, 0));
  if (rings > 0) draw_button_bevel(r, corner, pressed ? -rings : rings, fr, fg, fb);

  Bitmap* screen = screen_bitmap();
  const int width = label_width(font, twin, whole);
  // Room for the label inside the outline.
  const int room = w - 4;
  if (width <= room) {
    const int top = (r.t + r.b) / 2 - static_cast<int>(18 * g_screen_geometry.y_scale);
    draw_label_line(*screen, font, twin, (r.l + r.r) / 2 - width / 2, top, whole, text, r);
    return;
  }
  // A label too wide for its button keeps its face, set smaller: on one line
  // or split at a blank into two, whichever leaves it larger, clear of the
  // rounded corners.
  const int ch = font_cell_height(font);
  const int shrunk_room = std::max(w - 12, 1);
  std::vector<std::string> lines{whole};
  double scale = std::min(1.0 * shrunk_room / std::max(width, 1), 1.0 * h / std::max(ch, 1));
  for (std::size_t k = whole.find(' '); k != std::string::npos; k = whole.find(' ', k + 1)) {
    const std::string a = whole.substr(0, k), c = whole.substr(k + 1);
    const int wide = std::max(label_width(font, twin, a), label_width(font, twin, c));
    const double s2 = std::min(1.0 * shrunk_room / std::max(wide, 1), h / (2.0 * std::max(ch, 1)));
    if (s2 > scale) lines = {a, c}, scale = s2;
  }
  int full_w = 0;
  for (const auto& line : lines) full_w = std::max(full_w, label_width(font, twin, line));
  const int full_h = ch * static_cast<int>(lines.size());
  Bitmap full(std::max(full_w, 1), std::max(full_h, 1), rgb(0, 0, 0));
  const PxRect whole_box{0, 0, full.width, full.height};
  for (std::size_t i = 0; i < lines.size(); ++i)
    draw_label_line(full, font, twin, (full_w - label_width(font, twin, lines[i])) / 2, ch * static_cast<int>(i),
                    lines[i], rgb(255, 255, 255), whole_box);
  const int sw = std::max(1, static_cast<int>(full_w * scale)), sh = std::max(1, static_cast<int>(full_h * scale));
  blend_shrunk_text(*screen, full, (r.l + r.r - sw) / 2, (r.t + r.b - sh) / 2, sw, sh, text, r.l, r.t, r.r, r.b);
}

}  // namespace

ButtonRecord make_button(int x1, int y1, int x2, int y2, const char* label, int button_code, int keyboard_code,
                         int remote_key, std::uint8_t state) {
  ButtonRecord b;
  b.state = state;
  b.x1 = static_cast<std::int16_t>(x1);
  b.y1 = static_cast<std::int16_t>(y1);
  b.x2 = static_cast<std::int16_t>(x2);
  b.y2 = static_cast<std::int16_t>(y2);
  set_button_label(b, label);
  b.keyboard_code = static_cast<std::uint16_t>(keyboard_code);
  b.button_code = static_cast<std::int16_t>(button_code);
  b.remote_key = static_cast<std::uint8_t>(remote_key);
  return b;
}

ButtonRecord* find_button(ButtonRecord* table, int code) {
  for (ButtonRecord* b = table; !is_table_end(*b); ++b)
    if (b->button_code == code) return b;
  return nullptr;
}

void set_button_label(ButtonRecord& b, const char* text) {
  std::snprintf(b.label, sizeof b.label, "%s", text ? text : "");
}

void button_label_text(const ButtonRecord& b, char* out, std::size_t out_size) {
  if (!out || out_size == 0) return;
  const std::size_t len = strnlen(b.label, sizeof b.label);
  std::size_t n = 0;
  while (n < len && b.label[n] != '^' && b.label[n] != '|') ++n;
  n = std::min(n, out_size - 1);
  std::memcpy(out, b.label, n);
  out[n] = 0;
}

bool is_bitmap_button(const ButtonRecord& b) { return std::memchr(b.label, '^', strnlen(b.label, sizeof b.label)); }

ButtonColors button_colors() { return g_colors; }

void load_button_colors() {
  const char* c = hardware_settings().button_color;
  if (c[0] == '1' && c[1] == 0) {
    g_colors = ButtonColors{255, 86, 110, 133};
  } else {
    g_colors = ButtonColors{77, 198, 221, 224};
  }
}

void set_fixed_pitch_buttons(bool on) { g_fixed_pitch = on; }
bool fixed_pitch_buttons() { return g_fixed_pitch; }

int button_bevel_rings(int width_px, int height_px) {
  if (g_screen_geometry.x_scale <= 1) return 0;
  return std::min(static_cast<int>(0.15 * std::min(width_px, height_px)), 15);
}

void winButton(const ButtonRecord& b, std::uint8_t tr, std::uint8_t tg, std::uint8_t tb, std::uint8_t fr, std::uint8_t fg,
               std::uint8_t fb) {
  if (!screen_ready()) return;
  const char* caret = static_cast<const char*>(std::memchr(b.label, '^', strnlen(b.label, sizeof b.label)));
  const bool pressed = fr == 255;
  if (caret) {
    if (b.state == kButtonHidden) {
      fill_rect_color(b.x1, b.y1, b.x2 + 1, b.y2 + 1, g_draw.fill_color);
      flush(scaled(b.x1, b.y1, b.x2, b.y2));
    } else {
      std::string name(caret + 1, strnlen(caret + 1, static_cast<std::size_t>(b.label + sizeof b.label - caret - 1)));
      if (b.state == kButtonShown) {
        name += pressed ? "_p" : "_n";
      } else if (b.state == kButtonGreyed) {
        name += "_g";
      } else {
        platform::debug_output(pressed ? "winButton - ERROR: unknown pressed button state"
                                       : "winButton - ERROR: unknown un-pressed button state\n");
      }
      DrawBitmap(name.c_str(), b.x1, b.y1, b.x2, b.y2);
    }
  } else if (b.state == kButtonShown) {
    draw_text_button(b, rgb(tr, tg, tb), fr, fg, fb);
    flush(scaled(b.x1, b.y1, b.x2, b.y2));
  }
  set_text_justify(kJustifyCentre, kJustifyBaseline);
  set_text_size(3, 4, 2);
}

std::uint32_t normal_label_rgb() {
  // On the light face of the usual scheme a text button's label takes the
  // ink of the bitmap buttons' labels: at the scheme's grey level whole
  // menus of text buttons looked greyed next to them.  The dark scheme
  // keeps its white text.
  if (g_colors.grey == ButtonColors{}.grey) return rgb(24, 48, 56);
  return rgb(g_colors.grey, g_colors.grey, g_colors.grey);
}

void draw_button_normal(const ButtonRecord& b) {
  const std::uint32_t ink = normal_label_rgb();
  winButton(b, (ink >> 16) & 0xFF, (ink >> 8) & 0xFF, ink & 0xFF, g_colors.face_r, g_colors.face_g, g_colors.face_b);
}

void draw_button_pressed(const ButtonRecord& b) { winButton(b, 0, 0, 0, 255, 255, 255); }

int draw_buttons(ButtonRecord* table) {
  if (!table) return -1;
  ButtonRecord* b = table;
  for (; !is_table_end(*b); ++b) draw_button_normal(*b);
  return b->x1;
}

void show_button(ButtonRecord& b) {
  if (b.state == kButtonShown) return;
  b.state = kButtonShown;
  draw_button_normal(b);
}

void hide_button(ButtonRecord& b) {
  if (b.state == kButtonHidden) return;
  b.state = kButtonHidden;
  draw_button_normal(b);
}

void hold_button(ButtonRecord& b) {
  b.state = touch_or_mouse_held() ? kButtonGreyed : kButtonHidden;
  draw_button_normal(b);
}

void release_held_button(ButtonRecord& b) {
  if (b.state != kButtonGreyed) return;
  b.state = kButtonHidden;
  draw_button_normal(b);
}

void enable_button(ButtonRecord& b) {
  if (b.state == kButtonShown) return;
  b.label[sizeof b.label - 1] = 0;
  char* bar = std::strchr(b.label, '|');
  if (!bar) {
    platform::debug_output(std::string("Failed to enable a disabled button. Delimiter '|' not found in '") + b.label +
                           "'\n");
    return;
  }
  *bar = '^';
  b.state = kButtonShown;
}

void disable_button(ButtonRecord& b) {
  if (b.state == kButtonHidden) return;
  b.label[sizeof b.label - 1] = 0;
  char* caret = std::strchr(b.label, '^');
  if (!caret) {
    platform::debug_output(std::string("Failed to disable an enabled button. Delimiter '^' not found in '") +
                           b.label + "'\n");
    return;
  }
  *caret = '|';
  b.state = kButtonHidden;
}

void DrawBitmap(const char* name, int x1, int y1, int x2, int y2) {
  if (!screen_ready()) return;
  const PxRect r = scaled(x1, y1, x2, y2);
  const auto bmp = load_bmp_file(bitmap_path(name ? name : ""));
  if (!bmp) {
    platform::debug_output("winButton - LoadImage of bitmap button failed\n");
    fill_pixels(r.l, r.t, r.r, r.b, rgb(255, 0, 0));
  } else {
    blit_pixels(*bmp, 0, 0, bmp->width, bmp->height, r.l, r.t, r.l, r.t, r.r, r.b);
  }
  flush(r);
}

void load_background(const char* name) {
  clear_loaded_background();
  const auto bmp = load_bmp_file(bitmap_path(name ? name : ""));
  if (!bmp) {
    platform::debug_printf("drawscreen: background %s did not load\n", name ? name : "");
    return;
  }
  set_loaded_background(bmp);
}

void release_background() { clear_loaded_background(); }

void draw_bitmap_on_background(const char* name, int x1, int y1, int x2, int y2) {
  Bitmap* bg = background_bitmap();
  if (!bg || !background_loaded()) return;
  const auto bmp = load_bmp_file(bitmap_path(name ? name : ""));
  if (!bmp) {
    platform::debug_output("winButton - LoadImage of bitmap button failed\n");
    return;
  }
  copy_pixels(*bg, *bmp, 0, 0, bmp->width, bmp->height, x1, y1, x1, y1, x2 + 1, y2 + 1);
}

void draw_study_list_row(const char* text, int row, bool selected) {
  if (row < 0 || row > 21 || !screen_ready()) return;
  char copy[kRowText];
  std::snprintf(copy, sizeof copy, "%s", text ? text : "");
  const int top = row * 16 + 37;
  const bool incomplete = copy[0] == ' ' || std::strncmp(copy, "D   ", 4) == 0;
  if (selected) {
    DrawBitmap(incomplete ? "eos_sel_incomplete" : "eos_sel_complete", 0, top, 427, top + 15);
  } else {
    fill_rect_color(0, top, 428, top + 16, g_draw.fill_color);
    DrawBitmap(incomplete ? "eos_ind_incomplete" : "eos_ind_complete", 14, top + 2, 25, top + 13);
  }
  // The row's first six characters are its status and number.
  if (std::strlen(copy) > 6) {
    const std::uint32_t color = selected ? rgb(255, 255, 255) : rgb(36, 67, 74);
    draw_font_text(kFontCell, scale_x(36), scale_y(top + 1), copy + 6, color);
  }
  flush_area(0, top, 428, top + 16);
}

void draw_temp_list_row(const char* text, int row, bool selected) {
  if (row < 0 || row > 5 || !screen_ready()) return;
  char copy[kRowText];
  std::snprintf(copy, sizeof copy, "%s", text ? text : "");
  const int top = row * 42 + 66, bottom = row * 42 + 108;
  if (selected) {
    DrawBitmap("temp_sel", 0, top, 639, bottom - 1);
  } else {
    fill_rect_color(0, top, 640, bottom, g_draw.fill_color);
  }
  const std::uint32_t color = selected ? rgb(255, 255, 255) : rgb(36, 67, 74);
  const int text_top = scale_y(row * 42 + 92) - font_cell_height(kFontCell);
  const std::size_t len = std::strlen(copy);
  struct Column {
    std::size_t from, to;
    int x;
  };
  static constexpr Column kColumns[3] = {{0, 29, 5}, {30, 59, 244}, {60, kRowText, 484}};
  for (const Column& c : kColumns) {
    if (c.from >= len) break;
    const std::string part(copy + c.from, std::min(len, c.to) - c.from);
    draw_font_text(kFontCell, scale_x(c.x), text_top, part.c_str(), color);
  }
  flush_area(0, top, 640, bottom);
}

void draw_cell_list_row(const char* text, int y, bool selected) {
  if (!screen_ready()) return;
  if (selected) DrawBitmap("cell_sel", 0, y, 639, y + 13);
  draw_text_cells(text ? text : "", y, 0, selected ? kColorNone : kColorBackground,
                  selected ? kColorWhite : kColorBlack);
}

void draw_screen_title(const char* text) {
  if (!screen_ready()) return;
  fill_rect_color(24, 2, 424, 24, g_draw.fill_color);
  const int top = scale_y(24) - font_cell_height(kFontTitle);
  draw_font_text(kFontTitle, scale_x(20), top, text, rgb(255, 255, 255));
  flush_area(20, 0, 424, 24);
}

void draw_splash() {
  if (!screen_ready()) return;
  set_colors(0x0710);
  clear_screen();
  const Bitmap picture = make_splash_picture();
  if (g_screen_geometry.x_scale == 1) {
    const Bitmap half = shrink_bitmap_half(picture);
    blit_pixels(half, 0, 0, half.width, half.height, 0, 0, 0, 0, half.width, half.height);
  } else if (g_screen_geometry.x_scale == 2) {
    blit_pixels(picture, 0, 0, picture.width, picture.height, 0, 0, 0, 0, picture.width, picture.height);
  }
}

bool map_arrow_chars(char* text) {
  if (!text) return false;
  bool any = false;
  for (char* p = text; *p; ++p) {
    static constexpr unsigned char kSymbol[4] = {225, 226, 224, 223};
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 24 && c <= 27) {
      *p = static_cast<char>(kSymbol[c - 24]);
      any = true;
    }
  }
  return any;
}

}  // namespace vaslab
