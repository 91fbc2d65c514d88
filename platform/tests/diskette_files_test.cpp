// Files on A: through the program's own FAT12 layer, judged by fsck.fat and
// mtools: what the layer writes they must read, and what they write the
// layer must read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/diskette.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "testsupport/diskette_image.h"
#include "testsupport/temp_root.h"

namespace dk = platform::diskette;
using platform::OpenMode;

namespace {

std::string noise(std::size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(g());
  return s;
}

class DisketteFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("VASLAB_DRIVE_A");
    dk::dismount_volume('A');
    image_ = root_.path() + "/a.img";
    ASSERT_TRUE(testsupport::make_diskette(image_));
  }
  void TearDown() override {
    dk::unlock_volume('A');
    dk::dismount_volume('A');
    dk::clear_sector_faults();
  }
  // Writes a whole file through the Windows-path file layer.
  int put(const std::string& path, const std::string& bytes, std::size_t chunk = 1000) {
    const int h = platform::file_open(path, OpenMode::kCreateAlways);
    if (h < 0) return h;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
      const auto n = std::min(chunk, bytes.size() - at);
      const long long w = platform::file_write(h, bytes.data() + at, n);
      if (w != static_cast<long long>(n)) {
        platform::file_close(h);
        return w < 0 ? static_cast<int>(w) : -EIO;
      }
    }
    return platform::file_close(h);
  }
  std::string get(const std::string& path) {
    const int h = platform::file_open(path, OpenMode::kRead);
    if (h < 0) return "<" + std::to_string(h) + ">";
    std::string out;
    char buf[3000];
    for (long long n; (n = platform::file_read(h, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    platform::file_close(h);
    return out;
  }
  void expect_clean() {
    std::string report;
    EXPECT_TRUE(testsupport::diskette_clean(image_, &report)) << report;
  }
  // mdir's "bytes free", its digits grouped by spaces.
  std::uint64_t mdir_free() {
    const std::string out = testsupport::mdir(image_);
    const auto end = out.find(" bytes free");
    if (end == std::string::npos) return ~0ull;
    auto begin = out.rfind('\n', end);
    std::string digits;
    for (std::size_t i = begin == std::string::npos ? 0 : begin; i < end; ++i)
      if (std::isdigit(static_cast<unsigned char>(out[i]))) digits += out[i];
    return digits.empty() ? ~0ull : std::stoull(digits);
  }
  testsupport::TempRoot root_;
  std::string image_;
};

TEST_F(DisketteFiles, BlankDiskSpaceLabelAndRouting) {
  EXPECT_TRUE(platform::drive_present('A'));
  EXPECT_FALSE(platform::drive_present('B'));
  EXPECT_EQ(dk::free_bytes(), 1457664u);
  EXPECT_EQ(mdir_free(), 1457664u);
  EXPECT_EQ(platform::free_space("A:\\SPAN.ZIP"), 1457664u);
  EXPECT_EQ(dk::volume_label(), "");

  ASSERT_EQ(dk::set_volume_label("PKBACK# 001"), 0);
  EXPECT_EQ(dk::volume_label(), "PKBACK# 001");
  EXPECT_NE(testsupport::mdir(image_).find("Volume in drive : is PKBACK# 001"), std::string::npos);
  expect_clean();  // fsck.fat compares the boot sector's label with the root's
  ASSERT_EQ(dk::set_volume_label("pkback# 002"), 0);
  EXPECT_EQ(dk::volume_label(), "PKBACK# 002");
  expect_clean();
  EXPECT_EQ(dk::set_volume_label("TWELVE CHARS"), -ENAMETOOLONG);

  const auto with_label = dk::list("A:\\*.*", true);
  ASSERT_EQ(with_label.size(), 1u);
  EXPECT_EQ(with_label[0].attributes, platform::kAttrVolume);
  EXPECT_TRUE(platform::list_files("A:\\*.*").empty()) << "a folder listing never shows the label";

  ASSERT_TRUE(testsupport::make_diskette(image_, 720));
  EXPECT_EQ(platform::free_space("A:\\"), 730112u) << "a new diskette in the drive";
  ::unlink(image_.c_str());
  EXPECT_FALSE(platform::drive_present('A'));
  EXPECT_FALSE(platform::free_space("A:\\").has_value());
  EXPECT_EQ(platform::file_open("A:\\X", OpenMode::kCreateAlways), -ENOMEDIUM);
}

// Everything a writer does to a file, then the outside tools' verdict.
TEST_F(DisketteFiles, WhatTheLayerWritesOutsideToolsRead) {
  const std::string big = noise(300000, 1), small = noise(5000, 2);
  ASSERT_EQ(put("A:\\span.zip", big, 777), 0);
  ASSERT_EQ(put("A:\\LOG.TXT", small), 0);

  // Extended past its end (the gap reads as zeros), then cut short.
  int h = platform::file_open("A:\\LOG.TXT", OpenMode::kReadWrite);
  ASSERT_GE(h, 0);
  EXPECT_EQ(platform::file_seek(h, 9000, SEEK_SET), 9000);
  EXPECT_EQ(platform::file_write(h, "tail", 4), 4);
  EXPECT_EQ(platform::file_length(h), 9004);
  EXPECT_EQ(platform::file_truncate(h, 2000), 0);
  EXPECT_EQ(platform::file_close(h), 0);
  h = platform::file_open("A:\\GAP.BIN", OpenMode::kCreateNew);
  EXPECT_EQ(platform::file_open("A:\\GAP.BIN", OpenMode::kCreateNew), -EEXIST);
  EXPECT_EQ(platform::file_seek(h, 3000, SEEK_SET), 3000);
  EXPECT_EQ(platform::file_write(h, "x", 1), 1);
  EXPECT_EQ(platform::file_close(h), 0);
  EXPECT_EQ(get("A:\\gap.bin"), std::string(3000, '\0') + "x");

  // Folders, one grown past its first cluster.
  ASSERT_EQ(platform::dir_create("A:\\SUB\\DEEP"), 0);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(put("A:\\SUB\\F" + std::to_string(i) + ".DAT", std::to_string(i)), 0);
  ASSERT_EQ(put("A:\\SUB\\DEEP\\IN.TXT", "deep"), 0);
  ASSERT_EQ(platform::file_rename("A:\\SUB\\F1.DAT", "A:\\SUB\\ONE.DAT"), 0);
  ASSERT_EQ(platform::file_rename("A:\\SUB\\F2.DAT", "A:\\SUB\\ONE.DAT"), 0) << "replaces the target";
  EXPECT_EQ(platform::file_rename("A:\\SUB\\F3.DAT", "A:\\F3.DAT"), -EXDEV);
  ASSERT_EQ(platform::file_delete("A:\\SUB\\F4.DAT"), 0);
  EXPECT_EQ(platform::dir_remove("A:\\SUB"), -ENOTEMPTY);
  expect_clean();

  EXPECT_EQ(testsupport::mtools_read(image_, "::/span.zip"), big);
  EXPECT_EQ(testsupport::mtools_read(image_, "::/LOG.TXT"), small.substr(0, 2000));
  EXPECT_EQ(testsupport::mtools_read(image_, "::/SUB/ONE.DAT"), "2");
  EXPECT_EQ(testsupport::mtools_read(image_, "::/SUB/DEEP/IN.TXT"), "deep");
  EXPECT_FALSE(testsupport::mtools_read(image_, "::/SUB/F4.DAT"));
  const std::string root = testsupport::mdir(image_);
  EXPECT_NE(root.find("span     zip    300000"), std::string::npos) << root;
  EXPECT_NE(root.find("SUB          <DIR>"), std::string::npos) << root;

  // The listing is the same as mdir's, by attributes too.
  const auto sub = platform::list_files("A:\\SUB\\*.*");
  EXPECT_EQ(sub.size(), 39u);  // 40 files, one renamed over another, one deleted, and DEEP
  const auto facts = platform::file_facts("A:\\SUB\\DEEP\\");
  ASSERT_TRUE(facts);
  EXPECT_TRUE(facts->attributes & platform::kAttrDirectory);
  ASSERT_EQ(dk::set_attributes("A:\\LOG.TXT", platform::kAttrReadOnly | platform::kAttrHidden), 0);
  EXPECT_EQ(platform::file_delete("A:\\LOG.TXT"), -EACCES);
  EXPECT_EQ(platform::file_open("A:\\LOG.TXT", OpenMode::kReadWrite), -EACCES);
  ASSERT_EQ(dk::set_attributes("A:\\LOG.TXT", 0), 0);
  EXPECT_EQ(platform::file_delete("A:\\LOG.TXT"), 0);

  // A time set is the DOS time read back (two-second steps).
  ASSERT_EQ(platform::file_set_time("A:\\span.zip", 1700000001), 0);
  EXPECT_EQ(platform::file_facts("A:\\SPAN.ZIP")->mtime, 1700000000);
  expect_clean();
  EXPECT_EQ(platform::free_space("A:\\"), mdir_free());
}

TEST_F(DisketteFiles, WhatMtoolsWritesTheLayerReadsAndDeletes) {
  const std::string bytes = noise(40000, 3);
  ASSERT_TRUE(testsupport::mtools_write(image_, "::/A rather long name.data", bytes));
  ASSERT_TRUE(testsupport::mtools_write(image_, "::/FOLDER/INSIDE.TXT", "inside"));
  const auto root = platform::list_files("A:\\*");
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].name, "ARATHE~1.DAT") << "the short name; the long one is skipped";
  EXPECT_EQ(get("A:\\ARATHE~1.DAT"), bytes);
  EXPECT_EQ(get("A:\\folder\\inside.txt"), "inside");

  EXPECT_EQ(platform::file_open("A:\\A rather long name.data", OpenMode::kRead), -ENAMETOOLONG);
  EXPECT_EQ(platform::file_open("A:\\LONGNAME1.TXT", OpenMode::kCreateAlways), -ENAMETOOLONG);
  EXPECT_EQ(platform::file_open("A:\\BAD*.TXT", OpenMode::kCreateAlways), -EINVAL);

  ASSERT_EQ(platform::file_delete("A:\\ARATHE~1.DAT"), 0);
  ASSERT_EQ(platform::file_delete("A:\\FOLDER\\INSIDE.TXT"), 0);
  ASSERT_EQ(platform::dir_remove("A:\\FOLDER"), 0);
  expect_clean();  // a long-name entry left behind would be an orphan
  EXPECT_EQ(testsupport::mdir(image_).find("rather"), std::string::npos);
  EXPECT_EQ(dk::free_bytes(), 1457664u);
}

TEST_F(DisketteFiles, FullDiskBadSectorsAndWriteProtection) {
  const std::uint64_t free = *dk::free_bytes();
  ASSERT_EQ(put("A:\\FULL.BIN", noise(free - 100, 4), 65536), 0) << "all but part of a cluster";
  int h = platform::file_open("A:\\FULL.BIN", OpenMode::kAppend);
  EXPECT_EQ(platform::file_write(h, std::string(150, 'z').data(), 150), 100) << "what fits, as a short count";
  EXPECT_EQ(platform::file_write(h, "z", 1), -ENOSPC);
  EXPECT_EQ(platform::file_write(h, "z", SIZE_MAX), -EFBIG) << "a length no FAT file can reach";
  EXPECT_EQ(platform::file_close(h), 0);
  EXPECT_EQ(dk::free_bytes(), 0u);
  EXPECT_EQ(mdir_free(), 0u);
  expect_clean();
  EXPECT_EQ(testsupport::mtools_read(image_, "::/FULL.BIN")->size(), free);
  ASSERT_EQ(platform::file_delete("A:\\FULL.BIN"), 0);

  // An unreadable sector where the next file's data would go: the write
  // fails and no entry points at clusters that never got their data.
  ASSERT_EQ(put("A:\\BEFORE.BIN", noise(10000, 5)), 0);  // clusters 2-21
  dk::set_bad_sectors({33 + 20 + 3});
  h = platform::file_open("A:\\AFTER.BIN", OpenMode::kCreateAlways);
  ASSERT_GE(h, 0);
  EXPECT_EQ(platform::file_write(h, noise(5000, 6).data(), 5000), -EIO);
  EXPECT_EQ(platform::file_close(h), 0);
  dk::set_bad_sectors({19});  // the root folder's first sector
  EXPECT_EQ(platform::file_open("A:\\THIRD.BIN", OpenMode::kCreateAlways), -EIO);
  dk::clear_sector_faults();
  expect_clean();
  EXPECT_EQ(testsupport::mtools_read(image_, "::/AFTER.BIN"), "");
  EXPECT_EQ(dk::free_bytes(), 1457664u - 20 * 512);

  // A close that cannot put the FAT down fails and takes back the clusters
  // only memory held: a later file does not write them out as lost ones.
  h = platform::file_open("A:\\LOST.BIN", OpenMode::kCreateAlways);
  ASSERT_EQ(platform::file_write(h, noise(5000, 7).data(), 5000), 5000);
  dk::set_bad_sectors({1});  // the first FAT's first sector
  EXPECT_EQ(platform::file_close(h), -EIO);
  dk::clear_sector_faults();
  ASSERT_EQ(put("A:\\LATER.BIN", "later"), 0);
  expect_clean();
  EXPECT_EQ(platform::free_space("A:\\"), mdir_free());
  EXPECT_EQ(testsupport::mtools_read(image_, "::/LOST.BIN"), "");

  // Write protection turns every change away and lets reading go on.
  ASSERT_EQ(::chmod(image_.c_str(), 0444), 0);
  EXPECT_EQ(platform::file_open("A:\\NEW.BIN", OpenMode::kCreateAlways), -EROFS);
  EXPECT_EQ(platform::file_open("A:\\BEFORE.BIN", OpenMode::kReadWrite), -EROFS);
  EXPECT_EQ(platform::file_delete("A:\\BEFORE.BIN"), -EROFS);
  EXPECT_EQ(platform::dir_create("A:\\DIR"), -EROFS);
  EXPECT_EQ(dk::set_volume_label("X"), -EROFS);
  EXPECT_EQ(get("A:\\BEFORE.BIN"), noise(10000, 5));
  ASSERT_EQ(::chmod(image_.c_str(), 0644), 0);
  EXPECT_EQ(put("A:\\NEW.BIN", "now"), 0);
  expect_clean();
}

// A writer that dies before its file is closed leaves the file as it was
// and no chain on the disk naming the new clusters; one that flushed first
// leaves it whole.  Either way the disk is clean.
TEST_F(DisketteFiles, AWriterThatDiesLeavesTheFileAsItWasOrWhole) {
  ASSERT_EQ(put("A:\\KEEP.BIN", "old"), 0);
  const std::string more = noise(100000, 8);
  auto die_while_writing = [&](const char* path, bool flush) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int h = platform::file_open(path, OpenMode::kOpenAlways);
      bool ok = h >= 0 && platform::file_seek(h, 0, SEEK_END) >= 0;
      for (std::size_t at = 0; ok && at < more.size(); at += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, more.size() - at);
        ok = platform::file_write(h, more.data() + at, n) == static_cast<long long>(n);
      }
      if (ok && flush) ok = platform::file_sync(h) == 0;
      ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    dk::dismount_volume('A');
  };
  die_while_writing("A:\\KEEP.BIN", false);
  expect_clean();
  EXPECT_EQ(testsupport::mtools_read(image_, "::/KEEP.BIN"), "old");
  EXPECT_EQ(dk::free_bytes(), 1457664u - 512);

  die_while_writing("A:\\KEEP.BIN", true);
  die_while_writing("A:\\NEW.BIN", true);
  expect_clean();
  EXPECT_EQ(testsupport::mtools_read(image_, "::/KEEP.BIN"), "old" + more);
  EXPECT_EQ(testsupport::mtools_read(image_, "::/NEW.BIN"), more);
  EXPECT_EQ(platform::free_space("A:\\"), mdir_free());
}

// The writes a diskette backup makes: the old archive deleted, the new one
// copied in pieces and closed; then a log file on the disk grows.  The
// fault hook's count after the copy's writes, its close and the log's close
// go to `marks`.
bool back_up_onto_a(const std::string& zip, const std::string& log_more, std::vector<int>* marks = nullptr) {
  (void)platform::file_delete("A:\\ZVT_0001.ZIP");
  int h = platform::file_open("A:\\ZVT_0001.ZIP", OpenMode::kCreateAlways);
  bool ok = h >= 0;
  for (std::size_t at = 0; ok && at < zip.size(); at += 8192) {
    const std::size_t n = std::min<std::size_t>(8192, zip.size() - at);
    ok = platform::file_write(h, zip.data() + at, n) == static_cast<long long>(n);
  }
  if (marks) marks->push_back(platform::write_fault_steps());
  if (h >= 0) ok = platform::file_close(h) == 0 && ok;
  if (marks) marks->push_back(platform::write_fault_steps());
  if (!ok || log_more.empty()) return ok;
  h = platform::file_open("A:\\LOG.TXT", OpenMode::kAppend);
  ok = h >= 0 && platform::file_write(h, log_more.data(), log_more.size()) == static_cast<long long>(log_more.size());
  if (h >= 0) ok = platform::file_close(h) == 0 && ok;
  if (marks) marks->push_back(platform::write_fault_steps());
  return ok;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  dk::dismount_volume('A');
}

// The first cluster in the directory entry at `entry` of an image.
std::uint32_t start_of(const std::string& img, std::size_t entry) {
  return std::uint32_t{static_cast<std::uint8_t>(img[entry + 26])} |
         std::uint32_t{static_cast<std::uint8_t>(img[entry + 27])} << 8;
}

// A backup killed at any step of its writes leaves at worst clusters that
// no entry owns, or a chain running past its file's length (fsck.fat sees
// both); the next change of the diskette gives them back, so the next
// backup finds all the room there is and leaves the disk clean.
TEST_F(DisketteFiles, SpaceAKilledBackupLeftIsGivenBackByTheNext) {
  const std::string old_zip = noise(300000, 10), zip = noise(700000, 11), more = noise(5000, 12);
  ASSERT_EQ(put("A:\\ZVT_0001.ZIP", old_zip), 0);
  ASSERT_EQ(put("A:\\LOG.TXT", "log"), 0);
  const std::string before = slurp(image_);
  // Where the steps of the file layer's fault hook fall: the deletion, the
  // copy's last writes and its close, the log's close.
  std::vector<int> marks;
  platform::arm_write_fault(1 << 30, EIO);
  ASSERT_TRUE(back_up_onto_a(zip, more, &marks));
  platform::disarm_write_fault();
  const int written = marks.at(0), closed = marks.at(1), logged = marks.at(2);
  ASSERT_GT(closed - written, 12) << "the close puts the data, both FATs and the entry down";
  std::vector<int> steps{1, 2, 3, 4, 5, 6, written / 2};
  for (int step = written - 2; step <= closed; ++step) steps.push_back(step);
  for (int step = logged - 12; step <= logged; ++step) steps.push_back(step);

  int unclean = 0;
  for (int step : steps) {
    SCOPED_TRACE("killed at step " + std::to_string(step));
    spill(image_, before);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      platform::arm_write_fault(step, 0);
      ::_exit(back_up_onto_a(zip, more) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_TRUE(WEXITSTATUS(status) == platform::kFaultExitCode || WEXITSTATUS(status) == 0);
    dk::dismount_volume('A');
    unclean += !testsupport::diskette_clean(image_);

    ASSERT_TRUE(back_up_onto_a(zip, ""));
    expect_clean();
    EXPECT_EQ(testsupport::mtools_read(image_, "::/ZVT_0001.ZIP"), zip);
    const auto log_now = testsupport::mtools_read(image_, "::/LOG.TXT");
    ASSERT_TRUE(log_now);
    EXPECT_TRUE(*log_now == "log" || *log_now == "log" + more);
    const std::uint64_t used = (zip.size() + 511) / 512 + (log_now->size() + 511) / 512;
    EXPECT_EQ(dk::free_bytes(), 1457664u - used * 512);
    EXPECT_EQ(mdir_free(), 1457664u - used * 512);
  }
  EXPECT_GT(unclean, 3) << "the kills fell where a disk is left to mend";
}

// What is not understood is not touched: a diskette that another program
// has open, or one whose chains cross, keeps its lost clusters until it is
// this program's alone and adds up.
TEST_F(DisketteFiles, LostClustersStayWhileTheDiskIsSharedOrDamaged) {
  ASSERT_EQ(put("A:\\LOG.TXT", "log"), 0);
  const std::string zip = noise(100000, 13);
  const std::string before = slurp(image_);
  platform::arm_write_fault(1 << 30, EIO);
  ASSERT_EQ(put("A:\\ZVT_0001.ZIP", zip), 0);
  const int entry_write = platform::write_fault_steps() - 1;  // then a last sync
  platform::disarm_write_fault();
  spill(image_, before);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    platform::arm_write_fault(entry_write, 0);
    ::_exit(put("A:\\ZVT_0001.ZIP", zip));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_EQ(WEXITSTATUS(status), platform::kFaultExitCode);
  dk::dismount_volume('A');
  std::string report;
  EXPECT_FALSE(testsupport::diskette_clean(image_, &report));
  const std::string lost = slurp(image_);
  const std::uint64_t lost_free = 1457664u - 512 - (zip.size() + 511) / 512 * 512;
  EXPECT_EQ(testsupport::mtools_read(image_, "::/ZVT_0001.ZIP"), "") << "the entry never got its clusters";

  // Another program reads the diskette: nothing is given back meanwhile.
  int go[2], done[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t reader = ::fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    dk::dismount_volume('A');  // a drive of its own, as another program has
    char c = platform::file_open("A:\\LOG.TXT", OpenMode::kRead) >= 0 ? 'y' : 'n';
    (void)!::write(go[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(go[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(dk::free_bytes(), lost_free);
  EXPECT_TRUE(slurp(image_) == lost);
  ASSERT_EQ(::write(done[1], "x", 1), 1);
  ASSERT_EQ(::waitpid(reader, &status, 0), reader);
  for (int fd : {go[0], go[1], done[0], done[1]}) ::close(fd);
  EXPECT_EQ(dk::free_bytes(), 1457664u - 512) << "alone now";
  expect_clean();
  EXPECT_EQ(testsupport::mtools_read(image_, "::/LOG.TXT"), "log");

  // A second entry on the log's chain: the disk is left as it is.
  std::string twin = lost;
  std::size_t log = 0, free_slot = 0;
  for (std::size_t at = 19 * 512; at < 33 * 512; at += 32) {
    if (!log && twin.compare(at, 11, "LOG     TXT") == 0) log = at;
    if (!free_slot && twin[at] == '\0') free_slot = at;
  }
  ASSERT_TRUE(log && free_slot);
  twin.replace(free_slot, 32, twin.substr(log, 32));
  twin.replace(free_slot, 11, "TWIN    TXT");
  spill(image_, twin);
  EXPECT_EQ(dk::free_bytes(), lost_free);
  EXPECT_TRUE(slurp(image_) == twin);
  EXPECT_EQ(get("A:\\TWIN.TXT"), "log");
}

// Disks made by mtools, with a lost cluster to give back and one more fault
// poked in: what the pass cannot follow (a chain leaving the volume or
// running into a free cluster, an entry starting beyond the volume, a
// folder holding an entry for itself) leaves every byte as it was, and the
// free space is the FAT's as mtools counts it.
TEST_F(DisketteFiles, LostClustersStayOnADiskWhoseChainsDoNotAddUp) {
  ASSERT_TRUE(testsupport::mtools_write(image_, "::/A.BIN", noise(3000, 21)));
  ASSERT_TRUE(testsupport::mtools_write(image_, "::/SUB/B.BIN", "b"));
  const std::string made = slurp(image_);
  auto set_fat = [](std::string& img, std::uint32_t c, std::uint16_t v) {
    for (std::size_t fat : {512u, 10u * 512}) {
      const std::size_t at = fat + c + c / 2;
      auto lo = static_cast<std::uint8_t>(img[at]), hi = static_cast<std::uint8_t>(img[at + 1]);
      if (c & 1) {
        lo = static_cast<std::uint8_t>((lo & 0x0F) | (v << 4));
        hi = static_cast<std::uint8_t>(v >> 4);
      } else {
        lo = static_cast<std::uint8_t>(v);
        hi = static_cast<std::uint8_t>((hi & 0xF0) | (v >> 8));
      }
      img[at] = static_cast<char>(lo);
      img[at + 1] = static_cast<char>(hi);
    }
  };
  auto entry_of = [](const std::string& img, const char* name, std::size_t from) {
    std::size_t at = from;
    while (at + 32 <= img.size() && img.compare(at, 11, name) != 0) at += 32;
    return at;
  };
  const std::size_t a = entry_of(made, "A       BIN", 19 * 512), sub = entry_of(made, "SUB        ", 19 * 512);
  const std::uint32_t a_start = start_of(made, a), sub_start = start_of(made, sub);
  const std::size_t sub_at = (33 + sub_start - 2) * 512;
  std::string lost = made;
  set_fat(lost, 2000, 0xFFF);  // a cluster no entry owns

  const struct {
    const char* fault;
    std::function<void(std::string&)> poke;
  } cases[] = {
      {"none: given back", [](std::string&) {}},
      {"a link beyond the volume", [&](std::string& img) { set_fat(img, a_start + 1, 2849); }},
      {"a link into a free cluster", [&](std::string& img) { set_fat(img, a_start + 1, 1500); }},
      {"an entry starting beyond the volume", [&](std::string& img) { img[a + 26] = '\xF0'; img[a + 27] = 0x0F; }},
      {"a folder holding itself",
       [&](std::string& img) {
         const std::size_t b = entry_of(img, "B       BIN", sub_at);
         img.replace(b + 32, 32, img.substr(sub, 32));  // an entry "SUB" after B.BIN, on SUB's cluster
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    std::string img = lost;
    c.poke(img);
    spill(image_, img);
    const std::uint64_t mtools_free = mdir_free();
    const auto free = dk::free_bytes();
    ASSERT_TRUE(free);
    if (&c == &cases[0]) {
      EXPECT_EQ(*free, mtools_free + 512) << "the lost cluster is free again";
      EXPECT_FALSE(slurp(image_) == img);
      expect_clean();
      continue;
    }
    EXPECT_EQ(*free, mtools_free);
    EXPECT_TRUE(slurp(image_) == img) << "a disk that does not add up is left as it is";
    EXPECT_FALSE(testsupport::diskette_clean(image_));
    char buf[4096];
    const int h = platform::file_open("A:\\A.BIN", OpenMode::kRead);
    if (h >= 0) {
      EXPECT_LE(platform::file_read(h, buf, sizeof buf), 3000);
      platform::file_close(h);
    }
  }
}

// A disk where a second entry's chain runs into a file's (cross-linked): a
// change of either would change the other, so none is made, while reading
// them and writing a third file go on.  Nor does a file whose entry says
// it is longer than its chain grow from the wrong place.
TEST_F(DisketteFiles, ChangesThatWouldReachBeyondTheirFileAreRefused) {
  const std::string a_bytes = noise(3000, 31);  // 6 clusters
  ASSERT_TRUE(testsupport::mtools_write(image_, "::/A.BIN", a_bytes));
  ASSERT_TRUE(testsupport::mtools_write(image_, "::/B.BIN", "b"));
  ASSERT_TRUE(testsupport::mtools_write(image_, "::/C.BIN", "c"));
  std::string img = slurp(image_);
  const std::size_t b = img.find("B       BIN", 19 * 512);
  const std::uint32_t a_last = start_of(img, img.find("A       BIN", 19 * 512)) + 5;
  img[b + 26] = static_cast<char>(a_last);  // B's one cluster is A's last
  img[b + 27] = static_cast<char>(a_last >> 8);
  spill(image_, img);
  EXPECT_FALSE(testsupport::diskette_clean(image_)) << "fsck.fat sees the cross-link";
  std::string notes;
  platform::set_debug_sink([&](const std::string& n) { notes += n; });
  for (const char* path : {"A:\\A.BIN", "A:\\B.BIN"}) {
    SCOPED_TRACE(path);
    for (OpenMode m : {OpenMode::kReadWrite, OpenMode::kOpenAlways, OpenMode::kAppend, OpenMode::kCreateAlways})
      EXPECT_EQ(platform::file_open(path, m), -EIO);
    EXPECT_EQ(platform::file_delete(path), -EIO);
    EXPECT_EQ(platform::file_rename("A:\\C.BIN", path), -EIO) << "the target would go";
  }
  platform::set_debug_sink({});
  EXPECT_NE(notes.find("A.BIN and B.BIN both hold cluster"), std::string::npos) << notes;
  EXPECT_TRUE(slurp(image_) == img) << "nothing changed";
  EXPECT_EQ(get("A:\\A.BIN"), a_bytes);
  int h = platform::file_open("A:\\C.BIN", OpenMode::kAppend);
  EXPECT_EQ(platform::file_write(h, "cc", 2), 2);
  EXPECT_EQ(platform::file_close(h), 0);
  EXPECT_EQ(testsupport::mtools_read(image_, "::/C.BIN"), "ccc");
  EXPECT_EQ(testsupport::mtools_read(image_, "::/A.BIN"), a_bytes);

  img = slurp(image_);
  img.replace(img.find("C       BIN", 19 * 512) + 28, 4, "\xA0\x86\x01\x00", 4);  // 100000 bytes on one cluster
  spill(image_, img);
  h = platform::file_open("A:\\C.BIN", OpenMode::kAppend);
  EXPECT_EQ(platform::file_write(h, "d", 1), -EIO) << "it would grow to its length from its one cluster";
  EXPECT_EQ(platform::file_truncate(h, 200000), -EIO);
  EXPECT_EQ(platform::file_close(h), 0);
  EXPECT_TRUE(slurp(image_) == img) << "nothing changed";
}

// While a file is written, listings show it at the length it has now, and
// a second handle reads what the first wrote.
TEST_F(DisketteFiles, AnOpenFileShowsItsLengthNow) {
  const int h = platform::file_open("A:\\GROW.BIN", OpenMode::kCreateAlways);
  ASSERT_GE(h, 0);
  const std::string bytes = noise(20000, 9);
  ASSERT_EQ(platform::file_write(h, bytes.data(), bytes.size()), 20000);
  EXPECT_EQ(platform::file_facts("A:\\GROW.BIN")->size, 20000u);
  ASSERT_EQ(platform::list_files("A:\\*.BIN").size(), 1u);
  EXPECT_EQ(platform::list_files("A:\\*.BIN")[0].size, 20000u);
  EXPECT_EQ(get("A:\\GROW.BIN"), bytes);
  EXPECT_EQ(platform::file_close(h), 0);
  expect_clean();
  EXPECT_EQ(testsupport::mtools_read(image_, "::/GROW.BIN"), bytes);
}

// A diskette changed or taken out under an open file fails that file's
// calls instead of writing to the disk now in the drive.
TEST_F(DisketteFiles, ChangedDiskDismountAndVolumeLock) {
  int h = platform::file_open("A:\\OPEN.BIN", OpenMode::kCreateAlways);
  ASSERT_EQ(platform::file_write(h, "abc", 3), 3);
  EXPECT_EQ(dk::lock_volume('A'), -EBUSY) << "files are open";
  const std::string next = root_.path() + "/next.img";
  ASSERT_TRUE(testsupport::make_diskette(next, 1440, "SECOND"));
  ASSERT_EQ(::rename(next.c_str(), image_.c_str()), 0);
  EXPECT_EQ(platform::file_write(h, "def", 3), -ESTALE);
  EXPECT_EQ(platform::file_seek(h, 0, SEEK_SET), -ESTALE);
  EXPECT_EQ(platform::file_close(h), -ESTALE);
  EXPECT_TRUE(platform::list_files("A:\\*").empty()) << "the second disk";
  EXPECT_EQ(dk::volume_label(), "SECOND");
  expect_clean();

  h = platform::file_open("A:\\OPEN.BIN", OpenMode::kCreateAlways);
  ASSERT_EQ(dk::dismount_volume('A'), 0);
  EXPECT_EQ(platform::file_write(h, "abc", 3), -ESTALE);
  EXPECT_EQ(platform::file_close(h), -ESTALE);

  h = platform::file_open("A:\\OPEN.BIN", OpenMode::kReadWrite);
  ::unlink(image_.c_str());
  EXPECT_EQ(platform::file_read(h, nullptr, 0), -ESTALE);
  EXPECT_EQ(platform::file_close(h), -ESTALE);
  ASSERT_TRUE(testsupport::make_diskette(image_));

  ASSERT_EQ(dk::lock_volume('A'), 0);
  EXPECT_EQ(platform::file_open("A:\\X.BIN", OpenMode::kCreateAlways), -EACCES);
  EXPECT_FALSE(platform::free_space("A:\\").has_value());
  ASSERT_EQ(dk::unlock_volume('A'), 0);
  h = platform::file_open("A:\\X.BIN", OpenMode::kCreateAlways);
  EXPECT_GE(h, 0);
  EXPECT_EQ(platform::file_close(h), 0);
}

// A diskette is outside input: a damaged one gives errors, never a crash,
// a hang or a read beyond what the layer holds.
TEST_F(DisketteFiles, DamagedDisksAreErrors) {
  ASSERT_EQ(put("A:\\A.BIN", noise(3000, 7)), 0);  // clusters 2-7
  auto poke = [&](off_t at, std::initializer_list<std::uint8_t> bytes) {
    const int fd = ::open(image_.c_str(), O_WRONLY);
    for (std::uint8_t b : bytes) ASSERT_EQ(::pwrite(fd, &b, 1, at++), 1);
    ::close(fd);
    dk::dismount_volume('A');
  };
  // Cluster 7 links back to cluster 6, in both FATs.
  for (off_t fat : {512, 512 + 9 * 512}) poke(fat + 7 + 7 / 2, {0x60, 0x00});
  char buf[4096];
  int h = platform::file_open("A:\\A.BIN", OpenMode::kRead);
  EXPECT_EQ(platform::file_read(h, buf, sizeof buf), -EIO);
  platform::file_close(h);
  // A size far beyond the clusters it has.
  ASSERT_TRUE(testsupport::make_diskette(image_));
  ASSERT_EQ(put("A:\\A.BIN", "x"), 0);
  poke(19 * 512 + 28, {0xFF, 0xFF, 0xFF, 0x7F});
  h = platform::file_open("A:\\A.BIN", OpenMode::kRead);
  EXPECT_EQ(platform::file_seek(h, 100000, SEEK_SET), 100000);
  EXPECT_EQ(platform::file_read(h, buf, sizeof buf), -EIO);
  platform::file_close(h);
  // Layouts no FAT12 diskette has.
  poke(13, {0});  // no sectors per cluster
  EXPECT_EQ(platform::file_open("A:\\A.BIN", OpenMode::kRead), -EMEDIUMTYPE);
  poke(13, {1});
  poke(22, {0xFF, 0xFF});  // a FAT longer than the disk
  EXPECT_EQ(dk::free_bytes(), std::nullopt);
  poke(22, {9, 0});
  poke(19, {0xFF, 0xFF});  // more sectors than the image holds
  EXPECT_TRUE(platform::list_files("A:\\*").empty());

  // A folder whose entry leads back to the root: nothing lies below it, so
  // a walk over the tree ends; it is damage, not a folder to remove, and
  // what it held is no lost space.
  ASSERT_TRUE(testsupport::make_diskette(image_));
  ASSERT_EQ(platform::dir_create("A:\\SUB"), 0);
  ASSERT_EQ(put("A:\\SUB\\X.TXT", "x"), 0);
  const auto sub = slurp(image_).find("SUB        ", 19 * 512);
  ASSERT_LT(sub, 33u * 512) << "in the root folder";
  poke(static_cast<off_t>(sub + 26), {0, 0});
  const std::string damaged = slurp(image_);
  EXPECT_TRUE(platform::list_files("A:\\SUB\\*.*").empty());
  EXPECT_EQ(platform::file_open("A:\\SUB\\SUB\\X.TXT", OpenMode::kCreateAlways), -ELOOP);
  // Nor does a new folder below it land in the root, named as if below.
  EXPECT_EQ(platform::dir_create("A:\\SUB\\NEW"), -ELOOP);
  EXPECT_EQ(testsupport::mdir(image_).find("NEW"), std::string::npos);
  EXPECT_EQ(platform::dir_remove("A:\\SUB"), -EIO) << "a damaged folder, not a full one";
  EXPECT_TRUE(slurp(image_) == damaged) << "what SUB and X.TXT hold is not given back as lost";
}

}  // namespace
