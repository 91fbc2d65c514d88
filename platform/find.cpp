#include "platform/find.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/diskette.h"
#include "platform/paths.h"

namespace platform {
namespace {

bool match_from(const char* p, const char* n) {
  for (; *p; ++p) {
    if (*p == '*') {
      while (p[1] == '*') ++p;
      if (!p[1]) return true;
      for (const char* s = n; *s; ++s)
        if (match_from(p + 1, s)) return true;
      return match_from(p + 1, n + std::char_traits<char>::length(n));
    }
    if (!*n) return false;
    if (*p != '?' && std::tolower(static_cast<unsigned char>(*p)) != std::tolower(static_cast<unsigned char>(*n)))
      return false;
    ++n;
  }
  return *n == 0;
}

FoundFile facts_of(std::string name, const struct stat& st) {
  FoundFile f;
  f.name = std::move(name);
  f.size = static_cast<std::uint64_t>(st.st_size);
  f.mtime = st.st_mtim.tv_sec;
  f.mtime_nsec = st.st_mtim.tv_nsec;
  f.attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) f.attributes |= kAttrReadOnly;
  return f;
}

}  // namespace

bool wildcard_match(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  // "x*.*" matches "x1" as it does on the instrument's file system.
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos)
    return match_from(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
  return match_from(pattern.c_str(), name.c_str());
}

std::vector<FoundFile> list_files(const std::string& win_pattern) {
  if (on_diskette(win_pattern)) return diskette::list(win_pattern);
  auto [dir, pattern] = split_win_path(win_pattern);
  if (pattern.empty()) pattern = "*.*";
  std::string folder = map_path(dir.empty() ? std::string(".\\") : dir);
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::vector<FoundFile> out;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!wildcard_match(pattern, name)) continue;
    // Looked up in the folder being read, not along the whole path again.
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0) continue;
    out.push_back(facts_of(name, st));
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(), [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
  return out;
}

std::optional<FoundFile> file_facts(std::string_view win_path) {
  if (on_diskette(win_path)) return diskette::facts(win_path);
  std::string p = map_path(win_path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  // Extracting thousands of new files asks after each before it is made.
  if (listed_missing(p)) return std::nullopt;
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
  return facts_of(split_win_path(win_path).second, st);
}

int open_with_facts(std::string_view win_path, FoundFile& facts) {
  if (on_diskette(win_path)) {
    const int h = diskette::open(win_path, OpenMode::kRead);
    if (h < 0) return h;
    auto f = diskette::facts(win_path);
    if (!f) {
      diskette::close(h);
      return -ENOENT;
    }
    facts = std::move(*f);
    return h;
  }
  const int fd = ::open(map_path(win_path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno ? -errno : -EIO;
  struct stat st;
  int e = 0;
  if (::fstat(fd, &st) != 0)
    e = errno ? errno : EIO;
  else if (S_ISDIR(st.st_mode))
    e = EISDIR;
  if (e) {
    ::close(fd);
    return -e;
  }
  facts = facts_of(split_win_path(win_path).second, st);
  return fd;
}

bool same_file(std::string_view win_a, std::string_view win_b) {
  if (on_diskette(win_a) || on_diskette(win_b)) {
    if (!on_diskette(win_a) || !on_diskette(win_b) || !diskette::facts(win_a) || !diskette::facts(win_b)) return false;
    const std::vector<std::string> a = path_components(win_a), b = path_components(win_b);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const std::string& x, const std::string& y) { return same_name(x, y); });
  }
  struct stat a, b;
  return ::stat(map_path(win_a).c_str(), &a) == 0 && ::stat(map_path(win_b).c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace platform
