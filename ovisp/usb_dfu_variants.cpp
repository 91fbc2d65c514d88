// The USB DFU variants.
#include "ovisp/comm_driver.h"
#include "ovisp/device.h"
#include "ovisp/manager.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "ovisp/usb_dfu.h"

namespace ovisp {
namespace {

const ProtocolRegistration kCrc(ProtocolClass::UsbDfuCrc, [](int) { return std::make_unique<UsbDfuCrcProtocol>(); });
const ProtocolRegistration kPagedApp(ProtocolClass::UsbDfuPagedApp,
                                     [](int) { return std::make_unique<UsbDfuPagedAppProtocol>(); });
const ProtocolRegistration kExt(ProtocolClass::UsbDfuExt, [](int) { return std::make_unique<UsbDfuExtProtocol>(); });

}  // namespace

void UsbDfuCrcProtocol::programBlock(int page, std::uint32_t, std::uint32_t) {
  Device& device = sessionDevice();
  IspManager& manager = sessionManager();
  const std::uint32_t last = device.memorySize() - 1;
  // The progress is that of what is written, the whole memory, whatever
  // range was asked for.
  const float step = last == 0 ? 100.0f : static_cast<float>(kChunkBytes) * 100.0f / static_cast<float>(last);
  // The bootloader checks the CRC in the last two bytes (high byte last)
  // against the rest of the memory, so all of it is written.
  manager.computeCrc();
  const std::string crc = manager.lastResult();
  device.writeBufferByte(static_cast<std::uint32_t>(page), last, crc.substr(0, 2));
  device.writeBufferByte(static_cast<std::uint32_t>(page), last - 1, crc.substr(2, 2));
  writeChunks(page, 0, last, step);
  manager.updateTaskProgress(0.0f);
}

UsbDfuPagedProtocol::UsbDfuPagedProtocol() { selectMemoryPageCmd = "0603"; }

void UsbDfuPagedProtocol::selectMemoryPage(int memory, int page) {
  if (memory < 0 || memory > 0xFF) raise(kBadMemory);
  if (page < 0 || page > 0xFF) raise(kAddressOutOfRange);
  download(selectMemoryPageCmd + hexText(static_cast<std::uint32_t>(memory), 2) + hexText(static_cast<std::uint32_t>(page), 2),
           1000);
  requireStatusOk(1000, kCannotWriteUsb);
}

int UsbDfuPagedProtocol::memoryForSpecialByte(int code) { return specialByteMemoryUnit(code); }

void UsbDfuPagedProtocol::enterAppliMode(bool, int address) {
  selectMemoryPage(3, 0);
  writeSpecialByte(startAppliCmd, address != 0 ? "01" : "00");
  sessionLink().close();
}

void UsbDfuPagedAppProtocol::enterAppliMode(bool reset, int address) {
  const std::string& resetCmd = (address & 0xFFFF) == 0xFFFF ? startAppliResetAllCmd : startAppliResetCmd;
  startApplication(reset ? resetCmd : startAppliJumpCmd + hexText(static_cast<std::uint32_t>(address) & 0xFFFF, 4));
}

UsbDfuExtProtocol::UsbDfuExtProtocol() {
  readCmd = "03";
  blankCheckCmd = "0380";
  programCmd = "01";
  // Slots by code: 0, 1, 3, 2, then 4 to 19; 12 to 16 stay empty.
  readSpecialByteCmds = {"030000000000", "230000010001", "230000000000", "230000050005", "330000000000",
                         "230000060006", "030000010001", "030000020002", "130000300030", "130000310031",
                         "130000600060", "130000610061", "",             "",             "",
                         "",             "",             "230000020002", "230000030003", "230000040004"};
  // Slots by code: 1, 3, 4, 5, 12 to 19, then 2.
  writeSpecialByteCmds = {"210000010001", "210000000000", "310000000000", "210000060006", "", "", "", "", "",
                          "210000020002", "210000030003", "210000040004", "210000050005"};
}

void UsbDfuExtProtocol::eraseDevice() {
  Device& device = sessionDevice();
  const int memory = device.currentMemory();
  // The erase command names no unit: the target wipes whichever unit was
  // selected last, and opening the port leaves the mode byte's unit 3 (the
  // bootloader version and boot ids) selected.
  if (memory == 0 || memory == 1 || memory == 7) selectMemoryPage(memory, 0);
  switch (memory) {
    case 0: sendCommand(eraseMemory0Cmd, 1, 10000, 0, 1); break;
    case 7: sendCommand(eraseMemory7Cmd, 1, 10000, 0, 1); break;
    case 1: {
      // Erased by programming blank bytes; the loaded buffer comes back
      // whatever happens, or a failed erase would leave it blank.
      const std::uint32_t size = device.memorySize();
      device.allocSnapshot(size);
      device.saveSnapshot();
      device.resetBuffer();
      try {
        programBlock(0, 0, size - 1);
      } catch (...) {
        device.restoreSnapshot();
        device.freeSnapshot();
        throw;
      }
      device.restoreSnapshot();
      device.freeSnapshot();
      break;
    }
    default: break;
  }
}

void UsbDfuExtProtocol::readSpecialByte(std::string command) {
  // The first digit names the unit in the table; the unit was selected, and
  // the target reads it as "display".
  if (!command.empty()) command[0] = '0';
  UsbDfuProtocol::readSpecialByte(std::move(command));
}

void UsbDfuExtProtocol::writeSpecialByte(std::string command, std::string value) {
  if (command.size() != 12 || value.size() != 2 || !isHexPair(value.c_str())) raise(kNotImplemented);
  // A one-byte program request at the offset the command names.
  const std::uint32_t offset = static_cast<std::uint32_t>(std::stoul(command.substr(4, 4), nullptr, 16));
  command[0] = '0';
  std::string payload = command;
  payload.append(2u * 26u, '0');
  payload.append(2u * offset, '0');
  payload += hexText(static_cast<std::uint32_t>(std::stoul(value, nullptr, 16)), 2);
  payload += dfuSuffixText();
  download(payload, 1000);
  requireStatusOk(1000, kCannotWriteUsb);
}

void UsbDfuExtProtocol::readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) {
  download(readCmd + "00" + hexText(start & 0xFFFF, 4) + hexText(end & 0xFFFF, 4), 5000);
  requireStatusOk(1000, kCannotReadUsb);
  uploadRange(page, start, end, verify);
}

void UsbDfuExtProtocol::connect(int hardwareCode) {
  selectMemoryPage(3, 0);
  if (hardwareCode >= 9 && hardwareCode <= 11) writeSpecialByte(connectCmd, hexText(static_cast<std::uint32_t>(hardwareCode - 9), 2));
}

}  // namespace ovisp
