#include "vaslab/backup/backup_screen.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "platform/find.h"
#include "vaslab/backup/backup_zip.h"
#include "vaslab/backup/tests/backup_screen_fixture.h"
#include "vaslab/core/tests/screenshot_check.h"

using namespace vaslab;
using backup_test::check_with_readers;
using backup_test::entry_names;
using backup_test::quote;
using backup_test::run;

namespace {

constexpr int kExit = 1, kStart = 100, kRight = 102, kLeft = 101, kNone = 103, kErase = 104;

std::int64_t g_free_d = 1400000;
std::int64_t g_free_c = 4000000000LL;
std::int64_t free_source(char drive) { return drive == 'C' ? g_free_c : g_free_d; }

struct BackupScreen : BackupScreenFixture {
  std::vector<std::string> disks;  // the backup files taken out, in order

  void SetUp() override {
    BackupScreenFixture::SetUp();
    g_free_d = 1400000;
    g_free_c = 4000000000LL;
    set_backup_free_space_source(free_source);
    std::filesystem::create_directories(root.path() + "/d");
    platform::map_path_create_dirs("C:\\HOLD\\");
  }
  // A diskette change on drive D: the backup files go elsewhere.
  void swap_disk() {
    for (const auto& f : platform::list_files("D:\\ZVT_*.ZIP")) {
      const std::string to = platform::map_path("C:\\HOLD\\") + std::to_string(disks.size() + 1) + "_" + f.name;
      std::filesystem::rename(platform::map_path("D:\\" + f.name), to);
      disks.push_back(to);
    }
  }
  // Every disk asked for is swapped in and continued; the end is left by Exit.
  void continue_to_the_end() {
    watch([this](const std::string& note) {
      if (note.find("Success. Please insert") != std::string::npos) {
        swap_disk();
        in->from_now().after(30).tap(kStart);
      } else if (note.find("Backup Completed") != std::string::npos ||
                 note.find("Backup completed, but") != std::string::npos) {
        in->from_now().after(30).tap(kExit);
        return false;
      }
      return true;
    });
  }
  // What the taken-out backups hold: entry name to content, with a check
  // that no study is stored twice and that every archive is sound.
  std::map<std::string, std::string> backed_up() {
    std::map<std::string, std::string> all;
    for (const auto& d : disks) {
      EXPECT_EQ(check_with_readers(d), "") << d;
      std::string out;
      run("cd " + quote(root.path()) + " && rm -rf x && mkdir x && cd x && unzip -q " + quote(d), &out);
      for (const auto& e : std::filesystem::directory_iterator(root.path() + "/x")) {
        const std::string name = e.path().filename();
        EXPECT_EQ(all.count(name), 0u) << name << " stored twice";
        all[name] = backup_test::read_file(e.path());
      }
    }
    return all;
  }
};

}  // namespace

// Drive D with no preparation: the archive goes onto as many "diskettes" as
// its size needs, each archive sound, no study split or repeated, the
// numbers without a study left out.
TEST_F(BackupScreen, WholeArchiveOntoNumberedDisks) {
  const auto files = archive_studies(40, 90000);
  for (int n : {5, 17, 18, 40}) delete_study(n);
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  continue_to_the_end();
  EXPECT_EQ(backup_screen(), 0);
  swap_disk();
  EXPECT_TRUE(said("Backup Completed Successfully."));
  ASSERT_GE(disks.size(), 3u);
  for (std::size_t i = 0; i < disks.size(); ++i)
    EXPECT_NE(disks[i].find("ZVT_" + std::string(i < 9 ? "000" : "00") + std::to_string(i + 1)), std::string::npos);
  std::map<std::string, std::string> want;
  for (int n = 1; n <= 40; ++n)
    if (n != 5 && n != 17 && n != 18 && n != 40) want[std::to_string(n)] = files[n];
  EXPECT_EQ(backed_up(), want);
  for (const auto& d : disks) EXPECT_LE(std::filesystem::file_size(d), 1400000u);
}

// The screen idle, copying with its progress, and with a message, as the
// operator sees them.
TEST_F(BackupScreen, ScreenshotsOfItsStates) {
  archive_studies(8, 150000);
  in->after(50);
  in->at_time([] { check_screenshot("backup_idle", "vaslab/backup/tests/expected"); });
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] {
    in->from_now().after(50).at_time([] { check_screenshot("backup_message", "vaslab/backup/tests/expected"); });
    in->after(30).tap(kStart).after(6000).at_time([] {
      check_screenshot("backup_copying", "vaslab/backup/tests/expected");
    });
  });
  continue_to_the_end();
  EXPECT_EQ(backup_screen(), 0);
}

// With nothing archived the first disk gets an empty archive and the backup
// is complete.
TEST_F(BackupScreen, EmptyArchiveGivesAnEmptyZip) {
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  continue_to_the_end();
  EXPECT_EQ(backup_screen(), 0);
  EXPECT_TRUE(said("Backup Completed Successfully."));
  EXPECT_EQ(std::filesystem::file_size(platform::map_path("D:\\ZVT_0001.ZIP")), 22u);
}

// A study larger than an empty disk is left out, logged and named at the
// end; the studies around it are backed up.
TEST_F(BackupScreen, StudyTooLargeForAnyDiskIsSkipped) {
  g_free_d = 500000;
  archive_studies(3, 50000);
  root.write("C:\\ARCHIVE\\2", backup_test::noise(600000, 2));
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  continue_to_the_end();
  EXPECT_EQ(backup_screen(), 0);
  swap_disk();
  EXPECT_TRUE(said("Backup completed, but some studies\nwere skipped: see c:\\temp\\backup.log."));
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(entry_names(disks[0]), "1\n");
  EXPECT_EQ(entry_names(disks[1]), "3\n");
  EXPECT_NE(root.read("C:\\TEMP\\backup.log").find("Study 2 does not fit on an empty diskette; not backed up.\r\n"),
            std::string::npos);
}

// NO keeps a disk's backup and asks for another disk of the same number;
// Cancel while building or copying asks again with the same number, and
// the partial file left by a cancelled copy is asked about before it goes.
TEST_F(BackupScreen, OverwriteQuestionAndCancels) {
  archive_studies(30, 60000);
  root.write("D:\\ZVT_0001.ZIP", "an older backup");
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  when("A backup already exists on this disk.", [this] { in->from_now().after(30).tap(101); });
  when("Please insert a diskette and press", [this] {
    EXPECT_EQ(root.read("D:\\ZVT_0001.ZIP"), "an older backup");
    (void)platform::file_delete("D:\\ZVT_0001.ZIP");
    in->from_now().after(30).tap(kStart).after(150).tap(kExit);  // while building
  });
  when("Build Cancelled.", [this] { in->from_now().after(30).tap(kStart).after(3000).tap(kExit); });  // copying
  when("Build Cancelled.", [this] { in->from_now().after(30).tap(kStart); });
  when("A backup already exists on this disk.", [this] { in->from_now().after(30).tap(100); });
  continue_to_the_end();
  EXPECT_EQ(backup_screen(), 0);
  swap_disk();
  std::set<std::string> names;
  for (const auto& d : disks) {
    std::string list = entry_names(d);
    for (std::size_t at = 0, nl; (nl = list.find('\n', at)) != std::string::npos; at = nl + 1)
      EXPECT_TRUE(names.insert(list.substr(at, nl - at)).second);
  }
  EXPECT_EQ(names.size(), 30u);
  EXPECT_NE(disks[0].find("ZVT_0001"), std::string::npos);
}

// Stepping over C: from D gives B, which offers the diskette options (and
// there is no drive B here); from A left gives Z.
TEST_F(BackupScreen, DriveStepsSkipC) {
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kLeft).after(80).tap(kErase).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  when("Invalid drive error.", [this] {
    in->from_now().after(30).tap(kExit).after(80).tap(kLeft).after(80).tap(kLeft).after(80).tap(kLeft).after(80).tap(kStart);
  });
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  when("Insufficient disk space.", [this] { in->from_now().after(30).tap(kExit).after(80).tap(kExit); });
  g_free_d = 100;
  EXPECT_EQ(backup_screen(), 0);
  EXPECT_TRUE(said("Invalid drive error."));
  EXPECT_TRUE(said("Insufficient disk space."));  // drive Z, no preparation
}

// C:\TEMP full, then read-only, then too little room on C: for the work
// file: the message keeps its first line and names the work file and the
// system error where it asked for another diskette, which would not help;
// no message of the run asks for one.
TEST_F(BackupScreen, WorkFolderFaultsAreNamed) {
  archive_studies(3, 20000);
  const struct {
    int error;  // of C:\TEMP
    std::int64_t free_c;
    const char* message;
    int exits;  // from the state the failure leaves
  } cases[] = {
      {ENOSPC, 4000000000LL, "AddZip error.\nC:\\TEMP\\1.ZIP: No space left on device", 2},
      {EROFS, 4000000000LL, "Fatal error: Failed to build ZIP.\nC:\\TEMP\\1.ZIP: Read-only file system", 1},
      {0, 10300000, "Insufficient disk space on drive C:\nFree space on C:, then press 'Continue'.", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    g_free_c = c.free_c;
    in = std::make_unique<testsupport::ScriptedInput>(clock);
    notes.clear();
    seen = 0;
    plan.clear();
    in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
    when("Please insert a diskette and press", [this, &c] {
      if (c.error) platform::arm_folder_fault(platform::map_path("C:\\TEMP"), c.error);
      in->from_now().after(30).tap(kStart);
    });
    when(c.message, [this, &c] {
      if (c.error == ENOSPC) check_screenshot("backup_work_folder_full", "vaslab/backup/tests/expected");
      in->from_now().after(30).tap(kExit);
      if (c.exits == 2) in->after(100).tap(kExit);
    });
    EXPECT_EQ(backup_screen(), 0);
    platform::arm_folder_fault("", 0);
    EXPECT_TRUE(said(std::string("backup: ") + c.message));
    for (const auto& note : notes) EXPECT_EQ(note.find("another dis"), std::string::npos) << note;
  }
}
