#include "vaslab/reports/export_args.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/paths.h"

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

int copy_export_file(const std::string& win_from, const std::string& win_to, bool make_folders) {
  const std::string from = platform::map_path(win_from);
  if (!platform::file_size(from)) {
    platform::note_failure_cause(win_from, -ENOENT);
    return -ENOENT;
  }
  const int r = platform::copy_file_atomic(from, make_folders ? platform::map_path_create_dirs(win_to) : platform::map_path(win_to));
  // The copy names its folder: a full or read-only one refuses any name.
  if (r != 0) platform::note_failure_cause(win_to.substr(0, win_to.find_last_of("\\/") + 1), r);
  return r;
}

}  // namespace vaslab
