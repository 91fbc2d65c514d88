#include "vaslab/records/module_dispatch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/temp_studies.h"

namespace vaslab {
namespace {

std::vector<std::vector<std::string>> g_calls;
int g_result = 0;
int g_colour = -1;

int recorder(int argc, char* argv[]) {
  std::vector<std::string> call;
  for (int i = 0; i < argc; ++i) call.push_back(argv[i]);
  // A module may scribble on its arguments; the caller's texts must not care.
  if (argc > 1) argv[1][0] = '#';
  g_calls.push_back(call);
  return g_result;
}

int view_recorder(int argc, char* argv[], int colour) {
  g_colour = colour;
  return recorder(argc, argv);
}

const char* const kPaths[] = {
    "C:\\PROGRAMS\\DUALPPG", "C:\\PROGRAMS\\DUALPVR",  "C:\\PROGRAMS\\DOPPLER",
    "C:\\PROGRAMS\\DUALPRES", "C:\\PROGRAMS\\ONEPRES", "C:\\PROGRAMS\\LINEEDIT",
    "C:\\PROGRAMS\\TIMER",   "C:\\PROGRAMS\\IPROC",    "C:\\PROGRAMS\\SPRINT",
    "C:\\PROGRAMS\\DICOM",   "C:\\PLUS\\ZELMAR",       "C:\\PROGRAMS\\DELIMEX",
    "C:\\PROGRAMS\\RAVIRIZ", "C:\\PROGRAMS\\SMTPEX",   "C:\\PROGRAMS\\VIVOVEV",
};

struct DispatchTest : ::testing::Test {
  void SetUp() override {
    g_calls.clear();
    g_result = 0;
    g_colour = -1;
    for (const char* p : kPaths) set_module(p, recorder);
    set_view_module(view_recorder);
    hardware_settings() = HardwareSettings{};
    default_hardware_settings(0);
    set_current_study("123", "4");
  }
  void TearDown() override {
    for (const char* p : kPaths) set_module(p, nullptr);
    set_view_module(nullptr);
  }
};

using Args = std::vector<std::string>;

TEST_F(DispatchTest, StudyModulesByTemplateTypeWithSixStrings) {
  const struct {
    int type;
    const char* path;
  } table[] = {{1, "C:\\PROGRAMS\\DUALPVR"},  {2, "C:\\PROGRAMS\\ONEPRES"},
               {5, "C:\\PROGRAMS\\DUALPPG"},  {6, "C:\\PROGRAMS\\DOPPLER"},
               {10, "C:\\PROGRAMS\\LINEEDIT"}, {11, "C:\\PROGRAMS\\DUALPRES"},
               {16, "C:\\PROGRAMS\\TIMER"}};
  for (const auto& row : table) {
    g_calls.clear();
    g_result = 12;
    EXPECT_EQ(run_step_module(row.type, 1, 3, 1), 12) << row.type;
    ASSERT_EQ(g_calls.size(), 1u) << row.type;
    EXPECT_EQ(g_calls[0], (Args{row.path, "123", "4", "1", "3", "1"}));
  }
  // The caller's study identity is untouched by what the module does.
  EXPECT_STREQ(current_template_number(), "123");
}

TEST_F(DispatchTest, PairTypesMoveTheCurrentStepToTheFirstStepsParity) {
  run_step_module(5, 3, 4, 6);
  run_step_module(2, 3, 4, 6);
  run_step_module(11, 4, 2, 5);
  run_step_module(1, 4, 2, 4);
  ASSERT_EQ(g_calls.size(), 4u);
  EXPECT_EQ(g_calls[0][5], "5");
  EXPECT_EQ(g_calls[1][5], "6");
  EXPECT_EQ(g_calls[2][5], "4");
  EXPECT_EQ(g_calls[3][5], "4");
}

TEST_F(DispatchTest, TypesWithoutAModule) {
  // Unknown types make no call and let the runner go on.
  EXPECT_EQ(run_step_module(7, 1, 1, 1), 0);
  EXPECT_EQ(run_step_module(0, 1, 1, 1), 0);
  EXPECT_EQ(run_step_module(255, 1, 1, 1), 0);
  // Types with a path but no module stop the runner.
  for (int type : {8, 9, 12, 14}) EXPECT_EQ(run_step_module(type, 1, 1, 1), -1) << type;
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(DispatchTest, LegacyPathsMatchExactly) {
  EXPECT_EQ(run_legacy_program("c:\\programs\\doppler", "1", "2", 1, 1, 1), -1);
  EXPECT_EQ(run_legacy_program("C:\\PROGRAMS\\DOPPLERX", "1", "2", 1, 1, 1), -1);
  // The report generator is not a study module.
  EXPECT_EQ(run_legacy_program("C:\\PROGRAMS\\IPROC", "1", "2", 1, 1, 1), -1);
  EXPECT_EQ(run_legacy_program(nullptr, "1", "2", 1, 1, 1), -1);
  EXPECT_TRUE(g_calls.empty());
  g_result = 3;
  EXPECT_EQ(run_legacy_program("C:\\PROGRAMS\\TIMER", "77", "5", -2, 32767, -32768), 3);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0], (Args{"C:\\PROGRAMS\\TIMER", "77", "5", "-2", "32767", "-32768"}));
}

TEST_F(DispatchTest, ReportCutsTheExtensionOnACopy) {
  char name[] = "12.PDF";
  EXPECT_EQ(run_iproc(name), 0);
  EXPECT_STREQ(name, "12.PDF");
  EXPECT_STREQ(g_message_text, "iproc error:");
  // Names without an extension (an empty archive extension) and short names
  // pass whole.
  char archived[] = "18";
  run_iproc(archived);
  char tiny[] = "7";
  run_iproc(tiny);
  run_sprint("3.PDF", 4);
  ASSERT_EQ(g_calls.size(), 4u);
  EXPECT_EQ(g_calls[0], (Args{"C:\\PROGRAMS\\IPROC", "12"}));
  EXPECT_EQ(g_calls[1], (Args{"C:\\PROGRAMS\\IPROC", "18"}));
  EXPECT_STREQ(archived, "18");
  EXPECT_EQ(g_calls[2], (Args{"C:\\PROGRAMS\\IPROC", "7"}));
  EXPECT_EQ(g_calls[3], (Args{"C:\\PROGRAMS\\SPRINT", "3", "4"}));
  EXPECT_EQ(strip_extension("END.END"), "END");
  EXPECT_EQ(strip_extension("18.Z"), "18");
  EXPECT_EQ(strip_extension("D:\\A.B\\18"), "D:\\A.B\\18");
}

TEST_F(DispatchTest, SharedResultMessages) {
  const struct {
    int result;
    const char* text;
  } table[] = {{1, "iproc error:Internal error."},
               {9, "iproc error:No patient name, etc..."},
               {10, "iproc error:No waveforms or pressures."},
               {11, "iproc error:File error."},
               {4, "iproc error:"},
               {0, "iproc error:"}};
  for (const auto& row : table) {
    g_result = row.result;
    EXPECT_EQ(run_iproc("1.PDF"), row.result);
    EXPECT_STREQ(g_message_text, row.text);
  }
  // -1 carries the system error; the result becomes its negation.
  errno = ENOENT;
  EXPECT_EQ(set_result_message("export error:", -1), -ENOENT);
  EXPECT_EQ(std::string(g_message_text), "export error:DOS: No such file or directory.");
}

TEST_F(DispatchTest, ExportModuleByPrefixOfTheConfiguredProgram) {
  auto& hw = hardware_settings();
  std::strcpy(hw.export_control_1, "c:\\programs\\dicomX -v");
  std::strcpy(hw.export_path_1, "D:\\OUT\\");
  hw.export_code_1 = 5;
  g_result = 0;
  EXPECT_EQ(run_export_program("12.PDF"), 0);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0], (Args{"c:\\programs\\dicomX -v", "12", "D:\\OUT\\", "5"}));
  EXPECT_STREQ(g_message_text, "export error:");
  EXPECT_EQ(find_export_module("C:\\PLUS\\ZELMAR.EXE"), &recorder);
  EXPECT_EQ(find_export_module("C:\\PROGRAMS\\DICO"), nullptr);
  // The batch's end call passes "END".
  run_export_program("END.END");
  EXPECT_EQ(g_calls.back()[1], "END");
}

TEST_F(DispatchTest, ExportWithoutProgramPathOrModuleGivesFileError) {
  auto& hw = hardware_settings();
  std::strcpy(hw.export_control_1, "C:\\PROGRAMS\\VIVOVEV");
  hw.export_path_1[0] = 0;
  EXPECT_EQ(run_export_program("1.PDF"), 11);
  EXPECT_STREQ(g_message_text, "export error:File error.");
  std::strcpy(hw.export_path_1, "D:\\");
  std::strcpy(hw.export_control_1, "C:\\PROGRAMS\\OTHER");
  EXPECT_EQ(run_export_program("1.PDF"), 11);
  // Destination 2 is used when destination 1 is not configured.
  hw.export_control_1[0] = 0;
  EXPECT_EQ(run_export_program("1.PDF"), 11);
  EXPECT_TRUE(g_calls.empty());
  std::strcpy(hw.export_control_2, "C:\\PROGRAMS\\SMTPEX");
  std::strcpy(hw.export_path_2, "E:\\MAIL\\");
  hw.export_code_2 = 200;
  g_result = 10;
  EXPECT_EQ(run_export_program("2.PDF"), 10);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0], (Args{"C:\\PROGRAMS\\SMTPEX", "2", "E:\\MAIL\\", "200"}));
  EXPECT_STREQ(g_message_text, "export error:No waveforms or pressures.");
}

TEST_F(DispatchTest, ViewFolderAndColourChoice) {
  auto& hw = hardware_settings();
  std::strcpy(hw.data_directory, "C:\\DATA\\");
  std::strcpy(hw.archive_path_1, "C:\\ARCH\\");
  hw.view_printout = 0;
  std::strcpy(g_message_text, "keep");
  EXPECT_EQ(run_vproc("3.PDF", 1), 0);
  EXPECT_EQ(g_colour, 1);
  hw.view_printout = 3;
  run_vproc("18.ZVT", 0);
  EXPECT_EQ(g_colour, 0);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0], (Args{"C:\\PROGRAMS\\VPROC", "C:\\DATA\\3.PDF"}));
  EXPECT_EQ(g_calls[1], (Args{"C:\\PROGRAMS\\VPROC", "C:\\ARCH\\18.ZVT"}));
  EXPECT_STREQ(g_message_text, "keep");
}

}  // namespace
}  // namespace vaslab
