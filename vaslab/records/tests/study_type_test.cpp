#include "vaslab/records/study_type.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

// A template whose steps account for one of each page item: a Doppler
// trace in slot C, a pressure, a line, a graphic, a fixed text and a note
// line with its value; its field record labels the second header field.
const char kTemplate[] = R"({"title": "Leg Doppler", "steps": [
  {"type": 6, "caption": "Left CFA", "set": {"32": 67}, "words": {"33": 300, "35": 1000},
   "texts": {"53": "Left \t MHz"}},
  {"type": 2, "caption": "Brachial", "words": {"33": 600, "35": 500}, "set": {"37": 1}},
  {"type": 20, "caption": "", "words": {"66": 11, "68": 216, "70": 2388, "72": 3138,
   "187": 100, "189": 300, "191": 900, "193": 700}, "set": {"65": 18, "186": 33}},
  {"type": 4, "caption": "", "texts": {"36": "hdrlogo.gph"}, "set": {"49": 1},
   "words": {"50": 4, "53": 120, "55": 60, "57": 0, "59": 60, "61": 240, "63": 120}},
  {"type": 3, "caption": "", "words": {"32": 200, "34": 510}, "texts": {"198": "Brachial"}},
  {"type": 10, "caption": "Notes", "words": {"32": 400, "34": 2000}, "texts": {"38": "Impression:"}},
  {"type": 255, "labels": ["", "Side: ", "", ""]}]})";

std::string page_json(const std::string& side = "Side: Left", int slot = 2, const std::string& extra_text = "",
                      const std::vector<int>& line = {11, 216, 2388, 3138, 18}) {
  std::string j = R"({"name": "SMITH", "id": "A1", "date": "03/04/2026 10:15 AM", "fields": {"155": ")" + side +
                  R"("}, "traces": [{"slot": )" + std::to_string(slot) +
                  R"(, "x": 300, "y": 1000, "captions": ["Left 4.0 MHz", ""]}],
    "pressures": [{"slot": 0, "x": 600, "y": 500, "flags": 1}],
    "graphics": [{"picture": "hdrlogo.gph", "mirror": 1, "words": [4, 120, 60, 0, 60, 240, 120]}],
    "lines": [{"clip": [)" + std::to_string(line[0]) + ", " + std::to_string(line[1]) + ", " +
                  std::to_string(line[2]) + ", " + std::to_string(line[3]) +
                  R"(], "symbols": )" + std::to_string(line[4]) + R"(, "ends": [5, 7, 3000, 9]}],
    "waveform": true,
    "texts": [{"x": 200, "y": 510, "format": 0, "text": "Brachial"},
              {"x": 70, "y": 2000, "format": 0, "text": "Impression:"},
              {"x": 400, "y": 2000, "format": 0, "text": "Normal flow"})" +
                  extra_text + "]}";
  return j;
}

struct StudyTypeTest : RecordsFixture {
  void SetUp() override {
    RecordsFixture::SetUp();
    platform::map_path_create_dirs("C:\\TEMP\\");
    make_study_file("template", "C:\\STUDIES\\00000201.sty", kTemplate);
    write_menu({make_submenu_entry("Root", 1, 1), make_study_entry("Leg Doppler", 201)});
    poke_comm_area_word(0, kStepSlot, 0xFFFF);
  }

  void write_menu(const std::vector<StudyMenuEntry>& entries) {
    root.write(kStudyMenuFile, bytes(encode_study_menu_file(entries)));
  }
  static std::string bytes(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

  std::string page(const std::string& json, const std::string& name = "C:\\ARCHIVE\\1") {
    EXPECT_TRUE(run_generator("make_page.py", {platform::map_path_create_dirs(name), json}));
    return name;
  }

  int identify(const std::string& path) {
    poke_comm_area_word(0, kStepSlot, 0xFFFF);
    EXPECT_EQ(riproc_match_study_type(path.c_str()), kRiprocDone);
    return peek_comm_area_word(0, kStepSlot);
  }
  std::string log() { return root.exists(kDbIndexLog) ? root.read(kDbIndexLog) : ""; }
};

TEST_F(StudyTypeTest, PageIdentifiesBackToItsTemplate) {
  const std::string good = page(page_json());
  testing::internal::CaptureStdout();
  set_riproc_trace(true);
  EXPECT_EQ(identify(good), 201);
  set_riproc_trace(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Header match: 00000201.sty\nWaveforms match: 00000201.sty\nPressures match: 00000201.sty\n"
            "Lines match: 00000201.sty\nGraphics match: 00000201.sty\nText match: 00000201.sty\n");

  // A line item on the step's second clip set claims that set; its ends
  // are not compared.
  EXPECT_EQ(identify(page(page_json("Side: Left", 2, "", {100, 300, 900, 700, 33}), "C:\\ARCHIVE\\2")), 201);
  // An empty labelled field is not compared.
  EXPECT_EQ(identify(page(page_json(""), "C:\\ARCHIVE\\3")), 201);
}

TEST_F(StudyTypeTest, AnyItemTheTemplateCannotAccountForRefusesIt) {
  // Site where the template says Side.
  EXPECT_EQ(identify(page(page_json("Site: Left"))), 0);
  // The trace in slot D, while the step draws letter C.
  EXPECT_EQ(identify(page(page_json("Side: Left", 3))), 0);
  // A text no step places.
  EXPECT_EQ(identify(page(page_json("Side: Left", 2, R"(, {"x": 900, "y": 900, "format": 0, "text": "Stray"})"))), 0);
  // A line whose clipping differs from both sets.
  EXPECT_EQ(identify(page(page_json("Side: Left", 2, "", {11, 216, 2388, 3000, 18}))), 0);
  // Only the page's magic makes it a study.
  root.write("C:\\ARCHIVE\\9", std::string(5000, '\0'));
  EXPECT_EQ(riproc_match_study_type("C:\\ARCHIVE\\9"), kRiprocUnusable);
  EXPECT_EQ(riproc_match_study_type("C:\\ARCHIVE\\404"), kRiprocUnusable);
}

TEST_F(StudyTypeTest, TemplatesAreTriedInMenuOrder) {
  const std::string good = page(page_json());
  // The first template's trace is in slot D: the second one matches.
  std::string other = kTemplate;
  other.replace(other.find(R"("32": 67)"), 8, R"("32": 68)");
  make_study_file("template", "C:\\STUDIES\\00000202.sty", other);
  write_menu({make_submenu_entry("Root", 1, 2), make_study_entry("Other", 202), make_study_entry("Leg", 201)});
  EXPECT_EQ(identify(good), 201);
  // A first template that cannot be opened ends the search with nothing.
  write_menu({make_submenu_entry("Root", 1, 2), make_study_entry("Gone", 300), make_study_entry("Leg", 201)});
  EXPECT_EQ(identify(good), 0);
  // A short one is logged and passed over.
  root.write("C:\\STUDIES\\00000300.sty", root.read("C:\\STUDIES\\00000201.sty").substr(0, 700));
  EXPECT_EQ(identify(good), 201);
  EXPECT_NE(log().find("Failed to load sty: 00000300.sty\r\n"), std::string::npos);
}

TEST_F(StudyTypeTest, DamagedMenuIsRefusedWithItsReason) {
  const std::string good = page(page_json());
  const auto sound = encode_study_menu_file({make_submenu_entry("Root", 1, 1), make_study_entry("Leg", 201)});

  std::string copy = bytes(sound);
  copy[copy.size() - 20] ^= 1;  // the second copy differs in one byte
  root.write(kStudyMenuFile, copy);
  EXPECT_EQ(riproc_match_study_type(good.c_str()), kRiprocUnusable);
  EXPECT_NE(log().find("Mismatch in uconfig.mnu file.\r\n"), std::string::npos);

  copy = bytes(sound);
  copy[5] ^= 1;
  copy[44 * 2 + 5] ^= 1;
  root.write(kStudyMenuFile, copy);
  EXPECT_EQ(riproc_match_study_type(good.c_str()), kRiprocUnusable);
  EXPECT_NE(log().find("Bad checksum in uconfig.mnu file.\r\n"), std::string::npos);

  // Entry 3 listed by both submenus; then a child range past the end.
  write_menu({make_submenu_entry("Root", 1, 3), make_submenu_entry("A", 3, 1), make_study_entry("Leg", 201),
              make_study_entry("Arm", 201)});
  EXPECT_EQ(riproc_match_study_type(good.c_str()), kRiprocUnusable);
  EXPECT_NE(log().find("Unused or crosslinked entry in uconfig.mnu\r\n"), std::string::npos);
  write_menu({make_submenu_entry("Root", 1, 5), make_study_entry("Leg", 201)});
  EXPECT_EQ(riproc_match_study_type(good.c_str()), kRiprocUnusable);

  ::unlink(platform::map_path(kStudyMenuFile).c_str());
  EXPECT_EQ(riproc_match_study_type(good.c_str()), kRiprocUnusable);
  EXPECT_NE(log().find("Failed to open uconfig.mnu\r\n"), std::string::npos);
}

// A damaged page never reads outside the file: offsets, counts and the
// block chain pointing anywhere give a result, not a crash.
TEST_F(StudyTypeTest, DamagedPageStaysInsideTheFile) {
  const std::string good = root.read(page(page_json()));
  const std::size_t fields[] = {4851, 4855, 4857, 4861, 4863};
  const std::uint32_t values[] = {0x7FFFFFFF, 0x80000000, 0xFFFF, 0x7FFF, 4869, 4, 0};
  int n = 2;
  for (std::size_t f : fields)
    for (std::uint32_t v : values) {
      std::string bad = good;
      for (int k = 0; k < 4 && f + k < 4867; ++k) bad[f + k] = static_cast<char>(v >> (8 * k));
      const std::string name = "C:\\ARCHIVE\\" + std::to_string(n++);
      root.write(name, bad);
      EXPECT_EQ(riproc_match_study_type(name.c_str()), kRiprocDone) << f << " " << v;
    }
  // A chain that links back to itself ends: the lines section passes, as it
  // does for a chain that ends early.
  std::string loop = good;
  const std::size_t link = static_cast<std::uint8_t>(good[4863]) | static_cast<std::uint8_t>(good[4864]) << 8 |
                           static_cast<std::uint8_t>(good[4865]) << 16;
  for (int k = 0; k < 4; ++k) loop[link + 4 + k] = good[4863 + k];
  root.write("C:\\ARCHIVE\\99", loop);
  EXPECT_EQ(identify("C:\\ARCHIVE\\99"), 201);
  // A text offset far outside the text area.
  std::string far = good;
  far[4869 + 5] = 0x00;
  far[4869 + 6] = static_cast<char>(0x80);
  root.write("C:\\ARCHIVE\\98", far);
  EXPECT_EQ(identify("C:\\ARCHIVE\\98"), 0);
}

TEST_F(StudyTypeTest, HistoryCopyTakesPatientFieldsAndNoteValues) {
  const std::string archived = page(page_json());
  std::string target(kPageHeaderBytes, '\0');
  target.replace(92, 8, "12/01/26");
  root.write("C:\\DATA\\7.PDF", target);
  ASSERT_EQ(update_study_history("7", archived.c_str(), "00000201.sty"), kRiprocDone);
  const std::string h = root.read("C:\\DATA\\7.PDF");
  ASSERT_EQ(h.size(), kPageHeaderBytes);
  EXPECT_EQ(h.substr(32, 6), std::string("SMITH\0", 6));
  EXPECT_EQ(h.substr(62, 3), std::string("A1\0", 3));
  EXPECT_EQ(h.substr(155, 11), std::string("Side: Left\0", 11));
  EXPECT_EQ(h.substr(92, 8), "12/01/26");
  // The note's value is the page of step 6 of exam 7.
  const std::string note = root.read("C:\\DATA\\6.7");
  ASSERT_EQ(note.size(), 12013u);
  EXPECT_EQ(note.substr(0, 13), std::string("00000201.sty\0", 13));
  EXPECT_EQ(note.substr(11879, 12), std::string("Normal flow\0", 12));

  // Unusable sources and templates.
  EXPECT_EQ(update_study_history("7", "C:\\ARCHIVE\\404", "00000201.sty"), kRiprocUnusable);
  EXPECT_EQ(update_study_history("7", archived.c_str(), "00000999.sty"), kRiprocFileFailed);
  EXPECT_EQ(update_study_history("8", archived.c_str(), "00000201.sty"), kRiprocFileFailed);

  // The copy's leniency does not stay on: a stray text still refuses the
  // template, and no page is written by an identification.
  ::unlink(platform::map_path("C:\\DATA\\6.7").c_str());
  EXPECT_EQ(identify(page(page_json("Side: Left", 2, R"(, {"x": 900, "y": 900, "format": 0, "text": "Stray"})"),
                          "C:\\ARCHIVE\\5")),
            0);
  EXPECT_FALSE(root.exists("C:\\DATA\\6.7"));
}

TEST_F(StudyTypeTest, ArchiveCommand) {
  const std::string good = page(page_json());
  std::string path = good;
  char prog[] = "archive", cmd[] = "riproc", trace[] = "trace", bad[] = "other";
  char* argv[] = {prog, cmd, path.data(), trace};
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_archive_command(4, argv), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Text match: 00000201.sty\nRIPROC returned: 0\nRIPROC result: 201\n"), std::string::npos);
  char* other[] = {prog, bad};
  EXPECT_EQ(run_archive_command(2, other), 1);
}

// Symptom rows and thermometer texts: a row's first line, its label right
// after it, a sub-item with its continuation; a reading placed by its right
// end.
TEST_F(StudyTypeTest, SymptomRowsAndReadingsAccountForTheirParts) {
  make_study_file("template", "C:\\STUDIES\\00000301.sty", R"({"title": "Symptoms", "steps": [
    {"type": 16, "caption": "Row", "words": {"32": 500, "34": 1500, "105": 900},
     "texts": {"37": "Pain"}, "set": {"68": 6, "104": 6}},
    {"type": 14, "caption": "Temp", "words": {"32": 1000, "34": 1700}, "set": {"37": 1}},
    {"type": 255, "labels": ["", "", "", ""]}]})");
  write_menu({make_submenu_entry("Root", 1, 2), make_study_entry("Leg", 201), make_study_entry("Symptoms", 301)});
  auto symptom_page = [&](const std::string& extra, const std::string& name, int reading_x = 900) {
    return page(R"({"name": "JONES", "texts": [
      {"x": 500, "y": 1500, "format": 0, "text": "Leg"},
      {"x": 0, "y": 1500, "format": 0, "text": "Pain"},
      {"x": 900, "y": 1500, "format": 0, "text": "Yes"},
      {"x": 0, "y": 1500, "format": 0, "text": "since May"},
      {"x": )" + std::to_string(reading_x) + R"(, "y": 1700, "format": 1, "text": "36.5"})" + extra + "]}", name);
  };
  EXPECT_EQ(identify(symptom_page("", "C:\\ARCHIVE\\11")), 301);
  // A second value for the sub-item it has already placed is refused.
  EXPECT_EQ(identify(symptom_page(R"(, {"x": 900, "y": 1500, "format": 0, "text": "No"})", "C:\\ARCHIVE\\12")), 0);
  // A reading whose right end is off by one character.
  EXPECT_EQ(identify(symptom_page("", "C:\\ARCHIVE\\13", 875)), 0);
}

// The tool runs the same identification and reindex without a screen; the
// full reindex fills each record's type from the identification.
TEST_F(StudyTypeTest, ArchiveToolIdentifiesAndReindexesHeadless) {
  page(page_json());
  const std::string tool = "VASLAB_ROOT='" + root.path() + "' '" VASLAB_BUILD_DIR "/bin/archive-tool' ";
  const std::string out = run_output(tool + "riproc 'C:\\ARCHIVE\\1' trace");
  EXPECT_NE(out.find("Header match: 00000201.sty\n"), std::string::npos) << out;
  EXPECT_NE(out.find("RIPROC result: 201\n"), std::string::npos) << out;
  const std::string full = run_output(tool + "reindex full");
  EXPECT_NE(full.find("Total Entries Created:"), std::string::npos) << full;
  EXPECT_EQ(check_archive_db(platform::map_path(kArchiveDbPath)), "1 SMITH\n");
  EXPECT_EQ(static_cast<std::uint8_t>(root.read(kArchiveDbPath)[kDbRecordBytes + 83]), 201);
  EXPECT_NE(run_output(tool + "reindex sideways").find("<failed>"), std::string::npos);
}

}  // namespace
}  // namespace vaslab
