// The raw side of drive A:: which file is the diskette, whether it is still
// the one we read, the volume lock, track formatting and sector I/O.
#include "platform/diskette.h"

#include <fcntl.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/diskette_drive.h"
#include "platform/paths.h"

namespace platform::diskette {
namespace {

// The one drive.  Invariants:
// 1. fd < 0 implies !locked and !shared.
// 2. locked and shared never hold together (a flock is one or the other).
// 3. While fd >= 0, dev/ino/mtime/size are what the file was after our last
//    own write; anything else means another hand changed the diskette.
struct Drive {
  int fd = -1;
  bool block_device = false;
  bool read_only = false;  // the device would not open for writing
  bool locked = false;     // LOCK_EX, this program's volume lock
  bool shared = false;     // LOCK_SH, held while files are in use
  bool forget_on_unlock = false;
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  off_t size = 0;
  std::uint64_t generation = 1;
};

Drive g_drive;
std::vector<std::uint32_t> g_bad, g_weak;

bool is_a(char drive) { return std::toupper(static_cast<unsigned char>(drive)) == 'A'; }

bool contains(const std::vector<std::uint32_t>& v, std::uint32_t lba) {
  return std::find(v.begin(), v.end(), lba) != v.end();
}

void remember(const struct stat& st) {
  g_drive.dev = st.st_dev;
  g_drive.ino = st.st_ino;
  g_drive.mtime = st.st_mtim;
  g_drive.size = st.st_size;
}

void close_drive() {
  if (g_drive.fd >= 0) ::close(g_drive.fd);  // drops any flock with it
  g_drive.fd = -1;
  g_drive.locked = g_drive.shared = g_drive.forget_on_unlock = false;
  ++g_drive.generation;
}

bool same_file(const struct stat& st) {
  return st.st_dev == g_drive.dev && st.st_ino == g_drive.ino;
}

bool unchanged(const struct stat& st) {
  if (!same_file(st)) return false;
  if (g_drive.block_device) return true;  // a device's times say nothing of its medium
  return st.st_size == g_drive.size && st.st_mtim.tv_sec == g_drive.mtime.tv_sec &&
         st.st_mtim.tv_nsec == g_drive.mtime.tv_nsec;
}

// Opens the drive's file, or reopens it when it is another diskette now.
int attach() {
  const std::string path = drive_path();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    // While locked the open descriptor is the drive; otherwise no file is no disk.
    if (g_drive.locked) return 0;
    if (g_drive.fd >= 0) close_drive();
    return -ENOMEDIUM;
  }
  if (g_drive.fd >= 0) {
    if (g_drive.locked || unchanged(st)) return 0;
    close_drive();
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return -ENOMEDIUM;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  bool read_only = false;
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    read_only = true;
  }
  if (fd < 0) return errno == ENOENT ? -ENOMEDIUM : -errno;
  if (::fstat(fd, &st) != 0) {
    const int e = -errno;
    ::close(fd);
    return e;
  }
  g_drive.fd = fd;
  g_drive.block_device = S_ISBLK(st.st_mode);
  g_drive.read_only = read_only;
  remember(st);
  ++g_drive.generation;
  return 0;
}

// Our own write changed the file's times: note them so that they do not
// read as another hand's change.
void note_own_write() {
  struct stat st;
  if (::fstat(g_drive.fd, &st) == 0) remember(st);
}

bool protected_now() {
  if (g_drive.fd < 0) return false;
  if (g_drive.read_only) return true;
  if (g_drive.block_device) return false;
  // Checked here, not left to open(): tests run as root, who may write anything.
  struct stat st;
  return ::fstat(g_drive.fd, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::uint64_t bytes_on_medium() {
  if (g_drive.fd < 0) return 0;
  if (g_drive.block_device) {
    std::uint64_t n = 0;
    return ::ioctl(g_drive.fd, BLKGETSIZE64, &n) == 0 ? n : 0;
  }
  struct stat st;
  return ::fstat(g_drive.fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool in_medium(std::uint32_t lba, std::uint32_t count) {
  return (std::uint64_t{lba} + count) * kSectorSize <= bytes_on_medium();
}

int pread_all(void* out, std::size_t n, std::uint64_t at) {
  auto* p = static_cast<std::uint8_t*>(out);
  for (std::size_t done = 0; done < n;) {
    const ssize_t r = ::pread(g_drive.fd, p + done, n - done, static_cast<off_t>(at + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -errno;
    if (r == 0) return -EIO;
    done += static_cast<std::size_t>(r);
  }
  return 0;
}

int pwrite_all(const void* data, std::size_t n, std::uint64_t at) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t done = 0; done < n;) {
    const ssize_t r = ::pwrite(g_drive.fd, p + done, n - done, static_cast<off_t>(at + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -errno;
    if (r == 0) return -EIO;
    done += static_cast<std::size_t>(r);
  }
  return 0;
}

int read_raw(std::uint32_t lba, std::uint32_t count, void* out) {
  if (!in_medium(lba, count)) return -EIO;
  for (std::uint32_t i = 0; i < count; ++i)
    if (contains(g_bad, lba + i)) return -EIO;
  if (const int e = pread_all(out, std::size_t{count} * kSectorSize, std::uint64_t{lba} * kSectorSize)) return e;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!contains(g_weak, lba + i)) continue;
    auto* s = static_cast<std::uint8_t*>(out) + std::size_t{i} * kSectorSize;
    for (std::uint32_t b = 0; b < kSectorSize; ++b) s[b] ^= 0x5A;
  }
  return 0;
}

int write_raw(std::uint32_t lba, std::uint32_t count, const void* data) {
  if (protected_now()) return -EROFS;
  if (!in_medium(lba, count)) return -EIO;
  for (std::uint32_t i = 0; i < count; ++i)
    if (contains(g_bad, lba + i)) return -EIO;
  if (const int e = write_fault_step()) return -e;
  const int e = pwrite_all(data, std::size_t{count} * kSectorSize, std::uint64_t{lba} * kSectorSize);
  note_own_write();
  return e;
}

// The floppy driver's parameters for the two media of a 3.5-inch
// high-density drive (its own table's values).
bool device_parameters(MediaType type, floppy_struct& p) {
  if (type == MediaType::k35_1440K) {
    p = floppy_struct{2880, 18, 2, 80, 0, 0x1B, 0x00, 0xCF, 0x6C, "H1440"};
    return true;
  }
  if (type == MediaType::k35_720K) {
    p = floppy_struct{1440, 9, 2, 80, 0, 0x2A, 0x02, 0xDF, 0x50, "D720"};
    return true;
  }
  return false;
}

int format_device(MediaType type, std::uint32_t c0, std::uint32_t c1, std::uint32_t h0, std::uint32_t h1) {
  floppy_struct p{};
  if (!device_parameters(type, p)) return -EINVAL;
  if (::ioctl(g_drive.fd, FDSETPRM, &p) != 0) return -errno;
  if (::ioctl(g_drive.fd, FDFMTBEG, nullptr) != 0) return -errno;
  int e = 0;
  for (std::uint32_t c = c0; c <= c1 && !e; ++c)
    for (std::uint32_t h = h0; h <= h1 && !e; ++h) {
      format_descr d{0, h, c};
      if (::ioctl(g_drive.fd, FDFMTTRK, &d) != 0) e = -errno;
    }
  if (::ioctl(g_drive.fd, FDFMTEND, nullptr) != 0 && !e) e = -errno;
  return e;
}

int format_image(const Geometry& g, std::uint32_t c0, std::uint32_t c1, std::uint32_t h0, std::uint32_t h1) {
  if (bytes_on_medium() != g.capacity() && ::ftruncate(g_drive.fd, static_cast<off_t>(g.capacity())) != 0)
    return -errno;
  const std::vector<std::uint8_t> track(std::size_t{g.sectors_per_track} * kSectorSize, kFormatFiller);
  int e = 0;
  for (std::uint32_t c = c0; c <= c1 && !e; ++c)
    for (std::uint32_t h = h0; h <= h1 && !e; ++h)
      e = pwrite_all(track.data(), track.size(),
                     (std::uint64_t{c} * g.heads + h) * g.sectors_per_track * kSectorSize);
  note_own_write();
  return e;
}

// Raw writes and formats stand outside what the FAT layer has read.
void invalidate_files() { ++g_drive.generation; }

}  // namespace

std::string drive_path() {
  if (const char* p = std::getenv("VASLAB_DRIVE_A"); p && *p) return p;
  return root() + "/a.img";
}

bool drive_present(char letter) {
  if (!is_a(letter)) return false;
  struct stat st;
  return ::stat(drive_path().c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

std::optional<Geometry> geometry_of(MediaType type) {
  switch (type) {
    case MediaType::k525_1200K: return Geometry{80, type, 2, 15};
    case MediaType::k35_1440K: return Geometry{80, type, 2, 18};
    case MediaType::k35_2880K: return Geometry{80, type, 2, 36};
    case MediaType::k35_720K: return Geometry{80, type, 2, 9};
    case MediaType::k525_360K: return Geometry{40, type, 2, 9};
    case MediaType::kUnknown: break;
  }
  return std::nullopt;
}

std::vector<Geometry> media_types(char drive) {
  if (!is_a(drive)) return {};
  return {*geometry_of(MediaType::k35_720K), *geometry_of(MediaType::k35_1440K)};
}

std::optional<Geometry> current_geometry(char drive) {
  if (!is_a(drive) || attach() != 0) return std::nullopt;
  const std::uint64_t bytes = bytes_on_medium();
  for (MediaType t : {MediaType::k525_360K, MediaType::k35_720K, MediaType::k525_1200K, MediaType::k35_1440K,
                      MediaType::k35_2880K})
    if (geometry_of(t)->capacity() == bytes) return geometry_of(t);
  return std::nullopt;
}

int lock_volume(char drive) {
  if (!is_a(drive)) return -ENODEV;
  if (g_drive.locked) return 0;
  if (const int e = attach()) return e;
  if (detail::files_open() > 0) return -EBUSY;
  if (::flock(g_drive.fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? -EBUSY : -errno;
  g_drive.shared = false;
  g_drive.locked = true;
  return 0;
}

int unlock_volume(char drive) {
  if (!is_a(drive)) return -ENODEV;
  if (!g_drive.locked) return 0;
  if (g_drive.forget_on_unlock) {
    close_drive();
    return 0;
  }
  ::flock(g_drive.fd, LOCK_UN);
  g_drive.locked = false;
  return 0;
}

bool volume_locked(char drive) { return is_a(drive) && g_drive.locked; }

int dismount_volume(char drive) {
  if (!is_a(drive)) return -ENODEV;
  // A lock outlives a dismount, as the volume handle that holds it does.
  if (g_drive.locked) {
    g_drive.forget_on_unlock = true;
    invalidate_files();
  } else {
    close_drive();
  }
  return 0;
}

bool write_protected(char drive) { return is_a(drive) && attach() == 0 && protected_now(); }

int format_tracks(char drive, MediaType type, std::uint32_t first_cylinder, std::uint32_t last_cylinder,
                  std::uint32_t first_head, std::uint32_t last_head) {
  if (!is_a(drive)) return -ENODEV;
  if (!g_drive.locked) return -EACCES;
  const auto offered = media_types(drive);
  const auto g = std::find_if(offered.begin(), offered.end(), [&](const Geometry& m) { return m.media == type; });
  if (g == offered.end()) return -EINVAL;
  if (first_cylinder > last_cylinder || last_cylinder >= g->cylinders || first_head > last_head ||
      last_head >= g->heads)
    return -EINVAL;
  if (protected_now()) return -EROFS;
  invalidate_files();
  return g_drive.block_device ? format_device(type, first_cylinder, last_cylinder, first_head, last_head)
                              : format_image(*g, first_cylinder, last_cylinder, first_head, last_head);
}

int read_sectors(char drive, std::uint32_t lba, std::uint32_t count, void* out) {
  if (!is_a(drive)) return -ENODEV;
  if (const int e = attach()) return e;
  return read_raw(lba, count, out);
}

int write_sectors(char drive, std::uint32_t lba, std::uint32_t count, const void* data) {
  if (!is_a(drive)) return -ENODEV;
  if (!g_drive.locked) return -EACCES;
  if (const int e = attach()) return e;
  invalidate_files();
  return write_raw(lba, count, data);
}

void set_bad_sectors(std::vector<std::uint32_t> lbas) { g_bad = std::move(lbas); }
void set_weak_sectors(std::vector<std::uint32_t> lbas) { g_weak = std::move(lbas); }
void clear_sector_faults() {
  g_bad.clear();
  g_weak.clear();
}

namespace detail {

int begin_file_access() {
  if (const int e = attach()) return e;
  if (g_drive.locked) return -EACCES;
  if (!g_drive.shared) {
    if (::flock(g_drive.fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK ? -EACCES : -errno;
    g_drive.shared = true;
  }
  return 0;
}

void end_file_access() {
  if (g_drive.shared && files_open() == 0 && g_drive.fd >= 0) {
    ::flock(g_drive.fd, LOCK_UN);
    g_drive.shared = false;
  }
}

// A refused conversion may have let go of the shared lock first (flock
// converts by unlocking and locking again): it is taken again.
int hold_alone() {
  if (g_drive.fd < 0 || !g_drive.shared) return -EBUSY;
  if (::flock(g_drive.fd, LOCK_EX | LOCK_NB) == 0) return 0;
  const int e = errno == EWOULDBLOCK ? -EBUSY : -errno;
  share_again();
  return e;
}

void share_again() {
  if (g_drive.fd >= 0 && ::flock(g_drive.fd, LOCK_SH | LOCK_NB) != 0) g_drive.shared = false;
}

std::uint64_t generation() { return g_drive.generation; }

int read(std::uint32_t lba, std::uint32_t count, void* out) {
  return g_drive.fd < 0 ? -ENOMEDIUM : read_raw(lba, count, out);
}

int write(std::uint32_t lba, std::uint32_t count, const void* data) {
  return g_drive.fd < 0 ? -ENOMEDIUM : write_raw(lba, count, data);
}

int sync() {
  if (g_drive.fd < 0) return -ENOMEDIUM;
  if (const int e = write_fault_step()) return -e;
  return ::fdatasync(g_drive.fd) == 0 ? 0 : -errno;
}

bool write_protected_now() { return protected_now(); }
std::uint64_t medium_bytes() { return bytes_on_medium(); }

}  // namespace detail
}  // namespace platform::diskette
