// The CAN bootloader protocol: every command is one CAN frame, handed to the
// CAN link library as text ("III" identifier, "LL" length, two digits a data
// byte) and answered by frames read back as messages.  A node is addressed
// by its CRIS, which fixes the seven identifiers CRIS * 16 + 0..6, and must
// be opened with the select-node frame before anything else.
//
// PagedCanProtocol is the set for targets whose memory and 64 KB page are
// chosen with a frame of their own.  The families register themselves for
// ProtocolClass::Can and ProtocolClass::PagedCan.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ovisp/protocol.h"

namespace ovisp {

class CanProtocol : public IspProtocol {
 public:
  CanProtocol();

  void sendCommand(std::string frame, int first, int timeoutMs, int keepValue, int check) override;
  void enterAppliMode(bool reset, int address) override;
  void enterIspMode(int node, int unused) override;
  void setLastFrameLength(std::uint8_t length) override { frameLength = length; }
  void updateCmdsIds(std::uint8_t cris) override;
  void readSpecialByte(std::string frame) override;
  void writeSpecialByte(std::string frame, std::string value) override;
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
  void programBlock(int page, std::uint32_t start, std::uint32_t end) override;
  void writeChunk(int page, std::uint32_t start, std::uint32_t end) override;
  void readChunk(int page, std::uint32_t start, std::uint32_t end, bool verify) override;
  void blankCheckBlock(int page, std::uint32_t start, std::uint32_t end) override;
  void selectCanNode(std::uint8_t node) override;
  std::uint8_t currentCris() override { return cris; }

  // Judges the message read last against the frame sent last.
  virtual void checkReply(bool check, bool keepValue);

  std::uint8_t lastDataFrame = 0;
  std::uint8_t frameLength = 0;
  std::uint8_t cris = 0;
  std::string selectNodeCmd;
  std::array<std::string, 7> canIds;
  std::string lastCommandId;

 protected:
  struct Message {
    std::uint32_t id = 0;
    std::uint8_t length = 0;
    std::uint8_t data[8] = {};
  };

  // Identifier base + k as three digits for k = 0..6.
  static std::array<std::string, 7> identifiers(std::uint8_t cris);
  // Writes a frame after taking off the link whatever earlier exchanges
  // left queued.
  void writeFrame(const std::string& frame);
  void discardQueued();
  // A read span of 1024 bytes comes in 128 frames; more than a few spans'
  // worth queued means a link that never runs dry.
  static constexpr int kMostQueued = 1024;
  // One message within the time-out into rxMessage (4 when none comes).
  void readMessage(int timeoutMs);
  std::string replyText() const;
  void requireOpenNode() const;
  // The program-start and display frames of a range; the CAN set carries
  // the memory code of the current memory.
  virtual std::string programStartFrame(std::uint32_t start, std::uint32_t end) const;
  virtual std::string displayFrame(std::uint32_t start, std::uint32_t end) const;
  virtual void changeHardwareBit(std::uint8_t bit, bool set);
  static std::string withRange(std::string frame, std::uint32_t start, std::uint32_t end);

  Message rxMessage;
};

class PagedCanProtocol : public CanProtocol {
 public:
  PagedCanProtocol();

  void selectMemoryPage(int memory, int page) override;
  void updateCmdsIds(std::uint8_t cris) override;
  void writeSpecialByte(std::string frame, std::string value) override;
  void setSecurityLev1() override;
  void setSecurityLev2() override;
  int memoryForSpecialByte(int code) override;

  std::string selectMemoryPageId;

 protected:
  std::string programStartFrame(std::uint32_t start, std::uint32_t end) const override;
  std::string displayFrame(std::uint32_t start, std::uint32_t end) const override;
  void changeHardwareBit(std::uint8_t bit, bool set) override;
};

}  // namespace ovisp
