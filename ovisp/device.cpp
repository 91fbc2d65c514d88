#include "ovisp/device.h"

#include <algorithm>

#include "ovisp/manager.h"
#include "ovisp/session.h"
#include "ovisp/status.h"

namespace ovisp {
namespace {

std::vector<const DeviceFactory*>& factories() {
  static std::vector<const DeviceFactory*> list;
  return list;
}

std::vector<std::string>& names() {
  static std::vector<std::string> list;
  return list;
}

}  // namespace

Device::Device(const DeviceModel& model)
    : model_(model),
      usbProductId_(model.usbProductId),
      expectedSsb_{"FF", model.expectedSsbLevel1, model.expectedSsbLevel2},
      bootVectorDefault_(model.bootVectorDefault) {
  int highest = 0;
  for (const MemorySpec& m : model.memories) highest = std::max(highest, m.number);
  memories_.resize(static_cast<std::size_t>(highest) + 1);
  for (const MemorySpec& m : model.memories) {
    memories_[static_cast<std::size_t>(m.number)] = std::make_unique<MemorySegment>(m.size, "FF", m.blocks);
  }
  for (const MemorySpec& m : model.memories) {
    if (m.start != 0) memories_[static_cast<std::size_t>(m.number)]->setStartAddress(m.start);
  }
}

void Device::afterProgramming() {
  if (model_.keepsCrc || currentMemory_ != 0) return;
  if (IspManager* manager = session().manager()) manager->writeSpecialByte(3, "00");
}

int Device::computeCrc() {
  if (!model_.keepsCrc) return 0;
  MemorySegment* flash = memory(0);
  return flash != nullptr ? flash->crc16() : 0;
}

ProtocolChoice Device::protocolFor(int hardwareCode) const {
  if (hardwareCode < 1 || hardwareCode >= static_cast<int>(model_.protocols.size())) return {};
  return model_.protocols[static_cast<std::size_t>(hardwareCode)];
}

bool Device::createProtocol(int hardwareCode) {
  ProtocolChoice choice = protocolFor(hardwareCode);
  if (!choice.supported) return false;
  std::unique_ptr<IspProtocol> protocol = makeProtocol(choice.cls, choice.variant);
  if (!protocol) raise(kNoSuchProtocol);
  session().setProtocol(std::move(protocol));
  return true;
}

bool Device::hasMemory(int index) const {
  return index >= 0 && index < static_cast<int>(memories_.size()) && memories_[static_cast<std::size_t>(index)];
}

MemorySegment* Device::memory(int index) {
  return hasMemory(index) ? memories_[static_cast<std::size_t>(index)].get() : nullptr;
}

MemorySegment& Device::segment() { return *memories_[static_cast<std::size_t>(currentMemory_)]; }
const MemorySegment& Device::segment() const { return *memories_[static_cast<std::size_t>(currentMemory_)]; }

bool Device::writeBufferByte(std::uint32_t page, std::uint32_t offset, std::string_view text) {
  std::uint64_t index = static_cast<std::uint64_t>(page) * 65536u + offset;
  if (index > 0xFFFFFFFFu) {
    setLastError(kAddressOutOfRange);
    return false;
  }
  return segment().writeByte(static_cast<std::uint32_t>(index), text);
}

std::string Device::readBufferByte(std::uint32_t page, std::uint32_t offset) const {
  std::uint64_t index = static_cast<std::uint64_t>(page) * 65536u + offset;
  if (index > 0xFFFFFFFFu) return segment().defaultText();
  return segment().readByte(static_cast<std::uint32_t>(index));
}

std::uint8_t Device::readBufferValue(std::uint32_t page, std::uint32_t offset) const {
  const std::uint64_t index = static_cast<std::uint64_t>(page) * 65536u + offset;
  return segment().byteValue(index > 0xFFFFFFFFu ? segment().size() : static_cast<std::uint32_t>(index));
}

void Device::takeBufferFrom(const Device& other) {
  for (std::size_t m = 0; m < memories_.size() && m < other.memories_.size(); ++m) {
    if (!memories_[m] || !other.memories_[m]) continue;
    const std::uint32_t count = std::min(memories_[m]->size(), other.memories_[m]->size());
    for (std::uint32_t i = 0; i < count; ++i) memories_[m]->writeByte(i, other.memories_[m]->readByte(i));
  }
  bootloaderVersion_ = other.bootloaderVersion_;
  canNodeOpen_ = other.canNodeOpen_;
}

bool Device::defaultByteValue(int code) {
  IspManager* manager = session().manager();
  const std::string* text = nullptr;
  switch (code) {
    case 1: text = &bootVectorDefault_; break;
    case 2: text = &expectedSsb_[0]; break;
    case 3: text = &bootStatusDefault_; break;
    case 4:
    case 5: text = &hardwareByteDefault_; break;
    default:
      setLastError(kNoSuchCommand);
      return false;
  }
  if (manager != nullptr) manager->setLastResult(*text);
  return true;
}

DeviceFactory::DeviceFactory(int number, const char* name, const DeviceModel& model)
    : number_(number), model_(model) {
  factories().push_back(this);
  names().emplace_back(name);
}

std::unique_ptr<Device> DeviceFactory::create(int number) const {
  if (number != number_) return nullptr;
  return std::make_unique<Device>(model_);
}

std::unique_ptr<Device> createDeviceByNumber(int number) {
  for (const DeviceFactory* f : factories()) {
    if (auto device = f->create(number)) return device;
  }
  setLastError(kNoSuchDevice);
  raise(kNoSuchDevice);
}

int findDeviceName(const std::string& name) {
  const auto& list = names();
  auto it = std::find(list.begin(), list.end(), name);
  return static_cast<int>(it - list.begin());
}

const std::vector<std::string>& deviceNames() { return names(); }

}  // namespace ovisp
