// Unshrink on arbitrary data: no crash, no hang, the code table and stack
// stay in bounds.
//   byte 0: size in 16-byte units
#include <cstdlib>

#include "ziplib/decode.h"
#include "ziplib/output_stage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ziplib::MemorySource src(std::span<const uint8_t>(data + 1, size - 1), 7);
  ziplib::OutputSettings s;
  s.item_size = uint64_t(data[0]) * 16 + 1;
  s.work_size = 8192;
  ziplib::OutputStage stage(s);
  ziplib::ItemParams p;
  p.method = 1;
  ziplib::decode_item(p, src, stage);
  if (stage.delivered() > s.item_size) abort();
  return 0;
}
