// The decompressor against archives made by outside tools (zip, 7zz,
// python's zipfile), with unzip as the reference for what comes out.
#include "platform/diskette.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "testsupport/diskette_image.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"
#include "ziplib/unziplib.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace ziplib;

namespace {

struct Seen {
  int type, style, n1, n2;
  std::string text;
};
std::vector<Seen> g_seen;  // prompts (not text lookups)
std::vector<int> g_ids;    // every text looked up
std::vector<int> g_answers;  // answers to give, in turn; then 1
int g_boxes = 0, g_dialogs = 0;

int recorder(int type, int style, int n1, int n2, char* text, char*, void*) {
  if (type == 13) {
    g_ids.push_back(n1);
    return 0;
  }
  g_seen.push_back({type, style, n1, n2, text});
  if (g_answers.empty()) return 1;
  int a = g_answers.front();
  g_answers.erase(g_answers.begin());
  return a;
}
int counting_box(const char*, const char*, int) { return ++g_boxes, IDCANCEL; }
int counting_dialog(const char*, const char*) { return ++g_dialogs, IDNO; }

class Unzip : public ::testing::Test {
 protected:
  void SetUp() override {
    unzipInit(nullptr);
    unzipAttachThread();
    set_message_box(counting_box);
    set_unzip_overwrite_dialog(counting_dialog);
    set_windows_directory("C:\\WINDOWS");
    g_seen.clear();
    g_ids.clear();
    g_answers.clear();
    g_boxes = g_dialogs = 0;
    c_ = linux("C:\\");
    platform::make_dirs(c_);
  }
  void TearDown() override {
    set_message_box(nullptr);
    set_unzip_overwrite_dialog(nullptr);
    unzipDetachThread();
  }
  static std::string linux(const std::string& win) { return platform::map_path(win); }
  // Runs a shell command in C:\ ; its exit status.
  int sh(const std::string& cmd) const { return std::system(("cd '" + c_ + "' && " + cmd).c_str()); }
  std::string read(const std::string& win) const { return root_.read(win); }

  UNZIPCMDSTRUCT cmd(int function, const char* zip) {
    UNZIPCMDSTRUCT c{};
    c.structSize = kUnzipCmdV170;
    c.Function = function;
    c.lpszZIPFile = zip;
    c.index = -1;
    c.lpMessageDisplay = recorder;
    return c;
  }
  int extract_all(const char* zip, const char* dest, std::uint16_t options = 0) {
    UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, zip);
    c.lpszFilespec = "*.*";
    c.recurseFlag = 1;
    c.lpszDestination = dest;
    c.overWriteFlag = 1;
    c.wUnzipSubOptions = options;
    return unzipCommand(&c);
  }
  // Tests every item of the archive, folders and all.
  int test_all(const char* zip) {
    UNZIPCMDSTRUCT t = cmd(UNZIP_EXTRACT, zip);
    t.lpszFilespec = "*.*";
    t.recurseFlag = 1;
    t.testFlag = 1;
    return unzipCommand(&t);
  }
  // 250,000 bytes that do not compress, stored by zip -s 100k as the parts
  // sp.z01, sp.z02 and sp.zip in C:\ ; the bytes.
  std::string three_part_set() {
    std::string data;
    for (int i = 0; i < 250000; ++i) data += static_cast<char>((i * 2654435761u) >> 11);
    root_.write("C:\\big.bin", data);
    EXPECT_EQ(sh("zip -q -0 -s 100k sp.zip big.bin && ls sp.z01 sp.z02 >/dev/null"), 0);
    return data;
  }
  // A tree with folders, names with blanks and bytes of every value.
  void make_tree() {
    root_.write("C:\\src\\top.txt", "top level\nsecond line\n");
    root_.write("C:\\src\\with blank.txt", std::string(5000, 'b'));
    std::string bin;
    for (int i = 0; i < 200000; ++i) bin += static_cast<char>((i * 7919) >> 3);
    root_.write("C:\\src\\sub\\bin.dat", bin);
    root_.write("C:\\src\\sub\\deeper\\d.txt", "deep");
    platform::make_dirs(linux("C:\\src\\empty"));
  }

  testsupport::TempRoot root_;
  std::string c_;
};

TEST_F(Unzip, OutsideArchivesExtractByteForByte) {
  make_tree();
  // Each archive is extracted by unzip (the reference) and by the library.
  struct Case {
    const char* name;
    std::string make;
    const char* password;
  } cases[] = {
      {"r", "cd src && zip -q -r ../r.zip .", nullptr},
      {"p", "cd src && zip -q -r -P secret ../p.zip .", "secret"},
      {"s7", "cd src && 7zz a -bd -tzip -mem=ZipCrypto -psecret ../s7.zip . >/dev/null", "secret"},
      {"fz", "cd src && zip -q -r -fz ../fz.zip .", nullptr},
      {"z0", "cd src && zip -q -r -0 ../z0.zip .", nullptr},
      {"st", "cd src && zip -q - sub/bin.dat top.txt > ../st.zip", nullptr},
      {"d64", "cd src && 7zz a -bd -tzip -mm=Deflate64 ../d64.zip . >/dev/null", nullptr},
      {"py", "python3 -c \"import zipfile\nz=zipfile.ZipFile('py.zip','w')\n"
             "z.write('src/top.txt','stored.txt',zipfile.ZIP_STORED)\n"
             "z.write('src/sub/bin.dat','deflated.bin',zipfile.ZIP_DEFLATED)\n"
             "z.writestr(zipfile.ZipInfo('na\\xefve.txt'),b'cp437')\n"
             "z.comment=b'archive comment'\nz.close()\"",
       nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string zip = std::string(k.name) + ".zip";
    ASSERT_EQ(sh(k.make), 0);
    ASSERT_EQ(sh(std::string("unzip -q -o ") + (k.password ? std::string("-P ") + k.password + " " : "") + zip +
                 " -d ref_" + k.name + " 2>/dev/null"),
              0);
    UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, ("C:\\" + zip).c_str());
    const std::string dest = std::string("C:\\out_") + k.name;
    const std::string zpath = "C:\\" + zip;
    c.lpszZIPFile = zpath.c_str();
    c.lpszFilespec = "*.*";
    c.recurseFlag = 1;
    c.lpszDestination = dest.c_str();
    c.decryptFlag = k.password != nullptr;
    c.lpszDecryptCode = k.password;
    EXPECT_EQ(unzipCommand(&c), 0);
    EXPECT_EQ(sh(std::string("diff -r ref_") + k.name + " out_" + k.name), 0);
  }
  // The code-page-437 name arrives in UTF-8, as unzip shows it.
  EXPECT_EQ(read("C:\\out_py\\na\xc2\xa1ve.txt").size() + read("C:\\out_py\\na\xc3\xafve.txt").size(), 5u);
  // Times come from the archive.
  struct stat st{};
  ASSERT_EQ(::stat(linux("C:\\out_r\\top.txt").c_str(), &st), 0);
  struct stat ref{};
  ASSERT_EQ(::stat(linux("C:\\ref_r\\top.txt").c_str(), &ref), 0);
  EXPECT_LE(std::abs(st.st_mtime - ref.st_mtime), 2);  // DOS times count in two seconds
}

TEST_F(Unzip, QueriesAgreeWithPythonsListing) {
  make_tree();
  ASSERT_EQ(sh("cd src && zip -q -r -fz ../fz.zip . && cd .. && python3 -c \"import zipfile\n"
               "z=zipfile.ZipFile('fz.zip')\nopen('list.txt','w').write(''.join('%s %d %d %d\\n'%(i.filename,i.file_size,i.compress_size,i.CRC) for i in z.infolist()))\""),
            0);
  std::vector<std::string> expected;
  {
    std::ifstream f(linux("C:\\list.txt"));
    for (std::string line; std::getline(f, line);) expected.push_back(line);
  }
  UNZIPCMDSTRUCT c = cmd(UNZIP_COUNTALLITEMS, "C:\\fz.zip");
  ASSERT_EQ(unzipCommand(&c), 0);
  ASSERT_EQ(c.returnCount, static_cast<int>(expected.size()));
  // Functions 2 and 7, long and short, walk the same list.
  ZINFOEX x{};
  ZINFO z{};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    c = cmd(UNZIP_GETNEXTZINFO, "C:\\fz.zip");
    c.pZipInfoEx = &x;
    ASSERT_EQ(unzipCommand(&c), 0);
    char line[2300];
    std::snprintf(line, sizeof line, "%s %llu %llu %u", x.name, static_cast<unsigned long long>(x.uncompressedSize),
                  static_cast<unsigned long long>(x.compressedSize), x.crc);
    EXPECT_EQ(line, expected[i]);
    c = cmd(UNZIP_GETINDEXEDZINFO, "C:\\fz.zip");
    c.zInfo = &z;
    c.index = static_cast<int>(i);
    ASSERT_EQ(unzipCommand(&c), 0);
    EXPECT_STREQ(z.name, x.name);
    EXPECT_EQ(+z.crc, +x.crc);
    EXPECT_EQ(std::uint64_t{z.uncompressedSize}, +x.uncompressedSize);
  }
  c = cmd(UNZIP_GETNEXTZINFO, "C:\\fz.zip");
  c.pZipInfoEx = &x;
  EXPECT_EQ(unzipCommand(&c), 2);
  c = cmd(UNZIP_GETINDEXEDZINFO, "C:\\fz.zip");
  c.zInfo = &z;
  c.index = static_cast<int>(expected.size());
  EXPECT_EQ(unzipCommand(&c), 25);

  // Patterns: top level only, then recursing, quoted names with blanks.
  c = cmd(UNZIP_COUNTNAMEDITEMS, "C:\\fz.zip");
  c.lpszFilespec = "*.*";
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(c.returnCount, 4);  // top.txt, with blank.txt and the folders sub/ and empty/
  c.recurseFlag = 1;
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(c.returnCount, static_cast<int>(expected.size()));
  c = cmd(UNZIP_COUNTNAMEDITEMS, "C:\\fz.zip");
  c.lpszFilespec = "\"with blank.txt\" sub/bin.dat";
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(c.returnCount, 2);
  c.lpszFilespec = "\"with blank.txt";
  EXPECT_EQ(unzipCommand(&c), 47);
  c = cmd(UNZIP_GETNEXTNAMEDZINFO, "C:\\fz.zip");
  c.lpszFilespec = "*.dat";
  c.recurseFlag = 1;
  c.pZipInfoEx = &x;
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_STREQ(x.name, "sub/bin.dat");
  EXPECT_EQ(+x.uncompressedSize, 200000u);
}

TEST_F(Unzip, CommentAndMemoryExtraction) {
  ASSERT_EQ(sh("python3 -c \"import zipfile\nz=zipfile.ZipFile('m.zip','w',zipfile.ZIP_DEFLATED)\n"
               "z.writestr('a/data.bin', bytes(range(256))*40)\nz.comment=b'0123456789abcdefghijklmno'\nz.close()\""),
            0);
  UNZIPCMDSTRUCT c = cmd(UNZIP_GETCOMMENTSIZE, "C:\\m.zip");
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(c.returnCount, 25);
  char comment[11];
  std::memset(comment, 'X', sizeof comment);
  c = cmd(UNZIP_GETCOMMENT, "C:\\m.zip");
  c.returnCount = 10;
  c.lpszReturnString = comment;
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(c.returnCount, 10);
  EXPECT_STREQ(comment, "0123456789");

  // Function 9: 100 bytes from offset 300 into a block smaller than the item.
  std::vector<unsigned char> block(100);
  c = cmd(UNZIP_FILETOMEM, "C:\\m.zip");
  c.lpszFilespec = "a/data.bin";
  c.lpMemBlock = block.data();
  c.lMemBlockSize = 100;
  c.lStartingOffset = 300;
  ASSERT_EQ(unzipCommand(&c), 0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(block[i], (300 + i) % 256);

  // Function 11 without a block hands the bytes to the data callback.
  struct Got {
    std::vector<unsigned char> bytes;
  } got;
  CALLBACKSTRUCT cb{0,
                    [](int op, unsigned char* buf, std::uint32_t* len, std::uint64_t, std::uint64_t, void* user, int* status) {
                      if (op == 1) static_cast<Got*>(user)->bytes.insert(static_cast<Got*>(user)->bytes.end(), buf, buf + *len);
                      *status = 3;
                    },
                    &got};
  c = cmd(UNZIP_FILETOMEM_EX, "C:\\m.zip");
  c.lpszFilespec = "a/data.bin";
  c.lpCallbackStruct = &cb;
  c.lMemBlockSize = 1000;
  c.lStartingOffset = 5000;
  ASSERT_EQ(unzipCommand(&c), 0);
  ASSERT_EQ(got.bytes.size(), 1000u);
  EXPECT_EQ(got.bytes[0], 5000 % 256);
  // Neither a block nor a callback: the parameters do not fit.
  c = cmd(UNZIP_FILETOMEM_EX, "C:\\m.zip");
  c.lpszFilespec = "a/data.bin";
  EXPECT_EQ(unzipCommand(&c), 47);
  EXPECT_NE(std::find(g_ids.begin(), g_ids.end(), 131), g_ids.end());
}

TEST_F(Unzip, CallbackModeExtractsAnItemTheHostSupplies) {
  root_.write("C:\\f.txt", std::string(3000, 'q') + "end");
  ASSERT_EQ(sh("zip -q one.zip f.txt"), 0);
  // The host hands over the central header, then the item's data.
  const std::string zip = read("C:\\one.zip");
  const std::size_t central = zip.find("PK\x01\x02");
  const std::size_t data = 30 + 5;  // local header and name, no extra
  const std::size_t csize = static_cast<unsigned char>(zip[central + 20]) | static_cast<unsigned char>(zip[central + 21]) << 8;
  struct Feed {
    std::string bytes;
    std::size_t at = 0;
    std::string out;
  } feed;
  feed.bytes = zip.substr(central, 46 + 5 + static_cast<unsigned char>(zip[central + 30])) + zip.substr(data + static_cast<unsigned char>(zip[28]), csize);
  CALLBACKSTRUCT cb{0,
                    [](int op, unsigned char* buf, std::uint32_t* len, std::uint64_t, std::uint64_t, void* user, int* status) {
                      Feed& f = *static_cast<Feed*>(user);
                      if (op == 0) {
                        // In small pieces, to cross every refill.
                        std::size_t n = std::min<std::size_t>({*len, 7, f.bytes.size() - f.at});
                        std::memcpy(buf, f.bytes.data() + f.at, n);
                        f.at += n;
                        *len = static_cast<std::uint32_t>(n);
                        *status = f.at == f.bytes.size() ? 0 : 3;
                      } else if (op == 1) {
                        f.out.append(reinterpret_cast<char*>(buf), *len);
                      }
                    },
                    &feed};
  UNZIPCMDSTRUCT c = cmd(UNZIP_MEMTOMEM, nullptr);
  c.lpCallbackStruct = &cb;
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(feed.out, std::string(3000, 'q') + "end");
}

TEST_F(Unzip, Passwords) {
  root_.write("C:\\s.txt", "the secret text, long enough to be deflated deflated deflated");
  ASSERT_EQ(sh("zip -q -P right enc.zip s.txt"), 0);
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\enc.zip");
  c.index = 0;
  c.lpszDestination = "C:\\o";
  c.decryptFlag = 1;
  c.lpszDecryptCode = "right";
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(read("C:\\o\\s.txt"), "the secret text, long enough to be deflated deflated deflated");
  // A wrong password whose check byte differs: 44 after the question
  // (Cancel), 49 when quiet; no password at all: 44.
  ::unlink(linux("C:\\o\\s.txt").c_str());
  const char* wrong = nullptr;
  for (const char* w : {"wrong", "wrong1", "wrong2", "wrong3", "wrong4"}) {
    c.lpszDecryptCode = w;
    c.testFlag = 1;
    c.quietFlag = 1;
    if (unzipCommand(&c) == 49) {
      wrong = w;
      break;
    }
  }
  ASSERT_NE(wrong, nullptr);
  c.testFlag = 0;
  c.quietFlag = 0;
  g_answers = {IDCANCEL};
  EXPECT_EQ(unzipCommand(&c), 44);
  EXPECT_TRUE(std::any_of(g_seen.begin(), g_seen.end(), [](const Seen& s) { return s.text.find("is encrypted") != std::string::npos; }));
  EXPECT_FALSE(root_.exists("C:\\o\\s.txt"));
  c.decryptFlag = 0;
  c.lpszDecryptCode = nullptr;
  g_answers = {IDCANCEL};
  EXPECT_EQ(unzipCommand(&c), 44);

  // By pattern and quiet: a call that skipped every item says so (49), to
  // a file or as a test; one that also extracted something succeeded.
  UNZIPCMDSTRUCT p = cmd(UNZIP_EXTRACT, "C:\\enc.zip");
  p.lpszFilespec = "*.*";
  p.lpszDestination = "C:\\p";
  p.decryptFlag = 1;
  p.lpszDecryptCode = wrong;
  p.quietFlag = 1;
  EXPECT_EQ(unzipCommand(&p), 49);
  EXPECT_FALSE(root_.exists("C:\\p\\s.txt"));
  p.testFlag = 1;
  EXPECT_EQ(unzipCommand(&p), 49);
  p.testFlag = 0;
  root_.write("C:\\plain.txt", "plain");
  ASSERT_EQ(sh("zip -q enc.zip plain.txt"), 0);
  EXPECT_EQ(unzipCommand(&p), 0);
  EXPECT_EQ(read("C:\\p\\plain.txt"), "plain");
  EXPECT_FALSE(root_.exists("C:\\p\\s.txt"));
}

TEST_F(Unzip, HostileNamesNeverLeaveTheDestination) {
  ASSERT_EQ(sh("python3 -c \"import zipfile\nz=zipfile.ZipFile('h.zip','w')\n"
               "[z.writestr(n, n) for n in ['../evil.txt','a/../../b.txt','/abs.txt','C:/drive.txt','ok/good.txt','x/..']]\nz.close()\""),
            0);
  platform::make_dirs(linux("C:\\dest\\in"));
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\h.zip");
  c.lpszFilespec = "*.*";
  c.recurseFlag = 1;
  c.lpszDestination = "C:\\dest\\in";
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(read("C:\\dest\\in\\abs.txt"), "/abs.txt");
  EXPECT_EQ(read("C:\\dest\\in\\drive.txt"), "C:/drive.txt");
  EXPECT_EQ(read("C:\\dest\\in\\ok\\good.txt"), "ok/good.txt");
  EXPECT_FALSE(root_.exists("C:\\dest\\evil.txt"));
  EXPECT_FALSE(root_.exists("C:\\evil.txt"));
  EXPECT_FALSE(root_.exists("C:\\b.txt"));
  EXPECT_FALSE(root_.exists("C:\\dest\\b.txt"));
  // Each refused name was shown with code 49 and the name.
  int refused = 0;
  for (const Seen& s : g_seen)
    if (s.type == 11 && s.n1 == 49) ++refused;
  EXPECT_EQ(refused, 3);
  // Only the files extracted are below the destination.
  EXPECT_EQ(sh("test $(find dest -type f | wc -l) -eq 3"), 0);

  // A link planted under a target's name is replaced, never followed.
  ASSERT_EQ(::symlink(linux("C:\\victim").c_str(), linux("C:\\dest\\in\\abs.txt").c_str()) == 0 ||
                (::unlink(linux("C:\\dest\\in\\abs.txt").c_str()) == 0 &&
                 ::symlink(linux("C:\\victim").c_str(), linux("C:\\dest\\in\\abs.txt").c_str()) == 0),
            true);
  c.overWriteFlag = 1;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_FALSE(root_.exists("C:\\victim"));
}

// The program dies in the middle of a file, a new one and one that replaces
// another: neither is seen half-written under its name, the file replaced
// is whole as it was, and, where the file system has unnamed files, nothing
// else is left in the folder (elsewhere a staging file may stay).
TEST_F(Unzip, KilledInTheMiddleOfAFileLeavesNoPartOfIt) {
  std::string noise;
  for (int i = 0; i < 1000000; ++i) noise += static_cast<char>((i * 2654435761u) >> 13);
  root_.write("C:\\in\\big.bin", noise);
  root_.write("C:\\in\\a.txt", "first");
  ASSERT_EQ(sh("cd in && zip -q -0 ../k.zip a.txt big.bin"), 0);
  for (const bool replacing : {false, true}) {
    SCOPED_TRACE(replacing ? "replacing" : "new");
    ASSERT_EQ(sh("rm -rf k && mkdir k"), 0);
    if (replacing) root_.write("C:\\k\\big.bin", "old");
    const pid_t pid = ::fork();
    if (pid == 0) {
      UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\k.zip");
      c.lpszFilespec = "*.*";
      c.lpszDestination = "C:\\k";
      c.overWriteFlag = 1;
      // Half-way through the big file.
      c.lpMinorStatus = [](const char* text, int percent, void*) {
        if (std::strstr(text, "big.bin") && percent >= 50) ::_exit(0);
        return 0;
      };
      ::_exit(unzipCommand(&c) == 0 ? 1 : 2);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the extraction was not stopped half-way";
    EXPECT_EQ(read("C:\\k\\a.txt"), "first");
    if (replacing) {
      EXPECT_EQ(read("C:\\k\\big.bin"), "old");
    }
    const int unnamed = platform::file_create_unnamed("C:\\k\\");
    if (unnamed >= 0) (void)platform::file_close(unnamed);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(linux("C:\\k"))) {
      const std::string name = e.path().filename();
      if (unnamed < 0 && platform::is_temporary_name(name)) continue;  // a staging name
      left.push_back(name);
    }
    std::sort(left.begin(), left.end());
    const std::vector<std::string> expected =
        replacing ? std::vector<std::string>{"a.txt", "big.bin"} : std::vector<std::string>{"a.txt"};
    EXPECT_EQ(left, expected);
  }
}

// Killed or failed at any write, flush or rename while it replaces a file,
// the extraction leaves the old file or the new one; once the next start
// has swept, no copy is left under a temporary name, and a file of the
// user's whose name looks like one stays.
TEST_F(Unzip, KilledWhileReplacingAFileLeavesNoStrayCopy) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  root_.write("C:\\in\\a.txt", text);
  ASSERT_EQ(sh("cd in && zip -q ../r.zip a.txt"), 0);
  root_.write("C:\\r\\ABa00417", "the user's");
  testsupport::check_write_faults(
      root_.path(), {{linux("C:\\r\\a.txt")}}, [&] { root_.write("C:\\r\\a.txt", "old"); },
      [&] { return extract_all("C:\\r.zip", "C:\\r") == 0; },
      [&](bool) {
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(linux("C:\\r"))) left.push_back(e.path().filename());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"ABa00417", "a.txt"}));
        EXPECT_EQ(read("C:\\r\\ABa00417"), "the user's");
      });
}

TEST_F(Unzip, DamagedArchives) {
  root_.write("C:\\f.txt", std::string(10000, 'z') + "tail");
  ASSERT_EQ(sh("zip -q -0 d.zip f.txt"), 0);
  std::string zip = read("C:\\d.zip");
  // A changed byte of stored data: 39, and no file (kept with option bit 6).
  std::string bad = zip;
  bad[30 + 5 + 28 + 100] = 'Y';
  root_.write("C:\\bad.zip", bad);
  EXPECT_EQ(extract_all("C:\\bad.zip", "C:\\o1"), 39);
  EXPECT_FALSE(root_.exists("C:\\o1\\f.txt"));
  EXPECT_EQ(sh("test -z \"$(ls -A o1)\""), 0);  // no leftover staging file
  EXPECT_EQ(extract_all("C:\\bad.zip", "C:\\o2", kUnzKeepFailed), 39);
  EXPECT_EQ(read("C:\\o2\\f.txt").size(), 10004u);
  // A local name that differs from the central one: 3.
  std::string renamed = zip;
  renamed[30] = 'g';
  root_.write("C:\\ren.zip", renamed);
  EXPECT_EQ(extract_all("C:\\ren.zip", "C:\\o3"), 3);
  // Cut short: the end record is gone, or the data is.
  root_.write("C:\\cut.zip", zip.substr(0, zip.size() / 2));
  EXPECT_EQ(extract_all("C:\\cut.zip", "C:\\o4"), 3);
  // An end record that claims more entries than its directory can hold.
  std::string many = zip;
  many[many.size() - 22 + 10] = '\xff';
  many[many.size() - 22 + 11] = '\xff';
  root_.write("C:\\many.zip", many);
  UNZIPCMDSTRUCT c = cmd(UNZIP_COUNTALLITEMS, "C:\\many.zip");
  EXPECT_EQ(unzipCommand(&c), 3);
}

TEST_F(Unzip, ChecksAndTheirMessages) {
  struct Check {
    UNZIPCMDSTRUCT c;
    int message;
  };
  std::string pw128(128, 'p'), pw127(127, 'p');
  root_.write("C:\\f.txt", "x");
  ASSERT_EQ(sh("zip -q a.zip f.txt"), 0);
  auto base = [&](int function) {
    UNZIPCMDSTRUCT c = cmd(function, "C:\\a.zip");
    c.index = 0;
    c.lpszDestination = "C:\\o";
    return c;
  };
  std::vector<Check> checks;
  checks.push_back({base(UNZIP_EXTRACT), 113});
  checks.back().c.lpszZIPFile = "";
  checks.push_back({base(UNZIP_EXTRACT), 118});
  checks.back().c.freshenFlag = checks.back().c.updateFlag = 1;
  checks.push_back({base(UNZIP_EXTRACT), 110});
  checks.back().c.lpszDestination = "C";
  checks.push_back({base(UNZIP_EXTRACT), 111});
  checks.back().c.lpszDestination = "out\\dir";
  checks.push_back({base(UNZIP_EXTRACT), 119});
  checks.back().c.decryptFlag = 1;
  checks.back().c.lpszDecryptCode = pw128.c_str();
  checks.push_back({base(12), 121});
  checks.push_back({base(0), 121});
  checks.push_back({base(UNZIP_EXTRACT), 62});
  checks.back().c.wUnzipSubOptions = kUnzEchoInput;
  checks.push_back({base(UNZIP_FILETOMEM), 131});
  checks.back().c.lpszFilespec = "*.txt";
  checks.back().c.lpMemBlock = &pw128[0];
  for (Check& k : checks) {
    SCOPED_TRACE(k.message);
    g_ids.clear();
    EXPECT_EQ(unzipCommand(&k.c), 47);
    EXPECT_NE(std::find(g_ids.begin(), g_ids.end(), k.message), g_ids.end());
  }
  UNZIPCMDSTRUCT ok = base(UNZIP_EXTRACT);
  ok.decryptFlag = 1;
  ok.lpszDecryptCode = pw127.c_str();
  EXPECT_EQ(unzipCommand(&ok), 0);
  ok.lpszDestination = "\\\\server\\share";
  ok.testFlag = 1;
  EXPECT_EQ(unzipCommand(&ok), 0);
  // An unknown size: 47, nothing shown.
  UNZIPCMDSTRUCT odd = base(UNZIP_COUNTALLITEMS);
  odd.structSize = 171;
  g_seen.clear();
  EXPECT_EQ(unzipCommand(&odd), 47);
  EXPECT_TRUE(g_seen.empty());
  // A 100-byte record: no message callback, older item record.
  ZINFO_OLD old{};
  UNZIPCMDSTRUCT v100 = base(UNZIP_GETINDEXEDZINFO);
  v100.structSize = kUnzipCmdV100;
  v100.zInfo = &old;
  g_ids.clear();
  ASSERT_EQ(unzipCommand(&v100), 0);
  EXPECT_STREQ(old.name, "f.txt");
  EXPECT_EQ(+old.uncompressedSize, 1u);
  EXPECT_TRUE(g_ids.empty());
}

TEST_F(Unzip, ReentryAndDetach) {
  root_.write("C:\\f.txt", std::string(100000, 'r'));
  ASSERT_EQ(sh("zip -q a.zip f.txt"), 0);
  static int inner;
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\a.zip");
  c.index = 0;
  c.testFlag = 1;
  c.lpMinorStatus = [](const char*, int, void*) {
    UNZIPCMDSTRUCT again{};
    again.structSize = kUnzipCmdV170;
    again.Function = UNZIP_COUNTALLITEMS;
    again.lpszZIPFile = "C:\\a.zip";
    inner = unzipCommand(&again);
    return 0;
  };
  inner = 0;
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(inner, 45);
  // A detached thread attaches afresh: the cursor of Function 2 starts over.
  ZINFO z{};
  UNZIPCMDSTRUCT next = cmd(UNZIP_GETNEXTZINFO, "C:\\a.zip");
  next.zInfo = &z;
  ASSERT_EQ(unzipCommand(&next), 0);
  EXPECT_EQ(unzipCommand(&next), 2);
  unzipDetachThread();
  EXPECT_EQ(unzipCommand(&next), 0);
}

TEST_F(Unzip, OverwriteQuestionAndLogs) {
  root_.write("C:\\f.txt", "new");
  root_.write("C:\\g.txt", "new");
  ASSERT_EQ(sh("zip -q a.zip f.txt g.txt"), 0);
  auto fresh = [&] {
    root_.write("C:\\o\\f.txt", "old");
    root_.write("C:\\o\\g.txt", "old");
  };
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\a.zip");
  c.lpszFilespec = "*.txt";
  c.lpszDestination = "C:\\o";
  fresh();
  g_answers = {IDYES, IDNO};
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(read("C:\\o\\f.txt"), "new");
  EXPECT_EQ(read("C:\\o\\g.txt"), "old");
  fresh();
  g_answers = {100};  // Yes to All: asked once
  g_seen.clear();
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(read("C:\\o\\g.txt"), "new");
  fresh();
  g_answers = {IDCANCEL};
  EXPECT_EQ(unzipCommand(&c), 48);
  EXPECT_EQ(read("C:\\o\\f.txt"), "old");
  // A three-button question (110-byte record) overrules Yes to All and asks
  // the library's own dialog; its No to both left nothing extracted.
  UNZIPCMDSTRUCT v110 = c;
  v110.structSize = kUnzipCmdV110;
  g_answers = {100, 100};
  EXPECT_EQ(unzipCommand(&v110), 49);
  EXPECT_EQ(g_dialogs, 2);
  EXPECT_EQ(g_seen[g_seen.size() - 1].style, MB_YESNOCANCEL);

  // Quiet: no box, the error reaches the diagnostic log, the password never.
  UNZIPCMDSTRUCT q = cmd(UNZIP_EXTRACT, "C:\\missing.zip");
  q.index = 0;
  q.lpszDestination = "C:\\o";
  q.quietFlag = 1;
  q.diagnosticFlag = 1;
  q.decryptFlag = 1;
  q.lpszDecryptCode = "hunter2";
  q.lpMessageDisplay = nullptr;
  g_boxes = 0;
  EXPECT_EQ(unzipCommand(&q), 9);
  EXPECT_EQ(g_boxes, 0);
  const std::string log = read("C:\\WINDOWS\\ARCLYNX.LOG");
  EXPECT_NE(log.find("File not found (Problem reading ZIP file)"), std::string::npos);
  EXPECT_NE(log.find("lpszZIPFile: "), std::string::npos);
  EXPECT_EQ(log.find("hunter2"), std::string::npos);
  q.quietFlag = 0;
  EXPECT_EQ(unzipCommand(&q), 9);
  EXPECT_EQ(g_boxes, 1);
}

TEST_F(Unzip, SplitSets) {
  std::string data;
  for (int i = 0; i < 300000; ++i) data += static_cast<char>((i * 2654435761u) >> 13);
  root_.write("C:\\big.bin", data);
  root_.write("C:\\small.txt", "small");
  ASSERT_EQ(sh("zip -q -0 -s 100k sp.zip big.bin small.txt && ls sp.z01 sp.z02 sp.zip >/dev/null"), 0);
  EXPECT_EQ(extract_all("C:\\sp.zip", "C:\\o1", kUnzSplit), 0);
  EXPECT_TRUE(read("C:\\o1\\big.bin") == data);
  EXPECT_EQ(read("C:\\o1\\small.txt"), "small");
  // On a fixed drive a multi-disk archive is read as a split set by itself.
  EXPECT_EQ(extract_all("C:\\sp.zip", "C:\\o2"), 0);
  EXPECT_TRUE(read("C:\\o2\\big.bin") == data);
  // The long part name comes first.
  ASSERT_EQ(sh("cp sp.z01 sp.zip.z01 && dd if=/dev/zero of=sp.z01 bs=1 count=100 conv=notrunc 2>/dev/null"), 0);
  EXPECT_EQ(extract_all("C:\\sp.zip", "C:\\o3", kUnzSplit), 0);
  EXPECT_TRUE(read("C:\\o3\\big.bin") == data);
  // The host may name each part itself (message type 15).
  g_answers.assign(8, IDCANCEL);
  EXPECT_NE(extract_all("C:\\sp.zip", "C:\\o4", kUnzSplit), 0);
  EXPECT_FALSE(root_.exists("C:\\o4\\big.bin"));
  EXPECT_EQ(g_seen.front().type, 15);
}

TEST_F(Unzip, ManySmallItemsOfASplitSetExtractWhole) {
  // Parts of 64 KB, the size of one read ahead: tiny items' headers and data,
  // and the larger items, run from one part into the next, so bytes kept
  // from one part would land in an item of another.
  ASSERT_EQ(sh("python3 -c \"import os, random\nr=random.Random(11)\n"
               "for i in range(700):\n"
               "  d='src/d%d/e%d'%(i%9,i%4) if i%5 else 'src/d%d'%(i%9)\n"
               "  os.makedirs(d, exist_ok=True)\n"
               "  big=i%140 in (3,4)\n"
               "  n=r.randrange(70000,160000) if big else r.randrange(0,400)\n"
               "  data=bytes(r.randrange(256) for _ in range(n)) if i%2 else ('line %d '%i*(n//8+1)).encode()[:n]\n"
               "  open('%s/f%d.%s'%(d,i,'raw' if i%3==0 else 'txt'),'wb').write(data)\n\""),
            0);
  // .raw files are stored, the others deflated where that helps.
  ASSERT_EQ(sh("cd src && zip -q -r -n .raw -s 64k ../ms.zip . && cd .. && ls ms.z05 ms.zip >/dev/null"), 0);
  EXPECT_EQ(test_all("C:\\ms.zip"), 0);
  ASSERT_EQ(extract_all("C:\\ms.zip", "C:\\ms"), 0);
  EXPECT_EQ(sh("diff -r src ms"), 0);
}

}  // namespace

namespace {

// Diskettes for the spanned test: what lies in drive A: and its label.
struct Drive {
  std::vector<std::string> disks;  // Linux paths of the parts, disk 1 first
  std::vector<std::string> labels;
  int inserted = -1;
  std::vector<int> asked;  // disk numbers asked for
  int wrong_first = -1;    // this disk is first offered under a wrong label
} g_drive;

// A fresh diskette in drive A:, labelled, holding the part under the
// archive's name.
void insert(int disk) {
  g_drive.inserted = disk;
  const std::string image = platform::diskette::drive_path();
  const auto part = platform::read_file(g_drive.disks[static_cast<std::size_t>(disk)]);
  ASSERT_TRUE(part && testsupport::make_diskette(image, 1440, g_drive.labels[static_cast<std::size_t>(disk)]) &&
              testsupport::mtools_write(image, "::/sp.zip", std::string(part->begin(), part->end())));
}

// The parts of three_part_set() as disks 1 to 3 with these labels, disk
// `in_drive` (0-based) in the drive.
void put_set_in_drive(std::vector<std::string> labels, int in_drive) {
  g_drive = Drive{};
  for (const char* part : {"C:\\sp.z01", "C:\\sp.z02", "C:\\sp.zip"}) g_drive.disks.push_back(platform::map_path(part));
  g_drive.labels = std::move(labels);
  insert(in_drive);
}

int swap_disks(int type, int, int n1, int n2, char*, char*, void*) {
  if (type == 0 && n2 == -1) n1 = static_cast<int>(g_drive.disks.size());  // "the last disk"
  else if (type != 1) return 0;
  g_drive.asked.push_back(n1);
  if (g_drive.asked.size() > 20) return IDCANCEL;
  const int disk = n1 - 1;
  char want[16];
  std::snprintf(want, sizeof want, "PKBACK# %03d", n1);
  g_drive.labels[static_cast<std::size_t>(disk)] = disk == g_drive.wrong_first ? "PKBACK# 009" : want;
  if (disk == g_drive.wrong_first) g_drive.wrong_first = -1;
  insert(disk);
  return IDOK;
}

TEST_F(Unzip, SpannedDisksAreAskedForAndTheirLabelsChecked) {
  const std::string data = three_part_set();
  // The labels are read off the diskettes; the last disk holds the directory.
  put_set_in_drive({"", "", "PKBACK# 003"}, 2);
  g_drive.wrong_first = 1;
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "A:\\sp.zip");
  c.lpszFilespec = "big.bin";
  c.lpszDestination = "C:\\o";
  c.lpMessageDisplay = swap_disks;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_TRUE(read("C:\\o\\big.bin") == data);
  // Disk 2 came first with a wrong label and was asked for again.
  EXPECT_EQ(g_drive.asked, (std::vector<int>{1, 2, 2, 3}));

  // Any label passes with option bit 9.
  g_drive.labels = {"", "", ""};
  g_drive.asked.clear();
  insert(2);
  ::unlink(linux("C:\\o\\big.bin").c_str());
  c.wUnzipSubOptions = kUnzAnyLabel;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_TRUE(read("C:\\o\\big.bin") == data);
  EXPECT_EQ(g_drive.asked, (std::vector<int>{1, 2, 3}));
  // The user cancels a prompt: 48, and nothing under the target's name.
  ::unlink(linux("C:\\o\\big.bin").c_str());
  insert(2);
  c.wUnzipSubOptions = 0;
  c.lpMessageDisplay = [](int type, int, int, int, char*, char*, void*) { return type == 1 ? IDCANCEL : 0; };
  EXPECT_EQ(unzipCommand(&c), 48);
  EXPECT_FALSE(root_.exists("C:\\o\\big.bin"));
}

// The backup's restore reads its archive off the diskette; extraction onto
// the diskette goes through the same layer, so other tools read it there.
TEST_F(Unzip, ArchivesOnTheDisketteAreReadAndExtractedThere) {
  root_.write("C:\\cfg\\setup.ini", "[a]\nb=1\n");
  root_.write("C:\\cfg\\sub\\ro.txt", std::string(3000, 'r'));
  ASSERT_EQ(sh("touch -d '2001-02-03 04:05:06' cfg/setup.ini && chmod a-w cfg/sub/ro.txt && cd cfg && "
               "zip -q -r ../q7.zip . && chmod u+w sub/ro.txt"),
            0);
  const std::string image = platform::diskette::drive_path();
  const auto zip = platform::read_file(linux("C:\\q7.zip"));
  ASSERT_TRUE(zip && testsupport::make_diskette(image) &&
              testsupport::mtools_write(image, "::/q7stybk.zip", std::string(zip->begin(), zip->end())));

  EXPECT_EQ(extract_all("a:\\q7stybk.zip", "C:\\r"), 0);
  EXPECT_EQ(read("C:\\r\\setup.ini"), "[a]\nb=1\n");
  EXPECT_EQ(read("C:\\r\\sub\\ro.txt"), std::string(3000, 'r'));

  EXPECT_EQ(extract_all("A:\\q7stybk.zip", "A:\\OUT"), 0);
  EXPECT_EQ(testsupport::mtools_read(image, "::/OUT/SETUP.INI"), "[a]\nb=1\n");
  EXPECT_EQ(testsupport::mtools_read(image, "::/OUT/SUB/RO.TXT"), std::string(3000, 'r'));
  // Either drive gives a file the time the archive holds for it.
  const auto source = platform::file_facts("C:\\cfg\\setup.ini");
  const auto on_c = platform::file_facts("C:\\r\\setup.ini");
  const auto on_a = platform::file_facts("A:\\OUT\\SETUP.INI");
  ASSERT_TRUE(source && on_c && on_a);
  EXPECT_LE(std::abs(on_c->mtime - source->mtime), 2);
  EXPECT_LE(std::abs(on_a->mtime - source->mtime), 2);
  auto ro = platform::file_facts("A:\\OUT\\SUB\\RO.TXT");
  ASSERT_TRUE(ro);
  EXPECT_TRUE(ro->attributes & platform::kAttrReadOnly);
  // A read-only file gives way when old files are to be cleared (option
  // bit 0, as the instrument asks); no staging file is left beside it and
  // the disk stays sound.
  EXPECT_EQ(extract_all("A:\\q7stybk.zip", "A:\\OUT", kUnzDeleteFirst), 0);
  EXPECT_EQ(platform::list_files("A:\\OUT\\SUB\\*.*").size(), 1u);
  EXPECT_EQ(platform::list_files("A:\\OUT\\*.*").size(), 2u);
  std::string report;
  EXPECT_TRUE(testsupport::diskette_clean(image, &report)) << report;
}

TEST_F(Unzip, TheLastDiskIsAskedForWhenAnEarlierOneIsInTheDrive) {
  const std::string data = three_part_set();
  put_set_in_drive({"PKBACK# 001", "", ""}, 0);
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "A:\\sp.zip");
  c.lpszFilespec = "big.bin";
  c.lpszDestination = "C:\\o";
  c.lpMessageDisplay = swap_disks;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_TRUE(read("C:\\o\\big.bin") == data);
  // 3 stands for "the last disk" (type 0), then the disks in turn.
  EXPECT_EQ(g_drive.asked, (std::vector<int>{3, 1, 2, 3}));
  // Cancelled: 48, and nothing was read.
  insert(0);
  c.lpMessageDisplay = [](int type, int, int, int, char*, char*, void*) { return type == 0 || type == 1 ? IDCANCEL : IDOK; };
  c.overWriteFlag = 1;
  EXPECT_EQ(unzipCommand(&c), 48);
}

TEST_F(Unzip, NamesCutTo83ForADiskette) {
  ASSERT_EQ(sh("python3 -c \"import zipfile\nz=zipfile.ZipFile('l.zip','w')\n"
               "z.writestr('Long Folder/report data.text', 'long')\nz.writestr('ok.txt', 'short')\nz.close()\""),
            0);
  const std::string image = platform::diskette::drive_path();
  ASSERT_TRUE(testsupport::make_diskette(image));
  // The diskette takes 8.3 names only: cut, they land there and are selected
  // by their short form.
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\l.zip");
  c.lpszFilespec = "LONGFOLD\\REPORTDA.TEX";
  c.lpszDestination = "A:\\";
  c.wUnzipSubOptions = kUnzCut83;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(testsupport::mtools_read(image, "::/LONGFOLD/REPORTDA.TEX"), "long");
  // Bit 4 wins over bit 5: long names are passed over, not cut.
  c.lpszFilespec = "*.*";
  c.recurseFlag = 1;
  c.lpszDestination = "A:\\B";
  c.wUnzipSubOptions = kUnzCut83 | kUnzSkipNon83;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(testsupport::mtools_read(image, "::/B/OK.TXT"), "short");
  EXPECT_EQ(platform::list_files("A:\\B\\*.*").size(), 1u);
}

TEST_F(Unzip, AnEndRecordOfManyDisksOnAFixedDriveIsNotReadAsManyParts) {
  root_.write("C:\\f.txt", "some text");
  ASSERT_EQ(sh("zip -q a.zip f.txt"), 0);
  // This disk 60000, the directory on it; the item claims disk 0 and a size
  // of 4 GiB, which the one file would have to supply over and over.
  std::string zip = read("C:\\a.zip");
  const std::size_t end = zip.size() - 22, central = zip.find("PK\x01\x02");
  zip[end + 4] = '\x60';
  zip[end + 5] = '\xea';
  zip[end + 6] = '\x60';
  zip[end + 7] = '\xea';
  for (int i = 20; i < 24; ++i) zip[central + i] = '\xff';
  root_.write("C:\\many.zip", zip);
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\many.zip");
  c.index = 0;
  c.testFlag = 1;
  c.quietFlag = 1;
  EXPECT_EQ(unzipCommand(&c), 29);
}

// However the destination spells the archive's own folder, the archive is
// not extracted over itself (49, shown, the other items go on); a set that
// spans disks is not extracted onto the volume it is read from (12).
TEST_F(Unzip, TheArchiveAndItsVolumeAreNotWrittenOver) {
  ASSERT_EQ(sh("mkdir arc && cd arc && python3 -c \"import zipfile\nz=zipfile.ZipFile('self.zip','w')\n"
               "z.writestr('SELF.ZIP', 'not an archive')\nz.writestr('other.txt', 'other')\nz.close()\" && "
               "cd .. && ln -s arc link && ln -s \"$PWD\" ../d"),
            0);
  const std::string zip = read("C:\\arc\\self.zip");
  const std::string image = platform::diskette::drive_path();
  ASSERT_TRUE(testsupport::make_diskette(image) && testsupport::mtools_write(image, "::/SELF.ZIP", zip));
  struct {
    const char *archive, *destination;
  } cases[] = {{"C:\\arc\\self.zip", "C:\\arc\\new\\.."}, {"C:\\arc\\self.zip", "C:\\link"}, {"A:\\SELF.ZIP", "A:\\X\\.."}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.destination);
    g_seen.clear();
    EXPECT_EQ(extract_all(k.archive, k.destination), 0);
    EXPECT_TRUE(std::any_of(g_seen.begin(), g_seen.end(), [](const Seen& x) {
      return x.type == 11 && x.n1 == 49 && x.text.find("on top of itself") != std::string::npos;
    }));
    const std::string other = std::string(k.destination) + "\\other.txt";
    EXPECT_EQ(platform::file_facts(other)->size, 5u);
  }
  EXPECT_TRUE(read("C:\\arc\\self.zip") == zip);
  EXPECT_EQ(testsupport::mtools_read(image, "::/SELF.ZIP"), zip);

  // Read as disks (option bit 7), a split set may not go to its own drive,
  // nor to a drive letter that is the same folder.
  three_part_set();
  for (const char* destination : {"C:\\o", "D:\\o", "E:\\o"}) {
    SCOPED_TRACE(destination);
    g_seen.clear();
    g_answers = {IDCANCEL};
    const bool same = destination[0] != 'E';
    EXPECT_EQ(extract_all("C:\\sp.zip", destination, kUnzAllRemovable), same ? 12 : 48);
    EXPECT_EQ(!g_seen.empty() && g_seen.front().type == 6, same);
  }
}

struct Progress : ProgressProgram {
  std::string line;
  std::vector<int> kinds;
  int reply = 0;
  bool closed = false;
  bool start(const std::string& l) override {
    line = l;
    return true;
  }
  int send(int kind, const unsigned char*, std::size_t size) override {
    if (size == 356) kinds.push_back(kind);
    return reply;
  }
  void close() override { closed = true; }
};
int g_status_calls = 0;
int count_status(const char*, int, void*) { return ++g_status_calls, 0; }

// What stands at a target: a read-only file gives way only to the operator's
// Yes or to option bit 0, a folder never; a folder item keeps its stored
// attributes on the diskette and stays writable on a folder drive.  Status
// goes to the outside progress program while one runs (option bit 2).
TEST_F(Unzip, WhatStandsAtTheTargetFolderAttributesAndTheProgressProgram) {
  ASSERT_EQ(sh("python3 -c \"import zipfile\nz=zipfile.ZipFile('a.zip','w')\n"
               "d=zipfile.ZipInfo('RO/')\nd.external_attr=0x13\nz.writestr(d,'')\n"
               "z.writestr('RO/in.txt','inside')\nz.writestr('ro.txt','new')\nz.close()\""),
            0);
  root_.write("C:\\o\\ro.txt", "old");
  ASSERT_EQ(sh("chmod a-w o/ro.txt"), 0);
  EXPECT_EQ(extract_all("C:\\a.zip", "C:\\o"), 28);
  EXPECT_EQ(read("C:\\o\\ro.txt"), "old");
  EXPECT_EQ(read("C:\\o\\RO\\in.txt"), "inside");  // the folder took its file
  EXPECT_EQ(sh("test $(ls -A o | wc -l) -eq 2"), 0);  // no staging file
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\a.zip");
  c.lpszFilespec = "ro.txt";
  c.lpszDestination = "C:\\o";
  g_answers = {IDYES};
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(read("C:\\o\\ro.txt"), "new");
  ASSERT_EQ(sh("chmod a-w o/ro.txt"), 0);
  EXPECT_EQ(extract_all("C:\\a.zip", "C:\\o", kUnzDeleteFirst), 0);
  ASSERT_EQ(sh("rm -f o/ro.txt && mkdir o/ro.txt"), 0);
  EXPECT_EQ(extract_all("C:\\a.zip", "C:\\o", kUnzDeleteFirst), 28);

  const std::string image = platform::diskette::drive_path();
  ASSERT_TRUE(testsupport::make_diskette(image));
  EXPECT_EQ(extract_all("C:\\a.zip", "A:\\"), 0);
  const auto folder = platform::file_facts("A:\\RO");
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->attributes & 0x13u, 0x13u);
  EXPECT_EQ(testsupport::mtools_read(image, "::/RO/IN.TXT"), "inside");
  std::string report;
  EXPECT_TRUE(testsupport::diskette_clean(image, &report)) << report;

  Progress program;
  set_progress_program(&program);
  c = cmd(UNZIP_EXTRACT, "C:\\a.zip");
  c.lpszFilespec = "*.*";
  c.recurseFlag = 1;
  c.lpszDestination = "C:\\p";
  c.lpMinorStatus = count_status;
  c.lpMajorStatus = count_status;
  c.wUnzipSubOptions = kUnzProgressProgram | kUnzProgressSwitchC;
  g_status_calls = 0;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(program.line, "axprog32 /c /u /T=Extract Progress");
  EXPECT_TRUE(program.closed);
  EXPECT_NE(std::count(program.kinds.begin(), program.kinds.end(), 0), 0);
  EXPECT_NE(std::count(program.kinds.begin(), program.kinds.end(), 1), 0);
  EXPECT_EQ(g_status_calls, 0);
  // The program's answer cancels; without the program the callbacks hear.
  program.reply = 1;
  c.lpszDestination = "C:\\q";
  EXPECT_EQ(unzipCommand(&c), 48);
  set_progress_program(nullptr);
  c.lpszDestination = "C:\\r";
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_GT(g_status_calls, 0);
}

TEST_F(Unzip, TextModeFreshenAndUpdate) {
  root_.write("C:\\t.txt", "one\ntwo\n");
  root_.write("C:\\u.txt", "u");
  ASSERT_EQ(sh("touch -d '2020-06-01 12:00:00' t.txt u.txt && zip -q a.zip t.txt u.txt"), 0);
  UNZIPCMDSTRUCT c = cmd(UNZIP_EXTRACT, "C:\\a.zip");
  c.lpszFilespec = "t.txt";
  c.lpszDestination = "C:\\o";
  c.convertLFtoCRLFFlag = 1;
  ASSERT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(read("C:\\o\\t.txt"), "one\r\ntwo\r\n");
  // Freshen takes only files that exist and are older; update also missing ones.
  root_.write("C:\\o\\t.txt", "older");
  ASSERT_EQ(sh("touch -d '2019-01-01' o/t.txt"), 0);
  c = cmd(UNZIP_EXTRACT, "C:\\a.zip");
  c.lpszFilespec = "*.txt";
  c.lpszDestination = "C:\\o";
  c.freshenFlag = 1;
  c.overWriteFlag = 1;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(read("C:\\o\\t.txt"), "one\ntwo\n");
  EXPECT_FALSE(root_.exists("C:\\o\\u.txt"));
  c.index = 1;
  c.lpszFilespec = nullptr;
  EXPECT_EQ(unzipCommand(&c), 11);
  c.freshenFlag = 0;
  c.updateFlag = 1;
  EXPECT_EQ(unzipCommand(&c), 0);
  EXPECT_EQ(read("C:\\o\\u.txt"), "u");
  // A newer file is left alone by update.
  root_.write("C:\\o\\u.txt", "newer");
  EXPECT_EQ(unzipCommand(&c), 11);
  EXPECT_EQ(read("C:\\o\\u.txt"), "newer");
}

TEST_F(Unzip, SpellingsOfOneNameLandOnOneFileAndFolder) {
  // Within one extraction, folders and files made by earlier items are found
  // under a later item's spelling, as on the instrument's drives.
  ASSERT_EQ(sh("python3 -c \"import zipfile\nz=zipfile.ZipFile('c.zip','w')\n"
               "[z.writestr(n, v) for n, v in [('Sub/one.txt','1'),('SUB/two.txt','2'),('sub/ONE.TXT','3'),"
               "('Sub/Deep/x.txt','x'),('SUB/DEEP/y.txt','y'),('sub/deep/','')]]\nz.close()\""),
            0);
  ASSERT_EQ(extract_all("C:\\c.zip", "C:\\cs"), 0);
  EXPECT_EQ(sh("test \"$(cd cs && find . | LC_ALL=C sort | tr '\\n' ' ')\" = "
               "'. ./Sub ./Sub/Deep ./Sub/Deep/x.txt ./Sub/Deep/y.txt ./Sub/one.txt ./Sub/two.txt '"),
            0);
  EXPECT_EQ(read("C:\\cs\\Sub\\one.txt"), "3");
  // Again over the tree now there: the same files, overwritten in place.
  ASSERT_EQ(extract_all("C:\\c.zip", "C:\\CS"), 0);
  EXPECT_EQ(sh("test $(find cs | wc -l) -eq 7 && test ! -e CS"), 0);
}

TEST_F(Unzip, ManyItemsInAnyOrderExtractWholeAgainAndAgain) {
  // Small items between large ones, the directory in another order than the
  // data: reads jump back and forth across the archive, and an item's header
  // or data runs over the end of what one read brought.
  ASSERT_EQ(sh("python3 -c \"import zipfile, random\nr=random.Random(7)\nz=zipfile.ZipFile('m.zip','w')\n"
               "for i in range(400):\n"
               "  big=i%50==7\n"
               "  data=bytes(r.randrange(256) for _ in range(r.randrange(65000,140000))) if big else "
               "('item %d\\n'%i*r.randrange(1,40)).encode()\n"
               "  z.writestr('d%d/f%d.txt'%(i%7,i), data, zipfile.ZIP_STORED if i%3==0 else zipfile.ZIP_DEFLATED)\n"
               "r.shuffle(z.filelist)\nz.close()\""),
            0);
  ASSERT_EQ(sh("unzip -q m.zip -d ref"), 0);
  EXPECT_EQ(test_all("C:\\m.zip"), 0);
  ASSERT_EQ(extract_all("C:\\m.zip", "C:\\out"), 0);
  EXPECT_EQ(sh("diff -r ref out"), 0);
  // The folders of one extraction are not taken for there in the next.
  ASSERT_EQ(sh("rm -r out"), 0);
  ASSERT_EQ(extract_all("C:\\m.zip", "C:\\out"), 0);
  EXPECT_EQ(sh("diff -r ref out"), 0);
}

}  // namespace
