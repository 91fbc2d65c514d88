#include "ziplib/deflate.h"

#include "ziplib/zip_messages.h"
#include "ziplib/zip_state.h"
#include "ziplib/zip_writer.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

static_assert(std::endian::native == std::endian::little, "bit output stores little-endian words");

namespace ziplib {
namespace {

// ---------------------------------------------------------------------------
// The two formats differ only in these constants.

// Deflate hashes three bytes into 15 bits like Deflate64 does: a 14-bit
// table folds away a bit of the first byte, and the extra collisions cost
// both chain steps and matches missed within the chain limit.
struct Deflate32 {
  static constexpr int kMethod = 8;
  static constexpr std::size_t kWindowBuf = 65536;
  static constexpr unsigned kLinks = 32768;  // chain links, indexed by position
  static constexpr int kHashBits = 15;
  static constexpr unsigned kHashKeep = 0x3FF;
  static constexpr unsigned kMaxMatch = 258;
  static constexpr unsigned kMinLookahead = kMaxMatch + 3 + 1;
  static constexpr unsigned kMaxDist = 32768 - kMinLookahead;
  static constexpr unsigned kSlideAt = 32768 + kMaxDist;  // slide once here
  static constexpr unsigned kSlideBy = 32768;
  static constexpr unsigned kSlideLen = 32768;
  static constexpr unsigned kSymbols = 16384;
  static constexpr int kDCodes = 30;
  using Link = std::uint16_t;
  static std::uint16_t flags_for(int level) {
    return level == 1 ? 0x0004 : level == 9 ? 0x0002 : 0;
  }
};

struct Deflate64 {
  static constexpr int kMethod = 9;
  static constexpr std::size_t kWindowBuf = 0x2FFF6;
  static constexpr unsigned kLinks = 65536;
  static constexpr int kHashBits = 15;
  static constexpr unsigned kHashKeep = 0x3FF;
  static constexpr unsigned kMaxMatch = 65522;
  static constexpr unsigned kMinLookahead = kMaxMatch + 3 + 1;
  static constexpr unsigned kMaxDist = 65535;
  static constexpr unsigned kSlideAt = 131071;
  static constexpr unsigned kSlideBy = 65536;
  static constexpr unsigned kSlideLen = 131062;
  static constexpr unsigned kSymbols = 32768;
  static constexpr int kDCodes = 32;
  using Link = std::uint32_t;
  static std::uint16_t flags_for(int level) {
    return level <= 2 ? 0x0004 : level >= 8 ? 0x0002 : 0;
  }
};

constexpr unsigned kMinMatch = 3;
constexpr int kLiterals = 256;
constexpr int kEndBlock = 256;
constexpr int kLCodes = 286;   // literal/length codes used in dynamic trees
constexpr int kLFixed = 288;   // the fixed code has two more
constexpr int kBLCodes = 19;
constexpr int kMaxBits = 15;
constexpr int kMaxBLBits = 7;
constexpr unsigned kTooFar = 4096;
constexpr std::size_t kOutFile = 20480;
constexpr std::size_t kOutMemory = 8192;

struct LevelRow {
  unsigned good, lazy, nice, chain;
  bool fast;
};
constexpr LevelRow kLevels[10] = {
    {0, 0, 0, 0, true},          {4, 4, 8, 4, true},        {4, 5, 16, 8, true},
    {4, 6, 32, 32, true},        {4, 4, 16, 16, false},     {8, 16, 32, 32, false},
    {8, 16, 128, 128, false},    {8, 32, 128, 256, false},  {32, 128, 258, 1024, false},
    {32, 258, 258, 4096, false},
};

constexpr std::uint8_t kExtraLBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kBaseLength[29] = {0,  1,  2,  3,  4,  5,  6,   7,   8,   10,
                                           12, 14, 16, 20, 24, 28, 32,  40,  48,  56,
                                           64, 80, 96, 112, 128, 160, 192, 224, 0};
constexpr std::uint8_t kExtraDBits[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6, 6,
                                          7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::uint32_t kBaseDist[32] = {0,    1,    2,    3,     4,     6,     8,     12,
                                         16,   24,   32,   48,    64,    96,    128,   192,
                                         256,  384,  512,  768,   1024,  1536,  2048,  3072,
                                         4096, 6144, 8192, 12288, 16384, 24576, 32768, 49152};
constexpr std::uint8_t kExtraBLBits[kBLCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr std::uint8_t kBLOrder[kBLCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

// Code tables shared by both formats, built once.
struct CodeTables {
  std::uint8_t length_code[256];  // length - 3 -> code index 0..28 (Deflate)
  std::uint8_t dist_code[768];    // see d_code()
  std::uint16_t fixed_lcode[kLFixed];
  std::uint8_t fixed_llen[kLFixed];
  std::uint16_t fixed_dcode[32];

  CodeTables() {
    for (int code = 0; code < 28; ++code)
      for (int n = 0; n < (1 << kExtraLBits[code]); ++n) length_code[kBaseLength[code] + n] = code;
    for (int code = 0; code < 16; ++code)
      for (unsigned n = 0; n < (1u << kExtraDBits[code]); ++n) dist_code[kBaseDist[code] + n] = code;
    for (int code = 16; code < 32; ++code)
      for (unsigned n = 0; n < (1u << (kExtraDBits[code] - 7)); ++n)
        dist_code[256 + (kBaseDist[code] >> 7) + n] = code;
    for (int n = 0; n < kLFixed; ++n) fixed_llen[n] = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
    gen_codes(fixed_llen, kLFixed - 1, fixed_lcode);
    for (int n = 0; n < 32; ++n) fixed_dcode[n] = reverse(n, 5);
  }

  static unsigned reverse(unsigned code, int len) {
    unsigned r = 0;
    for (int i = 0; i < len; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
  }

  // Canonical codes from lengths, bit-reversed for LSB-first output.
  static void gen_codes(const std::uint8_t* len, int max_code, std::uint16_t* codes) {
    unsigned count[kMaxBits + 1] = {};
    for (int n = 0; n <= max_code; ++n) count[len[n]]++;
    count[0] = 0;
    unsigned next[kMaxBits + 1];
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
      code = (code + count[bits - 1]) << 1;
      next[bits] = code;
    }
    for (int n = 0; n <= max_code; ++n)
      codes[n] = len[n] ? static_cast<std::uint16_t>(reverse(next[len[n]]++, len[n])) : 0;
  }
};

const CodeTables& tables() {
  static const CodeTables t;
  return t;
}

inline unsigned d_code(unsigned dist_minus_1) {
  return dist_minus_1 < 256 ? tables().dist_code[dist_minus_1]
                            : tables().dist_code[256 + (dist_minus_1 >> 7)];
}

// Huffman code lengths limited to max_bits, the usual heap construction with
// ties broken by depth so that flat trees are preferred.  Returns the largest
// code with a non-zero length; `freq` of unused codes stays untouched, but at
// least two codes always get a length (a lone code still costs one bit).
int build_lengths(const std::uint32_t* freq, int elems, int max_bits, std::uint8_t* len) {
  constexpr int kMaxNodes = 2 * kLFixed + 1;
  // A node's weight and depth as one key, weight above: one comparison of
  // keys orders by weight, then by depth.  The heap holds each node's key
  // beside it, so that sifting reads no other array.
  struct Item {
    std::uint64_t key;
    int node;
  };
  Item heap[kMaxNodes];
  int parent[kMaxNodes];
  int order[kMaxNodes];  // nodes in the order they left the heap, smallest first
  int heap_len = 0, order_len = 0, max_code = -1;

  auto key_of = [](std::uint64_t weight, unsigned depth) { return (weight << 8) | depth; };
  auto sift_down = [&](int k) {
    const Item v = heap[k];
    for (int j = 2 * k + 1; j < heap_len; j = 2 * k + 1) {
      if (j + 1 < heap_len && heap[j + 1].key <= heap[j].key) ++j;
      if (v.key <= heap[j].key) break;
      heap[k] = heap[j];
      k = j;
    }
    heap[k] = v;
  };
  auto push = [&](Item item) {
    int k = heap_len++;
    while (k > 0) {
      int p = (k - 1) / 2;
      if (item.key > heap[p].key) break;
      heap[k] = heap[p];
      k = p;
    }
    heap[k] = item;
  };
  auto pop = [&]() {
    const Item top = heap[0];
    heap[0] = heap[--heap_len];
    if (heap_len) sift_down(0);
    return top;
  };

  for (int n = 0; n < elems; ++n) {
    len[n] = 0;
    if (freq[n]) {
      push({key_of(freq[n], 0), n});
      max_code = n;
    }
  }
  while (heap_len < 2) {
    int node = max_code < 2 ? ++max_code : 0;
    push({key_of(1, 0), node});
  }
  int next = elems;
  while (heap_len > 1) {
    const Item a = pop();
    const Item b = pop();
    order[order_len++] = a.node;
    order[order_len++] = b.node;
    const unsigned depth = std::max(static_cast<unsigned>(a.key & 0xFF), static_cast<unsigned>(b.key & 0xFF)) + 1;
    parent[a.node] = parent[b.node] = next;
    push({key_of((a.key >> 8) + (b.key >> 8), depth & 0xFF), next++});
  }
  int root = pop().node;

  // Depths from the root down (nodes were created in increasing order).
  std::uint8_t bits_of[kMaxNodes];
  bits_of[root] = 0;
  unsigned count[kMaxBits + 2] = {};
  int overflow = 0;
  for (int i = order_len - 1; i >= 0; --i) {
    int n = order[i];
    // Clamping counts inner nodes too: a subtree of k leaves below the limit
    // needs k-1 moves, which the count of its leaves alone would not give.
    int bits = bits_of[parent[n]] + 1;
    if (bits > max_bits) {
      bits = max_bits;
      ++overflow;
    }
    bits_of[n] = static_cast<std::uint8_t>(bits);
    if (n < elems) {
      count[bits]++;
      len[n] = static_cast<std::uint8_t>(bits);
    }
  }
  if (overflow) {
    // Move leaves up from the deepest level until the counts form a code,
    // then give the longest lengths to the least frequent leaves.
    do {
      int bits = max_bits - 1;
      while (count[bits] == 0) --bits;
      count[bits]--;
      count[bits + 1] += 2;
      count[max_bits]--;
      overflow -= 2;
    } while (overflow > 0);
    int h = 0;
    for (int bits = max_bits; bits != 0; --bits) {
      for (unsigned n = count[bits]; n != 0;) {
        int m = order[h++];
        if (m >= elems) continue;
        len[m] = static_cast<std::uint8_t>(bits);
        --n;
      }
    }
  }
  return max_code;
}

// Runs of code lengths as the dynamic block header sends them (codes 16, 17
// and 18 for repeats); calls emit(symbol, repeat_extra) for each code.
template <class Emit>
void walk_lengths(const std::uint8_t* len, int max_code, Emit&& emit) {
  int prevlen = -1;
  int nextlen = len[0];
  int count = 0;
  int max_count = 7, min_count = 4;
  if (nextlen == 0) max_count = 138, min_count = 3;
  for (int n = 0; n <= max_code; ++n) {
    int curlen = nextlen;
    nextlen = n + 1 <= max_code ? len[n + 1] : -1;
    if (++count < max_count && curlen == nextlen) continue;
    if (count < min_count) {
      while (count--) emit(curlen, 0);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        emit(curlen, 0);
        --count;
      }
      emit(16, count - 3);
    } else if (count <= 10) {
      emit(17, count - 3);
    } else {
      emit(18, count - 11);
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138, min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6, min_count = 3;
    } else {
      max_count = 7, min_count = 4;
    }
  }
}

inline std::uint16_t load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Zeroed work areas from calloc: memory fresh from the system is zero
// already and is not written, so the pages a short entry never reaches are
// never touched (a zeroing new would touch every one of them).
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class X>
using ZeroedArray = std::unique_ptr<X[], FreeDeleter>;
template <class X>
ZeroedArray<X> zeroed(std::size_t n) {
  void* p = std::calloc(n, sizeof(X));
  if (!p) throw std::bad_alloc();
  return ZeroedArray<X>(static_cast<X*>(p));
}

// ---------------------------------------------------------------------------

template <class T>
class Encoder {
 public:
  using Link = typename T::Link;
  static constexpr unsigned kHashSize = 1u << T::kHashBits;
  static constexpr unsigned kHashMask = kHashSize - 1;
  static constexpr unsigned kLinkMask = T::kLinks - 1;
  static constexpr std::size_t kPad = T::kMaxMatch + 64;  // comparisons read past the data

  Encoder()
      : window_(zeroed<std::uint8_t>(T::kWindowBuf + kPad)),
        prev_(zeroed<Link>(T::kLinks)),
        head_(zeroed<Link>(kHashSize)),
        lc_(new std::uint16_t[T::kSymbols]),
        dist_(new std::uint16_t[T::kSymbols]) {}

  void start(ZipState& s, int level, std::uint16_t* flags) {
    s_ = &s;
    level_ = std::clamp(level, 1, 9);
    row_ = kLevels[level_];
    if (flags) *flags = static_cast<std::uint16_t>((*flags & ~0x0006) | T::flags_for(level_));
    clear_heads();
    strstart_ = 0;
    block_start_ = 0;
    lookahead_ = 0;
    match_start_ = 0;
    eofile_ = false;
    slid_ = false;
    const bool memory = s.memory_output;
    // The output buffer is kept from entry to entry: archives of many small
    // files would otherwise pay an allocation and fresh pages for each.
    const std::size_t want = memory ? kOutMemory : kOutFile;
    if (!out_ || out_size_ != want) {
      out_.reset();
      out_.reset(new std::uint8_t[want + 16]);
      out_size_ = want;
    }
    out_count_ = 0;
    out_total_ = 0;
    bi_buf_ = 0;
    bi_valid_ = 0;
    blocks_out_ = false;

    // What the output allows: stored blocks and fixed codes need a seekable
    // output (or memory, for fixed) in Deflate; Deflate64 takes them
    // anywhere.  Storing the whole entry rewrites the method in the local
    // header, which only a single-volume output can do.
    const bool multi = (s.multi_vol & kMvMulti) != 0;
    const bool split = multi && (s.multi_vol & kMvSplit);
    const bool seekable = !memory && (!multi || split);
    const bool stream = s.callback_input;
    if (T::kMethod == 9) {
      stored_ok_ = !stream;
      fixed_ok_ = true;
    } else {
      stored_ok_ = seekable && !stream;
      fixed_ok_ = seekable || memory;
    }
    whole_ok_ = seekable && !multi && !stream;

    fill_window();
    ins_h_ = 0;
    if (lookahead_ >= 2) ins_h_ = update_hash(window_[0], window_[1]);
  }

  void trees_start(std::uint16_t* internal_attr, std::uint16_t* method) {
    attr_ = internal_attr;
    method_ = method;
    init_block();
  }

  std::uint64_t run() {
    if (row_.fast)
      deflate_fast();
    else
      deflate_lazy();
    flush_out();
    return out_total_;
  }

 private:
  // --- window and hash -----------------------------------------------------

  static unsigned update_hash(unsigned h, unsigned c) { return ((h & T::kHashKeep) << 5) ^ c; }

  // The hash of the three bytes at `pos`, as insert() finds it: three
  // updates leave nothing of what came before.
  unsigned hash_at(unsigned pos) const {
    return update_hash(update_hash(window_[pos], window_[pos + 1]), window_[pos + 2]);
  }

  // Empties the chains the last entry left.  Clearing the whole table costs
  // a small entry far more than compressing it; without a slide, every head
  // the entry set is the hash of one position before strstart_, so those
  // positions' hashes name all of them.
  void clear_heads() {
    if (!slid_ && strstart_ < kHashSize / 8) {
      for (unsigned pos = 0; pos < strstart_; ++pos) head_[hash_at(pos)] = 0;
    } else {
      std::fill(head_.get(), head_.get() + kHashSize, Link(0));
    }
  }

  // Inserts the string at `pos` and returns the previous head of its chain.
  unsigned insert(unsigned pos) {
    ins_h_ = update_hash(ins_h_, window_[pos + kMinMatch - 1]);
    unsigned head = head_[ins_h_];
    prev_[pos & kLinkMask] = static_cast<Link>(head);
    head_[ins_h_] = static_cast<Link>(pos);
    return head;
  }

  void fill_window() {
    do {
      std::size_t room = T::kWindowBuf - lookahead_ - strstart_;
      if (eofile_) return;
      if (strstart_ >= T::kSlideAt) {
        std::memmove(window_.get(), window_.get() + T::kSlideBy, T::kSlideLen);
        match_start_ -= std::min(match_start_, T::kSlideBy);
        strstart_ -= T::kSlideBy;
        block_start_ -= static_cast<long>(T::kSlideBy);
        slid_ = true;
        for (unsigned i = 0; i < kHashSize; ++i)
          head_[i] = static_cast<Link>(head_[i] >= T::kSlideBy ? head_[i] - T::kSlideBy : 0);
        for (unsigned i = 0; i < T::kLinks; ++i)
          prev_[i] = static_cast<Link>(prev_[i] >= T::kSlideBy ? prev_[i] - T::kSlideBy : 0);
        room += T::kSlideBy;
      }
      if (room == 0) return;
      std::size_t n = 0;
      if (s_->reader && !s_->cancel && !s_->error)
        n = s_->reader(window_.get() + strstart_ + lookahead_, room, *s_);
      if (s_->cancel && !s_->error) zip_report_error(*s_, ZE_ABORT);
      if (n == 0 || s_->cancel) {
        eofile_ = true;
        return;
      }
      lookahead_ += static_cast<unsigned>(n);
    } while (lookahead_ < T::kMinLookahead);
  }

  unsigned longest_match(unsigned cur, unsigned best, unsigned chain) {
    const std::uint8_t* const win = window_.get();
    const Link* const prev = prev_.get();
    const std::uint8_t* const scan = win + strstart_;
    const unsigned limit = strstart_ > T::kMaxDist ? strstart_ - T::kMaxDist : 0;
    const unsigned nice = std::min(row_.nice, lookahead_);

    // Full comparison of a candidate, eight bytes at a time.
    auto length_at = [&](const std::uint8_t* m) {
      unsigned len = 0;
      for (;;) {
        const std::uint64_t x = load64(scan + len) ^ load64(m + len);
        if (x) return std::min(len + (static_cast<unsigned>(std::countr_zero(x)) >> 3), T::kMaxMatch);
        len += 8;
        if (len >= T::kMaxMatch) return T::kMaxMatch;
      }
    };

    // While nothing longer than 2 is known, a candidate needs its first
    // three bytes equal.
    if (best < kMinMatch) {
      const std::uint16_t start = load16(scan);
      const std::uint16_t end = load16(scan + 1);
      for (;;) {
        const std::uint8_t* m = win + cur;
        if (load16(m) == start && load16(m + 1) == end) {
          const unsigned len = length_at(m);
          if (len > best) {
            match_start_ = cur;
            best = len;
            if (len >= nice) return std::min(best, lookahead_);
            break;
          }
        }
        cur = prev[cur & kLinkMask];
        if (cur <= limit || --chain == 0) return std::min(best, lookahead_);
      }
      cur = prev[cur & kLinkMask];
      if (cur <= limit || --chain == 0) return std::min(best, lookahead_);
    }

    // A candidate can only do better when it matches up to and including
    // byte `best`: the four bytes that end there are tested first.
    std::uint32_t scan_end = load32(scan + best - 3);
    const std::uint8_t* ends = win + best - 3;
    for (;;) {
      if (load32(ends + cur) == scan_end) {
        const unsigned len = length_at(win + cur);
        if (len > best) {
          match_start_ = cur;
          best = len;
          if (len >= nice) break;
          scan_end = load32(scan + best - 3);
          ends = win + best - 3;
        }
      }
      cur = prev[cur & kLinkMask];
      if (cur <= limit || --chain == 0) break;
    }
    return std::min(best, lookahead_);
  }

  // --- the two parsers ----------------------------------------------------

  void deflate_fast() {
    while (lookahead_ > 0 && !s_->error) {
      unsigned head = lookahead_ >= kMinMatch ? insert(strstart_) : 0;
      unsigned match_length = 0;
      if (head != 0 && strstart_ - head <= T::kMaxDist) {
        match_length = longest_match(head, kMinMatch - 1, row_.chain);
      }
      bool flush;
      if (match_length >= kMinMatch) {
        flush = tally_match(strstart_ - match_start_, match_length);
        lookahead_ -= match_length;
        if (match_length <= row_.lazy && lookahead_ >= kMinMatch) {
          for (unsigned n = match_length - 1; n != 0; --n) insert(++strstart_);
          ++strstart_;
        } else {
          strstart_ += match_length;
          ins_h_ = update_hash(window_[strstart_], window_[strstart_ + 1]);
        }
      } else {
        flush = tally_literal(window_[strstart_]);
        --lookahead_;
        ++strstart_;
      }
      if (flush) flush_block(false);
      if (lookahead_ < T::kMinLookahead) fill_window();
    }
    flush_block(true);
  }

  void deflate_lazy() {
    unsigned match_length = kMinMatch - 1;
    unsigned prev_length;
    unsigned prev_match;
    bool match_available = false;
    while (lookahead_ > 0 && !s_->error) {
      unsigned head = lookahead_ >= kMinMatch ? insert(strstart_) : 0;
      prev_length = match_length;
      prev_match = match_start_;
      match_length = kMinMatch - 1;
      if (head != 0 && prev_length < row_.lazy && strstart_ - head <= T::kMaxDist) {
        unsigned chain = prev_length >= row_.good ? row_.chain >> 2 : row_.chain;
        match_length = longest_match(head, prev_length, std::max(chain, 1u));
        if (match_length == kMinMatch && strstart_ - match_start_ > kTooFar) match_length = kMinMatch - 1;
      }
      if (prev_length >= kMinMatch && match_length <= prev_length) {
        const unsigned max_insert = strstart_ + lookahead_ - kMinMatch;
        bool flush = tally_match(strstart_ - 1 - prev_match, prev_length);
        lookahead_ -= prev_length - 1;
        for (unsigned n = prev_length - 2; n != 0; --n) {
          if (++strstart_ <= max_insert) insert(strstart_);
        }
        match_available = false;
        match_length = kMinMatch - 1;
        ++strstart_;
        if (flush) flush_block(false);
      } else if (match_available) {
        if (tally_literal(window_[strstart_ - 1])) flush_block(false);
        ++strstart_;
        --lookahead_;
      } else {
        match_available = true;
        ++strstart_;
        --lookahead_;
      }
      if (lookahead_ < T::kMinLookahead) fill_window();
    }
    if (match_available && !s_->error) tally_literal(window_[strstart_ - 1]);
    flush_block(true);
  }

  // --- symbols ------------------------------------------------------------

  bool tally_literal(unsigned c) {
    lc_[sym_count_] = static_cast<std::uint16_t>(c);
    dist_[sym_count_] = 0;
    ++sym_count_;
    lfreq_[c]++;
    return check_flush();
  }

  bool tally_match(unsigned dist, unsigned length) {
    const unsigned lm3 = length - kMinMatch;
    lc_[sym_count_] = static_cast<std::uint16_t>(lm3);
    dist_[sym_count_] = static_cast<std::uint16_t>(dist);  // 0 marks a literal
    ++sym_count_;
    ++dist_count_;
    lfreq_[kLiterals + 1 + lcode(lm3)]++;
    dfreq_[d_code(dist - 1)]++;
    return check_flush();
  }

  // Deflate codes length 258 alone as 285; Deflate64 gives 285 to the long
  // lengths and codes 258 as 284 with its extra bits.
  static unsigned lcode(unsigned lm3) {
    if (lm3 >= 256 || (T::kMethod == 8 && lm3 == 255)) return 28;
    return tables().length_code[lm3];
  }

  bool check_flush() {
    if (level_ > 2 && (sym_count_ & 0xFFF) == 0) {
      // A block that codes well is worth closing early so the next part of
      // the input gets trees of its own.
      std::uint64_t out_bits = std::uint64_t(sym_count_) * 8;
      for (int d = 0; d < T::kDCodes; ++d) out_bits += std::uint64_t(dfreq_[d]) * (5 + kExtraDBits[d]);
      const std::uint64_t in_len = static_cast<std::uint64_t>(long(strstart_) - block_start_);
      if (dist_count_ < sym_count_ / 2 && (out_bits >> 3) < in_len / 2) return true;
    }
    return sym_count_ == T::kSymbols - 1 || dist_count_ == T::kSymbols;
  }

  void init_block() {
    std::fill(std::begin(lfreq_), std::end(lfreq_), 0u);
    std::fill(std::begin(dfreq_), std::end(dfreq_), 0u);
    lfreq_[kEndBlock] = 1;
    sym_count_ = 0;
    dist_count_ = 0;
  }

  // --- bit output ---------------------------------------------------------

  void put(std::uint64_t value, int bits) {
    bi_buf_ |= value << bi_valid_;
    bi_valid_ += bits;
    if (bi_valid_ >= 32) {
      const auto word = static_cast<std::uint32_t>(bi_buf_);
      std::memcpy(out_.get() + out_count_, &word, 4);
      out_count_ += 4;
      bi_buf_ >>= 32;
      bi_valid_ -= 32;
      if (out_count_ >= out_size_) flush_out();
    }
  }

  // Pads the bits to a byte boundary.
  void windup() {
    while (bi_valid_ > 0) {
      out_[out_count_++] = static_cast<std::uint8_t>(bi_buf_);
      bi_buf_ >>= 8;
      bi_valid_ = std::max(bi_valid_ - 8, 0);
      if (out_count_ >= out_size_) flush_out();
    }
    bi_buf_ = 0;
    bi_valid_ = 0;
  }

  void put_bytes(const std::uint8_t* p, std::size_t n) {
    while (n) {
      std::size_t k = std::min(n, out_size_ - out_count_);
      std::memcpy(out_.get() + out_count_, p, k);
      out_count_ += k;
      p += k;
      n -= k;
      if (out_count_ >= out_size_) flush_out();
    }
  }

  void flush_out() {
    if (out_count_ == 0) return;
    std::size_t n = out_count_;
    out_count_ = 0;
    if (s_->error) return;
    if (zipWriteData(out_.get(), n, *s_) != n) {
      zip_report_error(*s_, s_->cancel ? ZE_ABORT : s_->volume_error ? s_->volume_error : ZE_WRITE);
      return;
    }
    out_total_ += n;
  }

  // --- blocks -------------------------------------------------------------

  void detect_text() {
    if (!attr_ || *attr_ != 0xFFFF) return;
    std::uint64_t binary = 0, ascii = 0;
    for (int n = 0; n < 7; ++n) binary += lfreq_[n];
    for (int n = 7; n < 128; ++n) ascii += lfreq_[n];
    for (int n = 128; n < kLiterals; ++n) binary += lfreq_[n];
    const bool text = binary <= (ascii >> 2);
    *attr_ = text ? 1 : 0;
    if (!text && s_->cmd.convertLFtoCRLFFlag) zip_warn(*s_, zipMessageText(334, 0));
  }

  void flush_block(bool last) {
    if (s_->error) return;
    detect_text();
    const std::uint64_t stored_len = static_cast<std::uint64_t>(long(strstart_) - block_start_);
    const std::uint8_t* data = block_start_ >= 0 ? window_.get() + block_start_ : nullptr;

    // Trees and sizes.
    const int lmax = build_lengths(lfreq_, kLCodes, kMaxBits, llen_);
    const int dmax = build_lengths(dfreq_, T::kDCodes, kMaxBits, dlen_);
    std::uint64_t dyn_bits = 0, fixed_bits = 0;
    for (int n = 0; n < kLCodes; ++n) {
      const std::uint64_t f = lfreq_[n];
      if (!f) continue;
      const unsigned extra = n > kLiterals ? extra_lbits(n - kLiterals - 1) : 0;
      dyn_bits += f * (llen_[n] + extra);
      fixed_bits += f * (tables().fixed_llen[n] + extra);
    }
    for (int n = 0; n < T::kDCodes; ++n) {
      const std::uint64_t f = dfreq_[n];
      dyn_bits += f * (dlen_[n] + kExtraDBits[n]);
      fixed_bits += f * (5 + kExtraDBits[n]);
    }
    std::uint32_t blfreq[kBLCodes] = {};
    auto count = [&](int sym, int) { blfreq[sym]++; };
    walk_lengths(llen_, lmax, count);
    walk_lengths(dlen_, dmax, count);
    build_lengths(blfreq, kBLCodes, kMaxBLBits, bllen_);
    int blmax = kBLCodes - 1;
    while (blmax >= 3 && bllen_[kBLOrder[blmax]] == 0) --blmax;
    dyn_bits += 5 + 5 + 4 + 3 * std::uint64_t(blmax + 1);
    for (int n = 0; n < kBLCodes; ++n) dyn_bits += std::uint64_t(blfreq[n]) * (bllen_[n] + kExtraBLBits[n]);

    std::uint64_t best = (dyn_bits + 3 + 7) >> 3;
    const std::uint64_t fixed_len = (fixed_bits + 3 + 7) >> 3;
    if (fixed_len <= best) best = fixed_len;

    if (last && !blocks_out_ && stored_len <= best && whole_ok_ && data && !slid_ && method_) {
      // The entry does not shrink: keep it as it is (method 0).
      put_bytes(data, stored_len);
      *method_ = 0;
    } else if (stored_len + 4 <= best && data && stored_ok_) {
      send_stored(data, stored_len, last);
    } else if (fixed_len == best && fixed_ok_) {
      put((last ? 1 : 0) | (1 << 1), 3);
      send_symbols(tables().fixed_lcode, tables().fixed_llen, tables().fixed_dcode, nullptr);
    } else {
      put((last ? 1 : 0) | (2 << 1), 3);
      send_header(lmax, dmax, blmax);
      CodeTables::gen_codes(llen_, kLCodes - 1, lcode_);
      CodeTables::gen_codes(dlen_, T::kDCodes - 1, dcode_);
      send_symbols(lcode_, llen_, dcode_, dlen_);
    }
    blocks_out_ = true;
    block_start_ = strstart_;
    init_block();
    if (last) windup();
  }

  static unsigned extra_lbits(int code) { return code == 28 ? (T::kMethod == 9 ? 16 : 0) : kExtraLBits[code]; }

  void send_stored(const std::uint8_t* data, std::uint64_t len, bool last) {
    // A stored block holds at most 65,535 bytes; a longer one is split.
    do {
      const std::uint64_t n = std::min<std::uint64_t>(len, 0xFFFF);
      const bool final = last && n == len;
      put(final ? 1 : 0, 3);
      windup();
      const std::uint8_t hdr[4] = {std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(~n),
                                   std::uint8_t(~n >> 8)};
      put_bytes(hdr, 4);
      put_bytes(data, n);
      data += n;
      len -= n;
    } while (len);
  }

  void send_header(int lmax, int dmax, int blmax) {
    CodeTables::gen_codes(bllen_, kBLCodes - 1, blcode_);
    put(lmax + 1 - 257, 5);
    put(dmax + 1 - 1, 5);
    put(blmax + 1 - 4, 4);
    for (int n = 0; n <= blmax; ++n) put(bllen_[kBLOrder[n]], 3);
    auto send = [&](int sym, int extra) {
      put(blcode_[sym], bllen_[sym]);
      if (sym >= 16) put(extra, kExtraBLBits[sym]);
    };
    walk_lengths(llen_, lmax, send);
    walk_lengths(dlen_, dmax, send);
  }

  // A match length's code with its extra bits, joined: the bits and their count.
  struct JoinedLengths {
    std::uint32_t bits[256];
    std::uint8_t nbits[256];
  };
  static void join_length(const std::uint16_t* lcodes, const std::uint8_t* llens, unsigned lm3, std::uint32_t* bits,
                          std::uint8_t* nbits) {
    const unsigned code = tables().length_code[lm3];
    unsigned sym = kLiterals + 1 + code;
    unsigned extra = kExtraLBits[code];
    unsigned extra_val = lm3 - kBaseLength[code];
    if (T::kMethod == 8 && lm3 == 255) sym = 285, extra = 0, extra_val = 0;
    *bits = lcodes[sym] | (extra_val << llens[sym]);
    *nbits = static_cast<std::uint8_t>(llens[sym] + extra);
  }
  static void join_lengths(const std::uint16_t* lcodes, const std::uint8_t* llens, JoinedLengths& j) {
    for (unsigned lm3 = 0; lm3 < 256; ++lm3) join_length(lcodes, llens, lm3, &j.bits[lm3], &j.nbits[lm3]);
  }
  static const JoinedLengths& fixed_lengths() {
    static const JoinedLengths j = [] {
      JoinedLengths f;
      join_lengths(tables().fixed_lcode, tables().fixed_llen, f);
      return f;
    }();
    return j;
  }

  // dlen == nullptr: the fixed 5-bit distance codes.
  void send_symbols(const std::uint16_t* lcodes, const std::uint8_t* llens, const std::uint16_t* dcodes,
                    const std::uint8_t* dlens) {
    // The fixed codes' lengths are joined once for all blocks; a block's own
    // codes are joined when it has matches enough to repay the 256 joins,
    // else each match joins its own.
    JoinedLengths own;
    const JoinedLengths* joined = nullptr;
    if (!dlens) {
      joined = &fixed_lengths();
    } else if (dist_count_ >= 128) {
      join_lengths(lcodes, llens, own);
      joined = &own;
    }
    const unsigned long_code = lcodes[285];
    const int long_len = llens[285];
    for (unsigned i = 0; i < sym_count_ && !s_->error; ++i) {
      const unsigned v = lc_[i];
      if (dist_[i] == 0) {
        put(lcodes[v], llens[v]);
        continue;
      }
      if (T::kMethod == 9 && v >= 256) {
        put(long_code | (std::uint64_t(v) << long_len), long_len + 16);
      } else if (joined) {
        put(joined->bits[v], joined->nbits[v]);
      } else {
        std::uint32_t bits;
        std::uint8_t nbits;
        join_length(lcodes, llens, v, &bits, &nbits);
        put(bits, nbits);
      }
      const unsigned d = dist_[i] - 1u;
      const unsigned code = d_code(d);
      const int dl = dlens ? dlens[code] : 5;
      put(dcodes[code] | (std::uint64_t(d - kBaseDist[code]) << dl), dl + kExtraDBits[code]);
    }
    put(lcodes[kEndBlock], llens[kEndBlock]);
  }

  // --- state --------------------------------------------------------------

  ZipState* s_ = nullptr;
  int level_ = 6;
  LevelRow row_ = kLevels[6];
  ZeroedArray<std::uint8_t> window_;
  ZeroedArray<Link> prev_;
  ZeroedArray<Link> head_;
  unsigned ins_h_ = 0;
  unsigned strstart_ = 0;
  long block_start_ = 0;
  unsigned lookahead_ = 0;
  unsigned match_start_ = 0;
  bool eofile_ = false;
  bool slid_ = false;

  std::unique_ptr<std::uint16_t[]> lc_;
  std::unique_ptr<std::uint16_t[]> dist_;
  unsigned sym_count_ = 0;
  unsigned dist_count_ = 0;
  std::uint32_t lfreq_[kLCodes] = {};
  std::uint32_t dfreq_[32] = {};
  std::uint8_t llen_[kLFixed] = {};
  std::uint16_t lcode_[kLFixed] = {};
  std::uint8_t dlen_[32] = {};
  std::uint16_t dcode_[32] = {};
  std::uint8_t bllen_[kBLCodes] = {};
  std::uint16_t blcode_[kBLCodes] = {};

  std::unique_ptr<std::uint8_t[]> out_;
  std::size_t out_size_ = kOutFile;
  std::size_t out_count_ = 0;
  std::uint64_t out_total_ = 0;
  std::uint64_t bi_buf_ = 0;
  int bi_valid_ = 0;
  bool blocks_out_ = false;
  bool stored_ok_ = true, fixed_ok_ = true, whole_ok_ = false;
  std::uint16_t* attr_ = nullptr;
  std::uint16_t* method_ = nullptr;
};

}  // namespace

struct DeflateWork {
  std::unique_ptr<Encoder<Deflate32>> d32;
  std::unique_ptr<Encoder<Deflate64>> d64;
};

void DeflateWorkDeleter::operator()(DeflateWork* w) const { delete w; }

namespace {

template <class T>
Encoder<T>* encoder_of(ZipState& s, bool create);

template <>
Encoder<Deflate32>* encoder_of<Deflate32>(ZipState& s, bool create) {
  if (!s.deflate) {
    if (!create) return nullptr;
    s.deflate.reset(new (std::nothrow) DeflateWork);
    if (!s.deflate) return nullptr;
  }
  if (!s.deflate->d32 && create) s.deflate->d32.reset(new (std::nothrow) Encoder<Deflate32>);
  return s.deflate->d32.get();
}

template <>
Encoder<Deflate64>* encoder_of<Deflate64>(ZipState& s, bool create) {
  if (!s.deflate) {
    if (!create) return nullptr;
    s.deflate.reset(new (std::nothrow) DeflateWork);
    if (!s.deflate) return nullptr;
  }
  if (!s.deflate->d64 && create) s.deflate->d64.reset(new (std::nothrow) Encoder<Deflate64>);
  return s.deflate->d64.get();
}

template <class T>
int start(ZipState& s, int level, std::uint16_t* flags) {
  Encoder<T>* e = nullptr;
  try {
    e = encoder_of<T>(s, true);
  } catch (const std::bad_alloc&) {
    e = nullptr;
  }
  if (!e) {
    zip_report_error(s, ZE_MEM, zipMessageText(380, 0));
    return ZE_MEM;
  }
  try {
    e->start(s, level, flags);
  } catch (const std::bad_alloc&) {
    zip_report_error(s, ZE_MEM, zipMessageText(332, 0));
    return ZE_MEM;
  }
  return 0;
}

template <class T>
void trees_start(ZipState& s, std::uint16_t* attr, std::uint16_t* method) {
  if (Encoder<T>* e = encoder_of<T>(s, false)) e->trees_start(attr, method);
}

template <class T>
std::uint64_t run(ZipState& s) {
  Encoder<T>* e = encoder_of<T>(s, false);
  if (!e) return 0;
  return e->run();
}

}  // namespace

int zipDeflateStart(ZipState& s, int level, std::uint16_t* flags) { return start<Deflate32>(s, level, flags); }
int zipDeflate64Start(ZipState& s, int level, std::uint16_t* flags) {
  return start<Deflate64>(s, level, flags);
}
void zipTreesStart(ZipState& s, std::uint16_t* attr, std::uint16_t* method) {
  trees_start<Deflate32>(s, attr, method);
}
void zipTrees64Start(ZipState& s, std::uint16_t* attr, std::uint16_t* method) {
  trees_start<Deflate64>(s, attr, method);
}
std::uint64_t zipDeflate(ZipState& s) { return run<Deflate32>(s); }
std::uint64_t zipDeflate64(ZipState& s) { return run<Deflate64>(s); }
void zip_release_encoders(ZipState& s) { s.deflate.reset(); }

}  // namespace ziplib
