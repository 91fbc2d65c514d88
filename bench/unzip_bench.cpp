// Extraction and testing of an archive of /usr/include by unzipCommand and
// by the unzip program: five runs each, taken in turns so that a change in
// the machine's load falls on both alike; best and median of the time taken
// and, for extraction, of the processor time (user and system), which a
// loaded machine disturbs less.
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

}  // namespace

int main() {
  char tmpl[] = "/tmp/unzip-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl;
  platform::set_root(root);
  std::filesystem::create_directories(root + "/c");
  const std::string zip = root + "/c/inc.zip";
  run("cd /usr && zip -r -q -X -6 '" + zip + "' include");
  std::printf("archive: %ju bytes\n", static_cast<std::uintmax_t>(std::filesystem::file_size(zip)));

  unzipInit(nullptr);
  unzipAttachThread();
  UNZIPCMDSTRUCT c{};
  c.structSize = kUnzipCmdV170;
  c.Function = UNZIP_EXTRACT;
  c.lpszZIPFile = "C:\\inc.zip";
  c.lpszFilespec = "*.*";
  c.recurseFlag = 1;
  c.overWriteFlag = 1;
  c.quietFlag = 1;
  c.index = -1;
  int result = 0;
  Figures extract, extract_cpu, test;
  for (int i = 0; i < kRuns; ++i) {
    const std::string ours = "C:\\ours" + std::to_string(i);
    c.lpszDestination = ours.c_str();
    extract_cpu.ours.push_back(cpu_of(RUSAGE_SELF, [&] {
      extract.ours.push_back(seconds([&] { result = unzipCommand(&c); }));
    }));
    if (result != 0) std::printf("unzipCommand extract returned %d\n", result);
    const std::string theirs = root + "/c/theirs" + std::to_string(i);
    extract_cpu.theirs.push_back(cpu_of(RUSAGE_CHILDREN, [&] {
      extract.theirs.push_back(seconds([&] { run("unzip -q -o '" + zip + "' -d '" + theirs + "'"); }));
    }));
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
  unzipDetachThread();
  unzipTerm();
  std::filesystem::remove_all(root);
  return 0;
}
