// The USB DFU bootloader protocol: every bootloader command is the payload of
// a DFU_DNLOAD class request, answers come back through DFU_UPLOAD and
// DFU_GETSTATUS.  Requests and payloads travel to the USB link library as
// upper-case hexadecimal texts, two digits a byte, in wire order.
//
// The family registers itself for ProtocolClass::UsbDfu, the variants for
// UsbDfuCrc, UsbDfuPagedApp and UsbDfuExt.
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
  // Least pause between two GETSTATUS requests while the target is busy;
  // a target that asks for more (bwPollTimeout) gets what it asks.
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
  // GETSTATUS until the target is idle, within `timeoutMs` in all, waiting
  // between requests what the target asks for: true for status OK.  Raises 4 when a status cannot be read or the target is not
  // idle in time, 53 on a short reply, 21 on errFILE and errWRITE; other
  // statuses answer false with the status as the last result.
  [[nodiscard]] bool pollStatus(int timeoutMs);
  // pollStatus() for a request that must have worked: raises `failure` on
  // any other status.
  void requireStatusOk(int timeoutMs, int failure);
  // Memory code of the current memory from a pair of codes (33 otherwise).
  const std::string& memoryCode(const std::array<std::string, 3>& codes) const;
  // The memory byte of a program request's header.
  virtual std::string programMemoryCode() const { return memoryCode(programMemoryCodes); }
  void changeHardwareBit(std::uint8_t bit, bool set);
  // A range in program requests of up to kChunkBytes, reporting progress.
  void writeChunks(int page, std::uint32_t start, std::uint32_t end, float step);
  // The UPLOAD of a range after its read command: stored, or compared.
  void uploadRange(int page, std::uint32_t start, std::uint32_t end, bool verify);
  // DNLOAD of a start command, the empty DNLOAD that ends the download, and
  // the link closed.
  void startApplication(const std::string& command);
  // The 16 zero bytes of the DFU file suffix that ends every program request.
  static std::string dfuSuffixText() { return std::string(32, '0'); }
};

// The variants: a CRC stored before the whole memory is programmed (device
// 13), memory units and pages chosen by a command of their own (devices 12,
// 1 and 3), and the six-byte command set of hardware codes 9 to 11.
class UsbDfuCrcProtocol : public UsbDfuProtocol {
 public:
  void programBlock(int page, std::uint32_t start, std::uint32_t end) override;
};

class UsbDfuPagedProtocol : public UsbDfuProtocol {
 public:
  UsbDfuPagedProtocol();
  void selectMemoryPage(int memory, int page) override;
  int memoryForSpecialByte(int code) override;
  void enterAppliMode(bool reset, int address) override;

  std::string startAppliCmd = "010000010001";
};

class UsbDfuPagedAppProtocol : public UsbDfuPagedProtocol {
 public:
  void enterAppliMode(bool reset, int address) override;

  std::string startAppliResetAllCmd = "0403FF";
};

class UsbDfuExtProtocol : public UsbDfuPagedProtocol {
 public:
  UsbDfuExtProtocol();

  void eraseDevice() override;
  void readSpecialByte(std::string command) override;
  void writeSpecialByte(std::string command, std::string value) override;
  void readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) override;
  void connect(int hardwareCode) override;

  std::string eraseMemory0Cmd = "01800000";
  std::string eraseMemory7Cmd = "01800000";
  std::string connectCmd = "010000000000";

 protected:
  // The memory unit was chosen by selectMemoryPage: the header says 00.
  std::string programMemoryCode() const override { return "00"; }
};


}  // namespace ovisp
