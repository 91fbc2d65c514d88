#include "vaslab/backup/zip_writer.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <filesystem>
#include <map>

#include "platform/diskette.h"
#include "platform/paths.h"
#include "testsupport/temp_root.h"
#include "vaslab/backup/backup_zip.h"
#include "vaslab/backup/tests/backup_test_support.h"
#include "vaslab/backup/zip_file_functions.h"
#include "vaslab/core/settings/settings.h"

using namespace vaslab;
using backup_test::check_with_readers;
using backup_test::entry_names;
using backup_test::noise;
using backup_test::quote;
using backup_test::run;

namespace {

constexpr const char* kZip = "C:\\TEMP\\1.ZIP";

std::uint64_t size_of(const char* win) { return std::filesystem::file_size(platform::map_path(win)); }

int add(ZipWriter* w, const std::string& name, const std::string& data, int method = 8) {
  const ZipFileInfo info{};
  int r = zip_writer_open_entry(w, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, 9, 0, -15, 8, 0,
                                nullptr, 0);
  if (r == 0) r = zip_writer_write(w, data.data(), data.size());
  if (r == 0) r = zip_writer_close_entry(w);
  return r;
}

// Everything minizip finds in an archive, read through the writer's table.
std::map<std::string, std::string> read_back(const char* win_zip) {
  ZipFileFunctionTable table;
  zip_file_functions(&table);
  zlib_filefunc_def io;
  zip_minizip_functions(&table, &io);
  std::map<std::string, std::string> out;
  unzFile z = unzOpen2(win_zip, &io);
  if (!z) return out;
  for (int r = unzGoToFirstFile(z); r == UNZ_OK; r = unzGoToNextFile(z)) {
    char name[1024];
    unz_file_info fi;
    if (unzGetCurrentFileInfo(z, &fi, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    std::string data;
    if (unzOpenCurrentFile(z) != UNZ_OK) break;
    char buf[4096];
    int n;
    while ((n = unzReadCurrentFile(z, buf, sizeof buf)) > 0) data.append(buf, n);
    EXPECT_EQ(n, 0) << name;
    EXPECT_EQ(unzCloseCurrentFile(z), UNZ_OK) << name;  // the CRC check
    out[std::string(name, std::min<std::size_t>(fi.size_filename, sizeof name))] = data;
  }
  unzClose(z);
  return out;
}

class ZipWriterTest : public ::testing::Test {
 protected:
  testsupport::TempRoot root;
  void SetUp() override { std::filesystem::create_directories(platform::map_path("C:\\TEMP")); }
  std::string linux(const char* win) { return platform::map_path(win); }
};

}  // namespace

TEST_F(ZipWriterTest, EmptyArchiveIsTheEndRecordAlone) {
  ZipWriter* w = zip_writer_open_default(kZip, kZipCreate);
  ASSERT_TRUE(w);
  EXPECT_EQ(zip_writer_estimate_size(w), 22u);
  EXPECT_EQ(zip_writer_remove_last(w), 1);  // nothing was added
  EXPECT_EQ(zip_writer_close(w, "ignored"), 0);
  EXPECT_EQ(size_of(kZip), 22u);
  std::string out;
  EXPECT_EQ(run("unzip -tq " + quote(linux(kZip)), &out), 1);  // unzip's own warning for an empty archive
  EXPECT_NE(out.find("zipfile is empty"), std::string::npos) << out;
  EXPECT_EQ(run("7zz t -bd " + quote(linux(kZip)), &out), 0) << out;
  EXPECT_EQ(run("python3 -m zipfile -t " + quote(linux(kZip)), &out), 0) << out;
}

// The estimate after each closed entry is the size that closing then gives,
// over enough entries (and long enough names) to fill several directory
// blocks, stored and deflated, empty and incompressible.
TEST_F(ZipWriterTest, EstimateIsTheClosedSizeAfterEveryEntry) {
  std::map<std::string, std::string> want;
  for (int n = 1; n <= 40; ++n) {
    ZipWriter* w = zip_writer_open_default(kZip, kZipCreate);
    ASSERT_TRUE(w);
    want.clear();
    for (int i = 0; i < n; ++i) {
      const std::string name = std::to_string(i) + "." + std::string(100 + i * 7, 'N');
      const std::string data = i % 5 == 0 ? std::string() : noise(i * 613, i);
      ASSERT_EQ(add(w, name, data, i % 3 == 0 ? 0 : 8), 0);
      want[name] = data;
    }
    const std::uint32_t estimate = zip_writer_estimate_size(w);
    ASSERT_EQ(zip_writer_close(w, nullptr), 0);
    ASSERT_EQ(size_of(kZip), estimate) << n << " entries";
  }
  EXPECT_EQ(check_with_readers(linux(kZip)), "");
  EXPECT_EQ(read_back(kZip), want);
}

// The entry taken back is the one whose directory record straddles two
// blocks; what closes is a valid archive without it, and the writer goes on.
TEST_F(ZipWriterTest, RemovingARecordSplitAcrossBlocks) {
  const std::size_t name_size = 150;  // 196-byte records: 4075 is not a multiple
  std::size_t split_at = 0, sum = 0;
  for (std::size_t k = 1; !split_at; ++k) {
    if (sum < 4075 && sum + 46 + name_size > 4075) split_at = k;
    sum += 46 + name_size;
  }
  ZipWriter* w = zip_writer_open_default(kZip, kZipCreate);
  ASSERT_TRUE(w);
  std::map<std::string, std::string> want;
  std::uint32_t before = 0;
  for (std::size_t k = 1; k <= split_at; ++k) {
    std::string name = std::to_string(k);
    name += std::string(name_size - name.size(), 'x');
    if (k == split_at) before = zip_writer_estimate_size(w);
    ASSERT_EQ(add(w, name, noise(3000, k)), 0);
    if (k < split_at) want[name] = noise(3000, k);
  }
  EXPECT_EQ(zip_writer_remove_last(w), 0);
  EXPECT_EQ(zip_writer_estimate_size(w), before);
  EXPECT_EQ(zip_writer_remove_last(w), 1);  // only once
  ASSERT_EQ(add(w, "after", "kept"), 0);
  want["after"] = "kept";
  const std::uint32_t estimate = zip_writer_estimate_size(w);
  ASSERT_EQ(zip_writer_close(w, nullptr), 0);
  EXPECT_EQ(size_of(kZip), estimate);
  EXPECT_EQ(check_with_readers(linux(kZip)), "");
  EXPECT_EQ(read_back(kZip), want);
}

// Adding to an archive made by another program: its comment goes, its
// entries stay, and a removal straight after the open cannot cut into it.
TEST_F(ZipWriterTest, AddingToAZipMadeArchiveWithAComment) {
  if (run("command -v zip") != 0) GTEST_SKIP() << "zip is not installed";
  root.write("C:\\SRC\\a.txt", "first file\n");
  root.write("C:\\SRC\\b.bin", noise(20000, 9));
  const std::string z = linux(kZip);
  ASSERT_EQ(run("cd " + quote(linux("C:\\SRC")) + " && zip -q -X " + quote(z) + " a.txt b.bin && echo 'a comment' | zip -q -z " + quote(z)), 0);
  ZipWriter* w = zip_writer_open_default(kZip, kZipAddInZip);
  ASSERT_TRUE(w);
  EXPECT_EQ(zip_writer_remove_last(w), 1);
  ASSERT_EQ(add(w, "c.dat", noise(5000, 3)), 0);
  ASSERT_EQ(zip_writer_close(w, nullptr), 0);
  EXPECT_EQ(check_with_readers(z), "");
  std::string out;
  run("unzip -z " + quote(z), &out);
  EXPECT_EQ(out.find("a comment"), std::string::npos) << out;
  const auto got = read_back(kZip);
  EXPECT_EQ(got.at("a.txt"), "first file\n");
  EXPECT_EQ(got.at("b.bin"), noise(20000, 9));
  EXPECT_EQ(got.at("c.dat"), noise(5000, 3));
}

// Files that cannot be added to give no writer and are left as they were.
TEST_F(ZipWriterTest, ArchivesThatCannotBeAddedTo) {
  // An end record whose directory would lie after it.
  std::string bad(100, 'x');
  std::string end = std::string("PK\5\6", 4) + std::string(4, '\0') + std::string("\1\0\1\0", 4) +
                    std::string("\x10\0\0\0", 4) + std::string("\x60\0\0\0", 4) + std::string(2, '\0');
  root.write(kZip, bad + end);
  EXPECT_EQ(zip_writer_open_default(kZip, kZipAddInZip), nullptr);
  // Disk numbers other than 0.
  end[4] = 1;
  root.write(kZip, bad + end);
  EXPECT_EQ(zip_writer_open_default(kZip, kZipAddInZip), nullptr);
  root.write(kZip, "no archive at all");
  EXPECT_EQ(zip_writer_open_default(kZip, kZipAddInZip), nullptr);
  EXPECT_EQ(root.read(kZip), "no archive at all");
  EXPECT_EQ(zip_writer_open_default("C:\\NOWHERE\\1.ZIP", kZipAddInZip), nullptr);
}

TEST_F(ZipWriterTest, SeekThatFailsSaysSo) {
  ZipFileFunctionTable t;
  zip_file_functions(&t);
  root.write("C:\\TEMP\\f", "12345");
  void* s = t.open(t.opaque, "C:\\TEMP\\f", kZipModeRead);
  ASSERT_TRUE(s);
  EXPECT_EQ(t.seek(t.opaque, s, -10, kZipSeekSet), -1);
  EXPECT_EQ(t.seek(t.opaque, s, 0, 7), -1);
  EXPECT_EQ(t.seek(t.opaque, s, 2, kZipSeekSet), 0);
  EXPECT_EQ(t.tell(t.opaque, s), 2);
  EXPECT_EQ(t.close(t.opaque, s), 0);
  EXPECT_EQ(t.open(t.opaque, "C:\\TEMP\\f", kZipModeWrite), nullptr);  // neither existing nor create
  EXPECT_EQ(t.open(t.opaque, nullptr, kZipModeRead), nullptr);
}

// The wrapper: entries named by number and suffix from the archive folder,
// failures logged with CR LF, a missing study adds nothing.
TEST_F(ZipWriterTest, BackupWrapperNamesAndLogs) {
  HardwareSettings& s = hardware_settings();
  std::snprintf(s.archive_path_1, sizeof s.archive_path_1, "C:\\ARCHIVE\\");
  std::snprintf(s.archive_ext_1, sizeof s.archive_ext_1, "ZVT");
  root.write("C:\\ARCHIVE\\7.ZVT", noise(7000, 7));
  constexpr std::int64_t kWritten = 1780000001;  // 2026-05-28, an odd second
  ASSERT_EQ(platform::file_set_time("C:\\ARCHIVE\\7.ZVT", kWritten), 0);
  ASSERT_EQ(backup_zip_open(kZip, 1), 0);
  std::string path;
  EXPECT_EQ(backup_zip_add_file(7, path), 0);
  EXPECT_EQ(path, "C:\\ARCHIVE\\7.ZVT");
  EXPECT_EQ(backup_zip_add_file(8, path), -1);
  EXPECT_EQ(backup_zip_close(), 0);
  EXPECT_EQ(backup_zip_close(), 0);
  EXPECT_EQ(entry_names(linux(kZip)), "7.ZVT\n");
  EXPECT_EQ(check_with_readers(linux(kZip)), "");
  // Python's reader dates the entry as the study's local modification time
  // (two-second steps).
  std::string dated;
  run("python3 -c 'import sys,time,zipfile; print(zipfile.ZipFile(sys.argv[1]).getinfo(\"7.ZVT\").date_time == "
      "time.localtime(int(sys.argv[2]) // 2 * 2)[:6])' " +
          quote(linux(kZip)) + " " + std::to_string(kWritten),
      &dated);
  EXPECT_EQ(dated, "True\n");
  EXPECT_EQ(root.read("C:\\TEMP\\backup.log"),
            "Creating zip: C:\\TEMP\\1.ZIP\r\nFile doesn't exist:C:\\ARCHIVE\\8.ZVT\r\n");
  // Opened without overwrite, an existing archive is added to.
  std::snprintf(s.archive_ext_1, sizeof s.archive_ext_1, "%s", "");
  root.write("C:\\ARCHIVE\\9", "nine");
  ASSERT_EQ(backup_zip_open(kZip, 0), 0);
  EXPECT_EQ(backup_zip_add_file(9, path), 0);
  EXPECT_EQ(backup_zip_close(), 0);
  EXPECT_EQ(entry_names(linux(kZip)), "7.ZVT\n9\n");
}

// A study that cannot be read to its end is taken back out of the archive:
// what closes holds only whole studies.
TEST_F(ZipWriterTest, StudyThatCannotBeReadIsNotStoredCutShort) {
  const std::string image = root.path() + "/a.img";
  ::setenv("VASLAB_DRIVE_A", image.c_str(), 1);
  platform::diskette::dismount_volume('A');
  ASSERT_EQ(run("mformat -C -i " + quote(image) + " -f 1440 ::"), 0);
  root.write("C:\\SRC\\4", noise(3000, 4));
  root.write("C:\\SRC\\5", noise(20000, 5));
  ASSERT_EQ(run("mcopy -i " + quote(image) + " " + quote(linux("C:\\SRC\\4")) + " " + quote(linux("C:\\SRC\\5")) +
                " ::"),
            0);
  // Study 4 takes clusters 2-7 (sectors 33-38); study 5 starts at sector 39.
  platform::diskette::set_bad_sectors({39 + 20});
  HardwareSettings& s = hardware_settings();
  std::snprintf(s.archive_path_1, sizeof s.archive_path_1, "A:\\");
  s.archive_ext_1[0] = 0;
  ASSERT_EQ(backup_zip_open(kZip, 1), 0);
  std::string path;
  EXPECT_EQ(backup_zip_add_file(4, path), 0);
  EXPECT_EQ(backup_zip_add_file(5, path), -1);
  EXPECT_EQ(backup_zip_close(), 0);
  platform::diskette::clear_sector_faults();
  platform::diskette::dismount_volume('A');
  ::unsetenv("VASLAB_DRIVE_A");
  EXPECT_EQ(check_with_readers(linux(kZip)), "");
  EXPECT_EQ(read_back(kZip), (std::map<std::string, std::string>{{"4", noise(3000, 4)}}));
  EXPECT_NE(root.read("C:\\TEMP\\backup.log").find("error reading A:\\5\r\n"), std::string::npos);
}
