#include "ovisp/comm_driver.h"

#include <dlfcn.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "ovisp/debug_log.h"
#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/library.h"

namespace ovisp {
namespace {

std::string g_folder;

// The folder of the module this code was linked into: the shared library
// when loaded by a host, the program itself when linked in statically.  A
// host may load the library by a relative path ("./ovisp.so"), which the
// loader reports as given: the folder is made absolute while the working
// folder is still the one it was given in, as the module is loaded.  It is
// the folder of the name loaded, even where that name is a link to a file
// elsewhere: the link libraries installed beside it are the ones meant.
std::string resolveOwnFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&linkLibraryFile), &info) == 0 || info.dli_fname == nullptr) return {};
  const std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  char* resolved = ::realpath(folder.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string absolute = resolved;
  std::free(resolved);
  return absolute;
}

// Empty when the module cannot be found: the program's folder is taken then.
const std::string g_ownFolder = resolveOwnFolder();

}  // namespace

const char* linkLibraryFile(int hardwareCode) {
  switch (hardwareCode) {
    case 1: return "ovrs232.dll";
    case 2:
    case 9:
    case 10:
    case 11: return "ovusbdfu.dll";
    case 3: return "OvCanRs232.dll";
    case 4: return "OvCanRM.dll";
    case 5: return "OvCanVector.dll";
    case 6: return "OvCanIxxat.dll";
    case 7: return "OvCanPeak.dll";
    case 8: return "OvCanSystec.dll";
    default: return nullptr;
  }
}

void setLinkLibraryFolder(std::string linuxDir) { g_folder = std::move(linuxDir); }

CommDriver::~CommDriver() { unload(); }

bool CommDriver::load(int hardwareCode) {
  unload();
  const char* file = linkLibraryFile(hardwareCode);
  if (file == nullptr) return false;
  const std::string folder =
      !g_folder.empty() ? g_folder : !g_ownFolder.empty() ? g_ownFolder : platform::library_folder();
  void* library = platform::load_library(folder + "/" + file);
  if (library == nullptr) return false;
  auto mode = [&](const char* name) {
    return reinterpret_cast<OvLinkModeEntry>(platform::library_symbol(library, name));
  };
  auto line = [&](const char* name) {
    return reinterpret_cast<OvLinkLineEntry>(platform::library_symbol(library, name));
  };
  open_ = mode("Open");
  write_ = mode("Write");
  read_ = mode("Read");
  close_ = mode("Close");
  updateRxFilter_ = mode("UpdateRxFilter");
  clearDtr_ = line("ClearDtr");
  setDtr_ = line("SetDtr");
  clearRts_ = line("ClearRts");
  setRts_ = line("SetRts");
  library_ = library;
  // A library without one of the entries would be called through null later.
  if (!open_ || !write_ || !read_ || !close_ || !updateRxFilter_ || !clearDtr_ || !setDtr_ || !clearRts_ ||
      !setRts_) {
    unload();
    return false;
  }
  return true;
}

void CommDriver::unload() {
  if (library_ != nullptr) platform::free_library(library_);
  library_ = nullptr;
  open_ = write_ = read_ = close_ = updateRxFilter_ = nullptr;
  clearDtr_ = setDtr_ = clearRts_ = setRts_ = nullptr;
}

bool CommDriver::loaded() const { return library_ != nullptr; }

bool CommDriver::openSerial(const std::string& port, int baud, std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  return open_ != nullptr && open_(OV_LINK_MODE_SERIAL, port.c_str(), baud, int{a}, int{b}, int{c}) == 0;
}

bool CommDriver::openCan(int hardwareCode, std::uint32_t a, std::uint8_t b, std::uint16_t c, std::uint8_t d,
                         std::uint8_t e, std::uint32_t f) {
  if (open_ == nullptr) return false;
  int mode = 0;
  if (hardwareCode == 5) mode = 2;
  if (hardwareCode == 6) mode = 1;
  if (hardwareCode == 7) mode = 10;
  return open_(mode, static_cast<unsigned>(a), int{b}, int{c}, int{d}, int{e}, static_cast<unsigned>(f)) == 0;
}

bool CommDriver::openUsb(std::uint32_t productId) {
  return open_ != nullptr && open_(OV_LINK_MODE_USB, static_cast<unsigned>(productId)) == 0;
}

bool CommDriver::close() {
  if (close_ != nullptr) close_(0);
  return true;
}

bool CommDriver::updateRxFilter(std::uint8_t cris) {
  return updateRxFilter_ != nullptr && updateRxFilter_(0, int{cris}) == 0;
}

bool CommDriver::clearDtr() { return clearDtr_ != nullptr && clearDtr_() == 0; }
bool CommDriver::setDtr() { return setDtr_ != nullptr && setDtr_() == 0; }
bool CommDriver::clearRts() { return clearRts_ != nullptr && clearRts_() == 0; }
bool CommDriver::setRts() { return setRts_ != nullptr && setRts_() == 0; }

bool CommDriver::writeText(const std::string& frame) {
  traceTextSent(frame);
  return write_ != nullptr && write_(OV_LINK_MODE_SERIAL, frame.c_str()) == 0;
}

bool CommDriver::readText(std::string& text, int count, std::int8_t endChar, std::uint16_t timeoutMs) {
  text.clear();
  if (read_ == nullptr) return false;
  std::array<char, OV_LINK_TEXT_CAPACITY> buffer{};
  const int result = read_(OV_LINK_MODE_SERIAL, buffer.data(), count, int{endChar}, int{timeoutMs});
  // The capacity is the link's promise; the end is enforced here as well.
  buffer.back() = '\0';
  // A failed read still says why: "" (nothing came) or "error".
  text = buffer.data();
  if (result != 0) return false;
  traceTextReceived(text);
  return true;
}

bool CommDriver::readCan(std::uint32_t& id, std::uint8_t& length, std::uint8_t data[8], int timeoutMs) {
  OvLinkCanMessage message{};
  if (read_ == nullptr || read_(OV_LINK_MODE_CAN_READ, &message, timeoutMs) != 0) {
    setLastError(kTimeout);
    return false;
  }
  if (message.length > sizeof message.data) {
    setLastError(kCanLength);
    raise(kCanLength);
  }
  id = message.id;
  length = message.length;
  std::memcpy(data, message.data, message.length);
  traceCanReceived(id, length, data);
  return true;
}

bool CommDriver::writeUsb(const std::string& setup, const std::string& payload, int timeoutMs) {
  traceUsbSent(setup, payload);
  return write_ != nullptr && write_(OV_LINK_MODE_USB, setup.c_str(), payload.c_str(), timeoutMs) == 0;
}

int CommDriver::readUsb(std::uint8_t* buffer, int length, const std::string& setup, int timeoutMs) {
  if (read_ == nullptr) return -1;
  int count = read_(OV_LINK_MODE_USB, buffer, length, setup.c_str(), timeoutMs);
  // A link answering more than was asked for is held to the buffer.
  if (count > length) count = length;
  traceUsbReply(setup, buffer, count);
  return count;
}

}  // namespace ovisp
