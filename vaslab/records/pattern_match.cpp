// The automaton is a byte sequence of operations, each a code byte and its
// operand, ended by END.  Matching walks it from each trying position; a
// closure takes the longest run of its item and gives characters back one at
// a time, trying the rest of the automaton after each (backtracking by
// recursion, one level per closure, so the depth is bounded by the
// automaton's size).  Backtracking can take time that grows steeply with the
// text, so a walk counts its steps and gives up past a fixed budget.
#include "vaslab/records/pattern_match.h"

#include <cstdint>
#include <cstring>

namespace vaslab {
namespace {

enum Op : std::uint8_t {
  END = 0,
  CHR = 1,   // operand: the character
  ANY = 2,
  CCL = 3,   // operand: 16-byte bitmap of characters modulo 128
  BOL = 4,
  EOL = 5,
  BOT = 6,   // operand: group number
  EOT = 7,   // operand: group number
  BOW = 8,
  EOW = 9,
  REF = 10,  // operand: group number
  CLO = 11,  // operand: one CHR, ANY or CCL, then END
};

constexpr int kBitmapSize = 16;
constexpr int kGroups = 10;

std::uint8_t automaton[kPatternAutomatonSize];
bool automaton_valid = false;

const char* group_begin[kGroups];
const char* group_end[kGroups];
const char* subject_start = nullptr;
long steps_left = 0;
bool gave_up = false;

constexpr const char* kTooLong = "Pattern too long";

bool in_class(const std::uint8_t* bitmap, char c) {
  const unsigned v = static_cast<unsigned char>(c) & 0x7F;
  return (bitmap[v >> 3] >> (v & 7)) & 1;
}

void add_to_class(std::uint8_t* bitmap, char c) {
  const unsigned v = static_cast<unsigned char>(c) & 0x7F;
  bitmap[v >> 3] |= static_cast<std::uint8_t>(1u << (v & 7));
}

bool is_word_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Builds the automaton in a scratch buffer; only a whole one is installed.
class Compiler {
 public:
  const char* compile(const char* p) {
    const char* const first = p;
    int last_item = -1;  // start of the item a closure would repeat
    for (; *p; ++p) {
      const int here = pos_;
      switch (*p) {
        case '.':
          emit(ANY);
          break;
        case '^':
          if (p == first) {
            emit(BOL);
          } else {
            emit(CHR);
            emit('^');
          }
          break;
        case '$':
          if (p[1] == '\0') {
            emit(EOL);
          } else {
            emit(CHR);
            emit('$');
          }
          break;
        case '[':
          if (const char* err = compile_class(p)) return err;
          break;
        case '*':
        case '+': {
          if (p == first) return "Empty closure";
          const std::uint8_t op = buf_[last_item];
          if (op == BOL || op == BOT || op == EOT || op == BOW || op == EOW || op == REF)
            return "Illegal closure";
          if (op == CLO) continue;  // a second closure adds nothing
          if (*p == '+') {
            // The item once, then a closure over a copy of it.
            const int len = pos_ - last_item;
            for (int i = 0; i < len; ++i) emit(buf_[last_item + i]);
            last_item += len;
          }
          if (overflow_ || !insert_closure(last_item)) return kTooLong;
          continue;  // the closure is now the last item
        }
        case '\\':
          ++p;
          if (const char* err = compile_escape(p, last_item == here - 2, last_item >= 0 && last_item == here - 1 ? buf_[last_item] : std::uint8_t{END}))
            return err;
          if (*p == '\0') --p;  // a trailing backslash stands for itself
          break;
        default:
          emit(CHR);
          emit(*p);
          break;
      }
      if (overflow_) return kTooLong;
      last_item = here;
    }
    if (open_count_ > 0) return "Unmatched \\(";
    emit(END);
    return overflow_ ? kTooLong : nullptr;
  }

  const std::uint8_t* code() const { return buf_; }
  int size() const { return pos_; }

 private:
  void emit(int b) {
    if (pos_ >= static_cast<int>(sizeof buf_)) {
      overflow_ = true;
      return;
    }
    buf_[pos_++] = static_cast<std::uint8_t>(b);
  }

  // Wraps the item at `at` as CLO item END.
  bool insert_closure(int at) {
    if (pos_ + 2 > static_cast<int>(sizeof buf_)) {
      overflow_ = true;
      return false;
    }
    std::memmove(buf_ + at + 1, buf_ + at, pos_ - at);
    buf_[at] = CLO;
    ++pos_;
    buf_[pos_++] = END;
    return true;
  }

  const char* compile_class(const char*& p) {
    std::uint8_t bitmap[kBitmapSize] = {};
    ++p;
    bool negate = false;
    if (*p == '^') {
      negate = true;
      ++p;
    }
    if (*p == '-' || *p == ']') add_to_class(bitmap, *p++);
    char prev = p[-1];
    while (*p && *p != ']') {
      if (*p == '-' && p[1] && p[1] != ']') {
        // A reversed range ("z-a") adds nothing.
        const unsigned lo = static_cast<unsigned char>(prev) + 1;
        const unsigned hi = static_cast<unsigned char>(p[1]);
        for (unsigned c = lo; c <= hi; ++c) add_to_class(bitmap, static_cast<char>(c));
        prev = p[1];
        p += 2;
      } else {
        prev = *p;
        add_to_class(bitmap, *p++);
      }
    }
    if (*p != ']') return "Missing ]";
    emit(CCL);
    for (std::uint8_t b : bitmap) emit(negate ? static_cast<std::uint8_t>(~b) : b);
    return nullptr;
  }

  // `two_back`: the last item is the two bytes just before; `last_op`: the
  // last item when it is the one byte just before, else END.
  const char* compile_escape(const char* p, bool two_back, std::uint8_t last_op) {
    switch (*p) {
      case '(':
        if (next_group_ >= kGroups) return "Too many \\(\\) pairs";
        open_[open_count_++] = next_group_;
        emit(BOT);
        emit(next_group_++);
        return nullptr;
      case ')': {
        if (open_count_ == 0) return "Unmatched \\)";
        const int n = open_[open_count_ - 1];
        if (two_back && buf_[pos_ - 2] == BOT && buf_[pos_ - 1] == n)
          return "Null pattern inside \\(\\)";
        --open_count_;
        emit(EOT);
        emit(n);
        return nullptr;
      }
      case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': {
        const int n = *p - '0';
        if (n >= next_group_) return "Undetermined reference";
        // A group still open, however far out, would refer to itself.
        for (int i = 0; i < open_count_; ++i)
          if (open_[i] == n) return "Cyclical reference";
        emit(REF);
        emit(n);
        return nullptr;
      }
      case '<':
        emit(BOW);
        return nullptr;
      case '>':
        if (last_op == BOW) return "Null pattern inside \\<\\>";
        emit(EOW);
        return nullptr;
      case '\0':
        emit(CHR);
        emit('\\');
        return nullptr;
      default:
        emit(CHR);
        emit(*p);
        return nullptr;
    }
  }

  std::uint8_t buf_[kPatternAutomatonSize];
  int pos_ = 0;
  bool overflow_ = false;
  int next_group_ = 1;
  int open_[kGroups];
  int open_count_ = 0;
};

// Where matching `ap` from `lp` ends, or nullptr.
const char* match_here(const char* lp, const std::uint8_t* ap) {
  for (;;) {
    if (--steps_left < 0) {
      gave_up = true;
      return nullptr;
    }
    switch (*ap++) {
      case END:
        return lp;
      case CHR:
        if (*lp++ != static_cast<char>(*ap++)) return nullptr;
        break;
      case ANY:
        if (!*lp++) return nullptr;
        break;
      case CCL:
        if (!*lp || !in_class(ap, *lp)) return nullptr;
        ++lp;
        ap += kBitmapSize;
        break;
      case BOL:
        if (lp != subject_start) return nullptr;
        break;
      case EOL:
        if (*lp) return nullptr;
        break;
      case BOT:
        group_begin[*ap++] = lp;
        break;
      case EOT:
        group_end[*ap++] = lp;
        break;
      case BOW:
        if ((lp != subject_start && is_word_char(lp[-1])) || !is_word_char(*lp)) return nullptr;
        break;
      case EOW:
        if (lp == subject_start || !is_word_char(lp[-1]) || is_word_char(*lp)) return nullptr;
        break;
      case REF: {
        const int n = *ap++;
        const char* bp = group_begin[n];
        const char* ep = group_end[n];
        if (!bp || !ep) return nullptr;
        for (; bp < ep; ++bp, ++lp)
          if (*bp != *lp) return nullptr;
        break;
      }
      case CLO: {
        const char* const run_start = lp;
        int item_size;
        switch (*ap) {
          case ANY:
            lp += std::strlen(lp);
            item_size = 1;
            break;
          case CHR:
            while (*lp && *lp == static_cast<char>(ap[1])) ++lp;
            item_size = 2;
            break;
          default:  // CCL
            while (*lp && in_class(ap + 1, *lp)) ++lp;
            item_size = 1 + kBitmapSize;
            break;
        }
        ap += item_size + 1;  // the item and its END
        for (;; --lp) {
          if (const char* e = match_here(lp, ap)) return e;
          if (gave_up || lp == run_start) return nullptr;
          if (--steps_left < 0) {
            gave_up = true;
            return nullptr;
          }
        }
      }
      default:
        return nullptr;  // not produced by the compiler
    }
  }
}

void clear_groups() {
  for (int i = 0; i < kGroups; ++i) group_begin[i] = group_end[i] = nullptr;
}

}  // namespace

const char* re_comp(const char* pattern) {
  if (!pattern || !*pattern) return automaton_valid ? nullptr : "No previous regular expression";
  automaton_valid = false;
  Compiler c;
  if (const char* err = c.compile(pattern)) return err;
  std::memcpy(automaton, c.code(), c.size());
  automaton_valid = true;
  return nullptr;
}

bool re_exec(const char* text) {
  clear_groups();
  gave_up = false;
  if (!automaton_valid || !text) return false;
  subject_start = text;
  steps_left = kPatternStepBudget;
  const char* lp = text;
  const char* end = nullptr;
  switch (automaton[0]) {
    case BOL:
      end = match_here(lp, automaton);
      break;
    case CHR:
      for (;; ++lp) {
        lp = std::strchr(lp, static_cast<char>(automaton[1]));
        if (!lp || *lp == '\0') break;
        if ((end = match_here(lp, automaton)) || gave_up) break;
      }
      break;
    default:
      for (;; ++lp) {
        if ((end = match_here(lp, automaton)) || gave_up || !*lp) break;
      }
      break;
  }
  if (!end || gave_up) {
    clear_groups();
    return false;
  }
  group_begin[0] = lp;
  group_end[0] = end;
  return true;
}

bool re_exec_gave_up() { return gave_up; }

bool re_subs(const char* tmpl, char* dest, std::size_t capacity) {
  if (!dest || capacity == 0) return false;
  dest[0] = '\0';
  if (!tmpl || !group_begin[0]) return false;
  std::size_t out = 0;
  auto put = [&](char c) {
    if (out + 1 >= capacity) return false;
    dest[out++] = c;
    return true;
  };
  for (const char* s = tmpl; *s; ++s) {
    int n = -1;
    if (*s == '&') {
      n = 0;
    } else if (*s == '\\' && s[1] >= '0' && s[1] <= '9') {
      n = *++s - '0';
    } else if (*s == '\\' && s[1]) {
      ++s;  // a lone trailing backslash stands for itself
    }
    bool ok = true;
    if (n < 0) {
      ok = put(*s);
    } else if (group_begin[n] && group_end[n]) {
      for (const char* bp = group_begin[n]; ok && bp < group_end[n]; ++bp) ok = *bp != '\0' && put(*bp);
    }
    if (!ok) {
      dest[0] = '\0';
      return false;
    }
  }
  dest[out] = '\0';
  return true;
}

const char* regex_group_start(int n) {
  return n >= 0 && n < kGroups ? group_begin[n] : nullptr;
}

int regex_group_length(int n) {
  if (n < 0 || n >= kGroups || !group_begin[n] || !group_end[n]) return 0;
  return static_cast<int>(group_end[n] - group_begin[n]);
}

}  // namespace vaslab
