// The USB DFU bootloader protocol: every bootloader command is the payload of
// a DFU_DNLOAD class request, answers come back through DFU_UPLOAD and
// DFU_GETSTATUS.  Requests and payloads travel to the USB link library as
// upper-case hexadecimal texts, two digits a byte, in wire order.
//
// The family registers itself for ProtocolClass::UsbDfu; its variants derive
// from this class.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ovisp/protocol.h"

namespace ovisp {

class UsbDfuProtocol : public IspProtocol {
 public:
  UsbDfuProtocol();

  void transfer(std::string& setup, std::string request, int length, bool unnumbered) override;
  void sendCommand(std::string command, int first, int timeoutMs, int valueFlag, int checkFlag) override;
  void enterAppliMode(bool reset, int address) override;
  void readSpecialByte(std::string command) override;
  void writeSpecialByte(std::string command, std::string value) override;
  void eraseBlock(int block) override;
  void setSecurityLev1() override;
  void setSecurityLev2() override;
  void enableFuseBit1() override;
  void disableFuseBit1() override;
  void enableFuseBit2() override;
  void disableFuseBit2() override;
  void programBlock(int page, std::uint32_t start, std::uint32_t end) override;
  void writeChunk(int page, std::uint32_t start, std::uint32_t end) override;
  void readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) override;
  void blankCheckBlock(int page, std::uint32_t start, std::uint32_t end) override;

  // Data bytes a program request carries at most.
  static constexpr std::uint32_t kChunkBytes = 3072;
  // Pause between two GETSTATUS requests while the target is busy.
  static constexpr std::uint32_t kPollPauseMs = 10;

  std::string requestDetach = "2100";
  std::string requestDnload = "2101";
  std::string requestUpload = "A102";
  std::string requestGetStatus = "A103";
  std::string requestClrStatus = "2104";
  std::string requestGetState = "A105";
  std::string requestAbort = "2106";
  std::string interfaceField = "0004";
  std::uint8_t commandHeaderSize = 32;
  std::uint16_t blockNumberLimit = 0xFFFF;
  std::uint16_t blockNumber = 0xFFFF;

 protected:
  // DFU_DNLOAD of a payload.  A request the link refuses raises 52: the
  // target never saw it, so no status read afterwards speaks for it.
  void download(const std::string& payload, int timeoutMs);
  // GETSTATUS until the target is idle, within `timeoutMs` in all: true for
  // status OK.  Raises 4 when a status cannot be read or the target is not
  // idle in time, 53 on a short reply, 21 on errFILE and errWRITE; other
  // statuses answer false with the status as the last result.
  bool pollStatus(int timeoutMs);
  // Memory code of the current memory from a pair of codes (33 otherwise).
  const std::string& memoryCode(const std::array<std::string, 3>& codes) const;
  void changeHardwareBit(std::uint8_t bit, bool set);
};

}  // namespace ovisp
