// Unreduce on arbitrary data, every factor: no crash, no hang.
//   byte 0: factor (low 2 bits + 1); byte 1: size in 64-byte units
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
  p.method = 2 + (data[0] & 3);
  p.host_input = data[0] & 4;
  ziplib::decode_item(p, src, stage);
  if (stage.delivered() > s.item_size) abort();
  return 0;
}
