// The template formula evaluator and the template formatter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "vaslab/reports/formula.h"
#include "vaslab/reports/template_format.h"

using namespace vaslab;

namespace {

std::string tests_dir() { return std::string(VASLAB_SOURCE_DIR) + "/vaslab/reports/tests/"; }

double eval(const std::string& text, bool* assignment = nullptr) {
  const FormulaResult r = evaluate_formula(text);
  if (assignment) *assignment = r.assignment;
  return r.value;
}

struct Case {
  const char* setup;  // evaluated first (may be empty)
  const char* formula;
  double value;
  bool assignment;
};

}  // namespace

TEST(Formula, EdgeCases) {
  const double pi = 3.141592653589793;
  const Case cases[] = {
      {"", "A = 2*P", 2 * pi, true},
      {"A = 2*P", "a", 2 * pi, false},
      {"a = 3", "a =", 0, true},
      {"a = 3;a =", "a", 0, false},
      {"a = 3", "a ==b", 0, false},
      {"", "ca", -1, false},
      {"", "p", pi, false},
      {"", "e", 2.718281828459045, false},
      {"", "zz", 0, false},
      {"", "1/0", 0, false},
      {"", "5%0", 0, false},
      {"", "7 % 2", 1, false},
      {"", "-7 % 2", -1, false},
      {"", "3 > 2 && 2 >= 2", 1, false},
      {"", "0 || 0", 0, false},
      {"", "1 | 2", 3, false},
      {"", "2.9 & 3", 2, false},
      {"", "65535 | 0", -1, false},
      {"", "min(3, 1, 2)", 1, false},
      {"", "max()", 0, false},
      {"", "min(5,)", 0, false},
      {"", "sqrt(4, 9)", 3, false},
      {"", "foo(2) + 1", 0, false},
      {"", "1 + foo(2)", 1, false},
      {"", "(1+2)*3", 9, false},
      {"", "2^3^2", 8, false},
      {"", "-2^2", 4, false},
      {"", "--2", 0, false},
      {"", "!0 + !5", 1, false},
      {"", "1 != 1.0000000000000001", 0, false},
      {"", "x1 = 5", 5, true},
      {"x1 = 5", "x1", 5, false},
      {"", "1x", 1, false},
      {"", "1.5.2", 1.5, false},
      {"", ".", 0, false},
      {"", "(b = 4) + b", 8, false},
      {"", "()+1", 1, false},
      {"", "  \t ", 0, false},
      {"", "#7", 7, false},
      {"", "3 < 3", 0, false},
      {"", "3 <= 3", 1, false},
      {"", "2 > 1 > 0", 1, false},
  };
  for (const Case& c : cases) {
    reset_formula_variables();
    // The set-up may hold several statements separated by ";".
    std::string setup = c.setup;
    for (std::size_t at; !setup.empty(); setup = at == std::string::npos ? "" : setup.substr(at + 1)) {
      at = setup.find(';');
      eval(setup.substr(0, at));
    }
    bool assignment = false;
    const double v = eval(c.formula, &assignment);
    EXPECT_DOUBLE_EQ(v, c.value) << c.formula;
    EXPECT_EQ(assignment, c.assignment) << c.formula;
  }
}

TEST(Formula, TablesAndNames) {
  reset_formula_variables();
  // A 12-letter name is stored and found under its first 10 letters.
  eval("abcdefghijkl = 7");
  double v = 0;
  EXPECT_TRUE(lookup_formula_variable("abcdefghij", v));
  EXPECT_EQ(v, 7);
  EXPECT_EQ(eval("abcdefghijzz"), 7);
  // The text is lower-cased in place.
  char text[] = "PA = 12";
  evaluate_formula(text, sizeof text);
  EXPECT_STREQ(text, "pa = 12");
  // A user row named like a preset hides it; the preset itself is not set.
  EXPECT_EQ(eval("pa"), 12);
  delete_formula_variable("pa");
  EXPECT_EQ(eval("pa"), -1);
  set_report_variable("PA", 0, " 1.5");
  EXPECT_EQ(eval("pa"), 1.5);
  set_report_variable("notapreset", 5);
  EXPECT_EQ(eval("notapreset"), 0);

  // One row holds "abcdefghij"; with all 400 rows taken a new assignment
  // stores nothing.
  for (int i = 0; i < kUserVariableRows - 2; ++i) store_formula_variable("v" + std::to_string(i), i);
  EXPECT_EQ(eval("last = 1"), 1);
  EXPECT_EQ(eval("last"), 1);
  EXPECT_EQ(eval("extra = 2"), 2);
  EXPECT_FALSE(lookup_formula_variable("extra", v));
  EXPECT_EQ(eval("extra"), 0);
  // Reassigning a stored name still works in a full table.
  EXPECT_EQ(eval("v3 = 33"), 33);
  EXPECT_EQ(eval("v3"), 33);
}

TEST(Formula, FieldBoundsAndNesting) {
  reset_formula_variables();
  // A field without a NUL ends at the field's end, not in the next field.
  const char record[] = "12+3" "99";
  EXPECT_EQ(formula_field(reinterpret_cast<const std::uint8_t*>(record), 4), 15);
  // Nesting deeper than the bound ends the statement; within it, it parses.
  const std::string deep(kFormulaMaxNesting, '(');
  EXPECT_EQ(eval(deep + "5"), 5);
  EXPECT_EQ(eval("1+" + deep + "(5"), 1);
  EXPECT_EQ(eval(std::string(100000, '(') + "1"), 0);
  EXPECT_EQ(eval(std::string(5000, '9')), HUGE_VAL);
  // Conversions to integers are defined for every double.
  EXPECT_EQ(formula_to_int(NAN), 0);
  EXPECT_EQ(formula_to_int(-INFINITY), 0);
  EXPECT_EQ(formula_to_int(9.3e18), 0);
  EXPECT_EQ(formula_to_int(-2.9), -2);
  EXPECT_EQ(formula_to_int16(65535), -1);
  EXPECT_EQ(formula_to_int16(98304.7), -32768);
}

// The same generated formulas -- valid and broken, long runs, assignments,
// calls, stray characters -- through an independent model of the grammar.
TEST(Formula, AgreesWithIndependentModel) {
  const std::string cmd = "python3 '" + tests_dir() + "formula_model.py' generate 10000 7";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[8192];
  int lines = 0, index = 0, mismatches = 0;
  reset_formula_variables();
  while (std::fgets(line, sizeof line, p)) {
    char hex[4096], bits[17];
    int flag = 0;
    ASSERT_EQ(std::sscanf(line, "%4095s %16s %d", hex, bits, &flag), 3) << line;
    if (index++ % 997 == 0) reset_formula_variables();
    std::string text;
    for (std::size_t i = 0; hex[0] != '-' && hex[i] && hex[i + 1]; i += 2)
      text += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    unsigned char raw[8];
    for (int i = 0; i < 8; ++i) raw[i] = static_cast<unsigned char>(std::stoi(std::string(bits + 2 * i, 2), nullptr, 16));
    double want;
    std::memcpy(&want, raw, 8);
    const FormulaResult got = evaluate_formula(text);
    const bool same = (std::isnan(want) && std::isnan(got.value)) || want == got.value;
    if (!same || got.assignment != (flag != 0)) {
      if (++mismatches <= 10)
        ADD_FAILURE() << "formula \"" << text << "\": model " << want << "/" << flag << ", program " << got.value
                      << "/" << got.assignment;
    }
    ++lines;
  }
  EXPECT_EQ(pclose(p), 0);
  EXPECT_EQ(lines, 10000);
  EXPECT_EQ(mismatches, 0);
}

TEST(TemplateFormat, OneConversionOfTheRightClass) {
  struct ValueCase {
    const char* format;
    double value;
    const char* want;
  };
  const ValueCase values[] = {
      {"%5.1f mmHg", 12.345, " 12.3 mmHg"},
      {"%-6.2e|", 1234.5, "1.23e+03|"},
      {"%d%%", 41.9, "41%"},
      {"%x", -1, "ffffffff"},
      {"%s%n%*d", 5, "%s%n%*d"},
      {"%f and %f", 1, "1.000000 and %f"},
      {"%s=%g", 2.5, "%s=2.5"},
      {"%.3", 1, "%.3"},
      {"100%", 1, "100%"},
      {"%lf", 0.5, "0.500000"},
      {"%c", 65, "A"},
      {"%d", NAN, "0"},
      {"%d", 1e300, "0"},
      {"", 3, ""},
  };
  for (const ValueCase& c : values) EXPECT_EQ(format_template_value(c.format, c.value), c.want) << c.format;
  EXPECT_EQ(format_template_text("Dr. %s.", "Smith"), "Dr. Smith.");
  EXPECT_EQ(format_template_text("%-8.3s|", "Smithers"), "Smi     |");
  EXPECT_EQ(format_template_text("%d %s %s", "x"), "%d x %s");
  EXPECT_EQ(format_template_text("%n%p%s", "y"), "%n%py");
  // Everything is cut at 143 characters, also a huge width.
  EXPECT_EQ(format_template_value("%999999999f", 1).size(), kFormattedTextChars);
  EXPECT_EQ(format_template_text("%s", std::string(500, 'z')).size(), kFormattedTextChars);
  EXPECT_EQ(format_template_value("%.1000f", 1e308).size(), kFormattedTextChars);
}

TEST(TemplateFormat, MinutesAndSeconds) {
  struct Case {
    const char* format;
    double value;
    const char* want;
  };
  const Case cases[] = {
      {"%2t", 754, "12:34"}, {"%2t", 65, "1:05"},      {"%2t", 6000, "*:**"},  {"%1t", 65, " 1:05"},
      {"%t", 65, "01:05"},   {"at %2T min", 600, "at 10:00 min"}, {"%2t", -5, "*:**"},  {"%2t", 5999, "99:59"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_template_value(c.format, c.value, true), c.want) << c.format;
  // Without the minutes conversion "t" is no conversion at all.
  EXPECT_EQ(format_template_value("%2t", 65), "%2t");
}
