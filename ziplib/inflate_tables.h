// Two-level decoding tables for prefix codes given by their code lengths,
// shared by inflate and explode.  An entry either decodes a symbol or points
// to a subtable indexed by the bits that follow the root bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ziplib {

struct HuffEntry {
  uint16_t val;  // symbol, base value, or subtable offset
  uint8_t bits;  // bits the code takes (root bits for a subtable pointer)
  uint8_t op;    // one of the kOp values
};

constexpr uint8_t kOpLiteral = 0x00;  // val: the symbol
constexpr uint8_t kOpInvalid = 0x10;  // no code maps here
constexpr uint8_t kOpEnd = 0x20;      // end of block
constexpr uint8_t kOpBase = 0x40;     // | extra bit count; val: base value
constexpr uint8_t kOpSub = 0x80;      // | subtable index bits; val: offset

enum class TableResult {
  kComplete,
  kSingle,      // one code of length 1, the other half invalid
  kEmpty,       // no codes at all; every entry invalid
  kOverfull,    // more codes than the lengths allow
  kIncomplete,  // codes left unassigned (entries there are invalid)
};

constexpr unsigned kMaxCodeBits = 16;

// Builds the table for n symbols with code lengths lens[] (0: unused, at most
// 16).  templ[s] gives symbol s's entry (op and val); null means a plain
// symbol number.  Returns kOverfull as well when `capacity` entries do not
// suffice, which table_capacity() rules out for complete codes.  Codes are canonical, read least significant bit first.
TableResult build_table(const uint8_t* lens, unsigned n, const HuffEntry* templ, unsigned root,
                        HuffEntry* table, size_t capacity);

// Entries a complete code of n symbols can need.  A subtable 2^b entries
// wide holds at least b + 1 codes, and b is at most max_bits - root, so the
// most room goes to subtables of the widest kind.  Codes that would need more
// are not complete and are refused by the builder.
constexpr size_t table_capacity(unsigned n, unsigned root, unsigned max_bits) {
  if (max_bits <= root) return size_t(1) << root;
  const unsigned widest = max_bits - root;
  const unsigned rest = n % (widest + 1);
  return (size_t(1) << root) + (size_t(n / (widest + 1)) << widest) + (rest >= 2 ? size_t(1) << (rest - 1) : 0);
}

}  // namespace ziplib
