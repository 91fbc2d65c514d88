#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {
int g_fd = -1;
}

bool acquire_instance_lock(const std::string& name) {
  if (g_fd >= 0) return true;
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/" + name + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  g_fd = fd;
  return true;
}

void release_instance_lock() {
  if (g_fd < 0) return;
  ::flock(g_fd, LOCK_UN);
  ::close(g_fd);
  g_fd = -1;
}

}  // namespace platform
