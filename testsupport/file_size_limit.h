// A full disk for the length of one call: every write that would take a file
// of this process past `bytes` fails with EFBIG (SIGXFSZ ignored meanwhile),
// as writes on a full disk fail with ENOSPC.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstddef>
#include <utility>

namespace testsupport {

template <typename Call>
auto with_file_size_limit(std::size_t bytes, Call&& call) {
  struct Restore {
    rlimit old{};
    void (*handler)(int) = SIG_DFL;
    Restore(std::size_t bytes) {
      ::getrlimit(RLIMIT_FSIZE, &old);
      handler = std::signal(SIGXFSZ, SIG_IGN);
      rlimit small = old;
      small.rlim_cur = bytes;
      ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~Restore() {
      ::setrlimit(RLIMIT_FSIZE, &old);
      std::signal(SIGXFSZ, handler);
    }
  } restore(bytes);
  return std::forward<Call>(call)();
}

}  // namespace testsupport
