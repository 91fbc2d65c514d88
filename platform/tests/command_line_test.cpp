#include "platform/command_line.h"

#include <gtest/gtest.h>

using platform::split_command_line;
using Args = std::vector<std::string>;

TEST(CommandLine, SplitsAsTheOriginalRunTimeDid) {
  EXPECT_EQ(split_command_line(""), Args{});
  EXPECT_EQ(split_command_line(" \t "), Args{});
  EXPECT_EQ(split_command_line("6 1.30  0\t\"Lab\""), (Args{"6", "1.30", "0", "Lab"}));
  EXPECT_EQ(split_command_line("\"St Ann's; $(rm x) & y\""), (Args{"St Ann's; $(rm x) & y"}));
  EXPECT_EQ(split_command_line("\"\" x"), (Args{"", "x"})) << "an empty quoted argument stays";
  EXPECT_EQ(split_command_line("a\"b c\"d"), (Args{"ab cd"})) << "quotes join within a word";
  EXPECT_EQ(split_command_line("\"a\"\"b\""), (Args{"a\"b"})) << "two quotes inside quotes give one";
  EXPECT_EQ(split_command_line("\"open to the end"), (Args{"open to the end"}));
}

TEST(CommandLine, BackslashesCountOnlyBeforeAQuote) {
  EXPECT_EQ(split_command_line("C:\\PROGRAMS\\ x\\\\y"), (Args{"C:\\PROGRAMS\\", "x\\\\y"}));
  EXPECT_EQ(split_command_line("a\\\"b"), (Args{"a\"b"}));           // 1 -> literal quote
  EXPECT_EQ(split_command_line("a\\\\\"b c\""), (Args{"a\\b c"}));    // 2 -> one, quote acts
  EXPECT_EQ(split_command_line("a\\\\\\\"b"), (Args{"a\\\"b"}));      // 3 -> one and a quote
  EXPECT_EQ(split_command_line("\"C:\\DIR\\\\\" next"), (Args{"C:\\DIR\\", "next"}));
}
