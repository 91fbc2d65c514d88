#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "ziplib/zip_archive.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_state.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace ziplib {
namespace {

constexpr std::size_t kMaxMatch = 2047;
constexpr std::uint32_t kKeepAttrs = 0x01 | 0x02 | 0x04 | 0x20;  // read-only, hidden, system, archive

std::string lower(std::string t) {
  for (char& c : t) c = static_cast<char>(zip_lower(static_cast<unsigned char>(c)));
  return t;
}
std::string upper(std::string t) {
  for (char& c : t) c = static_cast<char>(zip_upper(static_cast<unsigned char>(c)));
  return t;
}

// One half of a name against one half of a pattern: both are cut where the
// pattern has its first '*'; what is left must agree character by character.
bool wild_part(std::string p, std::string n) {
  if (!p.empty() && p[0] == '*') return true;
  if (p.empty()) return n.empty();
  const std::size_t star = p.find('*');
  if (star != std::string::npos) {
    p.resize(star);
    if (n.size() > star) n.resize(star);
  }
  if (p.size() != n.size()) return false;
  for (std::size_t i = 0; i < p.size(); ++i)
    if (p[i] != '?' && zip_lower(static_cast<unsigned char>(p[i])) != zip_lower(static_cast<unsigned char>(n[i])))
      return false;
  return true;
}

void split_ext(const std::string& t, bool is_pattern, std::string* base, std::string* ext) {
  const std::size_t slash = t.rfind('/');
  const std::size_t dot = t.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    *base = t;
    *ext = is_pattern && !t.empty() && t.back() == '*' ? "*" : "";
    return;
  }
  *base = t.substr(0, dot);
  *ext = t.substr(dot + 1);
}

std::string dir_of(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool valid_83_component(const std::string& c) {
  if (c.find(' ') != std::string::npos || c.find('"') != std::string::npos) return false;
  const std::size_t dot = c.find('.');
  if (dot == std::string::npos) return c.size() <= 8;
  return dot <= 8 && c.size() - dot - 1 <= 3 && c.find('.', dot + 1) == std::string::npos;
}

std::string cut_83_component(const std::string& c) {
  std::string base, ext;
  bool dot = false;
  for (char ch : c) {
    if (ch == ' ' || ch == '"') continue;
    if (ch == '.' && !dot) {
      dot = true;
      continue;
    }
    if (ch == '.') continue;
    (dot ? ext : base) += ch;
  }
  if (base.size() > 8) base.resize(8);
  if (ext.size() > 3) ext.resize(3);
  return dot ? base + "." + ext : base;
}

// Applies the 8.3 rule of wZipSubOptions bits 4 and 5 to each component;
// false when the name is to be skipped.
bool apply_83(const ZipState& s, std::string* name) {
  if (!(s.sub_options & (kSubSkipNon83 | kSubCut83))) return true;
  std::string out;
  std::size_t start = 0;
  while (start < name->size()) {
    std::size_t slash = name->find('/', start);
    const bool last = slash == std::string::npos;
    const std::string comp = name->substr(start, last ? std::string::npos : slash - start);
    if (s.sub_options & kSubSkipNon83) {
      if (!valid_83_component(comp)) return false;
      out += comp;
    } else {
      out += cut_83_component(comp);
    }
    if (last) break;
    out += '/';
    start = slash + 1;
  }
  *name = out;
  return true;
}

// Whether a found file is the archive itself; the names are compared first
// so that only a likely match costs a path lookup.
bool same_file(const std::string& a, const std::string& b) {
  if (!platform::same_name(platform::split_win_path(a).second, platform::split_win_path(b).second)) return false;
  return platform::same_name(platform::map_path(a), platform::map_path(b));
}

std::uint32_t now_dos() { return zip_dos_time(static_cast<std::int64_t>(std::time(nullptr))); }

// Adds one found file or folder: the stored name, the rename callback when
// it comes now, the lookup among the old entries, and a new node otherwise.
int add_found(ZipState& s, const std::string& disk_name, std::uint32_t time, std::uint32_t attrs, std::uint64_t size,
              bool memory, int* matched) {
  ArchiveWork& a = *s.archive;
  std::string name = zip_stored_name(s, memory ? a.memory_node.name : disk_name);
  if (name.empty()) return 0;
  if (s.relative_names && !a.base_dir.empty()) {
    if (lower(name).rfind(a.base_dir, 0) == 0) {
      name.erase(0, a.base_dir.size());
      if (name.empty()) return 0;
      if (s.cmd.dosifyFlag & 1) name = upper(name);
    }
  }
  if (!apply_83(s, &name)) return 0;
  if ((s.sub_options & kSubRenameWhileCollecting) && (s.rename_proc || s.rename_proc_ex))
    zip_call_rename(s, &name, &time, &attrs, disk_name, size, false);
  std::string raw;
  if (!zip_name_to_archive(s, name, &raw)) {
    zip_warn(s, std::string(zipMessageText(161, 1)) + name);
    return 0;
  }
  ++*matched;
  if (!(s.sub_options & kSubNoLookup)) {
    if (ZipEntry* e = zip_lookup(a, name)) {
      if (zip_pattern_take(s, name)) {
        e->selected = true;
        e->disk_name = disk_name;
        e->found_name = name;
        if (memory) a.memory_entry = e;
      }
      return 0;
    }
  }
  if (!zip_pattern_take(s, name)) return 0;
  if (!memory && same_file(disk_name, s.zip_path)) return 0;
  FoundNode n;
  n.disk_name = memory ? std::string() : disk_name;
  n.name = name;
  n.time = time;
  n.attributes = attrs;
  n.size = size;
  a.found.push_back(std::move(n));
  return 0;
}

// Adds the matching files of one folder, from its whole listing when the
// caller has it already.
int add_files(ZipState& s, const std::string& dir, const std::string& spec, int* matched,
              const std::vector<platform::FoundFile>* listed = nullptr) {
  const bool no_dot = !spec.empty() && spec.back() == '.';
  const std::string pattern = no_dot ? spec.substr(0, spec.size() - 1) : spec;
  const std::vector<platform::FoundFile> own = listed ? std::vector<platform::FoundFile>()
                                                      : platform::list_files(dir + (pattern.empty() ? "*" : pattern));
  for (const platform::FoundFile& f : listed ? *listed : own) {
    if (f.attributes & platform::kAttrDirectory) continue;
    if (listed && !platform::wildcard_match(pattern.empty() ? "*.*" : pattern, f.name)) continue;
    if (no_dot && f.name.find('.') != std::string::npos) continue;
    std::uint32_t attrs = f.attributes;
    const std::string path = dir + f.name;
    if (s.sub_options & kSubTestOpen) {
      // Opened alone or skipped: a file another program holds is not taken.
      for (;;) {
        const int h = platform::file_open(path, platform::OpenMode::kRead);
        if (h >= 0) {
          platform::file_close(h);
          break;
        }
        const int answer = s.quiet ? 0 : zipVolumePrompt(16, MB_ABORTRETRYIGNORE, 0, 0, path.c_str(), s);
        if (answer == IDABORT) return ZE_ABORT;
        if (answer == IDRETRY) continue;
        zip_item_log(s, zip_format(zipMessageText(708, 1), {path.c_str()}));
        attrs = 0xFFFFFFFF;
        break;
      }
      if (attrs == 0xFFFFFFFF) continue;
    }
    if (s.sub_options & kSubArchiveBitOnly) {
      if (!(attrs & platform::kAttrArchive)) continue;
      if (s.sub_options & kSubClearArchiveBit) attrs &= ~platform::kAttrArchive;
    }
    zip_pump(s);
    if (int rc = add_found(s, path, zip_dos_time(f.mtime), attrs, f.size, false, matched)) return rc;
  }
  return 0;
}

int add_directory(ZipState& s, const std::string& dir, int* matched) {
  // A drive's root has no stored name and so no entry.
  if (s.cmd.noDirectoryEntriesFlag || dir.empty()) return 0;
  const auto f = platform::file_facts(dir);
  if (!f || !(f->attributes & platform::kAttrDirectory)) return 0;
  return add_found(s, dir, zip_dos_time(f->mtime), f->attributes, kSizeDirectory, false, matched);
}

}  // namespace

bool zip_match(const ZipState& s, const std::string& pattern_in, const std::string& name_in) {
  std::string pattern = pattern_in.substr(0, kMaxMatch);
  std::string name = name_in.substr(0, kMaxMatch);
  const bool p_dir = pattern.find('/') != std::string::npos;
  const bool n_dir = name.find('/') != std::string::npos;
  if (s.sub_options2 & 1) {
    if (p_dir != n_dir) return false;
  } else if (n_dir && !p_dir) {
    name = name.substr(name.rfind('/') + 1);
  }
  std::string pb, pe, nb, ne;
  split_ext(pattern, true, &pb, &pe);
  split_ext(name, false, &nb, &ne);
  return wild_part(pe, ne) && wild_part(pb, nb);
}

std::string zip_stored_name(const ZipState& s, const std::string& path) {
  std::string t = path;
  std::replace(t.begin(), t.end(), '\\', '/');
  std::size_t at = 0;
  if (t.rfind("//", 0) == 0) {
    // "//server/share/"
    const std::size_t server_end = t.find('/', 2);
    const std::size_t share_end = server_end == std::string::npos ? std::string::npos : t.find('/', server_end + 1);
    at = share_end == std::string::npos ? t.size() : share_end + 1;
  } else if (t.size() >= 2 && t[1] == ':') {
    at = 2;
  }
  while (at < t.size() && t[at] == '/') ++at;
  t.erase(0, at);
  if (s.cmd.noDirectoryNamesFlag) {
    const std::size_t slash = t.rfind('/');
    if (slash != std::string::npos) t.erase(0, slash + 1);
  }
  if (s.cmd.dosifyFlag & 1) t = upper(t);
  return t;
}

int zip_build_patterns(ZipState& s) {
  ArchiveWork& a = *s.archive;
  a.patterns.clear();
  a.include_count = 0;
  auto parse = [&](const char* list, char kind) {
    std::string cur;
    bool quoted = false;
    auto flush = [&] {
      std::replace(cur.begin(), cur.end(), '/', '\\');
      a.patterns.push_back({zip_stored_name(s, cur), kind});
      if (kind == 'i') ++a.include_count;
      cur.clear();
    };
    for (const char* p = list; *p; ++p) {
      if (*p == '"') {
        quoted = !quoted;
      } else if (*p == ' ' && !quoted) {
        flush();
      } else {
        cur += *p;
      }
    }
    flush();
  };
  if (s.cmd.includeOnlyFollowingFlag && s.cmd.lpszIncludeFollowing) parse(s.cmd.lpszIncludeFollowing, 'i');
  if (s.cmd.excludeFollowingFlag && s.cmd.lpszExludeFollowing) parse(s.cmd.lpszExludeFollowing, 'x');
  return 0;
}

bool zip_pattern_take(const ZipState& s, const std::string& name) {
  const ArchiveWork& a = *s.archive;
  if (a.patterns.empty()) return true;
  bool take = a.include_count == 0;
  for (const Pattern& p : a.patterns) {
    if (!zip_match(s, p.name, name)) continue;
    if (p.kind == 'x') return false;
    take = true;
  }
  return take;
}

bool zip_file_facts(ZipState& s, const std::string& path, std::uint32_t* time, std::uint32_t* attrs,
                    std::uint64_t* size) {
  if (path.empty()) {
    *time = now_dos();
    *attrs = 0;
    *size = s.callback_input ? (s.large_files ? kSizeUnknownLarge : kSizeUnknown) : s.mem_size;
    return true;
  }
  std::string p = path;
  const bool folder = p.back() == '\\' || p.back() == ':' || p.back() == '/';
  if (folder) p.pop_back();
  const auto f = platform::file_facts(p.empty() ? path : p);
  if (!f) {
    *time = 0;
    *attrs = folder ? platform::kAttrDirectory : 0;
    *size = folder ? kSizeDirectory : 0;
    return false;
  }
  zip_facts_of(*f, time, attrs, size);
  return true;
}

void zip_facts_of(const platform::FoundFile& f, std::uint32_t* time, std::uint32_t* attrs, std::uint64_t* size) {
  *time = zip_dos_time(f.mtime);
  *attrs = f.attributes & (kKeepAttrs | platform::kAttrDirectory);
  *size = (f.attributes & platform::kAttrDirectory) ? kSizeDirectory : f.size;
}

bool zip_call_rename(ZipState& s, std::string* name, std::uint32_t* time, std::uint32_t* attrs,
                     const std::string& disk_name, std::uint64_t size, bool whole_name) {
  struct Short {
    char name[260];
    std::uint32_t date, time, attributes;
    char file[260];
  };
  struct Long {
    std::uint32_t size;
    char name[2048];
    std::uint32_t date, time, attributes;
    char file[2048];
    std::uint32_t size_low, size_high;
  };
  static_assert(sizeof(Short) == 532 && sizeof(Long) == 4120);
  auto copy = [](char* to, std::size_t room, const std::string& from) {
    const std::size_t n = std::min(room - 1, from.size());
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
  };
  const bool long_form = (s.sub_options2 & 2) && s.rename_proc_ex;
  ZIPRENAMEPROC proc = long_form ? s.rename_proc_ex : s.rename_proc;
  if (!proc) return false;
  std::uint32_t date = *time >> 16, clock = *time & 0xFFFF, at = *attrs;
  if (long_form) {
    auto r = std::make_unique<Long>();
    r->size = 4120;
    copy(r->name, sizeof r->name, *name);
    copy(r->file, sizeof r->file, disk_name);
    r->date = date;
    r->time = clock;
    r->attributes = at;
    r->size_low = static_cast<std::uint32_t>(size);
    r->size_high = static_cast<std::uint32_t>(size >> 32);
    proc(r.get(), s.rename_data);
    r->name[sizeof r->name - 1] = '\0';  // whatever the host wrote, it ends in the record
    *name = std::string(r->name, strnlen(r->name, sizeof r->name));
    date = r->date;
    clock = r->time;
    at = r->attributes;
  } else {
    Short r{};
    copy(r.name, sizeof r.name, *name);
    copy(r.file, sizeof r.file, disk_name);
    r.date = date;
    r.time = clock;
    r.attributes = at;
    proc(&r, s.rename_data);
    r.name[sizeof r.name - 1] = '\0';
    *name = std::string(r.name, strnlen(r.name, sizeof r.name));
    date = r.date;
    clock = r.time;
    at = r.attributes;
  }
  if (!whole_name && name->size() > 259) name->resize(259);
  *time = ((date & 0xFFFF) << 16) | (clock & 0xFFFF);
  *attrs = (*attrs & ~kKeepAttrs) | (at & kKeepAttrs);
  return true;
}

int zip_collect_files(ZipState& s, const std::string& item) {
  ArchiveWork& a = *s.archive;
  int matched = 0;
  const std::string dir = dir_of(item);
  const std::string spec = item.substr(dir.size());
  a.base_dir = lower(zip_stored_name(s, dir));
  if (s.cmd.recurseFlag) {
    std::vector<std::string> stack;
    std::string cur = dir;
    for (;;) {
      // One listing serves the folders and the files; the diskette matches
      // its own 8.3 names and is asked for the files by the pattern.
      const std::vector<platform::FoundFile> listing = platform::list_files(cur + "*");
      for (const platform::FoundFile& f : listing) {
        if (!(f.attributes & platform::kAttrDirectory)) continue;
        // A found folder always has a name of its own, however short, and
        // so an entry; only a drive's root has none (add_found drops it).
        const std::string sub = cur + f.name + "\\";
        if (!s.cmd.noDirectoryEntriesFlag)
          if (int rc = add_found(s, sub, zip_dos_time(f.mtime), f.attributes, kSizeDirectory, false, &matched))
            return rc;
        // A folder deeper than the longest path is not entered: cut short,
        // its path would name another folder, and a folder that leads back
        // to itself would be entered for ever.
        if (sub.size() < kMaxPath) stack.push_back(sub);
      }
      if (int rc = add_files(s, cur, spec, &matched, platform::on_diskette(cur) ? nullptr : &listing)) return rc;
      if (zip_poll_cancel(s)) return ZE_ABORT;
      if (stack.empty()) break;
      cur = stack.back();
      stack.pop_back();
    }
  } else {
    if (int rc = add_directory(s, dir, &matched)) return rc;
    if (s.relative_names) {
      for (const Pattern& p : std::vector<Pattern>(a.patterns)) {
        if (p.kind != 'i') continue;
        std::string joined = dir + p.name;
        std::replace(joined.begin(), joined.end(), '/', '\\');
        const std::string pdir = dir_of(joined);
        if (pdir != dir)
          if (int rc = add_directory(s, pdir, &matched)) return rc;
        if (int rc = add_files(s, pdir, joined.substr(pdir.size()), &matched)) return rc;
      }
    }
    if (int rc = add_files(s, dir, spec, &matched)) return rc;
  }
  return matched ? 0 : -1;
}

int zip_collect_memory(ZipState& s, const std::string& name) {
  ArchiveWork& a = *s.archive;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 32 || std::strchr("*:<>?|", c)) return ZE_PARMS;
  }
  a.base_dir = lower(zip_stored_name(s, dir_of(name)));
  a.memory_node = FoundNode{};
  a.memory_node.name = name;
  std::uint32_t time = 0, attrs = 0;
  std::uint64_t size = 0;
  zip_file_facts(s, "", &time, &attrs, &size);
  int matched = 0;
  a.have_memory_entry = true;
  return add_found(s, "", time, 0, size, true, &matched);
}

int zip_select_delete(ZipState& s, const std::string& item) {
  if (zip_poll_cancel(s)) return ZE_ABORT;
  ArchiveWork& a = *s.archive;
  const std::string name = zip_stored_name(s, item);
  bool any = false;
  for (ZipEntry& e : a.entries) {
    if (zip_match(s, name, e.name) && zip_pattern_take(s, e.name)) {
      e.selected = true;
      any = true;
    }
  }
  return any ? 0 : -1;
}

int zip_sort_found(ZipState& s) {
  ArchiveWork& a = *s.archive;
  // The order is sorted as numbers, then the nodes are moved into it along
  // its cycles: sorting the nodes themselves would need a buffer of half of
  // them.
  const auto by_name = [](const FoundNode& x, const FoundNode& y) { return x.name < y.name; };
  if (!std::is_sorted(a.found.begin(), a.found.end(), by_name)) {
    std::vector<std::uint32_t> order(a.found.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t x, std::uint32_t y) { return a.found[x].name < a.found[y].name; });
    // order[k] names the node that belongs at k.
    for (std::size_t k = 0; k < order.size(); ++k) {
      if (order[k] == k) continue;
      FoundNode held = std::move(a.found[k]);
      std::size_t at = k;
      while (order[at] != k) {
        const std::size_t from = order[at];
        a.found[at] = std::move(a.found[from]);
        order[at] = static_cast<std::uint32_t>(at);
        at = from;
      }
      a.found[at] = std::move(held);
      order[at] = static_cast<std::uint32_t>(at);
    }
  }
  // Of names that differ only in case, the last is kept.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < a.found.size(); ++i) {
    if (i + 1 < a.found.size() && platform::same_name(a.found[i].name, a.found[i + 1].name)) continue;
    if (kept != i) a.found[kept] = std::move(a.found[i]);
    ++kept;
  }
  a.found.erase(a.found.begin() + static_cast<std::ptrdiff_t>(kept), a.found.end());
  return zip_poll_cancel(s) ? ZE_ABORT : 0;
}

}  // namespace ziplib
