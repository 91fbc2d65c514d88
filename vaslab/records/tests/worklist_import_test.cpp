// The worklist import screen end to end: scripted input, and the stand-in
// worklist program at its mapped path behind a small wrapper that logs each
// run's arguments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/scripted_input.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/records/tests/records_test_support.h"
#include "vaslab/records/worklist_import.h"

namespace vaslab {
namespace {

using platform::vk::kReturn;

constexpr int kUp = 100, kDown = 101, kSelect = 103, kQuery2 = 105, kCancel = 107, kInfo = 108;

struct ImportScreenTest : ScriptedRecordsFixture {
  void SetUp() override {
    ScriptedRecordsFixture::SetUp();
    ::setenv("VASLAB_ROOT", root.path().c_str(), 1);  // for the worklist program
    ::unsetenv("KORVMWL_MODE");
    root.write("C:\\PROGRAMS\\KorvMWL.exe",
               "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$VASLAB_ROOT/runs.log\"\nexec '" VASLAB_BUILD_DIR "/bin/korvmwl' \"$@\"\n");
    ::chmod(platform::map_path("C:\\PROGRAMS\\KorvMWL.exe").c_str(), 0755);
  }
  void TearDown() override {
    ::unsetenv("VASLAB_ROOT");
    ScriptedRecordsFixture::TearDown();
  }

  void patients(int n) {
    std::string list;
    for (int i = 1; i <= n; ++i) {
      char line[96];
      std::snprintf(line, sizeof line, "K%02d|NAME^%02d|ID%02d|19600101|F|ACC%02d|Procedure\n", i, i, i, i);
      list += line;
    }
    root.write("C:\\PROGRAMS\\patients.txt", list);
  }
  int run_screen() {
    input->after(20000).close_window();
    std::string args[4] = {"C:\\PROGRAMS\\DICOMMWL", "C:\\IMPORT\\", "8", "\"Accession\""};
    char* argv[5] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
    return dicommwl_main(4, argv);
  }
  std::vector<std::string> runs() {
    std::vector<std::string> out;
    std::ifstream f(root.path() + "/runs.log");
    const std::string log((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    for (std::size_t p = 0, e; (e = log.find('\n', p)) != std::string::npos; p = e + 1) out.push_back(log.substr(p, e - p));
    return out;
  }
  // Byte-equal by cmp, as the operator's files would be compared.
  bool same(const std::string& a, const std::string& b) {
    const std::string cmd = "cmp -s '" + platform::map_path(a) + "' '" + platform::map_path(b) + "'";
    return std::system(cmd.c_str()) == 0;
  }
};

TEST_F(ImportScreenTest, AutoQueryListsAndSelectCopiesThePatient) {
  root.write("C:\\PROGRAMS\\impbtns.dat", "<BUTTON ID=1 AUTO=-1 ENABLED=TRUE></BUTTON>\n");
  patients(25);
  // Row 19 of the list (the last shown) is tapped, Down selects row 20 and
  // scrolls by one, so the top row shown is now the list's second.
  input->after(300).mouse_down(100, 29 + 18 * 14 + 5).after(50).mouse_up(100, 29 + 18 * 14 + 5);
  input->after(100).tap(kDown).after(100).mouse_down(100, 29 + 5).after(50).mouse_up(100, 29 + 5);
  std::vector<std::string> info;
  input->after(100).tap(kInfo).after(200).at_time([&] { info = last_viewer_page(); }).key(kReturn);
  input->after(200).tap(kSelect);
  EXPECT_EQ(run_screen(), 0);
  EXPECT_EQ(runs().size(), 1u);  // the automatic query, once
  EXPECT_TRUE(same("C:\\TEMP\\K02.imp", "C:\\IMPORT\\import.dat"));
  EXPECT_TRUE(same("C:\\TEMP\\K02.exp", "C:\\IMPORT\\export.dat"));
  ASSERT_GE(info.size(), 3u);
  EXPECT_EQ(info[0], "TAG      \263DESCRIPTION                        \263VALUE                             ");
  EXPECT_EQ(info[1].substr(0, 53), "0010,0010\263Patient's Name                     \263NAME^02");
  // The patient comes in from the exchange as the main menu would load it.
  EXPECT_EQ(worklist_control(-4, nullptr), 0);
  EXPECT_STREQ(imported_patient_name(), "NAME^02");
  EXPECT_STREQ(imported_patient_id(), "ID02");
}

TEST_F(ImportScreenTest, FiftyOfSixtyListedAndDownStopsAtTheLast) {
  root.write("C:\\PROGRAMS\\impbtns.dat", "<BUTTON ID=2 ENABLED=TRUE></BUTTON>\n");
  ::setenv("KORVMWL_MODE", "many", 1);
  input->after(300).tap(kQuery2).after(500);
  for (int i = 0; i < 55; ++i) input->tap(kDown).after(60);
  input->tap(kUp).after(60).tap(kDown).after(60).tap(kSelect);
  EXPECT_EQ(run_screen(), 0);
  ::unsetenv("KORVMWL_MODE");
  EXPECT_TRUE(same("C:\\TEMP\\P050.imp", "C:\\IMPORT\\import.dat"));
}

TEST_F(ImportScreenTest, RequiredInputIsAskedAgainAndValuesGoAsArguments) {
  root.write("C:\\PROGRAMS\\impbtns.dat",
             "<BUTTON ID=2 ENABLED=TRUE><USERINPUT ID=3 REQUIRED=TRUE MAXLENGTH=12 DISALLOW=\"x\">Name: "
             "</USERINPUT></BUTTON>\n");
  root.write("C:\\PROGRAMS\\required.txt", std::string("Three characters at least.").append(54, ' '));
  patients(3);
  std::vector<std::string> shown;
  // The button's key: its character must not land in the first input.
  input->after(300).key('2').after(300).type("0x\"1").after(100).key(kReturn);
  input->after(300).at_time([&] { shown = last_viewer_page(); }).key(kReturn);
  // Asked again, the short value is typed over from its start.
  input->after(300).type("012").after(100).key(kReturn).after(500).tap(kCancel);
  EXPECT_EQ(run_screen(), 0);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Info:");
  EXPECT_EQ(shown[1], std::string("Three characters at least.").append(54, ' '));
  // "x" and the double quote were refused; the value went as the fourth of ten.
  EXPECT_EQ(runs(), std::vector<std::string>{"2 C:\\IMPORT\\query.err    012      "});
  EXPECT_FALSE(root.exists("C:\\IMPORT\\import.dat"));
}

// Each query's list is its own answer: the patients of an earlier query go,
// an answer without patients says so and imports nobody, and a name sent
// back as too short is corrected by typing it again.
TEST_F(ImportScreenTest, EachQueryListsItsOwnAnswerAlone) {
  root.write("C:\\PROGRAMS\\impbtns.dat",
             "<BUTTON ID=1 AUTO=-1 ENABLED=TRUE></BUTTON>\n"
             "<BUTTON ID=2 ENABLED=TRUE><USERINPUT ID=0 REQUIRED=TRUE MAXLENGTH=30>Name: </USERINPUT></BUTTON>\n");
  root.write("C:\\PROGRAMS\\required.txt", std::string("Three characters at least.").append(54, ' '));
  root.write("C:\\PROGRAMS\\patients.txt",
             "K01|NOWAK^PIOTR|ID01|19500101|M|ACC01|Lower limb\n"
             "K02|SANTOS^MARIA|ID02|19600101|F|ACC02|Upper limb\n"
             "K03|MILLER^ANNA|ID03|19700101|F|ACC03|Lower limb\n");
  struct Seen {
    const char* after;
    std::vector<std::string> list;
  };
  std::vector<Seen> seen = {{"the automatic query", {}}, {"a name nobody has", {}}, {"a Select on it", {}},
                            {"the corrected name", {}}};
  auto look = [&](std::size_t i) { return [&, i] { seen[i].list = last_list_page(); }; };
  input->after(300).at_time(look(0));
  input->key('2').after(300).type("ZZZZZ").after(100).key(kReturn).after(500).at_time(look(1));
  input->tap(kSelect).after(300).at_time(look(2));
  input->key('2').after(300).type("MI").after(100).key(kReturn).after(300).key(kReturn);
  input->after(300).type("MILLER").after(100).key(kReturn).after(500).at_time(look(3)).tap(kSelect);
  EXPECT_EQ(run_screen(), 0);
  ASSERT_EQ(seen[0].list.size(), 3u) << seen[0].after;
  EXPECT_EQ(seen[0].list[2].substr(0, 11), "MILLER^ANNA") << seen[0].after;
  for (std::size_t i : {1u, 2u}) EXPECT_EQ(seen[i].list, std::vector<std::string>{"No patient matches this query."}) << seen[i].after;
  ASSERT_EQ(seen[3].list.size(), 1u) << seen[3].after;
  EXPECT_EQ(seen[3].list[0].substr(0, 11), "MILLER^ANNA") << seen[3].after;
  const std::vector<std::string> r = runs();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1], "2 C:\\IMPORT\\query.err ZZZZZ         ");
  EXPECT_EQ(r[2], "2 C:\\IMPORT\\query.err MILLER         ");
  EXPECT_TRUE(same("C:\\TEMP\\K03.imp", "C:\\IMPORT\\import.dat"));
  EXPECT_FALSE(root.exists("C:\\TEMP\\K01.scr")) << "an earlier answer stays behind";
}

TEST_F(ImportScreenTest, MissingProgramLeavesItsErrorLineShown) {
  root.write("C:\\PROGRAMS\\impbtns.dat", "<BUTTON ID=3 AUTO=7 ENABLED=TRUE></BUTTON>\n");
  ::unlink(platform::map_path("C:\\PROGRAMS\\KorvMWL.exe").c_str());
  std::vector<std::string> shown;
  input->after(300).at_time([&] { shown = last_viewer_page(); }).key(kReturn).after(300).tap(kSelect).after(100).tap(kCancel);
  EXPECT_EQ(run_screen(), 0);
  EXPECT_EQ(root.read("C:\\IMPORT\\query.err"), "*ERROR*\263spawnv returned error code: -1");
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Error File:");
  EXPECT_EQ(shown[1].substr(0, 38), "*ERROR*\263spawnv returned error code: -1");
  EXPECT_FALSE(root.exists("C:\\IMPORT\\import.dat"));
}

TEST_F(ImportScreenTest, MissingScriptIsShownAndEndsTheScreen) {
  std::vector<std::string> shown;
  input->after(300).at_time([&] { shown = last_viewer_page(); }).key(kReturn);
  EXPECT_EQ(run_screen(), 1);
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Error File:");
  std::string line = "*ERROR*\263Failed to open button configuration file C:\\PROGRAMS\\impbtns.dat";
  EXPECT_EQ(shown[1], line.append(80 - line.size(), ' '));
}

TEST_F(ImportScreenTest, PatientWhoseDataDidNotCopyStaysOut) {
  root.write("C:\\PROGRAMS\\impbtns.dat", "<BUTTON ID=1 AUTO=-1 ENABLED=TRUE></BUTTON>\n");
  patients(2);
  input->after(300).at_time([&] { ::unlink(platform::map_path("C:\\TEMP\\K01.imp").c_str()); }).tap(kSelect);
  input->after(300).key(kReturn).after(300).tap(kCancel);
  EXPECT_EQ(run_screen(), 0);
  EXPECT_FALSE(root.exists("C:\\IMPORT\\import.dat"));
  EXPECT_FALSE(root.exists("C:\\IMPORT\\export.dat"));
}

}  // namespace
}  // namespace vaslab
