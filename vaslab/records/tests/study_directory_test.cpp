#include "vaslab/records/study_directory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/study_menu_module.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

constexpr int kYes = 100;
constexpr int kNo = 101;

// The report module records the studies it was asked for and fails the one
// named in g_fail_report.
std::vector<std::string> g_reports;
std::string g_fail_report;
int recording_report(int argc, char* argv[]) {
  const std::string file = argc > 1 ? argv[1] : "";
  g_reports.push_back(file);
  return file == g_fail_report ? 11 : 0;
}

struct StudyScreensTest : ScriptedRecordsFixture {
  void SetUp() override {
    ScriptedRecordsFixture::SetUp();
    hardware_settings().import_control[0] = 0;
    std::strcpy(hardware_settings().archive_path_1, "C:\\ARCHIVE\\");
    hardware_settings().archive_path_2[0] = 0;
    platform::map_path_create_dirs("C:\\ARCHIVE\\");
    root.write(kArchiveDbPath, "");
    g_reports.clear();
    g_fail_report.clear();
    set_module("C:\\PROGRAMS\\IPROC", recording_report);
    set_view_module([](int, char*[], int) { return 0; });
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Lower Arterial", "steps": [{"type": 10, "caption": "Notes"}]})");
    make_study(1, "SMITH", "03/04/2026 10:15 AM");
    make_study(2, "JONES", "03/05/2026 10:15 AM");
    make_study(3, "SMITH", "03/06/2026 10:15 AM");
  }
  void TearDown() override {
    set_module("C:\\PROGRAMS\\IPROC", nullptr);
    set_view_module(nullptr);
    ScriptedRecordsFixture::TearDown();
  }
  int run(int (*screen)()) {
    input->after(20000).close_window();
    return screen();
  }
};

TEST_F(StudyScreensTest, ArchivePatientSavesEveryStudyOfThePatientOrNone) {
  // Rows by date: SMITH (1), JONES (2), SMITH (3); the first is selected.
  // The second SMITH report fails: nothing is saved.  Then both are saved.
  g_fail_report = "3";
  input->after(100).tap(kDirSavePatient).after(300).tap(kYes).after(300).tap(kMbOk);
  input->after(300).tap(kDirSavePatient).after(300).tap(kYes);
  // The archive screen finds both by name; Delete answered NO keeps the
  // file, YES removes it.
  input->after(300).tap(kArcName).after(300).type("smi").after(100).key(platform::vk::kReturn);
  input->after(500).tap(kArcDelete).after(300).tap(kNo);
  input->after(500).at_time([&] { EXPECT_EQ(study_list().count, 2); });
  input->after(100).tap(kArcDelete).after(300).tap(kYes);
  input->after(500).at_time([&] { EXPECT_EQ(study_list().count, 1); });
  input->after(100).tap(kArcExit);
  input->after(20000).close_window();

  study_directory_screen();
  EXPECT_EQ(g_reports, (std::vector<std::string>{"1", "3"}));
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\1"));
  EXPECT_TRUE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_EQ(study_list().count, 3);

  g_fail_report.clear();
  g_reports.clear();
  study_directory_screen();
  EXPECT_EQ(g_reports, (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(root.read("C:\\ARCHIVE\\1").substr(32, 5), "SMITH");
  EXPECT_EQ(root.read("C:\\ARCHIVE\\2").substr(32, 5), "SMITH");
  EXPECT_FALSE(root.exists("C:\\DATA\\3.PDF"));
  ASSERT_EQ(study_list().count, 1);
  EXPECT_EQ(std::string(study_list().rows[0].text).substr(0, 5), "JONES");

  archive_screen();
  EXPECT_EQ(root.exists("C:\\ARCHIVE\\1") + root.exists("C:\\ARCHIVE\\2"), 1);
}

// A save the archive refuses says after its own text which folder (or the
// database) refused it and the system's error, so that a full archive reads
// otherwise than a read-only one; the study stays listed.
TEST_F(StudyScreensTest, ArchivePageOnAFullOrReadOnlyArchiveNamesTheFolderAndTheError) {
  const struct {
    const char* folder;
    int error;
    const char* message;
  } cases[] = {
      {"C:\\ARCHIVE\\", ENOSPC,
       "1.PDF not saved: Error writing the archive file. C:\\ARCHIVE\\: No space left on device"},
      {"C:\\ARCHIVE\\", EROFS, "1.PDF not saved: Error writing the archive file. C:\\ARCHIVE\\: Read-only file system"},
      {"C:\\PROGRAMS\\", EROFS,
       "1.PDF not saved: Error writing the archive database. c:\\programs\\DB: Read-only file system"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    platform::arm_folder_fault(platform::map_path(c.folder), c.error);
    input->after(100).tap(kDirSavePage).after(300).tap(kYes);
    input->after(400).at_time([&] { EXPECT_STREQ(g_message_text, c.message); });
    input->after(100).tap(kMbOk);
    study_directory_screen();
    platform::arm_folder_fault("", 0);
    EXPECT_STREQ(g_message_text, c.message);
    EXPECT_EQ(study_list().count, 3);
    EXPECT_TRUE(root.exists("C:\\DATA\\1.PDF"));
    EXPECT_FALSE(root.exists("C:\\ARCHIVE\\1"));
  }
}

TEST_F(StudyScreensTest, EmptyListDisablesSavingAndTempFilesDeletes) {
  // Temp Files: delete every study (the first NO keeps it).
  input->after(100).tap(kTempDelete).after(300).tap(kNo);
  for (int i = 0; i < 3; ++i) input->after(300).tap(kTempDelete).after(300).tap(kYes);
  input->after(300).tap(kTempExit);
  EXPECT_EQ(run(temp_files_screen), 0);
  EXPECT_EQ(study_list().count, 0);
  EXPECT_FALSE(root.exists("C:\\DATA\\2.PDF"));

  // With nothing listed the save buttons do nothing; Cancel leaves.
  input->after(100).tap(kDirSaveAll).after(300).tap(kDirCancel);
  run(study_directory_screen);
  EXPECT_TRUE(g_reports.empty());
}

TEST_F(StudyScreensTest, ImportedPatientIsListedAtOnce) {
  root.write("C:\\ARCHIVE\\0", "");
  for (int exam : {1, 2}) ASSERT_EQ(archive_temp_study((std::to_string(exam) + ".PDF").c_str()), kSaveDone);
  std::strcpy(hardware_settings().import_control, "C:\\PROGRAMS\\DICOMMWL");
  write_import({"JONES", "B2", "x"});
  char buffer[kWorklistBufferSize] = {};
  ASSERT_EQ(worklist_control(-4, buffer), 0);
  input->after(300).at_time([&] {
    ASSERT_EQ(study_list().count, 1);
    EXPECT_EQ(std::string(study_list().rows[0].text).substr(0, 5), "JONES");
  });
  input->after(100).tap(kArcExit);
  run(archive_screen);
}

TEST_F(StudyScreensTest, UpdateHistoryStartsAStudyOfTheArchivedPatient) {
  // The first SMITH study archived as a report page would be.
  std::string page = root.read("C:\\DATA\\1.PDF");
  page[0] = static_cast<char>(0xFE);
  page[1] = 0x01;
  page.replace(62, 3, "A17");
  root.write("C:\\DATA\\1.PDF", page);
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  const auto menu = encode_study_menu_file({make_submenu_entry("Root", 1, 1), make_study_entry("Lower", 123)});
  root.write(kStudyMenuFile, std::string(menu.begin(), menu.end()));
  // Search by name, Update History, the study menu's first row, then the
  // new study's review screen, left by Escape.
  input->after(300).tap(kArcName).after(300).type("smi").after(100).key(platform::vk::kReturn);
  input->after(500).tap(kArcUpdateHistory).after(500).tap(215);
  // The review screen of the new study holds the archived patient.
  input->after(800).at_time([&] {
    EXPECT_EQ(current_exam_id(), std::string("1"));
    const std::string fresh = root.read("C:\\DATA\\1.PDF");
    ASSERT_GE(fresh.size(), kPageHeaderBytes);
    EXPECT_EQ(fresh.substr(32, 6), std::string("SMITH\0", 6));
    EXPECT_EQ(fresh.substr(62, 4), std::string("A17\0", 4));
  });
  input->after(100).key(platform::vk::kEscape);
  run(archive_screen);
  EXPECT_STRNE(g_message_text, "Error performing update history.");
}

}  // namespace
}  // namespace vaslab
