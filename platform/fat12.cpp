// Files on drive A:: a FAT12 file system of the project's own over the
// diskette's sectors, so that what the program writes is a diskette any
// other system reads.
//
// Order of writes: new data first, then (after a sync) both FAT copies,
// then (after another) the directory entry.  Space given back goes the other
// way: the entry stops pointing at the clusters before the FAT frees them.
// A write torn by a crash or a failing sector so leaves at worst lost
// clusters, never an entry that points at clusters holding something else;
// the first change of the diskette gives them back (fat12_chains.cpp).
//
// A file being written keeps its new clusters and length in memory (the
// node is pending) and commits them when it is closed or flushed: one round
// of syncs per file instead of one per write.  Any FAT write syncs the data
// first, so that another file's commit never puts out a chain whose data is
// still on its way.
//
// The volume, its FAT and chains are fat12_chains.cpp's, names and folders
// fat12_entries.cpp's (fat12_internal.h); this file holds the calls and the
// files open on them.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/debug.h"
#include "platform/diskette.h"
#include "platform/diskette_drive.h"
#include "platform/fat12_internal.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"

namespace platform::diskette {

using namespace fat;

namespace {

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

// A file whose entry says it is longer than its chain (a damaged disk)
// cannot grow from where it ends: the clusters taken to reach its length
// would hold whatever they held before, and a write past the chain would
// land nowhere it owns.
int fits_its_chain(const Node& n, const std::vector<std::uint16_t>& chain) {
  if (!overruns_chain(n.size, chain.size())) return 0;
  platform::debug_printf("diskette: a file of %u bytes from cluster %u has a chain of %zu clusters: not changed\n",
                         n.size, n.first, chain.size());
  return -EIO;
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
    if (const int r = fits_its_chain(n, chain)) return r;
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

bool fat::any_pending() {
  for (const auto& h : g_handles)
    if (h && h->generation == detail::generation() && h->node->pending) return true;
  return false;
}

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
    if (writing) {
      // On a cross-linked disk every change of this file would change
      // another too; reading it harms nothing.
      std::vector<std::uint16_t>* chain = nullptr;
      if (const int r = chain_of_node(*node, chain)) return r;
      if (const int r = held_by_no_other(*chain, at.dir, static_cast<std::size_t>(at.index))) return r;
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
  if (const int e = fits_its_chain(n, chain)) return e;
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
  std::vector<std::uint16_t> seen{0};
  for (const std::string& part : parts) {
    ShortName sn;
    if (const int e = short_name(part, sn)) return e;
    const long at = find_entry(d, sn);
    if (at >= 0) {
      if (kind_of(d.entry(at)) != Kind::kFolder) return -EEXIST;
      if (const int e = enter_folder(d, static_cast<std::size_t>(at), seen)) return e;
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
    if (!e) {
      seen.push_back(chain[0]);
      e = load_dir(chain[0], d);
    }
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
  // No cluster would read the root as the folder's entries (a damaged
  // disk): what the folder holds is unknown.
  if (first_cluster(e) == 0) {
    platform::debug_printf("diskette: folder %s names no cluster: not removed\n", display_name(e).c_str());
    return -EIO;
  }
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
