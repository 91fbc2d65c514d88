#include "platform/paths.h"

#include "platform/diskette.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

std::string g_root;
std::string g_current_dir = "C:\\PROGRAMS\\";

std::string default_root() {
  if (const char* r = std::getenv("VASLAB_ROOT"); r && *r) return r;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/vaslab";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/vaslab";
}

bool is_sep(char c) { return c == '\\' || c == '/'; }

bool has_drive(std::string_view p) {
  return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

bool exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

std::string folded(std::string_view name) {
  std::string k(name);
  for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return k;
}

// Every spelling of one folded name in a folder, in the order found.  Held
// as one string, since a listing keeps an entry for each file of a folder
// that may hold thousands: empty when the only spelling is the folded name
// itself, as most are, else the spellings joined by '/', which no name holds.
class Spellings {
 public:
  std::vector<std::string_view> all(std::string_view key) const {
    if (joined_.empty()) return {key};
    std::vector<std::string_view> out;
    std::string_view rest = joined_;
    for (std::size_t cut; (cut = rest.find('/')) != std::string_view::npos; rest.remove_prefix(cut + 1))
      out.push_back(rest.substr(0, cut));
    out.push_back(rest);
    return out;
  }
  std::string_view front(std::string_view key) const {
    return joined_.empty() ? key : std::string_view(joined_).substr(0, joined_.find('/'));
  }
  bool has(std::string_view key, std::string_view name) const {
    const auto a = all(key);
    return std::find(a.begin(), a.end(), name) != a.end();
  }
  // The first spelling of a new entry.
  void first(std::string_view key, std::string_view name) { joined_ = name == key ? std::string() : std::string(name); }
  void add(std::string_view key, std::string_view name) {
    if (has(key, name)) return;
    joined_ = (joined_.empty() ? std::string(key) : joined_) + "/" + std::string(name);
  }
  // Takes a spelling away; false when none is left.
  bool remove(std::string_view key, std::string_view name) {
    std::vector<std::string_view> a = all(key);
    const auto at = std::find(a.begin(), a.end(), name);
    if (at == a.end()) return true;
    a.erase(at);
    if (a.empty()) return false;
    std::string joined;
    if (a.size() > 1 || a[0] != key)
      for (std::string_view n : a) joined.append(joined.empty() ? "" : "/").append(n);
    joined_ = std::move(joined);
    return true;
  }

 private:
  std::string joined_;
};

// The listings a ListingCacheScope keeps: folder -> folded name -> its
// spellings there.  Per thread, as the scopes are.  Folders are found by the
// leading part of a longer path, without a copy.
using Listing = std::unordered_map<std::string, Spellings>;
struct FolderHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view folder) const { return std::hash<std::string_view>{}(folder); }
};
// Only the folders listed last are kept: their entries are what a run of
// work on a tree meets again, and an extraction of tens of thousands of
// files would otherwise keep a name for each of them all along.  A folder
// let go is read again when next needed.
constexpr std::size_t kKeptListings = 64;
struct Listings {
  int depth = 0;
  std::unordered_map<std::string, Listing, FolderHash, std::equal_to<>> folders;
  std::deque<std::string> order;  // folders as they were listed, oldest first
  // `dir` was just listed; the oldest others go.
  void listed(const std::string& dir) {
    order.push_back(dir);
    while ((folders.size() > kKeptListings || order.size() > 2 * kKeptListings) && order.size() > 1) {
      if (order.front() != dir) folders.erase(order.front());
      order.pop_front();
    }
  }
};
thread_local Listings t_listings;

bool read_listing(const std::string& dir, Listing* out) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  while (dirent* e = ::readdir(d)) {
    std::string key = folded(e->d_name);
    const auto [at, fresh] = out->try_emplace(std::move(key));
    if (fresh)
      at->second.first(at->first, e->d_name);
    else
      at->second.add(at->first, e->d_name);
  }
  ::closedir(d);
  return true;
}

// match_component() for a name not there as written, from the folder's
// remembered listing.  A remembered name that has gone since makes the
// folder be read again: it may be there under another spelling now.
std::string match_listed(const std::string& dir, const std::string& name) {
  const std::string key = folded(name);
  for (int pass = 0; pass < 2; ++pass) {
    auto [folder, fresh] = t_listings.folders.try_emplace(dir);
    if (fresh && !read_listing(dir, &folder->second)) {
      t_listings.folders.erase(folder);
      return name;
    }
    if (fresh) t_listings.listed(dir);
    const auto hit = folder->second.find(key);
    if (hit == folder->second.end()) return name;
    const std::string front(hit->second.front(hit->first));
    if (exists(dir + "/" + front)) return front;
    t_listings.folders.erase(folder);
  }
  return name;
}

// The existing entry of `dir` whose name equals `name` without regard to
// case; an exact match wins over a folded one so that the result is stable
// when two spellings exist side by side.
// A name with few letters has few spellings: looking each up costs less than
// reading a folder of thousands of entries (an archive folder holds up to
// 65,535 studies, and each save maps names not there yet).
constexpr std::size_t kMaxSpelledLetters = 4;

// The first existing spelling of `name` other than the one written; `name`
// when there is none.  False when the name has too many letters to try.
bool match_spellings(const std::string& dir, const std::string& name, std::string* found) {
  std::vector<std::size_t> letters;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (std::isalpha(static_cast<unsigned char>(name[i]))) letters.push_back(i);
  if (letters.size() > kMaxSpelledLetters) return false;
  *found = name;
  std::string spelling = name;
  for (unsigned mask = 1; mask < (1u << letters.size()); ++mask) {
    for (std::size_t b = 0; b < letters.size(); ++b) {
      const auto c = static_cast<unsigned char>(name[letters[b]]);
      const int flipped = std::islower(c) ? std::toupper(c) : std::tolower(c);
      spelling[letters[b]] = static_cast<char>((mask >> b) & 1 ? flipped : c);
    }
    if (exists(dir + "/" + spelling)) {
      *found = spelling;
      break;
    }
  }
  return true;
}

std::string match_component(const std::string& dir, const std::string& name, bool known_missing = false) {
  if (!known_missing && exists(dir + "/" + name)) return name;
  if (t_listings.depth > 0) return match_listed(dir, name);
  if (std::string found; match_spellings(dir, name, &found)) return found;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return name;
  std::string found = name;
  while (dirent* e = ::readdir(d)) {
    if (same_name(e->d_name, name)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// The components of an absolute Windows path (see path_components()), as
// views into it: every file a program opens has its path mapped, and the
// parts are only compared and joined.
std::vector<std::string_view> components_of(std::string_view full) {
  std::vector<std::string_view> parts;
  parts.reserve(static_cast<std::size_t>(std::count_if(full.begin(), full.end(), is_sep)) + 1);
  std::size_t start = 2;
  for (std::size_t i = 2; i <= full.size(); ++i) {
    if (i < full.size() && !is_sep(full[i])) continue;
    const std::string_view part = full.substr(start, i - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = i + 1;
  }
  return parts;
}

std::string to_win_absolute(std::string_view p) {
  if (has_drive(p)) return std::string(p);
  std::string base = current_directory();
  if (!p.empty() && is_sep(p[0])) return base.substr(0, 2) + std::string(p);
  if (!base.empty() && !is_sep(base.back())) base += '\\';
  return base + std::string(p);
}

}  // namespace

const std::string& root() {
  if (g_root.empty()) g_root = default_root();
  return g_root;
}

void set_root(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  g_root = std::move(path);
}

const std::string& current_directory() { return g_current_dir; }
void set_current_directory(std::string win_dir) { g_current_dir = std::move(win_dir); }

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string drive_folder(char letter) {
  return root() + "/" + static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
}

std::vector<std::string> path_components(std::string_view win_path) {
  const std::string full = to_win_absolute(win_path);
  const std::vector<std::string_view> parts = components_of(full);
  return std::vector<std::string>(parts.begin(), parts.end());
}

std::string map_path(std::string_view win_path) {
  if (!win_path.empty() && win_path[0] == '/') return std::string(win_path);
  const std::string full = to_win_absolute(win_path);
  const std::vector<std::string_view> parts = components_of(full);
  std::string out = drive_folder(full[0]);
  const bool folder = !full.empty() && is_sep(full.back()) && !parts.empty();
  const auto mapped = [folder](std::string p) {
    if (folder) p += '/';
    return p;
  };
  // A path that exists as written maps onto itself, since an exact spelling
  // wins at every level; and when only its last part is missing, only that
  // part needs looking for.  Most paths a program uses are one or the other,
  // which spares a look at each folder on the way.
  std::size_t matched = 0;
  bool last_missing = false;
  if (!parts.empty()) {
    std::string exact;
    exact.reserve(out.size() + full.size());
    exact = out;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) exact.append("/").append(parts[i]);
    const std::size_t parent = exact.size();
    exact.append("/").append(parts.back());
    // Inside a listing scope a folder already listed answers without a look
    // at the disk for a name it does not hold and for one it holds as
    // written: extracting thousands of new files maps each name, its folder
    // and its temporary name several times.  A name held only under another
    // spelling is checked, and one gone since is looked for again below.
    if (t_listings.depth > 0) {
      const auto listed = t_listings.folders.find(std::string_view(exact).substr(0, parent));
      if (listed != t_listings.folders.end()) {
        const auto hit = listed->second.find(folded(parts.back()));
        if (hit == listed->second.end()) return mapped(std::move(exact));
        if (hit->second.has(hit->first, parts.back())) return mapped(std::move(exact));
        std::string there = exact;
        there.replace(parent + 1, std::string::npos, hit->second.front(hit->first));
        if (exists(there)) return mapped(std::move(there));
      }
    }
    if (exists(exact)) return mapped(std::move(exact));
    if (parts.size() == 1 || exists(exact.substr(0, parent))) {
      matched = parts.size() - 1;
      last_missing = true;
      out = exact.substr(0, parent);
    }
  }
  for (std::size_t i = matched; i < parts.size(); ++i) {
    const std::string name = match_component(out, std::string(parts[i]), last_missing && i + 1 == parts.size());
    out.push_back('/');
    out.append(name);
  }
  return mapped(std::move(out));
}

ListingCacheScope::ListingCacheScope() { ++t_listings.depth; }

ListingCacheScope::~ListingCacheScope() {
  if (--t_listings.depth == 0) {
    t_listings.folders.clear();
    t_listings.order.clear();
  }
}

void note_entry(const std::string& linux_path, bool present) {
  if (t_listings.depth == 0) return;
  std::string_view p = linux_path;
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  const std::size_t slash = p.rfind('/');
  if (slash == std::string::npos || slash + 1 == p.size()) return;
  // A folder that is gone takes its listing, and those of the folders in
  // it, with it: a new folder of that name starts empty.
  if (!present && t_listings.folders.erase(std::string(p))) {
    const std::string inside = std::string(p) + "/";
    std::erase_if(t_listings.folders, [&inside](const auto& f) { return f.first.starts_with(inside); });
  }
  const auto folder = t_listings.folders.find(p.substr(0, slash));
  if (folder == t_listings.folders.end()) return;
  const std::string_view name = p.substr(slash + 1);
  std::string key = folded(name);
  auto at = folder->second.find(key);
  if (present) {
    if (at == folder->second.end()) {
      at = folder->second.try_emplace(std::move(key)).first;
      at->second.first(at->first, name);
    } else {
      at->second.add(at->first, name);
    }
  } else if (at != folder->second.end() && !at->second.remove(at->first, name)) {
    folder->second.erase(at);
  }
}

bool listed_missing(std::string_view linux_path) {
  if (t_listings.depth == 0) return false;
  std::string_view p = linux_path;
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  const std::size_t slash = p.rfind('/');
  if (slash == std::string_view::npos || slash + 1 == p.size()) return false;
  const auto folder = t_listings.folders.find(p.substr(0, slash));
  return folder != t_listings.folders.end() && !folder->second.contains(folded(p.substr(slash + 1)));
}

bool make_dirs(const std::string& linux_path) {
  std::string d = linux_path;
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  // A folder a listing scope has read is there (the file layer tells the
  // scope when one goes).
  if (t_listings.depth > 0 && t_listings.folders.contains(d)) return true;
  struct stat st;
  // Most calls find the folder there already: one look instead of a mkdir
  // per level.
  if (::stat(d.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  // Missing levels are made from the deepest one that exists down, so that
  // a new folder deep in a tree costs one mkdir per new level.
  std::vector<std::string> pending{d};
  const std::size_t bound = 2 * static_cast<std::size_t>(std::count(d.begin(), d.end(), '/')) + 2;
  for (std::size_t tries = 0; !pending.empty(); ++tries) {
    const std::string level = pending.back();
    if (::mkdir(level.c_str(), 0777) == 0) {
      note_entry(level, true);
      pending.pop_back();
      continue;
    }
    if (errno == EEXIST) {
      pending.pop_back();
      continue;
    }
    const std::size_t slash = level.rfind('/');
    // A parent that exists and still gives ENOENT (a dangling link) ends it.
    if (errno != ENOENT || slash == std::string::npos || slash == 0 || tries > bound) return false;
    pending.push_back(level.substr(0, slash));
  }
  return ::stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string map_path_create_dirs(std::string_view win_path) {
  std::string out = map_path(win_path);
  if (!out.empty() && out.back() == '/') {
    make_dirs(out);
  } else if (auto slash = out.rfind('/'); slash != std::string::npos && slash > 0) {
    make_dirs(out.substr(0, slash));
  }
  return out;
}

bool on_diskette(std::string_view win_path) {
  return has_drive(win_path) && std::toupper(static_cast<unsigned char>(win_path[0])) == 'A';
}

bool same_volume(std::string_view win_a, std::string_view win_b) {
  const auto drive = [](std::string_view p) {
    const std::string full = to_win_absolute(p);
    return has_drive(full) ? static_cast<char>(std::toupper(static_cast<unsigned char>(full[0]))) : '\0';
  };
  const char a = drive(win_a), b = drive(win_b);
  if (!a || !b) return false;
  if (a == b) return true;
  if (a == 'A' || a == 'B' || b == 'A' || b == 'B') return false;
  struct stat x, y;
  return ::stat(drive_folder(a).c_str(), &x) == 0 && ::stat(drive_folder(b).c_str(), &y) == 0 &&
         x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool drive_present(char letter) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (upper == 'A' || upper == 'B') return diskette::drive_present(upper);
  struct stat st;
  return ::stat(drive_folder(letter).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> free_space(std::string_view win_path) {
  if (on_diskette(win_path)) return diskette::free_bytes();
  std::string p = map_path(win_path);
  // The path itself may not exist yet: ask the nearest folder that does.
  while (!p.empty() && !exists(p)) {
    auto slash = p.rfind('/');
    if (slash == std::string::npos || slash == 0) break;
    p.erase(slash);
  }
  struct statvfs vs;
  if (::statvfs(p.c_str(), &vs) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(vs.f_bavail) * vs.f_frsize;
}

std::pair<std::string, std::string> split_win_path(std::string_view win_path) {
  size_t cut = win_path.find_last_of("\\/:");
  if (cut == std::string_view::npos) return {"", std::string(win_path)};
  return {std::string(win_path.substr(0, cut + 1)), std::string(win_path.substr(cut + 1))};
}

}  // namespace platform
