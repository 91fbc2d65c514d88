// The diskette formatter, below the volumes that call it: it takes the
// progress and the messages it reports through and nothing of the volumes.
#pragma once

#include <cstdint>

namespace ziplib {

struct ZipState;

// Formats a diskette in A: or B: (drive 1 or 2; 0 is the current drive):
// every cylinder, then the boot sector, both FATs and an empty root.  False
// on any failure or a cancel, with the volume unlocked again.
bool zipFormatVolume(int drive, bool lower_density, ZipState& s);
// The serial number of a diskette formatted at that local time.
std::uint32_t zip_format_serial(int year, int month, int day, int hour, int millisecond);
// The 512-byte boot sector image the formatter starts from.
const std::uint8_t* zip_boot_sector_image();

}  // namespace ziplib
