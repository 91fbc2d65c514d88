#include "platform/debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {
std::function<void(const std::string&)> g_sink;
}

void set_debug_sink(std::function<void(const std::string&)> sink) { g_sink = std::move(sink); }

void debug_output(const std::string& text) {
  if (g_sink) g_sink(text);
  static const bool to_stderr = std::getenv("VASLAB_DEBUG") != nullptr;
  if (to_stderr) std::fputs(text.c_str(), stderr);
}

void debug_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s;
  if (n > 0) {
    s.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(s.data(), s.size(), fmt, ap2);
    s.resize(static_cast<size_t>(n));
  }
  va_end(ap2);
  debug_output(s);
}

}  // namespace platform
