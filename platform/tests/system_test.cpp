#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/find.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "testsupport/temp_root.h"

namespace {

void write_script(const std::string& win_path, const std::string& body) {
  const std::string p = platform::map_path_create_dirs(win_path);
  std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
  ::chmod(p.c_str(), 0755);
}

TEST(Find, WindowsWildcards) {
  using platform::wildcard_match;
  EXPECT_TRUE(wildcard_match("*.*", "noext"));
  EXPECT_TRUE(wildcard_match("*.PRT", "01.prt"));
  EXPECT_FALSE(wildcard_match("*.PRT", "01.prtx"));
  EXPECT_TRUE(wildcard_match("ZVT_????.ZIP", "zvt_0001.zip"));
  EXPECT_FALSE(wildcard_match("ZVT_????.ZIP", "zvt_001.zip"));
  EXPECT_TRUE(wildcard_match("18*.*", "18"));
  EXPECT_TRUE(wildcard_match("a*b*c", "aXXbYYc"));
  EXPECT_FALSE(wildcard_match("a*b*c", "aXXbYY"));
}

TEST(Find, ListsFilesAndFoldersWithTheirAttributes) {
  testsupport::TempRoot root;
  root.write("C:\\DATA\\b.PDF", "12345");
  root.write("C:\\DATA\\a.txt", "");
  platform::make_dirs(platform::map_path("C:\\DATA\\") + "sub");
  const auto all = platform::list_files("c:\\data\\*.*");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].name, "a.txt");
  EXPECT_EQ(all[1].name, "b.PDF");
  EXPECT_EQ(all[1].size, 5u);
  EXPECT_EQ(all[2].attributes & platform::kAttrDirectory, platform::kAttrDirectory);
  EXPECT_EQ(platform::list_files("C:\\DATA\\*.pdf").size(), 1u);
  EXPECT_TRUE(platform::list_files("C:\\NOWHERE\\*.*").empty());
}

TEST(Process, ExitStatusAndMissingProgram) {
  testsupport::TempRoot root;
  write_script("C:\\PROGRAMS\\TOOL", "echo \"$1|$2\" > \"$(dirname \"$0\")/args\"; exit 7");
  EXPECT_EQ(platform::run_program("c:\\programs\\tool", {"a b;c", "$(x)"}), 7);
  EXPECT_EQ(root.read("C:\\PROGRAMS\\args"), "a b;c|$(x)\n") << "arguments reach the program unchanged";
  EXPECT_EQ(platform::run_program("C:\\PROGRAMS\\MISSING", {}), platform::kNotStarted);
  write_script("C:\\PROGRAMS\\PPROC.sh", "exit 3");
  EXPECT_EQ(platform::run_program("C:\\PROGRAMS\\PPROC", {}), 3) << "found with an ending";
  EXPECT_EQ(platform::run_shell("exit 4"), 4);
  EXPECT_EQ(platform::run_shell("echo " + platform::shell_quote("it's") + " > /dev/null"), 0);
}

// Another process trying the same lock file, as a second copy would.
bool other_process_gets_lock(const std::string& file) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(file.c_str(), O_RDWR);
    _exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WEXITSTATUS(status) == 1;
}

TEST(InstanceLock, OnlyOneHolderAcrossProcesses) {
  testsupport::TempRoot root;
  ::setenv("XDG_RUNTIME_DIR", root.path().c_str(), 1);
  ASSERT_TRUE(platform::acquire_instance_lock("LOCKTEST"));
  const std::string file = root.path() + "/LOCKTEST.lock";
  EXPECT_FALSE(other_process_gets_lock(file));
  platform::release_instance_lock();
  EXPECT_TRUE(other_process_gets_lock(file));
}

}  // namespace
