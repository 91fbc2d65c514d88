#include "ovisp/protocol.h"

#include <algorithm>
#include <map>

#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/clock.h"

namespace ovisp {
namespace {

// Function-local so that registrations from other files' static objects find
// it constructed whatever the order of initialisation.
std::map<ProtocolClass, ProtocolMaker>& makers() {
  static std::map<ProtocolClass, ProtocolMaker> m;
  return m;
}

}  // namespace

ProtocolMaker registerProtocol(ProtocolClass cls, ProtocolMaker maker) {
  ProtocolMaker before;
  auto it = makers().find(cls);
  if (it != makers().end()) before = std::move(it->second);
  if (maker) {
    makers()[cls] = std::move(maker);
  } else {
    makers().erase(cls);
  }
  return before;
}

std::unique_ptr<IspProtocol> makeProtocol(ProtocolClass cls, int variant) {
  auto it = makers().find(cls);
  if (it == makers().end()) return nullptr;
  return it->second(variant);
}

void IspProtocol::selectPage(int) {}
void IspProtocol::selectMemoryPage(int, int) {}
void IspProtocol::setBootloaderVersion(std::string) {}
void IspProtocol::transfer(std::string&, std::string, int, bool) {}
void IspProtocol::sendCommand(std::string, int, int, int, int) {}
void IspProtocol::enterAppliMode(bool, int) {}
void IspProtocol::enterIspMode(int, int) {}
void IspProtocol::setLastFrameLength(std::uint8_t) {}
void IspProtocol::updateCmdsIds(std::uint8_t) {}
bool IspProtocol::reservedQuery() { return false; }
void IspProtocol::syncTarget() {}
void IspProtocol::readSpecialByte(std::string) {}
void IspProtocol::writeSpecialByte(std::string, std::string) {}
void IspProtocol::execSpecialCmd(std::string) {}
std::string IspProtocol::replyValue(std::string) { return {}; }
void IspProtocol::eraseBlock(int) {}
void IspProtocol::eraseSbvBsb() {}
void IspProtocol::setSecurityLev1() {}
void IspProtocol::setSecurityLev2() {}
void IspProtocol::enableFuseBit0() {}
void IspProtocol::enableFuseBit1() {}
void IspProtocol::enableFuseBit2() {}
void IspProtocol::disableFuseBit0() {}
void IspProtocol::disableFuseBit1() {}
void IspProtocol::disableFuseBit2() {}
void IspProtocol::programBlock(int, std::uint32_t, std::uint32_t) {}
void IspProtocol::blankCheckBlock(int, std::uint32_t, std::uint32_t) {}
void IspProtocol::writeChunk(int, std::uint32_t, std::uint32_t) {}
void IspProtocol::readChunk(int, std::uint32_t, std::uint32_t, bool) {}
void IspProtocol::selectCanNode(std::uint8_t) {}
void IspProtocol::connect(int) {}
std::uint8_t IspProtocol::currentCris() { return 0; }
int IspProtocol::memoryForSpecialByte(int) { return 0; }

void IspProtocol::eraseDevice() { sendCommand(fullEraseCmd, 1, 10000, 0, 1); }

void IspProtocol::readVerifyBlock(int page, std::uint32_t start, std::uint32_t end, bool verify) {
  IspManager* manager = session().manager();
  // The CAN adapter on the serial link carries eight bytes a message; once
  // seen, the protocol object keeps the small span.
  if (manager != nullptr && manager->getHardwareCode() == 3) readSpanSize = 8;
  const std::uint32_t span = readSpanSize;
  const float step = start == end ? 100.0f : static_cast<float>(span) * 100.0f / static_cast<float>(end - start);
  float sum = 0.0f;
  for (std::uint32_t s = start; s <= end; s += span) {
    readChunk(page, s, std::min(s + span - 1, end), verify);
    sum += step;
    if (sum > 10.0f) {
      if (manager != nullptr) manager->updateTaskProgress(sum);
      sum = 0.0f;
    }
  }
  platform::sleep_ms(200);
  if (manager != nullptr) manager->updateTaskProgress(0.0f);
}

std::optional<std::string> IspProtocol::readSpecialByteCmd(int code) const {
  if (code < 0 || code > 19) return std::nullopt;
  int slot = code;
  if (code == 2) slot = 3;
  if (code == 3) slot = 2;
  return readSpecialByteCmds[static_cast<std::size_t>(slot)];
}

std::optional<std::string> IspProtocol::writeSpecialByteCmd(int code) const {
  if (code == 2) return writeSpecialByteCmds[12];
  if (code == 1) return writeSpecialByteCmds[0];
  if (code >= 3 && code <= 5) return writeSpecialByteCmds[static_cast<std::size_t>(code - 2)];
  if (code >= 12 && code <= 19) return writeSpecialByteCmds[static_cast<std::size_t>(code - 8)];
  return std::nullopt;
}

int specialByteMemoryUnit(int code) {
  switch (code) {
    case 0: case 6: case 7: return 3;
    case 4: return 5;
    case 8: case 9: case 10: case 11: return 6;
    default: return code >= 1 && code <= 19 ? 4 : 255;
  }
}

void IspProtocol::requireBlankCheckableMemory() const {
  if (!selectMemoryCmd.empty() || !selectMemoryPageCmd.empty()) return;
  if (sessionDevice().currentMemory() != 0) raise(kBadMemory);
}

std::string IspProtocol::failedOffsetText(int page, std::uint32_t offset) const {
  const bool paged = !selectPageCmd.empty() || !selectMemoryPageCmd.empty();
  return (paged ? hexText(static_cast<std::uint32_t>(page), 2) : std::string()) + hexText(offset, 4);
}

std::string IspProtocol::valueBeforeEndChar(const std::string& reply) const {
  std::size_t pos = reply.find(static_cast<char>(replyEndChar));
  if (pos == std::string::npos || pos < 2) raise(kWrongReply);
  return reply.substr(pos - 2, 2);
}

}  // namespace ovisp
