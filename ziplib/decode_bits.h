// Bit input shared by the decoders: a 64-bit buffer filled from a ByteSource,
// bits taken from the least significant end.  Past the end of the input it
// supplies zero bits, but counts them: a decoder asks overread() whether it
// consumed any, and exhausted() tells it to give up once far more were asked
// for than any lookahead needs, so damaged or truncated data cannot keep a
// decoder running on zeros.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "ziplib/decode.h"

namespace ziplib {

struct BitReader {
  explicit BitReader(ByteSource& source) : src(source) {}

  // Zero bytes handed out past the end before exhausted() is true; well above
  // the 8 bytes of lookahead a fill can take.
  static constexpr unsigned kZeroLimit = 16;

  // Fills the buffer to at least 56 bits.
  void fill() {
    if (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      buf |= w << count;
      p += (63 - count) >> 3;
      count |= 56;
      return;
    }
    while (count <= 56) {
      if (p < end) {
        buf |= uint64_t(*p++) << count;
        count += 8;
      } else if (!done) {
        next_run();
      } else {
        ++zeros;
        count += 8;
      }
    }
  }
  void need(unsigned n) {
    if (count < n) fill();
  }
  uint32_t peek(unsigned n) const { return uint32_t(buf & ((uint64_t(1) << n) - 1)); }
  void drop(unsigned n) {
    buf >>= n;
    count -= n;
  }
  uint32_t get(unsigned n) {
    need(n);
    uint32_t v = peek(n);
    drop(n);
    return v;
  }
  // Some of the bits consumed lay past the end of the input.
  bool overread() const { return zeros * 8u > count; }
  bool exhausted() const { return zeros > kZeroLimit; }
  // Whole input bytes remain that nothing has consumed.
  bool input_left() {
    if (count >= zeros * 8u + 8) return true;
    return p < end || (!done && next_run());
  }
  // At a byte boundary: gives the whole bytes of the buffer back to the
  // input, so that they can be read in place.  Possible only while they all
  // came from the current run and none lay past the end.
  bool unread_bytes() {
    const unsigned bytes = count / 8;
    if (count % 8 || zeros || size_t(p - start) < bytes) return false;
    p -= bytes;
    buf = 0;
    count = 0;
    return true;
  }
  // Moves to the source's next run; false (and done) when there is none.
  bool next_run() {
    std::span<const uint8_t> run = src.next();
    if (run.empty()) {
      done = true;
      return false;
    }
    p = start = run.data();
    end = p + run.size();
    return true;
  }

  ByteSource& src;
  const uint8_t* start = nullptr;  // of the current run
  const uint8_t* p = nullptr;
  const uint8_t* end = nullptr;
  uint64_t buf = 0;    // bits above `count` are zero or the input's next bits
  unsigned count = 0;  // valid bits in buf
  bool done = false;   // the source has nothing more
  // Not beside `count`: read together as one word, the two would wait for
  // the last separate store of `count` to reach memory.
  unsigned zeros = 0;  // zero bytes supplied past the end
};

}  // namespace ziplib
