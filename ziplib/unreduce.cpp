#include "ziplib/decode.h"
namespace ziplib {
CodecResult unreduce(ByteSource&, ByteSink&, int, uint64_t, bool) { return CodecResult::kBadCode; }
}
