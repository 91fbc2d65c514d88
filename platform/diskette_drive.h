// What the FAT12 layer of diskette.cpp needs of the drive beneath it; not
// for use outside platform/.
#pragma once

#include <cstdint>

namespace platform::diskette::detail {

// Checks the drive against its file before a file call: reopens a new
// diskette, refuses while the volume is locked (-EACCES) and holds a shared
// lock for the call.  0 or a negative errno.  end_file_access() drops the
// shared lock again once no file is open.
int begin_file_access();
void end_file_access();
// Within a file call: turns its shared lock into one for this program
// alone (0), or answers -EBUSY while another program has the diskette open,
// keeping the shared lock where it can.  share_again() turns it back.
int hold_alone();
void share_again();

// Counts up whenever the diskette may have changed (a new file at the path,
// an outside write, a dismount, a raw write or format): what was read
// from the disk before is stale, and so are files opened before.
std::uint64_t generation();

// Sector I/O with the test doubles applied; writes refuse a write-protected
// disk (-EROFS).
int read(std::uint32_t lba, std::uint32_t count, void* out);
int write(std::uint32_t lba, std::uint32_t count, const void* data);
// Puts what was written on the medium before anything that points to it.
int sync();
bool write_protected_now();
std::uint64_t medium_bytes();

// How many files are open on the current diskette (kept by the FAT layer).
int files_open();

}  // namespace platform::diskette::detail
