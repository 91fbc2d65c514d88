// Unreduce: the decoder for reduced items (probabilistic follower sets in
// front of a run-length and back-reference scheme, factors 1 to 4).
#include <cstring>
#include <memory>
#include <new>

#include "ziplib/decode.h"
#include "ziplib/decode_bits.h"

namespace ziplib {
namespace {

constexpr size_t kRing = 16384;
constexpr uint8_t kDle = 0x90;

struct Reducer {
  explicit Reducer(ByteSource& in) : br(in) {}
  bool put(ByteSink& out, uint8_t c) {
    ring[pos++] = c;
    if (pos == kRing) {
      pos = 0;
      return out.put(ring, kRing);
    }
    return true;
  }
  BitReader br;
  uint8_t ring[kRing] = {};            // zeros stand for bytes before the item's start
  uint8_t followers[256][64] = {};     // never-defined followers read as zero
  uint8_t count[256] = {};
  size_t pos = 0;
};

unsigned index_bits(unsigned n) {
  unsigned bits = 1;
  while ((1u << bits) < n) ++bits;
  return bits;
}

}  // namespace

CodecResult unreduce(ByteSource& in, ByteSink& out, int factor, uint64_t size, bool host_input) {
  if (factor < 1 || factor > 4) return CodecResult::kBadCode;
  std::unique_ptr<Reducer> x(new (std::nothrow) Reducer(in));
  if (!x) return CodecResult::kNoMemory;
  BitReader& br = x->br;
  const unsigned len_mask = 0xFFu >> factor;
  const unsigned dist_shift = 8 - unsigned(factor);
  const unsigned dist_mask = (1u << factor) - 1;

  for (int b = 255; b >= 0; --b) {
    unsigned n = br.get(6);
    x->count[b] = uint8_t(n);
    for (unsigned i = 0; i < n; ++i) x->followers[b][i] = uint8_t(br.get(8));
  }
  if (br.overread()) return host_input ? CodecResult::kOk : CodecResult::kInputEnded;

  unsigned last = 0, state = 0, v = 0;
  size_t len = 0;
  uint64_t left = size;
  while (left > 0) {
    unsigned c;
    unsigned n = x->count[last];
    if (n == 0 || br.get(1)) {
      c = br.get(8);
    } else {
      c = x->followers[last][br.get(index_bits(n))];
    }
    if (br.overread()) break;
    last = c;
    switch (state) {
      case 0:
        if (c == kDle) {
          state = 1;
        } else {
          if (!x->put(out, uint8_t(c))) return CodecResult::kStopped;
          --left;
        }
        break;
      case 1:
        if (c == 0) {
          if (!x->put(out, kDle)) return CodecResult::kStopped;
          --left;
          state = 0;
        } else {
          v = c;
          len = c & len_mask;
          state = len == len_mask ? 2 : 3;
        }
        break;
      case 2:
        len += c;
        state = 3;
        break;
      default: {
        size_t dist = ((v >> dist_shift) & dist_mask) * 256 + c + 1;
        size_t from = (x->pos - dist) & (kRing - 1);
        size_t total = len + 3;
        for (size_t i = 0; i < total; ++i) {
          if (!x->put(out, x->ring[from])) return CodecResult::kStopped;
          from = (from + 1) & (kRing - 1);
        }
        left = total >= left ? 0 : left - total;
        state = 0;
        break;
      }
    }
  }
  if (left > 0 && !host_input) return CodecResult::kInputEnded;
  if (x->pos && !out.put(x->ring, x->pos)) return CodecResult::kStopped;
  return CodecResult::kOk;
}

}  // namespace ziplib
