// The bootloader protocol base: command texts shared by role, chunk sizes,
// the two operations every family shares (full erase, read/verify by spans)
// and empty defaults for everything a family may replace.  An empty command
// text means the target lacks that command.
//
// Protocol families live in their own files and make themselves known with a
// ProtocolRegistration object (see the end of this header); the devices ask
// for a protocol by class, so a family is added without touching them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ovisp {

class IspProtocol {
 public:
  IspProtocol() = default;
  IspProtocol(const IspProtocol&) = delete;
  IspProtocol& operator=(const IspProtocol&) = delete;
  virtual ~IspProtocol() = default;

  virtual void selectPage(int page);
  virtual void selectMemoryPage(int memory, int page);
  virtual void setBootloaderVersion(std::string version);
  virtual void transfer(std::string& setup, std::string request, int length, bool unnumbered);
  virtual void sendCommand(std::string command, int first, int timeoutMs, int valueFlag, int checkFlag);
  virtual void enterAppliMode(bool reset, int value);
  virtual void enterIspMode(int a, int b);
  virtual void setLastFrameLength(std::uint8_t length);
  virtual void updateCmdsIds(std::uint8_t cris);
  virtual bool reservedQuery();
  virtual void syncTarget();
  virtual void readSpecialByte(std::string command);
  virtual void writeSpecialByte(std::string command, std::string value);
  virtual void execSpecialCmd(std::string command);
  virtual std::string replyValue(std::string reply);
  virtual void eraseDevice();
  virtual void eraseBlock(int block);
  virtual void eraseSbvBsb();
  virtual void setSecurityLev1();
  virtual void setSecurityLev2();
  virtual void enableFuseBit0();
  virtual void enableFuseBit1();
  virtual void enableFuseBit2();
  virtual void disableFuseBit0();
  virtual void disableFuseBit1();
  virtual void disableFuseBit2();
  // Offsets are within one 64 KB page, both inclusive.
  virtual void programBlock(int page, std::uint32_t start, std::uint32_t end);
  virtual void readVerifyBlock(int page, std::uint32_t start, std::uint32_t end, bool verify);
  virtual void blankCheckBlock(int page, std::uint32_t start, std::uint32_t end);
  virtual void writeChunk(int page, std::uint32_t start, std::uint32_t end);
  virtual void readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify);
  virtual void selectCanNode(std::uint8_t node);
  virtual void connect(int hardwareCode);
  virtual std::uint8_t currentCris();
  virtual int memoryForSpecialByte(int code);

  // Command text of a special-byte read or write by code; nullopt when the
  // code has no slot (reads: above 19; writes: 0 and 6 to 11).
  std::optional<std::string> readSpecialByteCmd(int code) const;
  std::optional<std::string> writeSpecialByteCmd(int code) const;
  const std::string& specialCmd(int n) const { return specialCmds[static_cast<std::size_t>(n)]; }

  std::string syncText;
  std::uint8_t syncChar = 0;
  std::uint8_t replyEndChar = 0;
  std::string checksumErrorReply;
  std::string writeProtectedReply;
  std::string rwProtectedReply;
  std::string readCmd;
  std::array<std::string, 3> readMemoryCodes;
  std::string fullEraseCmd;
  std::string blankCheckCmd;
  std::array<std::string, 5> eraseBlockCmds;
  std::string eraseSbvBsbCmd;
  std::string programCmd;
  std::string dataRecordTemplate;
  std::array<std::string, 3> programMemoryCodes;
  // By code: 1, 3, 4, 5, 12 to 19, then 2.
  std::array<std::string, 13> writeSpecialByteCmds;
  // By code: 0, 1, 3, 2, then 4 to 19.
  std::array<std::string, 20> readSpecialByteCmds;
  // Enable 0, disable 0, enable 1, disable 1, enable 2, disable 2.
  std::array<std::string, 6> fuseBitCmds;
  std::string securityLev1Cmd;
  std::string securityLev2Cmd;
  std::string startAppliResetCmd;
  std::string startAppliJumpCmd;
  std::uint16_t writeChunkSize = 0;
  std::uint16_t readLineSize = 0;
  // Every family reads 1024 bytes per span; a zero span would never advance.
  std::uint16_t readSpanSize = 1024;
  std::array<std::string, 4> specialCmds;
  std::string selectMemoryCmd;
  std::string selectPageCmd;
  std::string selectMemoryPageCmd;

 protected:
  // Blank-check commands name no memory: they cover the current memory only
  // where a select command of the family chose it, else memory 0.  Raises
  // 33 for any other memory rather than answer for the wrong one.
  void requireBlankCheckableMemory() const;
  // The offset a verify or blank check names as failing: four digits, with
  // the page's two in front on targets that select pages by a command.
  std::string failedOffsetText(int page, std::uint32_t offset) const;
  // The two characters in front of the first `replyEndChar` of a reply;
  // raises 27 when there are not two characters before it.
  std::string valueBeforeEndChar(const std::string& reply) const;
};

// The memory unit that holds a special byte on targets that keep their
// special bytes in memories of their own: 3 the bootloader's identity, 4 the
// boot and configuration bytes, 5 the hardware byte, 6 the chip's identity;
// 255 for codes above 19.
int specialByteMemoryUnit(int code);

// The protocol classes the devices ask for.  Rs232Variant takes the number of
// the device whose variant is wanted.
enum class ProtocolClass {
  Rs232,
  Rs232Variant,
  UsbDfu,
  UsbDfuExt,
  UsbDfuCrc,
  UsbDfuPagedApp,
  Can,
  PagedCan,
};

using ProtocolMaker = std::function<std::unique_ptr<IspProtocol>(int variant)>;

// Installs the maker of a protocol class, replacing any earlier one (an empty
// maker removes it); answers the earlier one.
ProtocolMaker registerProtocol(ProtocolClass cls, ProtocolMaker maker);
// A new protocol object of the class, or null when no family provides it.
std::unique_ptr<IspProtocol> makeProtocol(ProtocolClass cls, int variant);

// A family's .cpp declares one of these at namespace scope.
struct ProtocolRegistration {
  ProtocolRegistration(ProtocolClass cls, ProtocolMaker maker) { registerProtocol(cls, std::move(maker)); }
};

}  // namespace ovisp
