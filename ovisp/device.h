// Target devices: each device object owns the buffers of its memories, knows
// the default and expected texts of its special bytes and its USB product id,
// and creates the protocol object for a link hardware it supports.
//
// The 24 devices register themselves at load, in number order, through
// DeviceFactory objects (devices.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ovisp/memory_segment.h"
#include "ovisp/protocol.h"

namespace ovisp {

// One memory a device has: its number, size, erase blocks and start address.
struct MemorySpec {
  int number;
  std::uint32_t size;
  std::uint8_t blocks;
  std::uint32_t start = 0;
};

// What a link hardware code (1..11) gives on a device: no protocol, or a
// protocol class (with the variant for the RS-232 device variants).
struct ProtocolChoice {
  bool supported = false;
  ProtocolClass cls = ProtocolClass::Rs232;
  int variant = 0;
};

// A device class: everything that tells one kind of target from another.
struct DeviceModel {
  std::vector<MemorySpec> memories;
  std::uint32_t usbProductId = 0;
  const char* bootVectorDefault = "FF";
  const char* expectedSsbLevel1 = "FE";
  const char* expectedSsbLevel2 = "FC";
  // Devices that keep a CRC in their flash: no boot-status write after
  // programming, and computeCrc is the flash CRC.
  bool keepsCrc = false;
  // Index = hardware code; 0 is unused.
  std::array<ProtocolChoice, 12> protocols{};
};

class Device {
 public:
  explicit Device(const DeviceModel& model);
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  virtual ~Device() = default;

  // When memory 0 is current, writes boot status byte "00" through the manager.
  virtual void afterProgramming();
  virtual int computeCrc();
  // Creates the protocol for the hardware code and hands it to the session.
  // False when the device does not support the code; raises 8 when it does
  // but no protocol family provides the class.
  virtual bool createProtocol(int hardwareCode);

  // True when `index` names a memory this device has.
  bool hasMemory(int index) const;
  // Makes a memory current; the caller has checked hasMemory().
  void selectMemory(int index) { currentMemory_ = index; }
  int currentMemory() const { return currentMemory_; }
  // The current memory's buffer (the device always has a current memory).
  MemorySegment& segment();
  const MemorySegment& segment() const;
  // Buffer of a memory by number, or null when the device has none.
  MemorySegment* memory(int index);

  void resetBuffer() { segment().reset(); }
  void allocSnapshot(std::uint32_t count) { segment().allocSnapshot(count); }
  void freeSnapshot() { segment().freeSnapshot(); }
  void saveSnapshot() { segment().saveSnapshot(); }
  void restoreSnapshot() { segment().restoreSnapshot(); }
  bool writeBufferByte(std::uint32_t page, std::uint32_t offset, std::string_view text);
  std::string readBufferByte(std::uint32_t page, std::uint32_t offset) const;
  // The byte a stored text stands for, whatever the case of its digits: what
  // goes to a target and what its answers are compared with.
  std::uint8_t readBufferValue(std::uint32_t page, std::uint32_t offset) const;
  std::uint32_t memorySize() const { return segment().size(); }
  std::uint32_t memoryStart() const { return segment().startAddress(); }
  std::uint8_t blockCount() const { return segment().blockCount(); }

  // Puts the default text of special byte 1..5 into the last result; other
  // codes: last error 14 and false.
  bool defaultByteValue(int code);
  const std::string& expectedSsbLevel0() const { return expectedSsb_[0]; }
  const std::string& expectedSsbLevel1() const { return expectedSsb_[1]; }
  const std::string& expectedSsbLevel2() const { return expectedSsb_[2]; }
  const std::string& bootloaderVersion() const { return bootloaderVersion_; }
  void setBootloaderVersion(std::string text) { bootloaderVersion_ = std::move(text); }
  void setCanNodeOpen(bool open) { canNodeOpen_ = open; }
  bool isCanNodeOpen() const { return canNodeOpen_; }
  std::uint32_t usbProductId() const { return usbProductId_; }
  // Which protocol a hardware code gives on this device.
  ProtocolChoice protocolFor(int hardwareCode) const;
  // Takes over the byte texts of every memory both devices have (as far as
  // the smaller one reaches), the bootloader version and the node state.
  void takeBufferFrom(const Device& other);

 private:
  const DeviceModel& model_;
  std::string bootloaderVersion_ = "FF";
  int currentMemory_ = 0;
  bool canNodeOpen_ = false;
  std::uint32_t usbProductId_ = 0;
  std::array<std::string, 3> expectedSsb_{"FF", "FE", "FC"};
  std::string hardwareByteDefault_ = "FF";
  std::string bootStatusDefault_ = "FF";
  std::string bootVectorDefault_ = "FF";
  std::vector<std::unique_ptr<MemorySegment>> memories_;
};

class DeviceFactory {
 public:
  // Appends the factory to the factory list and its name to the name list.
  DeviceFactory(int number, const char* name, const DeviceModel& model);
  DeviceFactory(const DeviceFactory&) = delete;
  DeviceFactory& operator=(const DeviceFactory&) = delete;
  virtual ~DeviceFactory() = default;
  // A new device object when the number is this factory's, else null.
  virtual std::unique_ptr<Device> create(int number) const;

 private:
  int number_;
  const DeviceModel& model_;
};

// A device of a smaller memory form (1 to 4) that an RS-232 bootloader of
// an old version stands for; raises 11 for another form.
std::unique_ptr<Device> createDeviceForm(int form);

// Asks the factories in order; raises 7 when none answers.
std::unique_ptr<Device> createDeviceByNumber(int number);
// 0-based index of the exact (case-sensitive) name, or the list size.
int findDeviceName(const std::string& name);
const std::vector<std::string>& deviceNames();

}  // namespace ovisp
