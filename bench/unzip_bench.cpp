// Extraction and testing of an archive of /usr/include by unzipCommand and
// by the unzip program, timed in one run, best of three each.
#include "platform/paths.h"
#include "ziplib/unziplib.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace {

double best_of(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    prepare();
    auto t0 = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void run(const std::string& cmd) {
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    std::exit(1);
  }
}

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
  c.lpszDestination = "C:\\out1";
  int result = 0;
  // Both extract into an empty folder each time.
  auto clear = [&](const char* name) { return [&root, name] { std::filesystem::remove_all(root + "/c/" + name); }; };
  const double ours = best_of(3, clear("out1"), [&] { result = unzipCommand(&c); });
  if (result != 0) std::printf("unzipCommand extract returned %d\n", result);
  const double theirs = best_of(3, clear("out2"), [&] { run("unzip -q -o '" + zip + "' -d '" + root + "/c/out2'"); });
  // No comparison of the two trees here: names that differ only in case land
  // on one file on the instrument's drives, as the tests show.
  c.testFlag = 1;
  const double ours_t = best_of(3, [] {}, [&] { result = unzipCommand(&c); });
  if (result != 0) std::printf("unzipCommand test returned %d\n", result);
  const double theirs_t = best_of(3, [] {}, [&] { run("unzip -tq '" + zip + "' >/dev/null"); });
  std::printf("%-8s %10s %10s %7s\n", "", "ours s", "unzip s", "ratio");
  std::printf("%-8s %10.3f %10.3f %7.2f\n", "extract", ours, theirs, ours / theirs);
  std::printf("%-8s %10.3f %10.3f %7.2f\n", "test", ours_t, theirs_t, ours_t / theirs_t);
  unzipDetachThread();
  unzipTerm();
  std::filesystem::remove_all(root);
  return 0;
}
