// ovisp.so as its host sees it: loaded by path from the build, the exports
// the end-to-end tests use bound by name.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace ovisp_test {

struct IspLibrary {
  using Flag = unsigned char;

  // The build's bin/ovisp.so, or the library at `path`.
  explicit IspLibrary(const std::string& path = "") {
    const char* build = std::getenv("VASLAB_BUILD_DIR");
    const std::string library =
        path.empty() ? std::string(build != nullptr ? build : VASLAB_BUILD_DIR) + "/bin/ovisp.so" : path;
    handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    bind(init, "ispInit");
    bind(cancel, "ispCancel");
    bind(lastError, "ispGetLastError");
    bind(lastResult, "ispGetLastResult");
    bind(selectDevice, "ispSelectDevice");
    bind(selectCommHardware, "ispSelectCommHardware");
    bind(selectMemory, "ispSelectMemory");
    bind(openRs232Port, "ispOpenRs232Port");
    bind(openCanPort, "ispOpenCanPort");
    bind(openUsbPort, "ispOpenUsbPort");
    bind(closePort, "ispClosePort");
    bind(selectCanNode, "ispSelectCanNode");
    bind(updateCmdsIds, "ispUpdateCmdsIds");
    bind(syncTarget, "ispSyncTarget");
    bind(readSpecialByte, "ispReadSpecialByte");
    bind(writeSpecialByte, "ispWriteSpecialByte");
    bind(eraseDevice, "ispEraseDevice");
    bind(setSecurityLev1, "ispSetSecurityLev1");
    bind(blankCheckDevice, "ispBlankCheckDevice");
    bind(blankCheckAddrRange, "ispBlankCheckAddrRange");
    bind(parseHexFile, "ispParseHexFile");
    bind(writeHexFile, "ispWriteHexFile");
    bind(programDevice, "ispProgramDevice");
    bind(programAddrRange, "ispProgramAddrRange");
    bind(verifyDevice, "ispVerifyDevice");
    bind(verifyAddrRange, "ispVerifyAddrRange");
    bind(readAddrRange, "ispReadAddrRange");
    bind(writeSingleByte, "ispWriteSingleByteToBuffer");
    bind(computeCrc, "ispComputeCrc");
    bind(enterAppliMode, "ispEnterAppliMode");
  }
  ~IspLibrary() {
    if (handle == nullptr) return;
    cancel();
    dlclose(handle);
  }
  IspLibrary(const IspLibrary&) = delete;
  IspLibrary& operator=(const IspLibrary&) = delete;

  void* handle = nullptr;
  Flag (*init)() = nullptr;
  void (*cancel)() = nullptr;
  int (*lastError)() = nullptr;
  const char* (*lastResult)() = nullptr;
  Flag (*selectDevice)(int) = nullptr;
  Flag (*selectCommHardware)(int) = nullptr;
  Flag (*selectMemory)(int) = nullptr;
  Flag (*openRs232Port)(const char*, int) = nullptr;
  Flag (*openCanPort)(std::uint32_t, Flag, std::uint16_t, Flag, Flag, std::uint32_t) = nullptr;
  Flag (*openUsbPort)() = nullptr;
  Flag (*closePort)() = nullptr;
  Flag (*selectCanNode)(int) = nullptr;
  Flag (*updateCmdsIds)(int) = nullptr;
  Flag (*syncTarget)() = nullptr;
  Flag (*readSpecialByte)(int) = nullptr;
  Flag (*writeSpecialByte)(int, Flag) = nullptr;
  Flag (*eraseDevice)() = nullptr;
  Flag (*setSecurityLev1)() = nullptr;
  Flag (*blankCheckDevice)() = nullptr;
  Flag (*blankCheckAddrRange)(unsigned, unsigned) = nullptr;
  Flag (*parseHexFile)(const char*) = nullptr;
  Flag (*writeHexFile)(unsigned, unsigned, const char*) = nullptr;
  Flag (*programDevice)() = nullptr;
  Flag (*programAddrRange)(unsigned, unsigned) = nullptr;
  Flag (*verifyDevice)() = nullptr;
  Flag (*verifyAddrRange)(unsigned, unsigned) = nullptr;
  Flag (*readAddrRange)(unsigned, unsigned, const char*) = nullptr;
  Flag (*writeSingleByte)(unsigned, const char*) = nullptr;
  Flag (*computeCrc)() = nullptr;
  Flag (*enterAppliMode)(Flag, int) = nullptr;

 private:
  template <class F>
  void bind(F& slot, const char* name) {
    slot = reinterpret_cast<F>(dlsym(handle, name));
  }
};

}  // namespace ovisp_test
