#include <gtest/gtest.h>

#include <fstream>

#include "platform/paths.h"
#include "testsupport/temp_root.h"

using platform::map_path;

TEST(Paths, OneFileUnderEverySpelling) {
  testsupport::TempRoot root;
  root.write("C:\\STUDIES\\setup.hdw", "x");
  EXPECT_EQ(map_path("C:\\STUDIES\\setup.hdw"), map_path("c:\\studies\\SETUP.HDW"));
  EXPECT_EQ(map_path("c:/Studies/Setup.Hdw"), root.path() + "/c/STUDIES/setup.hdw");
  EXPECT_EQ(root.read("c:\\studies\\SETUP.HDW"), "x");
}

TEST(Paths, MissingComponentsKeepTheCaseWritten) {
  testsupport::TempRoot root;
  EXPECT_EQ(map_path("C:\\TEMP\\Log\\restore.log"), root.path() + "/c/TEMP/Log/restore.log");
  std::string p = platform::map_path_create_dirs("C:\\TEMP\\LOG\\restore.log");
  std::ofstream(p) << "x";
  EXPECT_TRUE(root.exists("c:\\temp\\log\\RESTORE.LOG"));
  // The folder now exists, so a later spelling finds it.
  EXPECT_EQ(map_path("c:\\temp\\"), root.path() + "/c/TEMP/");
}

TEST(Paths, DotsNeverClimbOutOfTheDrive) {
  testsupport::TempRoot root;
  EXPECT_EQ(map_path("C:\\..\\..\\etc\\passwd"), root.path() + "/c/etc/passwd");
  EXPECT_EQ(map_path("C:\\DATA\\.\\x\\..\\y"), root.path() + "/c/DATA/y");
}

TEST(Paths, RelativePathsStartAtTheCurrentDirectory) {
  testsupport::TempRoot root;
  EXPECT_EQ(map_path("_bmp\\menu_bkgd.bmp"), root.path() + "/c/PROGRAMS/_bmp/menu_bkgd.bmp");
  EXPECT_EQ(map_path("\\TEMP\\x"), root.path() + "/c/TEMP/x");
  EXPECT_EQ(map_path("/already/linux"), "/already/linux");
}

TEST(Paths, DrivesArePresentWhenTheirFolderExists) {
  testsupport::TempRoot root;
  EXPECT_TRUE(platform::drive_present('c'));
  EXPECT_FALSE(platform::drive_present('D'));
  platform::make_dirs(platform::drive_folder('D'));
  EXPECT_TRUE(platform::drive_present('d'));
  EXPECT_TRUE(platform::free_space("D:\\ZUDIDUDA\\x").has_value());
}

TEST(Paths, SplitKeepsTheSeparatorOnTheFolder) {
  EXPECT_EQ(platform::split_win_path("C:\\TEMP\\01.PRT"),
            (std::pair<std::string, std::string>{"C:\\TEMP\\", "01.PRT"}));
  EXPECT_EQ(platform::split_win_path("name"), (std::pair<std::string, std::string>{"", "name"}));
}
