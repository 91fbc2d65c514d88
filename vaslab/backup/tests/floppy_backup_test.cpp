#include "vaslab/backup/floppy_backup.h"

#include <gtest/gtest.h>

#include <string>

#include "vaslab/backup/tests/backup_screen_fixture.h"
#include "vaslab/core/tests/screenshot_check.h"
#include "vaslab/core/toolkit/message_box.h"
#include "ziplib/zip_messages.h"

using namespace vaslab;

namespace {

std::string g_calls;
int g_fail_at = 0;  // 1-4: that start step fails
int step(int n, const char* name) {
  g_calls += name;
  g_calls += ' ';
  return g_fail_at == n ? 0 : 1;
}
const ZipLibraryCalls kRecorded{
    [](void*) { return step(1, "unzipInit"); },   [](void*) { return step(2, "zipInit"); },
    [] { return step(3, "unzipAttach"); },        [] { return step(4, "zipAttach"); },
    [] { return step(0, "zipDetach"); },          [] { return step(0, "unzipDetach"); },
    [] { return step(0, "zipTerm"); },            [] { return step(0, "unzipTerm"); },
};

using FloppyMenu = BackupScreenFixture;

}  // namespace

// A failure at each start step undoes exactly what was done, in reverse.
TEST(ZipLibrary, StartUnwindsEachFailureExactly) {
  set_zip_library_calls(&kRecorded);
  const char* const want[] = {
      "unzipInit unzipTerm ",
      "unzipInit zipInit zipTerm unzipTerm ",
      "unzipInit zipInit unzipAttach unzipDetach zipTerm unzipTerm ",
      "unzipInit zipInit unzipAttach zipAttach zipDetach unzipDetach zipTerm unzipTerm ",
  };
  for (g_fail_at = 1; g_fail_at <= 4; ++g_fail_at) {
    g_calls.clear();
    EXPECT_EQ(zip_library_start(), 0);
    EXPECT_EQ(g_calls, want[g_fail_at - 1]) << g_fail_at;
  }
  g_fail_at = 0;
  g_calls.clear();
  EXPECT_EQ(zip_library_start(), 1);
  zip_library_stop();
  EXPECT_EQ(g_calls, "unzipInit zipInit unzipAttach zipAttach zipDetach unzipDetach zipTerm unzipTerm ");
  set_zip_library_calls(nullptr);
}

// YES reaches the screens; an archive that cannot be read is reported.
TEST_F(FloppyMenu, ItemsReachTheirWork) {
  std::remove(platform::map_path(kArchiveDbPath).c_str());
  in->after(20).tap(100).after(80).tap(100);
  when("backup: Archive DB missing.", [this] { in->from_now().after(50).tap(1).after(300).tap(103).after(80).tap(100); });
  when("Problem reading ZIP file", [this] { in->from_now().after(50).tap(kMbOk); });  // the library's own
  when("Restore Config Count Failure", [this] { in->from_now().after(50).tap(kMbOk).after(100).tap(104); });
  floppy_backup_menu();
  EXPECT_TRUE(said("backup: Archive DB missing."));
  EXPECT_TRUE(said("message box [Backup Error]: Restore Config Count Failure"));
}

// The library's overwrite question during a configuration restore, with
// the longest name a study file has: the whole question shows above its
// five answers, and Yes replaces the file.
TEST_F(FloppyMenu, OverwriteQuestionShowsItsWholeText) {
  root.write("C:\\STUDIES\\00000101.sty", "old");
  const std::string zip = platform::map_path_create_dirs("C:\\TEMP\\q7stybk.zip");
  ASSERT_EQ(backup_test::run("python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], \"w\")"
                             ".writestr(\"00000101.sty\", \"new\")' " +
                             backup_test::quote(zip)),
            0);
  ASSERT_EQ(zip_library_start(), 1);
  when("zip question", [this] {
    check_screenshot("zip_overwrite_question", "vaslab/backup/tests/expected");
    in->from_now().after(30).tap(ziplib::IDYES);
  });
  unzip_count_then_extract("c:\\temp\\q7stybk.zip", "c:\\studies\\", "Count Failure", "Restore Failure");
  zip_library_stop();
  EXPECT_TRUE(said("exists, do you want to overwrite it?"));
  EXPECT_EQ(root.read("C:\\STUDIES\\00000101.sty"), "new");
}
