// Unshrink: the decoder for shrunk items (LZW with 9 to 13 bit codes, code
// size raised and leaf codes freed by control codes after code 256).
#include <cstring>
#include <memory>
#include <new>

#include "ziplib/decode.h"
#include "ziplib/decode_bits.h"

namespace ziplib {
namespace {

constexpr int kCodes = 8192;
constexpr int16_t kFree = -1;
constexpr unsigned kMaxCodeSize = 13;

struct Shrinker {
  explicit Shrinker(ByteSource& in) : br(in) {}

  // Frees every code that is no other code's parent; the free code becomes
  // the lowest free entry.
  void partial_clear() {
    for (int c = 257; c < free_code; ++c) leaf[c] = parent[c] != kFree;
    for (int c = 257; c < end_code; ++c)
      if (parent[c] >= 257) leaf[parent[c]] = false;
    for (int c = 257; c < free_code; ++c)
      if (leaf[c]) parent[c] = kFree;
    free_code = 257;
    while (free_code < kCodes && parent[free_code] != kFree) ++free_code;
  }

  BitReader br;
  int16_t parent[kCodes + 1];
  uint8_t value[kCodes + 1];
  bool leaf[kCodes + 1];  // set over the range a clear reads
  uint8_t stack[kCodes];
  int free_code = 257;
  int end_code = 257;  // above every code ever defined
};

}  // namespace

CodecResult unshrink(ByteSource& in, ByteSink& out, uint64_t size) {
  std::unique_ptr<Shrinker> x(new (std::nothrow) Shrinker(in));
  if (!x) return CodecResult::kNoMemory;
  std::memset(x->parent, 0xFF, sizeof x->parent);  // every code free...
  std::memset(x->parent, 0, 256 * sizeof x->parent[0]);  // ...but the bytes
  for (int c = 0; c < 256; ++c) x->value[c] = uint8_t(c);
  BitReader& br = x->br;
  if (size == 0) return CodecResult::kOk;
  unsigned code_size = 9;
  int old = int(br.get(code_size));
  if (br.overread()) return CodecResult::kInputEnded;
  if (old > 255) return CodecResult::kBadCode;
  uint8_t first = uint8_t(old);
  if (!out.put(&first, 1)) return CodecResult::kStopped;
  uint64_t left = size - 1;

  while (left > 0) {
    int code = int(br.get(code_size));
    if (br.overread()) break;
    if (code == 256) {
      unsigned control = br.get(code_size);
      if (br.overread()) break;
      if (control == 1) {
        if (code_size == kMaxCodeSize) return CodecResult::kBadCode;  // table holds 13-bit codes
        ++code_size;
      } else if (control == 2) {
        x->partial_clear();
      }
      continue;
    }
    // Walk the string back to front onto the stack.  A free code stands for
    // the previous string plus its own first byte.
    uint8_t* const top = x->stack + kCodes;
    uint8_t* sp = top;
    int c = code;
    for (;;) {
      if (c >= 257 && x->parent[c] == kFree) {
        if (sp == x->stack) return CodecResult::kBadCode;
        *--sp = first;
        c = old;
        continue;
      }
      if (c < 257) break;
      if (sp == x->stack) return CodecResult::kBadCode;
      *--sp = x->value[c];
      c = x->parent[c];
    }
    if (sp == x->stack) return CodecResult::kBadCode;
    *--sp = uint8_t(c);
    const uint8_t new_first = uint8_t(c);
    size_t n = size_t(top - sp);
    if (!out.put(sp, n)) return CodecResult::kStopped;
    left = n >= left ? 0 : left - n;

    if (x->free_code < kCodes) {
      x->parent[x->free_code] = int16_t(old);
      x->value[x->free_code] = new_first;
      if (x->free_code >= x->end_code) x->end_code = x->free_code + 1;
      do ++x->free_code;
      while (x->free_code < kCodes && x->parent[x->free_code] != kFree);
    }
    old = code;
    first = new_first;
  }
  return left > 0 ? CodecResult::kInputEnded : CodecResult::kOk;
}

}  // namespace ziplib
