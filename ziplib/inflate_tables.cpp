#include "ziplib/inflate_tables.h"

namespace ziplib {
namespace {

unsigned reverse_bits(unsigned code, unsigned len) {
  unsigned r = 0;
  for (unsigned i = 0; i < len; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

}  // namespace

TableResult build_table(const uint8_t* lens, unsigned n, const HuffEntry* templ, unsigned root,
                        HuffEntry* table, size_t capacity) {
  unsigned count[kMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < n; ++s) {
    if (lens[s] > kMaxCodeBits) return TableResult::kOverfull;
    ++count[lens[s]];
  }
  count[0] = 0;
  unsigned max = kMaxCodeBits;
  while (max > 0 && count[max] == 0) --max;

  const size_t root_size = size_t(1) << root;
  if (root_size > capacity) return TableResult::kOverfull;
  const HuffEntry invalid{0, 1, kOpInvalid};
  if (max == 0) {
    for (size_t i = 0; i < root_size; ++i) table[i] = invalid;
    return TableResult::kEmpty;
  }
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
    left <<= 1;
    left -= int(count[len]);
    if (left < 0) return TableResult::kOverfull;
  }
  const bool incomplete = left > 0;
  if (incomplete)
    for (size_t i = 0; i < root_size; ++i) table[i] = invalid;

  // Symbols sorted by code length, then by value: canonical order.
  unsigned offs[kMaxCodeBits + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) offs[len + 1] = offs[len] + count[len];
  uint16_t sorted[1 << 10];
  if (n > sizeof(sorted) / sizeof(sorted[0])) return TableResult::kOverfull;
  for (unsigned s = 0; s < n; ++s)
    if (lens[s]) sorted[offs[lens[s]]++] = uint16_t(s);

  unsigned remaining[kMaxCodeBits + 1];
  for (unsigned len = 0; len <= kMaxCodeBits; ++len) remaining[len] = count[len];

  unsigned code = 0;  // canonical code, most significant bit first
  unsigned len = 1;
  size_t next_free = root_size;
  size_t sub_off = 0;
  unsigned sub_bits = 0;
  unsigned cur_prefix = ~0u;
  const unsigned total = offs[kMaxCodeBits];  // offs[] now point past each length
  unsigned placed = 0;
  for (unsigned i = 0; i < total; ++i) {
    unsigned s = sorted[i];
    while (lens[s] != len) {
      ++len;
      code <<= 1;
    }
    HuffEntry e = templ ? templ[s] : HuffEntry{uint16_t(s), 0, kOpLiteral};
    e.bits = uint8_t(len);
    unsigned rev = reverse_bits(code, len);
    if (len <= root) {
      for (size_t k = rev; k < root_size; k += size_t(1) << len) table[k] = e;
    } else {
      unsigned prefix = rev & unsigned(root_size - 1);
      if (prefix != cur_prefix) {
        // Size the subtable to hold the codes that share this prefix.
        unsigned cur = len - root;
        int avail = 1 << cur;
        while (cur + root < max) {
          avail -= int(remaining[cur + root]);
          if (avail <= 0) break;
          ++cur;
          avail <<= 1;
        }
        size_t size = size_t(1) << cur;
        if (next_free + size > capacity) return TableResult::kOverfull;
        sub_off = next_free;
        next_free += size;
        sub_bits = cur;
        cur_prefix = prefix;
        if (incomplete)
          for (size_t k = 0; k < size; ++k) table[sub_off + k] = invalid;
        table[prefix] = HuffEntry{uint16_t(sub_off), uint8_t(root), uint8_t(kOpSub | sub_bits)};
      }
      for (size_t k = rev >> root; k < (size_t(1) << sub_bits); k += size_t(1) << (len - root))
        table[sub_off + k] = e;
    }
    --remaining[len];
    ++code;
    ++placed;
  }
  (void)placed;
  if (!incomplete) return TableResult::kComplete;
  return max == 1 ? TableResult::kSingle : TableResult::kIncomplete;
}

}  // namespace ziplib

namespace ziplib {
// The room the decoders reserve.
static_assert(table_capacity(288, 10, 15) == 1024 + 48 * 32);
static_assert(table_capacity(256, 9, 16) == 512 + 32 * 128);
}  // namespace ziplib
