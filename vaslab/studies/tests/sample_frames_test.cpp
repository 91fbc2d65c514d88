#include "vaslab/studies/sample_frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "fake_module.h"
#include "vaslab/studies/study_page.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

TEST(FrameReader, EveryValueOfEveryFieldDecodes) {
  FakeModule m;
  FrameReader r;
  // Each 9-bit pressure and a spread of 14-bit samples covering every bit.
  for (int v = 0; v < 512; ++v) {
    const int w = (v * 37) & 0x3FFF, z = 0x3FFF - ((v * 101) & 0x3FFF);
    m.queue_frame(v, 511 - v, w, z);
    ASSERT_EQ(read_frame(r), 1);
    EXPECT_EQ(r.value[0], v);
    EXPECT_EQ(r.value[1], 511 - v);
    EXPECT_EQ(r.value[2], w);
    EXPECT_EQ(r.value[3], z);
  }
  for (int w : {0, 1, 127, 128, 999, 1000, 8191, 8192, 9191, 16383}) {
    m.queue_frame(0, 0, w, w);
    ASSERT_EQ(read_frame(r), 1);
    EXPECT_EQ(r.value[2], w);
    EXPECT_EQ(r.value[3], w);
  }
  EXPECT_EQ(read_frame(r), 0);
}

TEST(FrameReader, AFrameSplitAcrossReadsCompletesLater) {
  FakeModule m;
  FrameReader r;
  const auto f = FakeModule::frame(0, 300, 7, 4000, 12);
  for (int i = 0; i < 6; ++i) {
    m.incoming.push_back(f[i]);
    EXPECT_EQ(read_frame(r), 0);
  }
  m.incoming.push_back(f[6]);
  ASSERT_EQ(read_frame(r), 1);
  EXPECT_EQ(r.value[0], 300);
  EXPECT_EQ(r.value[2], 4000);
}

TEST(FrameReader, GarbageOtherTypesAndCutFramesAreSkipped) {
  FakeModule m;
  FrameReader r;
  for (int b : {0x11, 0x22, 0x7F}) m.incoming.push_back(static_cast<std::uint8_t>(b));  // data with no header
  m.queue_frame(1, 2, 3, 4, 3);                                                    // type 3
  const auto cut = FakeModule::frame(0, 9, 9, 9, 9);
  m.incoming.insert(m.incoming.end(), cut.begin(), cut.begin() + 4);  // a header inside restarts
  m.queue_frame(100, 200, 300, 400);
  ASSERT_EQ(read_frame(r), 1);
  EXPECT_EQ(r.value[0], 100);
  EXPECT_EQ(r.value[1], 200);
  EXPECT_EQ(r.value[2], 300);
  EXPECT_EQ(r.value[3], 400);
  EXPECT_EQ(read_frame(r), 0);
  // The reader returns after each frame, so two queued frames take two calls.
  m.queue_frame(1, 1, 1, 1);
  m.queue_frame(2, 2, 2, 2);
  ASSERT_EQ(read_frame(r), 1);
  EXPECT_EQ(r.value[0], 1);
  ASSERT_EQ(read_frame(r), 1);
  EXPECT_EQ(r.value[0], 2);
}

TEST(FrameReader, RawFramesStartOnTheirOwnHeader) {
  FakeModule m;
  FrameReader r;
  m.queue_frame(5, 6, 7, 8, 0);  // type 0 is no raw frame
  m.queue_frame(50, 60, 70, 80, 1);
  ASSERT_EQ(read_raw_frame(r), 1);
  EXPECT_EQ(r.value[0], 50);
  EXPECT_EQ(r.value[3], 80);
  EXPECT_EQ(read_raw_frame(r), 0);
}

TEST(SendCommand, ArgumentLowByteOnlyWhenNotNegative) {
  FakeModule m;
  send_module_command(42);
  send_module_command(178, 0);
  send_module_command(183, 300);
  send_module_command(204, -1);
  EXPECT_EQ(m.sent, (V{42, 178, 0, 183, 44, 204}));
}

TEST(FilterSelect, HardwareArgumentAndWhenTheSoftwareFilterRuns) {
  FakeModule m;
  IirLowPass f;
  select_filter(3, 1, f);  // mode 3 cannot reach cutoff 1
  EXPECT_EQ(m.take_sent(), (V{208, 85}));
  EXPECT_EQ(f.mode, 0);
  EXPECT_EQ(filter_sample(400, f), 400);
  select_filter(13, 4, f);
  EXPECT_EQ(m.take_sent(), (V{208, 170}));
  EXPECT_EQ(f.mode, 5);
  select_filter(4, 0, f);  // cutoff 0: the hardware only
  EXPECT_EQ(m.take_sent(), (V{208, 102}));
  EXPECT_EQ(f.mode, 0);
  select_filter(6, 2, f);
  select_filter(1, 2, f);
  select_filter(4, 5, f);
  EXPECT_TRUE(m.take_sent().empty());
  EXPECT_EQ(f.mode, 0);
}

TEST(Filter, EveryRowHasUnitGainAtZeroFrequency) {
  for (const FilterRow& row : kFilterRows)
    EXPECT_NEAR(8 / row.gain, 1 - row.c1 - row.c2 - row.c3, 1e-6) << row.mode << "," << row.s;
}

TEST(Filter, MatchesAReferenceComputedApart) {
  // Computed by a separate script from the difference equation: mode 3,
  // cutoff 3, starting in steady state on the first input; -5 counts as 0
  // and input above 256 drives the output off scale (257).
  FakeModule m;
  IirLowPass f;
  select_filter(3, 3, f);
  const V in{100, 100, 150, 200, 250, 256, 300, -5, 0, 50, 120, 80, 257, 10};
  const V want{100, 100, 119, 173, 229, 256, 159, 257, 257, 47, 71, 111, 56, 257};
  V got;
  for (int x : in) got.push_back(filter_sample(x, f));
  EXPECT_EQ(got, want);

  select_filter(13, 4, f);
  const V want2{50, 50, 51, 54, 58, 65, 74, 85, 98, 111, 124, 138, 151, 163, 173, 183};
  got.clear();
  got.push_back(filter_sample(50, f));
  for (std::size_t i = 1; i < want2.size(); ++i) got.push_back(filter_sample(200, f));
  EXPECT_EQ(got, want2);
}

TEST(Filter, SteadyInputsAndClamping) {
  FakeModule m;
  IirLowPass f;
  select_filter(5, 1, f);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(filter_sample(100, f), 100);
  select_filter(5, 1, f);
  int last = 0;
  for (int i = 0; i < 200; ++i) last = filter_sample(300, f);
  EXPECT_EQ(last, 257);
  select_filter(5, 1, f);
  for (int i = 0; i < 200; ++i) last = filter_sample(-5, f);
  EXPECT_EQ(last, 0);
}

TEST(Tables, VolumeGainAndCutoff) {
  const V want{78, 56, 57, 58, 59, 70, 71, 72, 73, 74, 75};
  for (int v = 0; v <= 10; ++v) EXPECT_EQ(volume_command(v), want[v]);
  EXPECT_EQ(volume_command(-3), 78);
  EXPECT_EQ(volume_command(99), 75);
  EXPECT_EQ(gain_command_ch1(10), 41);
  EXPECT_EQ(gain_command_ch2(0), 6);
  EXPECT_EQ(cutoff_command(4), 65);
}

TEST(Samples, StatusWordsRestartTheTraceAndSamplesFillTheRing) {
  auto page = std::make_unique<StudyPage>();
  *page = StudyPage{};
  page->newest = 17;
  EXPECT_EQ(take_waveform_sample(*page, 42, nullptr), 42);
  EXPECT_EQ(page->count, 1);
  EXPECT_EQ(page->newest, 17);  // the first sample lands at the current index
  EXPECT_EQ(page->channel_1[17], 42);
  EXPECT_EQ(take_waveform_sample(*page, 1000, nullptr), -1);
  EXPECT_EQ(page->status, 1000);
  EXPECT_EQ(page->count, 0);
  EXPECT_EQ(page->newest, 0);
  take_waveform_sample(*page, 9191, nullptr);
  EXPECT_EQ(page->status, 999);
  for (int i = 0; i < kRingSamples + 5; ++i) take_waveform_sample(*page, i % 200, nullptr);
  EXPECT_EQ(page->count, kRingSamples);
  EXPECT_EQ(page->newest, 4);
  EXPECT_EQ(page->channel_1[4], (kRingSamples + 4) % 200);
}

}  // namespace
}  // namespace vaslab
