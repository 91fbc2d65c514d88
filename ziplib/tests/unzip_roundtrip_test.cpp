// The decompressor reading what the library's own compressor wrote: every
// method the compressor writes, passwords and folder entries come back as
// they went in.
#include "ziplib/tests/zip_archive_support.h"

#include "platform/find.h"
#include "ziplib/unziplib.h"

#include <cstdlib>

namespace {

using namespace ziptest;
using ziplib::kSubRelativeNames;

class RoundTrip : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    unzipInit(nullptr);
    unzipAttachThread();
  }
  void TearDown() override {
    unzipDetachThread();
    ArchiveTest::TearDown();
  }

  // Writes C:\WORK\TREE into `zip` with the compressor.
  void compress(const std::string& zip, int level, const char* password, bool crlf = false) {
    ZIPCMDSTRUCT c = command(ZIP_ADD, zip, "TREE\\*.*");
    c.recurseFlag = 1;
    c.compFactor = level;
    c.encryptFlag = *password != 0;
    c.lpszEncryptCode = password;
    c.convertLFtoCRLFFlag = crlf;
    c.wZipSubOptions = kSubRelativeNames;
    ASSERT_EQ(zipCompress(&c), 0);
  }

  UNZIPCMDSTRUCT unzip_command(int function, const std::string& zip, const char* password) {
    unzip_zip_ = zip;
    UNZIPCMDSTRUCT c{};
    c.structSize = kUnzipCmdV170;
    c.Function = function;
    c.lpszZIPFile = unzip_zip_.c_str();
    c.index = -1;
    c.lpszFilespec = "*.*";
    c.recurseFlag = 1;
    c.overWriteFlag = 1;
    c.decryptFlag = *password != 0;
    c.lpszDecryptCode = password;
    c.lpMessageDisplay = record_prompt;
    return c;
  }

  std::string unzip_zip_;
};

TEST_F(RoundTrip, EveryLevelAndPasswordExtractsTheTreeWhole) {
  make_tree("C:\\WORK\\TREE");
  const auto source_time = platform::file_facts("C:\\WORK\\TREE\\sub\\noise.bin");
  ASSERT_TRUE(source_time);
  for (int level : {0, 1, 6, 9, 10, 19}) {
    for (const char* password : {"", "Pulse-42"}) {
      SCOPED_TRACE("level " + std::to_string(level) + " password '" + password + "'");
      const std::string name = "L" + std::to_string(level) + (*password ? "P" : "");
      const std::string zip = "C:\\OUT\\" + name + ".ZIP", dest = "C:\\X\\" + name;
      compress(zip, level, password);

      UNZIPCMDSTRUCT c = unzip_command(UNZIP_EXTRACT, zip, password);
      c.testFlag = 1;
      EXPECT_EQ(unzipCommand(&c), 0);

      c = unzip_command(UNZIP_EXTRACT, zip, password);
      c.lpszDestination = dest.c_str();
      ASSERT_EQ(unzipCommand(&c), 0);
      // Files, the empty folder's entry and names with blanks, byte for byte.
      std::string out;
      EXPECT_EQ(run("diff -r " + shell_quote(linux_path("C:\\WORK\\TREE")) + " " +
                        shell_quote(linux_path(dest)),
                    &out),
                0)
          << out;
      // The stored DOS time comes back as the file's time (2 s steps).
      const auto t = platform::file_facts(dest + "\\sub\\noise.bin");
      ASSERT_TRUE(t);
      EXPECT_LE(std::llabs(t->mtime - source_time->mtime), 2);

      // One item straight to memory, from an offset, through the same decoder.
      std::string block(1000, '\0');
      c = unzip_command(UNZIP_FILETOMEM, zip, password);
      c.lpszFilespec = "sub\\noise.bin";
      c.lpMemBlock = block.data();
      c.lMemBlockSize = static_cast<std::uint32_t>(block.size());
      c.lStartingOffset = 65000;
      ASSERT_EQ(unzipCommand(&c), 0);
      EXPECT_TRUE(block == pseudo_random(70000, 5).substr(65000, 1000));
    }
  }
}

}  // namespace
