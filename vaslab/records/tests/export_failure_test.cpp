// The exports' failures as the export screen shows them: the shared text
// of the module's result, then the file or folder it could not write and
// the system error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>
#include <string>

#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "testsupport/temp_root.h"
#include "testsupport/test_volume.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/tests/report_test_support.h"

namespace vaslab {
namespace {

struct ExportFailure : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    start_export_test({"C:\\TEMP\\", "C:\\EXPORT\\", "C:\\SMTP\\"}, true);
    std::strcpy(hardware_settings().export_path_1, "C:\\EXPORT\\");
    // One pressure step whose row byte selects template 0.
    ASSERT_TRUE(make_study_file("template", "C:\\STUDIES\\00000123.sty", R"({"title": "Upper Arterial", "steps": [
      {"type": 2, "caption": "Brachial", "texts": {"32": "A"}, "set": {"60": 240, "61": 0}},
      {"type": 255}]})"));
    root.write("C:\\PROGRAMS\\DELIM0.CFG", "~201\r\n");
    std::string h(kPageHeaderBytes, '\0');
    std::memcpy(&h[32], "JANE", 4);
    root.write("C:\\DATA\\7.PDF", h);
    for (int step : {0, 1})
      ASSERT_TRUE(make_study_file("page", "C:\\DATA\\" + std::to_string(step) + ".7",
                                  R"({"template": "00000123.sty", "short": "120"})"));
  }
  void TearDown() override {
    platform::arm_folder_fault("", 0);
    reset_event_state();
  }
};

TEST_F(ExportFailure, MessageNamesTheFolderAndTheSystemError) {
  const struct {
    const char* program;
    const char* folder;  // that fails
    int error;
    bool at_end;  // the batch's end call meets it, not the study's
    int result;
    const char* message;
  } cases[] = {
      {"C:\\PROGRAMS\\DELIMEX", "C:\\EXPORT", EROFS, true, 10,
       "export error:File error. C:\\EXPORT\\: Read-only file system"},
      {"C:\\PROGRAMS\\DELIMEX", "C:\\EXPORT", ENOSPC, true, 11,
       "export error:File error. C:\\EXPORT\\KORVANI.ASC: No space left on device"},
      {"C:\\PROGRAMS\\DELIMEX", "C:\\TEMP", ENOSPC, false, 10,
       "export error:File error. C:\\TEMP\\: No space left on device"},
      {"C:\\PLUS\\ZELMAR", "C:\\TEMP", ENOSPC, false, 11,
       "export error:File error. c:\\temp\\zelmardb: No space left on device"},
      {"C:\\PROGRAMS\\DICOM", "C:\\EXPORT", ENOSPC, false, 1,
       "export error:Internal error. C:\\EXPORT\\: No space left on device"},
      {"C:\\PROGRAMS\\DICOM", "C:\\EXPORT", EROFS, false, 1,
       "export error:Internal error. C:\\EXPORT\\: Read-only file system"},
      {"C:\\PROGRAMS\\SMTPEX", "C:\\EXPORT", ENOSPC, false, 1,
       "export error:Internal error. C:\\EXPORT\\: No space left on device"},
      {"C:\\PROGRAMS\\SMTPEX", "C:\\EXPORT", EROFS, false, 1,
       "export error:Internal error. C:\\EXPORT\\: Read-only file system"},
      {"C:\\PROGRAMS\\SMTPEX", "C:\\SMTP", ENOSPC, false, 11,
       "export error:File error. c:\\smtp\\copies: No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::strcpy(hardware_settings().export_control_1, c.program);
    (void)platform::file_delete("C:\\TEMP\\DELIMDB");
    (void)platform::file_delete("C:\\SMTP\\TEXT");
    const std::string fault = platform::map_path(c.folder);
    if (!c.at_end) platform::arm_folder_fault(fault, c.error);
    int r = run_export_program("7.PDF");
    if (c.at_end) {
      ASSERT_EQ(r, 0) << g_message_text;
      platform::arm_folder_fault(fault, c.error);
      r = run_export_program("END.END");
    }
    platform::arm_folder_fault("", 0);
    EXPECT_EQ(r, c.result);
    EXPECT_STREQ(g_message_text, c.message);
    // A success after it says nothing of the earlier cause.
    EXPECT_EQ(set_result_message("export error:", 0), 0);
    EXPECT_STREQ(g_message_text, "export error:");
  }
}

// Every export kind on a destination that is full or read-only for real (a
// file system of its own): the message gives the shared text of the
// module's result, never one that names another fault ("No waveforms or
// pressures."), then the file or folder and the system's own error.
TEST_F(ExportFailure, AFullOrReadOnlyDestinationIsNamedWithTheSystemError) {
  // A second pressure step whose row byte files it for the sibling
  // database (slot 0), beside the first, which selects template 0.
  ASSERT_TRUE(make_study_file("template", "C:\\STUDIES\\00000123.sty", R"({"title": "Upper Arterial", "steps": [
    {"type": 2, "caption": "Brachial", "texts": {"32": "A"}, "set": {"60": 240, "61": 0}},
    {"type": 2, "caption": "Ankle", "texts": {"32": "B"}, "set": {"60": 128, "61": 0}},
    {"type": 255}]})"));
  ASSERT_TRUE(make_study_file("page", "C:\\DATA\\2.7", R"({"template": "00000123.sty", "short": "95"})"));
  root.write("C:\\PROGRAMS\\DICOM0.CFG", "~201\r\n");
  const std::string full = "No space left on device", read_only = "Read-only file system";
  using testsupport::TestVolume;
  const struct {
    const char* program;
    TestVolume::Kind kind;
    bool at_end;  // the batch's end call meets it, not the study's
    int result;
    std::string message;
  } cases[] = {
      {"C:\\PROGRAMS\\DELIMEX", TestVolume::kFull, true, 11, "File error. C:\\EXPORT\\KORVANI.ASC: " + full},
      {"C:\\PROGRAMS\\DELIMEX", TestVolume::kReadOnly, true, 10, "File error. C:\\EXPORT\\: " + read_only},
      {"C:\\PROGRAMS\\VIVOVEV", TestVolume::kFull, true, 10, "File error. C:\\EXPORT\\: " + full},
      {"C:\\PROGRAMS\\VIVOVEV", TestVolume::kReadOnly, true, 10, "File error. C:\\EXPORT\\: " + read_only},
      {"C:\\PLUS\\ZELMAR", TestVolume::kFull, true, 11, "File error. C:\\EXPORT\\: " + full},
      {"C:\\PLUS\\ZELMAR", TestVolume::kReadOnly, true, 11, "File error. C:\\EXPORT\\: " + read_only},
      {"C:\\PROGRAMS\\DICOM", TestVolume::kFull, false, 1, "Internal error. C:\\EXPORT\\: " + full},
      {"C:\\PROGRAMS\\DICOM", TestVolume::kReadOnly, false, 1, "Internal error. C:\\EXPORT\\: " + read_only},
      {"C:\\PROGRAMS\\SMTPEX", TestVolume::kFull, false, 1, "Internal error. C:\\EXPORT\\: " + full},
      {"C:\\PROGRAMS\\SMTPEX", TestVolume::kReadOnly, false, 1, "Internal error. C:\\EXPORT\\: " + read_only},
      {"C:\\PROGRAMS\\RAVIRIZ", TestVolume::kFull, false, 1, "Internal error. C:\\EXPORT\\: " + full},
      {"C:\\PROGRAMS\\RAVIRIZ", TestVolume::kReadOnly, false, 1, "Internal error. C:\\EXPORT\\: " + read_only},
  };
  const std::string folder = platform::map_path("C:\\EXPORT\\");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::strcpy(hardware_settings().export_control_1, c.program);
    testsupport::remove_tree(platform::map_path("C:\\TEMP\\"));
    testsupport::remove_tree(platform::map_path("C:\\SMTP\\"));
    platform::map_path_create_dirs("C:\\TEMP\\");
    std::unique_ptr<TestVolume> volume;
    if (!c.at_end) volume = std::make_unique<TestVolume>(folder, c.kind);
    if (volume && !volume->skip_reason().empty()) GTEST_SKIP() << volume->skip_reason();
    int r = run_export_program("7.PDF");
    if (c.at_end) {
      ASSERT_EQ(r, 0) << g_message_text;
      volume = std::make_unique<TestVolume>(folder, c.kind);
      if (!volume->skip_reason().empty()) GTEST_SKIP() << volume->skip_reason();
      r = run_export_program("END.END");
    }
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(g_message_text, "export error:" + c.message);
    // Nothing of the export is left there, not even a temporary.
    std::vector<std::string> left;
    for (const auto& f : platform::list_files("C:\\EXPORT\\*.*"))
      if (f.name != "FILLER") left.push_back(f.name);
    EXPECT_EQ(left, std::vector<std::string>{});
    volume.reset();
  }
}

}  // namespace
}  // namespace vaslab
