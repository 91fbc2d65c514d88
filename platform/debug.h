// The debugger output of the instrument ("drawscreen: ...", "winButton -
// ERROR: ...").  Notes go to standard error when VASLAB_DEBUG is set, and to a
// sink that tests can install and read.
#pragma once

#include <functional>
#include <string>

namespace platform {

void debug_output(const std::string& text);
// printf-style convenience.
void debug_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink that receives every note (an empty function removes it).
void set_debug_sink(std::function<void(const std::string&)> sink);

}  // namespace platform
