#include "vaslab/records/worklist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include <cstring>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

using WorklistTest = RecordsFixture;

std::string text(const char* buf) { return buf; }

TEST_F(WorklistTest, MissingSettingsDisableEveryOperation) {
  write_import({"SMITH", "42", "x"});
  char buf[kWorklistBufferSize] = {};
  for (int which = 0; which < 2; ++which) {
    SetUp();
    write_import({"SMITH", "42", "x"});
    (which ? hardware_settings().import_path : hardware_settings().import_control)[0] = 0;
    for (int op : {1, 63, 64, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11})
      EXPECT_EQ(worklist_control(op, buf), -1) << op;
    EXPECT_TRUE(root.exists("C:\\IMPORT\\IMPORT.DAT"));
  }
}

TEST_F(WorklistTest, OutOfRangeOperationsTouchNothing) {
  write_import({"SMITH", "42", "x"});
  root.write("C:\\TEMP\\keep.tmp", "k");
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  char buf[kWorklistBufferSize] = "unchanged";
  EXPECT_EQ(worklist_control(64, buf), -2);
  EXPECT_EQ(worklist_control(1000, buf), -2);
  EXPECT_EQ(worklist_control(-12, buf), -2);
  EXPECT_STREQ(buf, "unchanged");
  EXPECT_TRUE(root.exists("C:\\IMPORT\\IMPORT.DAT"));
  EXPECT_TRUE(root.exists("C:\\TEMP\\keep.tmp"));
}

TEST_F(WorklistTest, PatientLoadedFromAFileTheWorklistProgramWrote) {
  const std::string long_name(40, 'N');
  write_import({long_name, "ID-1234567890123456789012345678901", std::string(30, 'T'), "extra"});
  EXPECT_EQ(worklist_control(-4, nullptr), 0);
  EXPECT_EQ(text(imported_patient_name()), std::string(29, 'N'));
  EXPECT_EQ(text(imported_patient_id()), "ID-12345678901234567890123456");
  EXPECT_EQ(text(imported_patient_third()), std::string(20, 'T'));
  char buf[kWorklistBufferSize];
  EXPECT_EQ(worklist_control(-8, buf), 0);
  EXPECT_EQ(text(buf), std::string(29, 'N'));
  EXPECT_EQ(worklist_control(-9, buf), 0);
  EXPECT_EQ(text(buf), "ID-12345678901234567890123456");
  // A small buffer gets what it holds.
  char small[5];
  EXPECT_EQ(worklist_control(-8, small, sizeof small), 0);
  EXPECT_STREQ(small, "NNNN");
  EXPECT_EQ(worklist_control(-6, nullptr), 0);
  EXPECT_EQ(worklist_control(4, buf), 5);
  EXPECT_STREQ(buf, "extra");
}

TEST_F(WorklistTest, LongFieldComesInPartsOfEighty) {
  std::string field;
  for (int i = 0; i < 200; ++i) field += static_cast<char>('a' + i % 26);
  write_import({"SMITH", "1", "", "", field});
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  char buf[kWorklistBufferSize];
  EXPECT_EQ(worklist_control(5, buf), 80);
  std::string got = buf;
  EXPECT_EQ(worklist_control(-11, buf), 80);
  got += buf;
  EXPECT_EQ(worklist_control(-11, buf), 40);
  got += buf;
  EXPECT_EQ(worklist_control(-11, buf), 0);
  EXPECT_EQ(got, field);
  EXPECT_EQ(worklist_control(4, buf), 0);
  EXPECT_STREQ(buf, "");
}

TEST_F(WorklistTest, BadImportFiles) {
  char buf[kWorklistBufferSize];
  // No file.
  EXPECT_EQ(worklist_control(-4, nullptr), -1);
  EXPECT_EQ(worklist_control(-6, nullptr), -1);
  // Fields need an imported patient.
  write_import({"SMITH", "1", "3", "!full"});
  EXPECT_EQ(worklist_control(1, buf), -1);
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  // A record without its final NUL, and one past the end of the file.
  EXPECT_EQ(worklist_control(4, buf), -2);
  EXPECT_EQ(worklist_control(5, buf), -2);
  EXPECT_EQ(worklist_control(-11, buf), 0);
  // A file short of record 3 forgets the patient.
  write_import({"JONES", "2"});
  EXPECT_EQ(worklist_control(-4, nullptr), -2);
  EXPECT_STREQ(imported_patient_name(), "");
  write_import({"JONES", "!full", "3"});
  EXPECT_EQ(worklist_control(-4, nullptr), -2);
  EXPECT_STREQ(imported_patient_name(), "");
}

TEST_F(WorklistTest, NamesMatchWhole) {
  write_import({"SMITH", "1", "3"});
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  char smithson[kWorklistBufferSize] = "SMITHSON";
  char smit[kWorklistBufferSize] = "SMIT";
  char smith[kWorklistBufferSize] = "SMITH";
  EXPECT_EQ(worklist_control(-3, smithson), -1);
  EXPECT_EQ(worklist_control(-3, smit), -1);
  EXPECT_EQ(worklist_control(-3, smith), 0);
  clear_imported_patient();
  char empty[kWorklistBufferSize] = "";
  EXPECT_EQ(worklist_control(-3, empty), -1);
}

TEST_F(WorklistTest, StaleImportNeverReachesAnotherPatient) {
  // Patient A is in the import folder; study 3 has no exchange files.
  write_import({"ALPHA", "A1", "a"});
  root.write("C:\\IMPORT\\EXPORT.DAT", "alpha export");
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  char study3[kWorklistBufferSize] = "3.PDF";
  EXPECT_EQ(worklist_control(-10, study3), -1);
  EXPECT_FALSE(root.exists("C:\\IMPORT\\IMPORT.DAT"));
  EXPECT_FALSE(root.exists("C:\\IMPORT\\EXPORT.DAT"));
  EXPECT_STREQ(imported_patient_name(), "");
  char buf[kWorklistBufferSize];
  EXPECT_EQ(worklist_control(1, buf), -1);

  // Study 2 carries patient B's files: they become the import folder's.
  write_import({"BRAVO", "B2", "b"}, "C:\\DATA\\2.imp");
  root.write("C:\\DATA\\2.exp", "bravo export");
  char study2[kWorklistBufferSize] = "2.PDF";
  EXPECT_EQ(worklist_control(-10, study2), 0);
  EXPECT_STREQ(imported_patient_name(), "BRAVO");
  EXPECT_EQ(root.read("C:\\IMPORT\\EXPORT.DAT"), "bravo export");

  // A study with an import but no export file leaves no export behind.
  root.write("C:\\IMPORT\\EXPORT.DAT", "stale");
  write_import({"CHARLIE", "C3", "c"}, "C:\\DATA\\4.imp");
  char study4[kWorklistBufferSize] = "4.PDF";
  EXPECT_EQ(worklist_control(-10, study4), 0);
  EXPECT_STREQ(imported_patient_name(), "CHARLIE");
  EXPECT_FALSE(root.exists("C:\\IMPORT\\EXPORT.DAT"));
}

TEST_F(WorklistTest, ExchangeFilesCopiedBesideAStudy) {
  write_import({"DELTA", "D4", "d"});
  root.write("C:\\IMPORT\\EXPORT.DAT", "delta export");
  root.write("C:\\DATA\\5.exp", "an older study's export");
  char imp[kWorklistBufferSize] = "C:\\DATA\\5.imp";
  char exp[kWorklistBufferSize] = "C:\\DATA\\5.exp";
  EXPECT_EQ(worklist_control(-1, imp), 0);
  EXPECT_EQ(worklist_control(-2, exp), 0);
  EXPECT_EQ(root.read("C:\\DATA\\5.imp"), root.read("C:\\IMPORT\\IMPORT.DAT"));
  EXPECT_EQ(root.read("C:\\DATA\\5.exp"), "delta export");
  // Without an export file the copy fails and no older copy is left.
  std::remove(platform::map_path("C:\\IMPORT\\EXPORT.DAT").c_str());
  EXPECT_EQ(worklist_control(-2, exp), -1);
  EXPECT_FALSE(root.exists("C:\\DATA\\5.exp"));
}

TEST_F(WorklistTest, EmptyingTheImportFolderForgetsThePatient) {
  write_import({"ECHO", "E5", "e"});
  root.write("C:\\IMPORT\\EXPORT.DAT", "x");
  root.write("C:\\IMPORT\\SUB\\inner.txt", "folders stay");
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  EXPECT_EQ(worklist_control(-7, nullptr), 0);
  EXPECT_FALSE(root.exists("C:\\IMPORT\\IMPORT.DAT"));
  EXPECT_FALSE(root.exists("C:\\IMPORT\\EXPORT.DAT"));
  EXPECT_TRUE(root.exists("C:\\IMPORT\\SUB\\inner.txt"));
  EXPECT_STREQ(imported_patient_name(), "");
  EXPECT_EQ(worklist_control(-6, nullptr), -1);
}

// An import path that names the system's own folders, a drive's root or a
// place outside the drives is never emptied, whatever the settings say.
TEST_F(WorklistTest, PurgeLeavesTheDrivesAndTheProgramsOwnFolders) {
  auto& hw = hardware_settings();
  std::strcpy(hw.archive_path_1, "C:\\ARCHIVE\\");
  std::strcpy(hw.data_directory, "D:\\ZUDIDUDA\\");
  const std::vector<std::string> files = {"C:\\STUDIES\\setup.hdw", "C:\\STUDIES\\romv5.bin", "C:\\top.txt",
                                          "C:\\PROGRAMS\\DB", "C:\\ARCHIVE\\1.zvt", "D:\\ZUDIDUDA\\1.PDF",
                                          "D:\\notes.txt"};
  for (const auto& f : files) root.write(f, "x");
  const std::string outside = root.path() + "-outside";
  ASSERT_TRUE(platform::make_dirs(outside));
  ASSERT_EQ(::symlink(outside.c_str(), (root.path() + "/c/link").c_str()), 0);
  std::FILE* f = std::fopen((outside + "/keep").c_str(), "w");
  ASSERT_TRUE(f);
  std::fclose(f);
  std::vector<std::string> notes;
  platform::set_debug_sink([&](const std::string& t) { notes.push_back(t); });

  for (const char* path : {"C:\\STUDIES\\", "c:\\studies", "C:\\", "C:", "D:\\", "C:\\PROGRAMS\\..\\STUDIES\\",
                           "C:\\ARCHIVE\\", "C:\\LINK\\", "/"}) {
    std::snprintf(hw.import_path, sizeof hw.import_path, "%s", path);
    EXPECT_EQ(worklist_control(-7, nullptr), 0);
    for (const auto& file : files) EXPECT_TRUE(root.exists(file)) << file << " after " << path;
    EXPECT_EQ(::access((outside + "/keep").c_str(), F_OK), 0) << path;
  }
  std::snprintf(hw.import_path, sizeof hw.import_path, "%s/", outside.c_str());
  EXPECT_EQ(worklist_control(-7, nullptr), 0);
  EXPECT_EQ(::access((outside + "/keep").c_str(), F_OK), 0) << "an absolute path outside the root";
  platform::set_debug_sink({});
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes[0].find("C:\\STUDIES\\"), std::string::npos) << notes[0];

  // The work folders themselves are still emptied.
  purge_work_dirs();
  EXPECT_TRUE(root.exists("C:\\STUDIES\\setup.hdw"));
  testsupport::remove_tree(outside);
}

std::vector<std::string> g_screen_args;
int screen_recorder(int argc, char* argv[]) {
  g_screen_args.assign(argv, argv + argc);
  return 1;
}

TEST_F(WorklistTest, ImportScreenRunsOnlyForItsOwnPathWord) {
  auto& hw = hardware_settings();
  std::strcpy(hw.import_control, "c:\\programs\\dicommwl");
  hw.import_code = 130;
  std::strcpy(hw.import_text, "Accession");
  set_module("C:\\PROGRAMS\\DICOMMWL", screen_recorder);
  root.write("C:\\TEMP\\old.scr", "x");
  root.write("C:\\DATA\\1.PDF", "x");
  g_screen_args.clear();
  EXPECT_EQ(worklist_control(-5, nullptr), 0);
  EXPECT_EQ(g_screen_args, (std::vector<std::string>{"c:\\programs\\dicommwl", "C:\\IMPORT\\",
                                                      "130", "\"Accession\""}));
  EXPECT_FALSE(root.exists("C:\\TEMP\\old.scr"));
  EXPECT_FALSE(root.exists("C:\\DATA\\1.PDF"));

  g_screen_args.clear();
  root.write("C:\\TEMP\\old.scr", "x");
  std::strcpy(hw.import_control, "C:\\PROGRAMS\\OTHERMWL");
  EXPECT_EQ(worklist_control(-5, nullptr), -1);
  EXPECT_TRUE(g_screen_args.empty());
  EXPECT_FALSE(root.exists("C:\\TEMP\\old.scr"));
  set_module("C:\\PROGRAMS\\DICOMMWL", nullptr);
}

}  // namespace
}  // namespace vaslab
