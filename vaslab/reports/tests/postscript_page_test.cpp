// The PostScript page: byte for byte where the layout is fixed, and through
// Ghostscript (accepts every page; renders the image to the renderer's own
// raster) where it is drawn.
#include "vaslab/reports/postscript_page.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "testsupport/diskette_image.h"
#include "testsupport/generator.h"
#include "testsupport/temp_root.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/tests/test_pages.h"

namespace vaslab {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string prologue(bool colour) {
  return std::string("%!\ngsave\n18 16 translate\n576 756 scale\n") +
         (colour ? "2400 3150 1 [2400 0 0 -3150 0 3150] { currentfile 900 string readhexstring pop } false 3 colorimage\n"
                 : "2400 3150 1 [2400 0 0 -3150 0 3150] { currentfile 300 string readhexstring pop } image\n");
}

using testsupport::run_command;

std::string read_linux(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

class PostScriptPage : public ::testing::Test {
 protected:
  void SetUp() override { platform::map_path_create_dirs("C:\\TEMP\\"); }

  std::string write(const Bytes& file, int colour, const char* name = "C:\\TEMP\\page.ps") {
    EXPECT_EQ(render_page_postscript(file.data(), file.size(), colour, name), kPageOk);
    return root_.read(name);
  }

  testsupport::TempRoot root_;
};

TEST_F(PostScriptPage, PageWithoutTextsIsTheWhiteImageAlone) {
  const Bytes file = build_page_description(blank_page());
  for (int colour : {1, 0}) {
    std::string want = prologue(colour);
    for (int r = 0; r < kPageHeight; ++r) want += std::string(colour ? 1800 : 600, 'F') + "\n";
    want += "%%EOF\ngrestore\nshowpage\n";
    EXPECT_TRUE(write(file, colour) == want) << "colour " << colour;
    EXPECT_TRUE(root_.exists("C:\\TEMP\\TEXT.PS"));
    EXPECT_EQ(root_.read("C:\\TEMP\\TEXT.PS"), "");
  }
}

// Every text form: escapes, sizes, bold, colour switches, underline and a
// white text, in the order of their rows.
TEST_F(PostScriptPage, TextsAfterTheImageByteForByte) {
  PageDescription d = blank_page();
  add_text(d, 0, 3149, 0x40 | 0x1C | 3, "u");
  add_text(d, 5, 3149, 0x00, "w");
  add_text(d, 100, 0, 0x1C, "a\\b(c)");
  add_text(d, 2000, 20, (1 << 2) | 2, "x\x06y");
  add_text(d, 1, 10, 0x20 | 0x1C | 1, "bold");
  const Bytes file = build_page_description(d);

  const auto texts = [](bool colour) {
    const std::string black = "0 0 0 setrgbcolor\n";
    return "42.00 762.00 moveto\n/COURNOR.FNT findfont\n12 scalefont\nsetfont\n" + black +
           "(a\\\\b\\(c\\)) show\n"
           "18.24 759.60 moveto\n/GOTHBLD.FNT findfont\n[10 0 0 12 0 0] makefont\nsetfont\n" + black +
           "(bold) show\n"
           "498.00 757.20 moveto\n/COMPNOR.FNT findfont\n[7.2 0 0 12 0 0] makefont\nsetfont\n" +
           (colour ? "0 255 255 setrgbcolor\n" : black) + "(x) show\n" + (colour ? "255 0 0 setrgbcolor\n" : black) +
           "(y) show\n"
           "18.00 6.24 moveto\n/COMPNOR.FNT findfont\n[7.2 0 0 12 0 0] makefont\nsetfont\n" + black +
           "/startpoint [currentpoint] def\n(u) show\n"
           "/endpoint [currentpoint] def\nnewpath\ncurrentfont/FontMatrix get 3 get\n"
           "currentfont/FontInfo get /UnderlinePosition get 1 index mul 2 add\n"
           "startpoint aload pop 3 -1 roll add moveto\n"
           "currentfont/FontInfo get /UnderlineThickness get 1 index mul\nsetlinewidth\n"
           "endpoint aload pop pop startpoint aload pop pop sub\n0 rlineto\nstroke\npop\n"
           "19.20 6.24 moveto\n/COURNOR.FNT findfont\n12 scalefont\nsetfont\n255 255 255 setrgbcolor\n(w) show\n";
  };
  for (int colour : {1, 0}) {
    const std::string got = write(file, colour);
    const std::string end_of_image = "\n%%EOF\ngrestore\n";
    const auto at = got.find(end_of_image);
    ASSERT_NE(at, std::string::npos);
    // Between the image and the texts, the faces they are set in, each
    // defined once: the page's own bitmap fonts.
    const std::string tail = got.substr(at + end_of_image.size());
    const std::string want = texts(colour) + "showpage\n";
    ASSERT_GE(tail.size(), want.size());
    EXPECT_EQ(tail.substr(tail.size() - want.size()), want) << "colour " << colour;
    const std::string fonts = tail.substr(0, tail.size() - want.size());
    for (const char* face : {"/COURNOR.FNT 12 dict begin", "/GOTHBLD.FNT 12 dict begin", "/COMPNOR.FNT 12 dict begin"}) {
      const auto first = fonts.find(face);
      EXPECT_NE(first, std::string::npos) << face;
      EXPECT_EQ(fonts.find(face, first + 1), std::string::npos) << face << " once";
    }
    EXPECT_EQ(fonts.find("/COURBLD.FNT"), std::string::npos) << "a face no text uses is left out";
    EXPECT_EQ(root_.read("C:\\TEMP\\text.ps"), texts(colour));
    // The texts are not drawn into the image.
    EXPECT_EQ(got.find_first_not_of("F\n", prologue(colour).size()), at + 1);
  }
}

TEST_F(PostScriptPage, FailuresLeaveNoPage) {
  Bytes file = build_page_description(blank_page());
  EXPECT_EQ(render_page_postscript(file.data(), kPageHeaderBytes - 1, 1, "C:\\TEMP\\a.ps"), kPageTooShort);
  file[1] = 2;
  EXPECT_EQ(render_page_postscript(file.data(), file.size(), 1, "C:\\TEMP\\a.ps"), kPageBadFormat);
  file[1] = 1;
  // The page's folder is missing: nothing half written anywhere.
  EXPECT_EQ(render_page_postscript(file.data(), file.size(), 1, "C:\\NONE\\a.ps"), kPageOutputFailed);
  EXPECT_FALSE(root_.exists("C:\\TEMP\\a.ps"));
  // The text file cannot be made: an older page of that name is kept.
  root_.write("C:\\TEMP\\a.ps", "old");
  testsupport::remove_tree(platform::map_path("C:\\TEMP\\text.ps"));
  platform::map_path_create_dirs("C:\\TEMP\\text.ps\\");
  EXPECT_EQ(render_page_postscript(file.data(), file.size(), 1, "C:\\TEMP\\a.ps"), kPageOutputFailed);
  EXPECT_EQ(root_.read("C:\\TEMP\\a.ps"), "old");

  // The page file forms: missing, short, damaged.
  EXPECT_EQ(render_page_file_postscript("C:\\DATA\\none.pdf", "C:\\TEMP\\b.ps", 1), kPageFileNotOpened);
  root_.write("C:\\DATA\\short.pdf", std::string(kPageHeaderBytes - 1, '\0'));
  EXPECT_EQ(render_page_file_postscript("C:\\DATA\\short.pdf", "C:\\TEMP\\b.ps", 1), kPageFileShort);
  root_.write("C:\\DATA\\bad.pdf", std::string(file.begin() + 1, file.end()));
  EXPECT_EQ(render_page_file_postscript("C:\\DATA\\bad.pdf", "C:\\TEMP\\b.ps", 1), kPageFileNotRendered);
  EXPECT_FALSE(root_.exists("C:\\TEMP\\b.ps"));
}

// A picture file, a 1-bit-per-component image: header then rows.
struct Netpbm {
  int width = 0, height = 0;
  std::string data;
};

// The header's numbers may have comment lines between them ("# Image
// generated by Ghostscript").
Netpbm read_netpbm(const std::string& path, const char* magic, bool has_max) {
  const std::string bytes = read_linux(path);
  std::size_t at = 0;
  const auto token = [&] {
    for (;;) {
      while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
      if (at >= bytes.size() || bytes[at] != '#') break;
      at = bytes.find('\n', at);
    }
    const std::size_t from = at;
    while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    return bytes.substr(from, at - from);
  };
  if (token() != magic) return {};
  Netpbm p;
  p.width = std::atoi(token().c_str());
  p.height = std::atoi(token().c_str());
  if (has_max) token();
  p.data = bytes.substr(std::min(at + 1, bytes.size()));
  return p;
}

// A text reads back from the PostScript page (Ghostscript's text
// extraction) and from the PDF made of it (poppler's) exactly as typed, an
// apostrophe as an apostrophe and code page 437 as the screen shows it; and
// Ghostscript draws it in the raster's own glyphs, on the raster's pixels.
TEST_F(PostScriptPage, TextsReadBackAsTypedInTheRastersGlyphs) {
  const struct {
    int x, y, attribute;
    const char* text;  // code page 437
    const char* reads;  // UTF-8
  } texts[] = {
      {100, 200, 0x1C, "Name: O'NEAL, D'ARCY", "Name: O'NEAL, D'ARCY"},
      {100, 300, 0x20 | 0x1C | 1, "Caf\x82 `quoted' \"both\"", "Caf\u00e9 `quoted' \"both\""},
      {100, 400, 0x1C | 2, "a\xB3" "b \xC4\xC5\xC4 50\xF8 \xE6s", "a\u2502b \u2500\u253c\u2500 50\u00b0 \u00b5s"},
      {100, 500, 0x40 | 0x1C, "under_lined ~^", "under_lined ~^"},
  };
  PageDescription d = blank_page();
  for (const auto& t : texts) add_text(d, t.x, t.y, t.attribute, t.text);
  const Bytes file = build_page_description(d);
  write(file, 0);
  const std::string ps = platform::map_path("C:\\TEMP\\page.ps");
  std::string extracted;
  ASSERT_EQ(run_command("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=txtwrite -sOutputFile=- '" + ps + "'", &extracted), 0);
  const std::string pdf = root_.path() + "/page.pdf";
  ASSERT_EQ(run_command("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile='" + pdf + "' '" + ps + "'"), 0);
  std::string from_pdf;
  ASSERT_EQ(run_command("pdftotext '" + pdf + "' -", &from_pdf), 0);
  for (const auto& t : texts) {
    EXPECT_NE(extracted.find(t.reads), std::string::npos) << t.reads << "\n" << extracted;
    EXPECT_NE(from_pdf.find(t.reads), std::string::npos) << t.reads << "\n" << from_pdf;
  }

  // Drawn: the PostScript page at 300 dpi against the raster, which draws
  // the texts itself with the same fonts.
  Bytes raster(kPageRasterBytes);
  ASSERT_EQ(render_page_description(raster.data(), file.data(), file.size(), 0), kPageOk);
  const std::string out = root_.path() + "/page.pbm";
  ASSERT_EQ(run_command("gs -q -dNOPAUSE -dBATCH -dSAFER -r300 -g2550x3300 -sDEVICE=pbmraw -sOutputFile='" + out +
                        "' '" + ps + "'"),
            0);
  const Netpbm p = read_netpbm(out, "P4", false);
  ASSERT_EQ(p.width, 2550);
  const auto* drawn = reinterpret_cast<const unsigned char*>(p.data.data());
  int ink = 0, differ = 0;
  for (int y = 150; y < 600; ++y)
    for (int x = 0; x < 1500; ++x) {
      const bool want = raster[static_cast<std::size_t>(kPageHeight - 1 - y) * kPageWidth + x] != 7;
      const bool got = drawn[static_cast<std::size_t>(y + 83) * ((2550 + 7) / 8) + (x + 75) / 8] & (0x80 >> ((x + 75) % 8));
      ink += want;
      differ += want != got;
    }
  EXPECT_GT(ink, 5000);
  EXPECT_LT(differ, ink / 100) << differ << " of " << ink << " text pixels drawn elsewhere";
}

// Spectra in both ramps, plain traces, wide lines with end symbols and the
// logo, and no text: every pixel colour the page can hold.
Bytes drawn_page() {
  PageDescription d = blank_page();
  d.waveform = std::make_unique<PageWaveformBlock>();
  for (int i = 0; i < kTraceSampleCount; ++i) {
    for (int b = 0; b < kSpectrumBins; ++b) d.waveform->spectra[i][b] = static_cast<std::uint8_t>(i + b * 17);
    d.waveform->upper[i] = 120;
    d.waveform->lower[i] = 40;
  }
  for (int i = 0; i < kTraceSampleCount; ++i) d.header.samples[i] = static_cast<std::uint8_t>((i * 37) % 200);
  d.header.traces[0] = PageTraceEntry{100, 300, 0, 300, 0, 0x10 | 0x40, -1, -1, 0, 0};
  d.header.traces[1] = PageTraceEntry{1200, 300, 0, 300, 0, 0x30, -1, -1, 0, 0};
  d.header.traces[2] = PageTraceEntry{100, 1000, 0, 300, 0, 0x0C, 20, 40, 0, 0};
  d.header.traces[3] = PageTraceEntry{1200, 1000, 0, 300, 77, 0x84, -1, -1, 0, 0};
  for (int c = 0; c < 8; ++c)
    d.lines.push_back(PageLineItem{static_cast<std::int16_t>(100 + 250 * c), 2000, static_cast<std::int16_t>(300 + 200 * c),
                                   static_cast<std::int16_t>(2900 - 60 * c), 0, 0, 2399, 3149,
                                   static_cast<std::uint8_t>(c | ((c % 5 + 1) << 4)),
                                   static_cast<std::uint8_t>((c % 9 + 1) | ((8 - c) << 4))});
  return build_page_description(d);
}

// Ghostscript at 300 dpi on a Letter page puts the image 75 columns in and
// 83 rows down: every pixel must be the page colour's low three bits, or in
// mono white exactly where the page is white.
TEST_F(PostScriptPage, GhostscriptDrawsTheRenderersRaster) {
  install_logo(root_);
  const Bytes file = drawn_page();
  Bytes raster(kPageRasterBytes);
  ASSERT_EQ(render_page_description(raster.data(), file.data(), file.size(), 1), kPageOk);
  std::set<int> seen(raster.begin(), raster.end());
  for (int v : {0, 1, 2, 3, 4, 5, 6, 7, 8, 16, 23, 24, 32, 39}) EXPECT_TRUE(seen.count(v)) << "colour " << v;

  for (int colour : {1, 0}) {
    write(file, colour);
    const std::string out = root_.path() + "/page.pnm";
    ASSERT_EQ(run_command("gs -q -dNOPAUSE -dBATCH -dSAFER -r300 -g2550x3300 -sDEVICE=" +
                  std::string(colour ? "ppmraw" : "pbmraw") + " -sOutputFile='" + out + "' '" +
                  platform::map_path("C:\\TEMP\\page.ps") + "'"),
              0);
    const Netpbm p = read_netpbm(out, colour ? "P6" : "P4", colour);
    ASSERT_EQ(p.width, 2550);
    ASSERT_EQ(p.height, 3300);
    const std::size_t stride = colour ? 3 * 2550 : (2550 + 7) / 8;
    ASSERT_GE(p.data.size(), stride * 3300);
    const auto* drawn = reinterpret_cast<const unsigned char*>(p.data.data());
    std::vector<unsigned char> want(colour ? 3 * kPageWidth : kPageWidth), got(want.size());
    for (int y = 0; y < kPageHeight; ++y) {
      const std::uint8_t* page = &raster[static_cast<std::size_t>(kPageHeight - 1 - y) * kPageWidth];
      const unsigned char* row = drawn + static_cast<std::size_t>(y + 83) * stride;
      for (int x = 0; x < kPageWidth; ++x) {
        if (colour) {
          for (int c = 0; c < 3; ++c) {
            want[3 * x + c] = page[x] & (4 >> c) ? 255 : 0;
            got[3 * x + c] = row[3 * (x + 75) + c];
          }
        } else {
          want[x] = page[x] == 7;
          got[x] = !(row[(x + 75) / 8] & (0x80 >> ((x + 75) % 8)));
        }
      }
      if (want != got) {
        std::size_t i = 0;
        while (want[i] == got[i]) ++i;
        const int x = static_cast<int>(colour ? i / 3 : i);
        FAIL() << "colour " << colour << ": pixel " << x << "," << y << " of page colour " << int(page[x])
               << " drawn as " << int(got[i]) << " where " << int(want[i]) << " belongs";
      }
    }
  }
}

// The sample page with all its texts, in both modes, runs in Ghostscript
// without a word on its output.
TEST_F(PostScriptPage, GhostscriptAcceptsEveryPage) {
  install_logo(root_);
  const std::string sample = testsupport::run_generator("vaslab/reports/tests/make_page.py", root_.path(), "page.bin");
  ASSERT_FALSE(sample.empty());
  PageDescription texts = blank_page();
  add_text(texts, 100, 400, 0x40 | 0x20 | 0x1C | 1, "(un)balanced \\ ) ( \x01" "colours\x02 \x03 \x04 \x05 \x06 \x07");
  add_text(texts, 2300, 3149, 0x40 | 2, "off the edge at the bottom");
  const Bytes pages[] = {Bytes(sample.begin(), sample.end()), build_page_description(texts), drawn_page()};
  for (const Bytes& page : pages)
    for (int colour : {1, 0}) {
      write(page, colour);
      std::string said;
      EXPECT_EQ(run_command("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=nullpage '" +
                            platform::map_path("C:\\TEMP\\page.ps") + "'", &said),
                0);
      EXPECT_EQ(said, "");
      // A printer or queue that senses the language by the first bytes
      // must take the page for PostScript, not for plain text.
      std::string kind;
      EXPECT_EQ(run_command("file -b '" + platform::map_path("C:\\TEMP\\page.ps") + "'", &kind), 0);
      EXPECT_EQ(kind.rfind("PostScript", 0), 0u) << kind;
    }
}

// The print processor: the job file is the page in PostScript, in colour
// under the name PPROC and in black and white under PPROCM; a page that
// cannot be printed leaves no job file and says why in its exit status.
TEST_F(PostScriptPage, PrintProcessorUnderBothNames) {
  const Bytes file = build_page_description(blank_page());
  root_.write("C:\\DATA\\12.PDF", std::string(file.begin(), file.end()));
  const std::string pproc = std::string(VASLAB_BUILD_DIR) + "/bin/pproc";
  for (const char* name : {"PPROC.EXE", "PPROCM.EXE"})
    ASSERT_EQ(run_command("ln -s '" + pproc + "' '" + platform::map_path_create_dirs(std::string("C:\\PROGRAMS\\") + name) + "'"), 0);
  const std::string env = "VASLAB_ROOT='" + root_.path() + "' ";
  const std::string programs = platform::map_path("C:\\PROGRAMS\\");
  EXPECT_EQ(run_command(env + programs + "PPROC.EXE 'C:\\DATA\\12.PDF' 'C:\\TEMP\\07.PRT'"), 0);
  EXPECT_TRUE(root_.read("C:\\TEMP\\07.PRT") == write(file, 1));
  EXPECT_EQ(run_command(env + programs + "PPROCM.EXE 'C:\\DATA\\12.PDF' 'C:\\TEMP\\08.PRT'"), 0);
  EXPECT_TRUE(root_.read("C:\\TEMP\\08.PRT") == write(file, 0));

  EXPECT_EQ(run_command(env + programs + "PPROC.EXE 'C:\\DATA\\12.PDF'"), 1);
}

// A page that cannot be read or written says which file and why, as the
// system told it; nothing is left under the output's name.
TEST_F(PostScriptPage, PrintProcessorNamesTheFileAndTheError) {
  const Bytes file = build_page_description(blank_page());
  root_.write("C:\\DATA\\12.PDF", std::string(file.begin(), file.end()));
  const std::string pproc = std::string(VASLAB_BUILD_DIR) + "/bin/pproc";
  ASSERT_EQ(run_command("ln -s '" + pproc + "' '" + platform::map_path_create_dirs("C:\\PROGRAMS\\PPROC.EXE") + "'"), 0);
  const std::string command = "VASLAB_ROOT='" + root_.path() + "' " + platform::map_path("C:\\PROGRAMS\\PPROC.EXE");
  const struct {
    const char* page;
    const char* out;
    bool work_folder;  // C:\TEMP there
    int status;
    const char* said;
  } cases[] = {
      {"C:\\DATA\\13.PDF", "C:\\TEMP\\09.PRT", true, kPageFileNotOpened,
       "pproc: C:\\DATA\\13.PDF to C:\\TEMP\\09.PRT: error 111: C:\\DATA\\13.PDF: No such file or directory\n"},
      {"C:\\DATA\\12.PDF", "C:\\DATA\\10.PRT", false, kPageFileNotRendered,
       "pproc: C:\\DATA\\12.PDF to C:\\DATA\\10.PRT: error 113: c:\\temp\\text.ps: No such file or directory\n"},
      {"C:\\DATA\\12.PDF", "C:\\NOWHERE\\11.PRT", true, kPageFileNotRendered,
       "pproc: C:\\DATA\\12.PDF to C:\\NOWHERE\\11.PRT: error 113: C:\\NOWHERE\\11.PRT: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    if (c.work_folder)
      platform::map_path_create_dirs("C:\\TEMP\\");
    else
      testsupport::remove_tree(platform::map_path("C:\\TEMP"));
    std::string said;
    EXPECT_EQ(run_command(command + " '" + c.page + "' '" + c.out + "'", &said), c.status);
    EXPECT_EQ(said, c.said);
    EXPECT_FALSE(root_.exists(c.out));
  }
}

}  // namespace
}  // namespace vaslab
