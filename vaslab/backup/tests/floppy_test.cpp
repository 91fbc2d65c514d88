#include "vaslab/backup/floppy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/diskette.h"
#include "platform/le_bytes.h"
#include "testsupport/temp_root.h"
#include "vaslab/backup/tests/backup_test_support.h"

using namespace vaslab;
using backup_test::quote;
using backup_test::run;
namespace dk = platform::diskette;

namespace {

FloppyTime fixed_time() { return {2026, 3, 14, 15, 9, 26, 535}; }

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void spill(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::uint16_t fat12(const std::string& img, std::size_t fat_at, std::uint32_t cluster) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(img.data()) + fat_at + cluster * 3 / 2;
  const std::uint16_t v = platform::get_u16le(p);
  return cluster & 1 ? v >> 4 : v & 0x0FFF;
}

void set_fat12(std::string& img, std::size_t fat_at, std::uint32_t cluster, std::uint16_t value) {
  auto* p = reinterpret_cast<std::uint8_t*>(img.data()) + fat_at + cluster * 3 / 2;
  std::uint16_t v = platform::get_u16le(p);
  v = cluster & 1 ? static_cast<std::uint16_t>((v & 0xF) | (value << 4)) : static_cast<std::uint16_t>((v & 0xF000) | value);
  platform::put_u16le(p, v);
}

class FloppyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = root.path() + "/a.img";
    ::setenv("VASLAB_DRIVE_A", image.c_str(), 1);
    dk::dismount_volume('A');
    floppy_set_time_source(fixed_time);
  }
  void TearDown() override {
    (void)floppy_write_boot_sector();
    dk::clear_sector_faults();
    dk::dismount_volume('A');
    floppy_set_time_source(nullptr);
    ::unsetenv("VASLAB_DRIVE_A");
  }
  std::string fsck() {
    std::string out;
    return run("fsck.fat -n " + quote(image), &out) == 0 ? "" : out;
  }
  // Formats every cylinder and returns the progress values seen.
  std::vector<int> format_all() {
    std::vector<int> seen;
    for (int r; (r = floppy_format_track()) > 0;) seen.push_back(r);
    seen.push_back(floppy_format_track());
    return seen;
  }
  testsupport::TempRoot root;
  std::string image;
};

}  // namespace

// Bad clusters and reserved values survive in both FATs, the label entry with
// the archive bit stays, every other FAT and root entry goes, and the data
// area is not written.
TEST_F(FloppyTest, EraseEmptiesTheFileSystemAndKeepsWhatMarksTheDisk) {
  ASSERT_EQ(run("mformat -i " + quote(image) + " -C -f 1440 -v OLDLABEL ::"), 0);
  root.write("C:\\SRC\\A.TXT", std::string(3000, 'a'));
  root.write("C:\\SRC\\B.BIN", backup_test::noise(40000, 2));
  ASSERT_EQ(run("mcopy -i " + quote(image) + " " + quote(root.path() + "/c/SRC/A.TXT") + " " +
                quote(root.path() + "/c/SRC/B.BIN") + " ::"),
            0);
  std::string img = slurp(image);
  for (std::size_t fat : {512u, 5120u}) set_fat12(img, fat, 2000, 0xFF7);
  // The first entry is mformat's label: given the archive bit it is kept; a
  // second such label and a plain one (attribute 0x08) are not.
  ASSERT_EQ(img[9728 + 11], 0x08);
  ASSERT_EQ(img.substr(9728, 11), "OLDLABEL   ");
  img[9728 + 11] = 0x28;
  std::memcpy(&img[9728 + 3 * 32], "SECONDLABEL", 11);
  img[9728 + 3 * 32 + 11] = 0x28;
  std::memcpy(&img[9728 + 4 * 32], "PLAINLABEL ", 11);
  img[9728 + 4 * 32 + 11] = 0x08;
  spill(image, img);

  ASSERT_EQ(floppy_prepare("A1Q"), kFloppyOk);
  EXPECT_EQ(floppy_format_track(), 0);  // nothing to format on an erase
  ASSERT_EQ(floppy_write_boot_sector(), 0);

  const std::string after = slurp(image);
  ASSERT_EQ(after.size(), img.size());
  EXPECT_TRUE(after.substr(16896) == img.substr(16896)) << "data area written";
  EXPECT_TRUE(after.substr(0, 512) == img.substr(0, 512));
  for (std::size_t fat : {512u, 5120u}) {
    EXPECT_EQ(fat12(after, fat, 0), 0xFF0);
    for (std::uint32_t c = 2; c < 2849; ++c) {
      const std::uint16_t want = c == 2000 ? 0xFF7 : 0;
      ASSERT_EQ(fat12(after, fat, c), want) << "cluster " << c << " of FAT at " << fat;
    }
  }
  std::string root_dir = after.substr(9728, 224 * 32);
  EXPECT_EQ(root_dir.substr(0, 11), "OLDLABEL   ");
  EXPECT_EQ(root_dir[11], 0x28);
  EXPECT_TRUE(root_dir.substr(32) == std::string(223 * 32, '\0'));
  EXPECT_EQ(fsck(), "");
  std::string out;
  run("mdir -i " + quote(image) + " ::", &out);
  EXPECT_NE(out.find("No files"), std::string::npos) << out;

  // Reserved values (which fsck.fat itself would not accept) are kept too.
  img = slurp(image);
  for (std::size_t fat : {512u, 5120u}) {
    set_fat12(img, fat, 2001, 0xFF0);
    set_fat12(img, fat, 2002, 0x123);
    set_fat12(img, fat, 2003, 0xFF6);
  }
  spill(image, img);
  ASSERT_EQ(floppy_prepare("A1Q"), kFloppyOk);
  ASSERT_EQ(floppy_write_boot_sector(), 0);
  const std::string again = slurp(image);
  for (std::size_t fat : {512u, 5120u}) {
    EXPECT_EQ(fat12(again, fat, 2000), 0xFF7);
    EXPECT_EQ(fat12(again, fat, 2001), 0xFF0);
    EXPECT_EQ(fat12(again, fat, 2002), 0);
    EXPECT_EQ(fat12(again, fat, 2003), 0xFF6);
  }
}

TEST_F(FloppyTest, EraseRefusesADiskOfAnotherType) {
  ASSERT_EQ(run("mformat -i " + quote(image) + " -C -f 720 ::"), 0);
  const std::string before = slurp(image);
  EXPECT_EQ(floppy_prepare("A1Q"), kFloppyWrongDiskType);
  EXPECT_EQ(floppy_write_boot_sector(), 0);
  EXPECT_TRUE(slurp(image) == before);
  // The same disk erased as what it is.
  EXPECT_EQ(floppy_prepare("A7Q"), kFloppyOk);
  EXPECT_EQ(floppy_write_boot_sector(), 0);
  EXPECT_EQ(fsck(), "");
}

TEST_F(FloppyTest, RequestsThatCannotBeServed) {
  EXPECT_EQ(floppy_prepare("A1X"), kFloppyBadRequest);
  EXPECT_EQ(floppy_prepare("C1Q"), kFloppyBadRequest);
  EXPECT_EQ(floppy_prepare("A"), kFloppyBadRequest);
  EXPECT_EQ(floppy_prepare("A1Q"), kFloppyNoDrive);  // no image: no diskette in the drive
  EXPECT_EQ(floppy_prepare("B1F"), kFloppyNoDrive);
  EXPECT_EQ(floppy_write_boot_sector(), 0);
  // A zero-filled disk is no FAT12 disk of either type.
  spill(image, std::string(1474560, '\0'));
  EXPECT_EQ(floppy_prepare("A1Q"), kFloppyWrongDiskType);
}

// A blank file becomes a clean 1.44 MB diskette labelled and dated from the
// clock; the boot sector is a loader that tells the user to take it out.
TEST_F(FloppyTest, FormatOfABlankImage) {
  spill(image, std::string(1474560, '\0'));
  ASSERT_EQ(floppy_prepare("A1F"), kFloppyOk);
  std::vector<int> want;
  for (int c = 1; c <= 80; ++c) want.push_back(c * 5 / 4 + 1);
  want.push_back(0);
  const std::vector<int> seen = format_all();
  EXPECT_EQ(seen, want);
  EXPECT_EQ(seen[0], 2);
  EXPECT_EQ(seen[3], 6);
  EXPECT_EQ(seen[79], 101);
  ASSERT_EQ(floppy_write_boot_sector(), 0);
  EXPECT_EQ(fsck(), "");
  std::string out;
  run("mlabel -i " + quote(image) + " -s ::", &out);
  EXPECT_NE(out.find("KORVANIBACK"), std::string::npos) << out;
  const std::string img = slurp(image);
  const auto* b = reinterpret_cast<const std::uint8_t*>(img.data());
  // 3 * 256 + 14 + 26 * 256 + 535 and 15 * 256 + 9 + 2026.
  EXPECT_EQ(platform::get_u32le(b + 39), (std::uint32_t{15 * 256 + 9 + 2026} << 16) | (3 * 256 + 14 + 26 * 256 + 535));
  EXPECT_EQ(platform::get_u16le(b + 9728 + 24), (2026 - 1980) * 512 + 3 * 32 + 14);
  for (const char* text : {"MSDOS5.0", "Remove disks or other media.", "Disk error", "Press any key to restart"})
    EXPECT_NE(img.substr(0, 512).find(text), std::string::npos) << text;
  EXPECT_EQ(img.substr(510, 2), "\x55\xAA");
  EXPECT_TRUE(img.substr(16896, 512) == std::string(512, '\xF6'));
}

// A sector of the data area that reads back wrong or not at all costs its
// cluster (the whole two-sector cluster on 720 KB); one of the system area
// fails the format.
TEST_F(FloppyTest, FormatRecordsBadSectors) {
  spill(image, std::string(737280, '\0'));
  dk::set_bad_sectors({14 + 100});  // cluster 52
  dk::set_weak_sectors({14 + 301});  // cluster 152
  ASSERT_EQ(floppy_prepare("A7F"), kFloppyOk);
  EXPECT_EQ(format_all().back(), 0);
  ASSERT_EQ(floppy_write_boot_sector(), 0);
  dk::clear_sector_faults();
  const std::string img = slurp(image);
  for (std::size_t fat : {512u, 2048u}) {
    EXPECT_EQ(fat12(img, fat, 52), 0xFF7);
    EXPECT_EQ(fat12(img, fat, 152), 0xFF7);
    EXPECT_EQ(fat12(img, fat, 51), 0);
    EXPECT_EQ(fat12(img, fat, 53), 0);
  }
  EXPECT_EQ(fsck(), "");

  dk::set_bad_sectors({5});
  ASSERT_EQ(floppy_prepare("A1F"), kFloppyOk);
  EXPECT_EQ(floppy_format_track(), -1);
  EXPECT_EQ(std::string(floppy_last_error()).rfind("FMTVERFS:5:", 0), 0u) << floppy_last_error();
  EXPECT_EQ(floppy_write_boot_sector(), -1);
  dk::clear_sector_faults();
  dk::set_weak_sectors({20});
  ASSERT_EQ(floppy_prepare("A1F"), kFloppyOk);
  EXPECT_EQ(floppy_format_track(), -1);
  EXPECT_EQ(std::string(floppy_last_error()).rfind("FMTVERDFS:5:", 0), 0u) << floppy_last_error();
  EXPECT_EQ(floppy_write_boot_sector(), -1);
}

// Stopped part-way, a format leaves no file system behind: the diskette
// cannot be mistaken for a prepared one.
TEST_F(FloppyTest, CancelledFormatWritesNoBootSector) {
  spill(image, std::string(1474560, '\0'));
  ASSERT_EQ(floppy_prepare("A1F"), kFloppyOk);
  for (int i = 0; i < 10; ++i) ASSERT_GT(floppy_format_track(), 0);
  EXPECT_EQ(floppy_write_boot_sector(), 0);
  const std::string img = slurp(image);
  EXPECT_TRUE(img.substr(0, 512) == std::string(512, '\xF6'));
  EXPECT_NE(fsck(), "");
  EXPECT_FALSE(dk::volume_locked('A'));
}

TEST_F(FloppyTest, ErrorTextIsTaggedAndBounded) {
  EXPECT_STREQ(floppy_error_text(2, "QFSRD"), "QFSRD:2:No such file or directory");
  EXPECT_STREQ(floppy_error_text(30, nullptr), ":30:Read-only file system");
  EXPECT_EQ(std::strlen(floppy_error_text(97, "GETDRVPARAM")), 40u);
  // A write-protected diskette fails the erase's write with its reason.
  ASSERT_EQ(run("mformat -i " + quote(image) + " -C -f 1440 ::"), 0);
  ASSERT_EQ(::chmod(image.c_str(), 0444), 0);
  if (::access(image.c_str(), W_OK) == 0) GTEST_SKIP() << "root writes through a read-only mode";
  EXPECT_EQ(floppy_prepare("A1Q"), kFloppyFailed);
  EXPECT_EQ(std::string(floppy_last_error()).rfind("QFSWR:30:", 0), 0u) << floppy_last_error();
}
