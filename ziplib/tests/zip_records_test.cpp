#include "ziplib/tests/decode_test_support.h"
#include "ziplib/tests/zip_archive_support.h"

#include "platform/file_io.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_writer.h"

#include <fcntl.h>
#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace ziptest;
using namespace ziplib;

namespace {

const std::string kCheck = "python3 " + shell_quote(std::string(VASLAB_SOURCE_DIR) + "/ziplib/tests/zipcheck.py");

// --- the password block ----------------------------------------------------

std::string padded(const std::string& pw) {
  std::string b = pw;
  b.resize(std::max<std::size_t>(65, pw.size()), '\0');
  return b;
}

TEST(PasswordBlock, PositionsFollowTheCompressedSize) {
  static const char kKeys[] = "h7tkw3e52xbyoqnvgjamzc604139f2sde8yk5  t513g6r7bwai(&)k*(%&x517^&";
  const std::uint32_t t = 0x5A21 * 65536 + 0x6000;
  // Eight characters: all 65 bytes visited once from 27 + (C mod 65).
  auto b = zip_password_block(padded("Pulse-42"), t, 1000, 10);
  ASSERT_EQ(b.size(), 69u);
  EXPECT_EQ(b[0], 0x7F);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(b[2], 65);
  for (int i = 0, pos = 37; i < 65; ++i, pos = (pos + 3) % 65) {
    const unsigned p = i < 8 ? static_cast<unsigned char>("Pulse-42"[i]) : 0;
    const unsigned v = (0x6000 % 255 + 1000 % 255 + p + static_cast<unsigned char>(kKeys[i]) + 61) & 0xFF;
    EXPECT_EQ(b[4 + pos], v) << i;
  }
  // Memory output: C = -1 starts at 26 with S = 0.
  b = zip_password_block(padded("a"), 0, 0, 0xFFFFFFFFull);
  EXPECT_EQ(b[4 + 26], ('a' + 'h' + 61) & 0xFF);
  // C mod 65 of 38 or more starts outside the data: nothing for i = 0.
  b = zip_password_block(padded("a"), 0, 0, 38);
  EXPECT_EQ(b[4 + 0], 0);
  EXPECT_EQ(b[4 + 3], ('7' + 61) & 0xFF);  // i = 1 lands at (65 + 3) mod 65
  // 66 characters: every third byte, the key is 0 past its table.
  const std::string pw66(66, 'z');
  b = zip_password_block(padded(pw66), 0, 0, 0);
  ASSERT_EQ(b.size(), 70u);
  int written = 0;
  for (int i = 0; i < 66; ++i) written += b[4 + i] != 0;
  EXPECT_EQ(written, 22);
  EXPECT_EQ(b[4 + (27 + 3 * 65) % 66], ('z' + 0 + 61) & 0xFF);  // i = 65: K is the table's NUL
  // 512 characters read no key past the table.
  b = zip_password_block(padded(std::string(512, 'q')), 0, 0, 5);
  EXPECT_EQ(b.size(), 516u);
}

// --- matching --------------------------------------------------------------

TEST(Matcher, NamesAgainstPatterns) {
  ZipState s;
  zipInit(nullptr);
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.TXT", "readme.txt", true},   {"*.TXT", "A.B.TXT", true},      {"*.TXT", "readme.txt1", false},
      {"RE??ME.*", "readme.doc", true}, {"RE??ME.*", "rdme.doc", false}, {"*.", "NOEXT", true},
      {"*.", "A.TXT", false},          {"*.TXT", "dir/x.txt", true},    {"dir/*.TXT", "dir/x.txt", true},
      {"dir/*.TXT", "other/x.txt", false}, {"A*", "ABC.DAT", true},
  };
  for (const Case& c : cases) EXPECT_EQ(zip_match(s, c.pattern, c.name), c.match) << c.pattern << " " << c.name;
  s.sub_options2 = 1;  // folders must agree
  EXPECT_FALSE(zip_match(s, "*.TXT", "dir/x.txt"));
}

// --- record boundaries, parsed by an independent reader ----------------------

TEST(Records, Zip64BoundariesOnWrittenRecords) {
  testsupport::TempRoot root;
  zipInit(nullptr);
  ZipState s;
  s.large_files = true;
  ASSERT_NE(zip_archive(s), nullptr);
  const std::string path = root.path() + "/records.bin";
  s.out_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(s.out_fd, 0);
  auto entry = [](const char* name, std::uint64_t usize, std::uint64_t csize, std::uint64_t offset) {
    ZipEntry e;
    e.name = e.raw_name = name;
    e.made_by = e.needed = 45;
    e.method = 8;
    e.usize = usize;
    e.csize = csize;
    e.offset = offset;
    return e;
  };
  std::vector<ZipEntry> entries = {
      entry("over", 3500000001ull, 1000, 0),          entry("at", 3500000000ull, 1000, 0),
      entry("csize", 100, 0xFFFFFFFFull, 0),          entry("both", 100, 0xFFFFFFFFull, 0xFFFFFFFFull),
      entry("small", 5, 5, 7),
  };
  for (ZipEntry& e : entries) ASSERT_EQ(zip_write_local_header(s, e), 0);
  // A header rewritten with its final sizes keeps the length it had.
  ZipEntry grows = entry("grows", 100, 0, 0);
  const std::uint64_t before = s.archive->out_pos;
  ASSERT_EQ(zip_write_local_header(s, grows), 0);
  const std::uint64_t first = s.archive->out_pos - before;
  grows.usize = grows.csize = 5000000000ull;
  ASSERT_EQ(zip_write_local_header(s, grows), 0);
  EXPECT_EQ(s.archive->out_pos - before, 2 * first);
  ::ftruncate(s.out_fd, static_cast<off_t>(before));
  ::lseek(s.out_fd, static_cast<off_t>(before), SEEK_SET);
  s.archive->out_pos = before;
  ASSERT_EQ(zip_write_descriptor(s, entries[4]), 0);
  for (ZipEntry& e : entries) ASSERT_EQ(zip_write_central_header(s, e), 0);
  ::close(s.out_fd);
  const char* script = R"PY(
import struct, sys
d = open(sys.argv[1], 'rb').read()
p, loc, cen = 0, [], []
while d[p:p+4] == b'PK\x03\x04':
    f = struct.unpack_from('<IHHHIIIIHH', d, p)
    loc.append((f[1], f[6], f[7], d[p+30+f[8]:p+30+f[8]+f[9]]))
    p += 30 + f[8] + f[9]
assert d[p:p+4] == b'PK\x07\x08' and struct.unpack_from('<QQ', d, p+8) == (5, 5); p += 24
while d[p:p+4] == b'PK\x01\x02':
    f = struct.unpack_from('<IHHHHIIIIHHHHHII', d, p)
    cen.append((f[1], f[2], f[7], f[8], f[15], d[p+46+f[9]:p+46+f[9]+f[10]]))
    p += 46 + f[9] + f[10] + f[11]
z = lambda *v: struct.pack('<HH', 1, 8 * len(v)) + struct.pack('<%dQ' % len(v), *v)
assert loc[0] == (45, 1000, 3500000001, struct.pack('<HHQQ', 1, 16, 3500000001, 1000)), loc[0]
assert loc[1] == (20, 1000, 3500000000, b''), loc[1]
assert cen[1] == (20, 20, 1000, 3500000000, 0, b''), cen[1]
assert cen[2] == (45, 45, 0xFFFFFFFF, 100, 0, z(0xFFFFFFFF)), cen[2]
assert cen[3] == (45, 45, 0xFFFFFFFF, 100, 0xFFFFFFFF, z(0xFFFFFFFF, 0xFFFFFFFF)), cen[3]
assert cen[4] == (20, 20, 5, 5, 7, b''), cen[4]
assert p == len(d)
)PY";
  std::string out;
  EXPECT_EQ(run("python3 -c " + shell_quote(script) + " " + shell_quote(path), &out), 0) << out;
}

// --- many entries and streamed input -------------------------------------------

// Sixty-five thousand files are made in memory-backed storage where there is
// some: creating them on a disk takes far longer than archiving them.
class ManyEntries : public ArchiveTest {
 protected:
  static testsupport::TempRoot* make_root() {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    if (std::filesystem::is_directory("/dev/shm")) ::setenv("TMPDIR", "/dev/shm", 1);
    auto* r = new testsupport::TempRoot;
    if (old)
      ::setenv("TMPDIR", saved.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    return r;
  }
  void SetUp() override {
    ArchiveTest::SetUp();
    shm_.reset(make_root());
    // Exact-case paths keep the path lookups short.
    platform::set_current_directory("C:\\work\\");
    platform::make_dirs(shm_->path() + "/c/out");
  }
  void TearDown() override {
    ArchiveTest::TearDown();
    shm_.reset();
  }
  std::unique_ptr<testsupport::TempRoot> shm_;
};

TEST_F(ManyEntries, SixtyFiveThousandEntriesNeedZip64Records) {
  if (!have("unzip") || !have("7zz")) GTEST_SKIP() << "unzip or 7zz missing";
  const std::string dir = shm_->path() + "/c/work/many";
  platform::make_dirs(dir);
  for (int i = 0; i < 65535; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/f%05d", i);
    ::close(::open((dir + name).c_str(), O_WRONLY | O_CREAT, 0644));
  }
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\out\\many.zip", "many\\*.*");
  EXPECT_EQ(zipCompress(&c), ZE_BIG);
  EXPECT_FALSE(std::filesystem::exists(shm_->path() + "/c/out/many.zip"));
  c.LargeZIPFilesFlag = 1;
  ASSERT_EQ(zipCompress(&c), 0);
  const std::string z = shell_quote(shm_->path() + "/c/out/many.zip");
  expect_records("C:\\out\\many.zip", "r['zip64_end']['total'] == 65536 and r['end']['total'] == 0xFFFF and "
                                      "r['locator']['disks'] == 1 and len(r['entries']) == 65536");
  std::string out;
  EXPECT_EQ(run("unzip -tq " + z, &out), 0) << out;
  EXPECT_EQ(run("7zz t " + z + " | grep -q 'Files: 65535'", &out), 0) << out;
  EXPECT_EQ(run("python3 -c \"import zipfile,sys;sys.exit(len(zipfile.ZipFile(sys.argv[1]).infolist())!=65536)\" " + z,
                &out),
            0)
      << out;
}

struct Feed {
  std::string data;
  std::size_t pos = 0;
  std::size_t piece = 1000;
  std::string output;
  int answer_header = 3;
  std::size_t take_header = SIZE_MAX;
  int calls_in = 0;
  int calls_out = 0;
};

void feed(int direction, unsigned char* buf, std::uint32_t* len, std::uint64_t, std::uint64_t, void* user, int* status) {
  auto* f = static_cast<Feed*>(user);
  if (direction == 0) {
    ++f->calls_in;
    const std::size_t n = std::min<std::size_t>({*len, f->piece, f->data.size() - f->pos});
    std::memcpy(buf, f->data.data() + f->pos, n);
    f->pos += n;
    *len = static_cast<std::uint32_t>(n);
    if (f->pos == f->data.size()) *status = 0;
    return;
  }
  if (f->calls_out++ == 0) {
    *status = f->answer_header;
    *len = static_cast<std::uint32_t>(std::min<std::size_t>(*len, f->take_header));
  }
  f->output.append(reinterpret_cast<char*>(buf), *len);
}

TEST_F(ArchiveTest, StreamedInputGetsZip64BlockAndLongDescriptor) {
  if (!have("unzip") || !have("7zz")) GTEST_SKIP() << "unzip or 7zz missing";
  for (int large : {0, 1}) {
    for (const char* pw : {"", "pw"}) {
      SCOPED_TRACE(std::to_string(large) + pw);
      Feed f;
      f.data = text_lines(200000, 7);
      CALLBACKSTRUCT cb{0, feed, &f};
      const std::string zip = std::string("C:\\OUT\\S") + std::to_string(large) + (*pw ? "P" : "") + ".ZIP";
      ZIPCMDSTRUCT c = command(ZIP_CALLBACK_ADD, zip, "data\\stream.txt");
      c.lpCallbackStruct = &cb;
      c.LargeZIPFilesFlag = large;
      c.compFactor = 0;  // raised to 1: streamed data is never stored
      c.encryptFlag = *pw != 0;
      c.lpszEncryptCode = pw;
      ASSERT_EQ(zipCompress(&c), 0);
      const std::string z = shell_quote(linux_path(zip));
      const std::string p = *pw ? std::string(" -P") + pw : "";
      std::string out;
      EXPECT_EQ(run("unzip -tq" + p + " " + z, &out), 0) << out;
      EXPECT_EQ(run("7zz t" + std::string(*pw ? " -ppw " : " ") + z, &out), 0) << out;
      EXPECT_EQ(run("unzip -p" + p + " " + z + " data/stream.txt", &out), 0);
      EXPECT_EQ(out, f.data);
      EXPECT_EQ(run("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1]);z.setpassword(b'pw')\n"
                    "sys.exit(z.testzip() is not None)\" " + z, &out), 0) << out;
      expect_records(zip, std::string("(lambda e: e['flags'] & 8 and e['method'] == 8 and e['descriptor_len'] == ") +
                              (large ? "24 and e['local']['extra'][0]['tag'] == 1" : "16 and e['local']['extra'] == []") +
                              ")(r['entries'][0])");
      // The library updates its own streamed entries.
      write("C:\\WORK\\MORE.TXT", "more");
      ZIPCMDSTRUCT more = command(ZIP_ADD, zip, "MORE.TXT");
      more.LargeZIPFilesFlag = large;
      ASSERT_EQ(zipCompress(&more), 0);
      EXPECT_EQ(run("unzip -tq" + p + " " + z, &out), 0) << out;
    }
  }
}

// --- memory to memory -------------------------------------------------------------

std::string run_memory(Feed& f, int level, const char* pw, int* rc, int large = 0) {
  CALLBACKSTRUCT cb{0, feed, &f};
  ZIPCMDSTRUCT c{};
  c.structSize = kZipCmdV220;
  c.Function = ZIP_MEMTOMEM;
  c.lpszZIPFile = "";
  c.lpszItemList = "";
  c.compFactor = level;
  c.quietFlag = 1;
  c.lpCallbackStruct = &cb;
  c.encryptFlag = *pw != 0;
  c.lpszEncryptCode = pw;
  c.LargeZIPFilesFlag = large;
  *rc = zipCompress(&c);
  return f.output;
}

struct Header {
  unsigned flags = 0, method = 0, extra = 0, length = 0;
};
Header parse_header(const std::string& out) {
  const std::string script =
      "import struct,sys\nd=open(sys.argv[1],'rb').read()\n"
      "f=struct.unpack_from('<IHHHHIIIIHHHHHII',d,0)\nassert f[0]==0x02014b50\n"
      "print(f[3],f[4],f[10],46+f[9]+f[10]+f[11])";
  char tmpl[] = "/tmp/zipheader-XXXXXX";
  const int fd = ::mkstemp(tmpl);
  ::write(fd, out.data(), out.size());
  ::close(fd);
  std::string text;
  run("python3 -c " + shell_quote(script) + " " + tmpl, &text);
  ::unlink(tmpl);
  Header h;
  std::istringstream(text) >> h.flags >> h.method >> h.extra >> h.length;
  return h;
}

TEST(MemoryToMemory, HeaderThenARawStream) {
  zipInit(nullptr);
  zipAttachThread();
  for (int level : {0, 1, 6, 9, 10, 15, 25}) {
    SCOPED_TRACE(level);
    Feed f;
    f.data = text_lines(100000, 3) + pseudo_random(5000, 4);
    int rc = -1;
    const std::string out = run_memory(f, level, "", &rc);
    ASSERT_EQ(rc, 0);
    const Header h = parse_header(out);
    ASSERT_GE(h.length, 46u);
    EXPECT_EQ(h.method, level >= 10 ? 9u : 8u);
    if (level <= 1) {
      EXPECT_EQ(h.flags & 6, 4u);  // level 0 deflates at level 1
    }
    const std::string stream = out.substr(h.length);
    if (h.method == 8) {
      std::string plain;
      ASSERT_TRUE(inflate_raw(stream, &plain));
      EXPECT_EQ(plain, f.data);
    } else {
      decode_test::Bytes plain;
      ASSERT_EQ(decode_test::ours(decode_test::Bytes(stream.begin(), stream.end()), plain, true), ziplib::CodecResult::kOk);
      EXPECT_EQ(std::string(plain.begin(), plain.end()), f.data);
    }
  }
  zipDetachThread();
}

TEST(MemoryToMemory, EncryptionEmptyInputAndRefusedHeaders) {
  zipInit(nullptr);
  zipAttachThread();
  // Encrypted: the password block in the header, then the 12-byte header
  // whose check byte is the DOS time's high byte.
  Feed f;
  f.data = text_lines(30000, 8);
  int rc = -1;
  std::string out = run_memory(f, 6, "Pulse-42", &rc);
  ASSERT_EQ(rc, 0);
  Header h = parse_header(out);
  EXPECT_EQ(h.flags & 1, 1u);
  EXPECT_EQ(h.extra, 69u);
  ZipState s;
  zipInitKeys("Pulse-42", s);
  std::string plain;
  for (std::size_t i = h.length; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]) ^ zipKeystreamByte(s);
    zipUpdateKeys(c, s);
    plain += static_cast<char>(c);
  }
  EXPECT_EQ(static_cast<unsigned char>(plain[11]), static_cast<unsigned char>(out[13]));  // time high byte
  std::string inflated;
  ASSERT_TRUE(inflate_raw(plain.substr(12), &inflated));
  EXPECT_EQ(inflated, f.data);

  // Input that ends at once: a header and an empty stream.
  Feed empty;
  out = run_memory(empty, 6, "", &rc);
  ASSERT_EQ(rc, 0);
  h = parse_header(out);
  ASSERT_TRUE(inflate_raw(out.substr(h.length), &inflated));
  EXPECT_EQ(inflated, "");

  // A header taken in part is a failed write; no encryption header follows.
  Feed part;
  part.data = "abc";
  part.take_header = 10;
  out = run_memory(part, 6, "pw", &rc);
  EXPECT_EQ(rc, ZE_WRITE);
  EXPECT_EQ(out.size(), 10u);
  Feed other;
  other.answer_header = 7;
  out = run_memory(other, 6, "", &rc);
  EXPECT_EQ(rc, ZE_WRITE);
  Feed cancel;
  cancel.answer_header = 2;
  run_memory(cancel, 6, "", &rc);
  EXPECT_EQ(rc, ZE_ABORT);
  EXPECT_EQ(cancel.calls_out, 1);

  // A file name is no memory operation: refused before any callback.
  Feed named;
  CALLBACKSTRUCT cb{0, feed, &named};
  ZIPCMDSTRUCT c{};
  c.structSize = kZipCmdV220;
  c.Function = ZIP_MEMTOMEM;
  c.lpszZIPFile = "C:\\X.ZIP";
  c.quietFlag = 1;
  c.lpCallbackStruct = &cb;
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  EXPECT_EQ(named.calls_in + named.calls_out, 0);
  zipDetachThread();
}

}  // namespace
