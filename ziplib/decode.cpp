#include "ziplib/decode.h"

#include <algorithm>

namespace ziplib {

std::span<const uint8_t> MemorySource::next() {
  size_t left = data_.size() - pos_;
  size_t n = chunk_ ? std::min(left, chunk_) : left;
  auto run = data_.subspan(pos_, n);
  pos_ += n;
  return run;
}

bool VectorSink::put(const uint8_t* data, size_t n) {
  if (limit_ && bytes.size() + n > limit_) {
    bytes.insert(bytes.end(), data, data + (limit_ - bytes.size()));
    return false;
  }
  bytes.insert(bytes.end(), data, data + n);
  return true;
}

}  // namespace ziplib
