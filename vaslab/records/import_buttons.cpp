// The script is read character by character by a small state machine (one
// block per call of parse_import_button); a tag is read whole and split
// into its name and attribute pairs by patterns of the pattern engine.
// Every fault is a warning line and the reader goes on, so one load writes
// at most kImportWarningCap lines: a script of garbage would otherwise give
// one line per byte.
#include "vaslab/records/import_buttons.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "vaslab/records/pattern_match.h"
#include "vaslab/records/worklist.h"

namespace vaslab {
namespace {

constexpr int kLineBytes = 80;
constexpr int kMessageChars = 59;
constexpr std::size_t kTagChars = 254;
constexpr std::size_t kValueChars = 127;
constexpr std::size_t kNameChars = 63;
constexpr const char* kScriptPath = "c:\\programs\\impbtns.dat";

// Patterns; the blanks they skip are spaces and real tabs.  Each is tried
// only where the tag's reading stands, so all are anchored: an unanchored
// search would try every later position too, and a script of long tags
// would take time that grows with the square of their length.
constexpr const char* kTagNamePattern = "^[ \t]*\\([^ \t]+\\)[ \t]*";
constexpr const char* kAttributePattern = "^\\([^ \t=]+\\)[ \t]*=[ \t]*\\([^ \t]\\)";
constexpr const char* kStringPattern = "^\"\\([^\"]*\\)\"";
constexpr const char* kValuePattern = "^\\([^ \t>]+\\)";

std::string g_error_path;  // Linux path of the current "import.err"
int g_lines_written = 0;   // by the current load
bool g_capped = false;

void append_line(std::string line) {
  if (g_error_path.empty() || g_capped) return;
  if (g_lines_written >= kImportWarningCap) {
    g_capped = true;
    line = "Warning\263impbtns.dat: further warnings left out.";
  }
  line.resize(kLineBytes, ' ');
  if (std::FILE* f = std::fopen(g_error_path.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
  ++g_lines_written;
}

// Input shown in a warning: a byte that does not print as its hexadecimal
// code, so that every line stays 80 bytes of text.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= static_cast<std::size_t>(kMessageChars)) break;
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", c);
      out += hex;
    }
  }
  return out;
}

bool equal_nocase(const std::string& a, const char* b) {
  return platform::same_name(a, b);
}

// Whole text of group n of the last match.
std::string group_text(int n) {
  const char* s = regex_group_start(n);
  return s ? std::string(s, regex_group_length(n)) : std::string();
}

// "true"/"false" into `out`; false for anything else.
bool parse_flag(const std::string& v, bool& out) {
  if (equal_nocase(v, "true")) out = true;
  else if (equal_nocase(v, "false")) out = false;
  else return false;
  return true;
}

// Decimal with an optional sign within 32 bits.
bool parse_number(const std::string& v, bool sign_allowed, long& out) {
  std::size_t i = 0;
  if (sign_allowed && (v[0] == '+' || v[0] == '-')) i = 1;
  if (i >= v.size()) return false;
  for (std::size_t k = i; k < v.size(); ++k)
    if (v[k] < '0' || v[k] > '9') return false;
  errno = 0;
  const long long n = std::strtoll(v.c_str(), nullptr, 10);
  if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return false;
  out = static_cast<long>(n);
  return true;
}

// Reads the tag text after "<" up to ">" outside double quotes or the line
// end.  Returns 0, or a fault: 1 too long or the script ended, 2 the line
// ended inside a string.
int read_tag(std::FILE* script, std::string& tag) {
  bool quoted = false;
  for (;;) {
    const int c = std::getc(script);
    if (c == EOF) return 1;
    if (c == '\r') continue;
    if (c == '\n') return quoted ? 2 : 0;
    if (c == '"') quoted = !quoted;
    if (c == '>' && !quoted) return 0;
    if (tag.size() >= kTagChars) return 1;
    tag += static_cast<char>(c);
  }
}

enum class TagFor { kButton, kButtonEnd, kUserInput, kUserInputEnd };

// Applies one attribute; a bad value leaves the default.
void apply_attribute(TagFor tag, const std::string& name, const std::string& value, ImportButton& button,
                     ImportUserInput& input, int& id) {
  const bool is_button = tag == TagFor::kButton;
  const bool is_input = tag == TagFor::kUserInput;
  long n = 0;
  if (equal_nocase(name, "id")) {
    if (!is_button && !is_input) return report_import_script_error("Invalid attribute (ID) for this tag.");
    if (value.size() != 1 || value[0] < '0' || value[0] > '9')
      return report_import_script_error("ID values are limited to single digit numbers");
    const int digit = value[0] - '0';
    if (is_button && (digit < 1 || digit > kImportButtons))
      return report_import_script_error("Invalid BUTTON ID, must be between 1 and 3 inclusive.");
    id = digit;
  } else if (equal_nocase(name, "text")) {
    if (!is_button) return report_import_script_error("Invalid attribute (TEXT) for this tag.");
    button.text = value;
  } else if (equal_nocase(name, "enabled")) {
    if (!is_button) return report_import_script_error("Invalid attribute (ENABLED) for tag, BUTTON tag expected.");
    if (!parse_flag(value, button.enabled))
      report_import_script_error("Invalid value for ENABLED. Expected TRUE or FALSE.");
  } else if (equal_nocase(name, "auto")) {
    if (!is_button) return report_import_script_error("Invalid attribute (AUTO) for this tag.");
    if (!parse_number(value, true, n))
      return report_import_script_error("Invalid value for this attribute (AUTO).  Must be a number.");
    button.auto_period = static_cast<int>(n);
  } else if (equal_nocase(name, "maxlength")) {
    if (!is_input) return report_import_script_error("Invalid attribute (MAXLENGTH) for this tag.");
    if (!parse_number(value, false, n)) {
      // Digits beyond 32 bits are a number still, only out of range.
      const bool digits = value.find_first_not_of("0123456789") == std::string::npos;
      return report_import_script_error(digits ? "MAXLENGTH must be between 1 and 80 inclusive."
                                               : "Invalid value for MAXLENGTH. Expected unsigned number.");
    }
    if (n < 1 || n > kImportValueChars) return report_import_script_error("MAXLENGTH must be between 1 and 80 inclusive.");
    input.max_length = static_cast<int>(n);
  } else if (equal_nocase(name, "disallow")) {
    if (!is_input) return report_import_script_error("Invalid attribute (DISALLOW) for this tag.");
    input.disallow = value;
  } else if (equal_nocase(name, "required")) {
    if (!is_input)
      return report_import_script_error("Invalid attribute (REQUIRED) for this tag, USERINPUT tag expected");
    if (!parse_flag(value, input.required))
      report_import_script_error("Invalid value for REQUIRED. Expected TRUE or FALSE.");
  } else if (equal_nocase(name, "default")) {
    if (!is_input) return report_import_script_error("Invalid attribute (DEFAULT) for this tag.");
    input.default_text = value;
  } else {
    report_import_script_error("Unrecognized attribute: " + printable(name));
  }
}

// Splits `rest` into name = value pairs and applies each.
void parse_attributes(const char* rest, TagFor tag, ImportButton& button, ImportUserInput& input, int& id) {
  for (;;) {
    rest += std::strspn(rest, " \t");
    if (!*rest) return;
    if (re_comp(kAttributePattern) || !re_exec(rest) || regex_group_start(0) != rest) {
      const std::size_t name_len = std::strcspn(rest, " \t=");
      const char* after = rest + name_len + std::strspn(rest + name_len, " \t");
      if (name_len && *after == '=' && after[1 + std::strspn(after + 1, " \t")] == '\0')
        report_import_script_error("Unexpected end of tag, attribute value expected.");
      else
        report_import_script_error("Unrecognized token, expected attribute_name = attribute_value.");
      return;
    }
    const std::string name = group_text(1);
    const char* value_at = regex_group_start(2);
    std::string value;
    if (*value_at == '"') {
      if (re_comp(kStringPattern) || !re_exec(value_at) || regex_group_start(0) != value_at) {
        report_import_script_error("Syntax error reading STRING");
        return;
      }
      value = group_text(1);
      rest = value_at + regex_group_length(0);
      if (value.size() > kValueChars) {
        report_import_script_error("STRING overlow, max of 127 characters allowed");
        value.resize(kValueChars);
      }
    } else {
      if (re_comp(kValuePattern) || !re_exec(value_at) || regex_group_start(0) != value_at) {
        report_import_script_error("Syntax error reading Attribute Value.");
        return;
      }
      value = group_text(1);
      rest = value_at + regex_group_length(0);
      if (value.size() > kValueChars) {
        report_import_script_error("Attribute value overflow, max of 127 characters allowed.");
        value.resize(kValueChars);
      }
    }
    apply_attribute(tag, name, value, button, input, id);
  }
}

}  // namespace

void report_import_script_error(const std::string& message) {
  append_line("Warning\263impbtns.dat: " + message.substr(0, kMessageChars));
}

int parse_import_tag(std::FILE* script, ImportButton* button, int& input_id) {
  input_id = -1;
  std::string tag;
  const int fault = read_tag(script, tag);
  if (fault == 1) {
    report_import_script_error("TAG length exceeded 256.  Unclosed STRING?");
    return std::feof(script) ? kTagEndOfFile : kTagInvalid;
  }
  if (re_comp(kTagNamePattern) || !re_exec(tag.c_str()) || regex_group_length(1) > static_cast<int>(kNameChars)) {
    report_import_script_error("TAG read error, identifier expected.");
    return kTagInvalid;
  }
  const std::string name = group_text(1);
  const char* rest = tag.c_str() + regex_group_length(0);
  TagFor kind;
  if (equal_nocase(name, "BUTTON")) kind = TagFor::kButton;
  else if (equal_nocase(name, "/BUTTON")) kind = TagFor::kButtonEnd;
  else if (equal_nocase(name, "USERINPUT")) kind = TagFor::kUserInput;
  else if (equal_nocase(name, "/USERINPUT")) kind = TagFor::kUserInputEnd;
  else return kTagInvalid;

  // Attributes go to scratch records; the caller's state decides what is kept.
  ImportButton scratch_button;
  auto input = std::make_unique<ImportUserInput>();
  int id = -1;
  parse_attributes(rest, kind, scratch_button, *input, id);
  if (fault == 2) {
    // The line ended inside a string: what was read of the tag is not used.
    report_import_script_error("Tag Format.  Possible unclosed STRING.");
    return kTagInvalid;
  }
  switch (kind) {
    case TagFor::kButton:
      if (id < 0) {
        report_import_script_error("No BUTTON ID specified (required attribute).");
        return kTagInvalid;
      }
      if (button && button->id == 0) {  // not when nested in a begun one
        button->id = id;
        button->text = scratch_button.text;
        button->enabled = scratch_button.enabled;
        button->auto_period = scratch_button.auto_period;
      }
      return kTagButton;
    case TagFor::kUserInput:
      if (id < 0) {
        report_import_script_error("No USERINPUT ID specified (required attribute).");
      } else if (button && button->id != 0) {  // only inside a begun button
        if (button->inputs[id])
          report_import_script_error("Duplicate USERINPUT tag given (two with same ID), using the latter.");
        button->inputs[id] = std::move(input);  // frees the earlier one
        input_id = id;
      }
      return kTagUserInput;
    case TagFor::kButtonEnd:
      return kTagButtonEnd;
    case TagFor::kUserInputEnd:
      return kTagUserInputEnd;
  }
  return kTagInvalid;
}

std::unique_ptr<ImportButton> parse_import_button(std::FILE* script) {
  // Outside: before the block's BUTTON tag; InButton: between its tags;
  // InPrompt: the body of a USERINPUT; Comment: up to the line end, then back
  // to `resume`.
  enum class State { kOutside, kInButton, kInPrompt, kComment };
  State state = State::kOutside;
  State resume = state;
  auto button = std::make_unique<ImportButton>();
  std::string prompt;
  int input_id = -1;
  for (;;) {
    const int c = std::getc(script);
    if (c == EOF) break;
    if (state == State::kComment) {
      if (c == '\n') state = resume;
      continue;
    }
    if (c == '/') {
      const int next = std::getc(script);
      if (next == '/') {
        resume = state;
        state = State::kComment;
        continue;
      }
      if (next != EOF) std::ungetc(next, script);
      if (state == State::kOutside) continue;  // a single slash
    }
    if (c == '<') {
      int id = -1;
      const int kind = parse_import_tag(script, state == State::kInPrompt ? nullptr : button.get(), id);
      if (kind == kTagEndOfFile) break;
      switch (state) {
        case State::kOutside:
          if (kind == kTagButton) {
            button->position = std::ftell(script);
            state = State::kInButton;
          } else if (kind == kTagUserInput) {
            report_import_script_error("<USERINPUT> tag must appear between <BUTTON> and </BUTTON> tags.");
          } else {
            report_import_script_error("Invalid tag, <BUTTON> tag expected.");
          }
          break;
        case State::kInButton:
          if (kind == kTagUserInput) {
            input_id = id;
            prompt.clear();
            state = State::kInPrompt;
          } else if (kind == kTagButtonEnd) {
            return button;
          } else if (kind == kTagButton) {
            report_import_script_error("Nested <BUTTON> tag found.");
          } else if (kind == kTagUserInputEnd) {
            report_import_script_error("Mismatched </USERINPUT> found.");
          } else {
            report_import_script_error("Invalid tag, </BUTTON> or <USERINPUT> tag expected.");
          }
          break;
        case State::kInPrompt:
          if (kind == kTagUserInputEnd) {
            if (input_id >= 0 && input_id < kImportUserInputs && button->inputs[input_id])
              button->inputs[input_id]->prompt = prompt;
            else
              report_import_script_error("Error reading USERINPUT data.");
            state = State::kInButton;
          } else {
            report_import_script_error("Invalid tag, </USERINPUT> tag expected.");
          }
          break;
        case State::kComment:
          break;
      }
      continue;
    }
    switch (state) {
      case State::kOutside:
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/') break;
        if (c == '"') {
          int q;
          while ((q = std::getc(script)) != EOF && q != '"') {
          }
          break;
        }
        // The commonest fault of a garbled script: cheap once lines are capped.
        if (!g_capped)
          report_import_script_error("Unrecognized character: " + printable(std::string(1, static_cast<char>(c))));
        break;
      case State::kInPrompt:
        if (c != '\r' && c != '\n' && prompt.size() < static_cast<std::size_t>(kImportValueChars))
          prompt += static_cast<char>(c);
        break;
      default:
        break;
    }
  }
  const State at_end = state == State::kComment ? resume : state;
  if (at_end == State::kOutside) return nullptr;
  report_import_script_error("Unexpected EOF.");
  return button;
}

void free_import_button(std::unique_ptr<ImportButton>& button) { button.reset(); }

bool load_import_buttons(const std::string& import_folder, ImportButtonSet& set) {
  // The import folder empties through the exchange's own purge, which also
  // forgets the patient; the caller loads the chosen one afterwards.
  char none[1] = {0};
  worklist_control(-7, none, sizeof none);
  purge_work_dirs();
  for (auto& b : set.buttons) b.reset();
  set.auto_button = 0;
  set.warnings = false;
  g_error_path = platform::map_path_create_dirs(import_folder + "import.err");
  g_lines_written = 0;
  g_capped = false;

  std::FILE* script = std::fopen(platform::map_path(kScriptPath).c_str(), "rb");
  if (!script) {
    append_line("*ERROR*\263Failed to open button configuration file C:\\PROGRAMS\\impbtns.dat");
    return false;
  }
  for (;;) {
    const int before = g_lines_written;
    std::unique_ptr<ImportButton> b = parse_import_button(script);
    if (g_lines_written != before) set.warnings = true;
    if (!b) break;
    if (b->id < 1 || b->id > kImportButtons) {
      append_line("Warning\263Invalid Button ID (" + std::to_string(b->id) + "), ignoring.");
      set.warnings = true;
    } else if (set.buttons[b->id - 1]) {
      append_line("Warning\263Duplicate button found with same ID (" + std::to_string(b->id) + "), using first.");
      set.warnings = true;
    } else {
      if (b->text.empty()) b->text = "Query " + std::to_string(b->id);
      set.buttons[b->id - 1] = std::move(b);
    }
  }
  std::fclose(script);

  int autos = 0;
  for (auto& b : set.buttons)
    if (b && b->auto_period) ++autos;
  if (autos > 1) {
    append_line("Warning\263Multiple Auto-periods configured, disabling all.");
    set.warnings = true;
    for (auto& b : set.buttons)
      if (b) b->auto_period = 0;
  }
  for (auto& b : set.buttons) {
    if (!b || !b->auto_period) continue;
    bool has_input = false;
    for (auto& in : b->inputs) has_input = has_input || in;
    if (has_input) {
      append_line("Warning\263Auto-period button configured with userinput, disabling auto.");
      set.warnings = true;
      b->auto_period = 0;
    } else {
      set.auto_button = b->id;
    }
  }
  return true;
}

}  // namespace vaslab
