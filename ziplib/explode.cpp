// Explode: the decoder for imploded items (LZ77 with Shannon-Fano coded
// lengths and distances, optional literal tree).
#include <cstring>
#include <memory>
#include <new>

#include "ziplib/decode.h"
#include "ziplib/decode_bits.h"
#include "ziplib/inflate_tables.h"

namespace ziplib {
namespace {

constexpr unsigned kLitRoot = 9;
constexpr unsigned kTreeRoot = 7;
constexpr size_t kLitCap = table_capacity(256, kLitRoot, kMaxCodeBits);
constexpr size_t kTreeCap = table_capacity(64, kTreeRoot, kMaxCodeBits);
constexpr size_t kWindow = 32768;

struct Exploder {
  explicit Exploder(ByteSource& in) : br(in) {}

  // Reads one tree description: a count byte, then (repeat-1, length-1)
  // nibble pairs, which must describe exactly n code lengths.
  CodecResult read_tree(unsigned n, unsigned root, HuffEntry* table, size_t capacity) {
    uint8_t lens[256];
    unsigned bytes = br.get(8) + 1;
    unsigned k = 0;
    for (unsigned i = 0; i < bytes; ++i) {
      unsigned b = br.get(8);
      unsigned rep = (b >> 4) + 1, len = (b & 15) + 1;
      if (k + rep > n) return CodecResult::kBadTree;
      std::memset(lens + k, int(len), rep);
      k += rep;
    }
    if (br.overread()) return CodecResult::kInputEnded;
    if (k != n) return CodecResult::kBadTree;
    TableResult r = build_table(lens, n, nullptr, root, table, capacity);
    return r == TableResult::kComplete || r == TableResult::kSingle ? CodecResult::kOk
                                                                     : CodecResult::kBadCode;
  }

  // Codes are stored complemented.
  int decode(const HuffEntry* t, unsigned root) {
    br.need(kMaxCodeBits);
    uint64_t bits = ~br.buf;
    HuffEntry e = t[bits & ((1u << root) - 1)];
    if (e.op & kOpSub) e = t[e.val + ((bits >> root) & ((1u << (e.op & 15)) - 1))];
    if (e.op != kOpLiteral) return -1;
    br.drop(e.bits);
    return e.val;
  }

  bool put(ByteSink& out, uint8_t c) {
    window[pos++] = c;
    if (pos == kWindow) {
      pos = 0;
      return out.put(window, kWindow);
    }
    return true;
  }

  BitReader br;
  HuffEntry lit[kLitCap];
  HuffEntry len[kTreeCap];
  HuffEntry dist[kTreeCap];
  uint8_t window[kWindow] = {};  // zeros stand for bytes before the item's start
  size_t pos = 0;
};

}  // namespace

CodecResult explode(ByteSource& in, ByteSink& out, uint16_t flags, uint64_t size, bool host_input) {
  std::unique_ptr<Exploder> x(new (std::nothrow) Exploder(in));
  if (!x) return CodecResult::kNoMemory;
  const bool big_window = flags & 2;
  const bool lit_tree = flags & 4;
  const unsigned low_bits = big_window ? 7 : 6;
  const unsigned min_len = lit_tree ? 3 : 2;

  CodecResult r;
  if (lit_tree && (r = x->read_tree(256, kLitRoot, x->lit, kLitCap)) != CodecResult::kOk) return r;
  if ((r = x->read_tree(64, kTreeRoot, x->len, kTreeCap)) != CodecResult::kOk) return r;
  if ((r = x->read_tree(64, kTreeRoot, x->dist, kTreeCap)) != CodecResult::kOk) return r;

  BitReader& br = x->br;
  uint64_t left = size;
  while (left > 0) {
    if (br.get(1)) {
      int c = lit_tree ? x->decode(x->lit, kLitRoot) : int(br.get(8));
      if (c < 0) return CodecResult::kBadCode;
      if (br.overread()) break;
      if (!x->put(out, uint8_t(c))) return CodecResult::kStopped;
      --left;
      continue;
    }
    unsigned low = br.get(low_bits);
    int dcode = x->decode(x->dist, kTreeRoot);
    if (dcode < 0) return CodecResult::kBadCode;
    int lcode = x->decode(x->len, kTreeRoot);
    if (lcode < 0) return CodecResult::kBadCode;
    size_t len = size_t(lcode) + min_len;
    if (lcode == 63) len += br.get(8);
    if (br.overread()) break;
    size_t dist = (size_t(dcode) << low_bits) + low + 1;
    size_t from = (x->pos - dist) & (kWindow - 1);
    for (size_t i = 0; i < len; ++i) {
      if (!x->put(out, x->window[from])) return CodecResult::kStopped;
      from = (from + 1) & (kWindow - 1);
    }
    left = len >= left ? 0 : left - len;
  }
  if (left > 0 && !host_input) return CodecResult::kInputEnded;
  if (x->pos && !out.put(x->window, x->pos)) return CodecResult::kStopped;
  if (!host_input && br.input_left()) return CodecResult::kInputLeft;
  return CodecResult::kOk;
}

}  // namespace ziplib
