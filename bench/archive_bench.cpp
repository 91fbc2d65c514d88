// The archive at the size its 16-bit numbering allows: 65,535 generated
// studies in a temporary root.  Database searches (a name held by 100
// studies, a name held by none, the first 100 rows of an empty search) are
// timed beside a plain sequential read of the database, the folder scan
// beside reading 114 bytes of every file; then the quick, full and
// full & compress reindex of 10,000 studies, each beside reading every file
// once.  Best of three each, wall time and processor time.  Last, saves of a
// temporary study into an archive of 1,000 and of 65,500 studies, in turns.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

double cpu_now() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall and processor time of the best run; a loaded machine stretches the
// first more than the second.
struct Timing {
  double wall = 1e30, cpu = 1e30;
};

Timing best_of(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  Timing best;
  for (int i = 0; i < runs; ++i) {
    if (prepare) prepare();
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpu_now();
    work();
    best.cpu = std::min(best.cpu, cpu_now() - c0);
    best.wall = std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
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

std::string folder_path(const char* folder = kArchive) { return platform::map_path(folder) + "/"; }

void clear_folder(const char* folder) {
  const std::string dir = platform::map_path(folder);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
}

// Numbers 1..count, studies named SMITH every `every`th (0: none).
void make_archive(int count, int every, int gap_every, const char* folder = kArchive) {
  clear_folder(folder);
  const std::string dir = folder_path(folder);
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

// One save of a fresh temporary study into the archive folder `folder`.
Timing save_into(const char* folder) {
  std::snprintf(hardware_settings().archive_path_1, sizeof hardware_settings().archive_path_1, "%s\\", folder);
  write_raw(platform::map_path_create_dirs("C:\\DATA\\1.PDF"), study_bytes("SAVED", 1) + std::string(20000, 'x'));
  return best_of(1, {}, [] {
    if (archive_temp_study("1.PDF") != kSaveDone) fail("save");
  });
}

// Saves into a small and a full archive in turns; the median of each.
void time_saves() {
  constexpr int kSaves = 15;
  make_archive(1000, 0, 0, "C:\\SMALL");
  make_archive(65500, 0, 0, kArchive);
  std::vector<Timing> small, large;
  for (int i = 0; i < kSaves; ++i) {
    small.push_back(save_into("C:\\SMALL"));
    large.push_back(save_into(kArchive));
  }
  auto median = [](std::vector<Timing> v, double Timing::*field) {
    std::sort(v.begin(), v.end(), [&](const Timing& a, const Timing& b) { return a.*field < b.*field; });
    return v[v.size() / 2].*field;
  };
  const double sw = median(small, &Timing::wall), sc = median(small, &Timing::cpu);
  const double lw = median(large, &Timing::wall), lc = median(large, &Timing::cpu);
  std::printf("save, median of %d in turns: at 1,000 studies %6.1f ms (CPU %5.1f ms); at 65,500 studies %6.1f ms "
              "(CPU %5.1f ms); ratio %.2f (CPU %.2f)\n",
              kSaves, sw * 1e3, sc * 1e3, lw * 1e3, lc * 1e3, lw / sw, lc / sc);
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
  char tmpl[] = "/tmp/archive-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  platform::set_root(tmpl);
  hardware_settings() = HardwareSettings{};
  default_hardware_settings(0);
  std::snprintf(hardware_settings().archive_path_1, sizeof hardware_settings().archive_path_1, "C:\\ARCHIVE\\");
  std::snprintf(hardware_settings().data_directory, sizeof hardware_settings().data_directory, "C:\\DATA\\");
  platform::map_path_create_dirs("C:\\TEMP\\x");
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

  if (wanted("search")) {
    std::printf("generating 65535 studies...\n");
    make_archive(kMaxArchiveNumber, 655, 0);
    const std::string db_path = platform::map_path(kArchiveDbPath);
    // The plain read and each search in turns, so that a load that comes and
    // goes falls on both.
    for (const char* name : {"SMITH", "NOBODY", ""}) {
      const Timing plain = best_of(3, {}, [&] {
        const auto bytes = platform::read_file(db_path);
        if (!bytes) fail("database read");
      });
      const Timing t = best_of(3, {}, [&] { search(name); });
      std::printf("database search \"%s\": %3d rows %7.1f ms (CPU %6.1f ms)%s; plain read of the database "
                  "(%zu bytes) %6.1f ms (CPU %6.1f ms)\n",
                  name, study_list().count, t.wall * 1e3, t.cpu * 1e3, t.cpu < 0.01 ? "" : "  (over 10 ms of CPU)",
                  static_cast<std::size_t>(std::filesystem::file_size(db_path)), plain.wall * 1e3, plain.cpu * 1e3);
    }
    const Timing scan_plain = best_of(3, {}, [] { read_every_file(114); });
    const Timing scan = best_of(3, {}, [] {
      archive_patterns() = ArchivePatterns{};
      std::snprintf(archive_patterns().name, sizeof archive_patterns().name, "NOBODY");
      search_archive_files();
    });
    std::printf("folder scan: %8.1f ms (CPU %6.1f ms); reading 114 bytes of every file: %8.1f ms (CPU %6.1f ms)\n",
                scan.wall * 1e3, scan.cpu * 1e3, scan_plain.wall * 1e3, scan_plain.cpu * 1e3);
  }
  if (wanted("reindex")) {
    constexpr int kReindexStudies = 10000;
    const Timing read_all = best_of(3, [] { make_archive(kReindexStudies, 0, 0); },
                                    [] { read_every_file(SIZE_MAX); });
    const Timing quick = best_of(3, [] { make_archive(kReindexStudies, 0, 0); }, [] {
      QuickReindexCounts c;
      if (!quick_reindex(c) || c.verified != kReindexStudies) fail("quick reindex");
    });
    const Timing full = best_of(3, [] { make_archive(kReindexStudies, 0, 0); }, [] {
      FullReindexCounts c;
      full_reindex(c, kReindexStudies);
      if (c.processed != kReindexStudies) fail("full reindex");
    });
    const Timing compress = best_of(3, [] { make_archive(kReindexStudies, 0, 10); }, [] {
      CompressCounts c;
      compress_archive(c);
      FullReindexCounts f;
      full_reindex(f, c.compressed);
      if (f.processed != kReindexStudies) fail("full & compress");
    });
    std::printf("10000 studies: reading every file %8.1f ms; quick %8.1f ms; full %8.1f ms; "
                "full & compress (10%% gaps) %8.1f ms\n",
                read_all.wall * 1e3, quick.wall * 1e3, full.wall * 1e3, compress.wall * 1e3);
    std::printf("  CPU: reading every file %8.1f ms; quick %8.1f ms; full %8.1f ms; full & compress %8.1f ms\n",
                read_all.cpu * 1e3, quick.cpu * 1e3, full.cpu * 1e3, compress.cpu * 1e3);
  }
  if (wanted("save")) time_saves();
  std::filesystem::remove_all(tmpl);
  return 0;
}
