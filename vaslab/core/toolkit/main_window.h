// The workstation's one window: its creation, its window procedure, its
// three timers and the switch between a captioned 640 by 480 window and a
// borderless full-screen mode that may change the display resolution.
#pragma once

#include "platform/window.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {

extern const char kWindowClass[];  // also the caption

// The window class of the instrument's system: nothing to register here, but
// the step is kept so that start-up keeps its order.  1 on success.
int register_window_class();
// Creates the window with a client area of the given size through the
// installed window backend; true on success.
bool create_main_window(int client_w, int client_h);
void destroy_main_window();
bool main_window_exists();
void minimise_main_window();
void restore_main_window();

// The family of the instrument's operating system decided some paths; here
// it is always the newer family.  Returns whether it could be read.
int detect_windows_nt();
extern int g_is_windows_nt;

// 1 full-screen, 0 windowed; 1 on success, 0 on failure.
int set_display_mode(int fullscreen);
int toggle_display_mode();
bool is_fullscreen();

// Set at start when a touch panel is configured; the start screen switches
// to full-screen once and clears it.
extern int g_pending_display_switch;

// The full-screen layout for a display, worked out without touching it.
struct FullscreenLayout {
  bool ok = false;                  // false: no usable scale
  bool change_resolution = false;   // the display must change to `mode`
  platform::DisplayMode mode;       // the resolution asked for when changed
  int top = 0, bottom = 0;          // window placement on the display
  ScreenGeometry geometry;          // the surface
};
// `display_bits` are bits 2-3 of touch_type (0, 4, 8 or 12).
FullscreenLayout fullscreen_layout(const platform::DisplayMode& display, const platform::Rect& work_area,
                                   int display_bits, bool spectral_module);

// The window procedure and the timer callback.
void window_proc(const platform::WindowMessage& m);
void timer_proc(int id);
// The three window timers: 101 every 40 ms, 106 every 10 ms, 107 every 250 ms.
void start_window_timers();
void stop_window_timers();

// Forgets the display state (tests).
void reset_main_window();

}  // namespace vaslab
