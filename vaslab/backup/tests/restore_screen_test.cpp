#include "vaslab/backup/restore_screen.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/file_io.h"
#include "platform/find.h"
#include "vaslab/backup/backup_zip.h"
#include "vaslab/backup/tests/backup_screen_fixture.h"
#include "vaslab/core/tests/screenshot_check.h"
#include "vaslab/core/toolkit/message_box.h"

using namespace vaslab;
using backup_test::quote;
using backup_test::run;

namespace {

constexpr int kExit = 1, kStart = 100, kRight = 102, kYes = 100, kNo = 101, kOk = 100;
constexpr int kOverwrite = 101, kAppend = 102, kSkip = 103, kAlways = 104;

std::int64_t plenty(char) { return 4000000000LL; }

struct RestoreScreen : BackupScreenFixture {
  std::vector<std::string> files;  // archived studies by number
  std::vector<std::string> disks;  // backup files, one a diskette

  void SetUp() override {
    BackupScreenFixture::SetUp();
    set_backup_free_space_source(plenty);
    restore_reset_reindex_notice();
    std::filesystem::create_directories(root.path() + "/d");
    platform::map_path_create_dirs("C:\\HOLD\\");
  }
  // Backup files as the backup screen makes them, `per_disk` studies each.
  void make_backup(int count, int per_disk) {
    files = archive_studies(count, 6000);
    for (int first = 1, disk = 1; first <= count; first += per_disk, ++disk) {
      char name[40];
      std::snprintf(name, sizeof name, "C:\\HOLD\\ZVT_%04d.ZIP", disk);
      ASSERT_EQ(backup_zip_open(name, 1), 0);
      std::string path;
      for (int n = first; n < first + per_disk && n <= count; ++n) ASSERT_EQ(backup_zip_add_file(n, path), 0);
      ASSERT_EQ(backup_zip_close(), 0);
      disks.push_back(name);
    }
  }
  void forget_archive() {
    for (std::size_t n = 1; n < files.size(); ++n) (void)platform::file_delete("C:\\ARCHIVE\\" + std::to_string(n));
  }
  // Puts backup file `i` (0-based) alone on drive D.
  void insert(std::size_t i) {
    for (const auto& f : platform::list_files("D:\\*")) (void)platform::file_delete("D:\\" + f.name);
    const std::string name = disks[i].substr(disks[i].rfind('\\') + 1);
    // Not through the file layer: the diskette changing hands is no write of
    // the restore's.
    std::filesystem::copy_file(platform::map_path(disks[i]), platform::map_path("D:\\" + name),
                               std::filesystem::copy_options::overwrite_existing);
  }
  // Drive D, Start, then each diskette in turn; the notice of the deleted
  // database answered; Exit at the end.
  // A conflict is answered with `on_conflict` when given.
  void restore_in_order(std::vector<std::size_t> order, int on_conflict = 0) {
    in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
    auto next = std::make_shared<std::size_t>(0);
    watch([this, order, next, on_conflict](const std::string& note) {
      if (on_conflict && note.find("Archive file already exists") != std::string::npos) {
        in->from_now().after(30).tap(on_conflict);
      } else if (note.find("reindex notice") != std::string::npos) {
        in->from_now().after(30).tap(kOk);
      } else if (note.find("Please insert a diskette and press") != std::string::npos ||
                 note.find("Disk completed successfully.") != std::string::npos) {
        if (*next == order.size()) {
          in->from_now().after(30).tap(kExit).after(100).tap(kExit);
          return false;
        }
        insert(order[(*next)++]);
        in->from_now().after(30).tap(kStart);
      }
      return true;
    });
  }
  int count_of(const std::string& text) const {
    int n = 0;
    for (const auto& note : notes) n += note.find(text) != std::string::npos;
    return n;
  }
};

}  // namespace

// Disk by disk the archive comes back byte for byte; the database and the
// counter go, and the reindex notice is shown once.
TEST_F(RestoreScreen, DisksBringBackEveryStudy) {
  make_backup(9, 4);
  ASSERT_EQ(disks.size(), 3u);
  forget_archive();
  restore_in_order({0, 1, 2});
  EXPECT_EQ(restore_screen(), 0);
  for (int n = 1; n <= 9; ++n) EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + std::to_string(n)) == files[n]) << n;
  EXPECT_FALSE(root.exists(kArchiveDbPath));
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\0"));
  EXPECT_EQ(count_of("reindex notice"), 1);
  EXPECT_EQ(count_of("Disk completed successfully."), 3);
  EXPECT_TRUE(platform::list_files("C:\\TEMP\\*.*").empty() ||
              platform::list_files("C:\\TEMP\\*.*")[0].attributes & platform::kAttrDirectory);
}

// "Always" with Skip keeps the archive's own files for the rest of the
// diskette; the next diskette asks again, where Append numbers on from the
// last number known at the start, across diskettes.
TEST_F(RestoreScreen, ConflictsSkippedAlwaysThenAppended) {
  make_backup(6, 3);
  for (int n = 1; n <= 6; ++n) root.write("C:\\ARCHIVE\\" + std::to_string(n), "kept " + std::to_string(n));
  // Numbers 1-6 are taken: the last is 6, appends take 7 on.
  restore_in_order({0, 1});
  when("Archive file already exists: C:\\ARCHIVE\\1", [this] {
    in->from_now().after(30).tap(kAlways).after(80).tap(kSkip);
  });
  when("Archive file already exists: C:\\ARCHIVE\\4", [this] {
    in->from_now().after(30).tap(kAlways).after(80).tap(kAppend);
  });
  EXPECT_EQ(restore_screen(), 0);
  EXPECT_EQ(count_of("Archive file already exists"), 2);
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(root.read("C:\\ARCHIVE\\" + std::to_string(n)), "kept " + std::to_string(n));
  for (int n = 4; n <= 6; ++n) EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + std::to_string(n + 3)) == files[n]) << n;
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\10"));
}

// Disk 3 offered where disk 1 is expected: YES takes it, and disk 2 is
// still expected after it.
TEST_F(RestoreScreen, OtherDiskNumberTakenOnYes) {
  make_backup(6, 2);
  forget_archive();
  when("Incorrect disk number.", [this] { in->from_now().after(30).tap(kYes); });
  restore_in_order({2, 1});
  EXPECT_EQ(restore_screen(), 0);
  EXPECT_EQ(count_of("Incorrect disk number."), 1);
  for (int n : {3, 4, 5, 6}) EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + std::to_string(n)) == files[n]) << n;
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\1"));
}

// An entry whose CRC does not match ends the diskette with "Extract Error."; a file that is
// no archive at all is asked for again; neither reaches the archive.
TEST_F(RestoreScreen, DamagedBackupsAreRefused) {
  make_backup(2, 2);
  forget_archive();
  std::string zip = root.read(disks[0]);
  const std::size_t central = zip.find(std::string("PK\1\2", 4));
  ASSERT_NE(central, std::string::npos);
  zip[central + 16] ^= 0x55;  // the first entry's CRC: its data no longer matches
  root.write(disks[0], zip);
  root.write("C:\\HOLD2\\ZVT_0001.ZIP", "not an archive");
  disks.push_back("C:\\HOLD2\\ZVT_0001.ZIP");
  restore_in_order({0});
  when("Extract Error.", [this] { in->from_now().after(30).tap(kExit).after(100).tap(kExit); });
  EXPECT_EQ(restore_screen(), 0);
  EXPECT_EQ(count_of("restore status: Extract Error."), 1);
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\1"));

  notes.clear();
  seen = 0;
  watcher = nullptr;
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] {
    insert(1);
    in->from_now().after(30).tap(kStart);
  });
  when("Initialization error.", [this] { in->from_now().after(30).tap(kExit).after(100).tap(kExit); });
  EXPECT_EQ(restore_screen(), 0);
  EXPECT_TRUE(said("Initialization error."));
}

// An older single-file backup is restored in one call through the ZIP
// library, into the archive under the bare names.
TEST_F(RestoreScreen, OlderSingleFileBackup) {
  root.write("C:\\SRC\\sub\\12", "twelve");
  root.write("C:\\SRC\\13", backup_test::noise(30000, 13));
  ASSERT_EQ(run("cd " + quote(root.path() + "/c/SRC") + " && zip -q -r " + quote(root.path() + "/d/q7arcbk.zip") +
                " sub 13"),
            0);
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  when("reindex notice", [this] { in->from_now().after(30).tap(kOk).after(500).tap(kExit); });
  EXPECT_EQ(restore_screen(), 0);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\12"), "twelve");
  EXPECT_TRUE(root.read("C:\\ARCHIVE\\13") == backup_test::noise(30000, 13));
  EXPECT_FALSE(said("Backup Error"));
  // The screen says what it did, so that nobody runs it again.
  EXPECT_TRUE(said("restore: Archive restored from D:\\q7arcbk.zip.\nPlease reindex via the diagnostics menu."));
}

// A damaged older backup: the box tells the failure, and the screen says
// that nothing was restored rather than look as if nothing happened.
TEST_F(RestoreScreen, DamagedOlderSingleFileBackupSaysSo) {
  root.write("D:\\q7arcbk.zip", "PK\x03\x04 this is no archive");
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  when("reindex notice", [this] { in->from_now().after(30).tap(kOk); });
  // The library's own box, then the screen's; both answered OK.
  watch([this](const std::string& note) {
    if (note.find("message box [") == 0) in->from_now().after(30).tap(kMbOk);
    if (note.find("restore: Not restored") == 0) in->from_now().after(300).tap(kExit);
    return true;
  });
  EXPECT_EQ(restore_screen(), 0);
  EXPECT_TRUE(said("message box [Backup Error]: Restore Archive Count Failure"));
  EXPECT_TRUE(said("restore: Not restored: D:\\q7arcbk.zip."));
}

// A diskette made by another archiver: the counter "0", a link, a zero
// bomb, a file without a study's page mark and a study under a folder name
// sit among two real studies.  Only the real studies come back; the rest is
// logged, and the counter the next save reads is not replaced.
TEST_F(RestoreScreen, ForeignEntriesAreNotRestored) {
  files = archive_studies(2, 6000);
  forget_archive();
  root.write("C:\\HOLD\\1", files[1]);
  root.write("C:\\HOLD\\2", files[2]);
  const std::string zip = root.path() + "/d/ZVT_0001.ZIP";
  ASSERT_EQ(run("cd " + quote(root.path() + "/c/HOLD") + " && python3 -c '\n"
                "import sys, zipfile\n"
                "z = zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED)\n"
                "z.write(\"1\")\n"
                "z.writestr(\"0\", \"65534\")\n"
                "link = zipfile.ZipInfo(\"3\")\n"
                "link.create_system = 3\n"
                "link.external_attr = 0o120777 << 16\n"
                "z.writestr(link, \"/etc/passwd\")\n"
                "z.writestr(\"9\", bytes(200 * 1024 * 1024))\n"
                "z.writestr(\"5\", bytes(6000))\n"
                "z.writestr(\"DB\", open(\"1\", \"rb\").read())\n"
                "z.writestr(\"x/0012\", open(\"1\", \"rb\").read())\n"
                "z.write(\"2\", \"sub/2\")\n"
                "z.close()' " +
                quote(zip)),
            0);
  ASSERT_EQ(run("unzip -tq " + quote(zip)), 0);
  std::string names;
  for (const auto& f : platform::list_files("D:\\*")) names += f.name + " ";
  ASSERT_EQ(names, "ZVT_0001.ZIP ");
  root.write("C:\\ARCHIVE\\0", "2");
  in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
  when("Please insert a diskette and press", [this] { in->from_now().after(30).tap(kStart); });
  tap_when("reindex notice", kOk);
  when("Disk completed successfully.", [this] { in->from_now().after(30).tap(kExit).after(100).tap(kExit); });
  EXPECT_EQ(restore_screen(), 0);

  std::string archived;
  for (const auto& f : platform::list_files("C:\\ARCHIVE\\*")) archived += f.name + " ";
  EXPECT_EQ(archived, "1 2 ");
  EXPECT_TRUE(root.read("C:\\ARCHIVE\\1") == files[1]);
  EXPECT_TRUE(root.read("C:\\ARCHIVE\\2") == files[2]);
  const std::string log = root.read("C:\\TEMP\\LOG\\restore.log");
  for (const char* skipped : {"'0'", "'3'", "'9'", "'5'", "'DB'", "'0012'"})
    EXPECT_NE(log.find(skipped), std::string::npos) << skipped << " not logged in:\n" << log;
  EXPECT_EQ(count_of("Archive file already exists"), 0);
}

// The archive refusing a file (full, then read-only) stops the diskette with
// what happened, never a conflict with a file that is not there; the same
// diskette later brings the rest, and nothing was lost on the way.
TEST_F(RestoreScreen, ArchiveThatCannotBeWrittenStopsTheDisk) {
  make_backup(3, 3);
  forget_archive();
  // The extraction writes each study to C:\TEMP a piece at a time.
  int extract_writes = 0;
  for (int n = 1; n <= 3; ++n) extract_writes += static_cast<int>((files[n].size() + 4095) / 4096);
  for (const int error : {ENOSPC, EROFS}) {
    SCOPED_TRACE(error);
    forget_archive();
    notes.clear();
    seen = 0;
    restore_reset_reindex_notice();
    in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
    when("Please insert a diskette and press", [this, error, extract_writes] {
      insert(0);
      // After the extraction the first study goes in (its write, flush
      // and rename); the second's write fails.
      platform::arm_write_fault(extract_writes + 4, error);
      in->from_now().after(30).tap(kStart);
    });
    tap_when("reindex notice", kOk);
    const std::string said_text = error == ENOSPC ? "C:\\ARCHIVE\\: No space left on device"
                                                  : "C:\\ARCHIVE\\: Read-only file system";
    when(said_text, [this, error] {
      EXPECT_TRUE(said(error == ENOSPC ? "Free space, insert this disk again." : "Fix it, then insert this disk again."));
      if (error == ENOSPC) check_screenshot("restore_disk_full", "vaslab/backup/tests/expected");
      platform::disarm_write_fault();
      insert(0);
      in->from_now().after(30).tap(kStart);
    });
    tap_when("Archive file already exists: C:\\ARCHIVE\\1", kSkip);
    when("Disk completed successfully.", [this] { in->from_now().after(30).tap(kExit).after(100).tap(kExit); });
    EXPECT_EQ(restore_screen(), 0);
    platform::disarm_write_fault();
    EXPECT_EQ(count_of("Archive file already exists: C:\\ARCHIVE\\2"), 0);
    EXPECT_EQ(count_of("Incorrect disk number."), 0);  // disk 1 was still the one asked for
    EXPECT_EQ(count_of("another diskette"), 0);
    for (int n = 1; n <= 3; ++n) EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + std::to_string(n)) == files[n]) << n;
    EXPECT_FALSE(root.exists("C:\\ARCHIVE\\4"));
    EXPECT_NE(root.read("C:\\TEMP\\LOG\\restore.log").find(said_text + ", not restored: 'C:\\TEMP\\2'"),
              std::string::npos);
  }
}

// A restore killed at any write, flush or rename of its moves, then run
// again after the next start's sweep, skipping what came back already:
// every study is there once, byte for byte, nothing else is, and no
// database or counter of before the restore is left to name the files.
TEST_F(RestoreScreen, KilledAnywhereThenRestoredAgain) {
  make_backup(3, 2);
  const std::string old_db = root.read(kArchiveDbPath);
  ASSERT_FALSE(old_db.empty());
  auto fresh_script = [this] {
    in = std::make_unique<testsupport::ScriptedInput>(clock);
    notes.clear();
    seen = 0;
    plan.clear();
    watcher = nullptr;
    restore_reset_reindex_notice();
  };
  auto archived = [] {
    std::string names;
    for (const auto& f : platform::list_files("C:\\ARCHIVE\\*")) names += f.name + " ";
    return names;
  };
  for (int nth = 1;; ++nth) {
    SCOPED_TRACE("killed at step " + std::to_string(nth));
    forget_archive();
    root.write(kArchiveDbPath, old_db);
    root.write("C:\\ARCHIVE\\0", "3");
    fresh_script();
    restore_in_order({0, 1});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::arm_write_fault(nth, 0);
      (void)restore_screen();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const bool killed = WEXITSTATUS(status) == platform::kFaultExitCode;
    ASSERT_TRUE(killed || WEXITSTATUS(status) == 0);

    platform::remove_stale_temporaries(root.path());
    bool any = false;
    for (const auto& f : platform::list_files("C:\\ARCHIVE\\*")) {
      const int n = std::atoi(f.name.c_str());
      ASSERT_TRUE(n >= 1 && n <= 3 && f.name == std::to_string(n)) << f.name;
      EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + f.name) == files[n]) << f.name << " is cut short";
      any = true;
    }
    if (any) {
      EXPECT_FALSE(root.exists(kArchiveDbPath)) << "the old database would name the restored files";
      EXPECT_FALSE(root.exists("C:\\ARCHIVE\\0"));
    }

    fresh_script();
    restore_in_order({0, 1}, kSkip);
    EXPECT_EQ(restore_screen(), 0);
    EXPECT_EQ(archived(), "1 2 3 ");
    for (int n = 1; n <= 3; ++n) EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + std::to_string(n)) == files[n]) << n;
    EXPECT_FALSE(root.exists(kArchiveDbPath));
    if (!killed) {
      EXPECT_EQ(nth, 17);  // every write, flush and rename of the three studies
      break;
    }
  }
}

TEST(MoveFile, KeepsOrReplacesWhole) {
  testsupport::TempRoot root;
  root.write("C:\\TEMP\\a", "new");
  root.write("C:\\ARCHIVE\\a", "old");
  EXPECT_EQ(move_file("C:\\TEMP\\a", "C:\\ARCHIVE\\a", false), 1);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\a"), "old");
  EXPECT_TRUE(root.exists("C:\\TEMP\\a"));
  EXPECT_EQ(move_file("C:\\TEMP\\a", "C:\\ARCHIVE\\a", true), 0);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\a"), "new");
  EXPECT_FALSE(root.exists("C:\\TEMP\\a"));
  EXPECT_EQ(move_file("C:\\TEMP\\missing", "C:\\ARCHIVE\\b", true), 1);
}

// The screen idle, the conflict question, and a finished diskette with its
// progress, as the operator sees them.
TEST_F(RestoreScreen, ScreenshotsOfItsStates) {
  make_backup(3, 3);
  forget_archive();
  root.write("C:\\ARCHIVE\\2", "kept");
  in->after(50).at_time([] { check_screenshot("restore_idle", "vaslab/backup/tests/expected"); });
  restore_in_order({0});
  when("Archive file already exists", [this] {
    in->from_now().after(50).at_time([] { check_screenshot("restore_conflict", "vaslab/backup/tests/expected"); });
    in->after(30).tap(kSkip);
  });
  when("Disk completed successfully.", [] { check_screenshot("restore_done", "vaslab/backup/tests/expected"); });
  EXPECT_EQ(restore_screen(), 0);
}

// C:\TEMP full, then read-only, stops the diskette with the folder and the
// system error and asks for this diskette again, not another; a backup
// file cut short by a cancelled copy is named as not whole.
TEST_F(RestoreScreen, FailuresNameTheFolderAndTheError) {
  make_backup(2, 2);
  forget_archive();
  const std::string whole = root.read(disks[0]);
  root.write("C:\\HOLD2\\ZVT_0001.ZIP", whole.substr(0, whole.size() / 2));
  disks.push_back("C:\\HOLD2\\ZVT_0001.ZIP");
  const struct {
    std::size_t disk;
    int error;  // of C:\TEMP
    const char* message;
  } cases[] = {
      {0, ENOSPC, "C:\\TEMP\\: No space left on device\nFree space, insert this disk again."},
      {0, EROFS, "C:\\TEMP\\: Read-only file system\nFix it, then insert this disk again."},
      {1, 0, "Initialization error.\nD:\\ZVT_0001.ZIP: not a whole ZIP file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    in = std::make_unique<testsupport::ScriptedInput>(clock);
    notes.clear();
    seen = 0;
    plan.clear();
    restore_reset_reindex_notice();
    in->after(50).tap(kRight).after(80).tap(kRight).after(80).tap(kStart);
    when("Please insert a diskette and press", [this, &c] {
      insert(c.disk);
      if (c.error) platform::arm_folder_fault(platform::map_path("C:\\TEMP"), c.error);
      in->from_now().after(30).tap(kStart);
    });
    if (c.error) tap_when("reindex notice", kOk);
    when(c.message, [this, &c] {
      if (c.error == ENOSPC) check_screenshot("restore_temp_full", "vaslab/backup/tests/expected");
      in->from_now().after(30).tap(kExit).after(100).tap(kExit);
    });
    EXPECT_EQ(restore_screen(), 0);
    platform::arm_folder_fault("", 0);
    EXPECT_TRUE(said(std::string("restore: ") + c.message));
    EXPECT_EQ(count_of("restore status: Extract Error."), c.error ? 1 : 0);
    for (const auto& note : notes) EXPECT_EQ(note.find("another diskette"), std::string::npos) << note;
    EXPECT_FALSE(root.exists("C:\\ARCHIVE\\1"));
  }
}
