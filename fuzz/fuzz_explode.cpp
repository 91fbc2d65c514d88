// Explode on arbitrary data: no crash, no hang, never more than the item.
//   byte 0: general purpose flags (bits 1 and 2); byte 1: size in 64-byte units
#include <cstdlib>

#include "ziplib/decode.h"
#include "ziplib/output_stage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ziplib::MemorySource src(std::span<const uint8_t>(data + 2, size - 2), 7);
  ziplib::OutputSettings s;
  s.item_size = uint64_t(data[1]) * 64 + 1;
  s.work_size = 8192;
  ziplib::OutputStage stage(s);
  ziplib::ItemParams p;
  p.method = 6;
  p.flags = data[0] & 6;
  p.host_input = data[0] & 1;
  ziplib::decode_item(p, src, stage);
  if (stage.delivered() > s.item_size) abort();
  return 0;
}
