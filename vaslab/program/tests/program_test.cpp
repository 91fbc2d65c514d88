#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "../../core/tests/core_fixture.h"
#include "platform/paths.h"
#include "testsupport/private_cups.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/screens/main_menu.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/program/program.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/export_screen.h"

extern char** environ;

namespace {

using namespace vaslab;

struct Program : CoreFixture {
  // The window is closed from outside as soon as the program waits.
  void close_window_at_once() { backend.push({platform::Msg::kDestroy}); }

  void save_settings() { ASSERT_EQ(write_hardware_settings(), 0); }
  // The test machine has no printer: the start asks for one, and Cancel
  // goes on without printing after saying so.
  static void answer_no_printer(testsupport::ScriptedInput& in) {
    in.after(20).tap(kMbCancel).after(300).tap(kMbOk).after(300);
  }
};

TEST_F(Program, SetupModeTouchesNoFilesAndEndsWithZero) {
  root.write("C:\\TEMP\\work.tmp", "x");
  root.write("C:\\DATA\\1.PDF", "x");
  close_window_at_once();
  EXPECT_EQ(win_main(" "), 0);
  EXPECT_TRUE(root.exists("C:\\TEMP\\work.tmp"));
  EXPECT_TRUE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_TRUE(root.exists("c:\\studies\\setup.hdw")) << "settings were read (and completed)";
  EXPECT_FALSE(backend.exists()) << "the window is destroyed at the end";
}

TEST_F(Program, WorkstationPurgesWorkFoldersAndEmptiesMarkedExportFolders) {
  HardwareSettings& hw = hardware_settings();
  // Export path 1 is the USB drive's (set by the start screen), so the
  // second path names the folder here.
  hw.export_code_2 = 4;
  std::snprintf(hw.export_path_2, sizeof hw.export_path_2, "C:\\EXPORT");  // no separator
  hw.export_code_1 = 4;
  save_settings();
  root.write("C:\\TEMP\\work.tmp", "x");
  root.write("C:\\DATA\\1.PDF", "x");
  root.write("C:\\EXPORT\\18.zvt", "x");
  root.write("C:\\EXPORT\\LOCK.FIL", "x");
  root.write("C:\\EXPORT\\xlock.filz", "x");
  root.write("C:\\PROGRAMS\\keep.me", "x");
  platform::set_current_directory("C:\\PROGRAMS\\");

  close_window_at_once();
  EXPECT_EQ(win_main(""), 0);
  EXPECT_FALSE(root.exists("C:\\TEMP\\work.tmp"));
  EXPECT_FALSE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_FALSE(root.exists("C:\\EXPORT\\18.zvt"));
  EXPECT_TRUE(root.exists("C:\\EXPORT\\LOCK.FIL"));
  EXPECT_TRUE(root.exists("C:\\EXPORT\\xlock.filz"));
  EXPECT_TRUE(root.exists("C:\\PROGRAMS\\keep.me"));
  EXPECT_TRUE(root.exists("C:\\PROGRAMS\\"));
}

// A save killed once its copy took its number, before its record: the next
// start finishes it before it purges the temporary studies.
TEST_F(Program, StartFinishesASaveKilledAfterItsCopyTookItsNumber) {
  HardwareSettings& hw = hardware_settings();
  std::snprintf(hw.archive_path_1, sizeof hw.archive_path_1, "C:\\ARCHIVE\\");
  std::snprintf(hw.data_directory, sizeof hw.data_directory, "C:\\DATA\\");
  save_settings();
  root.write(kArchiveDbPath, "");
  std::string study(kPageHeaderBytes + 100, '\0');
  std::memcpy(&study[32], "SMITH", 5);
  root.write("C:\\DATA\\1.PDF", study);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    set_archive_save_hook([](int step) {
      if (step == kStepNumbered) ::raise(SIGKILL);
    });
    ::_exit(archive_temp_study("1.PDF"));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  close_window_at_once();
  EXPECT_EQ(win_main(""), 0);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\1"), study);
  const std::string db = root.read(kArchiveDbPath);
  ASSERT_EQ(db.size(), 2 * kDbRecordBytes) << "record 1 written";
  EXPECT_EQ(db.substr(kDbRecordBytes, 6), std::string("\x01SMITH"));
  EXPECT_FALSE(root.exists(std::string("C:\\ARCHIVE\\") + kSaveJournal));
}

// A drive root that was never prepared: the missing file is named at once,
// without a window.
TEST_F(Program, UnpreparedDriveRootNamesTheMissingFile) {
  const std::string bitmaps = platform::map_path("C:\\PROGRAMS\\_bmp");
  ASSERT_EQ(::unlink(bitmaps.c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(win_main(""), 0);
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("The bitmap folder " + bitmaps), std::string::npos) << said;
  EXPECT_FALSE(backend.exists()) << "no window was made";

  ASSERT_TRUE(platform::make_dirs(bitmaps));
  testing::internal::CaptureStderr();
  EXPECT_EQ(win_main(""), 0);
  said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("The title font " + bitmaps + "/kartika-VYRO.ttf is missing."), std::string::npos) << said;
}

TEST_F(Program, ExportPurgeDeletesLongNamesByTheirFullName) {
  root.write("C:\\EXPORT\\a very long file name.data", "x");
  root.write("C:\\EXPORT\\Study Lock.Fil.bak", "x");
  empty_export_folder("C:\\EXPORT\\");
  EXPECT_FALSE(root.exists("C:\\EXPORT\\a very long file name.data"));
  EXPECT_TRUE(root.exists("C:\\EXPORT\\Study Lock.Fil.bak"));
}

TEST_F(Program, ShutdownCommandRunsOnlyWhenTheStartScreensExitButtonEndedTheProgram) {
  const std::string marker = root.path() + "/m";
  const std::string command = "touch '" + marker + "'";
  HardwareSettings& hw = hardware_settings();
  ASSERT_LT(command.size(), sizeof hw.shutdown_run);
  std::snprintf(hw.shutdown_run, sizeof hw.shutdown_run, "%s", command.c_str());
  save_settings();
  platform::make_dirs(platform::drive_folder('D'));  // no USB question
  {
    testsupport::ScriptedInput in(clock);
    answer_no_printer(in);
    in.after(20).tap(kStartExit);
    EXPECT_EQ(win_main(""), 0) << "a normal end";
    EXPECT_EQ(::access(marker.c_str(), F_OK), 0) << "exit button";
  }
  ::unlink(marker.c_str());
  {
    testsupport::ScriptedInput in(clock);
    answer_no_printer(in);
    in.after(20).key(platform::vk::kEscape);
    EXPECT_EQ(win_main(""), 0);
    EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "Escape";
  }
  {
    testsupport::ScriptedInput in(clock);
    answer_no_printer(in);
    in.after(20).close_window();
    EXPECT_EQ(win_main(""), 0);
    EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "window closed";
  }
}

// --- Real processes -------------------------------------------------------

std::string program_path() {
  const char* build = std::getenv("VASLAB_BUILD_DIR");
  return std::string(build ? build : ".") + "/bin/vaslab";
}

pid_t start_program(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string path = program_path();
  argv.push_back(path.data());
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Waits up to `seconds` for the process; its exit code, or -1 if it still runs.
int wait_for(pid_t pid, int seconds) {
  for (int i = 0; i < seconds * 100; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

TEST(ProgramProcess, SecondCopyEndsAtOnceAndFirstUnwindsWhenClosed) {
  testsupport::TempRoot root;
  ::setenv("VASLAB_ROOT", root.path().c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", root.path().c_str(), 1);
  root.link_bitmaps();
  // A printer, so that the start asks nothing.
  testsupport::PrivateCups cups(root.path() + "/cups");
  ASSERT_TRUE(cups.add_printer("Lab", true));
  root.write("C:\\TEMP\\work.tmp", "x");
  const pid_t first = start_program({});
  ASSERT_GT(first, 0);
  // The first copy is up once it has purged its work folder.
  for (int i = 0; i < 500 && root.exists("C:\\TEMP\\work.tmp"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(root.exists("C:\\TEMP\\work.tmp"));

  const pid_t second = start_program({});
  EXPECT_EQ(wait_for(second, 10), 0);
  EXPECT_EQ(wait_for(first, 0), -1) << "the first copy keeps running";

  // SDL turns the termination signal into a close of the window: the program
  // unwinds through its normal shut-down, which purges the work folder again.
  root.write("C:\\TEMP\\late.tmp", "x");
  ::kill(first, SIGTERM);
  EXPECT_EQ(wait_for(first, 10), 0);
  EXPECT_FALSE(root.exists("C:\\TEMP\\late.tmp"));
}

}  // namespace
