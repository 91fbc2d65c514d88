#include "vaslab/records/patient_data.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/find.h"
#include "vaslab/records/line_editor.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

struct PatientDataTest : RecordsFixture {
  void SetUp() override {
    RecordsFixture::SetUp();
    hardware_settings().import_control[0] = 0;  // no worklist unless a test sets it
    set_current_study("123", "3");
  }

  // Loads a template whose field record has the given labels and options.
  void load_template(const std::string& field_record) {
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Carotid", "steps": [{"type": 6, "caption": "A"}, )" + field_record + "]}");
    ASSERT_EQ(load_study_plan("c:\\studies\\00000123.sty", 0), 1);
  }

  std::string header_text(int offset, int size) {
    return std::string(reinterpret_cast<const char*>(study_header()) + offset, static_cast<std::size_t>(size));
  }

  void use_worklist() { std::strcpy(hardware_settings().import_control, "C:\\PROGRAMS\\DICOMMWL"); }
};

std::string padded(const std::string& s, std::size_t size) {
  std::string out = s;
  out.resize(size, '\0');
  return out;
}

TEST_F(PatientDataTest, FieldRecordChoosesWhatIsEdited) {
  load_template(R"({"type": 255, "labels": ["Ref: ", "Site: ", "Tech: ", "Dr: "],
                    "defaults": ["", "Carotid Duplex", "", "", ""], "opt294": 3, "opt297": 0})");
  const PatientField* f = patient_fields();
  const int editable[] = {0, 0, 0, 1, 1, 0, 0, 0};
  for (int r = 0; r < kPatientFields; ++r) EXPECT_EQ(f[r].editable, editable[r]) << r;
  EXPECT_EQ(f[0].ask_after_import, 1);
  EXPECT_EQ(f[1].ask_after_import, 1);
  EXPECT_STREQ(f[5].label, "Site: ");
  EXPECT_STREQ(f[4].default_text, "Carotid Duplex");

  // Without an import, name and ID are asked for after all.
  load_patient_fields(nullptr);
  EXPECT_EQ(f[0].editable, 1);
  EXPECT_EQ(f[1].editable, 1);
  EXPECT_STREQ(f[4].value, "Carotid Duplex");

  // With one, they come from it and are not asked.
  load_template(R"({"type": 255, "opt294": 3})");
  use_worklist();
  write_import({"SMITH JOHN", "12345", "x"});
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  load_patient_fields(nullptr);
  EXPECT_EQ(f[0].editable, 0);
  EXPECT_EQ(f[1].editable, 0);
  EXPECT_STREQ(f[0].value, "SMITH JOHN");
  EXPECT_STREQ(f[1].value, "12345");

  // Bit 5 keeps name and ID editable and never asks.
  load_template(R"({"type": 255, "opt294": 32})");
  EXPECT_EQ(f[0].editable, 1);
  EXPECT_EQ(f[0].ask_after_import, 0);
  EXPECT_EQ(f[3].editable, 0);
}

TEST_F(PatientDataTest, ImportThenRememberedThenDefault) {
  load_template(R"({"type": 255, "labels": ["Ref: ", "Site: ", "Tech: ", "Dr: "],
                    "defaults": ["Ref default", "", "Site default", "Tech default", "Dr default"],
                    "opt294": 60, "opt297": 1})");
  use_worklist();
  // Field 4 of the import (row 3) is imported; row 3 is importable.
  write_import({"DOE JANE", "777", "third", "Dr. Referrer"});
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  // Remembered: the site and a label no row has.
  std::uint8_t remembered[kFieldRecordSize] = {};
  std::memcpy(remembered + 114, "Site: ", 6);
  std::memcpy(remembered + 144, "LEFT LEG", 8);
  std::memcpy(remembered + 174, "Other: ", 7);
  std::memcpy(remembered + 204, "nothing", 7);
  std::memcpy(remembered + 32, "Ref: ", 5);
  std::memcpy(remembered + 73, "remembered ref", 14);
  load_patient_fields(remembered);
  const PatientField* f = patient_fields();
  EXPECT_STREQ(f[3].value, "Dr. Referrer");   // import wins
  EXPECT_EQ(f[3].editable, 0);
  EXPECT_STREQ(f[5].value, "LEFT LEG");       // remembered
  EXPECT_STREQ(f[6].value, "Tech default");   // default
  EXPECT_STREQ(f[7].value, "Dr default");
  EXPECT_STREQ(f[0].value, "DOE JANE");
  EXPECT_STREQ(f[1].value, "777");
  // Remembered fields make every field uneditable unless asked.
  for (int r : {2, 4, 5, 6, 7}) EXPECT_EQ(f[r].editable, 0) << r;
}

TEST_F(PatientDataTest, SavedHeaderBytes) {
  load_template(R"({"type": 255, "labels": ["Ref: ", "Site: ", "Tech: ", "Dr: "], "opt294": 31})");
  load_patient_fields(nullptr);
  PatientField* f = patient_fields();
  std::strcpy(f[0].value, "SMITH JOHN");
  std::strcpy(f[1].value, "A-1");
  std::strcpy(f[5].value, "LEFT LEG");
  std::strcpy(f[4].value, "Carotid");
  f[3].value[0] = 0;
  ASSERT_EQ(save_patient_header(), 0);
  const std::string pdf = root.read("C:\\DATA\\3.PDF");
  ASSERT_EQ(pdf.size(), kPageHeaderBytes);
  EXPECT_EQ(pdf.substr(2, 30), padded("Carotid", 30));
  EXPECT_EQ(pdf.substr(32, 30), padded("SMITH JOHN", 30));
  EXPECT_EQ(pdf.substr(62, 30), padded("A-1", 30));
  EXPECT_EQ(pdf.substr(114, 41), std::string(41, '\0'));      // empty: zeros, no label
  EXPECT_EQ(pdf.substr(155, 30), padded("Site: LEFT LEG", 30));
  EXPECT_EQ(pdf.substr(245), std::string(kPageHeaderBytes - 245, '\0'));
  // Reading it back strips the stored label again.
  load_patient_fields(nullptr);
  EXPECT_STREQ(f[5].value, "LEFT LEG");
  EXPECT_STREQ(f[0].value, "SMITH JOHN");
}

TEST_F(PatientDataTest, NothingWrittenWhenNothingChanged) {
  load_template(R"({"type": 255, "labels": ["Ref: ", "Site: "], "opt294": 31})");
  std::string header(kPageHeaderBytes, '\0');
  std::memcpy(&header[32], "SMITH", 5);
  std::memcpy(&header[155], "Site: LEFT LEG", 14);
  header[300] = 'R';  // the report's part stays as it is
  root.write("C:\\DATA\\3.PDF", header);
  const std::string path = platform::map_path("C:\\DATA\\3.PDF");
  struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
  load_patient_fields(nullptr);
  EXPECT_STREQ(patient_fields()[5].value, "LEFT LEG");
  ASSERT_EQ(save_patient_header(), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1000000000);
  EXPECT_EQ(root.read("C:\\DATA\\3.PDF"), header);
  // A change is written, whole, under the same name.
  std::strcpy(patient_fields()[0].value, "SMITHSON");
  ASSERT_EQ(save_patient_header(), 0);
  const std::string now = root.read("C:\\DATA\\3.PDF");
  EXPECT_EQ(now.substr(32, 9), padded("SMITHSON", 9));
  EXPECT_EQ(now[300], 'R');
  EXPECT_EQ(platform::list_files("C:\\DATA\\*.*").size(), 1u);
}

TEST_F(PatientDataTest, LabelsNeverOverflowTheHeader) {
  // A 40-character label fills row 3; a 29-character label fills row 5.
  const std::string long3(40, 'L'), long5(29, 'S');
  load_template(R"({"type": 255, "labels": [")" + long3 + R"(", ")" + long5 + R"("], "opt294": 31})");
  PatientField* f = patient_fields();
  EXPECT_EQ(std::strlen(f[3].label), 40u);
  load_patient_fields(nullptr);
  std::strcpy(f[3].value, "overflow");
  std::strcpy(f[5].value, "overflow");
  std::strcpy(f[6].value, "Tech value that is far too long for the field");
  store_patient_fields();
  EXPECT_EQ(header_text(114, 41), padded(long3, 41));
  EXPECT_EQ(header_text(155, 30), padded(long5, 30));
  EXPECT_EQ(header_text(185, 30), padded("Tech value that is far too lo", 30));
  // The editor gives such a field no room.
  LineEditor e{};
  start_line_edit(e, f[5].label, "abc", f[5].capacity);
  EXPECT_STREQ(line_edit_value(e), "");
  line_edit_event(e, 'x');
  EXPECT_STREQ(line_edit_value(e), "");
  // A stored value that does not begin with its label keeps all it has.
  std::string header(kPageHeaderBytes, '\0');
  std::memcpy(&header[155], "Sit", 3);
  root.write("C:\\DATA\\3.PDF", header);
  load_template(R"({"type": 255, "labels": ["", "Site: "], "opt294": 31})");
  load_patient_fields(nullptr);
  EXPECT_STREQ(f[5].value, "Sit");
}

TEST_F(PatientDataTest, ExchangeFilesFollowOnlyTheirOwnPatient) {
  load_template(R"({"type": 255, "opt294": 32})");
  use_worklist();
  write_import({"SMITH", "1", "x"});
  root.write("C:\\IMPORT\\EXPORT.DAT", "smith export");
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  load_patient_fields(nullptr);
  std::strcpy(patient_fields()[0].value, "SMITHSON");
  ASSERT_EQ(save_patient_header(), 0);
  EXPECT_FALSE(root.exists("C:\\DATA\\3.imp"));
  EXPECT_FALSE(root.exists("C:\\DATA\\3.exp"));
  std::strcpy(patient_fields()[0].value, "SMITH");
  ASSERT_EQ(save_patient_header(), 0);
  EXPECT_EQ(root.read("C:\\DATA\\3.exp"), "smith export");
  EXPECT_EQ(root.read("C:\\DATA\\3.imp"), root.read("C:\\IMPORT\\IMPORT.DAT"));
}

TEST(LineEditorTest, TypingAndCursor) {
  LineEditor e{};
  e.insert = false;
  start_line_edit(e, "Name: ", "ABC", 10);
  EXPECT_EQ(e.cursor, 9);  // one past the text
  line_edit_event(e, 'D');
  EXPECT_STREQ(e.text, "Name: ABCD");
  // Overwrite at the last cell of a full text replaces it; the cursor stays.
  EXPECT_EQ(e.cursor, 9);
  line_edit_event(e, 1090);
  EXPECT_EQ(e.cursor, 9);
  line_edit_event(e, 'Z');
  EXPECT_STREQ(e.text, "Name: ABCZ");
  EXPECT_EQ(e.cursor, 9);
  // Home, then BACK right after the label does nothing; left stops there.
  line_edit_event(e, 1080);
  EXPECT_EQ(e.cursor, 6);
  line_edit_event(e, 1050);
  line_edit_event(e, 1020);
  EXPECT_STREQ(e.text, "Name: ABCZ");
  EXPECT_EQ(e.cursor, 6);
  // Delete under the cursor, then insert there.
  line_edit_event(e, 1060);
  EXPECT_STREQ(e.text, "Name: BCZ");
  line_edit_event(e, 1030);
  line_edit_event(e, 'Q');
  EXPECT_STREQ(e.text, "Name: QBCZ");
  EXPECT_EQ(e.cursor, 7);
  line_edit_event(e, 'R');  // full in insert mode: ignored
  EXPECT_STREQ(e.text, "Name: QBCZ");
  // BACK deletes before the cursor.
  line_edit_event(e, 1050);
  EXPECT_STREQ(e.text, "Name: BCZ");
  EXPECT_EQ(e.cursor, 6);
  line_edit_event(e, 1010);
  line_edit_event(e, 1010);
  line_edit_event(e, 1010);
  line_edit_event(e, 1010);
  EXPECT_EQ(e.cursor, 9);  // one past the text, no further
  line_edit_event(e, 1070);
  EXPECT_STREQ(e.text, "Name: ");
  EXPECT_EQ(e.cursor, 6);
  EXPECT_EQ(line_edit_event(e, 0), kEditAccept);
  EXPECT_EQ(line_edit_event(e, 1), kEditExit);
  EXPECT_EQ(line_edit_event(e, 3), kEditPrevious);
  EXPECT_EQ(line_edit_event(e, -1050), -1);
}

}  // namespace
}  // namespace vaslab

namespace vaslab {
namespace {

TEST_F(PatientDataTest, ScreenLeftWhenTheWindowIsGone) {
  // The event loop is dead: the first wait answers with the EXIT key.  The
  // fields still go to the study's header (a new study has none yet).
  load_template(R"({"type": 255, "labels": ["Ref: "], "defaults": ["Dr. Default"], "opt294": 2})");
  EXPECT_EQ(patient_data_screen(0), 1);
  const std::string pdf = root.read("C:\\DATA\\3.PDF");
  ASSERT_EQ(pdf.size(), kPageHeaderBytes);
  EXPECT_EQ(pdf.substr(114, 17), padded("Ref: Dr. Default", 17));
  // Started at field 7 with nothing editable from 1 to 6 (name and ID come
  // from the import): no editing, the imported patient is stored.
  std::remove(platform::map_path("C:\\DATA\\3.PDF").c_str());
  load_template(R"({"type": 255, "opt294": 0})");
  use_worklist();
  write_import({"DOE", "55", "x"});
  ASSERT_EQ(worklist_control(-4, nullptr), 0);
  EXPECT_EQ(patient_data_screen(7), 0);
  EXPECT_EQ(root.read("C:\\DATA\\3.PDF").substr(32, 4), padded("DOE", 4));
}

}  // namespace
}  // namespace vaslab
