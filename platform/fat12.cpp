// Files on drive A:: a FAT12 file system of the project's own over the
// diskette's sectors, so that what the program writes is a diskette any
// other system reads.
//
// Order of writes: new data first, then (after a sync) both FAT copies,
// then (after another) the directory entry.  Space given back goes the other
// way: the entry stops pointing at the clusters before the FAT frees them.
// A write torn by a crash or a failing sector so leaves at worst lost
// clusters, never an entry that points at clusters holding something else;
// the first change of the diskette gives them back (see "Lost clusters").
//
// A file being written keeps its new clusters and length in memory (the
// node is pending) and commits them when it is closed or flushed: one round
// of syncs per file instead of one per write.  Any FAT write syncs the data
// first, so that another file's commit never puts out a chain whose data is
// still on its way.
//
// What is read of the disk (the boot sector's layout and the FAT) is kept
// until the drive's generation moves on.  A failed update puts the memory
// back as it was, or forgets it so that the next call reads the disk as it
// really is; never while a pending file owns clusters that only memory
// knows of, as they would read as free.
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/debug.h"
#include "platform/diskette.h"
#include "platform/diskette_drive.h"
#include "platform/dos_time.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"

namespace platform::diskette {
namespace {

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
Volume g_vol;

// One open file; handles of one file share it so they agree on its size.
struct Node {
  std::uint32_t entry_lba = 0, entry_slot = 0;  // where its directory entry lies
  std::uint16_t first = 0;
  std::uint32_t size = 0;
  bool modified = false;
  bool pending = false;  // first and size are ahead of the entry on the disk
  std::vector<std::uint16_t> chain;  // its clusters, once read
  bool chain_read = false;
};

struct Handle {
  std::shared_ptr<Node> node;
  std::uint64_t pos = 0;
  bool readable = false, writable = false, append = false;
  std::uint64_t generation = 0;  // of the diskette it was opened on
};
std::vector<std::optional<Handle>> g_handles;

// --- Volume -----------------------------------------------------------------

bool any_pending();

void forget_volume() {
  if (!any_pending()) g_vol.generation = 0;
}

std::uint16_t fat_get(std::uint32_t c);

int load_volume() {
  const std::uint64_t gen = detail::generation();
  if (g_vol.generation == gen) return 0;
  g_vol = Volume{};
  std::uint8_t b[kSectorSize];
  if (const int e = detail::read(0, 1, b)) return e;
  Volume v;
  v.sectors_per_cluster = get_u8(b + kBsSectorsPerCluster);
  v.fats = get_u8(b + kBsFats);
  v.fat_sectors = get_u16le(b + kBsFatSectors);
  v.fat_start = get_u16le(b + kBsReserved);
  const std::uint32_t root_entries = get_u16le(b + kBsRootEntries);
  std::uint32_t total = get_u16le(b + kBsTotal16);
  if (total == 0) total = get_u32le(b + kBsTotal32);
  const std::uint32_t spc = v.sectors_per_cluster;
  if (get_u16le(b + kBsBytesPerSector) != kSectorSize || spc == 0 || (spc & (spc - 1)) != 0 ||
      v.fat_start == 0 || v.fats == 0 || v.fats > 2 || v.fat_sectors == 0 || root_entries == 0)
    return -EMEDIUMTYPE;
  v.root_start = v.fat_start + v.fats * v.fat_sectors;
  v.root_sectors = (root_entries * kEntrySize + kSectorSize - 1) / kSectorSize;
  v.data_start = v.root_start + v.root_sectors;
  if (total <= v.data_start || std::uint64_t{total} * kSectorSize > detail::medium_bytes()) return -EMEDIUMTYPE;
  v.clusters = (total - v.data_start) / spc;
  // Every cluster needs its 12 bits in the FAT, and FAT12 stops at 4084.
  if (v.clusters == 0 || v.clusters > kMaxFatClusters ||
      (std::uint64_t{v.clusters} + 2) * 3 / 2 + 1 > std::uint64_t{v.fat_sectors} * kSectorSize)
    return -EMEDIUMTYPE;
  v.fat.resize(std::size_t{v.fat_sectors} * kSectorSize);
  if (const int e = detail::read(v.fat_start, v.fat_sectors, v.fat.data())) return e;
  v.dirty.assign(v.fat_sectors, false);
  v.taken.assign(v.clusters + 2, false);
  v.generation = gen;
  g_vol = std::move(v);
  for (std::uint32_t c = g_vol.clusters + 1; c >= 2; --c)
    if (fat_get(c) == 0) {
      ++g_vol.free;
      g_vol.lowest_free = c;
    }
  return 0;
}

bool valid_cluster(std::uint32_t c) { return c >= 2 && c < g_vol.clusters + 2; }
std::uint32_t cluster_lba(std::uint16_t c) { return g_vol.data_start + (c - 2u) * g_vol.sectors_per_cluster; }

std::uint16_t fat_get(std::uint32_t c) {
  const std::size_t at = c + c / 2;
  const std::uint16_t v = get_u16le(g_vol.fat.data() + at);
  return (c & 1) ? static_cast<std::uint16_t>(v >> 4) : static_cast<std::uint16_t>(v & 0xFFF);
}

// Puts a cluster's 12 bits into a FAT image; the sectors they touch are
// marked in `dirty`.
void put_fat(std::vector<std::uint8_t>& fat, std::uint32_t c, std::uint16_t value) {
  const std::size_t at = c + c / 2;
  std::uint16_t v = get_u16le(fat.data() + at);
  v = (c & 1) ? static_cast<std::uint16_t>((v & 0x000F) | (value << 4))
              : static_cast<std::uint16_t>((v & 0xF000) | (value & 0xFFF));
  put_u16le(fat.data() + at, v);
  g_vol.dirty[at / kSectorSize] = true;
  g_vol.dirty[(at + 1) / kSectorSize] = true;
}

void fat_set(std::uint32_t c, std::uint16_t value) {
  const bool was_free = fat_get(c) == 0, now_free = (value & 0xFFF) == 0;
  if (was_free && !now_free) --g_vol.free;
  if (!was_free && now_free) {
    ++g_vol.free;
    g_vol.lowest_free = std::min(g_vol.lowest_free, c);
  }
  put_fat(g_vol.fat, c, value);
}

// Writes the sectors marked in `dirty` from a FAT image to every copy.
int write_fat_sectors(const std::vector<std::uint8_t>& fat) {
  for (std::uint32_t s = 0; s < g_vol.fat_sectors; ++s) {
    if (!g_vol.dirty[s]) continue;
    for (std::uint32_t copy = 0; copy < g_vol.fats; ++copy)
      if (const int e = detail::write(g_vol.fat_start + copy * g_vol.fat_sectors + s, 1,
                                      fat.data() + std::size_t{s} * kSectorSize))
        return e;
    g_vol.dirty[s] = false;
  }
  return 0;
}

// Writes the changed FAT sectors to every copy, once the data they may
// point at is on the medium.  A chain's old end leads on to its new
// clusters only once they are taken on the disk (first its sectors go out
// with that end unchanged, then again with the link): sectors go out in
// the order of the disk, and a kill between two must leave lost clusters at
// worst, never a chain that runs into free ones.
int flush_fat() {
  if (std::find(g_vol.dirty.begin(), g_vol.dirty.end(), true) == g_vol.dirty.end() && g_vol.new_links.empty())
    return 0;
  if (const int e = detail::sync()) return e;
  if (!g_vol.new_links.empty()) {
    std::vector<std::uint8_t> ends = g_vol.fat;
    for (std::uint16_t c : g_vol.new_links) put_fat(ends, c, kEndOfChain);
    if (const int e = write_fat_sectors(ends)) return e;
    if (const int e = detail::sync()) return e;
    for (std::uint16_t c : g_vol.new_links) put_fat(g_vol.fat, c, fat_get(c));  // marks their sectors again
    g_vol.new_links.clear();
  }
  if (const int e = write_fat_sectors(g_vol.fat)) return e;
  std::fill(g_vol.taken.begin(), g_vol.taken.end(), false);
  return 0;
}

// The clusters of a file from its first; a loop, a free or out-of-range
// link is a damaged disk.
int chain_of(std::uint16_t first, std::vector<std::uint16_t>& out) {
  out.clear();
  if (first == 0) return 0;
  for (std::uint32_t c = first;;) {
    if (!valid_cluster(c) || out.size() >= g_vol.clusters) return -EIO;
    out.push_back(static_cast<std::uint16_t>(c));
    const std::uint16_t next = fat_get(c);
    if (next >= kFirstEndMark) return 0;
    c = next;
  }
}

std::uint32_t free_clusters() { return g_vol.free; }

// Adds `n` free clusters, the lowest first, to the end of `chain` in the FAT
// kept in memory; nothing changes when there are not enough.
int extend_chain(std::vector<std::uint16_t>& chain, std::uint32_t n) {
  if (n > g_vol.free) return -ENOSPC;
  std::vector<std::uint16_t> got;
  std::uint32_t c = g_vol.lowest_free;
  for (; c < g_vol.clusters + 2 && got.size() < n; ++c)
    if (fat_get(c) == 0) got.push_back(static_cast<std::uint16_t>(c));
  if (got.size() < n) return -ENOSPC;
  g_vol.lowest_free = got.empty() ? g_vol.lowest_free : got.back() + 1u;
  if (!chain.empty() && !got.empty() && !g_vol.taken[chain.back()]) g_vol.new_links.push_back(chain.back());
  for (std::uint16_t c : got) {
    g_vol.taken[c] = true;
    if (!chain.empty()) fat_set(chain.back(), c);
    fat_set(c, kEndOfChain);
    chain.push_back(c);
  }
  return 0;
}

// Ends the chain after its first `keep` clusters and frees the rest.
void cut_chain(const std::vector<std::uint16_t>& chain, std::size_t keep) {
  if (keep > 0 && keep <= chain.size()) fat_set(chain[keep - 1], kEndOfChain);
  for (std::size_t i = keep; i < chain.size(); ++i) fat_set(chain[i], 0);
}

// Reads `n` bytes at `offset` of the data that `chain` holds into `out`,
// or, with `out` null, writes them from `in`.
int chain_io(const std::vector<std::uint16_t>& chain, std::uint64_t offset, std::size_t n, std::uint8_t* out,
             const std::uint8_t* in) {
  std::uint8_t sector[kSectorSize];
  while (n > 0) {
    const std::uint64_t index = offset / g_vol.cluster_bytes();
    if (index >= chain.size()) return -EIO;
    const std::uint32_t within = static_cast<std::uint32_t>(offset % g_vol.cluster_bytes());
    const std::uint32_t lba = cluster_lba(chain[index]) + within / kSectorSize;
    const std::uint32_t at = within % kSectorSize;
    const std::size_t take = std::min<std::size_t>(n, kSectorSize - at);
    if (!out && take == kSectorSize) {
      if (const int e = detail::write(lba, 1, in)) return e;
    } else {
      if (const int e = detail::read(lba, 1, sector)) return e;
      if (out) {
        std::memcpy(out, sector + at, take);
        out += take;
      } else {
        std::memcpy(sector + at, in, take);
        if (const int e = detail::write(lba, 1, sector)) return e;
      }
    }
    if (!out) in += take;
    offset += take;
    n -= take;
  }
  return 0;
}

int zero_fill(const std::vector<std::uint16_t>& chain, std::uint64_t offset, std::uint64_t n) {
  std::vector<std::uint8_t> zeros(kSectorSize, 0);
  while (n > 0) {
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, kSectorSize));
    if (const int e = chain_io(chain, offset, take, nullptr, zeros.data())) return e;
    offset += take;
    n -= take;
  }
  return 0;
}

int zero_cluster(std::uint16_t c) {
  const std::vector<std::uint8_t> zeros(g_vol.cluster_bytes(), 0);
  return detail::write(cluster_lba(c), g_vol.sectors_per_cluster, zeros.data());
}

// --- Names and times ----------------------------------------------------------

struct ShortName {
  std::array<std::uint8_t, 11> raw{};
  std::uint8_t case_flags = 0;
};

bool allowed_in_name(unsigned char ch) {
  if (std::isalnum(ch)) return true;
  return std::strchr("!#$%&'()-@^_`{}~", ch) != nullptr && ch != 0;
}

// "span.zip" -> "SPAN    ZIP" with both lower-case flags.  Names that are
// not 8.3 are refused: this layer writes no long-name entries.
int short_name(std::string_view name, ShortName& out) {
  const std::size_t dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  const std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  if (base.empty()) return -EINVAL;
  if (base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string_view::npos) return -ENAMETOOLONG;
  out = ShortName{};
  out.raw.fill(' ');
  auto fill = [&](std::string_view part, std::size_t at, std::uint8_t lower_flag) {
    bool lower = false, upper = false;
    for (std::size_t i = 0; i < part.size(); ++i) {
      const auto ch = static_cast<unsigned char>(part[i]);
      if (!allowed_in_name(ch)) return false;
      lower |= std::islower(ch) != 0;
      upper |= std::isupper(ch) != 0;
      out.raw[at + i] = static_cast<std::uint8_t>(std::toupper(ch));
    }
    if (lower && !upper) out.case_flags |= lower_flag;
    return true;
  };
  if (!fill(base, 0, kLowerBase) || !fill(ext, 8, kLowerExtension)) return -EINVAL;
  return 0;
}

std::string trimmed(const std::uint8_t* p, std::size_t n, bool lower) {
  std::string s(reinterpret_cast<const char*>(p), n);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (lower)
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::string display_name(const std::uint8_t* e) {
  std::uint8_t raw[11];
  std::memcpy(raw, e + kEntName, 11);
  if (raw[0] == 0x05) raw[0] = kDeleted;  // a name that really begins with 0xE5
  std::string name = trimmed(raw, 8, e[kEntCase] & kLowerBase);
  const std::string ext = trimmed(raw + 8, 3, e[kEntCase] & kLowerExtension);
  if (!ext.empty()) name += "." + ext;
  return name;
}

std::int64_t unix_time(std::uint16_t date, std::uint16_t time) {
  return date == 0 ? 0 : unix_time_of_dos(std::uint32_t{date} << 16 | time);
}

void stamp(std::uint8_t* e, std::int64_t when, bool created) {
  const std::uint32_t dos = dos_time(when);
  const auto date = static_cast<std::uint16_t>(dos >> 16), time = static_cast<std::uint16_t>(dos);
  put_u16le(e + kEntMTime, time);
  put_u16le(e + kEntMDate, date);
  put_u16le(e + kEntADate, date);
  if (created) {
    put_u16le(e + kEntCTime, time);
    put_u16le(e + kEntCDate, date);
  }
}

std::int64_t now() { return static_cast<std::int64_t>(::time(nullptr)); }

// --- Folders ------------------------------------------------------------------

enum class Kind { kEnd, kUnused, kLongName, kLabel, kFile, kFolder };

Kind kind_of(const std::uint8_t* e) {
  if (e[0] == kFree) return Kind::kEnd;
  if (e[0] == kDeleted) return Kind::kUnused;
  if ((e[kEntAttr] & 0x3F) == kAttrLongName) return Kind::kLongName;
  if (e[kEntAttr] & kAttrVolume) return Kind::kLabel;
  return (e[kEntAttr] & kAttrDirectory) ? Kind::kFolder : Kind::kFile;
}

bool is_dot_entry(const std::uint8_t* e) { return e[0] == '.'; }

std::uint16_t first_cluster(const std::uint8_t* e) { return get_u16le(e + kEntCluster); }

// A folder's entries as they lie on the disk.
struct Dir {
  std::uint16_t cluster = 0;  // 0: the root
  std::vector<std::uint32_t> sectors;
  std::vector<std::uint8_t> bytes;
  std::size_t count() const { return bytes.size() / kEntrySize; }
  std::uint8_t* entry(std::size_t i) { return bytes.data() + i * kEntrySize; }
  std::uint32_t lba_of(std::size_t i) const { return sectors[i / kEntriesPerSector]; }
};

int load_dir(std::uint16_t cluster, Dir& d) {
  d = Dir{};
  d.cluster = cluster;
  if (cluster == 0) {
    for (std::uint32_t s = 0; s < g_vol.root_sectors; ++s) d.sectors.push_back(g_vol.root_start + s);
  } else {
    std::vector<std::uint16_t> chain;
    if (const int e = chain_of(cluster, chain)) return e;
    for (std::uint16_t c : chain)
      for (std::uint32_t s = 0; s < g_vol.sectors_per_cluster; ++s) d.sectors.push_back(cluster_lba(c) + s);
  }
  d.bytes.resize(d.sectors.size() * kSectorSize);
  for (std::size_t s = 0; s < d.sectors.size(); ++s)
    if (const int e = detail::read(d.sectors[s], 1, d.bytes.data() + s * kSectorSize)) return e;
  return 0;
}

int store_entry(Dir& d, std::size_t i) {
  const std::size_t s = i / kEntriesPerSector;
  return detail::write(d.sectors[s], 1, d.bytes.data() + s * kSectorSize);
}

// The index of the file or folder named `n`, or -1.
long find_entry(Dir& d, const ShortName& n) {
  for (std::size_t i = 0; i < d.count(); ++i) {
    std::uint8_t* e = d.entry(i);
    const Kind k = kind_of(e);
    if (k == Kind::kEnd) break;
    if (k != Kind::kFile && k != Kind::kFolder) continue;
    std::uint8_t first = e[0] == 0x05 ? kDeleted : e[0];
    if (first == n.raw[0] && std::memcmp(e + 1, n.raw.data() + 1, 10) == 0) return static_cast<long>(i);
  }
  return -1;
}

// A free slot of the folder, growing a subfolder by a zeroed cluster when
// it is full; the root cannot grow.
int free_slot(Dir& d, std::size_t& slot) {
  for (std::size_t i = 0; i < d.count(); ++i) {
    const Kind k = kind_of(d.entry(i));
    if (k == Kind::kEnd || k == Kind::kUnused) {
      slot = i;
      return 0;
    }
  }
  if (d.cluster == 0) return -ENOSPC;
  std::vector<std::uint16_t> chain;
  if (const int e = chain_of(d.cluster, chain)) return e;
  if (const int e = extend_chain(chain, 1)) return e;
  int e = zero_cluster(chain.back());
  if (!e) e = flush_fat();
  if (e) {
    cut_chain(chain, chain.size() - 1);
    return e;
  }
  slot = d.count();
  for (std::uint32_t s = 0; s < g_vol.sectors_per_cluster; ++s) d.sectors.push_back(cluster_lba(chain.back()) + s);
  d.bytes.resize(d.sectors.size() * kSectorSize, 0);
  return 0;
}

int add_entry(Dir& d, const ShortName& n, std::uint8_t attr, std::uint16_t first, std::size_t& slot) {
  if (const int e = free_slot(d, slot)) return e;
  std::uint8_t* e = d.entry(slot);
  std::memset(e, 0, kEntrySize);
  std::memcpy(e + kEntName, n.raw.data(), 11);
  if (e[0] == kDeleted) e[0] = 0x05;
  e[kEntAttr] = attr;
  e[kEntCase] = n.case_flags;
  stamp(e, now(), true);
  put_u16le(e + kEntCluster, first);
  return store_entry(d, slot);
}

// Marks entry i unused with the long-name entries that lead up to it.
int drop_entry(Dir& d, std::size_t i) {
  d.entry(i)[0] = kDeleted;
  std::size_t low = i;
  while (low > 0 && kind_of(d.entry(low - 1)) == Kind::kLongName) d.entry(--low)[0] = kDeleted;
  for (std::size_t s = low / kEntriesPerSector; s <= i / kEntriesPerSector; ++s)
    if (const int e = store_entry(d, s * kEntriesPerSector)) return e;
  return 0;
}

// Removes a file or folder: its entry goes first, then its clusters.
int delete_entry(Dir& d, std::size_t i) {
  std::vector<std::uint16_t> chain;
  int r = chain_of(first_cluster(d.entry(i)), chain);
  if (!r) r = drop_entry(d, i);
  if (!r) {
    cut_chain(chain, 0);
    r = flush_fat();
  }
  if (r) forget_volume();
  return r;
}

// A path on A: split into its components, "." and ".." worked out.
int split_path(std::string_view win_path, std::vector<std::string>& parts) {
  if (!on_diskette(win_path)) return -ENODEV;
  parts = path_components(win_path);
  return 0;
}

// Loads the folder named by the first `n` components.  A folder entry that
// leads back to a folder of the path (a damaged disk) is -ELOOP: a caller
// that walks the tree would otherwise go round for ever.
int walk(const std::vector<std::string>& parts, std::size_t n, Dir& d) {
  if (const int e = load_dir(0, d)) return e;
  std::vector<std::uint16_t> seen{0};
  for (std::size_t i = 0; i < n; ++i) {
    ShortName sn;
    if (const int e = short_name(parts[i], sn)) return e;
    const long at = find_entry(d, sn);
    if (at < 0) return -ENOENT;
    if (kind_of(d.entry(at)) != Kind::kFolder) return -ENOTDIR;
    const std::uint16_t cluster = first_cluster(d.entry(at));
    if (std::find(seen.begin(), seen.end(), cluster) != seen.end()) return -ELOOP;
    seen.push_back(cluster);
    if (const int e = load_dir(cluster, d)) return e;
  }
  return 0;
}

// The folder holding a path's last component, that component's 8.3 form
// and its index there (-1 when missing).
struct Located {
  Dir dir;
  ShortName name;
  long index = -1;
};

int locate(std::string_view win_path, Located& at) {
  std::vector<std::string> parts;
  if (const int e = split_path(win_path, parts)) return e;
  if (parts.empty()) return -EISDIR;  // the root itself
  if (const int e = walk(parts, parts.size() - 1, at.dir)) return e;
  if (const int e = short_name(parts.back(), at.name)) return e;
  at.index = find_entry(at.dir, at.name);
  return 0;
}

// --- Lost clusters ----------------------------------------------------------------
// A writer killed between the FAT and the directory entry leaves clusters
// that the FAT holds and no entry owns, or a file's chain running on past
// its length, and the FAT copies may differ; the space would be gone for
// good.  Before the first change of a diskette it is given back, while no
// other program has the disk open (one may be between its own FAT and
// entry).  Anything that does not add up (an unreadable folder, a chain
// that breaks, loops or is shared, a file longer than its chain) leaves the
// disk as it is: what is not understood is not touched.

bool is_dot_name(const std::uint8_t* e) {
  return std::memcmp(e, ".          ", 11) == 0 || std::memcmp(e, "..         ", 11) == 0;
}

constexpr std::uint8_t kUnowned = 0, kOwned = 1, kPastItsFile = 2;

// Marks every cluster that a chain from an entry reaches, and in `ends` the
// last cluster a file needs where its chain runs on.  Entries behind a
// folder's end mark count too, as other readers do not stop there.
int mark_owned(std::vector<std::uint8_t>& state, std::vector<std::uint16_t>& ends) {
  const std::uint64_t cb = g_vol.cluster_bytes();
  std::vector<std::uint16_t> folders{0};
  while (!folders.empty()) {
    Dir d;
    if (const int e = load_dir(folders.back(), d)) return e;
    folders.pop_back();
    for (std::size_t i = 0; i < d.count(); ++i) {
      const std::uint8_t* e = d.entry(i);
      const Kind k = kind_of(e);
      if (k == Kind::kEnd || k == Kind::kUnused || k == Kind::kLongName || is_dot_name(e)) continue;
      std::vector<std::uint16_t> chain;
      if (const int r = chain_of(first_cluster(e), chain)) return r;
      std::size_t keep = chain.size();
      if (k == Kind::kFile) {
        const std::uint64_t need = (get_u32le(e + kEntSize) + cb - 1) / cb;
        if (need > chain.size()) return -EIO;
        if (need > 0) keep = static_cast<std::size_t>(need);  // an empty file's chain stays as found
      }
      for (std::size_t j = 0; j < chain.size(); ++j) {
        if (state[chain[j]] != kUnowned) return -EIO;  // two chains meet
        state[chain[j]] = j < keep ? kOwned : kPastItsFile;
      }
      if (keep < chain.size()) ends.push_back(chain[keep - 1]);
      if (k == Kind::kFolder && !chain.empty()) folders.push_back(chain.front());
    }
  }
  return 0;
}

// The FAT sectors where a later copy differs from the first, which every
// reader goes by.
int unlike_copies(std::vector<bool>& unlike) {
  unlike.assign(g_vol.fat_sectors, false);
  std::vector<std::uint8_t> copy(g_vol.fat.size());
  for (std::uint32_t n = 1; n < g_vol.fats; ++n) {
    if (const int e = detail::read(g_vol.fat_start + n * g_vol.fat_sectors, g_vol.fat_sectors, copy.data())) return e;
    for (std::uint32_t s = 0; s < g_vol.fat_sectors; ++s)
      if (std::memcmp(copy.data() + std::size_t{s} * kSectorSize, g_vol.fat.data() + std::size_t{s} * kSectorSize,
                      kSectorSize) != 0)
        unlike[s] = true;
  }
  return 0;
}

int give_back_lost_clusters() {
  std::vector<std::uint8_t> state(g_vol.clusters + 2, kUnowned);
  std::vector<std::uint16_t> ends;
  std::vector<bool> unlike;
  if (const int e = mark_owned(state, ends)) return e;
  if (const int e = unlike_copies(unlike)) return e;
  // Chains end where their files do before what lies past goes: a kill in
  // between leaves lost clusters again, never a chain into free ones.
  for (std::uint16_t c : ends) fat_set(c, kEndOfChain);
  for (std::uint32_t s = 0; s < g_vol.fat_sectors; ++s)
    if (unlike[s]) g_vol.dirty[s] = true;
  if (const int e = flush_fat()) return e;
  std::uint32_t freed = 0;
  for (std::uint32_t c = 2; c < g_vol.clusters + 2; ++c) {
    const std::uint16_t v = fat_get(c);
    if (v == 0 || state[c] == kOwned || (v >= kFirstReserved && v <= kBadCluster)) continue;
    fat_set(c, 0);
    ++freed;
  }
  if (freed) platform::debug_printf("diskette: %u clusters that no file owned given back\n", freed);
  return flush_fat();
}

// Once a diskette is read, before its first change; 0, or why its layout
// could not be read again after a failure.
int reclaim_once() {
  if (g_vol.reclaimed || detail::files_open() > 0 || detail::write_protected_now()) return 0;
  if (detail::hold_alone() != 0) return 0;  // tried again at the next change
  g_vol.reclaimed = true;
  const int e = give_back_lost_clusters();
  detail::share_again();
  if (!e) return 0;
  platform::debug_printf("diskette: lost clusters left as they are: %s\n", std::strerror(-e));
  g_vol.generation = 0;  // the memory as the disk really is
  const int r = load_volume();
  g_vol.reclaimed = true;
  return r;
}

// --- Calls ----------------------------------------------------------------------

// Holds the drive for one call: checked, unlocked, its layout read.  A call
// that changes the disk, or asks how much room it has for a change, first
// gives back what a killed writer left.
class Access {
 public:
  explicit Access(bool changing = false) {
    error_ = detail::begin_file_access();
    if (!error_) error_ = load_volume();
    if (!error_ && changing) error_ = reclaim_once();
  }
  ~Access() { detail::end_file_access(); }
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;
  int error() const { return error_; }

 private:
  int error_ = 0;
};

// An existing file or folder for a call on it: 0, or the error to answer.
int locate_existing(const Access& a, std::string_view win_path, Located& at) {
  if (a.error()) return a.error();
  if (const int e = locate(win_path, at)) return e;
  return at.index < 0 ? -ENOENT : 0;
}

// A handle of the current diskette, or the error to answer.
int handle_of(int handle, Handle*& out) {
  const std::size_t i = static_cast<std::size_t>(handle) - kHandleBase;
  if (!is_handle(handle) || i >= g_handles.size() || !g_handles[i]) return -EBADF;
  out = &*g_handles[i];
  return out->generation == detail::generation() ? 0 : -ESTALE;
}

// A handle open for writing on a disk that takes writes, or the error to
// answer.
int handle_for_writing(const Access& a, int handle, Handle*& h) {
  if (const int e = handle_of(handle, h)) return e;
  if (a.error()) return a.error();
  if (!h->writable) return -EBADF;
  return detail::write_protected_now() ? -EROFS : 0;
}

std::shared_ptr<Node> node_at(std::uint32_t lba, std::uint32_t slot) {
  for (auto& h : g_handles)
    if (h && h->generation == detail::generation() && h->node->entry_lba == lba && h->node->entry_slot == slot)
      return h->node;
  return nullptr;
}

std::shared_ptr<Node> node_of(Dir& d, std::size_t i) {
  return node_at(d.lba_of(i), static_cast<std::uint32_t>(i % kEntriesPerSector));
}

bool is_open(Dir& d, std::size_t i) { return node_of(d, i) != nullptr; }

// Entry i as a listing shows it: an open file at the length it has now,
// which its entry on the disk may not say yet.
FoundFile found_of(Dir& d, std::size_t i, std::string name) {
  const std::uint8_t* e = d.entry(i);
  FoundFile f;
  f.name = std::move(name);
  f.attributes = e[kEntAttr] & 0x3F;
  f.size = (e[kEntAttr] & kAttrDirectory) ? 0 : get_u32le(e + kEntSize);
  if (const auto n = node_of(d, i); n && !(e[kEntAttr] & kAttrDirectory)) f.size = n->size;
  f.mtime = unix_time(get_u16le(e + kEntMDate), get_u16le(e + kEntMTime));
  return f;
}

bool any_pending() {
  for (const auto& h : g_handles)
    if (h && h->generation == detail::generation() && h->node->pending) return true;
  return false;
}

// Rewrites an open file's entry from what the node says; a pending node's
// data and FAT go to the disk first.
int store_node(Node& n, bool touch) {
  if (n.pending) {
    int e = flush_fat();
    if (!e) e = detail::sync();
    if (e) return e;
  }
  std::uint8_t s[kSectorSize];
  if (const int e = detail::read(n.entry_lba, 1, s)) return e;
  std::uint8_t* e = s + n.entry_slot * kEntrySize;
  put_u16le(e + kEntCluster, n.first);
  put_u16le(e + kEntClusterHigh, 0);
  put_u32le(e + kEntSize, n.size);
  if (touch) {
    stamp(e, now(), false);
    e[kEntAttr] |= kAttrArchive;
  }
  if (const int r = detail::write(n.entry_lba, 1, s)) return r;
  n.pending = false;
  return 0;
}

int new_handle(std::shared_ptr<Node> node, OpenMode mode) {
  Handle h;
  h.node = std::move(node);
  h.readable = mode != OpenMode::kAppend;
  h.writable = mode != OpenMode::kRead;
  h.append = mode == OpenMode::kAppend;
  h.generation = detail::generation();
  for (std::size_t i = 0; i < g_handles.size(); ++i)
    if (!g_handles[i]) {
      g_handles[i] = std::move(h);
      return kHandleBase + static_cast<int>(i);
    }
  g_handles.push_back(std::move(h));
  return kHandleBase + static_cast<int>(g_handles.size() - 1);
}

// An open file's clusters, read from the FAT once and kept up to date by
// the calls that change them.
int chain_of_node(Node& n, std::vector<std::uint16_t>*& out) {
  if (!n.chain_read) {
    if (const int e = chain_of(n.first, n.chain)) return e;
    n.chain_read = true;
  }
  out = &n.chain;
  return 0;
}

// Frees the clusters of `chain` after its first `keep` and drops them from it.
void give_back(std::vector<std::uint16_t>& chain, std::size_t keep) {
  if (keep >= chain.size()) return;
  cut_chain(chain, keep);
  chain.resize(keep);
}

// Changes an open file's length: when it grows the new clusters are zeroed
// and the node is pending; when it shrinks the entry goes first, the FAT
// next.
int resize(Node& n, std::uint64_t size) {
  std::vector<std::uint16_t>* cp = nullptr;
  if (const int e = chain_of_node(n, cp)) return e;
  std::vector<std::uint16_t>& chain = *cp;
  const std::uint64_t cb = g_vol.cluster_bytes();
  const std::size_t need = static_cast<std::size_t>((size + cb - 1) / cb);
  int e = 0;
  if (size < n.size) {
    const std::uint16_t first = n.first;
    const std::uint32_t old_size = n.size;
    n.size = static_cast<std::uint32_t>(size);
    if (need == 0) n.first = 0;
    n.modified = true;
    e = store_node(n, true);
    if (e) {
      n.first = first;  // the entry still says so, and the chain is whole
      n.size = old_size;
      return e;
    }
    // The chain ends on the disk before its rest is freed: a kill between
    // the two leaves lost clusters, never a chain that runs into free ones.
    if (need > 0 && need < chain.size()) fat_set(chain[need - 1], kEndOfChain);
    e = flush_fat();
    give_back(chain, need);
    if (!e) e = flush_fat();
    if (e) forget_volume();
  } else if (size > n.size) {
    const std::size_t had = chain.size();
    if (need > had) e = extend_chain(chain, static_cast<std::uint32_t>(need - had));
    if (!e) e = zero_fill(chain, n.size, size - n.size);
    if (e) {
      give_back(chain, had);
      return e;
    }
    n.first = chain.empty() ? 0 : chain.front();
    n.size = static_cast<std::uint32_t>(size);
    n.modified = n.pending = true;
  }
  return e;
}

}  // namespace

bool is_handle(int handle) { return handle >= kHandleBase; }

int open(std::string_view win_path, OpenMode mode) {
  Access a(mode != OpenMode::kRead);
  if (a.error()) return a.error();
  Located at;
  if (const int e = locate(win_path, at)) return e;
  const bool writing = mode != OpenMode::kRead;
  if (writing && detail::write_protected_now()) return -EROFS;
  std::shared_ptr<Node> node;
  if (at.index >= 0) {
    std::uint8_t* e = at.dir.entry(at.index);
    if (mode == OpenMode::kCreateNew) return -EEXIST;
    if (kind_of(e) == Kind::kFolder) return -EISDIR;
    if (writing && (e[kEntAttr] & kAttrReadOnly)) return -EACCES;
    const auto lba = at.dir.lba_of(at.index);
    const auto slot = static_cast<std::uint32_t>(at.index % kEntriesPerSector);
    node = node_at(lba, slot);
    if (!node) {
      node = std::make_shared<Node>();
      node->entry_lba = lba;
      node->entry_slot = slot;
      node->first = first_cluster(e);
      node->size = get_u32le(e + kEntSize);
    }
    if (mode == OpenMode::kCreateAlways)
      if (const int r = resize(*node, 0)) return r;
  } else {
    if (mode == OpenMode::kRead || mode == OpenMode::kReadWrite) return -ENOENT;
    std::size_t slot = 0;
    if (const int e = add_entry(at.dir, at.name, kAttrArchive, 0, slot)) {
      forget_volume();
      return e;
    }
    node = std::make_shared<Node>();
    node->entry_lba = at.dir.lba_of(slot);
    node->entry_slot = static_cast<std::uint32_t>(slot % kEntriesPerSector);
  }
  return new_handle(std::move(node), mode);
}

long long read(int handle, void* buffer, std::size_t size) {
  Access a;
  Handle* h = nullptr;
  if (const int e = handle_of(handle, h)) return e;
  if (a.error()) return a.error();
  if (!h->readable) return -EBADF;
  Node& n = *h->node;
  if (h->pos >= n.size || size == 0) return 0;
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, n.size - h->pos));
  std::vector<std::uint16_t>* chain = nullptr;
  if (const int e = chain_of_node(n, chain)) return e;
  if (const int e = chain_io(*chain, h->pos, take, static_cast<std::uint8_t*>(buffer), nullptr)) return e;
  h->pos += take;
  return static_cast<long long>(take);
}

long long write(int handle, const void* data, std::size_t size) {
  Access a;
  Handle* h = nullptr;
  if (const int e = handle_for_writing(a, handle, h)) return e;
  Node& n = *h->node;
  const std::uint64_t pos = h->append ? n.size : h->pos;
  if (size == 0) return 0;
  if (size > kMaxFileSize - pos) return -EFBIG;
  std::vector<std::uint16_t>* cp = nullptr;
  if (const int e = chain_of_node(n, cp)) return e;
  std::vector<std::uint16_t>& chain = *cp;
  const std::uint64_t cb = g_vol.cluster_bytes();
  const std::uint64_t end_wanted = std::max<std::uint64_t>(pos + size, n.size);
  const std::uint64_t need = (end_wanted + cb - 1) / cb;
  // A full disk takes what fits, as a short count; nothing fits is -ENOSPC.
  const std::uint64_t can = chain.size() + free_clusters();
  std::uint64_t count = size;
  if (need > can) {
    if (can * cb <= pos) return -ENOSPC;
    count = can * cb - pos;
  }
  const std::uint64_t end = pos + count;
  const std::size_t had = chain.size();
  const std::uint64_t want = (std::max<std::uint64_t>(end, n.size) + cb - 1) / cb;
  int e = 0;
  if (want > had) e = extend_chain(chain, static_cast<std::uint32_t>(want - had));
  if (!e && pos > n.size) e = zero_fill(chain, n.size, pos - n.size);
  if (!e) e = chain_io(chain, pos, static_cast<std::size_t>(count), nullptr, static_cast<const std::uint8_t*>(data));
  if (e) {
    // The clusters taken for this write go back; the file stays as it was.
    give_back(chain, had);
    return e;
  }
  if (chain.size() != had || end > n.size) {
    n.first = chain.empty() ? 0 : chain.front();
    n.size = static_cast<std::uint32_t>(std::max<std::uint64_t>(end, n.size));
    n.pending = true;
  }
  n.modified = true;
  h->pos = end;
  return static_cast<long long>(count);
}

long long seek(int handle, long long offset, int whence) {
  Access a;
  Handle* h = nullptr;
  if (const int e = handle_of(handle, h)) return e;
  long long base = 0;
  if (whence == SEEK_CUR) base = static_cast<long long>(h->pos);
  else if (whence == SEEK_END) base = h->node->size;
  else if (whence != SEEK_SET) return -EINVAL;
  if ((offset < 0 && base + offset < 0) || (offset > 0 && base > static_cast<long long>(kMaxFileSize) - offset))
    return -EINVAL;
  h->pos = static_cast<std::uint64_t>(base + offset);
  return base + offset;
}

int truncate(int handle, std::uint64_t size) {
  Access a;
  Handle* h = nullptr;
  if (const int e = handle_for_writing(a, handle, h)) return e;
  if (size > kMaxFileSize) return -EFBIG;
  return resize(*h->node, size);
}

long long length(int handle) {
  Access a;
  Handle* h = nullptr;
  if (const int e = handle_of(handle, h)) return e;
  return h->node->size;
}

int flush(int handle) {
  Access a;
  Handle* h = nullptr;
  if (const int e = handle_of(handle, h)) return e;
  if (a.error()) return a.error();
  int e = h->node->modified ? store_node(*h->node, true) : 0;
  if (!e) e = detail::sync();
  return e;
}

int close(int handle) {
  int e = 0;
  {  // the drive is let go when the handle is gone
    Access a;
    Handle* h = nullptr;
    e = handle_of(handle, h);
    if (e == -EBADF) return e;
    if (!e) e = a.error();
    if (!e && h->node->modified) {
      // The times go on at the end, as on any disk; then it is all on the medium.
      e = store_node(*h->node, true);
      if (!e) e = detail::sync();
      if (!e && h->node.use_count() == 1) h->node->modified = false;
    }
    g_handles[static_cast<std::size_t>(handle) - kHandleBase].reset();
    // A file that could not be put away leaves clusters that only memory
    // knows of: the disk is read again as it is.
    if (e) forget_volume();
  }
  return e;
}

int remove_file(std::string_view win_path) {
  Access a(true);
  Located at;
  if (const int e = locate_existing(a, win_path, at)) return e;
  std::uint8_t* e = at.dir.entry(at.index);
  if (kind_of(e) == Kind::kFolder) return -EISDIR;
  if (e[kEntAttr] & kAttrReadOnly) return -EACCES;
  if (is_open(at.dir, at.index)) return -EBUSY;
  if (detail::write_protected_now()) return -EROFS;
  return delete_entry(at.dir, static_cast<std::size_t>(at.index));
}

int rename(std::string_view win_from, std::string_view win_to) {
  Access a(true);
  Located from, to;
  if (const int e = locate_existing(a, win_from, from)) return e;
  if (const int e = locate(win_to, to)) return e;
  if (from.dir.cluster != to.dir.cluster) return -EXDEV;
  if (detail::write_protected_now()) return -EROFS;
  int r = 0;
  if (to.index >= 0 && to.index != from.index) {
    // The target gives way first, as the file layer's rename replaces it.
    std::uint8_t* t = to.dir.entry(to.index);
    if (kind_of(t) == Kind::kFolder || kind_of(from.dir.entry(from.index)) == Kind::kFolder) return -EEXIST;
    if (t[kEntAttr] & kAttrReadOnly) return -EACCES;
    if (is_open(to.dir, to.index)) return -EBUSY;
    r = delete_entry(from.dir, static_cast<std::size_t>(to.index));
  }
  if (!r) {
    // A long name left in front would now name another file.
    std::uint8_t* f = from.dir.entry(from.index);
    std::memcpy(f + kEntName, to.name.raw.data(), 11);
    if (f[0] == kDeleted) f[0] = 0x05;
    f[kEntCase] = static_cast<std::uint8_t>((f[kEntCase] & ~(kLowerBase | kLowerExtension)) | to.name.case_flags);
    r = store_entry(from.dir, from.index);
    std::size_t low = static_cast<std::size_t>(from.index);
    while (!r && low > 0 && kind_of(from.dir.entry(low - 1)) == Kind::kLongName) {
      from.dir.entry(--low)[0] = kDeleted;
      r = store_entry(from.dir, low);
    }
  }
  if (r) forget_volume();
  return r;
}

int make_dir(std::string_view win_path) {
  Access a(true);
  if (a.error()) return a.error();
  std::vector<std::string> parts;
  if (const int e = split_path(win_path, parts)) return e;
  Dir d;
  if (const int e = load_dir(0, d)) return e;
  for (const std::string& part : parts) {
    ShortName sn;
    if (const int e = short_name(part, sn)) return e;
    const long at = find_entry(d, sn);
    if (at >= 0) {
      if (kind_of(d.entry(at)) != Kind::kFolder) return -EEXIST;
      if (const int e = load_dir(first_cluster(d.entry(at)), d)) return e;
      continue;
    }
    if (detail::write_protected_now()) return -EROFS;
    // The new folder's cluster, with "." and "..", is on the disk before the
    // entry that names it.
    std::vector<std::uint16_t> chain;
    int e = extend_chain(chain, 1);
    if (!e) e = zero_cluster(chain[0]);
    if (!e) {
      std::uint8_t s[kSectorSize] = {};
      for (int dot = 0; dot < 2; ++dot) {
        std::uint8_t* ent = s + dot * kEntrySize;
        std::memset(ent, ' ', 11);
        std::memset(ent, '.', static_cast<std::size_t>(dot + 1));
        ent[kEntAttr] = kAttrDirectory;
        stamp(ent, now(), true);
        put_u16le(ent + kEntCluster, dot == 0 ? chain[0] : d.cluster);
      }
      e = detail::write(cluster_lba(chain[0]), 1, s);
    }
    if (!e) e = flush_fat();
    std::size_t slot = 0;
    if (!e) e = add_entry(d, sn, kAttrDirectory, chain[0], slot);
    if (e && !chain.empty()) {
      cut_chain(chain, 0);  // not named by anything: give it back
      (void)flush_fat();    // a failure here leaves a lost cluster, no worse
    }
    if (!e) e = load_dir(chain[0], d);
    if (e) {
      forget_volume();
      return e;
    }
  }
  return 0;
}

int remove_dir(std::string_view win_path) {
  Access a(true);
  Located at;
  if (const int e = locate_existing(a, win_path, at)) return e;
  std::uint8_t* e = at.dir.entry(at.index);
  if (kind_of(e) != Kind::kFolder) return -ENOTDIR;
  if (detail::write_protected_now()) return -EROFS;
  Dir inner;
  if (const int r = load_dir(first_cluster(e), inner)) return r;
  for (std::size_t i = 0; i < inner.count(); ++i) {
    const Kind k = kind_of(inner.entry(i));
    if (k == Kind::kEnd) break;
    if ((k == Kind::kFile || k == Kind::kFolder || k == Kind::kLabel) && !is_dot_entry(inner.entry(i)))
      return -ENOTEMPTY;
  }
  return delete_entry(at.dir, static_cast<std::size_t>(at.index));
}

int set_attributes(std::string_view win_path, std::uint32_t attributes) {
  Access a(true);
  Located at;
  if (const int e = locate_existing(a, win_path, at)) return e;
  if (detail::write_protected_now()) return -EROFS;
  std::uint8_t* e = at.dir.entry(at.index);
  e[kEntAttr] = static_cast<std::uint8_t>((e[kEntAttr] & ~kAttrSettable) | (attributes & kAttrSettable));
  return store_entry(at.dir, at.index);
}

int set_time(std::string_view win_path, std::int64_t mtime) {
  Access a(true);
  Located at;
  if (const int e = locate_existing(a, win_path, at)) return e;
  if (detail::write_protected_now()) return -EROFS;
  stamp(at.dir.entry(at.index), mtime, false);
  return store_entry(at.dir, at.index);
}

std::vector<FoundFile> list(std::string_view win_pattern, bool with_label) {
  std::vector<FoundFile> out;
  Access a;
  std::vector<std::string> parts;
  if (a.error() || split_path(win_pattern, parts) != 0) return out;
  // A pattern ending in a separator lists the whole folder.
  const bool folder_only = win_pattern.back() == '\\' || win_pattern.back() == '/' || win_pattern.back() == ':';
  const std::string pattern = folder_only || parts.empty() ? "*.*" : parts.back();
  Dir d;
  if (walk(parts, folder_only ? parts.size() : parts.size() - 1, d) != 0) return out;
  for (std::size_t i = 0; i < d.count(); ++i) {
    const std::uint8_t* e = d.entry(i);
    const Kind k = kind_of(e);
    if (k == Kind::kEnd) break;
    if (k == Kind::kUnused || k == Kind::kLongName || is_dot_entry(e)) continue;
    if (k == Kind::kLabel && !(with_label && d.cluster == 0)) continue;
    std::string name = k == Kind::kLabel ? trimmed(e, 11, false) : display_name(e);
    if (wildcard_match(pattern, name)) out.push_back(found_of(d, i, std::move(name)));
  }
  std::sort(out.begin(), out.end(), [](const FoundFile& x, const FoundFile& y) { return x.name < y.name; });
  return out;
}

std::optional<FoundFile> facts(std::string_view win_path) {
  Access a;
  if (a.error()) return std::nullopt;
  std::vector<std::string> parts;
  if (split_path(win_path, parts) != 0) return std::nullopt;
  if (parts.empty()) {
    FoundFile root;
    root.attributes = kAttrDirectory;
    return root;
  }
  Located at;
  if (locate(win_path, at) != 0 || at.index < 0) return std::nullopt;
  return found_of(at.dir, static_cast<std::size_t>(at.index), display_name(at.dir.entry(at.index)));
}

std::optional<std::uint64_t> free_bytes() {
  Access a(true);
  if (a.error()) return std::nullopt;
  return std::uint64_t{free_clusters()} * g_vol.cluster_bytes();
}

std::optional<std::string> volume_label() {
  Access a;
  Dir root;
  if (a.error() || load_dir(0, root) != 0) return std::nullopt;
  for (std::size_t i = 0; i < root.count(); ++i) {
    const Kind k = kind_of(root.entry(i));
    if (k == Kind::kEnd) break;
    if (k == Kind::kLabel) return trimmed(root.entry(i), 11, false);
  }
  return std::string();
}

int set_volume_label(std::string_view label) {
  if (label.size() > 11) return -ENAMETOOLONG;
  ShortName sn;
  sn.raw.fill(' ');
  for (std::size_t i = 0; i < label.size(); ++i) {
    const auto ch = static_cast<unsigned char>(label[i]);
    if (ch < 0x20 || ch >= 0x7F || std::strchr("*?.,;:/\\|+=<>[]\"", ch)) return -EINVAL;
    sn.raw[i] = static_cast<std::uint8_t>(std::toupper(ch));
  }
  Access a(true);
  if (a.error()) return a.error();
  if (detail::write_protected_now()) return -EROFS;
  Dir root;
  if (const int e = load_dir(0, root)) return e;
  long at = -1;
  for (std::size_t i = 0; i < root.count() && at < 0; ++i) {
    const Kind k = kind_of(root.entry(i));
    if (k == Kind::kEnd) break;
    if (k == Kind::kLabel) at = static_cast<long>(i);
  }
  int e = 0;
  if (label.empty()) {
    if (at >= 0) e = drop_entry(root, static_cast<std::size_t>(at));
  } else if (at >= 0) {
    std::memcpy(root.entry(at) + kEntName, sn.raw.data(), 11);
    stamp(root.entry(at), now(), false);
    e = store_entry(root, static_cast<std::size_t>(at));
  } else {
    std::size_t slot = 0;
    e = add_entry(root, sn, kAttrVolume, 0, slot);
  }
  if (e) return e;
  // The boot sector carries the label too; checkers want the two alike.
  std::uint8_t b[kSectorSize];
  if (const int r = detail::read(0, 1, b)) return r;
  if (b[kBsExtSignature] != kExtSignature) return 0;
  std::memcpy(b + kBsLabel, label.empty() ? reinterpret_cast<const std::uint8_t*>("NO NAME    ") : sn.raw.data(), 11);
  return detail::write(0, 1, b);
}

namespace detail {

int files_open() {
  int n = 0;
  for (const auto& h : g_handles) n += h && h->generation == generation();
  return n;
}

}  // namespace detail
}  // namespace platform::diskette
