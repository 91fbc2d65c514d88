// A pattern, a text and a template, any bytes, split at the first two NULs.
// Compiling must give a result or an error, matching must end within its
// step budget with every group inside the text, and substitution must stay
// within the destination it is given.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vaslab/records/pattern_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string parts[3];
  int k = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && k < 2) ++k;
    else parts[k] += static_cast<char>(data[i]);
  }
  const std::string& text = parts[1];
  if (vaslab::re_comp(parts[0].c_str())) {
    if (vaslab::re_exec(text.c_str())) abort();
    return 0;
  }
  if (vaslab::re_exec(text.c_str())) {
    for (int g = 0; g < 10; ++g) {
      const char* s = vaslab::regex_group_start(g);
      if (!s) continue;
      const int len = vaslab::regex_group_length(g);
      if (s < text.c_str() || len < 0 || s + len > text.c_str() + text.size()) abort();
    }
  } else if (vaslab::regex_group_start(0)) {
    abort();
  }
  char dest[64];
  std::memset(dest, 'x', sizeof dest);
  const size_t capacity = 1 + (size % 63);
  if (vaslab::re_subs(parts[2].c_str(), dest, capacity) && std::strlen(dest) >= capacity) abort();
  if (std::memchr(dest, 0, capacity) == nullptr) abort();
  return 0;
}
