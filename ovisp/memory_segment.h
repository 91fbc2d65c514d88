// The buffer of one target memory: one two-character byte text per byte,
// kept exactly as written (HEX files may carry lower-case digits and those go
// back out unchanged).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovisp {

// CRC-16/X-25 (reflected polynomial 0x8408, initial FFFF, complemented).
std::uint16_t crc16X25(const std::uint8_t* data, std::size_t size);

class MemorySegment {
 public:
  static constexpr std::uint32_t kMinimumSize = 1024;

  // Sizes below 1024 are raised to 1024; every byte starts as the default.
  MemorySegment(std::uint32_t size, std::string_view defaultText, std::uint8_t blockCount);

  // Stores the first two characters of `text`.  Past the end: last error 2
  // and false, without raising.
  bool writeByte(std::uint32_t index, std::string_view text);
  // The stored text, or the default text past the end.
  std::string readByte(std::uint32_t index) const;
  // Numeric value of the stored text (its digits are always hexadecimal).
  std::uint8_t byteValue(std::uint32_t index) const;
  void reset();

  void allocSnapshot(std::uint32_t count);
  void freeSnapshot();
  void saveSnapshot();
  void restoreSnapshot();
  bool hasSnapshot() const { return snapshot_.has_value(); }

  std::uint32_t size() const { return size_; }
  const std::string& defaultText() const { return defaultText_; }
  std::uint8_t blockCount() const { return blockCount_; }
  std::uint32_t startAddress() const { return startAddress_; }
  void setStartAddress(std::uint32_t address) { startAddress_ = address; }

  // CRC-16/X-25 of bytes 0 to size-3: the last two bytes hold the CRC itself.
  std::uint16_t crc16() const;

 private:
  using Cell = std::array<char, 2>;
  std::uint32_t size_;
  std::string defaultText_;
  std::uint8_t blockCount_;
  std::vector<Cell> bytes_;
  std::optional<std::vector<Cell>> snapshot_;
  std::uint32_t startAddress_ = 0;
};

}  // namespace ovisp
