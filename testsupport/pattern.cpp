#include "testsupport/pattern.h"

namespace testsupport {

std::string pattern_bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned x = seed;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return bytes;
}

}  // namespace testsupport
