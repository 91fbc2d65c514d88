// Preparing a backup diskette straight on the drive: a quick erase that
// empties a FAT12 diskette's FATs and root folder without touching its data
// area, or a full format of all 80 cylinders with every sector read back and
// bad clusters recorded, then a fresh boot sector, FATs and a dated label.
//
// One diskette is prepared at a time; the format goes one cylinder per call
// so that the screen can show its progress and be cancelled in between.
#pragma once

#include <cstdint>

namespace vaslab {

// Results of floppy_prepare.
constexpr int kFloppyOk = 0;
constexpr int kFloppyFailed = -1;        // floppy_last_error() says which step
constexpr int kFloppyNoMemory = 1;
constexpr int kFloppyBadRequest = 2;
constexpr int kFloppyNoDrive = 3;
constexpr int kFloppyCannotOpen = 4;     // or the volume would not lock
constexpr int kFloppyWrongDiskType = 5;  // erase: nothing was written
constexpr int kFloppyMediaRefused = 6;   // format: the drive does not offer it

// `request` is drive ('A'/'B'), disk type ('1' 1.44 MB, '7' 720 KB) and
// method ('F' format, 'Q' quick erase), as "A1Q".  An erase is done here; a
// format is made ready for floppy_format_track.
int floppy_prepare(const char* request);
// Formats and verifies the next cylinder: the percentage done (2 after the
// first cylinder, 101 after the last), 0 when nothing is left to format,
// -1 on failure.
int floppy_format_track();
// Finishes: after a format of all 80 cylinders without error writes the boot
// sector, FATs and label; in every case releases the drive.  0 or -1.
int floppy_write_boot_sector();
// The last error text ("TAG:number:message", at most 40 characters).
const char* floppy_last_error();
// Builds (and keeps as the last error) the text for a system error number.
const char* floppy_error_text(unsigned long error, const char* tag);

// The time written into a format's serial number and label, in UTC.
struct FloppyTime {
  int year, month, day, hour, minute, second, millisecond;
};
// Tests: the source of that time (nullptr restores the system clock).
void floppy_set_time_source(FloppyTime (*now)());

}  // namespace vaslab
