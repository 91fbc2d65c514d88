#include "platform/paths.h"

#include "platform/diskette.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
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

// The existing entry of `dir` whose name equals `name` without regard to
// case; an exact match wins over a folded one so that the result is stable
// when two spellings exist side by side.
std::string match_component(const std::string& dir, const std::string& name) {
  if (exists(dir + "/" + name)) return name;
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
  std::vector<std::string> parts;
  std::string cur;
  for (size_t i = 2; i <= full.size(); ++i) {
    if (i == full.size() || is_sep(full[i])) {
      if (cur == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!cur.empty() && cur != ".") {
        parts.push_back(cur);
      }
      cur.clear();
    } else {
      cur += full[i];
    }
  }
  return parts;
}

std::string map_path(std::string_view win_path) {
  if (!win_path.empty() && win_path[0] == '/') return std::string(win_path);
  const std::string full = to_win_absolute(win_path);
  const std::vector<std::string> parts = path_components(full);
  std::string out = drive_folder(full[0]);
  for (const auto& part : parts) {
    const std::string name = match_component(out, part);
    out.push_back('/');
    out.append(name);
  }
  if (!full.empty() && is_sep(full.back()) && parts.size() > 0) out += "/";
  return out;
}

bool make_dirs(const std::string& linux_path) {
  std::string p;
  for (size_t i = 0; i < linux_path.size(); ++i) {
    p += linux_path[i];
    if ((linux_path[i] == '/' && i > 0) || i + 1 == linux_path.size()) {
      std::string d = p;
      while (d.size() > 1 && d.back() == '/') d.pop_back();
      if (::mkdir(d.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  std::string d = linux_path;
  while (d.size() > 1 && d.back() == '/') d.pop_back();
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
