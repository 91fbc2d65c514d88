// A report page file of any bytes.  Whatever the reader accepts must be safe
// to draw from: every text ends inside its field or pool, every trace stretch
// lies inside the samples, and writing it out and reading it again gives the
// same page.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vaslab/reports/page_description.h"

using namespace vaslab;

namespace {

template <std::size_t N>
bool ended(const char (&text)[N]) {
  return std::memchr(text, 0, N) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PageDescription d;
  if (read_page_description(data, size, d) != kPageOk) return 0;
  const PageDescriptionHeader& h = d.header;
  if (!ended(h.title) || !ended(h.left_line_4) || !ended(h.exam_date)) abort();
  unsigned sum = 0;
  for (const PageTraceEntry& t : h.traces) {
    if (t.start < 0 || t.count < 2 || t.start + t.count > kTraceSampleCount) abort();
    if (t.x < 0 || t.x >= kPageWidth || t.y < 0 || t.y >= kPageHeight) abort();
    for (int i = t.start; i < t.start + t.count; ++i) {
      sum += h.samples[i] + sample_flag(h, i);
      if (d.waveform) sum += d.waveform->upper[i] + d.waveform->spectra[i][77];
    }
    sum += trace_label(h, t.label_1).size() + trace_label(h, t.label_2).size();
  }
  for (const PageTextItem& t : d.text_items) sum += pool_text(d, t.text).size();
  for (const PageLineItem& l : d.lines) {
    if (l.x1 < 0 || l.x2 >= kPageWidth || l.y1 > l.y2 || l.clip_left > l.clip_right) abort();
  }
  for (const PageGraphicItem& g : d.graphic_items) {
    if (!ended(g.picture) || g.draw_width < 0 || g.draw_width > kPageWidth) abort();
  }

  std::vector<std::uint8_t> built = build_page_description(d);
  PageDescription again;
  if (read_page_description(built.data(), built.size(), again) != kPageOk) abort();
  if (again.lines.size() != d.lines.size() || again.text_items.size() != d.text_items.size() ||
      again.graphic_items.size() != d.graphic_items.size() || !again.waveform != !d.waveform)
    abort();
  if (sum == 0xFFFFFFFFu) abort();
  return 0;
}
