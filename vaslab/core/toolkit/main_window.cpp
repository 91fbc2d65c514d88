#include "vaslab/core/toolkit/main_window.h"

#include <algorithm>

#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/input/touch_remote.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/builtin_pictures.h"
#include "vaslab/core/toolkit/stopwatch.h"

namespace vaslab {

const char kWindowClass[] = "Pulsaris Gen Q7";
int g_is_windows_nt = 0;
int g_pending_display_switch = 0;

namespace {

constexpr int kTimerRepeat = 101;
constexpr int kTimerTouch = 106;
constexpr int kTimerStopwatch = 107;

struct DisplayState {
  bool fullscreen = false;
  bool mode_changed = false;
  platform::DisplayMode saved;        // the user's resolution
  platform::DisplayMode fullscreen_mode;  // the one asked for in full-screen
};

DisplayState g_display;

platform::WindowBackend* backend() { return platform::window_backend(); }

int display_bits() { return hardware_settings().touch_type & 12; }

bool change_resolution(const platform::DisplayMode& m) {
  if (!backend()->change_display_mode(m)) return false;
  g_display.mode_changed = true;
  return true;
}

void restore_resolution() {
  if (!g_display.mode_changed) return;
  backend()->restore_display_mode();
  g_display.mode_changed = false;
}

int rebuild_surface() {
  free_screen();
  return init_screen();
}

}  // namespace

int register_window_class() { return 1; }

bool create_main_window(int client_w, int client_h) {
  if (main_window_exists()) return true;
  if (!backend()) return false;
  if (!backend()->create(kWindowClass, client_w, client_h)) return false;
  const Bitmap icon = make_program_icon();
  backend()->set_icon(icon.pixels.data(), icon.width, icon.height);
  return true;
}

void destroy_main_window() {
  if (backend()) backend()->destroy();
}

bool main_window_exists() { return backend() && backend()->exists(); }

void minimise_main_window() {
  if (main_window_exists()) backend()->minimise();
}

void restore_main_window() {
  if (main_window_exists()) backend()->restore();
}

int detect_windows_nt() {
  g_is_windows_nt = 1;
  return 1;
}

bool is_fullscreen() { return g_display.fullscreen; }

FullscreenLayout fullscreen_layout(const platform::DisplayMode& display, const platform::Rect& work_area,
                                   int bits, bool spectral_module) {
  FullscreenLayout out;
  int scale = 1;
  if (bits != 0) {
    scale = display.width / 640;
    while (scale > 0 && scale * 480 > display.height) --scale;
  }
  platform::DisplayMode shown = display;
  const bool keep = scale * 640 == display.width &&
                    (bits != 0 || (display.width == 640 && display.height == 480));
  if (!keep) {
    if (scale <= 0) return out;
    scale = std::min(scale, 2);
    out.change_resolution = true;
    out.mode = platform::DisplayMode{scale * 640, scale == 1 ? 480 : 960};
    shown = out.mode;
  }
  int top = 0, bottom = 480;
  if (spectral_module && bits != 0) {
    bottom = scale * 480;
  } else {
    switch (bits) {
      case 4: bottom = scale * 480; break;
      case 8: bottom = shown.height; break;
      case 12:
        top = work_area.y;
        bottom = work_area.y + work_area.h;
        break;
      default: break;
    }
  }
  const int height = std::max(bottom - top, scale * 480);
  if (bottom - top < height) {
    top = std::max(0, bottom - height);
    bottom = top + height;
  }
  out.ok = true;
  out.top = top;
  out.bottom = bottom;
  out.geometry = ScreenGeometry{scale, height / 480.0, scale * 640, height};
  return out;
}

int set_display_mode(int fullscreen) {
  g_display.fullscreen = fullscreen != 0;
  if (!main_window_exists()) return 0;
  if (fullscreen) {
    backend()->set_fullscreen_style(true);
    g_display.saved = backend()->desktop_mode();
    const FullscreenLayout lay = fullscreen_layout(g_display.saved, backend()->usable_bounds(), display_bits(),
                                                   hardware_settings().spectral_module_present == 1);
    if (!lay.ok) return 0;
    if (lay.change_resolution) {
      g_display.fullscreen_mode = lay.mode;
      if (!change_resolution(lay.mode)) return 0;
    }
    g_screen_geometry = lay.geometry;
    if (!rebuild_surface()) return 0;
    backend()->place(platform::Rect{0, lay.top, lay.geometry.width, lay.bottom - lay.top});
    return 1;
  }
  if (g_display.mode_changed) {
    if (!backend()->restore_display_mode()) return 0;
    g_display.mode_changed = false;
  }
  g_screen_geometry = ScreenGeometry{};
  if (!rebuild_surface()) return 0;
  backend()->set_fullscreen_style(false);
  const platform::Rect work = backend()->usable_bounds();
  backend()->place(platform::Rect{work.x, work.y, 640, 480});
  return 1;
}

int toggle_display_mode() { return set_display_mode(g_display.fullscreen ? 0 : 1); }

void start_window_timers() {
  // The repeat ticks count only during a hold, when passes do not sleep;
  // the touch reader's panel is polled often anyway while one is configured
  // (the event wait's short idle waits).  Neither needs to end a wait.
  platform::set_timer(kTimerRepeat, 40, timer_proc, false);
  platform::set_timer(kTimerTouch, 10, timer_proc, false);
  platform::set_timer(kTimerStopwatch, 250, timer_proc);
}

void stop_window_timers() {
  platform::kill_timer(kTimerStopwatch);
  platform::kill_timer(kTimerTouch);
  platform::kill_timer(kTimerRepeat);
}

void timer_proc(int id) {
  switch (id) {
    case kTimerRepeat: add_repeat_tick(); break;
    case kTimerTouch: read_touch_packet(); break;
    case kTimerStopwatch: tick_stopwatch(); break;
    default: break;
  }
}

namespace {

void on_deactivate() {
  window_deactivated();
  restore_resolution();
  if (g_display.fullscreen) minimise_main_window();
}

void on_activate(bool by_click) {
  window_activated(by_click);
  if (g_display.fullscreen) {
    if (!g_display.mode_changed) g_display.saved = backend()->desktop_mode();
    const int bits = display_bits();
    const platform::DisplayMode now = backend()->desktop_mode();
    const bool wrong_width = g_screen_geometry.x_scale * 640 != now.width;
    const bool wrong_vga = bits == 0 && !(now.width == 640 && now.height == 480);
    if ((wrong_width || wrong_vga) && g_display.fullscreen_mode.width > 0)
      change_resolution(g_display.fullscreen_mode);
  }
  read_caps_lock();
}

}  // namespace

void window_proc(const platform::WindowMessage& m) {
  using platform::Msg;
  switch (m.msg) {
    case Msg::kDestroy:
      stop_event_loop();
      platform::post_quit();
      break;
    case Msg::kActivate: on_activate(m.click); break;
    case Msg::kDeactivate: on_deactivate(); break;
    case Msg::kPaint: paint_window(); break;
    case Msg::kKeyDown:
    case Msg::kKeyUp:
    case Msg::kChar: keyboard_input(m); break;
    case Msg::kMouseMove:
    case Msg::kLeftDown:
    case Msg::kLeftUp: mouse_input(m); break;
    case Msg::kCaptureChanged: {
      platform::WindowMessage up = m;
      up.msg = Msg::kLeftUp;
      mouse_input(up);
      break;
    }
  }
}

void reset_main_window() {
  g_display = DisplayState{};
  g_pending_display_switch = 0;
  g_screen_geometry = ScreenGeometry{};
}

}  // namespace vaslab
