#include "vaslab/records/archive_reindex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/tests/records_test_support.h"
#include "../../core/tests/screen_fixture.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/toolkit/message_box.h"

namespace vaslab {
namespace {

int g_kill_step = 0, g_kill_count = 0;
void kill_on(int step) {
  if (step == g_kill_step && --g_kill_count <= 0) ::raise(SIGKILL);
}
// Kills at the nth step of any kind: a rename, a record written, the new
// database complete.
int g_kill_nth = 0;
void kill_at_nth(int) {
  if (--g_kill_nth == 0) ::raise(SIGKILL);
}

struct ReindexTest : RecordsFixture {
  void SetUp() override {
    RecordsFixture::SetUp();
    platform::map_path_create_dirs("C:\\TEMP\\");
    std::strcpy(hardware_settings().archive_path_1, "C:\\ARCHIVE\\");
    platform::map_path_create_dirs("C:\\ARCHIVE\\");
    root.write(kArchiveDbPath, "");
    // A menu of one template that no test study matches: type 0.
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Notes", "steps": [{"type": 10, "caption": "Notes"}]})");
    const auto menu = encode_study_menu_file({make_submenu_entry("Root", 1, 1), make_study_entry("Notes", 123)});
    root.write(kStudyMenuFile, std::string(menu.begin(), menu.end()));
    archive_patterns() = ArchivePatterns{};
    archive_db_in_use() = true;
    set_reindex_hook(nullptr);
  }

  // An archived study: a page header with the magic and the patient, and
  // some bytes of items behind it.
  std::string study(const std::string& file, const std::string& name, int seed,
                    const std::string& folder = "C:\\ARCHIVE\\") {
    std::string s(kPageHeaderBytes + 300, '\0');
    s[0] = static_cast<char>(0xFE);
    s[1] = 0x01;
    s.replace(32, name.size(), name);
    s.replace(62, 2, "ID");
    const std::string date = "01/0" + std::to_string(seed % 9 + 1) + "/2026 10:00 AM";
    s.replace(92, date.size(), date);
    for (std::size_t i = kPageHeaderBytes; i < s.size(); ++i) s[i] = static_cast<char>(i * seed);
    // No text, graphics or blocks.
    s[4863] = 0;
    root.write(folder + file, s);
    return s;
  }

  std::vector<std::string> names() {
    std::vector<std::string> v;
    for (const auto& f : platform::list_files("C:\\ARCHIVE\\*")) v.push_back(f.name);
    return v;
  }
  std::string db_check() {
    return check_archive_db(platform::map_path(kArchiveDbPath));
  }
  std::string log() { return root.exists(kDbIndexLog) ? root.read(kDbIndexLog) : ""; }

  // The rows of a database search and of the folder scan.
  std::vector<std::string> rows(bool database) {
    archive_db_in_use() = database;
    if (database) search_archive_db(); else search_archive_files();
    std::vector<std::string> v;
    for (int i = 0; i < study_list().count; ++i)
      v.push_back(std::string(study_list().rows[i].file_name) + ":" +
                  std::string(study_list().rows[i].text).substr(0, 29));
    std::sort(v.begin(), v.end());
    return v;
  }
  // The contents of every study in the folder, whatever their names.
  std::multiset<std::string> contents() {
    std::multiset<std::string> m;
    for (const auto& n : names())
      if (n != "0" && !platform::is_temporary_name(n)) m.insert(root.read("C:\\ARCHIVE\\" + n));
    return m;
  }
  // What the database should say, read from the files: "n NAME" for every
  // numbered file, as check_db.py prints the records in use.
  std::string files_check() {
    std::map<long, std::string> by_number;
    for (const auto& n : names()) {
      if (n.find_first_not_of("0123456789") != std::string::npos || n == "0") continue;
      const std::string bytes = root.read("C:\\ARCHIVE\\" + n);
      by_number[std::stol(n)] = std::string(bytes.c_str() + 32);
    }
    std::string out;
    for (const auto& [n, name] : by_number) out += std::to_string(n) + " " + name + "\n";
    return out;
  }
};

TEST_F(ReindexTest, QuickReindexRepairsChecksumsAndAsksForFullWhenAFileIsGone) {
  for (int i = 1; i <= 3; ++i) study(std::to_string(i), "P" + std::to_string(i), i);
  FullReindexCounts full;
  full_reindex(full, 3);
  ASSERT_EQ(db_check(), "1 P1\n2 P2\n3 P3\n");
  EXPECT_EQ(full.processed, 3);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "3");

  std::string db = root.read(kArchiveDbPath);
  db[2 * kDbRecordBytes + 84] ^= 0x55;
  root.write(kArchiveDbPath, db);
  QuickReindexCounts q;
  EXPECT_TRUE(quick_reindex(q));
  EXPECT_EQ(q.checksum_faults, 1);
  EXPECT_EQ(q.verified, 2);
  EXPECT_EQ(q.checked, 3);
  EXPECT_EQ(db_check(), "1 P1\n2 P2\n3 P3\n");
  EXPECT_NE(log().find("Checksum failed on record 2.\r\n"), std::string::npos);

  // A header that disagrees is rebuilt from the file.
  study("3", "Q3", 3);
  EXPECT_TRUE(quick_reindex(q));
  EXPECT_EQ(q.failed_verification, 1);
  EXPECT_EQ(db_check(), "1 P1\n2 P2\n3 Q3\n");

  ::unlink(platform::map_path("C:\\ARCHIVE\\2").c_str());
  EXPECT_FALSE(quick_reindex(q));
  EXPECT_EQ(q.missing_files, 1);
  EXPECT_EQ(db_check(), "1 P1\n3 Q3\n");
  EXPECT_NE(log().find("ZVT file missing, record number 2.\r\n"), std::string::npos);
  // A file cut below its header.
  root.write("C:\\ARCHIVE\\1", root.read("C:\\ARCHIVE\\1").substr(0, 200));
  EXPECT_FALSE(quick_reindex(q));
  EXPECT_EQ(q.short_files, 1);
  EXPECT_EQ(db_check(), "3 Q3\n");
}

TEST_F(ReindexTest, FullReindexBuildsAWholeNewDatabase) {
  // An empty folder: an empty index and the counter 0.
  FullReindexCounts c;
  full_reindex(c, 0);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "0");
  EXPECT_EQ(root.read(kArchiveDbPath).size(), 4300086u);

  std::strcpy(hardware_settings().archive_ext_1, "ZVT");
  study("12.OLD", "OLD", 5);
  study("7", "SEVEN", 7);
  study(kSaveTemporary, "HALF", 8);  // a save's leftover: never indexed or renamed
  study("9.zvt", "NINE", 9);
  full_reindex(c, 3);
  EXPECT_EQ(names(), (std::vector<std::string>{"0", "12.ZVT", "7.ZVT", "9.zvt", kSaveTemporary}));
  EXPECT_EQ(c.renamed, 2);
  EXPECT_EQ(c.entries, 3);
  EXPECT_EQ(c.processed, 1);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "12");
  const std::string db = root.read(kArchiveDbPath);
  EXPECT_EQ(db.size(), 4300086u);
  EXPECT_EQ(db_check(), "7 SEVEN\n9 NINE\n12 OLD\n");

  // A rename never replaces: "12.OLD" beside "12.ZVT" stays and is logged.
  study("12.OLD", "OTHER", 6);
  const std::string kept = root.read("C:\\ARCHIVE\\12.ZVT");
  full_reindex(c, 12);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\12.ZVT"), kept);
  EXPECT_TRUE(root.exists("C:\\ARCHIVE\\12.OLD"));
  EXPECT_EQ(c.rename_failed, 1);
  EXPECT_NE(log().find("Error renaming 12.OLD to 12.ZVT (errno 17).\r\n\r\n"), std::string::npos);
  // Log lines end in CR LF, nothing else.
  const std::string l = log();
  for (std::size_t at = l.find('\n'); at != std::string::npos; at = l.find('\n', at + 1)) ASSERT_EQ(l[at - 1], '\r');

  // A record of a number above the created size extends the file; a number
  // beyond the archive's range is logged and left alone.
  study("50010.ZVT", "FAR", 2);
  study("70000.ZVT", "BEYOND", 3);
  full_reindex(c, 12);
  EXPECT_EQ(root.read(kArchiveDbPath).size(), 50011u * kDbRecordBytes);
  EXPECT_EQ(db_check(), "7 SEVEN\n9 NINE\n12 OLD\n50010 FAR\n");
  EXPECT_NE(log().find("70000.ZVT"), std::string::npos);

  // A new database that cannot be flushed (step 1) or put in place (step 2)
  // leaves the old one whole and nothing of itself behind.
  study("13.ZVT", "THIRTEEN", 4);
  for (int step : {1, 2}) {
    SCOPED_TRACE(step);
    const std::string db_before = root.read(kArchiveDbPath);
    ::unlink(platform::map_path(kDbIndexLog).c_str());
    platform::arm_write_fault(step, EIO);
    full_reindex(c, 13);
    platform::disarm_write_fault();
    EXPECT_EQ(root.read(kArchiveDbPath), db_before);
    for (const auto& f : platform::list_files("C:\\PROGRAMS\\*")) EXPECT_EQ(f.name, "DB");
    EXPECT_NE(log().find("Failed to create DB file."), std::string::npos);
  }
}

TEST_F(ReindexTest, CompressionClosesGapsInListingOrder) {
  const std::string a = study("3", "A", 3), b = study("5", "B", 5), c9 = study("9", "C", 9);
  study(kSaveTemporary, "HALF", 8);
  CompressCounts c;
  compress_archive(c);
  EXPECT_EQ(c.compressed, 3);
  EXPECT_EQ(c.last, 9);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\1"), a);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\2"), b);
  EXPECT_EQ(root.read("C:\\ARCHIVE\\3"), c9);
  FullReindexCounts f;
  full_reindex(f, c.compressed);
  EXPECT_EQ(names(), (std::vector<std::string>{"0", "1", "2", "3", kSaveTemporary}));
  EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), "3");
  EXPECT_EQ(db_check(), "1 A\n2 B\n3 C\n");
}

// A full reindex or a compression killed anywhere loses no study; after a
// quick reindex (a full one when it asks) the database search lists what
// the folder scan lists.
TEST_F(ReindexTest, KilledReindexLosesNothing) {
  for (int i : {2, 4, 5, 8, 11}) study(std::to_string(i), "P" + std::to_string(i), i);
  FullReindexCounts f;
  full_reindex(f, 11);
  const auto before = contents();
  struct Kill {
    int op, step, count;
  };
  for (const Kill k : {Kill{0, 1, 1}, Kill{0, 1, 3}, Kill{0, 3, 1}, Kill{1, 2, 1}, Kill{1, 2, 2}}) {
    SCOPED_TRACE(std::to_string(k.op) + " " + std::to_string(k.step) + " " + std::to_string(k.count));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      g_kill_step = k.step;
      g_kill_count = k.count;
      set_reindex_hook(kill_on);
      if (k.op == 0) {
        FullReindexCounts c;
        full_reindex(c, 11);
      } else {
        CompressCounts c;
        compress_archive(c);
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(db_check().find("bad"), std::string::npos);

    QuickReindexCounts q;
    if (!quick_reindex(q)) full_reindex(f, 11);
    EXPECT_EQ(rows(true), rows(false));
    EXPECT_EQ(rows(true).size(), 5u);
  }
}

// What a killed writer leaves in the archive folder is never taken for a
// study: a save ended at every step of the file layer leaves no name that
// starts with a digit but its whole copy, and a full reindex neither renames
// nor indexes the temporaries (also those older runs named "9.<hex>.tmp~").
TEST_F(ReindexTest, TemporariesOfAKilledWriterAreNeverStudies) {
  const std::string p1 = study("1", "P1", 1);
  FullReindexCounts f;
  full_reindex(f, 1);
  for (int step = 1;; ++step) {
    SCOPED_TRACE(step);
    ASSERT_LT(step, 40) << "the save never completed";
    const std::string saved = study("2.PDF", "SAVED", 2, "C:\\DATA\\");
    if (!root.exists("C:\\DATA\\0.2"))
      make_study_file("page", "C:\\DATA\\0.2", R"({"template": "00000123.sty"})");
    const std::string cut = study("9.850f8b4e.tmp~", "CUT", 9);
    root.write("C:\\ARCHIVE\\0.1a2b3c4d.tmp~", "65534");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::arm_write_fault(step, 0);
      ::_exit(archive_temp_study("2.PDF") == kSaveDone ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const bool completed = WIFEXITED(status) && WEXITSTATUS(status) == 0;

    for (const auto& n : names()) {
      if (n == "1" || n == "2" || n == "0" || n == "9.850f8b4e.tmp~" || n == "0.1a2b3c4d.tmp~") continue;
      EXPECT_EQ(n[0], '~') << n;
    }
    EXPECT_LE(last_archive_number(1), 2);
    full_reindex(f, 2);
    EXPECT_EQ(f.renamed, 0);
    EXPECT_TRUE(root.exists("C:\\ARCHIVE\\9.850f8b4e.tmp~"));
    EXPECT_FALSE(root.exists("C:\\ARCHIVE\\9"));
    const bool numbered = root.exists("C:\\ARCHIVE\\2");
    if (numbered) {
      EXPECT_EQ(root.read("C:\\ARCHIVE\\2"), saved);
    }
    EXPECT_EQ(db_check(), numbered ? "1 P1\n2 SAVED\n" : "1 P1\n");
    EXPECT_EQ(root.read("C:\\ARCHIVE\\0"), numbered ? "2" : "1");
    EXPECT_EQ(root.read("C:\\ARCHIVE\\1"), p1);
    if (completed) break;
    // Back to before the save, its journal too (else the next round's save
    // would settle this one's instead of running).
    for (const std::string name : {"2", kSaveJournal}) ::unlink(platform::map_path("C:\\ARCHIVE\\" + name).c_str());
    root.write("C:\\ARCHIVE\\0", "1");
    platform::remove_stale_temporaries(platform::map_path("C:\\ARCHIVE\\"));
  }
}

// A compression and its full reindex killed at every step: at each write,
// flush or rename of the file layer, and with SIGKILL after each rename and
// each database record.  The next access (the archive screen, a save, a
// backup) completes the rebuild: every record then names the file under its
// number, and no study is lost or doubled.
TEST_F(ReindexTest, CompressionKilledAnywhereIsCompletedByTheNextAccess) {
  for (int i : {2, 4, 5, 8, 11}) study(std::to_string(i), "P" + std::to_string(i), i);
  FullReindexCounts f;
  full_reindex(f, 11);
  const auto before = contents();
  std::map<std::string, std::string> folder;
  for (const auto& n : names()) folder[n] = root.read("C:\\ARCHIVE\\" + n);
  const std::string db = root.read(kArchiveDbPath);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
  int kills = 0;
  for (int phase : {0, 1}) {
    for (int n = 1; n <= 60 && std::chrono::steady_clock::now() < deadline; ++n) {
      SCOPED_TRACE("phase " + std::to_string(phase) + " step " + std::to_string(n));
      for (const auto& name : names()) ::unlink(platform::map_path("C:\\ARCHIVE\\" + name).c_str());
      for (const auto& [name, bytes] : folder) root.write("C:\\ARCHIVE\\" + name, bytes);
      root.write(kArchiveDbPath, db);
      ::unlink(platform::map_path(kReindexMarkerPath).c_str());
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        if (phase == 0) {
          platform::arm_write_fault(n, 0);
        } else {
          g_kill_nth = n;
          set_reindex_hook(kill_at_nth);
        }
        CompressCounts c;
        compress_archive(c);
        FullReindexCounts fc;
        full_reindex(fc, c.compressed);
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {  // past the last step
        EXPECT_EQ(names(), (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));
        break;
      }
      ++kills;
      // The next start's sweep leaves nothing of the killed run beside the
      // database and the marker the completion needs.
      platform::remove_stale_temporaries(root.path());
      for (const auto& f : platform::list_files("C:\\PROGRAMS\\*"))
        EXPECT_TRUE(f.name == "DB" || f.name == "~REINDEX.FLG") << f.name;
      EXPECT_TRUE(finish_interrupted_reindex());
      EXPECT_FALSE(archive_reindex_pending());
      EXPECT_EQ(contents(), before);
      EXPECT_EQ(db_check(), files_check());
      EXPECT_EQ(rows(true), rows(false));
      EXPECT_EQ(rows(true).size(), 5u);
    }
  }
  EXPECT_GE(kills, 10);
}

// The quick reindex keeps to the full one's rule: a file that is no page
// (no magic) or that the identification refuses is indexed by neither, so
// no file comes and goes from the search as the two alternate.
TEST_F(ReindexTest, QuickAndFullReindexIndexTheSameFiles) {
  study("1", "P1", 1);
  study("2", "P2", 2);
  root.write("C:\\ARCHIVE\\3", std::string(6000, 'x'));
  FullReindexCounts f;
  full_reindex(f, 3);
  ASSERT_EQ(db_check(), "1 P1\n2 P2\n");
  QuickReindexCounts q;
  EXPECT_TRUE(quick_reindex(q));
  EXPECT_EQ(db_check(), "1 P1\n2 P2\n");
  EXPECT_EQ(q.disabled, 1);

  // A record the foreign file was given (by an older quick reindex) makes
  // the quick reindex clear it and ask for the full one.
  std::string db = root.read(kArchiveDbPath);
  ArchiveDbRecord r{};
  r.flags = 1;
  std::memcpy(r.name, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", sizeof r.name);
  std::memcpy(r.id, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", sizeof r.id);
  std::memcpy(r.date, "xxxxxxxxxxxxxxxxxxxxxx", sizeof r.date);
  std::uint16_t sum = 0;
  check_db_record(r, &sum);
  r.checksum = sum;
  encode_db_record(r, reinterpret_cast<std::uint8_t*>(&db[3 * kDbRecordBytes]));
  root.write(kArchiveDbPath, db);
  EXPECT_FALSE(quick_reindex(q));
  EXPECT_EQ(db_check(), "1 P1\n2 P2\n");
  full_reindex(f, 3);
  EXPECT_EQ(db_check(), "1 P1\n2 P2\n");
  EXPECT_TRUE(quick_reindex(q));
  EXPECT_EQ(db_check(), "1 P1\n2 P2\n");
}

TEST_F(ReindexTest, StudyTheIdentificationRefusesIsLoggedAndLeftOut) {
  // A menu that cannot be read: the study is logged and left unindexed.
  study("1", "P1", 1);
  ::unlink(platform::map_path(kStudyMenuFile).c_str());
  FullReindexCounts f;
  full_reindex(f, 1);
  EXPECT_EQ(f.skipped, 1);
  EXPECT_EQ(db_check(), "");
  EXPECT_NE(log().find("RIPROC failed, filename \"1\"\r\n"), std::string::npos);
}

// The reindex menu in a window: a quick reindex without a database asks for
// the full one in a box that covers no text, neither cut progress lines nor
// the title.
struct ReindexScreenTest : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> input;
  void SetUp() override {
    ScreenFixture::SetUp();
    input = std::make_unique<testsupport::ScriptedInput>(clock);
    vaslab::start_window_timers();
    std::strcpy(hardware_settings().archive_path_1, "C:\\ARCHIVE\\");
    platform::map_path_create_dirs("C:\\ARCHIVE\\");
    platform::map_path_create_dirs("C:\\TEMP\\");
  }
  void TearDown() override {
    input.reset();
    ScreenFixture::TearDown();
  }
};

TEST_F(ReindexScreenTest, QuickReindexWithoutDatabaseShowsItsBoxOverNoText) {
  constexpr int kQuick = 101, kExit = 100;
  ASSERT_FALSE(platform::file_size(platform::map_path(kArchiveDbPath)));
  bool boxed = false;
  int text_above_band = -1;
  input->after(300).tap(kQuick).after(1500).at_time([&] {
    boxed = current_button_table() == message_box_buttons();
    // The band starts 10 rows above its first line (y 119); between the
    // title and it stands no white text of the progress lines.
    text_above_band = count_of(0, 44, 640, 109, vga_color_to_rgb(kColorWhite));
  });
  input->tap(kMbOk).after(500).key(platform::vk::kEscape).after(500).tap(kExit);
  input->after(20000).close_window();
  reindex_archive_db();
  EXPECT_TRUE(boxed) << "the failure was told in a box";
  EXPECT_EQ(text_above_band, 0) << "rows 44..108 hold progress lines the box cut";
}

}  // namespace
}  // namespace vaslab
