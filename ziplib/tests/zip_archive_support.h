// Shared by the archive tests: a scratch machine with the compressor started,
// a command record builder, the outside readers, and a generated folder tree.
#pragma once

#include "platform/paths.h"
#include "testsupport/temp_root.h"
#include "ziplib/tests/encode_helpers.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_state.h"
#include "ziplib/unziplib.h"
#include "ziplib/ziplib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace ziptest {

inline bool have(const std::string& tool) { return run("command -v " + tool + " >/dev/null") == 0; }

inline std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline std::string read_all(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline std::string pseudo_random(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

inline std::string text_lines(std::size_t n, unsigned seed) {
  static const char* words[] = {"doppler", "pressure", "cuff", "ankle", "brachial", "index", "wave", "trace"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % 8];
    s += rng() % 7 == 0 ? "\n" : " ";
  }
  s.resize(n);
  return s;
}

// Warnings and errors the compressor showed.
struct Shown {
  std::vector<std::pair<int, std::string>> prompts;
  bool has(int type, const std::string& part) const {
    for (const auto& p : prompts)
      if (p.first == type && p.second.find(part) != std::string::npos) return true;
    return false;
  }
};
inline Shown g_shown;
inline int record_prompt(int code, int, int, int, char* text, char*, void*) {
  if (code != 13) g_shown.prompts.push_back({code, text ? text : ""});
  return ziplib::IDOK;
}

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zipInit(nullptr);
    zipAttachThread();
    platform::set_current_directory("C:\\WORK\\");
    platform::make_dirs(root_.path() + "/c/work");
    platform::make_dirs(root_.path() + "/c/out");
    g_shown = {};
  }
  void TearDown() override { zipDetachThread(); }

  ZIPCMDSTRUCT command(int function, const std::string& zip, const std::string& items) {
    zip_ = zip;
    items_ = items;
    ZIPCMDSTRUCT c{};
    c.structSize = kZipCmdV220;
    c.Function = function;
    c.lpszZIPFile = zip_.c_str();
    c.lpszItemList = items_.c_str();
    c.compFactor = 6;
    c.lpMessageDisplay = record_prompt;
    return c;
  }
  // Writes C:\WORK\TREE into `zip`, names relative to it.
  void compress_tree(const std::string& zip, int level, const char* password, bool crlf = false) {
    ZIPCMDSTRUCT c = command(ZIP_ADD, zip, "TREE\\*.*");
    c.recurseFlag = 1;
    c.compFactor = level;
    c.encryptFlag = *password != 0;
    c.lpszEncryptCode = password;
    c.convertLFtoCRLFFlag = crlf;
    c.wZipSubOptions = ziplib::kSubRelativeNames;
    ASSERT_EQ(zipCompress(&c), 0);
  }
  // A decompressor command over `zip`: every item, recursing, overwriting,
  // decrypting with `password` when it is not empty, prompts recorded.
  UNZIPCMDSTRUCT unzip_command(int function, const std::string& zip, const char* password = "") {
    unzip_zip_ = zip;
    UNZIPCMDSTRUCT c{};
    c.structSize = kUnzipCmdV170;
    c.Function = function;
    c.lpszZIPFile = unzip_zip_.c_str();
    c.index = -1;
    c.lpszFilespec = "*.*";
    c.recurseFlag = 1;
    c.overWriteFlag = 1;
    c.decryptFlag = *password != 0;
    c.lpszDecryptCode = password;
    c.lpMessageDisplay = record_prompt;
    return c;
  }
  std::string linux_path(const std::string& win) const { return platform::map_path(win); }
  void write(const std::string& win, const std::string& bytes) const { root_.write(win, bytes); }

  // A folder tree of the kinds of file an archive has to carry.
  void make_tree(const std::string& win_dir) const {
    write(win_dir + "\\empty.txt", "");
    write(win_dir + "\\notes with blanks.txt", text_lines(5000, 1));
    write(win_dir + "\\sub\\deep\\wave.dat", text_lines(32767, 2));
    write(win_dir + "\\sub\\deep\\wave2.dat", text_lines(32769, 3));
    write(win_dir + "\\sub\\block.bin", text_lines(32768, 4));
    write(win_dir + "\\sub\\noise.bin", pseudo_random(70000, 5));
    write(win_dir + "\\old.ZIP", pseudo_random(3000, 6) + text_lines(3000, 6));
    platform::make_dirs(linux_path(win_dir + "\\empty dir"));
  }

  // Every outside reader accepts the archive and gives back the folder.
  void expect_readers_accept(const std::string& zip, const std::string& folder, const std::string& password = "",
                             bool crlf = false, const std::string& prefix = "") {
    const std::string z = shell_quote(linux_path(zip));
    std::string out;
    EXPECT_EQ(run("unzip -tq " + (password.empty() ? "" : "-P " + shell_quote(password) + " ") + z, &out), 0)
        << out;
    EXPECT_EQ(run("7zz t -bd " + (password.empty() ? "" : "-p" + shell_quote(password) + " ") + z, &out), 0) << out;
    std::string cmd = "python3 " + shell_quote(std::string(std::getenv("VASLAB_SOURCE_DIR")) +
                                               "/ziplib/tests/zipcheck.py") +
                      " tree " + z + " " + shell_quote(linux_path(folder));
    if (!password.empty()) cmd += " --password " + shell_quote(password);
    if (crlf) cmd += " --crlf";
    if (!prefix.empty()) cmd += " --prefix " + shell_quote(prefix);
    EXPECT_EQ(run(cmd, &out), 0) << out;
  }

  // A python expression over the independent record parse (r) holds.
  void expect_records(const std::string& zip, const std::string& expression) {
    std::string out;
    EXPECT_EQ(run("python3 " + shell_quote(std::string(std::getenv("VASLAB_SOURCE_DIR")) + "/ziplib/tests/zipcheck.py") +
                      " expect " + shell_quote(linux_path(zip)) + " " + shell_quote(expression),
                  &out),
              0)
        << expression << "\n" << out;
  }

  // The library's own decompressor extracts a split set (7zz does not read
  // one whose directory comes first) and the files under `stored_folder` of
  // what it extracted equal the tree.
  void expect_own_reader_gives_back(const std::string& win_zip, const std::string& win_tree,
                                    const std::string& stored_folder = "") {
    unzipInit(nullptr);
    unzipAttachThread();
    const std::string dest = "C:\\BACK" + std::to_string(++readbacks_);
    UNZIPCMDSTRUCT u = unzip_command(UNZIP_EXTRACT, win_zip);
    u.lpszDestination = dest.c_str();
    u.wUnzipSubOptions = kUnzSplit;
    EXPECT_EQ(unzipCommand(&u), 0);
    unzipDetachThread();
    std::string out;
    const std::string diff = "diff -r " + shell_quote(linux_path(dest) + stored_folder) + " " +
                             shell_quote(linux_path(win_tree));
    EXPECT_EQ(run(diff, &out), 0) << out;
  }
  int readbacks_ = 0;

  testsupport::TempRoot root_;
  std::string zip_, items_, unzip_zip_;
};

}  // namespace ziptest
