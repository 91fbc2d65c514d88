#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link_fixture.h"
#include "sim/module_sim.h"

namespace {

using namespace vaslab;

TEST(FirmwareCrc, MatchesTheCheckValueAndKnownBlocks) {
  const char* digits = "123456789";
  // The block number is the register's first byte: "1" as block 0x31.
  EXPECT_EQ(firmware_block_crc(reinterpret_cast<const std::uint8_t*>(digits) + 1, 8, '1'), 0x2189);

  std::vector<std::uint8_t> zeros(256, 0), ones(256, 0xFF), counting(256);
  for (int i = 0; i < 256; ++i) counting[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(firmware_block_crc(zeros.data(), 256, 0), 0x0000);
  EXPECT_EQ(firmware_block_crc(zeros.data(), 256, 1), 0x7BEA);
  EXPECT_EQ(firmware_block_crc(ones.data(), 256, 0), 0xE358);
  EXPECT_EQ(firmware_block_crc(counting.data(), 256, 31), 0xF272);
  // The simulator checks blocks with its own code.
  EXPECT_EQ(sim::block_crc(31, counting.data(), 256), 0xF272);
  EXPECT_EQ(sim::block_crc(1, zeros.data(), 256), 0x7BEA);
}

}  // namespace
