// A workstation with a window and a built screen surface (null backend), and
// helpers to read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "platform/debug.h"
#include "vaslab/core/toolkit/bitmap_file.h"
#include "vaslab/core/toolkit/screen.h"

struct ScreenFixture : CoreFixture {
  std::vector<std::string> notes;

  void SetUp() override {
    CoreFixture::SetUp();
    vaslab::g_draw = vaslab::DrawState{};
    vaslab::forget_bmp_cache();
    platform::set_debug_sink([this](const std::string& s) { notes.push_back(s); });
    ASSERT_TRUE(vaslab::create_main_window(640, 480));
    ASSERT_EQ(vaslab::set_display_mode(0), 1);
  }
  void TearDown() override {
    platform::set_debug_sink(nullptr);
    vaslab::free_screen();
    CoreFixture::TearDown();
  }

  static std::uint32_t px(int x, int y) { return vaslab::screen_bitmap()->at(x, y); }
  static void clear_to(int color) {
    vaslab::g_draw.fill_color = color;
    vaslab::clear_screen();
  }
  // Pixels of a box that differ from a colour.
  static int count_not(int l, int t, int r, int b, std::uint32_t color) {
    int n = 0;
    for (int y = t; y < b; ++y)
      for (int x = l; x < r; ++x) n += px(x, y) != color;
    return n;
  }
  static int count_of(int l, int t, int r, int b, std::uint32_t color) {
    return (r - l) * (b - t) - count_not(l, t, r, b, color);
  }
  bool noted(const std::string& text) const {
    for (const auto& n : notes)
      if (n.find(text) != std::string::npos) return true;
    return false;
  }
};

// Reads a binary PPM (P6, maxval 255); empty when the file is not one.
inline vaslab::Bitmap read_ppm(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  f >> magic >> w >> h >> maxval;
  f.get();
  if (magic != "P6" || maxval != 255 || w <= 0 || h <= 0) return vaslab::Bitmap{};
  vaslab::Bitmap b(w, h);
  for (auto& p : b.pixels) {
    unsigned char c[3];
    f.read(reinterpret_cast<char*>(c), 3);
    p = vaslab::rgb(c[0], c[1], c[2]);
  }
  return f ? b : vaslab::Bitmap{};
}
