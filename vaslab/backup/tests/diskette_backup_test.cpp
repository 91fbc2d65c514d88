// The backup and the restore on drive A:, diskette images swapped as an
// operator would swap diskettes, judged by the FAT and ZIP tools.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/diskette.h"
#include "vaslab/backup/backup_screen.h"
#include "vaslab/backup/floppy_backup.h"
#include "vaslab/backup/restore_screen.h"
#include "vaslab/backup/tests/backup_screen_fixture.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/study_type.h"
#include "vaslab/reports/page_renderer.h"

using namespace vaslab;
using backup_test::check_with_readers;
using backup_test::quote;
using backup_test::run;
namespace dk = platform::diskette;

namespace {

constexpr int kExit = 1, kStart = 100, kNone = 103, kErase = 104, kFormat = 105, kOk = 100;

struct DisketteBackup : BackupScreenFixture {
  std::string image, hold;
  std::vector<std::string> disks;  // the written diskettes, in order
  std::vector<std::string> files;
  int blanks = 0;

  void SetUp() override {
    BackupScreenFixture::SetUp();
    image = root.path() + "/a.img";
    hold = root.path() + "/hold/";
    std::filesystem::create_directories(hold);
    ::setenv("VASLAB_DRIVE_A", image.c_str(), 1);
    dk::dismount_volume('A');
    restore_reset_reindex_notice();
  }
  void TearDown() override {
    dk::clear_sector_faults();
    dk::dismount_volume('A');
    ::unsetenv("VASLAB_DRIVE_A");
    BackupScreenFixture::TearDown();
  }
  // A new diskette in the drive: an mformat image, or a zero-filled one.
  void insert_blank(bool zero_filled = false) {
    const std::string next = hold + "blank" + std::to_string(++blanks) + ".img";
    if (zero_filled) {
      std::ofstream{next};
      std::filesystem::resize_file(next, 1474560);
    } else {
      ASSERT_EQ(run("mformat -C -i " + quote(next) + " -f 1440 ::"), 0);
    }
    std::filesystem::rename(next, image);
  }
  void take_out() {
    const std::string to = hold + "disk" + std::to_string(disks.size() + 1) + ".img";
    std::filesystem::rename(image, to);
    disks.push_back(to);
  }
  // Start, and every diskette asked for inserted; disk `format_disk` is a
  // zero-filled one formatted by the screen.
  void back_up(int format_disk) {
    in->after(50).tap(kStart);
    watch([this, format_disk](const std::string& note) {
      const bool first = note.find("Please insert a diskette and press") != std::string::npos && disks.empty() &&
                         !std::filesystem::exists(image);
      if (first || note.find("Success. Please insert") != std::string::npos) {
        if (!first) take_out();
        const int number = static_cast<int>(disks.size()) + 1;
        insert_blank(number == format_disk);
        in->from_now().after(30).tap(number == format_disk ? kFormat : kErase).after(80).tap(kStart);
      } else if (note.find("Backup Completed") != std::string::npos) {
        take_out();
        in->from_now().after(30).tap(kExit);
        return false;
      }
      return true;
    });
    EXPECT_EQ(backup_screen(), 0);
  }
  // The diskettes back in order, the database notice answered.
  void restore_all() {
    notes.clear();
    seen = 0;
    in->from_now().after(50).tap(kStart);
    auto next = std::make_shared<std::size_t>(0);
    watch([this, next](const std::string& note) {
      if (note.find("reindex notice") != std::string::npos) {
        in->from_now().after(30).tap(kOk);
      } else if (note.find("restore: Please insert a diskette and press") != std::string::npos ||
                 note.find("Disk completed successfully.") != std::string::npos) {
        if (*next == disks.size()) {
          in->from_now().after(30).tap(kExit).after(200).tap(kExit).after(200).tap(kExit);
          return false;
        }
        std::filesystem::copy_file(disks[(*next)++], image, std::filesystem::copy_options::overwrite_existing);
        in->from_now().after(30).tap(kStart);
      }
      return true;
    });
    EXPECT_EQ(restore_screen(), 0);
  }
  // What the diskettes hold, each checked by the FAT and ZIP tools.
  std::map<std::string, std::string> on_disks() {
    std::map<std::string, std::string> all;
    for (std::size_t i = 0; i < disks.size(); ++i) {
      std::string out;
      EXPECT_EQ(run("fsck.fat -n " + quote(disks[i]), &out), 0) << out;
      char name[32];
      std::snprintf(name, sizeof name, "ZVT_%04d.ZIP", static_cast<int>(i + 1));
      const std::string zip = hold + name;
      EXPECT_EQ(run("mcopy -n -i " + quote(disks[i]) + " ::" + name + " " + quote(zip), &out), 0) << out;
      EXPECT_EQ(check_with_readers(zip), "") << name;
      run("rm -rf " + quote(hold + "x") + " && mkdir " + quote(hold + "x") + " && cd " + quote(hold + "x") +
          " && unzip -q " + quote(zip));
      for (const auto& e : std::filesystem::directory_iterator(hold + "x")) {
        const std::string entry = e.path().filename();
        EXPECT_EQ(all.count(entry), 0u) << entry << " stored twice";
        all[entry] = backup_test::read_file(e.path());
      }
    }
    return all;
  }
};

}  // namespace

// About 3.5 MB of studies with gaps in their numbers go onto erased and
// formatted diskettes and come back byte for byte.
TEST_F(DisketteBackup, ArchiveOntoDiskettesAndBack) {
  files = archive_studies(40, 86000);
  std::map<std::string, std::string> want;
  for (int n = 1; n <= 40; ++n) {
    if (n % 9 == 4) {
      delete_study(n);
      continue;
    }
    want[std::to_string(n)] = files[n];
  }
  back_up(2);
  EXPECT_TRUE(said("Backup Completed Successfully."));
  ASSERT_GE(disks.size(), 3u);
  EXPECT_EQ(on_disks(), want);
  std::string out;
  run("mlabel -i " + quote(disks[1]) + " -s ::", &out);
  EXPECT_NE(out.find("KORVANIBACK"), std::string::npos) << out;

  for (int n = 1; n <= 40; ++n) (void)platform::file_delete("C:\\ARCHIVE\\" + std::to_string(n));
  restore_all();
  for (const auto& [name, bytes] : want) EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + name) == bytes) << name;
  EXPECT_FALSE(root.exists(kArchiveDbPath));
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\0"));
  int notices = 0;
  for (const auto& n : notes) notices += n.find("reindex notice") != std::string::npos;
  EXPECT_EQ(notices, 1);
}

// The diskette taken out, changed, or found with a bad sector in the middle
// of the copy: each time "Copy failed(2)", and Continue with a good diskette
// writes the same disk number from the same first study; the backup ends
// whole.
TEST_F(DisketteBackup, TroubleDuringTheCopyRepeatsTheDisk) {
  files = archive_studies(8, 60000);
  int failures = 0;
  auto trouble = [this](int which) {
    in->from_now().after(30).tap(kStart).after(2000).at_time([this, which] {
      if (which == 0) std::filesystem::remove(image);
      if (which == 1) insert_blank();
    });
  };
  in->after(50).tap(kStart);
  when("Please insert a diskette and press", [this, trouble] {
    insert_blank();
    trouble(0);
  });
  watch([&](const std::string& note) {
    if (note.find("Copy failed(2).") != std::string::npos) {
      ++failures;
      insert_blank();
      if (failures == 1) trouble(1);
      if (failures == 2) {
        dk::set_bad_sectors({33 + 400});
        in->from_now().after(30).tap(kStart);
      }
      if (failures == 3) {
        dk::clear_sector_faults();
        in->from_now().after(30).tap(kStart);
      }
    } else if (note.find("Backup Completed Successfully.") != std::string::npos) {
      take_out();
      in->from_now().after(30).tap(kExit);
      return false;
    }
    return true;
  });
  EXPECT_EQ(backup_screen(), 0);
  EXPECT_EQ(failures, 3);
  ASSERT_EQ(disks.size(), 1u);
  std::map<std::string, std::string> want;
  for (int n = 1; n <= 8; ++n) want[std::to_string(n)] = files[n];
  EXPECT_EQ(on_disks(), want);
  for (int n = 1; n <= 8; ++n) (void)platform::file_delete("C:\\ARCHIVE\\" + std::to_string(n));
  restore_all();
  for (const auto& [name, bytes] : want) EXPECT_TRUE(root.read("C:\\ARCHIVE\\" + name) == bytes) << name;
}

// A format cancelled part-way leaves no file system; a diskette that already
// holds a file, taken as it is, gets an archive sized to what is free.
TEST_F(DisketteBackup, CancelledFormatAndADiskHoldingFiles) {
  files = archive_studies(10, 60000);
  in->after(50).tap(kStart);
  when("Please insert a diskette and press", [this] {
    insert_blank(true);
    in->from_now().after(30).tap(kFormat).after(80).tap(kStart).after(300).tap(kExit);
  });
  when("Format Cancelled.", [this] {
    const std::string img = backup_test::read_file(image);
    EXPECT_NE(img.substr(510, 2), "\x55\xAA");
    std::string out;
    EXPECT_NE(run("fsck.fat -n " + quote(image), &out), 0);
    insert_blank();
    root.write("C:\\SRC\\OLD.BIN", backup_test::noise(900000, 77));
    EXPECT_EQ(run("mcopy -i " + quote(image) + " " + quote(root.path() + "/c/SRC/OLD.BIN") + " ::"), 0);
    in->from_now().after(30).tap(103).after(80).tap(kStart);
  });
  when("Success. Please insert", [this] {
    take_out();
    insert_blank();
    in->from_now().after(30).tap(kErase).after(80).tap(kStart);
  });
  when("Backup Completed Successfully.", [this] {
    take_out();
    in->from_now().after(30).tap(kExit);
  });
  EXPECT_EQ(backup_screen(), 0);
  ASSERT_EQ(disks.size(), 2u);
  std::map<std::string, std::string> want;
  for (int n = 1; n <= 10; ++n) want[std::to_string(n)] = files[n];
  EXPECT_EQ(on_disks(), want);
  std::string out;
  run("mdir -b -i " + quote(disks[0]) + " ::", &out);
  EXPECT_NE(out.find("OLD.BIN"), std::string::npos) << out;
  EXPECT_LT(std::filesystem::file_size(hold + "ZVT_0001.ZIP"), 1457664u - 900000u);
}

// A backup killed after its archive's clusters were taken and before its
// entry was written leaves a 0-byte ZVT_0001.ZIP over a megabyte no file
// owns.  The next backup onto that diskette, taken as it is, finds the
// whole diskette free again: everything fits on it, and fsck.fat finds it
// clean.
TEST_F(DisketteBackup, TheNextBackupGetsBackWhatAKilledCopyLeftTaken) {
  files = archive_studies(12, 86000);
  insert_blank();
  const std::string blank = backup_test::read_file(image);
  const std::string cut = backup_test::noise(1000000, 99);
  auto copy = [&cut] {
    const int h = platform::file_open("A:\\ZVT_0001.ZIP", platform::OpenMode::kCreateAlways);
    for (std::size_t at = 0; h >= 0 && at < cut.size(); at += 8192)
      (void)platform::file_write(h, cut.data() + at, std::min<std::size_t>(8192, cut.size() - at));
    return h >= 0 && platform::file_close(h) == 0;
  };
  platform::arm_write_fault(1 << 30, EIO);
  ASSERT_TRUE(copy());
  const int entry_write = platform::write_fault_steps() - 1;  // then a last sync
  platform::disarm_write_fault();
  std::ofstream(image, std::ios::binary | std::ios::trunc) << blank;
  dk::dismount_volume('A');
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::arm_write_fault(entry_write, 0);
    ::_exit(copy() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == platform::kFaultExitCode);
  dk::dismount_volume('A');
  std::string out;
  EXPECT_NE(run("fsck.fat -n " + quote(image), &out), 0);
  EXPECT_NE(out.find("Reclaimed 1954 unused clusters"), std::string::npos) << out;
  run("mdir -i " + quote(image) + " ::", &out);
  EXPECT_NE(out.find("ZVT_0001 ZIP         0"), std::string::npos) << out;

  in->after(50).tap(kStart);
  watch([this](const std::string& note) {
    if (note.find("Please insert a diskette and press") != std::string::npos) {
      in->from_now().after(30).tap(kNone).after(80).tap(kStart);
    } else if (note.find("A backup already exists on this disk.") != std::string::npos) {
      in->from_now().after(30).tap(kOk);
    } else if (note.find("Success. Please insert") != std::string::npos) {
      ADD_FAILURE() << "a second diskette asked for";
      in->from_now().after(30).tap(kExit).after(200).tap(kExit).after(200).tap(kExit);
      return false;
    } else if (note.find("Backup Completed") != std::string::npos) {
      take_out();
      in->from_now().after(30).tap(kExit);
      return false;
    }
    return true;
  });
  EXPECT_EQ(backup_screen(), 0);
  ASSERT_EQ(disks.size(), 1u);
  std::map<std::string, std::string> want;
  for (int n = 1; n <= 12; ++n) want[std::to_string(n)] = files[n];
  EXPECT_EQ(on_disks(), want);  // fsck.fat -n clean on it too
}

// The study configuration spans two erased diskettes as one archive, each
// labelled by the library, and comes back over the files there.
TEST_F(DisketteBackup, ConfigurationSpansDiskettesAndComesBack) {
  std::map<std::string, std::string> config;
  for (int i = 1; i <= 3; ++i) config["STUDY" + std::to_string(i) + ".STY"] = backup_test::noise(700000, i);
  config["UCONFIG.MNU"] = "menu\r\n";
  for (const auto& [name, bytes] : config) root.write("C:\\STUDIES\\" + name, bytes);

  insert_blank();
  in->after(20).tap(102).after(80).tap(100);
  watch([this](const std::string& note) {
    if (note.find("Please insert Disk Volume") != std::string::npos) {
      take_out();
      insert_blank();
    }
    if (note.find("[ArcLynx ZIP Request]") != std::string::npos) in->from_now().after(30).tap(kMbOk);
    if (note.find("configuration backup:") != std::string::npos) {
      take_out();
      in->from_now().after(300).tap(104);
      return false;
    }
    return true;
  });
  floppy_backup_menu();
  EXPECT_TRUE(said("configuration backup: 0"));
  ASSERT_EQ(disks.size(), 2u);
  for (std::size_t i = 0; i < disks.size(); ++i) {
    std::string report, listing;
    EXPECT_EQ(run("fsck.fat -n " + quote(disks[i]), &report), 0) << report;
    EXPECT_EQ(run("mdir -i " + quote(disks[i]) + " ::", &listing), 0) << listing;
    EXPECT_NE(listing.find("PKBACK# 00" + std::to_string(i + 1)), std::string::npos) << listing;
    EXPECT_NE(listing.find("q7stybk  zip"), std::string::npos) << listing;
  }

  // Back over changed files: the overwrite question answered Yes to All.
  for (const auto& [name, bytes] : config) root.write("C:\\STUDIES\\" + name, "changed");
  notes.clear();
  seen = 0;
  std::filesystem::copy_file(disks.back(), image);
  dk::dismount_volume('A');
  in->from_now().after(20).tap(103).after(80).tap(100);
  auto asked = std::make_shared<int>(0);
  watch([this, asked](const std::string& note) {
    if (const std::size_t at = note.find("Please insert Disk Volume "); at != std::string::npos) {
      const std::size_t disk = static_cast<std::size_t>(std::atoi(note.c_str() + at + 26)) - 1;
      if (disk >= disks.size()) {
        ADD_FAILURE() << note;
        return false;
      }
      std::filesystem::copy_file(disks[disk], image, std::filesystem::copy_options::overwrite_existing);
      dk::dismount_volume('A');
      in->from_now().after(30).tap(kMbOk);
    } else if (note.find("zip question") != std::string::npos && ++*asked == 1) {
      in->from_now().after(30).tap(100);  // Yes to All
    } else if (note.find("unzip a:\\q7stybk.zip:") != std::string::npos) {
      in->from_now().after(300).tap(104);
      return false;
    }
    return true;
  });
  floppy_backup_menu();
  EXPECT_EQ(*asked, 1);
  for (const auto& [name, bytes] : config) EXPECT_EQ(root.read("C:\\STUDIES\\" + name), bytes) << name;
}

// The demo machine as scripts/demo-root makes it: its archived studies are
// real studies of its templates.  Each is listed with its template's
// caption, renders, starts a new study with its history, and keeps its
// place and type through a backup onto diskettes, a restore, a full and a
// quick reindex (the README's steps), as an outside reader of the database
// and the files sees them.
TEST_F(DisketteBackup, TheDemoArchiveKeepsEveryStudyAndItsTypeThroughBackupRestoreAndReindex) {
  const std::string build = hold + "build";
  std::filesystem::create_directories(build);
  std::filesystem::create_directory_symlink(VASLAB_BUILD_DIR "/bin", build + "/bin");
  std::filesystem::create_directory_symlink(root.path(), build + "/demo-root");
  (void)platform::file_delete(kArchiveDbPath);  // the script makes the demo's own
  std::string out;
  ASSERT_EQ(run(quote(VASLAB_SOURCE_DIR "/scripts/demo-root") + " " + quote(build) + " 2>&1", &out), 0) << out;
  std::filesystem::remove(image);  // the demo's blank diskette: the backup brings its own

  // n|name|type's template title|caption in the file|name in the file|magic
  auto archive = [this] {
    std::string listing;
    EXPECT_EQ(run("python3 " + quote(VASLAB_SOURCE_DIR "/vaslab/backup/tests/archive_types.py") + " " +
                      quote(root.path() + "/c"),
                  &listing),
              0)
        << listing;
    return listing;
  };
  const std::string made = archive();
  std::map<std::string, std::string> caption;  // archive file name -> its study's caption
  std::istringstream lines(made);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '|');) f.push_back(x);
    ASSERT_EQ(f.size(), 6u) << line;
    EXPECT_EQ(f[5], "magic") << line;
    EXPECT_EQ(f[1], f[4]) << line;
    EXPECT_FALSE(f[3].empty()) << line;
    EXPECT_EQ(f[2], f[3]) << "the type names the template the study was made with: " << line;
    caption[f[0]] = f[3];
  }
  ASSERT_EQ(caption.size(), 8u) << made;

  // The archive screen's search lists them with those captions.
  archive_db_in_use() = true;
  archive_patterns() = ArchivePatterns{};
  study_list() = StudyList{};
  study_list().mode = kListArchive;
  search_archive_db();
  ASSERT_EQ(study_list().count, 8);
  const StudyList listed = study_list();
  const std::string db = root.read(kArchiveDbPath);
  auto raster = std::make_unique<std::uint8_t[]>(kPageRasterBytes);
  for (int i = 0; i < listed.count; ++i) {
    const StudyListRow& row = listed.rows[i];
    const std::string text(row.text);
    ASSERT_GE(text.size(), 60u);
    std::string type = text.substr(30, 29);
    type.erase(type.find_last_not_of(' ') + 1);
    EXPECT_EQ(type, caption[row.file_name]) << text;

    // Its report renders, as View and Print draw it, with something below
    // the header (which ends at page row 200; the raster runs bottom-up).
    const std::string page = root.read(std::string("C:\\ARCHIVE\\") + row.file_name);
    EXPECT_EQ(render_page_description(raster.get(), reinterpret_cast<const std::uint8_t*>(page.data()), page.size(), 1),
              kPageOk)
        << row.file_name;
    const std::size_t below_header = (3150 - 250) * 2400;
    EXPECT_LT(std::count(raster.get(), raster.get() + below_header, 7), static_cast<long>(below_header))
        << row.file_name << " shows nothing but its header";

    // Update History: a new study of its template with its patient.
    ArchiveDbRecord rec;
    decode_db_record(reinterpret_cast<const std::uint8_t*>(db.data()) + std::atoi(row.file_name) * kDbRecordBytes, rec);
    study_list() = listed;
    study_list().mode = kListArchive;
    study_list().selected = static_cast<std::int16_t>(i);
    int exam = 0;
    ASSERT_EQ(create_temp_study(2, std::to_string(rec.type).c_str(), &exam), 0) << g_message_text;
    const std::string pdf = std::to_string(exam) + ".PDF";
    EXPECT_EQ(root.read("C:\\DATA\\" + pdf).substr(32, 30), page.substr(32, 30)) << row.file_name;
    EXPECT_TRUE(delete_temp_study(pdf.c_str()));
  }

  // The README's steps: back up, restore, reindex.
  back_up(0);
  EXPECT_TRUE(said("Backup Completed Successfully."));
  ASSERT_FALSE(disks.empty());
  for (const auto& [name, c] : caption) ASSERT_EQ(platform::file_delete("C:\\ARCHIVE\\" + name), 0);
  restore_all();
  EXPECT_FALSE(root.exists(kArchiveDbPath));
  FullReindexCounts full;
  full_reindex(full, 0);
  EXPECT_EQ(full.processed, 8L);
  EXPECT_EQ(archive(), made) << "after the full reindex";
  QuickReindexCounts quick;
  EXPECT_TRUE(quick_reindex(quick));
  EXPECT_EQ(quick.verified, 8L);
  EXPECT_EQ(archive(), made) << "after the quick reindex";
}
