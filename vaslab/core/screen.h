// The screen surface: the program draws in a fixed 640 by 480 space into one
// off-screen surface, scaled by the display mode, and the surface is copied
// to the window at once or at the next pass of the event wait.
#pragma once

#include <cstdint>

namespace vaslab {

// Set only by the display-mode code.
struct ScreenGeometry {
  std::int32_t x_scale = 1;  // whole-number horizontal factor
  double y_scale = 1.0;      // surface height / 480
  std::int32_t width = 640;  // surface width in pixels (640 * x_scale)
  std::int32_t height = 480; // surface height in pixels
};
extern ScreenGeometry g_screen_geometry;

// Dirty flags: what the next pass of the event wait copies to the window.
constexpr int kDirtyLeftStrip = 1;
constexpr int kDirtyRightStrip = 2;
constexpr int kDirtyWideStrip = 4;
constexpr int kDirtyWholeWindow = 8;

// Makes the surface (at the current geometry), the fonts and the three window
// timers; 1 on success, 0 when any step fails.
int init_screen();
// Frees them; the window timers stop.
void free_screen();

void mark_dirty(int flags);
// Copies the dirty regions to the window and clears the flags.
void flush_dirty();
// Copies the whole surface to the window (the window's paint message).
void paint_window();

// The surface pixels, 0x00RRGGBB, g_screen_geometry.width by .height; null
// before init_screen.
std::uint32_t* screen_pixels();

}  // namespace vaslab
