// The report page's bitmap fonts and pictures, found by file name: the
// graphics folder "C:\GRAPHIC\" first, then the folder of the running
// program, then the six fonts built into the program.  What is found stays in
// the loader's cache (names compared without regard to case) for the life of
// the loader, which is one page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vaslab {

// A font file: 224 glyphs (codes 32..255) of 64 rows of 4 bytes, most
// significant bit leftmost; rows 0..49 are drawn, row 45 is the underline.
constexpr std::size_t kPageFontBytes = 57344;
constexpr int kPageFontRows = 50;
constexpr int kPageUnderlineRow = 45;
// A picture file larger than this is never read whole.
constexpr std::size_t kPagePictureMaxBytes = 4u << 20;

class PageFileLoader {
 public:
  PageFileLoader();
  ~PageFileLoader();
  PageFileLoader(const PageFileLoader&) = delete;
  PageFileLoader& operator=(const PageFileLoader&) = delete;

  // The whole file, or an empty span when it is found nowhere.  With
  // `exact_size` non-zero a file of any other size is passed over for the
  // next place (a damaged font in the graphics folder falls back to the
  // built-in one).
  std::span<const std::uint8_t> load(std::string_view name, std::size_t exact_size = 0);
  // Empties the cache.
  void clear();

 private:
  struct Entry {
    std::string name;
    std::vector<std::uint8_t> owned;        // a file read
    std::span<const std::uint8_t> data;     // owned, or built into the program
  };
  std::vector<std::unique_ptr<Entry>> cache_;
};

// The six fonts by size (attribute bits 0-1) and bold: "cournor.fnt",
// "courbld.fnt", "gothnor.fnt", "gothbld.fnt", "compnor.fnt", "compbld.fnt".
const char* page_font_name(int size, bool bold);
// Pixels a character of a size: 30, 25, 18, 18.
int page_font_width(int size);

// A font built into the program by name (any case); empty when none.
std::span<const std::uint8_t> builtin_page_font(std::string_view name);

// The picture decoder.  A picture file: word 0 width (bits 0-11), colour A
// (12-14), two-colour coding (15); word 1 height, colour B, four-colour
// coding; then each row as a byte count (a sum of bytes continued while a
// byte is 255) and that many bytes of runs.
class PictureReader {
 public:
  explicit PictureReader(std::span<const std::uint8_t> file);
  bool valid() const { return valid_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Skips a whole row; false at the end of the data.
  bool skip_row();
  // Decodes the next row into page colours: drops `skip` pixels from its
  // start and writes at most `max` pixels to `out`; the rest of the row is
  // read and dropped.  The number of pixels written, or -1 at the end of the
  // data (a row cut short ends the picture too).
  int read_row(int skip, int max, std::uint8_t* out);

 private:
  bool byte(std::uint8_t& b);
  // A count continued while a byte is 255; each byte read is taken from
  // `budget` when given.  False when the data (or budget) ends first.
  bool count(int& value, int* budget);

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool valid_ = false;
  int width_ = 0, height_ = 0;
  int colour_bits_ = 3, escape_ = 31;
  std::uint8_t colours_[8] = {};
};

// The frame drawn around framed pressure values: a 138 by 72 two-colour
// picture, a ring 9 pixels thick in colour index 1.
std::span<const std::uint8_t> pressure_frame_picture();

}  // namespace vaslab
