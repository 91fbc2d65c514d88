// Replays saved inputs through a fuzz target's entry function, so the normal
// test run proves every seed and every fixed finding still passes without a
// fuzzing compiler.  The first argument names the target; the others are
// folders (a missing one holds nothing), each regular file in them one input,
// in name order.  A target that aborts or trips a sanitizer fails the run
// with the input's name printed first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

// Each target's entry function, renamed <target>_one_input by the build.
#define FUZZ_TARGET(name) extern "C" int name##_one_input(const std::uint8_t*, std::size_t);
#include "fuzz_targets.inc"
#undef FUZZ_TARGET

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

struct Target {
  const char* name;
  Entry entry;
};

constexpr Target kTargets[] = {
#define FUZZ_TARGET(name) {#name, name##_one_input},
#include "fuzz_targets.inc"
#undef FUZZ_TARGET
};

Entry find_target(const char* name) {
  for (const auto& t : kTargets)
    if (std::strcmp(t.name, name) == 0) return t.entry;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const Entry entry = argc > 1 ? find_target(argv[1]) : nullptr;
  if (!entry) {
    std::fprintf(stderr, "usage: fuzz_replay <target> <folder>...; the targets are:\n");
    for (const auto& t : kTargets) std::fprintf(stderr, "  %s\n", t.name);
    return 2;
  }
  std::vector<std::string> inputs;
  for (int i = 2; i < argc; ++i) {
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
    entry(copy.get(), bytes->size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
