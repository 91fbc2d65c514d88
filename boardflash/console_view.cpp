// The updater's view on a terminal: each line is printed; the OK button is
// the Enter key, or pressed by itself when no one is at a terminal.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "boardflash/updater.h"

namespace boardflash {
namespace {

std::atomic<bool> g_closeRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

class ConsoleView : public UpdaterView {
 public:
  void appendLine(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  void enableOk() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ok_ = true;
    if (terminal_) std::fputs("(press Enter to close)\n", stderr);
    changed_.notify_all();
  }

  void runUntilClosed() override {
    char input[256];
    while (!g_closeRequested) {
      if (!terminal_) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (ok_) return;
        changed_.wait_for(lock, std::chrono::milliseconds(100));
        continue;
      }
      pollfd in{STDIN_FILENO, POLLIN, 0};
      if (::poll(&in, 1, 100) <= 0) continue;
      const ssize_t n = ::read(STDIN_FILENO, input, sizeof input);
      if (n <= 0) return;  // end of input: the window was closed
      std::lock_guard<std::mutex> lock(mutex_);
      for (ssize_t i = 0; i < n; ++i) {
        if (input[i] == '\n' && ok_) return;
      }
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ok_ = false;
  const bool terminal_ = ::isatty(STDIN_FILENO) != 0;
};

}  // namespace

std::unique_ptr<UpdaterView> make_console_view() { return std::make_unique<ConsoleView>(); }

void request_close() { g_closeRequested = true; }

}  // namespace boardflash
