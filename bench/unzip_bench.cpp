// Extraction and testing by unzipCommand and by the unzip program, of an
// archive of /usr/include and of archives of 100 and 10,000 small files: five
// runs each, taken in turns so that a change in the machine's load falls on
// both alike; best and median of the time taken and, for extraction, of the
// processor time (user and system), which a loaded machine disturbs less.
//
// Each extraction goes into a folder of its own and nothing is removed until
// the end: on ext4, creating thousands of files right after deleting
// thousands makes the kernel pass over every recently freed inode for each
// new one, which costs more than the extraction itself and falls on whichever
// run comes after a removal.
#include "platform/paths.h"
#include "ziplib/unziplib.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 5;

double seconds(const std::function<void()>& work) {
  const auto t0 = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// User and system time of this process, or of its waited-for children.
double cpu_seconds(int who) {
  rusage u{};
  getrusage(who, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// The processor time `work` costs (as seen by getrusage for `who`).
double cpu_of(int who, const std::function<void()>& work) {
  const double before = cpu_seconds(who);
  work();
  return cpu_seconds(who) - before;
}

void run(const std::string& cmd) {
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    std::exit(1);
  }
}

struct Figures {
  std::vector<double> ours, theirs;
  static double best(std::vector<double> v) { return *std::min_element(v.begin(), v.end()); }
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  void print(const char* what) const {
    std::printf("%-8s %-6s %10.3f %10.3f %7.2f\n", what, "best", best(ours), best(theirs), best(ours) / best(theirs));
    std::printf("%-8s %-6s %10.3f %10.3f %7.2f\n", "", "median", median(ours), median(theirs),
                median(ours) / median(theirs));
  }
};

// Times extraction and testing of one archive, ours and unzip's in turns.
void compare(const std::string& root, const std::string& name) {
  const std::string zip = root + "/c/" + name + ".zip";
  std::printf("%s: %ju bytes\n", name.c_str(), static_cast<std::uintmax_t>(std::filesystem::file_size(zip)));
  const std::string dos_zip = "C:\\" + name + ".zip";
  UNZIPCMDSTRUCT c{};
  c.structSize = kUnzipCmdV170;
  c.Function = UNZIP_EXTRACT;
  c.lpszZIPFile = dos_zip.c_str();
  c.lpszFilespec = "*.*";
  c.recurseFlag = 1;
  c.overWriteFlag = 1;
  c.quietFlag = 1;
  c.index = -1;
  int result = 0;
  Figures extract, extract_cpu, test;
  // Each side goes first in turn, so that what the file system still carries
  // from the removals before (see above) falls on both alike.
  for (int i = 0; i < kRuns; ++i) {
    const std::string ours = "C:\\" + name + "-ours" + std::to_string(i);
    const std::string theirs = root + "/c/" + name + "-theirs" + std::to_string(i);
    const auto ours_run = [&] {
      c.lpszDestination = ours.c_str();
      extract_cpu.ours.push_back(cpu_of(RUSAGE_SELF, [&] {
        extract.ours.push_back(seconds([&] { result = unzipCommand(&c); }));
      }));
      if (result != 0) std::printf("unzipCommand extract returned %d\n", result);
    };
    const auto theirs_run = [&] {
      extract_cpu.theirs.push_back(cpu_of(RUSAGE_CHILDREN, [&] {
        extract.theirs.push_back(seconds([&] { run("unzip -q -o '" + zip + "' -d '" + theirs + "'"); }));
      }));
    };
    if (i % 2 == 0) {
      ours_run();
      theirs_run();
    } else {
      theirs_run();
      ours_run();
    }
  }
  // No comparison of the two trees here: names that differ only in case land
  // on one file on the instrument's drives, as the tests show.
  c.testFlag = 1;
  for (int i = 0; i < kRuns; ++i) {
    test.ours.push_back(seconds([&] { result = unzipCommand(&c); }));
    if (result != 0) std::printf("unzipCommand test returned %d\n", result);
    test.theirs.push_back(seconds([&] { run("unzip -tq '" + zip + "' >/dev/null"); }));
  }
  std::printf("%-8s %-6s %10s %10s %7s\n", "", "", "ours s", "unzip s", "ratio");
  extract.print("extract");
  extract_cpu.print("cpu");
  test.print("test");
}

// An archive of `count` small text files, a hundred to a folder: the case
// where the cost per entry, not the inflating, decides.
void make_small_files_zip(const std::string& root, const std::string& name, int count) {
  const std::string tree = root + "/" + name;
  for (int i = 0; i < count; ++i) {
    const std::string folder = tree + "/d" + std::to_string(i / 100);
    if (i % 100 == 0) std::filesystem::create_directories(folder);
    std::FILE* f = std::fopen((folder + "/f" + std::to_string(i) + ".txt").c_str(), "w");
    if (!f) std::exit(1);
    for (int line = 0; line < 8; ++line) std::fprintf(f, "entry %d line %d of a small file\n", i, line);
    std::fclose(f);
  }
  // The tree stays until the end, with the rest (see above).
  run("cd '" + tree + "' && zip -r -q -X -6 '" + root + "/c/" + name + ".zip' .");
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/unzip-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl;
  platform::set_root(root);
  std::filesystem::create_directories(root + "/c");
  run("cd /usr && zip -r -q -X -6 '" + root + "/c/inc.zip' include");
  make_small_files_zip(root, "small100", 100);
  make_small_files_zip(root, "small10k", 10000);

  unzipInit(nullptr);
  unzipAttachThread();
  for (const char* name : {"inc", "small100", "small10k"}) compare(root, name);
  unzipDetachThread();
  unzipTerm();
  std::filesystem::remove_all(root);
  return 0;
}
