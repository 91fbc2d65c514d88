#include "vaslab/records/export_screen.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/study_directory.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

// What the recorder module saw at each call: its arguments, the exinfo
// text and whether the batch's lock was held against other openers.
struct Call {
  std::vector<std::string> args;
  std::string exinfo;
  bool locked = false;
};
std::vector<Call> g_calls;
std::string g_fail_id;

bool lock_is_held(const std::string& folder) {
  const int fd = ::open(platform::map_path(folder + "lock.fil").c_str(), O_RDWR);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

int recorder(int argc, char* argv[]) {
  Call c;
  for (int i = 0; i < argc; ++i) c.args.push_back(argv[i]);
  if (auto bytes = platform::read_file(platform::map_path("C:\\TEMP\\exinfo"))) c.exinfo.assign(bytes->begin(), bytes->end());
  c.locked = argc > 2 && lock_is_held(argv[2]);
  g_calls.push_back(c);
  return argc > 1 && g_fail_id == argv[1] ? 11 : 0;
}

// Holds the lock file's flock in a child process until released.
struct OtherHolder {
  pid_t pid = -1;
  int pipe_w = -1;
  explicit OtherHolder(const std::string& linux_path) {
    int to_child[2], ready[2];
    EXPECT_EQ(::pipe(to_child), 0);
    EXPECT_EQ(::pipe(ready), 0);
    pid = ::fork();
    if (pid == 0) {
      ::close(to_child[1]);
      ::close(ready[0]);
      const int fd = ::open(linux_path.c_str(), O_RDWR | O_CREAT, 0600);
      const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
      (void)!::write(ready[1], &ok, 1);
      char b;
      (void)!::read(to_child[0], &b, 1);
      ::_exit(0);
    }
    ::close(to_child[0]);
    ::close(ready[1]);
    pipe_w = to_child[1];
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    ::close(ready[0]);
  }
  void release() {
    if (pid < 0) return;
    ::close(pipe_w);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~OtherHolder() { release(); }
};

struct ExportScreenTest : ScriptedRecordsFixture {
  void SetUp() override {
    ScriptedRecordsFixture::SetUp();
    g_calls.clear();
    g_fail_id.clear();
    set_module("C:\\PROGRAMS\\DELIMEX", recorder);
    set_module("C:\\PROGRAMS\\VIVOVEV", recorder);
    auto& hw = hardware_settings();
    hw.import_control[0] = 0;
    std::strcpy(hw.export_control_1, "C:\\PROGRAMS\\VIVOVEV");
    std::strcpy(hw.export_path_1, "D:\\VIVOVEV\\");
    hw.export_code_1 = 0;
    std::strcpy(hw.export_control_2, "C:\\PROGRAMS\\DELIMEX");
    std::strcpy(hw.export_path_2, "C:\\EXPORT\\");
    hw.export_code_2 = 1;
    platform::map_path_create_dirs("D:\\VIVOVEV\\");
    platform::map_path_create_dirs("C:\\EXPORT\\");
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Lower Arterial", "steps": [{"type": 10, "caption": "Notes"}]})");
    make_study(1, "SMITH", "03/04/2026 10:15 AM");
    make_study(2, "JONES", "03/05/2026 10:15 AM");
    make_study(3, "SMITH", "03/06/2026 10:15 AM");
    make_study(4, "smith", "03/07/2026 10:15 AM");
    study_list().mode = kListTemporary;
    scan_temp_studies();
    ASSERT_EQ(study_list().count, 4);
  }
  void TearDown() override {
    set_module("C:\\PROGRAMS\\DELIMEX", nullptr);
    set_module("C:\\PROGRAMS\\VIVOVEV", nullptr);
    ScriptedRecordsFixture::TearDown();
  }
  std::vector<std::string> ids() const {
    std::vector<std::string> out;
    for (const auto& c : g_calls) out.push_back(c.args.size() > 1 ? c.args[0] + " " + c.args[1] : "?");
    return out;
  }
  // Every run but a test's last must leave the screen by its script: the
  // window closed at the end of the script stays closed.
  void run(bool last = true) {
    if (last) input->after(60000).close_window();
    export_screen();
  }
};

const std::string kPdf = "C:\\PROGRAMS\\VIVOVEV";
const std::string kDelim = "C:\\PROGRAMS\\DELIMEX";

TEST_F(ExportScreenTest, DestinationsCycleAndOnlyTheSecondLeavesNoChoice) {
  // Both configured: destination 1 first; next from 1 is 2, next from 2 is
  // 1, previous from 1 is 2.  Enter exports the selected row.
  input->after(100).key(platform::vk::kRight).after(200).key(platform::vk::kRight);
  input->after(200).key(platform::vk::kLeft).after(200).key(platform::vk::kReturn);
  run(false);
  EXPECT_EQ(ids(), (std::vector<std::string>{kDelim + " 1", kDelim + " END"}));
  EXPECT_EQ(g_calls[0].args[2], "C:\\EXPORT\\");
  EXPECT_EQ(g_calls[0].args[3], "1");
  // Outside the screen the accessors follow the settings again.
  EXPECT_STREQ(export_control(), kPdf.c_str());

  // Only destination 2: it is current and the arrows change nothing.
  g_calls.clear();
  hardware_settings().export_control_1[0] = 0;
  input->from_now().after(100).key(platform::vk::kRight).after(200).key(platform::vk::kReturn);
  run(false);
  EXPECT_EQ(ids(), (std::vector<std::string>{kDelim + " 1", kDelim + " END"}));

  // None: the screen is not shown at all.
  g_calls.clear();
  hardware_settings().export_control_2[0] = 0;
  EXPECT_EQ(export_screen(), 0);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(ExportScreenTest, ExportPatientTakesEveryStudyOfThePatientThenEndsOnce) {
  // Rows by date: SMITH 1, JONES 2, SMITH 3, smith 4.  D: is missing at
  // first: Retry finds it once it is there.
  const std::string d = platform::drive_folder('D');
  ASSERT_EQ(std::system(("mv '" + d + "' '" + d + ".away'").c_str()), 0);
  input->after(100).tap(kExportPatient).after(300).at_time([&] {
    ASSERT_EQ(std::system(("mv '" + d + ".away' '" + d + "'").c_str()), 0);
  });
  input->after(100).tap(kMbRetry);
  run(false);
  EXPECT_EQ(ids(), (std::vector<std::string>{kPdf + " 1", kPdf + " 3", kPdf + " 4", kPdf + " END"}));
  for (const auto& c : g_calls) EXPECT_TRUE(c.locked) << c.args[1];
  // exinfo is the row's 81 bytes, NUL included.
  ASSERT_EQ(g_calls[1].exinfo.size(), 81u);
  EXPECT_EQ(g_calls[1].exinfo.substr(0, 5), "SMITH");
  EXPECT_EQ(g_calls[1].exinfo.back(), '\0');
  EXPECT_EQ(g_calls[1].exinfo.substr(0, 80), std::string(study_list().rows[2].text, 80));
  EXPECT_FALSE(lock_is_held("D:\\VIVOVEV\\"));

  // Without the drive, Cancel leaves the screen and nothing is exported.
  g_calls.clear();
  ASSERT_EQ(std::system(("rm -r '" + d + "'").c_str()), 0);
  input->from_now().after(100).tap(kExportPatient).after(300).tap(kMbCancel);
  run();
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(ExportScreenTest, FailingStudyOrEndCallIsShownOnceAndTheLockReleased) {
  hardware_settings().export_control_1[0] = 0;
  g_fail_id = "2";
  input->after(100).key('A').after(300).tap(kMbOk);
  testing::internal::CaptureStderr();
  run(false);
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ids(), (std::vector<std::string>{kDelim + " 1", kDelim + " 2", kDelim + " END"}));
  EXPECT_NE(shown.find("export error:File error."), std::string::npos) << shown;
  EXPECT_FALSE(lock_is_held("C:\\EXPORT\\"));

  // Every study went through but the end call, which makes the batch's
  // files, failed: that is said, not passed over as a finished export.
  g_calls.clear();
  g_fail_id = "END";
  input->from_now().after(100).key(platform::vk::kReturn).after(300).tap(kMbOk);
  testing::internal::CaptureStderr();
  run();
  shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ids(), (std::vector<std::string>{kDelim + " 1", kDelim + " END"}));
  EXPECT_NE(shown.find("export error:File error."), std::string::npos) << shown;
  EXPECT_FALSE(lock_is_held("C:\\EXPORT\\"));
}

TEST_F(ExportScreenTest, BatchStartPurgesTheExportFolderAndTempButKeepsLocksAndQueuedPrints) {
  hardware_settings().export_control_1[0] = 0;
  root.write("C:\\EXPORT\\old.asc", "x");
  root.write("C:\\EXPORT\\LOCK.FIL.BAK", "x");
  root.write("C:\\TEMP\\DELIMDB", "stale");
  root.write("C:\\TEMP\\07.PRT", "job");
  input->after(100).key(platform::vk::kReturn);
  run();
  EXPECT_EQ(g_calls.size(), 2u);
  EXPECT_FALSE(root.exists("C:\\EXPORT\\old.asc"));
  EXPECT_TRUE(root.exists("C:\\EXPORT\\LOCK.FIL.BAK"));
  EXPECT_FALSE(root.exists("C:\\TEMP\\DELIMDB"));
  EXPECT_TRUE(root.exists("C:\\TEMP\\07.PRT"));

  // An export path that is the data directory, C:\TEMP\ or C:\PROGRAMS\ is
  // exported into but never emptied.
  for (const char* own : {"C:\\DATA\\", "c:\\temp\\", "C:\\PROGRAMS\\"}) {
    root.write(std::string(own) + "keep.me", "x");
    std::strcpy(hardware_settings().export_path_2, own);
    empty_export_folder(own);
    EXPECT_TRUE(root.exists(std::string(own) + "keep.me")) << own;
  }
}

// A batch into a folder that is not emptied still removes what killed
// exports left in it, since a stick may be read elsewhere before the next
// start: only the file layer's temporaries go, nothing beside them, and
// nothing in the folders below.
TEST_F(ExportScreenTest, BatchStartRemovesWhatKilledExportsLeftInItsFolder) {
  hardware_settings().export_control_1[0] = 0;
  hardware_settings().export_code_2 = 0;
  root.write("C:\\EXPORT\\~5.0a1b2c3d.tmp~", "a killed export's copy");
  root.write("C:\\EXPORT\\old.asc", "x");
  root.write("C:\\EXPORT\\~notes.txt", "x");
  root.write("C:\\EXPORT\\sub\\~1.0000abcd.tmp~", "x");
  input->after(100).key(platform::vk::kReturn);
  run();
  EXPECT_EQ(g_calls.size(), 2u);
  EXPECT_FALSE(root.exists("C:\\EXPORT\\~5.0a1b2c3d.tmp~"));
  EXPECT_TRUE(root.exists("C:\\EXPORT\\old.asc"));
  EXPECT_TRUE(root.exists("C:\\EXPORT\\~notes.txt"));
  EXPECT_TRUE(root.exists("C:\\EXPORT\\sub\\~1.0000abcd.tmp~"));
}

TEST_F(ExportScreenTest, EmptyExportPathIsRefusedBeforeAnythingIsLockedOrDeleted) {
  hardware_settings().export_control_1[0] = 0;
  hardware_settings().export_path_2[0] = 0;
  root.write("C:\\TEMP\\keep", "x");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ::unlink((std::string(cwd) + "/lock.fil").c_str());
  input->after(100).key(platform::vk::kReturn).after(300).tap(kMbOk).after(300).tap(kExportExit);
  run();
  EXPECT_TRUE(g_calls.empty());
  EXPECT_STREQ(g_message_text, "export error:File error.");
  EXPECT_TRUE(root.exists("C:\\TEMP\\keep"));
  EXPECT_NE(::access((std::string(cwd) + "/lock.fil").c_str(), F_OK), 0);
}

TEST_F(ExportScreenTest, LockHeldElsewhereDelaysTheBatchOrRefusesIt) {
  hardware_settings().export_control_1[0] = 0;
  root.write("C:\\EXPORT\\old.asc", "x");
  const std::string lock_file = platform::map_path("C:\\EXPORT\\lock.fil");
  {
    // Held by another process for the whole of the 20 tries: the message,
    // no call and nothing purged.
    OtherHolder other(lock_file);
    input->after(100).key(platform::vk::kReturn).after(15000).tap(kMbOk).after(300).tap(kExportExit);
    run(false);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_STREQ(g_message_text, "Export in use; try again later.");
    EXPECT_TRUE(root.exists("C:\\EXPORT\\old.asc"));
  }
  {
    // Released after three seconds: the batch waits for it.
    OtherHolder other(lock_file);
    std::uint32_t pressed = 0, called = 0;
    input->from_now().after(100).at_time([&] { pressed = clock.now; }).key(platform::vk::kReturn);
    input->after(3000).at_time([&] { other.release(); });
    set_module("C:\\PROGRAMS\\DELIMEX", [](int argc, char* argv[]) { return recorder(argc, argv); });
    run();
    called = g_calls.empty() ? 0 : 1;
    ASSERT_EQ(called, 1u);
    EXPECT_EQ(ids(), (std::vector<std::string>{kDelim + " 1", kDelim + " END"}));
    EXPECT_GE(clock.now - pressed, 2900u);
    EXPECT_FALSE(root.exists("C:\\EXPORT\\old.asc"));
  }
}

}  // namespace
}  // namespace vaslab
