// The diskette formatter against the outside FAT tools: what it leaves on a
// zero-filled image is an empty FAT12 diskette that fsck.fat and mtools
// accept, with the boot record the medium needs.
#include "ziplib/tests/zip_archive_support.h"
#include "platform/diskette.h"
#include "platform/le_bytes.h"
#include "ziplib/zip_format.h"
#include "ziplib/zip_volume.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace ziptest;
namespace dk = platform::diskette;

int g_cancel_at = -1;
int g_cylinders_seen = 0;
int cancel_at(const char* text, int, void*) {
  if (std::strncmp(text, "Formatting Cylinder", 19) != 0) return 0;
  return g_cylinders_seen++ == g_cancel_at;
}

class Formatter : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    ::unsetenv("VASLAB_DRIVE_A");
    dk::dismount_volume('A');
    image_ = dk::drive_path();
    const int fd = ::open(image_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1474560), 0);
    ::close(fd);
    g_cancel_at = -1;
    g_cylinders_seen = 0;
  }
  void TearDown() override {
    dk::unlock_volume('A');
    dk::dismount_volume('A');
    ArchiveTest::TearDown();
  }
  ziplib::ZipState& state() { return *ziplib::zip_current_state(); }
  std::string boot() const { return read_all(image_).substr(0, 512); }
  std::string image_;
};

TEST_F(Formatter, ZeroFilledImageBecomesAnEmptyDisketteOfEitherDensity) {
  if (!have("fsck.fat") || !have("mdir")) GTEST_SKIP() << "dosfstools or mtools missing";
  const std::string img = shell_quote(image_);
  for (const bool lower : {false, true}) {
    SCOPED_TRACE(lower);
    ASSERT_TRUE(ziplib::zipFormatVolume(1, lower, state()));
    EXPECT_FALSE(dk::volume_locked('A'));
    std::string out;
    EXPECT_EQ(run("fsck.fat -n " + img, &out), 0) << out;
    EXPECT_EQ(run("mdir -i " + img + " ::", &out), 0) << out;
    EXPECT_NE(out.find("No files"), std::string::npos) << out;
    EXPECT_NE(out.find("Volume in drive : is ARCLYNX_200"), std::string::npos) << out;
    EXPECT_NE(out.find(lower ? "730 112 bytes free" : "1 457 664 bytes free"), std::string::npos) << out;

    const std::string b = boot();
    const auto* p = reinterpret_cast<const std::uint8_t*>(b.data());
    EXPECT_EQ(b.substr(0, 11), std::string("\xEB\x3C\x90REDUDIZ2"));
    // bytes/sector, sectors/cluster, reserved, FATs, root entries, total,
    // media, sectors/FAT, sectors/track, heads, hidden, 32-bit total
    EXPECT_EQ(platform::get_u16le(p + 11), 512);
    EXPECT_EQ(p[13], lower ? 2 : 1);
    EXPECT_EQ(platform::get_u16le(p + 14), 1);
    EXPECT_EQ(p[16], 2);
    EXPECT_EQ(platform::get_u16le(p + 17), lower ? 112 : 224);
    EXPECT_EQ(platform::get_u16le(p + 19), lower ? 1440 : 2880);
    EXPECT_EQ(p[21], lower ? 0xF9 : 0xF0);
    EXPECT_EQ(platform::get_u16le(p + 22), lower ? 3 : 9);
    EXPECT_EQ(platform::get_u16le(p + 24), lower ? 9 : 18);
    EXPECT_EQ(platform::get_u16le(p + 26), 2);
    EXPECT_EQ(platform::get_u32le(p + 28), 0u);
    EXPECT_EQ(platform::get_u32le(p + 32), 0u);
    EXPECT_EQ(b.substr(38, 1), "\x29");
    EXPECT_EQ(b.substr(43, 19), "ARCLYNX_200FAT12   ");
    EXPECT_NE(b.find("Korvani Q7 disk or disk error"), std::string::npos);
    EXPECT_EQ(b.substr(510), "\x55\xAA");
  }
}

TEST_F(Formatter, SerialDrivesAndCancel) {
  // 14:00 on 5 March 2024 with 0 ms: 2024 + 14 x 1024, 3 x 32 + 5.
  EXPECT_EQ(ziplib::zip_format_serial(2024, 3, 5, 14, 0), (16360u << 16) | 101u);
  EXPECT_EQ(ziplib::zip_format_serial(2024, 3, 5, 14, 999) & 0xFFFF, 200u);
  // Only the diskette drives are formatted.
  const std::string before = read_all(image_);
  EXPECT_FALSE(ziplib::zipFormatVolume(3, false, state()));
  EXPECT_FALSE(ziplib::zipFormatVolume(2, false, state())) << "there is no drive B:";
  // A cancel between cylinders fails the format and lets the volume go.
  state().major_proc = cancel_at;
  g_cancel_at = 5;
  EXPECT_FALSE(ziplib::zipFormatVolume(1, false, state()));
  state().major_proc = nullptr;
  EXPECT_EQ(g_cylinders_seen, 6);
  EXPECT_FALSE(dk::volume_locked('A'));
  EXPECT_EQ(dk::lock_volume('A'), 0);
  EXPECT_EQ(dk::unlock_volume('A'), 0);
}

// Drive 0 is the drive of the current directory, and only a diskette drive
// is formatted.
TEST_F(Formatter, DriveZeroIsTheCurrentDirectorysDrive) {
  const std::string before = read_all(image_);
  EXPECT_FALSE(ziplib::zipFormatVolume(0, false, state()));  // C:\WORK
  EXPECT_EQ(read_all(image_), before);
  platform::set_current_directory("a:\\");
  EXPECT_TRUE(ziplib::zipFormatVolume(0, false, state()));
  EXPECT_EQ(boot().substr(510), "\x55\xAA");
}

}  // namespace
