#include "ovisp/usb_dfu.h"

#include <algorithm>
#include <vector>

#include "ovisp/comm_driver.h"
#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/clock.h"

namespace ovisp {
namespace {

constexpr std::uint8_t kStatusOk = 0;
constexpr std::uint8_t kStatusErrFile = 2;
constexpr std::uint8_t kStatusErrWrite = 3;
constexpr std::uint8_t kStatusErrCheckErased = 5;
constexpr std::uint8_t kStateIdle = 2;
constexpr int kStatusReplyBytes = 6;

// Four hexadecimal digits with the two bytes swapped (low byte first), as the
// fields of a setup packet travel.
std::string littleEndian16(std::uint32_t value) {
  const std::string text = hexText(value & 0xFFFF, 4);
  return text.substr(2, 2) + text.substr(0, 2);
}

std::string bigEndian16(std::uint32_t value) { return hexText(value & 0xFFFF, 4); }


// The fields of a GETSTATUS answer the protocol uses:
// bStatus (byte 0), bwPollTimeout (bytes 1 to 3, low byte first: the
// milliseconds the target wants before the next GETSTATUS) and bState (byte
// 4).
struct DfuStatus {
  std::uint8_t status = 0;
  std::uint32_t pollMs = 0;
  std::uint8_t state = 0;
};

DfuStatus readStatus(const std::string& setup, int timeoutMs) {
  std::uint8_t reply[kStatusReplyBytes] = {};
  const int count = sessionLink().readUsb(reply, kStatusReplyBytes, setup, timeoutMs);
  if (count < 0) raise(kTimeout);
  if (count < kStatusReplyBytes) raise(kCannotReadUsb);
  return {reply[0], static_cast<std::uint32_t>(reply[1] | reply[2] << 8 | reply[3] << 16), reply[4]};
}

const ProtocolRegistration kRegistration(ProtocolClass::UsbDfu,
                                         [](int) { return std::make_unique<UsbDfuProtocol>(); });

}  // namespace

UsbDfuProtocol::UsbDfuProtocol() {
  readCmd = "03MM";
  readMemoryCodes = {"00", "02", ""};
  blankCheckCmd = "0301";
  fullEraseCmd = "0400FF";
  eraseBlockCmds = {"040000", "040020", "040040", "040080", "0400C0"};
  programCmd = "01";
  programMemoryCodes = {"00", "01", ""};
  securityLev1Cmd = "040105";
  securityLev2Cmd = "040105";
  startAppliResetCmd = "040300";
  startAppliJumpCmd = "040301";
  writeChunkSize = 2048;
  readLineSize = 2048;
  readSpanSize = 1024;
  // Slots by code: 0, 1, 3, 2, then 4 to 19.
  readSpecialByteCmds = {"050000", "050101", "050100", "050105", "050200", "050106", "050001",
                         "050002", "050130", "050131", "050160", "050161", "",       "",
                         "",       "",       "",       "050102", "050103", "050104"};
  // Slots by code: 1, 3, 4, 5, 12 to 19, then 2.
  writeSpecialByteCmds = {"040101", "040100", "040200", "040106", "", "", "", "", "", "040102", "040103", "040104",
                          ""};
}

void UsbDfuProtocol::transfer(std::string& setup, std::string request, int length, bool unnumbered) {
  setup = std::move(request);
  if (unnumbered) {
    setup += "0000";
  } else {
    setup += littleEndian16(blockNumber);
    blockNumber = static_cast<std::uint16_t>((blockNumber + blockNumberLimit) % (blockNumberLimit + 1u));
  }
  setup += littleEndian16(std::stoul(interfaceField, nullptr, 16));
  setup += littleEndian16(static_cast<std::uint32_t>(length));
}

void UsbDfuProtocol::download(const std::string& payload, int timeoutMs) {
  std::string setup;
  transfer(setup, requestDnload, static_cast<int>(payload.size() / 2), false);
  if (!sessionLink().writeUsb(setup, payload, timeoutMs)) raise(kCannotWriteUsb);
}

bool UsbDfuProtocol::pollStatus(int timeoutMs) {
  std::string setup;
  transfer(setup, requestGetStatus, kStatusReplyBytes, true);
  // A slow erase keeps the target busy for seconds: the bound is the time
  // the whole wait may take, not a number of requests.
  const std::uint32_t limit = static_cast<std::uint32_t>(timeoutMs > 0 ? timeoutMs : 0);
  const std::uint32_t started = platform::tick_ms();
  DfuStatus reply;
  for (;;) {
    const std::uint32_t elapsed = platform::ticks_since(started, platform::tick_ms());
    if (elapsed >= limit) raise(kTimeout);
    reply = readStatus(setup, static_cast<int>(limit - elapsed));
    if (reply.state == kStateIdle) break;
    // A slow target says how long it needs; asking sooner would only fail
    // it early.  The operation's time-out still bounds the whole wait.
    const std::uint32_t spent = platform::ticks_since(started, platform::tick_ms());
    if (spent < limit) platform::sleep_ms(std::min(std::max(reply.pollMs, kPollPauseMs), limit - spent));
  }
  if (reply.status == kStatusOk) return true;
  sessionManager().setLastResult(hexText(reply.status, 2));
  if (reply.status == kStatusErrFile || reply.status == kStatusErrWrite) raise(kSoftwareSecurity);
  return false;
}

void UsbDfuProtocol::requireStatusOk(int timeoutMs, int failure) {
  // A request the target answered with an error status did not take effect;
  // going on as if it had would report an erase or a write that never
  // happened as done.
  if (!pollStatus(timeoutMs)) raise(failure);
}

void UsbDfuProtocol::sendCommand(std::string command, int, int timeoutMs, int, int) {
  download(command, timeoutMs);
  requireStatusOk(timeoutMs, kCannotWriteUsb);
}

void UsbDfuProtocol::readSpecialByte(std::string command) {
  // An empty command would go out as a zero-length download, which ends a
  // DFU download instead of reading anything.
  if (command.empty()) raise(kNotImplemented);
  download(command, 1000);
  requireStatusOk(1000, kCannotReadUsb);
  std::string setup;
  transfer(setup, requestUpload, 1, false);
  std::uint8_t value = 0;
  if (sessionLink().readUsb(&value, 1, setup, 1000) != 1) raise(kCannotReadUsb);
  sessionManager().setLastResult(hexText(value, 2));
}

void UsbDfuProtocol::writeSpecialByte(std::string command, std::string value) {
  if (command.empty() || value.empty()) raise(kNotImplemented);
  download(command + value, 1000);
  requireStatusOk(1000, kCannotWriteUsb);
}

void UsbDfuProtocol::eraseBlock(int block) {
  if (block < 0 || block > 4) raise(kNoSuchCommand);
  download(eraseBlockCmds[static_cast<std::size_t>(block)], 5000);
  requireStatusOk(1000, kCannotWriteUsb);
}

void UsbDfuProtocol::setSecurityLev1() {
  download(securityLev1Cmd + sessionDevice().expectedSsbLevel1(), 1000);
  requireStatusOk(5000, kCannotWriteUsb);
}

void UsbDfuProtocol::setSecurityLev2() {
  download(securityLev2Cmd + sessionDevice().expectedSsbLevel2(), 1000);
  requireStatusOk(5000, kCannotWriteUsb);
}

void UsbDfuProtocol::changeHardwareBit(std::uint8_t bit, bool set) {
  readSpecialByte("050200");
  const std::string& text = sessionManager().lastResult();
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = hexDigitValue(c);
    if (digit < 0) raise(kWrongReply);
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  value = set ? (value | bit) : (value & ~std::uint32_t{bit});
  writeSpecialByte("040200", hexText(value & 0xFF, 2));
}

void UsbDfuProtocol::enableFuseBit1() { changeHardwareBit(0x40, false); }
void UsbDfuProtocol::disableFuseBit1() { changeHardwareBit(0x40, true); }
void UsbDfuProtocol::enableFuseBit2() { changeHardwareBit(0x80, false); }
void UsbDfuProtocol::disableFuseBit2() { changeHardwareBit(0x80, true); }

const std::string& UsbDfuProtocol::memoryCode(const std::array<std::string, 3>& codes) const {
  const int memory = sessionDevice().currentMemory();
  if (memory != 0 && memory != 1) raise(kBadMemory);
  return codes[static_cast<std::size_t>(memory)];
}

void UsbDfuProtocol::programBlock(int page, std::uint32_t start, std::uint32_t end) {
  const float step = start == end ? 100.0f : static_cast<float>(kChunkBytes) * 100.0f / static_cast<float>(end - start);
  writeChunks(page, start, end, step);
  sessionManager().updateTaskProgress(0.0f);
  sessionDevice().afterProgramming();
}

void UsbDfuProtocol::writeChunks(int page, std::uint32_t start, std::uint32_t end, float step) {
  if (end - start + 1 <= kChunkBytes) {
    writeChunk(page, start, end);
  } else {
    float sum = 0.0f;
    std::uint32_t s = start;
    for (; s + kChunkBytes - 1 <= end; s += kChunkBytes) {
      writeChunk(page, s, s + kChunkBytes - 1);
      sum += step;
      if (sum > 10.0f) {
        sessionManager().updateTaskProgress(sum);
        sum = 0.0f;
      }
    }
    if (s <= end) writeChunk(page, s, end);
  }
}

void UsbDfuProtocol::writeChunk(int page, std::uint32_t start, std::uint32_t end) {
  const std::uint32_t pad = start % commandHeaderSize;
  const std::uint32_t count = end - start + 1;
  std::string payload = programCmd + programMemoryCode() + bigEndian16(start) + bigEndian16(end);
  payload.append(2u * 26u, '0');
  payload.append(2u * pad, '0');
  payload.reserve(payload.size() + 2u * count + 32u);
  const Device& target = sessionDevice();
  // The buffer keeps lower-case digits of a HEX file as they stood; the
  // target takes upper-case ones only.
  for (std::uint32_t offset = start; offset <= end; ++offset) {
    payload += hexText(target.readBufferValue(static_cast<std::uint32_t>(page), offset), 2);
  }
  payload += dfuSuffixText();
  download(payload, 5000);
  // Any status but OK means the data did not go into the flash.
  requireStatusOk(1000, kCannotWriteUsb);
}

void UsbDfuProtocol::readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) {
  std::string command = readCmd;
  const std::size_t mm = command.find("MM");
  if (mm != std::string::npos) command.replace(mm, 2, memoryCode(readMemoryCodes));
  download(command + bigEndian16(start) + bigEndian16(end), 5000);
  uploadRange(page, start, end, verify);
}

void UsbDfuProtocol::uploadRange(int page, std::uint32_t start, std::uint32_t end, bool verify) {
  const int count = static_cast<int>(end - start + 1);
  std::string setup;
  transfer(setup, requestUpload, count, false);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
  // A short answer would leave bytes that were never read.
  if (sessionLink().readUsb(bytes.data(), count, setup, 3000) != count) {
    // The status names why, as the last result; the read failed either way.
    static_cast<void>(pollStatus(1000));
    raise(kCannotReadUsb);
  }
  Device& target = sessionDevice();
  for (int i = 0; i < count; ++i) {
    const std::uint32_t offset = start + static_cast<std::uint32_t>(i);
    const std::uint8_t value = bytes[static_cast<std::size_t>(i)];
    if (!verify) {
      target.writeBufferByte(static_cast<std::uint32_t>(page), offset, hexText(value, 2));
    } else if (value != target.readBufferValue(static_cast<std::uint32_t>(page), offset)) {
      sessionManager().setLastResult(hexText(offset, 4));
      raise(kVerifyFail);
    }
  }
}

void UsbDfuProtocol::blankCheckBlock(int, std::uint32_t start, std::uint32_t end) {
  requireBlankCheckableMemory();
  download(blankCheckCmd + bigEndian16(start) + bigEndian16(end), 20000);
  if (pollStatus(5000)) return;
  // Only OK says blank; any other status but errCHECK_ERASED means the
  // target could not check, which is no answer about the range.
  if (sessionManager().lastResult() != hexText(kStatusErrCheckErased, 2)) raise(kCannotWriteUsb);
  sessionManager().setLastError(kBlankCheckFail);
  std::string setup;
  transfer(setup, requestUpload, 2, true);
  std::uint8_t offset[2] = {};
  // Without the offset the last result would still hold the status "05",
  // which a caller would take for an address.
  const bool read = sessionLink().readUsb(offset, 2, setup, 5000) == 2;
  sessionManager().setLastResult(read ? hexText(offset[0], 2) + hexText(offset[1], 2) : std::string());
  raise(kBlankCheckFail);
}

void UsbDfuProtocol::enterAppliMode(bool reset, int address) {
  const std::string command =
      reset ? startAppliResetCmd : startAppliJumpCmd + bigEndian16(static_cast<std::uint32_t>(address));
  startApplication(command);
}

void UsbDfuProtocol::startApplication(const std::string& command) {
  download(command, 1000);
  download("", 1000);
  sessionLink().close();
}

}  // namespace ovisp
