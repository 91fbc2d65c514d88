// Draws the workstation's bitmaps (buttons in their three states, screen
// backgrounds, indicators, list highlights) from the list in bitmaps.txt, in
// one consistent style, and copies the title font beside them.
//
//   vaslab_resgen --list bitmaps.txt --title-font FILE.ttf --out DIR
//   vaslab_resgen --system-font MONO.ttf --fallback MONO2.ttf --inc OUT.inc
//                                         (the built-in 8x8 font)
//   vaslab_resgen --page-fonts DIR --mono MONO.ttf --mono-bold MONOBOLD.ttf
//                                         (the six report page fonts)
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <bit>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/toolkit/bitmap_file.h"
#include "vaslab/core/toolkit/builtin_pictures.h"
#include "vaslab/core/toolkit/fonts.h"

using namespace vaslab;

namespace {

struct Rgb {
  int r, g, b;
};

std::uint32_t to_px(Rgb c) { return rgb(std::clamp(c.r, 0, 255), std::clamp(c.g, 0, 255), std::clamp(c.b, 0, 255)); }

Rgb lerp(Rgb a, Rgb b, double t) {
  return Rgb{static_cast<int>(a.r + (b.r - a.r) * t), static_cast<int>(a.g + (b.g - a.g) * t),
             static_cast<int>(a.b + (b.b - a.b) * t)};
}

// The instrument's palette.
constexpr Rgb kInk{24, 48, 56};          // text on light faces
constexpr Rgb kEdge{36, 67, 74};         // outlines
constexpr Rgb kFaceTop{222, 236, 239};   // raised face, top
constexpr Rgb kFaceBottom{168, 196, 203};
constexpr Rgb kPressTop{40, 74, 86};     // pressed face
constexpr Rgb kPressBottom{70, 112, 126};
constexpr Rgb kGreyTop{214, 216, 217};   // greyed face
constexpr Rgb kGreyBottom{190, 192, 194};
constexpr Rgb kGreyInk{150, 153, 155};
constexpr Rgb kGround{44, 78, 90};       // the body of every background
constexpr Rgb kPlateTop{226, 238, 241};  // light plates under dark text
constexpr Rgb kPlateBottom{200, 220, 226};
constexpr Rgb kPlateMiddle{213, 229, 233};

// Inside test of a rounded rectangle of w by h with corner radius r.
bool inside_round(int x, int y, int w, int h, double r) {
  const double cx = std::clamp(x + 0.5, r, w - r), cy = std::clamp(y + 0.5, r, h - r);
  const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
  return dx * dx + dy * dy <= r * r;
}

void round_face(Bitmap& b, int x0, int y0, int w, int h, double r, Rgb top, Rgb bottom, Rgb edge, int edge_w,
                bool keep_outside) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!inside_round(x, y, w, h, r)) continue;
      const bool on_edge = !inside_round(x - edge_w, y, w, h, r) || !inside_round(x + edge_w, y, w, h, r) ||
                           !inside_round(x, y - edge_w, w, h, r) || !inside_round(x, y + edge_w, w, h, r);
      const int px = x0 + x, py = y0 + y;
      if (px < 0 || py < 0 || px >= b.width || py >= b.height) continue;
      b.at(px, py) = to_px(on_edge ? edge : lerp(top, bottom, h > 1 ? y / (h - 1.0) : 0));
    }
  (void)keep_outside;
}

// Splits {up} and friends into the arrow characters of code page 437.
std::string expand(const std::string& text) {
  if (text == "_") return "";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{') {
      const std::size_t end = text.find('}', i);
      if (end != std::string::npos) {
        const std::string k = text.substr(i + 1, end - i - 1);
        const char c = k == "up" ? 24 : k == "down" ? 25 : k == "right" ? 26 : k == "left" ? 27 : '?';
        out += c;
        i = end;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// The title face has no arrows: they come from the 16-pixel cell font,
// lowered to sit on the same baseline.
int font_for(int font, unsigned char c) { return c < 32 && font == kFontTitle ? kFontSized : font; }

int text_width(int font, const std::string& s) {
  int w = 0;
  for (unsigned char c : s) w += font_char_advance(font_for(font, c), c);
  return w;
}

void draw_string(Bitmap& b, int font, int x, int y, const std::string& s, Rgb color) {
  for (unsigned char c : s) {
    const int f = font_for(font, c);
    const int dy = font_ascent(font) - font_ascent(f);
    x += draw_font_char(b, f, x, y + dy, c, to_px(color), 0, 0, b.width, b.height);
  }
}

std::vector<std::string> words_of(const std::string& s) {
  std::vector<std::string> w;
  std::istringstream in(s);
  for (std::string t; in >> t;) w.push_back(t);
  return w;
}

// The split of a label into two lines that balances their widths best, or
// nothing when it has a single word.
std::vector<std::string> two_lines(int font, const std::string& label) {
  const auto words = words_of(label);
  std::vector<std::string> lines;
  int best = 1 << 30;
  for (std::size_t k = 1; k < words.size(); ++k) {
    std::string a, c;
    for (std::size_t i = 0; i < words.size(); ++i) (i < k ? a : c) += (((i < k ? a : c).empty()) ? "" : " ") + words[i];
    const int wide = std::max(text_width(font, a), text_width(font, c));
    if (wide < best) {
      best = wide;
      lines = {a, c};
    }
  }
  return lines;
}

int widest(int font, const std::vector<std::string>& lines) {
  int w = 0;
  for (const auto& l : lines) w = std::max(w, text_width(font, l));
  return w;
}

// A label too long for every font is drawn in the title face and scaled down
// as a whole, keeping its proportions, until it fits the box: on one line or
// on two, whichever leaves it larger.
void draw_shrunk(Bitmap& b, int x0, int y0, int w, int h, int room_w, int room_h, const std::string& label,
                 Rgb color) {
  const int font = kFontTitle, ch = font_cell_height(font);
  std::vector<std::string> lines{label};
  double scale = std::min(1.0 * room_w / std::max(1, widest(font, lines)), 1.0 * room_h / ch);
  if (const auto two = two_lines(font, label); !two.empty()) {
    const double s2 = std::min(1.0 * room_w / std::max(1, widest(font, two)), room_h / (2.0 * ch));
    if (s2 > scale) lines = two, scale = s2;
  }
  if (scale <= 0) return;
  // The text at full size, white on black: the red channel is its coverage.
  const int tw = widest(font, lines), th = ch * static_cast<int>(lines.size());
  Bitmap full(std::max(1, tw), std::max(1, th), rgb(0, 0, 0));
  for (std::size_t i = 0; i < lines.size(); ++i)
    draw_string(full, font, (tw - text_width(font, lines[i])) / 2, ch * static_cast<int>(i), lines[i], Rgb{255, 255, 255});
  const int sw = std::max(1, static_cast<int>(tw * scale)), sh = std::max(1, static_cast<int>(th * scale));
  blend_shrunk_text(b, full, x0 + (w - sw) / 2, y0 + (h - sh) / 2, sw, sh, to_px(color), 0, 0, b.width, b.height);
}

// Lays a label out centred in a box, in the title face: on one line at full
// size when it fits, else on two, else shrunk until it fits, so that every
// bitmap label has one face.
void draw_label(Bitmap& b, int x0, int y0, int w, int h, const std::string& label, Rgb color) {
  if (label.empty()) return;
  const int margin = std::min(8, w / 16);
  const int font = kFontTitle, ch = font_cell_height(font);
  // Arrows alone come from the small cell font: set them up to twice as
  // large, so that they read beside the worded labels.
  if (std::all_of(label.begin(), label.end(), [](char c) { return c >= 24 && c <= 27; })) {
    Bitmap full(std::max(1, text_width(font, label)), std::max(1, ch), rgb(0, 0, 0));
    draw_string(full, font, 0, 0, label, Rgb{255, 255, 255});
    // Scaled by their inked box, not by the cell with its empty rows.
    int l = full.width, t = full.height, r = -1, bt = -1;
    for (int y = 0; y < full.height; ++y)
      for (int x = 0; x < full.width; ++x)
        if (full.at(x, y) & 0xFF0000) {
          l = std::min(l, x), r = std::max(r, x);
          t = std::min(t, y), bt = std::max(bt, y);
        }
    if (r < 0) return;
    Bitmap ink(r - l + 1, bt - t + 1);
    for (int y = 0; y < ink.height; ++y)
      for (int x = 0; x < ink.width; ++x) ink.at(x, y) = full.at(l + x, t + y);
    const double k = std::clamp(std::min(0.7 * w / ink.width, 0.5 * h / ink.height), 1.0, 2.0);
    const int sw = static_cast<int>(ink.width * k), sh = static_cast<int>(ink.height * k);
    blend_shrunk_text(b, ink, x0 + (w - sw) / 2, y0 + (h - sh) / 2, sw, sh, to_px(color), 0, 0, b.width, b.height);
    return;
  }
  std::vector<std::string> lines{label};
  if (text_width(font, label) > w - 2 * margin) lines = two_lines(font, label);
  const int total = ch * static_cast<int>(lines.size());
  if (lines.empty() || widest(font, lines) > w - 2 * margin || total > h - 4) {
    draw_shrunk(b, x0, y0, w, h, w - 2 * margin, h - 4, label, color);
    return;
  }
  int y = y0 + (h - total) / 2;
  for (const auto& line : lines) {
    draw_string(b, font, x0 + (w - text_width(font, line)) / 2, y, line, color);
    y += ch;
  }
}

enum class State { kNormal, kPressed, kGreyed };

Bitmap button(int w, int h, const std::string& label, State st) {
  // The corners take the backgrounds' own colour.
  Bitmap b(w, h, to_px(kGround));
  const double r = std::max(4.0, std::min(w, h) / 6.0);
  const int inset = 2;
  Rgb top = kFaceTop, bottom = kFaceBottom, ink = kInk, edge = kEdge;
  if (st == State::kPressed) top = kPressTop, bottom = kPressBottom, ink = Rgb{255, 255, 255}, edge = Rgb{12, 28, 34};
  if (st == State::kGreyed) top = kGreyTop, bottom = kGreyBottom, ink = kGreyInk, edge = Rgb{120, 124, 126};
  round_face(b, inset, inset, w - 2 * inset, h - 2 * inset, r, top, bottom, edge, 2, false);
  // A highlight line under the top edge gives the raised look.
  if (st == State::kNormal)
    for (int x = inset + static_cast<int>(r); x < w - inset - static_cast<int>(r); ++x) b.at(x, inset + 3) = to_px(Rgb{250, 253, 254});
  const int shift = st == State::kPressed ? 1 : 0;
  draw_label(b, inset + shift, inset + shift, w - 2 * inset, h - 2 * inset, label, ink);
  return b;
}

struct Panel {
  int x1, y1, x2, y2;
};

// A light plate on a background, where a screen shows dark readout digits.
void draw_panel(Bitmap& b, const Panel& p) {
  const int w = p.x2 - p.x1 + 1, h = p.y2 - p.y1 + 1;
  if (w <= 0 || h <= 0) return;
  round_face(b, p.x1, p.y1, w, h, 6, kPlateTop, kPlateBottom, kEdge, 1, true);
}

// A screen background: the tile, and unless `banded` is false the title band
// along the top and the button band along the bottom (screens laid out over
// the whole height take the tile alone).
Bitmap background(bool banded) {
  Bitmap b(640, 480);
  const Bitmap tile = make_background_tile();
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) b.at(x, y) = tile.at(x % tile.width, y % tile.height);
  if (!banded) return b;
  for (int y = 0; y < 480; ++y) {
    const bool title = y < 27, footer = y >= 404;
    if (!title && !footer) continue;
    for (int x = 0; x < 640; ++x) b.at(x, y) = to_px(title ? Rgb{22, 44, 54} : kGround);
  }
  for (int x = 0; x < 640; ++x) {
    b.at(x, 27) = to_px(Rgb{120, 170, 180});
    b.at(x, 403) = to_px(Rgb{120, 170, 180});
  }
  return b;
}

Bitmap indicator(int w, int h, const std::string& label) {
  Bitmap b(w, h, to_px(kGround));
  round_face(b, 0, 0, w, h, std::min(w, h) / 2.5, Rgb{60, 104, 118}, Rgb{44, 82, 96}, Rgb{150, 196, 204}, 1, false);
  draw_label(b, 0, 0, w, h, label, Rgb{240, 248, 250});
  return b;
}

void mark(Bitmap& b, int x0, int y0, int size, bool done) {
  const Rgb fill = done ? Rgb{56, 160, 88} : Rgb{224, 160, 40};
  const double c = size / 2.0;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double dx = x + 0.5 - c, dy = y + 0.5 - c;
      const double d = std::sqrt(dx * dx + dy * dy);
      if (d <= c) b.at(x0 + x, y0 + y) = to_px(d > c - 1.2 ? Rgb{20, 40, 46} : fill);
    }
}

Bitmap select_bar(int w, int h, const std::string& kind) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.at(x, y) = to_px(lerp(Rgb{58, 120, 140}, Rgb{34, 84, 100}, h > 1 ? y / (h - 1.0) : 0));
  for (int x = 0; x < w; ++x) b.at(x, 0) = to_px(Rgb{150, 200, 210});
  if (kind == "ok" || kind == "open") mark(b, 14, 2, std::min(12, h - 4), kind == "ok");
  return b;
}

int generate(const std::string& list, const std::string& title_font, const std::string& out) {
  platform::make_dirs(out);
  // The title face travels with the bitmaps under the name the program asks for.
  const auto font = platform::read_file(title_font);
  if (!font || font->empty()) {
    std::cerr << "vaslab_resgen: cannot read " << title_font << "\n";
    return 1;
  }
  const std::string font_out = out + "/kartika-VYRO.ttf";
  if (const int r = platform::write_file_atomic(font_out, font->data(), font->size()); r != 0) {
    std::cerr << "vaslab_resgen: cannot write " << font_out << ": " << platform::error_text(r) << "\n";
    return 1;
  }
  for (int n : {kFontSized, kFontTitle})
    if (!make_font(n, 1, 1.0, font_out)) {
      std::cerr << "vaslab_resgen: font " << n << " cannot be made\n";
      return 1;
    }
  std::ifstream in(list);
  if (!in) {
    std::cerr << "vaslab_resgen: cannot read " << list << ": " << platform::error_text(errno) << "\n";
    return 1;
  }
  // "panel <background> x1 y1 x2 y2" lines put light plates on a background,
  // wherever they stand in the list.
  std::map<std::string, std::vector<Panel>> panels;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    std::istringstream ls(line);
    std::string kind, name;
    Panel p{};
    if ((ls >> kind) && kind == "panel" && (ls >> name >> p.x1 >> p.y1 >> p.x2 >> p.y2))
      panels[name].push_back(p);
    else
      lines.push_back(line);
  }
  std::set<std::string> seen;
  int count = 0;
  auto save = [&](const std::string& name, const Bitmap& b) {
    if (write_bmp_file(out + "/" + name + ".bmp", b) != 0) throw std::runtime_error("cannot write " + name);
    ++count;
  };
  try {
    for (const std::string& line : lines) {
      std::istringstream ls(line);
      std::string kind, name;
      if (!(ls >> kind) || kind[0] == '#' || !(ls >> name)) continue;
      if (!seen.insert(name).second) continue;
      int w = 640, h = 480;
      ls >> w >> h;
      std::string text;
      std::getline(ls, text);
      text.erase(0, text.find_first_not_of(' '));
      text = expand(text);
      if (w <= 0 || h <= 0 || w > 1280 || h > 960) throw std::runtime_error("bad size for " + name);
      if (kind == "button") {
        save(name + "_n", button(w, h, text, State::kNormal));
        save(name + "_p", button(w, h, text, State::kPressed));
        save(name + "_g", button(w, h, text, State::kGreyed));
      } else if (kind == "background" || kind == "tiled") {
        Bitmap b = background(kind == "background");
        for (const Panel& p : panels[name]) draw_panel(b, p);
        save(name, b);
      } else if (kind == "indicator") {
        save(name, indicator(w, h, text));
      } else if (kind == "mark") {
        // Marks sit on the light plate of a list.
        Bitmap b(w, h, to_px(kPlateMiddle));
        mark(b, 0, 0, std::min(w, h), text == "ok");
        save(name, b);
      } else if (kind == "select") {
        save(name, select_bar(w, h, text));
      } else {
        throw std::runtime_error("unknown kind " + kind);
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "vaslab_resgen: " << e.what() << "\n";
    return 1;
  }
  save("vaslab_icon", make_program_icon());
  std::cout << "vaslab_resgen: " << count << " bitmaps in " << out << "\n";
  return 0;
}

// Like the classic 8x8 fonts, a letter whose tail runs below row 7 keeps its
// top where the other small letters have theirs and loses a row of its body
// instead, so that a p stands on the line of an o and only its bowl is a row
// shorter: a row that repeats the one above it, else one a pixel away from
// it, the lowest first.  A glyph with no such row above the baseline (a
// comma) is lifted; where lifting would push ink out at the top, it loses a
// repeated row of its tail, and failing that is lifted anyway, as a tail is
// worth more to the reader than a top row.
void fit_descender(std::map<int, std::uint8_t>& ink) {
  constexpr int kBaseline = 6;  // the last row of a capital
  // The lowest row whose bits are at most `differ` pixels from the row above
  // it, among rows `first` to `last`; 0 when there is none.
  const auto like_above = [&ink](int first, int last, int differ) {
    for (auto it = ink.rbegin(); it != ink.rend(); ++it) {
      const int row = it->first;
      const auto above = ink.find(row - 1);
      if (row < first || row > last || above == ink.end() || !above->second) continue;
      if (std::popcount(static_cast<unsigned>(above->second ^ it->second)) <= differ) return row;
    }
    return 0;
  };
  while (!ink.empty() && ink.rbegin()->first > 7) {
    int drop = like_above(1, kBaseline, 0);
    if (!drop) drop = like_above(1, kBaseline, 1);
    if (!drop && ink.begin()->first <= 0) drop = like_above(1, ink.rbegin()->first, 0);
    std::map<int, std::uint8_t> moved;
    for (const auto& [row, bits] : ink) {
      if (row == drop) continue;
      moved[drop && row < drop ? row : row - 1] = bits;
    }
    ink = std::move(moved);
  }
}

// Renders code page 437 from a monospace face into 8 by 8 cells, one bit a
// pixel, and writes it as rows of a C array.
// Characters the face lacks (box drawing, symbols) come from the fallback.
int system_font(const std::string& face_file, const std::string& fallback_file, const std::string& inc) {
  FT_Library lib = nullptr;
  FT_Face main_face = nullptr, fallback = nullptr;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, face_file.c_str(), 0, &main_face)) return 1;
  if (!fallback_file.empty() && FT_New_Face(lib, fallback_file.c_str(), 0, &fallback)) return 1;
  // Capitals fill rows 0 to 6; row 7 holds the descenders.
  if (FT_Set_Pixel_Sizes(main_face, 11, 9) || (fallback && FT_Set_Pixel_Sizes(fallback, 11, 9))) return 1;
  const int ascent = 7;
  std::ofstream out(inc);
  const auto base = [](const std::string& f) { return f.substr(f.find_last_of('/') + 1); };
  out << "// The built-in 8x8 system font, code page 437.  Made by vaslab_resgen\n"
         "// --system-font "
      << base(face_file) << (fallback ? " --fallback " + base(fallback_file) : std::string())
      << "; regenerate rather than edit.\n";
  for (int c = 0; c < 256; ++c) {
    std::uint8_t rows[8] = {};
    const char32_t u = cp437_to_unicode(static_cast<unsigned char>(c));
    FT_Face face = main_face;
    FT_UInt index = c == 0 ? 0 : FT_Get_Char_Index(face, u);
    if (c != 0 && index == 0 && fallback) {
      face = fallback;
      index = FT_Get_Char_Index(face, u);
    }
    if (index && FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0 &&
        face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
      const FT_Bitmap& bm = face->glyph->bitmap;
      const int top = ascent - face->glyph->bitmap_top;
      // Ink rows as the face places them; a row outside the cell is kept so
      // that a descender too long for row 7 can be lifted rather than cut.
      std::map<int, std::uint8_t> ink;
      for (int y = 0; y < static_cast<int>(bm.rows); ++y) {
        for (int x = 0; x < static_cast<int>(bm.width); ++x) {
          const int col = face->glyph->bitmap_left + x;
          if (col < 0 || col >= 8) continue;
          if (bm.buffer[y * bm.pitch + (x >> 3)] & (0x80 >> (x & 7))) ink[top + y] |= static_cast<std::uint8_t>(0x80 >> col);
        }
      }
      // Box drawing, shades, blocks and the integral's halves join the cells
      // around them, so they keep their place and are cut at the cell edge.
      const bool joins = (u >= 0x2500 && u <= 0x259F) || u == 0x2320 || u == 0x2321;
      if (!joins) fit_descender(ink);
      for (const auto& [row, bits] : ink) {
        if (row >= 0 && row < 8) rows[row] = bits;
      }
    }
    // In eight pixels the face runs the first two stems of its m together,
    // and "system" reads "systen": the m is drawn as the classic fonts have it.
    if (c == 'm') {
      static constexpr std::uint8_t kM[8] = {0x00, 0x00, 0xCC, 0xFE, 0xFE, 0xD6, 0xC6, 0x00};
      std::copy(std::begin(kM), std::end(kM), rows);
    }
    out << "{";
    for (int i = 0; i < 8; ++i) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", rows[i]);
      out << hex << (i < 7 ? ", " : "");
    }
    out << "},\n";
  }
  FT_Done_Face(main_face);
  if (fallback) FT_Done_Face(fallback);
  FT_Done_FreeType(lib);
  return out ? 0 : 1;
}


// The six bitmap fonts of the report page: 224 glyphs (codes 32 to 255, code
// page 437), each 64 rows of 32 pixels, of which rows 0 to 49 are drawn and
// row 45 is the underline.  The baseline sits on row 38 so that descenders
// stay above row 50.  The 18-pixel pair is the same face squeezed
// horizontally.
int page_fonts(const std::string& dir, const std::string& mono, const std::string& mono_bold) {
  struct Spec {
    const char* name;
    bool bold;
    int cell_width, pixel_width, pixel_height;
  };
  static const Spec kFonts[] = {
      {"cournor.fnt", false, 30, 42, 42}, {"courbld.fnt", true, 30, 42, 42},
      {"gothnor.fnt", false, 25, 40, 40}, {"gothbld.fnt", true, 25, 40, 40},
      {"compnor.fnt", false, 18, 29, 40}, {"compbld.fnt", true, 18, 29, 40},
  };
  constexpr int kBaseline = 38, kRows = 50;
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib)) return 1;
  int status = 0;
  for (const Spec& f : kFonts) {
    FT_Face face = nullptr;
    if (FT_New_Face(lib, (f.bold ? mono_bold : mono).c_str(), 0, &face) ||
        FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(f.pixel_width), static_cast<FT_UInt>(f.pixel_height))) {
      status = 1;
      break;
    }
    std::vector<std::uint8_t> file(224 * 256, 0);
    for (int c = 32; c < 256; ++c) {
      const FT_UInt index = FT_Get_Char_Index(face, cp437_to_unicode(static_cast<unsigned char>(c)));
      if (!index || FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) ||
          face->glyph->bitmap.pixel_mode != FT_PIXEL_MODE_MONO)
        continue;
      const FT_Bitmap& bm = face->glyph->bitmap;
      // Centre the glyph's advance in the cell.
      const int advance = static_cast<int>(face->glyph->advance.x >> 6);
      const int left = face->glyph->bitmap_left + (f.cell_width - advance) / 2;
      std::uint8_t* glyph = file.data() + (c - 32) * 256;
      for (int y = 0; y < static_cast<int>(bm.rows); ++y) {
        const int row = kBaseline - face->glyph->bitmap_top + y;
        if (row < 0 || row >= kRows) continue;
        for (int x = 0; x < static_cast<int>(bm.width); ++x) {
          const int col = left + x;
          if (col < 0 || col >= f.cell_width) continue;
          if (bm.buffer[y * bm.pitch + (x >> 3)] & (0x80 >> (x & 7)))
            glyph[row * 4 + col / 8] |= static_cast<std::uint8_t>(0x80 >> (col % 8));
        }
      }
    }
    FT_Done_Face(face);
    if (platform::write_file_atomic(dir + "/" + f.name, file.data(), file.size()) != 0) {
      status = 1;
      break;
    }
  }
  FT_Done_FreeType(lib);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::string list, title, out, mono, fallback, inc, page_dir, page_mono, page_bold;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--list") list = v;
    else if (k == "--title-font") title = v;
    else if (k == "--out") out = v;
    else if (k == "--system-font") mono = v;
    else if (k == "--fallback") fallback = v;
    else if (k == "--inc") inc = v;
    else if (k == "--page-fonts") page_dir = v;
    else if (k == "--mono") page_mono = v;
    else if (k == "--mono-bold") page_bold = v;
  }
  if (!page_dir.empty() && !page_mono.empty() && !page_bold.empty())
    return page_fonts(page_dir, page_mono, page_bold);
  if (!mono.empty() && !inc.empty()) return system_font(mono, fallback, inc);
  if (list.empty() || title.empty() || out.empty()) {
    std::cerr << "usage: vaslab_resgen --list FILE --title-font FILE --out DIR\n"
                 "       vaslab_resgen --system-font MONO.ttf [--fallback MONO2.ttf] --inc OUT.inc\n"
                 "       vaslab_resgen --page-fonts DIR --mono MONO.ttf --mono-bold MONOBOLD.ttf\n";
    return 2;
  }
  return generate(list, title, out);
}
