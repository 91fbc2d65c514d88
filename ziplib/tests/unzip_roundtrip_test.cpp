// The decompressor reading what the library's own compressor wrote: every
// method the compressor writes, passwords and folder entries come back as
// they went in.
#include "ziplib/tests/zip_archive_support.h"

#include "platform/find.h"
#include "ziplib/unziplib.h"

#include <cstdlib>

namespace {

using namespace ziptest;

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
      ASSERT_NO_FATAL_FAILURE(compress_tree(zip, level, password));

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

namespace {

using namespace ziptest;

std::string crlf_of(const std::string& lf) {
  std::string out;
  for (char c : lf) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

int cancel_questions(int type, int, int, int, char*, char*, void*) {
  return type == 13 ? 0 : type == 9 ? ziplib::IDCANCEL : ziplib::IDOK;
}

// LF lines come out as CR LF whether the writer or the reader translated
// them, and the CRC check holds on each side of the translation.
TEST_F(RoundTrip, TextModeOnEitherSideGivesCrLfLines) {
  const std::string lines = text_lines(20000, 7), notes = "first\nsecond\n\nlast";
  write("C:\\WORK\\TREE\\LINES.TXT", lines);
  write("C:\\WORK\\TREE\\sub\\notes.txt", notes);
  ASSERT_NO_FATAL_FAILURE(compress_tree("C:\\OUT\\WRITER.ZIP", 6, "Pulse-42", true));
  ASSERT_NO_FATAL_FAILURE(compress_tree("C:\\OUT\\PLAIN.ZIP", 6, "Pulse-42"));
  for (bool reader_text : {false, true}) {
    SCOPED_TRACE(reader_text ? "translated by the reader" : "translated by the writer");
    const std::string zip = reader_text ? "C:\\OUT\\PLAIN.ZIP" : "C:\\OUT\\WRITER.ZIP";
    const std::string dest = reader_text ? "C:\\X\\READER" : "C:\\X\\WRITER";
    UNZIPCMDSTRUCT c = unzip_command(UNZIP_EXTRACT, zip, "Pulse-42");
    c.lpszDestination = dest.c_str();
    c.convertLFtoCRLFFlag = reader_text;
    ASSERT_EQ(unzipCommand(&c), 0);
    EXPECT_TRUE(read_all(linux_path(dest + "\\LINES.TXT")) == crlf_of(lines));
    EXPECT_EQ(read_all(linux_path(dest + "\\sub\\notes.txt")), crlf_of(notes));
  }

  // A wrong password (one whose check byte differs, found by testing
  // quietly): the question, Cancel, 44, and nothing under the name.
  UNZIPCMDSTRUCT c = unzip_command(UNZIP_EXTRACT, "C:\\OUT\\WRITER.ZIP", "wrong0");
  c.lpszFilespec = nullptr;
  c.index = 0;
  c.testFlag = 1;
  c.quietFlag = 1;
  std::string wrong;
  for (int i = 0; i < 8 && wrong.empty(); ++i) {
    const std::string w = "wrong" + std::to_string(i);
    c.lpszDecryptCode = w.c_str();
    if (unzipCommand(&c) == 49) wrong = w;
  }
  ASSERT_FALSE(wrong.empty());
  c.lpszDecryptCode = wrong.c_str();
  c.testFlag = 0;
  c.quietFlag = 0;
  c.lpszDestination = "C:\\X\\WRONG";
  c.lpMessageDisplay = cancel_questions;
  EXPECT_EQ(unzipCommand(&c), 44);
  EXPECT_FALSE(platform::file_facts("C:\\X\\WRONG\\LINES.TXT"));
  EXPECT_FALSE(platform::file_facts("C:\\X\\WRONG\\sub\\notes.txt"));
}

}  // namespace
