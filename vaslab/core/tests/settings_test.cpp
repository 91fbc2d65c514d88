#include "vaslab/core/settings/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <string>

#include "platform/find.h"
#include "platform/paths.h"
#include "testsupport/generator.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"

namespace vaslab {
namespace {

constexpr const char* kFile = "c:\\studies\\setup.hdw";

// Every test starts from a scratch drive and a record full of junk, so that
// nothing a test sees can come from a previous one.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&rec_, 0xA5, sizeof rec_);
    set_hardware_settings(&rec_);
    runtime_volume() = 0;
  }
  void TearDown() override { set_hardware_settings(nullptr); }

  std::string encoded() const {
    std::string out(kHardwareSettingsSize, '\0');
    encode_hardware_settings(rec_, reinterpret_cast<std::uint8_t*>(out.data()));
    return out;
  }
  std::string defaults() const {
    return std::string(reinterpret_cast<const char*>(hardware_settings_defaults_image()),
                       kHardwareSettingsSize);
  }

  testsupport::TempRoot root_;
  HardwareSettings rec_;
};

TEST_F(SettingsTest, MissingFileBecomesTheDefaultsImage) {
  std::string expected =
      testsupport::run_generator("vaslab/core/tests/settings_image.py", root_.path(), "defaults");
  ASSERT_EQ(expected.size(), kHardwareSettingsSize);
  EXPECT_EQ(defaults(), expected);

  read_hardware_settings();
  EXPECT_EQ(root_.read(kFile), expected);

  // An empty file is completed the same way.
  root_.write(kFile, "");
  std::memset(&rec_, 0xA5, sizeof rec_);
  read_hardware_settings();
  EXPECT_EQ(root_.read(kFile), expected);
  EXPECT_EQ(rec_.touch_type, 2);
  EXPECT_EQ(rec_.vascular_port, 0x2F8);
  EXPECT_STREQ(rec_.archive_path_1, "C:\\ARCHIVE\\");
  EXPECT_STREQ(rec_.import_text, "Other Text");
  EXPECT_EQ(rec_.inflate_delay, 20);
}

TEST_F(SettingsTest, ShortFilesAreCompletedAndWrittenBack) {
  std::string img = defaults();
  // An older-layout file: export path 1 at 269, recognisable bytes elsewhere.
  std::memcpy(&img[269], "D:\\OLDEXP\\", 10);
  std::memcpy(&img[198], "XYZ", 4);
  img[12] = 0x11;
  img[300] = 7;

  // 300 bytes: everything below 300 is kept (archive_ext_2 included), 300..367
  // takes the defaults, 368..398 the old export path.
  root_.write(kFile, img.substr(0, 300));
  read_hardware_settings();
  EXPECT_STREQ(rec_.archive_ext_2, "XYZ");
  EXPECT_EQ(rec_.right_bp_offset, 0x11);
  EXPECT_EQ(rec_.inflate_delay, 20);
  EXPECT_EQ(rec_.deflate_delay, 20);
  EXPECT_STREQ(rec_.export_path_1, "D:\\OLDEXP\\");
  // The written-back file holds the completed record; the data directory
  // stays out of it.
  EXPECT_EQ(root_.read(kFile).size(), kHardwareSettingsSize);
  EXPECT_EQ(root_.read(kFile).substr(0, 760), encoded().substr(0, 760));
  EXPECT_EQ(root_.read(kFile).substr(760), defaults().substr(760));

  // 368 bytes: still the older layout.
  img[300] = 7;
  root_.write(kFile, img.substr(0, 368));
  read_hardware_settings();
  EXPECT_EQ(rec_.inflate_delay, 7);
  EXPECT_STREQ(rec_.export_path_1, "D:\\OLDEXP\\");
  EXPECT_EQ(rec_.spectral_mute_switch, 1);

  // 369 bytes: offset 368 is the file's, nothing is copied from 269.
  img[368] = 'Q';
  root_.write(kFile, img.substr(0, 369));
  read_hardware_settings();
  EXPECT_STREQ(rec_.export_path_1, "Q");
  EXPECT_EQ(root_.read(kFile)[368], 'Q');
  EXPECT_EQ(root_.read(kFile)[369], '\0');

  // A file cut inside the first block takes defaults from there on.
  root_.write(kFile, img.substr(0, 13));
  read_hardware_settings();
  EXPECT_EQ(rec_.right_bp_offset, 0x11);
  EXPECT_EQ(rec_.right_bp_span, 0x80);
  EXPECT_STREQ(rec_.archive_ext_2, "ZVT");
}

TEST_F(SettingsTest, LongFileIsReadAsItsFirst856BytesAndLeftAlone) {
  std::string img = defaults();
  img[824] = 0x15;
  std::string file = img + "trailing junk";
  root_.write(kFile, file);
  read_hardware_settings();
  EXPECT_EQ(rec_.option_bits, 0x15);
  EXPECT_EQ(encoded().substr(0, 760), img.substr(0, 760));
  EXPECT_EQ(root_.read(kFile), file);
}

TEST_F(SettingsTest, DataDirectoryAndTextNulsNeverComeFromTheFile) {
  std::string img = defaults();
  std::memset(&img[760], 'X', 64);   // a data directory, unterminated
  std::memset(&img[826], 'F', 30);   // facility name filling its field
  std::memset(&img[16], 'P', 64);    // print control filling its field
  root_.write(kFile, img);
  std::strcpy(rec_.data_directory, "C:\\DATA\\");
  read_hardware_settings();
  EXPECT_STREQ(rec_.data_directory, "C:\\DATA\\");
  EXPECT_EQ(std::strlen(rec_.facility_name), 29u);
  EXPECT_EQ(std::strlen(rec_.print_control), 63u);
}

TEST_F(SettingsTest, RoundTripAndRunTimeCopies) {
  read_hardware_settings();
  std::strcpy(rec_.shutdown_run, "C:\\PROGRAMS\\OFF.BAT");
  std::strcpy(rec_.export_path_2, "E:\\OUT\\");
  rec_.touch_x_offset = -123;
  rec_.touch_x_scale = 31000;
  rec_.touch_y_offset = 77;
  rec_.touch_y_scale = -2;
  rec_.touch_cal_extra = 3;
  rec_.dio_out_port = 0x378;
  rec_.import_code = 0x0B;
  runtime_volume() = -7;
  ASSERT_EQ(write_hardware_settings(), 0);
  EXPECT_EQ(rec_.volume, -7);
  const std::string file = root_.read(kFile);
  EXPECT_EQ(file, encoded());
  // Little-endian on disk, whatever the host.
  EXPECT_EQ(static_cast<std::uint8_t>(file[0]), 0xF9);
  EXPECT_EQ(static_cast<std::uint8_t>(file[1]), 0xFF);
  EXPECT_EQ(static_cast<std::uint8_t>(file[86]), 0x78);
  EXPECT_EQ(static_cast<std::uint8_t>(file[87]), 0x03);

  HardwareSettings before = rec_;
  std::memset(&rec_, 0, sizeof rec_);
  runtime_volume() = 0;
  read_hardware_settings();
  EXPECT_EQ(std::memcmp(&before, &rec_, sizeof rec_ - sizeof rec_.facility_name - 2 - 64), 0);
  EXPECT_EQ(encoded().substr(0, 760), file.substr(0, 760));
  EXPECT_EQ(runtime_volume(), -7);
  EXPECT_EQ(runtime_touch_calibration().x_offset, -123);
  EXPECT_EQ(runtime_touch_calibration().x_scale, 31000);
  EXPECT_EQ(runtime_touch_calibration().y_offset, 77);
  EXPECT_EQ(runtime_touch_calibration().y_scale, -2);
  EXPECT_EQ(runtime_touch_calibration().extra, 3);
}

// A write that cannot complete must say so and leave the stored calibration
// as it was, so the next start does not fall back to defaults.
TEST_F(SettingsTest, FailedWriteLeavesTheOldFileWhole) {
  std::string img = defaults();
  img[2] = 0x42;
  root_.write(kFile, img);
  read_hardware_settings();
  rec_.touch_x_offset = 99;

  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 500;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int rc = write_hardware_settings();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_LT(rc, 0);
  EXPECT_EQ(root_.read(kFile), img);
  for (const auto& f : platform::list_files("c:\\studies\\*.*"))
    EXPECT_EQ(f.name, "setup.hdw") << "no temporary left behind";

  // Killed or failed at any write, flush or rename: the old file or the new.
  const testsupport::StoredFile stored{platform::map_path_create_dirs(kFile)};
  EXPECT_EQ(testsupport::check_write_faults(
                root_.path(), {stored},
                [&] {
                  root_.write(kFile, img);
                  read_hardware_settings();
                  rec_.touch_x_offset = 99;
                },
                [] { return write_hardware_settings() == 0; }),
            3);

  // A folder where the file should be: refused, nothing else touched.
  testsupport::remove_tree(root_.path() + "/c/studies");
  root_.write("c:\\studies\\setup.hdw\\x", "");
  EXPECT_LT(write_hardware_settings(), 0);
}

}  // namespace
}  // namespace vaslab
