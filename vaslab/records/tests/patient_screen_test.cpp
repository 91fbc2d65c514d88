#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/find.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/records/line_editor.h"
#include "vaslab/records/patient_data.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

using platform::vk::kBack;
using platform::vk::kEscape;
using platform::vk::kPrior;
using platform::vk::kReturn;

// The patient data screen driven by what an operator types.
struct PatientScreenTest : ScriptedRecordsFixture {
  void SetUp() override {
    ScriptedRecordsFixture::SetUp();
    hardware_settings().import_control[0] = 0;
    hardware_settings().caps_lock_mode = 1;  // leave Caps Lock alone
    set_current_study("123", "3");
  }
  // A script that would leave the screen waiting ends with the window
  // closed, so a fault shows as a failure instead of a hang.
  int run_screen(int start) {
    input->after(5000).close_window();
    return patient_data_screen(start);
  }

  void load_template(const std::string& field_record) {
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Carotid", "steps": [{"type": 6, "caption": "A"}, )" + field_record + "]}");
    ASSERT_EQ(load_study_plan("c:\\studies\\00000123.sty", 0), 1);
  }

  std::string pdf(int offset, int size) { return root.read("C:\\DATA\\3.PDF").substr(offset, size); }
};

std::string padded(const std::string& s, std::size_t size) {
  std::string out = s;
  out.resize(size, '\0');
  return out;
}

TEST_F(PatientScreenTest, NameAndIdTypedAndStored) {
  load_template(R"({"type": 255, "opt294": 32})");
  input->type("SMITH JOHN").key(kReturn).type("A-17").key(kReturn);
  EXPECT_EQ(run_screen(0), 0);
  EXPECT_EQ(pdf(32, 30), padded("SMITH JOHN", 30));
  EXPECT_EQ(pdf(62, 30), padded("A-17", 30));
  EXPECT_TRUE(is_event_loop_live());
}

TEST_F(PatientScreenTest, OnlyTheTemplatesFieldsAreVisitedWhenTheImportFilledTheRest) {
  load_template(R"({"type": 255, "labels": ["Ref: "], "defaults": ["", "Carotid"], "opt294": 3})");
  std::strcpy(hardware_settings().import_control, "C:\\PROGRAMS\\DICOMMWL");
  write_import({"DOE JANE", "777", "x"});
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  // Field 3 (Ref) first, then field 4 (the caption, shown with its default).
  input->type("DR X").key(kReturn).type(" L").key(kReturn);
  EXPECT_EQ(run_screen(0), 0);
  EXPECT_TRUE(is_event_loop_live());
  EXPECT_EQ(pdf(32, 30), padded("DOE JANE", 30));
  EXPECT_EQ(pdf(62, 30), padded("777", 30));
  EXPECT_EQ(pdf(114, 41), padded("Ref: DR X", 41));
  EXPECT_EQ(pdf(2, 30), padded("Carotid L", 30));
  // The patient's worklist files went with the study.
  EXPECT_TRUE(root.exists("C:\\DATA\\3.imp"));
}

TEST_F(PatientScreenTest, WithoutImportNameAndIdAreAskedToo) {
  load_template(R"({"type": 255, "labels": ["Ref: "], "opt294": 3})");
  input->type("N").key(kReturn).type("I").key(kReturn).type("R").key(kReturn).type("C").key(kReturn);
  EXPECT_EQ(run_screen(0), 0);
  EXPECT_TRUE(is_event_loop_live());
  EXPECT_EQ(pdf(32, 2), padded("N", 2));
  EXPECT_EQ(pdf(62, 2), padded("I", 2));
  EXPECT_EQ(pdf(114, 7), padded("Ref: R", 7));
  EXPECT_EQ(pdf(2, 2), padded("C", 2));
}

TEST_F(PatientScreenTest, LeavingWithoutChangesWritesNothing) {
  load_template(R"({"type": 255, "opt294": 32})");
  std::string header(kPageHeaderBytes, '\0');
  std::memcpy(&header[32], "SMITH", 5);
  root.write("C:\\DATA\\3.PDF", header);
  const std::string path = platform::map_path("C:\\DATA\\3.PDF");
  struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
  input->key(kReturn).key(kEscape);
  EXPECT_EQ(run_screen(0), 1);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1000000000);
  EXPECT_EQ(root.read("C:\\DATA\\3.PDF"), header);
}

TEST_F(PatientScreenTest, BackspaceAndPreviousField) {
  load_template(R"({"type": 255, "opt294": 32})");
  // Name "SMYX", two backspaces, "ITH"; on to the ID, back to the name,
  // which gets " JR", then the ID.
  input->type("SMYX").key(kBack).key(kBack).type("ITH").key(kReturn)
      .type("9").key(kPrior).type(" JR").key(kReturn).type("1").key(kReturn);
  EXPECT_EQ(run_screen(0), 0);
  EXPECT_TRUE(is_event_loop_live());
  EXPECT_EQ(pdf(32, 30), padded("SMITH JR", 30));
  EXPECT_EQ(pdf(62, 30), padded("91", 30));
}

TEST_F(PatientScreenTest, EveryFieldCanBeMendedByTouchAlone) {
  load_template(R"({"type": 255, "opt294": 32})");
  // Only the screen's own keys, as on an instrument without a keyboard: the
  // name and the ID each get a typo taken back with BACK.
  for (char c : std::string("SMX")) input->tap(c);
  input->tap(1050).tap('I').tap('T').tap('H').tap(kEditAccept);
  input->tap('1').tap('2').tap(1050).tap('3').tap(kEditAccept);
  EXPECT_EQ(run_screen(0), 0);
  EXPECT_TRUE(is_event_loop_live());
  EXPECT_EQ(pdf(32, 30), padded("smith", 30));  // Caps Lock is off
  EXPECT_EQ(pdf(62, 30), padded("13", 30));
}

TEST_F(PatientScreenTest, ANewStudyWithItsPatientIsListed) {
  // A study made of a template, its patient typed in, and the store lists it.
  make_study_file("template", "C:\\STUDIES\\00000123.sty",
                  R"({"title": "Carotid", "steps": [{"type": 6, "caption": "A"}, {"type": 255, "opt294": 32}]})");
  int exam = 0;
  ASSERT_EQ(create_temp_study(0, "123", &exam), 0);
  input->type("NEW PATIENT").key(kReturn).type("1001").key(kReturn);
  EXPECT_EQ(run_screen(0), 0);
  const std::string pdf = root.read("C:\\DATA\\" + std::to_string(exam) + ".PDF");
  ASSERT_EQ(pdf.size(), kPageHeaderBytes);
  EXPECT_EQ(pdf.substr(92, 22), padded(study_date_text(), 22));  // the default date
  scan_temp_studies();
  ASSERT_EQ(study_list().count, 1);
  EXPECT_EQ(std::string(study_list().rows[0].text).substr(0, 60),
            "NEW PATIENT                  \263Carotid                      \263");
}

TEST_F(PatientScreenTest, SearchPatternStoredBetweenStars) {
  char pattern[40] = "";
  // Typed, then cancelled, then shortened.
  input->type("SMITH").key(kReturn).after(100).type("X").key(kEscape).after(100).key(kBack).key(kReturn);
  input->after(100).type("CDEFG").key(kReturn);
  input->after(5000).close_window();
  EXPECT_EQ(edit_search_value(pattern, sizeof pattern, "NAME: ", 35), 0);
  EXPECT_STREQ(pattern, "*SMITH*");
  EXPECT_TRUE(platform::wildcard_match(pattern, "JOHN SMITHSON"));
  EXPECT_EQ(edit_search_value(pattern, sizeof pattern, "NAME: ", 35), 1);
  EXPECT_STREQ(pattern, "*SMITH*");
  EXPECT_EQ(edit_search_value(pattern, sizeof pattern, "NAME: ", 35), 0);
  EXPECT_STREQ(pattern, "*SMIT*");
  EXPECT_TRUE(is_event_loop_live());
  // A pattern longer than its buffer is cut, never overrun.
  char small[6] = "*AB*";
  EXPECT_EQ(edit_search_value(small, sizeof small, "ID: ", 33), 0);
  EXPECT_STREQ(small, "*ABCD");
}

}  // namespace
}  // namespace vaslab
