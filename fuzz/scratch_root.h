// A drive root of its own for a fuzz target that reads through files:
// on tmpfs when there is one (the settings write-back flushes every time),
// installed as the platform root and removed when the run ends.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"

inline const std::string& fuzz_scratch_root(const char* name) {
  static std::string root;
  if (root.empty()) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string t = std::string(base) + "/vaslab-" + name + "-XXXXXX";
    if (!mkdtemp(t.data())) abort();
    root = t;
    platform::set_root(root);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(root, ec);
    });
  }
  return root;
}
