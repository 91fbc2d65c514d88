// The export screen with the real PDF export behind it: Export Patient on
// the temporary studies puts one PDF of that patient's reports on the USB
// drive, read back with poppler's tools.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/find.h"
#include "platform/paths.h"
#include "vaslab/records/export_screen.h"
#include "vaslab/records/study_directory.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

struct PdfExportScreen : ScriptedRecordsFixture {
  void SetUp() override {
    ScriptedRecordsFixture::SetUp();
    auto& hw = hardware_settings();
    hw.import_control[0] = 0;
    std::strcpy(hw.export_control_1, "C:\\PROGRAMS\\VIVOVEV");
    std::strcpy(hw.export_path_1, "D:\\VIVOVEV\\");
    hw.export_code_1 = 0;
    platform::map_path_create_dirs("D:\\VIVOVEV\\");
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Lower Arterial", "steps": [{"type": 3, "texts": {"37": "1", "198": "Resting pressures normal",
                        "278": "%s"}, "words": {"32": 300, "34": 1000}}]})");
    make_study(1, "SMITH, JOHN", "03/04/2026 10:15 AM");
    make_study(2, "JONES, ANN", "03/05/2026 10:15 AM");
    make_study(3, "SMITH, JOHN", "03/06/2026 10:15 AM");
    study_list().mode = kListTemporary;
    scan_temp_studies();
    ASSERT_EQ(study_list().count, 3);
  }
};

TEST_F(PdfExportScreen, ExportPatientMakesOnePdfOfThePatientsReports) {
  input->after(100).tap(kExportPatient);
  input->after(60000).close_window();
  export_screen();
  const auto files = platform::list_files("D:\\VIVOVEV\\*.pdf");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, "SMITH,.JOHN0.pdf");
  const std::string pdf = platform::map_path("D:\\VIVOVEV\\" + files[0].name);
  const std::string info = run_output("pdfinfo '" + pdf + "'");
  const auto pages = info.find("Pages:");
  ASSERT_NE(pages, std::string::npos) << info;
  EXPECT_EQ(std::atoi(info.c_str() + pages + 6), 2);
  const std::string text = run_output("pdftotext -layout '" + pdf + "' -");
  EXPECT_NE(text.find("SMITH, JOHN"), std::string::npos);
  EXPECT_EQ(text.find("JONES"), std::string::npos);
  EXPECT_NE(text.find("Resting pressures normal"), std::string::npos);
}

}  // namespace
}  // namespace vaslab
