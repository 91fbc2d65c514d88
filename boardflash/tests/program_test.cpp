// The real program against the simulated board: runs of
// build/bin/boardflash with ovisp.so and the simulated USB DFU link installed
// at C:\PROGRAMS of a scratch drive root, a HEX file made by objcopy, and a
// pseudo-terminal as COM2.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "sim/pty.h"
#include "testsupport/temp_root.h"

namespace {

const std::string kBin = std::string(VASLAB_BUILD_DIR) + "/bin";
constexpr std::size_t kImageBytes = 10000;
constexpr std::size_t kFlashBytes = 32768;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

struct Outcome {
  int status = -1;
  std::vector<std::string> lines;
  std::string trace;
  std::string flash;
};

class Boardflash : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = root_.path();
    programs_ = platform::map_path_create_dirs("C:\\PROGRAMS\\");
    install("ovisp.so", kBin + "/ovisp.so");
    install("ovusbdfu.so", kBin + "/ovusbdfu.so");
    image_.resize(kImageBytes);
    for (std::size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<char>((i * 31 + i / 97) & 0xFF);
    std::ofstream(dir_ + "/fw.bin", std::ios::binary) << image_;
    ASSERT_EQ(platform::run_shell("objcopy -I binary -O ihex " + platform::shell_quote(dir_ + "/fw.bin") + " " +
                                  platform::shell_quote(dir_ + "/fw.hex")),
              0);
  }
  void install(const std::string& name, const std::string& target) {
    ASSERT_EQ(symlink(target.c_str(), (programs_ + "/" + name).c_str()), 0);
  }
  // boardflash <args> in the scratch folder, with the simulated board set up
  // by `config` and COM2 at `com2`.
  Outcome run(const std::string& args, const std::string& config, const std::string& com2 = "/nonexistent/com2") {
    const auto q = [](const std::string& s) { return platform::shell_quote(s); };
    const std::string command = "cd " + q(dir_) + " && VASLAB_ROOT=" + q(dir_) + " VASLAB_COM2=" + q(com2) +
                                " OVUSBDFU_SIM_CONFIG=" + q(config) + " OVUSBDFU_SIM_TRACE=" + q(dir_ + "/trace") +
                                " OVUSBDFU_SIM_FLASH=" + q(dir_ + "/flash") + " " + q(kBin + "/boardflash") + " " +
                                args + " >out 2>err </dev/null";
    unlink((dir_ + "/trace").c_str());
    Outcome r;
    r.status = platform::run_shell(command);
    r.lines = splitLines(readFile(dir_ + "/out"));
    r.trace = readFile(dir_ + "/trace");
    r.flash = readFile(dir_ + "/flash");
    return r;
  }
  // The first `count` lines of a run that passes them.
  static std::vector<std::string> passedUpTo(std::size_t count, const std::string& file = "fw.hex") {
    const std::vector<std::string> all = {
        "Firmware File Name: " + file,
        "Beginning ISP Programming Routine.....",
        "Initializing......PASS",
        "Device selection......PASS",
        "Hardware selection......PASS",
        "Opening USB port......PASS",
        "Reading the bootloader version: 1.1.2......PASS",
        "Reading the security byte: ff......PASS",
        "Filling buffer with 00......PASS",
        "Parsing HEX file......PASS",
        "Erasing FLASH......PASS",
        "Blank checking FLASH memory......PASS",
        "Programming FLASH......PASS",
        "Verifying FLASH......PASS",
        "Writing the security byte: ff......PASS",
        "Switching to appli mode......PASS",
        "DEVICE REPROGRAMMING COMPLETED SUCCESSFULLY......PASS",
    };
    return {all.begin(), all.begin() + static_cast<long>(count)};
  }
  static std::vector<std::string> with(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
  }

  testsupport::TempRoot root_;
  std::string dir_;
  std::string programs_;
  std::string image_;
};

const std::string kSupport = "Please Contact KORVANI Technical Support";

TEST_F(Boardflash, ReprogramsTheBoardFromAHexFile) {
  const Outcome r = run("fw.hex", "busy=2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.lines, passedUpTo(17));
  ASSERT_EQ(r.flash.size(), kFlashBytes);
  EXPECT_EQ(r.flash.substr(0, kImageBytes), image_);
  EXPECT_EQ(r.flash.substr(kImageBytes), std::string(kFlashBytes - kImageBytes, '\xFF'));
  // The hardware byte written, then the start at 0000 and the closing download.
  const auto written = r.trace.find(" 040200FF 1000\n");
  const auto started = r.trace.find("  start application at 0000\n");
  const auto ended = r.trace.find("  end of download\n", started);
  EXPECT_NE(written, std::string::npos);
  EXPECT_NE(started, std::string::npos);
  EXPECT_NE(ended, std::string::npos);
  EXPECT_LT(written, started);
  // The run's header line, and the erase command byte by byte.
  EXPECT_EQ(r.trace.rfind("=== simulated board bootloader (USB DFU), run of ", 0), 0u);
  EXPECT_NE(r.trace.find("  block FFFB command 04 00 FF\n"), std::string::npos);
}

TEST_F(Boardflash, FailingEraseStopsTheRun) {
  const Outcome r = run("fw.hex", "erase_status=3");
  EXPECT_EQ(r.status, 21);
  EXPECT_EQ(r.lines, with(passedUpTo(10), {"Erasing FLASH......FAIL", kSupport}));
  EXPECT_EQ(r.trace.find("start application"), std::string::npos);

  // An erase the board answers with any other error status is no erase.
  const Outcome other = run("fw.hex", "erase_status=4");
  EXPECT_EQ(other.status, 52);
  EXPECT_EQ(other.lines, with(passedUpTo(10), {"Erasing FLASH......FAIL", kSupport}));
  EXPECT_EQ(other.trace.find("start application"), std::string::npos);
}

TEST_F(Boardflash, VerifyMismatchIsReported) {
  const Outcome r = run("fw.hex", "corrupt=0123");
  EXPECT_EQ(r.status, 26);
  EXPECT_EQ(r.lines, with(passedUpTo(13), {"Verifying FLASH......FAIL", "at 0x0123......FAIL", kSupport}));
}

TEST_F(Boardflash, BlankCheckFailureNamesTheAddress) {
  const Outcome r = run("fw.hex", "stuck=0456");
  EXPECT_EQ(r.status, 28);
  EXPECT_EQ(r.lines, with(passedUpTo(11), {"Blank checking FLASH memory......FAIL", "at 0x0456......FAIL", kSupport}));
}

TEST_F(Boardflash, BlankCheckTheBoardCouldNotDoIsNoPass) {
  // Every error status but errCHECK_ERASED: the board did not check, so
  // the flash is not known to be blank.  errFILE and errWRITE are the
  // library's security error.
  const std::pair<int, int> statuses[] = {{1, 52}, {2, 21}, {3, 21}, {4, 52}, {7, 52},
                                          {8, 52}, {9, 52}, {14, 52}, {15, 52}};
  for (const auto& [status, code] : statuses) {
    const Outcome r = run("fw.hex", "blank_status=" + std::to_string(status));
    EXPECT_EQ(r.status, code) << status;
    EXPECT_EQ(r.lines, with(passedUpTo(11), {"Blank checking FLASH memory......FAIL", kSupport})) << status;
    EXPECT_EQ(r.trace.find("start application"), std::string::npos) << status;
  }
}

TEST_F(Boardflash, BadHexFileFailsBeforeTheBoardIsTouched) {
  // The board holds an older program, which every bad file must leave there.
  std::string old(kFlashBytes, '\0');
  for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 7 + 1);
  std::ofstream(dir_ + "/flash", std::ios::binary) << old;
  ASSERT_EQ(mkdir((dir_ + "/dir.hex").c_str(), 0755), 0);
  const std::string hex = readFile(dir_ + "/fw.hex");
  struct Case {
    const char* file;
    std::string text;
    int code;
  } cases[] = {
      {"missing.hex", "", 22},
      {"dir.hex", "", 22},
      {"garbage.hex", "GIF89a, not a HEX file\n", 23},
      {"empty.hex", "", 23},
      {"nodata.hex", ":00000001FF\r\n", 23},
      {"cut.hex", hex.substr(0, hex.find('\n', hex.size() / 2) + 1), 23},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string name = c.file;
    if (name != "missing.hex" && name != "dir.hex") std::ofstream(dir_ + "/" + name, std::ios::binary) << c.text;
    const Outcome r = run(name, "");
    EXPECT_EQ(r.status, c.code);
    // A file that does not read is named with the system's reason.
    std::vector<std::string> failed = {"Parsing HEX file......FAIL"};
    if (name == "missing.hex") failed.push_back(dir_ + "/missing.hex: No such file or directory");
    if (name == "dir.hex") failed.push_back(dir_ + "/dir.hex: Is a directory");
    failed.push_back(kSupport);
    EXPECT_EQ(r.lines, with(passedUpTo(9, name), failed));
    EXPECT_EQ(r.flash, old);
    EXPECT_EQ(r.trace.find("command 04 00 FF"), std::string::npos);
  }
}

TEST_F(Boardflash, LowerCaseHexFileProgramsLikeItsUpperCaseTwin) {
  // Every digit in lower case but the checksums', which the reader compares
  // as they are written.
  std::istringstream in(readFile(dir_ + "/fw.hex"));
  std::string lower;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (std::size_t i = 1; i + 2 < line.size(); ++i) line[i] = static_cast<char>(std::tolower(line[i]));
    lower += line + "\n";
  }
  ASSERT_NE(lower.find_first_of("abcdef"), std::string::npos);
  std::ofstream(dir_ + "/low.hex", std::ios::binary) << lower;
  const Outcome r = run("low.hex", "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.lines, passedUpTo(17, "low.hex"));
  ASSERT_EQ(r.flash.size(), kFlashBytes);
  EXPECT_EQ(r.flash.substr(0, kImageBytes), image_);
}

TEST_F(Boardflash, BoardRefusingAProgramWriteFails) {
  const std::pair<const char*, int> refusals[] = {{"refuse_program=1", 52}, {"program_status=1", 52}, {"program_status=3", 21}};
  for (const auto& [config, code] : refusals) {
    SCOPED_TRACE(config);
    const Outcome r = run("fw.hex", config);
    EXPECT_EQ(r.status, code);
    EXPECT_EQ(r.lines, with(passedUpTo(12), {"Programming FLASH......FAIL", kSupport}));
    EXPECT_EQ(r.flash, std::string(kFlashBytes, '\xFF'));
    EXPECT_EQ(r.trace.find("start application"), std::string::npos);
  }
}

TEST_F(Boardflash, BoardThatAnswersAfterWakeUpsIsOpened) {
  sim::Pty com2;
  ASSERT_TRUE(com2.open());
  const Outcome r = run("fw.hex", "refuse_opens=3", com2.slave_path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.lines, passedUpTo(17));
  std::string received;
  char buffer[64];
  for (ssize_t n; (n = read(com2.master(), buffer, sizeof buffer)) > 0;) received.append(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(received, "===");
}

TEST_F(Boardflash, MissingLibraryLinkOrExport) {
  const std::string support = kSupport;
  unlink((programs_ + "/ovusbdfu.so").c_str());
  Outcome r = run("fw.hex", "");
  EXPECT_EQ(r.status, 54);
  EXPECT_EQ(r.lines, with(passedUpTo(4), {"Hardware selection......FAIL", support}));

  unlink((programs_ + "/ovisp.so").c_str());
  r = run("fw.hex", "");
  EXPECT_EQ(r.status, 54);
  const std::vector<std::string> missing = {"Firmware File Name: fw.hex", "Beginning ISP Programming Routine.....",
                                            "ovisp.dll not found", support};
  EXPECT_EQ(r.lines, missing);

  install("ovisp.so", kBin + "/short_isp.so");
  r = run("fw.hex", "");
  EXPECT_EQ(r.status, 54);
  EXPECT_EQ(r.lines, missing);
}

TEST_F(Boardflash, FileNameWithBlanksIsTakenWhole) {
  ASSERT_EQ(rename((dir_ + "/fw.hex").c_str(), (dir_ + "/new fw.hex").c_str()), 0);
  const Outcome r = run("new fw.hex", "");
  EXPECT_EQ(r.status, 0);
  ASSERT_FALSE(r.lines.empty());
  EXPECT_EQ(r.lines.front(), "Firmware File Name: new fw.hex");
  EXPECT_EQ(r.flash.substr(0, kImageBytes), image_);
}

}  // namespace
