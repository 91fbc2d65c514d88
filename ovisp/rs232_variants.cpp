// The RS-232 variants by device number.
#include "ovisp/comm_driver.h"
#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/rs232.h"
#include "ovisp/session.h"
#include "ovisp/status.h"

namespace ovisp {
namespace {

// Special-byte slots (see IspProtocol): reads by code, writes of codes 5 and
// 17 to 19.
constexpr std::size_t kReadVersion = 0;
constexpr std::size_t kReadHardware = 4;
constexpr std::size_t kReadExtra = 5;
constexpr std::size_t kReadBootId1 = 6;
constexpr std::size_t kReadBootId2 = 7;
constexpr std::size_t kReadP1 = 17;
constexpr std::size_t kWriteExtra = 3;
constexpr std::size_t kWriteP1 = 9;

std::unique_ptr<IspProtocol> makeVariant(int device) {
  switch (device) {
    case 13:
    case 21: return std::make_unique<Rs232CrcProtocol>(device);
    case 24: return std::make_unique<Rs232PagedProtocol>();
    case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10: case 14: case 15: case 16: case 20:
    case 22: return std::make_unique<Rs232DeviceProtocol>(device);
    default: return nullptr;
  }
}

const ProtocolRegistration kRegistration(ProtocolClass::Rs232Variant, makeVariant);

// The current device replaced by one of the same number with fewer or
// smaller memories; what the buffer holds goes along.
void replaceDevice(int form) {
  std::unique_ptr<Device> replacement = createDeviceForm(form);
  replacement->takeBufferFrom(sessionDevice());
  session().setDevice(std::move(replacement));
}

}  // namespace

Rs232DeviceProtocol::Rs232DeviceProtocol(int device) : device_(device) {
  auto sizes = [this](std::uint16_t w, std::uint16_t r) {
    writeChunkSize = w;
    readLineSize = r;
  };
  auto configBytes = [this] {
    for (std::size_t i = 0; i < 3; ++i) {
      writeSpecialByteCmds[kWriteP1 + i] = ":03000003060" + std::to_string(2 + i);
    }
    readSpecialByteCmds[kReadP1] = ":020000050703EF";
    readSpecialByteCmds[kReadP1 + 1] = ":020000050704EE";
    readSpecialByteCmds[kReadP1 + 2] = ":020000050705ED";
  };
  switch (device) {
    case 2:
      sizes(128, 16);
      configBytes();
      refusedFuseBits_ = 0b011;
      break;
    case 3: sizes(128, 16); break;
    case 4: sizes(128, 128); break;
    case 14:
      sizes(128, 16);
      rule_ = VersionRule::ShrinkOrForm;
      break;
    case 15:
      sizes(16, 16);
      rule_ = VersionRule::ShrinkOrForm;
      break;
    case 16:
      sizes(16, 16);
      configBytes();
      rule_ = VersionRule::ShrinkOrForm;
      break;
    case 22:
    case 7: sizes(128, 16); break;
    case 5:
    case 10:
      sizes(128, 16);
      refusedFuseBits_ = 0b001;
      break;
    case 6:
    case 8:
      sizes(16, 16);
      rule_ = VersionRule::WideChunks;
      break;
    case 9:
      sizes(16, 16);
      rule_ = VersionRule::WideChunks;
      refusedFuseBits_ = 0b001;
      break;
    case 21:
      sizes(64, 64);
      readCmd = ":05000004AAAABBBB03";
      readSpecialByteCmds[kReadBootId1].clear();
      readSpecialByteCmds[kReadBootId2].clear();
      specialCmds = {":030000030605FFF0", ":0300000306057F70", ":030000030605BF30", ":0300000306053FB0"};
      break;
    case 13:
      sizes(64, 64);
      readCmd = ":05000004AAAABBBB03";
      break;
    case 20:
      sizes(16, 16);
      readSpecialByteCmds[kReadVersion] = ":020000050800F1";
      readSpecialByteCmds[kReadHardware] = ":020000050703EF";
      break;
    case 24:
      sizes(16, 16);
      selectMemoryCmd = ":02000004MM00";
      selectPageCmd = ":02000002S000";
      break;
    default: break;
  }
}

void Rs232DeviceProtocol::setBootloaderVersion(std::string version) {
  if (rule_ == VersionRule::WideChunks) {
    writeChunkSize = version > "11" ? 128 : 16;
    readLineSize = 16;
    return;
  }
  if (rule_ != VersionRule::ShrinkOrForm) return;
  if (version <= "12") {
    writeChunkSize = 16;
    readLineSize = 16;
    readSpecialByteCmds[kReadExtra].clear();
    writeSpecialByteCmds[kWriteExtra].clear();
    startAppliResetCmd.clear();
    startAppliJumpCmd.clear();
    replaceDevice(device_ == 14 ? 1 : device_ == 15 ? 3 : 4);
  } else if (device_ == 14) {
    if (version < "50") replaceDevice(2);
  } else {
    writeChunkSize = 128;
    readLineSize = 16;
  }
}

void Rs232DeviceProtocol::enableFuseBit0() {
  if (refusedFuseBits_ & 1u) raise(kNotImplemented);
  Rs232Protocol::enableFuseBit0();
}

void Rs232DeviceProtocol::disableFuseBit0() {
  if (refusedFuseBits_ & 1u) raise(kNotImplemented);
  Rs232Protocol::disableFuseBit0();
}

void Rs232DeviceProtocol::enableFuseBit1() {
  if (refusedFuseBits_ & 2u) raise(kNotImplemented);
  Rs232Protocol::enableFuseBit1();
}

void Rs232DeviceProtocol::disableFuseBit1() {
  if (refusedFuseBits_ & 2u) raise(kNotImplemented);
  Rs232Protocol::disableFuseBit1();
}

// ---- Devices 13 and 21 ----------------------------------------------------

Rs232CrcProtocol::Rs232CrcProtocol(int device) : Rs232DeviceProtocol(device) {}

void Rs232CrcProtocol::syncTarget() {
  if (!sessionManager().checkReady()) raise(kCannotExecute);
  for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
    writeRecord(syncText);
    std::string answer;
    // The text left behind tells the failures apart; the flag adds nothing.
    (void)sessionLink().readText(answer, 0, static_cast<std::int8_t>(syncChar), 100);
    if (answer == "error") raise(kReadingError);
    if (answer.find(static_cast<char>(syncChar)) != std::string::npos) {
      sessionManager().setLastError(kPass);
      return;
    }
  }
  raise(kTimeout);
}

void Rs232CrcProtocol::execSpecialCmd(std::string command) {
  if (device_ != 21) return;
  if (command.empty()) raise(kNotImplemented);
  sendCommand(command, 1, 1000, 0, 1);
}

void Rs232CrcProtocol::programBlock(int page, std::uint32_t, std::uint32_t) {
  IspManager& manager = sessionManager();
  Device& target = sessionDevice();
  const std::uint32_t w = writeChunkSize;
  const std::uint32_t last = target.memorySize() - 1;
  const float step = last == 0 ? 100.0f : static_cast<float>(w) * 100.0f / static_cast<float>(last);
  // The bootloader starts the application only when the CRC in the last
  // two bytes (high byte last) matches the rest of the memory.
  manager.computeCrc();
  const std::string crc = manager.lastResult();
  target.writeBufferByte(static_cast<std::uint32_t>(page), last, crc.substr(0, 2));
  target.writeBufferByte(static_cast<std::uint32_t>(page), last - 1, crc.substr(2, 2));
  if (w - 1 >= last) {
    writeChunk(page, 0, last);
  } else {
    writeChunk(page, 0, w - 1);
    std::uint32_t e = w - 1;
    float sum = 0.0f;
    for (; e + w < last; e += w) {
      writeChunk(page, e + 1, e + w);
      sum += step;
      if (sum > 10.0f) {
        manager.updateTaskProgress(sum);
        sum = 0.0f;
      }
    }
    writeChunk(page, e + 1, last);
  }
  manager.updateTaskProgress(0.0f);
}

std::string Rs232CrcProtocol::displayCommand(std::uint32_t start, std::uint32_t end) {
  return rangeRecord(readCmd, start, end, readCmd.substr(17, 2));
}

// ---- Device 24 --------------------------------------------------------------

Rs232PagedProtocol::Rs232PagedProtocol() : Rs232DeviceProtocol(24) {}

void Rs232PagedProtocol::selectMemory(int memory) {
  if (memory < 0 || memory > 0xFF) raise(kBadMemory);
  std::string body = selectMemoryCmd.substr(1);
  body.replace(body.find("MM"), 2, hexText(static_cast<std::uint32_t>(memory), 2));
  sendCommand(record(body), 1, 1000, 0, 1);
}

void Rs232PagedProtocol::selectPage(int page) {
  // The record's data is the segment page * 0x1000: two digits reach page 15.
  if (page < 0 || page > 15) raise(kAddressOutOfRange);
  std::string body = selectPageCmd.substr(1);
  body.replace(body.find("S0"), 2, hexText(static_cast<std::uint32_t>(page * 16), 2));
  sendCommand(record(body), 1, 1000, 0, 1);
}

void Rs232PagedProtocol::selectMemoryPage(int memory, int page) {
  selectMemory(memory);
  selectPage(page);
}

int Rs232PagedProtocol::memoryForSpecialByte(int code) { return specialByteMemoryUnit(code); }

}  // namespace ovisp
