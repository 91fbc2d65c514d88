#include "ovisp/manager.h"

#include <cstdio>
#include <new>

#include "ovisp/comm_driver.h"
#include "ovisp/device.h"
#include "ovisp/protocol.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/clock.h"

namespace ovisp {
namespace {

const HostSystem kOtherPlatform;
const HostSystem* g_host = &kOtherPlatform;

}  // namespace

void setHostSystem(const HostSystem* host) { g_host = host != nullptr ? host : &kOtherPlatform; }

IspManager::IspManager()
    : errorMessages_(errorMessageTable()),
      progressEvent_(platform::event_create()),
      secondEvent_(platform::event_create()) {}

IspManager::~IspManager() {
  platform::event_destroy(progressEvent_);
  platform::event_destroy(secondEvent_);
}

void IspManager::fail(int code) {
  lastError_ = code;
  raise(code);
}

bool IspManager::check_invariants() const {
  if (state_ & ~(kDeviceSelected | kHardwareSelected)) return false;
  if ((state_ & kHardwareSelected) && (!(state_ & kDeviceSelected) || hardwareCode_ < 1 || hardwareCode_ > 11))
    return false;
  if ((state_ & kDeviceSelected) && session().device() == nullptr) return false;
  return !bufferLoaded_ || bufferLow_ <= bufferHigh_;
}

Device& IspManager::requireDevice() {
  Device* device = session().device();
  if (device == nullptr) fail(kCannotExecute);
  return *device;
}

IspProtocol& IspManager::requireProtocol() {
  IspProtocol* protocol = session().protocol();
  if (protocol == nullptr) fail(kCannotExecute);
  return *protocol;
}

void IspManager::requireReady() {
  if (!checkReady()) raise(kCannotExecute);
}

// ---- Selection and ports -------------------------------------------------

void IspManager::selectDevice(int number) {
  lastError_ = kPass;
  IspSession& s = session();
  if (s.device() != nullptr) {
    s.unloadCommDriver();
    s.deleteProtocol();
    s.deleteDevice();
  }
  state_ = 0;
  deviceNumber_ = 0;
  try {
    s.setDevice(createDeviceByNumber(number));
  } catch (const std::bad_alloc&) {
    fail(kAllocationError);
  } catch (const IspError& e) {
    fail(e.code);
  }
  deviceNumber_ = number;
  bufferLow_ = 0;
  bufferHigh_ = s.device()->memorySize() - 1;
  bufferLoaded_ = true;
  state_ = kDeviceSelected;
}

void IspManager::selectCommHardware(int code) {
  lastError_ = kPass;
  IspSession& s = session();
  if (s.device() == nullptr) fail(kCannotExecute);
  s.unloadCommDriver();
  s.deleteProtocol();
  state_ &= ~kHardwareSelected;
  if (code <= 0 || code > 11) fail(kNoSuchHardware);
  CommDriver* driver = s.commDriver();
  if (driver == nullptr || !driver->load(code)) fail(kCannotLoadLibrary);
  hardwareCode_ = code;
  state_ |= kHardwareSelected;
  try {
    createProtocol();
  } catch (...) {
    // The library stays loaded, but without a protocol nothing is ready.
    state_ &= ~kHardwareSelected;
    throw;
  }
}

void IspManager::createProtocol() {
  lastError_ = kPass;
  Device& device = requireDevice();
  bool created = false;
  try {
    created = device.createProtocol(hardwareCode_);
  } catch (const std::bad_alloc&) {
    fail(kAllocationError);
  } catch (const IspError& e) {
    fail(e.code);
  }
  if (!created) fail(kBadDeviceHardware);
}

bool IspManager::checkReady() {
  if (demoMode_) return true;
  lastError_ = kPass;
  if ((state_ & kDeviceSelected) && (state_ & kHardwareSelected) && session().device() != nullptr &&
      session().protocol() != nullptr) {
    return true;
  }
  lastError_ = kCannotExecute;
  return false;
}

namespace {

CommDriver& loadedDriver() {
  CommDriver* driver = session().commDriver();
  if (driver == nullptr || !driver->loaded()) {
    setLastError(kCannotExecute);
    raise(kCannotExecute);
  }
  return *driver;
}

}  // namespace

void IspManager::openRs232Port(const std::string& port, int baud, std::uint8_t a, std::uint8_t b,
                               std::uint8_t c) {
  if (demoMode_) return;
  if (!loadedDriver().openSerial(port, baud, a, b, c)) fail(kCannotOpenPort);
}

void IspManager::openCanPort(std::uint32_t a, std::uint8_t b, std::uint16_t c, std::uint8_t d, std::uint8_t e,
                             std::uint32_t f) {
  if (demoMode_) return;
  if (!loadedDriver().openCan(hardwareCode_, a, b, c, d, e, f)) fail(kCannotOpenPort);
}

void IspManager::checkUsbDriverEntry() {
  char entry[32];
  std::snprintf(entry, sizeof entry, "Vid_%04x&Pid_2ffd", static_cast<unsigned>(kUsbVendorId));
  std::string key;
  if (g_host->platformFamily() == 1) {
    key = std::string("Enum\\USB\\") + entry;
  } else if (g_host->platformFamily() == 2 && g_host->majorVersion() >= 5) {
    key = std::string("System\\CurrentControlSet\\Enum\\USB\\") + entry;
  } else {
    return;
  }
  if (!g_host->registryKeyExists(key)) fail(kUsbDriverMissing);
}

void IspManager::openUsbPort(std::uint32_t productId) {
  if (demoMode_) return;
  if (checkUsbDriver_) checkUsbDriverEntry();
  if (hardwareCode_ >= 9 && hardwareCode_ <= 11) productId = 0x2FFD;
  if (!loadedDriver().openUsb(productId)) fail(kCannotOpenPort);
  requireProtocol().connect(hardwareCode_);
}

void IspManager::closePort() {
  if (demoMode_) return;
  loadedDriver().close();
}

void IspManager::selectMemory(int memory) {
  if (demoMode_) return;
  Device* device = session().device();
  if (!(state_ & kDeviceSelected) || device == nullptr) fail(kCannotExecute);
  if (!device->hasMemory(memory)) fail(kBadMemory);
  device->selectMemory(memory);
  // With a device but no link hardware there is no target to tell yet.
  if (IspProtocol* protocol = session().protocol()) protocol->selectMemoryPage(memory, 0);
}

void IspManager::selectCanNode(std::uint8_t node) {
  if (demoMode_) return;
  requireProtocol().selectCanNode(node);
}

void IspManager::updateCmdsIds(std::uint8_t cris) {
  if (demoMode_) return;
  requireProtocol().updateCmdsIds(cris);
}

void IspManager::forgetHardware() { state_ &= ~kHardwareSelected; }

// ---- Device operations ---------------------------------------------------

void IspManager::syncTarget() {
  if (demoMode_) return;
  requireReady();
  requireProtocol().syncTarget();
}

void IspManager::enterIspMode(std::uint8_t a, int b) {
  if (demoMode_) return;
  requireProtocol().enterIspMode(a, b);
}

void IspManager::enterAppliMode(std::uint8_t reset, int value) {
  if (demoMode_) return;
  requireProtocol().enterAppliMode(reset != 0, value);
}

void IspManager::eraseDevice() {
  if (demoMode_) return;
  requireReady();
  requireProtocol().eraseDevice();
}

void IspManager::eraseBlock(int block) {
  if (demoMode_) return;
  requireReady();
  requireProtocol().eraseBlock(block);
}

void IspManager::eraseSbvBsb() {
  if (demoMode_) return;
  requireReady();
  requireProtocol().eraseSbvBsb();
}

void IspManager::setSecurityLev1() {
  if (demoMode_) return;
  requireReady();
  savedMemory_ = requireDevice().currentMemory();
  requireProtocol().setSecurityLev1();
  selectMemory(savedMemory_);
}

void IspManager::setSecurityLev2() {
  if (demoMode_) return;
  requireReady();
  savedMemory_ = requireDevice().currentMemory();
  requireProtocol().setSecurityLev2();
  selectMemory(savedMemory_);
}

void IspManager::getExpectedSsbValue(int level) {
  if (demoMode_) return;
  Device& device = requireDevice();
  switch (level) {
    case 0: lastResult_ = device.expectedSsbLevel0(); break;
    case 1: lastResult_ = device.expectedSsbLevel1(); break;
    case 2: lastResult_ = device.expectedSsbLevel2(); break;
    default: fail(kNoSuchCommand);
  }
}

void IspManager::getDefaultByteValue(int code) {
  if (demoMode_) return;
  if (!requireDevice().defaultByteValue(code)) fail(kNoSuchCommand);
}

void IspManager::readSpecialByte(int code) {
  if (demoMode_) return;
  requireReady();
  Device& device = requireDevice();
  IspProtocol& protocol = requireProtocol();
  savedMemory_ = device.currentMemory();
  std::optional<std::string> command = protocol.readSpecialByteCmd(code);
  if (!command) fail(kNoSuchCommand);
  try {
    selectSpecialByteMemory(protocol, protocol.memoryForSpecialByte(code));
    protocol.readSpecialByte(*command);
  } catch (const IspError& e) {
    restoreSavedMemory();
    fail(e.code);
  }
  if (code == 0) {
    device.setBootloaderVersion(lastResult_);
    // An old RS-232 bootloader replaces the device by a smaller form: from
    // here on only the session's device is valid, and the saved memory is
    // restored only when the new form has it.
    protocol.setBootloaderVersion(lastResult_);
    if (!requireDevice().hasMemory(savedMemory_)) return;
  }
  selectMemory(savedMemory_);
}

void IspManager::writeSpecialByte(int code, const std::string& text) {
  if (demoMode_) return;
  requireReady();
  Device& device = requireDevice();
  IspProtocol& protocol = requireProtocol();
  savedMemory_ = device.currentMemory();
  std::optional<std::string> command = protocol.writeSpecialByteCmd(code);
  if (!command) fail(kNoSuchCommand);
  try {
    selectSpecialByteMemory(protocol, protocol.memoryForSpecialByte(code));
    protocol.writeSpecialByte(*command, text);
  } catch (const IspError& e) {
    restoreSavedMemory();
    fail(e.code);
  }
  selectMemory(savedMemory_);
}

void IspManager::restoreSavedMemory() {
  // What called the access goes on with its own memory, not the special
  // byte's: the programming that writes the boot status byte after each
  // page, for one.  The device's side is put back even when the target
  // refuses this selection too: each range task selects its memory on the
  // target again.
  try {
    if (requireDevice().hasMemory(savedMemory_)) selectMemory(savedMemory_);
  } catch (const IspError&) {
  }
}

void IspManager::selectSpecialByteMemory(IspProtocol& protocol, int memory) {
  // Targets that keep their special bytes in memory units of their own
  // (3 to 6) have no buffer for those units: the unit is selected on the
  // target only, and the device keeps a current memory it has.
  if (requireDevice().hasMemory(memory)) {
    selectMemory(memory);
  } else {
    protocol.selectMemoryPage(memory, 0);
  }
}

void IspManager::execSpecialCmd(int n) {
  if (demoMode_) return;
  requireReady();
  if (n < 0 || n > 3) fail(kNoSuchCommand);
  IspProtocol& protocol = requireProtocol();
  protocol.execSpecialCmd(protocol.specialCmd(n));
}

void IspManager::readSignatureBytes() {
  if (demoMode_) return;
  std::string all;
  for (int code = 8; code <= 11; ++code) {
    readSpecialByte(code);
    all += lastResult_ + " ";
  }
  lastResult_ = all;
}

void IspManager::enableFuseBit(int n) {
  if (demoMode_) return;
  if (n < 0 || n > 2) fail(kCannotExecute);
  IspProtocol& protocol = requireProtocol();
  if (n == 0) protocol.enableFuseBit0();
  if (n == 1) protocol.enableFuseBit1();
  if (n == 2) protocol.enableFuseBit2();
}

void IspManager::disableFuseBit(int n) {
  if (demoMode_) return;
  if (n < 0 || n > 2) fail(kCannotExecute);
  IspProtocol& protocol = requireProtocol();
  if (n == 0) protocol.disableFuseBit0();
  if (n == 1) protocol.disableFuseBit1();
  if (n == 2) protocol.disableFuseBit2();
}

void IspManager::checkRange(std::uint32_t start, std::uint32_t end) {
  if (end < start) fail(kAddressOutOfRange);
  if (end >= requireDevice().memorySize()) fail(kAddressOutOfRange);
}

bool IspManager::loadedRange(std::uint32_t& low, std::uint32_t& high) {
  if (!bufferLoaded_ || bufferLow_ > bufferHigh_) return false;
  // Data loaded for a larger memory than the one selected now cannot be
  // programmed or compared there: answering success for it would claim work
  // that never reached the target.
  if (bufferHigh_ >= requireDevice().memorySize()) fail(kAddressOutOfRange);
  low = bufferLow_;
  high = bufferHigh_;
  return true;
}

void IspManager::runRangeTask(Task task, std::uint32_t start, std::uint32_t end) {
  if (demoMode_) return;
  Device& device = requireDevice();
  IspProtocol& protocol = requireProtocol();
  const std::uint32_t firstPage = start >> 16;
  const std::uint32_t lastPage = end >> 16;
  for (std::uint32_t page = firstPage; page <= lastPage; ++page) {
    protocol.selectMemoryPage(device.currentMemory(), static_cast<int>(page));
    const std::uint32_t from = page == firstPage ? (start & 0xFFFF) : 0;
    const std::uint32_t to = page == lastPage ? (end & 0xFFFF) : 0xFFFF;
    const int p = static_cast<int>(page);
    switch (task) {
      case Task::Read: protocol.readVerifyBlock(p, from, to, false); break;
      case Task::Verify: protocol.readVerifyBlock(p, from, to, true); break;
      case Task::Program: protocol.programBlock(p, from, to); break;
      case Task::BlankCheck: protocol.blankCheckBlock(p, from, to); break;
    }
  }
}

void IspManager::programAddrRange(std::uint32_t start, std::uint32_t end) {
  if (demoMode_) return;
  requireReady();
  checkRange(start, end);
  runRangeTask(Task::Program, start, end);
  platform::sleep_ms(100);
}

void IspManager::programDevice() {
  if (demoMode_) return;
  requireReady();
  std::uint32_t low = 0, high = 0;
  if (loadedRange(low, high)) runRangeTask(Task::Program, low, high);
  platform::sleep_ms(100);
}

bool IspManager::readAddrRange(std::uint32_t start, std::uint32_t end, const std::string& path) {
  if (demoMode_) return true;
  requireReady();
  checkRange(start, end);
  runRangeTask(Task::Read, start, end);
  return path.empty() || writeHexFile(start, end, path);
}

bool IspManager::readDevice(const std::string& path) {
  if (demoMode_) return true;
  requireReady();
  const std::uint32_t last = requireDevice().memorySize() - 1;
  runRangeTask(Task::Read, 0, last);
  return path.empty() || writeHexFile(0, last, path);
}

void IspManager::verifyAddrRange(std::uint32_t start, std::uint32_t end) {
  if (demoMode_) return;
  requireReady();
  checkRange(start, end);
  runRangeTask(Task::Verify, start, end);
}

void IspManager::verifyDevice() {
  if (demoMode_) return;
  requireReady();
  std::uint32_t low = 0, high = 0;
  if (loadedRange(low, high)) runRangeTask(Task::Verify, low, high);
}

void IspManager::blankCheckAddrRange(std::uint32_t start, std::uint32_t end) {
  if (demoMode_) return;
  requireReady();
  checkRange(start, end);
  runRangeTask(Task::BlankCheck, start, end);
}

void IspManager::blankCheckDevice() {
  if (demoMode_) return;
  requireReady();
  runRangeTask(Task::BlankCheck, 0, requireDevice().memorySize() - 1);
}

void IspManager::lineChange(bool (*call)(CommDriver&)) {
  if (demoMode_) return;
  if (!call(loadedDriver())) fail(kCannotExecute);
}

void IspManager::setDtrLow() {
  lineChange([](CommDriver& d) { return d.clearDtr(); });
}
void IspManager::setDtrHigh() {
  lineChange([](CommDriver& d) { return d.setDtr(); });
}
// RTS is wired inverted on the programming adapters: high clears the line.
void IspManager::setRtsLow() {
  lineChange([](CommDriver& d) { return d.setRts(); });
}
void IspManager::setRtsHigh() {
  lineChange([](CommDriver& d) { return d.clearRts(); });
}

// ---- Helpers for the protocols -------------------------------------------

void IspManager::updateTaskProgress(float delta) {
  if (demoMode_) return;
  if (delta == 0.0f) {
    progressSum_ = 0.0f;
    return;
  }
  progressSum_ += delta;
  percent_.store(static_cast<int>(progressSum_));
  platform::event_set(progressEvent_);
}

bool IspManager::checkBlockIndex(std::uint8_t n) {
  if (demoMode_) return true;
  const std::uint8_t count = requireDevice().blockCount();
  if (count == 0) return false;
  if (n > count - 1) {
    lastError_ = kNotImplemented;
    return false;
  }
  return true;
}

int IspManager::getDeviceIndex(const char* name) const {
  if (demoMode_) return 0;
  if (name == nullptr) return static_cast<int>(deviceNames().size());
  return findDeviceName(name);
}

void IspManager::setDemoMode(bool on) {
  demoMode_ = on;
  lastResult_ = "00";
}

}  // namespace ovisp
