// Replays saved inputs through a fuzz target's entry function, so the normal
// test run proves every seed and every fixed finding still passes without a
// fuzzing compiler.  Arguments are folders (a missing one holds nothing);
// each regular file in them is one input, in name order.  A target that
// aborts or trips a sanitizer fails the run with the input's name printed
// first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(argv[i], ec))
      if (e.is_regular_file()) inputs.push_back(e.path().string());
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& path : inputs) {
    std::fprintf(stderr, "replay %s\n", path.c_str());
    const auto bytes = platform::read_file(path);
    if (!bytes) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    // A heap block of the input's exact size, as the fuzzer hands it over,
    // so that a read past its end shows (also for an empty input).
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes->size()]);
    std::copy(bytes->begin(), bytes->end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), bytes->size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
