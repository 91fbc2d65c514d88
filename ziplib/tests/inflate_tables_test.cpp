#include <gtest/gtest.h>

#include <random>

#include "ziplib/inflate_tables.h"
#include "ziplib/tests/decode_test_support.h"

using namespace decode_test;
using ziplib::HuffEntry;
using ziplib::TableResult;

namespace {

// A random complete code: split random leaves until there are n, none deeper
// than max_bits; lopsided splits give the deep, narrow shapes.
std::vector<uint8_t> random_complete(unsigned n, unsigned max_bits, std::mt19937& rng, bool lopsided) {
  std::vector<uint8_t> depth{0};
  while (depth.size() < n) {
    size_t i = lopsided ? depth.size() - 1 - rng() % std::min<size_t>(depth.size(), 2) : rng() % depth.size();
    if (depth[i] >= max_bits) {
      i = 0;
      while (depth[i] >= max_bits) ++i;
    }
    uint8_t d = uint8_t(depth[i] + 1);
    depth[i] = d;
    depth.push_back(d);
  }
  std::shuffle(depth.begin(), depth.end(), rng);
  return depth;
}

}  // namespace

TEST(InflateTablesTest, EveryCompleteCodeFitsAndDecodes) {
  std::mt19937 rng(61);
  struct Shape { unsigned n, root, max; };
  for (Shape sh : {Shape{288, 10, 15}, Shape{32, 8, 15}, Shape{256, 9, 16}, Shape{64, 7, 16}, Shape{19, 7, 7}}) {
    std::vector<HuffEntry> table(ziplib::table_capacity(sh.n, sh.root, sh.max));
    for (int round = 0; round < 300; ++round) {
      std::vector<uint8_t> lens = random_complete(sh.n, sh.max, rng, round % 2);
      ASSERT_EQ(ziplib::build_table(lens.data(), sh.n, nullptr, sh.root, table.data(), table.size()),
                TableResult::kComplete);
      std::vector<uint32_t> codes = canonical(lens);
      for (unsigned s = 0; s < sh.n; ++s) {
        uint32_t rev = 0;  // the code as it arrives, first bit lowest
        for (unsigned i = 0; i < lens[s]; ++i) rev |= ((codes[s] >> (lens[s] - 1 - i)) & 1u) << i;
        HuffEntry e = table[rev & ((1u << sh.root) - 1)];
        if (e.op & ziplib::kOpSub) e = table[e.val + ((rev >> sh.root) & ((1u << (e.op & 15)) - 1))];
        ASSERT_EQ(e.val, s);
        ASSERT_EQ(e.bits, lens[s]);
      }
    }
  }
}

TEST(InflateTablesTest, IncompleteOverfullEmptyAndSingle) {
  std::vector<HuffEntry> table(ziplib::table_capacity(64, 7, 16));
  std::vector<uint8_t> lens(64, 0);
  EXPECT_EQ(ziplib::build_table(lens.data(), 64, nullptr, 7, table.data(), table.size()), TableResult::kEmpty);
  lens[5] = 1;
  EXPECT_EQ(ziplib::build_table(lens.data(), 64, nullptr, 7, table.data(), table.size()), TableResult::kSingle);
  EXPECT_EQ(table[1].op, ziplib::kOpInvalid);
  lens[6] = 2;
  EXPECT_EQ(ziplib::build_table(lens.data(), 64, nullptr, 7, table.data(), table.size()), TableResult::kIncomplete);
  lens[7] = 1;
  EXPECT_EQ(ziplib::build_table(lens.data(), 64, nullptr, 7, table.data(), table.size()), TableResult::kOverfull);
  lens.assign(64, 17);
  EXPECT_EQ(ziplib::build_table(lens.data(), 64, nullptr, 7, table.data(), table.size()), TableResult::kOverfull);
}
