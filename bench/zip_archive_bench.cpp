// Whole archives: each case's folder tree archived by zipCompress (Function
// 4, recursing) and by Debian's zip -r -q -X at levels 1, 6 and 9, five runs
// of each taken in turns (ours, zip, ours, ...).  Printed for each level: the
// processor time and the wall time of the best and of the median run, and
// our share of each, and both archives' sizes.  Every archive of ours passes
// `unzip -t`, and the first of each level python's zipfile, which reads every
// entry back against the tree; a failed check fails the benchmark.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "bench/bench_turns.h"
#include "platform/paths.h"
#include "ziplib/ziplib.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 5;

std::string g_root;  // removed at exit, a failed check's exit too

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

// Our archive of the current folder's tree at `level`; false when zipCompress
// fails.
bool zip_ours(const std::string& dos_zip, int level) {
  ZIPCMDSTRUCT c{};
  c.structSize = kZipCmdV220;
  c.Function = ZIP_ADD;
  c.lpszZIPFile = dos_zip.c_str();
  c.lpszItemList = "*.*";
  c.recurseFlag = 1;
  c.compFactor = level;
  c.quietFlag = 1;
  c.wZipSubOptions = 0x0001;  // names relative to the tree
  const int rc = zipCompress(&c);
  if (rc != 0) std::fprintf(stderr, "zipCompress level %d: %d\n", level, rc);
  return rc == 0;
}

void run_case(const std::string& root, const Case& k) {
  const fs::path tree = fs::path(root) / "c" / k.folder;
  k.make(tree);
  std::size_t files = 0;
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(tree))
    if (e.is_regular_file()) ++files, bytes += e.file_size();
  std::printf("\n%s: %zu files, %.1f MB\n", k.name, files, bytes / 1e6);
  std::printf("%-5s %-9s %s\n", "level", "", bench::best_and_median_heads("ours", "zip").c_str());
  platform::set_current_directory(std::string("C:\\") + k.folder + "\\");
  const std::string zipcheck = "python3 " VASLAB_SOURCE_DIR "/ziplib/tests/zipcheck.py tree ";
  for (int level : {1, 6, 9}) {
    const std::string ours = root + "/c/ours.zip", theirs = root + "/c/zip.zip";
    const std::string zip_cmd = "cd " + quoted(tree.string()) + " && zip -r -q -X -" + std::to_string(level) + " " +
                                quoted(theirs) + " .";
    std::uintmax_t ours_bytes = 0, zip_bytes = 0;
    int run = 0;
    const auto costs = bench::in_turns(kRuns, {
        [&] {
          bool ok = false;
          const bench::Cost c = bench::cost_of([&] { ok = zip_ours("C:\\ours.zip", level); });
          if (!ok) bench::check_failed(std::string(k.name) + ": zipCompress failed at level " + std::to_string(level));
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
          int rc = 0;
          const bench::Cost c = bench::child_cost_of([&] { rc = std::system(zip_cmd.c_str()); });
          if (rc != 0) bench::check_failed(zip_cmd);
          zip_bytes = fs::file_size(theirs);
          fs::remove(theirs);
          return c;
        }});
    std::printf("%-5d %-9s %s\n", level, "CPU s", bench::best_and_median(costs[0].cpu, costs[1].cpu, 1, 3).c_str());
    std::printf("%-5s %-9s %s\n", "", "wall s", bench::best_and_median(costs[0].wall, costs[1].wall, 1, 3).c_str());
    std::printf("%-5s %-9s ours %ju, zip %ju: %.3fx\n", "", "bytes", ours_bytes, zip_bytes,
                double(ours_bytes) / double(zip_bytes));
  }
}

}  // namespace

// Without arguments every case runs; else those whose names begin with one.
int main(int argc, char** argv) {
  const char* shm = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string root = std::string(shm) + "/vaslab-zip-bench-XXXXXX";
  if (!::mkdtemp(root.data())) return 1;
  g_root = root;
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(g_root, ec);
  });
  platform::set_root(root);
  zipInit(nullptr);
  zipAttachThread();
  std::printf("%d runs of each, ours and zip in turns; every archive of ours passes unzip -t, the first of each "
              "level python's zipfile against the tree\n",
              kRuns);
  for (const Case& k : kCases) {
    bool wanted = argc < 2;
    for (int i = 1; i < argc; ++i) wanted = wanted || std::strncmp(k.name, argv[i], std::strlen(argv[i])) == 0;
    if (wanted) run_case(root, k);
  }
  zipDetachThread();
  return 0;
}
