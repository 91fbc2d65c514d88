// The export screen: sends studies of the current study list to one of the
// two configured export destinations, one study at a time, inside a batch
// that holds the destination's lock file; and makes the PDF files of one
// patient on the USB drive.
//
// Outside programs that read an export folder take the same lock: an
// exclusive flock() on "lock.fil" in that folder.  The workstation holds it
// from the start of a batch to the batch's end call, so no reader sees half
// a batch.
#pragma once

#include "vaslab/records/temp_studies.h"

namespace vaslab {

// Runs the screen on the current study list and returns when it is left.
// With no destination configured the screen is not shown.
int export_screen();

// The current destination's export program text, export path and option
// byte (destination 1 when it is configured, else destination 2, until the
// export screen chooses another).
const char* export_control();
const char* export_path();
int export_option_byte();

// Takes the current destination's lock and prepares the folders for a
// batch: 1 when taken; 0 after its message was shown.
int lock_export_dir();
// The batch's end call of the export module, then the lock is released.
// The end call's result; the message line holds its text.
int finish_export();
// "c:\temp\exinfo": the 81 bytes of the row's display text.
void write_export_info(const StudyListRow& row);
// 1 when drive D: is present, else asks; 0 when the operator gives up.
int wait_for_usb_drive();

// Empties an export folder: every file whose name, lower-cased, does not
// contain "lock.fil".  Nothing is deleted in an empty path, in a folder a
// purge may not empty, in the data directory or in "C:\TEMP\" (a debug
// note says why).
void empty_export_folder(const char* path);

// Button codes.
constexpr int kExportUp = 100;
constexpr int kExportDown = 101;
constexpr int kExportSelected = 102;
constexpr int kExportPatient = 103;
constexpr int kExportAll = 104;
constexpr int kExportView = 105;
constexpr int kExportExit = 106;
constexpr int kExportList = 107;
constexpr int kExportPrevious = 108;
constexpr int kExportNext = 109;

}  // namespace vaslab
