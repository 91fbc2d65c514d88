#include "ziplib/decode.h"
namespace ziplib {
CodecResult unshrink(ByteSource&, ByteSink&, uint64_t) { return CodecResult::kBadCode; }
}
