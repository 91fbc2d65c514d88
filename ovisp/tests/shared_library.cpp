// The library as its host uses it: loaded by path with dlopen, every export
// bound by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "testsupport/temp_root.h"

namespace {

std::string libraryPath() {
  const char* build = std::getenv("VASLAB_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/bin/ovisp.so";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string withoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

const char* const kExports[] = {
    "ispInit", "ispCancel", "ispGetLastError", "ispGetLastResult", "ispGetErrorVecPtr", "ispSetDemoMode",
    "ispCancelDemoMode", "ispSetDebugMode", "ispCancelDebugMode", "ispGetTaskCompletionPercent",
    "ispResetTaskCompletionPercent", "ispGetTaskPeriodicEventHandle", "ispCheckUsbDriver", "ispGetDeviceIndex",
    "ispSelectDevice", "ispSelectCommHardware", "ispSelectMemory", "ispSelectCanNode", "ispUpdateCmdsIds",
    "ispOpenRs232Port", "ispOpenCanPort", "ispOpenUsbPort", "ispClosePort", "ispSetDtrLow", "ispSetDtrHigh",
    "ispSetRtsLow", "ispSetRtsHigh", "ispSetAutoIsp", "ispSyncTarget", "ispEnterIspMode", "ispEnterAppliMode",
    "ispEraseDevice", "ispEraseBlock", "ispEraseSbvBsb", "ispSetSecurityLev1", "ispSetSecurityLev2",
    "ispGetExpectedSsbValue", "ispReadSpecialByte", "ispWriteSpecialByte", "ispExecSpecialCmd",
    "ispReadSignatureBytes", "ispGetDefaultByteValue", "ispEnableFuseBit", "ispDisableFuseBit",
    "ispProgramAddrRange", "ispProgramDevice", "ispReadAddrRange", "ispReadDevice", "ispVerifyAddrRange",
    "ispVerifyDevice", "ispBlankCheckAddrRange", "ispBlankCheckDevice", "ispParseHexFile", "ispWriteHexFile",
    "ispFillBuffer", "ispFillBufferAddrRange", "ispResetBuffer", "ispRandomizeBuffer", "ispGetBufferAddrLo",
    "ispGetBufferAddrHi", "ispGetMemorySize", "ispComputeBufferChecksum", "ispComputeCrc",
    "ispWriteSingleByteToBuffer", "ispReadSingleByteFromBuffer", "ispSerialize",
};

TEST(SharedLibrary, LoadsByPathAndRoundTripsAnObjcopyHexFile) {
  void* lib = dlopen(libraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const char* name : kExports) EXPECT_NE(dlsym(lib, name), nullptr) << name;
  EXPECT_EQ(sizeof kExports / sizeof kExports[0], 66u);
  // Nothing but the exports leaks out of the library.
  EXPECT_EQ(dlsym(lib, "_ZN5ovisp7sessionEv"), nullptr);
  EXPECT_EQ(dlsym(lib, "_ZN8platform5clockEv"), nullptr);

  auto init = reinterpret_cast<unsigned char (*)()>(dlsym(lib, "ispInit"));
  auto selectDevice = reinterpret_cast<unsigned char (*)(int)>(dlsym(lib, "ispSelectDevice"));
  auto parse = reinterpret_cast<unsigned char (*)(const char*)>(dlsym(lib, "ispParseHexFile"));
  auto write = reinterpret_cast<unsigned char (*)(unsigned, unsigned, const char*)>(dlsym(lib, "ispWriteHexFile"));
  auto lastError = reinterpret_cast<int (*)()>(dlsym(lib, "ispGetLastError"));
  auto lastResult = reinterpret_cast<const char* (*)()>(dlsym(lib, "ispGetLastResult"));
  auto addrHi = reinterpret_cast<void (*)()>(dlsym(lib, "ispGetBufferAddrHi"));

  testsupport::TempRoot root;
  const std::string bin = root.path() + "/image.bin";
  const std::string hex = root.path() + "/image.hex";
  const std::string back = root.path() + "/back.hex";
  std::string image(20000, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  std::ofstream(bin, std::ios::binary) << image;
  ASSERT_EQ(std::system(("objcopy -I binary -O ihex " + bin + " " + hex).c_str()), 0);

  EXPECT_EQ(init(), 1);
  ASSERT_EQ(selectDevice(3), 1) << lastError();
  ASSERT_EQ(parse(hex.c_str()), 1) << lastError();
  addrHi();
  EXPECT_STREQ(lastResult(), "004E1F");
  ASSERT_EQ(write(0, 19999, back.c_str()), 1) << lastError();
  EXPECT_EQ(readFile(back), withoutCr(readFile(hex)));
  dlclose(lib);
}

}  // namespace
