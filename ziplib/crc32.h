// CRC-32 of ISO 3309 (the ZIP checksum, reflected polynomial 0xEDB88320):
// the check value of every entry, compressed or extracted, and the byte step
// of the traditional cipher's keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ziplib {

// The byte-at-a-time table.
extern const std::array<std::uint32_t, 256> kCrc32Table;

// Advances a running CRC register (start 0xFFFFFFFF, complement at the end).
// Uses carry-less multiplication where the processor has it, eight bytes a
// step from tables elsewhere.
std::uint32_t crc32_update(std::uint32_t running, const std::uint8_t* data, std::size_t n);

// The same eight bytes a step from tables, whatever the processor.
std::uint32_t crc32_update_tables(std::uint32_t running, const std::uint8_t* data, std::size_t n);

// The finished CRC-32 of one buffer.
inline std::uint32_t crc32_of(const std::uint8_t* data, std::size_t n) {
  return ~crc32_update(0xFFFFFFFFu, data, n);
}

// One byte into a running register.
inline std::uint32_t crc32_byte(std::uint32_t running, std::uint8_t b) {
  return kCrc32Table[(running ^ b) & 0xFF] ^ (running >> 8);
}

}  // namespace ziplib
