#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/library.h"
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

// Names of few letters (archive files such as "12.ZVT") are looked up by
// their spellings rather than by reading the folder: every spelling must
// still find the one file, and a missing name keep the case written.
TEST(Paths, FewLetteredNamesAreFoundUnderEverySpelling) {
  testsupport::TempRoot root;
  root.write("C:\\ARCHIVE\\12.zVt", "x");
  root.write("C:\\ARCHIVE\\ab", "y");
  for (const char* name : {"12.ZVT", "12.zvt", "12.Zvt", "12.zVt"})
    EXPECT_EQ(map_path(std::string("C:\\ARCHIVE\\") + name), root.path() + "/c/ARCHIVE/12.zVt") << name;
  EXPECT_EQ(map_path("c:\\archive\\AB"), root.path() + "/c/ARCHIVE/ab");
  EXPECT_EQ(map_path("C:\\ARCHIVE\\13.ZVT"), root.path() + "/c/ARCHIVE/13.ZVT");
  EXPECT_EQ(map_path("C:\\ARCHIVE\\13"), root.path() + "/c/ARCHIVE/13");
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

TEST(Paths, AListingScopeSeesWhatTheFileLayerChanges) {
  testsupport::TempRoot root;
  root.write("C:\\DATA\\old.txt", "o");
  const std::string data = root.path() + "/c/DATA";
  platform::ListingCacheScope scope;
  EXPECT_EQ(map_path("C:\\data\\New.txt"), data + "/New.txt");
  // A folder made meanwhile is found under another spelling.
  ASSERT_EQ(platform::dir_create("C:\\DATA\\Sub"), 0);
  EXPECT_EQ(map_path("C:\\data\\SUB\\x"), data + "/Sub/x");
  // A file created is the same file under any spelling.
  const int fd = platform::file_open("C:\\DATA\\Sub\\Report.txt", platform::OpenMode::kCreateNew);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::file_close(fd), 0);
  EXPECT_EQ(platform::file_open("c:\\data\\sub\\REPORT.TXT", platform::OpenMode::kCreateNew), -EEXIST);
  // A renamed file answers to its new name only; a deleted one to none.
  ASSERT_EQ(platform::file_rename("C:\\DATA\\SUB\\report.txt", "C:\\DATA\\SUB\\Final.txt"), 0);
  EXPECT_EQ(map_path("C:\\DATA\\SUB\\REPORT.TXT"), data + "/Sub/REPORT.TXT");
  EXPECT_EQ(map_path("C:\\DATA\\SUB\\FINAL.TXT"), data + "/Sub/Final.txt");
  ASSERT_EQ(platform::file_delete("c:\\data\\sub\\final.txt"), 0);
  EXPECT_EQ(map_path("C:\\DATA\\SUB\\FINAL.TXT"), data + "/Sub/FINAL.TXT");
  // A remembered name gone under another spelling (not through the file
  // layer) is looked for again.
  ASSERT_EQ(::rename((data + "/old.txt").c_str(), (data + "/OLD.txt").c_str()), 0);
  EXPECT_EQ(map_path("C:\\DATA\\Old.Txt"), data + "/OLD.txt");
}

// Spellings of one name side by side (made by another program) in a
// listed folder: each maps onto itself, and as the file layer removes them
// the others answer for the name, until none is left.
TEST(Paths, AListingScopeKeepsEverySpellingOfAName) {
  testsupport::TempRoot root;
  const std::vector<std::string> names = {"Mixed.txt", "MIXED.TXT", "mixed.txt"};
  root.write("C:\\DATA\\keep.txt", "k");
  const std::string data = root.path() + "/c/DATA";
  for (const std::string& n : names) std::ofstream(data + "/" + n) << n;
  platform::ListingCacheScope scope;
  EXPECT_EQ(map_path("C:\\DATA\\new.txt"), data + "/new.txt");  // DATA is listed now
  EXPECT_FALSE(platform::file_facts("C:\\DATA\\new.txt"));
  for (const std::string& n : names) {
    EXPECT_EQ(map_path("C:\\DATA\\" + n), data + "/" + n);
    EXPECT_TRUE(platform::file_facts("C:\\DATA\\" + n)) << n;
  }
  std::vector<std::string> left = names;
  for (const std::string& n : names) {
    ASSERT_EQ(platform::file_delete("C:\\DATA\\" + n), 0) << n;
    left.erase(std::find(left.begin(), left.end(), n));
    const std::string got = map_path("C:\\DATA\\" + n);
    if (left.empty()) {
      EXPECT_EQ(got, data + "/" + n);
      EXPECT_FALSE(platform::file_facts("C:\\DATA\\" + n));
    } else {
      EXPECT_NE(std::find(left.begin(), left.end(), got.substr(data.size() + 1)), left.end()) << got;
      EXPECT_TRUE(platform::file_facts("C:\\DATA\\" + n)) << n;
    }
  }
  EXPECT_TRUE(platform::file_facts("C:\\data\\KEEP.TXT"));
}

// A scope over more folders than it keeps: a folder let go is read again,
// and what the file layer made there meanwhile is found under any spelling.
TEST(Paths, AScopeOverManyFoldersReadsAFolderAgainOnceLetGo) {
  testsupport::TempRoot root;
  const std::string c = root.path() + "/c";
  for (int i = 0; i < 100; ++i) root.write("C:\\F" + std::to_string(i) + "\\Name.TXT", "n");
  platform::ListingCacheScope scope;
  for (int i = 0; i < 100; ++i) {
    const std::string f = "F" + std::to_string(i);
    EXPECT_EQ(map_path("C:\\" + f + "\\name.txt"), c + "/" + f + "/Name.TXT");
    EXPECT_EQ(map_path("C:\\" + f + "\\gone.txt"), c + "/" + f + "/gone.txt");
  }
  for (int i : {0, 50, 99}) {
    const std::string f = "F" + std::to_string(i);
    const int fd = platform::file_open("C:\\" + f + "\\New.txt", platform::OpenMode::kCreateNew);
    ASSERT_GE(fd, 0) << f;
    EXPECT_EQ(platform::file_close(fd), 0);
    EXPECT_EQ(map_path("C:\\" + f + "\\NEW.TXT"), c + "/" + f + "/New.txt");
    EXPECT_TRUE(platform::file_facts("c:\\" + f + "\\new.TXT")) << f;
    EXPECT_EQ(map_path("C:\\" + f + "\\name.txt"), c + "/" + f + "/Name.TXT");
  }
}

TEST(Paths, AFolderRemovedInsideAScopeIsMadeAgain) {
  testsupport::TempRoot root;
  const std::string sub = root.path() + "/c/DATA/Sub";
  platform::ListingCacheScope scope;
  ASSERT_EQ(platform::dir_create("C:\\DATA\\Sub"), 0);
  EXPECT_EQ(map_path("C:\\DATA\\SUB\\new.txt"), sub + "/new.txt");  // Sub is listed now
  ASSERT_EQ(platform::dir_remove("C:\\DATA\\Sub"), 0);
  ASSERT_EQ(platform::dir_create("C:\\DATA\\Sub"), 0);
  struct stat st{};
  EXPECT_TRUE(::stat(sub.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
  const int fd = platform::file_open("C:\\DATA\\Sub\\new.txt", platform::OpenMode::kCreateNew);
  EXPECT_GE(fd, 0);
  if (fd >= 0) {
    EXPECT_EQ(platform::file_close(fd), 0);
  }
}

TEST(Paths, WithoutAScopeEveryChangeIsSeenAtOnce) {
  testsupport::TempRoot root;
  const std::string c = root.path() + "/c";
  EXPECT_EQ(map_path("C:\\Logs\\a.log"), c + "/Logs/a.log");
  root.write("C:\\LOGS\\A.LOG", "x");
  EXPECT_EQ(map_path("C:\\Logs\\a.log"), c + "/LOGS/A.LOG");
  // Both spellings there: the one written wins, at every level.
  ASSERT_TRUE(platform::make_dirs(c + "/Logs"));
  root.write("C:\\Logs\\a.log", "y");
  EXPECT_EQ(map_path("C:\\Logs\\a.log"), c + "/Logs/a.log");
  EXPECT_EQ(map_path("C:\\LOGS\\a.log\\"), c + "/LOGS/A.LOG/");
}

TEST(Paths, MakeDirsMakesOnlyWhatIsMissingAndStopsAtWhatCannotBeAFolder) {
  testsupport::TempRoot root;
  const std::string c = root.path() + "/c";
  EXPECT_TRUE(platform::make_dirs(c + "/a/b/c/d/"));
  EXPECT_TRUE(platform::make_dirs(c + "/a/b/c/d"));
  struct stat st{};
  EXPECT_TRUE(::stat((c + "/a/b/c/d").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
  root.write("C:\\file", "x");
  EXPECT_FALSE(platform::make_dirs(c + "/file"));
  EXPECT_FALSE(platform::make_dirs(c + "/file/below"));
  // A dangling link on the way ends it rather than looping.
  ASSERT_EQ(::symlink((c + "/nowhere").c_str(), (c + "/dangling").c_str()), 0);
  EXPECT_FALSE(platform::make_dirs(c + "/dangling/x/y"));
}

// A library named with a drive or a backslash is on the drives; one named by
// a Linux path is where that path says, relative or not.
TEST(Paths, LibraryNamesOfDrivesAndOfLinuxPaths) {
  testsupport::TempRoot root;
  EXPECT_EQ(platform::library_file("c:\\programs\\ovisp.dll"), map_path("c:\\programs\\ovisp.so"));
  EXPECT_EQ(platform::library_file("bin/ovrs232.dll"), "bin/ovrs232.so");
  EXPECT_EQ(platform::library_file("./ovusbdfu.dll"), "./ovusbdfu.so");
  EXPECT_EQ(platform::library_file("/opt/x/OvCanRM.dll"), "/opt/x/OvCanRM.so");
  EXPECT_EQ(platform::library_file("cdrvxd32"), platform::library_folder() + "/cdrvxd32.so");
  EXPECT_EQ(platform::library_file("libgs.so.10"), "libgs.so.10");
}
