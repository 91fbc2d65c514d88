// The FAT12 layer's names and folders: 8.3 names with their lower-case
// flags, DOS times, the entries of a folder as they lie on the disk, and
// the walk from a path on A: to the folder that holds it.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/diskette_drive.h"
#include "platform/dos_time.h"
#include "platform/fat12_internal.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"

namespace platform::diskette::fat {

namespace {

bool allowed_in_name(unsigned char ch) {
  if (std::isalnum(ch)) return true;
  return std::strchr("!#$%&'()-@^_`{}~", ch) != nullptr && ch != 0;
}

}  // namespace

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

Kind kind_of(const std::uint8_t* e) {
  if (e[0] == kFree) return Kind::kEnd;
  if (e[0] == kDeleted) return Kind::kUnused;
  if ((e[kEntAttr] & 0x3F) == kAttrLongName) return Kind::kLongName;
  if (e[kEntAttr] & kAttrVolume) return Kind::kLabel;
  return (e[kEntAttr] & kAttrDirectory) ? Kind::kFolder : Kind::kFile;
}

// By the whole name: what else begins with a dot is a damaged entry that
// still holds its clusters.
bool is_dot_entry(const std::uint8_t* e) {
  return std::memcmp(e, ".          ", 11) == 0 || std::memcmp(e, "..         ", 11) == 0;
}

std::uint16_t first_cluster(const std::uint8_t* e) { return get_u16le(e + kEntCluster); }

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
  // A run of sectors one after the other (the root, a cluster) in one read.
  for (std::size_t s = 0, run = 1; s < d.sectors.size(); s += run) {
    for (run = 1; s + run < d.sectors.size() && d.sectors[s + run] == d.sectors[s] + run; ++run) {
    }
    if (const int e = detail::read(d.sectors[s], static_cast<std::uint32_t>(run), d.bytes.data() + s * kSectorSize))
      return e;
  }
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

namespace {

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

}  // namespace

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

// Removes a file or folder: its entry goes first, then its clusters.  None
// goes while another entry still holds it: the next file written there
// would overwrite that one.
int delete_entry(Dir& d, std::size_t i) {
  std::vector<std::uint16_t> chain;
  int r = chain_of(first_cluster(d.entry(i)), chain);
  if (!r) r = held_by_no_other(chain, d, i);
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

// A folder entry that leads back to a folder of the path (a damaged disk;
// one with no cluster names the root) is -ELOOP: a caller that walks the
// tree would otherwise go round for ever, or work in the wrong folder.
int enter_folder(Dir& d, std::size_t i, std::vector<std::uint16_t>& seen) {
  if (kind_of(d.entry(i)) != Kind::kFolder) return -ENOTDIR;
  const std::uint16_t cluster = first_cluster(d.entry(i));
  if (std::find(seen.begin(), seen.end(), cluster) != seen.end()) return -ELOOP;
  seen.push_back(cluster);
  return load_dir(cluster, d);
}

// Loads the folder named by the first `n` components.
int walk(const std::vector<std::string>& parts, std::size_t n, Dir& d) {
  if (const int e = load_dir(0, d)) return e;
  std::vector<std::uint16_t> seen{0};
  for (std::size_t i = 0; i < n; ++i) {
    ShortName sn;
    if (const int e = short_name(parts[i], sn)) return e;
    const long at = find_entry(d, sn);
    if (at < 0) return -ENOENT;
    if (const int e = enter_folder(d, static_cast<std::size_t>(at), seen)) return e;
  }
  return 0;
}

int locate(std::string_view win_path, Located& at) {
  std::vector<std::string> parts;
  if (const int e = split_path(win_path, parts)) return e;
  if (parts.empty()) return -EISDIR;  // the root itself
  if (const int e = walk(parts, parts.size() - 1, at.dir)) return e;
  if (const int e = short_name(parts.back(), at.name)) return e;
  at.index = find_entry(at.dir, at.name);
  return 0;
}

}  // namespace platform::diskette::fat
