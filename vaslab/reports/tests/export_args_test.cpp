#include "vaslab/reports/export_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vaslab {
namespace {

int parse(std::vector<std::string> args, int max_id, ExportArgs& out) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return parse_export_args(static_cast<int>(args.size()), argv.data(), max_id, out);
}

TEST(ExportArgs, StudyAndEndCalls) {
  ExportArgs a;
  ASSERT_EQ(parse({"C:\\PROGRAMS\\DELIMEX x", "42", "D:\\OUT\\", "25"}, kExportIdLimit, a), 0);
  EXPECT_FALSE(a.end);
  EXPECT_EQ(a.id, 42);
  EXPECT_EQ(a.id_text, "42");
  EXPECT_EQ(a.destination, "D:\\OUT\\");
  EXPECT_EQ(a.options, 25);

  ASSERT_EQ(parse({"p", "END", "D:\\OUT\\", "0"}, kExportIdLimit, a), 0);
  EXPECT_TRUE(a.end);
  EXPECT_EQ(a.id, -1);
}

TEST(ExportArgs, RefusesWhatWouldMisdirectTheModule) {
  ExportArgs a;
  EXPECT_EQ(parse({"p", "1", "D:\\"}, kExportIdLimit, a), 1);
  EXPECT_EQ(parse({"p", "1", "D:\\", "0", "x"}, kExportIdLimit, a), 1);
  // The three-digit numbering ends at 999; the numbered exports keep it free.
  EXPECT_EQ(parse({"p", "999", "D:\\", "0"}, kExportIdLimit, a), 0);
  EXPECT_EQ(parse({"p", "1000", "D:\\", "0"}, kExportIdLimit, a), 1);
  EXPECT_EQ(parse({"p", "999", "D:\\", "0"}, kNumberedExportIdLimit, a), 1);
  EXPECT_EQ(parse({"p", "998", "D:\\", "0"}, kNumberedExportIdLimit, a), 0);
  // Text that atoi would have read as some other study.
  for (const char* id : {"", "-3", "12x", " 12", "99999999999", "end"})
    EXPECT_EQ(parse({"p", id, "D:\\", "0"}, kExportIdLimit, a), 1) << id;
  // An empty folder is the program's own folder.
  EXPECT_EQ(parse({"p", "5", "", "0"}, kExportIdLimit, a), 1);
  EXPECT_EQ(parse({"p", "5", "D:\\", "x1"}, kExportIdLimit, a), 1);
}

TEST(ExportArgs, FileOfTheDestination) {
  EXPECT_EQ(export_file("D:\\OUT\\", "KORVANI.ASC"), "D:\\OUT\\KORVANI.ASC");
  EXPECT_EQ(export_file("D:\\OUT", "1.ASC"), "D:\\OUT\\1.ASC");
}

}  // namespace
}  // namespace vaslab
