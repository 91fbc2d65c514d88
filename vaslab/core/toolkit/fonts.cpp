#include "vaslab/core/toolkit/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace vaslab {
namespace {

// The built-in system font: 256 characters of code page 437, 8 rows of 8
// pixels, bit 7 the leftmost.  Made by the resource generator.
constexpr std::uint8_t kSystemFont8x8[256][8] = {
#include "vaslab/core/toolkit/system_font_8x8.inc"
};

enum class Charset { kOem, kSymbol, kDefault };
enum class Face { kSans, kSansBold, kMono, kSystem, kTitle };

struct FontDesc {
  Face face;
  int height, width, weight;
  Charset charset;
};

// Heights and widths in pixels at display scale 1.
constexpr FontDesc kFonts[kFontCount] = {
    {Face::kSans, 36, 16, 600, Charset::kSymbol},     // 1 arrows on text buttons
    {Face::kSans, 36, 12, 600, Charset::kOem},        // 2 text buttons
    {Face::kMono, 36, 16, 600, Charset::kOem},        // 3 fixed-pitch text buttons
    {Face::kMono, 36, 16, 600, Charset::kSymbol},     // 4 their arrows
    {Face::kMono, 14, 8, 0, Charset::kSymbol},        // 5 arrows in text cells
    {Face::kMono, 14, 8, 0, Charset::kOem},           // 6 text cells, list rows
    {Face::kMono, 28, 16, 0, Charset::kOem},          // 7 wide entry text
    {Face::kSystem, 8, 8, 0, Charset::kOem},          // 8 other heights
    {Face::kMono, 16, 16, 600, Charset::kSymbol},     // 9 arrows in 16-pixel text
    {Face::kMono, 17, 16, 600, Charset::kOem},        // 10 16-pixel text
    {Face::kMono, 20, 16, 700, Charset::kOem},        // 11 trace-strip values
    {Face::kSansBold, 49, 18, 0, Charset::kDefault},  // 12 pressure value
    {Face::kSansBold, 49, 21, 0, Charset::kDefault},  // 13 keyboard entry, stopwatch
    {Face::kTitle, 23, 9, 0, Charset::kDefault},      // 14 screen titles
    {Face::kTitle, 64, 48, 0, Charset::kDefault},     // 15 large value box
};

// Code page 437 as the screens use it: the graphic characters below 32 (the
// arrows 24..27 among them), box drawing, and 0xB3 the column bar.
constexpr char32_t kCp437[256] = {
    U' ',    U'\u263A', U'\u263B', U'\u2665', U'\u2666', U'\u2663', U'\u2660', U'\u2022',
    U'\u25D8', U'\u25CB', U'\u25D9', U'\u2642', U'\u2640', U'\u266A', U'\u266B', U'\u263C',
    U'\u25BA', U'\u25C4', U'\u2195', U'\u203C', U'\u00B6', U'\u00A7', U'\u25AC', U'\u21A8',
    U'\u2191', U'\u2193', U'\u2192', U'\u2190', U'\u221F', U'\u2194', U'\u25B2', U'\u25BC',
    U' ', U'!', U'"', U'#', U'$', U'%', U'&', U'\'', U'(', U')', U'*', U'+', U',', U'-', U'.', U'/',
    U'0', U'1', U'2', U'3', U'4', U'5', U'6', U'7', U'8', U'9', U':', U';', U'<', U'=', U'>', U'?',
    U'@', U'A', U'B', U'C', U'D', U'E', U'F', U'G', U'H', U'I', U'J', U'K', U'L', U'M', U'N', U'O',
    U'P', U'Q', U'R', U'S', U'T', U'U', U'V', U'W', U'X', U'Y', U'Z', U'[', U'\\', U']', U'^', U'_',
    U'`', U'a', U'b', U'c', U'd', U'e', U'f', U'g', U'h', U'i', U'j', U'k', U'l', U'm', U'n', U'o',
    U'p', U'q', U'r', U's', U't', U'u', U'v', U'w', U'x', U'y', U'z', U'{', U'|', U'}', U'~', U'\u2302',
    U'\u00C7', U'\u00FC', U'\u00E9', U'\u00E2', U'\u00E4', U'\u00E0', U'\u00E5', U'\u00E7',
    U'\u00EA', U'\u00EB', U'\u00E8', U'\u00EF', U'\u00EE', U'\u00EC', U'\u00C4', U'\u00C5',
    U'\u00C9', U'\u00E6', U'\u00C6', U'\u00F4', U'\u00F6', U'\u00F2', U'\u00FB', U'\u00F9',
    U'\u00FF', U'\u00D6', U'\u00DC', U'\u00A2', U'\u00A3', U'\u00A5', U'\u20A7', U'\u0192',
    U'\u00E1', U'\u00ED', U'\u00F3', U'\u00FA', U'\u00F1', U'\u00D1', U'\u00AA', U'\u00BA',
    U'\u00BF', U'\u2310', U'\u00AC', U'\u00BD', U'\u00BC', U'\u00A1', U'\u00AB', U'\u00BB',
    U'\u2591', U'\u2592', U'\u2593', U'\u2502', U'\u2524', U'\u2561', U'\u2562', U'\u2556',
    U'\u2555', U'\u2563', U'\u2551', U'\u2557', U'\u255D', U'\u255C', U'\u255B', U'\u2510',
    U'\u2514', U'\u2534', U'\u252C', U'\u251C', U'\u2500', U'\u253C', U'\u255E', U'\u255F',
    U'\u255A', U'\u2554', U'\u2569', U'\u2566', U'\u2560', U'\u2550', U'\u256C', U'\u2567',
    U'\u2568', U'\u2564', U'\u2565', U'\u2559', U'\u2558', U'\u2552', U'\u2553', U'\u256B',
    U'\u256A', U'\u2518', U'\u250C', U'\u2588', U'\u2584', U'\u258C', U'\u2590', U'\u2580',
    U'\u03B1', U'\u00DF', U'\u0393', U'\u03C0', U'\u03A3', U'\u03C3', U'\u00B5', U'\u03C4',
    U'\u03A6', U'\u0398', U'\u03A9', U'\u03B4', U'\u221E', U'\u03C6', U'\u03B5', U'\u2229',
    U'\u2261', U'\u00B1', U'\u2265', U'\u2264', U'\u2320', U'\u2321', U'\u00F7', U'\u2248',
    U'\u00B0', U'\u2219', U'\u00B7', U'\u221A', U'\u207F', U'\u00B2', U'\u25A0', U'\u00A0',
};

struct Glyph {
  bool loaded = false;
  int left = 0, top = 0;  // bitmap offset from the pen on the baseline
  int width = 0, rows = 0;
  int advance = 0;
  std::vector<std::uint8_t> alpha;
};

struct Font {
  FT_Face face = nullptr;  // null for the built-in bitmap font
  Charset charset = Charset::kOem;
  int cell_height = 0;
  int ascent = 0;
  int average_width = 0;
  bool own_arrows = false;
  bool bitmap = false;
  std::array<Glyph, 256> glyphs;
};

FT_Library g_ft = nullptr;
std::array<std::unique_ptr<Font>, kFontCount + 1> g_fonts;

bool init_freetype() {
  if (g_ft) return true;
  return FT_Init_FreeType(&g_ft) == 0;
}

// Fontconfig is started on first use and shut down with the program, so
// that its caches are given back.
struct FontconfigLife {
  bool started = false;
  bool start() {
    if (!started) started = FcInit() != 0;
    return started;
  }
  ~FontconfigLife() {
    if (started) FcFini();
  }
};
FontconfigLife g_fontconfig;

// The file and face index fontconfig offers for a family and weight.
bool find_face(const char* family, bool bold, std::string& file, int& index) {
  if (!g_fontconfig.start()) return false;
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult res = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &res);
  FcPatternDestroy(pat);
  if (!match) return false;
  FcChar8* f = nullptr;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &f) == FcResultMatch && f;
  if (ok) {
    file = reinterpret_cast<const char*>(f);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
  }
  FcPatternDestroy(match);
  return ok;
}

char32_t char_for(Charset cs, unsigned char c) {
  switch (cs) {
    case Charset::kOem: return kCp437[c];
    case Charset::kSymbol:
      // The arrow glyphs of the symbol fonts, as map_arrow_chars writes them.
      switch (c) {
        case 223: return U'\u2190';
        case 224: return U'\u2192';
        case 225: return U'\u2191';
        case 226: return U'\u2193';
        default: return c < 32 ? kCp437[c] : static_cast<char32_t>(c);
      }
    case Charset::kDefault: break;
  }
  return c < 32 ? U' ' : static_cast<char32_t>(c);
}

double average_width_px(FT_Face face) {
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->xAvgCharWidth > 0)
    return os2->xAvgCharWidth * static_cast<double>(face->size->metrics.x_scale) / 65536.0 / 64.0;
  if (FT_Load_Char(face, 'x', FT_LOAD_DEFAULT) == 0) return face->glyph->advance.x / 64.0;
  return 0;
}

// Ascent and descent of the character cell in font units, as the system's
// fonts measure it (the OS/2 table's Windows metrics when present).
void cell_units(FT_Face face, long& ascent, long& descent) {
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    ascent = os2->usWinAscent;
    descent = os2->usWinDescent;
  } else {
    ascent = face->ascender;
    descent = -face->descender;
  }
}

// A cell `h` pixels high; the horizontal scale chosen so that the average
// character is `w` pixels wide, or no wider when rounding is in the way.
// FreeType's cell request scales both ways alike, so the two nominal sizes
// are worked out here.
bool size_face(FT_Face face, int h, int w, int& ascent_px) {
  long asc = 0, desc = 0;
  cell_units(face, asc, desc);
  if (asc + desc <= 0 || face->units_per_EM == 0) return false;
  const double h_ppem = static_cast<double>(h) * face->units_per_EM / static_cast<double>(asc + desc);
  double w_ppem = h_ppem;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  double avg_units = os2 && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth : 0;
  if (avg_units <= 0 && FT_Load_Char(face, 'x', FT_LOAD_NO_SCALE) == 0) avg_units = static_cast<double>(face->glyph->advance.x);
  if (w > 0 && avg_units > 0) w_ppem = w * face->units_per_EM / avg_units;
  FT_Size_RequestRec req{FT_SIZE_REQUEST_TYPE_NOMINAL, static_cast<FT_Long>(std::lround(w_ppem * 64)),
                         static_cast<FT_Long>(std::lround(h_ppem * 64)), 0, 0};
  for (int tries = 0; tries < 64; ++tries) {
    if (FT_Request_Size(face, &req) != 0) return false;
    if (w <= 0 || average_width_px(face) <= w + 0.01 || req.width <= 64) break;
    req.width -= 8;
  }
  ascent_px = static_cast<int>(std::lround(asc * h_ppem / face->units_per_EM));
  return true;
}

void load_glyph(Font& f, unsigned char c) {
  Glyph& g = f.glyphs[c];
  g.loaded = true;
  if (f.bitmap) {
    g.left = 0;
    g.top = 8;
    g.width = 8;
    g.rows = 8;
    g.advance = 8;
    g.alpha.assign(64, 0);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        if (kSystemFont8x8[c][y] & (0x80 >> x)) g.alpha[static_cast<std::size_t>(y) * 8 + x] = 255;
    return;
  }
  const FT_UInt index = FT_Get_Char_Index(f.face, char_for(f.charset, c));
  if (FT_Load_Glyph(f.face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) return;
  const FT_GlyphSlot slot = f.face->glyph;
  g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
  const FT_Bitmap& b = slot->bitmap;
  if (b.pixel_mode != FT_PIXEL_MODE_GRAY || b.buffer == nullptr) return;
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.width = static_cast<int>(b.width);
  g.rows = static_cast<int>(b.rows);
  g.alpha.resize(static_cast<std::size_t>(g.width) * g.rows);
  for (int y = 0; y < g.rows; ++y)
    for (int x = 0; x < g.width; ++x)
      g.alpha[static_cast<std::size_t>(y) * g.width + x] = b.buffer[y * b.pitch + x];
}

Font* font(int n) {
  if (n < 1 || n > kFontCount) return nullptr;
  return g_fonts[static_cast<std::size_t>(n)].get();
}

const Glyph& glyph(Font& f, unsigned char c) {
  if (!f.glyphs[c].loaded) load_glyph(f, c);
  return f.glyphs[c];
}

}  // namespace

char32_t cp437_to_unicode(unsigned char c) { return kCp437[c]; }

bool make_font(int n, int xs, double ys, const std::string& title_font_path) {
  if (n < 1 || n > kFontCount) return false;
  if (g_fonts[static_cast<std::size_t>(n)]) return true;
  FontDesc d = kFonts[n - 1];
  // At larger display scales the fonts grow with the surface; the system
  // font becomes a bold monospace face of the scaled height.
  if (xs > 1) {
    const int w = d.width;
    if (d.height == 36 || d.height == 20) {
      d.height = static_cast<int>(d.height * ys) - 3;
    } else if (d.height == 8) {
      d.weight = 700;
      d.height = static_cast<int>(d.height * ys) + 1;
      d.face = Face::kMono;
    } else {
      d.height = static_cast<int>(d.height * ys) + (d.height == 14 ? 1 : 0);
    }
    d.width = w * xs - (kFonts[n - 1].height == 14 ? 1 : 0);
  }
  auto f = std::make_unique<Font>();
  f->charset = d.charset;
  if (d.face == Face::kSystem) {
    f->bitmap = true;
    f->cell_height = 8;
    f->ascent = 8;
    f->average_width = 8;
    f->own_arrows = true;
    g_fonts[static_cast<std::size_t>(n)] = std::move(f);
    return true;
  }
  if (!init_freetype()) return false;
  std::string file;
  int index = 0;
  const bool bold = d.weight >= 600 || d.face == Face::kSansBold;
  switch (d.face) {
    case Face::kSans:
    case Face::kSansBold:
      if (!find_face("Liberation Sans", bold, file, index)) return false;
      break;
    case Face::kMono:
      if (!find_face("DejaVu Sans Mono", bold, file, index)) return false;
      break;
    case Face::kTitle: file = title_font_path; break;
    case Face::kSystem: break;
  }
  FT_Face face = nullptr;
  if (FT_New_Face(g_ft, file.c_str(), index, &face) != 0) return false;
  int ascent = 0;
  if (!size_face(face, d.height, d.width, ascent)) {
    FT_Done_Face(face);
    return false;
  }
  f->face = face;
  f->cell_height = d.height;
  f->ascent = ascent;
  f->average_width = static_cast<int>(std::lround(average_width_px(face)));
  // Fonts of the OEM set carry the arrows 24..27 themselves when the face
  // has them; the symbol twins are then not needed.
  f->own_arrows = d.charset == Charset::kOem && FT_Get_Char_Index(face, U'\u2191') != 0 &&
                  FT_Get_Char_Index(face, U'\u2190') != 0;
  g_fonts[static_cast<std::size_t>(n)] = std::move(f);
  return true;
}

bool font_made(int n) { return font(n) != nullptr; }

bool start_fontconfig() { return g_fontconfig.start(); }

void free_font(int n) {
  Font* f = font(n);
  if (!f) return;
  if (f->face) FT_Done_Face(f->face);
  g_fonts[static_cast<std::size_t>(n)].reset();
}

bool font_has_own_arrows(int n) {
  const Font* f = font(n);
  return f && f->own_arrows;
}

int font_cell_height(int n) {
  const Font* f = font(n);
  return f ? f->cell_height : 0;
}

int font_ascent(int n) {
  const Font* f = font(n);
  return f ? f->ascent : 0;
}

int font_average_width(int n) {
  const Font* f = font(n);
  return f ? f->average_width : 0;
}

int font_char_advance(int n, unsigned char c) {
  Font* f = font(n);
  return f ? glyph(*f, c).advance : 0;
}

int draw_font_char(Bitmap& dst, int n, int x, int y, unsigned char c, std::uint32_t color, int cl, int ct, int cr,
                   int cb) {
  Font* f = font(n);
  if (!f) return 0;
  const Glyph& g = glyph(*f, c);
  cl = std::max(cl, 0);
  ct = std::max(ct, 0);
  cr = std::min(cr, dst.width);
  cb = std::min(cb, dst.height);
  const int ox = x + g.left;
  const int oy = y + f->ascent - g.top;
  const int cr_ = static_cast<int>((color >> 16) & 255), cg_ = static_cast<int>((color >> 8) & 255),
            cb_ = static_cast<int>(color & 255);
  for (int gy = 0; gy < g.rows; ++gy) {
    const int py = oy + gy;
    if (py < ct || py >= cb) continue;
    for (int gx = 0; gx < g.width; ++gx) {
      const int px = ox + gx;
      if (px < cl || px >= cr) continue;
      const int a = g.alpha[static_cast<std::size_t>(gy) * g.width + gx];
      if (a == 0) continue;
      std::uint32_t& d = dst.at(px, py);
      if (a == 255) {
        d = color;
        continue;
      }
      const int dr = static_cast<int>((d >> 16) & 255), dg = static_cast<int>((d >> 8) & 255),
                db = static_cast<int>(d & 255);
      d = rgb(dr + (cr_ - dr) * a / 255, dg + (cg_ - dg) * a / 255, db + (cb_ - db) * a / 255);
    }
  }
  return g.advance;
}

void blend_shrunk_text(Bitmap& dst, const Bitmap& coverage, int x0, int y0, int w, int h, std::uint32_t color,
                       int cl, int ct, int cr, int cb) {
  const int tw = coverage.width, th = coverage.height;
  if (w <= 0 || h <= 0 || tw <= 0 || th <= 0) return;
  cl = std::max(cl, 0);
  ct = std::max(ct, 0);
  cr = std::min(cr, dst.width);
  cb = std::min(cb, dst.height);
  const int r = static_cast<int>((color >> 16) & 255), g = static_cast<int>((color >> 8) & 255),
            b = static_cast<int>(color & 255);
  for (int y = 0; y < h; ++y) {
    const int py = y0 + y;
    if (py < ct || py >= cb) continue;
    const int fy0 = static_cast<int>(static_cast<long>(y) * th / h);
    const int fy1 = std::max(fy0 + 1, static_cast<int>(static_cast<long>(y + 1) * th / h));
    for (int x = 0; x < w; ++x) {
      const int px = x0 + x;
      if (px < cl || px >= cr) continue;
      const int fx0 = static_cast<int>(static_cast<long>(x) * tw / w);
      const int fx1 = std::max(fx0 + 1, static_cast<int>(static_cast<long>(x + 1) * tw / w));
      int sum = 0;
      for (int fy = fy0; fy < fy1 && fy < th; ++fy)
        for (int fx = fx0; fx < fx1 && fx < tw; ++fx) sum += static_cast<int>((coverage.at(fx, fy) >> 16) & 255);
      const int a = sum / ((fx1 - fx0) * (fy1 - fy0));
      if (a == 0) continue;
      std::uint32_t& d = dst.at(px, py);
      const int dr = static_cast<int>((d >> 16) & 255), dg = static_cast<int>((d >> 8) & 255),
                db = static_cast<int>(d & 255);
      d = rgb(dr + (r - dr) * a / 255, dg + (g - dg) * a / 255, db + (b - db) * a / 255);
    }
  }
}

}  // namespace vaslab
