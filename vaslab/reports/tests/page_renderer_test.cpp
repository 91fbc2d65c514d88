#include "vaslab/reports/page_renderer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "testsupport/generator.h"
#include "testsupport/png.h"
#include "testsupport/temp_root.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_fonts.h"
#include "vaslab/reports/tests/test_pages.h"

namespace vaslab {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A rendered page, read top-down.
struct Page {
  Bytes raster = Bytes(kPageRasterBytes, 0xEE);
  int result = -1;
  int at(int x, int y) const { return raster[static_cast<std::size_t>(kPageHeight - 1 - y) * kPageWidth + x]; }
  // Columns of a row holding a colour.
  std::vector<int> columns(int y, int colour) const {
    std::vector<int> out;
    for (int x = 0; x < kPageWidth; ++x)
      if (at(x, y) == colour) out.push_back(x);
    return out;
  }
  int count_not_white(int left, int top, int right, int bottom) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) n += at(x, y) != 7;
    return n;
  }
  testsupport::Picture picture() const {
    testsupport::Picture p{kPageWidth, kPageHeight, {}};
    p.pixels.resize(kPageRasterBytes);
    for (int y = 0; y < kPageHeight; ++y)
      for (int x = 0; x < kPageWidth; ++x) p.pixels[static_cast<std::size_t>(y) * kPageWidth + x] = page_palette_rgb(at(x, y));
    return p;
  }
};

Page render_bytes(const Bytes& file, int colour = 1) {
  Page p;
  p.result = render_page_description(p.raster.data(), file.data(), file.size(), colour);
  return p;
}

Page render(const PageDescription& d, int colour = 1) { return render_bytes(build_page_description(d), colour); }

PageLineItem line(int x1, int y1, int x2, int y2, int colour_index, int width, int symbols = 0) {
  return PageLineItem{static_cast<std::int16_t>(x1), static_cast<std::int16_t>(y1),
                      static_cast<std::int16_t>(x2), static_cast<std::int16_t>(y2), 0, 0, 2399, 3149,
                      static_cast<std::uint8_t>(colour_index | (width << 4)), static_cast<std::uint8_t>(symbols)};
}

std::uint32_t glyph_row(const char* font, int c, int row) {
  const auto f = builtin_page_font(font);
  const std::uint8_t* g = f.data() + (c - 32) * 256 + 4 * row;
  return (std::uint32_t{g[0]} << 24) | (g[1] << 16) | (g[2] << 8) | g[3];
}

bool glyph_pixel(const char* font, int c, int row, int x) { return glyph_row(font, c, row) & (0x80000000u >> x); }

class Renderer : public ::testing::Test {
 protected:
  testsupport::TempRoot root_;
};

TEST_F(Renderer, ResultCodesAndTheMonoFold) {
  Bytes file = build_page_description(blank_page());
  Bytes raster(kPageRasterBytes);
  EXPECT_EQ(render_page_description(raster.data(), file.data(), 4868, 1), kPageTooShort);
  EXPECT_EQ(render_page_description(nullptr, file.data(), 4868, 1), kPageTooShort);
  EXPECT_EQ(render_page_description(nullptr, file.data(), file.size(), 1), kPageOutputFailed);
  file[1] = 2;
  EXPECT_EQ(render_page_description(raster.data(), file.data(), file.size(), 1), kPageBadFormat);

  // A spectrum in each ramp, pixels of every kind: the mono page is the
  // colour page folded pixel by pixel.
  PageDescription d = blank_page();
  d.waveform = std::make_unique<PageWaveformBlock>();
  for (int i = 0; i < kTraceSampleCount; ++i)
    for (int b = 0; b < kSpectrumBins; ++b) d.waveform->spectra[i][b] = static_cast<std::uint8_t>(i + b * 17);
  d.header.traces[0] = PageTraceEntry{100, 300, 0, 300, 0, 0x10, -1, -1, 0, 0};
  d.header.traces[1] = PageTraceEntry{1200, 300, 0, 300, 0, 0x30, -1, -1, 0, 0};
  d.header.traces[2] = PageTraceEntry{100, 1000, 0, 300, 0, 0x0C, 20, 40, 0, 0};
  d.lines.push_back(line(100, 2000, 2000, 2100, 6, 3));
  add_text(d, 100, 2500, 0x18, "colours \x01one\x02two\x03three\x04" "four\x05" "five\x06six");
  const Page colour = render(d, 1), mono = render(d, 0);
  ASSERT_EQ(colour.result, kPageOk);
  ASSERT_EQ(mono.result, kPageOk);
  std::set<int> seen;
  for (std::size_t i = 0; i < kPageRasterBytes; ++i) {
    const int v = colour.raster[i];
    seen.insert(v);
    ASSERT_EQ(mono.raster[i], v < 7 ? 0 : v < 24 ? v : v - 16) << i;
  }
  for (int v : {0, 1, 2, 3, 4, 5, 6, 7, 9, 23, 25, 39}) EXPECT_TRUE(seen.count(v)) << v;
}

TEST_F(Renderer, HeaderLinesOnlyWhereTheyHaveAValue) {
  PageDescription d = blank_page();
  std::strcpy(d.header.patient_name, "DOE, JANE");
  std::strcpy(d.header.patient_id, "4711");
  std::strcpy(d.header.right_line_3, "Tech: AB");
  const Page p = render(d);
  ASSERT_EQ(p.result, kPageOk);
  EXPECT_GT(p.count_not_white(0, 0, 330, 50), 0);      // "     Name: "
  EXPECT_GT(p.count_not_white(330, 0, 1230, 50), 0);   // its value
  EXPECT_GT(p.count_not_white(0, 50, 1230, 100), 0);
  EXPECT_EQ(p.count_not_white(0, 100, 1230, 200), 0);  // no exam date, no fourth line
  EXPECT_EQ(p.count_not_white(1230, 0, 2100, 100), 0);
  EXPECT_GT(p.count_not_white(1230, 100, 2100, 150), 0);
  // Header text is black; nothing else is on the page without a logo.
  EXPECT_EQ(p.count_not_white(0, 200, kPageWidth, kPageHeight), 0);
  for (int x = 0; x < 1500; ++x)
    for (int y = 0; y < 150; ++y) ASSERT_TRUE(p.at(x, y) == 0 || p.at(x, y) == 7);
}

TEST_F(Renderer, TextGlyphRowsColoursUnderlineAndEdges) {
  PageDescription d = blank_page();
  add_text(d, 100, 3149, 0x1C, "\xB3\xB3");     // only its first glyph row fits
  add_text(d, 200, 400, 0x40 | (3 << 2), "ab");  // underlined, colour index 3 (page 1)
  add_text(d, 500, 600, 0x1C, "\xDB");          // two blocks on one row:
  add_text(d, 500, 600, 0x06 << 2, "\xDB");     // the later one wins
  add_text(d, 2380, 800, 0x1C, "\xDB\xDB\xDB");  // the pen stops at the last column
  add_text(d, 100, 1000, 0x1E, "A\x06" "A");     // 18-pixel font, red after the switch
  const Page p = render(d);
  ASSERT_EQ(p.result, kPageOk);

  for (int x = 0; x < 60; ++x) {
    const bool set = glyph_pixel("cournor.fnt", 0xB3, 0, x % 30);
    EXPECT_EQ(p.at(100 + x, 3149), set ? 0 : 7) << x;
  }
  EXPECT_EQ(p.count_not_white(0, 3100, kPageWidth, 3149), 0);

  EXPECT_EQ(p.columns(445, 1).size(), 60u);  // underline across both characters
  EXPECT_EQ(p.columns(445, 1).front(), 200);

  for (int r = 0; r < kPageFontRows; ++r)
    for (int x = 0; x < 30; ++x) {
      const bool set = glyph_pixel("cournor.fnt", 0xDB, r, x);
      ASSERT_EQ(p.at(500 + x, 600 + r), set ? page_colour(6) : 7) << r << "," << x;
    }

  for (int k = 0; k < 19; ++k) EXPECT_EQ(p.at(2380 + k, 820), glyph_pixel("cournor.fnt", 0xDB, 20, k) ? 0 : 7) << k;
  EXPECT_EQ(p.at(2399, 820), 0);

  for (int r = 0; r < kPageFontRows; ++r)
    for (int x = 0; x < 36; ++x) {
      const bool set = glyph_pixel("compnor.fnt", 'A', r, x % 18);
      ASSERT_EQ(p.at(100 + x, 1000 + r), set ? (x < 18 ? 0 : 4) : 7) << r << "," << x;
    }
}

TEST_F(Renderer, PressureValuesWithTheirFrameAndClippedAtTheEdges) {
  PageDescription d = blank_page();
  d.header.pressures[0] = PagePressureValue{1000, 1000, 0x01, "123"};  // framed, right-aligned
  d.header.pressures[1] = PagePressureValue{0, 2000, 0x01, "1234"};    // text from x -20, frame at 0
  d.header.pressures[2] = PagePressureValue{2390, 3140, 0x01, "99"};   // frame off the edges
  d.header.pressures[3] = PagePressureValue{500, 500, 0x05, "77"};     // hidden
  const Page p = render(d);
  ASSERT_EQ(p.result, kPageOk);
  // The frame: 138 by 72 from (981, 989), a ring 9 pixels thick in page colour 3.
  for (int y = 989; y < 989 + 72; ++y)
    for (int x = 981; x < 981 + 138; ++x) {
      const bool ring = y < 989 + 9 || y >= 989 + 63 || x < 981 + 9 || x >= 981 + 129;
      if (ring) {
        ASSERT_EQ(p.at(x, y), 3) << x << "," << y;
      }
    }
  EXPECT_EQ(p.at(980, 1000), 7);
  EXPECT_EQ(p.at(981 + 138, 1000), 7);
  // "123" right-aligned: from x 1000 + 100 - 90, in the 30-pixel font.
  EXPECT_GT(p.count_not_white(1010, 1010, 1100, 1050), 0);
  EXPECT_EQ(p.count_not_white(1100, 1000, 1110, 1050), 0);
  // Four characters take the narrower font; the frame is clamped at x 0.
  EXPECT_EQ(p.at(0, 1989), 3);
  EXPECT_GT(p.count_not_white(0, 2000, 80, 2050), 0);
  EXPECT_EQ(p.at(2399, 3129), 3);
  EXPECT_EQ(p.count_not_white(400, 480, 700, 600), 0);
}

TEST_F(Renderer, LinesClipCrossAndWiden) {
  PageDescription d = blank_page();
  d.lines.push_back(line(5, 1000, 2395, 1000, 7, 1));    // clipped to 11..2388
  d.lines.push_back(line(100, 100, 900, 200, 7, 1));     // wholly above row 216
  d.lines.push_back(line(300, 1200, 700, 1600, 3, 1));   // colour 3 and 4 crossing
  d.lines.push_back(line(700, 1200, 300, 1600, 4, 1));
  d.lines.push_back(line(1300, 1200, 1700, 1600, 3, 1));  // the same colour crossing
  d.lines.push_back(line(1700, 1200, 1300, 1600, 3, 1));
  d.lines.push_back(line(500, 2000, 900, 2400, 7, 5));   // diagonal, width 5: six passes
  d.lines.push_back(line(1500, 2000, 1500, 2400, 7, 5)); // upright, width 5: five passes
  d.lines.push_back(line(1000, 2800, 1400, 2800, 1, 2, 0x24));  // square and diamond ends
  const Page p = render(d);
  ASSERT_EQ(p.result, kPageOk);

  const std::vector<int> row = p.columns(1000, 0);
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.front(), 11);
  EXPECT_EQ(row.back(), 2388);
  EXPECT_EQ(row.size(), 2388u - 11u + 1u);
  EXPECT_EQ(p.count_not_white(0, 0, kPageWidth, 216), 0);

  EXPECT_EQ(p.at(500, 1400), 0);                         // colours 1 and 6 cross: black
  EXPECT_EQ(p.columns(1300, 1), (std::vector<int>{400, 1400, 1600}));
  EXPECT_EQ(p.columns(1300, 6), (std::vector<int>{600}));
  EXPECT_EQ(p.columns(1400, 1), (std::vector<int>{1500}));  // one colour crossing itself
  EXPECT_TRUE(p.columns(1400, 6).empty());

  for (int y = 2100; y < 2300; y += 37) {
    EXPECT_EQ(p.columns(y, 0).size() - (y >= 2000 && y <= 2400 ? 5 : 0), 6u) << y;
  }
  // A horizontal line of width 2 is two rows; its symbols are centred on its ends.
  for (int x = 1000; x <= 1400; ++x) {
    ASSERT_EQ(p.at(x, 2800), page_colour(1)) << x;
    ASSERT_EQ(p.at(x, 2801), page_colour(1)) << x;
    if (x > 1011 && x < 1389) {
      ASSERT_EQ(p.at(x, 2802), 7) << x;
    }
  }
  EXPECT_EQ(p.at(1000 - 11, 2800 - 11), page_colour(1));  // the square's corner
  EXPECT_EQ(p.at(1000 - 11, 2800), page_colour(1));
  EXPECT_EQ(p.at(1400 - 11, 2800 - 11), 7);               // the diamond has no corner
  EXPECT_EQ(p.at(1400, 2800 - 11), page_colour(1));      // ... but its top
  EXPECT_EQ(p.count_not_white(0, 2812, kPageWidth, 2900), 0);
}

// Rows of a trace's span that are wholly colour 0: the level line.
std::vector<int> level_line_rows(const Page& p, int x, int span, int top, int bottom) {
  std::vector<int> rows;
  for (int y = top; y < bottom; ++y) {
    bool all = true;
    for (int i = 0; i < span && all; ++i) all = p.at(x + i, y) == 0;
    if (all) rows.push_back(y);
  }
  return rows;
}

TEST_F(Renderer, PlainTraces) {
  PageDescription d = blank_page();
  for (int i = 0; i < kTraceSampleCount; ++i) d.header.samples[i] = static_cast<std::uint8_t>(100 + (i % 50));
  set_sample_flag(d.header, 16 + 3, true);
  // Level 19 valid; points at samples 10 and 5000 (outside: ignored).
  d.header.traces[0] = PageTraceEntry{100, 300, 16, 100, 19, 0x04, 10, 5000, 0, 0};
  d.header.traces[1] = PageTraceEntry{1000, 300, 16, 100, 19, 0x0C, -1, -1, 0, 0};  // no dots
  // 2960 samples from x 2000 run far past the row: clipped.
  d.header.traces[2] = PageTraceEntry{2000, 1200, 0, 2960, 0, 0x00, 2959, 2000, 0, 0};
  const Page p = render(d);
  ASSERT_EQ(p.result, kPageOk);

  // The trace takes 472 rows; level 19 has its two rows.
  const std::vector<int> level = level_line_rows(p, 100, 300, 300, 800);
  ASSERT_EQ(level.size(), 2u);
  EXPECT_EQ(level[1], level[0] + 1);
  EXPECT_EQ(p.count_not_white(100, 300 + 472, 400, 1200), 0);
  EXPECT_GT(p.count_not_white(100, 300 + 471, 400, 300 + 472), 0);

  // The point is a vertical line through the whole trace.
  for (int y = 300; y < 772; ++y) ASSERT_EQ(p.at(130, y), 0) << y;
  // Dots of colour 1 only without flag bit 3; the level line either way.
  int dots = 0, no_dots = 0;
  for (int y = 300; y < 772; ++y) {
    dots += static_cast<int>(p.columns(y, 1).size());
    for (int x = 1000; x < 1300; ++x) no_dots += p.at(x, y) == 1;
  }
  EXPECT_GT(dots, 0);
  EXPECT_EQ(no_dots, 0);
  EXPECT_EQ(level_line_rows(p, 1000, 300, 300, 800), level);
  // The flagged sample (3) is red on the first two and last two rows where
  // the trace is drawn, black elsewhere.
  for (int k = 0; k < 3; ++k) {
    EXPECT_NE(p.at(100 + 9 + k, 300), 0);
    EXPECT_NE(p.at(100 + 9 + k, 771), 0);
  }
  int red = 0;
  for (int y = 300; y < 772; ++y)
    for (int x = 100; x < 400; ++x) red += p.at(x, y) == 4;
  EXPECT_EQ(red, 0);  // this sample's curve is not on those rows

  // The long trace fills to the row's end.
  EXPECT_EQ(p.at(2396, 1200), 1);
  EXPECT_EQ(p.at(2397, 1200), 1);
}

TEST_F(Renderer, SpectraUseTheirRamp) {
  PageDescription d = blank_page();
  d.waveform = std::make_unique<PageWaveformBlock>();
  for (int i = 0; i < kTraceSampleCount; ++i) {
    for (int b = 0; b < kSpectrumBins; ++b) d.waveform->spectra[i][b] = static_cast<std::uint8_t>((i + b) * 7);
    d.waveform->upper[i] = 120;
    d.waveform->lower[i] = 40;
  }
  d.header.traces[0] = PageTraceEntry{100, 300, 0, 200, 0, 0x10 | 0x40, -1, -1, 0, 0};  // colour ramp
  d.header.traces[1] = PageTraceEntry{1200, 300, 0, 200, 0, 0x30, -1, -1, 0, 0};        // grey ramp
  const Page p = render(d);
  ASSERT_EQ(p.result, kPageOk);
  std::set<int> left, right;
  for (int y = 300; y < 300 + 468; ++y)
    for (int x = 0; x < 600; ++x) {
      left.insert(p.at(100 + x, y));
      right.insert(p.at(1200 + x, y));
    }
  for (int v : left) EXPECT_TRUE(v == 0 || v == 1 || v == 7 || (v >= 24 && v <= 39)) << v;
  for (int v : right) EXPECT_TRUE(v == 1 || v == 7 || (v >= 8 && v <= 23)) << v;
  EXPECT_TRUE(left.count(39));
  EXPECT_TRUE(right.count(23));
  // 468 rows, a dotted base line on the last.
  EXPECT_EQ(p.at(1200 + 4, 300 + 467), 1);
  EXPECT_EQ(p.at(1200 + 5, 300 + 467), 8);
  EXPECT_EQ(p.count_not_white(100, 300 + 468, 2000, 1000), 0);
}

// Pictures written by the independent encoder, drawn and compared with the
// pixels its own decoder computes from the same bytes.
TEST_F(Renderer, PicturesInEveryCodingAndMirrorMode) {
  struct Case {
    const char* coding;
    int x, y, mirror, gap, source_x, source_rows, draw_w, draw_h;
  } cases[] = {
      {"colour", 100, 300, 0, 0, 0, 0, 700, 40},
      {"two", 900, 300, 0, 0, 33, 2, 600, 38},
      {"four", 1700, 300, 0, 0, 0, 0, 700, 40},  // wider than the rest of the row
      {"colour", 1600, 1000, 1, 5, 10, 0, 600, 30},
      {"four", 800, 1000, 2, 0, 0, 5, 700, 100},  // the picture ends after 35 rows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.coding);
    const std::string dir = root_.path();
    const std::string gph = testsupport::run_generator("vaslab/reports/tests/gph.py", dir, "pic.gph",
                                                       std::string(c.coding) + " 7");
    ASSERT_FALSE(gph.empty());
    root_.write("C:\\GRAPHIC\\PIC.GPH", gph);
    PageDescription d = blank_page();
    PageGraphicItem g{};
    g.x = static_cast<std::int16_t>(c.x);
    g.y = static_cast<std::int16_t>(c.y);
    std::strcpy(g.picture, "pic.gph");
    g.mirror = static_cast<std::uint8_t>(c.mirror);
    g.gap = static_cast<std::int16_t>(c.gap);
    g.source_x = static_cast<std::int16_t>(c.source_x);
    g.source_rows = static_cast<std::int16_t>(c.source_rows);
    g.draw_width = static_cast<std::int16_t>(c.draw_w);
    g.draw_height = static_cast<std::int16_t>(c.draw_h);
    d.graphic_items.push_back(g);
    const Page p = render(d);
    ASSERT_EQ(p.result, kPageOk);

    const std::string args = platform::map_path("C:\\GRAPHIC\\PIC.GPH") + " " + std::to_string(c.x) + " " +
                             std::to_string(c.y) + " " + std::to_string(c.mirror) + " " + std::to_string(c.gap) +
                             " " + std::to_string(c.source_x) + " " + std::to_string(c.source_rows) + " " +
                             std::to_string(c.draw_w) + " " + std::to_string(c.draw_h);
    std::istringstream expected(
        testsupport::run_generator("vaslab/reports/tests/gph_expect.py", dir, "expected.txt", args));
    // Everything the decoder does not paint stays white: compare the raster whole.
    Bytes want(kPageRasterBytes, 7);
    int row = 0, x = 0, colour = 0, painted = 0;
    while (expected >> row >> x >> colour) {
      want[static_cast<std::size_t>(kPageHeight - 1 - row) * kPageWidth + x] = static_cast<std::uint8_t>(colour);
      ++painted;
    }
    ASSERT_GT(painted, 1000);
    const auto diff = std::mismatch(want.begin(), want.end(), p.raster.begin());
    if (diff.first != want.end()) {
      const auto i = diff.first - want.begin();
      FAIL() << "pixel " << i % kPageWidth << "," << kPageHeight - 1 - i / kPageWidth << ": " << int{*diff.second}
             << " not " << int{*diff.first};
    }
  }
}

TEST_F(Renderer, LogoCentredInItsBoxAndFontsFromTheGraphicsFolder) {
  // A logo 500 wide and 100 high, all black: drawn 300 wide from x 2100,
  // centred vertically in the 200-row box.
  std::string logo = {static_cast<char>(500 & 255), static_cast<char>((500 >> 8) | (7 << 4)), 100, 0};
  for (int r = 0; r < 100; ++r) logo += "\x03\xFF\xFF\xD5";  // colour 7, length 31 + 255 + 213
  root_.write("C:\\GRAPHIC\\hdrlogo.gph", logo);
  // A font in the graphics folder overrides the built-in one; a damaged
  // one (wrong size) is passed over.
  root_.write("C:\\GRAPHIC\\GOTHNOR.FNT", std::string(kPageFontBytes, '\xFF'));
  root_.write("C:\\GRAPHIC\\courbld.fnt", std::string(kPageFontBytes - 1, '\xFF'));
  PageDescription d = blank_page();
  add_text(d, 100, 1000, 0x1D, "ab");  // 25 pixels: the folder's solid font
  add_text(d, 100, 2000, 0x3C, "\xDB");  // bold 30 pixels: the built-in font
  const Page p = render(d);
  ASSERT_EQ(p.result, kPageOk);
  EXPECT_EQ(p.count_not_white(0, 0, kPageWidth, 50), 0);
  EXPECT_EQ(p.count_not_white(2100, 50, 2400, 150), 300 * 100);
  EXPECT_EQ(p.count_not_white(0, 150, kPageWidth, 1000), 0);
  EXPECT_EQ(p.count_not_white(100, 1000, 150, 1050), 50 * 50);
  EXPECT_EQ(p.count_not_white(150, 1000, 300, 1050), 0);
  for (int x = 0; x < 30; ++x)
    EXPECT_EQ(p.at(100 + x, 2020), glyph_pixel("courbld.fnt", 0xDB, 20, x) ? 0 : 7);
}

TEST(PageFonts, BuiltInFontsAndTheCache) {
  testsupport::TempRoot root;
  for (int size = 0; size < 3; ++size)
    for (bool bold : {false, true}) {
      const auto f = builtin_page_font(page_font_name(size, bold));
      ASSERT_EQ(f.size(), kPageFontBytes);
      const int width = page_font_width(size);
      int set = 0;
      for (int c = 32; c < 256; ++c)
        for (int r = 0; r < 64; ++r) {
          const std::uint32_t bits = glyph_row(page_font_name(size, bold), c, r);
          ASSERT_EQ(bits & (0xFFFFFFFFu >> width), 0u) << page_font_name(size, bold) << " " << c;
          if (r >= kPageFontRows) {
            ASSERT_EQ(bits, 0u);
          }
          if (c == 'A') set += __builtin_popcount(bits);
        }
      EXPECT_GT(set, 50);
    }
  EXPECT_EQ(builtin_page_font("COURNOR.FNT").size(), kPageFontBytes);
  EXPECT_TRUE(builtin_page_font("hdrlogo.gph").empty());

  root.write("C:\\GRAPHIC\\hdrlogo.gph", "logo");
  PageFileLoader loader;
  EXPECT_EQ(loader.load("HDRLOGO.GPH").size(), 4u);
  std::remove(platform::map_path("C:\\GRAPHIC\\hdrlogo.gph").c_str());
  EXPECT_EQ(loader.load("hdrlogo.gph").size(), 4u);  // from the cache
  loader.clear();
  EXPECT_TRUE(loader.load("hdrlogo.gph").empty());
  EXPECT_TRUE(loader.load("..\\TEMP\\x").empty());
}

TEST(PagePictures, CountsAndRunsStayInsideTheData) {
  // A row count coded 255, 0 is 255 bytes of runs.
  std::vector<std::uint8_t> pic = {10, 0, 1, 0, 255, 0};
  for (int i = 0; i < 255; ++i) pic.push_back(0xE0);  // colour index 7 (black), one pixel
  PictureReader r(pic);
  std::vector<std::uint8_t> out(300, 9);
  EXPECT_EQ(r.read_row(0, 300, out.data()), 255);
  EXPECT_EQ(out[254], 0);
  EXPECT_EQ(out[255], 9);
  EXPECT_EQ(r.read_row(0, 300, out.data()), -1);
  // A row that claims more bytes than there are ends the picture.
  const std::vector<std::uint8_t> cut = {10, 0, 1, 0, 20, 0xE0, 0xE0};
  PictureReader c(cut);
  EXPECT_EQ(c.read_row(0, 300, out.data()), -1);
  // An escape continued past the row's bytes keeps what it has.
  const std::vector<std::uint8_t> esc = {10, 0, 1, 0, 2, 0x1F, 255, 7};
  PictureReader e(esc);
  EXPECT_EQ(e.read_row(0, 1000, out.data()), 32 + 255);
  EXPECT_FALSE(PictureReader(std::span<const std::uint8_t>(pic.data(), 3)).valid());
}

}  // namespace
}  // namespace vaslab

namespace vaslab {
namespace {

// A page at the limits the reader lets through: coordinates at the page's
// edges, the widest lines, the longest trace, pictures wider than the page.
PageDescription page_at_the_limits() {
  PageDescription d = blank_page();
  std::memset(d.header.title, 'W', sizeof d.header.title - 1);
  std::memset(d.header.left_line_4, '\xDB', sizeof d.header.left_line_4 - 1);
  for (int i = 0; i < kTraceSampleCount; ++i) {
    d.header.samples[i] = static_cast<std::uint8_t>(i * 37);
    set_sample_flag(d.header, i, i % 5 == 0);
  }
  d.header.traces[0] = PageTraceEntry{2399, 3149, 0, 2960, 255, 0x04, 2959, 0, 0, 0};
  d.header.traces[1] = PageTraceEntry{1, 2700, 2952, 8, 0, 0x04, 7, 8, 0, 799};
  d.header.traces[2] = PageTraceEntry{0, 300, 0, 2960, 0, 0x00, -1, -1, 0, 0};
  std::strcpy(d.header.trace_labels, "label");
  d.header.pressures[0] = PagePressureValue{0, 0, 0x01, "1234"};
  d.header.pressures[1] = PagePressureValue{2399, 3149, 0x01, "***"};
  d.header.pressures[2] = PagePressureValue{2399, 1500, 0x03, "9999"};
  for (int i = 0; i < 40; ++i)
    d.lines.push_back(line(i * 61, 216 + i * 3, 2399 - i * 59, 3138 - i * 7, i % 8, 1 + i % 5, (i % 10) << 4 | (9 - i % 10)));
  d.lines.push_back(line(0, 3149, 2399, 0, 7, 5, 0x99));
  add_text(d, 2399, 3149, 0x7F, "\x01\x02\x03\x04\x05\x06\x07");
  add_text(d, 0, 1800, 0x5C, std::string(100, '\xB0'));
  PageGraphicItem g{};
  std::strcpy(g.picture, "hdrlogo.gph");
  g.x = 2399;
  g.y = 3100;
  g.mirror = 2;
  g.draw_width = 2400;
  g.draw_height = 3150;
  d.graphic_items.push_back(g);
  g.x = 2000;
  g.y = 1200;
  g.mirror = 1;
  g.gap = 0;
  g.draw_width = 2000;
  d.graphic_items.push_back(g);
  return d;
}

std::string check_page_png(const Page& p, const std::string& name) {
  return testsupport::check_expected_picture(p.picture(), "vaslab/reports/tests/expected", name, 0, 0);
}

// Whole pages against the pictures kept in the repository, pixel for pixel.
// After a deliberate change of the drawing, regenerate them:
//   VASLAB_UPDATE_SCREENSHOTS=1 ctest --test-dir build/test -R Whole

TEST_F(Renderer, WholeSamplePage) {
  const std::string logo = testsupport::run_generator("vaslab/reports/tests/gph.py", root_.path(), "logo.gph", "logo 0");
  install_logo(root_);
  EXPECT_EQ(root_.read("C:\\GRAPHIC\\HDRLOGO.GPH"), logo) << "the logo kept in the repository is the generator's";

  const std::string sample = testsupport::run_generator("vaslab/reports/tests/make_page.py", root_.path(), "page.bin");
  const Bytes file(sample.begin(), sample.end());
  for (int colour : {1, 0}) {
    const Page p = render_bytes(file, colour);
    ASSERT_EQ(p.result, kPageOk);
    EXPECT_EQ(check_page_png(p, colour ? "sample_page" : "sample_page_mono"), "");
  }
}

TEST_F(Renderer, WholePageAtTheLimits) {
  install_logo(root_);
  const Bytes limits = build_page_description(page_at_the_limits());
  for (int colour : {1, 0}) {
    const Page p = render_bytes(limits, colour);
    ASSERT_EQ(p.result, kPageOk);
    EXPECT_EQ(check_page_png(p, colour ? "limits_page" : "limits_page_mono"), "");
  }
}

}  // namespace
}  // namespace vaslab
