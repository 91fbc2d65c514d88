#include "vaslab/core/toolkit/builtin_pictures.h"

#include <algorithm>
#include <cmath>

#include "vaslab/core/toolkit/fonts.h"

namespace vaslab {
namespace {

// A small deterministic hash for a quiet texture.
int grain(int x, int y) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return static_cast<int>((h >> 24) & 7) - 4;
}

std::uint32_t mix(int r, int g, int b) { return rgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255)); }

// One beat of a pulse wave, 0..1 over a phase of 0..1.
double pulse(double t) {
  const double systolic = std::exp(-std::pow((t - 0.18) / 0.07, 2));
  const double notch = 0.35 * std::exp(-std::pow((t - 0.42) / 0.09, 2));
  return systolic + notch;
}

void dot(Bitmap& b, int x, int y, int radius, std::uint32_t color) {
  for (int dy = -radius; dy <= radius; ++dy)
    for (int dx = -radius; dx <= radius; ++dx)
      if (dx * dx + dy * dy <= radius * radius && x + dx >= 0 && y + dy >= 0 && x + dx < b.width && y + dy < b.height)
        b.at(x + dx, y + dy) = color;
}

void text(Bitmap& b, int font, int x, int y, const char* s, std::uint32_t color) {
  for (; *s; ++s) x += draw_font_char(b, font, x, y, static_cast<unsigned char>(*s), color, 0, 0, b.width, b.height);
}

}  // namespace

Bitmap make_background_tile() {
  Bitmap t(128, 128);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      // A quiet slate teal with a faint diagonal weave every 8 pixels.
      const int weave = ((x + y) & 7) == 0 ? 5 : (((x - y) & 7) == 0 ? -3 : 0);
      const int g = grain(x, y) / 2 + weave;
      t.at(x, y) = mix(44 + g, 78 + g, 90 + g);
    }
  return t;
}

Bitmap make_splash_picture() {
  Bitmap s(1280, 480);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 1280; ++x) {
      const double fy = y / 479.0, fx = x / 1279.0;
      s.at(x, y) = mix(static_cast<int>(20 + 30 * fy + 10 * fx), static_cast<int>(48 + 50 * fy),
                       static_cast<int>(62 + 46 * fy - 8 * fx));
    }
  // A faint grid, as on a recorder's chart.
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 1280; ++x)
      if (x % 40 == 0 || y % 40 == 0) {
        const std::uint32_t p = s.at(x, y);
        s.at(x, y) = mix(static_cast<int>((p >> 16) & 255) + 14, static_cast<int>((p >> 8) & 255) + 18,
                         static_cast<int>(p & 255) + 18);
      }
  // Three beats of a pulse trace across the lower half.
  int prev = -1;
  for (int x = 0; x < 1280; ++x) {
    const double phase = std::fmod(x / 420.0 + 0.7, 1.0);
    const int y = 400 - static_cast<int>(150 * pulse(phase));
    const int from = prev < 0 ? y : std::min(prev, y), to = prev < 0 ? y : std::max(prev, y);
    for (int yy = from; yy <= to; ++yy) dot(s, x, yy, 3, rgb(226, 92, 92));
    prev = y;
  }
  const std::uint32_t white = rgb(245, 248, 250);
  if (font_made(kFontValueBox)) {
    text(s, kFontValueBox, 80, 70, "Pulsaris Gen Q7", white);
    if (font_made(kFontPressure)) text(s, kFontPressure, 84, 160, "Vascular diagnostics", rgb(198, 221, 224));
  }
  return s;
}

Bitmap make_program_icon() {
  Bitmap icon(32, 32, rgb(44, 78, 90));
  for (int x = 0; x < 32; ++x) {
    const int y = 24 - static_cast<int>(16 * pulse(std::fmod(x / 32.0 + 0.05, 1.0)));
    dot(icon, x, y, 1, rgb(226, 92, 92));
  }
  return icon;
}

}  // namespace vaslab
