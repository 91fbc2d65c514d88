// Split and spanned archives written through the library's own volume layer,
// checked by outside readers after their parts are given the names those
// readers look for.
#include "ziplib/tests/zip_archive_support.h"
#include "platform/file_io.h"
#include "ziplib/unziplib.h"
#include "ziplib/zip_volume.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

namespace {

using namespace ziptest;
namespace fs = std::filesystem;

std::uint64_t size_of(const std::string& linux_path) {
  std::error_code ec;
  const auto n = fs::file_size(linux_path, ec);
  return ec ? 0 : n;
}

class VolumeTest : public ArchiveTest {
 protected:
  void TearDown() override {
    ziplib::set_zip_free_space(nullptr);
    ArchiveTest::TearDown();
  }

  // Copies the parts of a split set to `dir` under the short names that 7zz
  // and zip read: name.z01 ... and name.zip last.
  int copy_short_form(const std::string& win_zip, const std::string& dir, const std::string& stem) {
    fs::create_directories(dir);
    int n = 1;
    for (;; ++n) {
      const std::string part = linux_path(ziplib::zip_part_name(win_zip, n, true));
      if (!fs::exists(part)) break;
      char suffix[8];
      std::snprintf(suffix, sizeof suffix, n <= 99 ? "z%02d" : "z%03d", n);
      fs::copy_file(part, dir + "/" + stem + "." + suffix, fs::copy_options::overwrite_existing);
    }
    fs::copy_file(linux_path(win_zip), dir + "/" + stem + ".zip", fs::copy_options::overwrite_existing);
    return n;  // parts in all, the archive's own name included
  }


  // The set joined by zip -s 0 passes unzip -t and python's zipfile, and
  // its files equal the tree.
  void expect_joined_set_reads_back(const std::string& dir, const std::string& stem, const std::string& tree) {
    std::string out;
    const std::string joined = dir + "/joined.zip";
    ASSERT_EQ(run("cd " + shell_quote(dir) + " && zip -q -s 0 " + stem + ".zip --out joined.zip", &out), 0) << out;
    EXPECT_EQ(run("unzip -tq " + shell_quote(joined), &out), 0) << out;
    EXPECT_EQ(run("python3 -m zipfile -t " + shell_quote(joined), &out), 0) << out;
    const std::string x = dir + "/x";
    ASSERT_EQ(run("unzip -q " + shell_quote(joined) + " -d " + shell_quote(x), &out), 0) << out;
    EXPECT_EQ(run("diff -r " + shell_quote(x) + " " + shell_quote(tree), &out), 0) << out;
  }
};

std::uint32_t g_sizes[] = {1000, 5000000, 0};

TEST_F(VolumeTest, SplitSetTakesItsPartSizesAndReadsBackInOutsideTools) {
  if (!have("7zz") || !have("zip") || !have("unzip")) GTEST_SKIP() << "7zz, zip or unzip missing";
  // Incompressible, so that the parts fill by the sizes given.
  write("C:\\WORK\\T\\ONE.BIN", pseudo_random(3000000, 1));
  write("C:\\WORK\\T\\TWO.BIN", pseudo_random(2300000, 2));
  write("C:\\WORK\\T\\SUB\\THREE.TXT", text_lines(40000, 3));
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\SET.ZIP", "T\\*.*");
  c.recurseFlag = 1;
  c.wMultiVolControl = ziplib::kMvMulti | ziplib::kMvSplit;
  c.pulFileSizeArray = g_sizes;
  ASSERT_EQ(zipCompress(&c), 0);

  // Part 1 takes element 1 of the array; the others element 0, raised to
  // the smallest part.
  const std::string first = linux_path("C:\\OUT\\SET.ZIP.z01");
  EXPECT_EQ(size_of(first), 5000000u);
  int parts = 1;
  while (fs::exists(linux_path(ziplib::zip_part_name("C:\\OUT\\SET.ZIP", parts + 1, true)))) ++parts;
  ASSERT_GE(parts, 4);
  for (int n = 2; n <= parts; ++n)
    EXPECT_EQ(size_of(linux_path(ziplib::zip_part_name("C:\\OUT\\SET.ZIP", n, true))), 65536u) << n;
  EXPECT_LE(size_of(linux_path("C:\\OUT\\SET.ZIP")), 65536u);
  // Every part but the last was reported ready, then the archive itself.
  int ready = 0;
  for (const auto& p : g_shown.prompts) ready += p.first == 14;
  EXPECT_EQ(ready, parts + 1);
  EXPECT_TRUE(g_shown.has(14, "C:\\OUT\\SET.ZIP"));

  const std::string dir = root_.path() + "/short";
  copy_short_form("C:\\OUT\\SET.ZIP", dir, "set");
  // zip 3.0's "-s 0" drops data of an entry that crosses more than one part
  // boundary, even in its own sets, so 7zz is the reader here.
  std::string out;
  EXPECT_EQ(run("7zz t -bd " + shell_quote(dir + "/set.zip"), &out), 0) << out;
  ASSERT_EQ(run("7zz x -bd -o" + shell_quote(dir + "/x") + " " + shell_quote(dir + "/set.zip"), &out), 0) << out;
  EXPECT_EQ(run("diff -r " + shell_quote(dir + "/x") + " " + shell_quote(linux_path("C:\\WORK")), &out), 0) << out;
}

}  // namespace

namespace {

std::uint32_t g_small_parts[] = {1, 0};

TEST_F(VolumeTest, PartsPast99AreNumbered100OnAndTheDirectoryCanComeFirst) {
  if (!have("7zz")) GTEST_SKIP() << "7zz missing";
  write("C:\\WORK\\B\\BIG.BIN", pseudo_random(101 * 65536 + 5000, 7));
  write("C:\\WORK\\B\\SMALL.TXT", text_lines(3000, 8));
  for (const std::uint16_t first : {std::uint16_t(0), ziplib::kMvDirectoryFirst}) {
    SCOPED_TRACE(first);
    g_shown = {};
    ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\MANY.ZIP", "B\\*.*");
    c.compFactor = 0;
    c.wMultiVolControl = ziplib::kMvMulti | ziplib::kMvSplit | first;
    c.pulFileSizeArray = g_small_parts;
    ASSERT_EQ(zipCompress(&c), 0);
    EXPECT_TRUE(fs::exists(linux_path("C:\\OUT\\MANY.ZIP.z99")));
    EXPECT_TRUE(fs::exists(linux_path("C:\\OUT\\MANY.ZIP.100")));
    const std::string dir = root_.path() + "/many" + std::to_string(first);
    EXPECT_GT(copy_short_form("C:\\OUT\\MANY.ZIP", dir, "many"), 101);
    std::string out;
    if (!first) {
      EXPECT_EQ(run("7zz t -bd " + shell_quote(dir + "/many.zip"), &out), 0) << out;
    }
    expect_own_reader_gives_back("C:\\OUT\\MANY.ZIP", "C:\\WORK");
    if (first) {
      // The first part begins with the directory, rewritten with the
      // entries' final values; no ready notice for that part.
      EXPECT_EQ(read_all(dir + "/many.z01").substr(0, 4), std::string("PK\1\2"));
      EXPECT_FALSE(g_shown.has(14, "MANY.ZIP.z01"));
    }
  }
}

// A part that cannot be created ends the set with 10, and no part of it is
// left behind, in either naming form.
TEST_F(VolumeTest, AFailedSplitSetLeavesNoPart) {
  write("C:\\WORK\\F\\DATA.BIN", pseudo_random(300000, 9));
  write("C:\\OUT\\FAIL.z02", "an older part of the same name");
  fs::create_directories(linux_path("C:\\OUT") + "/FAIL.ZIP.z03");
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\FAIL.ZIP", "F\\*.*");
  c.compFactor = 0;
  c.wMultiVolControl = ziplib::kMvMulti | ziplib::kMvSplit;
  c.pulFileSizeArray = g_small_parts;
  EXPECT_EQ(zipCompress(&c), ZE_TEMP);
  for (const auto& e : fs::directory_iterator(linux_path("C:\\OUT")))
    EXPECT_TRUE(e.is_directory()) << e.path();
  EXPECT_TRUE(fs::exists(linux_path("C:\\WORK\\F\\DATA.BIN")));
}

// A disk change that fails while staged data waits keeps its own code: the
// archive file on the full disk that would not close is 19, not a cancel.
TEST_F(VolumeTest, AFailedDiskChangeKeepsItsCode) {
  ziplib::ZipState s;
  s.multi_vol = ziplib::kMvMulti;
  s.zip_path = "A:\\SPAN.ZIP";
  s.temp_fd = platform::file_open("C:\\OUT\\STAGE.TMP", platform::OpenMode::kCreateAlways);
  ASSERT_GE(s.temp_fd, 0);
  s.out_fd = ::dup(s.temp_fd);
  ::close(s.out_fd);  // a handle that no longer closes
  EXPECT_EQ(ziplib::zip_volume_layer().next_part(s), ZE_MEDIA);
  platform::file_close(s.temp_fd);
}

}  // namespace

namespace {

std::uint64_t g_staging_free = 0;
std::optional<std::uint64_t> staging_free(const std::string& path) {
  if (ziplib::zip_drive_letter(path) == 'C') return g_staging_free;
  return 1457664;
}
int g_first_disk_prompts = 0;
int cancel_first_disk(int type, int, int n1, int, char*, char*, void*) {
  if (type == 0 && n1 == -1) ++g_first_disk_prompts;
  return type == 13 ? 0 : ziplib::IDCANCEL;
}

// The staging folder must have more than 2,097,151 bytes free; a fixed drive
// may take a spanned set with bit 7, but is never wiped or formatted.  Both
// are refused before anything is written.
TEST_F(VolumeTest, RefusedSpanningCallsWriteNothing) {
  write("C:\\WORK\\S\\KEEP.TXT", "kept");
  write("C:\\OTHER\\OWN.TXT", "a file of the fixed drive");
  fs::create_directories(linux_path("C:\\TEMP"));
  ziplib::set_zip_free_space(staging_free);
  for (const std::uint64_t free : {2097151ull, 2097152ull}) {
    g_staging_free = free;
    g_first_disk_prompts = 0;
    ZIPCMDSTRUCT c = command(ZIP_ADD, "A:\\SPAN.ZIP", "C:\\WORK\\S\\*.*");
    c.wMultiVolControl = 0x8700;
    c.pathForTempFlag = 1;
    c.lpszTempPath = "C:\\TEMP";
    c.lpMessageDisplay = cancel_first_disk;
    // Enough room: the first disk is asked for, and Cancel ends the call.
    EXPECT_EQ(zipCompress(&c), free == 2097151 ? ZE_TEMP : ZE_ABORT);
    EXPECT_EQ(g_first_disk_prompts, free == 2097151 ? 0 : 1);
    EXPECT_TRUE(fs::is_empty(linux_path("C:\\TEMP"))) << "no staging file is left";
  }
  for (const std::uint16_t wipe : {std::uint16_t(0x8100), std::uint16_t(0x8001), std::uint16_t(0x8700)}) {
    ZIPCMDSTRUCT c = command(ZIP_ADD, "D:\\SPAN.ZIP", "C:\\WORK\\S\\*.*");
    c.wMultiVolControl = wipe;
    c.wZipSubOptions = ziplib::kSubAnyTarget;
    EXPECT_EQ(zipCompress(&c), ZE_MVPARMS) << wipe;
  }
  EXPECT_FALSE(fs::exists(linux_path("D:\\SPAN.ZIP")));
  EXPECT_EQ(read_all(linux_path("C:\\OTHER\\OWN.TXT")), "a file of the fixed drive");
}

}  // namespace
