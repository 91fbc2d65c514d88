#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {

int write_file_atomic(const std::string& linux_path, const void* data, std::size_t size,
                      mode_t mode) {
  const std::string tmp = linux_path + ".tmp~";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return -errno;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  int err = 0;
  while (done < size) {
    ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) {
      err = EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && ::rename(tmp.c_str(), linux_path.c_str()) != 0) err = errno;
  if (err) {
    ::unlink(tmp.c_str());
    return -err;
  }
  return 0;
}

std::optional<std::vector<std::uint8_t>> read_file(const std::string& linux_path,
                                                   std::size_t max) {
  int fd = ::open(linux_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::vector<std::uint8_t> out;
  std::uint8_t buf[65536];
  while (out.size() < max) {
    std::size_t want = std::min(sizeof buf, max - out.size());
    ssize_t n = ::read(fd, buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return out;
}

int copy_file_atomic(const std::string& linux_from, const std::string& linux_to, mode_t mode) {
  const auto size = file_size(linux_from);
  if (!size) return -ENOENT;
  auto data = read_file(linux_from);
  if (!data) return -ENOENT;
  // A read error ends read_file() early; a copy shorter than the file is no copy.
  if (data->size() != *size) return -EIO;
  return write_file_atomic(linux_to, data->data(), data->size(), mode);
}

std::optional<std::uint64_t> file_size(const std::string& linux_path) {
  struct stat st;
  if (::stat(linux_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace platform
