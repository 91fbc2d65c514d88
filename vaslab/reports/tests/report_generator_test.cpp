// The report generators against an independent model, their failures and
// the layout of the single-step page.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "testsupport/file_size_limit.h"
#include "testsupport/temp_root.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/tests/report_test_support.h"

namespace vaslab {
namespace {


constexpr const char* kTemplate = "C:\\STUDIES\\00000123.sty";
constexpr const char* kPdf = "C:\\DATA\\12.PDF";
constexpr std::int32_t kStart = 1700000000;

// JSON of a page of template 123 with more fields.
std::string page_json(const std::string& more = "") {
  return R"({"template": "00000123.sty")" + std::string(more.empty() ? "" : ", ") + more + "}";
}

struct ReportFixture : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    hardware_settings() = HardwareSettings{};
    std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
    platform::map_path_create_dirs("C:\\DATA\\");
    reset_formula_variables();
  }

  void make(const std::string& kind, const std::string& win_path, const std::string& json) {
    ASSERT_TRUE(make_study_file(kind, win_path, json));
  }
  void make_template(const std::string& steps, const std::string& more = "") {
    make("template", kTemplate, R"({"steps": [)" + steps + "]" + more + "}");
  }
  void make_page(int step, const std::string& more = "", int exam = 12) {
    make("page", "C:\\DATA\\" + std::to_string(step) + "." + std::to_string(exam), page_json(more));
  }

  // The page description as the patient data screen left it: the
  // identification texts, and old report bytes the run must clear.
  std::string make_pdf(int exam = 12, const char* name = "DOE^JANE") {
    std::string h(kPageHeaderBytes + 40, '\0');
    for (int i = 0; i < 245; ++i) h[i] = static_cast<char>('A' + i % 26);
    std::memset(h.data() + 32, 0, 30);
    std::memcpy(h.data() + 32, name, std::strlen(name));
    for (std::size_t i = 245; i < h.size(); ++i) h[i] = static_cast<char>(i * 7);
    const std::string path = "C:\\DATA\\" + std::to_string(exam) + ".PDF";
    root.write(path, h);
    return h;
  }

  int report(const char* exam = "12") {
    char a0[] = "C:\\PROGRAMS\\IPROC";
    std::string a1 = exam;
    char* argv[] = {a0, a1.data()};
    return generate_report(2, argv);
  }
  int page_report(int step, const char* exam = "12") {
    char a0[] = "C:\\PROGRAMS\\SPRINT";
    std::string a1 = exam, a2 = std::to_string(step);
    char* argv[] = {a0, a1.data(), a2.data()};
    return generate_page_report(3, argv);
  }

  std::string pdf_bytes() { return root.read(kPdf); }
  PageDescriptionHeader header() {
    const std::string b = pdf_bytes();
    PageDescriptionHeader h{};
    if (b.size() >= kPageHeaderBytes) decode_page_header(reinterpret_cast<const std::uint8_t*>(b.data()), h);
    return h;
  }
  // Text items with their strings.
  std::vector<std::pair<PageTextItem, std::string>> texts() {
    const std::string b = pdf_bytes();
    std::vector<std::pair<PageTextItem, std::string>> out;
    PageDescription d;
    if (read_page_description(reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), d) != kPageOk) return out;
    for (const PageTextItem& t : d.text_items) out.emplace_back(t, std::string(pool_text(d, t.text)));
    return out;
  }
};

// The whole walk against the model: every trace kind with every label code,
// samples of 256 and above, a Doppler page with its block, pressures (one
// above 999), a formula step feeding a text, texts, a picture, lines, a
// step without its page, the end record and a step behind it.
TEST_F(ReportFixture, MatchesIndependentModel) {
  make_template(R"(
    {"type": 1, "caption": "Thigh", "texts": {"32": "A", "63": "\u0009", "135": "\u000a \u000c \u000b \u000e x"},
     "words": {"33": 100, "35": 400, "40": 50, "42": 60, "44": 0, "46": 999, "61": 0},
     "set": {"51": 2, "53": 4, "55": 4}},
    {"type": 5, "caption": "PPG", "texts": {"32": "B", "49": "\u0003PPG \u0009\u0007", "121": "\u000e/\u000b"},
     "words": {"33": 1300, "35": 400, "47": 800}, "set": {"37": 0, "39": 3, "41": 0}},
    {"type": 6, "caption": "CFA", "texts": {"32": "C", "53": "\u0009 \u000d", "125": "\u000b \u000e"},
     "words": {"33": 100, "35": 1000, "51": 1600}, "set": {"39": 1, "41": 5, "43": 8}},
    {"type": 2, "caption": "Brachial", "texts": {"32": "A"}, "words": {"33": 500, "35": 1900}, "set": {"37": 1}},
    {"type": 11, "caption": "Ankle", "texts": {"32": "B"}, "words": {"33": 900, "35": 1900}, "set": {"37": 2}},
    {"type": 7, "texts": {"32": "ratio = pb / 2", "113": "z = ga + wa + tpb", "193": "q = sb"}},
    {"type": 3, "texts": {"37": "1", "117": "2", "198": "ratio", "278": "%5.1f"},
     "words": {"32": 2000, "34": 2500}, "set": {"36": 1, "197": 1, "288": 1}},
    {"type": 3, "texts": {"37": "z > 0", "117": "1", "198": "ABI result", "278": "Dr %s."},
     "words": {"32": 1200, "34": 2600}, "set": {"36": 32, "288": 2}},
    {"type": 3, "texts": {"37": "0", "198": "hidden", "278": "%s"}},
    {"type": 4, "texts": {"36": "LOGO.PCX", "65": "1"},
     "words": {"32": 10, "34": 20, "50": 5, "53": 300, "55": 200, "57": 0, "59": 3, "61": 300, "63": 150},
     "set": {"49": 1}},
    {"type": 20, "texts": {"32": "1", "53": "3", "59": "2", "74": "100", "99": "200", "124": "300+ratio", "149": "70000",
     "174": "9", "180": "-4", "195": "1", "220": "2", "245": "3", "270": "4"},
     "words": {"66": 11, "68": 216, "70": 2388, "72": 3138, "187": 1, "189": 2, "191": 3, "193": 4},
     "set": {"65": 18, "186": 33}},
    {"type": 12, "texts": {"32": "D"}},
    {"type": 255, "words": {"295": 4660}},
    {"type": 13})");
  make_page(0, R"("save_time": 1700000000)");
  std::string ramp;
  for (int i = 0; i < 300; ++i) ramp += (i ? "," : "") + std::to_string((i * 37) % 300);
  make_page(1, R"("count": 2960, "start": 2659, "newest": 2959, "baseline": 300, "points": [5, -1], "gain": 4,
    "filter": 3, "status": 1348, "save_time": 1700000100, "ch2": {"2959": 55},
    "ch1_run": [2660, [)" + ramp + "]]");
  make_page(2, R"("count": 1000, "start": -5, "newest": 200, "gain": 2, "filter": 2, "points": [-1, 7],
    "save_time": 1700000200, "ch1": {"0": 256, "1": 257, "2": 255, "3": -3, "100": 180, "40": 20}, "ch1_run": [50, [1,2,3,90,200,10,5,5,6]])");
  make_page(3, R"("flags": 2, "count": 500, "start": 99, "newest": 399, "gain": 5, "filter": 4, "probe": 16, "save_time": 1700000300,
    "ch1_run": [100, [10, 20, 30, 40]], "block": {"flags": 3, "seed": 13})");
  make_page(4, R"("count": 10, "start": 0, "newest": 9, "ch2": {"9": 1200}, "save_time": 1700000400)");
  make_page(5, R"("count": 10, "start": 0, "newest": 9, "short": "120", "points": [2, 3], "ch1": {"2": 77, "3": 88})");
  const std::string before = make_pdf();

  struct stat st0;
  ASSERT_EQ(::stat(platform::map_path(kPdf).c_str(), &st0), 0);
  ASSERT_EQ(report(), kReportOk);
  // Both file times are the access time the file had before (taken before
  // anything reads the file again: a read moves the access time).
  struct stat st1;
  ASSERT_EQ(::stat(platform::map_path(kPdf).c_str(), &st1), 0);
  EXPECT_EQ(st1.st_mtim.tv_sec, st0.st_atim.tv_sec);
  EXPECT_EQ(st1.st_mtim.tv_nsec, st0.st_atim.tv_nsec);
  EXPECT_EQ(st1.st_atim.tv_sec, st0.st_atim.tv_sec);
  EXPECT_EQ(st1.st_atim.tv_nsec, st0.st_atim.tv_nsec);

  const std::string got = pdf_bytes();
  ASSERT_TRUE(run_script(tests_dir() + "report_model.py",
                         {platform::map_path("C:\\DATA\\"), platform::map_path("C:\\STUDIES\\"), "12",
                          root.path() + "/expected.pdf"}));
  std::string want;
  {
    FILE* f = std::fopen((root.path() + "/expected.pdf").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) want.append(buf, n);
    std::fclose(f);
  }
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(static_cast<int>(static_cast<unsigned char>(got[i])), static_cast<int>(static_cast<unsigned char>(want[i])))
        << "first difference at file offset " << i;
  EXPECT_TRUE(got.substr(2, 243) == before.substr(2, 243));  // the magic bytes are set

  // What the model agrees on, spelled out where it matters most.
  const PageDescriptionHeader h = header();
  EXPECT_EQ(std::string(trace_label(h, h.traces[0].label_1)), " 1.5 mmHg/20mm");
  EXPECT_EQ(std::string(trace_label(h, h.traces[1].label_1)), "\3PPG \6  1\3\7");
  EXPECT_EQ(std::string(h.pressures[0].text), "***");
  EXPECT_EQ(h.end_word, 4660);
  // The formulas saw the variables the sections set.
  double v = 0;
  ASSERT_TRUE(lookup_formula_variable("ratio", v));
  EXPECT_EQ(v, 60);
  PageDescription d;
  ASSERT_EQ(read_page_description(reinterpret_cast<const std::uint8_t*>(got.data()), got.size(), d), kPageOk);
  EXPECT_TRUE(d.waveform);
  EXPECT_EQ(d.lines.size(), 2u);
}

TEST_F(ReportFixture, RefusalsLeaveThePageAsItWas) {
  const std::string kSteps = R"({"type": 2, "texts": {"32": "A"}})";
  struct Case {
    const char* name;
    std::string steps, more;
    bool page;
    int want;
  };
  const Case cases[] = {
      {"no data page", kSteps, "", false, kReportNoData},
      {"record size word", kSteps, R"(, "count": 1, "bad36": 1)", true, kReportNoData},
      {"unknown type", R"({"type": 13})", "", true, kReportFileError},
      {"type 0", R"({"type": 0})", "", true, kReportFileError},
      {"short template", kSteps, R"(, "count": 3)", true, kReportNoData},
      {"picture kind", R"({"type": 4, "texts": {"65": "1"}, "set": {"52": 1}})", "", true, kReportArguments},
      {"note mode 2", R"({"type": 10, "set": {"36": 2}})", "", true, kReportArguments},
  };
  for (const Case& c : cases) {
    testsupport::remove_tree(platform::map_path("C:\\DATA\\"));
    testsupport::remove_tree(platform::map_path("C:\\TEMP\\"));
    platform::map_path_create_dirs("C:\\DATA\\");
    std::string more = c.more;
    const bool bad36 = more.find("bad36") != std::string::npos;
    if (bad36) more = R"(, "count": 1)";
    make_template(c.steps, more);
    if (bad36) {
      std::string t = root.read(kTemplate);
      t[37] = 2;
      root.write(kTemplate, t);
    }
    if (c.page) make_page(1, R"("count": 1, "newest": 0, "start": -1)");
    const std::string before = make_pdf();
    EXPECT_EQ(report(), c.want) << c.name;
    EXPECT_TRUE(pdf_bytes() == before) << c.name;
    if (!c.page) {
      EXPECT_FALSE(root.exists("C:\\TEMP\\TEXTI.TMP")) << c.name;
    }
  }
  // The arguments and the page description itself.
  char a0[] = "C:\\PROGRAMS\\IPROC";
  char* one[] = {a0};
  EXPECT_EQ(generate_report(1, one), kReportArguments);
  EXPECT_EQ(report("1000"), kReportArguments);
  EXPECT_EQ(report("12x"), kReportArguments);
  EXPECT_EQ(report("13"), kReportNoPage);
  root.write("C:\\DATA\\13.PDF", std::string(4868, 'x'));
  EXPECT_EQ(report("13"), kReportNoPage);
  EXPECT_EQ(page_report(0), kReportArguments);
}

// A write failure while the page is assembled: the old file byte for byte.
TEST_F(ReportFixture, WriteFailureKeepsTheOldPage) {
  make_template(R"({"type": 3, "texts": {"37": "1", "198": "some text", "278": "%s"}})");
  make_page(0);
  const std::string before = make_pdf();
  const auto files_before = platform::list_files("C:\\DATA\\*");
  EXPECT_EQ(testsupport::with_file_size_limit(4000, [&] { return report(); }), kReportFileError);
  EXPECT_TRUE(pdf_bytes() == before);
  EXPECT_EQ(platform::list_files("C:\\DATA\\*").size(), files_before.size()) << "no temporary left";
}

// Hostile templates: formats with "%s%n%*d" and labels that overflow the
// label pool give literal text and cut labels.
TEST_F(ReportFixture, HostileFormatsAndFullLabelPool) {
  std::string steps = R"({"type": 3, "texts": {"37": "1", "198": "12", "278": "%s%n%*d"}, "set": {"197": 1}},
    {"type": 3, "texts": {"37": "1", "198": "x", "278": "%n%d%s%s"}})";
  const std::string long_label(71, 'L');
  for (char letter = 'A'; letter <= 'L'; ++letter) {
    const int step = letter - 'A' + 3;
    steps += R"(, {"type": 9, "texts": {"32": ")" + std::string(1, letter) + R"(", "49": ")" + long_label +
             R"(", "121": ")" + long_label + R"("}, "words": {"33": 10, "35": 10, "47": )" +
             std::to_string((letter - 'A') * 16) + "}}";
    make_page(step, R"("count": 4, "start": -1, "newest": 3)");
  }
  make_template(steps);
  make_page(0);
  make_pdf();
  ASSERT_EQ(report(), kReportOk);
  const auto t = texts();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].second, "%s%n%*d");
  EXPECT_EQ(t[1].second, "%n%dx%s");
  const PageDescriptionHeader h = header();
  // 24 labels of 72 bytes in 800: the first eleven whole, the twelfth cut,
  // the rest empty, every one ended inside the pool.
  EXPECT_EQ(std::string(trace_label(h, h.traces[5].label_1)), long_label);
  EXPECT_EQ(trace_label(h, h.traces[5].label_2).size(), 800u - 11 * 72 - 1);
  EXPECT_EQ(h.traces[11].label_2, 799);
  EXPECT_EQ(h.trace_labels[799], '\0');
}

TEST_F(ReportFixture, SectionEdgeCases) {
  make_template(R"(
    {"type": 8, "caption": "PVR", "texts": {"32": "A", "63": "\u0009", "135": "\u000e"},
     "words": {"33": 100, "35": 100}, "set": {"51": 2, "53": 3}},
    {"type": 8, "caption": "PVR", "texts": {"32": "B", "63": "\u0009"}, "words": {"33": 100, "35": 100}},
    {"type": 3, "texts": {"37": "1", "198": "754", "278": "%2t"}, "words": {"32": 10, "34": 10}, "set": {"197": 1}},
    {"type": 3, "texts": {"37": "1", "198": "65", "278": "%2t"}, "words": {"32": 10, "34": 60}, "set": {"197": 1}},
    {"type": 3, "texts": {"37": "1", "198": "6000", "278": "%2t"}, "words": {"32": 10, "34": 110}, "set": {"197": 1}},
    {"type": 20, "texts": {"32": "0", "74": "100", "99": "100", "124": "200", "149": "200"}},
    {"type": 16, "texts": {"37": "Onset"}, "words": {"32": 600, "34": 1000}, "set": {"68": 6, "103": 0}},
    {"type": 10, "texts": {"38": "Comment:"}, "words": {"32": 400, "34": 2000}, "set": {"36": 0, "37": 0, "120": 4}},
    {"type": 10, "words": {"32": 400, "34": 9}, "set": {"36": 5}}
  )");
  // Step 7's slot 0: flags (site text always, time text), x, y, format.
  std::string t = root.read(kTemplate);
  std::uint8_t* slot = reinterpret_cast<std::uint8_t*>(t.data()) + 7 * 300 + 104;
  slot[0] = 0x06;
  platform::put_s16le(slot + 1, 900);
  platform::put_s16le(slot + 3, 1100);
  std::memcpy(slot + 5, "\x0f \x10", 3);
  root.write(kTemplate, t);
  make_page(0, R"("save_time": 1700000000)");
  make_page(1, R"("count": 400, "start": 99, "newest": 399, "gain": 4, "filter": 1, "ch1_run": [100, [5, 5, 5]])");
  make_page(2, R"("flags": 1, "count": 10, "newest": 9, "gain": 4)");
  make_page(7, R"("save_time": 1700000300, "text": "12:00", "texts": {"11889": "3:15"}, "ch2": {"0": 518})");
  make_page(8, R"("text": "Patient tolerated the test")");
  make_page(9, R"("text": "second line")");
  make_pdf();
  ASSERT_EQ(report(), kReportOk);
  const PageDescriptionHeader h = header();
  // Gain 4 against 3 expected: highlighted scale text, then the unit.
  EXPECT_EQ(std::string(trace_label(h, h.traces[0].label_1)), "\6 1.5\7 mmHg/20mm");
  EXPECT_EQ(std::string(trace_label(h, h.traces[0].label_2)), "**");
  // A deleted side contributes nothing.
  EXPECT_EQ(h.traces[1].x, 0);
  EXPECT_EQ(h.traces[1].y, 0);
  double v = 0;
  ASSERT_TRUE(lookup_formula_variable("gb", v));
  EXPECT_EQ(v, -1);

  std::vector<std::string> strings;
  for (const auto& [item, text] : texts()) strings.push_back(text);
  const std::vector<std::string> want = {"12:34", "1:05",  "*:**", "12:00", "Onset", "3:15", "BOTH ANKLES",
                                         "Comment:", "Patient tolerated the test", "second line"};
  EXPECT_EQ(strings, want);
  const auto items = texts();
  // The note stacks 50 rows below the running row.
  EXPECT_EQ(items[9].first.y, 2050);
  EXPECT_EQ(items[7].first.x, 400 - 8 * 30);
  std::size_t pool = 0;
  for (const auto& s : want) pool += s.size() + 1;
  EXPECT_EQ(pdf_bytes().size(), kPageHeaderBytes + 7 * want.size() + pool + 8);
}

TEST_F(ReportFixture, ReferenceStepsTakeTheNearestStudy) {
  // Step 2 names itself: the same step of the patient's other study whose
  // save time is nearest this study's start; step 3 takes step 1 of this
  // study (same label) and stores it as its own page.
  make_template(R"(
    {"type": 2, "caption": "Ankle", "texts": {"32": "A"}, "words": {"33": 100, "35": 100}},
    {"type": 2, "caption": "Ankle", "texts": {"32": "B"}, "words": {"33": 300, "35": 100}, "set": {"61": 2}},
    {"type": 2, "caption": "Ankle", "texts": {"32": "C"}, "words": {"33": 500, "35": 100}, "set": {"61": 1}})");
  make_page(0, R"("save_time": 1700001000)");
  make_page(1, R"("short": "111")");
  make_page(2, R"("short": "222")");
  make_pdf();
  for (int exam : {20, 21, 22}) {
    make_page(0, R"("save_time": 1700000000)", exam);
    make_pdf(exam, exam == 22 ? "SOMEONE^ELSE" : "DOE^JANE");
  }
  make_page(2, R"("short": "900", "save_time": 1700000500)", 20);  // 500 s before
  make_page(2, R"("short": "950", "save_time": 1700000900)", 21);  // 100 s before: nearest
  make_page(2, R"("short": "999", "save_time": 1700001000)", 22);  // another patient
  ASSERT_EQ(report(), kReportOk);
  const PageDescriptionHeader h = header();
  EXPECT_STREQ(h.pressures[0].text, "111");
  EXPECT_STREQ(h.pressures[1].text, "950");
  EXPECT_STREQ(h.pressures[2].text, "111");
  // The pages found were stored as this study's steps, with its template.
  ReportPage p;
  ASSERT_TRUE(read_report_page(platform::map_path("C:\\DATA\\2.12"), p));
  EXPECT_STREQ(p.page.short_text, "950");
  ASSERT_TRUE(read_report_page(platform::map_path("C:\\DATA\\3.12"), p));
  EXPECT_STREQ(p.page.short_text, "111");
  EXPECT_STREQ(p.page.template_name, "00000123.sty");

  // Without another study of the patient the step shows its own page.
  for (int exam : {20, 21}) ::unlink(platform::map_path("C:\\DATA\\" + std::to_string(exam) + ".PDF").c_str());
  make_page(2, R"("short": "223")");
  ASSERT_EQ(report(), kReportOk);
  EXPECT_STREQ(header().pressures[1].text, "223");
}

TEST_F(ReportFixture, SingleStepPageHasFixedRows) {
  make_template(R"(
    {"type": 2, "texts": {"32": "A"}, "words": {"33": 100, "35": 1700}},
    {"type": 7, "texts": {"32": "k = 1"}},
    {"type": 5, "texts": {"32": "A"}, "words": {"33": 400, "35": 1000, "47": 0}},
    {"type": 5, "texts": {"32": "B"}, "words": {"33": 400, "35": 1000, "47": 8}},
    {"type": 11, "texts": {"32": "A"}, "words": {"33": 700, "35": 1000}},
    {"type": 11, "texts": {"32": "B"}, "words": {"33": 800, "35": 1000}})");
  for (int step : {1, 2, 3, 4, 5, 6}) make_page(step, R"("count": 3, "start": -1, "newest": 2, "short": "80")");
  make_pdf();
  struct Case {
    int step;
    int trace_a_y, trace_b_y, pressure_a_y, pressure_b_y;
  };
  const Case cases[] = {{1, 0, 0, 300, 0}, {3, 205, 785, 0, 0}, {5, 0, 0, 300, 300}, {2, 0, 0, 0, 0}};
  for (const Case& c : cases) {
    ASSERT_EQ(page_report(c.step), kReportOk) << c.step;
    const PageDescriptionHeader h = header();
    EXPECT_EQ(h.traces[0].y, c.trace_a_y) << c.step;
    EXPECT_EQ(h.traces[1].y, c.trace_b_y) << c.step;
    EXPECT_EQ(h.pressures[0].y, c.pressure_a_y) << c.step;
    EXPECT_EQ(h.pressures[1].y, c.pressure_b_y) << c.step;
    EXPECT_EQ(h.text_count, 0) << c.step;
  }
  // The formula step alone: the header and nothing else.
  EXPECT_EQ(pdf_bytes().size(), kPageHeaderBytes + 8);
  // A missing page for the chosen step: 10, the file as it was.
  const std::string before = pdf_bytes();
  EXPECT_EQ(page_report(9), kReportNoData);
  EXPECT_TRUE(pdf_bytes() == before);
}

TEST_F(ReportFixture, OlderPagesWithoutTheirBlock) {
  // Flags announce the block but the file ends after the page: reported
  // without spectra.  A block cut short: the step is left out.
  make_template(R"(
    {"type": 6, "texts": {"32": "A", "53": "\u0009"}, "words": {"33": 10, "35": 10}, "set": {"39": 3, "41": 0}},
    {"type": 6, "texts": {"32": "B"}, "words": {"33": 10, "35": 600, "51": 8}})");
  make_page(1, R"("flags": 2, "count": 3, "start": -1, "newest": 2, "gain": 0)");
  make_page(2, R"("flags": 2, "count": 3, "start": -1, "newest": 2, "block": {"flags": 1, "seed": 3}, "block_bytes": 100)");
  make_pdf();
  ASSERT_EQ(report(), kReportOk);
  const PageDescriptionHeader h = header();
  EXPECT_EQ(h.traces[0].count, 3);
  EXPECT_EQ(h.traces[0].flags & 0xF0, 0);
  EXPECT_EQ(std::string(trace_label(h, h.traces[0].label_1)), "768 Hz/mm");
  EXPECT_EQ(h.traces[1].x, 0);
  EXPECT_EQ(pdf_bytes().size(), kPageHeaderBytes + 8);
}

}  // namespace
}  // namespace vaslab
