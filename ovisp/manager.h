// The state behind every export: what is selected, demonstration and debug
// flags, the last error and the last text result, the loaded buffer range
// and the completion percent with its progress event.  It selects the device
// and the link hardware, checks readiness, splits range tasks into 64 KB
// pages for the protocol, and reads and writes the buffer and HEX files.
//
// Failures set the last error and raise IspError; the exports turn that into
// a 0 result.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/event.h"

namespace ovisp {

class Device;
class IspProtocol;

// What the USB driver check asks of the host system.  The default answers
// "another platform", for which there is nothing to check.
class HostSystem {
 public:
  virtual ~HostSystem() = default;
  // 1 the consumer line, 2 the NT line, anything else another platform.
  virtual int platformFamily() const { return 0; }
  virtual int majorVersion() const { return 0; }
  virtual bool registryKeyExists(const std::string&) const { return false; }
};

// Installs the host system queries (null restores the default).  Not owned.
void setHostSystem(const HostSystem* host);

// Maker's USB vendor id in the bootloader's driver entry name.
constexpr std::uint16_t kUsbVendorId = 0x2a3c;

class IspManager {
 public:
  IspManager();
  ~IspManager();
  IspManager(const IspManager&) = delete;
  IspManager& operator=(const IspManager&) = delete;

  // Selection and ports.
  void selectDevice(int number);
  void selectCommHardware(int code);
  void createProtocol();
  bool checkReady();
  void openRs232Port(const std::string& port, int baud, std::uint8_t a, std::uint8_t b, std::uint8_t c);
  void openCanPort(std::uint32_t a, std::uint8_t b, std::uint16_t c, std::uint8_t d, std::uint8_t e,
                   std::uint32_t f);
  void openUsbPort(std::uint32_t productId);
  void closePort();
  void selectMemory(int memory);
  void selectCanNode(std::uint8_t node);
  void updateCmdsIds(std::uint8_t cris);
  // ispCancel: the link is gone, so the hardware counts as not selected.
  void forgetHardware();

  // Device operations.
  void syncTarget();
  void enterIspMode(std::uint8_t a, int b);
  void enterAppliMode(std::uint8_t reset, int value);
  void eraseDevice();
  void eraseBlock(int block);
  void eraseSbvBsb();
  void setSecurityLev1();
  void setSecurityLev2();
  void getExpectedSsbValue(int level);
  void getDefaultByteValue(int code);
  void readSpecialByte(int code);
  void writeSpecialByte(int code, const std::string& text);
  void execSpecialCmd(int n);
  void readSignatureBytes();
  void enableFuseBit(int n);
  void disableFuseBit(int n);
  void programAddrRange(std::uint32_t start, std::uint32_t end);
  void programDevice();
  // False when the HEX file of a non-empty path could not be created.
  bool readAddrRange(std::uint32_t start, std::uint32_t end, const std::string& path);
  bool readDevice(const std::string& path);
  void verifyAddrRange(std::uint32_t start, std::uint32_t end);
  void verifyDevice();
  void blankCheckAddrRange(std::uint32_t start, std::uint32_t end);
  void blankCheckDevice();
  void checkRange(std::uint32_t start, std::uint32_t end);
  void setDtrLow();
  void setDtrHigh();
  void setRtsLow();
  void setRtsHigh();

  // Buffer and HEX files.
  void parseHexFile(const std::string& path);
  // False when the file could not be created.
  bool writeHexFile(std::uint32_t start, std::uint32_t end, const std::string& path);
  std::string hexChecksum(const std::string& record) const;
  void fillBufferAddrRange(std::uint32_t start, std::uint32_t end, const char* text);
  void fillBuffer(const char* text);
  void resetBuffer();
  void randomizeBuffer();
  void computeBufferChecksum(std::uint32_t start, std::uint32_t end);
  void computeCrc();
  void writeSingleByte(std::uint32_t offset, const char* text);
  void readSingleByte(std::uint32_t offset);
  void getBufferAddrLo();
  void getBufferAddrHi();
  void getMemorySize();
  void serialize(int memory, std::uint32_t start, std::int64_t value, std::uint8_t base, const std::string& form);

  // Helpers for the protocols.
  void setLastResult(std::string text) { lastResult_ = std::move(text); }
  void updateTaskProgress(float delta);
  bool checkBlockIndex(std::uint8_t n);
  int getHardwareCode() const { return demoMode_ ? 0 : hardwareCode_; }
  int getDeviceIndex(const char* name) const;

  // What must hold between the selection and buffer fields; the exports
  // assert it on entry in debug and test builds:
  //  1. `state_` holds only the device and hardware bits; the hardware bit
  //     only with the device bit, and then a hardware code of 1 to 11.
  //  2. With the device bit set the session has a device.
  //  3. A loaded buffer range runs from low to high, never backwards (an
  //     empty HEX file leaves it unloaded).
  bool check_invariants() const;

  // State.
  void setDemoMode(bool on);
  bool demoMode() const { return demoMode_; }
  bool debugMode() const { return debugMode_; }
  void setDebugMode(bool on) { debugMode_ = on; }
  void setCheckUsbDriver(bool on) { checkUsbDriver_ = on; }
  int lastError() const { return lastError_; }
  void setLastError(int code) { lastError_ = code; }
  const std::string& lastResult() const { return lastResult_; }
  const std::vector<std::string>& errorMessages() const { return errorMessages_; }
  int percent() const { return percent_.load(); }
  void resetPercent() { percent_.store(0); }
  platform::Event* progressEvent() const { return progressEvent_; }
  int state() const { return state_; }
  int deviceNumber() const { return deviceNumber_; }
  int savedMemory() const { return savedMemory_; }
  std::uint32_t bufferLow() const { return bufferLow_; }
  std::uint32_t bufferHigh() const { return bufferHigh_; }

 private:
  enum class Task { Read, Verify, Program, BlankCheck };
  static constexpr int kDeviceSelected = 1;
  static constexpr int kHardwareSelected = 2;

  [[noreturn]] void fail(int code);
  Device& requireDevice();
  IspProtocol& requireProtocol();
  void requireReady();
  void runRangeTask(Task task, std::uint32_t start, std::uint32_t end);
  // The buffer range of the last load, or false when it holds nothing;
  // fails with 2 when the range does not fit the current memory.
  bool loadedRange(std::uint32_t& low, std::uint32_t& high);
  // After a failed special-byte access: the memory current before it.
  void restoreSavedMemory();
  void checkUsbDriverEntry();
  void lineChange(bool (*call)(class CommDriver&));
  void selectSpecialByteMemory(IspProtocol& protocol, int memory);

  bool checkUsbDriver_ = true;
  int savedMemory_ = 0;
  bool demoMode_ = false;
  bool debugMode_ = false;
  int deviceNumber_ = 0;
  int hardwareCode_ = 0;
  int state_ = 0;
  int lastError_ = 0;
  std::string lastResult_;
  std::uint32_t bufferLow_ = 0;
  std::uint32_t bufferHigh_ = 0;
  // An empty HEX file leaves low above high; nothing is then programmed.
  bool bufferLoaded_ = false;
  std::vector<std::string> errorMessages_;
  platform::Event* progressEvent_;
  platform::Event* secondEvent_;
  std::atomic<int> percent_{0};
  float progressSum_ = 0.0f;
};

}  // namespace ovisp
