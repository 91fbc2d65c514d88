#include "platform/registry.h"

#include <fstream>

#include "platform/paths.h"

namespace platform {
namespace {

std::string trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string registry_file() { return root() + "/registry.ini"; }

std::optional<std::string> registry_value(const std::string& key_path, const std::string& name) {
  std::ifstream in(registry_file());
  bool in_key = false;
  for (std::string line; std::getline(in, line);) {
    line = trimmed(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      in_key = same_name(trimmed(line.substr(1, line.size() - 2)), key_path);
      continue;
    }
    const auto eq = line.find('=');
    if (in_key && eq != std::string::npos && same_name(trimmed(line.substr(0, eq)), name))
      return trimmed(line.substr(eq + 1));
  }
  return std::nullopt;
}

}  // namespace platform
