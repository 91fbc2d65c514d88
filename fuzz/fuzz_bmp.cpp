// Any bytes as a .bmp file.  A picture that decodes has the size it states,
// pixels of 24 bits, and survives being written as 24-bit and read again.
#include <cstdlib>

#include "vaslab/core/toolkit/bitmap_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto bmp = vaslab::decode_bmp(data, size);
  if (!bmp) return 0;
  if (bmp->width <= 0 || bmp->height <= 0) abort();
  if (bmp->pixels.size() != static_cast<std::size_t>(bmp->width) * static_cast<std::size_t>(bmp->height)) abort();
  for (const std::uint32_t p : bmp->pixels)
    if (p > 0xFFFFFF) abort();
  const auto bytes = vaslab::encode_bmp24(*bmp);
  const auto again = vaslab::decode_bmp(bytes.data(), bytes.size());
  if (!again || again->width != bmp->width || again->height != bmp->height || again->pixels != bmp->pixels) abort();
  return 0;
}
