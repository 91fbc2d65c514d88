// The FAT12 layer's volume: the layout read from the boot sector, the FAT
// kept in memory and written back in an order that a kill cannot turn into
// a damaged disk, the cluster chains and the data they hold.
//
// What is read of the disk (the boot sector's layout and the FAT) is kept
// until the drive's generation moves on.  A failed update puts the memory
// back as it was, or forgets it so that the next call reads the disk as it
// really is; never while a pending file owns clusters that only memory
// knows of, as they would read as free.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/debug.h"
#include "platform/diskette_drive.h"
#include "platform/fat12_internal.h"
#include "platform/le_bytes.h"

namespace platform::diskette::fat {

Volume g_vol;

void forget_volume() {
  if (!any_pending()) g_vol.generation = 0;
}

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

namespace {

bool valid_cluster(std::uint32_t c) { return c >= 2 && c < g_vol.clusters + 2; }

}  // namespace

std::uint32_t cluster_lba(std::uint16_t c) { return g_vol.data_start + (c - 2u) * g_vol.sectors_per_cluster; }

std::uint16_t fat_get(std::uint32_t c) {
  const std::size_t at = c + c / 2;
  const std::uint16_t v = get_u16le(g_vol.fat.data() + at);
  return (c & 1) ? static_cast<std::uint16_t>(v >> 4) : static_cast<std::uint16_t>(v & 0xFFF);
}

namespace {

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

}  // namespace

void fat_set(std::uint32_t c, std::uint16_t value) {
  const bool was_free = fat_get(c) == 0, now_free = (value & 0xFFF) == 0;
  if (was_free && !now_free) --g_vol.free;
  if (!was_free && now_free) {
    ++g_vol.free;
    g_vol.lowest_free = std::min(g_vol.lowest_free, c);
  }
  put_fat(g_vol.fat, c, value);
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

// --- Who holds which clusters -----------------------------------------------

namespace {

// Calls visit(d, i, kind, chain, broken) for every entry that may hold
// clusters (not ".", "..", long names or unused ones) in the root and every
// folder below it, with the clusters its chain reaches and chain_of's
// answer: a broken chain still names the clusters up to its break.  Entries
// behind a folder's end mark count too, as other readers do not stop there.
// Each folder is read once however many entries name it; one that cannot
// be read, or names no cluster (its entries unknown, its clusters would read
// as lost), ends the walk with an error, as does a visit that answers one.
template <class Visit>
int each_entry_chain(Visit&& visit) {
  std::vector<std::uint16_t> folders{0}, entered{0}, chain;
  while (!folders.empty()) {
    Dir d;
    if (const int e = load_dir(folders.back(), d)) return e;
    folders.pop_back();
    for (std::size_t i = 0; i < d.count(); ++i) {
      const std::uint8_t* e = d.entry(i);
      const Kind k = kind_of(e);
      if (k == Kind::kEnd || k == Kind::kUnused || k == Kind::kLongName || is_dot_entry(e)) continue;
      const int broken = chain_of(first_cluster(e), chain);
      if (const int r = visit(d, i, k, chain, broken)) return r;
      if (k == Kind::kFolder && chain.empty()) return -EIO;
      if (k == Kind::kFolder && std::find(entered.begin(), entered.end(), chain.front()) == entered.end()) {
        entered.push_back(chain.front());
        folders.push_back(chain.front());
      }
    }
  }
  return 0;
}

}  // namespace

bool overruns_chain(std::uint64_t size, std::size_t clusters) {
  return size > std::uint64_t{clusters} * g_vol.cluster_bytes();
}

int held_by_no_other(const std::vector<std::uint16_t>& chain, Dir& d, std::size_t i) {
  if (chain.empty()) return 0;
  std::vector<bool> mine(g_vol.clusters + 2, false);
  for (std::uint16_t c : chain) mine[c] = true;
  const std::uint32_t lba = d.lba_of(i), slot = static_cast<std::uint32_t>(i % kEntriesPerSector);
  const std::string name = display_name(d.entry(i));
  bool shared = false;
  const int e = each_entry_chain([&](Dir& od, std::size_t oi, Kind, const std::vector<std::uint16_t>& other, int) {
    if (od.lba_of(oi) == lba && oi % kEntriesPerSector == slot) return 0;
    for (std::uint16_t c : other)
      if (mine[c]) {
        platform::debug_printf("diskette: %s and %s both hold cluster %u: %s not changed\n", name.c_str(),
                               display_name(od.entry(oi)).c_str(), c, name.c_str());
        shared = true;
        return -EIO;
      }
    return 0;
  });
  if (e && !shared)
    platform::debug_printf("diskette: %s not changed: a folder that could hold its clusters too is unreadable (%s)\n",
                           name.c_str(), std::strerror(-e));
  return e;
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

namespace {

constexpr std::uint8_t kUnowned = 0, kOwned = 1, kPastItsFile = 2;

// Marks every cluster that a chain from an entry reaches, and in `ends` the
// last cluster a file needs where its chain runs on.
int mark_owned(std::vector<std::uint8_t>& state, std::vector<std::uint16_t>& ends) {
  const std::uint64_t cb = g_vol.cluster_bytes();
  return each_entry_chain([&](Dir& d, std::size_t i, Kind k, const std::vector<std::uint16_t>& chain, int broken) {
    if (broken) return broken;
    std::size_t keep = chain.size();
    if (k == Kind::kFile) {
      const std::uint32_t size = get_u32le(d.entry(i) + kEntSize);
      if (overruns_chain(size, chain.size())) return -EIO;
      if (size > 0) keep = static_cast<std::size_t>((size + cb - 1) / cb);  // an empty file's chain stays as found
    }
    for (std::size_t j = 0; j < chain.size(); ++j) {
      if (state[chain[j]] != kUnowned) return -EIO;  // two chains meet
      state[chain[j]] = j < keep ? kOwned : kPastItsFile;
    }
    if (keep < chain.size()) ends.push_back(chain[keep - 1]);
    return 0;
  });
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

}  // namespace

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

}  // namespace platform::diskette::fat
