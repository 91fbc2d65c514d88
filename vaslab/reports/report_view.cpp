#include "vaslab/reports/report_view.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/studies/module_entries.h"

namespace vaslab {

namespace {

constexpr int kUp = 100, kDown = 101, kHome = 102, kEnd = 103, kZoom = 104, kExit = 107;
constexpr int kFullWidth = 0, kWholePage = 2;
// Entries of the table.
constexpr int kUpEntry = 0, kDownEntry = 1, kZoomInEntry = 3, kZoomOutEntry = 6;

void show_generating_box() {
  fill_rect_color(134, 260, 506, 280, kColorDarkRed);
  g_draw.draw_color = kColorWhite;
  draw_rectangle(134, 260, 506, 280);
  set_text_size(0, 0, 2);
  set_text_justify(kJustifyCentre, kJustifyTop);
  g_draw.text_color = kColorWhite;
  draw_text(320, 262, "Generating View");
  set_text_justify(kJustifyLeft, kJustifyTop);
  poll_input_events(1);
  set_colors(0x0710);
}

class ReportView {
 public:
  explicit ReportView(const std::vector<std::uint8_t>& raster) : raster_(raster) {}

  void run() {
    mode_ = (hardware_settings().view_printout & 2) ? kWholePage : kFullWidth;
    y_ = 0;
    set_button_mode_repeat();
    load_background("vew_bkgd");
    set_colors(0x0710);
    clear_screen();
    show_generating_box();
    take_image();
    show_zoom_button();
    bool redraw = true;
    for (;;) {
      if (redraw) {
        set_arrows();
        draw_view();
        redraw = false;
      }
      const int e = get_button_event(table_);
      switch (e) {
        case kUp:
        case kUp | kRepeatBit:
          if (y_ == 0) break;
          y_ = std::max(0, y_ - step());
          redraw = true;
          break;
        case kDown:
        case kDown | kRepeatBit:
          if (y_ >= last_y()) break;
          y_ = std::min(y_ + step(), last_y());
          redraw = true;
          break;
        case kHome:
          y_ = 0;
          redraw = true;
          break;
        case kEnd:
          // Never above the image's top, even when it is shorter than the view.
          y_ = last_y();
          redraw = true;
          break;
        case kZoom:
          zoom();
          break;
        case -kUp:
          draw_button_normal(table_[kUpEntry]);
          break;
        case -kDown:
          draw_button_normal(table_[kDownEntry]);
          break;
        case -kZoom:
          draw_button_normal(table_[mode_ == kFullWidth ? kZoomOutEntry : kZoomInEntry]);
          break;
        case kExit:
          release_background();
          wait_button_release(table_);
          drain_button_events(table_);
          return;
        default:
          break;
      }
    }
  }

 private:
  int view_height() const { return g_screen_geometry.height - scale_y(74); }
  int image_height() const { return image_ ? image_->height : 0; }
  int last_y() const { return std::max(0, image_height() - view_height()); }
  int step() const { return static_cast<int>(static_cast<double>(image_height() - view_height()) / 5.0) + 1; }

  void take_image() {
    std::optional<Bitmap>& cached = mode_ == kFullWidth ? full_width_ : whole_page_;
    if (!cached) {
      const int width = mode_ == kFullWidth ? g_screen_geometry.width : view_height() * 2400 / 3150;
      if (width > 0) cached = shrink_page_raster(raster_.data(), width);
    }
    image_ = cached ? &*cached : nullptr;
  }

  void show_zoom_button() {
    if (mode_ == kFullWidth) {
      enable_button(table_[kZoomOutEntry]);
      disable_button(table_[kZoomInEntry]);
    } else {
      enable_button(table_[kZoomInEntry]);
      disable_button(table_[kZoomOutEntry]);
    }
  }

  void set_arrows() {
    const int h = image_height(), v = view_height();
    table_[kUpEntry].state = h > v && y_ != 0 ? kButtonShown : kButtonHidden;
    table_[kDownEntry].state = h > v && y_ + v < h ? kButtonShown : kButtonHidden;
  }

  void draw_view() {
    fill_rect_color(0, 0, 640, 480 - 74, kColorBackground);
    if (image_) {
      const int sw = g_screen_geometry.width, v = view_height();
      const int x = image_->width < sw ? (sw - image_->width) / 2 : 0;
      const int rows = std::min(v, image_->height - y_);
      if (rows > 0) blit_pixels(*image_, 0, y_, std::min(image_->width, sw), rows, x, 0, 0, 0, sw, v);
    }
    mark_dirty(kDirtyWholeWindow);
    draw_buttons(table_);
  }

  void zoom() {
    if (mode_ == kWholePage) {
      mode_ = kFullWidth;
    } else {
      y_ = 0;
      mode_ = kWholePage;
    }
    show_zoom_button();
    if (!(mode_ == kFullWidth ? full_width_ : whole_page_)) show_generating_box();
    take_image();
    y_ = std::min(y_, last_y());
    set_arrows();
    wait_button_release(table_);
    draw_view();
    drain_button_events(table_);
  }

  const std::vector<std::uint8_t>& raster_;
  std::optional<Bitmap> full_width_, whole_page_;
  const Bitmap* image_ = nullptr;
  int mode_ = kFullWidth;
  int y_ = 0;
  ButtonRecord table_[8] = {
      make_button(425, 408, 557, 479, "\x18^vew_scrup", kUp, 294, 19),
      make_button(558, 408, 639, 479, "\x19^vew_scrdown", kDown, 296, 20),
      make_button(0, 408, 131, 479, "EXIT^glbl_exit", kExit, kEscapeKeyCode, 17),
      make_button(223, 408, 360, 479, "ZOOMIN^vew_zoomin", kZoom, 122, 13),
      make_button(0, 0, 0, 0, "HOME", kHome, 292, 9, kButtonHidden),
      make_button(0, 0, 0, 0, "END", kEnd, 291, 10, kButtonHidden),
      make_button(223, 408, 360, 479, "ZOOMOUT|vew_zoomout", kZoom, 122, 13, kButtonHidden),
      kButtonTableEnd,
  };
};

}  // namespace

int scaled_page_height(int width) { return (width * kPageHeight + kPageWidth / 2) / kPageWidth; }

Bitmap shrink_page_raster(const std::uint8_t* raster, int width) {
  const int height = scaled_page_height(width);
  Bitmap out(width, height);
  if (width <= 0 || height <= 0) return out;
  std::uint32_t palette[256] = {};
  for (int c = 0; c < kPageColours; ++c) palette[c] = page_palette_rgb(c);
  // Source columns of each target column.
  std::vector<int> column_end(static_cast<std::size_t>(width));
  for (int c = 0; c < width; ++c) column_end[c] = (c + 1) * kPageWidth / width;
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(width) * 3);
  int row_start = 0;
  // Boxes are taken in the raster's storage order (bottom-up), the target's
  // storage row r being its top-down row height - 1 - r.
  for (int r = 0; r < height; ++r) {
    const int row_end = std::min((r + 1) * kPageHeight / height, kPageHeight);
    std::fill(sums.begin(), sums.end(), 0);
    for (int sy = row_start; sy < row_end; ++sy) {
      const std::uint8_t* src = raster + static_cast<std::size_t>(sy) * kPageWidth;
      int sx = 0;
      for (int c = 0; c < width; ++c) {
        std::uint32_t* s = &sums[static_cast<std::size_t>(c) * 3];
        for (const int end = column_end[c]; sx < end; ++sx) {
          const std::uint32_t p = palette[src[sx]];
          s[0] += p >> 16;
          s[1] += (p >> 8) & 255;
          s[2] += p & 255;
        }
      }
    }
    std::uint32_t* dst = &out.at(0, height - 1 - r);
    int column_start = 0;
    for (int c = 0; c < width; ++c) {
      const int n = (column_end[c] - column_start) * (row_end - row_start);
      column_start = column_end[c];
      const std::uint32_t* s = &sums[static_cast<std::size_t>(c) * 3];
      dst[c] = n > 0 ? rgb(static_cast<int>(s[0] / n), static_cast<int>(s[1] / n), static_cast<int>(s[2] / n)) : 0;
    }
    row_start = std::max(row_start, row_end);
  }
  return out;
}

int vproc_main(int argc, char* argv[], int colour) {
  if (argc != 2) return argc;
  show_generating_box();
  const std::string path = platform::map_path(argv[1]);
  // A page that cannot be shown is said so: the operator pressed View and
  // must not be left wondering whether anything happened.
  const auto size = platform::file_size(path);
  if (!size || *size > kViewMaxFileBytes) {
    show_message_box(nullptr, "The report page cannot be read.", "View", kMbOkOnly);
    return 0;
  }
  const auto data = platform::read_file(path, static_cast<std::size_t>(*size));
  if (!data || data->size() != *size) {
    show_message_box(nullptr, "The report page cannot be read.", "View", kMbOkOnly);
    return 0;
  }
  std::vector<std::uint8_t> raster(kPageRasterBytes);
  if (render_page_description(raster.data(), data->data(), data->size(), colour) != kPageOk) {
    show_message_box(nullptr, "The report page is damaged\rand cannot be shown.", "View", kMbOkOnly);
    return 0;
  }
  ReportView(raster).run();
  return 0;
}

}  // namespace vaslab
