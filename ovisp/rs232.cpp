#include "ovisp/rs232.h"

#include <algorithm>

#include "ovisp/comm_driver.h"
#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/clock.h"

namespace ovisp {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';

bool lineEnd(char c) { return c == kCr || c == kLf; }

const ProtocolRegistration kRegistration(ProtocolClass::Rs232,
                                         [](int) { return std::make_unique<Rs232Protocol>(); });

// Characters [pos, pos + digits) read as hexadecimal, or -1 when any is not
// a digit or lies past the end.
long hexAt(const std::string& text, std::size_t pos, std::size_t digits) {
  if (pos + digits > text.size()) return -1;
  long value = 0;
  for (std::size_t i = pos; i < pos + digits; ++i) {
    const int d = hexDigitValue(text[i]);
    if (d < 0) return -1;
    value = value * 16 + d;
  }
  return value;
}

}  // namespace

Rs232Protocol::Rs232Protocol() {
  syncText = "U";
  syncChar = 'U';
  replyEndChar = '.';
  checksumErrorReply = "X";
  writeProtectedReply = "P";
  rwProtectedReply = "L";
  readCmd = ":05000004AAAABBBB00";
  readMemoryCodes = {"00", "02", "03"};
  blankCheckCmd = ":05000004AAAABBBB01";
  fullEraseCmd = ":0100000307F5";
  eraseBlockCmds = {":020000030100FA", ":020000030120DA", ":020000030140BA", ":0200000301807A", ":0200000301C03A"};
  eraseSbvBsbCmd = ":020000030400F7";
  dataRecordTemplate = ":LLAAAA00";
  programMemoryCodes = {"00", "07", "08"};
  fuseBitCmds = {":030000030A0200EE", ":030000030A0201ED", ":030000030A0400EC",
                 ":030000030A0401EB", ":030000030A0800E8", ":030000030A0801E7"};
  securityLev1Cmd = ":020000030500F6";
  securityLev2Cmd = ":020000030501F5";
  startAppliResetCmd = ":020000030300F8";
  startAppliJumpCmd = ":0400000303010000F5";
  writeChunkSize = 16;
  readLineSize = 16;
  readSpanSize = 1024;
  // Slots by code: 0, 1, 3, 2, then 4 to 19.
  readSpecialByteCmds = {":020000050F00EA", ":020000050702F0", ":020000050701F1", ":020000050700F2",
                         ":020000050B00EE", ":020000050706EC", ":020000050E00EB", ":020000050E01EA",
                         ":020000050000F9", ":020000050001F8", ":020000050002F7", ":020000050003F6"};
  // Slots by code: 1, 3, 4, 5, 12 to 19, then 2.  Value and checksum follow.
  writeSpecialByteCmds = {":030000030601", ":030000030600", "", ":030000030606"};
}

std::string Rs232Protocol::record(const std::string& body) const {
  return ':' + body + sessionManager().hexChecksum(body);
}

void Rs232Protocol::writeRecord(const std::string& text) {
  if (!sessionLink().writeText(text)) raise(kCannotWritePort);
}

std::string Rs232Protocol::readAnswer(int count, char endChar, int timeoutMs) {
  std::string answer;
  const bool read = sessionLink().readText(answer, count, static_cast<std::int8_t>(endChar),
                                           static_cast<std::uint16_t>(timeoutMs));
  // A target that never answered must not pass for one that did: nothing is
  // a time-out and a failed read a reading error, for every command.
  if (answer == "error") raise(kReadingError);
  if (answer.empty()) raise(kTimeout);
  if (!read) raise(kReadingError);
  return answer;
}

void Rs232Protocol::checkReply(const std::string& reply, bool requireEnd) {
  if (reply.find(checksumErrorReply) != std::string::npos) raise(kChecksumError);
  if (reply.find(writeProtectedReply) != std::string::npos) raise(kWriteProtected);
  if (reply.find(rwProtectedReply) != std::string::npos) raise(kRwProtected);
  if (requireEnd && reply.find(static_cast<char>(replyEndChar)) == std::string::npos) raise(kTimeout);
}

std::string Rs232Protocol::replyValue(std::string reply) { return valueBeforeEndChar(reply); }

std::string Rs232Protocol::afterEcho(const std::string& answer, const std::string& sent) const {
  // A line end left over from the answer before (CR LF targets) is no part
  // of this one.
  std::size_t from = 0;
  while (from < answer.size() && lineEnd(answer[from])) ++from;
  const std::size_t echoed = std::min(sent.size(), answer.size() - from);
  // A record that came back changed was garbled on the line one way or the
  // other: whatever the target made of it, it is not what was sent.
  if (answer.compare(from, echoed, sent, 0, echoed) != 0) raise(kWrongReply);
  if (echoed < sent.size()) raise(kTimeout);
  return answer.substr(from + sent.size());
}

void Rs232Protocol::sendCommand(std::string command, int, int timeoutMs, int keepValue, int check) {
  writeRecord(command);
  const std::string answer = readAnswer(0, kCr, timeoutMs);
  checkReply(answer, false);
  const std::string reply = afterEcho(answer, command);
  checkReply(reply, check != 0);
  if (keepValue != 0) sessionManager().setLastResult(replyValue(reply));
}

void Rs232Protocol::syncTarget() {
  if (!sessionManager().checkReady()) raise(kCannotWritePort);
  writeRecord(syncText);
  std::string answer;
  // The text left behind tells the failures apart ("error", nothing, no
  // sync character); the flag adds nothing to it.
  (void)sessionLink().readText(answer, 0, static_cast<std::int8_t>(syncChar), 1000);
  if (answer == "error") raise(kReadingError);
  if (answer.empty()) raise(kTimeout);
  if (answer.find(static_cast<char>(syncChar)) == std::string::npos) raise(kFramingError);
}

void Rs232Protocol::readSpecialByte(std::string command) {
  if (command.empty()) raise(kNotImplemented);
  sendCommand(command, 3, 1000, 1, 1);
}

void Rs232Protocol::writeSpecialByte(std::string command, std::string value) {
  if (command.empty()) raise(kNotImplemented);
  if (value.size() != 2 || !isHexPair(value.c_str())) raise(kCannotExecute);
  const std::string body = command.substr(1) + hexText(static_cast<std::uint32_t>(hexAt(value, 0, 2)), 2);
  sendCommand(record(body), 1, 1000, 0, 1);
}

void Rs232Protocol::eraseBlock(int block) {
  if (block < 0 || block > 0xFF || !sessionManager().checkBlockIndex(static_cast<std::uint8_t>(block))) {
    raise(kCannotExecute);
  }
  if (block > 4) raise(kNotImplemented);
  sendCommand(eraseBlockCmds[static_cast<std::size_t>(block)], 1, 3000, 0, 1);
}

void Rs232Protocol::eraseSbvBsb() { sendCommand(eraseSbvBsbCmd, 1, 1000, 0, 1); }
void Rs232Protocol::setSecurityLev1() { sendCommand(securityLev1Cmd, 1, 1000, 0, 1); }
void Rs232Protocol::setSecurityLev2() { sendCommand(securityLev2Cmd, 1, 1000, 0, 1); }

void Rs232Protocol::sendFuseBit(int slot) {
  sendCommand(fuseBitCmds[static_cast<std::size_t>(slot)], 1, 3000, 0, 1);
}

void Rs232Protocol::enableFuseBit0() { sendFuseBit(0); }
void Rs232Protocol::disableFuseBit0() { sendFuseBit(1); }
void Rs232Protocol::enableFuseBit1() { sendFuseBit(2); }
void Rs232Protocol::disableFuseBit1() { sendFuseBit(3); }
void Rs232Protocol::enableFuseBit2() { sendFuseBit(4); }
void Rs232Protocol::disableFuseBit2() { sendFuseBit(5); }

void Rs232Protocol::enterAppliMode(bool reset, int) {
  // The jump always goes to address 0000.  A bootloader without the command
  // (rule A of the variants) cannot be told to start.
  const std::string& command = reset ? startAppliResetCmd : startAppliJumpCmd;
  if (command.empty()) raise(kNotImplemented);
  writeRecord(command);
  sessionLink().close();
}

void Rs232Protocol::programBlock(int page, std::uint32_t start, std::uint32_t end) {
  const std::uint32_t w = writeChunkSize;
  if (w == 0) raise(kNotImplemented);
  const float step = start == end ? 100.0f : static_cast<float>(w) * 100.0f / static_cast<float>(end - start);
  std::uint32_t e = start + w - (start % w) - 1;
  if (end <= e) {
    writeChunk(page, start, end);
  } else {
    writeChunk(page, start, e);
    float sum = 0.0f;
    for (; e + w < end; e += w) {
      writeChunk(page, e + 1, e + w);
      sum += step;
      if (sum > 10.0f) {
        sessionManager().updateTaskProgress(sum);
        sum = 0.0f;
      }
    }
    writeChunk(page, e + 1, end);
  }
  sessionDevice().afterProgramming();
  sessionManager().updateTaskProgress(0.0f);
}

void Rs232Protocol::writeChunk(int page, std::uint32_t start, std::uint32_t end) {
  const Device& target = sessionDevice();
  const int memory = target.currentMemory();
  // A memory without a record type would go out as a record of bare data
  // bytes, which no target reads as a write.
  if (memory < 0 || memory > 2 || programMemoryCodes[static_cast<std::size_t>(memory)].empty()) raise(kBadMemory);
  std::string body = hexText(end - start + 1, 2) + hexText(start, 4) + programMemoryCodes[static_cast<std::size_t>(memory)];
  for (std::uint32_t offset = start; offset <= end; ++offset) {
    body += hexText(target.readBufferValue(static_cast<std::uint32_t>(page), offset), 2);
  }
  sendCommand(record(body), 0, 2000, 0, 1);
}

std::string Rs232Protocol::rangeRecord(const std::string& command, std::uint32_t start, std::uint32_t end,
                                       const std::string& code) const {
  // ":05000004" AAAA BBBB and the two-digit code.
  return record(command.substr(1, 8) + hexText(start, 4) + hexText(end, 4) + code);
}

std::string Rs232Protocol::displayCommand(std::uint32_t start, std::uint32_t end) {
  const int memory = sessionDevice().currentMemory();
  if (memory < 0 || memory > 2 || readMemoryCodes[static_cast<std::size_t>(memory)].empty()) raise(kBadMemory);
  return rangeRecord(readCmd, start, end, readMemoryCodes[static_cast<std::size_t>(memory)]);
}

void Rs232Protocol::readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) {
  const std::string command = displayCommand(start, end);
  writeRecord(command);

  // The echo on a line of its own, then lines "AAAA=" + data pairs, each
  // ended by CR, LF or CR LF (targets differ).  The answer is taken line by
  // line and ends with the line that holds the range's last byte: waiting
  // for a length worked out for one kind of line end would cut the answer
  // of the other kind short, or wait for characters that never come.
  // Every byte of the range must come, in order: a reply cut short must not
  // pass for a verified or read range.
  Device& target = sessionDevice();
  const std::uint32_t lines = (end - start + readLineSize) / std::max<std::uint32_t>(readLineSize, 1);
  const int most = static_cast<int>(command.size() + 2 + lines * (2u * readLineSize + 7u));
  const std::uint32_t started = platform::tick_ms();
  std::string text;
  std::size_t pos = 0;
  bool echoSeen = false;
  bool anything = false;
  std::uint32_t next = start;
  long mismatch = -1;
  auto takeLine = [&](const std::string& line, bool complete) {
    if (line.empty()) return;
    if (!echoSeen) {
      if (line != command) raise(complete || command.compare(0, line.size(), line) != 0 ? kWrongReply : kTimeout);
      echoSeen = true;
      return;
    }
    if (line.size() < 5 || line[4] != '=' || hexAt(line, 0, 4) != static_cast<long>(next & 0xFFFF)) {
      raise(kWrongReply);
    }
    if ((line.size() - 5) % 2 != 0) raise(kWrongReply);
    for (std::size_t i = 5; i < line.size(); i += 2) {
      const long value = hexAt(line, i, 2);
      if (value < 0 || next > end) raise(kWrongReply);
      if (!verify) {
        target.writeBufferByte(static_cast<std::uint32_t>(page), next, hexText(static_cast<std::uint32_t>(value), 2));
      } else if (mismatch < 0 && value != target.readBufferValue(static_cast<std::uint32_t>(page), next)) {
        mismatch = static_cast<long>(next);
      }
      ++next;
    }
  };
  try {
    while (next <= end) {
      const std::size_t stop = text.find_first_of("\r\n", pos);
      if (stop != std::string::npos) {
        takeLine(text.substr(pos, stop - pos), true);
        pos = stop + 1;
        continue;
      }
      const std::uint32_t spent = platform::ticks_since(started, platform::tick_ms());
      std::string more;
      const bool read = spent < 5000 && sessionLink().readText(more, most, static_cast<std::int8_t>(kCr),
                                                               static_cast<std::uint16_t>(5000 - spent));
      if (more == "error") raise(kReadingError);
      if (!read || more.empty()) {
        // Nothing more comes: a last line without its end still counts when
        // it holds the rest of the range.
        takeLine(text.substr(pos), false);
        pos = text.size();
        if (next <= end) raise(anything ? kWrongReply : kTimeout);
        break;
      }
      if (!anything) checkReply(more, false);
      anything = true;
      text += more;
    }
  } catch (const IspError&) {
    // The first difference found is the answer to a verify, whatever the
    // rest of the display looked like.
    if (mismatch < 0) throw;
  }
  if (mismatch >= 0) {
    // Above 64 KB the offset alone would name a byte of the first page.
    sessionManager().setLastResult(failedOffsetText(page, static_cast<std::uint32_t>(mismatch)));
    raise(kVerifyFail);
  }
}

void Rs232Protocol::blankCheckBlock(int page, std::uint32_t start, std::uint32_t end) {
  requireBlankCheckableMemory();
  const std::string command = rangeRecord(blankCheckCmd, start, end, blankCheckCmd.substr(17, 2));
  writeRecord(command);
  const std::string answer = readAnswer(0, kCr, 3000);
  checkReply(answer, false);
  // After the echo: '.' for a blank range, else the first offset that is
  // not blank (some targets put a line feed in front of it).  Anything else
  // says nothing about the range.
  std::string reply = afterEcho(answer, command);
  if (reply.empty()) raise(kTimeout);
  if (reply[0] == kLf) reply.erase(0, 1);
  if (!reply.empty() && reply[0] == static_cast<char>(replyEndChar)) return;
  const long offset = hexAt(reply, 0, 4);
  if (offset < 0) raise(kWrongReply);
  sessionManager().setLastResult(failedOffsetText(page, static_cast<std::uint32_t>(offset)));
  raise(kBlankCheckFail);
}

}  // namespace ovisp
