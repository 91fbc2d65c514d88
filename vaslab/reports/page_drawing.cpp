// Lines with end symbols, waveform traces on their dotted grid, and spectral
// displays: the render objects that draw them one page row at a time.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "vaslab/reports/page_objects.h"

namespace vaslab::page {

namespace {

// --- End symbols -----------------------------------------------------------

constexpr int kSymbolSize = 23;
using SymbolRows = std::array<std::uint8_t, kSymbolSize * 3>;

constexpr int iabs(int v) { return v < 0 ? -v : v; }

// Whether pixel (x, y), 0..22 with the centre at 11, belongs to a symbol.
// Outlines are two to three pixels thick.
constexpr bool symbol_pixel(int symbol, int x, int y) {
  const int cx = x - 11, cy = y - 11;
  const bool diagonals = iabs(x - y) <= 1 || iabs(x + y - 22) <= 1;
  switch (symbol) {
    case 1: {  // circle
      const int d2 = cx * cx + cy * cy;
      return d2 <= 11 * 11 + 5 && d2 >= 8 * 8 + 10;
    }
    case 2:  // square
      return std::min(std::min(x, y), std::min(22 - x, 22 - y)) < 3;
    case 3:    // triangle pointing up: apex on row 0, base on rows 20 to 22
    case 8: {  // and pointing down
      const int r = symbol == 3 ? y : 22 - y;
      const bool outer = 2 * iabs(cx) <= r + 1;
      const bool inner = 2 * iabs(cx) <= r - 5 && r <= 19;
      return outer && !inner;
    }
    case 4: {  // diamond
      const int d = iabs(cx) + iabs(cy);
      return d <= 11 && d > 8;
    }
    case 5:  // diagonal cross
      return diagonals;
    case 6:  // upright cross
      return iabs(cx) <= 1 || iabs(cy) <= 1;
    case 7:  // diagonal cross between two upright bars
      return diagonals || x < 3 || x > 19;
    case 9:  // upright bar with short bars across its ends
      return iabs(cx) <= 1 || ((y < 3 || y > 19) && iabs(cx) <= 6);
    default:
      return false;
  }
}

constexpr std::array<SymbolRows, 10> kSymbols = [] {
  std::array<SymbolRows, 10> s{};
  for (int k = 1; k <= 9; ++k)
    for (int y = 0; y < kSymbolSize; ++y)
      for (int x = 0; x < kSymbolSize; ++x)
        if (symbol_pixel(k, x, y)) s[k][y * 3 + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  return s;
}();

// --- Lines -------------------------------------------------------------------

enum class Direction { kShallow, kDiagonalRight, kSteep, kDiagonalLeft };

// Offsets (x, y) of both ends for passes 2 to 6.
constexpr int kPassOffsets[4][5][2] = {
    {{0, 1}, {0, -1}, {0, 2}, {0, -2}, {0, 0}},      // shallow
    {{-1, 0}, {0, -1}, {-1, 1}, {1, -1}, {-2, 1}},   // diagonal, rightwards
    {{1, 0}, {-1, 0}, {2, 0}, {-2, 0}, {0, 0}},      // steep
    {{-1, 0}, {0, 1}, {-1, -1}, {1, 1}, {-2, -1}},   // diagonal, leftwards
};

Direction direction_of(int x1, int y1, int x2, int y2) {
  const int dx = std::abs(x2 - x1), dy = y2 - y1;
  if (dy < dx && dy <= dx * 414 / 1000) return Direction::kShallow;
  if (dy >= dx && dy >= dx * 2414 / 1000) return Direction::kSteep;
  return x2 >= x1 ? Direction::kDiagonalRight : Direction::kDiagonalLeft;
}

struct Clip {
  int left, top, right, bottom;
};

struct SymbolState {
  const std::uint8_t* rows = nullptr;
  int left = 0, first_row = 0, row = kSymbolSize;  // row 23: finished
};

// One pass of a line: a run of pixels a row, the x stepping by (dx + 1) /
// rows with an error accumulator, so that the last row ends exactly on x2.
class LineObject : public RenderObject {
 public:
  LineObject(int start_row, int x, int first_row, int last_row, int step, int remainder, int rows, int error,
             int dir, const Clip& clip, int colour)
      : RenderObject(start_row), x_(x), row_(first_row), last_row_(last_row), step_(step),
        remainder_(remainder), rows_(rows), error_(error), dir_(dir), clip_(clip), colour_(colour) {}

  void add_symbol(int symbol, int end_x, int end_y) {
    if (symbol < 1 || symbol > 9) return;
    SymbolState& s = symbols_[symbols_[0].rows ? 1 : 0];
    s.rows = kSymbols[static_cast<std::size_t>(symbol)].data();
    s.left = end_x - 11;
    s.first_row = end_y - 11;
    s.row = 0;
  }

  void draw(const Row& row) override {
    if (row.y == row_ && row_ <= last_row_) {
      const int n = next_step();
      for (int i = 0; i < std::max(n, 1); ++i) {
        const int px = x_ + dir_ * i;
        if (px >= clip_.left && px <= clip_.right) row.line_pixel(px, colour_);
      }
      x_ += dir_ * n;
      ++row_;
    }
    bool symbols_done = true;
    for (SymbolState& s : symbols_) {
      if (s.row >= kSymbolSize) continue;
      if (row.y >= s.first_row) {
        const std::uint8_t* bits = s.rows + 3 * s.row;
        for (int i = 0; i < kSymbolSize; ++i)
          if (bits[i / 8] & (0x80 >> (i % 8))) row.line_pixel(s.left + i, colour_);
        ++s.row;
      }
      symbols_done &= s.row >= kSymbolSize;
    }
    if (symbols_done && row.y >= last_row_) done = true;
  }

  // The whole-pixel step from this row to the next.
  int next_step() {
    int n = step_;
    if (error_ >= rows_) {
      ++n;
      error_ -= rows_;
    }
    error_ += remainder_;
    return n;
  }
  // Rows above the clip are stepped through without drawing.
  void skip_to(int first_row) {
    for (; row_ < first_row; ++row_) x_ += dir_ * next_step();
  }

 private:
  int x_, row_, last_row_;
  int step_, remainder_, rows_, error_;
  int dir_;
  Clip clip_;
  int colour_;
  SymbolState symbols_[2];
};

std::unique_ptr<LineObject> make_pass(int x1, int y1, int x2, int y2, const Clip& clip, int colour) {
  const int first = std::max(y1, clip.top), last = std::min(y2, clip.bottom);
  if (first > last) return nullptr;
  if (std::max(x1, x2) < clip.left || std::min(x1, x2) > clip.right) return nullptr;
  const int dx = std::abs(x2 - x1), rows = y2 - y1 + 1;
  const int step = (dx + 1) / rows, remainder = (dx + 1) % rows;
  auto line = std::make_unique<LineObject>(first - 11, x1, y1, last, step, remainder, rows, remainder,
                                           x2 >= x1 ? 1 : -1, clip, colour);
  line->skip_to(first);
  return line;
}

// --- Traces ----------------------------------------------------------------

constexpr std::uint8_t kRowSchedule[40] = {255, 1,   7,   13,  19,  26,  32,  38,  45,  51,
                                           58,  64,  70,  77,  83,  90,  96,  102, 109, 115,
                                           122, 128, 134, 141, 147, 154, 160, 166, 173, 179,
                                           186, 192, 198, 205, 211, 218, 224, 230, 236, 243};
constexpr std::uint8_t kPatternCycle[59] = {4, 4, 3, 3, 4, 4, 3, 3, 4, 4, 3, 2, 4, 4, 3, 3, 4, 4, 3, 3,
                                            4, 4, 3, 2, 4, 4, 3, 3, 4, 4, 3, 3, 4, 4, 2, 3, 4, 4, 3, 3,
                                            4, 4, 3, 3, 4, 4, 2, 3, 4, 4, 3, 3, 4, 4, 3, 3, 4, 4, 1};
constexpr std::int16_t kMajorDots[31] = {0,    59,   118,  177,  236,  295,  354,  413,  472,  531, 590,
                                         650,  709,  768,  827,  886,  945,  1004, 1063, 1123, 1182, 1241,
                                         1300, 1359, 1418, 1477, 1536, 1595, 1654, 1714, 1773};
constexpr std::int16_t kMinorDots[151] = {
    0,    11,   23,   35,   47,   59,   70,   82,   94,   106,  118,  130,  141,  153,  165,  177,
    189,  200,  212,  224,  236,  248,  260,  271,  283,  295,  307,  319,  330,  342,  354,  366,
    378,  390,  401,  413,  425,  437,  449,  460,  472,  484,  496,  508,  520,  531,  543,  555,
    567,  579,  590,  602,  614,  626,  638,  650,  661,  673,  685,  697,  709,  721,  732,  744,
    756,  768,  780,  791,  803,  815,  827,  839,  851,  862,  874,  886,  898,  910,  921,  933,
    945,  957,  969,  981,  992,  1004, 1016, 1028, 1040, 1051, 1063, 1075, 1087, 1099, 1111, 1123,
    1134, 1146, 1158, 1170, 1182, 1194, 1205, 1217, 1229, 1241, 1253, 1265, 1276, 1288, 1300, 1312,
    1324, 1336, 1347, 1359, 1371, 1383, 1395, 1407, 1418, 1430, 1442, 1454, 1466, 1477, 1489, 1501,
    1513, 1525, 1536, 1548, 1560, 1572, 1584, 1595, 1607, 1619, 1631, 1643, 1654, 1666, 1678, 1690,
    1702, 1714, 1725, 1737, 1749, 1761, 1773};

// A stretch of samples widened three times: s, s + d, s + 2d with d a third
// of the way to the next sample (truncated), then the last sample once.
std::vector<std::uint8_t> widen(const std::uint8_t* s, int count) {
  std::vector<std::uint8_t> v;
  v.reserve(static_cast<std::size_t>(3 * count));
  for (int i = 0; i + 1 < count; ++i) {
    const int d = (s[i + 1] - s[i]) / 3;
    for (int k = 0; k < 3; ++k) v.push_back(static_cast<std::uint8_t>(s[i] + k * d));
  }
  v.push_back(s[count - 1]);
  return v;
}

// The curve at level L: three pixels from each column whose step from the
// previous column reaches L.  A flat step is drawn on its own level, and on
// a row that repeats a level also one level lower.
void draw_curve(const Row& row, int x, const std::vector<std::uint8_t>& v, int level, bool repeat) {
  for (std::size_t c = 1; c < v.size(); ++c) {
    const int p = v[c], w = v[c - 1];
    const bool hit = p == w ? (level == p || (repeat && level == p - 1))
                            : level > std::min(p, w) && level <= std::max(p, w);
    if (hit) row.fill(x + static_cast<int>(c), 3, 0);
  }
}

// What plain traces and spectra share: place, stretch and the widened
// samples.
struct TraceBase {
  TraceBase(const PageDescription& page, const PageTraceEntry& e)
      : header(page.header), x(e.x), count(e.count), start(e.start), flags(e.flags),
        level(e.flags & 4 ? e.level : -1) {}
  int span() const { return 3 * count; }

  const PageDescriptionHeader& header;
  int x, count, start, flags, level;
};

class PlainTrace : public RenderObject, TraceBase {
 public:
  PlainTrace(const PageDescription& page, const PageTraceEntry& e)
      : RenderObject(e.y), TraceBase(page, e), points_{e.first_point, e.second_point} {
    std::copy(std::begin(kRowSchedule), std::end(kRowSchedule), schedule_);
    // The level line gets its two rows: a schedule entry on it moves down.
    for (int i = 1; i < 40; ++i)
      if (schedule_[i] == level) --schedule_[i];
  }

  void draw(const Row& row) override {
    if (values_.empty()) values_ = widen(header.samples + start, count);
    const bool level_ends = L_ == 0 || second_row_ || (schedule_index_ > 0 && schedule_[schedule_index_] == L_);
    if (L_ == level) {
      row.fill(x, span(), 0);
    } else {
      if (!(flags & 8)) pattern(row, kPatternCycle[pattern_index_]);
      draw_curve(row, x, values_, L_, repeat_);
    }
    for (int p : points_)
      if (p >= 0 && p < count) row.fill(x + 3 * p, 3, 0);
    if (rows_drawn_ < 2 || L_ == 0 || (L_ == 1 && level_ends)) mark_flagged(row);

    ++rows_drawn_;
    pattern_index_ = pattern_index_ == 0 ? 58 : pattern_index_ - 1;
    if (L_ == 0) {
      done = true;
    } else if (!second_row_ && schedule_index_ > 0 && schedule_[schedule_index_] == L_) {
      // A level of the schedule takes one row; the next level's first row
      // repeats it for flat steps.
      --schedule_index_;
      --L_;
      repeat_ = true;
    } else if (!second_row_) {
      second_row_ = true;
      repeat_ = false;
    } else {
      second_row_ = false;
      repeat_ = false;
      --L_;
    }
  }

 private:
  void pattern(const Row& row, int type) const {
    const int n = span();
    auto dots = [&](const std::int16_t* pos, int count) {
      for (int i = 0; i < count && pos[i] < n; ++i) row.set(x + pos[i], 1);
    };
    switch (type) {
      case 1:
        for (int k = 0; 4 * k < n; ++k) {
          row.set(x + 4 * k, 1);
          if (4 * k + 1 < n) row.set(x + 4 * k + 1, 1);
        }
        break;
      case 0: case 2: dots(kMinorDots, 151); break;
      case 3: dots(kMajorDots, 31); break;
      default: break;
    }
  }

  // Flagged samples show red where the trace is drawn.
  void mark_flagged(const Row& row) const {
    for (int i = 0; i < count; ++i) {
      if (!sample_flag(header, start + i)) continue;
      for (int k = 0; k < 3; ++k) {
        const int px = x + 3 * i + k;
        if (px >= 0 && px < kPageWidth && row.px[px] == 0) row.px[px] = 4;
      }
    }
  }

  int points_[2];
  std::uint8_t schedule_[40];
  std::vector<std::uint8_t> values_;
  int L_ = 255, schedule_index_ = 39, pattern_index_ = 58, rows_drawn_ = 0;
  bool second_row_ = false, repeat_ = false;
};

constexpr int kSpectrumRows = 468;

class SpectrumTrace : public RenderObject, TraceBase {
 public:
  SpectrumTrace(const PageDescription& page, const PageTraceEntry& e)
      : RenderObject(e.y), TraceBase(page, e), wave_(*page.waveform), base_(e.flags & 0x20 ? 8 : 24) {}

  void draw(const Row& row) override {
    if (R_ == kSpectrumRows - 1) {
      upper_ = widen(wave_.upper + start, count);
      lower_ = widen(wave_.lower + start, count);
      samples_ = widen(header.samples + start, count);
    }
    const int n = span(), right = x + n - 1;
    row.fill(x, n, base_);
    if (R_ == 0 && !(flags & 8))
      for (int k = 0; 4 * k < n; ++k) {
        row.set(x + 4 * k, 1);
        if (4 * k + 3 < n) row.set(x + 4 * k + 3, 1);
      }
    if (R_ != kSpectrumRows - 1 && (R_ % 4 == 0 || R_ % 4 == 3)) {
      row.set(x, 1);
      row.set(right, 1);
    }
    if ((10 * R_ + 10) % 585 < 10)
      for (int o = 1; o <= 21; o += 4)
        for (int k = 0; k < 2; ++k) {
          row.set(x + o + k, 1);
          row.set(right - o - k, 1);
        }
    if (level >= 0 && R_ / 2 == level) row.fill(x, n, 2);
    if (flags & 0x10) {
      const int k = kSpectrumRows - 1 - R_;
      const int byte = kSpectrumBins - 1 - k / 6;
      const bool high = k % 6 >= 3;
      for (int i = 0; i < count; ++i) {
        const int v = wave_.spectra[start + i][byte];
        const int intensity = high ? v >> 4 : v & 15;
        if (intensity) row.fill(x + 3 * i, 3, base_ + intensity);
      }
    }
    if (flags & 0x40) {
      draw_curve(row, x, upper_, R_ / 2, false);
      draw_curve(row, x, lower_, R_ / 2, false);
    }
    if (flags & 0x80) draw_curve(row, x, samples_, R_ / 2, false);
    if (R_-- == 0) done = true;
  }

 private:
  const PageWaveformBlock& wave_;
  int base_;
  int R_ = kSpectrumRows - 1;
  std::vector<std::uint8_t> upper_, lower_, samples_;
};

}  // namespace

const std::uint8_t* end_symbol_rows(int symbol) {
  return symbol >= 1 && symbol <= 9 ? kSymbols[static_cast<std::size_t>(symbol)].data() : nullptr;
}

void add_line_objects(const PageLineItem& item, ObjectList& out) {
  const int x1 = item.x1, y1 = item.y1, x2 = item.x2, y2 = item.y2;
  int colour_index = item.style & 0x0F;
  if (colour_index & 8) colour_index = 7;
  const int colour = page_colour(colour_index);
  const int width = std::clamp((item.style >> 4) & 7, 1, 5);
  const Direction dir = direction_of(x1, y1, x2, y2);
  const bool diagonal = dir == Direction::kDiagonalRight || dir == Direction::kDiagonalLeft;
  const int passes = width + (diagonal && width >= 4 ? 1 : 0);
  const int grow = width >= 4 ? 2 : width >= 2 ? 1 : 0;
  const Clip clip{item.clip_left - grow, item.clip_top - grow, item.clip_right + grow, item.clip_bottom + grow};

  for (int pass = 1; pass <= passes; ++pass) {
    int ox = 0, oy = 0;
    if (pass > 1) {
      ox = kPassOffsets[static_cast<int>(dir)][pass - 2][0];
      oy = kPassOffsets[static_cast<int>(dir)][pass - 2][1];
    }
    auto line = make_pass(x1 + ox, y1 + oy, x2 + ox, y2 + oy, clip, colour);
    if (!line) continue;
    if (pass == 1) {
      line->add_symbol(item.symbols >> 4, x1, y1);
      line->add_symbol(item.symbols & 0x0F, x2, y2);
    }
    out.push_back(std::move(line));
  }
}

std::unique_ptr<RenderObject> make_trace_object(const PageDescription& page, const PageTraceEntry& entry) {
  if (page.waveform && (entry.flags & 0x50)) return std::make_unique<SpectrumTrace>(page, entry);
  return std::make_unique<PlainTrace>(page, entry);
}

}  // namespace vaslab::page
