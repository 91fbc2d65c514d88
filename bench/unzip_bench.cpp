// Extraction and testing of an archive of /usr/include and of archives of
// 100, 10,000 and 50,000 small files, by our library as a program of its own
// (ziptool extract, ziptool test: unzipCommand, Function 8) and by the unzip
// program, each run a fresh process of either: five runs of each, taken in
// turns, the lead changing each round.  Printed: the medians of user, system
// and processor time and of the wall time of both sides, ours over unzip's,
// and the processor-time ratio of each round.  Every tree we extract is
// compared with unzip's first one, byte for byte; a difference fails the
// benchmark.
//
// Each extraction goes into a folder of its own and nothing is removed until
// the end: on ext4, creating thousands of files right after deleting
// thousands makes the kernel pass over every recently freed inode for each
// new one, which costs more than the extraction itself and falls on whichever
// run comes after a removal.
//
//   unzip_bench [NAME...]   only the archives named (inc, small100, small10k, small50k)
#include "bench/bench_turns.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 5;

void run(const std::string& cmd) {
  if (std::system(cmd.c_str()) != 0) bench::check_failed(cmd);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ziptool() { return VASLAB_BUILD_DIR "/bin/ziptool"; }

// Our extraction against unzip's of the same archive, byte for byte.  Names
// are matched without regard to case, as on the instrument's drives: entries
// whose names differ only in case land on one file there, which holds the
// one that comes last in the archive (the run overwrites).
std::size_t check_same_tree(const std::string& zip, const fs::path& ours, const fs::path& theirs) {
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
  return files;
}

// Times extraction and testing of one archive, ours and unzip's in turns.
void compare(const std::string& root, const std::string& name) {
  const std::string zip = root + "/c/" + name + ".zip";
  std::printf("\n%s: %ju bytes\n", name.c_str(), static_cast<std::uintmax_t>(fs::file_size(zip)));
  const std::string dos_zip = "C:\\" + name + ".zip";
  int ours_run = 0, theirs_run = 0;
  // Each side goes first in turn, so that what the file system still carries
  // from the extractions before (see above) falls on both alike.
  const auto extract = bench::in_turns(kRuns, {
      [&] {
        const std::string dest = "C:\\" + name + "-ours" + std::to_string(ours_run++);
        int status = 0;
        const bench::Cost c = bench::run_program({ziptool(), "extract", dos_zip, dest}, "", &status);
        if (status != 0) bench::check_failed(name + ": ziptool extract returned " + std::to_string(status));
        return c;
      },
      [&] {
        const std::string dest = root + "/c/" + name + "-theirs" + std::to_string(theirs_run++);
        int status = 0;
        const bench::Cost c = bench::run_program({"unzip", "-q", "-o", zip, "-d", dest}, "", &status);
        if (status != 0) bench::check_failed("unzip -q -o " + zip + " -d " + dest);
        return c;
      }}, bench::Order::kLeadChanges);
  std::size_t files = 0;
  for (int i = 0; i < kRuns; ++i)
    files = check_same_tree(zip, root + "/c/" + name + "-ours" + std::to_string(i), root + "/c/" + name + "-theirs0");
  std::printf("  every tree we extracted checked against unzip's: %zu files the same, byte for byte\n", files);
  const auto test = bench::in_turns(kRuns, {
      [&] {
        int status = 0;
        const bench::Cost c = bench::run_program({ziptool(), "test", dos_zip}, "", &status);
        if (status != 0) bench::check_failed(name + ": ziptool test returned " + std::to_string(status));
        return c;
      },
      [&] {
        int status = 0;
        const bench::Cost c = bench::run_program({"unzip", "-tqq", zip}, "", &status);
        if (status != 0) bench::check_failed("unzip -tqq " + zip);
        return c;
      }});
  std::printf("  extraction\n");
  bench::print_medians("    ", "ours", "unzip", extract[0], extract[1]);
  std::printf("  testing\n");
  bench::print_medians("    ", "ours", "unzip", test[0], test[1]);
}

// An archive of `count` small text files, a hundred to a folder: the case
// where the cost per entry, not the inflating, decides.
void make_small_files_zip(const std::string& root, const std::string& name, int count) {
  const std::string tree = root + "/" + name;
  for (int i = 0; i < count; ++i) {
    const std::string folder = tree + "/d" + std::to_string(i / 100);
    if (i % 100 == 0) std::filesystem::create_directories(folder);
    std::FILE* f = std::fopen((folder + "/f" + std::to_string(i) + ".txt").c_str(), "w");
    if (!f) bench::check_failed("cannot write " + folder);
    for (int line = 0; line < 8; ++line) std::fprintf(f, "entry %d line %d of a small file\n", i, line);
    std::fclose(f);
  }
  // The tree stays until the end, with the rest (see above).
  run("cd '" + tree + "' && zip -r -q -X -6 '" + root + "/c/" + name + ".zip' .");
}

}  // namespace

int main(int argc, char** argv) {
  const struct {
    const char* name;
    int files;  // 0: /usr/include
  } archives[] = {{"inc", 0}, {"small100", 100}, {"small10k", 10000}, {"small50k", 50000}};
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    bool known = false;
    for (const auto& a : archives) known = known || std::strcmp(a.name, argv[i]) == 0;
    if (!known) {
      std::fprintf(stderr, "unzip_bench: no archive \"%s\"; they are inc, small100, small10k, small50k\n", argv[i]);
      return 2;
    }
    wanted.push_back(argv[i]);
  }
  const std::string root = bench::temp_folder("/tmp/unzip-bench-XXXXXX");
  ::setenv("VASLAB_ROOT", root.c_str(), 1);
  std::filesystem::create_directories(root + "/c");
  std::printf("%d runs of each, ours (ziptool, over the library) and unzip in turns, the lead changing each round, "
              "each run a fresh process\n",
              kRuns);
  for (const auto& a : archives) {
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), a.name) == wanted.end()) continue;
    if (a.files == 0)
      run("cd /usr && zip -r -q -X -6 '" + root + "/c/inc.zip' include");
    else
      make_small_files_zip(root, a.name, a.files);
    compare(root, a.name);
  }
  return 0;
}
