#include "vaslab/core/toolkit/stopwatch.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

Stopwatch g_sw;

// Digit cells in the strip: minute tens, minute units, colon, seconds tens,
// seconds units, left to right.  A cell is 24 pixels wide at scale 1 (the
// colon 8) and 29 rows high; scale 2 doubles both.
constexpr int kCell = 24;
constexpr int kColon = 8;
constexpr int kRows = 29;

int display_scale() { return g_screen_geometry.x_scale >= 2 ? 2 : 1; }

// Seven segments a digit: a top, b top right, c bottom right, d bottom,
// e bottom left, f top left, g middle.
constexpr std::uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

int cell_x(int index) {  // index 0 seconds units .. 3 minute tens
  static const int from_left[4] = {2 * kCell + kColon + kCell, 2 * kCell + kColon, kCell, 0};
  return from_left[index];
}

void set_strip_pixel(MonoBitmap& m, int x, int y, std::uint8_t v) {
  if (x < 0 || y < 0 || x >= m.width || y >= m.height) return;
  m.bits[static_cast<std::size_t>(y) * m.width + x] = v;
}

void fill_strip(MonoBitmap& m, int x1, int y1, int x2, int y2, std::uint8_t v) {
  for (int y = y1; y < y2; ++y)
    for (int x = x1; x < x2; ++x) set_strip_pixel(m, x, y, v);
}

void put_glyph(int index, int digit) {
  MonoBitmap* m = stopwatch_bitmap();
  if (!m) return;
  const int s = display_scale();
  const int x0 = cell_x(index) * s, w = kCell * s, h = kRows * s, t = 3 * s;
  const int l = x0 + 3 * s, r = x0 + w - 3 * s, mid = h / 2;
  fill_strip(*m, x0, 0, x0 + w, h, 0);
  const std::uint8_t seg = kSegments[std::clamp(digit, 0, 9)];
  if (seg & 0x01) fill_strip(*m, l, 1, r, 1 + t, 1);
  if (seg & 0x02) fill_strip(*m, r - t, 1, r, mid, 1);
  if (seg & 0x04) fill_strip(*m, r - t, mid, r, h - 1, 1);
  if (seg & 0x08) fill_strip(*m, l, h - 1 - t, r, h - 1, 1);
  if (seg & 0x10) fill_strip(*m, l, mid, l + t, h - 1, 1);
  if (seg & 0x20) fill_strip(*m, l, 1, l + t, mid, 1);
  if (seg & 0x40) fill_strip(*m, l, mid - t / 2, r, mid - t / 2 + t, 1);
}

void draw_fixed_parts() {
  MonoBitmap* m = stopwatch_bitmap();
  if (!m) return;
  std::fill(m->bits.begin(), m->bits.end(), 0);
  const int s = display_scale();
  const int cx = (2 * kCell + kColon / 2) * s;
  fill_strip(*m, cx - s, 9 * s, cx + s + 1, 11 * s + 1, 1);
  fill_strip(*m, cx - s, 18 * s, cx + s + 1, 20 * s + 1, 1);
}

int strip_width() { return (4 * kCell + kColon) * display_scale(); }

// The display's left edge in the 640 by 480 space and its top row.
int display_left() {
  return display_scale() == 2 ? 570 + g_sw.offset * 2 - strip_width() / 2 + 50 / 2
                              : 307 + g_sw.offset - strip_width();
}
int display_top() { return 209 - g_sw.offset / 2; }

void copy_strip_to_screen(int strip_x, int width) {
  MonoBitmap* m = stopwatch_bitmap();
  std::uint32_t* px = screen_pixels();
  if (!m || !px) return;
  const int s = display_scale();
  const int sx = scale_x(display_left()) + strip_x * g_screen_geometry.x_scale / s;
  const int sy = scale_y(display_top());
  for (int y = 0; y < kRows * s; ++y) {
    for (int x = 0; x < width; ++x) {
      const int ox = sx + x, oy = sy + y;
      if (ox < 0 || oy < 0 || ox >= g_screen_geometry.width || oy >= g_screen_geometry.height) continue;
      const std::uint8_t b = m->bits[static_cast<std::size_t>(y) * m->width + strip_x + x];
      px[static_cast<std::size_t>(oy) * g_screen_geometry.width + ox] = b ? m->color1 : m->color0;
    }
  }
  flush_rect(sx, sy, width, kRows * s);
}

void set_digits() {
  const int v = std::clamp<int>(g_sw.seconds, 0, kStopwatchMax);
  g_sw.digits[0] = static_cast<std::uint8_t>(v % 10);
  g_sw.digits[1] = static_cast<std::uint8_t>(v / 10 % 6);
  g_sw.digits[2] = static_cast<std::uint8_t>(v / 60 % 10);
  g_sw.digits[3] = static_cast<std::uint8_t>(v / 600);
  std::memset(g_sw.changed, 1, sizeof g_sw.changed);
  g_sw.label_changed = 1;
}

// The odometer: only the digits that rolled are flagged.
void roll_digits() {
  const std::uint8_t before[4] = {g_sw.digits[0], g_sw.digits[1], g_sw.digits[2], g_sw.digits[3]};
  const int v = g_sw.seconds;
  const std::uint8_t after[4] = {static_cast<std::uint8_t>(v % 10), static_cast<std::uint8_t>(v / 10 % 6),
                                 static_cast<std::uint8_t>(v / 60 % 10), static_cast<std::uint8_t>(v / 600)};
  for (int i = 0; i < 4; ++i) {
    if (after[i] != before[i]) g_sw.changed[i] = 1;
    g_sw.digits[i] = after[i];
  }
}

void check_alarms() {
  for (auto& a : g_sw.alarms) {
    if (a.time == g_sw.seconds && !a.fired) {
      g_sw.pending_beeps = std::max<int>(g_sw.pending_beeps, a.beeps);
      a.fired = 1;
    }
  }
}

void rearm_alarms() {
  for (auto& a : g_sw.alarms) a.fired = 0;
}

void count_one_second() {
  const int end = g_sw.counting_up ? kStopwatchMax : 0;
  if (g_sw.counting_up) {
    if (g_sw.seconds < kStopwatchMax) ++g_sw.seconds;
  } else {
    if (g_sw.seconds > 0) --g_sw.seconds;
  }
  roll_digits();
  if (g_sw.end_reached) return;
  check_alarms();
  if (g_sw.seconds == end) g_sw.end_reached = true;
}

// One beep a counted second; a beep while the latch is set stays silent but
// is counted all the same.
void sound_pending_beep() {
  if (g_sw.pending_beeps <= 0) return;
  beep_once();
  --g_sw.pending_beeps;
}

void advance() {
  if (!g_sw.running) return;
  const std::uint32_t now = platform::clock().tick_ms();
  while (static_cast<std::int32_t>(now - (g_sw.last_second + 1000)) > 0) {
    g_sw.last_second += 1000;
    count_one_second();
    sound_pending_beep();
  }
}

void op_draw() {
  if (!g_sw.visible) return;
  if (g_sw.label_changed) {
    draw_text_cells("Timer", display_top() / 16 - 1, display_left() / 8, kColorBackground, kColorWhite);
    g_sw.label_changed = 0;
  }
  if (!g_sw.changed[0]) return;
  const int s = display_scale();
  int left = cell_x(0) * s;
  int right = strip_width();
  for (int i = 0; i < 4; ++i) {
    if (!g_sw.changed[i]) break;
    put_glyph(i, g_sw.digits[i]);
    left = cell_x(i) * s;
    g_sw.changed[i] = 0;
  }
  for (int i = 0; i < 4; ++i) g_sw.changed[i] = 0;
  copy_strip_to_screen(left, right - left);
}

void op_show() {
  g_sw.visible = true;
  set_digits();
}
void op_hide() { g_sw.visible = false; }
void op_start() {
  g_sw.last_second = platform::clock().tick_ms();
  g_sw.running = true;
  if (!g_sw.end_reached) check_alarms();
}
void op_stop() {
  advance();
  g_sw.running = false;
}
void op_count_up() { g_sw.counting_up = true; }
void op_count_down() { g_sw.counting_up = false; }

void op_set_alarm(int slot, int time, int type) {
  if (slot < 0 || slot >= kStopwatchAlarms || time < 0 || time > kStopwatchMax) return;
  static const std::uint8_t beeps[3] = {1, 2, 3};
  g_sw.alarms[slot].time = static_cast<std::int16_t>(time);
  g_sw.alarms[slot].beeps = type >= 0 && type <= 2 ? beeps[type] : 5;
  rearm_alarms();
  g_sw.end_reached = false;
  g_sw.pending_beeps = 0;
}

void op_clear_alarm(int slot) {
  if (slot < 0 || slot >= kStopwatchAlarms) return;
  g_sw.alarms[slot].time = -1;
}

void op_set_time(int seconds) {
  const bool was_running = g_sw.running;
  op_stop();
  g_sw.seconds = static_cast<std::int16_t>(std::clamp(seconds, 0, kStopwatchMax));
  g_sw.end_reached = false;
  rearm_alarms();
  set_digits();
  if (was_running) op_start();
}

void op_set_offset(int pixels) {
  g_sw.offset = static_cast<std::uint8_t>(pixels);
  set_digits();
}

}  // namespace

void start_stopwatch() {
  g_sw = Stopwatch{};
  set_digits();
  draw_fixed_parts();
  g_sw.show = op_show;
  g_sw.hide = op_hide;
  g_sw.start = op_start;
  g_sw.stop = op_stop;
  g_sw.count_up = op_count_up;
  g_sw.count_down = op_count_down;
  g_sw.draw = op_draw;
  g_sw.set_alarm = op_set_alarm;
  g_sw.clear_alarm = op_clear_alarm;
  g_sw.set_time = op_set_time;
  g_sw.set_offset = op_set_offset;
}

Stopwatch& tick_stopwatch() {
  if (!g_sw.show) start_stopwatch();
  advance();
  if (g_sw.visible) op_draw();
  return g_sw;
}

}  // namespace vaslab
