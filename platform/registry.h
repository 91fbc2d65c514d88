// The registry of the instrument's system, as one INI-style text file,
// <root>/registry.ini: a section per key path ("[Software\Korvani\vaslab]"),
// then "name=value" lines.  Key paths and names compare without regard to
// case, as in the registry; blanks around names and values are dropped;
// lines starting with ';' or '#' are comments.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The file's path: <root>/registry.ini.
std::string registry_file();

// A value under a key, or nullopt when the file, the key or the value is
// not there.
std::optional<std::string> registry_value(const std::string& key_path, const std::string& name);

}  // namespace platform
