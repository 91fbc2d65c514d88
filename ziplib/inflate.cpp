// Deflate and Deflate64 decoding.  Output is decoded straight into one linear
// buffer that holds the history window followed by room for new bytes; when
// the room is used up the new bytes go to the sink and the last window's worth
// slides to the front.  Matches never wrap, so the inner loop copies them in
// wide moves.  Long runs of stored data go to the sink straight from the
// input.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "ziplib/decode.h"
#include "ziplib/decode_bits.h"
#include "ziplib/inflate_tables.h"

namespace ziplib {
namespace {

constexpr unsigned kLitRoot = 10;
constexpr unsigned kDistRoot = 8;
constexpr unsigned kLenRoot = 7;
constexpr size_t kLitCap = table_capacity(288, kLitRoot, 15);
constexpr size_t kDistCap = table_capacity(32, kDistRoot, 15);
constexpr size_t kNewRoom = 256 * 1024;  // new bytes between slides
constexpr size_t kSlack = 32;            // wide moves may run this far past a match
constexpr size_t kFlushRun = 16 * 1024;  // coded output handed over this often
constexpr size_t kPassThrough = 64;      // stored runs this long skip the window

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// Entry templates per symbol for one variant.
struct Templates {
  HuffEntry lit[288];
  HuffEntry dist[32];
};

Templates make_templates(bool d64) {
  Templates t{};
  for (unsigned s = 0; s < 256; ++s) t.lit[s] = {uint16_t(s), 0, kOpLiteral};
  t.lit[256] = {0, 0, kOpEnd};
  for (unsigned s = 257; s < 286; ++s)
    t.lit[s] = {kLenBase[s - 257], 0, uint8_t(kOpBase | kLenExtra[s - 257])};
  if (d64) t.lit[285] = {3, 0, uint8_t(kOpBase | 16)};
  t.lit[286] = t.lit[287] = {0, 0, kOpInvalid};
  for (unsigned s = 0; s < 32; ++s) t.dist[s] = {kDistBase[s], 0, uint8_t(kOpBase | kDistExtra[s])};
  if (!d64) t.dist[30] = t.dist[31] = {0, 0, kOpInvalid};
  return t;
}

const Templates& templates(bool d64) {
  static const Templates plain = make_templates(false);
  static const Templates wide = make_templates(true);
  return d64 ? wide : plain;
}

struct FixedTables {
  HuffEntry lit[kLitCap];
  HuffEntry dist[kDistCap];
};

std::unique_ptr<FixedTables> make_fixed(bool d64) {
  auto f = std::make_unique<FixedTables>();
  uint8_t lens[288];
  for (unsigned s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  build_table(lens, 288, templates(d64).lit, kLitRoot, f->lit, kLitCap);
  uint8_t dl[32];
  std::memset(dl, 5, sizeof dl);
  build_table(dl, 32, templates(d64).dist, kDistRoot, f->dist, kDistCap);
  return f;
}

const FixedTables& fixed_tables(bool d64) {
  static const std::unique_ptr<FixedTables> plain = make_fixed(false);
  static const std::unique_ptr<FixedTables> wide = make_fixed(true);
  return d64 ? *wide : *plain;
}

// The buffer of the last item decoded on this thread, kept for the next one
// (Deflate, Deflate64): an archive of thousands of small items would
// otherwise allocate and free a third of a megabyte for each.
thread_local std::unique_ptr<uint8_t[]> t_spare[2];

class Inflater {
 public:
  Inflater(ByteSource& in, ByteSink& out, bool d64) : br_(in), sink_(out), d64_(d64) {}
  ~Inflater() {
    if (buf_) t_spare[d64_] = std::move(buf_);
  }
  CodecResult run();

 private:
  CodecResult stored_block();
  CodecResult dynamic_tables();
  CodecResult codes(const HuffEntry* lt, const HuffEntry* dt);
  bool slide();
  // Coded output goes to the sink in short runs while it is still in the
  // first-level cache; the window slides only when the room is used up.
  bool flush() {
    if (out_ >= limit_) return slide();
    if (!sink_.put(flushed_, size_t(out_ - flushed_))) return false;
    flushed_ = out_;
    return true;
  }
  uint8_t* flush_mark() const { return size_t(limit_ - flushed_) > kFlushRun ? flushed_ + kFlushRun : limit_; }
  // Hands a run of stored input to the sink as it stands.  Its bytes become
  // history only when something could need them (settle_history): before
  // the next coded block or stored copy, and before the reader leaves the
  // input run they lie in.
  bool pass_through(const uint8_t* p, size_t n);
  void settle_history();
  void settle_before_next_run() {
    if (pending_end_ != pending_first_ && br_.end - br_.p < 8) settle_history();
  }
  void keep_history(const uint8_t* p, size_t n);

  BitReader br_;
  ByteSink& sink_;
  bool d64_;
  size_t wsize_ = 0;
  std::unique_ptr<uint8_t[]> buf_;
  uint8_t* out_ = nullptr;      // next output byte
  uint8_t* flushed_ = nullptr;  // output before this went to the sink
  uint8_t* limit_ = nullptr;    // slide once out_ reaches this
  HuffEntry lit_[kLitCap];
  HuffEntry dist_[kDistCap];
  // Stored runs already delivered but not yet in the window, oldest first;
  // only as many as the last window's worth of output needs.
  struct Run {
    const uint8_t* p;
    size_t n;
  };
  Run pending_[1024];
  size_t pending_first_ = 0, pending_end_ = 0;  // the live runs
  size_t pending_bytes_ = 0;
};

bool Inflater::slide() {
  if (!sink_.put(flushed_, size_t(out_ - flushed_))) return false;
  size_t have = size_t(out_ - buf_.get());
  if (have > wsize_) {
    std::memmove(buf_.get(), out_ - wsize_, wsize_);
    out_ = buf_.get() + wsize_;
  }
  flushed_ = out_;
  return true;
}

CodecResult Inflater::run() {
  wsize_ = d64_ ? 65536 : 32768;
  const size_t max_match = d64_ ? 65538 : 258;
  buf_ = std::move(t_spare[d64_]);
  if (!buf_) buf_.reset(new (std::nothrow) uint8_t[wsize_ + kNewRoom + max_match + kSlack]);
  if (!buf_) return CodecResult::kNoMemory;
  out_ = flushed_ = buf_.get();
  limit_ = buf_.get() + wsize_ + kNewRoom;

  bool last = false;
  while (!last) {
    settle_before_next_run();
    br_.need(3);
    last = br_.get(1);
    const unsigned type = br_.get(2);
    if (type != 0) settle_history();
    CodecResult r;
    switch (type) {
      case 0: r = stored_block(); break;
      case 1: r = codes(fixed_tables(d64_).lit, fixed_tables(d64_).dist); break;
      case 2:
        r = dynamic_tables();
        if (r == CodecResult::kOk) r = codes(lit_, dist_);
        break;
      default: return br_.overread() ? CodecResult::kInputEnded : CodecResult::kBadBlockType;
    }
    if (br_.overread()) return CodecResult::kInputEnded;
    if (r != CodecResult::kOk) return r;
  }
  if (!sink_.put(flushed_, size_t(out_ - flushed_))) return CodecResult::kStopped;
  flushed_ = out_;
  return CodecResult::kOk;
}

CodecResult Inflater::stored_block() {
  br_.drop(br_.count & 7);
  settle_before_next_run();
  br_.need(32);
  unsigned len = br_.get(16);
  unsigned nlen = br_.get(16);
  if (br_.overread()) return CodecResult::kInputEnded;
  if (len != (~nlen & 0xFFFF)) return CodecResult::kBadCode;
  // Whole bytes already in the bit buffer come first, read again in place
  // where they can be.
  if (len > 0 && br_.count >= 8 && !br_.unread_bytes()) settle_history();
  while (len > 0 && br_.count >= 8) {
    if (br_.overread() || br_.count < br_.zeros * 8u + 8) return CodecResult::kInputEnded;
    *out_++ = uint8_t(br_.buf);
    br_.drop(8);
    --len;
    if (out_ >= limit_ && !slide()) return CodecResult::kStopped;
  }
  if (br_.count == 0) br_.buf = 0;  // the reader's next bits are now copied directly
  while (len > 0) {
    if (br_.p == br_.end) {
      settle_history();
      if (br_.done || !br_.next_run()) return CodecResult::kInputEnded;
    }
    size_t n = len;
    if (n > size_t(br_.end - br_.p)) n = size_t(br_.end - br_.p);
    if (n >= kPassThrough) {
      if (!pass_through(br_.p, n)) return CodecResult::kStopped;
    } else {
      settle_history();
      if (n > size_t(limit_ - out_)) n = size_t(limit_ - out_);
      std::memcpy(out_, br_.p, n);
      out_ += n;
      if (out_ >= limit_ && !slide()) return CodecResult::kStopped;
    }
    br_.p += n;
    len -= unsigned(n);
  }
  return CodecResult::kOk;
}

bool Inflater::pass_through(const uint8_t* p, size_t n) {
  if (out_ > flushed_ && !sink_.put(flushed_, size_t(out_ - flushed_))) return false;
  flushed_ = out_;
  if (!sink_.put(p, n)) return false;
  if (pending_end_ == std::size(pending_)) {
    if (pending_first_ == 0) {
      settle_history();  // as many short runs as there is room for
    } else {
      std::memmove(pending_, pending_ + pending_first_, (pending_end_ - pending_first_) * sizeof pending_[0]);
      pending_end_ -= pending_first_;
      pending_first_ = 0;
    }
  }
  pending_[pending_end_++] = {p, n};
  pending_bytes_ += n;
  // Runs that the later ones push out of the window are never needed.
  while (pending_bytes_ - pending_[pending_first_].n >= wsize_) pending_bytes_ -= pending_[pending_first_++].n;
  return true;
}

void Inflater::settle_history() {
  for (size_t i = pending_first_; i < pending_end_; ++i) keep_history(pending_[i].p, pending_[i].n);
  pending_first_ = pending_end_ = pending_bytes_ = 0;
}

// Appends delivered bytes to the window.
void Inflater::keep_history(const uint8_t* p, size_t n) {
  uint8_t* const base = buf_.get();
  if (n >= wsize_) {
    std::memcpy(base, p + n - wsize_, wsize_);
    out_ = base + wsize_;
  } else {
    if (n > size_t(limit_ - out_)) {
      const size_t keep = std::min(wsize_, size_t(out_ - base));
      std::memmove(base, out_ - keep, keep);
      out_ = base + keep;
    }
    std::memcpy(out_, p, n);
    out_ += n;
  }
  flushed_ = out_;
}

CodecResult Inflater::dynamic_tables() {
  br_.need(14);
  unsigned nlit = br_.get(5) + 257;
  unsigned ndist = br_.get(5) + 1;
  unsigned ncode = br_.get(4) + 4;
  if (nlit > 286 || ndist > (d64_ ? 32u : 30u)) return CodecResult::kBadCode;

  uint8_t lens[288 + 32] = {};
  for (unsigned i = 0; i < ncode; ++i) lens[kCodeLengthOrder[i]] = uint8_t(br_.get(3));
  HuffEntry cl[1 << kLenRoot];
  if (build_table(lens, 19, nullptr, kLenRoot, cl, sizeof cl / sizeof cl[0]) != TableResult::kComplete)
    return CodecResult::kBadCode;

  std::memset(lens, 0, 19);
  const unsigned total = nlit + ndist;
  for (unsigned i = 0; i < total;) {
    br_.need(14);
    if (br_.exhausted()) return CodecResult::kInputEnded;
    HuffEntry e = cl[br_.peek(kLenRoot)];
    br_.drop(e.bits);
    unsigned sym = e.val;
    if (sym < 16) {
      lens[i++] = uint8_t(sym);
      continue;
    }
    unsigned rep;
    uint8_t value = 0;
    if (sym == 16) {
      if (i == 0) return CodecResult::kBadCode;  // nothing to repeat
      value = lens[i - 1];
      rep = 3 + br_.get(2);
    } else if (sym == 17) {
      rep = 3 + br_.get(3);
    } else {
      rep = 11 + br_.get(7);
    }
    if (i + rep > total) return CodecResult::kBadCode;
    std::memset(lens + i, value, rep);
    i += rep;
  }
  if (br_.overread()) return CodecResult::kInputEnded;
  if (lens[256] == 0) return CodecResult::kBadCode;  // a block must be able to end

  const Templates& t = templates(d64_);
  TableResult r = build_table(lens, nlit, t.lit, kLitRoot, lit_, kLitCap);
  if (r != TableResult::kComplete && r != TableResult::kSingle) return CodecResult::kBadCode;
  r = build_table(lens + nlit, ndist, t.dist, kDistRoot, dist_, kDistCap);
  if (r != TableResult::kComplete && r != TableResult::kSingle && r != TableResult::kEmpty)
    return CodecResult::kBadCode;
  return CodecResult::kOk;
}

CodecResult Inflater::codes(const HuffEntry* lt, const HuffEntry* dt) {
  // The hot loop keeps the reader and output position in locals: stores
  // through byte pointers would otherwise force reloads of every member.
  uint64_t bb = br_.buf;
  unsigned bc = br_.count;
  const uint8_t* in = br_.p;
  const uint8_t* in_end = br_.end;
  uint8_t* o = out_;
  uint8_t* const base = buf_.get();
  uint8_t* mark = flush_mark();
  CodecResult result = CodecResult::kOk;

#define SAVE_STATE() (br_.buf = bb, br_.count = bc, br_.p = in, br_.end = in_end, out_ = o)
#define LOAD_STATE() (bb = br_.buf, bc = br_.count, in = br_.p, in_end = br_.end, o = out_)
#define REFILL()                                               \
  do {                                                         \
    if (in_end - in >= 8) {                                    \
      uint64_t w_;                                             \
      std::memcpy(&w_, in, 8);                                 \
      bb |= w_ << bc;                                          \
      in += (63 - bc) >> 3;                                    \
      bc |= 56;                                                \
    } else {                                                   \
      SAVE_STATE();                                            \
      br_.fill();                                              \
      LOAD_STATE();                                            \
      if (br_.exhausted()) {                                   \
        result = CodecResult::kInputEnded;                     \
        goto done;                                             \
      }                                                        \
    }                                                          \
  } while (0)
#define SLIDE_IF_FULL()                        \
  do {                                         \
    if (o >= mark) {                           \
      SAVE_STATE();                            \
      if (!flush()) {                          \
        result = CodecResult::kStopped;        \
        goto done;                             \
      }                                        \
      LOAD_STATE();                            \
      mark = flush_mark();                     \
    }                                          \
  } while (0)

  for (;;) {
    if (bc < 48) REFILL();
    HuffEntry e = lt[bb & ((1u << kLitRoot) - 1)];
    if (e.op & kOpSub) e = lt[e.val + ((bb >> kLitRoot) & ((1u << (e.op & 15)) - 1))];
    bb >>= e.bits;
    bc -= e.bits;
    if (e.op == kOpLiteral) {
      *o++ = uint8_t(e.val);
      // A second literal needs no refill: 48 - 15 bits are still there.
      e = lt[bb & ((1u << kLitRoot) - 1)];
      if (e.op == kOpLiteral) {
        bb >>= e.bits;
        bc -= e.bits;
        *o++ = uint8_t(e.val);
      }
      SLIDE_IF_FULL();
      continue;
    }
    if (!(e.op & kOpBase)) {
      if (e.op != kOpEnd) result = CodecResult::kBadCode;
      break;
    }
    unsigned extra = e.op & 31;
    size_t len = e.val + size_t(bb & ((uint64_t(1) << extra) - 1));
    bb >>= extra;
    bc -= extra;
    if (bc < 32) REFILL();
    e = dt[bb & ((1u << kDistRoot) - 1)];
    if (e.op & kOpSub) e = dt[e.val + ((bb >> kDistRoot) & ((1u << (e.op & 15)) - 1))];
    bb >>= e.bits;
    bc -= e.bits;
    if (!(e.op & kOpBase)) {
      result = CodecResult::kBadCode;
      break;
    }
    extra = e.op & 31;
    size_t dist = e.val + size_t(bb & ((uint64_t(1) << extra) - 1));
    bb >>= extra;
    bc -= extra;
    if (dist > size_t(o - base)) {  // before the start of this item's output
      result = CodecResult::kBadCode;
      break;
    }
    const uint8_t* src = o - dist;
    uint8_t* end = o + len;
    if (dist >= 32) {
      do {
        std::memcpy(o, src, 32);
        o += 32;
        src += 32;
      } while (o < end);
    } else if (dist >= 16) {
      do {
        std::memcpy(o, src, 16);
        o += 16;
        src += 16;
      } while (o < end);
    } else if (dist == 1) {
      std::memset(o, *src, len);
    } else {
      // The first bytes one by one up to a whole number of periods of at
      // least 16; from there the pattern repeats at that distance, which
      // 16-byte moves can copy without overlap.
      size_t step = dist;
      while (step < 16) step += dist;
      const size_t head = len < step ? len : step;
      for (size_t i = 0; i < head; ++i) o[i] = src[i];
      for (o += head; o < end; o += 16) std::memcpy(o, o - step, 16);
    }
    o = end;
    SLIDE_IF_FULL();
  }
  SAVE_STATE();
done:
#undef SLIDE_IF_FULL
#undef REFILL
#undef LOAD_STATE
#undef SAVE_STATE
  return result;
}

}  // namespace

CodecResult inflate(ByteSource& in, ByteSink& out, bool deflate64) {
  std::unique_ptr<Inflater> inflater(new (std::nothrow) Inflater(in, out, deflate64));
  if (!inflater) return CodecResult::kNoMemory;
  return inflater->run();
}

}  // namespace ziplib
