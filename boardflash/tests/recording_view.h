// A view for tests: keeps the lines and where OK was enabled; closing waits
// for OK (or a test's own condition).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "boardflash/updater.h"

namespace boardflash_test {

class RecordingView : public boardflash::UpdaterView {
 public:
  void appendLine(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(text);
    changed_.notify_all();
  }
  void enableOk() override {
    std::lock_guard<std::mutex> lock(mutex_);
    okAt_ = static_cast<int>(lines_.size());
    changed_.notify_all();
  }
  // The user presses OK as soon as it is enabled, unless a test closes
  // earlier.
  void runUntilClosed() override {
    if (closeWhen) return closeWhen();
    waitForOk();
  }
  void waitForOk() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return okAt_ >= 0; });
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // Number of lines there were when OK was enabled (-1: not yet).
  int okAt() {
    std::lock_guard<std::mutex> lock(mutex_);
    return okAt_;
  }

  std::function<void()> closeWhen;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  int okAt_ = -1;
};

}  // namespace boardflash_test
