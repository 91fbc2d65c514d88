// The e-mail export with the project's mail program and a stand-in
// sendmail, and the viewer hand-off with stand-in viewers.
#include "vaslab/reports/email_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/tests/report_test_support.h"

namespace vaslab {
namespace {

struct MailTest : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    start_export_test({}, true);
    ::setenv("VASLAB_ROOT", root.path().c_str(), 1);
    make("template", "C:\\STUDIES\\00000123.sty",
         R"({"steps": [{"type": 2, "caption": "Brachial", "texts": {"32": "A"}}, {"type": 255}]})");
  }
  void TearDown() override {
    ::unsetenv("VASLAB_ROOT");
    ::unsetenv("VASLAB_SENDMAIL");
    reset_event_state();
  }

  void make(const std::string& kind, const std::string& win_path, const std::string& json) {
    ASSERT_TRUE(make_study_file(kind, win_path, json));
  }
  void make_study(int exam, const char* name) {
    std::string h(kPageHeaderBytes, '\0');
    std::memcpy(&h[32], name, std::strlen(name));
    root.write("C:\\DATA\\" + std::to_string(exam) + ".PDF", h);
    for (int step : {0, 1})
      make("page", "C:\\DATA\\" + std::to_string(step) + "." + std::to_string(exam),
           R"({"template": "00000123.sty", "short": "120"})");
  }
  // What the export screen leaves for a study: its row text.
  void exinfo(const char* name, const char* type, const char* date) {
    char row[81] = {};
    std::snprintf(row, sizeof row, "%-29.29s\263%-29.29s\263%-20.20s", name, type, date);
    root.write("C:\\TEMP\\exinfo", std::string(row, sizeof row));
  }
  // A shell script as a file of the root, executable.
  std::string script(const std::string& win_path, const std::string& body) {
    root.write(win_path, "#!/bin/sh\n" + body);
    const std::string path = platform::map_path(win_path);
    ::chmod(path.c_str(), 0755);
    return path;
  }
  int call(int (*entry)(int, char*[]), const std::string& id, int options, const std::string& dest) {
    std::vector<std::string> a{"C:\\PROGRAMS\\X", id, dest, std::to_string(options)};
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    return entry(4, argv.data());
  }
};

TEST(MailRules, NumbersCommandLinesAndTheResultScreen) {
  testsupport::TempRoot root;
  platform::map_path_create_dirs("C:\\OUT\\");
  EXPECT_EQ(export_file_number("C:\\OUT\\", 0, 5), 1);
  root.write("C:\\OUT\\7.zvt", "");
  root.write("C:\\OUT\\12.ZVT", "");
  root.write("C:\\OUT\\notes.txt", "");
  EXPECT_EQ(export_file_number("C:\\OUT\\", 0, 5), 13);
  EXPECT_EQ(export_file_number("C:\\OUT\\", 0x08, 45), 45);

  EXPECT_EQ(substitute_viewer_command("v %1 %2 %3 %x%4 100%% end%", "7", "/a/b", "32", 13), "v 7 /a/b 32 13 100 end");
  EXPECT_EQ(substitute_viewer_command("v %2", "7", "/my folder", "0", 1), "v \"/my folder\"");

  std::string thirty;
  for (int i = 1; i <= 30; ++i) thirty += "line " + std::to_string(i) + "\r\n";
  const auto lines = mail_result_lines(0, &thirty);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "Send Email Complete.  Results follow:");
  EXPECT_EQ(lines[1], "line 1");
  EXPECT_EQ(lines[20], "line 20");
  const std::string wide = std::string(85, 'w') + "\x07!";
  EXPECT_EQ(mail_result_lines(0, &wide), (std::vector<std::string>{lines[0], std::string(80, 'w'), "wwwww!"}));
  // A failure never says "Complete": it says why.
  EXPECT_EQ(mail_result_lines(3, &wide), (std::vector<std::string>{"MAIL Send Error!",
                                                                   "The mail command ended with status 3.",
                                                                   std::string(80, 'w'), "wwwww!"}));
  EXPECT_EQ(mail_result_lines(-1, nullptr, "Cannot start C:\\PROGRAMS\\mailbatch: No such file or directory."),
            (std::vector<std::string>{"MAIL Send Error!", "DOS Error!",
                                      "Cannot start C:\\PROGRAMS\\mailbatch: No such file or directory."}));
  EXPECT_EQ(mail_result_lines(0, nullptr),
            (std::vector<std::string>{lines[0], "The mail command left no report in c:\\smtp\\out."}));
}

TEST_F(MailTest, BatchGoesOutAsOneMessageThroughSendmail) {
  make_study(3, "DOE^JANE");
  make_study(4, "ROE^RICHARD");
  root.write("C:\\MAIL\\7.zvt", "older");
  exinfo("DOE^JANE", "Segmental Pressures", "03/04/2026 10:15 AM");
  ASSERT_EQ(call(run_email_export, "3", 0, "C:\\MAIL\\"), 0);
  exinfo("ROE^RICHARD", "Lower PVR", "03/05/2026 09:05 PM");
  ASSERT_EQ(call(run_email_export, "4", 0, "C:\\MAIL\\"), 0);
  const std::string text = root.read("c:\\smtp\\text");
  EXPECT_EQ(text,
            "Filename: 8.zvt\nName: DOE^JANE                     \nType: Segmental Pressures          \n"
            "Date: 03/04/2026 10:15 AM \n\n\n"
            "Filename: 9.zvt\nName: ROE^RICHARD                  \nType: Lower PVR                    \n"
            "Date: 03/05/2026 09:05 PM \n\n\n");
  EXPECT_EQ(root.read("C:\\MAIL\\8.zvt"), root.read("C:\\DATA\\3.PDF"));
  root.write("C:\\CHECK\\text", text);

  // The site's line names the project's mail program; sendmail is a
  // stand-in that keeps its arguments and the message.
  ASSERT_EQ(::symlink(VASLAB_BUILD_DIR "/bin/mailbatch", platform::map_path_create_dirs("C:\\PROGRAMS\\mailbatch").c_str()), 0);
  root.write("c:\\programs\\dosmtp.bat",
             "mailbatch vaslab@site.example doctor@site.example \"Vascular reports\" C:\\MAIL\\\r\nsecond line\r\n");
  const std::string keep = platform::map_path_create_dirs("C:\\CHECK\\");
  ::setenv("VASLAB_SENDMAIL",
           script("C:\\CHECK\\sendmail", "echo \"$@\" > '" + keep + "args'\ncat > '" + keep + "message'\necho queued\n")
               .c_str(),
           1);
  EXPECT_EQ(call(run_email_export, "END", 0, "C:\\MAIL\\"), 0);
  EXPECT_EQ(root.read("C:\\CHECK\\args"), "-t -i\n");
  EXPECT_TRUE(run_script(tests_dir() + "mail_check.py",
                         {keep + "message", "vaslab@site.example", "doctor@site.example", "Vascular reports",
                          keep + "text", platform::map_path("C:\\MAIL\\8.zvt"), platform::map_path("C:\\MAIL\\9.zvt")}));
  EXPECT_EQ(root.read("c:\\smtp\\text"), "");
  EXPECT_EQ(root.read("c:\\smtp\\out"), "queued\nmailbatch: sent to doctor@site.example: 8.zvt, 9.zvt\n");

  // A sendmail that fails: its status is the result and the text stays
  // for the next batch.
  exinfo("DOE^JANE", "Segmental Pressures", "03/04/2026 10:15 AM");
  ASSERT_EQ(call(run_email_export, "3", 0, "C:\\MAIL\\"), 0);
  script("C:\\CHECK\\sendmail", "cat > /dev/null\necho 'no route' >&2\nexit 3\n");
  EXPECT_EQ(call(run_email_export, "END", 0, "C:\\MAIL\\"), 3);
  EXPECT_NE(root.read("c:\\smtp\\text"), "");
  EXPECT_EQ(root.read("c:\\smtp\\out"), "no route\nmailbatch: sendmail failed with status 3; nothing sent\n");

  // Started where child statuses are thrown away (SIGCHLD ignored), the
  // mail program cannot learn sendmail's: it does not claim the mail went.
  const std::string text_before = root.read("c:\\smtp\\text");
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGCHLD, SIG_IGN);
    ::execl(VASLAB_BUILD_DIR "/bin/mailbatch", "mailbatch", "a@x", "b@x", "s", "C:\\MAIL\\", nullptr);
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
  EXPECT_EQ(root.read("c:\\smtp\\text"), text_before);
}

// A batch killed or failed at any write, flush or rename of its study
// calls, then the next batch from its start: the mail text names exactly
// the next batch's studies, once, numbered on from what the folder held
// before the killed batch, and no copy of the killed batch is left.
TEST_F(MailTest, AKilledBatchIsNeverMailedWithTheNext) {
  for (int exam : {3, 4, 5}) make_study(exam, "DOE^JANE");
  // The export screen's start of a batch empties C:\TEMP\.
  auto start_batch = [&] {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(platform::map_path_create_dirs("C:\\TEMP\\"), ec))
      if (e.is_regular_file()) std::filesystem::remove(e.path());
  };
  auto study = [&](const char* id) {
    exinfo("DOE^JANE", "Segmental Pressures", "03/04/2026 10:15 AM");
    return call(run_email_export, id, 0, "C:\\MAIL\\") == 0;
  };
  testsupport::check_write_faults(
      root.path(), {},
      [&] {
        testsupport::remove_tree(platform::map_path("C:\\MAIL\\"));
        root.write("C:\\MAIL\\7.zvt", "older");
        ::unlink(platform::map_path("c:\\smtp\\text").c_str());
        start_batch();
      },
      [&] { return study("3") && study("4") && study("5"); },
      [&](bool) {
        start_batch();
        ASSERT_TRUE(study("4"));
        ASSERT_TRUE(study("5"));
        const std::string text = root.read("c:\\smtp\\text");
        std::vector<std::string> listed;
        for (std::size_t at = text.find("Filename: "); at != std::string::npos; at = text.find("Filename: ", at + 1))
          listed.push_back(text.substr(at + 10, text.find('\n', at) - at - 10));
        EXPECT_EQ(listed, (std::vector<std::string>{"8.zvt", "9.zvt"}));
        std::vector<std::string> copies;
        for (const auto& e : std::filesystem::directory_iterator(platform::map_path("C:\\MAIL\\")))
          copies.push_back(e.path().filename());
        std::sort(copies.begin(), copies.end());
        EXPECT_EQ(copies, (std::vector<std::string>{"7.zvt", "8.zvt", "9.zvt"}));
        EXPECT_EQ(root.read("C:\\MAIL\\9.zvt"), root.read("C:\\DATA\\5.PDF"));
      });
}

// A batch that never went out, then the next batch, perhaps into another
// export folder: the operator is told which studies were not sent, the
// copies that batch made go from the folder it made them in, and nothing
// else goes, not a file of the new folder that shares a copy's name.  A
// batch that went out is left alone, also when its mail program keeps the
// text it sent.
TEST_F(MailTest, AnUnsentBatchIsToldAndOnlyItsOwnCopiesGo) {
  make_study(3, "DOE^JANE");
  make_study(4, "ROE^RICHARD");
  ASSERT_EQ(::symlink(VASLAB_BUILD_DIR "/bin/mailbatch", platform::map_path_create_dirs("C:\\PROGRAMS\\mailbatch").c_str()), 0);
  script("C:\\PROGRAMS\\keeptext", "exit 0\n");
  enum End { kRefused, kSent, kSentTextKept, kNeverEnded };
  // The copies of the mail folder, each as "name:study".
  auto mail_folder = [&] {
    std::vector<std::string> held;
    for (const auto& e : std::filesystem::directory_iterator(platform::map_path_create_dirs("C:\\MAIL\\"))) {
      const std::string bytes = root.read("C:\\MAIL\\" + e.path().filename().string());
      held.push_back(e.path().filename().string() + ":" +
                     (bytes == root.read("C:\\DATA\\3.PDF")   ? "3"
                      : bytes == root.read("C:\\DATA\\4.PDF") ? "4"
                                                               : "?"));
    }
    std::sort(held.begin(), held.end());
    return held;
  };
  using Held = std::vector<std::string>;
  const struct {
    End end;
    const char* next_folder;  // of the next batch
    bool told;
    Held mail;         // the mail folder after the next batch's study
    const char* copy;  // the next batch's
  } cases[] = {
      {kRefused, "C:\\OTHER\\", true, {}, "2.zvt"},
      {kRefused, "C:\\MAIL\\", true, {"1.zvt:4"}, "1.zvt"},
      {kNeverEnded, "C:\\OTHER\\", true, {}, "2.zvt"},
      {kSent, "C:\\OTHER\\", false, {"1.zvt:3"}, "2.zvt"},
      {kSentTextKept, "C:\\MAIL\\", false, {"1.zvt:3", "2.zvt:4"}, "2.zvt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.end) + " " + c.next_folder);
    for (const char* folder : {"C:\\MAIL\\", "C:\\OTHER\\", "C:\\SMTP\\", "C:\\TEMP\\"})
      testsupport::remove_tree(platform::map_path(folder));
    // A file of the other folder that no batch wrote, named as a copy.
    root.write("C:\\OTHER\\1.zvt", "not the export's");
    ::setenv("VASLAB_SENDMAIL",
             script("C:\\CHECK\\sendmail", c.end == kRefused ? "cat > /dev/null\necho 'relay refused' >&2\nexit 69\n"
                                                                : "cat > /dev/null\n")
                 .c_str(),
             1);
    root.write("c:\\programs\\dosmtp.bat", c.end == kSentTextKept ? "keeptext\r\n" : "mailbatch a@x b@x s C:\\MAIL\\\r\n");

    exinfo("DOE^JANE", "Segmental Pressures", "03/04/2026 10:15 AM");
    ASSERT_EQ(call(run_email_export, "3", 0, "C:\\MAIL\\"), 0);
    ASSERT_EQ(mail_folder(), Held{"1.zvt:3"});
    if (c.end != kNeverEnded) {
      EXPECT_EQ(call(run_email_export, "END", 0, "C:\\MAIL\\") == 0, c.end != kRefused);
    }

    // The export screen's start of the next batch empties C:\TEMP\.
    testsupport::remove_tree(platform::map_path("C:\\TEMP\\"));
    exinfo("ROE^RICHARD", "Lower PVR", "03/05/2026 09:05 PM");
    testing::internal::CaptureStderr();
    const int r = call(run_email_export, "4", 0, c.next_folder);
    const std::string told = testing::internal::GetCapturedStderr();
    ASSERT_EQ(r, 0);
    EXPECT_EQ(told.find("The last e-mail batch was not sent:\n1.zvt DOE^JANE\n") != std::string::npos, c.told)
        << told;
    EXPECT_EQ(mail_folder(), c.mail);
    EXPECT_EQ(root.read("C:\\OTHER\\1.zvt"), "not the export's");
    // This batch lists its own study only.
    const std::string text = root.read("c:\\smtp\\text");
    EXPECT_EQ(text.substr(0, 34), "Filename: " + std::string(c.copy) + "\nName: ROE^RICHARD ");
    EXPECT_EQ(text.find("Filename: ", 1), std::string::npos) << text;
    EXPECT_TRUE(root.read(c.next_folder + std::string(c.copy)) == root.read("C:\\DATA\\4.PDF"));
  }
}

// The demo as shipped: its mail line, the mail program and the stand-in
// transport, which keeps each message as a numbered file.  A line whose
// folder is not the export's, and a transport that is not there, are
// failures that name their cause.
TEST_F(MailTest, TheDemosMailLineDeliversThroughTheStandInTransport) {
  const std::string shipped = std::string(VASLAB_SOURCE_DIR) + "/sim/exports/dosmtp.bat";
  const auto line = platform::read_file(shipped);
  ASSERT_TRUE(line);
  root.write("C:\\PROGRAMS\\dosmtp.bat", std::string(line->begin(), line->end()));
  ASSERT_EQ(::symlink(VASLAB_BUILD_DIR "/bin/mailbatch", platform::map_path_create_dirs("C:\\PROGRAMS\\mailbatch").c_str()), 0);
  const std::string mailbox = platform::map_path_create_dirs("C:\\CHECK\\mail\\");
  ::setenv("VASLAB_SENDMAIL", VASLAB_BUILD_DIR "/bin/mailsim", 1);
  ::setenv("MAILSIM_DIR", mailbox.c_str(), 1);
  // The demo's e-mail destination.
  const std::string dest = "C:\\MAIL\\";
  make_study(3, "DOE^JANE");
  make_study(4, "ROE^RICHARD");
  exinfo("DOE^JANE", "Segmental Pressures", "03/04/2026 10:15 AM");
  ASSERT_EQ(call(run_email_export, "3", 0, dest), 0);
  exinfo("ROE^RICHARD", "Lower PVR", "03/05/2026 09:05 PM");
  ASSERT_EQ(call(run_email_export, "4", 0, dest), 0);
  root.write("C:\\CHECK\\text", root.read("c:\\smtp\\text"));
  EXPECT_EQ(call(run_email_export, "END", 0, dest), 0);
  EXPECT_TRUE(run_script(tests_dir() + "mail_check.py",
                         {mailbox + "0001.eml", "workstation@localhost", "reports@localhost", "Vascular reports",
                          platform::map_path("C:\\CHECK\\text"), platform::map_path("C:\\MAIL\\1.zvt"),
                          platform::map_path("C:\\MAIL\\2.zvt")}));
  EXPECT_EQ(root.read("c:\\smtp\\out"), "mailsim: message to reports@localhost kept as " + mailbox +
                                            "0001.eml\nmailbatch: sent to reports@localhost: 1.zvt, 2.zvt\n");
  EXPECT_EQ(root.read("c:\\smtp\\text"), "");

  // The next batch is the next file; the first stays as it was.
  exinfo("DOE^JANE", "Segmental Pressures", "03/04/2026 10:15 AM");
  ASSERT_EQ(call(run_email_export, "3", 0, dest), 0);
  EXPECT_EQ(call(run_email_export, "END", 0, dest), 0);
  EXPECT_TRUE(root.exists("C:\\CHECK\\mail\\0002.eml"));
  EXPECT_TRUE(run_script(tests_dir() + "mail_check.py",
                         {mailbox + "0001.eml", "workstation@localhost", "reports@localhost", "Vascular reports",
                          platform::map_path("C:\\CHECK\\text"), platform::map_path("C:\\MAIL\\1.zvt"),
                          platform::map_path("C:\\MAIL\\2.zvt")}));

  // Reports exported where the mail line does not look: nothing is sent
  // and the report says where it looked.
  root.write("C:\\EXPORT\\40.zvt", "");
  exinfo("DOE^JANE", "Segmental Pressures", "03/04/2026 10:15 AM");
  ASSERT_EQ(call(run_email_export, "3", 0, "C:\\EXPORT\\"), 0);
  EXPECT_EQ(call(run_email_export, "END", 0, "C:\\EXPORT\\"), 1);
  EXPECT_EQ(root.read("c:\\smtp\\out"), "mailbatch: cannot read " + platform::map_path("C:\\MAIL\\41.zvt") +
                                            ": No such file or directory; nothing sent\n");
  EXPECT_FALSE(root.exists("C:\\CHECK\\mail\\0003.eml"));

  // No transport on the machine: the mail program says so, and the text
  // waits for the next batch.
  root.write("c:\\smtp\\text", "Filename: 1.zvt\n");
  ::setenv("VASLAB_SENDMAIL", "/nonexistent/sendmail", 1);
  EXPECT_EQ(call(run_email_export, "END", 0, dest), 1);
  EXPECT_EQ(root.read("c:\\smtp\\out"),
            "mailbatch: cannot start /nonexistent/sendmail: No such file or directory\n");
  EXPECT_EQ(root.read("c:\\smtp\\text"), "Filename: 1.zvt\n");
  // No mail program: the screen's cause, and no report of an earlier batch.
  ::unlink(platform::map_path("C:\\PROGRAMS\\mailbatch").c_str());
  EXPECT_EQ(call(run_email_export, "END", 0, dest), platform::kNotStarted);
  EXPECT_FALSE(root.exists("c:\\smtp\\out"));
  ::unsetenv("MAILSIM_DIR");
}

TEST_F(MailTest, ViewerGetsThePathAsOneArgumentAndNoShellRuns) {
  make_study(5, "DOE^JANE");
  const std::string keep = platform::map_path_create_dirs("C:\\CHECK\\");
  script("C:\\PROGRAMS\\VEVIDUDO", "for a in \"$@\"; do echo \"[$a]\"; done >> '" + keep + "viewer'\n");
  script("C:\\PROGRAMS\\record.sh", "for a in \"$@\"; do echo \"[$a]\"; done >> '" + keep + "command'\n");
  root.write("C:\\PROGRAMS\\VEVIDUDO.CMD", "C:\\PROGRAMS\\record.sh %2 \"$(touch pwned) %1\" %4%\r\nnext\r\n");
  ASSERT_EQ(call(run_viewer_export, "5", 0x30, "C:\\VIEW ME\\"), 0);
  const std::string folder = platform::map_path("C:\\VIEW ME\\");
  EXPECT_EQ(root.read("C:\\CHECK\\viewer"), "[" + platform::map_path("C:\\VIEW ME\\1.zvt") + "]\n");
  EXPECT_EQ(root.read("C:\\CHECK\\command"), "[" + folder + "]\n[$(touch pwned) 5]\n[1]\n");
  EXPECT_NE(::access("pwned", F_OK), 0);
  EXPECT_EQ(call(run_viewer_export, "END", 0x30, "C:\\VIEW ME\\"), 0);
  // A study id out of range, and a viewer that fails: its status.
  EXPECT_EQ(call(run_viewer_export, "999", 0x10, "C:\\VIEW ME\\"), 1);
  script("C:\\PROGRAMS\\VEVIDUDO", "exit 4\n");
  EXPECT_EQ(call(run_viewer_export, "5", 0x10, "C:\\VIEW ME\\"), 4);
}

}  // namespace
}  // namespace vaslab
