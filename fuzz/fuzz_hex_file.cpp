// Any bytes as a HEX file read into the programming buffer.  A file that is
// refused leaves the buffer's loaded range as it was; one that loads has its
// range inside the device's memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/scratch_root.h"
#include "ovisp/isp.h"

namespace {

std::string last_result_of(void (*query)()) {
  query();
  return ispGetLastResult();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz_scratch_root("hex") + "/in.hex";
  static bool ready = false;
  if (!ready) {
    if (ispInit() != 1) abort();
    ready = true;
  }
  if (size < 1) return 0;
  // Devices with a 32 KB and a 128 KB memory: only the second takes
  // extended addresses past 64 KB.
  if (ispSelectDevice(data[0] & 1 ? 24 : 3) != 1) abort();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size > 1 && std::fwrite(data + 1, 1, size - 1, f) != size - 1) abort();
  std::fclose(f);

  const std::string lo = last_result_of(ispGetBufferAddrLo), hi = last_result_of(ispGetBufferAddrHi);
  if (ispParseHexFile(path.c_str()) != 1) {
    if (last_result_of(ispGetBufferAddrLo) != lo || last_result_of(ispGetBufferAddrHi) != hi) abort();
    return 0;
  }
  ispGetMemorySize();
  const unsigned long memory = std::strtoul(ispGetLastResult(), nullptr, 10);
  const unsigned long high = std::strtoul(last_result_of(ispGetBufferAddrHi).c_str(), nullptr, 16);
  if (high >= memory) abort();
  return 0;
}
