// Inside the page renderer: the objects that draw the page one row at a
// time.  Each starts on its start row and is then called once a row until it
// says it is done.  Every pixel write goes through the row's bounds.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vaslab/reports/page_description.h"

namespace vaslab::page {

// One page row under construction.
struct Row {
  std::uint8_t* px;  // kPageWidth pixels
  int y;             // page row

  void set(int x, int colour) const {
    if (x >= 0 && x < kPageWidth) px[x] = static_cast<std::uint8_t>(colour);
  }
  void fill(int x, int n, int colour) const;
  // Lines mark what they paint with bit 6 for the rest of the row: a second
  // line of another colour crossing it makes the pixel black.
  void line_pixel(int x, int colour) const;
};

class RenderObject {
 public:
  explicit RenderObject(int start_row) : start_row_(start_row) {}
  virtual ~RenderObject() = default;
  int start_row() const { return start_row_; }
  bool active = false;
  bool done = false;
  // Draws into this row; sets `done` after the last.
  virtual void draw(const Row& row) = 0;

 private:
  int start_row_;
};

using ObjectList = std::vector<std::unique_ptr<RenderObject>>;

// Lines: each pass of a width becomes one object (appended to `out`).
void add_line_objects(const PageLineItem& item, ObjectList& out);
// A trace entry (not empty): a plain trace, or a spectral display when the
// page has a waveform block and the entry asks for one.
std::unique_ptr<RenderObject> make_trace_object(const PageDescription& page, const PageTraceEntry& entry);

// The nine end symbols of lines, 23 rows of 3 bytes each (most significant
// bit leftmost, 23 pixels used): 1 circle, 2 square, 3 triangle up,
// 4 diamond, 5 diagonal cross, 6 upright cross, 7 diagonal cross between two
// bars, 8 triangle down, 9 bar with short bars across its ends.
const std::uint8_t* end_symbol_rows(int symbol);

}  // namespace vaslab::page
