#include "platform/failure_cause.h"

#include <locale.h>

#include <cstring>

namespace platform {
namespace {

std::string g_cause;

}  // namespace

const char* error_text(int error) {
  static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", nullptr);
  const int e = error < 0 ? -error : error;
  return c_locale ? ::strerror_l(e, c_locale) : std::strerror(e);
}

std::string cause_text(std::string_view where, int error) {
  return std::string(where) + ": " + error_text(error);
}

void note_failure_cause(std::string_view where, int error) {
  if (error != 0 && g_cause.empty()) g_cause = cause_text(where, error);
}

void clear_failure_cause() { g_cause.clear(); }

std::string take_failure_cause() {
  std::string cause;
  cause.swap(g_cause);
  return cause;
}

}  // namespace platform
