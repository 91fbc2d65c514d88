// The backup screens under test: a workstation with its screen surface, an
// archive filled through the archive's own save, scripted input, and a way
// to act when the screen says something.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "testsupport/scripted_input.h"
#include "vaslab/backup/backup_ui.h"
#include "vaslab/backup/tests/backup_test_support.h"
#include "vaslab/core/tests/screen_fixture.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/temp_studies.h"

struct BackupScreenFixture : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> in;
  std::size_t seen = 0;  // notes already matched by when()
  std::deque<std::pair<std::string, std::function<void()>>> plan;
  // A screen that goes this long (script time) without saying what is
  // waited for never will: the test fails and closes the window, which
  // ends the screen, instead of waiting for ever.
  static constexpr std::uint32_t kPatienceMs = 600000;
  std::uint32_t waiting_since = 0;

  void SetUp() override {
    ScreenFixture::SetUp();
    in = std::make_unique<testsupport::ScriptedInput>(clock);
    auto& hw = vaslab::hardware_settings();
    std::strcpy(hw.archive_path_1, "C:\\ARCHIVE\\");
    hw.archive_ext_1[0] = 0;
    std::strcpy(hw.data_directory, "C:\\DATA\\");
    platform::map_path_create_dirs("C:\\ARCHIVE\\");
    platform::map_path_create_dirs("C:\\DATA\\");
    platform::map_path_create_dirs("C:\\TEMP\\");
    root.write(vaslab::kArchiveDbPath, "");
    vaslab::set_backup_free_space_source(nullptr);
  }
  void TearDown() override {
    vaslab::set_backup_free_space_source(nullptr);
    in.reset();
    ScreenFixture::TearDown();
  }

  // Archives `count` studies of incompressible content (sizes vary with the
  // number) through the archive's own save; returns each file's bytes.
  std::vector<std::string> archive_studies(int count, std::size_t size) {
    std::vector<std::string> files(count + 1);
    for (int n = 1; n <= count; ++n) {
      std::string pdf = backup_test::noise(size + (n * 997) % 5000, n);
      pdf[0] = static_cast<char>(0xFE);  // a page description's mark, which a restore looks for
      pdf[1] = 0x01;
      std::memcpy(&pdf[32], "PATIENT", 7);
      root.write("C:\\DATA\\" + std::to_string(n) + ".PDF", pdf);
      EXPECT_EQ(vaslab::archive_temp_study((std::to_string(n) + ".PDF").c_str()), vaslab::kSaveDone);
      files[n] = pdf;
    }
    return files;
  }
  // Takes a study out of the archive as a deletion does: its file and its
  // record's in-use flag.
  void delete_study(int n) {
    ASSERT_EQ(platform::file_delete("C:\\ARCHIVE\\" + std::to_string(n)), 0);
    std::string db = root.read(vaslab::kArchiveDbPath);
    std::memset(&db[n * vaslab::kDbRecordBytes], 0, vaslab::kDbRecordBytes);
    root.write(vaslab::kArchiveDbPath, db);
  }

  // Acts once the screen has said `text` (in a message or a box), in the
  // order given; every 20 ms of the script the next text is looked for.
  void when(const std::string& text, std::function<void()> action) {
    const bool polling = !plan.empty() || watcher;
    plan.emplace_back(text, std::move(action));
    if (!polling) poll();
    if (plan.size() == 1) waiting_since = clock.now;
  }
  void tap_when(const std::string& text, int code) {
    when(text, [this, code] { in->from_now().after(30).tap(code); });
  }
  // Every note from now on goes to `handler` until it answers false.
  std::function<bool(const std::string&)> watcher;
  void watch(std::function<bool(const std::string&)> handler) {
    const bool polling = !plan.empty();
    watcher = std::move(handler);
    if (!polling) poll();
    waiting_since = clock.now;
  }
  void poll() {
    in->from_now().after(20).at_time([this] {
      // Each note goes to the ordered plan and to the watcher.
      for (; seen < notes.size(); ++seen) {
        if (!plan.empty() && notes[seen].find(plan.front().first) != std::string::npos) {
          auto action = std::move(plan.front().second);
          plan.pop_front();
          waiting_since = clock.now;
          action();
        }
        if (watcher) waiting_since = clock.now;
        if (watcher && !watcher(notes[seen])) watcher = nullptr;
      }
      if ((watcher || !plan.empty()) && clock.now - waiting_since > kPatienceMs) {
        ADD_FAILURE() << "the screen never said \"" << (plan.empty() ? "what the watcher waits for" : plan.front().first)
                      << "\"; its last words: " << (notes.empty() ? "" : notes.back());
        plan.clear();
        watcher = nullptr;
        in->from_now().close_window();
        return;
      }
      if (watcher || !plan.empty()) poll();
    });
  }
  bool said(const std::string& text) const { return noted(text); }
};
