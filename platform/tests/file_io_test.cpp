#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"

namespace {

std::string slurp(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void spit(const std::string& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::uint32_t fixed_names() {
  static std::uint32_t n = 0;
  return ++n;
}

// Stored files are only ever regular files: a FIFO (no writer) or a device
// in a record's place must not hang or feed the program.
TEST(FileIo, OnlyRegularFilesAreRead) {
  testsupport::TempRoot root;
  const std::string fifo = root.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(platform::read_file(fifo).has_value());
  char b[4];
  EXPECT_FALSE(platform::read_file_at(fifo, 0, b, sizeof b));
  EXPECT_FALSE(platform::read_file("/dev/zero", 16).has_value());
  EXPECT_FALSE(platform::read_file(root.path()).has_value()) << "a folder";

  spit(root.path() + "/f", "abcdefgh");
  ASSERT_TRUE(platform::read_file_at(root.path() + "/f", 2, b, 4));
  EXPECT_EQ(std::string(b, 4), "cdef");
  EXPECT_FALSE(platform::read_file_at(root.path() + "/f", 6, b, 4)) << "past the end is short";
}

// A link planted where the writer will put its temporary file is neither
// followed nor removed; the file is still written whole.
TEST(FileIo, PlantedLinkAtTheTemporaryNameIsNotFollowed) {
  testsupport::TempRoot root;
  const std::string target = root.path() + "/setup.hdw";
  const std::string victim = root.path() + "/victim";
  spit(victim, "precious");
  platform::set_temporary_name_source(fixed_names);
  const std::uint32_t next = fixed_names() + 1;
  char planted[64];
  std::snprintf(planted, sizeof planted, "/~setup.hdw.%08x.tmp~", static_cast<unsigned>(next));
  ASSERT_EQ(::symlink(victim.c_str(), (root.path() + planted).c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), (target + ".tmp~").c_str()), 0) << "the old fixed name";

  EXPECT_EQ(platform::write_file_atomic(target, "new", 3), 0);
  platform::set_temporary_name_source(nullptr);

  EXPECT_EQ(slurp(victim), "precious");
  EXPECT_EQ(slurp(target), "new");
  struct stat st;
  EXPECT_EQ(::lstat((root.path() + planted).c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  int temporaries = 0;
  for (const auto& f : platform::list_files(root.path() + "/*.*"))
    temporaries += f.name.size() > 5 && f.name.substr(f.name.size() - 5) == ".tmp~";
  EXPECT_EQ(temporaries, 2) << "only the two planted links; none of the writer's own";
}

// What a killed run left goes at the next start, in every folder of the
// root, without entering linked folders or touching other files.
TEST(FileIo, StaleTemporariesAreRemoved) {
  testsupport::TempRoot root;
  root.write("c:\\studies\\setup.hdw", "keep");
  root.write("c:\\studies\\setup.hdw.1a2b3c4d.tmp~", "half");
  root.write("d:\\zududa\\1.abc.00000001.tmp~", "half");
  root.write("d:\\zududa\\notes.tmp", "keep");
  const std::string outside = root.path() + "-outside";
  ASSERT_TRUE(platform::make_dirs(outside));
  spit(outside + "/x.tmp~", "outside");
  ASSERT_EQ(::symlink(outside.c_str(), (root.path() + "/c/elsewhere").c_str()), 0);

  EXPECT_EQ(platform::remove_stale_temporaries(root.path()), 2);
  EXPECT_TRUE(root.exists("c:\\studies\\setup.hdw"));
  EXPECT_TRUE(root.exists("d:\\zududa\\notes.tmp"));
  EXPECT_FALSE(root.exists("c:\\studies\\setup.hdw.1a2b3c4d.tmp~"));
  EXPECT_FALSE(root.exists("d:\\zududa\\1.abc.00000001.tmp~"));
  EXPECT_EQ(slurp(outside + "/x.tmp~"), "outside");
  testsupport::remove_tree(outside);
}

// The hook fails exactly the step it was armed for, with its errno; the old
// file stays and the temporary goes.  Past the armed step nothing fails.
TEST(FileIo, ArmedFaultFailsTheNthStepOnly) {
  testsupport::TempRoot root;
  const std::string f = root.path() + "/f";
  spit(f, "old");
  for (const int nth : {1, 2, 3}) {
    platform::arm_write_fault(nth, ENOSPC);
    EXPECT_EQ(platform::write_file_atomic(f, "new", 3), -ENOSPC) << nth;
    EXPECT_EQ(platform::write_fault_steps(), nth);
    EXPECT_EQ(slurp(f), "old");
  }
  platform::arm_write_fault(4, ENOSPC);
  EXPECT_EQ(platform::write_file_atomic(f, "new", 3), 0);
  EXPECT_EQ(platform::write_fault_steps(), 3) << "write, flush, rename";
  platform::disarm_write_fault();
  EXPECT_EQ(slurp(f), "new");
  EXPECT_EQ(platform::remove_stale_temporaries(root.path()), 0);
}

// The fault loop itself finds what it is for: a writer that writes in place
// leaves torn files, one that drops an error reports success falsely.
TEST(FileIo, FaultLoopFindsTornFilesAndFalseSuccess) {
  testsupport::TempRoot root;
  const std::string f = root.path() + "/f";
  const auto failures = [&](const std::function<bool()>& writer) {
    ::testing::TestPartResultArray results;
    {
      ::testing::ScopedFakeTestPartResultReporter intercept(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      testsupport::check_write_faults(root.path(), {{f}}, [&] { spit(f, "old contents"); }, writer);
    }
    std::string all;
    for (int i = 0; i < results.size(); ++i) all += results.GetTestPartResult(i).message();
    return all;
  };
  EXPECT_NE(failures([&] {
              const int fd = ::open(f.c_str(), O_WRONLY | O_TRUNC);
              const bool ok = platform::write_all(fd, "new contents", 12) == 0;
              ::close(fd);
              return ok;
            }).find("is neither the old nor the new file"),
            std::string::npos);
  EXPECT_NE(failures([&] {
              (void)platform::write_file_atomic(f, "new contents", 12);
              return true;
            }).find("reported success with files not written"),
            std::string::npos);
  EXPECT_EQ(failures([&] { return platform::write_file_atomic(f, "new contents", 12) == 0; }), "");
}

}  // namespace

namespace {

// What each change of a folder meets there, as the file layer reports it:
// create, write (1: not all of it), atomic write, rename, new folder,
// delete, read.
std::vector<int> changes_in(const std::string& win_folder) {
  std::vector<int> r;
  const int h = platform::file_open(win_folder + "\\NEW", platform::OpenMode::kCreateAlways);
  r.push_back(h < 0 ? h : 0);
  const int w = platform::file_open(win_folder + "\\OLD", platform::OpenMode::kReadWrite);
  // More than the file's first block holds: a full file system takes a
  // part of it, or none, but never all.
  const std::string bytes(8192, 'x');
  r.push_back(w < 0 ? w : platform::file_write(w, bytes.data(), bytes.size()) == 8192 ? 0 : 1);
  if (h >= 0) (void)platform::file_close(h);
  if (w >= 0) (void)platform::file_close(w);
  r.push_back(platform::write_file_atomic(platform::map_path(win_folder + "\\ATOMIC"), "data", 4));
  r.push_back(platform::file_rename(win_folder + "\\OLD", win_folder + "\\OLD2"));
  r.push_back(platform::dir_create(win_folder + "\\SUB"));
  r.push_back(platform::file_delete(win_folder + "\\KEEP"));
  const int rd = platform::file_open(win_folder + "\\KEEP2", platform::OpenMode::kRead);
  r.push_back(rd < 0 ? rd : 0);
  if (rd >= 0) (void)platform::file_close(rd);
  return r;
}

}  // namespace

// The folder fault answers every change as a real full or read-only file
// system does, the kernel's own tmpfs being the judge where this test may
// mount one; elsewhere the hook alone is held to what the kernel said here.
TEST(FileIo, FolderFaultActsAsAFullOrReadOnlyFileSystem) {
  testsupport::TempRoot root;
  const std::vector<int> full = {0, 1, -ENOSPC, 0, 0, 0, 0};
  const std::vector<int> read_only = {-EROFS, -EROFS, -EROFS, -EROFS, -EROFS, -EROFS, 0};
  for (const int error : {ENOSPC, EROFS}) {
    SCOPED_TRACE(error);
    for (const char* f : {"OLD", "KEEP", "KEEP2"}) root.write(std::string("C:\\HOOK\\") + f, "old");
    platform::arm_folder_fault(platform::map_path("C:\\HOOK"), error);
    const std::vector<int> hooked = changes_in("C:\\HOOK");
    platform::arm_folder_fault("", 0);
    EXPECT_EQ(hooked, error == ENOSPC ? full : read_only);
    EXPECT_EQ(root.read("C:\\HOOK\\KEEP"), error == ENOSPC ? "" : "old");
    testsupport::remove_tree(platform::map_path("C:\\HOOK"));

    const std::string real = platform::map_path_create_dirs("C:\\REAL\\");
    if (::mount("tmpfs", real.c_str(), "tmpfs", 0, "size=64k") != 0) continue;
    for (const char* f : {"OLD", "KEEP", "KEEP2"}) root.write(std::string("C:\\REAL\\") + f, "old");
    if (error == ENOSPC) {
      std::ofstream fill(real + "/fill", std::ios::binary);
      const std::string page(4096, 'x');
      for (int i = 0; i < 32 && fill.write(page.data(), page.size()).flush(); ++i) {
      }
    } else if (::mount(nullptr, real.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      ADD_FAILURE() << "the tmpfs does not turn read-only";
    }
    EXPECT_EQ(changes_in("C:\\REAL"), hooked) << "the kernel's answers";
    EXPECT_EQ(::umount(real.c_str()), 0);
  }
}
