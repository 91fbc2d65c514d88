// The page renderer: turns a report page file held in memory into the 2400
// by 3150 pixel page, one row at a time from the top, and hands every row to
// an output.  The raster output fills a caller's buffer of one byte a pixel;
// a printer output can take the same rows (and the texts, to set them in its
// own fonts) through PageOutput.
//
// Pixel values are page colours: 0..7 the RGB combinations (red 4, green 2,
// blue 1; 7 white, the background), 8..23 the grey ramp and 24..39 the
// colour ramp of spectra.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vaslab {

constexpr int kPageColours = 40;
constexpr std::size_t kPageRasterBytes = 2400u * 3150u;

// Result codes of rendering, beside kPageOk, kPageTooShort and kPageBadFormat
// of the page reader: the output could not be opened.
constexpr int kPageOutputFailed = 105;

// 0x00RRGGBB of a page colour (0..39); black for anything else.
std::uint32_t page_palette_rgb(int colour);

// Where the rows go.  The renderer calls open() once, then row() for each of
// the 3150 rows from the top, text() for each text of the page on the row it
// starts at (only when draws_text() is false), and close() at the end.
class PageOutput {
 public:
  virtual ~PageOutput() = default;
  // False: nothing is rendered and the result is kPageOutputFailed.
  virtual bool open() = 0;
  // True: texts are drawn into the rows with the page fonts; false: they are
  // handed to text() and left out of the rows.
  virtual bool draws_text() const = 0;
  // A text with its attribute byte (bits 0-1 size, 2-4 colour, 5 bold,
  // 6 underlined); bytes 1..7 inside switch the colour.
  virtual void text(std::string_view text, int attribute, int x, int row) = 0;
  // One finished row of 2400 pixels; bit 6 is already cleared.
  virtual void row(const std::uint8_t* pixels) = 0;
  virtual void close() = 0;
};

// Renders a page to an output: kPageOk, kPageTooShort, kPageBadFormat or
// kPageOutputFailed.  Nothing survives the call; it may run again at once.
int render_page(const std::uint8_t* data, std::size_t size, PageOutput& output);

// Renders into `raster` (kPageRasterBytes), bottom-up: page row 0 is the
// last 2400 bytes.  With `colour` 0 the page is folded to mono (0..6 become
// black, 7..23 stay, 24..39 fall onto the grey ramp).  A null raster is
// kPageOutputFailed: the PostScript output names its file and goes through
// render_page_postscript() (postscript_page.h).
int render_page_description(std::uint8_t* raster, const std::uint8_t* data, std::size_t size, int colour);

}  // namespace vaslab
