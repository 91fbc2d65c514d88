// Printing a value or a text through a format taken from a template.
//
// Template formats are outside text, so they never reach the C formatter
// as they stand.  Exactly one conversion is honoured: the first one of the
// class that fits what is printed:
//   values: e E f F g G, and d i u o x X c with the value truncated to an
//           integer (its low 32 bits);
//   texts:  s.
// A conversion may carry the flags "-+ #0", a width, a precision (each cut
// at 1000) and an "l" (ignored).  "%%" prints "%".  Every other "%"
// sequence -- a second conversion, one of the other class, "%n", a "*"
// width, an unknown letter, a "%" at the end -- is written as it stands.  The result is cut at 143
// characters and never holds a NUL.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vaslab {

constexpr std::size_t kFormattedTextChars = 143;

// With `minutes` set, a first conversion ending in "t" or "T" prints the
// value (seconds) as "m:ss": minutes 10..99 as two digits, below 10 as one
// digit preceded by a blank when the width written between "%" and the
// letter is 1, by nothing when it is 2 and by "0" otherwise; 100 minutes or
// more, or a negative time, print "*" for the minutes and "**" for the
// seconds, with the same prefix.
std::string format_template_value(std::string_view format, double value, bool minutes = false);
std::string format_template_text(std::string_view format, std::string_view text);

// A text field of a stored record: the bytes up to the first NUL, never
// past the field.
inline std::string_view field_text(const void* field, std::size_t width) {
  const char* p = static_cast<const char*>(field);
  std::size_t n = 0;
  while (n < width && p[n]) ++n;
  return {p, n};
}

}  // namespace vaslab
