// The delimited-text export: whole batches checked by an independent
// reader, the template codes on hand-made work records, and templates and
// pages that try to break out.
#include "vaslab/reports/delimited_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "testsupport/file_size_limit.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/tests/report_test_support.h"

namespace vaslab {
namespace {


struct DelimitedTest : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    start_export_test({"C:\\DATA\\", "C:\\TEMP\\", "C:\\EXPORT\\"}, false);
  }

  int call(const std::string& id, int options = 0, const std::string& dest = "C:\\EXPORT\\") {
    std::vector<std::string> a{"C:\\PROGRAMS\\DELIMEX", id, dest, std::to_string(options)};
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    return run_delimited_export(4, argv.data());
  }

  void make(const std::string& kind, const std::string& win_path, const std::string& json) {
    ASSERT_TRUE(make_study_file(kind, win_path, json));
  }
  void make_pdf(int exam, const std::string& name, const std::string& date, const std::string& id = "ID-7") {
    std::string h(kPageHeaderBytes, '\0');
    std::memcpy(&h[2], "Lower Arterial", 14);
    std::memcpy(&h[32], name.data(), name.size());
    std::memcpy(&h[62], id.data(), id.size());
    std::memcpy(&h[92], date.data(), date.size());
    const std::string left = "Referred by: Dr. Who";
    std::memcpy(&h[114], left.data(), left.size());
    root.write("C:\\DATA\\" + std::to_string(exam) + ".PDF", h);
  }

  // A record of the work file with rows set as strings.
  static DelimitedRecord record(const std::string& key, const std::vector<std::pair<int, std::string>>& rows,
                                std::string_view selection = "0") {
    DelimitedRecord r{};
    std::memcpy(r.key, key.data(), std::min(key.size(), sizeof r.key - 1));
    for (char k : selection) r.selection[k - '0'] = k;
    for (const auto& [field, bytes] : rows) std::memcpy(r.rows[field - 1], bytes.data(), std::min<std::size_t>(bytes.size(), 81));
    return r;
  }
  void write_records(const std::vector<DelimitedRecord>& records) {
    root.write("C:\\TEMP\\DELIMDB",
               std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(DelimitedRecord)));
  }
  // The end call over one record and template 0.
  std::string end_with(const std::string& tpl, const DelimitedRecord& r, int options = 0) {
    ::remove(platform::map_path("C:\\EXPORT\\KORVANI.ASC").c_str());
    root.write("C:\\PROGRAMS\\DELIM0.CFG", tpl);
    write_records({r});
    EXPECT_EQ(call("END", options), 0);
    EXPECT_FALSE(root.exists("C:\\TEMP\\DELIMDB"));
    return root.exists("C:\\EXPORT\\KORVANI.ASC") ? root.read("C:\\EXPORT\\KORVANI.ASC") : "<none>";
  }
};

// Four studies of three patients: a Doppler step (row 12), a pressure
// (row 14) and a picture step that chooses template 0.  The second study
// of DOE^JANE replaces her step values and keeps her header rows.
TEST_F(DelimitedTest, BatchMatchesAnIndependentReader) {
  make("template", "C:\\STUDIES\\00000123.sty", R"({"steps": [
    {"type": 6, "caption": "CFA", "texts": {"32": "C"}, "words": {"51": 0}, "set": {"39": 2, "198": 12, "199": 0}},
    {"type": 2, "caption": "Brachial", "texts": {"32": "A"}, "set": {"60": 14, "61": 0}},
    {"type": 8, "caption": "Thigh", "texts": {"32": "D"}, "words": {"61": 0}, "set": {"51": 1, "211": 15, "212": 0}},
    {"type": 4, "caption": "Logo", "set": {"145": 240}},
    {"type": 255}]})");
  struct Study {
    int exam;
    const char* name;
    const char* date;
    int gain, filter, probe, height;
    const char* pressure;
    int volume, channel_2;  // the PVR page's status word and newest channel 2 sample
  };
  const Study studies[] = {
      {1, "DOE^JANE", "03/04/2026 12:30 PM", 3, 2, 16, 90, " 120", 354, 45},
      {2, "ROE^RICHARD", "11/05/2025 09:05 PM", 10, 3, 8, 140, "95", 3000, 1200},
      {3, "DOE^JANE", "03/05/2026 10:00 AM", 0, 2, 8, 200, "  88", 319, 0},
      {4, "POE^EDGAR", "01/02/2026 12:30 AM", 7, 1, 8, 60, "140", 0, -7},
  };
  for (const Study& s : studies) {
    make_pdf(s.exam, s.name, s.date, std::string("ID-") + std::to_string(s.exam));
    const std::string n = std::to_string(s.exam);
    std::ostringstream run;
    for (int i = 0; i < 160; ++i) run << (i ? "," : "") << 20 + static_cast<int>(s.height * std::exp(-std::pow((i % 50 - 12) / 5.0, 2)));
    make("page", "C:\\DATA\\0." + n, R"({"template": "00000123.sty", "save_time": 1700000000})");
    make("page", "C:\\DATA\\1." + n,
         R"({"template": "00000123.sty", "start": -1, "newest": 159, "gain": )" + std::to_string(s.gain) +
             R"(, "filter": )" + std::to_string(s.filter) + R"(, "probe": )" + std::to_string(s.probe) +
             R"(, "ch1_run": [0, [)" + run.str() + "]]}");
    make("page", "C:\\DATA\\2." + n, R"({"template": "00000123.sty", "short": ")" + std::string(s.pressure) + R"("})");
    make("page", "C:\\DATA\\3." + n,
         R"({"template": "00000123.sty", "newest": 10, "gain": 4, "status": )" + std::to_string(s.volume) +
             R"(, "ch2": {"10": )" + std::to_string(s.channel_2) + "}}");
  }
  root.write("C:\\PROGRAMS\\DELIM0.CFG", "~201,~G12,~A12,~S12,~D203YYYY-MM-DD,~T204GG:MM,~202,~P12,~14,~C15,~V15,~P15,~G15\r\n");
  for (const Study& s : studies) ASSERT_EQ(call(std::to_string(s.exam)), 0) << s.exam;
  ASSERT_EQ(call("END"), 0);
  EXPECT_TRUE(run_script(tests_dir() + "delimited_check.py", {platform::map_path("C:\\EXPORT\\KORVANI.ASC"),
                                                platform::map_path("C:\\DATA\\"), platform::map_path("C:\\STUDIES\\"),
                                                "1", "2", "3", "4"}));
  EXPECT_FALSE(root.exists("C:\\TEMP\\DELIMDB"));

  // A second batch appends; with option 0x01 the file holds only the new
  // batch, however long the old text was.
  for (int exam : {2}) ASSERT_EQ(call(std::to_string(exam)), 0);
  ASSERT_EQ(call("END"), 0);
  const std::string appended = root.read("C:\\EXPORT\\KORVANI.ASC");
  EXPECT_EQ(std::count(appended.begin(), appended.end(), '\n'), 4);
  ASSERT_EQ(call("2"), 0);
  ASSERT_EQ(call("END", 0x01), 0);
  EXPECT_EQ(root.read("C:\\EXPORT\\KORVANI.ASC"), appended.substr(appended.rfind("ROE^")));

  // A study whose page description is missing or whose id is out of range.
  EXPECT_EQ(call("9"), 9);
  EXPECT_EQ(call("1000"), 1);
  EXPECT_EQ(call("END"), 10);  // no work file: nothing to write
}

TEST_F(DelimitedTest, StudyCallRefusesWhatWouldLoseOrMixRecords) {
  make("template", "C:\\STUDIES\\00000123.sty", R"({"steps": [
    {"type": 10, "caption": "Notes", "set": {"203": 0, "204": 30}},
    {"type": 255}]})");
  make_pdf(5, "NEW^PATIENT", "03/04/2026 10:00 AM");
  make("page", "C:\\DATA\\0.5", R"({"template": "00000123.sty"})");
  make("page", "C:\\DATA\\1.5", R"({"template": "00000123.sty", "text": ")" + std::string(129, 'n') + R"("})");
  // A note fills its row to 80 characters, the row keeps its NUL, and the
  // page name does not fit behind it.
  ASSERT_EQ(call("5"), 0);
  std::string db = root.read("C:\\TEMP\\DELIMDB");
  ASSERT_EQ(db.size(), sizeof(DelimitedRecord));
  const std::size_t row30 = offsetof(DelimitedRecord, rows) + 29 * kDelimitedRowBytes;
  EXPECT_EQ(db.substr(row30, 81), std::string(80, 'n') + '\0');

  // A name that fills its 30 header bytes is kept as its first 29 in the
  // key, and the patient's next study still finds that record.
  const std::string long_name(30, 'L');
  make_pdf(5, long_name, "03/04/2026 10:00 AM");
  make_pdf(6, long_name, "03/04/2026 11:00 AM");
  make("page", "C:\\DATA\\0.6", R"({"template": "00000123.sty"})");
  make("page", "C:\\DATA\\1.6", R"({"template": "00000123.sty", "text": "second"})");
  ::remove(platform::map_path("C:\\TEMP\\DELIMDB").c_str());
  ASSERT_EQ(call("5"), 0);
  ASSERT_EQ(call("6"), 0);
  db = root.read("C:\\TEMP\\DELIMDB");
  ASSERT_EQ(db.size(), sizeof(DelimitedRecord));
  EXPECT_EQ(db.substr(0, 30), std::string(29, 'L') + '\0');

  // A 101st patient is refused: nobody's record takes their values.
  std::vector<DelimitedRecord> full;
  for (int i = 0; i < 100; ++i) full.push_back(record("P" + std::to_string(i), {}));
  write_records(full);
  const std::string before = root.read("C:\\TEMP\\DELIMDB");
  EXPECT_EQ(call("5"), 11);
  EXPECT_EQ(root.read("C:\\TEMP\\DELIMDB"), before);

  // A notes step of mode 2 is refused and the work file stays as it was.
  make("template", "C:\\STUDIES\\00000123.sty", R"({"steps": [
    {"type": 10, "caption": "Notes", "set": {"36": 2, "203": 0, "204": 30}}, {"type": 255}]})");
  write_records({record("X", {})});
  const std::string one = root.read("C:\\TEMP\\DELIMDB");
  EXPECT_EQ(call("5"), 11);
  EXPECT_EQ(root.read("C:\\TEMP\\DELIMDB"), one);
}

TEST_F(DelimitedTest, TemplateCodes) {
  const DelimitedRecord r = record("A", {{1, std::string("g1\0s1\0a1\0c1\0v1\0p1\0", 18)},
                                         {123, "x123"},
                                         {203, "03/04/2026"},
                                         {204, std::string("09:05 PM", 8) + std::string(12, '\0') + "21"}});
  EXPECT_EQ(end_with("~~|~1|~G1~S1~A1~C1~V1~P1|~1234|~0x|~240y|~q|~", r), "~|g1|g1s1a1c1v1p1|x1234|x|y|q|");
  EXPECT_EQ(end_with("~D203DD.MM.YYYY! ~T204HH-MM P G~T204GGhMM P.", r), "04.03.2026! 09-05 PM G21h05 PM.");
  // A date pattern left by a tilde goes on as a code.
  EXPECT_EQ(end_with("~D203M~~|", r), "0~|");
  // A record without a template chosen writes nothing at all.
  EXPECT_EQ(end_with("~1", record("A", {{1, "v"}}, "")), "");
}

TEST_F(DelimitedTest, OutputFilesAndFolders) {
  const DelimitedRecord r = record("A", {{1, "v"}});
  // Numbered files after the highest number there; a folder of their own.
  root.write("C:\\EXPORT\\3.ASC", "");
  root.write("C:\\EXPORT\\17.asc", "");
  root.write("C:\\EXPORT\\40.TXT", "");
  root.write("C:\\PROGRAMS\\DELIM0.CFG", "~1");
  write_records({r});
  ASSERT_EQ(call("END", 0x08), 0);
  EXPECT_EQ(root.read("C:\\EXPORT\\18.ASC"), "v");
  platform::map_path_create_dirs("C:\\EXPORT\\1\\");
  platform::map_path_create_dirs("C:\\EXPORT\\2\\");
  write_records({r});
  ASSERT_EQ(call("END", 0x18), 0);
  EXPECT_EQ(root.read("C:\\EXPORT\\3\\3.ASC"), "v");
  write_records({r});
  ASSERT_EQ(call("END", 0x10), 0);
  EXPECT_EQ(root.read("C:\\EXPORT\\KORVANI\\KORVANI.ASC"), "v");

  // ~F switches files in the output folder; the first, left empty, goes;
  // later empty ones stay.  Names cannot leave the folder.
  EXPECT_EQ(end_with("~Fa.txt^~Fb.txt^~1~Fc.txt^", r), "<none>");
  EXPECT_TRUE(root.exists("C:\\EXPORT\\a.txt"));
  EXPECT_EQ(root.read("C:\\EXPORT\\b.txt"), "v");
  EXPECT_TRUE(root.exists("C:\\EXPORT\\c.txt"));
  end_with("~F../../up.txt^1~F\\c:\\x/y:z.t^2~F..^3~F/^4~Flongername.txt^5", r);
  EXPECT_EQ(root.read("C:\\EXPORT\\....up.txt"), "1");
  EXPECT_EQ(root.read("C:\\EXPORT\\cxyz.t"), "2");
  EXPECT_EQ(root.read("C:\\EXPORT\\longerna.txt"), "5");
  EXPECT_FALSE(root.exists("C:\\up.txt"));

  // A full disk: the batch is not done, its records stay for another end
  // call.
  root.write("C:\\PROGRAMS\\DELIM0.CFG", std::string(5000, 'x') + "~1");
  write_records({r});
  const std::string before = root.read("C:\\TEMP\\DELIMDB");
  root.write("C:\\EXPORT\\KORVANI.ASC", "an earlier batch\n");
  EXPECT_EQ(testsupport::with_file_size_limit(1000, [&] { return call("END"); }), 11);
  EXPECT_TRUE(root.exists("C:\\TEMP\\DELIMDB") && root.read("C:\\TEMP\\DELIMDB") == before);
  // The output is as it was, so the retry writes the batch once.
  EXPECT_EQ(root.read("C:\\EXPORT\\KORVANI.ASC"), "an earlier batch\n");
  ASSERT_EQ(call("END"), 0);
  EXPECT_EQ(root.read("C:\\EXPORT\\KORVANI.ASC"), "an earlier batch\n" + std::string(5000, 'x') + "v");
}

// An end call that fails or is cut off at any write, flush or rename leaves
// each output file as it was before the call or as the whole batch makes
// it, and a failed call keeps its records for the retry.
TEST_F(DelimitedTest, EndCallIsWholeOrNothingUnderWriteFaults) {
  const std::vector<DelimitedRecord> records = {record("A", {{1, "first"}, {2, "one"}}),
                                                record("B", {{1, "second"}, {2, "two"}})};
  const std::vector<testsupport::StoredFile> files = {{platform::map_path("C:\\EXPORT\\KORVANI.ASC")},
                                                      {platform::map_path("C:\\EXPORT\\SIDE.TXT")},
                                                      {platform::map_path("C:\\TEMP\\DELIMDB")}};
  for (const int options : {0, 0x01}) {
    SCOPED_TRACE(options);
    const int steps = testsupport::check_write_faults(
        root.path(), files,
        [&] {
          root.write("C:\\EXPORT\\KORVANI.ASC", "an earlier batch\n");
          ::remove(platform::map_path("C:\\EXPORT\\SIDE.TXT").c_str());
          root.write("C:\\PROGRAMS\\DELIM0.CFG", "~1;~FSIDE.TXT^~2\n");
          write_records(records);
        },
        [&] { return call("END", options) == 0; });
    EXPECT_EQ(steps, 8);  // two files, each written, flushed and renamed twice
  }
}

TEST_F(DelimitedTest, WaveformSamplesStayOnThePage) {
  std::ostringstream run;
  for (int i = 0; i < 2960; ++i) run << (i ? "," : "") << (i * 37) % 1000 - 300;
  make("page", "C:\\DATA\\3.12", R"({"start": 4, "newest": 9, "ch1_run": [0, [)" + run.str() + "]]}");
  const DelimitedRecord r = record("A", {{1, std::string("g\0s\0a\0\0\0p\0" "3.12\0", 15)}});
  // The example: each sample in six places with one decimal and a ';'.
  const std::string out = end_with("~W1\\6.1D;\\^|", r);
  std::string want;
  for (int k = 5; k <= 9; ++k) {
    char b[16];
    std::snprintf(b, sizeof b, "%6.1f;", static_cast<double>((k * 37) % 1000 - 300));
    want += b;
  }
  EXPECT_EQ(out, want + "|");
  // Conversions keep only flags, width and precision (two digits each):
  // the rest is dropped, so no conversion asks for more than it may write.
  std::string numbered, sanitized;
  for (int k = 5; k <= 9; ++k) {
    const double v = (k * 37) % 1000 - 300;
    char b[128];
    std::snprintf(b, sizeof b, "[%d/%d/%05.2f]", k - 4, k - 5, v / 255.0);
    numbered += b;
    std::snprintf(b, sizeof b, "%99.99f", v);
    sanitized += b;
  }
  EXPECT_EQ(end_with("~W1[\\I/\\i/\\05.2d]\\^", r), numbered);
  EXPECT_EQ(end_with("~W1\\*s%n99999.99999999lD\\^", r), sanitized);

  // Offsets far outside the page: every sample once, nothing beyond.
  make("page", "C:\\DATA\\3.12", R"({"start": -3000, "newest": 32000, "ch1_run": [0, [)" + run.str() + "]]}");
  const std::string all = end_with("~W1\\I,\\^", r);
  EXPECT_EQ(std::count(all.begin(), all.end(), ','), 2960);
  // A page name that is not a page file of the data directory is not read.
  const DelimitedRecord bad = record("A", {{1, std::string("g\0s\0a\0\0\0p\0" "../x\0", 15)}});
  root.write("C:\\x", std::string(12013, '\x01'));
  EXPECT_EQ(end_with("~W1\\I\\^", bad), "");
  // An odd number of backslashes never ends the text: nothing is written.
  EXPECT_EQ(end_with("~W1\\D^ more ~1", r), "");
}

}  // namespace
}  // namespace vaslab
