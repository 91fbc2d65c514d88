// The DICOM hand-off with a stand-in converter that records where and with
// what it ran: the files it finds, the text files, the time stamps and the
// status each study gets.
#include "vaslab/reports/dicom_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "testsupport/file_size_limit.h"
#include "testsupport/png.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/tests/screen_fixture.h"
#include "vaslab/reports/delimited_export.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/tests/report_test_support.h"

namespace vaslab {
namespace {

struct DicomTest : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    start_export_test({"C:\\TEMP\\", "C:\\EXPORT\\"}, true);
    make("template", "C:\\STUDIES\\00000123.sty", R"({"title": "Upper Arterial", "steps": [
      {"type": 2, "caption": "Brachial", "texts": {"32": "A"}, "set": {"60": 14, "61": 0}},
      {"type": 255}]})");
    // Records its folder and arguments; a log ending in blank lines, or
    // for study 3 a failure without one.
    script("C:\\PROGRAMS\\DODARER.EXE",
           "echo \"$(pwd) $# $1 $2 $(ls $1.zvt $1.txt 2>/dev/null | tr '\\n' ' ')\" >> \"$CALLS\"\n"
           "[ \"$1\" = 3 ] && exit 3\n"
           "printf 'started\\r\\nconverted OK to the archive\\r\\n\\r\\n\\n' > \"$1.log\"\n");
    ::setenv("CALLS", platform::map_path("C:\\calls").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("CALLS");
    reset_event_state();
  }

  void make(const std::string& kind, const std::string& win_path, const std::string& json) {
    ASSERT_TRUE(make_study_file(kind, win_path, json));
  }
  void make_study(int exam, const char* name, const char* pressure) {
    std::string h(kPageHeaderBytes, '\0');
    std::memcpy(&h[32], name, std::strlen(name));
    std::memcpy(&h[62], "ID-9", 4);
    std::memcpy(&h[92], "03/04/2026 09:05 PM", 19);
    root.write("C:\\DATA\\" + std::to_string(exam) + ".PDF", h);
    for (int step : {0, 1})
      make("page", "C:\\DATA\\" + std::to_string(step) + "." + std::to_string(exam),
           std::string(R"({"template": "00000123.sty", "short": ")") + pressure + "\"}");
  }
  std::string script(const std::string& win_path, const std::string& body) {
    root.write(win_path, "#!/bin/sh\n" + body);
    const std::string path = platform::map_path(win_path);
    ::chmod(path.c_str(), 0755);
    return path;
  }
  int call(const std::string& id, int options = 0) {
    std::vector<std::string> a{"C:\\PROGRAMS\\DICOM", id, "C:\\EXPORT\\", std::to_string(options)};
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    return run_dicom_export(4, argv.data());
  }
};

// The packed stamp read back field by field against the local time of the
// newest of the files.
void expect_stamp_of(const std::string& tim, const std::vector<std::string>& linux_paths) {
  ASSERT_EQ(tim.size(), 4u);
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(tim[i]);
  std::time_t newest = 0;
  for (const std::string& p : linux_paths) {
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    newest = std::max(newest, st.st_mtime);
  }
  std::tm t{};
  localtime_r(&newest, &t);
  EXPECT_EQ(static_cast<int>(v >> 25) + 1980, t.tm_year + 1900);
  EXPECT_EQ(static_cast<int>((v >> 21) & 15), t.tm_mon + 1);
  EXPECT_EQ(static_cast<int>((v >> 16) & 31), t.tm_mday);
  EXPECT_EQ(static_cast<int>((v >> 11) & 31), t.tm_hour);
  EXPECT_EQ(static_cast<int>((v >> 5) & 63), t.tm_min);
  EXPECT_EQ(static_cast<int>(v & 31) * 2, t.tm_sec / 2 * 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec / 2 * 2);
  EXPECT_EQ(dicom_stamp_text(v), text);
}

// Two studies of one patient and one of another: files beside each other in
// the export folder, one merged record written into both of the patient's
// text files, the converter run there with the stem and the stamp, and
// each study's status on its row.
TEST_F(DicomTest, BatchHandsEachStudyToTheConverter) {
  make_study(1, "DOE^JANE", "120");
  make_study(2, "DOE^JANE", "95");
  make_study(3, "ROE^RICHARD", "88");
  root.write("C:\\DATA\\1.exp", "worklist entry");
  for (int exam : {1, 2, 3}) ASSERT_EQ(call(std::to_string(exam)), 0) << exam;
  EXPECT_EQ(call("999"), 1);

  for (int exam : {1, 2, 3}) {
    const std::string n = std::to_string(exam);
    EXPECT_EQ(root.read("C:\\EXPORT\\" + n + ".zvt"), root.read("C:\\DATA\\" + n + ".PDF"));
    // The page description or the step's own page, whichever is newer.
    expect_stamp_of(root.read("C:\\EXPORT\\" + n + ".tim"),
                    {platform::map_path("C:\\DATA\\" + n + ".PDF"), platform::map_path("C:\\DATA\\1." + n)});
  }
  EXPECT_EQ(root.read("C:\\EXPORT\\1.exp"), "worklist entry");
  EXPECT_FALSE(root.exists("C:\\EXPORT\\2.exp"));

  // Field 14 the pressure, 201 the name, 203 the date, 204 the time with its
  // 24-hour hour, 210 the study type; 211 and 0 leave only their ending
  // byte; F is no code here; a number cut off at the end is dropped.
  root.write("C:\\PROGRAMS\\DICOM0.CFG", "~14,~201,~D203DD.MM.YYYY,~T204GG:MM,~210,~211,~0|~F1|~~\r\n~2");
  testing::internal::CaptureStdout();
  EXPECT_EQ(call("END", 0x80), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(root.exists("C:\\TEMP\\DELIMDB"));

  const std::string jane = "95,DOE^JANE,04.03.2026,21:05,Upper Arterial,,|F1|~\r\n";
  EXPECT_EQ(root.read("C:\\EXPORT\\1.txt"), jane);
  EXPECT_EQ(root.read("C:\\EXPORT\\2.txt"), jane);
  EXPECT_EQ(root.read("C:\\EXPORT\\3.txt"), "88,ROE^RICHARD,04.03.2026,21:05,Upper Arterial,,|F1|~\r\n");

  const std::string folder = platform::map_path("C:\\EXPORT\\");
  const std::string calls = root.read("C:\\calls");
  for (int exam : {1, 2, 3}) {
    const std::string n = std::to_string(exam);
    const std::string tim = root.read("C:\\EXPORT\\" + n + ".tim");
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(tim[i]);
    const std::string stamp = dicom_stamp_text(v);
    EXPECT_NE(calls.find(folder.substr(0, folder.size() - 1) + " 2 " + n + " " + stamp + " " + n + ".txt " + n +
                         ".zvt"),
              std::string::npos)
        << calls;
  }
  EXPECT_NE(out.find("Name: DOE^JANE\nI.D.: ID-9\nType: Upper Arterial"), std::string::npos);
  EXPECT_NE(out.find("\xB3" "converted OK to the"), std::string::npos) << out;
  EXPECT_NE(out.find("\xB3" "ERM:DOS-3:No such pr"), std::string::npos) << out;
}

// A step linked to itself finds no other study of the patient and falls
// back to its own page: that page's time, newer than the page description,
// is the study's stamp.
TEST_F(DicomTest, AnOwnPageReachedThroughALinkRaisesTheStamp) {
  make("template", "C:\\STUDIES\\00000123.sty", R"({"title": "Upper Arterial", "steps": [
    {"type": 2, "caption": "Brachial", "texts": {"32": "A"}, "set": {"60": 14, "61": 1}},
    {"type": 255}]})");
  make_study(4, "SOLO^PAT", "101");
  const std::string pdf = platform::map_path("C:\\DATA\\4.PDF");
  const std::string page = platform::map_path("C:\\DATA\\1.4");
  const struct timeval old_time[2] = {{1600000000, 0}, {1600000000, 0}};
  ASSERT_EQ(::utimes(pdf.c_str(), old_time), 0);
  ASSERT_EQ(::utimes(platform::map_path("C:\\DATA\\0.4").c_str(), old_time), 0);
  ASSERT_EQ(call("4"), 0);
  expect_stamp_of(root.read("C:\\EXPORT\\4.tim"), {page});
}

// More than 50 studies: the first 50 found go to the converter; without a
// converter every row says why; a study whose page is gone fails alone.
TEST_F(DicomTest, EndCallLimitsAndFailures) {
  for (int i = 100; i < 151; ++i) root.write("C:\\EXPORT\\" + std::to_string(i) + ".zvt", "");
  root.write("C:\\TEMP\\DELIMDB", "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(call("END", 0x80), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(root.exists("C:\\calls"));  // headers too short: nothing reaches the converter
  EXPECT_NE(out.find("Processing failed:...No patient name, etc...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ERR:No patient name"), std::string::npos);

  make_study(7, "DOE^JANE", "120");
  for (int i = 100; i < 151; ++i) root.write("C:\\EXPORT\\" + std::to_string(i) + ".zvt", root.read("C:\\DATA\\7.PDF"));
  for (int i = 100; i < 151; ++i) make("page", "C:\\DATA\\0." + std::to_string(i), R"({"template": "00000123.sty"})");
  root.write("C:\\TEMP\\DELIMDB", "");
  EXPECT_EQ(call("END", 0x80 | 0x40), 0) << "a key wait after a window has gone ends at once";
  int calls = 0;
  for (char c : root.read("C:\\calls")) calls += c == '\n';
  EXPECT_EQ(calls, 50);

  // A text file the disk could not take whole is not handed on as written.
  DicomRecord jane{};
  std::strcpy(jane.key, "DOE^JANE");
  root.write("C:\\TEMP\\DELIMDB", std::string(reinterpret_cast<const char*>(&jane), sizeof jane));
  root.write("C:\\PROGRAMS\\DICOM0.CFG", std::string(5000, 'x'));
  ::remove(platform::map_path("C:\\EXPORT\\100.txt").c_str());
  DicomStudyInfo info;
  EXPECT_EQ(testsupport::with_file_size_limit(1000, [&] { return write_dicom_text("C:\\EXPORT\\", "100.zvt", info); }),
            11);
  EXPECT_FALSE(root.exists("C:\\EXPORT\\100.txt"));
  // Cut off at any write, flush or rename, the text is there whole or not
  // at all.
  testsupport::check_write_faults(
      root.path(), {{platform::map_path("C:\\EXPORT\\100.txt")}},
      [&] {
        ::remove(platform::map_path("C:\\EXPORT\\100.txt").c_str());
        root.write("C:\\PROGRAMS\\DICOM0.CFG", "~201\r\n" + std::string(5000, 'x'));
      },
      [&] { return write_dicom_text("C:\\EXPORT\\", "100.zvt", info) == 0; });

  ::remove(platform::map_path("C:\\PROGRAMS\\DODARER.EXE").c_str());
  EXPECT_EQ(start_dicom_converter("C:\\EXPORT\\", "100", 0), ENOENT);
}

TEST(DicomLog, StatusIsTheLastNonEmptyLineCutToItsColumn) {
  testsupport::TempRoot root;
  root.write("C:\\a.log", "one\r\ntwo words\r\n\r\n\n  \n");
  EXPECT_EQ(dicom_log_status(platform::map_path("C:\\a.log")), "  ");
  root.write("C:\\b.log", "first\nsecond line that runs far beyond its column\n\n");
  EXPECT_EQ(dicom_log_status(platform::map_path("C:\\b.log")), "second line that run");
  root.write("C:\\c.log", "");
  EXPECT_EQ(dicom_log_status(platform::map_path("C:\\c.log")), "");
  EXPECT_EQ(dicom_log_status(platform::map_path("C:\\none.log")), "ERR:no log file");
  EXPECT_EQ(dicom_stamp_text(0), "19800000000000");
  EXPECT_EQ(dicom_stamp_text(0xFFFFFFFFu), "21071531316362");
}

// The status list in a window: rows in their columns, the selection, the
// down arrows of a list longer than the window; saved for a look.
struct DicomScreen : ScreenFixture {};
TEST_F(DicomScreen, StatusListStaysInItsColumns) {
  platform::map_path_create_dirs("C:\\EXPORT\\");
  for (int i = 10; i < 40; ++i) root.write("C:\\EXPORT\\" + std::to_string(i) + ".zvt", "short");
  stop_event_loop();
  std::vector<std::string> a{"C:\\PROGRAMS\\DICOM", "END", "C:\\EXPORT\\", "0"};
  std::vector<char*> argv;
  for (auto& s : a) argv.push_back(s.data());
  EXPECT_EQ(run_dicom_export(4, argv.data()), 0);
  // Dark text and arrows on the list's light plate.
  const auto dark = [](int l, int t, int r, int b) {
    int n = 0;
    for (int y = t; y < b; ++y)
      for (int x = l; x < r; ++x) n += ((px(x, y) >> 16) & 255) < 0x80;
    return n;
  };
  EXPECT_GT(dark(8, 29, 632, 29 + 14 * 23), 1000) << "rows drawn";
  EXPECT_GT(dark(8, 351, 632, 365), 100) << "down arrows: rows below the window";
  EXPECT_EQ(dark(8, 15, 632, 28), 0) << "no rows above it";
  platform::make_dirs(std::string(VASLAB_BUILD_DIR) + "/screenshots");
  testsupport::write_png(std::string(VASLAB_BUILD_DIR) + "/screenshots/dicom_status.png",
                         {screen_bitmap()->width, screen_bitmap()->height, screen_bitmap()->pixels});
}

}  // namespace
}  // namespace vaslab
