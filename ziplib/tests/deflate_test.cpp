#include "ziplib/decode.h"
#include "ziplib/deflate.h"
#include "ziplib/zip_state.h"
#include "ziplib/ziplib.h"
#include "ziplib/tests/encode_helpers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

using namespace ziptest;
using ziplib::ZipState;
using namespace ziplib;

namespace {

std::string read_file(const std::string& path, std::size_t limit = SIZE_MAX) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  std::string s = ss.str();
  if (s.size() > limit) s.resize(limit);
  return s;
}

std::string random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string source_dir() { return VASLAB_SOURCE_DIR; }

// Text that repeats with variation, so matches reach across the window.
std::string text_of(std::size_t n) {
  static const std::string base = read_file(source_dir() + "/ziplib/deflate.cpp");
  std::string s;
  unsigned k = 0;
  while (s.size() < n) {
    s += base.substr((k * 7919) % (base.size() / 2), 3000);
    s += std::to_string(k++);
  }
  s.resize(n);
  return s;
}

struct Sample {
  std::string name;
  std::string data;
};

const std::vector<Sample>& corpus() {
  static const std::vector<Sample> c = [] {
    std::vector<Sample> v;
    v.push_back({"empty", ""});
    v.push_back({"one", "A"});
    for (std::size_t n : {32767u, 32768u, 32769u, 65272u, 65273u, 65274u})
      v.push_back({"text" + std::to_string(n), text_of(n)});
    v.push_back({"zeros", std::string(150000, '\0')});
    v.push_back({"random", random_bytes(70000, 1)});
    std::string seq;
    for (int i = 1; seq.size() < 120000; ++i) seq += std::to_string(i) + "\n";
    v.push_back({"seq", seq});
    v.push_back({"readme", read_file(source_dir() + "/README.md")});
    v.push_back({"license", read_file("/usr/share/common-licenses/GPL-3", 40000)});
    v.push_back({"elf", read_file("/usr/bin/ls", 100000)});
    return v;
  }();
  return c;
}

bool have(const char* tool) { return run(std::string("command -v ") + tool) == 0; }

}  // namespace

TEST(Deflate, EveryLevelRoundTripsThroughZlib) {
  for (int level = 1; level <= 9; ++level) {
    for (const Sample& smp : corpus()) {
      SCOPED_TRACE(smp.name + " level " + std::to_string(level));
      Encoded e = encode(smp.data, level);
      ASSERT_EQ(e.error, 0);
      EXPECT_EQ(e.size, e.bytes.size());
      if (e.method == 0) {
        // Whole entry kept as it is: only when it does not shrink.
        EXPECT_TRUE(e.bytes == smp.data);
        continue;
      }
      EXPECT_EQ(e.method, 8);
      std::string back;
      ASSERT_TRUE(inflate_raw(e.bytes, &back));
      EXPECT_TRUE(back == smp.data);
    }
  }
}

TEST(Deflate, FlagBitsFollowTheLevel) {
  const std::string data = text_of(5000);
  EXPECT_EQ(encode(data, 1).flags, 0x0004);
  for (int level = 2; level <= 8; ++level) EXPECT_EQ(encode(data, level).flags, 0) << level;
  EXPECT_EQ(encode(data, 9).flags, 0x0002);
  EXPECT_EQ(encode(data, 1, true).flags, 0x0004);
  EXPECT_EQ(encode(data, 2, true).flags, 0x0004);
  EXPECT_EQ(encode(data, 5, true).flags, 0);
  EXPECT_EQ(encode(data, 8, true).flags, 0x0002);
  EXPECT_EQ(encode(data, 9, true).flags, 0x0002);
}

TEST(Deflate, InputArrivingInSmallPiecesGivesTheSameStream) {
  const std::string data = text_of(200000);
  for (bool d64 : {false, true}) {
    ZipState a, b;
    Encoded whole = encode(a, data, 6, d64);
    Encoded pieces = encode(b, data, 6, d64, 777);
    EXPECT_TRUE(whole.bytes == pieces.bytes) << d64;
  }
}

TEST(Deflate, IncompressibleInputIsStoredWholeOnlyWhereTheHeaderCanBeRewritten) {
  const std::string data = random_bytes(10000, 7);  // one block
  // A single-volume file: the entry becomes method 0, byte for byte.
  Encoded single = encode(data, 6);
  EXPECT_EQ(single.method, 0);
  EXPECT_TRUE(single.bytes == data);

  // Empty input as well.
  Encoded empty = encode("", 6);
  EXPECT_EQ(empty.method, 0);
  EXPECT_EQ(empty.size, 0u);

  // Split parts are seekable but their local header is never rewritten: the
  // data stays a Deflate stream (with a stored block).
  struct RoomyDisk : ziplib::VolumeLayer {
    int write_volume(ZipState&, std::uint64_t) override { return 0; }
    std::uint64_t disk_free(ZipState&) override { return 1u << 30; }
    std::uint64_t free_room(ZipState&) override { return 1u << 30; }
    int next_part(ZipState&) override { return 0; }
  } disk;
  ZipState split;
  split.multi_vol = ziplib::kMvMulti | ziplib::kMvSplit;
  split.volumes = &disk;
  Encoded in_split = encode(split, data, 6, false);
  EXPECT_EQ(in_split.method, 8);
  std::string back;
  ASSERT_TRUE(inflate_raw(in_split.bytes, &back));
  EXPECT_TRUE(back == data);
  EXPECT_LE(in_split.bytes.size(), data.size() + 5 * 2);

  // A spanned disk cannot seek: no stored block in Deflate, but Deflate64
  // may store anywhere.
  ZipState spanned;
  spanned.multi_vol = ziplib::kMvMulti;
  spanned.volumes = &disk;
  Encoded on_disk = encode(spanned, data, 6, false);
  EXPECT_EQ(on_disk.method, 8);
  ASSERT_TRUE(inflate_raw(on_disk.bytes, &back));
  EXPECT_TRUE(back == data);
  EXPECT_GT(on_disk.bytes.size(), data.size() + 4);  // coded, not stored
}

// One encoder serves every entry of an archive: what an entry codes to must
// not depend on the entries before it.  Small entries of the same text
// tempt a chain left from an earlier entry; a cancelled entry, one near the
// window's slide and one past it leave their own kinds of chains behind.
TEST(Deflate, AnEntryCodesAsIfItWereTheFirst) {
  std::vector<std::string> entries;
  const std::string text = text_of(300000);
  for (std::size_t i = 0; i < 40; ++i) entries.push_back(text.substr(i * 37, 30 + (i * 53) % 370));
  for (std::size_t n : {4093u, 4095u, 4096u, 4097u, 4200u, 40000u, 70000u, 3u, 2u, 1u, 0u})
    entries.push_back(text.substr(n % 1000, n));
  for (std::size_t i = 0; i < 10; ++i) entries.push_back(text.substr(i * 11, 200));
  // An entry whose last three bytes begin, in the next entry, a string met
  // again further on and then once more just where the first entry ended:
  // a chain left from the first leads forward into the second's lookahead.
  const std::string tail = "qzjLONG MATCHING STRING!!";
  entries.push_back(std::string(97, '.') + "qzj");
  entries.push_back("....." + std::string("qzj#") + std::string(10, '-') + tail + std::string(97 - 19 - tail.size(), '=') +
                    tail + std::string(300, '~'));
  for (bool d64 : {false, true})
    for (int level : {1, 2, 4, 6, 9}) {
      ZipState reused;
      // A cancelled entry first, cut off in the middle of its input.
      MemoryInput cut{&text, 0, 5000};
      reused.reader = [](unsigned char* buf, std::size_t size, ZipState& st) {
        const std::size_t n = read_memory(buf, size, st);
        st.cancel = true;
        return n;
      };
      reused.reader_context = &cut;
      std::FILE* f = std::tmpfile();
      reused.out_fd = fileno(f);
      std::uint16_t flags = 0, attr = 0, method = 8;
      if (d64) {
        zipDeflate64Start(reused, level, &flags);
        zipTrees64Start(reused, &attr, &method);
        zipDeflate64(reused);
      } else {
        zipDeflateStart(reused, level, &flags);
        zipTreesStart(reused, &attr, &method);
        zipDeflate(reused);
      }
      std::fclose(f);
      reused.cancel = false;
      reused.error = 0;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i) + " level " + std::to_string(level) + (d64 ? " Deflate64" : ""));
        const Encoded after = encode(reused, entries[i], level, d64);
        ASSERT_EQ(after.error, 0);
        EXPECT_TRUE(after.bytes == encode(entries[i], level, d64).bytes);
      }
    }
}

TEST(Deflate, TextIsDetectedAtTheFirstBlock) {
  EXPECT_EQ(encode(text_of(3000), 6).attr, 1);
  EXPECT_EQ(encode(random_bytes(3000, 3) + text_of(100), 6).attr, 0);
}

TEST(Deflate, SizeStaysCloseToZlibAtEveryLevel) {
  std::string all;
  for (const Sample& smp : corpus()) all += smp.data;
  for (int level = 1; level <= 9; ++level) {
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, all.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(all.data());
    z.avail_in = static_cast<uInt>(all.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    const double zlib_size = static_cast<double>(z.total_out);
    deflateEnd(&z);
    Encoded e = encode(all, level);
    EXPECT_LE(static_cast<double>(e.size), zlib_size * 1.005 + 64) << "level " << level;
  }
}

TEST(Deflate64, LongRunsAndFarMatchesBeatDeflate) {
  const std::string zeros(70000, 'x');
  Encoded run64 = encode(zeros, 6, true);
  Encoded run32 = encode(zeros, 6, false);
  // Deflate needs a 258-byte match per 258 bytes; Deflate64 one long match.
  EXPECT_LT(run64.size, 40u);
  EXPECT_LT(run64.size * 2, run32.size);

  const std::string block = random_bytes(40000, 9);
  const std::string twice = block + block;
  Encoded far64 = encode(twice, 6, true);
  Encoded far32 = encode(twice, 6, false);
  EXPECT_LT(far64.size, 41000u);
  EXPECT_GT(far32.size, 79000u);
}

TEST(Deflate64, EveryLevelPassesUnzipAnd7zip) {
  if (!have("unzip") || !have("7zz")) GTEST_SKIP() << "unzip or 7zz missing";
  std::vector<Sample> samples = corpus();
  samples.push_back({"run70000", std::string(70000, 'x')});
  samples.push_back({"far", random_bytes(40000, 9) + random_bytes(40000, 9)});
  samples.push_back({"long", text_of(300000)});
  char dir[] = "/tmp/zipd64XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  for (int level = 1; level <= 9; ++level) {
    std::vector<ArchiveEntry> entries;
    for (const Sample& smp : samples) {
      Encoded e = encode(smp.data, level, true);
      ASSERT_EQ(e.error, 0);
      entries.push_back({smp.name, e.method, e.flags, e.bytes, crc_of(smp.data),
                         static_cast<std::uint32_t>(smp.data.size())});
    }
    const std::string path = std::string(dir) + "/level" + std::to_string(level) + ".zip";
    std::ofstream(path, std::ios::binary) << build_zip(entries);
    std::string out;
    EXPECT_EQ(run("unzip -tq " + path, &out), 0) << out;
    EXPECT_EQ(run("7zz t " + path, &out), 0) << out;
  }
  run(std::string("rm -rf ") + dir);
}

TEST(Deflate, CodeLengthsStayWithinTheirLimits) {
  // Fibonacci frequencies make the natural Huffman tree far deeper than 15.
  std::string skewed;
  std::uint32_t a = 1, b = 1;
  for (int sym = 0; sym < 26; ++sym) {
    skewed.append(a, static_cast<char>('A' + sym));
    std::uint32_t c = a + b;
    a = b;
    b = c;
  }
  std::mt19937 rng(5);
  std::shuffle(skewed.begin(), skewed.end(), rng);
  // This program's code-length tree needs the 7-bit limit at level 2.
  const std::string program = read_file("/usr/bin/perl", 1600000);
  for (int level : {1, 2, 6}) {
    Encoded e = encode(skewed, level);
    std::string back;
    ASSERT_TRUE(inflate_raw(e.bytes, &back)) << level;
    EXPECT_TRUE(back == skewed);
  }
  Encoded e = encode(program, 2);
  std::string back;
  ASSERT_TRUE(inflate_raw(e.bytes, &back));
  EXPECT_TRUE(back == program);
}

TEST(Deflate, ACancelDuringInputEndsTheEntryWithNine) {
  ZipState s;
  const std::string data = text_of(300000);
  MemoryInput in{&data, 0, 20000};
  s.reader = [](unsigned char* buf, std::size_t size, ZipState& st) {
    std::size_t n = read_memory(buf, size, st);
    st.cancel = true;  // the host's progress callback said stop
    return n;
  };
  s.reader_context = &in;
  std::FILE* f = std::tmpfile();
  s.out_fd = fileno(f);
  std::uint16_t flags = 0, attr = 0, method = 8;
  zipDeflateStart(s, 6, &flags);
  zipTreesStart(s, &attr, &method);
  zipDeflate(s);
  std::fclose(f);
  EXPECT_EQ(s.error, ZE_ABORT);
  EXPECT_LT(in.pos, data.size());
}

TEST(Deflate, BinaryInputWithLineEndConversionIsWarnedAbout) {
  static std::string warning;
  zipInit(nullptr);
  zipAttachThread();
  ZipState& s = *ziplib::zip_current_state();
  s.message_proc = [](int code, int, int, int, char* text, char*, void*) {
    if (code == 12) warning = text;
    return 1;
  };
  s.cmd.convertLFtoCRLFFlag = 1;
  encode(s, random_bytes(5000, 4), 6, false);
  EXPECT_EQ(warning, "can not translate EOL in binary files");
  warning.clear();
  encode(s, text_of(5000), 6, false);
  EXPECT_EQ(warning, "");
  zipDetachThread();
}

TEST(Deflate64, EveryLevelRoundTripsThroughTheLibrarysOwnInflate) {
  std::vector<Sample> samples = corpus();
  samples.push_back({"run70000", std::string(70000, 'x')});
  for (int level = 1; level <= 9; ++level) {
    for (const Sample& smp : samples) {
      SCOPED_TRACE(smp.name + " level " + std::to_string(level));
      Encoded e = encode(smp.data, level, true);
      if (e.method == 0) continue;  // stored whole: nothing to inflate
      const auto* p = reinterpret_cast<const std::uint8_t*>(e.bytes.data());
      ziplib::MemorySource in({p, e.bytes.size()}, 4096);
      ziplib::VectorSink out;
      ASSERT_EQ(ziplib::inflate(in, out, true), ziplib::CodecResult::kOk);
      EXPECT_TRUE(std::string(out.bytes.begin(), out.bytes.end()) == smp.data);
    }
  }
}
