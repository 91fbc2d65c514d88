// The exported functions: each writes its debug banner, calls the manager
// and turns any failure into a 0 answer with the code kept as last error.
#include <cassert>
#include <cstdio>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "ovisp/debug_log.h"
#include "ovisp/isp.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/clock.h"

using namespace ovisp;

namespace {

IspManager* manager() { return session().manager(); }

// "\n***** name args *****\n"; the address-range exports close with a tab.
class Banner {
 public:
  explicit Banner(const char* name) { text_ << "\n***** " << name; }
  template <class T>
  Banner& arg(const T& value) {
    text_ << ' ' << value;
    return *this;
  }
  // Hexadecimal stays on for the rest of the line once switched on.
  template <class T>
  Banner& hex(const T& value) {
    text_ << ' ' << std::hex << value;
    return *this;
  }
  void write(bool tabClose = false) {
    IspManager* m = manager();
    if (m == nullptr || !m->debugMode()) return;
    text_ << (tabClose ? "\t*****" : " *****") << '\n';
    writeLog(text_.str());
  }

 private:
  std::ostringstream text_;
};

void banner(const char* name) { Banner(name).write(); }

// Runs a manager operation; 1 when it returns (and, for operations that
// answer a flag, answers true), 0 on any failure with the code stored.
template <class Op>
unsigned char guarded(Op op) {
  IspManager* m = manager();
  if (m == nullptr) return 0;
  assert(m->check_invariants());
  try {
    if constexpr (std::is_same_v<decltype(op(*m)), bool>) {
      if (!op(*m)) {
        if (m->lastError() == kPass) m->setLastError(kCannotExecute);
        return 0;
      }
    } else {
      op(*m);
    }
    return 1;
  } catch (const IspError& e) {
    m->setLastError(e.code);
  } catch (const std::bad_alloc&) {
    m->setLastError(kAllocationError);
  } catch (...) {
    m->setLastError(kCannotExecute);
  }
  return 0;
}

const std::string kEmpty;

}  // namespace

// ---- Library state --------------------------------------------------------

unsigned char ispInit(void) {
  session().init();
  return 1;
}

void ispCancel(void) {
  banner("ispCancel");
  IspManager* m = manager();
  if (m != nullptr && m->debugMode()) closeDebugLogFile();
  session().unloadCommDriver();
  if (m != nullptr) m->forgetHardware();
}

int ispGetLastError(void) {
  banner("ispGetLastError");
  IspManager* m = manager();
  return m != nullptr ? m->lastError() : kCannotExecute;
}

const char* ispGetLastResult(void) {
  IspManager* m = manager();
  return m != nullptr ? m->lastResult().c_str() : kEmpty.c_str();
}

const char* const* ispGetErrorVecPtr(void) {
  // The texts never change, so one table serves every session.
  static const std::vector<std::string> texts = errorMessageTable();
  static const std::vector<const char*> table = [] {
    std::vector<const char*> pointers;
    for (const std::string& text : texts) pointers.push_back(text.c_str());
    pointers.push_back(nullptr);
    return pointers;
  }();
  return table.data();
}

void ispSetDemoMode(void) {
  if (IspManager* m = manager()) m->setDemoMode(true);
}

void ispCancelDemoMode(void) {
  if (IspManager* m = manager()) m->setDemoMode(false);
}

void ispSetDebugMode(void* console, const char* logPath) {
  IspManager* m = manager();
  if (m == nullptr) return;
  m->setDebugMode(startDebugLog(console, logPath != nullptr ? logPath : ""));
}

void ispCancelDebugMode(void) {
  IspManager* m = manager();
  if (m == nullptr || !m->debugMode()) return;
  std::fputs("Debug Mode OFF\n", stdout);
  std::fflush(stdout);
  closeDebugLogFile();
  m->setDebugMode(false);
}

int ispGetTaskCompletionPercent(void) {
  IspManager* m = manager();
  return m != nullptr ? m->percent() : 0;
}

void ispResetTaskCompletionPercent(void) {
  if (IspManager* m = manager()) m->resetPercent();
}

void* ispGetTaskPeriodicEventHandle(void) {
  IspManager* m = manager();
  return m != nullptr ? m->progressEvent() : nullptr;
}

void ispCheckUsbDriver(unsigned char check) {
  if (IspManager* m = manager()) m->setCheckUsbDriver(check != 0);
}

int ispGetDeviceIndex(const char* deviceName) {
  IspManager* m = manager();
  if (m == nullptr) return findDeviceName(deviceName != nullptr ? deviceName : "");
  return m->getDeviceIndex(deviceName);
}

// ---- Selection ------------------------------------------------------------

unsigned char ispSelectDevice(int device) {
  banner("ispSelectDevice");
  return guarded([&](IspManager& m) { m.selectDevice(device); });
}

unsigned char ispSelectCommHardware(int hardware) {
  banner("ispSelectCommHardware");
  return guarded([&](IspManager& m) { m.selectCommHardware(hardware); });
}

unsigned char ispSelectMemory(int memory) {
  Banner("ispSelectMemory").arg(memory).write();
  return guarded([&](IspManager& m) { m.selectMemory(memory); });
}

unsigned char ispSelectCanNode(int node) {
  const unsigned byte = static_cast<unsigned>(node) & 0xFF;
  Banner("ispSelectCanNode").hex(byte).write();
  return guarded([&](IspManager& m) { m.selectCanNode(static_cast<std::uint8_t>(byte)); });
}

unsigned char ispUpdateCmdsIds(int cris) {
  const unsigned byte = static_cast<unsigned>(cris) & 0xFF;
  Banner("ispUpdateCmdsIds").arg(byte).write();
  return guarded([&](IspManager& m) {
    m.updateCmdsIds(static_cast<std::uint8_t>(byte));
    // The receive filter follows the new identifiers; the link's answer is
    // not part of the result.
    CommDriver* driver = session().commDriver();
    if (!m.demoMode() && driver != nullptr && driver->loaded())
      (void)driver->updateRxFilter(static_cast<std::uint8_t>(byte));
  });
}

// ---- Port and control lines -----------------------------------------------

unsigned char ispOpenRs232Port(const char* port, int baud) {
  const std::string name = port != nullptr ? port : "";
  Banner("ispOpenRs232Port").arg(name).arg(baud).write();
  return guarded([&](IspManager& m) { m.openRs232Port(name, baud, 0, 8, 2); });
}

unsigned char ispOpenCanPort(uint32_t a, unsigned char b, uint16_t c, unsigned char d, unsigned char e, uint32_t f) {
  Banner("ispOpenCanPort")
      .arg(a)
      .arg(static_cast<unsigned>(b))
      .arg(c)
      .arg(static_cast<unsigned>(d))
      .arg(static_cast<unsigned>(e))
      .arg(f)
      .write();
  return guarded([&](IspManager& m) { m.openCanPort(a, b, c, d, e, f); });
}

unsigned char ispOpenUsbPort(void) {
  banner("ispOpenUsbPort");
  return guarded([](IspManager& m) {
    Device* device = session().device();
    m.openUsbPort(device != nullptr ? device->usbProductId() : 0);
  });
}

unsigned char ispClosePort(void) {
  banner("ispClosePort");
  return guarded([](IspManager& m) { m.closePort(); });
}

unsigned char ispSetDtrLow(void) {
  banner("ispSetDtrLow");
  return guarded([](IspManager& m) { m.setDtrLow(); });
}

unsigned char ispSetDtrHigh(void) {
  banner("ispSetDtrHigh");
  return guarded([](IspManager& m) { m.setDtrHigh(); });
}

unsigned char ispSetRtsLow(void) {
  banner("ispSetRtsLow");
  return guarded([](IspManager& m) { m.setRtsLow(); });
}

unsigned char ispSetRtsHigh(void) {
  banner("ispSetRtsHigh");
  return guarded([](IspManager& m) { m.setRtsHigh(); });
}

unsigned char ispSetAutoIsp(unsigned char dtrFirst, unsigned char rtsFirst) {
  banner("ispSetAutoIsp");
  rtsFirst ? ispSetRtsLow() : ispSetRtsHigh();
  dtrFirst ? ispSetDtrHigh() : ispSetDtrLow();
  platform::sleep_ms(30);
  dtrFirst ? ispSetDtrLow() : ispSetDtrHigh();
  platform::sleep_ms(100);
  rtsFirst ? ispSetRtsHigh() : ispSetRtsLow();
  return 1;
}

// ---- Device operations ----------------------------------------------------

unsigned char ispSyncTarget(void) {
  banner("ispSyncTarget");
  return guarded([](IspManager& m) { m.syncTarget(); });
}

unsigned char ispEnterIspMode(unsigned char a, int b) {
  banner("ispEnterIspMode");
  return guarded([&](IspManager& m) { m.enterIspMode(a, b); });
}

unsigned char ispEnterAppliMode(unsigned char reset, int value) {
  banner("ispEnterAppliMode");
  return guarded([&](IspManager& m) { m.enterAppliMode(reset, value); });
}

unsigned char ispEraseDevice(void) {
  banner("ispEraseDevice");
  return guarded([](IspManager& m) { m.eraseDevice(); });
}

unsigned char ispEraseBlock(int block) {
  Banner("ispEraseBlock").arg(block).write();
  return guarded([&](IspManager& m) { m.eraseBlock(block); });
}

unsigned char ispEraseSbvBsb(void) {
  banner("ispEraseSbvBsb");
  return guarded([](IspManager& m) { m.eraseSbvBsb(); });
}

unsigned char ispSetSecurityLev1(void) {
  banner("ispSetSecurityLev1");
  return guarded([](IspManager& m) { m.setSecurityLev1(); });
}

unsigned char ispSetSecurityLev2(void) {
  banner("ispSetSecurityLev2");
  return guarded([](IspManager& m) { m.setSecurityLev2(); });
}

unsigned char ispGetExpectedSsbValue(int level) {
  return guarded([&](IspManager& m) { m.getExpectedSsbValue(level); });
}

namespace {

// A failed special-byte access leaves the memory that was current before it.
unsigned char specialByteAccess(const std::function<void(IspManager&)>& op) {
  Device* device = session().device();
  const int before = device != nullptr ? device->currentMemory() : -1;
  if (guarded(op)) return 1;
  IspManager* m = manager();
  if (m != nullptr && before >= 0 && session().device() == device) {
    const int code = m->lastError();
    ispSelectMemory(before);
    m->setLastError(code);
  }
  return 0;
}

}  // namespace

unsigned char ispReadSpecialByte(int code) {
  Banner("ispReadSpecialByte").arg(specialByteName(code)).write();
  return specialByteAccess([&](IspManager& m) { m.readSpecialByte(code); });
}

unsigned char ispWriteSpecialByte(int code, unsigned char value) {
  Banner("ispWriteSpecialByte").arg(specialByteName(code)).hex(static_cast<unsigned>(value)).write();
  return specialByteAccess([&](IspManager& m) { m.writeSpecialByte(code, hexText(value, 2)); });
}

unsigned char ispExecSpecialCmd(int command) {
  Banner("ispExecSpecialCmd").arg(command).write();
  return guarded([&](IspManager& m) { m.execSpecialCmd(command); });
}

unsigned char ispReadSignatureBytes(void) {
  banner("ispReadSignatureBytes");
  return guarded([](IspManager& m) { m.readSignatureBytes(); });
}

unsigned char ispGetDefaultByteValue(int code) {
  Banner("ispGetDefaultByteValue").arg(code).write();
  return guarded([&](IspManager& m) { m.getDefaultByteValue(code); });
}

unsigned char ispEnableFuseBit(int fuse) {
  banner("ispEnableFuseBit");
  return guarded([&](IspManager& m) { m.enableFuseBit(fuse); });
}

unsigned char ispDisableFuseBit(int fuse) {
  banner("ispDisableFuseBit");
  return guarded([&](IspManager& m) { m.disableFuseBit(fuse); });
}

unsigned char ispProgramAddrRange(unsigned int start, unsigned int end) {
  Banner("ispProgramAddrRange").hex(start).hex(end).write(true);
  return guarded([&](IspManager& m) { m.programAddrRange(start, end); });
}

unsigned char ispProgramDevice(void) {
  banner("ispProgramDevice");
  return guarded([](IspManager& m) { m.programDevice(); });
}

unsigned char ispReadAddrRange(unsigned int start, unsigned int end, const char* hexPath) {
  Banner("ispReadAddrRange").hex(start).hex(end).write(true);
  const std::string path = hexPath != nullptr ? hexPath : "";
  return guarded([&](IspManager& m) { return m.readAddrRange(start, end, path); });
}

unsigned char ispReadDevice(const char* hexPath) {
  banner("ispReadDevice");
  const std::string path = hexPath != nullptr ? hexPath : "";
  return guarded([&](IspManager& m) { return m.readDevice(path); });
}

unsigned char ispVerifyAddrRange(unsigned int start, unsigned int end) {
  Banner("ispVerifyAddrRange").hex(start).hex(end).write(true);
  return guarded([&](IspManager& m) { m.verifyAddrRange(start, end); });
}

unsigned char ispVerifyDevice(void) {
  banner("ispVerifyDevice");
  return guarded([](IspManager& m) { m.verifyDevice(); });
}

unsigned char ispBlankCheckAddrRange(unsigned int start, unsigned int end) {
  Banner("ispBlankCheckAddrRange").hex(start).hex(end).write(true);
  return guarded([&](IspManager& m) { m.blankCheckAddrRange(start, end); });
}

unsigned char ispBlankCheckDevice(void) {
  banner("ispBlankCheckDevice");
  return guarded([](IspManager& m) { m.blankCheckDevice(); });
}

// ---- Buffer and HEX files -------------------------------------------------

unsigned char ispParseHexFile(const char* hexPath) {
  const std::string path = hexPath != nullptr ? hexPath : "";
  Banner("ispParseHexFile").arg(path).write();
  return guarded([&](IspManager& m) { m.parseHexFile(path); });
}

unsigned char ispWriteHexFile(unsigned int start, unsigned int end, const char* hexPath) {
  Banner("ispWriteHexFile").hex(start).hex(end).write(true);
  const std::string path = hexPath != nullptr ? hexPath : "";
  return guarded([&](IspManager& m) { return m.writeHexFile(start, end, path); });
}

unsigned char ispFillBuffer(const char* byteText) {
  return guarded([&](IspManager& m) { m.fillBuffer(byteText); });
}

unsigned char ispFillBufferAddrRange(unsigned int start, unsigned int end, const char* byteText) {
  return guarded([&](IspManager& m) { m.fillBufferAddrRange(start, end, byteText); });
}

void ispResetBuffer(void) {
  guarded([](IspManager& m) { m.resetBuffer(); });
}

void ispRandomizeBuffer(void) {
  guarded([](IspManager& m) { m.randomizeBuffer(); });
}

void ispGetBufferAddrLo(void) {
  guarded([](IspManager& m) { m.getBufferAddrLo(); });
}

void ispGetBufferAddrHi(void) {
  guarded([](IspManager& m) { m.getBufferAddrHi(); });
}

void ispGetMemorySize(void) {
  guarded([](IspManager& m) { m.getMemorySize(); });
}

unsigned char ispComputeBufferChecksum(unsigned int start, unsigned int end) {
  return guarded([&](IspManager& m) { m.computeBufferChecksum(start, end); });
}

unsigned char ispComputeCrc(void) {
  banner("ispComputeCrc");
  return guarded([](IspManager& m) { m.computeCrc(); });
}

unsigned char ispWriteSingleByteToBuffer(unsigned int offset, const char* byteText) {
  return guarded([&](IspManager& m) { m.writeSingleByte(offset, byteText); });
}

void ispReadSingleByteFromBuffer(unsigned int offset) {
  guarded([&](IspManager& m) { m.readSingleByte(offset); });
}

unsigned char ispSerialize(int memory, unsigned int start, int64_t value, unsigned char base, const char* form) {
  banner("ispSerialize");
  const std::string text = form != nullptr ? form : "";
  return guarded([&](IspManager& m) { m.serialize(memory, start, value, base, text); });
}
