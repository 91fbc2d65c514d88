// The archive at the size its 16-bit numbering allows: 65,535 generated
// studies in a temporary root.  Database searches (a name held by 100
// studies, a name held by none, the first 100 rows of an empty search) are
// timed in turns with reading the whole database the way a search reads it,
// a block of 1,024 records at a time into one buffer; the folder scan with
// reading 114 bytes of every file; then the quick, full and
// full & compress reindex of 10,000 studies, in turns with reading every file
// once.  Last, saves of a temporary study into an archive of 1,000 and one of
// 65,500 studies, in turns, each archive a drive root of its own with its own
// database.  Best and median run of each, wall time and processor time.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_turns.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/temp_studies.h"

namespace {

using namespace vaslab;

constexpr std::size_t kStudyBytes = 4869 + 131;

// "best W ms (CPU C ms), median W ms (CPU C ms)".
std::string figures(const bench::Costs& c) {
  char text[120];
  std::snprintf(text, sizeof text, "best %7.1f ms (CPU %7.1f ms), median %7.1f ms (CPU %7.1f ms)", c.wall.best() * 1e3,
                c.cpu.best() * 1e3, c.wall.median() * 1e3, c.cpu.median() * 1e3);
  return text;
}

// One run: `prepare`, untimed, then `work`, timed.
std::function<bench::Cost()> timed(std::function<void()> prepare, std::function<void()> work) {
  return [prepare = std::move(prepare), work = std::move(work)] {
    if (prepare) prepare();
    return bench::cost_of(work);
  };
}

void fail(const char* what) {
  std::fprintf(stderr, "archive_bench: %s\n", what);
  std::exit(1);
}

// A study's page header with its patient; no items behind it.
std::string study_bytes(const std::string& name, int n) {
  std::string s(kStudyBytes, '\0');
  s[0] = static_cast<char>(0xFE);
  s[1] = 0x01;
  s.replace(32, name.size(), name);
  const std::string id = "ID" + std::to_string(n);
  s.replace(62, id.size(), id);
  char date[24];
  std::snprintf(date, sizeof date, "%02d/%02d/2026 10:00 AM", n % 12 + 1, n % 28 + 1);
  s.replace(92, std::strlen(date), date);
  return s;
}

void write_raw(const std::string& linux_path, const std::string& bytes) {
  const int fd = ::open(linux_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) fail("write");
  ::close(fd);
}

constexpr const char* kArchive = "C:\\ARCHIVE";

// Numbers 1..count, studies named SMITH every `every`th (0: none), in the
// archive folder and database of the current drive root.
void make_archive(int count, int every, int gap_every) {
  const std::string dir = platform::map_path(kArchive) + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::vector<std::uint8_t> db(static_cast<std::size_t>(count + 1) * kDbRecordBytes, 0);
  int n = 0;
  for (int k = 1; n < count; ++k) {
    if (gap_every && k % gap_every == 0) continue;
    ++n;
    char name[30];
    if (every && n % every == 0)
      std::snprintf(name, sizeof name, "SMITH");
    else
      std::snprintf(name, sizeof name, "PATIENT%05d", n);
    const std::string s = study_bytes(name, n);
    write_raw(dir + std::to_string(k), s);
    if (gap_every) continue;
    ArchiveDbRecord r{};
    r.flags = 1;
    std::memcpy(r.name, s.data() + 32, 30);
    std::memcpy(r.id, s.data() + 62, 30);
    std::memcpy(r.date, s.data() + 92, 22);
    std::uint16_t sum = 0;
    check_db_record(r, &sum);
    r.checksum = sum;
    encode_db_record(r, db.data() + static_cast<std::size_t>(k) * kDbRecordBytes);
  }
  write_raw(platform::map_path_create_dirs(kArchiveDbPath), std::string(db.begin(), db.end()));
  write_raw(dir + "0", std::to_string(gap_every ? 0 : count));
}

std::size_t read_every_file(std::size_t limit) {
  std::size_t total = 0;
  std::vector<char> buf(64 * 1024);
  for (const auto& e : std::filesystem::directory_iterator(platform::map_path("C:\\ARCHIVE"))) {
    const int fd = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    std::size_t got = 0;
    for (ssize_t r; got < limit && (r = ::read(fd, buf.data(), std::min(buf.size(), limit - got))) > 0;)
      got += static_cast<std::size_t>(r);
    total += got;
    ::close(fd);
  }
  return total;
}

void search(const char* name) {
  archive_patterns() = ArchivePatterns{};
  std::snprintf(archive_patterns().name, sizeof archive_patterns().name, "%s", name);
  archive_db_in_use() = true;
  search_archive_db();
}

// A drive root with the study menu and the folders the archive uses.
void prepare_root(const std::string& root) {
  std::filesystem::create_directories(root);
  platform::set_root(root);
  platform::map_path_create_dirs("C:\\TEMP\\x");
  platform::map_path_create_dirs("C:\\DATA\\x");
  // A menu of one template, which the generated studies do not match.
  std::vector<std::uint8_t> tpl(600, 0);
  tpl[32] = 1;
  tpl[36] = 44;
  tpl[37] = 1;
  tpl[300] = 10;
  tpl[301] = 1;
  write_raw(platform::map_path_create_dirs("C:\\STUDIES\\00000123.sty"), std::string(tpl.begin(), tpl.end()));
  const auto menu = encode_study_menu_file({make_submenu_entry("Root", 1, 1), make_study_entry("Notes", 123)});
  write_raw(platform::map_path(kStudyMenuFile), std::string(menu.begin(), menu.end()));
}

// One save of a fresh temporary study into the archive of drive root `root`.
bench::Cost save_into(const std::string& root) {
  platform::set_root(root);
  write_raw(platform::map_path_create_dirs("C:\\DATA\\1.PDF"), study_bytes("SAVED", 1) + std::string(20000, 'x'));
  return bench::cost_of([] {
    if (archive_temp_study("1.PDF") != kSaveDone) fail("save");
  });
}

// Saves into a small and a full archive in turns, each archive with its own
// database: the save writes the new study's record into it.
void time_saves(const std::string& top) {
  constexpr int kSaves = 15;
  const std::string small = top + "/save1000", large = top + "/save65500";
  prepare_root(small);
  make_archive(1000, 0, 0);
  prepare_root(large);
  make_archive(65500, 0, 0);
  const auto saves = bench::in_turns(kSaves, {[&] { return save_into(small); }, [&] { return save_into(large); }});
  auto count = [](const std::string& root) {
    platform::set_root(root);
    return std::filesystem::file_size(platform::map_path(kArchiveDbPath)) / kDbRecordBytes - 1;
  };
  const std::size_t small_records = count(small), large_records = count(large);
  if (small_records != 1000 + kSaves || large_records != 65500 + kSaves) fail("a save's record not in its database");
  std::printf("save, %d in turns: at 1,000 studies %s\n", kSaves, figures(saves[0]).c_str());
  std::printf("                 at 65,500 studies %s\n", figures(saves[1]).c_str());
  std::printf("  ratio 65,500 over 1,000: median %.2f (CPU %.2f)\n", saves[1].wall.median() / saves[0].wall.median(),
              saves[1].cpu.median() / saves[0].cpu.median());
}

}  // namespace

// Without arguments every part runs; else those named: search, reindex, save.
int main(int argc, char** argv) {
  auto wanted = [&](const char* part) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i)
      if (std::strcmp(argv[i], part) == 0) return true;
    return false;
  };
  const std::string tmpl = bench::temp_folder("/tmp/archive-bench-XXXXXX");
  hardware_settings() = HardwareSettings{};
  default_hardware_settings(0);
  std::snprintf(hardware_settings().archive_path_1, sizeof hardware_settings().archive_path_1, "C:\\ARCHIVE\\");
  std::snprintf(hardware_settings().data_directory, sizeof hardware_settings().data_directory, "C:\\DATA\\");
  prepare_root(tmpl + "/search");

  if (wanted("search")) {
    std::printf("generating 65535 studies...\n");
    make_archive(kMaxArchiveNumber, 655, 0);
    const std::string db_path = platform::map_path(kArchiveDbPath);
    // The yardstick reads as the search does: a whole-file read into fresh
    // memory would measure the machine's page faults, not the reading.
    const auto read_as_search = [&] {
      const int fd = platform::open_regular_file(db_path);
      if (fd < 0) fail("database open");
      std::vector<std::uint8_t> block(1024 * kDbRecordBytes);
      for (std::uint64_t at = 0; platform::read_at(fd, at, block.data(), block.size()) == block.size();)
        at += block.size();
      ::close(fd);
    };
    for (const char* name : {"SMITH", "NOBODY", ""}) {
      const auto runs = bench::in_turns(3, {timed({}, [&] { search(name); }), timed({}, read_as_search)});
      std::printf("database search \"%s\": %3d rows %s%s\n", name, study_list().count, figures(runs[0]).c_str(),
                  runs[0].cpu.median() < 0.01 ? "" : "  (over 10 ms of CPU)");
      std::printf("  reading the database (%zu bytes) as a search does  %s\n",
                  static_cast<std::size_t>(std::filesystem::file_size(db_path)), figures(runs[1]).c_str());
    }
    const auto scan = bench::in_turns(3, {timed({}, [] {
                                            archive_patterns() = ArchivePatterns{};
                                            std::snprintf(archive_patterns().name, sizeof archive_patterns().name,
                                                          "NOBODY");
                                            search_archive_files();
                                          }),
                                          timed({}, [] { read_every_file(114); })});
    std::printf("folder scan                       %s\n", figures(scan[0]).c_str());
    std::printf("  reading 114 bytes of every file %s\n", figures(scan[1]).c_str());
  }
  if (wanted("reindex")) {
    constexpr int kReindexStudies = 10000;
    const auto make = [] { make_archive(kReindexStudies, 0, 0); };
    const auto runs = bench::in_turns(3, {
        timed(make, [] { read_every_file(SIZE_MAX); }),
        timed(make, [] {
          QuickReindexCounts c;
          if (!quick_reindex(c) || c.verified != kReindexStudies) fail("quick reindex");
        }),
        timed(make, [] {
          FullReindexCounts c;
          full_reindex(c, kReindexStudies);
          if (c.processed != kReindexStudies) fail("full reindex");
        }),
        timed([] { make_archive(kReindexStudies, 0, 10); }, [] {
          CompressCounts c;
          compress_archive(c);
          FullReindexCounts f;
          full_reindex(f, c.compressed);
          if (f.processed != kReindexStudies) fail("full & compress");
        })});
    std::printf("10000 studies, reading every file %s\n", figures(runs[0]).c_str());
    std::printf("  quick reindex                   %s\n", figures(runs[1]).c_str());
    std::printf("  full reindex                    %s\n", figures(runs[2]).c_str());
    std::printf("  full & compress (10%% gaps)      %s\n", figures(runs[3]).c_str());
  }
  if (wanted("save")) time_saves(tmpl);
  return 0;
}
