#include "vaslab/studies/study_template.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testsupport/generator.h"
#include "testsupport/temp_root.h"

namespace vaslab {
namespace {

const std::uint8_t* bytes(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

TEST(StudyTemplate, FileNamesAreZeroFilledToEightCharacters) {
  EXPECT_EQ(template_file_name("123"), "c:\\studies\\00000123.sty");
  EXPECT_EQ(template_base_name("12345678"), "12345678.sty");
  EXPECT_EQ(template_base_name("123456789"), "123456789.sty");
  EXPECT_EQ(diagnostics_template_file_name("7"), "C:\\STUDIES\\DIAGS\\7.sty");
  EXPECT_EQ(module_program_path(6), "C:\\PROGRAMS\\DOPPLER");
  EXPECT_EQ(module_program_path(16), "C:\\PROGRAMS\\TIMER");
  EXPECT_EQ(module_program_path(3), "");
}

class TemplateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = testsupport::run_generator("vaslab/studies/tests/make_records.py", root_.path(),
                                        "template", "template");
    ASSERT_EQ(image_.size(), 4 * kTemplateRecordSize);
    root_.write(path_, image_);
  }
  testsupport::TempRoot root_;
  std::string image_;
  std::string path_ = template_file_name("123");
};

TEST_F(TemplateFile, HeaderAndChecksumsMatchAnIndependentWriter) {
  for (int r = 0; r < 4; ++r) {
    const std::uint8_t* rec = bytes(image_) + r * kTemplateRecordSize;
    EXPECT_EQ(template_record_checksum(rec), rec[298] | (rec[299] << 8)) << "record " << r;
  }
  std::uint8_t buf[kTemplateRecordSize];
  ASSERT_TRUE(read_template_record(path_, 0, sizeof buf, buf));
  StudyHeader h;
  decode_study_header(buf, h);
  EXPECT_STREQ(h.title, "Lower Arterial");
  EXPECT_EQ(h.step_count, 250);
  EXPECT_EQ(template_step_count(h), 200);
  EXPECT_EQ(h.record_size, 300);
  h.step_count = -4;
  EXPECT_EQ(template_step_count(h), 0);

  std::uint8_t again[kTemplateRecordSize];
  h.step_count = 250;
  encode_study_header(h, again);
  EXPECT_EQ(std::memcmp(buf, again, sizeof buf), 0);
}

TEST_F(TemplateFile, StepPrefixesDecodeAtTheirOffsets) {
  DopplerStep d;
  ASSERT_EQ(read_doppler_step(path_, 1, kStudyStepClass, d), 0);
  EXPECT_EQ(d.module_type, 6);
  EXPECT_STREQ(d.label, "Rt Brachial");
  EXPECT_EQ(d.probe_flags, 0x07);
  EXPECT_EQ(d.filter_code, 4);
  EXPECT_EQ(d.baseline, 200);
  EXPECT_EQ(d.volume, 9);
  EXPECT_EQ(d.report_window, 296);
  EXPECT_EQ(d.cuff_select, 0x21);
  EXPECT_EQ(d.show_stopwatch, 1);
  std::uint8_t out[kDopplerPrefix];
  encode_doppler_step(d, out);
  EXPECT_EQ(std::memcmp(out, bytes(image_) + 300, sizeof out), 0);

  PressureStep p;
  ASSERT_EQ(read_pressure_step(path_, 2, p), 0);
  EXPECT_EQ(p.probe, 19);
  EXPECT_EQ(p.inflate_target, -180);
  EXPECT_EQ(p.deflate_target, 20);
  EXPECT_EQ(p.baseline, 128);
  EXPECT_EQ(p.over_range, 250);
  EXPECT_EQ(p.cuff_channel, 3);
  EXPECT_EQ(p.cuff_select, 0x12);
  std::uint8_t pout[kPressurePrefix];
  encode_pressure_step(p, pout);
  EXPECT_EQ(std::memcmp(pout, bytes(image_) + 600, sizeof pout), 0);
}

TEST_F(TemplateFile, ClassAndLengthChecksRefuseTheStep) {
  DopplerStep d;
  EXPECT_EQ(read_doppler_step(path_, 3, kStudyStepClass, d), 4);
  EXPECT_EQ(read_doppler_step(path_, 3, kDiagnosticsStepClass, d), 0);
  EXPECT_EQ(read_doppler_step(path_, 1, kDiagnosticsStepClass, d), 4);
  EXPECT_EQ(read_doppler_step(path_, 4, kStudyStepClass, d), 4);    // past the end
  EXPECT_EQ(read_doppler_step(path_, -1, kStudyStepClass, d), 4);
  EXPECT_EQ(read_doppler_step(path_, 201, kStudyStepClass, d), 4);
  EXPECT_EQ(read_doppler_step("c:\\studies\\missing.sty", 1, kStudyStepClass, d), 4);
  // A template cut inside the last step's prefix.
  root_.write(path_, image_.substr(0, 900 + 100));
  EXPECT_EQ(read_doppler_step(path_, 3, kDiagnosticsStepClass, d), 4);
  PressureStep p;
  EXPECT_EQ(read_pressure_step(path_, 3, p), 4);  // diagnostics class
}

TEST_F(TemplateFile, OlderNumberingIsConvertedOnce) {
  DopplerStep d;
  ASSERT_EQ(read_doppler_step(path_, 1, kStudyStepClass, d), 0);
  convert_old_numbering(d);
  EXPECT_EQ(d.probe, 15);
  EXPECT_EQ(d.second_scale, 1);
  EXPECT_EQ(d.gain, 10);  // gain 1 has no counterpart
  EXPECT_EQ(d.old_numbering & 1, 0);
  convert_old_numbering(d);  // bit now clear: unchanged
  EXPECT_EQ(d.gain, 10);
  EXPECT_EQ(d.probe, 15);

  PressureStep p;
  ASSERT_EQ(read_pressure_step(path_, 2, p), 0);
  convert_old_numbering(p);
  EXPECT_EQ(p.probe, 16);
  EXPECT_EQ(p.second_scale, 1);
  EXPECT_EQ(p.gain, 9);

  const int from[] = {0, 1, 2, 3, 4, 5, 6, 7, 10};
  const int to[] = {3, 10, 5, 10, 7, 10, 9, 10, 10};
  for (int i = 0; i < 9; ++i) {
    d.old_numbering = 1;
    d.gain = static_cast<std::uint8_t>(from[i]);
    convert_old_numbering(d);
    EXPECT_EQ(d.gain, to[i]) << "gain " << from[i];
  }
}

TEST(StudyTemplate, ReportWindowAndLabelAreBoundedOnReading) {
  std::uint8_t rec[kDopplerPrefix] = {};
  std::memset(rec + 2, 'L', 30);
  rec[49] = 0x88;  // 5000
  rec[50] = 0x13;
  DopplerStep d;
  decode_doppler_step(rec, d);
  EXPECT_EQ(d.report_window, 2960);
  EXPECT_EQ(std::strlen(d.label), 29u);
  rec[49] = 0xFD;  // -3
  rec[50] = 0xFF;
  decode_doppler_step(rec, d);
  EXPECT_EQ(d.report_window, 0);
}

}  // namespace
}  // namespace vaslab
