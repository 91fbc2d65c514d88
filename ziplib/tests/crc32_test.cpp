#include <gtest/gtest.h>
#include <zlib.h>

#include "ziplib/crc32.h"
#include "ziplib/tests/decode_test_support.h"

using namespace decode_test;

namespace {

uint32_t zlib_crc(const uint8_t* p, size_t n) { return uint32_t(crc32(0, p, uInt(n))); }

}  // namespace

// Every length up to 4096 from every start within a 16-byte lane, by the path
// this processor takes and by the tables alone.
TEST(Crc32, EveryLengthAndStartMatchesZlib) {
  const Bytes b = random_bytes(4096 + 16, 61);
  for (size_t start = 0; start < 16; ++start)
    for (size_t n = 0; n <= 4096; ++n) {
      const uint8_t* p = b.data() + start;
      const uint32_t want = zlib_crc(p, n);
      ASSERT_EQ(ziplib::crc32_of(p, n), want) << "start " << start << " length " << n;
      ASSERT_EQ(~ziplib::crc32_update_tables(0xFFFFFFFFu, p, n), want) << "start " << start << " length " << n;
    }
}

// A running register carried across calls of every size, as the output stage
// and the compressor feed it.
TEST(Crc32, RunningRegisterAcrossPieces) {
  const Bytes b = random_bytes(300007, 51);
  const uint32_t want = zlib_crc(b.data(), b.size());
  for (size_t piece : {1, 7, 63, 64, 65, 777, 4096, 65537}) {
    uint32_t r = 0xFFFFFFFFu;
    for (size_t i = 0; i < b.size(); i += piece) r = ziplib::crc32_update(r, b.data() + i, std::min(piece, b.size() - i));
    EXPECT_EQ(~r, want) << piece;
  }
  uint32_t r = 0xFFFFFFFFu;
  for (uint8_t c : b) r = ziplib::crc32_byte(r, c);
  EXPECT_EQ(~r, want);
}
