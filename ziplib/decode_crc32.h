// CRC-32 of ISO 3309 (the ZIP checksum), table driven, eight bytes a step.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ziplib {

// Advances a running CRC register (start 0xFFFFFFFF, complement at the end).
uint32_t crc32_update(uint32_t running, const uint8_t* data, size_t n);

// The finished CRC-32 of one buffer.
inline uint32_t crc32_of(const uint8_t* data, size_t n) {
  return ~crc32_update(0xFFFFFFFFu, data, n);
}

}  // namespace ziplib
