#include "vaslab/backup/floppy.h"

#include <string.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <new>
#include <vector>

#include "platform/diskette.h"
#include "platform/failure_cause.h"
#include "platform/le_bytes.h"

namespace vaslab {
namespace {

namespace dk = platform::diskette;

constexpr std::size_t kImageBytes = 16896;  // 33 sectors: the most a 1.44 MB disk needs
constexpr std::uint32_t kCylinders = 80;
constexpr std::uint32_t kHeads = 2;
constexpr int kMethodFormat = 1;
constexpr int kMethodErase = 2;
constexpr std::size_t kErrorTextMax = 40;
constexpr std::uint8_t kLabelAttribute = 0x28;  // volume label with the archive bit

struct DiskType {
  dk::MediaType media;
  std::uint32_t data_start;  // first data sector; also the image's sectors
  std::uint8_t sectors_per_cluster;
  std::uint16_t root_entries;
  std::uint16_t total_sectors;
  std::uint8_t descriptor;
  std::uint16_t sectors_per_fat;
  std::uint16_t sectors_per_track;
  std::uint32_t clusters;
  std::uint32_t fat2_at;
  std::uint32_t root_at;
};

constexpr DiskType k144{dk::MediaType::k35_1440K, 33, 1, 224, 2880, 0xF0, 9, 18, 2847, 5120, 9728};
constexpr DiskType k720{dk::MediaType::k35_720K, 14, 2, 112, 1440, 0xF9, 3, 9, 713, 2048, 3584};

// Boot sector fields.
constexpr std::size_t kBpbSectorsPerCluster = 13;
constexpr std::size_t kBpbRootEntries = 17;
constexpr std::size_t kBpbTotalSectors = 19;
constexpr std::size_t kBpbDescriptor = 21;
constexpr std::size_t kBpbSectorsPerFat = 22;
constexpr std::size_t kBpbSectorsPerTrack = 24;
constexpr std::size_t kBpbSerial = 39;
constexpr std::size_t kBootCode = 62;

// The boot sector of a diskette that holds no system: the loader tries one
// read of the disk, says "Disk error" when that fails and otherwise asks for
// the diskette to be removed, then restarts on a key.  Real-mode x86 loaded
// at 0000:7C00.
std::vector<std::uint8_t> boot_sector_template() {
  std::vector<std::uint8_t> b(512, 0);
  const std::uint8_t head[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'D', 'O', 'S', '5', '.', '0'};
  std::memcpy(b.data(), head, sizeof head);
  platform::put_u16le(&b[11], 512);
  b[13] = 1;
  platform::put_u16le(&b[14], 1);
  b[16] = 2;
  platform::put_u16le(&b[17], 224);
  platform::put_u16le(&b[19], 2880);
  b[21] = 0xF0;
  platform::put_u16le(&b[22], 9);
  platform::put_u16le(&b[24], 18);
  platform::put_u16le(&b[26], 2);
  b[38] = 0x29;
  std::memcpy(&b[43], "KORVANIBACK", 11);
  std::memcpy(&b[54], "FAT12   ", 8);

  static const char* const kTexts[] = {"Remove disks or other media.\r\n", "Disk error\r\n",
                                       "Press any key to restart\r\n"};
  constexpr std::size_t kCodeSize = 64;
  std::uint16_t at[3];
  std::size_t text_pos = kBootCode + kCodeSize;
  for (int i = 0; i < 3; ++i) {
    at[i] = static_cast<std::uint16_t>(0x7C00 + text_pos);
    const std::size_t n = std::strlen(kTexts[i]) + 1;
    std::memcpy(&b[text_pos], kTexts[i], n);
    text_pos += n;
  }
  const std::uint8_t code[kCodeSize] = {
      0xFA, 0x31, 0xC0, 0x8E, 0xD8, 0x8E, 0xD0, 0xBC, 0x00, 0x7C,  // cli; ds = ss = 0; sp = 7C00
      0xFB, 0x8E, 0xC0, 0xBB, 0x00, 0x7E,                          // sti; es = 0; bx = 7E00
      0xB8, 0x01, 0x02, 0xB9, 0x01, 0x00, 0x30, 0xF6, 0xCD, 0x13,  // read sector 1 of head 0
      0xBE, static_cast<std::uint8_t>(at[0]), static_cast<std::uint8_t>(at[0] >> 8),  // si = "Remove ..."
      0x73, 0x03,                                                  // jnc
      0xBE, static_cast<std::uint8_t>(at[1]), static_cast<std::uint8_t>(at[1] >> 8),  // si = "Disk error"
      0xE8, 0x0C, 0x00,                                            // call print
      0xBE, static_cast<std::uint8_t>(at[2]), static_cast<std::uint8_t>(at[2] >> 8),  // si = "Press any key"
      0xE8, 0x06, 0x00,                                            // call print
      0x30, 0xE4, 0xCD, 0x16, 0xCD, 0x19,                          // wait for a key; reboot
      0xAC, 0x08, 0xC0, 0x74, 0x09, 0xB4, 0x0E, 0xBB, 0x07, 0x00,  // print: lodsb; jz done; teletype
      0xCD, 0x10, 0xEB, 0xF2, 0xC3,                                // int 10h; loop; done: ret
  };
  std::memcpy(&b[kBootCode], code, kCodeSize);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

struct Layer {
  bool open = false;  // the volume is locked for this layer
  char drive = 'A';
  std::vector<std::uint8_t> image;
  const DiskType* type = &k144;
  int method = 0;
  int error = 0;  // 0 none, 1 failed, 2 media refused
  std::uint32_t cylinder = 0;
  char error_text[kErrorTextMax + 1] = "";
};
Layer g;

FloppyTime system_time() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm t{};
  gmtime_r(&tv.tv_sec, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(tv.tv_usec / 1000)};
}
FloppyTime (*g_now)() = system_time;

void close_device() {
  if (g.open) (void)dk::unlock_volume(g.drive);
  g.open = false;
}

void fail(int error, const char* tag) {
  floppy_error_text(static_cast<unsigned long>(error < 0 ? -error : error), tag);
  g.error = 1;
}

std::uint16_t fat_entry(const std::uint8_t* fat, std::uint32_t cluster) {
  const std::uint16_t v = platform::get_u16le(fat + cluster * 3 / 2);
  return cluster & 1 ? v >> 4 : v & 0x0FFF;
}

// Sets one 12-bit entry in the first FAT without disturbing the neighbour's
// nibble, and copies the two bytes to the second.
void set_fat_entry(std::uint32_t cluster, std::uint16_t value) {
  const std::size_t at = 512 + cluster * 3 / 2;
  std::uint16_t v = platform::get_u16le(&g.image[at]);
  v = cluster & 1 ? static_cast<std::uint16_t>((v & 0x000F) | (value << 4))
                  : static_cast<std::uint16_t>((v & 0xF000) | (value & 0x0FFF));
  platform::put_u16le(&g.image[at], v);
  const std::size_t copy = g.type->fat2_at + cluster * 3 / 2;
  g.image[copy] = g.image[at];
  g.image[copy + 1] = g.image[at + 1];
}


bool matches_disk_type() {
  const std::uint8_t* b = g.image.data();
  const DiskType& t = *g.type;
  for (std::size_t fat : {std::size_t{512}, std::size_t{t.fat2_at}})
    if (b[fat] != t.descriptor || b[fat + 1] != 0xFF || b[fat + 2] != 0xFF) return false;
  return b[kBpbSectorsPerCluster] == t.sectors_per_cluster &&
         platform::get_u16le(b + kBpbRootEntries) == t.root_entries &&
         platform::get_u16le(b + kBpbTotalSectors) == t.total_sectors && b[kBpbDescriptor] == t.descriptor &&
         platform::get_u16le(b + kBpbSectorsPerFat) == t.sectors_per_fat &&
         platform::get_u16le(b + kBpbSectorsPerTrack) == t.sectors_per_track;
}

int erase() {
  const int r = dk::read_sectors(g.drive, 0, g.type->data_start, g.image.data());
  if (r < 0) {
    fail(r, "QFSRD");
    return kFloppyFailed;
  }
  if (!matches_disk_type()) {
    close_device();
    return kFloppyWrongDiskType;
  }
  for (std::uint32_t c = 2; c < g.type->clusters + 2; ++c) {
    const std::uint16_t e = fat_entry(&g.image[512], c);
    if (e < 0xFF0 || e > 0xFF7) set_fat_entry(c, 0);
  }
  bool label_kept = false;
  for (std::uint32_t i = 0; i < g.type->root_entries; ++i) {
    std::uint8_t* entry = &g.image[g.type->root_at + i * 32];
    if (!label_kept && entry[11] == kLabelAttribute) {
      label_kept = true;
      continue;
    }
    std::memset(entry, 0, 32);
  }
  if (const int w = dk::write_sectors(g.drive, 0, g.type->data_start, g.image.data()); w < 0) {
    fail(w, "QFSWR");
    return kFloppyFailed;
  }
  return g.error ? kFloppyFailed : kFloppyOk;
}

// A sector of the data area that failed its read-back makes its cluster bad;
// one of the system area cannot be recorded.
bool record_bad_sector(std::uint32_t lba) {
  if (lba < g.type->data_start) return false;
  set_fat_entry((lba - g.type->data_start) / g.type->sectors_per_cluster + 2, 0xFF7);
  return true;
}

}  // namespace

const char* floppy_error_text(unsigned long error, const char* tag) {
  if (tag)
    std::snprintf(g.error_text, sizeof g.error_text, "%s:%lu:%s", tag, error, platform::error_text(static_cast<int>(error)));
  else
    std::snprintf(g.error_text, sizeof g.error_text, ":%lu:%s", error, platform::error_text(static_cast<int>(error)));
  return g.error_text;
}

const char* floppy_last_error() { return g.error_text; }

void floppy_set_time_source(FloppyTime (*now)()) { g_now = now ? now : system_time; }

int floppy_prepare(const char* request) {
  g.image.clear();
  g.image.shrink_to_fit();
  try {
    g.image = boot_sector_template();
    g.image.resize(kImageBytes, 0);
  } catch (const std::bad_alloc&) {
    return kFloppyNoMemory;
  }
  if (request == nullptr || std::strlen(request) < 3) return kFloppyBadRequest;
  const char drive = request[0], type = request[1], method = request[2];
  if ((drive != 'A' && drive != 'B') || (type != '1' && type != '7') || (method != 'F' && method != 'Q'))
    return kFloppyBadRequest;
  close_device();
  g.drive = drive;
  g.type = type == '1' ? &k144 : &k720;
  g.method = method == 'F' ? kMethodFormat : kMethodErase;
  const DiskType& t = *g.type;
  for (std::size_t fat : {std::size_t{512}, std::size_t{t.fat2_at}}) {
    g.image[fat] = t.descriptor;
    g.image[fat + 1] = g.image[fat + 2] = 0xFF;
  }
  g.image[kBpbSectorsPerCluster] = t.sectors_per_cluster;
  platform::put_u16le(&g.image[kBpbRootEntries], t.root_entries);
  platform::put_u16le(&g.image[kBpbTotalSectors], t.total_sectors);
  g.image[kBpbDescriptor] = t.descriptor;
  platform::put_u16le(&g.image[kBpbSectorsPerFat], t.sectors_per_fat);
  platform::put_u16le(&g.image[kBpbSectorsPerTrack], t.sectors_per_track);

  if (!dk::drive_present(drive)) return kFloppyNoDrive;
  g.cylinder = 0;
  g.error = 0;
  if (dk::lock_volume(drive) != 0) return kFloppyCannotOpen;
  g.open = true;

  if (g.method == kMethodFormat) {
    bool offered = false;
    for (const dk::Geometry& m : dk::media_types(drive)) offered |= m.media == t.media;
    if (!offered) {
      g.error = 2;
      return kFloppyMediaRefused;
    }
    return kFloppyOk;
  }
  return erase();
}

int floppy_format_track() {
  if (g.method != kMethodFormat) return 0;
  if (!g.open) {
    fail(EBADF, "OPENDRV");
    return -1;
  }
  if (g.cylinder >= kCylinders) return 0;
  const DiskType& t = *g.type;
  std::uint8_t sector[dk::kSectorSize];
  for (std::uint32_t head = 0; head < kHeads && !g.error; ++head) {
    if (const int r = dk::format_tracks(g.drive, t.media, g.cylinder, g.cylinder, head, head); r < 0) {
      fail(r, "FMT");
      break;
    }
    for (std::uint32_t s = 0; s < t.sectors_per_track && !g.error; ++s) {
      const std::uint32_t lba = (g.cylinder * kHeads + head) * t.sectors_per_track + s;
      const int r = dk::read_sectors(g.drive, lba, 1, sector);
      if (r < 0) {
        if (!record_bad_sector(lba)) fail(r, "FMTVERFS");
        continue;
      }
      bool filled = true;
      for (std::uint8_t byte : sector) filled &= byte == dk::kFormatFiller;
      if (!filled && !record_bad_sector(lba)) fail(EIO, "FMTVERDFS");
    }
  }
  ++g.cylinder;
  return g.error ? -1 : static_cast<int>(g.cylinder * 5 / 4 + 1);
}

int floppy_write_boot_sector() {
  if (!g.open) {
    g.image.clear();
    return 0;
  }
  // Only a diskette whose every cylinder was formatted and verified gets a
  // file system: a cancelled or failed format must not look usable.
  if (g.method == kMethodFormat && g.error == 0 && g.cylinder >= kCylinders) {
    const FloppyTime n = g_now();
    const std::uint32_t low = static_cast<std::uint32_t>(n.month * 256 + n.day + n.second * 256 + n.millisecond);
    const std::uint32_t high = static_cast<std::uint32_t>(n.hour * 256 + n.minute + n.year);
    platform::put_u32le(&g.image[kBpbSerial], (high << 16) | (low & 0xFFFF));
    std::uint8_t* label = &g.image[g.type->root_at];
    std::memcpy(label, "KORVANIBACK", 11);
    label[11] = kLabelAttribute;
    platform::put_u16le(label + 22, static_cast<std::uint16_t>(n.hour * 2048 + n.minute * 32 + n.second / 2));
    platform::put_u16le(label + 24, static_cast<std::uint16_t>((n.year - 1980) * 512 + n.month * 32 + n.day));
    if (const int w = dk::write_sectors(g.drive, 0, g.type->data_start, g.image.data()); w < 0) fail(w, "FSWR");
  }
  close_device();
  g.image.clear();
  return g.error ? -1 : 0;
}

}  // namespace vaslab
