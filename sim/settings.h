// The settings text of the simulated targets: "key=value" items separated
// by ';'.  Items without '=' are ignored; a later item wins.
#pragma once

#include <map>
#include <string>

namespace sim {

using Settings = std::map<std::string, std::string>;

Settings parse_settings(const std::string& text);
// The value of `key` as a whole number in `base`, or `fallback` when the key
// is absent or its value is not such a number.
long setting(const Settings& settings, const std::string& key, int base, long fallback);

}  // namespace sim
