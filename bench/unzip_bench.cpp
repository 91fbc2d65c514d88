// Extraction and testing by unzipCommand and by the unzip program, of an
// archive of /usr/include and of archives of 100 and 10,000 small files: five
// runs each, taken in turns so that a change in the machine's load falls on
// both alike; best and median of the time taken and, for extraction, of the
// processor time (user and system), which a loaded machine disturbs less.
// Our extracted tree is compared with unzip's, byte for byte; a difference
// fails the benchmark.
//
// Each extraction goes into a folder of its own and nothing is removed until
// the end: on ext4, creating thousands of files right after deleting
// thousands makes the kernel pass over every recently freed inode for each
// new one, which costs more than the extraction itself and falls on whichever
// run comes after a removal.
#include "bench/bench_turns.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "ziplib/unziplib.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 5;

void run(const std::string& cmd) {
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    std::exit(1);
  }
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Our extraction against unzip's of the same archive, byte for byte.  Names
// are matched without regard to case, as on the instrument's drives: entries
// whose names differ only in case land on one file there, which holds the
// one that comes last in the archive (the run overwrites).
void check_same_tree(const std::string& zip, const fs::path& ours, const fs::path& theirs) {
  // Archive order, for entries whose names differ only in case.
  const std::string list = theirs.string() + ".names";
  run("unzip -Z1 '" + zip + "' > '" + list + "'");
  std::map<std::string, std::string> last;  // lower-case name: the last entry's name
  {
    std::ifstream in(list);
    for (std::string name; std::getline(in, name);) {
      if (!name.empty() && name.back() == '/') name.pop_back();
      last[lower(name)] = name;
    }
  }
  fs::remove(list);
  auto walk = [](const fs::path& top) {
    std::map<std::string, std::vector<fs::path>> by_name;
    for (const auto& e : fs::recursive_directory_iterator(top))
      by_name[lower(fs::relative(e.path(), top).generic_string())].push_back(e.path());
    return by_name;
  };
  const auto mine = walk(ours), ref = walk(theirs);
  auto fail = [&](const std::string& why) { bench::check_failed(zip + ": our extraction " + why); };
  for (const auto& [name, paths] : mine)
    if (!ref.count(name)) fail("has " + paths[0].string() + ", which unzip did not extract");
  std::size_t files = 0;
  for (const auto& [name, paths] : ref) {
    const auto m = mine.find(name);
    if (m == mine.end()) fail("lacks " + paths[0].string());
    const fs::path& got = m->second[0];
    if (fs::is_directory(paths[0])) {
      if (!fs::is_directory(got)) fail("has a file where unzip made the folder " + name);
      continue;
    }
    fs::path want = paths[0];
    for (const fs::path& p : paths)
      if (fs::relative(p, theirs).generic_string() == last[name]) want = p;
    const auto a = platform::read_file(got.string()), b = platform::read_file(want.string());
    if (!fs::is_regular_file(got) || !a || !b || *a != *b)
      fail("of " + name + " is not unzip's " + want.string() + " byte for byte");
    ++files;
  }
  std::printf("  extracted tree checked against unzip's: %zu files the same, byte for byte\n", files);
}

// Times extraction and testing of one archive, ours and unzip's in turns.
void compare(const std::string& root, const std::string& name) {
  const std::string zip = root + "/c/" + name + ".zip";
  std::printf("%s: %ju bytes\n", name.c_str(), static_cast<std::uintmax_t>(fs::file_size(zip)));
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
  int ours_run = 0, theirs_run = 0;
  std::string ours_dest;  // c's destination, until testing too
  // Each side goes first in turn, so that what the file system still carries
  // from the extractions before (see above) falls on both alike.
  const auto extract = bench::in_turns(kRuns, {
      [&] {
        ours_dest = "C:\\" + name + "-ours" + std::to_string(ours_run++);
        c.lpszDestination = ours_dest.c_str();
        int result = 0;
        const bench::Cost cost = bench::cost_of([&] { result = unzipCommand(&c); });
        if (result != 0) bench::check_failed(name + ": unzipCommand extract returned " + std::to_string(result));
        return cost;
      },
      [&] {
        const std::string dest = root + "/c/" + name + "-theirs" + std::to_string(theirs_run++);
        return bench::child_cost_of([&] { run("unzip -q -o '" + zip + "' -d '" + dest + "'"); });
      }}, bench::Order::kLeadChanges);
  check_same_tree(zip, platform::map_path("C:\\" + name + "-ours0"), root + "/c/" + name + "-theirs0");
  c.testFlag = 1;
  const auto test = bench::in_turns(kRuns, {
      [&] {
        int result = 0;
        const bench::Cost cost = bench::cost_of([&] { result = unzipCommand(&c); });
        if (result != 0) bench::check_failed(name + ": unzipCommand test returned " + std::to_string(result));
        return cost;
      },
      [&] { return bench::child_cost_of([&] { run("unzip -tq '" + zip + "' >/dev/null"); }); }});
  std::printf("  %-12s %s\n", "", bench::best_and_median_heads("ours", "unzip").c_str());
  std::printf("  %-12s %s\n", "extract s", bench::best_and_median(extract[0].wall, extract[1].wall, 1, 3).c_str());
  std::printf("  %-12s %s\n", "extract CPU", bench::best_and_median(extract[0].cpu, extract[1].cpu, 1, 3).c_str());
  std::printf("  %-12s %s\n", "test s", bench::best_and_median(test[0].wall, test[1].wall, 1, 3).c_str());
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
