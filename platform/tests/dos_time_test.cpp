#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/dos_time.h"

namespace {

// Runs the body with TZ set, the old zone put back after.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneScope() {
    if (old_) ::setenv("TZ", old_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

std::uint32_t dos_of(int year, int month, int day, int hour, int minute) {
  return static_cast<std::uint32_t>(year - 1980) << 25 | static_cast<std::uint32_t>(month) << 21 |
         static_cast<std::uint32_t>(day) << 16 | static_cast<std::uint32_t>(hour) << 11 |
         static_cast<std::uint32_t>(minute) << 5;
}

}  // namespace

// The C library's mktime() is the reference: every quarter hour of a year in
// a zone with daylight saving must give the same instant, except in the hour
// the clocks skip (no such local time) and the hour they repeat (two), where
// the time must still read back as written.
TEST(DosTime, LocalTimesMatchTheCLibraryAcrossDaylightSaving) {
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney", "UTC"}) {
    ZoneScope tz(zone);
    int differing = 0;
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 28; ++day) {
        for (int quarter = 0; quarter < 24 * 4; ++quarter) {
          const int hour = quarter / 4, minute = quarter % 4 * 15;
          const std::uint32_t dos = dos_of(2024, month, day, hour, minute);
          struct tm tm {};
          tm.tm_year = 124;
          tm.tm_mon = month - 1;
          tm.tm_mday = day;
          tm.tm_hour = hour;
          tm.tm_min = minute;
          tm.tm_isdst = -1;
          const std::int64_t reference = static_cast<std::int64_t>(std::mktime(&tm));
          const std::int64_t ours = platform::unix_time_of_dos(dos);
          const bool skipped = tm.tm_hour != hour || tm.tm_min != minute;  // mktime moved it
          if (!skipped) {
            EXPECT_EQ(platform::dos_time(ours), dos) << zone << " " << month << "/" << day << " " << hour;
          }
          if (ours != reference) ++differing;
        }
      }
    }
    // Only the repeated and the skipped hour may be read either way.
    EXPECT_LE(differing, 8) << zone;
  }
}
