// The parts of the FAT12 layer, shared by its three files and by nothing
// else (diskette.h is the layer's interface):
// - fat12_chains.cpp: the volume as read from the boot sector, the FAT
//   kept in memory and written back in order, cluster chains and the data
//   they hold, which entries hold them, and the giving back of what a killed
//   writer left;
// - fat12_entries.cpp: 8.3 names, DOS times, folders and their entries, and
//   the walk from a path to its folder;
// - fat12.cpp: the calls of diskette.h on top of them, with the open files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/diskette.h"

namespace platform::diskette::fat {

constexpr std::uint32_t kEntrySize = 32;
constexpr std::uint32_t kEntriesPerSector = kSectorSize / kEntrySize;
constexpr std::uint8_t kAttrLongName = 0x0F;
constexpr std::uint8_t kAttrSettable = 0x27;  // read-only, hidden, system, archive
constexpr std::uint8_t kFree = 0x00;          // this and every later entry unused
constexpr std::uint8_t kDeleted = 0xE5;
constexpr std::uint8_t kLowerBase = 0x08;
constexpr std::uint8_t kLowerExtension = 0x10;
constexpr std::uint16_t kEndOfChain = 0xFFF;
constexpr std::uint16_t kFirstEndMark = 0xFF8;
constexpr std::uint16_t kFirstReserved = 0xFF0, kBadCluster = 0xFF7;
constexpr std::uint32_t kMaxFatClusters = 4084;  // beyond this it would be FAT16
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;

// Directory entry fields.
constexpr std::size_t kEntName = 0, kEntAttr = 11, kEntCase = 12, kEntCTime = 14, kEntCDate = 16,
                      kEntADate = 18, kEntClusterHigh = 20, kEntMTime = 22, kEntMDate = 24, kEntCluster = 26,
                      kEntSize = 28;
// Boot sector fields.
constexpr std::size_t kBsBytesPerSector = 11, kBsSectorsPerCluster = 13, kBsReserved = 14, kBsFats = 16,
                      kBsRootEntries = 17, kBsTotal16 = 19, kBsFatSectors = 22, kBsTotal32 = 32,
                      kBsExtSignature = 38, kBsLabel = 43;
constexpr std::uint8_t kExtSignature = 0x29;

// --- The volume, its FAT and chains (fat12_chains.cpp) ----------------------

struct Volume {
  std::uint64_t generation = 0;  // the drive's when read; 0: read again
  std::uint32_t sectors_per_cluster = 0, fats = 0, fat_sectors = 0, fat_start = 0;
  std::uint32_t root_start = 0, root_sectors = 0, data_start = 0, clusters = 0;
  std::vector<std::uint8_t> fat;  // the first copy
  std::vector<bool> dirty;        // FAT sectors changed since written
  // Kept with every change of the FAT, so that writing a file cluster by
  // cluster does not count and search the whole FAT each time.
  std::uint32_t free = 0;
  std::uint32_t lowest_free = 2;  // no free cluster lies below
  bool reclaimed = false;         // lost clusters looked for
  // Clusters taken since the FAT was last written, and those among the
  // others that ended a chain and now lead on to such clusters.
  std::vector<bool> taken;
  std::vector<std::uint16_t> new_links;
  std::uint32_t cluster_bytes() const { return sectors_per_cluster * kSectorSize; }
};
extern Volume g_vol;

// Reads the layout and the FAT unless the drive's generation is the one
// read; forget_volume() has the next call read them again.
int load_volume();
void forget_volume();
// Gives back, once per diskette read, what a killed writer left.
int reclaim_once();

std::uint32_t cluster_lba(std::uint16_t c);
std::uint16_t fat_get(std::uint32_t c);
void fat_set(std::uint32_t c, std::uint16_t value);
int flush_fat();
std::uint32_t free_clusters();

int chain_of(std::uint16_t first, std::vector<std::uint16_t>& out);
int extend_chain(std::vector<std::uint16_t>& chain, std::uint32_t n);
void cut_chain(const std::vector<std::uint16_t>& chain, std::size_t keep);
int chain_io(const std::vector<std::uint16_t>& chain, std::uint64_t offset, std::size_t n, std::uint8_t* out,
             const std::uint8_t* in);
int zero_fill(const std::vector<std::uint16_t>& chain, std::uint64_t offset, std::uint64_t n);
int zero_cluster(std::uint16_t c);

// Whether an entry's length runs past the end of its chain (a damaged disk).
bool overruns_chain(std::uint64_t size, std::size_t clusters);

// --- Names, times and folders (fat12_entries.cpp) ---------------------------

struct ShortName {
  std::array<std::uint8_t, 11> raw{};
  std::uint8_t case_flags = 0;
};

int short_name(std::string_view name, ShortName& out);
std::string trimmed(const std::uint8_t* p, std::size_t n, bool lower);
std::string display_name(const std::uint8_t* e);
std::int64_t unix_time(std::uint16_t date, std::uint16_t time);
void stamp(std::uint8_t* e, std::int64_t when, bool created);
std::int64_t now();

enum class Kind { kEnd, kUnused, kLongName, kLabel, kFile, kFolder };
Kind kind_of(const std::uint8_t* e);
bool is_dot_entry(const std::uint8_t* e);
std::uint16_t first_cluster(const std::uint8_t* e);

// A folder's entries as they lie on the disk.
struct Dir {
  std::uint16_t cluster = 0;  // 0: the root
  std::vector<std::uint32_t> sectors;
  std::vector<std::uint8_t> bytes;
  std::size_t count() const { return bytes.size() / kEntrySize; }
  std::uint8_t* entry(std::size_t i) { return bytes.data() + i * kEntrySize; }
  std::uint32_t lba_of(std::size_t i) const { return sectors[i / kEntriesPerSector]; }
};

int load_dir(std::uint16_t cluster, Dir& d);
int store_entry(Dir& d, std::size_t i);
long find_entry(Dir& d, const ShortName& n);
int add_entry(Dir& d, const ShortName& n, std::uint8_t attr, std::uint16_t first, std::size_t& slot);
int drop_entry(Dir& d, std::size_t i);
int delete_entry(Dir& d, std::size_t i);

int split_path(std::string_view win_path, std::vector<std::string>& parts);
// Loads into `d` the folder its entry i names, unless that is one of the
// folders in `seen` (those passed on the way down, the root's 0 first).
int enter_folder(Dir& d, std::size_t i, std::vector<std::uint16_t>& seen);
int walk(const std::vector<std::string>& parts, std::size_t n, Dir& d);

// The folder holding a path's last component, that component's 8.3 form
// and its index there (-1 when missing).
struct Located {
  Dir dir;
  ShortName name;
  long index = -1;
};
int locate(std::string_view win_path, Located& at);

// 0 when no entry on the volume but entry i of `d` reaches a cluster of
// `chain` (its clusters), so that changing them changes that file alone.
// Else -EIO, with a note of which entry shares them, or the error that kept
// a folder from being read.  (fat12_chains.cpp, beside the lost-cluster
// pass that walks the same way.)
int held_by_no_other(const std::vector<std::uint16_t>& chain, Dir& d, std::size_t i);

// --- Kept by the calls (fat12.cpp) ------------------------------------------

// Whether an open file holds clusters that only memory knows of.
bool any_pending();

}  // namespace platform::diskette::fat
