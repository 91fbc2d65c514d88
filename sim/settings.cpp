#include "sim/settings.h"

#include <cstdlib>
#include <sstream>

namespace sim {

Settings parse_settings(const std::string& text) {
  Settings out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ';')) {
    const auto eq = item.find('=');
    if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
  }
  return out;
}

long setting(const Settings& settings, const std::string& key, int base, long fallback) {
  const auto it = settings.find(key);
  if (it == settings.end() || it->second.empty()) return fallback;
  char* end = nullptr;
  const long value = std::strtol(it->second.c_str(), &end, base);
  return end != nullptr && *end == '\0' ? value : fallback;
}

}  // namespace sim
