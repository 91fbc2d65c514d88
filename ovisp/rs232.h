// The RS-232 bootloader protocol: every command is one Intel HEX record sent
// as text; the target echoes what it receives and answers with text that
// ends in a carriage return.  The per-device variants change chunk sizes and
// single command texts, refuse fuse bits their chip lacks, follow the
// bootloader version, program whole memories with a CRC (devices 13 and 21)
// or address memories above 64 KB with address records (device 24).
//
// The family registers itself for ProtocolClass::Rs232 and, by device
// number, for ProtocolClass::Rs232Variant.
#pragma once

#include <cstdint>
#include <string>

#include "ovisp/protocol.h"

namespace ovisp {

class Rs232Protocol : public IspProtocol {
 public:
  Rs232Protocol();

  void sendCommand(std::string command, int first, int timeoutMs, int keepValue, int check) override;
  std::string replyValue(std::string reply) override;
  void syncTarget() override;
  void readSpecialByte(std::string command) override;
  void writeSpecialByte(std::string command, std::string value) override;
  void eraseBlock(int block) override;
  void eraseSbvBsb() override;
  void setSecurityLev1() override;
  void setSecurityLev2() override;
  void enableFuseBit0() override;
  void enableFuseBit1() override;
  void enableFuseBit2() override;
  void disableFuseBit0() override;
  void disableFuseBit1() override;
  void disableFuseBit2() override;
  void enterAppliMode(bool reset, int address) override;
  void programBlock(int page, std::uint32_t start, std::uint32_t end) override;
  void writeChunk(int page, std::uint32_t start, std::uint32_t end) override;
  void readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) override;
  void blankCheckBlock(int page, std::uint32_t start, std::uint32_t end) override;

  // Raises 6, 19 or 20 when the reply carries the checksum-error, write- or
  // read/write-protected letter, and 4 when `requireEnd` and it lacks '.'.
  virtual void checkReply(const std::string& reply, bool requireEnd);

 protected:
  // ':' + body + the record checksum of body.
  std::string record(const std::string& body) const;
  void writeRecord(const std::string& text);
  // An answer of the link: nothing raises 4, "error" (or a refused read)
  // raises 5.
  std::string readAnswer(int count, char endChar, int timeoutMs);
  // What follows the echo of `sent` in an answer: 27 when the echo differs
  // from the record, 4 when the answer stops inside it.
  std::string afterEcho(const std::string& answer, const std::string& sent) const;
  // A display or blank-check record of a range with a two-digit code.
  std::string rangeRecord(const std::string& command, std::uint32_t start, std::uint32_t end,
                          const std::string& code) const;
  // The display command of a range; the memory code comes from the current
  // memory unless the variant keeps the one in readCmd.
  virtual std::string displayCommand(std::uint32_t start, std::uint32_t end);
  void sendFuseBit(int slot);
};

// The variant of a device number (2 to 24, as the devices ask for it).
class Rs232DeviceProtocol : public Rs232Protocol {
 public:
  explicit Rs232DeviceProtocol(int device);

  void setBootloaderVersion(std::string version) override;
  void enableFuseBit0() override;
  void enableFuseBit1() override;
  void disableFuseBit0() override;
  void disableFuseBit1() override;

 protected:
  enum class VersionRule { None, ShrinkOrForm, WideChunks };
  int device_;
  VersionRule rule_ = VersionRule::None;
  // Bit n set: fuse bit n does not exist on the chip.
  unsigned refusedFuseBits_ = 0;
};

// Devices 13 and 21: whole-memory programming with the CRC in its last two
// bytes, retried synchronisation, the read command's own memory code.
class Rs232CrcProtocol : public Rs232DeviceProtocol {
 public:
  explicit Rs232CrcProtocol(int device);

  void syncTarget() override;
  void execSpecialCmd(std::string command) override;
  void programBlock(int page, std::uint32_t start, std::uint32_t end) override;

  static constexpr int kSyncAttempts = 101;

 protected:
  std::string displayCommand(std::uint32_t start, std::uint32_t end) override;
};

// Device 24: memories and 64 KB pages chosen by address records.
class Rs232PagedProtocol : public Rs232DeviceProtocol {
 public:
  Rs232PagedProtocol();

  void selectPage(int page) override;
  void selectMemoryPage(int memory, int page) override;
  int memoryForSpecialByte(int code) override;
  void selectMemory(int memory);
};

}  // namespace ovisp
