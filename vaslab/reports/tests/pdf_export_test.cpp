// The PDF export end to end: studies built by the independent study writer,
// reports generated, pages rendered and converted by the system's
// Ghostscript, the result read back with poppler's tools.
#include "vaslab/reports/pdf_export.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/find.h"
#include "platform/paths.h"
#include "testsupport/diskette_image.h"
#include "testsupport/temp_root.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/postscript_page.h"
#include "vaslab/reports/report_generator.h"

namespace vaslab {
namespace {

std::string tests_dir() { return std::string(VASLAB_SOURCE_DIR) + "/vaslab/reports/tests/"; }

// What a command printed; empty when it failed.
std::string output_of(const std::string& command) {
  std::string out;
  return testsupport::run_command(command, &out) == 0 ? out : std::string();
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class PdfExport : public ::testing::Test {
 protected:
  void SetUp() override {
    hardware_settings() = HardwareSettings{};
    std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
    for (const char* dir : {"C:\\DATA\\", "C:\\TEMP\\", "D:\\VIVOVEV\\"}) platform::map_path_create_dirs(dir);
    make("template", "C:\\STUDIES\\00000123.sty",
         R"({"steps": [{"type": 3, "texts": {"37": "1", "198": "Resting pressures normal", "278": "%s"},
                        "words": {"32": 300, "34": 1000}}]})");
  }
  void TearDown() override { ::unsetenv("VASLAB_GS_LIBRARY"); }

  void make(const std::string& kind, const std::string& win_path, const std::string& json) {
    const std::string cmd = "python3 '" + tests_dir() + "../../records/tests/make_study.py' " + kind + " '" +
                            platform::map_path_create_dirs(win_path) + "' '" + json + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  // A temporary study as the patient data screen leaves it, and the study
  // information the export screen writes before calling the module.
  void make_study(int exam, const char* name) {
    const std::string e = std::to_string(exam);
    make("page", "C:\\DATA\\0." + e, R"({"template": "00000123.sty"})");
    std::string header(kPageHeaderBytes, '\0');
    std::memcpy(&header[offsetof(PageDescriptionHeader, patient_name)], name, std::strlen(name));
    std::memcpy(&header[offsetof(PageDescriptionHeader, exam_date)], "12/09/2026", 10);
    root_.write("C:\\DATA\\" + e + ".PDF", header);
    std::string info(81, '\0');
    std::memcpy(&info[0], name, std::strlen(name));
    std::memcpy(&info[30], "Lower Arterial", 14);
    std::memcpy(&info[60], "12/09/2026 10:15 AM", 19);
    root_.write("C:\\TEMP\\exinfo", info);
  }

  int call(const std::string& id, const std::string& destination = "D:\\VIVOVEV\\") {
    std::string a0 = "C:\\PROGRAMS\\VIVOVEV", a1 = id, a2 = destination, a3 = "0";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
    return run_pdf_export(4, argv);
  }

  // A batch list of `count` records naming one page file.
  void write_list(int count, const std::string& page) {
    std::string list;
    for (int i = 0; i < count; ++i) list += page + '\0' + "NAME" + '\0' + '\0' + '\0';
    root_.write("C:\\TEMP\\vivoVEV.fil", list);
  }

  testsupport::TempRoot root_;
};

TEST_F(PdfExport, ThreeStudiesMakeOneNumberedPdf) {
  root_.write("D:\\VIVOVEV\\O'BRIEN,.ANN0.pdf", "old");
  root_.write("D:\\VIVOVEV\\O'BRIEN,.ANN7.pdf", "old");
  root_.write("D:\\VIVOVEV\\SMITH..JOHN12.pdf", "another patient's");
  const char* names[] = {"SMITH, JOHN", "Doe, Jane", "o'Brien, Ann "};
  for (int i = 0; i < 3; ++i) {
    make_study(i + 1, names[i]);
    ASSERT_EQ(call(std::to_string(i + 1)), 0) << names[i];
  }
  // Four strings a study; the date keeps the 20 characters read.
  const std::string list = root_.read("C:\\TEMP\\vivoVEV.fil");
  EXPECT_EQ(list.substr(0, list.find("C:\\DATA\\2.pdf")),
            std::string("C:\\DATA\\1.pdf\0SMITH, JOHN\0Lower Arterial\0" "12/09/2026 10:15 AM\0", 61));

  ASSERT_EQ(call("END"), 0);
  const std::string pdf = platform::map_path("D:\\VIVOVEV\\O'BRIEN,.ANN8.pdf");
  ASSERT_TRUE(platform::file_facts(pdf)) << "files: " << platform::list_files("D:\\VIVOVEV\\*").size();
  const std::string info = output_of("pdfinfo " + quoted(pdf));
  const auto pages = info.find("Pages:");
  ASSERT_NE(pages, std::string::npos) << info;
  EXPECT_EQ(std::atoi(info.c_str() + pages + 6), 3);
  // The names as typed: an apostrophe reads back as the plain one.
  const std::string text = output_of("pdftotext -layout " + quoted(pdf) + " -");
  for (const char* name : names) EXPECT_NE(text.find(std::string(name).substr(0, 12)), std::string::npos) << name;
  EXPECT_NE(text.find("Resting pressures normal"), std::string::npos);
  // Ghostscript's own file in the work folder is what was copied.
  EXPECT_EQ(root_.read("C:\\TEMP\\vivoVEV.PDF"), root_.read("D:\\VIVOVEV\\O'BRIEN,.ANN8.pdf"));
}

TEST_F(PdfExport, ArgumentsAndStudyFailures) {
  std::string a0 = "C:\\PROGRAMS\\VIVOVEV", a1 = "1", a2 = "D:\\VIVOVEV\\";
  char* three[] = {a0.data(), a1.data(), a2.data()};
  EXPECT_EQ(run_pdf_export(3, three), 1);
  EXPECT_EQ(call("999"), 1);
  EXPECT_EQ(call("-1"), 1);
  EXPECT_EQ(call("1x"), 1);
  // No study file: the report generator's answer, and nothing listed.
  EXPECT_EQ(call("5"), kReportNoPage);
  EXPECT_FALSE(root_.exists("C:\\TEMP\\vivoVEV.fil"));
  // The list cannot be appended to.
  make_study(6, "A");
  platform::map_path_create_dirs("C:\\TEMP\\vivoVEV.fil\\");
  EXPECT_EQ(call("6"), kPdfListNotWritable);
}

TEST_F(PdfExport, BatchFailuresMakeNoPdf) {
  EXPECT_EQ(call("END"), kPdfListNotReadable);
  write_list(0, "");
  EXPECT_EQ(call("END"), kPdfNoPages);
  const std::vector<std::uint8_t> blank = build_page_description(PageDescription{});
  root_.write("C:\\DATA\\1.pdf", std::string(blank.begin(), blank.end()));
  write_list(94, "C:\\DATA\\1.pdf");
  EXPECT_EQ(call("END"), kPdfTooManyPages);
  EXPECT_FALSE(root_.exists("C:\\TEMP\\my01.ps"));

  write_list(1, "C:\\DATA\\2.pdf");
  EXPECT_EQ(call("END"), kPageFileNotOpened);
  root_.write("C:\\DATA\\2.pdf", std::string(kPageHeaderBytes - 1, '\0'));
  EXPECT_EQ(call("END"), kPageFileShort);

  write_list(1, "C:\\DATA\\1.pdf");
  ::setenv("VASLAB_GS_LIBRARY", (root_.path() + "/none/libgs.so.10").c_str(), 1);
  EXPECT_EQ(call("END"), kPdfNoLibrary);
  ::setenv("VASLAB_GS_LIBRARY", "libz.so.1", 1);
  EXPECT_EQ(call("END"), kPdfNoNewInstance);
  ::unsetenv("VASLAB_GS_LIBRARY");
  // Pages Ghostscript cannot read.
  root_.write("C:\\TEMP\\my01.ps", "%!\nnot a command\n");
  EXPECT_EQ(make_pdf_with_ghostscript(1), kPdfConversionFailed);
  // The destination is not there: no copy.
  EXPECT_EQ(call("END", "D:\\NONE\\"), kPdfNoNumberOrCopy);
  EXPECT_TRUE(platform::list_files("D:\\VIVOVEV\\*").empty());
  // Numbers run out at 1000.
  root_.write("D:\\VIVOVEV\\NAME999.pdf", "");
  EXPECT_EQ(call("END"), kPdfNoNumberOrCopy);
  EXPECT_EQ(platform::list_files("D:\\VIVOVEV\\*").size(), 1u);
}

}  // namespace
}  // namespace vaslab
