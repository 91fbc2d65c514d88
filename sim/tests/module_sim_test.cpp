#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/module_sim.h"

namespace {

using sim::ModuleOptions;
using sim::ModuleProtocol;

struct Frame {
  int type, v1, v2, v3, v4;
};

// Whole frames in a byte stream, as the study screens read them.
std::vector<Frame> frames_in(const std::vector<std::uint8_t>& bytes) {
  std::vector<Frame> out;
  for (std::size_t i = 0; i + 7 <= bytes.size(); ++i) {
    if (!(bytes[i] & 0x80)) continue;
    bool whole = true;
    for (int k = 1; k < 7; ++k) whole = whole && !(bytes[i + k] & 0x80);
    if (!whole) continue;
    const std::uint8_t* b = &bytes[i];
    out.push_back({(b[0] >> 4) & 7, b[1] | (b[0] & 3) << 7, b[2] | ((b[0] >> 2) & 3) << 7, b[3] << 7 | b[4],
                   b[5] << 7 | b[6]});
    i += 6;
  }
  return out;
}

// Time passing as the simulator's thread sees it, in small steps.
void run_until(ModuleProtocol& m, double& clock, double until) {
  for (; clock < until; clock += 0.005) m.tick(clock);
  m.tick(until);
}

void feed(ModuleProtocol& m, std::initializer_list<int> bytes, double now) {
  for (int b : bytes) m.receive(static_cast<std::uint8_t>(b), now);
}

TEST(ModuleSim, FramesCarryTheirValuesInSevenBitBytes) {
  const auto f = sim::encode_frame(5, 300, 511, 16383, 1000);
  EXPECT_EQ(f[0], 0x80 | 5 << 4 | 3 << 2 | 2);
  for (int k = 1; k < 7; ++k) EXPECT_LT(f[k], 0x80);
  const auto back = frames_in(std::vector<std::uint8_t>(f.begin(), f.end()));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].v1, 300);
  EXPECT_EQ(back[0].v2, 511);
  EXPECT_EQ(back[0].v3, 16383);
  EXPECT_EQ(back[0].v4, 1000);
}

TEST(ModuleSim, ArgumentBytesAreNeverTakenForCommands) {
  ModuleOptions opt;
  opt.reply_delay_ms = 0;
  opt.frame_rate = 0;
  ModuleProtocol m(opt);
  feed(m, {183, 0x52, 208, 0x53, 194, 0xAA}, 0);
  EXPECT_TRUE(m.take_output(1).empty()) << "no version answer, no download";
  ASSERT_EQ(m.log().size(), 3u);
  EXPECT_EQ(m.log()[0].command, 183);
  EXPECT_EQ(m.log()[0].argument, 0x52);
  EXPECT_EQ(m.log()[1].command, 208);
  EXPECT_EQ(m.log()[1].argument, 0x53);
  EXPECT_EQ(m.log()[2].argument, 0xAA);

  // 0x52 is the cuff selector unless it follows the version query.
  feed(m, {0x52}, 1);
  EXPECT_FALSE(m.downloading());
  EXPECT_EQ(m.log().back().command, 0x52);
  feed(m, {0x53, 0x52}, 2);
  EXPECT_TRUE(m.downloading());
  EXPECT_EQ(m.take_output(2), (std::vector<std::uint8_t>{5, 0x00}));
  // Anything but a block number ends the download: the query is answered.
  feed(m, {0x53}, 3);
  EXPECT_FALSE(m.downloading());
  EXPECT_EQ(m.take_output(3), std::vector<std::uint8_t>{5});
}

TEST(ModuleSim, AnswersComeAfterTheReplyDelayAndAtWireSpeed) {
  ModuleOptions opt;
  opt.version = 4;
  opt.reply_delay_ms = 15;
  opt.wire_time = true;
  ModuleProtocol m(opt);
  feed(m, {0x53, 0x53}, 1.0);
  EXPECT_TRUE(m.take_output(1.014).empty());
  EXPECT_EQ(m.take_output(1.0155), std::vector<std::uint8_t>{4});
  EXPECT_EQ(m.take_output(1.0170), std::vector<std::uint8_t>{4}) << "the second byte waits for the first";
}

TEST(ModuleSim, BlockCutShortIsAbandonedAfterAPause) {
  ModuleOptions opt;
  opt.reply_delay_ms = 0;
  ModuleProtocol m(opt);
  feed(m, {0x53, 0x52}, 0);
  m.take_output(0);
  feed(m, {3, 1, 2, 3}, 0.5);
  m.tick(0.55);
  EXPECT_TRUE(m.downloading());
  m.tick(0.7);
  EXPECT_FALSE(m.downloading());
  EXPECT_TRUE(m.blocks_seen().empty());
}

TEST(ModuleSim, StreamStartsWithACommandAndStopsWithZero) {
  ModuleOptions opt;
  opt.frame_rate = 100;
  opt.status_word = 999;
  ModuleProtocol m(opt);
  double t = 0;
  run_until(m, t, 1.0);
  EXPECT_TRUE(m.take_output(1).empty()) << "quiet until asked";
  feed(m, {17}, 1.0);
  run_until(m, t, 2.0);
  auto frames = frames_in(m.take_output(2.0));
  EXPECT_GE(frames.size(), 100u);
  EXPECT_LE(frames.size(), 102u);
  EXPECT_EQ(frames[0].v3, 9191) << "the status word: 999 in the low 13 bits";
  for (std::size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].type, 0);
    EXPECT_LE(frames[i].v3, 256);
    EXPECT_LE(frames[i].v4, 256);
  }
  feed(m, {1}, 2.0);  // the alignment's set-up ends with 1: raw frames
  run_until(m, t, 2.5);
  frames = frames_in(m.take_output(2.5));
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().type, 1);
  feed(m, {0}, 2.5);
  run_until(m, t, 3.0);
  EXPECT_TRUE(m.take_output(3.0).empty());
  EXPECT_FALSE(m.streaming());
}

TEST(ModuleSim, CuffsFollowInflateDeflateAndHoldLeakAndVentOnCommandZero) {
  ModuleOptions opt;
  ModuleProtocol m(opt);
  double t = 0;
  feed(m, {183, 150, 90}, 0);  // channel 1: inflate to 150
  run_until(m, t, 2.0);
  EXPECT_EQ(m.cuff_pressure(1), 80);
  run_until(m, t, 10.0);
  EXPECT_NEAR(m.cuff_pressure(1), 150, 1) << "reached at 3.75 s, then a slow leak";
  auto frames = frames_in(m.take_output(10.0));
  ASSERT_GT(frames.size(), 900u);
  EXPECT_EQ(frames.back().v1, m.cuff_pressure(1));
  // Above systolic pressure the pulse below the cuff stops.
  EXPECT_EQ(frames.back().v3, frames[frames.size() - 30].v3);

  feed(m, {94}, 10.0);  // deflate while held, then stop
  run_until(m, t, 12.0);
  feed(m, {95}, 12.0);
  run_until(m, t, 20.0);
  EXPECT_NEAR(m.cuff_pressure(1), 139, 1);
  feed(m, {86}, 20.0);  // channel 2 inflates while held, then stops
  run_until(m, t, 21.0);
  feed(m, {87}, 21.0);
  EXPECT_EQ(m.cuff_pressure(2), 40);
  EXPECT_NEAR(m.cuff_pressure(1), 139, 1);

  // Left standing, both cuffs lose 0.1 mmHg a second: five minutes, 30.
  for (int second = 22; second <= 321; ++second) {
    run_until(m, t, second);
    m.take_output(second);
  }
  EXPECT_NEAR(m.cuff_pressure(1), 109, 1);
  EXPECT_NEAR(m.cuff_pressure(2), 10, 1);

  // Command 0 vents both at once; the stop commands that may follow it (the
  // alignment's start) do not close the valve again.
  feed(m, {86}, 321.0);
  run_until(m, t, 325.0);
  EXPECT_NEAR(m.cuff_pressure(2), 170, 1);
  feed(m, {0, 95, 89}, 325.0);
  run_until(m, t, 326.0);
  EXPECT_NEAR(m.cuff_pressure(1), 49, 1);
  EXPECT_NEAR(m.cuff_pressure(2), 110, 1);
  run_until(m, t, 329.0);
  EXPECT_EQ(m.cuff_pressure(1), 0);
  EXPECT_EQ(m.cuff_pressure(2), 0);
}

TEST(ModuleSim, InvertTurnsTheDopplerWaveOverOnEachChannel) {
  ModuleOptions opt;
  opt.wave2 = sim::Wave::kDoppler;
  ModuleProtocol m(opt);
  double clock = 0;
  struct Range {
    int low3 = 999, high3 = 0, low4 = 999, high4 = 0;
  };
  // Two beats of frames after the commands.
  auto range_after = [&](std::initializer_list<int> commands) {
    feed(m, commands, clock);
    run_until(m, clock, clock + 0.2);
    m.take_output(clock);
    run_until(m, clock, clock + 1.7);
    Range r;
    for (const Frame& f : frames_in(m.take_output(clock))) {
      r.low3 = std::min(r.low3, f.v3);
      r.high3 = std::max(r.high3, f.v3);
      r.low4 = std::min(r.low4, f.v4);
      r.high4 = std::max(r.high4, f.v4);
    }
    return r;
  };
  // The Doppler step's set-up: the probe, inversion off on both channels.
  Range r = range_after({46, 48, 21, 23});
  EXPECT_GT(r.high3, 220);
  EXPECT_GT(r.low3, 95);
  EXPECT_GT(r.high4, 220);
  r = range_after({49});  // Invert on channel 1: the peak points down
  EXPECT_LT(r.low3, 36);
  EXPECT_LT(r.high3, 161);
  EXPECT_GT(r.high4, 220) << "channel 2 stays as it was";
  r = range_after({24, 48});  // channel 2 over, channel 1 back
  EXPECT_GT(r.high3, 220);
  EXPECT_LT(r.low4, 36);
  r = range_after({23});
  EXPECT_GT(r.high4, 220);
  EXPECT_GT(r.low4, 95);
}

TEST(ModuleSim, NoiseBreaksSomeFrames) {
  ModuleOptions opt;
  opt.noise_per_mille = 500;
  ModuleProtocol m(opt);
  feed(m, {17}, 0);
  m.tick(1.0);
  const auto bytes = m.take_output(1.0);
  const auto frames = frames_in(bytes);
  EXPECT_LT(frames.size() * 7, bytes.size() - 7 * 20);
  EXPECT_GT(frames.size(), 20u);
}

TEST(ModuleSim, ProbeSetUpsTestLevelsAndRoutingFollowTheCommands) {
  ModuleOptions opt;
  opt.status_word2 = 1500;
  opt.status_every2 = 50;
  ModuleProtocol m(opt);
  double clock = 0;
  auto last = [&](double until) {
    run_until(m, clock, until);
    const auto f = frames_in(m.take_output(until));
    return f.empty() ? Frame{-1, 0, 0, 0, 0} : f.back();
  };
  feed(m, {44}, 0);  // pulse volume on both channels: no cuff, no pulse yet
  m.tick(0);
  const auto first = frames_in(m.take_output(0.0));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[0].v4, 1500) << "channel 2 opens with its status word";
  EXPECT_EQ(last(0.3).v3, 70);
  feed(m, {3}, clock);
  EXPECT_EQ(last(0.4).v3, 100) << "the test level of channel 1";
  feed(m, {4}, clock);
  const Frame routed = last(0.45);
  EXPECT_EQ(routed.v3, 130) << "value 3 from channel 2";
  feed(m, {5}, clock);
  EXPECT_EQ(last(0.5).v3, 100);
  feed(m, {42}, clock);  // the PPG probe on channel 1 ends the test level
  int lowest = 999, highest = 0;
  run_until(m, clock, 1.5);
  for (const Frame& f : frames_in(m.take_output(1.5))) {
    lowest = std::min(lowest, f.v3);
    highest = std::max(highest, f.v3);
  }
  EXPECT_EQ(lowest, 60);
  EXPECT_GT(highest, 150);
}

TEST(ModuleSim, APulseVolumeGrowsWithTheHeldCuffAndEachSideHasItsSystolic) {
  ModuleOptions opt;
  opt.systolic1 = 130;
  opt.systolic2 = 90;
  ModuleProtocol m(opt);
  double clock = 0;
  feed(m, {44, 183, 100, 90, 158, 100, 84}, 0);  // both cuffs to 100 mmHg
  run_until(m, clock, 4);
  m.take_output(4);
  EXPECT_EQ(m.cuff_pressure(1), 100);
  EXPECT_EQ(m.cuff_pressure(2), 100);
  run_until(m, clock, 5);
  int top3 = 0, top4 = 0;
  for (const Frame& f : frames_in(m.take_output(5))) {
    top3 = std::max(top3, f.v3);
    top4 = std::max(top4, f.v4);
  }
  EXPECT_GT(top3, 150) << "below channel 1's systolic the full pulse volume";
  EXPECT_EQ(top4, 70) << "above channel 2's systolic the pulse is gone";
}

// The pulse volume amplitude comes as a status word when the stream starts
// and when a cuff has come to a hold after inflating, and only then: a
// status word starts every screen's trace afresh.
TEST(ModuleSim, APulseVolumeStatusWordComesWhenItsCuffHolds) {
  ModuleOptions opt;
  opt.status_word = 1000;
  opt.status_word2 = 900;
  ModuleProtocol m(opt);
  double clock = 0;
  auto statuses = [&](double until) {
    run_until(m, clock, until);
    std::vector<int> ch1, ch2;
    for (const Frame& f : frames_in(m.take_output(until))) {
      if (f.v3 >= 1000) ch1.push_back(f.v3);
      if (f.v4 >= 1000) ch2.push_back(f.v4);
    }
    return std::make_pair(ch1, ch2);
  };
  feed(m, {44, 183, 65, 90}, 0);  // channel 1's cuff to 65 mmHg, about 1.6 s
  auto [ch1, ch2] = statuses(1.0);
  EXPECT_EQ(ch1, std::vector<int>{1000}) << "at the start of the stream only";
  EXPECT_EQ(ch2, std::vector<int>{900 + 0x2000});
  std::tie(ch1, ch2) = statuses(5.0);
  EXPECT_EQ(m.cuff_pressure(1), 65);
  EXPECT_EQ(ch1, std::vector<int>{1000}) << "once, as the cuff reached its target";
  EXPECT_TRUE(ch2.empty());
  feed(m, {86}, clock);  // channel 2's cuff inflated while held, then let go
  run_until(m, clock, 6.0);
  feed(m, {87}, clock);
  std::tie(ch1, ch2) = statuses(8.0);
  EXPECT_TRUE(ch1.empty());
  EXPECT_EQ(ch2, std::vector<int>{900 + 0x2000}) << "once, as the held cuff stopped";

  feed(m, {46, 183, 120, 90}, clock);  // Doppler: a cuff that holds brings no status
  std::tie(ch1, ch2) = statuses(14.0);
  EXPECT_GE(m.cuff_pressure(1), 119);
  EXPECT_TRUE(ch1.empty());
}

}  // namespace
