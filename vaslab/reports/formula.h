// The formula evaluator of the report and export templates.
//
// A template carries short arithmetic formulas as text ("A = 2*P",
// "min(pa, pb) / pc").  One statement is evaluated at a time over doubles; a
// statement may assign a user variable.  Nothing is ever reported as an
// error: text that does not parse yields the value so far, unknown names
// read as 0, division by (near) zero gives 0.  Every test of zero, equality
// and order uses the tolerance kFormulaTolerance.
//
// Two program-wide tables hold the variables: 400 user rows filled by
// assignments, and the 222 preset report variables ("p", "e", "ca".."cl",
// "pa".."pz", ...) that the report sections set from measured values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vaslab {

constexpr double kFormulaTolerance = 2.220446e-16;
constexpr int kFormulaNameChars = 10;
constexpr int kUserVariableRows = 400;
constexpr int kPresetVariableRows = 222;
// Parentheses and calls nest at most this deep; deeper text ends the
// statement as an unparsable token does.
constexpr int kFormulaMaxNesting = 200;

struct FormulaResult {
  double value = 0;
  bool assignment = false;  // the statement was "name = ..."
};

// Evaluates the text in [text, text + size), ending at its first NUL if
// any.  The text is lower-cased in place, as the templates' own copies are.
FormulaResult evaluate_formula(char* text, std::size_t size);
// The same on a copy (the caller's text stays as it is).
FormulaResult evaluate_formula(std::string_view text);
// Evaluates a formula field of a stored record, bounded by the field.
inline double formula_field(const std::uint8_t* field, std::size_t width) {
  return evaluate_formula(std::string_view(reinterpret_cast<const char*>(field), width)).value;
}

// Sets a preset report variable; a name that is not a preset name is
// ignored.  A non-empty `formula` replaces the value by its result.
void set_report_variable(std::string_view name, double value, std::string_view formula = {});
// Presets to -1 (p to pi, e to Euler's number), every user row emptied.
void reset_formula_variables();

// User rows first, then the presets; false when no row has that name.
bool lookup_formula_variable(std::string_view name, double& value);
// Replaces any user row of that name; the name is cut to 10 characters.
// Nothing is stored when all 400 rows are taken.
void store_formula_variable(std::string_view name, double value);
void delete_formula_variable(std::string_view name);

bool is_zero(double x);
// Of values within the tolerance of each other the later one wins; an
// empty list gives 0.
double formula_min(const double* values, int count);
double formula_max(const double* values, int count);

// A double as an integer, defined for every double: truncated toward zero
// into 64 bits; NaN, infinities and magnitudes of 2^63 or more give 0.
// Callers keep the low bits they need (16-bit coordinates: 65535 gives -1).
std::int64_t formula_to_int(double x);
inline std::int16_t formula_to_int16(double x) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(formula_to_int(x)));
}

}  // namespace vaslab
