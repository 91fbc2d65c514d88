#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

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
