// Any bytes as a formula text, evaluated within exactly its own length (a
// field without a NUL), and as a template format for a value and a text.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "vaslab/reports/formula.h"
#include "vaslab/reports/template_format.h"

using namespace vaslab;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool once = (reset_formula_variables(), true);
  (void)once;
  // A buffer of exactly the input's size, so that reading one byte past the
  // field is caught.
  auto text = std::make_unique<char[]>(size ? size : 1);
  if (size) std::memcpy(text.get(), data, size);
  const FormulaResult r = evaluate_formula(text.get(), size);
  if (r.assignment && size == 0) __builtin_trap();

  const std::string_view format(reinterpret_cast<const char*>(data), size);
  if (format_template_value(format, r.value, true).size() > kFormattedTextChars) __builtin_trap();
  if (format_template_text(format, format).size() > kFormattedTextChars) __builtin_trap();
  // Assignments fill the user rows; start over now and then.
  static unsigned runs = 0;
  if (++runs % 4096 == 0) reset_formula_variables();
  return 0;
}
