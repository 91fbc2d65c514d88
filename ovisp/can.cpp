#include "ovisp/can.h"

#include "ovisp/comm_driver.h"
#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/session.h"
#include "ovisp/status.h"

namespace ovisp {
namespace {

// Identifier offsets from base = CRIS * 16.
constexpr std::size_t kSelectNode = 0;
constexpr std::size_t kProgramStart = 1;
constexpr std::size_t kProgramData = 2;
constexpr std::size_t kDisplay = 3;
constexpr std::size_t kWriteCommand = 4;
constexpr std::size_t kReadCommand = 5;
constexpr std::size_t kErrorFrame = 6;

// Special bytes by slot (see IspProtocol): reads by code 0, 1, 3, 2, 4..19;
// writes by code 1, 3, 4, 5, 12..19, 2.
const char* const kReads[20] = {"020000", "020101", "020100", "020105", "020200", "020106", "020001",
                                "020002", "020130", "020131", "020160", "020161", "02011C", "02011D",
                                "02011E", "02011F", "020120", "020102", "020103", "020104"};
const char* const kWrites[13] = {"030101VV", "030100VV", "030200VV", "030106VV", "03011CVV", "03011DVV", "03011EVV",
                                 "03011FVV", "030120VV", "030102VV", "030103VV", "030104VV", ""};

// Paged special bytes: the address of each code by read slot; codes 17 to
// 19 have none.
const char* const kPagedAddresses[20] = {"0000", "0008", "0000", "0005", "0007", "0006", "0001",
                                         "0002", "0030", "0031", "0060", "0061", "001C", "001D",
                                         "001E", "001F", "0020", "",     "",     ""};
// Write slots by code 1, 3, 4, 5, 12..19, 2 as read slots.
const std::size_t kWriteToReadSlot[13] = {1, 2, 4, 5, 12, 13, 14, 15, 16, 17, 18, 19, 3};

const ProtocolRegistration kCan(ProtocolClass::Can, [](int) { return std::make_unique<CanProtocol>(); });
const ProtocolRegistration kPagedCan(ProtocolClass::PagedCan,
                                     [](int) { return std::make_unique<PagedCanProtocol>(); });

// Two hexadecimal digits given by a caller, as upper case.
std::string byteText(const std::string& value) {
  if (value.size() != 2 || !isHexPair(value.c_str())) raise(kCannotExecute);
  return hexText(static_cast<std::uint32_t>(hexDigitValue(value[0]) * 16 + hexDigitValue(value[1])), 2);
}

}  // namespace

CanProtocol::CanProtocol() {
  writeChunkSize = 8;
  readSpanSize = 1024;
  programMemoryCodes = {"00", "01", ""};
  readMemoryCodes = {"00", "02", ""};
  updateCmdsIds(0);
}

std::array<std::string, 7> CanProtocol::identifiers(std::uint8_t cris) {
  if (cris > 0x7F) raise(kBadCris);
  std::array<std::string, 7> ids;
  for (std::size_t k = 0; k < ids.size(); ++k) ids[k] = hexText(static_cast<std::uint32_t>(cris * 16u + k), 3);
  return ids;
}

void CanProtocol::updateCmdsIds(std::uint8_t newCris) {
  canIds = identifiers(newCris);
  const std::string& write = canIds[kWriteCommand];
  selectNodeCmd = canIds[kSelectNode] + "01FF";
  programCmd = canIds[kProgramStart] + "05MMXXXXYYYY";
  dataRecordTemplate = canIds[kProgramData] + "LL";
  readCmd = canIds[kDisplay] + "05MMXXXXYYYY";
  blankCheckCmd = canIds[kDisplay] + "0501XXXXYYYY";
  const char* blocks[5] = {"020000", "020020", "020040", "020080", "0200C0"};
  for (std::size_t b = 0; b < 5; ++b) eraseBlockCmds[b] = write + blocks[b];
  fullEraseCmd = write + "0200FF";
  securityLev1Cmd = write + "030105FE";
  securityLev2Cmd = write + "030105FC";
  startAppliResetCmd = write + "020300";
  startAppliJumpCmd = write + "040301XXXX";
  for (std::size_t s = 0; s < readSpecialByteCmds.size(); ++s) readSpecialByteCmds[s] = canIds[kReadCommand] + kReads[s];
  for (std::size_t s = 0; s < writeSpecialByteCmds.size(); ++s) {
    writeSpecialByteCmds[s] = *kWrites[s] != '\0' ? write + kWrites[s] : std::string();
  }
}

void CanProtocol::writeFrame(const std::string& frame) {
  discardQueued();
  if (!sessionLink().writeText(frame)) raise(kCannotWritePort);
}

void CanProtocol::discardQueued() {
  // Each exchange is one frame out and its own replies in: a reply that came
  // after its time-out, or the rest of a span whose read stopped early,
  // would otherwise be taken for the answer to the next frame.  Reading
  // nothing is no failure here, so the last error stays as it was.
  IspManager& manager = sessionManager();
  const int error = manager.lastError();
  Message m;
  for (int n = 0; n < kMostQueued && sessionLink().readCan(m.id, m.length, m.data, 0); ++n) {
  }
  manager.setLastError(error);
}

void CanProtocol::readMessage(int timeoutMs) {
  Message m;
  if (!sessionLink().readCan(m.id, m.length, m.data, timeoutMs)) raise(kTimeout);
  rxMessage = m;
}

std::string CanProtocol::replyText() const {
  if (rxMessage.length == 0) return "pass";
  std::string text;
  for (std::uint8_t i = 0; i < rxMessage.length; ++i) text += hexText(rxMessage.data[i], 2);
  return text;
}

void CanProtocol::checkReply(bool check, bool keepValue) {
  // A reply on base + 6 is the node's error frame, unless the command itself
  // went on base + 6.
  if ((rxMessage.id & 0xF) == 6 && (lastCommandId.size() < 3 || lastCommandId[2] != '6')) raise(kSoftwareSecurity);
  if (hexText(rxMessage.id, 3) != lastCommandId) raise(kCanId);
  const std::string text = replyText();
  if (check && text != "00") raise(kCannotExecuteCommand);
  if (keepValue) sessionManager().setLastResult(text);
}

void CanProtocol::sendCommand(std::string frame, int, int timeoutMs, int keepValue, int check) {
  lastCommandId = frame.substr(0, 3);
  writeFrame(frame);
  readMessage(timeoutMs);
  checkReply(check != 0, keepValue != 0);
}

void CanProtocol::requireOpenNode() const {
  if (!sessionDevice().isCanNodeOpen()) raise(kCanNodeClosed);
}

void CanProtocol::selectCanNode(std::uint8_t node) {
  std::string frame = selectNodeCmd;
  frame.replace(0, 3, canIds[kSelectNode]);
  frame.replace(5, 2, hexText(node, 2));
  sendCommand(frame, 0, 1000, 1, 0);
  const std::string& reply = sessionManager().lastResult();
  Device& device = sessionDevice();
  // The second data byte 00 says the node is closed; a reply of fewer
  // bytes opens it.
  if (reply.size() >= 4 && reply.compare(2, 2, "00") == 0) {
    device.setCanNodeOpen(false);
    raise(kCanNodeClosed);
  }
  device.setCanNodeOpen(true);
}

void CanProtocol::enterIspMode(int node, int) { selectCanNode(static_cast<std::uint8_t>(node & 0xFF)); }

void CanProtocol::readSpecialByte(std::string frame) {
  requireOpenNode();
  if (frame.empty()) raise(kNotImplemented);
  sendCommand(frame, 0, 1000, 1, 0);
}

void CanProtocol::writeSpecialByte(std::string frame, std::string value) {
  requireOpenNode();
  if (frame.size() < 11) raise(kNotImplemented);
  frame.replace(9, 2, byteText(value));
  sendCommand(frame, 0, 1000, 0, 1);
}

void CanProtocol::changeHardwareBit(std::uint8_t bit, bool set) {
  readSpecialByte(*readSpecialByteCmd(4));
  const std::string value = sessionManager().lastResult();
  if (value.size() != 2 || !isHexPair(value.c_str())) raise(kBadBootloaderReply);
  std::uint32_t hardware = static_cast<std::uint32_t>(hexDigitValue(value[0]) * 16 + hexDigitValue(value[1]));
  hardware = set ? (hardware | bit) : (hardware & ~std::uint32_t{bit});
  writeSpecialByte(*writeSpecialByteCmd(4), hexText(hardware, 2));
}

// Fuse bits are bits 5, 6 and 7 of the hardware byte; enabling clears one.
void CanProtocol::enableFuseBit0() { changeHardwareBit(0x20, false); }
void CanProtocol::enableFuseBit1() { changeHardwareBit(0x40, false); }
void CanProtocol::enableFuseBit2() { changeHardwareBit(0x80, false); }
void CanProtocol::disableFuseBit0() { changeHardwareBit(0x20, true); }
void CanProtocol::disableFuseBit1() { changeHardwareBit(0x40, true); }
void CanProtocol::disableFuseBit2() { changeHardwareBit(0x80, true); }

void CanProtocol::eraseBlock(int block) {
  requireOpenNode();
  if (block < 0 || block > 0xFF || !sessionManager().checkBlockIndex(static_cast<std::uint8_t>(block))) {
    raise(kCannotExecute);
  }
  if (block > 4) raise(kNotImplemented);
  sendCommand(eraseBlockCmds[static_cast<std::size_t>(block)], 0, 10000, 0, 1);
}

void CanProtocol::eraseSbvBsb() {
  // The CAN bootloaders have no such frame; an empty one would be sent as
  // nothing and its "answer" taken from whatever came next.
  if (eraseSbvBsbCmd.empty()) raise(kNotImplemented);
  requireOpenNode();
  sendCommand(eraseSbvBsbCmd, 0, 1000, 0, 1);
}

void CanProtocol::setSecurityLev1() {
  requireOpenNode();
  sendCommand(securityLev1Cmd, 0, 1000, 0, 1);
}

void CanProtocol::setSecurityLev2() {
  requireOpenNode();
  sendCommand(securityLev2Cmd, 0, 1000, 0, 1);
}

std::string CanProtocol::withRange(std::string frame, std::uint32_t start, std::uint32_t end) {
  frame.replace(7, 4, hexText(start & 0xFFFF, 4));
  frame.replace(11, 4, hexText(end & 0xFFFF, 4));
  return frame;
}

namespace {

const std::string& memoryCode(const std::array<std::string, 3>& codes) {
  const int memory = sessionDevice().currentMemory();
  if (memory != 0 && memory != 1) raise(kBadMemory);
  return codes[static_cast<std::size_t>(memory)];
}

}  // namespace

std::string CanProtocol::programStartFrame(std::uint32_t start, std::uint32_t end) const {
  std::string frame = withRange(programCmd, start, end);
  frame.replace(5, 2, memoryCode(programMemoryCodes));
  return frame;
}

std::string CanProtocol::displayFrame(std::uint32_t start, std::uint32_t end) const {
  std::string frame = withRange(readCmd, start, end);
  frame.replace(5, 2, memoryCode(readMemoryCodes));
  return frame;
}

void CanProtocol::programBlock(int page, std::uint32_t start, std::uint32_t end) {
  const float step = start == end ? 100.0f : static_cast<float>(writeChunkSize) * 100.0f / static_cast<float>(end - start);
  requireOpenNode();
  sendCommand(programStartFrame(start, end), 0, 1000, 0, 0);
  // Data frames on 8-byte boundaries; the node acknowledges each with 02
  // while it expects more and with 00 after the last.
  std::uint32_t from = start;
  float sum = 0.0f;
  for (;;) {
    const std::uint32_t groupEnd = from - from % 8 + 7;
    const bool last = end <= groupEnd;
    lastDataFrame = last ? 1 : 0;
    writeChunk(page, from, last ? end : groupEnd);
    if (last) break;
    from = groupEnd + 1;
    sum += step;
    if (sum > 10.0f) {
      sessionManager().updateTaskProgress(sum);
      sum = 0.0f;
    }
  }
  sessionDevice().afterProgramming();
  sessionManager().updateTaskProgress(0.0f);
}

void CanProtocol::writeChunk(int page, std::uint32_t start, std::uint32_t end) {
  const Device& device = sessionDevice();
  std::string frame = canIds[kProgramData] + hexText(end - start + 1, 2);
  for (std::uint32_t offset = start; offset <= end; ++offset) {
    frame += hexText(device.readBufferValue(static_cast<std::uint32_t>(page), offset), 2);
  }
  lastCommandId = canIds[kProgramData];
  writeFrame(frame);
  readMessage(2000);
  checkReply(false, false);
  if (rxMessage.length == 0) raise(kBadBootloaderReply);
  const std::uint8_t ack = rxMessage.data[0];
  if ((ack == 0 && lastDataFrame == 0) || (ack == 2 && lastDataFrame == 1)) raise(kBadBootloaderReply);
}

void CanProtocol::readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) {
  requireOpenNode();
  const std::string frame = displayFrame(start, end);
  lastCommandId = canIds[kDisplay];
  writeFrame(frame);
  Device& device = sessionDevice();
  std::uint32_t remaining = end - start + 1;
  std::uint32_t offset = start;
  long mismatch = -1;
  while (remaining != 0) {
    try {
      readMessage(5000);
      checkReply(false, false);
    } catch (const IspError&) {
      // The first difference is the verify's answer even when the rest of
      // the span does not come as it should.
      if (mismatch >= 0) break;
      throw;
    }
    frameLength = rxMessage.length;
    // An empty frame would never finish the range and a long one would run
    // past it.
    if (frameLength == 0 || frameLength > remaining) {
      if (mismatch >= 0) break;
      raise(kBadBootloaderReply);
    }
    remaining -= frameLength;
    // After a difference the rest of the span is still taken off the link:
    // it answers this command, not the next one.
    for (std::uint8_t i = 0; i < frameLength && mismatch < 0; ++i) {
      const std::uint32_t at = offset + i;
      const std::uint8_t value = rxMessage.data[i];
      if (!verify) {
        device.writeBufferByte(static_cast<std::uint32_t>(page), at, hexText(value, 2));
      } else if (value != device.readBufferValue(static_cast<std::uint32_t>(page), at)) {
        mismatch = static_cast<long>(at);
      }
    }
    offset += frameLength;
  }
  if (mismatch >= 0) {
    // A node whose memories have pages names the page with the offset, as
    // its blank check does.
    sessionManager().setLastResult(failedOffsetText(page, static_cast<std::uint32_t>(mismatch)));
    raise(kVerifyFail);
  }
}

void CanProtocol::blankCheckBlock(int page, std::uint32_t start, std::uint32_t end) {
  requireOpenNode();
  requireBlankCheckableMemory();
  const std::string frame = withRange(blankCheckCmd, start, end);
  lastCommandId = canIds[kDisplay];
  writeFrame(frame);
  readMessage(5000);
  checkReply(false, false);
  frameLength = rxMessage.length;
  if (frameLength == 0) return;
  // Any length but two would be taken for "blank".
  if (frameLength != 2) raise(kBadBootloaderReply);
  sessionManager().setLastResult(hexText(static_cast<std::uint32_t>(page), 2) + replyText());
  raise(kBlankCheckFail);
}

void CanProtocol::enterAppliMode(bool reset, int address) {
  startAppliJumpCmd.replace(9, 4, hexText(static_cast<std::uint32_t>(address) & 0xFFFF, 4));
  writeFrame(reset ? startAppliResetCmd : startAppliJumpCmd);
}

// ---- Paged set --------------------------------------------------------------

PagedCanProtocol::PagedCanProtocol() { updateCmdsIds(0); }

void PagedCanProtocol::updateCmdsIds(std::uint8_t newCris) {
  const std::array<std::string, 7> ids = identifiers(newCris);
  // base + 5 and the security-level frames are not used by this set.
  for (std::size_t k : {kSelectNode, kProgramStart, kProgramData, kDisplay, kWriteCommand, kErrorFrame}) {
    canIds[k] = ids[k];
  }
  selectMemoryPageId = ids[kErrorFrame];
  selectMemoryPageCmd = selectMemoryPageId + "0303MMPP";
  selectNodeCmd = ids[kSelectNode] + "01FF";
  programCmd = ids[kProgramStart] + "0500XXXXYYYY";
  dataRecordTemplate = ids[kProgramData] + "LL";
  readCmd = ids[kDisplay] + "0500XXXXYYYY";
  blankCheckCmd = ids[kDisplay] + "0580XXXXYYYY";
  fullEraseCmd = ids[kProgramStart] + "0380FFFF";
  for (std::size_t b = 0; b < 5; ++b) eraseBlockCmds[b] = ids[kProgramStart] + "0380000" + std::to_string(b);
  // The start frames follow the node's CRIS like every other frame.
  startAppliResetCmd = ids[kWriteCommand] + "020300";
  startAppliJumpCmd = ids[kWriteCommand] + "040301XXXX";
  // A special byte is a one-address program start or display; codes 17 to
  // 19 have no address, and their frames are left empty (refused).
  for (std::size_t s = 0; s < readSpecialByteCmds.size(); ++s) {
    const std::string address = kPagedAddresses[s];
    readSpecialByteCmds[s] = address.empty() ? "" : ids[kDisplay] + "0500" + address + address;
  }
  for (std::size_t s = 0; s < writeSpecialByteCmds.size(); ++s) {
    const std::string address = kPagedAddresses[kWriteToReadSlot[s]];
    writeSpecialByteCmds[s] = address.empty() ? "" : ids[kProgramStart] + "0500" + address + address;
  }
}

void PagedCanProtocol::selectMemoryPage(int memory, int page) {
  if (memory < 0 || memory > 0xFF) raise(kBadMemory);
  if (page < 0 || page > 0xFF) raise(kAddressOutOfRange);
  const std::string frame = selectMemoryPageId + "0303" + hexText(static_cast<std::uint32_t>(memory), 2) +
                            hexText(static_cast<std::uint32_t>(page), 2);
  sendCommand(frame, 0, 1000, 0, 1);
}

void PagedCanProtocol::writeSpecialByte(std::string frame, std::string value) {
  requireOpenNode();
  if (frame.empty()) raise(kNotImplemented);
  const std::string data = canIds[kProgramData] + "01" + byteText(value);
  sendCommand(frame, 0, 1000, 0, 0);
  sendCommand(data, 0, 1000, 0, 1);
}

void PagedCanProtocol::setSecurityLev1() {
  requireOpenNode();
  selectMemoryPage(memoryForSpecialByte(2), 0);
  writeSpecialByte(*writeSpecialByteCmd(2), "FE");
}

void PagedCanProtocol::setSecurityLev2() {
  requireOpenNode();
  selectMemoryPage(memoryForSpecialByte(2), 0);
  writeSpecialByte(*writeSpecialByteCmd(2), "FC");
}

int PagedCanProtocol::memoryForSpecialByte(int code) { return specialByteMemoryUnit(code); }

std::string PagedCanProtocol::programStartFrame(std::uint32_t start, std::uint32_t end) const {
  return withRange(programCmd, start, end);
}

std::string PagedCanProtocol::displayFrame(std::uint32_t start, std::uint32_t end) const {
  return withRange(readCmd, start, end);
}

void PagedCanProtocol::changeHardwareBit(std::uint8_t bit, bool set) {
  // The hardware byte lives in memory 5; the node reads and writes whatever
  // memory was selected last.
  selectMemoryPage(memoryForSpecialByte(4), 0);
  CanProtocol::changeHardwareBit(bit, set);
}

}  // namespace ovisp
