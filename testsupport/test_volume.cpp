#include "testsupport/test_volume.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/paths.h"

namespace testsupport {
namespace {

// Once per process: mounts made from here on are seen by this process (and
// the programs it starts) only, and go with it.
std::string private_mounts() {
  static const std::string reason = [] {
    if (::unshare(CLONE_NEWNS) != 0) return std::string("no mount namespace: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("mounts cannot be made private: ") + std::strerror(errno);
    return std::string();
  }();
  return reason;
}

// Writes into the folder until its file system has no byte left.
std::string fill(const std::string& folder) {
  const std::string path = folder + "/FILLER";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::string("cannot fill the volume: ") + std::strerror(errno);
  const std::vector<char> block(4096, 'f');
  ssize_t n = 0;
  while ((n = ::write(fd, block.data(), block.size())) > 0) {
  }
  const int error = errno;
  ::close(fd);
  return n < 0 && error == ENOSPC ? std::string() : std::string("the volume does not fill: ") + std::strerror(error);
}

}  // namespace

TestVolume::TestVolume(const std::string& linux_folder, Kind kind) : folder_(linux_folder) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  platform::make_dirs(folder_);
  if (::geteuid() != 0) {
    if (kind == kFull) {
      skip_reason_ = "a full file system needs root to mount one";
    } else if (::chmod(folder_.c_str(), 0555) == 0) {
      chmodded_ = true;
    } else {
      skip_reason_ = std::string("cannot make the folder read-only: ") + std::strerror(errno);
    }
    return;
  }
  skip_reason_ = private_mounts();
  if (!skip_reason_.empty()) return;
  // Small enough to fill at once; a read-only one is simply empty.
  const unsigned long flags = MS_NOSUID | MS_NODEV | (kind == kReadOnly ? MS_RDONLY : 0);
  if (::mount("tmpfs", folder_.c_str(), "tmpfs", flags, "size=64k,mode=0755") != 0) {
    skip_reason_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
  if (kind == kFull) skip_reason_ = fill(folder_);
}

TestVolume::~TestVolume() {
  if (mounted_) (void)::umount2(folder_.c_str(), MNT_DETACH);
  if (chmodded_) (void)::chmod(folder_.c_str(), 0755);
}

}  // namespace testsupport
