#include "testsupport/temp_root.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_state.h"
#include "ziplib/ziplib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

using namespace ziplib;

namespace {

int g_pumps = 0;
void count_pump() { ++g_pumps; }

struct FakeProgram : ProgressProgram {
  std::string line;
  std::vector<std::pair<int, std::vector<unsigned char>>> packets;
  int reply = 0;
  bool closed = false;
  bool start(const std::string& l) override {
    line = l;
    return true;
  }
  int send(int kind, const unsigned char* p, std::size_t n) override {
    packets.push_back({kind, std::vector<unsigned char>(p, p + n)});
    return reply;
  }
  void close() override { closed = true; }
};

int answer_one(const char*, int, void*) { return 1; }

}  // namespace

TEST(ZipProgress, Percentages) {
  EXPECT_EQ(minor_percent(0, 5), 0);
  EXPECT_EQ(minor_percent(200, 50), 25);
  EXPECT_EQ(minor_percent(100, 250), 100);
  EXPECT_EQ(minor_percent(~0ull, ~0ull / 2), 49);
  EXPECT_EQ(major_percent(0, 3), 0);
  EXPECT_EQ(major_percent(250000, 125000), 50);
  EXPECT_EQ(major_percent(8, 2), 25);
  EXPECT_EQ(major_percent(8, 20), 100);
}

TEST(ZipProgress, WhichAnswersCancel) {
  ZipState s;
  s.minor_proc = answer_one;
  s.major_proc = answer_one;
  s.record_level = kLevel220;
  zip_minor_status(s, "a.txt", 10, 5);
  EXPECT_FALSE(s.cancel);  // minor answers cancel only with bit 1
  s.minor_cancels = true;
  zip_minor_status(s, "a.txt", 10, 5);
  EXPECT_TRUE(s.cancel);
  EXPECT_EQ(s.last_minor, "a.txt");
  EXPECT_EQ(s.minor_percent, 50);

  ZipState old;
  old.minor_proc = answer_one;
  old.major_proc = answer_one;
  old.minor_cancels = true;
  old.record_level = kLevel148;
  zip_minor_status(old, "a.txt", 10, 5);
  EXPECT_FALSE(old.cancel);
  EXPECT_EQ(zip_major_status(old, "Item 1 of 2", 2, 1), 0);
  EXPECT_FALSE(zip_poll_cancel(old));
  EXPECT_EQ(zip_major_status(s, "Item 1 of 2", 2, 1), 1);
}

TEST(ZipProgress, PollingIsThrottledWhileSorting) {
  ZipState s;
  s.major_proc = answer_one;
  s.poll_throttle = true;
  int asked = 0;
  for (int i = 0; i < 3003; ++i) asked += zip_poll_cancel(s) ? 1 : 0;
  EXPECT_EQ(asked, 3);  // every 1,001st call, and the cancel is remembered
  EXPECT_TRUE(s.cancel);
}

TEST(ZipProgress, NoPumpingWithBit14) {
  set_message_pump(count_pump);
  ZipState s;
  g_pumps = 0;
  zip_major_status(s, "x", 1, 1);
  EXPECT_EQ(g_pumps, 1);
  s.sub_options = kSubNoPump;
  zip_major_status(s, "x", 1, 1);
  zip_minor_status(s, "x", 1, 1);
  zip_poll_cancel(s);
  EXPECT_EQ(g_pumps, 1);
  set_message_pump(nullptr);
}

TEST(ZipProgress, TheOutsideProgramGetsPacketsAndCanCancel) {
  ZipState s;
  s.title = std::string(400, 'T');
  s.sub_options = kSubProgressSwitchC;
  zip_start_progress_program(s);
  EXPECT_FALSE(s.progress_running);  // none installed: the operation goes on

  FakeProgram program;
  set_progress_program(&program);
  zip_start_progress_program(s);
  ASSERT_TRUE(s.progress_running);
  EXPECT_EQ(program.line.substr(0, 23), "axprog32.exe /c /z /T=T");
  EXPECT_EQ(program.line.size(), 255u);

  zip_minor_status(s, std::string(500, 'm').c_str(), 4, 1);
  ASSERT_EQ(program.packets.size(), 1u);
  EXPECT_EQ(program.packets[0].first, 1);
  const std::vector<unsigned char>& p = program.packets[0].second;
  ASSERT_EQ(p.size(), 356u);
  EXPECT_EQ(p[0], 25);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(p.data() + 4)), 351u);

  program.reply = 1;
  s.record_level = kLevel220;
  EXPECT_EQ(zip_major_status(s, "Item 2 of 2", 2, 2), 1);
  EXPECT_TRUE(s.cancel);
  EXPECT_EQ(program.packets.back().first, 0);
  zip_close_progress_program(s);
  EXPECT_TRUE(program.closed);
  EXPECT_FALSE(s.progress_running);
  set_progress_program(nullptr);
}

TEST(ZipProgress, LogPaths) {
  EXPECT_EQ(zip_log_path("\\ARCLYNX.LOG"), "C:\\WINDOWS\\ARCLYNX.LOG");
  EXPECT_EQ(zip_log_path("X.LOG"), "C:\\WINDOWS\\X.LOG");
  EXPECT_EQ(zip_log_path("D:\\LOGS\\X.LOG"), "D:\\LOGS\\X.LOG");
  EXPECT_EQ(zip_log_path("\\\\server\\share\\X.LOG"), "\\\\server\\share\\X.LOG");
  set_windows_directory("C:\\WIN\\");
  EXPECT_EQ(zip_log_path("\\ARCLYNX.LOG"), "C:\\WIN\\ARCLYNX.LOG");
  set_windows_directory("C:\\WINDOWS");
}

TEST(ZipProgress, DiagnosticLogHasEveryFieldAndNoPassword) {
  testsupport::TempRoot root;
  zipInit(nullptr);
  zipAttachThread();
  std::uint32_t sizes[] = {1000, 5000000, 0};
  ZIPCMDSTRUCT c{};
  c.structSize = kZipCmdV220;
  c.Function = 9;  // refused, so the error follows the record
  c.lpszZIPFile = "C:\\OUT\\ARC.ZIP";
  c.compFactor = 9;
  c.diagnosticFlag = 1;
  c.quietFlag = 1;
  c.encryptFlag = 1;
  c.lpszEncryptCode = "s3cret-pass";
  c.wZipSubOptions = 0x4100;
  c.pulFileSizeArray = sizes;
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  const std::string log = root.read("C:\\WINDOWS\\ARCLYNX.LOG");
  EXPECT_EQ(log.find("s3cret"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      log, std::regex("^\r\n--- ArcLynx ZIP Diagnostic Log \\[DLL/SLL\\] - Version: 5\\.00\\.03 - "
                      "[0-9]{2}/[0-9]{2}/[0-9]{2}  [0-9]{2}:[0-9]{2}:[0-9]{2} ---\r\nFunction:  9 \r\n"
                      "lpszZIPFile: 0x[0-9a-f]+ \r\nC:\\\\OUT\\\\ARC\\.ZIP\r\nlpszItemList: 00000000 \r\n\\?\\?\\?\r\n")))
      << log.substr(0, 300);
  for (const char* line : {"compFactor: 9 \r\n", "lpszEncryptCode: 0x", "\r\n********\r\n", "wZipSubOptions: 0x4100 \r\n",
                           "lpszExtProgTitle: 00000000 \r\n???\r\n", "pulFileSizeArray: \r\n[1000] [5000000]\r\n",
                           "lResv8: 00000000 \r\n\r\n\r\nInvalid control parameters\n\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  zipDetachThread();
}

// A record of unknown size is logged only as far as its fields lie inside
// it; what lies beyond is never read.
TEST(ZipProgress, DiagnosticLogOfAnUnknownSizeStopsAtItsEnd) {
  testsupport::TempRoot root;
  zipInit(nullptr);
  zipAttachThread();
  const char* beyond = reinterpret_cast<const char*>(std::uintptr_t(8));  // never to be read
  ZIPCMDSTRUCT c{};
  c.Function = ZIP_ADD;
  c.lpszZIPFile = "C:\\OUT\\ARC.ZIP";
  c.lpszStoreSuffixes = ".zip";
  c.diagnosticFlag = 1;
  c.quietFlag = 1;
  c.encryptFlag = 1;
  c.lpszEncryptCode = beyond;
  c.lpszExtProgTitle = beyond;
  c.structSize = 144;  // up to encryptFlag
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  std::string log = root.read("C:\\WINDOWS\\ARCLYNX.LOG");
  for (const char* line : {"Function:  4 \r\n", "C:\\OUT\\ARC.ZIP\r\n", "lpszStoreSuffixes: 0x", "\r\n.zip\r\n",
                           "encryptFlag: 1 \r\n\r\n\r\nInvalid control parameters\n\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  EXPECT_EQ(log.find("lpszEncryptCode"), std::string::npos) << log;

  root.write("C:\\WINDOWS\\ARCLYNX.LOG", "");
  c.structSize = 200;  // up to lZipSubOptions2
  c.lpszEncryptCode = "secret";
  c.lpszExtProgTitle = "Saving";
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  log = root.read("C:\\WINDOWS\\ARCLYNX.LOG");
  for (const char* line : {"\r\nSaving\r\n", "pulFileSizeArray: \r\n [0]\r\n", "lZipSubOptions2: 00000000 \r\n\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  EXPECT_EQ(log.find("lpRenameProcEX"), std::string::npos) << log;
  zipDetachThread();
}

TEST(ZipProgress, ItemLog) {
  testsupport::TempRoot root;
  zipInit(nullptr);
  zipAttachThread();
  ZipState& s = *zip_current_state();
  zip_item_log(s, "C:\\DATA\\A.DAT [Added]");  // bit 8 clear: nothing
  s.sub_options = kSubItemLog;
  zip_item_log_header(s);
  zip_item_log(s, "C:\\DATA\\A.DAT [Added]");
  zip_item_log(s, "OLD.DAT [Deleted]");
  zip_close_item_log(s);
  const std::string log = root.read("C:\\WINDOWS\\AZIPLOG.TXT");
  EXPECT_TRUE(std::regex_match(log, std::regex("--- ArcLynx ZIP Log - Version: 5\\.00\\.03 - [0-9/]{8}  [0-9:]{8} ---\r\n"
                                               "C:\\\\DATA\\\\A\\.DAT \\[Added\\]\r\nOLD\\.DAT \\[Deleted\\]\r\n")))
      << log;
  zipDetachThread();
}
