#include "vaslab/records/archive_db.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "testsupport/write_faults.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

struct ArchiveTest : RecordsFixture {
  void SetUp() override {
    RecordsFixture::SetUp();
    std::strcpy(hardware_settings().archive_path_1, "C:\\ARCHIVE\\");
    platform::map_path_create_dirs("C:\\ARCHIVE\\");
    root.write(kArchiveDbPath, "");
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Lower Arterial", "steps": [{"type": 10, "caption": "Notes"}]})");
    archive_patterns() = ArchivePatterns{};
    archive_db_in_use() = true;
    set_archive_save_hook(nullptr);
  }

  // A finished temporary study: a page description of a header and some
  // report pages (so the copy runs in several pieces), and its first page.
  std::string make_study(int exam, const char* name, const char* id, const char* date) {
    std::string pdf(kPageHeaderBytes + 3 * kPageHeaderBytes + 1234, '\0');
    for (std::size_t i = kPageHeaderBytes; i < pdf.size(); ++i) pdf[i] = static_cast<char>(i * 7 + exam);
    pdf[0] = static_cast<char>(kPageMagic0);  // the mark the reindex knows a study by
    pdf[1] = static_cast<char>(kPageMagic1);
    std::memcpy(&pdf[32], name, std::strlen(name));
    std::memcpy(&pdf[62], id, std::strlen(id));
    std::memcpy(&pdf[92], date, std::strlen(date));
    root.write("C:\\DATA\\" + std::to_string(exam) + ".PDF", pdf);
    // Every study's first page is the same; the generator is a process start
    // too costly to repeat at each step of a kill sweep.
    const std::string page = "C:\\DATA\\0." + std::to_string(exam);
    if (first_page.empty()) {
      make_study_file("page", page, R"({"template": "00000123.sty"})");
      first_page = root.read(page);
    } else {
      root.write(page, first_page);
    }
    return pdf;
  }
  std::string first_page;

  std::string db_check() {
    return check_archive_db(platform::map_path(kArchiveDbPath));
  }

  std::vector<std::string> archive_names() {
    std::vector<std::string> names;
    for (const auto& f : platform::list_files("C:\\ARCHIVE\\*")) names.push_back(f.name);
    return names;
  }
};

TEST_F(ArchiveTest, SavedStudyIsAByteCopyNumberedCountedAndIndexed) {
  const std::string smith = make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  const std::string jones = make_study(2, "JONES", "B2", "03/05/2026 09:00 AM");
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  ASSERT_EQ(archive_temp_study("2.PDF"), kSaveDone);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\1"), smith);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\2"), jones);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "2");
  EXPECT_EQ(db_check(), "1 SMITH\n2 JONES\n");
  EXPECT_EQ(root.read(kArchiveDbPath).size(), 3 * kDbRecordBytes);
  EXPECT_EQ(static_cast<std::uint8_t>(root.read(kArchiveDbPath)[86 + 83]), 123);
  // The temporary studies are gone.
  EXPECT_FALSE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_FALSE(root.exists("C:\\DATA\\0.2"));
  EXPECT_EQ(archive_names(), (std::vector<std::string>{"0", "1", "2"}));

  // With a second folder: two copies, two counters, still one record each.
  std::strcpy(hardware_settings().archive_path_2, "C:\\BACKUP\\");
  std::strcpy(hardware_settings().archive_ext_2, "ZVT");
  root.write("C:\\BACKUP\\0", "7");
  make_study(3, "BROWN", "C3", "03/06/2026 01:00 PM");
  ASSERT_EQ(archive_temp_study("3.PDF"), kSaveDone);
  EXPECT_TRUE(root.exists("C:\\ARCHIVE\\3"));
  EXPECT_EQ(root.read("C:\\BACKUP\\8.ZVT"), root.read("C:\\ARCHIVE\\3"));
  EXPECT_EQ(root.read("C:\\BACKUP\\0"), "8");
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "3");
  EXPECT_EQ(db_check(), "1 SMITH\n2 JONES\n3 BROWN\n");
}

TEST_F(ArchiveTest, MissingDatabaseIsNotCreatedAndUnreadableStudyIsKept) {
  ::unlink(platform::map_path(kArchiveDbPath).c_str());
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  EXPECT_TRUE(root.exists("C:\\ARCHIVE\\1"));
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "1");
  EXPECT_FALSE(root.exists(kArchiveDbPath));
  // A page description shorter than its header is not saved.
  root.write("C:\\DATA\\2.PDF", "short");
  EXPECT_EQ(archive_temp_study("2.PDF"), kSaveNoSource);
  EXPECT_TRUE(root.exists("C:\\DATA\\2.PDF"));
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\2"));
  // Nor one whose bytes read are not the file's size, as after a read
  // error: a kernel file reads thousands of bytes where its size says 0.
  make_study(3, "JONES", "B2", "03/05/2026 09:00 AM");
  const std::string study = platform::map_path("C:\\DATA\\3.PDF");
  ::unlink(study.c_str());
  ASSERT_EQ(::symlink("/proc/self/smaps", study.c_str()), 0);
  EXPECT_EQ(archive_temp_study("3.PDF"), kSaveNoSource);
  EXPECT_TRUE(root.exists("C:\\DATA\\0.3"));
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\2"));
}

TEST_F(ArchiveTest, NextNumber) {
  root.write("C:\\ARCHIVE\\0", "17");
  root.write("C:\\ARCHIVE\\3", "x");
  EXPECT_EQ(last_archive_number(1), 17);
  // The counter is stale when the next file exists: the folder decides.
  root.write("C:\\ARCHIVE\\18", "x");
  root.write("C:\\ARCHIVE\\19abc", "x");
  EXPECT_EQ(last_archive_number(1), 19);
  // No counter: the largest number; names past the 16-bit range never count.
  ::unlink(platform::map_path("C:\\ARCHIVE\\0").c_str());
  for (const char* f : {"18", "19abc"}) ::unlink(platform::map_path(std::string("C:\\ARCHIVE\\") + f).c_str());
  root.write("C:\\ARCHIVE\\12", "x");
  root.write("C:\\ARCHIVE\\7", "x");
  root.write("C:\\ARCHIVE\\70000", "x");
  root.write("C:\\ARCHIVE\\NOTES", "x");
  EXPECT_EQ(last_archive_number(1), 12);
  root.write("C:\\ARCHIVE\\0", "70000");
  EXPECT_EQ(last_archive_number(1), 12);
  // The extension takes part in the "next file exists" test, in any case.
  std::strcpy(hardware_settings().archive_ext_1, "ZVT");
  root.write("C:\\ARCHIVE\\0", "4");
  EXPECT_EQ(last_archive_number(1), 4);
  root.write("C:\\ARCHIVE\\5.zvt", "x");
  EXPECT_EQ(last_archive_number(1), 12);

  // The last 16-bit number taken: a save is refused, nothing wraps to "0".
  std::strcpy(hardware_settings().archive_ext_1, "");
  root.write("C:\\ARCHIVE\\0", "65535");
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  EXPECT_EQ(archive_temp_study("1.PDF"), kSaveArchiveFull);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "65535");
  EXPECT_TRUE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_STRNE(archive_save_message(kSaveArchiveFull), "");
}

// Kills the process after the g_kill_at-th step of the saves it makes.
int g_kill_at = 0;
void kill_at_step(int) {
  static int seen = 0;
  if (++seen == g_kill_at) ::raise(SIGKILL);
}
const std::string* g_intruder_path = nullptr;
void put_intruder(int step) {
  if (step == kStepCopyWritten) std::ofstream(*g_intruder_path) << "restored";
}

TEST_F(ArchiveTest, NumberTakenMeanwhileIsNeverReplaced) {
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  const std::string intruder = platform::map_path("C:\\ARCHIVE\\1");
  g_intruder_path = &intruder;
  set_archive_save_hook(put_intruder);
  EXPECT_EQ(archive_temp_study("1.PDF"), kSaveNameTaken);
  set_archive_save_hook(nullptr);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\1"), "restored");
  EXPECT_TRUE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_EQ(archive_names(), (std::vector<std::string>{"1"}));
  // A retry takes the next number.
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  EXPECT_TRUE(root.exists("C:\\ARCHIVE\\2"));
}

// Saves of several studies, two of them with the same bytes, each killed
// with SIGKILL after every step of every save; then the next start settles
// the cut-off save, or the next save does, and the studies left are saved
// again in another order.  Read back from both folders and the database:
// every study is archived once in each folder, under the numbers in turn,
// with one record in the database that names its file's patient.
TEST_F(ArchiveTest, SavesKilledAtEveryStepArchiveEachStudyOnce) {
  std::strcpy(hardware_settings().archive_path_2, "C:\\BACKUP\\");
  std::strcpy(hardware_settings().archive_ext_2, "ZVT");
  const std::string smith = make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  const std::string archived_smith = root.read("C:\\ARCHIVE\\1"), backup_counter = root.read("C:\\BACKUP\\0");
  const std::string db_before = root.read(kArchiveDbPath);
  const std::vector<std::string> saves = {"2.PDF", "3.PDF", "4.PDF", "5.PDF"};
  std::multiset<std::string> all = {smith};
  auto prepare = [&] {
    for (const char* folder : {"C:\\ARCHIVE\\", "C:\\BACKUP\\"})
      std::filesystem::remove_all(platform::map_path(folder));
    root.write("C:\\ARCHIVE\\1", archived_smith);
    root.write("C:\\ARCHIVE\\0", "1");
    root.write("C:\\BACKUP\\1.ZVT", archived_smith);
    root.write("C:\\BACKUP\\0", backup_counter);
    root.write(kArchiveDbPath, db_before);
    all = {smith, make_study(2, "JONES", "B2", "03/05/2026 09:00 AM"),
           make_study(3, "BROWN", "C3", "03/06/2026 01:00 PM")};
    const std::string green = make_study(4, "GREEN", "D4", "03/07/2026 02:00 PM");
    root.write("C:\\DATA\\5.PDF", green);  // the same study taken twice
    root.write("C:\\DATA\\0.5", first_page);
    all.insert({green, green});
  };
  // The numbered files of a folder: "1" to "5" in turn, the study bytes.
  auto numbered = [](const std::string& folder, const std::string& ext, std::multiset<std::string>& bytes) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(platform::map_path(folder))) {
      const std::string name = e.path().filename().string();
      if (name == "0") continue;
      names.push_back(name);
      std::ifstream in(e.path(), std::ios::binary);
      bytes.insert(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected;
    for (int n = 1; n <= 5; ++n) expected.push_back(std::to_string(n) + ext);
    EXPECT_EQ(names, expected) << folder;
  };

  int kill = 1;
  for (;; ++kill) {
    SCOPED_TRACE("killed after step " + std::to_string(kill));
    ASSERT_LE(kill, 60) << "the saves never complete";
    prepare();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      g_kill_at = kill;
      set_archive_save_hook(kill_at_step);
      for (const auto& s : saves)
        if (archive_temp_study(s.c_str()) != kSaveDone) ::_exit(3);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0);
      break;
    }
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    // Whatever the kill left under a number is a whole study.
    for (const char* folder : {"C:\\ARCHIVE\\", "C:\\BACKUP\\"})
      for (const auto& e : std::filesystem::directory_iterator(platform::map_path(folder))) {
        const std::string name = e.path().filename().string();
        if (name != "0" && name[0] >= '0' && name[0] <= '9') {
          EXPECT_GT(all.count(root.read(folder + name)), 0u) << folder << name;
        }
      }

    // The next start sweeps the temporaries and, every other time, settles
    // the save; else the next save does.  The rest go in a shuffled order.
    platform::remove_stale_temporaries(root.path());
    if (kill % 2) {
      EXPECT_EQ(settle_interrupted_save(), kSaveDone) << platform::take_failure_cause();
    }
    std::vector<std::string> again = saves;
    std::shuffle(again.begin(), again.end(), std::mt19937(static_cast<unsigned>(kill)));
    for (const auto& s : again) {
      if (root.exists("C:\\DATA\\" + s)) {
        EXPECT_EQ(archive_temp_study(s.c_str()), kSaveDone) << s;
      }
    }

    std::multiset<std::string> first, second;
    numbered("C:\\ARCHIVE\\", "", first);
    numbered("C:\\BACKUP\\", ".ZVT", second);
    EXPECT_TRUE(first == all) << "each study once in Archive Path 1";
    EXPECT_TRUE(second == all) << "each study once in Archive Path 2";
    std::string records;
    for (int n = 1; n <= 5; ++n) {
      const std::string file = root.read("C:\\ARCHIVE\\" + std::to_string(n));
      records += std::to_string(n) + " " + (file.size() > 36 ? file.substr(32, 5) : "(no file)") + "\n";
    }
    EXPECT_EQ(db_check(), records);
    EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "5");
    for (const auto& s : saves) EXPECT_FALSE(root.exists("C:\\DATA\\" + s)) << s;
  }
  EXPECT_EQ(kill - 1, 4 * kStepDone) << "every step of every save was killed once";
}

// A copy cut short by a file size limit, or refused by the disk at its
// first write or its flush, fails the save: nothing numbered, the counter
// and the study kept, no journal left.
TEST_F(ArchiveTest, ACopyCutShortOrRefusedLeavesNothingNumbered) {
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  make_study(2, "JONES", "B2", "03/05/2026 09:00 AM");
  const auto names_before = archive_names();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Room for part of the copy only.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{20000, 20000};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    ::_exit(archive_temp_study("2.PDF") == kSaveWriteFailed ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(archive_names(), names_before);
  // The journal's write and the copy's sixth step (a piece of it).
  for (int step : {1, 6}) {
    SCOPED_TRACE("refused step " + std::to_string(step));
    platform::arm_write_fault(step, ENOSPC);
    EXPECT_EQ(archive_temp_study("2.PDF"), kSaveWriteFailed);
    platform::disarm_write_fault();
    EXPECT_EQ(archive_names(), names_before);
    EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "1");
    EXPECT_TRUE(root.exists("C:\\DATA\\2.PDF"));
  }
}

// The database refuses the record (read-only): the save fails and takes
// back its copy and its counter by itself, with no later save to hide it.
TEST_F(ArchiveTest, ARefusedRecordTakesItsCopyBack) {
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  const std::string db = root.read(kArchiveDbPath);
  for (const bool counted : {true, false}) {
    SCOPED_TRACE(counted ? "with a counter" : "without a counter");
    if (!counted) ::unlink(platform::map_path("C:\\ARCHIVE\\0").c_str());
    const std::string jones = make_study(2, "JONES", "B2", "03/05/2026 09:00 AM");
    const auto names_before = archive_names();
    platform::arm_folder_fault(platform::map_path("C:\\PROGRAMS\\"), EROFS);
    EXPECT_EQ(archive_temp_study("2.PDF"), kSaveRecordFailed);
    platform::arm_folder_fault("", 0);
    EXPECT_EQ(platform::take_failure_cause(), "c:\\programs\\DB: Read-only file system");
    EXPECT_EQ(archive_names(), names_before);
    EXPECT_EQ(root.exists("C:\\ARCHIVE\\0"), counted);
    if (counted) {
      EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "1");
    }
    EXPECT_EQ(root.read(kArchiveDbPath), db);
    EXPECT_EQ(root.read("C:\\DATA\\2.PDF"), jones);
  }
}

// Killed or failed at any write, flush or rename of a save (the record's
// among them, as when the database refuses it), and saved again after the
// next start: the study is archived exactly once, with its record.
TEST_F(ArchiveTest, ASaveCutOffAndRetriedArchivesTheStudyOnce) {
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  ASSERT_EQ(archive_temp_study("1.PDF"), kSaveDone);
  const std::string db_one = root.read(kArchiveDbPath);
  std::string jones;
  auto numbered = [this] {
    std::vector<std::string> n;
    for (const auto& name : archive_names())
      if (name != "0" && name[0] >= '0' && name[0] <= '9') n.push_back(name);
    std::sort(n.begin(), n.end());
    return n;
  };
  testsupport::check_write_faults(
      root.path(), {{platform::map_path("C:\\ARCHIVE\\2")}},
      [&] {
        jones = make_study(2, "JONES", "B2", "03/05/2026 09:00 AM");
        ::unlink(platform::map_path("C:\\ARCHIVE\\2").c_str());
        root.write("C:\\ARCHIVE\\0", "1");
        root.write(kArchiveDbPath, db_one);
      },
      [] { return archive_temp_study("2.PDF") == kSaveDone; },
      [&](bool done) {
        // The next start's sweep has left nothing of the killed save but
        // its journal, which the retry settles.
        for (const auto& name : archive_names())
          EXPECT_TRUE(name == "0" || name == "1" || name == "2" || (!done && name == kSaveJournal))
              << name << " left in the archive";
        if (!done) {
          ASSERT_EQ(archive_temp_study("2.PDF"), kSaveDone) << "the retry";
        }
        EXPECT_FALSE(root.exists(std::string("C:\\ARCHIVE\\") + kSaveJournal));
        EXPECT_EQ(numbered(), (std::vector<std::string>{"1", "2"}));
        EXPECT_EQ(root.read("C:\\ARCHIVE\\2"), jones);
        EXPECT_FALSE(root.exists("C:\\DATA\\2.PDF"));
        EXPECT_EQ(db_check().find("bad"), std::string::npos) << db_check();
        // The quick reindex finds each study once, under its one number,
        // each record agreeing with its file.
        QuickReindexCounts q;
        EXPECT_TRUE(quick_reindex(q)) << root.read(kDbIndexLog);
        EXPECT_EQ(q.checked, 2);
        EXPECT_EQ(q.verified, 2);
        EXPECT_EQ(db_check(), "1 SMITH\n2 JONES\n");
      });
}

TEST_F(ArchiveTest, SearchesTheDatabaseAndFallsBackToTheFolder) {
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  make_study(2, "JONES", "B2", "01/05/2026 09:00 AM");
  make_study(3, "SMITHSON", "C3", "02/06/2026 01:00 PM");
  for (const char* f : {"1.PDF", "2.PDF", "3.PDF"}) ASSERT_EQ(archive_temp_study(f), kSaveDone);
  // A record not in use but with a good checksum is skipped quietly.
  {
    std::string db = root.read(kArchiveDbPath);
    db.resize(5 * kDbRecordBytes + 40, '\0');  // a trailing torn part
    root.write(kArchiveDbPath, db);
    root.write("C:\\ARCHIVE\\0", "4");
  }
  search_archive_db();
  auto& list = study_list();
  ASSERT_EQ(list.count, 3) << g_message_text;
  EXPECT_TRUE(list_has_type_column());
  EXPECT_TRUE(archive_db_in_use());
  // Sorted by date; the caption of the template in the middle column.
  EXPECT_STREQ(list.rows[0].file_name, "2");
  EXPECT_EQ(std::string(list.rows[0].text).substr(0, 36), "JONES                        \263Lower ");
  EXPECT_EQ(std::string(list.rows[2].text).substr(60), "03/04/2026 10:15 AM ");
  std::strcpy(archive_patterns().name, "*th");
  search_archive_db();
  ASSERT_EQ(list.count, 1);
  EXPECT_STREQ(list.rows[0].file_name, "1");
  std::strcpy(archive_patterns().name, "");
  std::strcpy(archive_patterns().id, "C");
  search_archive_db();
  ASSERT_EQ(list.count, 1);
  EXPECT_STREQ(list.rows[0].file_name, "3");
  std::strcpy(archive_patterns().id, "");

  // A header that disagrees with its record: the rows so far, the message,
  // and from then on the folder scan with IDs in the middle column.
  std::string two = root.read("C:\\ARCHIVE\\2");
  two[32] = 'X';
  root.write("C:\\ARCHIVE\\2", two);
  search_archive_db();
  EXPECT_STREQ(g_message_text, "Database corrupt: Reindex for speed");
  EXPECT_EQ(list.count, 1);
  EXPECT_FALSE(archive_db_in_use());
  search_archive_db();
  EXPECT_EQ(list.count, 3);
  EXPECT_FALSE(list_has_type_column());
  EXPECT_EQ(std::string(list.rows[0].text).substr(30, 3), "B2 ");

  // A torn record is caught by its checksum.
  root.write("C:\\ARCHIVE\\2", two.replace(32, 1, "J"));
  std::string db = root.read(kArchiveDbPath);
  db[3 * kDbRecordBytes + 5] ^= 0x40;
  root.write(kArchiveDbPath, db);
  archive_db_in_use() = true;
  g_message_text[0] = 0;
  search_archive_db();
  EXPECT_STREQ(g_message_text, "Database corrupt: Reindex for speed");
  EXPECT_EQ(list.count, 2);

  ::unlink(platform::map_path(kArchiveDbPath).c_str());
  archive_db_in_use() = true;
  search_archive_db();
  EXPECT_STREQ(g_message_text, "Database missing: Reindex for speed");
  EXPECT_FALSE(archive_db_in_use());
}

// The database is read in blocks: records on either side of a block's end,
// a match far into the file, and a file cut inside a record past the first
// block must come out as when it was read record by record.
TEST_F(ArchiveTest, SearchReadsPastItsBlocksAndStopsAtACutRecord) {
  constexpr int kLast = 2600;
  std::string db((kLast + 1) * kDbRecordBytes, '\0');
  auto add = [&](int n, const char* name) {
    std::string file(kPageHeaderBytes, '\0');
    std::memcpy(&file[32], name, std::strlen(name));
    const std::string date = "01/02/2026 0" + std::to_string(n % 10) + ":00 AM";
    std::memcpy(&file[92], date.data(), date.size());
    root.write("C:\\ARCHIVE\\" + std::to_string(n), file);
    ArchiveDbRecord r{};
    r.flags = 1;
    std::memcpy(r.name, name, std::strlen(name));
    std::memcpy(r.date, date.data(), date.size());
    std::uint16_t sum = 0;
    check_db_record(r, &sum);
    r.checksum = sum;
    encode_db_record(r, reinterpret_cast<std::uint8_t*>(&db[static_cast<std::size_t>(n) * kDbRecordBytes]));
  };
  for (int n : {1, 1023, 1024, 1025, 2047, 2048, 2500}) add(n, "SMITH");
  add(700, "JONES");
  root.write(kArchiveDbPath, db);
  root.write("C:\\ARCHIVE\\0", std::to_string(kLast));
  std::strcpy(archive_patterns().name, "SMITH");
  search_archive_db();
  auto& list = study_list();
  std::vector<std::string> found;
  for (int i = 0; i < list.count; ++i) found.push_back(list.rows[i].file_name);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"1", "1023", "1024", "1025", "2047", "2048", "2500"}));
  EXPECT_TRUE(archive_db_in_use()) << g_message_text;

  // Cut inside record 2100: what lies before it is listed, then the damage
  // is reported.
  root.write(kArchiveDbPath, db.substr(0, 2100 * kDbRecordBytes + 50));
  search_archive_db();
  EXPECT_STREQ(g_message_text, "Database corrupt: Reindex for speed");
  EXPECT_EQ(list.count, 6);
  EXPECT_FALSE(archive_db_in_use());
}

TEST_F(ArchiveTest, DeleteClearsTheRecordOnlyWhenTheFileWent) {
  make_study(1, "SMITH", "A1", "03/04/2026 10:15 AM");
  make_study(2, "JONES", "B2", "01/05/2026 09:00 AM");
  for (const char* f : {"1.PDF", "2.PDF"}) ASSERT_EQ(archive_temp_study(f), kSaveDone);
  search_archive_db();
  ASSERT_EQ(study_list().count, 2);
  ASSERT_STREQ(study_list().rows[1].file_name, "1");
  EXPECT_TRUE(delete_archived_study(1));
  EXPECT_FALSE(root.exists("C:\\ARCHIVE\\1"));
  EXPECT_EQ(db_check(), "2 JONES\n");
  // The file of row 0 is gone already: its record stays.
  ::unlink(platform::map_path("C:\\ARCHIVE\\2").c_str());
  EXPECT_FALSE(delete_archived_study(0));
  EXPECT_EQ(db_check(), "2 JONES\n");
  EXPECT_FALSE(delete_archived_study(7));
}

TEST_F(ArchiveTest, WildcardsAndCaptions) {
  EXPECT_TRUE(match_wildcard("Smith", "SM"));
  EXPECT_TRUE(match_wildcard("SMITH", "*TH"));
  EXPECT_FALSE(match_wildcard("SMITHSON", "*TH"));
  EXPECT_TRUE(match_wildcard("SMITH", "S?ITH"));
  EXPECT_TRUE(match_wildcard("SMITH", "*MI*"));
  EXPECT_FALSE(match_wildcard("SMITH", "SMITHS"));
  EXPECT_TRUE(match_wildcard("", ""));
  EXPECT_TRUE(match_wildcard("", "**"));

  const std::string cases = root.path() + "/wildcard_cases.txt";
  ASSERT_TRUE(run_generator("wildcard_cases.py", {cases}));
  std::ifstream in(cases);
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    const auto t1 = line.find('\t'), t2 = line.rfind('\t');
    const std::string text = line.substr(0, t1), pattern = line.substr(t1 + 1, t2 - t1 - 1);
    EXPECT_EQ(match_wildcard(text.c_str(), pattern.c_str()), line[t2 + 1] - '0')
        << "text '" << text << "' pattern '" << pattern << "'";
    ++checked;
  }
  EXPECT_EQ(checked, 4000);

  char caption[30];
  study_type_caption(0, caption);
  EXPECT_STREQ(caption, "*Unknown*");
  study_type_caption(123, caption);
  EXPECT_STREQ(caption, "Lower Arterial");
  study_type_caption(5, caption);
  EXPECT_STREQ(caption, "");
}

}  // namespace
}  // namespace vaslab
