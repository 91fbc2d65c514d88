#include "vaslab/records/temp_studies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "testsupport/write_faults.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/patient_data.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

struct TempStudiesTest : RecordsFixture {
  void SetUp() override {
    RecordsFixture::SetUp();
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Lower Arterial", "steps": [
                        {"type": 6, "caption": "Rt Brachial"},
                        {"type": 2, "caption": "Lt Ankle"},
                        {"type": 10, "caption": "Notes"}]})");
  }

  std::string row_text(int i) { return study_list().rows[i].text; }
};

TEST_F(TempStudiesTest, FiveStudiesThenTheStoreIsFull) {
  for (int i = 1; i <= 5; ++i) {
    int exam = 0;
    ASSERT_EQ(create_temp_study(0, "123", &exam), 0) << g_message_text;
    EXPECT_EQ(exam, i);
    EXPECT_STREQ(current_exam_id(), std::to_string(i).c_str());
  }
  EXPECT_EQ(study_list().count, 5);
  EXPECT_EQ(study_list().selected, 4);
  EXPECT_EQ(study_list().first_visible, 0);
  int exam = 0;
  EXPECT_EQ(create_temp_study(0, "123", &exam), 4);
  EXPECT_EQ(exam, 0);
  // The line holds what fits; the box shows the whole text.
  EXPECT_STREQ(g_message_text,
               "Temp. Files is FULL. Save/Print and then\rdelete temporary patient files.\r \r"
               "Only room for 5 page");
  EXPECT_FALSE(root.exists("C:\\DATA\\0.6"));
}

// Killed or failed at any write, flush or rename while a study is created,
// each of its files is whole or absent, and the next start finds no
// temporary.
TEST_F(TempStudiesTest, WriteFaultsLeaveEachFileOfANewStudyWholeOrAbsent) {
  const std::string first = platform::map_path_create_dirs("C:\\DATA\\0.1");
  const std::string header = platform::map_path_create_dirs("C:\\DATA\\1.PDF");
  EXPECT_EQ(testsupport::check_write_faults(
                root.path(), {{first, {{12009, 4}}}, {header}},
                [&] {
                  ::unlink(first.c_str());
                  ::unlink(header.c_str());
                },
                [] { return create_temp_study(1, "123", nullptr) == 0; }),
            6);
}

TEST_F(TempStudiesTest, TheFirstPageNamesTheTemplateAndTheTime) {
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(create_temp_study(0, "123", nullptr), 0);
  const std::string idf = root.read("C:\\DATA\\0.1");
  ASSERT_EQ(idf.size(), 12013u);
  EXPECT_EQ(idf.substr(0, 13), std::string("00000123.sty") + '\0');
  const auto when = platform::get_u32le(reinterpret_cast<const std::uint8_t*>(idf.data()) + 12009);
  EXPECT_GE(static_cast<std::time_t>(when), before);
  // Nothing between the name and the time.
  EXPECT_EQ(idf.substr(13, 12009 - 13), std::string(12009 - 13, '\0'));
  EXPECT_STREQ(current_template_name(), "00000123.sty");
  EXPECT_STREQ(current_study_caption(), "Lower Arterial");
  EXPECT_EQ(std::strlen(study_date_text()), 19u);
  // No page description in mode 0; the plan is loaded.
  EXPECT_FALSE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_EQ(study_plan_count(), 3);
  EXPECT_EQ(read_exam_template_number("1.PDF"), 123);
}

TEST_F(TempStudiesTest, HeaderWrittenByModesOneAndTwo) {
  std::memset(study_header(), 0, kPageHeaderBytes);
  std::memcpy(study_header() + 32, "SMITH", 5);
  ASSERT_EQ(create_temp_study(1, "123", nullptr), 0);
  const std::string pdf = root.read("C:\\DATA\\1.PDF");
  ASSERT_EQ(pdf.size(), kPageHeaderBytes);
  EXPECT_EQ(pdf.substr(32, 6), std::string("SMITH") + '\0');
  // Mode 2 needs an archive list.
  EXPECT_EQ(create_temp_study(2, "123", nullptr), 4);
  EXPECT_STREQ(g_message_text, "Invalid filtype.");
}

TEST_F(TempStudiesTest, LowestFreeExamId) {
  auto& list = study_list();
  for (const char* n : {"1.PDF", "2.PDF", "4.PDF"}) std::strcpy(list.rows[list.count++].file_name, n);
  EXPECT_EQ(next_temp_exam_id(), 3);
  EXPECT_STREQ(list.rows[3].file_name, "3.PDF");
  EXPECT_EQ(list.selected, 3);
  list = StudyList{};
  for (int i = 1; i <= 59; ++i) std::snprintf(list.rows[list.count++].file_name, 13, "%d.PDF", i);
  std::strcpy(list.rows[list.count++].file_name, "77.PDF");
  EXPECT_EQ(next_temp_exam_id(), 78);
  EXPECT_EQ(list.selected, 60);
  EXPECT_EQ(list.first_visible, 56);
  list.count = 0;
  std::strcpy(list.rows[list.count++].file_name, "999.PDF");
  for (int i = 1; i <= 59; ++i) std::snprintf(list.rows[list.count++].file_name, 13, "%d.PDF", i);
  EXPECT_EQ(next_temp_exam_id(), 999);

  // Files of an id whose page description is gone (a page, or only the
  // description itself unlisted) keep that id from being given out: the new
  // study would delete them as its own.
  list = StudyList{};
  std::strcpy(list.rows[list.count++].file_name, "1.PDF");
  root.write("C:\\DATA\\4.2", std::string(STUDY_PAGE_BYTES, 'p'));
  root.write("C:\\DATA\\3.PDF", std::string(kPageHeaderBytes, 0));
  EXPECT_EQ(next_temp_exam_id(), 4);
}

TEST_F(TempStudiesTest, PlanOfTheTemplate) {
  // 250 steps are capped at 200; a skipped step leaves a gap; other types and
  // the field record end things as they should.
  std::string steps;
  for (int i = 1; i <= 250; ++i) {
    if (!steps.empty()) steps += ",";
    if (i == 3)
      steps += R"({"type": 6, "caption": "Skipped", "set": {"199": 1}})";
    else if (i == 4)
      steps += R"({"type": 7, "caption": "Unknown type"})";
    else
      steps += R"({"type": 6, "caption": "Step )" + std::to_string(i) + "\"}";
  }
  make_study_file("template", "C:\\STUDIES\\00000200.sty", R"({"count": 250, "steps": [)" + steps + "]}");
  EXPECT_EQ(load_study_plan("c:\\studies\\00000200.sty", 0), 198);
  const StudyPlanRow* plan = study_plan();
  EXPECT_EQ(plan[1].step, 2);
  EXPECT_EQ(plan[2].step, 5);
  EXPECT_EQ(plan[197].step, 200);
  EXPECT_EQ(plan[0].type, 6);
  EXPECT_EQ(std::string(plan[0].text), "     \263Step 1                       ");
  EXPECT_EQ(std::strlen(plan[0].text), 35u);

  make_study_file("template", "C:\\STUDIES\\00000201.sty",
                  R"({"steps": [{"type": 6, "caption": "A"},
                                {"type": 255, "labels": ["Ref: ", "Site: "], "opt294": 2},
                                {"type": 6, "caption": "After the field record"}]})");
  EXPECT_EQ(load_study_plan("c:\\studies\\00000201.sty", 0), 1);
  EXPECT_STREQ(patient_fields()[3].label, "Ref: ");
  EXPECT_EQ(patient_fields()[3].editable, 1);

  make_study_file("template", "C:\\STUDIES\\00000202.sty",
                  R"({"steps": [{"type": 6}, {"type": 6}], "bad_checksum": 2})");
  EXPECT_EQ(load_study_plan("c:\\studies\\00000202.sty", 0), -2);
  make_study_file("template", "C:\\STUDIES\\00000203.sty", R"({"steps": [{"type": 6}], "bad_checksum": 0})");
  EXPECT_EQ(load_study_plan("c:\\studies\\00000203.sty", 0), -2);
  make_study_file("template", "C:\\STUDIES\\00000204.sty", R"({"count": 3, "steps": [{"type": 6}]})");
  EXPECT_EQ(load_study_plan("c:\\studies\\00000204.sty", 0), -1);
  EXPECT_EQ(load_study_plan("c:\\studies\\missing.sty", 0), -1);
}

TEST_F(TempStudiesTest, StepStatusFromThePages) {
  make_study_file("template", "C:\\STUDIES\\00000300.sty",
                  R"({"steps": [{"type": 6}, {"type": 2}, {"type": 11}, {"type": 10}, {"type": 5},
                                {"type": 2}, {"type": 1}, {"type": 2}]})");
  make_study_file("page", "C:\\DATA\\1.7", R"({"start": 10, "newest": 306})");
  make_study_file("page", "C:\\DATA\\2.7", R"({"newest": 5, "ch2": {"5": 1000}})");
  make_study_file("page", "C:\\DATA\\3.7", R"({"newest": 5, "ch2": {"5": 120}, "short": "RT"})");
  make_study_file("page", "C:\\DATA\\4.7", R"({"text": "Claudication at 2 min"})");
  make_study_file("page", "C:\\DATA\\5.7", R"({"flags": 1, "start": 0, "newest": 100})");
  make_study_file("page", "C:\\DATA\\6.7", R"({"newest": 2960, "ch2": {"0": 7}})");
  make_study_file("page", "C:\\DATA\\7.7", R"({"start": -1, "newest": 2959})");
  make_study_file("page", "C:\\DATA\\8.7", R"({"newest": 7, "ch2": {"7": -40}})");
  set_current_study("300", "7");
  ASSERT_EQ(load_study_plan("c:\\studies\\00000300.sty", 300), 8);
  auto status = [](int row) { return std::string(study_plan()[row].text, 5); };
  EXPECT_EQ(status(0), "75mm ");
  EXPECT_EQ(status(1), "***  ");
  EXPECT_EQ(status(2), "RT   ");
  EXPECT_EQ(status(3), "Claud");
  EXPECT_EQ(status(4), "D    ");
  EXPECT_EQ(status(5), "     ");  // a ring index outside the ring shows nothing
  EXPECT_EQ(status(6), "750mm");
  EXPECT_EQ(status(7), "-40  ");
  // Without the flag nothing is read.
  ASSERT_EQ(load_study_plan("c:\\studies\\00000300.sty", 0), 8);
  EXPECT_EQ(status(0), "     ");
}

// The review list marks a row done when its status starts with a
// character: a notes line is done when its page holds an answer, however it
// starts, and a heading that takes no answer is done once a line of its
// notes is.
TEST_F(TempStudiesTest, NotesRowsAreDoneWhenTheirPagesHoldAnAnswer) {
  // Two notes runs: a line, a heading and two lines; then a Doppler step
  // and a heading with one line of its own.
  make_study_file("template", "C:\\STUDIES\\00000301.sty",
                  R"({"steps": [{"type": 10, "caption": "Indication", "set": {"119": 40}},
                                {"type": 10, "caption": "Impression"},
                                {"type": 10, "caption": "Line 1", "set": {"119": 40}},
                                {"type": 10, "caption": "Line 2", "set": {"119": 40}},
                                {"type": 6, "caption": "Right CFA"},
                                {"type": 10, "caption": "Comments"},
                                {"type": 10, "caption": "Comment", "set": {"119": 40}}]})");
  const struct {
    const char* name;
    std::vector<std::pair<int, const char*>> pages;  // step, answer
    const char* marks;  // rows 0..6: x done, . not done
  } cases[] = {
      {"nothing stored", {}, "......."},
      {"an answer after a blank", {{1, "  claudication"}}, "xx....."},
      {"a blank answer", {{3, "    "}, {4, ""}}, "......."},
      {"a line of the second run", {{7, " palpable"}}, ".....xx"},
      {"every answer", {{1, "a"}, {3, " b"}, {4, "c"}, {7, "d"}}, "xxxx.xx"},
  };
  set_current_study("301", "8");
  for (const auto& c : cases) {
    for (int step = 1; step <= 7; ++step) ::unlink(platform::map_path("C:\\DATA\\" + std::to_string(step) + ".8").c_str());
    for (const auto& [step, answer] : c.pages)
      make_study_file("page", "C:\\DATA\\" + std::to_string(step) + ".8",
                      std::string(R"({"text": ")") + answer + "\"}");
    ASSERT_EQ(load_study_plan("c:\\studies\\00000301.sty", 301), 7);
    std::string marks;
    for (int row = 0; row < 7; ++row) marks += study_plan()[row].text[0] == ' ' ? '.' : 'x';
    EXPECT_EQ(marks, c.marks) << c.name << " (loaded)";
    // The step runner fills the rows again after a module ran.
    for (int row = 0; row < 7; ++row) refill_step_status(row);
    marks.clear();
    for (int row = 0; row < 7; ++row) marks += study_plan()[row].text[0] == ' ' ? '.' : 'x';
    EXPECT_EQ(marks, c.marks) << c.name << " (refilled)";
  }
}

TEST_F(TempStudiesTest, DateKeyOrder) {
  auto key = [](const char* d) {
    char k[13];
    make_date_sort_key(d, k);
    return std::string(k);
  };
  EXPECT_LT(key("12/31/2005 12:15 AM"), key("01/01/2006 09:00 AM"));
  EXPECT_GT(key("03/01/2006 12:30 PM"), key("03/01/2006 11:59 AM"));
  EXPECT_LT(key("03/01/2006 12:10 AM"), key("03/01/2006 01:00 AM"));
  EXPECT_LT(key("03/01/2006 12:59 PM"), key("03/01/2006 01:00 PM"));
  EXPECT_LT(key("09/30/2006 10:00 AM"), key("10/01/2006 10:00 AM"));
  EXPECT_EQ(key("03/01/2006 01:00 AM").size(), 12u);
  // Short or missing dates do not read past their text.
  EXPECT_EQ(key("03/01"), "     301    ");
  EXPECT_EQ(key(""), "            ");
}

TEST_F(TempStudiesTest, ScanListsStudiesByDateAndDropsOrphans) {
  make_study(1, "LATER", "03/01/2006 12:30 PM");
  make_study(2, "FIRST", "12/31/2005 12:15 AM");
  make_study(3, "MIDDLE", "03/01/2006 11:59 AM");
  make_study_file("page", "C:\\DATA\\4.3", "{}");
  root.write("C:\\DATA\\3.imp", "i");
  // Orphans: a page, exchange files and a study whose template is gone.
  root.write("C:\\DATA\\4.9", "p");
  root.write("C:\\DATA\\9.exp", "e");
  root.write("C:\\DATA\\stray", "s");
  std::string header(kPageHeaderBytes, '\0');
  root.write("C:\\DATA\\5.PDF", header);
  make_study_file("page", "C:\\DATA\\0.5", R"({"template": "00000999.sty"})");
  root.write("C:\\DATA\\5.exp", "e");
  root.write("C:\\DATA\\6.PDF", header);  // no pages at all

  study_list().mode = kListTemporary;
  scan_temp_studies();
  ASSERT_EQ(study_list().count, 3);
  EXPECT_STREQ(study_list().rows[0].file_name, "2.PDF");
  EXPECT_STREQ(study_list().rows[1].file_name, "3.PDF");
  EXPECT_STREQ(study_list().rows[2].file_name, "1.PDF");
  EXPECT_EQ(row_text(0), "FIRST                        \263Lower Arterial               \263"
                         "12/31/2005 12:15 AM ");
  for (const char* gone : {"C:\\DATA\\4.9", "C:\\DATA\\9.exp", "C:\\DATA\\stray", "C:\\DATA\\5.PDF",
                           "C:\\DATA\\0.5", "C:\\DATA\\5.exp", "C:\\DATA\\6.PDF"})
    EXPECT_FALSE(root.exists(gone)) << gone;
  for (const char* kept : {"C:\\DATA\\4.3", "C:\\DATA\\3.imp", "C:\\DATA\\0.1", "C:\\DATA\\0.2"})
    EXPECT_TRUE(root.exists(kept)) << kept;
}

TEST_F(TempStudiesTest, DeletingOneStudyLeavesTheOthersWhole) {
  make_study(1, "ONE", "01/01/2006 09:00 AM");
  make_study(11, "ELEVEN", "01/02/2006 09:00 AM");
  make_study_file("page", "C:\\DATA\\2.1", "{}");
  make_study_file("page", "C:\\DATA\\2.11", "{}");
  root.write("C:\\DATA\\1.imp", "i");
  root.write("C:\\DATA\\1.exp", "e");
  root.write("C:\\DATA\\11.imp", "i");
  const std::string eleven = root.read("C:\\DATA\\11.PDF");
  EXPECT_TRUE(delete_temp_study("1.PDF"));
  for (const char* gone : {"C:\\DATA\\1.PDF", "C:\\DATA\\0.1", "C:\\DATA\\2.1", "C:\\DATA\\1.imp",
                           "C:\\DATA\\1.exp"})
    EXPECT_FALSE(root.exists(gone)) << gone;
  for (const char* kept : {"C:\\DATA\\11.PDF", "C:\\DATA\\0.11", "C:\\DATA\\2.11", "C:\\DATA\\11.imp"})
    EXPECT_TRUE(root.exists(kept)) << kept;
  EXPECT_EQ(root.read("C:\\DATA\\11.PDF"), eleven);
}

// Runs `body` where deleting in a read-only folder fails: as root, in a
// child that gives up its rights.  True when `body` returned true.
bool without_rights(const std::string& top, const std::function<bool()>& body) {
  if (::geteuid() != 0) return body();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(20);  // a scan that never ends fails instead of stopping the run
    if (::chmod(top.c_str(), 0755) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(TempStudiesTest, ReadOnlyDataFolderDoesNotHang) {
  make_study(1, "KEPT", "01/01/2006 09:00 AM");
  std::string header(kPageHeaderBytes, '\0');
  root.write("C:\\DATA\\2.PDF", header);  // an orphan that cannot be deleted
  const std::string dir = platform::map_path("C:\\DATA\\");
  ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  for (const char* f : {"1.PDF", "2.PDF", "0.1"}) ::chmod((dir + "/" + f).c_str(), 0644);
  for (const char* d : {"c", "c/studies"}) ::chmod((root.path() + "/" + d).c_str(), 0755);
  ::chmod(platform::map_path("C:\\STUDIES\\00000123.sty").c_str(), 0644);
  const bool ok = without_rights(root.path(), [] {
    study_list().mode = kListTemporary;
    scan_temp_studies();
    return study_list().count == 1 && std::strcmp(study_list().rows[0].file_name, "1.PDF") == 0 &&
           !delete_temp_study("2.PDF");
  });
  ::chmod(dir.c_str(), 0755);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(root.exists("C:\\DATA\\2.PDF"));
}

}  // namespace
}  // namespace vaslab
