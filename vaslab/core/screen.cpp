#include "vaslab/core/screen.h"

#include <vector>

#include "platform/window.h"
#include "vaslab/core/main_window.h"

namespace vaslab {

ScreenGeometry g_screen_geometry;

namespace {

std::vector<std::uint32_t> g_surface;
int g_dirty = 0;

void present_all() {
  auto* backend = platform::window_backend();
  if (!backend || !backend->exists() || g_surface.empty()) return;
  backend->present(g_surface.data(), g_screen_geometry.width, g_screen_geometry.height,
                   platform::Rect{0, 0, g_screen_geometry.width, g_screen_geometry.height});
}

}  // namespace

int init_screen() {
  start_window_timers();
  if (g_surface.empty())
    g_surface.assign(static_cast<size_t>(g_screen_geometry.width) * static_cast<size_t>(g_screen_geometry.height), 0);
  return 1;
}

void free_screen() {
  if (main_window_exists()) stop_window_timers();
  g_surface.clear();
  g_surface.shrink_to_fit();
}

void mark_dirty(int flags) { g_dirty |= flags; }

void flush_dirty() {
  if (g_dirty == 0) return;
  g_dirty = 0;
  present_all();
}

void paint_window() { present_all(); }

std::uint32_t* screen_pixels() { return g_surface.empty() ? nullptr : g_surface.data(); }

}  // namespace vaslab
