#include "platform/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "platform/paths.h"

namespace platform {
namespace {

std::string g_folder;

std::string program_folder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool ends_with_dll(const std::string& s) {
  return s.size() >= 4 && same_name(std::string_view(s).substr(s.size() - 4), ".dll");
}

// "libgs.so.10", "/usr/lib/x/libz.so.1": a library named as Linux names it,
// which dlopen() looks for itself.
bool linux_library_name(const std::string& s) {
  const auto so = s.rfind(".so");
  return so != std::string::npos && (so + 3 == s.size() || s[so + 3] == '.') &&
         s.find_first_of("\\:") == std::string::npos;
}

}  // namespace

void set_library_folder(const std::string& linux_dir) { g_folder = linux_dir; }

const std::string& library_folder() {
  if (g_folder.empty()) g_folder = program_folder();
  return g_folder;
}

std::string library_file(const std::string& win_name) {
  if (linux_library_name(win_name)) return win_name;
  std::string name = win_name;
  if (ends_with_dll(name)) name.resize(name.size() - 4);
  name += ".so";
  const bool bare = name.find_first_of("\\/:") == std::string::npos;
  if (bare) return library_folder() + "/" + name;
  // Only a name with a drive or a backslash is a drive path; a Linux path
  // ("bin/ovrs232.dll", "/opt/x/y.dll") is where it says, from the working
  // folder when relative.
  const bool drive_path = name.find_first_of("\\:") != std::string::npos;
  return drive_path ? map_path(name) : name;
}

void* load_library(const std::string& win_name) {
  return ::dlopen(library_file(win_name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* library_symbol(void* library, const char* name) { return library ? ::dlsym(library, name) : nullptr; }

void free_library(void* library) {
  if (library) ::dlclose(library);
}

}  // namespace platform
