#include "boardflash/updater.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/failure_cause.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/serial.h"

namespace boardflash {
namespace {

constexpr const char* kLibraryPath = "c:\\programs\\ovisp.dll";
constexpr const char* kSupportLine = "Please Contact KORVANI Technical Support";
// A failed step whose library left no error code still fails the run.
constexpr int kFailedWithoutCode = 9;
constexpr int kUsbOpenTries = 10;
// The library's errors that leave an address as the last result.
constexpr int kVerifyFailedAt = 26;
constexpr int kBlankCheckFailedAt = 28;
// A HEX file whose records carry no data ends like an empty file: with the
// library's code for a file that is not a HEX file.
constexpr int kHexFileWithoutData = 23;

// Set while the worker is changing the board's flash: the program must not
// end then, whatever the user does.  Once the program has given up waiting
// (abandoned), the worker must not start.
std::mutex g_programmingMutex;
bool g_programming = false;
bool g_abandoned = false;

void logStep(UpdaterView& view, bool failed, const std::string& text) {
  view.appendLine(text + (failed ? "......FAIL" : "......PASS"));
}

std::string format(const char* pattern, unsigned value) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

class ProgrammingScope {
 public:
  ProgrammingScope() {
    std::lock_guard<std::mutex> lock(g_programmingMutex);
    started_ = !g_abandoned;
    g_programming = started_;
  }
  ~ProgrammingScope() {
    std::lock_guard<std::mutex> lock(g_programmingMutex);
    g_programming = false;
  }
  ProgrammingScope(const ProgrammingScope&) = delete;
  ProgrammingScope& operator=(const ProgrammingScope&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

unsigned hexValue(const std::string& text) {
  return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 16));
}

std::string lastResult(const IspLibrary& isp) {
  const char* text = isp.getLastResult();
  return text != nullptr ? text : "";
}

// Whether the last HEX file filled any byte: a file whose records carry no
// data leaves its lowest offset above its highest.
bool bufferHoldsData(const IspLibrary& isp) {
  isp.getBufferAddrLo();
  const unsigned low = hexValue(lastResult(isp));
  isp.getBufferAddrHi();
  return low <= hexValue(lastResult(isp));
}

}  // namespace

bool bind_isp_library(void* library, IspLibrary& isp) {
  bool complete = true;
  auto bind = [&](auto& entry, const char* name) {
    entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(platform::library_symbol(library, name));
    if (entry == nullptr) complete = false;
  };
  bind(isp.init, "ispInit");
  bind(isp.getLastError, "ispGetLastError");
  bind(isp.selectDevice, "ispSelectDevice");
  bind(isp.selectCommHardware, "ispSelectCommHardware");
  bind(isp.openRs232Port, "ispOpenRs232Port");
  bind(isp.openUsbPort, "ispOpenUsbPort");
  bind(isp.openCanPort, "ispOpenCanPort");
  bind(isp.syncTarget, "ispSyncTarget");
  bind(isp.selectCanNode, "ispSelectCanNode");
  bind(isp.readSpecialByte, "ispReadSpecialByte");
  bind(isp.writeSpecialByte, "ispWriteSpecialByte");
  bind(isp.getLastResult, "ispGetLastResult");
  bind(isp.eraseBlock, "ispEraseBlock");
  bind(isp.eraseDevice, "ispEraseDevice");
  bind(isp.blankCheckDevice, "ispBlankCheckDevice");
  bind(isp.cancel, "ispCancel");
  bind(isp.fillBuffer, "ispFillBuffer");
  bind(isp.parseHexFile, "ispParseHexFile");
  bind(isp.readSingleByteFromBuffer, "ispReadSingleByteFromBuffer");
  bind(isp.programDevice, "ispProgramDevice");
  bind(isp.verifyDevice, "ispVerifyDevice");
  bind(isp.readAddrRange, "ispReadAddrRange");
  bind(isp.selectMemory, "ispSelectMemory");
  bind(isp.enterAppliMode, "ispEnterAppliMode");
  bind(isp.enterIspMode, "ispEnterIspMode");
  bind(isp.getBufferAddrLo, "ispGetBufferAddrLo");
  bind(isp.getBufferAddrHi, "ispGetBufferAddrHi");
  return complete;
}

// Why a file cannot be read, in the system's words; empty when it can.
std::string unreadable_reason(const std::string& linux_path) {
  const int fd = ::open(linux_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return platform::error_text(errno);
  struct stat st {};
  const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  ::close(fd);
  return folder ? platform::error_text(EISDIR) : "";
}

int run_sequence(UpdaterView& view, const IspLibrary& isp, const std::string& hexPath) {
  // A failed step: its line, the library's error (ispCancel from the
  // bootloader version step on).
  auto fail = [&](const std::string& text, bool cancel) {
    logStep(view, true, text);
    int r = isp.getLastError();
    if (r == 0) r = kFailedWithoutCode;
    if (cancel) isp.cancel();
    return r;
  };
  auto step = [&](bool ok, const std::string& text) {
    if (ok) logStep(view, false, text);
    return ok;
  };
  auto result = [&]() { return lastResult(isp); };
  // A failed step whose error names an address: the address on a line of
  // its own, when the library could tell it.
  auto failAt = [&](const std::string& text, int addressError) {
    logStep(view, true, text);
    int r = isp.getLastError();
    const std::string address = result();
    if (r == addressError && !address.empty()) logStep(view, true, "at 0x" + address);
    if (r == 0) r = kFailedWithoutCode;
    isp.cancel();
    return r;
  };

  if (!step(isp.init() & 1, "Initializing")) return fail("Initializing", false);
  if (!step(isp.selectDevice(3) & 1, "Device selection")) return fail("Device selection", false);
  if (!step(isp.selectCommHardware(2) & 1, "Hardware selection")) return fail("Hardware selection", false);

  bool open = isp.openUsbPort() & 1;
  for (int tries = 1; !open; ++tries) {
    platform::sleep_ms(1000);
    wake_board();
    if (tries == kUsbOpenTries) break;
    open = isp.openUsbPort() & 1;
  }
  if (!step(open, "Opening USB port")) return fail("Opening USB port", false);

  if (!(isp.readSpecialByte(0) & 1)) return fail("Reading the bootloader version", true);
  {
    const std::string version = result() + "  ";
    logStep(view, false, std::string("Reading the bootloader version: 1.") + version[0] + "." + version[1]);
  }
  if (!(isp.readSpecialByte(4) & 1)) return fail("Reading the security byte", true);
  logStep(view, false, format("Reading the security byte: %2.2x", hexValue(result()) & 0xFF));

  // The file is read, and found to hold data, before the erase: a bad file
  // must never leave the board without its program.
  if (!step(isp.fillBuffer("00") & 1, "Filling buffer with 00")) return fail("Filling buffer with 00", true);
  if (!(isp.parseHexFile(hexPath.c_str()) & 1)) {
    const int r = fail("Parsing HEX file", true);
    if (const std::string why = unreadable_reason(platform::map_path(hexPath)); !why.empty())
      view.appendLine(hexPath + ": " + why);
    return r;
  }
  if (!bufferHoldsData(isp)) {
    logStep(view, true, "Parsing HEX file");
    isp.cancel();
    return kHexFileWithoutData;
  }
  logStep(view, false, "Parsing HEX file");

  const ProgrammingScope programming;
  if (!programming.started()) return kFailedWithoutCode;
  if (!step(isp.eraseDevice() & 1, "Erasing FLASH")) return fail("Erasing FLASH", true);
  if (!(isp.blankCheckDevice() & 1)) return failAt("Blank checking FLASH memory", kBlankCheckFailedAt);
  logStep(view, false, "Blank checking FLASH memory");
  if (!step(isp.programDevice() & 1, "Programming FLASH")) return fail("Programming FLASH", true);
  if (!(isp.verifyDevice() & 1)) return failAt("Verifying FLASH", kVerifyFailedAt);
  logStep(view, false, "Verifying FLASH");
  const std::string security = format("Writing the security byte: %2.2x", 0xFF);
  if (!(isp.writeSpecialByte(4, 0xFF) & 1)) return fail(security, true);
  result();
  logStep(view, false, security);
  if (!step(isp.enterAppliMode(0, 0) & 1, "Switching to appli mode")) return fail("Switching to appli mode", true);
  logStep(view, false, "DEVICE REPROGRAMMING COMPLETED SUCCESSFULLY");
  isp.cancel();
  return 0;
}

int reprogram_device(UpdaterView& view, const std::string& hexPath) {
  view.appendLine("Beginning ISP Programming Routine.....");
  // Loaded once and kept until the program ends, as its results are texts
  // the library owns.
  static void* library = nullptr;
  static IspLibrary isp{};
  if (library == nullptr) {
    void* loaded = platform::load_library(kLibraryPath);
    IspLibrary bound{};
    if (loaded != nullptr && !bind_isp_library(loaded, bound)) {
      platform::free_library(loaded);
      loaded = nullptr;
    }
    if (loaded == nullptr) {
      view.appendLine("ovisp.dll not found");
      return kLibraryMissing;
    }
    library = loaded;
    isp = bound;
  }
  return run_sequence(view, isp, hexPath);
}

int update_worker(UpdaterView& view, const std::string& fileName, const std::string& hexPath) {
  view.appendLine("Firmware File Name: " + fileName);
  platform::sleep_ms(1000);
  const int r = reprogram_device(view, hexPath);
  view.enableOk();
  if (r != 0) view.appendLine(kSupportLine);
  return r;
}

std::string library_path_for(const std::string& fileName) {
  const bool drivePath = fileName.size() >= 2 && std::isalpha(static_cast<unsigned char>(fileName[0])) &&
                         fileName[1] == ':';
  if (drivePath || fileName.empty() || fileName[0] == '/' || fileName[0] == '\\') return fileName;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return fileName;
  return std::string(cwd) + "/" + fileName;
}

void wake_board() {
  platform::SerialPort port;
  if (!platform::serial_open(port, "com2:")) return;
  if (platform::serial_set_timeouts(port, 500, 1000) && platform::serial_set_line(port, 9600)) {
    const std::uint8_t wake = 0x3D;
    // Unanswered, the wake byte shows as the bootloader not answering later.
    (void)platform::serial_write(port, &wake, 1);
    platform::serial_wait_sent(port);
  }
  platform::serial_close(port);
}

RunResult run_updater(UpdaterView& view, std::function<int()> work, int exitWaitMs) {
  auto done = std::make_shared<std::promise<int>>();
  std::future<int> result = done->get_future();
  std::thread worker([work = std::move(work), done] { done->set_value(work()); });
  view.runUntilClosed();
  // Ending the program while the flash is being written would leave the
  // board without a program: then the wait has no limit.
  bool finished = result.wait_for(std::chrono::milliseconds(exitWaitMs)) == std::future_status::ready;
  if (!finished) {
    std::unique_lock<std::mutex> lock(g_programmingMutex);
    if (!g_programming) {
      g_abandoned = true;
      worker.detach();
      return {false, 0};
    }
    lock.unlock();
    result.wait();
  }
  worker.join();
  return {true, result.get()};
}

}  // namespace boardflash
