#include "vaslab/reports/page_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "testsupport/generator.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"

namespace vaslab {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The page written by the independent generator beside this file.
Bytes python_page(const std::string& dir) {
  std::string b = testsupport::run_generator("vaslab/reports/tests/make_page.py", dir, "page.bin");
  return Bytes(b.begin(), b.end());
}

class PageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = python_page(root_.path());
    ASSERT_GT(file_.size(), kPageHeaderBytes + kPageWaveformBytes);
  }
  int read(const Bytes& b) { return read_page_description(b.data(), b.size(), page_); }
  void put16(std::size_t at, int v) { platform::put_s16le(&file_[at], static_cast<std::int16_t>(v)); }
  void put32(std::size_t at, int v) { platform::put_s32le(&file_[at], v); }
  std::size_t link_offset() const { return platform::get_s32le(&file_[4863]); }

  testsupport::TempRoot root_;
  Bytes file_;
  PageDescription page_;
};

TEST_F(PageFile, ReadsTheIndependentLayoutAndWritesItBackByteForByte) {
  ASSERT_EQ(read(file_), kPageOk);
  const PageDescriptionHeader& h = page_.header;
  EXPECT_STREQ(h.title, "Lower Arterial Doppler");
  EXPECT_STREQ(h.left_line_4, "Referring: Dr. Who");
  EXPECT_STREQ(h.right_line_4, "Room 3");
  EXPECT_EQ(h.traces[1].x, 150);
  EXPECT_EQ(h.traces[1].start, 64);
  EXPECT_EQ(h.traces[1].count, 296);
  EXPECT_EQ(h.traces[1].flags, 0x8C);
  EXPECT_EQ(trace_label(h, h.traces[1].label_1), "Rt CFA");
  EXPECT_EQ(trace_label(h, h.traces[1].label_2), "Velocity");
  EXPECT_TRUE(sample_flag(h, 64));
  EXPECT_TRUE(sample_flag(h, 71));
  EXPECT_FALSE(sample_flag(h, 65));
  EXPECT_EQ(h.samples[100], (100 * 7) & 0xFF);
  EXPECT_STREQ(h.pressures[2].text, "***");
  EXPECT_EQ(h.pressures[2].y, 2200);
  EXPECT_EQ(h.end_word, 0xBEEF);
  ASSERT_EQ(page_.text_items.size(), 2u);
  EXPECT_EQ(pool_text(page_, page_.text_items[1].text), "\x01Red\x07" "back");
  ASSERT_EQ(page_.graphic_items.size(), 2u);
  EXPECT_STREQ(page_.graphic_items[1].picture, "legs.rle");
  EXPECT_EQ(page_.graphic_items[1].mirror, 1);
  EXPECT_EQ(page_.graphic_items[1].draw_height, 880);
  ASSERT_EQ(page_.lines.size(), 2u);
  EXPECT_EQ(page_.lines[1].symbols, 0x90);
  ASSERT_TRUE(page_.waveform);
  EXPECT_EQ(page_.waveform->spectra[5][0], 5);

  EXPECT_EQ(build_page_description(page_), file_);

  EXPECT_LT(save_page_description("C:\\DATA\\12.PDF", page_), 0);  // no data folder yet
  platform::make_dirs(root_.path() + "/c/DATA");
  ASSERT_EQ(save_page_description("C:\\DATA\\12.PDF", page_), 0);
  std::string saved = root_.read("C:\\DATA\\12.PDF");
  EXPECT_EQ(Bytes(saved.begin(), saved.end()), file_);
}

// Killed or failed at any write, flush or rename, a page description saved
// over another is the old one or the new one.
TEST_F(PageFile, WriteFaultsLeaveTheOldOrTheNewDescription) {
  ASSERT_EQ(read(file_), kPageOk);
  std::string old(file_.begin(), file_.end());
  old.replace(2, 8, "Old page");
  const testsupport::StoredFile stored{platform::map_path_create_dirs("C:\\DATA\\12.PDF")};
  EXPECT_EQ(testsupport::check_write_faults(
                root_.path(), {stored}, [&] { root_.write("C:\\DATA\\12.PDF", old); },
                [&] { return save_page_description("C:\\DATA\\12.PDF", page_) == 0; }),
            3);
  std::string saved = root_.read("C:\\DATA\\12.PDF");
  EXPECT_EQ(Bytes(saved.begin(), saved.end()), file_) << "this process never wrote it";
}

TEST_F(PageFile, OutOfRangeValuesAreReplacedForDrawing) {
  std::memset(&file_[2], 'T', 30);                 // title without NUL
  file_[33] = 0x0A;                                // line feed in the name
  put16(4591 + 2, 3150);                           // pressure A at y 3150
  put16(4591, 2400);
  file_[4591 + 4] = 0xFF;
  put16(245 + 18 * 1 + 6, 5000);                   // trace B count past the samples
  put16(245 + 18 * 2 + 6, -7);                     // trace C count below 2
  put16(245 + 18 * 3 + 14, 900);                   // trace D label outside the pool
  put16(kPageHeaderBytes + 7 + 2, 3150);           // second text item at y 3150
  file_[kPageHeaderBytes + 4] = 0xA5;              // attribute with bit 7
  ASSERT_EQ(read(file_), kPageOk);
  const PageDescriptionHeader& h = page_.header;
  EXPECT_EQ(std::strlen(h.title), 29u);
  EXPECT_EQ(h.patient_name[1], ' ');
  EXPECT_EQ(h.pressures[0].y, 200);
  EXPECT_EQ(h.pressures[0].x, 0);
  EXPECT_EQ(h.pressures[0].flags, 0x07);
  EXPECT_EQ(h.traces[1].count, 2960 - 64);
  EXPECT_EQ(h.traces[2].count, 2);
  EXPECT_EQ(trace_label(h, h.traces[3].label_1), "");
  EXPECT_EQ(page_.text_items[1].y, 200);
  EXPECT_EQ(page_.text_items[0].attribute, 0x25);
}

TEST_F(PageFile, DamagedFilesAreRefused) {
  Bytes f = file_;
  EXPECT_EQ(read_page_description(f.data(), kPageHeaderBytes - 1, page_), kPageTooShort);
  f[1] = 0x02;
  EXPECT_EQ(read(f), kPageBadFormat);

  auto refused = [this](auto change) {
    Bytes saved = file_;
    change();
    int r = read(file_);
    file_ = saved;
    return r == kPageBadFormat;
  };
  EXPECT_TRUE(refused([&] { put16(245 + 4, 12); }));     // start not a multiple of 8
  EXPECT_TRUE(refused([&] { put16(245 + 4, 2960); }));   // start past 2952
  EXPECT_TRUE(refused([&] { put16(245 + 4, -8); }));
  EXPECT_TRUE(refused([&] { put16(kPageHeaderBytes + 5, 200); }));  // text past the pool
  EXPECT_TRUE(refused([&] { put16(kPageHeaderBytes + 5, -1); }));
  EXPECT_TRUE(refused([&] { put16(4855, -1); }));        // negative text count
  EXPECT_TRUE(refused([&] { put16(4855, 30000); }));     // negative pool size
  EXPECT_TRUE(refused([&] { put16(4861, -2); }));        // negative graphic count
  EXPECT_TRUE(refused([&] { put16(4861, 30000); }));     // graphic items past the end
  EXPECT_TRUE(refused([&] { put32(4851, -5); }));
  // A chain that points back at itself, or lines running past the end.
  const std::size_t link = link_offset();
  EXPECT_TRUE(refused([&] { put32(link + 4, static_cast<int>(link)); }));
  const std::size_t line_link = link + 8 + kPageWaveformBytes;
  EXPECT_TRUE(refused([&] { put32(line_link + 4, static_cast<int>(link)); }));
  EXPECT_TRUE(refused([&] { put16(line_link + 2, 1000); }));
  EXPECT_TRUE(refused([&] { put16(line_link + 2, -1); }));
  // Cut inside the waveform block.
  EXPECT_EQ(read_page_description(file_.data(), link + 1000, page_), kPageBadFormat);
}

TEST_F(PageFile, ChainEndsWithoutLinesOrSpectra) {
  // First link of type 0: no lines and no waveform, so no spectral flags.
  file_[link_offset()] = kLinkEnd;
  put16(245 + 18 * 1 + 9 - 1, 0xF400 | 77);  // trace B flags: spectrum, grey, envelopes
  ASSERT_EQ(read(file_), kPageOk);
  EXPECT_TRUE(page_.lines.empty());
  EXPECT_FALSE(page_.waveform);
  EXPECT_EQ(page_.header.traces[1].flags, 0x04);
  // A link past the end of the file just ends the chain.
  put32(4863, static_cast<int>(file_.size()));
  EXPECT_EQ(read(file_), kPageOk);
}

TEST_F(PageFile, SpectralTracesAreScaledToTheSpectrumRows) {
  file_[245 + 18 * 1 + 9] = 0x54;  // spectrum and envelopes, level valid
  ASSERT_EQ(read(file_), kPageOk);
  const PageWaveformBlock& w = *page_.waveform;
  EXPECT_EQ(w.upper[64], 99 * 233 / 155);
  EXPECT_EQ(w.lower[64], 49 * 233 / 155);
  EXPECT_EQ(w.upper[63], 100);  // outside the trace's stretch
  EXPECT_EQ(page_.header.samples[64], ((64 * 7) & 0xFF) * 233 / 255);
  EXPECT_EQ(page_.header.traces[1].level, 77 * 233 / 255);
}

TEST(PageLines, NormalisingClipsOrdersAndBoundsEveryField) {
  PageLineItem l{2500, 3200, -40, 100, 2000, 3000, 100, 250, 0x70, 0xFC};
  normalise_line_item(l);
  EXPECT_EQ(l.clip_left, 100);    // reversed rectangle put in order
  EXPECT_EQ(l.clip_right, 2000);
  EXPECT_EQ(l.clip_top, 250);
  EXPECT_EQ(l.clip_bottom, 3000);
  // Both ends lay outside the clip: symbols dropped; ends on the page and
  // ordered top first.
  EXPECT_EQ(l.symbols, 0x00);
  EXPECT_EQ(l.x1, 0);
  EXPECT_EQ(l.y1, 100);
  EXPECT_EQ(l.x2, 2399);
  EXPECT_EQ(l.y2, 3149);
  EXPECT_EQ((l.style >> 4) & 7, 5);

  PageLineItem m{900, 500, 300, 500, 0, 0, 2399, 3149, 0x03, 0xC4};
  normalise_line_item(m);
  EXPECT_EQ(m.clip_left, 11);
  EXPECT_EQ(m.clip_right, 2388);
  EXPECT_EQ(m.clip_top, 216);
  EXPECT_EQ(m.clip_bottom, 3138);
  EXPECT_EQ(m.x1, 300);            // same row: left end first, symbols swapped
  EXPECT_EQ(m.symbols, 0x49);      // 12 read as 9
  EXPECT_EQ((m.style >> 4) & 7, 1);
}

TEST(PageLines, ColourMap) {
  const int expected[8] = {7, 3, 5, 1, 6, 2, 4, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(page_colour(i), expected[i]);
}

}  // namespace
}  // namespace vaslab
