#include "vaslab/studies/study_page.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "platform/paths.h"
#include "testsupport/generator.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"
#include "vaslab/core/settings/settings.h"

namespace vaslab {
namespace {

class StudyPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&settings_, 0, sizeof settings_);
    std::strcpy(settings_.data_directory, "C:\\DATA\\");
    set_hardware_settings(&settings_);
    image_ = testsupport::run_generator("vaslab/studies/tests/make_records.py", root_.path(),
                                        "page", "page");
    ASSERT_EQ(image_.size(), STUDY_PAGE_BYTES);
  }
  void TearDown() override { set_hardware_settings(nullptr); }

  testsupport::TempRoot root_;
  HardwareSettings settings_;
  std::string image_;
  std::unique_ptr<StudyPage> page_ = std::make_unique<StudyPage>();
};

TEST_F(StudyPageTest, ReadsAnIndependentlyWrittenPage) {
  EXPECT_EQ(page_file_name(3, 12), "C:\\DATA\\3.12");
  root_.write("C:\\DATA\\3.12", image_);
  ASSERT_EQ(read_study_page(3, 12, "00000123.sty", *page_), 0);
  const StudyPage& p = *page_;
  EXPECT_EQ(p.flags, 0);  // bit 1 was set in the file
  EXPECT_EQ(p.count, 100);
  EXPECT_EQ(p.report_start, -197);
  EXPECT_EQ(p.newest, 99);
  EXPECT_EQ(p.baseline, 128);
  EXPECT_EQ(p.point_1, -1);
  EXPECT_EQ(p.point_2, 37);
  EXPECT_EQ(p.gain, 6);
  EXPECT_EQ(p.filter_code, 3);
  EXPECT_EQ(p.status, 0x1ABC);
  EXPECT_EQ(p.probe, 15);
  EXPECT_EQ(p.channel_1[0], -1480);
  EXPECT_EQ(p.channel_1[2959], 1479);
  EXPECT_EQ(p.channel_2[2959], -2959);
  EXPECT_STREQ(p.short_text, "123");
  EXPECT_STREQ(p.text, "Notes text");
  EXPECT_EQ(p.save_time, 1700000000);

  // Written back, it is the same bytes apart from the flags and the time.
  ASSERT_EQ(write_study_page(3, 12, *page_), 0);
  std::string again = root_.read("C:\\DATA\\3.12");
  ASSERT_EQ(again.size(), STUDY_PAGE_BYTES);
  EXPECT_EQ(again[13], 0);
  EXPECT_EQ(again.substr(14, 12009 - 14), image_.substr(14, 12009 - 14));
  EXPECT_NEAR(page_->save_time, static_cast<double>(std::time(nullptr)), 5);
}

TEST_F(StudyPageTest, UnusablePagesAreRefused) {
  // Missing; and with no data folder at all a save fails rather than
  // making one.
  EXPECT_EQ(read_study_page(3, 12, "00000123.sty", *page_), 1);
  EXPECT_EQ(write_study_page(3, 12, *page_), 4);
  EXPECT_FALSE(root_.exists("C:\\DATA"));
  // One byte too long: not reused, and the next save writes 12013 bytes.
  root_.write("C:\\DATA\\3.12", image_ + "x");
  EXPECT_EQ(read_study_page(3, 12, "00000123.sty", *page_), 1);
  ASSERT_EQ(write_study_page(3, 12, *page_), 0);
  EXPECT_EQ(root_.read("C:\\DATA\\3.12").size(), STUDY_PAGE_BYTES);
  // Another template's page; the bytes read stay in the buffer.
  root_.write("C:\\DATA\\3.12", image_);
  EXPECT_EQ(read_study_page(3, 12, "00000124.sty", *page_), 1);
  EXPECT_EQ(page_->count, 100);
}

TEST_F(StudyPageTest, SampleIndexesAreChecked) {
  struct Case {
    int count, newest, start;
    bool valid;
  } cases[] = {
      {0, 0, -1, true},      {100, 99, -197, true}, {2960, 2959, 2663, true},
      {2961, 0, -1, false},  {100, 100, -1, false}, {100, 50, 60, false},
      {100, 99, 100, false}, {-5, -10, -20, false}, {100, -1, -5, false},
      {0, 0, 0, false},
  };
  for (const Case& c : cases) {
    page_->count = static_cast<std::int16_t>(c.count);
    page_->newest = static_cast<std::int16_t>(c.newest);
    page_->report_start = static_cast<std::int16_t>(c.start);
    EXPECT_EQ(page_samples_valid(*page_), c.valid)
        << c.count << "," << c.newest << "," << c.start;
  }

  // Through the file: bit 0 (a deleted side) and the notes pages skip the test.
  std::string img = image_;
  img[14] = static_cast<char>(0xFB);  // count -5
  img[15] = static_cast<char>(0xFF);
  root_.write("C:\\DATA\\4.12", img);
  EXPECT_EQ(read_study_page(4, 12, "00000123.sty", *page_), 1);
  EXPECT_EQ(read_study_page(4, 12, "00000123.sty", *page_, false), 0);
  img[13] = kPageDeletedSide;
  root_.write("C:\\DATA\\4.12", img);
  EXPECT_EQ(read_study_page(4, 12, "00000123.sty", *page_), 0);
  EXPECT_EQ(page_->flags, 0);
}

TEST_F(StudyPageTest, TextsGetTheirNulAndFailedWritesSaySo) {
  std::string img = image_;
  std::memset(&img[0], 'N', 13);
  std::memset(&img[11879], 'T', 130);
  root_.write("C:\\DATA\\5.12", img);
  EXPECT_EQ(read_study_page(5, 12, "NNNNNNNNNNNN", *page_), 0);
  EXPECT_EQ(std::strlen(page_->template_name), 12u);
  EXPECT_EQ(std::strlen(page_->text), 129u);

  // A folder in the way of the file: 4, and the old page stays.
  root_.write("C:\\DATA\\6.12\\x", "");
  EXPECT_EQ(write_study_page(6, 12, *page_), 4);
  EXPECT_TRUE(root_.exists("C:\\DATA\\6.12\\x"));

  delete_study_page(5, 12);
  EXPECT_FALSE(root_.exists("C:\\DATA\\5.12"));
}

// Killed or failed at any write, flush or rename, a page being saved over
// the measured one leaves either of the two; a first save leaves the page or
// none.
TEST_F(StudyPageTest, WriteFaultsLeaveTheOldOrTheNewPage) {
  const testsupport::StoredFile page{platform::map_path("C:\\DATA\\7.12"), {{offsetof(StudyPage, save_time), 4}}};
  for (const bool first_save : {false, true}) {
    SCOPED_TRACE(first_save ? "first save" : "saved over");
    const int steps = testsupport::check_write_faults(
        root_.path(), {page},
        [&] {
          if (first_save)
            delete_study_page(7, 12);
          else
            root_.write("C:\\DATA\\7.12", image_);
          root_.write("C:\\DATA\\keep", "");
          ASSERT_EQ(read_study_page(7, 12, "00000123.sty", *page_), first_save ? 1 : 0);
          page_->gain = 9;
        },
        [&] { return write_study_page(7, 12, *page_) == 0; });
    EXPECT_EQ(steps, 3) << "write, flush, rename";
  }
}

}  // namespace
}  // namespace vaslab
