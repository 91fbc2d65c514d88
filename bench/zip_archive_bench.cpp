// Whole archives: each case's folder tree archived at levels 1, 6 and 9 by
// our library as a program of its own (ziptool add, recursing, names
// relative to the tree) and by Debian's zip -r -q -X, each run a fresh
// process of either, five runs of each taken in turns (ours, zip, ours, ...).
// Printed for each level: the medians of user, system and processor time and
// of the wall time of both sides, ours over zip's, the processor-time ratio
// of each round, and both archives' sizes.  Every archive of ours passes
// `unzip -t`, and the first of each level python's zipfile, which reads every
// entry back against the tree; a failed check fails the benchmark.
//
//   zip_archive_bench [CASE...]   the cases whose names begin so ("many small")
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "bench/bench_turns.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 5;

// A copy of /usr/include and the programs of the Deflate benchmark: large
// and small files of every kind.
void include_tree(const fs::path& tree) {
  fs::create_directories(tree / "bin");
  fs::copy("/usr/include", tree / "include", fs::copy_options::recursive | fs::copy_options::skip_symlinks);
  for (const char* f : {"/usr/bin/perl", "/usr/bin/bash", "/usr/bin/tar", "/usr/bin/ls", "/usr/bin/cp"})
    if (fs::exists(f)) fs::copy_file(f, tree / "bin" / fs::path(f).filename());
}

// 20,000 text files of 30 to 400 bytes, a hundred to a folder: the case
// where the cost per entry, not the compressing, decides.
void small_files_tree(const fs::path& tree) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> size(30, 400);
  for (int i = 0; i < 20000; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "d%03d", i / 100);
    const fs::path folder = tree / name;
    if (i % 100 == 0) fs::create_directories(folder);
    std::string text;
    const std::size_t want = static_cast<std::size_t>(size(rng));
    for (int line = 0; text.size() < want; ++line)
      text += "entry " + std::to_string(i) + " line " + std::to_string(line) + " of a small file\n";
    text.resize(want);
    std::FILE* f = std::fopen((folder / ("f" + std::to_string(i) + ".txt")).c_str(), "w");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
      std::perror("zip_archive_bench: small file");
      std::exit(1);
    }
  }
}

// One case is one row: its name, its folder under C:\, and how it is made.
struct Case {
  const char* name;
  const char* folder;
  void (*make)(const fs::path& tree);
};
const Case kCases[] = {
    {"whole tree (a copy of /usr/include and five programs)", "tree", include_tree},
    {"many small files, 20,000 files of 30-400 bytes", "small", small_files_tree},
};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string ziptool() { return VASLAB_BUILD_DIR "/bin/ziptool"; }

void run_case(const std::string& root, const Case& k) {
  const fs::path tree = fs::path(root) / "c" / k.folder;
  k.make(tree);
  std::size_t files = 0;
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(tree))
    if (e.is_regular_file()) ++files, bytes += e.file_size();
  std::printf("\n%s: %zu files, %.1f MB\n", k.name, files, bytes / 1e6);
  const std::string zipcheck = "python3 " VASLAB_SOURCE_DIR "/ziplib/tests/zipcheck.py tree ";
  for (int level : {1, 6, 9}) {
    const std::string ours = root + "/c/ours.zip", theirs = root + "/c/zip.zip";
    const std::vector<std::string> ours_cmd = {ziptool(), "add", std::to_string(level), "C:\\ours.zip",
                                               std::string("C:\\") + k.folder};
    const std::vector<std::string> zip_cmd = {"zip", "-r", "-q", "-X", "-" + std::to_string(level), theirs, "."};
    std::uintmax_t ours_bytes = 0, zip_bytes = 0;
    int run = 0;
    const auto costs = bench::in_turns(kRuns, {
        [&] {
          int status = 0;
          const bench::Cost c = bench::run_program(ours_cmd, "", &status);
          if (status != 0)
            bench::check_failed(std::string(k.name) + ": ziptool add failed at level " + std::to_string(level) +
                                " (status " + std::to_string(status) + ")");
          // The checks, and the removal that makes the next run write a new
          // archive rather than update this one, fall outside the timing.
          bench::check_command("unzip -tqq " + quoted(ours));
          if (run++ == 0) {
            const std::string check = zipcheck + quoted(ours) + " " + quoted(tree.string());
            bench::check_command("r=$(" + check + ") || { echo \"$r\" >&2; exit 1; }");
          }
          ours_bytes = fs::file_size(ours);
          fs::remove(ours);
          return c;
        },
        [&] {
          int status = 0;
          const bench::Cost c = bench::run_program(zip_cmd, tree.string(), &status);
          if (status != 0) bench::check_failed("zip -r -q -X -" + std::to_string(level) + " in " + tree.string());
          zip_bytes = fs::file_size(theirs);
          fs::remove(theirs);
          return c;
        }});
    std::printf("level %d\n", level);
    bench::print_medians("  ", "ours", "zip", costs[0], costs[1]);
    std::printf("  bytes: ours %ju, zip %ju: %.3fx\n", ours_bytes, zip_bytes, double(ours_bytes) / double(zip_bytes));
  }
}

}  // namespace

// Without arguments every case runs; else those whose names begin with one.
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    bool known = false;
    for (const Case& k : kCases) known = known || std::strncmp(k.name, argv[i], std::strlen(argv[i])) == 0;
    if (!known) {
      std::fprintf(stderr, "zip_archive_bench: no case begins \"%s\"; the cases are:\n", argv[i]);
      for (const Case& k : kCases) std::fprintf(stderr, "  %s\n", k.name);
      return 2;
    }
  }
  const char* shm = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  const std::string root = bench::temp_folder(std::string(shm) + "/vaslab-zip-bench-XXXXXX");
  ::setenv("VASLAB_ROOT", root.c_str(), 1);
  std::printf("%d runs of each, ours (ziptool, over the library) and zip in turns, each run a fresh process; every "
              "archive of ours passes unzip -t, the first of each level python's zipfile against the tree\n",
              kRuns);
  for (const Case& k : kCases) {
    bool wanted = argc < 2;
    for (int i = 1; i < argc; ++i) wanted = wanted || std::strncmp(k.name, argv[i], std::strlen(argv[i])) == 0;
    if (wanted) run_case(root, k);
  }
  return 0;
}
