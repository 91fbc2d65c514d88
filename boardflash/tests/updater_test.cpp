// The updater's sequence and exit with a stand-in library: results, lines and
// the rule that a worker writing the flash is never abandoned.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

#include "boardflash/tests/recording_view.h"
#include "boardflash/updater.h"
#include "platform/clock.h"
#include "testsupport/temp_root.h"

namespace {

using boardflash_test::RecordingView;

// The stand-in library's behaviour, set by each test.
std::atomic<bool> g_initAnswers{true};
std::atomic<bool> g_eraseStarted{false};
std::atomic<bool> g_eraseCalled{false};
std::atomic<bool> g_releaseOpen{true};
std::atomic<int> g_eraseMs{0};

unsigned char yes() { return 1; }
unsigned char yesInt(int) { return 1; }
unsigned char init() { return g_initAnswers ? 1 : 0; }
int noError() { return 0; }
const char* result() { return "12"; }
void nothing() {}
unsigned char openUsb() {
  while (!g_releaseOpen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 1;
}
unsigned char erase() {
  g_eraseCalled = true;
  g_eraseStarted = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(g_eraseMs));
  return 1;
}
unsigned char text(const char*) { return 1; }
unsigned char writeByte(int, unsigned char) { return 1; }
unsigned char appli(unsigned char, int) { return 1; }

boardflash::IspLibrary standIn() {
  boardflash::IspLibrary isp{};
  isp.init = init;
  isp.getLastError = noError;
  isp.selectDevice = yesInt;
  isp.selectCommHardware = yesInt;
  isp.openUsbPort = openUsb;
  isp.readSpecialByte = yesInt;
  isp.getLastResult = result;
  isp.eraseDevice = erase;
  isp.blankCheckDevice = yes;
  isp.cancel = nothing;
  isp.fillBuffer = text;
  isp.parseHexFile = text;
  isp.programDevice = yes;
  isp.verifyDevice = yes;
  isp.writeSpecialByte = writeByte;
  isp.enterAppliMode = appli;
  isp.getBufferAddrLo = nothing;
  isp.getBufferAddrHi = nothing;
  return isp;
}

class Updater : public ::testing::Test {
 protected:
  void SetUp() override { platform::set_clock(&clock); }
  void TearDown() override { platform::set_clock(nullptr); }
  platform::FakeClock clock;
};

TEST_F(Updater, FailedStepWithoutAnErrorCodeStillFails) {
  g_initAnswers = false;
  RecordingView view;
  const int r = boardflash::run_sequence(view, standIn(), "fw.hex");
  g_initAnswers = true;
  EXPECT_NE(r, 0);
  EXPECT_EQ(view.lines(), std::vector<std::string>{"Initializing......FAIL"});

  RecordingView passing;
  EXPECT_EQ(boardflash::run_sequence(passing, standIn(), "fw.hex"), 0);
  EXPECT_EQ(passing.lines().at(4), "Reading the bootloader version: 1.1.2......PASS");
  EXPECT_EQ(passing.lines().at(5), "Reading the security byte: 12......PASS");
  EXPECT_EQ(passing.lines().back(), "DEVICE REPROGRAMMING COMPLETED SUCCESSFULLY......PASS");
}

TEST_F(Updater, ExitWaitsForAWorkerWritingTheFlashButNotForOneBeforeIt) {
  // Closed while the erase runs: the short exit wait is not the end.  (An
  // earlier test's erase must not pass for this one's.)
  g_eraseStarted = false;
  g_eraseMs = 300;
  RecordingView view;
  view.closeWhen = [] {
    while (!g_eraseStarted) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  boardflash::RunResult run =
      boardflash::run_updater(view, [&] { return boardflash::run_sequence(view, standIn(), "fw.hex"); }, 10);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(view.lines().back(), "DEVICE REPROGRAMMING COMPLETED SUCCESSFULLY......PASS");

  // Closed while the board is still being opened: the program gives up on
  // the worker, which then must not start erasing.
  g_eraseCalled = false;
  g_releaseOpen = false;
  std::atomic<bool> done{false};
  RecordingView early;
  early.closeWhen = [] {};
  run = boardflash::run_updater(
      early,
      [&] {
        const int r = boardflash::run_sequence(early, standIn(), "fw.hex");
        done = true;
        return r;
      },
      10);
  EXPECT_FALSE(run.finished);
  g_releaseOpen = true;
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(g_eraseCalled);
}

TEST_F(Updater, MissingLibraryGivesFourLinesWithOkBeforeTheLast) {
  testsupport::TempRoot root;
  RecordingView view;
  EXPECT_EQ(boardflash::update_worker(view, "fw.hex", "fw.hex"), boardflash::kLibraryMissing);
  const std::vector<std::string> expected = {"Firmware File Name: fw.hex", "Beginning ISP Programming Routine.....",
                                             "ovisp.dll not found", "Please Contact KORVANI Technical Support"};
  EXPECT_EQ(view.lines(), expected);
  EXPECT_EQ(view.okAt(), 3);
}

TEST(LibraryPath, RelativeNamesAreTakenFromTheWorkingDirectory) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(boardflash::library_path_for("fw 1.hex"), std::string(cwd) + "/fw 1.hex");
  EXPECT_EQ(boardflash::library_path_for("sub/fw.hex"), std::string(cwd) + "/sub/fw.hex");
  EXPECT_EQ(boardflash::library_path_for("C:\\FIRMWARE\\fw.hex"), "C:\\FIRMWARE\\fw.hex");
  EXPECT_EQ(boardflash::library_path_for("/opt/fw.hex"), "/opt/fw.hex");
}

}  // namespace
