// Archives spanned over diskette images in drive A:, the test playing the
// user who changes the disk at each request.  Each disk must be a diskette
// that fsck.fat and mtools accept, labelled for its place in the set, and
// the files copied off the disks must make an archive that outside readers
// accept and that gives back the tree.
#include "ziplib/tests/zip_archive_support.h"
#include "platform/diskette.h"
#include "testsupport/diskette_image.h"
#include "ziplib/unziplib.h"
#include "ziplib/zip_volume.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

using namespace ziptest;
namespace fs = std::filesystem;
namespace dk = platform::diskette;

// The user at the drive: finished disks are kept in a folder, new ones are
// blank images, and a disk asked for again is put back.
struct User {
  std::string drive;   // the image A: reads
  std::string shelf;   // disk<n>.img for every disk taken out
  int in_drive = 0;    // disk number in the drive, 0 for none
  int disks = 0;       // disks handed over for writing
  bool rewriting = false;
  bool zero_blanks = false;         // blanks that were never formatted
  int cancel_at = 0;                // Cancel when this disk is asked for
  int protected_at = 0;             // this disk comes write protected once
  int full_at = 0;                  // this disk comes full once
  bool wrong_first = false;         // the rewrite gets disk 2 first
  std::vector<std::pair<int, int>> prompts;  // (type, number 1)

  std::string shelved(int n) const { return shelf + "/disk" + std::to_string(n) + ".img"; }

  // A new file at the drive's path is a changed diskette.
  void insert(const std::string& from) {
    const std::string tmp = drive + ".new";
    fs::copy_file(from, tmp, fs::copy_options::overwrite_existing);
    fs::rename(tmp, drive);
  }
  void take_out() {
    if (in_drive > 0) fs::copy_file(drive, shelved(in_drive), fs::copy_options::overwrite_existing);
    in_drive = 0;
  }
  void blank(const std::string& path) const {
    if (zero_blanks) {
      std::FILE* f = std::fopen(path.c_str(), "wb");
      const std::string zeros(1474560, '\0');
      std::fwrite(zeros.data(), 1, zeros.size(), f);
      std::fclose(f);
    } else {
      ASSERT_TRUE(testsupport::make_diskette(path));
    }
  }
  int disk_asked(int n1) {
    int n = n1 == -1 ? 1 : n1;
    if (n == cancel_at) return ziplib::IDCANCEL;
    if (n1 == -1 && disks > 0) rewriting = true;
    take_out();
    if (rewriting && wrong_first && n == 1) {
      wrong_first = false;
      n = 2;
    }
    if (!rewriting && n == full_at) {
      full_at = 0;
      const std::string full = shelf + "/full.img";
      testsupport::make_diskette(full);
      testsupport::mtools_write(full, "::/HOLIDAY.JPG", std::string(1457664, 'h'));
      insert(full);
      in_drive = -1;  // not part of the set
      return ziplib::IDOK;
    }
    if (!rewriting && !fs::exists(shelved(n))) {
      blank(shelved(n));
      ++disks;
    }
    insert(shelved(n));
    in_drive = n;
    if (!rewriting && n == protected_at) {
      protected_at = 0;
      ::chmod(drive.c_str(), 0444);
    }
    return ziplib::IDOK;
  }
};

User* g_user = nullptr;

// Reading the set back: the library's own decompressor asks for disk n of
// m, for disk n when it does not know m, or for the last disk (n2 -1).
int user_reads(int type, int, int n1, int n2, char*, char*, void*) {
  if (type != 0 && type != 1) return 0;
  const bool last = type == 0 && n2 == -1;
  g_user->prompts.push_back({type, last ? -1 : n1});
  g_user->disk_asked(last ? g_user->disks : n1);
  return ziplib::IDOK;
}

int user_answers(int type, int, int n1, int, char*, char*, void*) {
  if (type == 13) return 0;
  g_user->prompts.push_back({type, n1});
  switch (type) {
    case 0:
      return g_user->disk_asked(n1);
    case 12:  // write protected: the user slides the tab and retries
      ::chmod(g_user->drive.c_str(), 0644);
      return ziplib::IDRETRY;
    case 10:
      return ziplib::IDRETRY;
    default:
      return ziplib::IDOK;
  }
}

class SpanTest : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    ::unsetenv("VASLAB_DRIVE_A");
    dk::dismount_volume('A');
    user_.drive = dk::drive_path();
    user_.shelf = root_.path() + "/shelf";
    fs::create_directories(user_.shelf);
    fs::create_directories(linux_path("C:\\TEMP"));
    g_user = &user_;
    // About 3.3 MB that does not compress, in files smaller than a disk.
    for (int i = 0; i < 5; ++i) write("C:\\WORK\\TREE\\F" + std::to_string(i) + ".BIN", pseudo_random(650000, 20 + i));
    write("C:\\WORK\\TREE\\SUB\\NOTES.TXT", text_lines(60000, 30));
  }
  void TearDown() override {
    dk::unlock_volume('A');
    dk::dismount_volume('A');
    dk::clear_sector_faults();
    g_user = nullptr;
    ArchiveTest::TearDown();
  }

  int span(std::uint16_t control, int level = 0) {
    ZIPCMDSTRUCT c = command(ZIP_ADD, "A:\\SPAN.ZIP", "C:\\WORK\\TREE\\*.*");
    c.recurseFlag = 1;
    c.compFactor = level;
    c.wMultiVolControl = control;
    if ((control & 0x0700) == 0x0700) {
      c.pathForTempFlag = 1;
      c.lpszTempPath = "C:\\TEMP";
    }
    c.lpMessageDisplay = user_answers;
    const int rc = zipCompress(&c);
    user_.take_out();
    return rc;
  }

  // Every disk is a clean diskette labelled for its place, holding SPAN.ZIP;
  // copied off as span.z01 ... span.zip they read back as the tree.
  void expect_set_reads_back(const std::string& out) {
    fs::create_directories(out);
    for (int n = 1; n <= user_.disks; ++n) {
      SCOPED_TRACE(n);
      const std::string img = user_.shelved(n);
      std::string report;
      EXPECT_TRUE(testsupport::diskette_clean(img, &report)) << report;
      const std::string dir = testsupport::mdir(img);
      char label[32];
      std::snprintf(label, sizeof label, "is PKBACK# %03d", n);
      EXPECT_NE(dir.find(label), std::string::npos) << dir;
      EXPECT_NE(dir.find("SPAN     ZIP"), std::string::npos) << dir;
      const auto bytes = testsupport::mtools_read(img, "::/SPAN.ZIP");
      ASSERT_TRUE(bytes);
      char name[16];
      std::snprintf(name, sizeof name, n == user_.disks ? "span.zip" : "span.z%02d", n);
      std::FILE* f = std::fopen((out + "/" + name).c_str(), "wb");
      std::fwrite(bytes->data(), 1, bytes->size(), f);
      std::fclose(f);
    }
    std::string log;
    EXPECT_EQ(run("7zz t -bd " + shell_quote(out + "/span.zip"), &log), 0) << log;
    ASSERT_EQ(run("cd " + shell_quote(out) + " && zip -q -s 0 span.zip --out joined.zip", &log), 0) << log;
    EXPECT_EQ(run("unzip -tq " + shell_quote(out + "/joined.zip"), &log), 0) << log;
    EXPECT_EQ(run("python3 -m zipfile -t " + shell_quote(out + "/joined.zip"), &log), 0) << log;
    ASSERT_EQ(run("unzip -q " + shell_quote(out + "/joined.zip") + " -d " + shell_quote(out + "/x"), &log), 0) << log;
    EXPECT_EQ(run("diff -r " + shell_quote(out + "/x/WORK/TREE") + " " + shell_quote(linux_path("C:\\WORK\\TREE")), &log),
              0)
        << log;
  }

  bool prompted(int type, int n1) const {
    return std::find(user_.prompts.begin(), user_.prompts.end(), std::make_pair(type, n1)) != user_.prompts.end();
  }

  User user_;
};

bool tools() { return have("fsck.fat") && have("mdir") && have("7zz") && have("zip") && have("unzip"); }

TEST_F(SpanTest, PlainSpanOverThreeDisks) {
  if (!tools()) GTEST_SKIP() << "outside tools missing";
  ASSERT_EQ(span(0x8000, 6), 0);
  EXPECT_EQ(user_.disks, 3);
  EXPECT_TRUE(prompted(0, -1));
  EXPECT_TRUE(prompted(0, 2));
  EXPECT_TRUE(prompted(0, 3));
  expect_set_reads_back(root_.path() + "/plain");

  // Straight from the disks: the reader starts on the last one, asks for
  // the others by number and checks their labels.
  user_.prompts.clear();
  user_.disk_asked(3);
  unzipInit(nullptr);
  unzipAttachThread();
  UNZIPCMDSTRUCT u = unzip_command(UNZIP_EXTRACT, "A:\\SPAN.ZIP");
  u.lpszDestination = "C:\\FROMDISKS";
  u.lpMessageDisplay = user_reads;
  EXPECT_EQ(unzipCommand(&u), 0);
  unzipDetachThread();
  user_.take_out();
  EXPECT_TRUE(prompted(1, 1));
  std::string log;
  EXPECT_EQ(run("diff -r " + shell_quote(linux_path("C:\\FROMDISKS\\WORK\\TREE")) + " " +
                    shell_quote(linux_path("C:\\WORK\\TREE")),
                &log),
            0)
      << log;
}

TEST_F(SpanTest, ConfigurationBackupWipesAndStagesOnC) {
  if (!tools()) GTEST_SKIP() << "outside tools missing";
  ASSERT_EQ(span(0x8700), 0);
  EXPECT_EQ(user_.disks, 3);
  EXPECT_TRUE(fs::is_empty(linux_path("C:\\TEMP"))) << "the staging file is gone";
  expect_set_reads_back(root_.path() + "/staged");
}

TEST_F(SpanTest, FormattedDisks) {
  if (!tools()) GTEST_SKIP() << "outside tools missing";
  user_.zero_blanks = true;
  ASSERT_EQ(span(0x8001), 0);
  EXPECT_EQ(user_.disks, 3);
  expect_set_reads_back(root_.path() + "/formatted");
}

// One volume on A:: the new archive is made beside the old one on the
// diskette, or on C: with a temporary path and then copied over; either way
// it is put on the disk before it takes the archive's name.
TEST_F(SpanTest, OneVolumeArchiveOnTheDiskette) {
  if (!tools()) GTEST_SKIP() << "outside tools missing";
  user_.disk_asked(1);
  for (const bool temp_on_c : {false, true}) {
    SCOPED_TRACE(temp_on_c);
    ZIPCMDSTRUCT c = command(ZIP_ADD, "A:\\ONE.ZIP", "C:\\WORK\\TREE\\SUB\\*.*");
    if (temp_on_c) {
      c.pathForTempFlag = 1;
      c.lpszTempPath = "C:\\TEMP";
    }
    EXPECT_EQ(zipCompress(&c), 0);
    const auto left = platform::list_files("A:\\*");
    ASSERT_EQ(left.size(), 1u) << "no temporary file stays";
    EXPECT_EQ(left[0].name, "ONE.ZIP");
  }
  user_.take_out();
  std::string report;
  EXPECT_TRUE(testsupport::diskette_clean(user_.shelved(1), &report)) << report;
  const auto bytes = testsupport::mtools_read(user_.shelved(1), "::/ONE.ZIP");
  ASSERT_TRUE(bytes);
  write("C:\\OUT\\ONE.ZIP", *bytes);
  std::string log;
  EXPECT_EQ(run("unzip -tq " + shell_quote(linux_path("C:\\OUT\\ONE.ZIP")), &log), 0) << log;
}

}  // namespace

namespace {

// A write-protected disk is asked for again after prompt 12 and taken once
// the user makes it writable; a full disk given without a wipe is handed
// back (prompt 7) with its files as they were, and another is asked for.
// Neither costs the set a byte.
TEST_F(SpanTest, WriteProtectedAndFullDisksAreAskedForAgain) {
  if (!tools()) GTEST_SKIP() << "outside tools missing";
  user_.protected_at = 2;
  user_.full_at = 3;
  ASSERT_EQ(span(0x8000), 0);
  EXPECT_TRUE(prompted(12, 0));
  EXPECT_TRUE(prompted(7, 0));
  EXPECT_EQ(user_.disks, 3);
  const auto holiday = testsupport::mtools_read(user_.shelf + "/full.img", "::/HOLIDAY.JPG");
  ASSERT_TRUE(holiday);
  EXPECT_EQ(*holiday, std::string(1457664, 'h'));
  expect_set_reads_back(root_.path() + "/retried");
}

// Cancel at a disk prompt ends with 9; a bad sector under the archive ends
// with 14 written straight to the disk and with 10 when copying from the
// staging file, which is removed.  The sources stay.
TEST_F(SpanTest, CancelAndBadSectorsEndTheSetWithTheirCodes) {
  if (!tools()) GTEST_SKIP() << "outside tools missing";
  user_.cancel_at = 2;
  EXPECT_EQ(span(0x8000), ZE_ABORT);
  EXPECT_TRUE(prompted(0, 2));

  for (const std::uint16_t control : {std::uint16_t(0x8000), std::uint16_t(0x8700)}) {
    SCOPED_TRACE(control);
    User fresh;
    fresh.drive = user_.drive;
    fresh.shelf = user_.shelf;
    user_ = fresh;
    fs::remove_all(user_.shelf);
    fs::create_directories(user_.shelf);
    // 200 KB into the data area of every disk.
    dk::set_bad_sectors({33 + 400});
    EXPECT_EQ(span(control), control == 0x8000 ? ZE_WRITE : ZE_TEMP);
    dk::clear_sector_faults();
    EXPECT_TRUE(fs::is_empty(linux_path("C:\\TEMP")));
    EXPECT_EQ(user_.disks, 1);
  }
  EXPECT_EQ(read_all(linux_path("C:\\WORK\\TREE\\F0.BIN")), pseudo_random(650000, 20));
}

// The directory first: after the last entry the first disk is asked for
// again, a wrong one gets prompt 10, and the directory is rewritten on the
// right one.  The library's own reader gives the tree back from the disks'
// files.
TEST_F(SpanTest, DirectoryFirstRewritesTheFirstDisk) {
  if (!tools()) GTEST_SKIP() << "outside tools missing";
  user_.wrong_first = true;
  ASSERT_EQ(span(0x9000), 0);
  EXPECT_TRUE(prompted(10, 0));
  ASSERT_EQ(user_.disks, 3);
  for (int n = 1; n <= 3; ++n) {
    std::string report;
    EXPECT_TRUE(testsupport::diskette_clean(user_.shelved(n), &report)) << report;
    const auto bytes = testsupport::mtools_read(user_.shelved(n), "::/SPAN.ZIP");
    ASSERT_TRUE(bytes);
    if (n == 1) {
      EXPECT_EQ(bytes->substr(0, 4), std::string("PK\1\2"));
    }
    write(n == 3 ? "C:\\OUT\\DF.ZIP" : "C:\\OUT\\DF.z0" + std::to_string(n), *bytes);
  }
  expect_own_reader_gives_back("C:\\OUT\\DF.ZIP", "C:\\WORK\\TREE", "/WORK/TREE");

  // Straight from the disks with disk 1 in the drive: the directory at its
  // start is read without the end record, and the other disks are asked for
  // by number alone, their labels checked.
  unzipInit(nullptr);
  unzipAttachThread();
  UNZIPCMDSTRUCT u = unzip_command(UNZIP_COUNTALLITEMS, "C:\\OUT\\DF.ZIP");
  u.wUnzipSubOptions = kUnzSplit;
  ASSERT_EQ(unzipCommand(&u), 0);
  const int entries = u.returnCount;
  user_.prompts.clear();
  user_.disk_asked(1);
  u = unzip_command(UNZIP_EXTRACT, "A:\\SPAN.ZIP");
  u.lpszDestination = "C:\\FIRSTDISK";
  u.lpMessageDisplay = user_reads;
  EXPECT_EQ(unzipCommand(&u), 0);
  EXPECT_EQ(user_.prompts, (std::vector<std::pair<int, int>>{{0, 2}, {0, 3}}));
  std::string log;
  EXPECT_EQ(run("diff -r " + shell_quote(linux_path("C:\\FIRSTDISK\\WORK\\TREE")) + " " +
                    shell_quote(linux_path("C:\\WORK\\TREE")),
                &log),
            0)
      << log;
  // The count needs no other disk.  The comment stands in the end record:
  // the last disk is asked for, then the directory is read again, from disk
  // 1 of 3 now that the number of disks is known.
  user_.prompts.clear();
  user_.disk_asked(1);
  u.Function = UNZIP_COUNTALLITEMS;
  EXPECT_EQ(unzipCommand(&u), 0);
  EXPECT_EQ(u.returnCount, entries);
  EXPECT_TRUE(user_.prompts.empty());
  u.Function = UNZIP_GETCOMMENTSIZE;
  u.returnCount = -1;
  EXPECT_EQ(unzipCommand(&u), 0);
  EXPECT_EQ(u.returnCount, 0);
  EXPECT_EQ(user_.prompts, (std::vector<std::pair<int, int>>{{0, -1}, {1, 1}}));
  unzipDetachThread();
  user_.take_out();
}

}  // namespace
