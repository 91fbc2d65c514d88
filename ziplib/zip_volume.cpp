// Split parts and spanned disks, and the drive, path and temporary-file
// routines beneath them.
//
// Calls run one way: records (zip_records.cpp) < volumes (here) < frame
// (zip_frame.cpp).  The volumes take DOS times from the records and never
// call the frame; the records reach them only through the VolumeLayer the
// frame installs.
#include "ziplib/zip_volume.h"

#include "platform/debug.h"
#include "platform/diskette.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_format.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

namespace ziplib {
namespace {

constexpr std::uint64_t kNoLimit = 0x7FFFFFFFFFFFFFFFull;
constexpr std::uint64_t kRewriteLimit = 2u << 20;
constexpr std::uint64_t kSmallestPart = 65536;
constexpr std::uint64_t kForceChange = ~0ull;
constexpr std::size_t kCopyBlock = 30720;
constexpr int kLastPart = 999;

FreeSpaceFn g_free_space = nullptr;

bool multi(const ZipState& s) { return (s.multi_vol & kMvMulti) != 0; }
bool split(const ZipState& s) { return multi(s) && (s.multi_vol & kMvSplit); }
bool staging(const ZipState& s) { return multi(s) && !split(s) && s.temp_fd >= 0; }

char letter_of(int drive) { return static_cast<char>('A' + drive - 1); }

// The drive of the archive itself: its own letter, else the current drive's.
int target_drive(const ZipState& s) {
  const int d = zipDriveOfPath(s.zip_path);
  return d > 0 ? d : zip_current_drive();
}

bool is_diskette(int drive) { return drive == 1; }

// Attribute bits a wipe may have to clear first.
constexpr std::uint32_t kProtecting = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem;

// --- the diskette drive beneath ---

int set_disk_label(int drive, const std::string& label) {
  return is_diskette(drive) ? platform::diskette::set_volume_label(label) : -ENODEV;
}

// What the drive knew of the old diskette is forgotten, so that the next one
// is read afresh; a volume that cannot be locked (files still open on it)
// is left as it is.
void dismount(int drive) {
  const char letter = letter_of(drive);
  if (platform::diskette::lock_volume(letter) != 0) return;
  platform::diskette::dismount_volume(letter);
  platform::diskette::unlock_volume(letter);
}

// The root of a path for the free-space question: "X:\", or "\\server\share\".
std::string path_root(const std::string& path) {
  if (path.rfind("\\\\", 0) == 0) {
    std::size_t cut = path.find('\\', 2);
    if (cut != std::string::npos) cut = path.find('\\', cut + 1);
    return cut == std::string::npos ? path + "\\" : path.substr(0, cut + 1);
  }
  const int d = zipDriveOfPath(path);
  return zipDriveRoot(d > 0 ? d : 0);
}

// The archive file is put away before the disk may change; a close that
// fails means what the disk holds is not what was written.
bool close_checked(int* handle) {
  if (*handle < 0) return true;
  const int rc = platform::file_close(*handle);
  *handle = -1;
  return rc == 0;
}

// --- split parts ---

std::uint64_t split_limit(const ZipState& s, const std::string& part_path, std::uint32_t n) {
  std::uint64_t limit = zipFreeSpace(part_path);
  if (!s.part_sizes.empty()) {
    std::uint64_t v = s.part_sizes.size() > n ? s.part_sizes[n] : s.part_sizes[0];
    v = std::max(v, kSmallestPart);
    if (v < limit) limit = v;
  }
  return limit;
}

int next_split_part(ZipState& s) {
  if (!close_checked(&s.temp_fd)) return ZE_TEMP;
  const bool first_of_directory_first = (s.multi_vol & kMvDirectoryFirst) && s.current_disk == 0;
  if (!s.rewrite_pass && !first_of_directory_first)
    zipVolumePrompt(14, MB_OK, static_cast<int>(s.current_disk + 1), 0, s.temp_path.c_str(), s);
  // During the rewrite the directory must stay in the first part.
  if (s.rewrite_pass || s.current_disk + 2 > kLastPart) return ZE_TEMP;
  ++s.parts_closed;
  ++s.current_disk;
  s.temp_path = zip_part_name(s.zip_path, static_cast<int>(s.current_disk + 1), s.long_part_names);
  s.temp_fd = platform::file_open(s.temp_path, platform::OpenMode::kCreateAlways);
  if (s.temp_fd < 0) return ZE_TEMP;
  s.volume_offset = 0;
  s.part_limit = split_limit(s, s.temp_path, s.current_disk + 1);
  return 0;
}

// Directory first: the set's first part is opened again when it begins with
// the central header of the first entry.
bool starts_with_header(int fd, const std::string& first_name) {
  unsigned char head[46];
  if (platform::file_seek(fd, 0, SEEK_SET) != 0 || platform::file_read(fd, head, sizeof head) != sizeof head)
    return false;
  if (platform::get_u32le(head) != 0x02014B50 || platform::get_u16le(head + 28) != first_name.size()) return false;
  std::string name(first_name.size(), '\0');
  if (platform::file_read(fd, name.data(), name.size()) != static_cast<long long>(name.size())) return false;
  return name == first_name && platform::file_seek(fd, 0, SEEK_SET) == 0;
}

// --- spanned disks ---

std::uint64_t disk_free_now(const ZipState& s) { return zipFreeSpace(s.zip_path); }

// Asks for disk `number` (1-based) until one is writable, prepared and holds
// a new archive file with room for `need` bytes: 0 or 9.
int take_new_disk(ZipState& s, int number, std::uint64_t need) {
  const int drive = target_drive(s);
  for (;;) {
    zipDismountVolume(drive, s);
    const int n1 = number == 1 ? -1 : number;
    if (zipVolumePrompt(0, MB_OKCANCEL, n1, 0, nullptr, s) != IDOK) return ZE_ABORT;
    if (!zipTestVolumeWritable(drive, s)) {
      if (zipVolumePrompt(12, MB_RETRYCANCEL, 0, 0, zipMessageText(520, 2), s) != IDRETRY) return ZE_ABORT;
      continue;
    }
    if (!zipPrepareDisk(drive, s.multi_vol, number, s)) {
      if (s.cancel) return ZE_ABORT;
      zipVolumePrompt(7, MB_OK, 0, 0, nullptr, s);
      continue;
    }
    const std::string folder = platform::split_win_path(s.zip_path).first;
    if (folder.size() > 3) platform::dir_create(folder);
    int fd = platform::file_open(s.zip_path, platform::OpenMode::kCreateAlways);
    if (fd < 0) continue;
    // A disk that cannot take what comes next would stand in the set with
    // nothing on it; it is given back instead of being counted.
    const std::uint64_t free = disk_free_now(s);
    if (free < need) {
      platform::file_close(fd);
      platform::file_delete(s.zip_path);
      zipVolumePrompt(7, MB_OK, 0, 0, nullptr, s);
      continue;
    }
    s.out_fd = fd;
    s.disk_ready = true;
    s.part_limit = free;
    return 0;
  }
}

// Moves to the next disk of the set: the archive file on this one is closed
// first, then the next disk is asked for and prepared.
int change_disk(ZipState& s, std::uint64_t need) {
  if (s.out_fd >= 0 && !close_checked(&s.out_fd)) return ZE_MEDIA;
  if (s.disk_ready && !zipFileStatus(s.zip_path, nullptr)) return ZE_ABORT;
  s.disk_ready = false;
  if (int rc = take_new_disk(s, static_cast<int>(s.current_disk + 2), need)) return rc;
  ++s.current_disk;
  s.volume_offset = 0;
  return 0;
}

// The rewrite pass goes over the disks that already hold the set: the next
// one is asked for and its archive file opened as it is.
int next_rewrite_disk(ZipState& s) {
  if (!close_checked(&s.out_fd)) return ZE_MEDIA;
  zipDismountVolume(target_drive(s), s);
  if (zipVolumePrompt(0, MB_OKCANCEL, static_cast<int>(s.current_disk + 2), 0, nullptr, s) != IDOK)
    return ZE_ABORT;
  s.out_fd = platform::file_open(s.zip_path, platform::OpenMode::kReadWrite);
  if (s.out_fd < 0) {
    zip_report_error(s, ZE_NAME, s.zip_path.c_str());
    return ZE_MEDIA;
  }
  ++s.current_disk;
  s.volume_offset = 0;
  return 0;
}

// Copies the staging file to the archive file on the disk in the drive and
// empties it: 0, 9 or 10.
int copy_staging(ZipState& s) {
  const long long len = platform::file_length(s.temp_fd);
  if (len < 0) return ZE_TEMP;
  if (len == 0) return 0;
  if (disk_free_now(s) < static_cast<std::uint64_t>(len)) return ZE_TEMP;
  if (platform::file_seek(s.temp_fd, 0, SEEK_SET) != 0) return ZE_TEMP;
  std::vector<unsigned char> block(kCopyBlock);
  long long left = len;
  while (left > 0) {
    const long long got = platform::file_read(s.temp_fd, block.data(), block.size());
    if (got <= 0) return ZE_TEMP;
    if (platform::file_write(s.out_fd, block.data(), static_cast<std::size_t>(got)) != got) return ZE_TEMP;
    left -= got;
    if (zip_poll_cancel(s)) return ZE_ABORT;
  }
  if (platform::file_truncate(s.temp_fd, 0) != 0 || platform::file_seek(s.temp_fd, 0, SEEK_SET) != 0) return ZE_TEMP;
  return 0;
}

// --- the layer ---

class OwnVolumes final : public VolumeLayer {
 public:
  int write_volume(ZipState& s, std::uint64_t count) override {
    if (!multi(s) || split(s)) return 0;
    bool force = count == kForceChange;
    for (;;) {
      if (s.rewrite_pass) {
        const long long len = platform::file_length(s.out_fd);
        const long long pos = platform::file_seek(s.out_fd, 0, SEEK_CUR);
        if (!force && len >= 0 && pos >= 0 && static_cast<std::uint64_t>(len - pos) >= count) return 0;
        if (int rc = next_rewrite_disk(s)) return rc;
      } else {
        if (!force && s.out_fd >= 0 && disk_free_now(s) >= count) return 0;
        if (int rc = change_disk(s, force ? 512 : count)) return rc;
      }
      // After a forced change the new disk only has to take something.
      if (force) count = 512;
      force = false;
    }
  }

  std::uint64_t disk_free(ZipState& s) override {
    if (s.rewrite_pass) return 0;  // records only, each checked against the file
    return disk_free_now(s);
  }

  std::uint64_t free_room(ZipState& s) override {
    if (split(s)) {
      const std::uint64_t limit = s.rewrite_pass ? kRewriteLimit : s.part_limit;
      return limit > s.volume_offset ? limit - s.volume_offset : 0;
    }
    if (staging(s)) {
      const long long held = platform::file_length(s.temp_fd);
      const std::uint64_t free = disk_free_now(s);
      return held < 0 || free <= static_cast<std::uint64_t>(held) ? 0 : free - static_cast<std::uint64_t>(held);
    }
    return 0;
  }

  int next_part(ZipState& s) override {
    if (split(s)) return next_split_part(s);
    if (!staging(s)) return ZE_LOGIC;
    const long long held = platform::file_length(s.temp_fd);
    if (held < 0) return ZE_TEMP;
    // Nothing staged and still no room: what comes next is larger than what
    // this disk has left, so it goes on the next one.
    if (held > 0) {
      if (int rc = copy_staging(s)) return rc;
      if (disk_free_now(s) > 0) return 0;
    }
    return write_volume(s, kForceChange);
  }

  int start_set(ZipState& s) override {
    zip_volumes_begin(s);
    if (split(s)) {
      zipDeleteParts(s.zip_path, 2, s.long_part_names);
      if (zipFileStatus(s.zip_path, nullptr) && platform::file_delete(s.zip_path) != 0) return ZE_FORM;
      s.part_limit = split_limit(s, s.temp_path, 1);
      return 0;
    }
    // The driver creates the archive file once this returns; the disk must
    // take it.
    const int rc = take_new_disk(s, 1, 512);
    if (rc) return rc;
    close_checked(&s.out_fd);
    platform::file_delete(s.zip_path);
    s.current_disk = 0;
    s.volume_offset = 0;
    return 0;
  }

  int reopen_first(ZipState& s, const std::string& first_name) override {
    if (split(s)) {
      if (!close_checked(&s.temp_fd)) return ZE_TEMP;
      s.last_part = s.temp_path;
      s.temp_path = zip_part_name(s.zip_path, 1, s.long_part_names);
      s.temp_fd = platform::file_open(s.temp_path, platform::OpenMode::kReadWrite);
      if (s.temp_fd < 0 || !starts_with_header(s.temp_fd, first_name)) return ZE_ABORT;
      s.current_disk = 0;
      s.volume_offset = 0;
      return 0;
    }
    // What is still staged belongs on the last disk; the rewrite then goes
    // straight to the disks.
    if (staging(s)) {
      if (int rc = copy_staging(s)) return rc;
      close_checked(&s.temp_fd);
      platform::file_delete(s.temp_path);
    }
    if (!close_checked(&s.out_fd)) return ZE_INCOMPLETE;
    for (;;) {
      zipDismountVolume(target_drive(s), s);
      if (zipVolumePrompt(0, MB_OKCANCEL, -1, 0, nullptr, s) != IDOK) return ZE_ABORT;
      const int fd = platform::file_open(s.zip_path, platform::OpenMode::kReadWrite);
      if (fd >= 0 && starts_with_header(fd, first_name)) {
        s.out_fd = fd;
        s.current_disk = 0;
        s.volume_offset = 0;
        return 0;
      }
      if (fd >= 0) platform::file_close(fd);
      if (zipVolumePrompt(10, MB_RETRYCANCEL, 0, 0, nullptr, s) != IDRETRY) return ZE_ABORT;
    }
  }

  int finish(ZipState& s) override {
    if (split(s)) {
      if (!close_checked(&s.temp_fd)) return ZE_TEMP;
      const std::string last = s.last_part.empty() ? s.temp_path : s.last_part;
      close_checked(&s.out_fd);
      platform::file_delete(s.zip_path);
      if (platform::file_rename(last, s.zip_path) != 0) return ZE_TEMP;
      zipVolumePrompt(14, MB_OK, static_cast<int>(s.parts_closed + 1), 0, s.zip_path.c_str(), s);
      return 0;
    }
    if (staging(s))
      if (int rc = copy_staging(s)) return rc;
    return close_checked(&s.out_fd) ? 0 : ZE_WRITE;
  }
};

// Folders of a drive, deepest first, the root last.
void gather_folders(const std::string& folder, bool with_hidden, std::vector<std::string>* out) {
  for (const platform::FoundFile& f : platform::list_files(folder + "*.*")) {
    if (!(f.attributes & platform::kAttrDirectory)) continue;
    if (!with_hidden && (f.attributes & (platform::kAttrHidden | platform::kAttrSystem))) continue;
    gather_folders(folder + f.name + "\\", with_hidden, out);
  }
  out->push_back(folder);
}

}  // namespace

VolumeLayer& zip_volume_layer() {
  static OwnVolumes layer;
  return layer;
}

void zip_volumes_begin(ZipState& s) {
  s.part_sizes.clear();
  s.parts_closed = 0;
  s.part_limit = kRewriteLimit;
  s.disk_ready = false;
  s.last_part.clear();
  s.volume_error = 0;
  const std::uint32_t* a = s.cmd.pulFileSizeArray;
  if (!split(s) || !a) return;
  const bool wide = (s.multi_vol & kMvSizes64) != 0;
  // At most one size per part name: an array without its ending zero is
  // never read past that.
  for (int i = 0; i <= kLastPart; ++i) {
    const std::uint64_t v = wide ? (a[2 * i] | (std::uint64_t(a[2 * i + 1]) << 32)) : a[i];
    if (v == 0) break;
    s.part_sizes.push_back(v);
  }
}

// --- drives and paths ---

int zipDriveOfPath(std::string_view path) {
  if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return -1;
  const unsigned char c = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(path[0])));
  return c >= 'A' && c <= 'Z' ? c - 'A' + 1 : zip_current_drive();
}

std::string zipDriveRoot(int drive) {
  if (drive < 1 || drive > 26) drive = zip_current_drive();
  return std::string(1, letter_of(drive)) + ":\\";
}

bool zip_drive_removable(int drive) { return drive == 1 || drive == 2; }

bool zipDriveIsRemovable(int drive, const ZipState& s) {
  return split(s) || (s.sub_options & kSubAnyTarget) || zip_drive_removable(drive);
}

char zip_drive_letter(const std::string& path) {
  if (path.rfind("\\\\", 0) == 0 || path.rfind("//", 0) == 0) return 0;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  return letter_of(zip_current_drive());
}

bool zip_long_names_allowed(const std::string& win_path) {
  if (zip_drive_removable(zip_drive_letter(win_path) - 'A' + 1)) return false;
  std::string dir = platform::map_path(platform::split_win_path(win_path).first);
  if (dir.empty()) dir.push_back('.');
  while (!dir.empty()) {
    const long max = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    if (max > 0) return max >= 255;
    const auto slash = dir.find_last_of('/');
    if (slash == std::string::npos || slash == 0) break;
    dir.resize(slash);
  }
  return true;
}

std::uint64_t zipFreeSpace(const std::string& path) {
  const std::string root = path_root(path);
  const std::optional<std::uint64_t> free = g_free_space ? g_free_space(path) : platform::free_space(root);
  return free && *free <= kNoLimit ? *free : kNoLimit;
}

void set_zip_free_space(FreeSpaceFn fn) { g_free_space = fn; }

namespace {

// Tries the temporary names of zip_create_temp() in turn with `take`, which
// answers -EEXIST for a name in use: what the first other answer is.
template <typename Take>
int take_temp_name(const std::string& directory, long thread_id, std::string* win_path, Take take) {
  static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_";
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  const unsigned long id = static_cast<unsigned long>(thread_id);
  char digits[8];
  std::snprintf(digits, sizeof digits, "%05lu", id % 100000);
  // Taken exclusively: a name another process takes between our check and
  // ours makes us try the next letter instead of sharing its file.  The
  // "~" around it marks it as the file layer's temporary name (8.3, so that
  // a diskette takes it): a run killed before it went is swept away, and no
  // file of the user's is ever taken for one.
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string path = dir + '~' + kAlphabet[id % 37] + kAlphabet[(id / 37) % 37] + digits + '.' + letter + '~';
    const int r = take(path);
    if (r == -EEXIST) continue;
    if (r >= 0 && win_path) *win_path = std::move(path);
    return r;
  }
  return -EEXIST;
}

}  // namespace

int zip_create_temp(const std::string& directory, long thread_id, std::string* win_path) {
  const int fd = take_temp_name(directory, thread_id, win_path, [](const std::string& path) {
    return platform::file_open(path, platform::OpenMode::kCreateNew);
  });
  return fd >= 0 ? fd : -1;
}

void zip_remove_stale_temps(const std::string& directory) {
  if (!platform::on_diskette(directory)) return;
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  for (const auto& f : platform::list_files(dir + "*.*")) {
    // A temporary still open (this run's own) is refused by the diskette.
    if (!(f.attributes & platform::kAttrDirectory) && platform::is_temporary_name(f.name) &&
        platform::file_delete(dir + f.name) == 0)
      platform::debug_printf("zip: %s%s of a run cut off removed\n", dir.c_str(), f.name.c_str());
  }
}

int zip_link_temp(int fd, const std::string& directory, long thread_id, std::string* win_path) {
  return take_temp_name(directory, thread_id, win_path,
                        [fd](const std::string& path) { return platform::file_link(fd, path); });
}

std::string zip_part_name(const std::string& zip_path, int n, bool long_form) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, n <= 99 ? "z%02d" : "%03d", n);
  if (long_form) return zip_path + "." + suffix;
  const std::size_t name_start = zip_path.find_last_of("\\/:") == std::string::npos ? 0 : zip_path.find_last_of("\\/:") + 1;
  const std::size_t dot = zip_path.rfind('.');
  if (dot == std::string::npos || dot < name_start) return zip_path + "." + suffix;
  return zip_path.substr(0, dot + 1) + suffix;
}

void zipDeleteParts(const std::string& zip_path, int first, bool long_form) {
  for (int n = std::max(first, 1); n <= kLastPart; ++n) platform::file_delete(zip_part_name(zip_path, n, long_form));
}

void zip_delete_parts(const std::string& zip_path) {
  zipDeleteParts(zip_path, 1, true);
  zipDeleteParts(zip_path, 1, false);
  platform::file_delete(zip_path);
}

std::string zip_volume_label(int n) {
  // The 8.3 form "PKBACK# .001" without its dot, cut to a label's 11 characters.
  char text[32];
  std::snprintf(text, sizeof text, "PKBACK# .%03d", n);
  std::string label;
  for (const char* p = text; *p; ++p)
    if (*p != '.') label += *p;
  return label.substr(0, 11);
}

bool zipFileStatus(const std::string& path, ZipFileStatus* out) {
  auto facts = platform::file_facts(path);
  if (!facts) facts = platform::file_facts(path);
  if (!facts) return false;
  if (!out) return true;
  ZipFileStatus st;
  const int d = zipDriveOfPath(path);
  st.drive = d > 0 ? d - 1 : 0;
  st.mode = (facts->attributes & platform::kAttrDirectory) ? 0x41B6 : 0x81B6;
  st.links = 1;
  st.size = static_cast<std::uint32_t>(facts->size);
  // Through the DOS date and time, as the archive records them.
  std::int64_t t = zip_unix_time(zip_dos_time(facts->mtime));
  if (t < 0) {
    std::tm tm{};
    tm.tm_year = 80;
    tm.tm_mday = 1;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    t = static_cast<std::int64_t>(std::mktime(&tm));
  }
  st.access_time = st.write_time = st.create_time = t;
  *out = st;
  return true;
}

// --- disks ---

bool zipPrepareDisk(int drive, std::uint16_t multi_vol, int number, ZipState& s) {
  if (split(s)) return true;
  // Wiping or formatting never touches a fixed drive, whatever bit 7 allows.
  if ((multi_vol & 0x0703) && !zip_drive_removable(drive)) return false;
  const std::string minor = s.last_minor, major = s.last_major;
  const int minor_pct = s.minor_percent, major_pct = s.major_percent;
  bool ok = true;
  if (multi_vol & kMvFormat) {
    ok = zipFormatVolume(drive, (multi_vol & kMvLowDensity) != 0, s);
  } else if (multi_vol & kMvWipe) {
    const bool clear = (multi_vol & kMvWipeClearAttrs) != 0;
    ok = (multi_vol & kMvWipeAll) ? zipWipeVolume(drive, clear, s) : zipWipeRootFiles(zipDriveRoot(drive), clear, s);
  }
  zip_minor_status(s, minor.c_str(), 100, static_cast<std::uint64_t>(minor_pct));
  zip_major_status(s, major.c_str(), 100, major_pct);
  if (!ok) return false;
  if (set_disk_label(drive, zip_volume_label(number)) != 0) return false;
  s.part_limit = zipFreeSpace(zipDriveRoot(drive));
  return true;
}

bool zipWipeRootFiles(const std::string& root, bool clear_attributes, ZipState& s) {
  std::string folder = root;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  const int drive = zipDriveOfPath(folder);
  zip_minor_status(s, zip_format(zipMessageText(605, 2), {letter_of(drive > 0 ? drive : zip_current_drive())}).c_str(),
                   100, 100);
  bool ok = true;
  for (const platform::FoundFile& f : platform::list_files(folder + "*.*")) {
    if (f.attributes & platform::kAttrDirectory) continue;
    const std::string path = folder + f.name;
    std::uint32_t attrs = f.attributes;
    if (clear_attributes && (attrs & kProtecting)) {
      if (platform::file_set_attributes(path, attrs & ~kProtecting) == 0) attrs &= ~kProtecting;
    }
    if (attrs & kProtecting) continue;
    if (platform::file_delete(path) != 0) ok = false;
    if (zip_major_status(s, path.c_str(), 100, 100)) {
      s.cancel = true;
      return false;
    }
  }
  return ok;
}

bool zipWipeVolume(int drive, bool clear_attributes, ZipState& s) {
  const std::string root = zipDriveRoot(drive);
  std::vector<std::string> folders;
  gather_folders(root, clear_attributes, &folders);
  bool ok = true;
  for (const std::string& folder : folders) {
    if (!zipWipeRootFiles(folder, clear_attributes, s)) {
      if (s.cancel) return false;
      ok = false;
    }
    if (folder == root) continue;
    std::string path = folder.substr(0, folder.size() - 1);
    if (clear_attributes) {
      if (const auto f = platform::file_facts(path))
        platform::file_set_attributes(path, f->attributes & ~kProtecting & ~platform::kAttrDirectory);
    }
    if (platform::dir_remove(path) != 0) ok = false;
  }
  return ok;
}

bool zipTestVolumeWritable(int drive, const ZipState& s) {
  if ((s.multi_vol & kMvFormat) || split(s)) return true;
  std::string path;
  const int fd = zip_create_temp(zipDriveRoot(drive), static_cast<long>(::gettid()), &path);
  if (fd < 0) return false;
  const bool closed = platform::file_close(fd) == 0;
  return platform::file_delete(path) == 0 && closed;
}

void zipDismountVolume(int drive, const ZipState& s) {
  if (split(s) || !is_diskette(drive)) return;
  dismount(drive);
}

}  // namespace ziplib
