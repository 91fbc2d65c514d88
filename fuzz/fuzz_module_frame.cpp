// Any bytes from the measuring module's serial line through the frame
// readers.  The first byte chooses the reader (bit 0: the alignment screen's
// raw frames), whether samples go through the filter (bit 1) and which
// filter (the rest).  A complete frame carries a header with bit 7 set, 9-bit
// pressures and 14-bit waveform values; the waveform sample it gives goes
// into a page's ring without leaving it.
#include <cstdlib>
#include <memory>

#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/study_page.h"

using namespace vaslab;

namespace {

struct LineBytes : ModuleBytes {
  const uint8_t* p = nullptr;
  size_t left = 0;
  void send(int) override {}
  std::uint16_t receive() override {
    if (!left) return 0xFFFF;
    --left;
    return *p++;
  }
  void drain() override { left = 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  LineBytes line;
  line.p = data + 1;
  line.left = size - 1;
  set_module_bytes(&line);
  static auto page = std::make_unique<StudyPage>();
  *page = StudyPage{};
  IirLowPass filter;
  select_filter(2 + data[0] % 4, data[0] >> 4, filter);
  const bool raw = data[0] & 1;
  FrameReader r;
  while (raw ? read_raw_frame(r) : read_frame(r)) {
    if (!(r.header & 0x80)) abort();
    if (!raw && ((r.header >> 4) & 7) != kFrameType0) abort();
    if (r.value[0] < 0 || r.value[0] > 511 || r.value[1] < 0 || r.value[1] > 511) abort();
    if (r.value[2] < 0 || r.value[2] > 16383 || r.value[3] < 0 || r.value[3] > 16383) abort();
    const bool filtered = (data[0] & 2) && filter.mode != 0;
    const int sample = take_waveform_sample(*page, r.value[2], filtered ? &filter : nullptr);
    if (sample < -1 || (filtered && sample > 257)) abort();
    if (page->newest < 0 || page->newest >= kRingSamples || page->count < 0 || page->count > kRingSamples) abort();
  }
  set_module_bytes(nullptr);
  return 0;
}
