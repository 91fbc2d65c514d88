// Whole archives: one folder tree (a copy of /usr/include and the programs of
// the Deflate benchmark) archived by zipCompress (Function 4, recursing) and
// by Debian's zip -r -q -X at levels 1, 6 and 9.  Prints both times and
// sizes and our share of each.  Then many small files (20,000 of 30-400
// bytes in 100 folders): processor time, the median of runs taken in turns,
// at levels 0, 1, 6 and 9, each archive tested by unzip -t.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <vector>

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

// User and system time of this process or of its waited-for children.
double cpu_seconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Many small files: what each entry costs beyond its data.
int small_files(const std::string& root) {
  constexpr int kFiles = 20000, kRuns = 5;
  const fs::path tree = fs::path(root) / "c" / "small";
  std::mt19937 rng(7);
  const std::string text =
      "the pressure cuff at the ankle and the brachial index of the doppler wave trace, read twice ";
  for (int i = 0; i < kFiles; ++i) {
    const fs::path dir = tree / ("d" + std::to_string(i / 200));
    if (i % 200 == 0) fs::create_directories(dir);
    std::string body;
    const std::size_t n = 30 + rng() % 371;
    while (body.size() < n) body += text.substr(rng() % text.size());
    body.resize(n);
    std::ofstream(dir / ("f" + std::to_string(i) + ".txt"), std::ios::binary) << body;
  }
  platform::set_current_directory("C:\\small\\");
  std::printf("small files: %d of 30-400 bytes, processor time, median of %d runs in turns\n", kFiles, kRuns);
  std::printf("%-6s %10s %10s %7s %12s %12s\n", "level", "ours s", "zip s", "time", "ours bytes", "zip bytes");
  int failures = 0;
  for (int level : {0, 1, 6, 9}) {
    const std::string ours = root + "/c/small_ours.zip", theirs = root + "/c/small_zip.zip";
    std::vector<double> ours_s, zip_s;
    for (int run = 0; run < kRuns; ++run) {
      fs::remove(ours);
      fs::remove(theirs);
      ZIPCMDSTRUCT c{};
      c.structSize = kZipCmdV220;
      c.Function = ZIP_ADD;
      c.lpszZIPFile = "C:\\small_ours.zip";
      c.lpszItemList = "*.*";
      c.recurseFlag = 1;
      c.compFactor = level;
      c.quietFlag = 1;
      c.wZipSubOptions = 0x0001;
      const double t0 = cpu_seconds(RUSAGE_SELF);
      const int rc = zipCompress(&c);
      ours_s.push_back(cpu_seconds(RUSAGE_SELF) - t0);
      const double c0 = cpu_seconds(RUSAGE_CHILDREN);
      const std::string cmd =
          "cd '" + tree.string() + "' && zip -r -q -X -" + std::to_string(level) + " '" + theirs + "' .";
      const int zrc = std::system(cmd.c_str());
      zip_s.push_back(cpu_seconds(RUSAGE_CHILDREN) - c0);
      const int trc = std::system(("unzip -tqq '" + ours + "'").c_str());
      if (rc != 0 || zrc != 0 || trc != 0) {
        std::printf("level %d: zipCompress %d, zip %d, unzip -t %d\n", level, rc, zrc, trc);
        ++failures;
        break;
      }
    }
    if (ours_s.size() < kRuns) continue;
    const double o = median(ours_s), z = median(zip_s);
    std::printf("%-6d %10.3f %10.3f %6.2fx %12ju %12ju\n", level, o, z, o / z,
                static_cast<std::uintmax_t>(fs::file_size(ours)), static_cast<std::uintmax_t>(fs::file_size(theirs)));
  }
  return failures;
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
  failures += small_files(root);
  zipDetachThread();
  std::error_code ec;
  fs::remove_all(root, ec);
  return failures ? 1 : 0;
}
