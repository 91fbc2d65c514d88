#include "platform/file_io.h"

#include <fcntl.h>
#include <stdio.h>
#include <ftw.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// Every temporary name ends so; the start-up sweep looks for nothing else.
constexpr char kTempEnding[] = ".tmp~";
constexpr char kTempStart[] = "~";
constexpr int kTempNameTries = 100;

std::uint32_t system_random() {
  std::uint32_t v = 0;
  if (::getrandom(&v, sizeof v, 0) != static_cast<ssize_t>(sizeof v)) {
    // No entropy to be had: the pid and a counter still differ per try, and
    // the exclusive open keeps a guessed name harmless.
    static std::uint32_t counter = 0;
    v = static_cast<std::uint32_t>(::getpid()) * 2654435761u + ++counter;
  }
  return v;
}

std::uint32_t (*g_name_source)() = system_random;

// The folder fault: the resolved folder with its trailing '/', empty when
// unarmed, and the error its writes meet.
std::string g_fault_folder;
int g_fault_folder_error = 0;

// A path with its longest existing leading part resolved, as the kernel
// would find it; the part that does not exist yet is kept as written.
std::string resolved(std::string head) {
  std::string tail;
  while (!head.empty()) {
    if (char* r = ::realpath(head.c_str(), nullptr)) {
      std::string out = r;
      std::free(r);
      return out + tail;
    }
    const auto slash = head.find_last_of('/');
    if (slash == std::string::npos) break;
    tail = head.substr(slash) + tail;
    head.erase(slash);
  }
  return tail;
}

bool under_fault_folder(const std::string& resolved_path) {
  return (resolved_path + "/").compare(0, g_fault_folder.size(), g_fault_folder) == 0;
}

// The error a change of `linux_path` meets in the faulted folder, 0 where
// it goes through.  A full file system still makes names (`names_only`).
int folder_fault(const std::string& linux_path, bool names_only) {
  if (g_fault_folder.empty() || (names_only && g_fault_folder_error != EROFS)) return 0;
  return under_fault_folder(resolved(linux_path)) ? g_fault_folder_error : 0;
}

// The same for the bytes written to an open file.
int folder_fault(int fd) {
  if (g_fault_folder.empty()) return 0;
  char link[40], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  return under_fault_folder(std::string(target, static_cast<std::size_t>(n))) ? g_fault_folder_error : 0;
}

// Creates a fresh temporary file beside `linux_path`; its name goes to `tmp`.
// The name starts with "~": in a folder of numbered files ("0", "9") a
// temporary left by a kill must not begin with a digit, or a scan or count
// of that folder would take it for one of its files.
int create_temporary(const std::string& linux_path, mode_t mode, std::string& tmp) {
  if (const int e = folder_fault(linux_path, true)) return -e;
  const std::size_t base = linux_path.rfind('/') + 1;  // npos + 1 is 0
  for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(g_name_source()));
    tmp = linux_path.substr(0, base) + kTempStart + linux_path.substr(base) + suffix + kTempEnding;
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd < 0 ? -errno : fd;
  }
  return -EEXIST;
}

int g_removed = 0;

// The fault hook: g_fault_at is 0 when unarmed, else the step that fails.
int g_fault_at = 0;
int g_fault_error = 0;
int g_fault_steps = 0;

// Counts one step; an errno to fail it with, 0 to carry on.  Ends the
// process when that is what was armed.
int fault_step(int fd, const void* data, std::size_t size) {
  if (++g_fault_steps != g_fault_at) return 0;
  if (g_fault_error) return g_fault_error;
  if (fd >= 0 && size > 1) {
    // Torn: the first half reached the file, the rest never did.
    [[maybe_unused]] const ssize_t n = ::write(fd, data, size / 2);
  }
  ::_exit(kFaultExitCode);
}

bool g_sweep_below = true;

int remove_if_temporary(const char* path, const struct stat* st, int type, struct FTW* ftw) {
  if (!g_sweep_below && type == FTW_D && ftw->level > 0) return FTW_SKIP_SUBTREE;
  if ((type == FTW_F || type == FTW_SL) && is_temporary_name(path + ftw->base) &&
      (S_ISREG(st->st_mode) || S_ISLNK(st->st_mode)) && ::unlink(path) == 0)
    ++g_removed;
  return 0;
}

}  // namespace

bool is_temporary_name(std::string_view name) {
  const std::string_view e = kTempEnding;
  if (name.size() >= e.size() && name.substr(name.size() - e.size()) == e) return true;
  return name.size() == 11 && name[0] == '~' && name[8] == '.' && name[10] == '~' &&
         name.substr(1, 7).find_first_of(".~") == std::string_view::npos && name[9] != '.' && name[9] != '~';
}

void set_temporary_name_source(std::uint32_t (*source)()) { g_name_source = source ? source : system_random; }

void arm_write_fault(int nth, int error) {
  g_fault_steps = 0;
  g_fault_error = error;
  g_fault_at = nth;
}

void disarm_write_fault() { g_fault_at = 0; }

int write_fault_steps() { return g_fault_steps; }

int write_fault_step() { return g_fault_at ? fault_step(-1, nullptr, 0) : 0; }

void arm_folder_fault(const std::string& linux_folder, int error) {
  g_fault_folder = linux_folder.empty() ? std::string() : resolved(linux_folder) + "/";
  g_fault_folder_error = error;
}

int check_writable(const std::string& linux_path) {
  if (const int e = folder_fault(linux_path, true)) return -e;
  if (::access(linux_path.c_str(), W_OK) == 0) return 0;
  if (errno != ENOENT) return -errno;
  const std::string parent = linux_path.substr(0, linux_path.rfind('/') + 1);
  return ::access(parent.empty() ? "." : parent.c_str(), W_OK) == 0 ? 0 : -errno;
}

int write_all(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  if (!g_fault_folder.empty() && size > 0) [[unlikely]]
    if (const int e = folder_fault(fd)) return -e;
  while (done < size) {
    if (g_fault_at) [[unlikely]]
      if (const int e = fault_step(fd, p + done, size - done)) return -e;
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (n == 0) return -EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

int sync_file(int fd) {
  if (g_fault_at) [[unlikely]]
    if (const int e = fault_step(-1, nullptr, 0)) return -e;
  return ::fsync(fd) == 0 ? 0 : -errno;
}

int rename_file(const std::string& linux_from, const std::string& linux_to) {
  if (g_fault_at) [[unlikely]]
    if (const int e = fault_step(-1, nullptr, 0)) return -e;
  if (const int e = folder_fault(linux_to, true)) return -e;
  return ::rename(linux_from.c_str(), linux_to.c_str()) == 0 ? 0 : -errno;
}

int rename_file_no_replace(const std::string& linux_from, const std::string& linux_to) {
  if (g_fault_at) [[unlikely]]
    if (const int e = fault_step(-1, nullptr, 0)) return -e;
  if (const int e = folder_fault(linux_to, true)) return -e;
  if (::renameat2(AT_FDCWD, linux_from.c_str(), AT_FDCWD, linux_to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -errno;
  // File systems without the flag: a hard link fails on an existing name too.
  if (::link(linux_from.c_str(), linux_to.c_str()) != 0) return -errno;
  ::unlink(linux_from.c_str());
  return 0;
}

int stage_file(const std::string& linux_path, const void* data, std::size_t size, mode_t mode,
               std::string& staged) {
  const int fd = create_temporary(linux_path, mode, staged);
  if (fd < 0) return fd;
  int err = write_all(fd, data, size);
  if (!err) err = sync_file(fd);
  if (::close(fd) != 0 && !err) err = -errno;
  if (err) ::unlink(staged.c_str());
  return err;
}

int write_file_atomic(const std::string& linux_path, const void* data, std::size_t size,
                      mode_t mode) {
  std::string tmp;
  int err = stage_file(linux_path, data, size, mode, tmp);
  if (err) return err;
  err = rename_file(tmp, linux_path);
  if (err) ::unlink(tmp.c_str());
  return err;
}

int open_regular_file(const std::string& linux_path) {
  // Non-blocking, so that opening a FIFO without a writer returns at once.
  const int fd = ::open(linux_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -errno;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -EINVAL;
  }
  return fd;
}

std::optional<std::vector<std::uint8_t>> read_file(const std::string& linux_path,
                                                   std::size_t max) {
  const int fd = open_regular_file(linux_path);
  if (fd < 0) return std::nullopt;
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

std::size_t read_at(int fd, std::uint64_t offset, void* out, std::size_t length) {
  auto* p = static_cast<std::uint8_t*>(out);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, p + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool read_file_at(const std::string& linux_path, std::uint64_t offset, void* out, std::size_t length) {
  const int fd = open_regular_file(linux_path);
  if (fd < 0) return false;
  const std::size_t done = read_at(fd, offset, out, length);
  ::close(fd);
  return done == length;
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

std::optional<timespec> file_access_time(const std::string& linux_path) {
  struct stat st;
  if (::stat(linux_path.c_str(), &st) != 0) return std::nullopt;
  return st.st_atim;
}

int set_file_times(const std::string& linux_path, const timespec& access, const timespec& modify) {
  const timespec times[2] = {access, modify};
  return ::utimensat(AT_FDCWD, linux_path.c_str(), times, 0) == 0 ? 0 : -errno;
}

std::optional<std::uint64_t> file_size(const std::string& linux_path) {
  struct stat st;
  if (::stat(linux_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

int remove_stale_temporaries(const std::string& linux_folder, bool below) {
  g_removed = 0;
  g_sweep_below = below;
  ::nftw(linux_folder.c_str(), remove_if_temporary, 16, FTW_PHYS | FTW_ACTIONRETVAL);
  return g_removed;
}

}  // namespace platform

#include "platform/diskette.h"
#include "platform/paths.h"

namespace platform {
namespace {
int neg_errno() { return errno ? -errno : -EIO; }
}  // namespace

int file_open(std::string_view win_path, OpenMode mode) {
  if (on_diskette(win_path)) return diskette::open(win_path, mode);
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kRead: flags |= O_RDONLY; break;
    case OpenMode::kReadWrite: flags |= O_RDWR; break;
    case OpenMode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case OpenMode::kCreateAlways: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case OpenMode::kOpenAlways: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::kAppend: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
  }
  const std::string path = map_path(win_path);
  if (mode != OpenMode::kRead)
    if (const int e = folder_fault(path, true)) return -e;
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return neg_errno();
  // What an exclusive create made is a new file, never a folder.
  struct stat st;
  if (!(flags & O_EXCL) && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return -EISDIR;
  }
  if (flags & O_CREAT) note_entry(path, true);
  return fd;
}

long long file_read(int handle, void* buffer, std::size_t size) {
  if (diskette::is_handle(handle)) return diskette::read(handle, buffer, size);
  for (;;) {
    ssize_t n = ::read(handle, buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) return neg_errno();
  }
}

long long file_read_at(int handle, std::uint64_t offset, void* buffer, std::size_t size) {
  if (diskette::is_handle(handle)) {
    const long long at = diskette::seek(handle, static_cast<long long>(offset), SEEK_SET);
    return at < 0 ? at : diskette::read(handle, buffer, size);
  }
  for (;;) {
    ssize_t n = ::pread(handle, buffer, size, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) return neg_errno();
  }
}

long long file_write(int handle, const void* data, std::size_t size) {
  if (diskette::is_handle(handle)) return diskette::write(handle, data, size);
  if (size > 0)
    if (const int e = folder_fault(handle)) return -e;
  // The same hook as write_all(), so that a kill test reaches every writer;
  // logs (opened to append) pass by: a line lost loses nothing stored.
  if (g_fault_at && !(::fcntl(handle, F_GETFL) & O_APPEND)) [[unlikely]]
    if (const int e = fault_step(handle, data, size)) return -e;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(handle, p + done, std::min<std::size_t>(size - done, 1u << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done ? static_cast<long long>(done) : neg_errno();
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

long long file_seek(int handle, long long offset, int whence) {
  if (diskette::is_handle(handle)) return diskette::seek(handle, offset, whence);
  off_t r = ::lseek(handle, static_cast<off_t>(offset), whence);
  return r < 0 ? neg_errno() : static_cast<long long>(r);
}

int file_truncate(int handle, std::uint64_t size) {
  if (diskette::is_handle(handle)) return diskette::truncate(handle, size);
  return ::ftruncate(handle, static_cast<off_t>(size)) == 0 ? 0 : neg_errno();
}

int file_sync(int handle) {
  if (diskette::is_handle(handle)) return diskette::flush(handle);
  if (g_fault_at) [[unlikely]]
    if (const int e = fault_step(-1, nullptr, 0)) return -e;
  return ::fsync(handle) == 0 ? 0 : neg_errno();
}

int file_close(int handle) {
  if (diskette::is_handle(handle)) return diskette::close(handle);
  return ::close(handle) == 0 ? 0 : neg_errno();
}

long long file_length(int handle) {
  if (diskette::is_handle(handle)) return diskette::length(handle);
  struct stat st;
  return ::fstat(handle, &st) == 0 ? static_cast<long long>(st.st_size) : neg_errno();
}

int file_delete(std::string_view win_path) {
  if (on_diskette(win_path)) return diskette::remove_file(win_path);
  const std::string path = map_path(win_path);
  if (const int e = folder_fault(path, true)) return -e;
  if (::unlink(path.c_str()) != 0) return neg_errno();
  note_entry(path, false);
  return 0;
}

int dir_remove(std::string_view win_path) {
  if (on_diskette(win_path)) return diskette::remove_dir(win_path);
  std::string p = map_path(win_path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (const int e = folder_fault(p, true)) return -e;
  if (::rmdir(p.c_str()) != 0) return neg_errno();
  note_entry(p, false);
  return 0;
}

int dir_create(std::string_view win_path) {
  if (on_diskette(win_path)) return diskette::make_dir(win_path);
  const std::string path = map_path(win_path);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    if (const int e = folder_fault(path, true)) return -e;
  errno = 0;
  if (make_dirs(path)) return 0;
  return neg_errno();  // the failing mkdir's reason
}

int file_rename(std::string_view win_from, std::string_view win_to) {
  if (on_diskette(win_from) != on_diskette(win_to)) return -EXDEV;
  if (on_diskette(win_from)) return diskette::rename(win_from, win_to);
  const std::string from = map_path(win_from), to = map_path(win_to);
  if (const int e = folder_fault(to, true)) return -e;
  if (g_fault_at) [[unlikely]]
    if (const int e = fault_step(-1, nullptr, 0)) return -e;
  if (::rename(from.c_str(), to.c_str()) != 0) return neg_errno();
  note_entry(from, false);
  note_entry(to, true);
  return 0;
}

int file_create_unnamed(std::string_view win_folder) {
  if (on_diskette(win_folder)) return -EOPNOTSUPP;
  const std::string folder = map_path(win_folder);
  if (const int e = folder_fault(folder + "/", true)) return -e;
  const int fd = ::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0644);
  return fd < 0 ? neg_errno() : fd;
}

int file_link(int handle, std::string_view win_path) {
  if (diskette::is_handle(handle) || on_diskette(win_path)) return -EOPNOTSUPP;
  const std::string path = map_path(win_path);
  if (::linkat(handle, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) != 0) {
    // Kernels before 6.10 link a descriptor only for a privileged caller
    // (ENOENT otherwise); the descriptor's entry in /proc works for anyone.
    if (errno != ENOENT) return neg_errno();
    char proc[40];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", handle);
    if (::linkat(AT_FDCWD, proc, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) return neg_errno();
  }
  note_entry(path, true);
  return 0;
}

int file_set_time(std::string_view win_path, std::int64_t mtime) {
  if (on_diskette(win_path)) return diskette::set_time(win_path, mtime);
  struct timespec t[2];
  t[0].tv_sec = t[1].tv_sec = static_cast<time_t>(mtime);
  t[0].tv_nsec = t[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, map_path(win_path).c_str(), t, 0) == 0 ? 0 : neg_errno();
}

int file_set_time(int handle, std::int64_t mtime) {
  if (diskette::is_handle(handle)) return -ENOTSUP;
  struct timespec t[2];
  t[0].tv_sec = t[1].tv_sec = static_cast<time_t>(mtime);
  t[0].tv_nsec = t[1].tv_nsec = 0;
  return ::futimens(handle, t) == 0 ? 0 : neg_errno();
}

int file_set_attributes(std::string_view win_path, std::uint32_t attributes) {
  if (on_diskette(win_path)) return diskette::set_attributes(win_path, attributes);
  // A folder drive keeps only read-only, as its write permission bits.
  const std::string p = map_path(win_path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return neg_errno();
  const mode_t write_bits = S_IWUSR | S_IWGRP | S_IWOTH;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) ? (mode & ~write_bits) : (mode | S_IWUSR);
  return ::chmod(p.c_str(), mode) == 0 ? 0 : neg_errno();
}

}  // namespace platform
