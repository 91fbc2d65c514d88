// The archive at the size its 16-bit numbering allows: 65,535 generated
// studies in a temporary root.  Database searches (a name held by 100
// studies, a name held by none, the first 100 rows of an empty search) are
// timed beside a plain sequential read of the database, the folder scan
// beside reading 114 bytes of every file; then the quick, full and
// full & compress reindex of 10,000 studies, each beside reading every file
// once.  Best of three each.
#include <fcntl.h>
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
#include "vaslab/core/settings.h"
#include "vaslab/core/study_menu.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/temp_studies.h"

namespace {

using namespace vaslab;

constexpr std::size_t kStudyBytes = 4869 + 131;

double best_of(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    if (prepare) prepare();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
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

std::string folder_path() { return platform::map_path("C:\\ARCHIVE") + "/"; }

void clear_folder() {
  const std::string dir = platform::map_path("C:\\ARCHIVE");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
}

// Numbers 1..count, studies named SMITH every `every`th (0: none).
void make_archive(int count, int every, int gap_every) {
  clear_folder();
  const std::string dir = folder_path();
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

}  // namespace

int main() {
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

  std::printf("generating 65535 studies...\n");
  make_archive(kMaxArchiveNumber, 655, 0);
  const std::string db_path = platform::map_path(kArchiveDbPath);
  const double plain = best_of(3, {}, [&] {
    const auto bytes = platform::read_file(db_path);
    if (!bytes) fail("database read");
  });
  std::printf("plain read of the database (%zu bytes): %8.1f ms\n",
              static_cast<std::size_t>(std::filesystem::file_size(db_path)), plain * 1e3);
  for (const char* name : {"SMITH", "NOBODY", ""}) {
    const double t = best_of(3, {}, [&] { search(name); });
    std::printf("database search \"%s\": %3d rows %8.1f ms%s\n", name, study_list().count, t * 1e3,
                t < 0.1 ? "" : "  (over 100 ms)");
  }
  const double scan_plain = best_of(3, {}, [] { read_every_file(114); });
  const double scan = best_of(3, {}, [] {
    archive_patterns() = ArchivePatterns{};
    std::snprintf(archive_patterns().name, sizeof archive_patterns().name, "NOBODY");
    search_archive_files();
  });
  std::printf("folder scan: %8.1f ms; reading 114 bytes of every file: %8.1f ms\n", scan * 1e3,
              scan_plain * 1e3);

  constexpr int kReindexStudies = 10000;
  const double read_all = best_of(3, [] { make_archive(kReindexStudies, 0, 0); },
                                  [] { read_every_file(SIZE_MAX); });
  const double quick = best_of(3, [] { make_archive(kReindexStudies, 0, 0); }, [] {
    QuickReindexCounts c;
    if (!quick_reindex(c) || c.verified != kReindexStudies) fail("quick reindex");
  });
  const double full = best_of(3, [] { make_archive(kReindexStudies, 0, 0); }, [] {
    FullReindexCounts c;
    full_reindex(c, kReindexStudies);
    if (c.processed != kReindexStudies) fail("full reindex");
  });
  const double compress = best_of(3, [] { make_archive(kReindexStudies, 0, 10); }, [] {
    CompressCounts c;
    compress_archive(c);
    FullReindexCounts f;
    full_reindex(f, c.compressed);
    if (f.processed != kReindexStudies) fail("full & compress");
  });
  std::printf("10000 studies: reading every file %8.1f ms; quick %8.1f ms; full %8.1f ms; "
              "full & compress (10%% gaps) %8.1f ms\n",
              read_all * 1e3, quick * 1e3, full * 1e3, compress * 1e3);
  std::filesystem::remove_all(tmpl);
  return 0;
}
