// Whole archives: one folder tree (a copy of /usr/include and the programs of
// the Deflate benchmark) archived by zipCompress (Function 4, recursing) and
// by Debian's zip -r -q -X at levels 1, 6 and 9.  Prints both times and
// sizes and our share of each.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "ziplib/ziplib.h"

namespace fs = std::filesystem;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  const char* shm = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string root = std::string(shm) + "/vaslab-zip-bench-XXXXXX";
  if (!::mkdtemp(root.data())) return 1;
  const fs::path tree = fs::path(root) / "c" / "tree";
  fs::create_directories(tree / "bin");
  fs::copy("/usr/include", tree / "include", fs::copy_options::recursive | fs::copy_options::skip_symlinks);
  for (const char* f : {"/usr/bin/perl", "/usr/bin/bash", "/usr/bin/tar", "/usr/bin/ls", "/usr/bin/cp"})
    if (fs::exists(f)) fs::copy_file(f, tree / "bin" / fs::path(f).filename());
  std::size_t files = 0;
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(tree))
    if (e.is_regular_file()) ++files, bytes += e.file_size();
  std::printf("tree: %zu files, %.1f MB\n", files, bytes / 1e6);

  platform::set_root(root);
  platform::set_current_directory("C:\\tree\\");
  zipInit(nullptr);
  zipAttachThread();
  std::printf("%-6s %10s %10s %7s %12s %12s %7s\n", "level", "ours s", "zip s", "time", "ours bytes", "zip bytes",
              "size");
  int failures = 0;
  for (int level : {1, 6, 9}) {
    const std::string ours = root + "/c/ours" + std::to_string(level) + ".zip";
    const std::string theirs = root + "/c/zip" + std::to_string(level) + ".zip";
    const std::string win = "C:\\ours" + std::to_string(level) + ".zip";
    ZIPCMDSTRUCT c{};
    c.structSize = kZipCmdV220;
    c.Function = ZIP_ADD;
    c.lpszZIPFile = win.c_str();
    c.lpszItemList = "*.*";
    c.recurseFlag = 1;
    c.compFactor = level;
    c.quietFlag = 1;
    c.wZipSubOptions = 0x0001;  // names relative to the tree
    auto t0 = std::chrono::steady_clock::now();
    const int rc = zipCompress(&c);
    const double ours_s = seconds_since(t0);
    t0 = std::chrono::steady_clock::now();
    const std::string cmd = "cd '" + tree.string() + "' && zip -r -q -X -" + std::to_string(level) + " '" + theirs + "' .";
    const int zrc = std::system(cmd.c_str());
    const double zip_s = seconds_since(t0);
    if (rc != 0 || zrc != 0) {
      std::printf("level %d: zipCompress %d, zip %d\n", level, rc, zrc);
      ++failures;
      continue;
    }
    const auto ob = fs::file_size(ours), zb = fs::file_size(theirs);
    std::printf("%-6d %10.2f %10.2f %6.2fx %12ju %12ju %6.3fx\n", level, ours_s, zip_s, ours_s / zip_s,
                static_cast<std::uintmax_t>(ob), static_cast<std::uintmax_t>(zb), double(ob) / double(zb));
  }
  zipDetachThread();
  std::error_code ec;
  fs::remove_all(root, ec);
  return failures ? 1 : 0;
}
