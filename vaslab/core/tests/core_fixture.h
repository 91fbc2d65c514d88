// A workstation without a screen: a scratch drive root, a fake clock, the
// null window backend and fresh core state, for tests that run real code of
// the program in-process.
#pragma once

#include <cstdlib>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/window.h"
#include "testsupport/temp_root.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"

struct CoreFixture : ::testing::Test {
  testsupport::TempRoot root;
  platform::FakeClock clock;
  platform::NullBackend backend;

  void SetUp() override {
    ::setenv("XDG_RUNTIME_DIR", root.path().c_str(), 1);
    root.link_bitmaps();
    platform::set_current_directory("C:\\PROGRAMS\\");
    platform::set_clock(&clock);
    platform::reset_pump();
    platform::set_window_backend(&backend);
    platform::set_window_proc(vaslab::window_proc);
    // The emulated keyboard flags outlive a test; an earlier test that left
    // Caps Lock on must not decide how this one's letters are read.
    vaslab::read_caps_lock();
    vaslab::reset_event_state();
    vaslab::reset_main_window();
    vaslab::reset_tick_timers();
    vaslab::hardware_settings() = vaslab::HardwareSettings{};
    vaslab::default_hardware_settings(0);
  }
  void TearDown() override {
    platform::reset_pump();
    platform::set_window_proc(nullptr);
    platform::set_window_backend(nullptr);
    platform::set_clock(nullptr);
  }
};
