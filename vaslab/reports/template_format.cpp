#include "vaslab/reports/template_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vaslab/reports/formula.h"

namespace vaslab {

namespace {

constexpr int kMaxWidth = 1000;

// One "%" sequence of a format: [begin, end) in the format text.
struct Conversion {
  std::size_t begin = 0, end = 0;
  std::string flags;
  int width = -1;      // -1: none written
  int precision = -1;  // -1: none written
  char letter = '\0';  // '\0': the format ended inside the sequence
};

int read_number(std::string_view f, std::size_t& j) {
  int n = 0;
  while (j < f.size() && f[j] >= '0' && f[j] <= '9') {
    n = std::min(kMaxWidth, n * 10 + (f[j] - '0'));
    ++j;
  }
  return n;
}

Conversion parse(std::string_view f, std::size_t at) {
  Conversion c;
  c.begin = at;
  std::size_t j = at + 1;
  while (j < f.size() && f[j] != '\0' && std::strchr("-+ #0", f[j])) c.flags += f[j++];
  if (j < f.size() && f[j] >= '0' && f[j] <= '9') c.width = read_number(f, j);
  if (j < f.size() && f[j] == '.') {
    ++j;
    c.precision = read_number(f, j);
  }
  if (j < f.size() && f[j] == 'l') ++j;
  if (j < f.size()) c.letter = f[j++];
  c.end = j;
  return c;
}

template <class T>
std::string printf_one(const Conversion& c, char letter, T value) {
  std::string spec = "%" + c.flags;
  if (c.width >= 0) spec += std::to_string(c.width);
  if (c.precision >= 0) spec += "." + std::to_string(c.precision);
  spec += letter;
  const int n = std::snprintf(nullptr, 0, spec.c_str(), value);
  if (n <= 0) return {};
  std::vector<char> buf(static_cast<std::size_t>(n) + 1);
  std::snprintf(buf.data(), buf.size(), spec.c_str(), value);
  return std::string(buf.data(), static_cast<std::size_t>(n));
}

std::string minutes_text(const Conversion& c, double value) {
  const std::int64_t seconds = formula_to_int(value);
  const std::string prefix = c.width == 1 ? " " : c.width == 2 ? "" : "0";
  if (seconds < 0 || seconds >= 100 * 60) return prefix + "*:**";
  const int m = static_cast<int>(seconds / 60), s = static_cast<int>(seconds % 60);
  char buf[16];
  if (m >= 10)
    std::snprintf(buf, sizeof buf, "%d:%02d", m, s);
  else
    std::snprintf(buf, sizeof buf, "%s%d:%02d", prefix.c_str(), m, s);
  return buf;
}

enum class Kind { kValue, kText };

std::string format_one(std::string_view format, Kind kind, double value, std::string_view text,
                       bool minutes) {
  format = field_text(format.data(), format.size());
  std::string out;
  bool done = false;
  for (std::size_t i = 0; i < format.size();) {
    if (format[i] != '%') {
      out += format[i++];
      continue;
    }
    const Conversion c = parse(format, i);
    i = c.end;
    const std::string_view literal = format.substr(c.begin, c.end - c.begin);
    if (c.letter == '%' && c.end == c.begin + 2) {
      out += '%';
      continue;
    }
    if (done || c.letter == '\0') {
      out += literal;
      continue;
    }
    const char l = c.letter;
    if (kind == Kind::kValue && minutes && (l == 't' || l == 'T')) {
      out += minutes_text(c, value);
    } else if (kind == Kind::kValue && std::strchr("eEfFgG", l)) {
      out += printf_one(c, l, value);
    } else if (kind == Kind::kValue && std::strchr("diuoxXc", l)) {
      const auto low = static_cast<std::uint32_t>(formula_to_int(value));
      if (std::strchr("di", l) || l == 'c')
        out += printf_one(c, l, static_cast<int>(low));
      else
        out += printf_one(c, l, static_cast<unsigned>(low));
    } else if (kind == Kind::kText && l == 's') {
      const std::string copy(text);
      out += printf_one(c, l, copy.c_str());
    } else {
      out += literal;
      continue;
    }
    done = true;
    if (out.size() > kFormattedTextChars) break;
  }
  // A "%c" of 0 ends the text there, as it would in the pool.
  out.resize(std::min(std::strlen(out.c_str()), kFormattedTextChars));
  return out;
}

}  // namespace

std::string format_template_value(std::string_view format, double value, bool minutes) {
  return format_one(format, Kind::kValue, value, {}, minutes);
}

std::string format_template_text(std::string_view format, std::string_view text) {
  return format_one(format, Kind::kText, 0, text, false);
}

}  // namespace vaslab
