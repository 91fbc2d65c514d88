// DOS dates and times, as FAT directory entries and ZIP headers store them:
// one 32-bit value, the date in the high half, local time in two-second
// steps, years 1980 to 2107.
#pragma once

#include <cstdint>

namespace platform {

// Seconds since 1970 as a DOS date and time; a time before 1980 is
// 1 January 1980, one after 2107 keeps 2107 as its year.
std::uint32_t dos_time(std::int64_t unix_seconds);
// The seconds since 1970 of a DOS date and time.
std::int64_t unix_time_of_dos(std::uint32_t dos);

}  // namespace platform
