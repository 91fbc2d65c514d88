#include "ovisp/memory_segment.h"

#include <algorithm>

#include "ovisp/session.h"
#include "ovisp/status.h"

namespace ovisp {
namespace {

std::array<char, 2> cellOf(std::string_view text) {
  return {text.size() > 0 ? text[0] : '0', text.size() > 1 ? text[1] : '0'};
}

}  // namespace

MemorySegment::MemorySegment(std::uint32_t size, std::string_view defaultText, std::uint8_t blockCount)
    : size_(std::max(size, kMinimumSize)),
      defaultText_(defaultText),
      blockCount_(blockCount),
      bytes_(size_, cellOf(defaultText)) {}

bool MemorySegment::writeByte(std::uint32_t index, std::string_view text) {
  if (index >= size_) {
    setLastError(kAddressOutOfRange);
    return false;
  }
  bytes_[index] = cellOf(text);
  return true;
}

std::string MemorySegment::readByte(std::uint32_t index) const {
  if (index >= size_) return defaultText_;
  return std::string(bytes_[index].data(), 2);
}

std::uint8_t MemorySegment::byteValue(std::uint32_t index) const {
  const Cell& c = index < size_ ? bytes_[index] : cellOf(defaultText_);
  int hi = hexDigitValue(c[0]);
  int lo = hexDigitValue(c[1]);
  return static_cast<std::uint8_t>(((hi < 0 ? 0 : hi) << 4) | (lo < 0 ? 0 : lo));
}

void MemorySegment::reset() { std::fill(bytes_.begin(), bytes_.end(), cellOf(defaultText_)); }

void MemorySegment::allocSnapshot(std::uint32_t count) {
  snapshot_.emplace(std::max(count, size_), cellOf(defaultText_));
}

void MemorySegment::freeSnapshot() { snapshot_.reset(); }

void MemorySegment::saveSnapshot() {
  if (snapshot_) std::copy(bytes_.begin(), bytes_.end(), snapshot_->begin());
}

void MemorySegment::restoreSnapshot() {
  if (snapshot_) std::copy(snapshot_->begin(), snapshot_->begin() + size_, bytes_.begin());
}

std::uint16_t crc16X25(const std::uint8_t* data, std::size_t size) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    std::uint16_t x = static_cast<std::uint16_t>((data[i] ^ crc) & 0xFF);
    for (int bit = 0; bit < 8; ++bit) x = (x & 1) ? static_cast<std::uint16_t>((x >> 1) ^ 0x8408) : static_cast<std::uint16_t>(x >> 1);
    crc = static_cast<std::uint16_t>(x ^ (crc >> 8));
  }
  return static_cast<std::uint16_t>(~crc);
}

std::uint16_t MemorySegment::crc16() const {
  std::vector<std::uint8_t> values(size_ - 2);
  for (std::uint32_t i = 0; i + 2 < size_; ++i) values[i] = byteValue(i);
  return crc16X25(values.data(), values.size());
}

}  // namespace ovisp
