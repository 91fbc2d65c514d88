#include "ziplib/decode.h"
namespace ziplib {
CodecResult explode(ByteSource&, ByteSink&, uint16_t, uint64_t, bool) { return CodecResult::kBadCode; }
}
