// The blood-pressure alignment against the measuring-module simulator, whose
// transducers turn the pressure the test applies into raw counts and whose
// readings follow the calibration the screen sends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "study_fixture.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/service_modules.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

TEST(BpConversions, PointsGiveOffsetAndSlopeCode) {
  auto c = bp_calibration_from_points(0, 2850);
  EXPECT_EQ(c.span, 0);
  c = bp_calibration_from_points(30, 3030);
  EXPECT_EQ(c.offset, 30);
  EXPECT_EQ(c.span, 128);
  EXPECT_EQ(bp_calibration_from_points(0, 300 * 11).span, 255) << "above 9.5 + 255/256 counts per mmHg";
  EXPECT_EQ(bp_calibration_from_points(0, 300 * 9).span, 0) << "below 9.5";
  EXPECT_EQ(bp_calibration_from_points(300, 3300).offset, 44) << "the low byte of the zero point";
  EXPECT_EQ(bp_calibration_from_points(-20, 2980).offset, 236) << "a negative zero point";
  EXPECT_EQ(bp_point_300(30, 128), 3030);
  EXPECT_EQ(bp_point_300(0, 0), 2850);
  EXPECT_EQ(bp_point_300(10, 255), 10 + 3149) << "(255/256 + 9.5) * 300 = 3148.8";
}

TEST(BpTransducer, TheModuleReadsBackWhatACalibrationMakesOfTheRawCounts) {
  sim::ModuleOptions o;
  o.reply_delay_ms = 0;
  sim::ModuleProtocol m(o);
  for (int b : {194, 30, 195, 128, 196, 40, 197, 192, 1}) m.receive(static_cast<std::uint8_t>(b), 0);
  m.apply_pressure(1, 150);
  m.apply_pressure(2, 150);
  m.tick(0.05);
  const auto out = m.take_output(1);
  ASSERT_GE(out.size(), 7u);
  EXPECT_EQ(out[0] & 0xF0, 0x90) << "a raw frame";
  const int v1 = (out[0] & 3) << 7 | out[1], v2 = (out[0] >> 2 & 3) << 7 | out[2];
  const int v3 = out[3] << 7 | out[4], v4 = out[5] << 7 | out[6];
  EXPECT_EQ(v3, 6144 + 30 + 1500);
  EXPECT_EQ(v4, 6144 + 40 + 1538);
  EXPECT_EQ(v1, 150);
  EXPECT_EQ(v2, 150);
}

struct BpAlignmentTest : StudyFixture {
  void SetUp() override {
    StudyFixture::SetUp();
    ASSERT_NO_FATAL_FAILURE(link_simulator());
    HardwareSettings& hw = hardware_settings();
    hw.right_bp_offset = 7;
    hw.right_bp_span = 9;
    hw.left_bp_offset = 11;
    hw.left_bp_span = 13;
    ASSERT_EQ(write_hardware_settings(), 0);
    set_button_mode_repeat();
  }
  V received() {
    V bytes;
    for (const auto& e : simulator->log()) {
      bytes.push_back(e.command);
      if (e.argument >= 0) bytes.push_back(e.argument);
    }
    return bytes;
  }
  bool received_in_a_row(const V& part) {
    return testsupport::wait_until([&] {
      const V all = received();
      return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
    });
  }
  // Applies a pressure to both transducers and waits for frames that carry it.
  void apply(int mmhg) {
    input->after(50).at_time([this, mmhg] {
      simulator->apply_pressure(1, mmhg);
      simulator->apply_pressure(2, mmhg);
    });
    input->after(50).at_time(simulator_frames(*simulator, 10)).after(600);
  }
  std::string settings_file() {
    auto b = platform::read_file(platform::map_path(kHardwareSettingsFile), 4096);
    return b ? std::string(b->begin(), b->end()) : std::string();
  }
};

TEST_F(BpAlignmentTest, PointsAtZeroAndThreeHundredAlignBothChannelsAndSave) {
  apply(0);
  input->tap(100).after(100).tap(102);
  apply(300);
  input->tap(101).after(100).tap(103);
  input->after(100).at_time([this] {
    EXPECT_EQ(hardware_settings().right_bp_offset, 30);
    EXPECT_EQ(hardware_settings().right_bp_span, 128);
    EXPECT_EQ(hardware_settings().left_bp_offset, 40);
    EXPECT_EQ(hardware_settings().left_bp_span, 192);
  });
  input->after(100).at_time([this] {
    EXPECT_TRUE(received_in_a_row({194, 30, 195, 128, 196, 40, 197, 192})) << "sent at once";
  });
  input->after(100).tap(0);
  EXPECT_EQ(bp_alignment(), 0);

  EXPECT_TRUE(received_in_a_row({0, 47, 194, 7, 195, 9, 54, 183, 100, 52, 22, 196, 11, 197, 13, 29, 158, 100, 27,
                                 23, 204, 250, 205, 250, 1}))
      << "the set-up list";
  EXPECT_TRUE(received_in_a_row({37, 178, 128, 12, 153, 128, 65, 95, 89}));
  EXPECT_EQ(simulator->bp_offset(1), 30);
  EXPECT_EQ(simulator->bp_span(2), 192);

  HardwareSettings& hw = hardware_settings();
  hw.right_bp_offset = hw.left_bp_span = 0;
  read_hardware_settings();
  EXPECT_EQ(hw.right_bp_offset, 30);
  EXPECT_EQ(hw.right_bp_span, 128);
  EXPECT_EQ(hw.left_bp_offset, 40);
  EXPECT_EQ(hw.left_bp_span, 192);
}

TEST_F(BpAlignmentTest, CancelLeavesFileMemoryAndModuleAsTheyWere) {
  const std::string before = settings_file();
  ASSERT_FALSE(before.empty());
  apply(0);
  input->tap(100);
  apply(300);
  input->tap(101).after(100).tap(1);
  EXPECT_EQ(bp_alignment(), 1);
  EXPECT_EQ(settings_file(), before);
  EXPECT_EQ(hardware_settings().right_bp_offset, 7);
  EXPECT_EQ(hardware_settings().right_bp_span, 9);
  EXPECT_TRUE(testsupport::wait_until([this] { return simulator->bp_offset(1) == 7 && simulator->bp_span(1) == 9; }));
  EXPECT_EQ(simulator->bp_offset(2), 11);
  EXPECT_EQ(simulator->bp_span(2), 13);
}

}  // namespace
}  // namespace vaslab
