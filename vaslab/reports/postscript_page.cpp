#include "vaslab/reports/postscript_page.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_fonts.h"
#include "vaslab/reports/page_renderer.h"

namespace vaslab {
namespace {

constexpr const char* kTextFile = "c:\\temp\\text.ps";
constexpr char kHex[] = "0123456789ABCDEF";

// The underline is drawn from the font's own underline position and
// thickness, between the points before and after the show.
constexpr const char* kUnderlineEnd =
    "/endpoint [currentpoint] def\n"
    "newpath\n"
    "currentfont/FontMatrix get 3 get\n"
    "currentfont/FontInfo get /UnderlinePosition get 1 index mul 2 add\n"
    "startpoint aload pop 3 -1 roll add moveto\n"
    "currentfont/FontInfo get /UnderlineThickness get 1 index mul\n"
    "setlinewidth\n"
    "endpoint aload pop pop startpoint aload pop pop sub\n"
    "0 rlineto\n"
    "stroke\n"
    "pop\n";

// The texts are set in the page's own bitmap fonts, handed to the
// interpreter as Type 3 fonts of the glyphs the text uses, so that the
// PostScript page and the PDF made from it show what the raster and the
// screen show.  Each font's em is the 50 drawn glyph rows, with its
// horizontal scale such that the size commands below (12 points high, 7.2,
// 6 or 4.32 points a character) put one glyph pixel on one page pixel; the
// glyph's top row starts 10 points above the point the text is set at, where
// the raster starts it.
constexpr int kFontFaces = 6;  // courier, gothic, compressed; normal and bold
constexpr const char* kCellTop = "41.6667";  // 10 points in glyph pixels of 0.24 points

int font_face(int attribute) { return std::min(attribute & 3, 2) * 2 + ((attribute & 0x20) ? 1 : 0); }

// The name the interpreter knows a face by: its font file's name.
std::string face_name(int face) {
  std::string n = page_font_name(face / 2, face & 1);
  for (char& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return n;
}

// A glyph name whose meaning text extraction knows (the standard names of
// the printable ASCII characters, "uniXXXX" for the rest of code page 437),
// so that an apostrophe reads back as an apostrophe and a box-drawing bar
// as a box-drawing bar.
std::string glyph_name(unsigned char code) {
  static constexpr const char* kAscii[95] = {
      "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quotesingle",
      "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash",
      "zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
      "colon", "semicolon", "less", "equal", "greater", "question", "at",
      "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M",
      "N", "O", "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z",
      "bracketleft", "backslash", "bracketright", "asciicircum", "underscore", "grave",
      "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m",
      "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z",
      "braceleft", "bar", "braceright", "asciitilde"};
  if (code >= 32 && code < 127) return kAscii[code - 32];
  char buf[16];
  std::snprintf(buf, sizeof buf, "uni%04X", static_cast<unsigned>(cp437_to_unicode(code)));
  return buf;
}

// A position in hundredths of a point as "d.dd"; never negative, since the
// page reader keeps every text on the page.
void append_hundredths(std::string& out, int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d.%02d", v / 100, v % 100);
  out += buf;
}

// The rows go to memory and the page file is written whole at the end, so
// that a page is either complete or not there: a print processor that fails
// half-way must not leave a job the spooler would send.
class PostScriptOutput : public PageOutput {
 public:
  PostScriptOutput(std::string path, bool colour) : path_(std::move(path)), colour_(colour) {}
  ~PostScriptOutput() override {
    if (text_fd_ >= 0) (void)platform::file_close(text_fd_);  // only after a failure; nothing to keep
  }

  bool failed() const { return failed_; }

  bool open() override {
    text_fd_ = platform::file_open(kTextFile, platform::OpenMode::kCreateAlways);
    if (text_fd_ < 0) {
      platform::note_failure_cause(kTextFile, text_fd_);
      return false;
    }
    page_.reserve(static_cast<std::size_t>(kPageHeight) * (colour_ ? 1801 : 601) + 4096);
    page_ = "%!\ngsave\n18 16 translate\n576 756 scale\n";
    page_ += colour_ ? "2400 3150 1 [2400 0 0 -3150 0 3150] { currentfile 900 string readhexstring pop } false 3 colorimage\n"
                     : "2400 3150 1 [2400 0 0 -3150 0 3150] { currentfile 300 string readhexstring pop } image\n";
    return true;
  }

  bool draws_text() const override { return false; }

  void text(std::string_view s, int attribute, int x, int row) override {
    append_hundredths(text_, 24 * x + 1800);
    text_ += ' ';
    append_hundredths(text_, 76200 - 24 * row);
    text_ += " moveto\n";
    const int face = font_face(attribute);
    text_ += '/' + face_name(face) + " findfont\n";
    static constexpr const char* kSize[] = {"12 scalefont\n", "[10 0 0 12 0 0] makefont\n",
                                            "[7.2 0 0 12 0 0] makefont\n", "[7.2 0 0 12 0 0] makefont\n"};
    text_ += kSize[attribute & 3];
    text_ += "setfont\n";
    set_colour(page_colour((attribute >> 2) & 7));
    const bool underline = attribute & 0x40;
    if (underline) text_ += "/startpoint [currentpoint] def\n";
    text_ += '(';
    for (const char ch : s) {
      const auto c = static_cast<unsigned char>(ch);
      if (c >= 1 && c <= 7) {
        text_ += ") show\n";
        set_colour(page_colour(c));
        text_ += '(';
        continue;
      }
      if (c == '\\' || c == '(' || c == ')') text_ += '\\';
      text_ += ch;
      used_[face].set(c);
    }
    text_ += ") show\n";
    if (underline) text_ += kUnderlineEnd;
  }

  // Colour: three hex digits for each four pixels, the red, green and blue
  // bits of each pixel in turn.  Mono: one bit a pixel, set for white.
  void row(const std::uint8_t* px) override {
    if (colour_) {
      for (int x = 0; x < kPageWidth; x += 4) {
        const unsigned v = (px[x] & 7u) << 9 | (px[x + 1] & 7u) << 6 | (px[x + 2] & 7u) << 3 | (px[x + 3] & 7u);
        page_ += kHex[v >> 8];
        page_ += kHex[(v >> 4) & 15];
        page_ += kHex[v & 15];
      }
    } else {
      for (int x = 0; x < kPageWidth; x += 4)
        page_ += kHex[(px[x] == 7) << 3 | (px[x + 1] == 7) << 2 | (px[x + 2] == 7) << 1 | (px[x + 3] == 7)];
    }
    page_ += '\n';
  }

  void close() override {
    page_ += "%%EOF\ngrestore\n";
    const int fd = text_fd_;
    text_fd_ = -1;
    // The text file is the page's own work file: a text lost on its way
    // through it would be a page printed without its texts.
    const long long written = platform::file_write(fd, text_.data(), text_.size());
    const int closed = platform::file_close(fd);
    if (written != static_cast<long long>(text_.size()) || closed != 0) {
      failed_ = true;
      platform::note_failure_cause(kTextFile, written < 0 ? static_cast<int>(written) : closed < 0 ? closed : -EIO);
      return;
    }
    for (int face = 0; face < kFontFaces; ++face)
      if (used_[face].any() && !define_font(face)) failed_ = true;
    if (failed_) return;
    page_ += text_;
    page_ += "showpage\n";
    if (const int e = platform::write_file_atomic(platform::map_path(path_), page_.data(), page_.size(), 0600)) {
      failed_ = true;
      platform::note_failure_cause(path_, e);
    }
  }

 private:
  void set_colour(int c) {
    int r, g, b;
    if (colour_) {
      r = c & 4 ? 255 : 0;
      g = c & 2 ? 255 : 0;
      b = c & 1 ? 255 : 0;
    } else {
      r = g = b = c == 7 ? 255 : 0;
    }
    text_ += std::to_string(r) + ' ' + std::to_string(g) + ' ' + std::to_string(b) + " setrgbcolor\n";
  }

  // The face as a Type 3 font of the glyphs used, from the very font file
  // the raster is drawn with.  False when that font is found nowhere.
  bool define_font(int face) {
    const auto font = fonts_.load(page_font_name(face / 2, face & 1), kPageFontBytes);
    if (font.size() != kPageFontBytes) return false;
    const int width = page_font_width(face / 2);
    const std::uint32_t kept = ~0u << (32 - width);  // the raster draws no more of a glyph row
    char buf[96];
    page_ += '/' + face_name(face) + " 12 dict begin\n/FontType 3 def\n";
    std::snprintf(buf, sizeof buf, "/FontMatrix [%.7f 0 0 0.02 0 0] def\n", 0.6 / width);
    page_ += buf;
    page_ += std::string("/FontBBox [0 ") + kCellTop + " 50 sub 32 " + kCellTop + "] def\n";
    // The raster's underline row, for the underline the text commands draw
    // from these (two points above the position, as they add).
    page_ += std::string("/FontInfo 2 dict dup begin /UnderlinePosition ") + kCellTop +
             " 45.5 sub 2 0.24 div sub def /UnderlineThickness 1 def end def\n";
    page_ += "/Encoding 256 array def\n0 1 255 { Encoding exch /.notdef put } for\n";
    std::string procs = "/.notdef <" + std::string(kPageFontRows * 8, '0') + "> def\n";
    int count = 1;
    for (int c = 32; c < 256; ++c) {
      if (!used_[face].test(static_cast<std::size_t>(c))) continue;
      const std::string name = glyph_name(static_cast<unsigned char>(c));
      page_ += "Encoding " + std::to_string(c) + " /" + name + " put\n";
      procs += '/' + name + " <";
      const std::uint8_t* g = font.data() + (c - 32) * 256;
      for (int r = 0; r < kPageFontRows; ++r) {
        std::uint32_t bits = (std::uint32_t{g[4 * r]} << 24 | std::uint32_t{g[4 * r + 1]} << 16 |
                              std::uint32_t{g[4 * r + 2]} << 8 | g[4 * r + 3]) & kept;
        for (int d = 7; d >= 0; --d) procs += kHex[(bits >> (4 * d)) & 15];
      }
      procs += "> def\n";
      ++count;
    }
    page_ += "/CharProcs " + std::to_string(count) + " dict def\nCharProcs begin\n" + procs + "end\n";
    // Not cached: a cached glyph is placed on whole device pixels, a row
    // off the raster's wherever the page's rows fall between them.
    std::snprintf(buf, sizeof buf, "/BuildGlyph { %d 0 setcharwidth\n", width);
    page_ += buf;
    page_ += "exch /CharProcs get exch 2 copy known not { pop /.notdef } if get\n";
    page_ += std::string("32 50 true [1 0 0 -1 0 ") + kCellTop + "] 5 -1 roll imagemask } bind def\n";
    page_ += "/BuildChar { 1 index /Encoding get exch get 1 index /BuildGlyph get exec } bind def\n";
    page_ += "currentdict end definefont pop\n";
    return true;
  }

  std::string path_;
  bool colour_;
  PageFileLoader fonts_;
  std::array<std::bitset<256>, kFontFaces> used_{};
  int text_fd_ = -1;
  std::string page_, text_;
  bool failed_ = false;
};

}  // namespace

int render_page_postscript(const std::uint8_t* data, std::size_t size, int colour, std::string_view win_path) {
  PostScriptOutput out{std::string(win_path), colour != 0};
  const int result = render_page(data, size, out);
  if (result != kPageOk) return result;
  return out.failed() ? kPageOutputFailed : kPageOk;
}

int render_page_file_postscript(std::string_view win_page, std::string_view win_out, int colour) {
  const int fd = platform::open_regular_file(platform::map_path(win_page));
  if (fd < 0) {
    platform::note_failure_cause(win_page, fd);
    return kPageFileNotOpened;
  }
  int result = 0;
  const long long size = platform::file_length(fd);
  std::vector<std::uint8_t> data;
  if (size < 0) {
    result = kPageFileNotRead;
  } else if (static_cast<std::size_t>(size) < kPageHeaderBytes) {
    result = kPageFileShort;
  } else {
    try {
      data.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      result = kPageFileNoMemory;
    }
  }
  if (result == 0) {
    std::size_t got = 0;
    while (got < data.size()) {
      const long long n = platform::file_read(fd, data.data() + got, data.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got != data.size()) {
      result = kPageFileNotRead;
      platform::note_failure_cause(win_page, -EIO);
    }
  }
  // Closing a file only read loses nothing; its result cannot matter here.
  (void)platform::file_close(fd);
  if (result != 0) return result;
  return render_page_postscript(data.data(), data.size(), colour, win_out) == kPageOk ? 0 : kPageFileNotRendered;
}

}  // namespace vaslab
