#include "vaslab/reports/report_view.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../../core/tests/screen_fixture.h"
#include "../../core/tests/screenshot_check.h"
#include "testsupport/generator.h"
#include "testsupport/png.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/studies/module_entries.h"

namespace {

using namespace vaslab;
namespace vk = platform::vk;

TEST(ShrinkPage, UniformAndPatternedRasters) {
  std::vector<std::uint8_t> raster(kPageRasterBytes, 30);
  for (int width : {640, 309, 7}) {
    const Bitmap b = shrink_page_raster(raster.data(), width);
    ASSERT_EQ(b.width, width);
    ASSERT_EQ(b.height, scaled_page_height(width));
    for (std::uint32_t p : b.pixels) ASSERT_EQ(p, page_palette_rgb(30));
  }
  EXPECT_EQ(scaled_page_height(640), 840);
  EXPECT_EQ(scaled_page_height(309), 406);
  EXPECT_EQ(scaled_page_height(618), 811);
  // Wider than the page: the empty boxes between source columns are black.
  const Bitmap wide = shrink_page_raster(raster.data(), 4800);
  EXPECT_EQ(wide.at(0, 0), 0u);
  EXPECT_EQ(wide.at(1, 0), page_palette_rgb(30));

  for (int s = 0; s < kPageHeight; ++s)
    for (int x = 0; x < kPageWidth; ++x)
      raster[static_cast<std::size_t>(s) * kPageWidth + x] = static_cast<std::uint8_t>((7 * x + 3 * s + (x * s) % 11) % 40);
  const Bitmap full = shrink_page_raster(raster.data(), 640), whole = shrink_page_raster(raster.data(), 309);
  const testsupport::TempRoot root;
  std::istringstream expected(
      testsupport::run_generator("vaslab/reports/tests/shrink_expect.py", root.path(), "expected.txt"));
  int width = 0, row = 0, column = 0, r = 0, g = 0, b = 0, checked = 0;
  while (expected >> width >> row >> column >> r >> g >> b) {
    const Bitmap& img = width == 640 ? full : whole;
    ASSERT_EQ(img.at(column, row), rgb(r, g, b)) << width << " " << row << "," << column;
    ++checked;
  }
  EXPECT_EQ(checked, 600);
}

struct ReportView : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> input;
  std::vector<std::uint8_t> page;

  void SetUp() override {
    ScreenFixture::SetUp();
    input = std::make_unique<testsupport::ScriptedInput>(clock);
    const std::string bytes = testsupport::run_generator("vaslab/reports/tests/make_page.py", root.path(), "page.bin");
    page.assign(bytes.begin(), bytes.end());
    root.write("C:\\DATA\\1.PDF", bytes);
    std::ifstream logo(std::string(VASLAB_SOURCE_DIR) + "/vaslab/resources/graphic/hdrlogo.gph", std::ios::binary);
    root.write("C:\\GRAPHIC\\hdrlogo.gph", std::string((std::istreambuf_iterator<char>(logo)), {}));
  }
  void TearDown() override {
    input.reset();
    ScreenFixture::TearDown();
  }

  int view(const char* path, int argc = 2, int colour = 1) {
    char program[] = "C:\\PROGRAMS\\VPROC";
    std::string file = path;
    char* argv[] = {program, file.data(), nullptr};
    return vproc_main(argc, argv, colour);
  }

  // The scaled images of the page as the view should show them.
  Bitmap scaled(int width, int colour = 1) const {
    std::vector<std::uint8_t> raster(kPageRasterBytes);
    EXPECT_EQ(render_page_description(raster.data(), page.data(), page.size(), colour), kPageOk);
    return shrink_page_raster(raster.data(), width);
  }

  // The view band shows the image from row y, at x.
  static bool shows(const Bitmap& img, int y, int x) {
    const int v = screen_bitmap()->height - scale_y(74);
    for (int r = 0; r < v && y + r < img.height; ++r)
      for (int c = 0; c < img.width && x + c < screen_bitmap()->width; ++c)
        if (px(x + c, r) != img.at(c, y + r)) return false;
    return true;
  }

  // Whether the screen in a rectangle equals the view's background there.
  static bool background_at(int l, int t, int r, int b) {
    const Bitmap* bg = background_bitmap();
    for (int y = t; y < b; ++y)
      for (int x = l; x < r; ++x)
        if (px(x, y) != bg->at(x, y)) return false;
    return true;
  }
};

TEST_F(ReportView, ArgumentsAndFilesThatGiveNoView) {
  clear_to(kColorGreen);
  EXPECT_EQ(view("C:\\DATA\\1.PDF", 3), 3);
  EXPECT_EQ(count_not(0, 0, 640, 480, vga_color_to_rgb(kColorGreen)), 0);

  // Each of these shows no page, and says why in a box that waits for its OK.
  auto refused = [&](const char* path, const char* why) {
    input->after(100).key(vk::kReturn);
    EXPECT_EQ(view(path), 0) << path;
    EXPECT_TRUE(input->done()) << path << ": the box waited for its answer";
    EXPECT_TRUE(noted(std::string("message box [View]: ") + why)) << path;
  };
  refused("C:\\DATA\\none.PDF", "The report page cannot be read.");
  std::string damaged(page.begin(), page.end());
  damaged[0] = 'X';
  root.write("C:\\DATA\\2.PDF", damaged);
  refused("C:\\DATA\\2.PDF", "The report page is damaged\rand cannot be shown.");
  root.write("C:\\DATA\\3.PDF", std::string(100, '\xFE'));
  refused("C:\\DATA\\3.PDF", "The report page is damaged");
  {
    std::ofstream big(platform::map_path("C:\\DATA\\4.PDF"), std::ios::binary);
    big.seekp(static_cast<std::streamoff>(kViewMaxFileBytes));
    big.put('\0');
  }
  refused("C:\\DATA\\4.PDF", "The report page cannot be read.");
}

TEST_F(ReportView, ScrollingAndZoom) {
  const Bitmap full = scaled(640), whole = scaled(309);
  std::vector<std::string> failures;
  auto expect_full = [&](int y, bool up, bool down, const char* what) {
    input->at_time([&, y, up, down, what] {
      if (!shows(full, y, 0)) failures.push_back(std::string(what) + ": not at row " + std::to_string(y));
      if (background_at(425, 408, 558, 480) == up) failures.push_back(std::string(what) + ": up arrow");
      if (background_at(558, 408, 640, 480) == down) failures.push_back(std::string(what) + ": down arrow");
    });
  };
  input->after(300);
  expect_full(0, false, true, "start");
  input->key(vk::kUp).after(100);
  expect_full(0, false, true, "up at the top");
  for (int y : {87, 174, 261, 348, 434}) {
    input->key(vk::kDown).after(100);
    expect_full(y, true, y < 434, "down");
  }
  input->key(vk::kDown).after(100);
  expect_full(434, true, false, "down at the end");
  input->tap(100).after(100);
  expect_full(347, true, true, "up by mouse");
  input->key(vk::kHome).after(100);
  expect_full(0, false, true, "home");
  input->key(vk::kEnd).after(100);
  expect_full(434, true, false, "end");
  // To the whole page: y back to 0, no arrows.
  input->key('Z').after(300);
  input->at_time([&] {
    if (!shows(whole, 0, (640 - 309) / 2)) failures.push_back("whole page not shown");
    if (!background_at(425, 408, 640, 480)) failures.push_back("arrows in the whole-page view");
    if (!background_at(0, 0, (640 - 309) / 2, 406)) failures.push_back("whole page not centred");
  });
  input->after(100).key(vk::kDown).after(100);
  input->at_time([&] {
    if (!shows(whole, 0, (640 - 309) / 2)) failures.push_back("the whole page scrolled");
  });
  input->after(100).tap(104).after(300);
  expect_full(0, false, true, "back to full width");
  input->key(vk::kDown).after(100).key(vk::kEscape);
  EXPECT_EQ(view("C:\\DATA\\1.PDF"), 0);
  EXPECT_TRUE(input->done());
  for (const auto& f : failures) ADD_FAILURE() << f;
}

TEST_F(ReportView, WholePageFirstAndKeepingYWhenZoomingIn) {
  hardware_settings().view_printout = 2;
  const Bitmap full = scaled(640);
  std::vector<std::string> failures;
  input->after(300).key('Z').after(300).key(vk::kDown).after(100).key(vk::kDown).after(100);
  input->at_time([&] {
    if (!shows(full, 174, 0)) failures.push_back("full width not at 174");
  });
  input->key('Z').after(300).key('Z').after(300);
  input->at_time([&] {
    if (!shows(full, 0, 0)) failures.push_back("zooming out and in again does not start at the top");
  });
  input->key(vk::kEscape);
  EXPECT_EQ(view("C:\\DATA\\1.PDF"), 0);
  for (const auto& f : failures) ADD_FAILURE() << f;
}

TEST_F(ReportView, ScreensOfBothViews) {
  constexpr const char* kExpected = "vaslab/reports/tests/expected";
  clear_to(kColorBlack);
  // The box is up while the page is rendered: the first pass of the event
  // loop shows it.
  input->at_time([&] { check_screenshot("report_view_generating", kExpected); });
  input->after(300).at_time([&] { check_screenshot("report_view_full_width", kExpected); });
  input->after(50).key(vk::kDown).after(100).key('Z').after(300);
  input->at_time([&] { check_screenshot("report_view_whole_page", kExpected); });
  input->key(vk::kEscape);
  view("C:\\DATA\\1.PDF", 2, 0);
}

TEST_F(ReportView, EndAtDisplayScaleTwoStaysInsideTheImage) {
  input->desktop = input->current = platform::DisplayMode{1280, 960};
  hardware_settings().touch_type = 4;
  ASSERT_EQ(set_display_mode(1), 1);
  ASSERT_EQ(screen_bitmap()->height - scale_y(74), 812);
  hardware_settings().view_printout = 2;  // whole page: 618 by 811, one row short of the view
  const Bitmap whole = scaled(618);
  ASSERT_EQ(whole.height, 811);
  bool at_top = false;
  input->after(300).key(vk::kEnd).after(100).at_time([&] { at_top = shows(whole, 0, (1280 - 618) / 2); });
  input->key(vk::kEscape);
  EXPECT_EQ(view("C:\\DATA\\1.PDF"), 0);
  EXPECT_TRUE(at_top);
}

}  // namespace
