// The diskette formatter: every cylinder of the chosen medium formatted
// through the drive's raw layer, then a boot sector, two empty FATs and an
// empty root written over it, all under the volume lock.
#include "platform/diskette.h"
#include "platform/le_bytes.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_format.h"
#include "ziplib/zip_state.h"

#include <sys/time.h>

#include <array>
#include <cstring>
#include <ctime>
#include <vector>

namespace ziplib {
namespace {

namespace dk = platform::diskette;
using dk::MediaType;

// The boot record's medium fields, written at offset 11.
struct Template {
  MediaType media;
  std::uint8_t sectors_per_cluster;
  std::uint16_t root_entries;
  std::uint16_t total_sectors;
  std::uint8_t descriptor;
  std::uint16_t sectors_per_fat;
  std::uint16_t sectors_per_track;
};

constexpr Template kTemplates[] = {
    {MediaType::k525_360K, 2, 112, 720, 0xFD, 2, 9},
    {MediaType::k35_720K, 2, 112, 1440, 0xF9, 3, 9},
    {MediaType::k525_1200K, 1, 224, 2400, 0xF9, 7, 15},
    {MediaType::k35_1440K, 1, 224, 2880, 0xF0, 9, 18},
    {MediaType::k35_2880K, 2, 240, 5760, 0xF0, 9, 36},
};

const Template* template_of(MediaType m) {
  for (const Template& t : kTemplates)
    if (t.media == m) return &t;
  return nullptr;
}

MediaType lower_density_of(MediaType m) {
  switch (m) {
    case MediaType::k525_1200K: return MediaType::k525_360K;
    case MediaType::k35_1440K: return MediaType::k35_720K;
    case MediaType::k35_2880K: return MediaType::k35_1440K;
    default: return m;
  }
}

// The last medium listed that holds more than the first, else the first;
// lower density takes the smaller medium of the same drive when it is listed.
std::optional<dk::Geometry> choose_medium(const std::vector<dk::Geometry>& list, bool lower_density) {
  if (list.empty()) return std::nullopt;
  dk::Geometry chosen = list.front();
  for (const dk::Geometry& g : list)
    if (g.capacity() > list.front().capacity()) chosen = g;
  if (lower_density) {
    const MediaType lower = lower_density_of(chosen.media);
    for (const dk::Geometry& g : list)
      if (g.media == lower) chosen = g;
  }
  return chosen;
}

std::uint32_t serial_now() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  std::tm tm{};
  const time_t t = tv.tv_sec;
  ::localtime_r(&t, &tm);
  return zip_format_serial(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                           static_cast<int>(tv.tv_usec / 1000));
}

std::array<std::uint8_t, 512> boot_sector(const Template& t, const dk::Geometry& g, std::uint32_t serial) {
  std::array<std::uint8_t, 512> b;
  std::memcpy(b.data(), zip_boot_sector_image(), b.size());
  std::uint8_t* p = b.data() + 11;
  platform::put_u16le(p, 512);
  p[2] = t.sectors_per_cluster;
  platform::put_u16le(p + 3, 1);
  p[5] = 2;
  platform::put_u16le(p + 6, t.root_entries);
  platform::put_u16le(p + 8, static_cast<std::uint16_t>(g.heads * g.sectors_per_track * g.cylinders));
  p[10] = t.descriptor;
  platform::put_u16le(p + 11, t.sectors_per_fat);
  platform::put_u16le(p + 13, static_cast<std::uint16_t>(g.sectors_per_track));
  platform::put_u16le(p + 15, static_cast<std::uint16_t>(g.heads));
  platform::put_u32le(p + 17, 0);
  platform::put_u32le(p + 21, 0);
  std::uint8_t* x = b.data() + 36;
  x[0] = 0;
  x[1] = 0;
  x[2] = 0x29;
  platform::put_u32le(x + 3, serial);
  std::memcpy(x + 7, "ARCLYNX_200", 11);
  std::memcpy(x + 18, "FAT12   ", 8);
  return b;
}

bool format_locked(char letter, bool lower_density, ZipState& s) {
  const auto medium = choose_medium(dk::media_types(letter), lower_density);
  if (!medium) return false;
  const Template* t = template_of(medium->media);
  if (!t) return false;
  const std::string drive_text = zip_format(zipMessageText(603, 2), {letter});
  for (std::uint32_t cyl = 0; cyl < medium->cylinders; ++cyl) {
    zip_minor_status(s, drive_text.c_str(), 100, 100);
    const std::string cyl_text = zip_format(zipMessageText(604, 2), {static_cast<int>(cyl)});
    if (zip_major_status(s, cyl_text.c_str(), static_cast<std::int32_t>(medium->cylinders - 1),
                         static_cast<std::int32_t>(cyl))) {
      s.cancel = true;
      return false;
    }
    if (dk::format_tracks(letter, medium->media, cyl, cyl, 0, medium->heads - 1) != 0) return false;
  }
  zip_major_status(s, zipMessageText(606, 2), 0, 0);
  const auto boot = boot_sector(*t, *medium, serial_now());
  if (dk::write_sectors(letter, 0, 1, boot.data()) != 0) return false;
  // Every sector of the root's entries is cleared, the last one too when the
  // entries fill it only in part.
  const std::uint32_t root_sectors = (t->root_entries * 32u + 511u) / 512u;
  const std::uint32_t fat_sectors = t->sectors_per_fat;
  std::vector<std::uint8_t> tables((2 * fat_sectors + root_sectors) * 512u, 0);
  // The boot record's label stands in the root as well: a diskette whose two
  // labels differ is a damaged file system to the checkers.
  std::uint8_t* label = tables.data() + 2 * fat_sectors * 512u;
  std::memcpy(label, "ARCLYNX_200", 11);
  label[11] = 0x08;
  const std::uint32_t now = zip_dos_time(static_cast<std::int64_t>(std::time(nullptr)));
  platform::put_u16le(label + 22, static_cast<std::uint16_t>(now));
  platform::put_u16le(label + 24, static_cast<std::uint16_t>(now >> 16));
  for (std::uint32_t copy = 0; copy < 2; ++copy) {
    std::uint8_t* fat = tables.data() + copy * fat_sectors * 512u;
    fat[0] = t->descriptor;
    fat[1] = 0xFF;
    fat[2] = 0xFF;
  }
  for (std::uint32_t i = 0; i < tables.size() / 512u; ++i)
    if (dk::write_sectors(letter, 1 + i, 1, tables.data() + i * 512u) != 0) return false;
  return true;
}

}  // namespace

std::uint32_t zip_format_serial(int year, int month, int day, int hour, int millisecond) {
  const std::uint32_t high = static_cast<std::uint32_t>(year + 1024 * hour) & 0xFFFF;
  const std::uint32_t low = static_cast<std::uint32_t>(32 * month + day + millisecond / 10) & 0xFFFF;
  return high << 16 | low;
}

bool zipFormatVolume(int drive, bool lower_density, ZipState& s) {
  if (drive == 0) drive = zip_current_drive();
  if (drive != 1 && drive != 2) return false;
  const char letter = static_cast<char>('A' + drive - 1);
  if (dk::lock_volume(letter) != 0) return false;
  const bool ok = format_locked(letter, lower_density, s);
  // What was cached of the old diskette is gone either way.
  dk::dismount_volume(letter);
  const bool unlocked = dk::unlock_volume(letter) == 0;
  return ok && unlocked;
}

}  // namespace ziplib
