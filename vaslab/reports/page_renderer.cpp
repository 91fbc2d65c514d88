#include "vaslab/reports/page_renderer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_fonts.h"
#include "vaslab/reports/page_objects.h"

namespace vaslab {

namespace page {

void Row::fill(int x, int n, int colour) const {
  const int from = std::max(x, 0), to = std::min(x + n, kPageWidth);
  if (from < to) std::memset(px + from, colour, static_cast<std::size_t>(to - from));
}

void Row::line_pixel(int x, int colour) const {
  if (x < 0 || x >= kPageWidth) return;
  std::uint8_t& p = px[x];
  if (!(p & 0x40))
    p = static_cast<std::uint8_t>(colour | 0x40);
  else if ((p & 0x3F) != colour && (p & 0x3F) != 0)
    p = 0x40;
}

}  // namespace page

namespace {

using page::ObjectList;
using page::RenderObject;
using page::Row;

// A text: 50 glyph rows from its start row.  Colour switches (bytes 1..7)
// take no room; every other character moves the pen by the character width.
// The pen stops at the last column, so a text running off the right edge
// piles its remaining pixels there.
class TextObject : public RenderObject {
 public:
  TextObject(std::string text, int attribute, int x, int y, std::span<const std::uint8_t> font)
      : RenderObject(y), text_(std::move(text)), attribute_(attribute), x_(x), font_(font) {}

  void draw(const Row& row) override {
    const int width = page_font_width(attribute_ & 3);
    const bool underline = (attribute_ & 0x40) && glyph_row_ == kPageUnderlineRow;
    int colour = page_colour((attribute_ >> 2) & 7);
    int pen = x_;
    for (unsigned char c : text_) {
      if (c >= 1 && c <= 7) {
        colour = page_colour(c);
        continue;
      }
      std::uint32_t bits = 0;
      if (c >= 32 && font_.size() == kPageFontBytes) {
        const std::uint8_t* g = font_.data() + (c - 32) * 256 + 4 * glyph_row_;
        bits = (std::uint32_t{g[0]} << 24) | (g[1] << 16) | (g[2] << 8) | g[3];
      }
      if (underline) bits = 0xFFFFFFFFu;
      for (int i = 0; i < width; ++i)
        if (bits & (0x80000000u >> i)) row.set(std::min(pen + i, kPageWidth - 1), colour);
      pen = std::min(pen + width, kPageWidth - 1);
    }
    if (++glyph_row_ == kPageFontRows) done = true;
  }

 private:
  std::string text_;
  int attribute_, x_;
  std::span<const std::uint8_t> font_;
  int glyph_row_ = 0;
};

// A text handed to an output that sets it itself, on its start row.
class OutputTextObject : public RenderObject {
 public:
  OutputTextObject(std::string text, int attribute, int x, int y, PageOutput& out)
      : RenderObject(y), text_(std::move(text)), attribute_(attribute), x_(x), out_(out) {}
  void draw(const Row& row) override {
    out_.text(text_, attribute_, x_, row.y);
    done = true;
  }

 private:
  std::string text_;
  int attribute_, x_;
  PageOutput& out_;
};

struct PicturePlacement {
  int x = 0, y = 0;
  int mirror = 0, gap = 0;
  int source_x = 0, source_rows = 0;
  int draw_width = 0, draw_height = 0;
};

// A run-length picture, one decoded row a page row.
class PictureObject : public RenderObject {
 public:
  PictureObject(std::span<const std::uint8_t> file, const PicturePlacement& p)
      : RenderObject(p.y), reader_(file), p_(p), pixels_(static_cast<std::size_t>(std::max(p.draw_width, 0))) {}

  void draw(const Row& row) override {
    if (first_) {
      first_ = false;
      for (int i = 0; i < p_.source_rows; ++i)
        if (!reader_.skip_row()) return finish();
    }
    if (drawn_ >= p_.draw_height) return finish();
    const int n = reader_.read_row(p_.source_x, p_.draw_width, pixels_.data());
    if (n < 0) return finish();
    for (int i = 0; i < n; ++i) {
      if (p_.mirror == 2)
        row.set(p_.x - i, pixels_[i]);
      else
        row.set(p_.x + i, pixels_[i]);
      if (p_.mirror == 1) row.set(p_.x - p_.gap - 1 - i, pixels_[i]);
    }
    if (++drawn_ >= p_.draw_height) finish();
  }

 private:
  void finish() { done = true; }

  PictureReader reader_;
  PicturePlacement p_;
  std::vector<std::uint8_t> pixels_;
  bool first_ = true;
  int drawn_ = 0;
};

// Writes the rows bottom-up into a caller's raster.
class RasterOutput : public PageOutput {
 public:
  RasterOutput(std::uint8_t* raster, bool colour) : raster_(raster), colour_(colour) {}
  bool open() override {
    next_ = kPageHeight - 1;
    return true;
  }
  bool draws_text() const override { return true; }
  void text(std::string_view, int, int, int) override {}
  void row(const std::uint8_t* px) override {
    if (next_ < 0) return;
    std::uint8_t* out = raster_ + static_cast<std::size_t>(next_--) * kPageWidth;
    if (colour_) {
      std::memcpy(out, px, kPageWidth);
      return;
    }
    for (int x = 0; x < kPageWidth; ++x) {
      const int v = px[x];
      out[x] = static_cast<std::uint8_t>(v < 7 ? 0 : v < 24 ? v : v - 16);
    }
  }
  void close() override {}

 private:
  std::uint8_t* raster_;
  bool colour_;
  int next_ = kPageHeight - 1;
};

// One rendering: the page, its five object lists and the loader's cache.
class Renderer {
 public:
  Renderer(const PageDescription& page, PageOutput& out) : page_(page), out_(out) {}

  void build() {
    add_logo();
    add_header();
    add_pressures();
    add_traces();
    for (const PageTextItem& t : page_.text_items)
      add_text(std::string(pool_text(page_, t.text)), t.attribute, t.x, t.y);
    for (const PageGraphicItem& g : page_.graphic_items) add_graphic(g);
    for (const PageLineItem& l : page_.lines) page::add_line_objects(l, lines_);
    // Stable: objects on one row keep their build order, so where two
    // overlap the later one wins on every run.
    for (ObjectList* list : {&pictures_, &frames_, &traces_, &lines_, &texts_})
      std::stable_sort(list->begin(), list->end(),
                       [](const auto& a, const auto& b) { return a->start_row() < b->start_row(); });
  }

  void run() {
    std::array<std::uint8_t, kPageWidth> px;
    ObjectList* const draw_order[] = {&pictures_, &frames_, &traces_, &lines_, &texts_};
    std::size_t heads[5] = {};
    for (int y = 0; y < kPageHeight; ++y) {
      px.fill(7);
      const Row row{px.data(), y};
      for (int i = 0; i < 5; ++i) {
        ObjectList& list = *draw_order[i];
        std::size_t& head = heads[i];
        while (head < list.size() && list[head]->done) ++head;
        for (std::size_t k = head; k < list.size(); ++k) {
          RenderObject& o = *list[k];
          if (o.done) continue;
          if (!o.active) {
            if (o.start_row() > y) break;
            if (o.start_row() != y) continue;
            o.active = true;
          }
          o.draw(row);
        }
      }
      for (auto& p : px) p &= static_cast<std::uint8_t>(~0x40);
      out_.row(px.data());
    }
  }

 private:
  std::span<const std::uint8_t> font(int attribute) {
    return loader_.load(page_font_name(attribute & 3, attribute & 0x20), kPageFontBytes);
  }

  void add_text(std::string text, int attribute, int x, int y) {
    if (text.empty()) return;
    if (out_.draws_text())
      texts_.push_back(std::make_unique<TextObject>(std::move(text), attribute, x, y, font(attribute)));
    else
      texts_.push_back(std::make_unique<OutputTextObject>(std::move(text), attribute, x, y, out_));
  }

  void add_picture(std::span<const std::uint8_t> file, const PicturePlacement& p, ObjectList& list) {
    if (file.empty() || p.draw_width <= 0 || p.draw_height <= 0) return;
    list.push_back(std::make_unique<PictureObject>(file, p));
  }

  // The logo, centred in the 300 by 200 box at the top right.
  void add_logo() {
    const auto file = loader_.load("hdrlogo.gph");
    const PictureReader r(file);
    if (!r.valid()) return;
    PicturePlacement p;
    p.draw_width = std::min(r.width(), 300);
    p.draw_height = std::min(r.height(), 200);
    p.x = 2100 + (300 - p.draw_width) / 2;
    p.y = (200 - p.draw_height) / 2;
    add_picture(file, p, pictures_);
  }

  void add_header() {
    const PageDescriptionHeader& h = page_.header;
    constexpr int kAttr = 28;
    const struct {
      const char* label;
      const char* value;
      std::size_t size;
    } pairs[] = {{"     Name: ", h.patient_name, sizeof h.patient_name},
                 {"     ID #: ", h.patient_id, sizeof h.patient_id},
                 {"Exam Date: ", h.exam_date, sizeof h.exam_date}};
    constexpr int kValueX = 330, kRightX = 1230;
    // At least two characters of white before the right-hand column: a
    // name that ran up to the study title would read as one text with it.
    constexpr int kGap = 2 * 30;
    const char* right[] = {h.title, h.right_line_2, h.right_line_3, h.right_line_4};
    for (int i = 0; i < 3; ++i) {
      if (!*pairs[i].value) continue;
      add_text(pairs[i].label, kAttr, 0, 50 * i);
      // A value too long for its room beside a right-hand text is set in
      // the next smaller face, which holds every value the header stores.
      const std::string value(pairs[i].value, strnlen(pairs[i].value, pairs[i].size));
      const int room = *right[i] ? kRightX - kGap - kValueX : kPageWidth - kValueX;
      int attr = kAttr;
      if (static_cast<int>(value.size()) * page_font_width(attr & 3) > room) attr = kAttr | 1;
      add_text(value, attr, kValueX, 50 * i);
    }
    add_text(h.left_line_4, kAttr, 0, 150);
    for (int i = 0; i < 4; ++i) add_text(right[i], kAttr, kRightX, 50 * i);
  }

  void add_pressures() {
    for (const PagePressureValue& v : page_.header.pressures) {
      if ((v.x == 0 && v.y == 0) || (v.flags & 4)) continue;
      const std::string text(v.text, strnlen(v.text, sizeof v.text));
      const int len = static_cast<int>(text.size());
      if (v.flags & 1) {
        PicturePlacement p;
        p.x = std::max(v.x - 19, 0);
        p.y = std::max(v.y - 11, 0);
        p.draw_width = 138;
        p.draw_height = 72;
        add_picture(pressure_frame_picture(), p, frames_);
      }
      const int x = (v.flags & 2) ? v.x : v.x + 100 - 30 * len;
      add_text(text, len > 3 ? 29 : 28, x, v.y);
    }
  }

  void add_traces() {
    const PageDescriptionHeader& h = page_.header;
    for (const PageTraceEntry& t : h.traces) {
      if (t.x == 0 && t.y == 0) continue;
      traces_.push_back(page::make_trace_object(page_, t));
      add_text(std::string(trace_label(h, t.label_1)), 28, t.x, t.y + 478);
      add_text(std::string(trace_label(h, t.label_2)), 28, t.x, t.y + 528);
    }
  }

  void add_graphic(const PageGraphicItem& g) {
    const std::string name(g.picture, strnlen(g.picture, sizeof g.picture));
    PicturePlacement p;
    p.x = g.x;
    p.y = g.y;
    p.mirror = g.mirror;
    p.gap = g.gap;
    p.source_x = g.source_x;
    p.source_rows = g.source_rows;
    p.draw_width = g.draw_width;
    p.draw_height = g.draw_height;
    add_picture(loader_.load(name), p, pictures_);
  }

  const PageDescription& page_;
  PageOutput& out_;
  PageFileLoader loader_;
  ObjectList pictures_, frames_, traces_, lines_, texts_;
};

}  // namespace

std::uint32_t page_palette_rgb(int colour) {
  static constexpr std::array<std::uint32_t, kPageColours> kPalette = [] {
    std::array<std::uint32_t, kPageColours> p{};
    for (int c = 0; c < 8; ++c)
      p[c] = (c & 4 ? 0xFF0000u : 0) | (c & 2 ? 0x00FF00u : 0) | (c & 1 ? 0x0000FFu : 0);
    p[8] = 0xFFFFFF;
    for (int c = 9; c <= 22; ++c) {
      const std::uint32_t g = static_cast<std::uint32_t>(224 - 16 * (c - 9));
      p[c] = g << 16 | g << 8 | g;
    }
    p[23] = 0;
    p[24] = 0xFFFFFF;
    constexpr std::uint32_t kRamp[15] = {0x0000FF, 0x008EFF, 0x00C6FF, 0x00FFFF, 0x00FFAA,
                                         0x00FF00, 0xC6FF00, 0xFFFF00, 0xFFD700, 0xFFB000,
                                         0xFF9500, 0xFF7900, 0xFF3C00, 0xFF0000, 0xFF0000};
    for (int i = 0; i < 15; ++i) p[25 + i] = kRamp[i];
    return p;
  }();
  return colour >= 0 && colour < kPageColours ? kPalette[static_cast<std::size_t>(colour)] : 0;
}

int render_page(const std::uint8_t* data, std::size_t size, PageOutput& output) {
  PageDescription page;
  const int read = read_page_description(data, size, page);
  if (read != kPageOk) return read;
  if (!output.open()) return kPageOutputFailed;
  {
    Renderer r(page, output);
    r.build();
    r.run();
  }
  output.close();
  return kPageOk;
}

int render_page_description(std::uint8_t* raster, const std::uint8_t* data, std::size_t size, int colour) {
  if (raster) {
    RasterOutput out(raster, colour != 0);
    return render_page(data, size, out);
  }
  // The page is still read first, so a damaged file reports as such.
  struct NoOutput : PageOutput {
    bool open() override { return false; }
    bool draws_text() const override { return false; }
    void text(std::string_view, int, int, int) override {}
    void row(const std::uint8_t*) override {}
    void close() override {}
  } none;
  return render_page(data, size, none);
}

}  // namespace vaslab
