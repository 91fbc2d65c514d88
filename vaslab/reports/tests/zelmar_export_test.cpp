// The sibling-database export's study calls: the capture stream of whole
// batches read back by an independent reader, the pressure table, and the
// work files that must never answer success when they were not written.
#include "vaslab/reports/zelmar_tables.h"

#include <gtest/gtest.h>

#include <string>

namespace vaslab {
namespace {

// The finishing call reads every text back into the code it was written
// from, so no two codes of a table may share a text.
TEST(ZelmarTables, EveryTextReadsBackAsItsCode) {
  for (int code = 0; code < kZelmarTestCodes; ++code)
    EXPECT_EQ(zelmar_test_code(zelmar_test_text(code)), code) << code;
  for (int code = 0; code < 6; ++code) EXPECT_EQ(zelmar_probe_code(zelmar_probe_text(code)), code);
  for (int code = 0; code < 18; ++code) EXPECT_EQ(zelmar_gain_code(zelmar_gain_text(code)), code);
  for (int code = 0; code < 6; ++code) EXPECT_EQ(zelmar_sweep_code(zelmar_sweep_text(code)), code);
  EXPECT_EQ(zelmar_test_text(81), "");
  EXPECT_EQ(zelmar_test_text(kZelmarTestCodes), "");
  EXPECT_EQ(zelmar_test_text(-1), "");
  EXPECT_EQ(zelmar_gain_text(18), "");
  // Trailing blanks are part of a text; a trimmed one is unknown.
  EXPECT_EQ(zelmar_probe_code("PPG AC"), -1);
  EXPECT_EQ(zelmar_gain_code("8"), -1);
}

TEST(ZelmarTables, PageValuesOutsideTheRemappingsReadAsCodeZero) {
  EXPECT_EQ(zelmar_probe_remap(15), 4);
  EXPECT_EQ(zelmar_probe_remap(16), 5);
  EXPECT_EQ(zelmar_probe_remap(17), 0);
  EXPECT_EQ(zelmar_probe_remap(-1), 0);
  EXPECT_EQ(zelmar_gain_remap(0, 0), 8);
  EXPECT_EQ(zelmar_gain_remap(10, 0), 0);
  EXPECT_EQ(zelmar_gain_remap(3, 1), 16);
  EXPECT_EQ(zelmar_gain_text(zelmar_gain_remap(3, 1)), "256 Hz/mm");
  EXPECT_EQ(zelmar_gain_remap(11, 1), 9);
  EXPECT_EQ(zelmar_gain_remap(2, 2), 8);
  EXPECT_EQ(zelmar_sweep_remap(0), 4);
  EXPECT_EQ(zelmar_sweep_remap(5), 0);
  EXPECT_EQ(zelmar_sweep_remap(-3), 0);
}

}  // namespace
}  // namespace vaslab
