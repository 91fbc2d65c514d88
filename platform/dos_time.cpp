#include "platform/dos_time.h"

#include <ctime>

namespace platform {

std::uint32_t dos_time(std::int64_t unix_seconds) {
  const time_t t = static_cast<time_t>(unix_seconds);
  struct tm tm;
  if (!::localtime_r(&t, &tm) || tm.tm_year < 80) return (1u << 21) | (1u << 16);
  if (tm.tm_year > 207) tm.tm_year = 207;
  return (static_cast<std::uint32_t>(tm.tm_year - 80) << 25) | (static_cast<std::uint32_t>(tm.tm_mon + 1) << 21) |
         (static_cast<std::uint32_t>(tm.tm_mday) << 16) | (static_cast<std::uint32_t>(tm.tm_hour) << 11) |
         (static_cast<std::uint32_t>(tm.tm_min) << 5) | (static_cast<std::uint32_t>(tm.tm_sec) >> 1);
}

// mktime() would do, but it reads the time zone file again at every call,
// which an extraction of thousands of files pays for each one.  The zone is
// loaded once by the first localtime_r(); the local time is then found as
// the UTC time shifted by the zone's offset at that moment, the offset taken
// again at the shifted time so that a date across a daylight-saving change
// from the shift still lands on its own side.
std::int64_t unix_time_of_dos(std::uint32_t dos) {
  struct tm tm {};
  tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
  tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>((dos & 0x1F) * 2);
  const time_t as_utc = ::timegm(&tm);
  const auto offset_at = [](time_t t) {
    struct tm local;
    return ::localtime_r(&t, &local) ? static_cast<time_t>(local.tm_gmtoff) : time_t{0};
  };
  const time_t first = as_utc - offset_at(as_utc);
  return static_cast<std::int64_t>(as_utc - offset_at(first));
}

}  // namespace platform
