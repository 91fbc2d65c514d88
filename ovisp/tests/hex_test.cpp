#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ovisp/tests/fakes.h"
#include "testsupport/pattern.h"
#include "testsupport/temp_root.h"

namespace {

using ovisp_test::LibraryTest;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A record line with its checksum, computed here independently.
std::string rec(const std::string& body) {
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < body.size(); i += 2) sum += static_cast<unsigned>(std::stoul(body.substr(i, 2), nullptr, 16));
  char tail[4];
  std::snprintf(tail, sizeof tail, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return ":" + body + tail + "\n";
}

int run(const std::string& command) { return std::system(command.c_str()); }


class HexFiles : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    ASSERT_EQ(ispInit(), 1);
  }
  std::string path(const std::string& name) const { return root.path() + "/" + name; }
  // The buffer of the current memory, offsets 0 to size-1, as bytes.
  std::string buffer(std::uint32_t size) {
    std::string out;
    for (std::uint32_t i = 0; i < size; ++i) {
      ispReadSingleByteFromBuffer(i);
      out += static_cast<char>(std::strtoul(ispGetLastResult(), nullptr, 16));
    }
    return out;
  }
  std::string result() const { return ispGetLastResult(); }

  testsupport::TempRoot root;
};

TEST_F(HexFiles, OutsideToolsFilesLoadByteForByte) {
  // objcopy: CR LF lines, 16-byte records, a type 02 record at 64 KB.
  ASSERT_EQ(ispSelectDevice(24), 1);
  const std::string image = testsupport::pattern_bytes(70000, 1);
  writeFile(path("a.bin"), image);
  ASSERT_EQ(run("objcopy -I binary -O ihex " + path("a.bin") + " " + path("a.hex")), 0);
  ASSERT_NE(readFile(path("a.hex")).find(":020000021000EC\r\n"), std::string::npos);
  ASSERT_EQ(ispParseHexFile(path("a.hex").c_str()), 1) << ispGetLastError();
  EXPECT_EQ(buffer(70000), image);
  ispGetBufferAddrLo();
  EXPECT_EQ(result(), "0000");
  ispGetBufferAddrHi();
  EXPECT_EQ(result(), "01116F");

  // srec_cat: a leading type 04 record and 32-byte records.
  const std::string image2 = testsupport::pattern_bytes(5000, 2);
  writeFile(path("b.bin"), image2);
  ASSERT_EQ(run("srec_cat " + path("b.bin") + " -Binary -offset 0x100 -o " + path("b.hex") + " -Intel"), 0);
  ASSERT_EQ(readFile(path("b.hex")).rfind(":020000040000FA", 0), 0u);
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispParseHexFile(path("b.hex").c_str()), 1) << ispGetLastError();
  EXPECT_EQ(buffer(5000 + 0x100).substr(0x100), image2);
  ispGetBufferAddrLo();
  EXPECT_EQ(result(), "0100");
}

TEST_F(HexFiles, WrittenFilesReadBackByOutsideTools) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  ispRandomizeBuffer();
  const std::string image = buffer(0x8000);
  ASSERT_EQ(ispWriteHexFile(0, 0x7FFF, path("r.hex").c_str()), 1);
  ASSERT_EQ(run("objcopy -I ihex -O binary " + path("r.hex") + " " + path("r1.bin")), 0);
  ASSERT_EQ(run("srec_cat " + path("r.hex") + " -Intel -o " + path("r2.bin") + " -Binary"), 0);
  EXPECT_EQ(readFile(path("r1.bin")), image);
  EXPECT_EQ(readFile(path("r2.bin")), image);
  writeFile(path("r.bin"), image);
  EXPECT_EQ(run("srec_cmp " + path("r.hex") + " -Intel " + path("r.bin") + " -Binary"), 0);
}

TEST_F(HexFiles, LargeImageRoundTripsThroughLinearAddressRecords) {
  ASSERT_EQ(ispSelectDevice(24), 1);
  const std::string image = testsupport::pattern_bytes(0x20000, 3);
  writeFile(path("big.bin"), image);
  ASSERT_EQ(run("srec_cat " + path("big.bin") + " -Binary -o " + path("big.hex") + " -Intel"), 0);
  ASSERT_EQ(ispParseHexFile(path("big.hex").c_str()), 1) << ispGetLastError();
  EXPECT_EQ(buffer(0x20000), image);

  ASSERT_EQ(ispWriteHexFile(0, 0x1FFFF, path("out.hex").c_str()), 1);
  const std::string text = readFile(path("out.hex"));
  EXPECT_NE(text.find(":020000040001F9\n"), std::string::npos);
  EXPECT_EQ(run("srec_cmp " + path("out.hex") + " -Intel " + path("big.bin") + " -Binary"), 0);

  // A record never runs across a 64 KB page: one that starts 8 bytes short
  // of the page end carries 8 bytes.
  ASSERT_EQ(ispWriteHexFile(0xFFF8, 0x10007, path("cross.hex").c_str()), 1);
  std::istringstream lines(readFile(path("cross.hex")));
  std::string first, second, third;
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  EXPECT_EQ(first.substr(0, 9), ":08FFF800");
  EXPECT_EQ(second, ":020000040001F9");
  EXPECT_EQ(third.substr(0, 9), ":08000000");

  ASSERT_EQ(ispFillBuffer("00"), 1);
  ASSERT_EQ(ispParseHexFile(path("out.hex").c_str()), 1);
  EXPECT_EQ(buffer(0x20000), image);
}

TEST_F(HexFiles, WriterRecordsAndRanges) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispFillBufferAddrRange(0, 0x20, "A5"), 1);
  ASSERT_EQ(ispWriteHexFile(0, 0x20, path("w.hex").c_str()), 1);
  EXPECT_EQ(readFile(path("w.hex")),
            ":10000000A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A0\n"
            ":10001000A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A590\n"
            ":01002000A53A\n"
            ":00000001FF\n");
  // Offsets at or past the memory's end, or an end below the start, are
  // refused before anything is written.
  for (auto [start, end] : {std::pair{0u, 0xFFFFFFFFu}, std::pair{0u, 0x8000u}, std::pair{0x10u, 0x0Fu}}) {
    EXPECT_EQ(ispWriteHexFile(start, end, path("x.hex").c_str()), 0);
    EXPECT_EQ(ispGetLastError(), 2);
  }
  EXPECT_FALSE(root.exists(path("x.hex")));
  // A file that cannot be created fails with a code, never "Pass".
  EXPECT_EQ(ispWriteHexFile(0, 1, "/proc/none/x.hex"), 0);
  EXPECT_EQ(ispGetLastError(), 22);
}

TEST_F(HexFiles, LowerCaseDataStaysVerbatim) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  writeFile(path("l.hex"), ":0400100012ab34cd2E\n:00000001FF\n");
  ASSERT_EQ(ispParseHexFile(path("l.hex").c_str()), 1) << ispGetLastError();
  ispReadSingleByteFromBuffer(0x11);
  EXPECT_EQ(result(), "ab");
  ASSERT_EQ(ispWriteHexFile(0x10, 0x13, path("l2.hex").c_str()), 1);
  EXPECT_EQ(readFile(path("l2.hex")), ":0400100012ab34cd2E\n:00000001FF\n");
}

TEST_F(HexFiles, WhollyLowerCaseFileLoadsLikeItsUpperCaseTwin) {
  ASSERT_EQ(ispSelectDevice(24), 1);
  writeFile(path("u.bin"), testsupport::pattern_bytes(70000, 4));
  ASSERT_EQ(run("srec_cat " + path("u.bin") + " -Binary -offset 0x20 -o " + path("u.hex") + " -Intel"), 0);
  std::string lower = readFile(path("u.hex"));
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_NE(lower.find(":020000040001f9"), std::string::npos);
  writeFile(path("l.hex"), lower);
  ASSERT_EQ(ispParseHexFile(path("u.hex").c_str()), 1) << ispGetLastError();
  const std::string upperImage = buffer(0x20000);
  ASSERT_EQ(ispSelectDevice(24), 1);
  ASSERT_EQ(ispParseHexFile(path("l.hex").c_str()), 1) << ispGetLastError();
  EXPECT_TRUE(buffer(0x20000) == upperImage);
  ispGetBufferAddrLo();
  EXPECT_EQ(result(), "0020");
  ispGetBufferAddrHi();
  EXPECT_EQ(result(), "01118F");
  // A checksum is still checked, whatever its case.
  writeFile(path("bad.hex"), ":0400100012ab34cd2f\n:00000001ff\n");
  EXPECT_EQ(ispParseHexFile(path("bad.hex").c_str()), 0);
  EXPECT_EQ(ispGetLastError(), 24);
}

TEST_F(HexFiles, DamagedFilesGiveTheirCodesAndLeaveTheBufferAsItWas) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  writeFile(path("before.hex"), rec("0200100055AA") + ":00000001FF\n");
  ASSERT_EQ(ispFillBuffer("00"), 1);
  ASSERT_EQ(ispParseHexFile(path("before.hex").c_str()), 1);
  ASSERT_EQ(mkdir(path("dir.hex").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(path("fifo.hex").c_str(), 0644), 0);
  const std::string good = rec("020000001122");
  std::string badSum = rec("020002003344");
  badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
  const std::string end = ":00000001FF\n";
  struct Case {
    const char* name;
    std::string text;
    int code;
  } cases[] = {
      {"bad checksum", good + badSum + end, 24},
      {"short record", good + rec("040002003344") + end, 23},
      {"long record", good + rec("010002003344") + end, 23},
      {"bad type", good + rec("0100020933") + end, 23},
      {"non-hex", good + ":01000200G3CA\n" + end, 23},
      {"no colon", good + "01000200333CA\n" + end, 23},
      {"missing end", good, 23},
      {"past the end", good + rec("02800000AABB") + end, 2},
      {"line too long", good + rec("7A000200" + std::string(244, '0')) + end, 23},
      {"line longer than the reader takes", good + ":" + std::string(4000, '0') + "\n" + end, 23},
      {"missing file", "", 22},
      {"directory", "", 22},
      {"FIFO", "", 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    const std::string file = name == "missing file" ? path("missing.hex")
                             : name == "directory"  ? path("dir.hex")
                             : name == "FIFO"       ? path("fifo.hex")
                                                    : path("d.hex");
    if (c.code != 22) writeFile(file, c.text);
    EXPECT_EQ(ispParseHexFile(file.c_str()), 0);
    EXPECT_EQ(ispGetLastError(), c.code);
    EXPECT_EQ(std::string(ispGetErrorVecPtr()[ispGetLastError()]),
              c.code == 24 ? "Invalid HEX file checksum."
              : c.code == 23 ? "Invalid HEX file syntax."
              : c.code == 22 ? "Cannot open file."
                             : "Address is out of range.");
    // Nothing of the damaged file reaches the buffer; the last good file's
    // bytes and range stay.
    EXPECT_EQ(buffer(0x20), std::string(0x10, '\0') + "\x55\xAA" + std::string(0x0E, '\0'));
    ispGetBufferAddrLo();
    EXPECT_EQ(result(), "0010");
    ispGetBufferAddrHi();
    EXPECT_EQ(result(), "000011");
  }
}

TEST_F(HexFiles, SegmentAndLinearBases) {
  ASSERT_EQ(ispSelectDevice(24), 1);
  writeFile(path("s.hex"), ":020000021000EC\n:01000000AA55\n:00000001FF\n");
  ASSERT_EQ(ispParseHexFile(path("s.hex").c_str()), 1);
  ispReadSingleByteFromBuffer(0x10000);
  EXPECT_EQ(result(), "AA");
  writeFile(path("t.hex"), ":020000040001F9\n:01000100BB43\n:00000001FF\n");
  ASSERT_EQ(ispParseHexFile(path("t.hex").c_str()), 1);
  ispReadSingleByteFromBuffer(0x10001);
  EXPECT_EQ(result(), "BB");
  // Above a 64 KB memory the same segment is out of range.
  ASSERT_EQ(ispSelectDevice(4), 1);
  EXPECT_EQ(ispParseHexFile(path("s.hex").c_str()), 0);
  EXPECT_EQ(ispGetLastError(), 2);
  // Memory 7 of device 3 starts at F400: file addresses are target addresses.
  ASSERT_EQ(ispSelectDevice(3), 1);
  ASSERT_EQ(ispSelectMemory(7), 1);
  writeFile(path("m.hex"), ":01F40100CC3E\n:00000001FF\n");
  ASSERT_EQ(ispParseHexFile(path("m.hex").c_str()), 1);
  ispReadSingleByteFromBuffer(1);
  EXPECT_EQ(result(), "CC");
  writeFile(path("low.hex"), ":01000000CC33\n:00000001FF\n");
  EXPECT_EQ(ispParseHexFile(path("low.hex").c_str()), 0);
  EXPECT_EQ(ispGetLastError(), 2);
}

TEST_F(HexFiles, FillChecksumAndSingleBytes) {
  ASSERT_EQ(ispSelectDevice(3), 1);
  EXPECT_EQ(ispFillBufferAddrRange(0, 3, "10"), 1);
  EXPECT_EQ(ispComputeBufferChecksum(0, 4), 1);
  EXPECT_EQ(result(), "00013F");  // 4 x 10 + FF
  for (const char* bad : {static_cast<const char*>(nullptr), "", "1", "G0"}) {
    EXPECT_EQ(ispFillBuffer(bad), 0);
    EXPECT_EQ(ispFillBufferAddrRange(0, 1, bad), 0);
    EXPECT_EQ(ispWriteSingleByteToBuffer(0, bad), 0);
  }
  EXPECT_EQ(ispFillBufferAddrRange(0, 0x8000, "00"), 0);
  EXPECT_EQ(ispGetLastError(), 2);
  EXPECT_EQ(ispWriteSingleByteToBuffer(0x8000, "00"), 0);
  EXPECT_EQ(ispGetLastError(), 2);
  EXPECT_EQ(ispWriteSingleByteToBuffer(0x7FFF, "3c"), 1);
  ispReadSingleByteFromBuffer(0x7FFF);
  EXPECT_EQ(result(), "3c");
  ispReadSingleByteFromBuffer(0x8000);
  EXPECT_EQ(result(), "FF");
  ispResetBuffer();
  ispReadSingleByteFromBuffer(0);
  EXPECT_EQ(result(), "FF");
  ispGetMemorySize();
  EXPECT_EQ(result(), "32768");
}

class Serialize : public LibraryTest {};

TEST_F(Serialize, FormsAndArguments) {
  ready(3, 2);
  auto bytes = [](std::uint32_t from, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
      ispReadSingleByteFromBuffer(from + static_cast<std::uint32_t>(i));
      out += ispGetLastResult();
      out += ' ';
    }
    return out;
  };
  ASSERT_EQ(ispSerialize(0, 0x100, 12345, 10, "number"), 1) << ispGetLastError();
  EXPECT_EQ(bytes(0x100, 4), "01 23 45 FF ");
  EXPECT_EQ(trace.back(), "programBlock 0 100 102");
  ASSERT_EQ(ispSerialize(0, 0x200, 12345, 10, "ASCII"), 1);
  EXPECT_EQ(bytes(0x200, 6), "31 32 33 34 35 FF ");
  ASSERT_EQ(ispSerialize(0, 0x300, 12345, 10, "unicode"), 1);
  EXPECT_EQ(bytes(0x300, 11), "31 00 32 00 33 00 34 00 35 00 FF ");
  ASSERT_EQ(ispSerialize(0, 0x400, 5, 10, "NUMBER"), 1);
  EXPECT_EQ(bytes(0x400, 2), "05 FF ");
  ASSERT_EQ(ispSerialize(0, 0x500, 0x12345, 16, "NUMBER"), 1);
  EXPECT_EQ(bytes(0x500, 4), "01 23 45 FF ");

  for (int base : {0, 1, 7, 12}) {
    EXPECT_EQ(ispSerialize(0, 0, 99, static_cast<unsigned char>(base), "NUMBER"), 0) << base;
    EXPECT_EQ(ispGetLastError(), 56);
  }
  EXPECT_EQ(ispSerialize(0, 0, -1, 10, "NUMBER"), 0);
  EXPECT_EQ(ispGetLastError(), 55);
  EXPECT_EQ(ispSerialize(0, 0x7FFE, 12345, 10, "NUMBER"), 0);
  EXPECT_EQ(ispGetLastError(), 2);
}

}  // namespace
