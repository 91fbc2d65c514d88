// The sibling-database export's study calls: the capture stream of whole
// batches read back by an independent reader, the pressure table, and the
// work files that must never answer success when they were not written.
#include "vaslab/reports/zelmar_export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/paths.h"
#include "testsupport/temp_root.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/tests/report_test_support.h"
#include "vaslab/reports/zelmar_tables.h"

namespace vaslab {
namespace {

// The finishing call reads every text back into the code it was written
// from, so no two codes of a table may share a text.
TEST(ZelmarTables, EveryTextReadsBackAsItsCode) {
  for (int code = 0; code < kZelmarTestCodes; ++code)
    EXPECT_EQ(zelmar_test_code(zelmar_test_text(code)), code) << code;
  for (int code = 0; code < 6; ++code) EXPECT_EQ(zelmar_probe_code(zelmar_probe_text(code)), code);
  for (int code = 0; code < 18; ++code) EXPECT_EQ(zelmar_gain_code(zelmar_gain_text(code)), code);
  for (int code = 0; code < 6; ++code) EXPECT_EQ(zelmar_sweep_code(zelmar_sweep_text(code)), code);
  EXPECT_EQ(zelmar_test_text(81), "");
  EXPECT_EQ(zelmar_test_text(kZelmarTestCodes), "");
  EXPECT_EQ(zelmar_test_text(-1), "");
  EXPECT_EQ(zelmar_gain_text(18), "");
  // Trailing blanks are part of a text; a trimmed one is unknown.
  EXPECT_EQ(zelmar_probe_code("PPG AC"), -1);
  EXPECT_EQ(zelmar_gain_code("8"), -1);
}

TEST(ZelmarTables, PageValuesOutsideTheRemappingsReadAsCodeZero) {
  EXPECT_EQ(zelmar_probe_remap(15), 4);
  EXPECT_EQ(zelmar_probe_remap(16), 5);
  EXPECT_EQ(zelmar_probe_remap(17), 0);
  EXPECT_EQ(zelmar_probe_remap(-1), 0);
  EXPECT_EQ(zelmar_gain_remap(0, 0), 8);
  EXPECT_EQ(zelmar_gain_remap(10, 0), 0);
  EXPECT_EQ(zelmar_gain_remap(3, 1), 16);
  EXPECT_EQ(zelmar_gain_text(zelmar_gain_remap(3, 1)), "256 Hz/mm");
  EXPECT_EQ(zelmar_gain_remap(11, 1), 9);
  EXPECT_EQ(zelmar_gain_remap(2, 2), 8);
  EXPECT_EQ(zelmar_sweep_remap(0), 4);
  EXPECT_EQ(zelmar_sweep_remap(5), 0);
  EXPECT_EQ(zelmar_sweep_remap(-3), 0);
}

struct ZelmarTest : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    hardware_settings() = HardwareSettings{};
    std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
    platform::map_path_create_dirs("C:\\DATA\\");
    platform::map_path_create_dirs("C:\\TEMP\\");
    platform::map_path_create_dirs("C:\\EXPORT\\");
  }
  void TearDown() override { end_batch(); }

  int call(const std::string& id) {
    std::vector<std::string> a{"C:\\PLUS\\ZELMAR", id, "C:\\EXPORT\\", "0"};
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    return run_zelmar_export(4, argv.data());
  }
  // What the export screen does around a batch: C:\TEMP\ is emptied at its
  // start and the finishing call ends it.
  void end_batch() {
    (void)call("END");
    ::remove(platform::map_path(kZelmarStreamFile).c_str());
    ::remove(platform::map_path(kZelmarGroupFile).c_str());
  }

  void make(const std::string& kind, const std::string& win_path, const std::string& json) {
    ASSERT_TRUE(make_study_file(kind, win_path, json));
  }
  void make_pdf(int exam, const std::string& name) {
    std::string h(kPageHeaderBytes, '\0');
    std::memcpy(&h[32], name.data(), std::min<std::size_t>(name.size(), 30));
    root.write("C:\\DATA\\" + std::to_string(exam) + ".PDF", h);
  }
  // A study of pressure steps only: each {step type, row byte, page JSON}.
  void make_pressure_study(int exam, const std::string& name,
                           const std::vector<std::tuple<int, int, std::string>>& steps) {
    std::string tpl = R"({"steps": [)";
    for (const auto& [type, row, page] : steps)
      tpl += R"({"type": )" + std::to_string(type) + R"(, "set": {")" + (type == 2 ? "60" : "55") +
             R"(": )" + std::to_string(row) + "}},";
    make("template", "C:\\STUDIES\\P" + std::to_string(exam) + ".sty", tpl + R"({"type": 255}]})");
    make_pdf(exam, name);
    const std::string t = R"({"template": "P)" + std::to_string(exam) + R"(.sty")";
    make("page", "C:\\DATA\\0." + std::to_string(exam), t + "}");
    for (std::size_t i = 0; i < steps.size(); ++i)
      make("page", "C:\\DATA\\" + std::to_string(i + 1) + "." + std::to_string(exam),
           t + ", " + std::get<2>(steps[i]) + "}");
  }
  std::string stream() { return root.exists(kZelmarStreamFile) ? root.read(kZelmarStreamFile) : ""; }
  bool check(const std::vector<std::string>& exams) {
    std::vector<std::string> args{platform::map_path(kZelmarStreamFile), platform::map_path("C:\\DATA\\"),
                                  platform::map_path("C:\\STUDIES\\")};
    args.insert(args.end(), exams.begin(), exams.end());
    return run_script(tests_dir() + "zelmar_check.py", args);
  }
};

std::string pressure_block(const std::string& group, const std::string& test, const std::string& lines) {
  return std::string("\x0f\x01I.D.:") + group + "\rTEST:" + test +
         "\rDATE:12/13/94\rTIME:04:38 PM  \rFAC.:Facility\r\r\rRIGHT           LEFT\r\r" + lines;
}

// Pressure lines as the sibling database prints them: a site's right and
// left, and a period's three.
std::string pl(const char* right, const char* site, const char* left, bool last = false) {
  return std::string("  ") + right + site + left + (last ? "\r\r\r" : "\r\r");
}
std::string per(int k, const char* a, const char* b, const char* c) {
  return "PER" + std::to_string(k) + "  " + a + "   " + b + "  " + c + "\r\r";
}

// Three studies of two patients with every waveform step type, pressures in
// several groups, samples that need the escape or lie outside a byte, a
// hidden side and a step without a row.  The second study of JONES takes
// the group of her first.
TEST_F(ZelmarTest, BatchMatchesAnIndependentReader) {
  make("template", "C:\\STUDIES\\00000123.sty", R"({"steps": [
    {"type": 6, "caption": "CFA", "set": {"198": 14, "199": 0, "39": 0}},
    {"type": 8, "caption": "Thigh", "set": {"211": 34, "212": 0, "51": 0}},
    {"type": 9, "caption": "Toe", "set": {"195": 24, "196": 0, "37": 1}},
    {"type": 5, "caption": "Finger", "set": {"194": 64, "195": 0, "37": 2}},
    {"type": 12, "caption": "Refill", "set": {"199": 82, "200": 7, "203": 0, "37": 0}},
    {"type": 1, "caption": "Calf", "set": {"210": 36, "211": 0, "51": 0}},
    {"type": 9, "caption": "No row", "set": {"195": 0, "196": 0}},
    {"type": 5, "caption": "Hidden", "set": {"194": 15, "195": 0}},
    {"type": 3, "caption": "Text"},
    {"type": 2, "caption": "R brachial", "set": {"60": 128, "61": 0}},
    {"type": 11, "caption": "L brachial", "set": {"55": 135, "56": 0}},
    {"type": 2, "caption": "R toe", "set": {"60": 142, "61": 0}},
    {"type": 2, "caption": "Period 1", "set": {"60": 194, "61": 0}},
    {"type": 255}]})");
  struct Study {
    int exam;
    const char* name;
    int gain, filter, probe;
  };
  const Study studies[] = {{4, "JONES^ANN", 3, 1, 16}, {7, "SMITH^BOB", -113, 4, 8}, {12, "JONES^ANN", 0, 9, 40}};
  for (const Study& s : studies) {
    make_pdf(s.exam, s.name);
    const std::string n = std::to_string(s.exam);
    const std::string common = R"({"template": "00000123.sty", "gain": )" + std::to_string(s.gain) +
                               R"(, "filter": )" + std::to_string(s.filter) + R"(, "probe": )" +
                               std::to_string(s.probe);
    std::string run;
    for (int i = 0; i < 40; ++i) run += (i ? "," : "") + std::to_string((i * 37 + s.exam) % 300 - 10);
    make("page", "C:\\DATA\\0." + n, common + "}");
    for (int step = 1; step <= 8; ++step)
      make("page", "C:\\DATA\\" + std::to_string(step) + "." + n,
           common + R"(, "start": 0, "newest": 30, "flags": )" + (step == 8 ? "1" : "0") +
               R"(, "ch1_run": [0, [15, 15, 256, 257, )" + run + R"(]], "ch2": {"30": )" + std::to_string(60 + step) +
               "}}");
    make("page", "C:\\DATA\\10." + n, common + R"(, "short": " 120"})");
    make("page", "C:\\DATA\\11." + n, common + R"(, "text": "95"})");
    make("page", "C:\\DATA\\12." + n, common + R"(, "newest": 5, "ch2": {"5": 1000}})");
    if (s.exam == 4) make("page", "C:\\DATA\\13." + n, common + R"(, "short": "140"})");
  }
  for (const Study& s : studies) ASSERT_EQ(call(std::to_string(s.exam)), 0) << s.exam;
  EXPECT_TRUE(check({"4", "7", "12"}));

  // One group record a patient, in order of first appearance.
  const std::string groups = root.read(kZelmarGroupFile);
  ASSERT_EQ(groups.size(), 2 * kZelmarGroupRecordBytes);
  EXPECT_EQ(groups.substr(0, 13), std::string("4.pdf") + std::string(8, '\0'));
  EXPECT_EQ(groups.substr(13, 30), "JONES^ANN" + std::string(21, '\0'));
  EXPECT_EQ(groups.substr(43, 13), std::string("7.pdf") + std::string(8, '\0'));
  // The third study (JONES again) files under the first's name, and the
  // period pressure of the first study is still in its table.
  const std::string s = stream();
  const std::size_t third = s.find("\x0f\x03", s.rfind("I.D.:7.pdf"));
  ASSERT_NE(third, std::string::npos);
  EXPECT_EQ(s.find("I.D.:12.pdf"), std::string::npos);
  EXPECT_NE(s.find("I.D.:4.pdf", third), std::string::npos);
  EXPECT_EQ(s.substr(s.rfind("\x0f\x01")),
            pressure_block("4.pdf", "POST EXER. PRS.",
                           per(1, "140", "   ", "   ") + per(2, "   ", "   ", "   ") + per(3, "   ", "   ", "   ") +
                               per(4, "   ", "   ", "   ")));
}


// The pressure table from the slots, readings that do not fit them, rows
// outside the table, and the period pressures that outlive their study but
// not their batch.
TEST_F(ZelmarTest, PressureBlocks) {
  make_pressure_study(1, "A", {{2, 128, R"("short": " 85")"},
                               {11, 135, R"("text": "1205")"},
                               {2, 132, R"("newest": 3, "ch2": {"3": 1000})"},
                               {2, 139, R"("short": " 120")"},
                               {2, 127, R"("short": "11")"},
                               {2, 198, R"("short": "22")"},
                               {11, 150, R"("text": "7")"}});
  ASSERT_EQ(call("1"), 0);
  const std::string legs = pl(" 85", "  BRACHIAL  ", "120", true) + pl("   ", " HIGH THIGH ", "   ") +
                           pl("   ", " ABOVE KNEE ", "   ") + pl("   ", " BELOW KNEE ", "   ") +
                           pl("***", "   ANKLE    ", "120", true);
  const std::string toes = pl("   ", " GREAT TOE  ", "   ") + pl("   ", "   TOE 2    ", "   ") +
                           pl("   ", "   TOE 3    ", "   ") + pl("   ", "   TOE 4    ", "  7") +
                           pl("   ", "   TOE 5    ", "   ", true);
  // Only pressures: no sample run, no waveform block.
  EXPECT_EQ(stream(), pressure_block("1.pdf", "ABI/SEG. PRESS.", legs) + pressure_block("1.pdf", "TOE PRESSURES", toes));
  EXPECT_TRUE(check({"1"}));

  // Without an ankle of its own the leg table splits it; a period pressure
  // (slot 66) turns the exercise table into the period table, and stays for
  // the next study of the batch.
  make_pressure_study(2, "B", {{2, 133, R"("short": "60")"}, {2, 194, R"("short": "-5")"},
                               {2, 183, R"("short": "9")"}});
  make_pressure_study(3, "B", {{2, 193, R"("short": "77")"}});
  ASSERT_EQ(call("2"), 0);
  ASSERT_EQ(call("3"), 0);
  EXPECT_TRUE(check({"1", "2", "3"}));
  const std::string s = stream();
  EXPECT_NE(s.find(pl(" 60", " ANKLE P.T. ", "   ") + pl("   ", " ANKLE D.P. ", "   ", true)), std::string::npos);
  const std::string empty_periods = per(2, "   ", "   ", "   ") + per(3, "   ", "   ", "   ") +
                                    per(4, "   ", "   ", "   ");
  EXPECT_NE(s.find(pressure_block("2.pdf", "POST EXER. PRS.", per(1, " -5", "  9", "   ") + empty_periods)),
            std::string::npos);
  EXPECT_NE(s.find(pressure_block("2.pdf", "POST EXER. PRS.", per(1, " -5", "   ", "   ") + empty_periods)),
            std::string::npos);

  // A new batch starts without them: the exercise table of study 3 alone.
  end_batch();
  ASSERT_EQ(call("3"), 0);
  EXPECT_EQ(stream(), pressure_block("3.pdf", "POST EX. PRESS.",
                                     pl("   ", "  BRACHIAL  ", "   ", true) + pl("   ", "  ANKLE P1  ", "   ") +
                                         pl("   ", "  ANKLE P2  ", "   ") + pl("   ", "  ANKLE P3  ", "   ") +
                                         pl("   ", "  ANKLE P4  ", "   ") + pl("   ", "  ANKLE P5  ", " 77", true)));
}

// Work files that cannot be read or written give 11, never success; a
// missing page description 9, missing study pages 10.
TEST_F(ZelmarTest, FailuresAreReported) {
  make_pressure_study(1, "A", {{2, 128, R"("short": "85")"}});
  EXPECT_EQ(call("2"), 9);
  EXPECT_EQ(call("1000"), 1);
  make_pdf(2, "A");
  EXPECT_EQ(call("2"), 10);  // no pages

  platform::map_path_create_dirs(std::string(kZelmarStreamFile) + "\\");
  EXPECT_EQ(call("1"), 11);
  ASSERT_EQ(::rmdir(platform::map_path(kZelmarStreamFile).c_str()), 0);
  if (::access("/dev/full", W_OK) == 0) {
    ASSERT_EQ(::symlink("/dev/full", platform::map_path(kZelmarStreamFile).c_str()), 0);
    EXPECT_EQ(call("1"), 11);
    ::remove(platform::map_path(kZelmarStreamFile).c_str());
  }
  ::remove(platform::map_path(kZelmarGroupFile).c_str());
  platform::map_path_create_dirs(std::string(kZelmarGroupFile) + "\\");
  EXPECT_EQ(call("1"), 11);
  EXPECT_FALSE(root.exists(kZelmarStreamFile));
  ASSERT_EQ(::rmdir(platform::map_path(kZelmarGroupFile).c_str()), 0);

  // A name that fills its 30 bytes finds its group again; a torn record at
  // the end of the group file is replaced, not followed.
  const std::string full(30, 'N');
  make_pdf(1, full);
  make_pdf(2, full);
  make("page", "C:\\DATA\\0.2", R"({"template": "P1.sty"})");
  make("page", "C:\\DATA\\1.2", R"({"template": "P1.sty", "short": "90"})");
  root.write(kZelmarGroupFile, "9.pd");
  ASSERT_EQ(call("1"), 0);
  ASSERT_EQ(call("2"), 0);
  EXPECT_EQ(root.read(kZelmarGroupFile), std::string("1.pdf") + std::string(8, '\0') + full);
  EXPECT_EQ(stream().find("I.D.:2.pdf"), std::string::npos);
}

}  // namespace
}  // namespace vaslab
