// The backup's one open archive: each diskette's ZIP is built study by study
// in a work file, and failures go to the backup log "c:\temp\backup.log".
#pragma once

#include <cstdint>
#include <string>

namespace vaslab {

// Opens (or with `overwrite` 0 and the file present, adds to) the archive;
// any archive still open is closed first.  0, or -1 when it does not open.
std::int16_t backup_zip_open(const char* path, std::uint8_t overwrite);
// Adds the archived study of this number from Archive Path 1, named by its
// number and the archive suffix; the source path is left in `source_path`.
// 0, else a negative code (logged).  A study that cannot be read whole is
// never stored cut short.
std::int16_t backup_zip_add_file(int archive_number, std::string& source_path);
// Takes back the study added last: 0 removed, 1 nothing to remove, -1 the
// file could not be cut back.
std::int16_t backup_zip_remove_last();
// 0 when nothing is open.
std::int16_t backup_zip_close();
// What closing now would leave, in bytes; 0 when nothing is open.
std::uint32_t backup_zip_estimate_size();

// Appends to a log with CR LF line ends; false when it does not open.
bool append_log_text(const char* win_path, const std::string& text);
// Appends to the backup log; dropped when it cannot open.
void backup_log_append(const std::string& text);
// 1 when the file opens for reading.
int backup_file_exists(const char* path);

}  // namespace vaslab
