// A host as small as hosts come, in a folder of its own: it loads
// "./ovisp.so" from the folder named first, changes to the folder named
// second, and only then selects the USB link and opens it.  It prints what
// the two calls answered, as "select=<answer>/<error> open=<answer>/<error>".
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

namespace {

template <class F>
F bound(void* lib, const char* name) {
  return reinterpret_cast<F>(dlsym(lib, name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || chdir(argv[1]) != 0) return 2;
  void* lib = dlopen("./ovisp.so", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 3;
  }
  if (chdir(argv[2]) != 0) return 2;
  auto init = bound<unsigned char (*)()>(lib, "ispInit");
  auto selectDevice = bound<unsigned char (*)(int)>(lib, "ispSelectDevice");
  auto selectHardware = bound<unsigned char (*)(int)>(lib, "ispSelectCommHardware");
  auto openUsb = bound<unsigned char (*)()>(lib, "ispOpenUsbPort");
  auto lastError = bound<int (*)()>(lib, "ispGetLastError");
  auto cancel = bound<void (*)()>(lib, "ispCancel");
  init();
  selectDevice(3);
  const int selected = selectHardware(2);
  const int selectError = lastError();
  const int opened = openUsb();
  const int openError = lastError();
  std::printf("select=%d/%d open=%d/%d\n", selected, selectError, opened, openError);
  cancel();
  return 0;
}
