// The core fixture with the serial links at their start state: COM ports
// mapped only where a test says so, the serial card's stand-in driver reset,
// and every message box text collected.  There is no window, so the event
// loop counts as dead: a message box then answers at once instead of
// waiting for a press (tests that need the tick timers revive it).
#pragma once

#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core_fixture.h"
#include "platform/debug.h"
#include "platform/library.h"
#include "platform/serial.h"
#include "vaslab/core/input/touch_remote.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/links/serial_links.h"

struct LinkFixture : CoreFixture {
  std::vector<std::string> messages;  // "title: text"
  void* card = nullptr;               // our own reference to the stand-in driver

  void SetUp() override {
    CoreFixture::SetUp();
    platform::set_library_folder("");
    platform::reset_com_paths();
    vaslab::reset_serial_links();
    vaslab::reset_module_link();
    vaslab::reset_touch_remote();
    vaslab::stop_event_loop();
    card = ::dlopen(platform::library_file("cdrvxd32").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(card, nullptr) << "the stand-in driver is built beside the tests";
    card_call<void (*)()>("CdrvSimReset")();
    platform::set_debug_sink([this](const std::string& note) {
      const std::string head = "message box [";
      if (note.rfind(head, 0) != 0) return;
      const auto close = note.find("]: ");
      std::string text = note.substr(close + 3);
      if (!text.empty() && text.back() == '\n') text.pop_back();  // the note's own line end
      messages.push_back(note.substr(head.size(), close - head.size()) + ": " + text);
    });
  }
  void TearDown() override {
    vaslab::reset_serial_links();
    platform::set_debug_sink({});
    platform::reset_com_paths();
    platform::set_library_folder("");
    if (card) ::dlclose(card);
    CoreFixture::TearDown();
  }

  template <typename Fn>
  Fn card_call(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(card, name));
  }
  std::string card_log() { return card_call<const char* (*)()>("CdrvSimLog")(); }
  void card_result(const char* entry, int r) { card_call<void (*)(const char*, int)>("CdrvSimSetResult")(entry, r); }

  // What arrived on a pseudo-terminal's master side within `ms`.
  static std::vector<std::uint8_t> read_all(int fd, int ms = 100) {
    std::vector<std::uint8_t> got;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, ms) > 0) {
      std::uint8_t buf[512];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
};
