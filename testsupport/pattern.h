// Reproducible bytes for images and buffers: the same seed gives the same
// bytes, different seeds differ.
#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

std::string pattern_bytes(std::size_t size, unsigned seed);

}  // namespace testsupport
