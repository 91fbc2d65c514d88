// The DICOM hand-off (run_dicom_export, module_entries.h): the pieces of its
// end call that stand on their own.
#pragma once

#include <cstdint>
#include <string>

namespace vaslab {

// A file's modification time, packed as a diskette directory packs it.
bool dicom_file_stamp(const std::string& linux_path, std::uint32_t& stamp);

// A packed time as the converter's stamp argument: YYYYMMDDhhmmss.
std::string dicom_stamp_text(std::uint32_t packed);

// A study's status from its converter log: its last non-empty line (CR and
// LF end lines), at most 20 characters; "ERR:no log file" without a log.
std::string dicom_log_status(const std::string& linux_path);

// Runs "C:\PROGRAMS\DODARER.EXE <stem> <stamp>" without a shell, in the
// export folder, and waits.  Its exit status, or the system error number
// when it could not be started.  Option 0x80 minimises the window meanwhile.
int start_dicom_converter(const std::string& destination, const std::string& stem, int options);

// The log view: the file's text in 8-pixel cells, clipped to the screen
// above its EXIT button, until EXIT.
void show_dicom_log(const std::string& linux_path);

}  // namespace vaslab
