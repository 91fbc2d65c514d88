// A program built from the ZIP library and nothing else: checksums and
// decodes a stored block and goes through the compressor's life cycle.
#include "ziplib/crc32.h"
#include "ziplib/decode.h"
#include "ziplib/ziplib.h"

#include <cstdint>
#include <cstdio>

int main() {
  const std::uint8_t stored[] = {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'};
  ziplib::MemorySource in(stored);
  ziplib::VectorSink out;
  if (ziplib::inflate(in, out, false) != ziplib::CodecResult::kOk) return 1;
  if (ziplib::crc32_of(out.bytes.data(), out.bytes.size()) != 0x352441C2u) return 2;
  if (!zipInit(nullptr) || !zipAttachThread() || !zipDetachThread() || !zipTerm()) return 3;
  std::puts("ok");
  return 0;
}
