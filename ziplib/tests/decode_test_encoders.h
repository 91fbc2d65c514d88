// Test-side encoders for the old methods nothing on the system writes:
// shrink (method 1) and implode (method 6), plus a small archive writer so
// that outside tools can check what they make.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "ziplib/tests/decode_test_support.h"

namespace decode_test {

// LZW as the shrink method defines it.  Code 256 then 1 widens the codes;
// 256 then 2 frees the leaf codes.  A partial clear is sent when the table is
// full, and once after `clear_after` codes when that is non-zero.
inline Bytes shrink(const Bytes& in, size_t clear_after = 0) {
  BitWriter w;
  if (in.empty()) return {};
  constexpr int kCodes = 8192;
  std::vector<int> parent(kCodes, -1);
  std::vector<uint8_t> value(kCodes);
  std::unordered_map<uint32_t, int> dict;  // parent << 8 | byte -> code
  int free_code = 257;
  unsigned width = 9;
  size_t emitted = 0;
  auto emit = [&](int code) {
    while (code >= (1 << width)) {
      w.put(256, width);
      w.put(1, width);
      ++width;
    }
    w.put(unsigned(code), width);
    ++emitted;
  };
  auto clear = [&] {
    w.put(256, width);
    w.put(2, width);
    std::vector<bool> leaf(kCodes, false);
    for (int c = 257; c < free_code; ++c) leaf[size_t(c)] = parent[size_t(c)] != -1;
    for (int c = 257; c < kCodes; ++c)
      if (parent[size_t(c)] >= 257) leaf[size_t(parent[size_t(c)])] = false;
    for (int c = 257; c < free_code; ++c)
      if (leaf[size_t(c)]) {
        dict.erase(uint32_t(parent[size_t(c)]) << 8 | value[size_t(c)]);
        parent[size_t(c)] = -1;
      }
    free_code = 257;
    while (free_code < kCodes && parent[size_t(free_code)] != -1) ++free_code;
  };
  int cur = in[0];
  bool forced = false;
  for (size_t i = 1; i < in.size(); ++i) {
    uint8_t c = in[i];
    auto it = dict.find(uint32_t(cur) << 8 | c);
    if (it != dict.end()) {
      cur = it->second;
      continue;
    }
    emit(cur);
    if (free_code >= kCodes || (clear_after && !forced && emitted >= clear_after)) {
      forced = forced || emitted >= clear_after;
      clear();
    }
    if (free_code < kCodes) {
      parent[size_t(free_code)] = cur;
      value[size_t(free_code)] = c;
      dict[uint32_t(cur) << 8 | c] = free_code;
      do ++free_code;
      while (free_code < kCodes && parent[size_t(free_code)] != -1);
    }
    cur = c;
  }
  emit(cur);
  return w.finish();
}

// Code lengths (at most 16) for symbol counts; every symbol gets a code, so
// the code is complete.
inline std::vector<uint8_t> code_lengths(std::vector<uint64_t> freq) {
  for (auto& f : freq) ++f;
  for (;;) {
    struct Node { uint64_t f; int id; };
    auto cmp = [](const Node& a, const Node& b) { return a.f > b.f || (a.f == b.f && a.id > b.id); };
    std::priority_queue<Node, std::vector<Node>, decltype(cmp)> q(cmp);
    std::vector<int> up(freq.size() * 2, -1);
    int next = int(freq.size());
    for (size_t i = 0; i < freq.size(); ++i) q.push({freq[i], int(i)});
    while (q.size() > 1) {
      Node a = q.top(); q.pop();
      Node b = q.top(); q.pop();
      up[size_t(a.id)] = up[size_t(b.id)] = next;
      q.push({a.f + b.f, next++});
    }
    std::vector<uint8_t> lens(freq.size());
    bool ok = true;
    for (size_t i = 0; i < freq.size(); ++i) {
      int d = 0;
      for (int n = int(i); up[size_t(n)] >= 0; n = up[size_t(n)]) ++d;
      if (d > 16) ok = false;
      lens[i] = uint8_t(d);
    }
    if (ok) return lens;
    for (auto& f : freq) f = f / 2 + 1;  // flatten until the depth fits
  }
}

// Tree description: a count byte, then (repeat-1, length-1) nibble pairs.
inline void put_tree(BitWriter& w, const std::vector<uint8_t>& lens) {
  std::vector<uint8_t> groups;
  for (size_t i = 0; i < lens.size();) {
    size_t j = i;
    while (j < lens.size() && lens[j] == lens[i] && j - i < 16) ++j;
    groups.push_back(uint8_t(((j - i - 1) << 4) | (lens[i] - 1)));
    i = j;
  }
  w.put(unsigned(groups.size() - 1), 8);
  for (uint8_t g : groups) w.put(g, 8);
}

// Implode with the window and literal tree that `flags` selects (bit 1: 8 KiB
// window, bit 2: literal tree).
inline Bytes implode(const Bytes& in, uint16_t flags) {
  const bool big = flags & 2, lit_tree = flags & 4;
  const unsigned low_bits = big ? 7 : 6;
  const size_t window = big ? 8192 : 4096;
  const size_t min_len = lit_tree ? 3 : 2;
  const size_t max_len = min_len + 63 + 255;
  struct Token { bool match; uint32_t a, b; };  // literal a, or length a / distance b
  std::vector<Token> tokens;
  std::unordered_map<uint32_t, std::vector<size_t>> heads;
  for (size_t i = 0; i < in.size();) {
    size_t best = 0, best_d = 0;
    if (i + 3 <= in.size()) {
      uint32_t key = uint32_t(in[i]) | uint32_t(in[i + 1]) << 8 | uint32_t(in[i + 2]) << 16;
      auto& v = heads[key];
      for (size_t k = v.size(); k-- > 0 && v.size() - k <= 64;) {
        size_t p = v[k];
        if (i - p > window) break;
        size_t l = 0;
        while (i + l < in.size() && l < max_len && in[p + l] == in[i + l]) ++l;
        if (l > best) { best = l; best_d = i - p; }
      }
    }
    size_t step = 1;
    if (best >= min_len) {
      tokens.push_back({true, uint32_t(best), uint32_t(best_d)});
      step = best;
    } else {
      tokens.push_back({false, in[i], 0});
    }
    for (size_t k = 0; k < step; ++k, ++i)
      if (i + 3 <= in.size())
        heads[uint32_t(in[i]) | uint32_t(in[i + 1]) << 8 | uint32_t(in[i + 2]) << 16].push_back(i);
  }
  std::vector<uint64_t> lf(256), lenf(64), df(64);
  for (const Token& t : tokens) {
    if (!t.match) { ++lf[t.a]; continue; }
    ++lenf[std::min<size_t>(t.a - min_len, 63)];
    ++df[(t.b - 1) >> low_bits];
  }
  std::vector<uint8_t> ll = code_lengths(lf), lenl = code_lengths(lenf), dl = code_lengths(df);
  std::vector<uint32_t> lc = canonical(ll), lenc = canonical(lenl), dc = canonical(dl);
  auto put_code = [](BitWriter& w, uint32_t code, unsigned len) {  // stored complemented
    w.code(~code & ((1u << len) - 1), len);
  };
  BitWriter w;
  if (lit_tree) put_tree(w, ll);
  put_tree(w, lenl);
  put_tree(w, dl);
  for (const Token& t : tokens) {
    if (!t.match) {
      w.put(1, 1);
      if (lit_tree) put_code(w, lc[t.a], ll[t.a]);
      else w.put(t.a, 8);
      continue;
    }
    w.put(0, 1);
    uint32_t d = t.b - 1;
    w.put(d & ((1u << low_bits) - 1), low_bits);
    put_code(w, dc[d >> low_bits], dl[d >> low_bits]);
    size_t lcode = std::min<size_t>(t.a - min_len, 63);
    put_code(w, lenc[lcode], lenl[lcode]);
    if (lcode == 63) w.put(unsigned(t.a - min_len - 63), 8);
  }
  return w.finish();
}

// An archive of already-compressed entries.
struct ZipEntryIn {
  std::string name;
  uint16_t method, flags;
  Bytes plain, packed;
};

inline Bytes make_zip(const std::vector<ZipEntryIn>& entries) {
  Bytes z, cd;
  auto put = [](Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  for (const ZipEntryIn& e : entries) {
    uint32_t crc = uint32_t(crc32(0, e.plain.data(), uInt(e.plain.size())));
    uint32_t off = uint32_t(z.size());
    for (Bytes* b : {&z, &cd}) {
      bool central = b == &cd;
      put(*b, central ? 0x02014b50 : 0x04034b50, 4);
      if (central) put(*b, 20, 2);
      put(*b, 10, 2);
      put(*b, e.flags, 2);
      put(*b, e.method, 2);
      put(*b, 0x6000, 2);  // 12:00
      put(*b, 0x5A21, 2);  // 2025-01-01
      put(*b, crc, 4);
      put(*b, uint32_t(e.packed.size()), 4);
      put(*b, uint32_t(e.plain.size()), 4);
      put(*b, uint32_t(e.name.size()), 2);
      put(*b, 0, 2);
      if (central) {
        put(*b, 0, 2);
        put(*b, 0, 2);
        put(*b, 0, 2);
        put(*b, 0, 4);
        put(*b, off, 4);
      }
      b->insert(b->end(), e.name.begin(), e.name.end());
    }
    z.insert(z.end(), e.packed.begin(), e.packed.end());
  }
  uint32_t cd_off = uint32_t(z.size());
  z.insert(z.end(), cd.begin(), cd.end());
  put(z, 0x06054b50, 4);
  put(z, 0, 4);
  put(z, uint32_t(entries.size()), 2);
  put(z, uint32_t(entries.size()), 2);
  put(z, uint32_t(cd.size()), 4);
  put(z, cd_off, 4);
  put(z, 0, 2);
  return z;
}

}  // namespace decode_test
