#include "vaslab/reports/export_args.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace vaslab {
namespace {

// A whole decimal number with no sign, blanks or trailing bytes.
bool parse_decimal(const char* text, int& value) {
  if (!text || !*text) return false;
  const char* end = text + std::strlen(text);
  auto [p, ec] = std::from_chars(text, end, value);
  return ec == std::errc{} && p == end && value >= 0;
}

}  // namespace

int parse_export_args(int argc, char* argv[], int max_id, ExportArgs& out) {
  out = ExportArgs{};
  if (argc != 4 || !argv || !argv[1] || !argv[2] || !argv[3]) return 1;
  out.id_text = argv[1];
  out.end = out.id_text == "END";
  if (!out.end && (!parse_decimal(argv[1], out.id) || out.id > max_id)) return 1;
  out.destination = argv[2];
  if (out.destination.empty()) return 1;
  if (!parse_decimal(argv[3], out.options)) return 1;
  return 0;
}

std::string export_file(const std::string& destination, const std::string& name) {
  std::string path = destination;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + name;
}

}  // namespace vaslab
