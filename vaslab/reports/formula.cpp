#include "vaslab/reports/formula.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vaslab {

namespace {

struct Variable {
  char name[kFormulaNameChars + 1];
  double value;
};

Variable g_user[kUserVariableRows];
Variable g_preset[kPresetVariableRows + 1];  // closed by a row with an empty name

// The preset names, in table order: the letter runs of each family.
void build_preset_names() {
  int row = 0;
  auto add = [&](const std::string& n) {
    char* name = g_preset[row].name;
    name[n.copy(name, sizeof g_preset[row].name - 1)] = '\0';
    ++row;
  };
  auto run = [&](const std::string& head, char last, const std::string& tail) {
    for (char c = 'a'; c <= last; ++c) add(head + c + tail);
  };
  add("p");
  add("e");
  for (const char* h : {"c", "g", "m", "n"}) run(h, 'l', "");
  for (const char* h : {"m", "n"}) run(h, 'l', "v");
  for (const char* h : {"pm", "pn"}) run(h, 'l', "");
  for (const char* h : {"pm", "pn"}) run(h, 'l', "v");
  run("p", 'z', "");
  for (const char* h : {"s", "v", "w"}) run(h, 'l', "");
  run("tp", 'z', "");
  run("tw", 'l', "");
  g_preset[row].name[0] = '\0';
}

bool same(const char* stored, std::string_view name) {
  return std::strlen(stored) == name.size() && std::memcmp(stored, name.data(), name.size()) == 0;
}

std::string_view cut_name(std::string_view name) {
  return name.substr(0, std::min<std::size_t>(name.size(), kFormulaNameChars));
}

double call_one(int index, double x) {
  switch (index) {
    case 0: return std::exp(x);
    case 1: return std::log(x);
    case 2: return std::log10(x);
    case 3: return std::sqrt(x);
    case 4: return std::floor(x);
    case 5: return std::ceil(x);
    case 6: return std::fabs(x);
    case 7: return std::sin(x);
    case 8: return std::cos(x);
    default: return std::tan(x);
  }
}
constexpr const char* kOneArgument[] = {"exp", "log", "log10", "sqrt", "floor",
                                        "ceil", "abs", "sin", "cos", "tan"};
constexpr int kMaxListArguments = 10;

std::int16_t low16(double x) { return formula_to_int16(x); }

// Recursive descent over one statement.  After each token the blanks are
// skipped, so next_char() is the first character of the following token;
// the two-character operators ("==", "&&") are found that way.
class Parser {
 public:
  Parser(const char* text, std::size_t size) : text_(text), size_(size) { next(); }

  bool at_end() const { return kind_ == Kind::kEnd; }

  double statement(bool* assignment) {
    if (kind_ == Kind::kIdentifier && next_char() == '=' && char_at(pos_ + 1) != '=') {
      const std::string name = token_;
      next();  // the "="
      next();
      if (assignment) *assignment = true;
      if (kind_ == Kind::kEnd) {
        delete_formula_variable(name);
        return 0;
      }
      const double v = logical_or();
      store_formula_variable(name, v);
      return v;
    }
    return logical_or();
  }

 private:
  enum class Kind { kEnd, kIdentifier, kOperator, kNumber };

  char char_at(std::size_t i) const { return i < size_ ? text_[i] : '\0'; }
  char next_char() const { return char_at(pos_); }
  bool is_op(char c) const { return kind_ == Kind::kOperator && token_[0] == c; }

  void skip_blanks() {
    while (next_char() == ' ' || next_char() == '\t') ++pos_;
  }

  void next() {
    for (;;) {
      skip_blanks();
      const char c = next_char();
      if (c == '\0') {
        kind_ = Kind::kEnd;
        token_.clear();
        return;
      }
      if (std::strchr("!%&()*+,-/<=>^|", c)) {
        kind_ = Kind::kOperator;
        token_.assign(1, c);
        ++pos_;
        break;
      }
      if ((c >= '0' && c <= '9') || c == '.') {
        const std::size_t from = pos_;
        while ((next_char() >= '0' && next_char() <= '9') || next_char() == '.') ++pos_;
        const std::string run(text_ + from, pos_ - from);
        number_ = std::strtod(run.c_str(), nullptr);
        kind_ = Kind::kNumber;
        break;
      }
      if ((c >= 'a' && c <= 'z') || c == '_') {
        const std::size_t from = pos_;
        while ((next_char() >= 'a' && next_char() <= 'z') || (next_char() >= '0' && next_char() <= '9') ||
               next_char() == '_')
          ++pos_;
        token_.assign(text_ + from, std::min<std::size_t>(pos_ - from, kFormulaNameChars));
        kind_ = Kind::kIdentifier;
        break;
      }
      ++pos_;  // any other character is passed over
    }
    skip_blanks();
  }

  // Ends the whole evaluation: every level sees the end of the text.
  void stop() {
    pos_ = size_;
    kind_ = Kind::kEnd;
    token_.clear();
  }

  double logical_or() {
    double v = logical_and();
    while (is_op('|') && next_char() == '|') {
      next();
      next();
      const double r = logical_and();
      v = (is_zero(v) && is_zero(r)) ? 0 : 1;
    }
    return v;
  }

  double logical_and() {
    double v = bit_or();
    while (is_op('&') && next_char() == '&') {
      next();
      next();
      const double r = bit_or();
      v = (!is_zero(v) && !is_zero(r)) ? 1 : 0;
    }
    return v;
  }

  double bit_or() {
    double v = bit_and();
    while (is_op('|') && next_char() != '|') {
      next();
      const double r = bit_and();
      v = static_cast<std::int16_t>(low16(v) | low16(r));
    }
    return v;
  }

  double bit_and() {
    double v = equality();
    while (is_op('&') && next_char() != '&') {
      next();
      const double r = equality();
      v = static_cast<std::int16_t>(low16(v) & low16(r));
    }
    return v;
  }

  double equality() {
    double v = order();
    while ((is_op('=') || is_op('!')) && next_char() == '=') {
      const bool equal = is_op('=');
      next();
      next();
      const double r = order();
      const double d = std::fabs(v - r);
      v = equal ? (d < kFormulaTolerance ? 1 : 0) : (d > kFormulaTolerance ? 1 : 0);
    }
    return v;
  }

  double order() {
    double v = sum();
    while (is_op('<') || is_op('>')) {
      const bool less = is_op('<');
      const bool or_equal = next_char() == '=';
      next();
      if (or_equal) next();
      const double r = sum();
      if (less)
        v = or_equal ? (v - r < kFormulaTolerance) : (r - v > kFormulaTolerance);
      else
        v = or_equal ? (r - v < kFormulaTolerance) : (v - r > kFormulaTolerance);
    }
    return v;
  }

  double sum() {
    double v = product();
    while (is_op('+') || is_op('-')) {
      const bool plus = is_op('+');
      next();
      const double r = product();
      v = plus ? v + r : v - r;
    }
    return v;
  }

  double product() {
    double v = power();
    while (is_op('*') || is_op('/') || is_op('%')) {
      const char op = token_[0];
      next();
      const double r = power();
      if (op == '*')
        v = v * r;
      else if (is_zero(r))
        v = 0;
      else
        v = op == '/' ? v / r : std::fmod(v, r);
    }
    return v;
  }

  // One "^" only: 2^3^2 stops at the second one.
  double power() {
    double v = unary();
    if (is_op('^')) {
      next();
      v = std::pow(v, unary());
    }
    return v;
  }

  // At most one sign: -2^2 is (-2)^2.
  double unary() {
    if (is_op('+')) {
      next();
      return primary();
    }
    if (is_op('-')) {
      next();
      return -primary();
    }
    if (is_op('!') && next_char() != '=') {
      next();
      return is_zero(primary()) ? 1 : 0;
    }
    return primary();
  }

  double primary() {
    if (kind_ == Kind::kEnd) return 0;
    if (kind_ == Kind::kNumber) {
      const double v = number_;
      next();
      return v;
    }
    const bool nested = is_op('(') || (kind_ == Kind::kIdentifier && next_char() == '(');
    if (nested && depth_ >= kFormulaMaxNesting) {
      stop();
      return 0;
    }
    if (is_op('(')) {
      ++depth_;
      next();
      if (is_op(')')) next();
      const double v = statement(nullptr);
      next();  // the closing ")", whatever stands there
      --depth_;
      return v;
    }
    if (kind_ == Kind::kOperator) {
      next();
      return 0;
    }
    if (next_char() == '(') {
      ++depth_;
      const double v = call();
      --depth_;
      return v;
    }
    double v = 0;
    if (!lookup_formula_variable(token_, v)) v = 0;
    next();
    return v;
  }

  double call() {
    int one = -1;
    for (int i = 0; i < 10; ++i)
      if (token_ == kOneArgument[i]) one = i;
    const bool is_min = token_ == "min", is_max = token_ == "max";
    if (one < 0 && !is_min && !is_max) {
      stop();
      return 0;
    }
    next();  // the name; "(" is the token now
    double args[kMaxListArguments];
    int count = 0;
    double last = 0;
    for (;;) {
      next();  // "(" or ","
      double a = 0;
      if (!(is_op(',') || is_op(')'))) a = statement(nullptr);
      last = a;
      if (count < kMaxListArguments) args[count++] = a;
      if (!is_op(',')) break;
    }
    next();  // the ")", whatever stands there
    if (one >= 0) return call_one(one, last);
    return is_min ? formula_min(args, count) : formula_max(args, count);
  }

  const char* text_;
  std::size_t size_;
  std::size_t pos_ = 0;
  Kind kind_ = Kind::kEnd;
  std::string token_;
  double number_ = 0;
  int depth_ = 0;
};

}  // namespace

bool is_zero(double x) { return std::fabs(x) < kFormulaTolerance; }

std::int64_t formula_to_int(double x) {
  if (!(std::fabs(x) < 9223372036854775808.0)) return 0;  // also NaN
  return static_cast<std::int64_t>(x);
}

FormulaResult evaluate_formula(char* text, std::size_t size) {
  FormulaResult r;
  size = strnlen(text, size);
  for (std::size_t i = 0; i < size; ++i)
    text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  Parser p(text, size);
  if (p.at_end()) return r;
  r.value = p.statement(&r.assignment);
  return r;
}

FormulaResult evaluate_formula(std::string_view text) {
  std::string copy(text);
  return evaluate_formula(copy.data(), copy.size());
}

double formula_min(const double* values, int count) {
  if (count <= 0) return 0;
  double r = values[0];
  for (int i = 1; i < count; ++i)
    if (values[i] - r < kFormulaTolerance) r = values[i];
  return r;
}

double formula_max(const double* values, int count) {
  if (count <= 0) return 0;
  double r = values[0];
  for (int i = 1; i < count; ++i)
    if (r - values[i] < kFormulaTolerance) r = values[i];
  return r;
}

void reset_formula_variables() {
  if (g_preset[0].name[0] == '\0') build_preset_names();
  for (int i = 0; i < kPresetVariableRows; ++i) g_preset[i].value = -1.0;
  g_preset[0].value = 3.141592653589793;
  g_preset[1].value = 2.718281828459045;
  for (Variable& v : g_user) v = Variable{};
}

void set_report_variable(std::string_view name, double value, std::string_view formula) {
  if (!formula.empty() && formula.front() != '\0') value = evaluate_formula(formula).value;
  if (g_preset[0].name[0] == '\0') reset_formula_variables();
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (int i = 0; g_preset[i].name[0]; ++i) {
    if (same(g_preset[i].name, lower)) {
      g_preset[i].value = value;
      return;
    }
  }
}

bool lookup_formula_variable(std::string_view name, double& value) {
  for (const Variable& v : g_user) {
    if (v.name[0] && same(v.name, name)) {
      value = v.value;
      return true;
    }
  }
  if (g_preset[0].name[0] == '\0') reset_formula_variables();
  for (int i = 0; g_preset[i].name[0]; ++i) {
    if (same(g_preset[i].name, name)) {
      value = g_preset[i].value;
      return true;
    }
  }
  return false;
}

void store_formula_variable(std::string_view name, double value) {
  name = cut_name(name);
  delete_formula_variable(name);
  for (Variable& v : g_user) {
    if (v.name[0] == '\0') {
      std::memcpy(v.name, name.data(), name.size());
      v.name[name.size()] = '\0';
      v.value = value;
      return;
    }
  }
}

void delete_formula_variable(std::string_view name) {
  for (Variable& v : g_user) {
    if (v.name[0] && same(v.name, name)) {
      v = Variable{};
      return;
    }
  }
}

}  // namespace vaslab
