#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/diskette.h"
#include "testsupport/temp_root.h"

namespace dk = platform::diskette;

namespace {

constexpr std::uint64_t k144 = 1474560;

class DisketteRaw : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("VASLAB_DRIVE_A");
    dk::dismount_volume('A');
    image_ = root_.path() + "/a.img";
    blank(image_, k144);
  }
  void TearDown() override {
    dk::unlock_volume('A');
    dk::dismount_volume('A');
    dk::clear_sector_faults();
  }
  static void blank(const std::string& path, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
  }
  testsupport::TempRoot root_;
  std::string image_;
};

TEST_F(DisketteRaw, DriveIsTheImageAtItsPath) {
  EXPECT_EQ(dk::drive_path(), image_);
  EXPECT_TRUE(dk::drive_present('a'));
  EXPECT_FALSE(dk::drive_present('B'));
  EXPECT_FALSE(dk::drive_present('C'));

  const std::string other = root_.path() + "/other.img";
  ::setenv("VASLAB_DRIVE_A", other.c_str(), 1);
  EXPECT_FALSE(dk::drive_present('A')) << "no file, no diskette";
  std::uint8_t s[512];
  EXPECT_EQ(dk::read_sectors('A', 0, 1, s), -ENOMEDIUM);
  blank(other, 737280);
  ASSERT_TRUE(dk::current_geometry('A'));
  EXPECT_EQ(dk::current_geometry('A')->media, dk::MediaType::k35_720K);
  ::unsetenv("VASLAB_DRIVE_A");
  EXPECT_EQ(dk::read_sectors('B', 0, 1, s), -ENODEV);
}

// A high-density drive offers both densities, the larger last, as the
// formatter's choice of medium expects.
TEST_F(DisketteRaw, FormattingFillsTracksAndSizesTheImage) {
  const auto media = dk::media_types('A');
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[0].media, dk::MediaType::k35_720K);
  EXPECT_EQ(media[1].capacity(), k144);
  EXPECT_TRUE(dk::media_types('C').empty());

  EXPECT_EQ(dk::format_tracks('A', dk::MediaType::k35_1440K, 0, 0, 0, 1), -EACCES) << "needs the lock";
  ASSERT_EQ(dk::lock_volume('A'), 0);
  EXPECT_EQ(dk::format_tracks('A', dk::MediaType::k35_2880K, 0, 0, 0, 1), -EINVAL) << "not offered";
  EXPECT_EQ(dk::format_tracks('A', dk::MediaType::k35_720K, 0, 80, 0, 1), -EINVAL) << "cylinder 80";
  for (std::uint32_t c = 0; c < 80; ++c) ASSERT_EQ(dk::format_tracks('A', dk::MediaType::k35_720K, c, c, 0, 1), 0);
  struct stat st;
  ASSERT_EQ(::stat(image_.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 737280) << "the image takes the formatted medium's size";
  std::vector<std::uint8_t> all(1440 * 512);
  ASSERT_EQ(dk::read_sectors('A', 0, 1440, all.data()), 0);
  EXPECT_EQ(std::count(all.begin(), all.end(), dk::kFormatFiller), static_cast<long>(all.size()));
  EXPECT_EQ(dk::read_sectors('A', 1440, 1, all.data()), -EIO) << "past the medium";
  ASSERT_EQ(dk::unlock_volume('A'), 0);
}

TEST_F(DisketteRaw, SectorWritesNeedTheLockThatOthersCanHold) {
  std::vector<std::uint8_t> out(1024, 0x11), in(1024);
  EXPECT_EQ(dk::write_sectors('A', 5, 2, out.data()), -EACCES);

  // Another program holding the drive keeps this one from locking it.
  const int other = ::open(image_.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  EXPECT_EQ(dk::lock_volume('A'), -EBUSY);
  ::close(other);

  ASSERT_EQ(dk::lock_volume('A'), 0);
  EXPECT_TRUE(dk::volume_locked('A'));
  ASSERT_EQ(dk::write_sectors('A', 5, 2, out.data()), 0);
  ASSERT_EQ(dk::read_sectors('A', 5, 2, in.data()), 0);
  EXPECT_EQ(in, out);
  EXPECT_EQ(dk::write_sectors('A', 2879, 2, out.data()), -EIO) << "the last sector and one beyond";
  // The lock is the program's: a second handle on the image cannot take it.
  const int again = ::open(image_.c_str(), O_RDONLY);
  EXPECT_NE(::flock(again, LOCK_SH | LOCK_NB), 0);
  ::close(again);
  ASSERT_EQ(dk::unlock_volume('A'), 0);
  EXPECT_EQ(dk::write_sectors('A', 5, 2, out.data()), -EACCES);
}

TEST_F(DisketteRaw, BadWeakAndWriteProtectedSectors) {
  ASSERT_EQ(dk::lock_volume('A'), 0);
  std::vector<std::uint8_t> out(512, 0x42), in(512);
  dk::set_bad_sectors({100});
  dk::set_weak_sectors({200});
  EXPECT_EQ(dk::write_sectors('A', 99, 2, std::vector<std::uint8_t>(1024).data()), -EIO);
  EXPECT_EQ(dk::read_sectors('A', 100, 1, in.data()), -EIO);
  ASSERT_EQ(dk::write_sectors('A', 200, 1, out.data()), 0);
  ASSERT_EQ(dk::read_sectors('A', 200, 1, in.data()), 0);
  EXPECT_NE(in, out) << "a weak sector reads back other bytes";
  ASSERT_EQ(dk::format_tracks('A', dk::MediaType::k35_1440K, 5, 5, 1, 1), 0);
  ASSERT_EQ(dk::read_sectors('A', 200, 1, in.data()), 0);
  EXPECT_NE(in[0], dk::kFormatFiller) << "nor what was formatted";
  dk::clear_sector_faults();
  ASSERT_EQ(dk::read_sectors('A', 100, 1, in.data()), 0);

  // Write protection is the image's mode, checked by the layer itself
  // (root writes anything), and it can be lifted while the drive is open.
  ASSERT_EQ(::chmod(image_.c_str(), 0444), 0);
  EXPECT_TRUE(dk::write_protected('A'));
  EXPECT_EQ(dk::write_sectors('A', 1, 1, out.data()), -EROFS);
  EXPECT_EQ(dk::format_tracks('A', dk::MediaType::k35_1440K, 0, 0, 0, 1), -EROFS);
  ASSERT_EQ(dk::read_sectors('A', 1, 1, in.data()), 0) << "reading goes on";
  ASSERT_EQ(::chmod(image_.c_str(), 0644), 0);
  EXPECT_FALSE(dk::write_protected('A'));
  EXPECT_EQ(dk::write_sectors('A', 1, 1, out.data()), 0);
}

// A diskette change is a new file at the same path; a locked drive keeps
// the diskette it locked until it is unlocked.
TEST_F(DisketteRaw, NewImageAtThePathIsTheNextDiskette) {
  std::uint8_t s[512];
  ASSERT_EQ(dk::read_sectors('A', 1439, 1, s), 0);
  const std::string next = root_.path() + "/next.img";
  blank(next, 737280);
  ASSERT_EQ(::rename(next.c_str(), image_.c_str()), 0);
  EXPECT_EQ(dk::read_sectors('A', 1440, 1, s), -EIO) << "the 720 KB disk is read now";

  ASSERT_EQ(dk::lock_volume('A'), 0);
  ASSERT_EQ(dk::dismount_volume('A'), 0);
  blank(next, k144);
  ASSERT_EQ(::rename(next.c_str(), image_.c_str()), 0);
  EXPECT_EQ(dk::read_sectors('A', 1440, 1, s), -EIO) << "still the locked disk";
  ASSERT_EQ(dk::unlock_volume('A'), 0);
  EXPECT_EQ(dk::read_sectors('A', 1440, 1, s), 0);
}

}  // namespace
