// Each protocol through the exported functions against a target of its own
// kind: a serial bootloader that echoes and answers, a CAN node that answers
// a display with a stream of frames, a USB DFU bootloader that answers with
// status replies.  The targets behave as the bootloaders are described, not
// as the library expects them to, and they keep what they sent until it is
// read: nothing here forgives an answer taken for the wrong command, a
// failure taken for success or a wait cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ovisp/comm_driver.h"
#include "ovisp/isp.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "ovisp/tests/fakes.h"
#include "platform/clock.h"
#include "testsupport/diskette_image.h"
#include "testsupport/temp_root.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hex(unsigned value, int digits) { return ovisp::hexText(value, digits); }

Bytes pairs(const std::string& digits) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Fills the library's buffer with what `value` gives for each address.
void fillBuffer(unsigned start, unsigned end, const std::function<std::uint8_t(unsigned)>& value) {
  for (unsigned a = start; a <= end; ++a) ispWriteSingleByteToBuffer(a, hex(value(a), 2).c_str());
}

std::uint8_t pattern(unsigned a) { return static_cast<std::uint8_t>(a * 7 + (a >> 8)); }

// What the table over every link asks of a target, whatever its link.
class Target {
 public:
  virtual ~Target() = default;
  // Commands received so far: records, frames or download requests.
  virtual std::size_t received() const = 0;
  // A byte of the target's flash (memory 0).
  virtual std::uint8_t& flash(unsigned address) = 0;
  // While set, the target refuses writes of its boot status byte.
  virtual void refuseBootStatus(bool on) = 0;
};

// ---- RS-232 -----------------------------------------------------------------

// A serial bootloader: it echoes every record and then answers, '.' for
// done, a display as lines "AAAA=" + data, a blank check with '.' or the
// first offset that is not blank right after the echo.  Its characters wait
// in `out` until the library reads them; a read that runs dry before its end
// character or count is one the real link would sit out.  A paged target
// (device 24) takes its memory from a type 04 record (memory, 00) and its
// 64 KB page from a type 02 segment record, and works on those alone.
class Rs232Target : public ovisp_test::RecordingLinkBase, public Target {
 public:
  enum class Lines { Cr, CrLf, Lf, AsCounted };

  bool openSerial(const std::string&, int, std::uint8_t, std::uint8_t, std::uint8_t) override { return true; }
  bool close() override { return true; }
  bool writeText(const std::string& record) override {
    records.push_back(record);
    answer(record);
    return true;
  }
  bool readText(std::string& text, int count, std::int8_t endChar, std::uint16_t) override {
    text.clear();
    if (out.empty()) {
      ++stalls;
      return false;
    }
    std::size_t n = 0;
    bool ended = false;
    while (n < out.size() && !ended) {
      const char c = out[n++];
      ended = c == static_cast<char>(endChar) || (count > 0 && n == static_cast<std::size_t>(count));
    }
    if (!ended) ++stalls;
    text = out.substr(0, n);
    out.erase(0, n);
    taken += n;
    return true;
  }
  std::size_t received() const override { return records.size(); }
  std::uint8_t& flash(unsigned address) override { return at(0, address); }
  void refuseBootStatus(bool on) override { refuseBootStatus_ = on; }

  bool paged = false;
  std::map<int, Bytes> memory = {{0, Bytes(0x20000, 0xFF)}, {1, Bytes(0x10000, 0xFF)}, {2, Bytes(0x10000, 0xFF)},
                                 {3, Bytes(128, 0xFF)},     {4, Bytes(128, 0xFF)},     {6, Bytes(128, 0xFF)}};
  Lines lines = Lines::Cr;
  // Replaces what follows the echo of a blank check.
  std::optional<std::string> blankAnswer;
  // Echoes every record with its first data digit changed.
  bool garbleEcho = false;
  std::string out;
  std::vector<std::string> records;
  int stalls = 0;
  // Characters the library has read.
  std::size_t taken = 0;

 private:
  std::uint8_t& at(int m, unsigned address) {
    Bytes& bytes = memory[m];
    if (bytes.empty()) bytes.assign(1, 0xFF);
    return bytes[address % bytes.size()];
  }
  std::string echoOf(const std::string& record) const {
    if (!garbleEcho || record.size() < 11) return record;
    std::string echo = record;
    echo[9] = echo[9] == '0' ? '1' : '0';
    return echo;
  }
  void answer(const std::string& record) {
    const std::string echo = echoOf(record);
    const Bytes r = pairs(record.substr(1));
    if (r.size() < 5) return;
    const unsigned count = r[0];
    const unsigned address = static_cast<unsigned>(r[1] << 8 | r[2]);
    const std::uint8_t type = r[3];
    if (type == 0x00 || type == 0x07 || type == 0x08) {
      const int m = paged ? memory_ : type == 0x00 ? 0 : type == 0x07 ? 1 : 2;
      for (unsigned i = 0; i < count; ++i) at(m, base() + address + i) = r[4 + i];
      out += echo + ".\r";
    } else if (type == 0x04 && count == 5) {
      const unsigned start = static_cast<unsigned>(r[4] << 8 | r[5]);
      const unsigned end = static_cast<unsigned>(r[6] << 8 | r[7]);
      if (r[8] == 0x01) {
        out += echo + blankCheck(start, end);
      } else {
        out += echo + display(paged ? memory_ : r[8] == 0x00 ? 0 : r[8] == 0x02 ? 1 : 2, start, end);
      }
    } else if (paged && type == 0x04 && count == 2) {
      memory_ = r[4];
      out += echo + ".\r";
    } else if (paged && type == 0x02 && count == 2) {
      segment_ = static_cast<unsigned>(r[4] << 8 | r[5]);
      out += echo + ".\r";
    } else if (type == 0x05) {
      out += echo + "00.\r";
    } else if (type == 0x03 && count == 3 && r[4] == 0x06 && r[5] == 0x00 && refuseBootStatus_) {
      out += echo + "P\r";
    } else {
      if (type == 0x03 && count == 1 && r[4] == 0x07) std::fill(memory[0].begin(), memory[0].end(), 0xFF);
      out += echo + ".\r";
    }
  }
  unsigned base() const { return paged ? segment_ << 4 : 0; }
  std::string blankCheck(unsigned start, unsigned end) {
    if (blankAnswer) return *blankAnswer;
    for (unsigned a = start; a <= end; ++a) {
      if (at(paged ? memory_ : 0, base() + a) != 0xFF) return hex(a, 4) + "\r";
    }
    return ".\r";
  }
  std::string display(int m, unsigned start, unsigned end) {
    const unsigned n = end - start + 1;
    std::string eol = lines == Lines::Cr ? "\r" : lines == Lines::Lf ? "\n" : "\r\n";
    if (lines == Lines::AsCounted && n % 16 != 0) eol = "\r";
    std::string text = eol;
    for (unsigned line = start; line <= end; line += 16) {
      text += hex(line, 4) + "=";
      for (unsigned a = line; a <= end && a < line + 16; ++a) text += hex(at(m, base() + a), 2);
      text += eol;
    }
    return text;
  }

  int memory_ = 0;
  unsigned segment_ = 0;
  bool refuseBootStatus_ = false;
};

class Rs232Targets : public ovisp_test::RecordingLinkTest<Rs232Target> {
 protected:
  // A new library and target for the next case of a table.
  void fresh() {
    TearDown();
    SetUp();
  }
  void ready(int device = 11) {
    ASSERT_EQ(ispSelectDevice(device), 1);
    ASSERT_EQ(ispSelectCommHardware(1), 1) << ispGetLastError();
    link->records.clear();
  }
};

TEST_F(Rs232Targets, ADisplayOfTheCountedLengthIsTakenWithoutAWaitAndSpoilsNoNextCommand) {
  // A target that ends whole lines by CR LF, a short last line and all
  // others by CR answers a display of 64 bytes with 179 characters, one of
  // 20 bytes with 74 (echo included).  The library takes them without
  // sitting out a wait and stores every byte; it leaves at most the line
  // feed after the last CR, which is no part of the next command's answer.
  for (const auto& [bytes, characters] : {std::pair{64u, 179u}, std::pair{20u, 74u}}) {
    SCOPED_TRACE(std::to_string(bytes) + " bytes");
    fresh();
    ready();
    link->lines = Rs232Target::Lines::AsCounted;
    for (unsigned a = 0; a < bytes; ++a) link->memory[0][a] = pattern(a);
    ASSERT_EQ(ispReadAddrRange(0, bytes - 1, ""), 1) << ispGetLastError();
    EXPECT_EQ(link->taken + link->out.size(), characters);
    EXPECT_TRUE(link->out.empty() || link->out == "\n") << link->out;
    for (unsigned a = 0; a < bytes; ++a) {
      ispReadSingleByteFromBuffer(a);
      EXPECT_EQ(ispGetLastResult(), hex(pattern(a), 2)) << hex(a, 4);
    }
    EXPECT_EQ(ispVerifyAddrRange(0, bytes - 1), 1) << ispGetLastError();
    EXPECT_EQ(ispBlankCheckAddrRange(0, bytes - 1), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
    EXPECT_EQ(link->stalls, 0);
  }
}

TEST_F(Rs232Targets, BlankCheckNeedsTheTargetsAnswerAfterTheEcho) {
  struct Case {
    const char* what;
    int device;
    int memory;
    std::function<void(Rs232Target&)> setUp;
    unsigned char answer;
    int error;
    const char* result;
  };
  const Case cases[] = {
      {"blank", 11, 0, [](Rs232Target&) {}, 1, 0, nullptr},
      {"written at 1234", 11, 0, [](Rs232Target& t) { t.memory[0][0x1234] = 0x00; }, 0, ovisp::kBlankCheckFail, "1234"},
      {"written at 0000", 11, 0, [](Rs232Target& t) { t.memory[0][0] = 0x5A; }, 0, ovisp::kBlankCheckFail, "0000"},
      {"offset after a line feed", 11, 0, [](Rs232Target& t) { t.blankAnswer = "\n0456\r"; }, 0,
       ovisp::kBlankCheckFail, "0456"},
      {"echo alone", 11, 0, [](Rs232Target& t) { t.blankAnswer = ""; }, 0, ovisp::kTimeout, nullptr},
      {"a bare CR", 11, 0, [](Rs232Target& t) { t.blankAnswer = "\r"; }, 0, ovisp::kWrongReply, nullptr},
      {"a changed echo and a dot", 11, 0, [](Rs232Target& t) { t.garbleEcho = true; }, 0, ovisp::kWrongReply, nullptr},
      {"a word", 11, 0, [](Rs232Target& t) { t.blankAnswer = "OK\r"; }, 0, ovisp::kWrongReply, nullptr},
      // The command names no memory: it would answer for memory 0.
      {"memory 1 selected", 15, 1, [](Rs232Target&) {}, 0, ovisp::kBadMemory, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    ready(c.device);
    ASSERT_EQ(ispSelectMemory(c.memory), 1);
    c.setUp(*link);
    EXPECT_EQ(ispBlankCheckDevice(), c.answer) << ispGetLastError();
    if (c.answer == 0) {
      EXPECT_EQ(ispGetLastError(), c.error);
    }
    if (c.result != nullptr) {
      EXPECT_STREQ(ispGetLastResult(), c.result);
    }
    if (c.error == ovisp::kBadMemory) {
      EXPECT_TRUE(link->records.empty());
    }
  }
}

TEST_F(Rs232Targets, AChangedEchoIsNoSuccess) {
  const std::function<unsigned char()> operations[] = {
      [] { return ispProgramAddrRange(0, 0x1F); }, [] { return ispEraseDevice(); },
      [] { return ispWriteSpecialByte(5, 0xA5); }, [] { return ispReadSpecialByte(0); },
      [] { return ispVerifyAddrRange(0, 0x1F); }};
  ready();
  link->garbleEcho = true;
  for (std::size_t i = 0; i < std::size(operations); ++i) {
    link->out.clear();
    EXPECT_EQ(operations[i](), 0) << "operation " << i;
    EXPECT_EQ(ispGetLastError(), ovisp::kWrongReply) << "operation " << i;
  }
}

TEST_F(Rs232Targets, DisplaysOfEitherLineEndVerifyAndReadWithoutWaiting) {
  using Lines = Rs232Target::Lines;
  const std::pair<unsigned, unsigned> ranges[] = {{0, 0}, {0, 15}, {0, 16}, {0x10, 0x13B}, {5, 0x18},
                                                  {0x100, 0x4FF}, {0x7FF0, 0x8400}};
  for (Lines lines : {Lines::Cr, Lines::CrLf, Lines::AsCounted, Lines::Lf}) {
    for (const auto& [start, end] : ranges) {
      SCOPED_TRACE("lines " + std::to_string(static_cast<int>(lines)) + " range " + hex(start, 4) + "-" + hex(end, 4));
      fresh();
      ready();
      link->lines = lines;
      for (unsigned a = start; a <= end; ++a) link->memory[0][a] = pattern(a);
      fillBuffer(start, end, pattern);
      EXPECT_EQ(ispVerifyAddrRange(start, end), 1) << ispGetLastError();
      ASSERT_EQ(ispFillBuffer("00"), 1);
      EXPECT_EQ(ispReadAddrRange(start, end, ""), 1) << ispGetLastError();
      for (unsigned a = start; a <= end; a += 7) {
        ispReadSingleByteFromBuffer(a);
        ASSERT_EQ(ispGetLastResult(), hex(pattern(a), 2)) << hex(a, 4);
      }
      // Lines ended by a line feed alone end no read; every other form is
      // taken line by line without sitting out a single wait.
      if (lines != Lines::Lf) {
        EXPECT_EQ(link->stalls, 0);
      }

      // The first difference is named, and the rest of its display is no
      // answer to the next command.
      link->memory[0][end] ^= 0x01;
      EXPECT_EQ(ispVerifyAddrRange(start, end), 0);
      EXPECT_EQ(ispGetLastError(), ovisp::kVerifyFail);
      EXPECT_EQ(ispGetLastResult(), hex(end, 4));
      link->memory[0][end] ^= 0x01;
      EXPECT_EQ(ispVerifyAddrRange(start, end), 1) << ispGetLastError();
    }
  }
}

TEST_F(Rs232Targets, AWholeMemoryVerifiesWithoutAWaitOnAnyBlock) {
  for (Rs232Target::Lines lines : {Rs232Target::Lines::Cr, Rs232Target::Lines::CrLf}) {
    fresh();
    ready();
    link->lines = lines;
    for (unsigned a = 0; a <= 0xFFFF; ++a) link->memory[0][a] = pattern(a);
    fillBuffer(0, 0xFFFF, pattern);
    EXPECT_EQ(ispVerifyAddrRange(0, 0xFFFF), 1) << ispGetLastError();
    EXPECT_EQ(link->stalls, 0);
  }
}

// ---- CAN --------------------------------------------------------------------

struct Frame {
  std::uint32_t id;
  Bytes data;
};

// A CAN bootloader node of CRIS 0: one frame in, its replies out, a display
// answered by the whole range in frames of eight bytes.  Replies wait in
// `queue` until read; `holdReplies` keeps the next replies back until the
// library has given up waiting for them (a read with a time-out that found
// nothing), as a slow node's replies arrive late.  A node that refuses a
// write answers on its error frame, base + 6.
class CanTarget : public ovisp_test::RecordingCanLinkBase, public Target {
 public:
  bool writeText(const std::string& frame) override {
    frames.push_back(frame);
    const std::uint32_t id = static_cast<std::uint32_t>(std::stoul(frame.substr(0, 3), nullptr, 16));
    const Bytes data = pairs(frame.substr(5));
    for (Frame& f : answer(id, data)) (holdReplies > 0 ? held : queue).push_back(std::move(f));
    if (holdReplies > 0) --holdReplies;
    return true;
  }
  bool readCan(std::uint32_t& id, std::uint8_t& length, std::uint8_t data[8], int timeoutMs) override {
    if (queue.empty()) {
      if (timeoutMs > 0) {
        queue.insert(queue.end(), held.begin(), held.end());
        held.clear();
      }
      ovisp::setLastError(ovisp::kTimeout);
      return false;
    }
    const Frame f = queue.front();
    queue.pop_front();
    id = f.id;
    length = static_cast<std::uint8_t>(f.data.size());
    std::copy(f.data.begin(), f.data.end(), data);
    return true;
  }

  std::size_t received() const override { return frames.size(); }
  std::uint8_t& flash(unsigned address) override { return memory[0][address % memory[0].size()]; }
  void refuseBootStatus(bool on) override { refuseBootStatus_ = on; }

  bool paged = false;
  // The special bytes of a paged node live in memories 3 to 6.
  std::map<int, Bytes> memory = {{0, Bytes(0x20000, 0xFF)}, {1, Bytes(0x1000, 0xFF)}, {3, Bytes(128, 0xFF)},
                                 {4, Bytes(128, 0xFF)},     {5, Bytes(128, 0xFF)},    {6, Bytes(128, 0xFF)}};
  std::deque<Frame> queue;
  std::deque<Frame> held;
  int holdReplies = 0;
  std::vector<std::string> frames;

 private:
  // `d` holds the data bytes after the length: memory or operation first,
  // then start and end for the range frames.
  std::vector<Frame> answer(std::uint32_t id, const Bytes& d) {
    const unsigned kind = id & 0xF;
    auto range = [&]() {
      return std::pair<unsigned, unsigned>{static_cast<unsigned>(d[1] << 8 | d[2]),
                                           static_cast<unsigned>(d[3] << 8 | d[4])};
    };
    switch (kind) {
      case 0: return {{id, {0x2A, 0x01}}};
      case 6:
        if (d.size() == 3 && d[0] == 0x03) {
          memoryIndex_ = d[1];
          page_ = d[2];
        }
        return {{id, {0x00}}};
      case 1:
        if (d.size() == 5) {
          if (!paged) memoryIndex_ = d[0] == 0x00 ? 0 : 1;
          std::tie(next_, last_) = range();
        }
        return {{id, {0x00}}};
      case 2:
        // The boot status byte is the first byte of memory 4.
        if (refuseBootStatus_ && paged && memoryIndex_ == 4 && next_ == 0) return {{(id & ~0xFu) | 6, {}}};
        for (std::size_t i = 0; i < d.size(); ++i) at(next_++) = d[i];
        return {{id, {static_cast<std::uint8_t>(next_ > last_ ? 0x00 : 0x02)}}};
      case 3: {
        if (d.size() != 5) return {};
        const bool blank = paged ? d[0] == 0x80 : d[0] == 0x01;
        // The blank check of the plain set always checks the flash.
        if (!paged) memoryIndex_ = blank || d[0] == 0x00 ? 0 : 1;
        const auto [start, end] = range();
        if (blank) {
          for (unsigned a = start; a <= end; ++a) {
            if (at(a) != 0xFF) return {{id, {static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)}}};
          }
          return {{id, {}}};
        }
        std::vector<Frame> out;
        for (unsigned a = start; a <= end; a += 8) {
          Frame f{id, {}};
          for (unsigned b = a; b <= end && b < a + 8; ++b) f.data.push_back(at(b));
          out.push_back(std::move(f));
        }
        return out;
      }
      default: return {{id, {0x00}}};
    }
  }
  std::uint8_t& at(unsigned offset) {
    return memory[memoryIndex_][(static_cast<std::size_t>(page_) << 16 | offset) % memory[memoryIndex_].size()];
  }

  int memoryIndex_ = 0;
  unsigned page_ = 0;
  unsigned next_ = 0;
  unsigned last_ = 0;
  bool refuseBootStatus_ = false;
};

class CanTargets : public ovisp_test::RecordingLinkTest<CanTarget> {
 protected:
  void fresh() {
    TearDown();
    SetUp();
  }
  void ready(int device = 15, bool paged = false) {
    link->paged = paged;
    ASSERT_EQ(ispSelectDevice(device), 1);
    ASSERT_EQ(ispSelectCommHardware(4), 1) << ispGetLastError();
    ASSERT_EQ(ispSelectCanNode(0x2A), 1) << ispGetLastError();
    link->frames.clear();
  }
};

TEST_F(CanTargets, AFailedVerifyLeavesNothingForTheNextExchange) {
  struct Next {
    const char* what;
    std::function<void(CanTarget&)> setUp;
    std::function<unsigned char()> op;
    unsigned char answer;
    int error;
    const char* result;
  };
  const Next cases[] = {
      {"program", [](CanTarget&) {}, [] { return ispProgramAddrRange(0x100, 0x10F); }, 1, 0, nullptr},
      {"verify of another range",
       [](CanTarget& t) {
         for (unsigned a = 0x1000; a <= 0x13FF; ++a) t.memory[0][a] = pattern(a);
         t.memory[0][0x1234] ^= 0x40;
       },
       [] { return ispVerifyAddrRange(0x1000, 0x13FF); }, 0, ovisp::kVerifyFail, "1234"},
      {"blank check", [](CanTarget&) {}, [] { return ispBlankCheckAddrRange(0x2000, 0x20FF); }, 1, 0, nullptr},
      {"blank check of a written byte", [](CanTarget& t) { t.memory[0][0x2080] = 0; },
       [] { return ispBlankCheckAddrRange(0x2000, 0x20FF); }, 0, ovisp::kBlankCheckFail, "002080"},
  };
  for (const Next& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    ready();
    for (unsigned a = 0; a <= 0x3FF; ++a) link->memory[0][a] = pattern(a);
    fillBuffer(0, 0x3FF, pattern);
    fillBuffer(0x1000, 0x13FF, pattern);
    ispWriteSingleByteToBuffer(0x0005, "00");
    ASSERT_EQ(ispVerifyAddrRange(0, 0x3FF), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kVerifyFail);
    EXPECT_STREQ(ispGetLastResult(), "0005");
    c.setUp(*link);
    EXPECT_EQ(c.op(), c.answer) << ispGetLastError();
    if (c.answer == 0) {
      EXPECT_EQ(ispGetLastError(), c.error);
    }
    if (c.result != nullptr) {
      EXPECT_STREQ(ispGetLastResult(), c.result);
    }
  }
}

TEST_F(CanTargets, AReplyAfterItsTimeOutIsNotTheNextOnesAnswer) {
  ready();
  link->holdReplies = 1;
  EXPECT_EQ(ispProgramAddrRange(0, 7), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
  for (unsigned a = 0; a <= 0xFF; ++a) link->memory[0][a] = pattern(a);
  fillBuffer(0, 0xFF, pattern);
  EXPECT_EQ(ispVerifyAddrRange(0, 0xFF), 1) << ispGetLastError();
  link->holdReplies = 1;
  EXPECT_EQ(ispReadSpecialByte(0), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
  EXPECT_EQ(ispBlankCheckAddrRange(0x4000, 0x4FFF), 1) << ispGetLastError();
}

TEST_F(CanTargets, BlankCheckOfAMemoryTheFrameCannotNameIsRefused) {
  ready();
  ASSERT_EQ(ispSelectMemory(1), 1);
  link->memory[1][0x10] = 0x00;
  EXPECT_EQ(ispBlankCheckDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBadMemory);
  EXPECT_TRUE(link->frames.empty());
  ASSERT_EQ(ispSelectMemory(0), 1);
  EXPECT_EQ(ispBlankCheckDevice(), 1) << ispGetLastError();
}

TEST_F(CanTargets, PagedVerifyFailureNamesThePage) {
  ready(24, true);
  ASSERT_EQ(ispSelectMemory(0), 1);
  for (unsigned a = 0x10000; a <= 0x103FF; ++a) link->memory[0][a] = pattern(a);
  fillBuffer(0x10000, 0x103FF, pattern);
  ASSERT_EQ(ispVerifyAddrRange(0x10000, 0x103FF), 1) << ispGetLastError();
  link->memory[0][0x10010] ^= 0xFF;
  EXPECT_EQ(ispVerifyAddrRange(0x10000, 0x103FF), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kVerifyFail);
  EXPECT_STREQ(ispGetLastResult(), "010010");
  // A paged node selects the memory with a frame of its own: memory 1 is
  // blank-checked as itself.
  ASSERT_EQ(ispSelectMemory(1), 1);
  link->memory[1][0x20] = 0x00;
  EXPECT_EQ(ispBlankCheckDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
  EXPECT_STREQ(ispGetLastResult(), "000020");
}

// ---- USB DFU ----------------------------------------------------------------

// A USB DFU bootloader: every command a DNLOAD, its outcome told by
// GETSTATUS (status, the wait it wants before the next GETSTATUS, state),
// data and blank-check offsets by UPLOAD.  `statusFor` makes it answer a kind
// of command with an error status; `busyPolls` GETSTATUS replies of each
// command say busy and ask for `pollMs`.
class DfuTarget : public ovisp_test::RecordingLinkBase, public Target {
 public:
  // Kinds of command: erase, program, read, blank check, special-byte read,
  // special-byte write, security level.
  enum Kind { kErase, kProgram, kRead, kBlank, kSpecialRead, kSpecialWrite, kSecurity, kNone };

  bool openUsb(std::uint32_t) override { return true; }
  bool close() override { return true; }
  bool writeUsb(const std::string& setup, const std::string& payload, int) override {
    if (setup.rfind("2101", 0) != 0) return true;
    ++downloads;
    download(pairs(payload));
    busyLeft_ = busyPolls;
    return true;
  }
  int readUsb(std::uint8_t* buffer, int length, const std::string& setup, int) override {
    if (setup.rfind("A103", 0) == 0) {
      if (length < 6) return -1;
      polls.push_back(clock->now);
      const bool busy = busyLeft_ > 0;
      if (busy) --busyLeft_;
      const Bytes reply = {busy ? std::uint8_t{0} : status_, static_cast<std::uint8_t>(pollMs),
                           static_cast<std::uint8_t>(pollMs >> 8), static_cast<std::uint8_t>(pollMs >> 16),
                           static_cast<std::uint8_t>(busy ? 4 : 2), 0};
      std::copy(reply.begin(), reply.end(), buffer);
      return 6;
    }
    if (setup.rfind("A102", 0) != 0 || !upload_) return -1;
    const int n = std::min(length, static_cast<int>(upload_->size()));
    std::copy(upload_->begin(), upload_->begin() + n, buffer);
    upload_.reset();
    return n;
  }

  std::size_t received() const override { return static_cast<std::size_t>(downloads); }
  std::uint8_t& flash(unsigned address) override { return memory[address % memory.size()]; }
  // errWRITE, as a target answers a write it does not take.
  void refuseBootStatus(bool on) override {
    if (on) {
      statusFor[kSpecialWrite] = 3;
    } else {
      statusFor.erase(kSpecialWrite);
    }
  }

  platform::FakeClock* clock = nullptr;
  Bytes memory = Bytes(32768, 0xFF);
  std::map<Kind, std::uint8_t> statusFor;
  int busyPolls = 0;
  std::uint32_t pollMs = 0;
  std::vector<std::uint32_t> polls;
  int downloads = 0;

 private:
  static Kind kindOf(const Bytes& p) {
    if (p.empty()) return kNone;
    if (p[0] == 0x01) return kProgram;
    if (p[0] == 0x03) return p.size() > 1 && p[1] == 0x01 ? kBlank : kRead;
    if (p[0] == 0x05) return kSpecialRead;
    if (p[0] == 0x04 && p.size() > 1 && p[1] == 0x00) return kErase;
    if (p[0] == 0x04 && p.size() > 2 && p[1] == 0x01 && p[2] == 0x05) return kSecurity;
    if (p[0] == 0x04 && p.size() > 1 && p[1] == 0x03) return kNone;
    return kSpecialWrite;
  }
  void download(const Bytes& p) {
    upload_.reset();
    status_ = 0;
    const Kind kind = kindOf(p);
    if (const auto forced = statusFor.find(kind); forced != statusFor.end()) {
      status_ = forced->second;
      return;
    }
    const auto word = [&](std::size_t at) { return static_cast<unsigned>(p[at] << 8 | p[at + 1]); };
    switch (kind) {
      case kErase: std::fill(memory.begin(), memory.end(), 0xFF); break;
      case kProgram:
        for (unsigned a = word(2), i = 32 + word(2) % 32; a <= word(4); ++a, ++i) memory[a] = p[i];
        break;
      case kRead: upload_ = Bytes(memory.begin() + word(2), memory.begin() + word(4) + 1); break;
      case kBlank:
        for (unsigned a = word(2); a <= word(4); ++a) {
          if (memory[a] != 0xFF) {
            status_ = 5;
            upload_ = Bytes{static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
            break;
          }
        }
        break;
      case kSpecialRead: upload_ = Bytes{0x12}; break;
      default: break;
    }
  }

  std::uint8_t status_ = 0;
  int busyLeft_ = 0;
  std::optional<Bytes> upload_;
};

class DfuTargets : public ovisp_test::RecordingLinkTest<DfuTarget> {
 protected:
  void fresh() {
    TearDown();
    SetUp();
  }
  void ready(int device = 3) {
    link->clock = &clock;
    ASSERT_EQ(ispSelectDevice(device), 1);
    ASSERT_EQ(ispSelectCommHardware(2), 1) << ispGetLastError();
    ASSERT_EQ(ispOpenUsbPort(), 1) << ispGetLastError();
  }
};

TEST_F(DfuTargets, EveryErrorStatusFailsEveryCommand) {
  using K = DfuTarget::Kind;
  struct Command {
    const char* what;
    K kind;
    std::function<unsigned char()> op;
    int error;  // for a status other than errFILE, errWRITE and errCHECK_ERASED
  };
  const Command commands[] = {
      {"erase", K::kErase, [] { return ispEraseDevice(); }, ovisp::kCannotWriteUsb},
      {"erase block", K::kErase, [] { return ispEraseBlock(1); }, ovisp::kCannotWriteUsb},
      {"program", K::kProgram, [] { return ispProgramAddrRange(0, 0xFF); }, ovisp::kCannotWriteUsb},
      {"special-byte write", K::kSpecialWrite, [] { return ispWriteSpecialByte(4, 0xFF); }, ovisp::kCannotWriteUsb},
      {"security level", K::kSecurity, [] { return ispSetSecurityLev1(); }, ovisp::kCannotWriteUsb},
      {"special-byte read", K::kSpecialRead, [] { return ispReadSpecialByte(0); }, ovisp::kCannotReadUsb},
      {"verify", K::kRead, [] { return ispVerifyAddrRange(0, 0xFF); }, ovisp::kCannotReadUsb},
      {"read", K::kRead, [] { return ispReadAddrRange(0, 0xFF, ""); }, ovisp::kCannotReadUsb},
      {"blank check", K::kBlank, [] { return ispBlankCheckDevice(); }, ovisp::kCannotWriteUsb},
  };
  for (const Command& c : commands) {
    for (std::uint8_t status = 1; status <= 15; ++status) {
      SCOPED_TRACE(std::string(c.what) + ", status " + std::to_string(status));
      fresh();
      ready();
      link->statusFor[c.kind] = status;
      EXPECT_EQ(c.op(), 0);
      int error = c.error;
      if (status == 2 || status == 3) error = ovisp::kSoftwareSecurity;
      if (status == 5 && c.kind == K::kBlank) error = ovisp::kBlankCheckFail;
      EXPECT_EQ(ispGetLastError(), error);
      if (error != ovisp::kBlankCheckFail) {
        EXPECT_EQ(ispGetLastResult(), hex(status, 2));
      }
    }
  }
}

TEST_F(DfuTargets, BlankCheckAnswersBlankOnlyForABlankMemory) {
  ready();
  EXPECT_EQ(ispBlankCheckDevice(), 1) << ispGetLastError();
  link->memory[0x4321] = 0;
  EXPECT_EQ(ispBlankCheckDevice(), 0);
  EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
  EXPECT_STREQ(ispGetLastResult(), "4321");
  // Its command names no memory: it would answer for the flash.
  for (int memory : {1, 7}) {
    link->downloads = 0;
    ASSERT_EQ(ispSelectMemory(memory), 1);
    EXPECT_EQ(ispBlankCheckDevice(), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kBadMemory);
    EXPECT_EQ(link->downloads, 0);
  }
}

TEST_F(DfuTargets, StatusPollsWaitWhatTheTargetAsksWithinTheTimeOut) {
  struct Case {
    const char* what;
    int busy;
    std::uint32_t pollMs;
    std::function<unsigned char()> op;
    unsigned char answer;
    std::vector<std::uint32_t> pollsAt;  // from the first
  };
  const Case cases[] = {
      {"erase asking 300 ms", 3, 300, [] { return ispEraseDevice(); }, 1, {0, 300, 600, 900}},
      {"blank check asking 1200 ms", 2, 1200, [] { return ispBlankCheckDevice(); }, 1, {0, 1200, 2400}},
      {"program asking 5 ms", 2, 5, [] { return ispProgramAddrRange(0, 0); }, 1, {0, 10, 20}},
      // More than the 10 s of an erase: the wait ends with the time-out.
      {"erase asking 4 s", 5, 4000, [] { return ispEraseDevice(); }, 0, {0, 4000, 8000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    ready();
    link->busyPolls = c.busy;
    link->pollMs = c.pollMs;
    link->polls.clear();
    const std::uint32_t started = clock.now;
    EXPECT_EQ(c.op(), c.answer) << ispGetLastError();
    ASSERT_GE(link->polls.size(), c.pollsAt.size());
    std::vector<std::uint32_t> at;
    for (std::size_t i = 0; i < c.pollsAt.size(); ++i) at.push_back(link->polls[i] - link->polls[0]);
    EXPECT_EQ(at, c.pollsAt);
    if (c.answer == 0) {
      EXPECT_EQ(ispGetLastError(), ovisp::kTimeout);
      EXPECT_EQ(clock.now - started, 10000u);
    }
  }
}

TEST_F(DfuTargets, CrcProgrammingCountsToAHundredPercentAtMost) {
  for (const auto& [start, end] : {std::pair{0u, 0u}, std::pair{0u, 16383u}, std::pair{0x100u, 0x1FFu}}) {
    SCOPED_TRACE(hex(start, 4) + "-" + hex(end, 4));
    fresh();
    ready(13);
    ispResetTaskCompletionPercent();
    ASSERT_EQ(ispProgramAddrRange(start, end), 1) << ispGetLastError();
    EXPECT_LE(ispGetTaskCompletionPercent(), 100);
    EXPECT_GE(ispGetTaskCompletionPercent(), 90);
  }
}

// ---- Every link ---------------------------------------------------------------

template <class Double>
std::pair<std::unique_ptr<ovisp::CommDriver>, Target*> linked(std::unique_ptr<Double> target) {
  Target* view = target.get();
  return {std::move(target), view};
}

TEST(EveryLink, NoSuccessForWorkThatWasNotDone) {
  struct Row {
    const char* what;
    int device;
    int hardware;
    std::function<std::pair<std::unique_ptr<ovisp::CommDriver>, Target*>(platform::FakeClock&)> make;
    std::function<unsigned char()> open;
    unsigned low, high;        // the HEX file's data, across 64 KB where the flash has pages
    int smallerMemory;         // one the data does not fit
    int refused;               // the error of a refused boot-status write
    const char* firstWritten;  // what a blank check of the programmed flash names
    unsigned changed;          // a programmed byte above 64 KB where there are pages...
    const char* changedText;   // ...as a blank check from it and a verify name it
  };
  const Row rows[] = {
      {"RS-232, device 24", 24, 1,
       [](platform::FakeClock&) {
         auto t = std::make_unique<Rs232Target>();
         t->paged = true;
         return linked(std::move(t));
       },
       [] { return static_cast<unsigned char>(1); }, 0xFFF3, 0x1002B, 1, ovisp::kWriteProtected, "00FFF3", 0x10010,
       "010010"},
      {"CAN, device 24", 24, 4,
       [](platform::FakeClock&) {
         auto t = std::make_unique<CanTarget>();
         t->paged = true;
         return linked(std::move(t));
       },
       [] { return ispSelectCanNode(0x2A); }, 0xFFF3, 0x1002B, 1, ovisp::kSoftwareSecurity, "00FFF3", 0x10010,
       "010010"},
      {"USB DFU, device 3", 3, 2,
       [](platform::FakeClock& clock) {
         auto t = std::make_unique<DfuTarget>();
         t->clock = &clock;
         return linked(std::move(t));
       },
       [] { return ispOpenUsbPort(); }, 0x1FF3, 0x202B, 1, ovisp::kSoftwareSecurity, "1FF3", 0x2010, "2010"},
  };
  testsupport::TempRoot root;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    platform::FakeClock clock;
    auto [link, target] = row.make(clock);
    ovisp::session().reset();
    ovisp::session().setCommDriver(std::move(link));
    platform::set_clock(&clock);
    ASSERT_EQ(ispInit(), 1);
    ASSERT_EQ(ispSelectDevice(row.device), 1);
    ASSERT_EQ(ispSelectCommHardware(row.hardware), 1) << ispGetLastError();
    ASSERT_EQ(row.open(), 1) << ispGetLastError();
    // The HEX file comes from srec_cat, not from the library's writer.
    std::string image;
    for (unsigned a = row.low; a <= row.high; ++a) image += static_cast<char>(pattern(a));
    std::ofstream(root.path() + "/data.bin", std::ios::binary) << image;
    const std::string file = root.path() + "/data.hex";
    ASSERT_EQ(testsupport::run_command("srec_cat " + root.path() + "/data.bin -Binary -offset " +
                                       std::to_string(row.low) + " -o " + file + " -Intel"),
              0);
    ASSERT_EQ(ispParseHexFile(file.c_str()), 1) << ispGetLastError();

    // Data loaded for the flash does not fit a smaller memory selected
    // afterwards: nothing of it can be programmed or compared there.
    ASSERT_EQ(ispSelectMemory(row.smallerMemory), 1) << ispGetLastError();
    std::size_t sent = target->received();
    EXPECT_EQ(ispProgramDevice(), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kAddressOutOfRange);
    EXPECT_EQ(ispVerifyDevice(), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kAddressOutOfRange);
    EXPECT_EQ(target->received(), sent);
    ASSERT_EQ(ispSelectMemory(0), 1) << ispGetLastError();

    // A boot status byte refused after the first page fails the program;
    // what follows works on the flash again, each step with its own
    // traffic, and the target ends up holding every byte of the file.
    target->refuseBootStatus(true);
    EXPECT_EQ(ispProgramDevice(), 0);
    EXPECT_EQ(ispGetLastError(), row.refused);
    target->refuseBootStatus(false);
    sent = target->received();
    EXPECT_EQ(ispProgramDevice(), 1) << ispGetLastError();
    EXPECT_GT(target->received(), sent);
    unsigned wrong = 0;
    for (unsigned a = row.low; a <= row.high; ++a) wrong += target->flash(a) != pattern(a) ? 1 : 0;
    EXPECT_EQ(wrong, 0u);
    sent = target->received();
    EXPECT_EQ(ispVerifyDevice(), 1) << ispGetLastError();
    EXPECT_GT(target->received(), sent);
    sent = target->received();
    EXPECT_EQ(ispBlankCheckDevice(), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
    EXPECT_STREQ(ispGetLastResult(), row.firstWritten);
    EXPECT_GT(target->received(), sent);

    // Above 64 KB a failure names its page too.
    EXPECT_EQ(ispBlankCheckAddrRange(row.changed, row.high), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kBlankCheckFail);
    EXPECT_STREQ(ispGetLastResult(), row.changedText);
    target->flash(row.changed) ^= 0xFF;
    EXPECT_EQ(ispVerifyDevice(), 0);
    EXPECT_EQ(ispGetLastError(), ovisp::kVerifyFail);
    EXPECT_STREQ(ispGetLastResult(), row.changedText);

    ovisp::session().reset();
    platform::set_clock(nullptr);
  }
}

}  // namespace
