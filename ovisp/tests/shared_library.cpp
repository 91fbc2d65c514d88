// The library as its host uses it: loaded by path with dlopen, every export
// bound by name.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "testsupport/diskette_image.h"
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

// In a process of its own (a library is loaded once per process, whatever
// the path), the library loaded by `path` from the folder `cwd`: what
// ispSelectCommHardware answers for each hardware code 1 to 11, as
// "code=answer/error" words.
std::string hardwareSelections(const std::string& cwd, const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string out;
    void* lib = chdir(cwd.c_str()) == 0 ? dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (lib == nullptr) {
      out = "not loaded";
    } else {
      auto init = reinterpret_cast<unsigned char (*)()>(dlsym(lib, "ispInit"));
      auto selectDevice = reinterpret_cast<unsigned char (*)(int)>(dlsym(lib, "ispSelectDevice"));
      auto selectHardware = reinterpret_cast<unsigned char (*)(int)>(dlsym(lib, "ispSelectCommHardware"));
      auto lastError = reinterpret_cast<int (*)()>(dlsym(lib, "ispGetLastError"));
      init();
      for (int code = 1; code <= 11; ++code) {
        // A CAN device for the CAN codes, the board's chip for the others.
        selectDevice(code >= 3 && code <= 8 ? 15 : 3);
        const int answer = selectHardware(code);
        out += std::to_string(code) + "=" + std::to_string(answer) + "/" + std::to_string(lastError()) + " ";
      }
    }
    if (write(fds[1], out.data(), out.size()) < 0) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

TEST(SharedLibrary, ARelativePathFindsTheLinkLibrariesBesideIt) {
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(libraryPath().c_str(), resolved), nullptr);
  const std::string absolute = resolved;
  const std::string bin = absolute.substr(0, absolute.rfind('/'));
  const std::string byAbsolutePath = hardwareSelections("/", absolute);
  // The simulated USB link lies beside the library.
  EXPECT_NE(byAbsolutePath.find("2=1/0 "), std::string::npos) << byAbsolutePath;
  EXPECT_EQ(hardwareSelections(bin, "./ovisp.so"), byAbsolutePath);
  EXPECT_EQ(hardwareSelections(bin + "/..", "bin/ovisp.so"), byAbsolutePath);
}

TEST(SharedLibrary, LoadedByARelativePathItOpensTheUsbLinkFromAnotherFolder) {
  // A host of its own folder loads ./ovisp.so, changes folder and opens the
  // USB link: neither the working folder nor the host's leads to the link
  // library, only the folder the library was loaded from.
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(libraryPath().c_str(), resolved), nullptr);
  const std::string absolute = resolved;
  const std::string bin = absolute.substr(0, absolute.rfind('/'));
  testsupport::TempRoot elsewhere;
  std::string output;
  const int status = testsupport::run_command(
      std::string("'") + OVISP_RELATIVE_HOST + "' '" + bin + "' '" + elsewhere.path() + "'", &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "select=1/0 open=1/0\n");
}

}  // namespace
